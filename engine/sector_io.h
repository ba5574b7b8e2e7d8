// Whole 512-byte sectors at an LBA on a raw device handle the caller owns.
#pragma once

#include "edition.h"
#include "platform/win32.h"

enum SectorIoStatus { Ok = 0, SeekFailed = 3, TransferFailed = 4, ShortTransfer = 5 };

#define RAW_PATH_SIZE 30
#define RAW_NAME_MAX 25
#define WRITE_SECTORS_MAX 50
#define FILL_CHUNK_SECTORS 40

// Opens \\.\name for reading and writing with full sharing; the platform's
// last-error code tells why an open failed.
HANDLE OpenRawDevice(const char* name);
SectorIoStatus ReadSectors(HANDLE device, DWORD count, DWORD lba, void* buffer);
// count is 1 to 50.
SectorIoStatus WriteSectors(HANDLE device, DWORD count, DWORD lba, const void* data);
// Note the order: the LBA comes before the count. Only the low 8 bits of value count.
SectorIoStatus FillSectors(HANDLE device, DWORD lba, DWORD count, DWORD value);
#if EDITION_EJECT_AFTER_FORMAT
// Ejects the medium behind the job's device handle; non-zero on success.
BOOL EjectMedia(void);
#endif
