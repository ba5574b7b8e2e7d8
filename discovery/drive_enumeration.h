// Finds the removable disks, their volumes and their capacities.
#pragma once

#include "discovery/drive_table.h"

// The READ CAPACITY(10) request block: the 32-bit pass-through header, a gap,
// the sense area and the data area behind it.
#define CAPACITY_HEADER_SIZE 44
#define CAPACITY_SENSE_OFFSET 48
#define CAPACITY_SENSE_SIZE 512
#define CAPACITY_DATA_OFFSET 560
#define CAPACITY_DATA_SIZE 512
#define CAPACITY_BLOCK_SIZE (CAPACITY_DATA_OFFSET + CAPACITY_DATA_SIZE)
#define CAPACITY_ANSWER_SIZE 8
// What the device fills: the header and the answer.
#define CAPACITY_OUTPUT_SIZE (CAPACITY_DATA_OFFSET + CAPACITY_ANSWER_SIZE)

// Rebuilds the table whole: one record per physical disk, in the order the
// disks are first met, each volume on the record of the disk it reports. The
// table reads as empty while this runs (it may wait in a message box).
void EnumerateRemovableDrives(DriveTable* table);
// READ CAPACITY(10) through the SCSI pass-through; returns the sector count,
// 0 on failure, when bytesPerSector is left as it was.
DWORD ReadDeviceCapacity(const char* physicalName, DWORD* bytesPerSector, DWORD* sectorCount);
// The 8 answer bytes: the last block address and the block length, both
// big-endian. Returns the sector count, last address + 1 modulo 2^32.
DWORD DecodeCapacityAnswer(const unsigned char* answer, DWORD* bytesPerSector);
