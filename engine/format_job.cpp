#include "engine/format_job.h"

#include <string.h>

#include "edition.h"
#include "engine/app_state.h"
#include "engine/boot_sector.h"
#include "engine/fat_writers.h"
#include "engine/layout_planning.h"
#include "engine/sector_io.h"
#include "ui/control_ids.h"

#define FLOPPY_FILL_VALUE 0xF6u
#define FILL_TEXT_SIZE 16

// The leading hexadecimal digits of a text; none gives 0. Only the low 8 bits
// are ever written, and they survive any wrap-around.
static DWORD ParseHex(const char* text) {
  DWORD value = 0;
  for (;; text++) {
    char c = *text;
    DWORD digit;
    if (c >= '0' && c <= '9')
      digit = (DWORD)(c - '0');
    else if (c >= 'A' && c <= 'F')
      digit = (DWORD)(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
      digit = (DWORD)(c - 'a' + 10);
    else
      return value;
    value = value * 16 + digit;
  }
}

static DWORD FillValue(void) {
  char text[FILL_TEXT_SIZE];
  if (SendDlgItemMessageA(g_app.dialog, IDC_LAYOUT, CB_GETCURSEL, 0, 0) == LAYOUT_FLOPPY)
    return FLOPPY_FILL_VALUE;
  memset(text, 0, sizeof text);
  GetDlgItemTextA(g_app.dialog, IDC_FILL_VALUE, text, sizeof text);
  text[sizeof text - 1] = '\0';
  return ParseHex(text);
}

// The whole data area, its last sector included, so that nothing of the old
// contents stays behind the new volume.
static void FillDataArea(void) {
  const unsigned char* boot = g_app.image.bytes;
  DWORD rootSectors = (GetBootField(boot, BPB_RootEntCnt) + 15) / 16;
  DWORD dataStart = GetBootField(boot, BPB_RsvdSecCnt) +
                    GetBootField(boot, BPB_NumFATs) * GetBootField(boot, BPB_FATSz16) +
                    rootSectors;
  DWORD total = BootTotalSectors(boot);
  DWORD value = FillValue();
  if (total <= dataStart) return;
  // A failed or short fill does not fail the format.
  FillSectors(g_app.device, dataStart, total - dataStart, value);
}

static void CloseDevice(void) {
  CloseHandle(g_app.device);
  g_app.device = INVALID_HANDLE_VALUE;
}

// The device is closed before the post: the dialog may open it again as soon
// as the command arrives.
static DWORD EndJob(DWORD result) {
  g_app.jobResult = result;
  PostMessageA(g_app.dialog, WM_COMMAND, MAKEWPARAM(IDC_START, JOBN_FINISHED), 0);
  return result;
}

// The drive list is refreshed by the dialog when the job-finished command
// arrives, on the UI thread, so that no refresh ever overlaps another.
DWORD WINAPI FormatThreadProc(LPVOID parameter) {
  (void)parameter;
  if (!PlanAndWriteBootSector() || !WriteFats() || !WriteRootDirectory()) {
    CloseDevice();
    return EndJob(0);
  }
  if (IsDlgButtonChecked(g_app.dialog, IDC_FILL_CHECK) == BST_CHECKED) FillDataArea();
#if EDITION_EJECT_AFTER_FORMAT
  EjectMedia();
#endif
  CloseDevice();
  ClearBootSectorImage(&g_app.image);
  return EndJob(1);
}
