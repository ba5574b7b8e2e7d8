// Scripted removable drives for the discovery tests: disks backed by sparse
// images, volumes carrying a boot sector of a chosen FAT kind, drive letters.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "discovery/drive_table.h"
#include "engine/boot_sector.h"
#include "platform/standin/machine.h"
#include "support/machine_test.h"

namespace testsupport {

// The boot sector fields the cluster-count rule reads.
struct Bpb {
  DWORD bytsPerSec, secPerClus, rsvdSecCnt, numFats, rootEntCnt, totSec16, fatSz16;
  DWORD totSec32 = 0, fatSz32 = 0;
  uint8_t sig510 = 0x55, sig511 = 0xAA;
};

inline std::vector<unsigned char> BootSectorOf(const Bpb& b) {
  std::vector<unsigned char> s(512, 0);
  SetBootField(s.data(), BPB_BytsPerSec, b.bytsPerSec);
  SetBootField(s.data(), BPB_SecPerClus, b.secPerClus);
  SetBootField(s.data(), BPB_RsvdSecCnt, b.rsvdSecCnt);
  SetBootField(s.data(), BPB_NumFATs, b.numFats);
  SetBootField(s.data(), BPB_RootEntCnt, b.rootEntCnt);
  SetBootField(s.data(), BPB_TotSec16, b.totSec16);
  SetBootField(s.data(), BPB_FATSz16, b.fatSz16);
  SetBootField(s.data(), BPB_TotSec32, b.totSec32);
  SetBootField(s.data(), BPB_FATSz32, b.fatSz32);
  s[510] = b.sig510;
  s[511] = b.sig511;
  return s;
}

// The standard 1.44 MB floppy: 2847 clusters.
inline Bpb Floppy144() { return Bpb{512, 1, 1, 2, 224, 2880, 9}; }

// A boot sector that classifies as the given kind; FS_UNKNOWN is all zero.
inline std::vector<unsigned char> BootSectorOfKind(FsKind kind) {
  switch (kind) {
    case FS_FAT12:
      return BootSectorOf(Floppy144());
    case FS_FAT16:
      return BootSectorOf(Bpb{512, 4, 1, 2, 512, 0, 200, 200000});
    case FS_FAT32: {
      Bpb b{512, 8, 32, 2, 0, 0, 0, 4000000, 3900};
      return BootSectorOf(b);
    }
    default:
      return std::vector<unsigned char>(512, 0);
  }
}

// READ CAPACITY data: last block address and block length, big-endian.
inline std::vector<uint8_t> CapacityData(uint32_t lastLba, uint32_t blockLength) {
  return {static_cast<uint8_t>(lastLba >> 24),     static_cast<uint8_t>(lastLba >> 16),
          static_cast<uint8_t>(lastLba >> 8),      static_cast<uint8_t>(lastLba),
          static_cast<uint8_t>(blockLength >> 24), static_cast<uint8_t>(blockLength >> 16),
          static_cast<uint8_t>(blockLength >> 8),  static_cast<uint8_t>(blockLength)};
}

// Builds a machine on the stand-in; the images live as long as this does.
class ScriptedDrives {
 public:
  static constexpr unsigned kDiskSectors = 2048;

  // A disk named "physicaldriveN" that answers READ CAPACITY with data.
  void Disk(const std::string& name, const std::vector<uint8_t>& data = CapacityData(2879, 512)) {
    auto image = std::make_unique<TempImage>(kDiskSectors);
    standin::AddDisk(name, image->path());
    images_[name] = std::move(image);
    standin::SetCapacityAnswer(name, standin::CapacityAnswer::Bytes, data.data());
  }
  // Volume "X:" at lba of disk, carrying a boot sector of the given kind.
  void Volume(char letter, const std::string& disk, uint64_t lba, FsKind kind,
              UINT type = DRIVE_REMOVABLE) {
    if (!images_.count(disk)) Disk(disk);
    images_[disk]->Write(lba, BootSectorOfKind(kind));
    standin::AddVolume(Name(letter), disk, lba);
    standin::SetDrive(letter, type);
  }
  TempImage& Image(const std::string& disk) { return *images_.at(disk); }
  static std::string Name(char letter) { return std::string(1, letter) + ":"; }

 private:
  std::map<std::string, std::unique_ptr<TempImage>> images_;
};

}  // namespace testsupport
