// Simulated disks and volumes behind CreateFileA, SetFilePointer, ReadFile,
// WriteFile, DeviceIoControl and the drive-letter calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

#include "platform/standin/machine_internal.h"

namespace standin {
namespace detail {

namespace {

struct Disk {
  std::string path;
  int fd = -1;
  uint64_t size = 0;
  CapacityAnswer answer = CapacityAnswer::FromSize;
  uint8_t answerBytes[8] = {};
  bool ejectOk = true;
  int ejects = 0;
};

struct Volume {
  std::string disk;
  uint64_t startLba = 0;
  bool numberSet = false;
  uint32_t number = 0;
  bool numberFails = false;
};

struct PendingFault {
  std::string device;
  int remaining;
  bool seek;
  Fault fault;
};

struct Devices {
  std::map<std::string, Disk> disks;
  std::map<std::string, Volume> volumes;
  std::map<char, UINT> drives;
  bool driveStringsFail = false;
  std::map<std::string, DWORD> openFailures;
  std::vector<PendingFault> faults;
  std::vector<OpenCall> opens;
  std::vector<Transfer> transfers;
  std::vector<IoctlCall> ioctls;
  std::set<HandleObject*> handles;
  bool keepLogs = true;
};

Devices& D() {
  static Devices d;
  return d;
}

uint32_t DigitsOf(const std::string& name) {
  uint32_t n = 0;
  for (char c : name)
    if (isdigit(static_cast<unsigned char>(c))) n = n * 10 + static_cast<uint32_t>(c - '0');
  return n;
}

// The disk a device name reaches and where the device's window starts and ends.
bool Window(const std::string& device, Disk** disk, uint64_t* base, uint64_t* size) {
  Devices& d = D();
  auto di = d.disks.find(device);
  if (di != d.disks.end()) {
    *disk = &di->second;
    *base = 0;
    *size = di->second.size;
    return true;
  }
  auto vi = d.volumes.find(device);
  if (vi == d.volumes.end()) return false;
  auto dd = d.disks.find(vi->second.disk);
  if (dd == d.disks.end()) return false;
  *disk = &dd->second;
  *base = vi->second.startLba * 512;
  *size = dd->second.size > *base ? dd->second.size - *base : 0;
  return true;
}

// True when a scripted fault fires for this operation on this device.
bool TakeFault(const std::string& device, bool seek, Fault* fault) {
  auto& faults = D().faults;
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->device != device || it->seek != seek) continue;
    if (--it->remaining == 0) {
      *fault = it->fault;
      faults.erase(it);
      return true;
    }
  }
  return false;
}

HandleObject* DeviceHandle(HANDLE h) {
  HandleObject* o = FindHandle(h);
  return o && o->kind == HandleObject::Device ? o : nullptr;
}

void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

HandleObject* NewHandle(HandleObject::Kind kind) {
  auto* o = new HandleObject{kind, {}, 0};
  D().handles.insert(o);
  return o;
}

HandleObject* FindHandle(HANDLE h) {
  auto* o = static_cast<HandleObject*>(h);
  return D().handles.count(o) ? o : nullptr;
}

bool IsLiveHandle(HANDLE h) { return FindHandle(h) != nullptr; }

void FreeHandle(HANDLE h) {
  auto* o = static_cast<HandleObject*>(h);
  if (D().handles.erase(o)) delete o;
}

void ResetDevices() {
  Devices& d = D();
  for (auto& [name, disk] : d.disks)
    if (disk.fd >= 0) close(disk.fd);
  for (HandleObject* o : d.handles) delete o;
  d = Devices{};
}

}  // namespace detail

using namespace detail;

void AddDisk(const std::string& name, const std::string& imagePath) {
  std::lock_guard<std::mutex> g(Lock());
  int fd = open(imagePath.c_str(), O_RDWR);
  if (fd < 0) throw std::runtime_error("cannot open disk image " + imagePath);
  struct stat st {};
  fstat(fd, &st);
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    off_t end = lseek(fd, 0, SEEK_END);
    size = end > 0 ? static_cast<uint64_t>(end) : 0;
  }
  Disk& disk = D().disks[Lower(name)];
  if (disk.fd >= 0) close(disk.fd);
  disk = Disk{};
  disk.path = imagePath;
  disk.fd = fd;
  disk.size = size;
}

void AddVolume(const std::string& name, const std::string& disk, uint64_t startLba) {
  std::lock_guard<std::mutex> g(Lock());
  Volume v;
  v.disk = Lower(disk);
  v.startLba = startLba;
  D().volumes[Lower(name)] = v;
}

void SetDeviceNumber(const std::string& volume, uint32_t number) {
  std::lock_guard<std::mutex> g(Lock());
  Volume& v = D().volumes[Lower(volume)];
  v.numberSet = true;
  v.number = number;
}

void FailDeviceNumber(const std::string& volume, bool fail) {
  std::lock_guard<std::mutex> g(Lock());
  D().volumes[Lower(volume)].numberFails = fail;
}

void SetCapacityAnswer(const std::string& disk, CapacityAnswer answer, const uint8_t bytes[8]) {
  std::lock_guard<std::mutex> g(Lock());
  Disk& d = D().disks[Lower(disk)];
  d.answer = answer;
  if (bytes) memcpy(d.answerBytes, bytes, 8);
}

void SetEjectResult(const std::string& disk, bool ok) {
  std::lock_guard<std::mutex> g(Lock());
  D().disks[Lower(disk)].ejectOk = ok;
}

int EjectCount(const std::string& disk) {
  std::lock_guard<std::mutex> g(Lock());
  auto it = D().disks.find(Lower(disk));
  return it == D().disks.end() ? 0 : it->second.ejects;
}

void SetDrive(char letter, UINT type) {
  std::lock_guard<std::mutex> g(Lock());
  D().drives[static_cast<char>(toupper(static_cast<unsigned char>(letter)))] = type;
}

void FailLogicalDriveStrings(bool fail) {
  std::lock_guard<std::mutex> g(Lock());
  D().driveStringsFail = fail;
}

void FailOpen(const std::string& name, DWORD error) {
  std::lock_guard<std::mutex> g(Lock());
  if (error == 0)
    D().openFailures.erase(Lower(name));
  else
    D().openFailures[Lower(name)] = error;
}

void FailTransfer(const std::string& device, int nth, Fault fault) {
  std::lock_guard<std::mutex> g(Lock());
  D().faults.push_back({Lower(device), nth, false, fault});
}

void FailSeek(const std::string& device, int nth) {
  std::lock_guard<std::mutex> g(Lock());
  D().faults.push_back({Lower(device), nth, true, Fault::Fail});
}

std::vector<OpenCall> Opens() {
  std::lock_guard<std::mutex> g(Lock());
  return D().opens;
}

std::vector<Transfer> Transfers() {
  std::lock_guard<std::mutex> g(Lock());
  return D().transfers;
}

std::vector<IoctlCall> Ioctls() {
  std::lock_guard<std::mutex> g(Lock());
  return D().ioctls;
}

void ClearLogs() {
  std::lock_guard<std::mutex> g(Lock());
  D().opens.clear();
  D().transfers.clear();
  D().ioctls.clear();
}

void KeepCallLogs(bool keep) {
  std::lock_guard<std::mutex> g(Lock());
  D().keepLogs = keep;
}

int OpenDeviceHandles() {
  std::lock_guard<std::mutex> g(Lock());
  int n = 0;
  for (HandleObject* o : D().handles) n += o->kind == HandleObject::Device;
  return n;
}

}  // namespace standin

using namespace standin;
using namespace standin::detail;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
  std::lock_guard<std::mutex> g(Lock());
  std::string path = name ? name : "";
  OpenCall call{path, access, share, disposition, flags, false};
  static const char kPrefix[] = "\\\\.\\";
  std::string device;
  if (path.compare(0, 4, kPrefix) == 0) device = Lower(path.substr(4));
  DWORD error = ERROR_FILE_NOT_FOUND;
  Disk* disk = nullptr;
  uint64_t base = 0, size = 0;
  auto failure = D().openFailures.find(device);
  if (failure != D().openFailures.end()) {
    error = failure->second;
  } else if (!device.empty() && Window(device, &disk, &base, &size)) {
    call.ok = true;
  }
  if (D().keepLogs) D().opens.push_back(call);
  if (!call.ok) {
    SetError(error);
    return INVALID_HANDLE_VALUE;
  }
  HandleObject* o = NewHandle(HandleObject::Device);
  o->device = device;
  SetError(NO_ERROR);
  return o;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  std::lock_guard<std::mutex> g(Lock());
  HandleObject* o = DeviceHandle(file);
  if (!o) {
    SetError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  Disk* disk = nullptr;
  uint64_t base = 0, size = 0;
  Window(o->device, &disk, &base, &size);
  int64_t move = distanceHigh
                     ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                            static_cast<uint32_t>(distance))
                     : static_cast<int64_t>(distance);
  int64_t from = method == 1 ? o->position : method == 2 ? static_cast<int64_t>(size) : 0;
  int64_t target = from + move;
  Fault f;
  if (TakeFault(o->device, true, &f)) {
    SetError(ERROR_IO_DEVICE);
    return INVALID_SET_FILE_POINTER;
  }
  if (target < 0 || (!distanceHigh && target > 0x7FFFFFFF)) {
    SetError(target < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  o->position = target;
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
  SetError(NO_ERROR);
  return static_cast<DWORD>(static_cast<uint64_t>(target) & 0xFFFFFFFFu);
}

static BOOL MoveBytes(HANDLE file, void* readInto, const void* writeFrom, DWORD size, LPDWORD done) {
  std::lock_guard<std::mutex> g(Lock());
  if (done) *done = 0;
  HandleObject* o = DeviceHandle(file);
  if (!o) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Disk* disk = nullptr;
  uint64_t base = 0, size_ = 0;
  Window(o->device, &disk, &base, &size_);
  bool write = writeFrom != nullptr;
  if (D().keepLogs) D().transfers.push_back({o->device, write, o->position, size});
  Fault fault;
  bool faulty = TakeFault(o->device, false, &fault);
  if (faulty && fault == Fault::Fail) {
    SetError(ERROR_IO_DEVICE);
    return FALSE;
  }
  uint64_t pos = static_cast<uint64_t>(o->position);
  uint64_t n = pos < size_ ? std::min<uint64_t>(size, size_ - pos) : 0;
  if (faulty) n = std::min<uint64_t>(n, size / 2);
  ssize_t moved = 0;
  if (n > 0) {
    off_t at = static_cast<off_t>(base + pos);
    moved = write ? pwrite(disk->fd, writeFrom, n, at) : pread(disk->fd, readInto, n, at);
    if (moved < 0) {
      SetError(ERROR_IO_DEVICE);
      return FALSE;
    }
  }
  o->position += moved;
  if (done) *done = static_cast<DWORD>(moved);
  SetError(NO_ERROR);
  return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED) {
  return MoveBytes(file, buffer, nullptr, size, done);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED) {
  static const char kNothing = 0;
  return MoveBytes(file, nullptr, buffer ? buffer : &kNothing, size, done);
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED) {
  std::lock_guard<std::mutex> g(Lock());
  HandleObject* o = DeviceHandle(device);
  if (!o) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  IoctlCall call{o->device, code, inSize, outSize, {}};
  if (in && inSize) {
    auto* p = static_cast<const uint8_t*>(in);
    call.input.assign(p, p + std::min<DWORD>(inSize, 4096));
  }
  if (D().keepLogs) D().ioctls.push_back(call);
  if (returned) *returned = 0;
  Devices& d = D();
  auto vol = d.volumes.find(o->device);
  auto disk = d.disks.find(o->device);

  if (code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
    if (!out || outSize < sizeof(STORAGE_DEVICE_NUMBER)) {
      SetError(122);  // ERROR_INSUFFICIENT_BUFFER
      return FALSE;
    }
    STORAGE_DEVICE_NUMBER n{FILE_DEVICE_DISK, 0, 0};
    if (vol != d.volumes.end()) {
      if (vol->second.numberFails) {
        SetError(ERROR_NOT_SUPPORTED);
        return FALSE;
      }
      n.DeviceNumber = vol->second.numberSet ? vol->second.number : DigitsOf(vol->second.disk);
    } else {
      n.DeviceNumber = DigitsOf(o->device);
    }
    memcpy(out, &n, sizeof n);
    if (returned) *returned = sizeof n;
    return TRUE;
  }

  if (code == IOCTL_SCSI_PASS_THROUGH) {
    if (disk == d.disks.end()) {
      SetError(1);  // ERROR_INVALID_FUNCTION
      return FALSE;
    }
    const uint8_t* req = static_cast<const uint8_t*>(in);
    uint8_t* rsp = static_cast<uint8_t*>(out);
    // The request as the 32-bit pass-through header lays it out.
    bool sane = req && rsp && inSize >= 44 && (req[0] | req[1] << 8) == 44 && req[6] >= 1 &&
                req[6] <= 16 && req[8] == SCSI_IOCTL_DATA_IN && Le32(req + 12) >= 8 &&
                req[28] == 0x25 && static_cast<uint64_t>(Le32(req + 20)) + Le32(req + 12) <= outSize;
    if (!sane) {
      SetError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (in != out) memcpy(rsp, req, 44);
    uint32_t dataAt = Le32(req + 20);
    Disk& dk = disk->second;
    uint8_t answer[8] = {};
    uint32_t moved = 8;
    switch (dk.answer) {
      case CapacityAnswer::Fail:
        SetError(ERROR_IO_DEVICE);
        return FALSE;
      case CapacityAnswer::NoData:
        moved = 0;
        break;
      case CapacityAnswer::Bytes:
        memcpy(answer, dk.answerBytes, 8);
        break;
      case CapacityAnswer::FromSize: {
        // A disk too large for the 32-bit answer reports the largest LBA, as
        // such devices do.
        uint64_t last = dk.size / 512 - 1;
        PutBe32(answer, last > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(last));
        PutBe32(answer + 4, 512);
        break;
      }
    }
    memcpy(rsp + dataAt, answer, moved);
    rsp[2] = 0;  // ScsiStatus: good
    rsp[12] = static_cast<uint8_t>(moved);
    rsp[13] = rsp[14] = rsp[15] = 0;
    if (returned) *returned = dataAt + moved;
    return TRUE;
  }

  if (code == IOCTL_STORAGE_EJECT_MEDIA) {
    Disk* dk = nullptr;
    uint64_t base, size;
    if (!Window(o->device, &dk, &base, &size)) return FALSE;
    dk->ejects++;
    if (!dk->ejectOk) {
      SetError(ERROR_NOT_READY);
      return FALSE;
    }
    return TRUE;
  }

  SetError(1);  // ERROR_INVALID_FUNCTION
  return FALSE;
}

DWORD GetLogicalDriveStringsA(DWORD size, LPSTR buffer) {
  std::lock_guard<std::mutex> g(Lock());
  if (D().driveStringsFail) {
    SetError(ERROR_IO_DEVICE);
    return 0;
  }
  std::string all;
  for (auto& [letter, type] : D().drives) {
    all += letter;
    all += ":\\";
    all += '\0';
  }
  DWORD length = static_cast<DWORD>(all.size());
  if (length + 1 > size) return length + 1;  // the size that would be needed
  if (buffer) {
    memcpy(buffer, all.data(), all.size());
    buffer[all.size()] = '\0';
  }
  return length;
}

UINT GetDriveTypeA(LPCSTR root) {
  std::lock_guard<std::mutex> g(Lock());
  if (!root || !root[0]) return DRIVE_NO_ROOT_DIR;
  auto it = D().drives.find(static_cast<char>(toupper(static_cast<unsigned char>(root[0]))));
  return it == D().drives.end() ? DRIVE_NO_ROOT_DIR : it->second;
}
