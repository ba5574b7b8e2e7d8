// One record per physical removable disk; line i of the drive list is record i.
#pragma once

#include "platform/win32.h"

// File-system kind codes.
enum FsKind { FS_UNKNOWN = 0, FS_FAT12 = 1, FS_FAT16 = 2, FS_FAT32 = 3 };

#define DRIVE_TABLE_SIZE 32
#define PHYSICAL_NAME_SIZE 20
#define VOLUME_TAG_MAX 10
#define VOLUME_LETTERS_MAX 24
// Every volume a disk can carry: 24 letters above B: with a tag of up to 10 bytes each.
#define VOLUME_TEXT_SIZE (VOLUME_LETTERS_MAX * VOLUME_TAG_MAX + 1)

struct DriveRecord {
  char physicalName[PHYSICAL_NAME_SIZE];  // "physicaldrive%d"; empty marks the end
  DWORD bytesPerSector;
  DWORD sectorCount;
  BYTE fatKind;
  char volumeText[VOLUME_TEXT_SIZE];
  DWORD deviceNumber;
};

struct DriveTable {
  DriveRecord records[DRIVE_TABLE_SIZE];
};

void ClearDriveTable(DriveTable* table);
void ReplaceDriveTable(DriveTable* destination, const DriveTable* source);
// The record for a list index, or null for none (-1) or an index outside the used records.
DriveRecord* DriveRecordAt(DriveTable* table, int index);
