#include "discovery/drive_enumeration.h"

void EnumerateRemovableDrives(DriveTable* table) { ClearDriveTable(table); }

DWORD ReadDeviceCapacity(const char* physicalName, DWORD* bytesPerSector, DWORD* sectorCount) {
  (void)physicalName;
  (void)bytesPerSector;
  *sectorCount = 0;
  return 0;
}
