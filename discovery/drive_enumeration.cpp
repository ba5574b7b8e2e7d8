#include "discovery/drive_enumeration.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "discovery/file_system_detection.h"
#include "engine/app_state.h"
#include "engine/sector_io.h"

// Offsets of the 32-bit pass-through header.
#define SPT_LENGTH 0
#define SPT_TARGET_ID 4
#define SPT_CDB_LENGTH 6
#define SPT_SENSE_INFO_LENGTH 7
#define SPT_DATA_IN 8
#define SPT_DATA_TRANSFER_LENGTH 12
#define SPT_TIME_OUT_VALUE 16
#define SPT_DATA_BUFFER_OFFSET 20
#define SPT_SENSE_INFO_OFFSET 24
#define SPT_CDB 28

#define READ_CAPACITY_10 0x25
#define READ_CAPACITY_CDB_LENGTH 10
#define READ_CAPACITY_TIMEOUT_SECONDS 2

#if defined(_WIN32) && !defined(_WIN64)
// The block is built by offsets; they must be the platform's own. (The 64-bit
// build exists only for the Wine tests, which never send the block.)
static_assert(sizeof(SCSI_PASS_THROUGH) == CAPACITY_HEADER_SIZE, "32-bit pass-through header");
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == SPT_TARGET_ID, "TargetId");
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == SPT_CDB_LENGTH, "CdbLength");
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == SPT_SENSE_INFO_LENGTH, "SenseInfoLength");
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == SPT_DATA_IN, "DataIn");
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == SPT_DATA_TRANSFER_LENGTH,
              "DataTransferLength");
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == SPT_TIME_OUT_VALUE, "TimeOutValue");
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == SPT_DATA_BUFFER_OFFSET,
              "DataBufferOffset");
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == SPT_SENSE_INFO_OFFSET,
              "SenseInfoOffset");
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == SPT_CDB, "Cdb");
#endif

#define DRIVE_STRINGS_SIZE 128
#define DRIVE_ENTRY_SIZE 4
#define HELD_MESSAGE_SIZE 64

static void PutLe16(unsigned char* at, DWORD value) {
  at[0] = (unsigned char)(value & 0xFF);
  at[1] = (unsigned char)((value >> 8) & 0xFF);
}

static void PutLe32(unsigned char* at, DWORD value) {
  PutLe16(at, value & 0xFFFF);
  PutLe16(at + 2, value >> 16);
}

static DWORD GetBe32(const unsigned char* at) {
  return (DWORD)at[0] << 24 | (DWORD)at[1] << 16 | (DWORD)at[2] << 8 | (DWORD)at[3];
}

DWORD DecodeCapacityAnswer(const unsigned char* answer, DWORD* bytesPerSector) {
  *bytesPerSector = GetBe32(answer + 4);
  return GetBe32(answer) + 1;
}

DWORD ReadDeviceCapacity(const char* physicalName, DWORD* bytesPerSector, DWORD* sectorCount) {
  unsigned char block[CAPACITY_BLOCK_SIZE];
  HANDLE device = OpenRawDevice(physicalName);
  if (device == INVALID_HANDLE_VALUE) {
    *sectorCount = 0;
    return 0;
  }
  // A request that completes without data leaves the answer zero.
  memset(block, 0, sizeof block);
  PutLe16(block + SPT_LENGTH, CAPACITY_HEADER_SIZE);
  block[SPT_TARGET_ID] = 1;
  block[SPT_CDB_LENGTH] = READ_CAPACITY_CDB_LENGTH;
  block[SPT_SENSE_INFO_LENGTH] = 0;
  block[SPT_DATA_IN] = SCSI_IOCTL_DATA_IN;
  PutLe32(block + SPT_DATA_TRANSFER_LENGTH, CAPACITY_ANSWER_SIZE);
  PutLe32(block + SPT_TIME_OUT_VALUE, READ_CAPACITY_TIMEOUT_SECONDS);
  PutLe32(block + SPT_DATA_BUFFER_OFFSET, CAPACITY_DATA_OFFSET);
  PutLe32(block + SPT_SENSE_INFO_OFFSET, CAPACITY_SENSE_OFFSET);
  block[SPT_CDB] = READ_CAPACITY_10;

  DWORD returned = 0;
  if (!DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH, block, CAPACITY_HEADER_SIZE, block,
                       CAPACITY_OUTPUT_SIZE, &returned, 0)) {
    *sectorCount = 0;
    CloseHandle(device);
    return 0;
  }
  *sectorCount = DecodeCapacityAnswer(block + CAPACITY_DATA_OFFSET, bytesPerSector);
  CloseHandle(device);
  return *sectorCount;
}

static const char* VolumeTagFormat(int kind) {
  switch (kind) {
    case FS_FAT12:
      return "%s(FAT12) ";
    case FS_FAT16:
      return "%s(FAT16) ";
    case FS_FAT32:
      return "%s(FAT32) ";
    default:
      return "%s(未知) ";
  }
}

static void AppendVolumeTag(DriveRecord* record, const char* driveName, int kind) {
  size_t used = strlen(record->volumeText);
  snprintf(record->volumeText + used, sizeof record->volumeText - used, VolumeTagFormat(kind),
           driveName);
}

// The used record of a device number, or the index of the first empty record
// when there is none.
static int RecordOfDevice(const DriveTable* table, DWORD deviceNumber, int* found) {
  int i = 0;
  for (; i < DRIVE_TABLE_SIZE && table->records[i].physicalName[0] != '\0'; i++) {
    if (table->records[i].deviceNumber == deviceNumber) {
      *found = 1;
      return i;
    }
  }
  *found = 0;
  return i;
}

// Only drive letters C: to Z: are listed: 24 volumes at most, which the
// volume text and the table are sized for.
static int IsListedLetter(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  return letter >= 'C' && letter <= 'Z';
}

// Places one open volume on its disk's record, making the record when the
// disk is new. 0 when the volume is left out.
static int RecordVolume(DriveTable* table, HANDLE volume, const char* driveName) {
  STORAGE_DEVICE_NUMBER number;
  DWORD returned = 0;
  memset(&number, 0, sizeof number);
  if (!DeviceIoControl(volume, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number, sizeof number, &number,
                       sizeof number, &returned, 0))
    return 0;

  int found = 0;
  int index = RecordOfDevice(table, number.DeviceNumber, &found);
  if (!found) {
    if (index >= DRIVE_TABLE_SIZE) return 0;
    DriveRecord* record = &table->records[index];
    // A number too long for the name would name another disk once cut.
    int length = snprintf(record->physicalName, sizeof record->physicalName, "physicaldrive%u",
                          (unsigned)number.DeviceNumber);
    if (length < 0 || (size_t)length >= sizeof record->physicalName) {
      memset(record->physicalName, 0, sizeof record->physicalName);
      return 0;
    }
    record->deviceNumber = number.DeviceNumber;
    record->bytesPerSector = 0;
    record->sectorCount = 0;
    ReadDeviceCapacity(record->physicalName, &record->bytesPerSector, &record->sectorCount);
  }
  AppendVolumeTag(&table->records[index], driveName, DetectFileSystem(driveName));
  return 1;
}

void EnumerateRemovableDrives(DriveTable* table) {
  DriveTable working;
  char drives[DRIVE_STRINGS_SIZE];
  ClearDriveTable(table);
  ClearDriveTable(&working);

  memset(drives, 0, sizeof drives);
  // One byte is kept for the terminator the count leaves out.
  DWORD length = GetLogicalDriveStringsA(sizeof drives - 1, drives);
  if (drives[0] == '\0' || length >= sizeof drives) return;

  DWORD entries = length / DRIVE_ENTRY_SIZE;
  for (DWORD i = 0; i < entries; i++) {
    char driveName[3];
    driveName[0] = drives[i * DRIVE_ENTRY_SIZE];
    driveName[1] = drives[i * DRIVE_ENTRY_SIZE + 1];
    driveName[2] = '\0';
    if (GetDriveTypeA(driveName) != DRIVE_REMOVABLE || !IsListedLetter(driveName[0])) continue;

    HANDLE volume = OpenRawDevice(driveName);
    if (volume == INVALID_HANDLE_VALUE) {
      char text[HELD_MESSAGE_SIZE];
      snprintf(text, sizeof text, "%s盘正被其它程序使用,无法格式化!", driveName);
      MessageBoxA(g_app.dialog, text, "提示", MB_ICONERROR | MB_OK);
      continue;
    }
    RecordVolume(&working, volume, driveName);
    CloseHandle(volume);
  }
  ReplaceDriveTable(table, &working);
}
