// DetectFileSystem over arbitrary volume contents, through the stand-in: the
// input is the whole volume, so short volumes are covered too.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "discovery/file_system_detection.h"
#include "platform/standin/machine.h"

namespace {

// The volume lives in memory; the stand-in opens it by its /proc path.
int g_volume = -1;
std::string g_image;

uint32_t Le(const uint8_t* p, int width) {
  uint32_t v = 0;
  for (int i = width; i-- > 0;) v = v << 8 | p[i];
  return v;
}

// The FAT rule for the cluster count, worked in 64 bits and reduced at each
// step, as a second opinion.
int Expected(const uint8_t* s, size_t size) {
  if (size < 512) return FS_UNKNOWN;
  if (s[510] != 0x55 || s[511] != 0xAA) return FS_UNKNOWN;
  uint64_t bps = Le(s + 11, 2), spc = s[13];
  if (bps == 0 || spc == 0) return FS_UNKNOWN;
  uint64_t total = Le(s + 19, 2) ? Le(s + 19, 2) : Le(s + 32, 4);
  uint64_t root = (Le(s + 17, 2) * 32ull + bps - 1) / bps;
  uint64_t fat = Le(s + 22, 2) ? Le(s + 22, 2) : Le(s + 36, 4);
  uint64_t data = (total - (s[16] * fat) % (1ull << 32) - Le(s + 14, 2) - root) & 0xFFFFFFFFull;
  uint64_t clusters = data / spc;
  return clusters < 4085 ? FS_FAT12 : clusters < 65525 ? FS_FAT16 : FS_FAT32;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_volume = memfd_create("sf-fuzz-volume", 0);
  if (g_volume < 0) abort();
  g_image = "/proc/self/fd/" + std::to_string(g_volume);
  standin::Reset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (ftruncate(g_volume, static_cast<off_t>(size)) != 0) abort();
  if (size && pwrite(g_volume, data, size, 0) != static_cast<ssize_t>(size)) abort();
  standin::ClearLogs();
  standin::AddDisk("physicaldrive1", g_image);
  standin::AddVolume("E:", "physicaldrive1");

  int kind = DetectFileSystem("E:");
  if (kind != Expected(data, size)) {
    fprintf(stderr, "DetectFileSystem gave %d, the rule %d\n", kind, Expected(data, size));
    abort();
  }
  if (standin::OpenDeviceHandles() != 0) {
    fprintf(stderr, "the volume was left open\n");
    abort();
  }
  return 0;
}
