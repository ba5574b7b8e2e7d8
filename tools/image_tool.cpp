// vellmark-image / ossiter-image: runs the edition's real main dialog and
// format job over the stand-in, on a machine whose one removable disk is a
// disk image (or a block device), and reports what a user would have seen.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/app_state.h"
#include "platform/standin/main_dialog_spec.h"
#include "tools/cp936_text.h"
#include "tools/image_options.h"
#include "ui/main_dialog.h"

namespace {

const char kProgram[] = TOOL_NAME;
const char kDisk[] = "physicaldrive1";

enum Exit { Formatted = 0, Refused = 1, UsageError = 2 };

std::mutex g_outputLock;

void Emit(const char* kind, const std::string& cp936) {
  std::string line = std::string(kind) + ": " + Cp936Line(cp936) + "\n";
  std::lock_guard<std::mutex> g(g_outputLock);
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
}

int Usage(const std::string& error) {
  fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, error.c_str(), kProgram);
  return UsageError;
}

int Failure(const std::string& error) {
  fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
  return UsageError;
}

// SOURCE_DATE_EPOCH as the clock, in UTC; false when it is malformed.
bool ClockFromEpoch(const char* text, SYSTEMTIME* out) {
  if (!*text) return false;
  long long seconds = 0;
  for (const char* p = text; *p; p++) {
    if (*p < '0' || *p > '9') return false;
    if (seconds > (253402300799LL - (*p - '0')) / 10) return false;  // beyond 9999-12-31
    seconds = seconds * 10 + (*p - '0');
  }
  time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  if (!gmtime_r(&t, &tm)) return false;
  out->wYear = static_cast<WORD>(tm.tm_year + 1900);
  out->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  out->wDay = static_cast<WORD>(tm.tm_mday);
  out->wHour = static_cast<WORD>(tm.tm_hour);
  out->wMinute = static_cast<WORD>(tm.tm_min);
  out->wSecond = static_cast<WORD>(tm.tm_sec);
  out->wMilliseconds = 0;
  return true;
}

// Creates or checks IMAGE; an empty result means it is ready to be the disk.
std::string PrepareImage(const ImageOptions& o) {
  struct stat st {};
  if (stat(o.image.c_str(), &st) == 0) {
    if (o.sectors) return "'" + o.image + "' exists; --sectors only creates a new image";
    if (S_ISBLK(st.st_mode)) {
      if (!o.yes) return "'" + o.image + "' is a block device; give --yes to format it";
    } else if (!S_ISREG(st.st_mode)) {
      return "'" + o.image + "' is neither a disk image file nor a block device";
    }
    int fd = open(o.image.c_str(), O_RDWR);
    if (fd < 0) return "cannot open '" + o.image + "' for writing: " + strerror(errno);
    close(fd);
    return "";
  }
  if (errno != ENOENT) return "cannot use '" + o.image + "': " + strerror(errno);
  uint64_t sectors = o.sectors ? *o.sectors : 2880;
  int fd = open(o.image.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
  if (fd < 0) return "cannot create '" + o.image + "': " + strerror(errno);
  if (ftruncate(fd, static_cast<off_t>(sectors * 512)) != 0) {
    std::string error = "cannot make '" + o.image + "' " + std::to_string(sectors) +
                        " sectors long: " + strerror(errno);
    close(fd);
    unlink(o.image.c_str());
    return error;
  }
  close(fd);
  return "";
}

// The options on the dialog's controls, in the order a user would set them:
// the layout first, because choosing it presets the others.
bool SetOptions(const ImageOptions& o) {
  for (int id : {IDC_LAYOUT, IDC_CLUSTER_SIZE, IDC_FAT_COUNT, IDC_ROOT_ENTRIES, IDC_LABEL,
                 IDC_FILL_VALUE, IDC_FILL_CHECK, IDC_ROOT_ENTRIES_LABEL, IDC_CLUSTER_SIZE_LABEL,
                 IDC_FAT_COUNT_LABEL})
    standin::ShowControl(id, true);
  bool ok = true;
  if (o.layout == ImageLayout::Actual) ok = ok && standin::UserSelect(IDC_LAYOUT, 0);
#if EDITION_FLOPPY_CHOICE
  if (o.layout == ImageLayout::Floppy720) ok = ok && standin::UserClick(IDC_FLOPPY_720K);
#endif
  if (o.clusterIndex) ok = ok && standin::UserSelect(IDC_CLUSTER_SIZE, *o.clusterIndex);
  if (o.fats) {
    std::vector<std::string> items = standin::Items(IDC_FAT_COUNT);
    int index = -1;
    for (size_t i = 0; i < items.size(); i++)
      if (items[i] == std::to_string(*o.fats)) index = static_cast<int>(i);
    ok = ok && standin::UserSelect(IDC_FAT_COUNT, index);
  }
  if (o.rootEntries) ok = ok && standin::UserType(IDC_ROOT_ENTRIES, *o.rootEntries);
  if (o.label) ok = ok && standin::UserType(IDC_LABEL, *o.label);
  if (o.fillValue) ok = ok && standin::UserType(IDC_FILL_VALUE, *o.fillValue);
  if (o.fill) ok = ok && standin::UserClick(IDC_FILL_CHECK);
  return ok;
}

int RunDialog(const ImageOptions& o, const SYSTEMTIME* clock) {
  standin::Reset();
  ResetAppState();
  if (clock) standin::SetClock(*clock);
  // A format of a large disk would otherwise keep a record of every write.
  standin::KeepCallLogs(false);
  try {
    standin::AddDisk(kDisk, o.image);
  } catch (const std::exception& e) {
    return Failure(e.what());
  }
  standin::AddVolume("E:", kDisk);
  standin::SetDeviceNumber("E:", 1);
  standin::SetDrive('E', DRIVE_REMOVABLE);

  standin::SetMessageBoxHandler([](const standin::MessageBoxCall& box) {
    Emit("message", box.caption + ": " + box.text);
    // The dialog does not act on the answer of its retry box; cancel ends it.
    return (box.type & 0xF) == MB_RETRYCANCEL ? IDCANCEL : IDOK;
  });
  standin::OpenDialog(MainDialogProc, standin::MainDialogSpec());
  for (const std::string& line : standin::Items(IDC_DRIVE_LIST)) Emit("list", line);
  standin::SetTextObserver([](const standin::TextChange& change) {
    if (change.id == IDC_STATUS) Emit("status", change.text);
  });

  int exitCode = Refused;
  if (!SetOptions(o)) {
    fprintf(stderr, "%s: the dialog did not take the options\n", kProgram);
  } else {
    standin::UserSelect(IDC_DRIVE_LIST, 0);  // an empty list is the dialog's to refuse
    standin::UserClick(IDC_START);
    if (g_app.thread != INVALID_HANDLE_VALUE) {
      // The job-finished command closes the thread handle before its message box.
      standin::PumpUntil([] { return g_app.thread == INVALID_HANDLE_VALUE; }, -1);
      exitCode = g_app.jobResult == 1 ? Formatted : Refused;
    }
  }
  standin::SetTextObserver(nullptr);
  standin::Command(IDCANCEL, BN_CLICKED);
  standin::Reset();
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ImageOptions options;
  ParseResult parsed = ParseImageOptions(args, EDITION_FLOPPY_CHOICE != 0, &options);
  switch (parsed.outcome) {
    case ParseOutcome::Help: {
      std::string usage = ImageToolUsage(kProgram, EDITION_FLOPPY_CHOICE != 0);
      fwrite(usage.data(), 1, usage.size(), stdout);
      return 0;
    }
    case ParseOutcome::Version:
      printf("%s %s (%s)\n", kProgram, TOOL_VERSION, EDITION_NAME);
      return 0;
    case ParseOutcome::Error:
      return Usage(parsed.error);
    case ParseOutcome::Run:
      break;
  }

  const char* epoch = getenv("SOURCE_DATE_EPOCH");
  SYSTEMTIME clock{};
  bool fixedClock = epoch && *epoch;
  if (fixedClock && !ClockFromEpoch(epoch, &clock))
    return Usage(std::string("SOURCE_DATE_EPOCH '") + epoch + "' is not a number of seconds");

  std::string error = PrepareImage(options);
  if (!error.empty()) return Failure(error);

  return RunDialog(options, fixedClock ? &clock : nullptr);
}
