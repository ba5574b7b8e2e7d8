// Finds the removable disks, their volumes and their capacities.
#pragma once

#include "discovery/drive_table.h"

// Rebuilds the table whole; it reads as empty while this runs.
void EnumerateRemovableDrives(DriveTable* table);
// READ CAPACITY(10) through the SCSI pass-through; returns the sector count, 0 on failure.
DWORD ReadDeviceCapacity(const char* physicalName, DWORD* bytesPerSector, DWORD* sectorCount);
