// The READ CAPACITY(10) answer decoding over arbitrary answers: alone, and
// through ReadDeviceCapacity with the stand-in device giving the answer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "discovery/drive_enumeration.h"
#include "platform/standin/machine.h"

namespace {

std::string g_image;

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "%s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char path[] = "/tmp/sf-fuzz-disk-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 || ftruncate(fd, 512) != 0) abort();
  close(fd);
  g_image = path;
  atexit([] { remove(g_image.c_str()); });
  standin::Reset();
  standin::AddDisk("physicaldrive1", g_image);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An answer shorter than 8 bytes leaves the rest of the data area zero.
  uint8_t answer[CAPACITY_ANSWER_SIZE] = {};
  memcpy(answer, data, size < sizeof answer ? size : sizeof answer);
  uint32_t sectors = static_cast<uint32_t>((static_cast<uint64_t>(Be32(answer)) + 1) & 0xFFFFFFFFu);
  uint32_t length = Be32(answer + 4);

  DWORD bytesPerSector = 0;
  Check(DecodeCapacityAnswer(answer, &bytesPerSector) == sectors, "decoded sector count");
  Check(bytesPerSector == length, "decoded block length");

  standin::ClearLogs();
  standin::SetCapacityAnswer("physicaldrive1", standin::CapacityAnswer::Bytes, answer);
  DWORD count = 0;
  bytesPerSector = 0;
  Check(ReadDeviceCapacity("physicaldrive1", &bytesPerSector, &count) == sectors, "result");
  Check(count == sectors, "sector count");
  Check(bytesPerSector == length, "bytes per sector");
  Check(standin::OpenDeviceHandles() == 0, "the drive was left open");
  return 0;
}
