#include "discovery/file_system_detection.h"

#include <string.h>

#include "engine/boot_sector.h"
#include "engine/sector_io.h"

// The FAT rule for the cluster count, unsigned 32-bit throughout: metadata
// larger than the total wraps to a huge count instead of being refused.
static int ClassifyBootSector(const unsigned char* sector) {
  if (GetBootField(sector, BS_Signature) != 0xAA55) return FS_UNKNOWN;
  DWORD bytesPerSector = GetBootField(sector, BPB_BytsPerSec);
  DWORD sectorsPerCluster = GetBootField(sector, BPB_SecPerClus);
  if (bytesPerSector == 0 || sectorsPerCluster == 0) return FS_UNKNOWN;

  DWORD totalSectors = BootTotalSectors(sector);
  DWORD rootDirSectors =
      (GetBootField(sector, BPB_RootEntCnt) * 32 + bytesPerSector - 1) / bytesPerSector;
  DWORD fatSize = GetBootField(sector, BPB_FATSz16);
  if (fatSize == 0) fatSize = GetBootField(sector, BPB_FATSz32);
  DWORD dataSectors = totalSectors - GetBootField(sector, BPB_NumFATs) * fatSize -
                      GetBootField(sector, BPB_RsvdSecCnt) - rootDirSectors;
  DWORD clusters = dataSectors / sectorsPerCluster;

  if (clusters < 4085) return FS_FAT12;
  if (clusters < 65525) return FS_FAT16;
  return FS_FAT32;
}

int DetectFileSystem(const char* driveName) {
  unsigned char sector[SECTOR_BYTES];
  HANDLE volume = OpenRawDevice(driveName);
  if (volume == INVALID_HANDLE_VALUE) return FS_UNKNOWN;
  memset(sector, 0, sizeof sector);
  SectorIoStatus status = ReadSectors(volume, 1, 0, sector);
  CloseHandle(volume);
  if (status != Ok) return FS_UNKNOWN;
  return ClassifyBootSector(sector);
}
