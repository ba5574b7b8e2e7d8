#include "engine/sector_io.h"

#include <stdio.h>
#include <string.h>

#include "engine/app_state.h"

HANDLE OpenRawDevice(const char* name) {
  char path[RAW_PATH_SIZE];
  if (name == 0 || strlen(name) > RAW_NAME_MAX) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  snprintf(path, sizeof path, "\\\\.\\%s", name);
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, 0);
}

// Positions at lba × 512 with the full 64-bit offset, so that no LBA wraps to
// a lower sector.
static int SeekToSector(HANDLE device, DWORD lba) {
  unsigned long long offset = (unsigned long long)lba * SECTOR_BYTES;
  LONG low = (LONG)(DWORD)(offset & 0xFFFFFFFFu);
  LONG high = (LONG)(DWORD)(offset >> 32);
  LONG expectedHigh = high;
  DWORD position = SetFilePointer(device, low, &high, FILE_BEGIN);
  return position == (DWORD)low && high == expectedHigh;
}

SectorIoStatus ReadSectors(HANDLE device, DWORD count, DWORD lba, void* buffer) {
  if (count > 0xFFFFFFFFu / SECTOR_BYTES) return TransferFailed;
  DWORD size = count * SECTOR_BYTES;
  if (!SeekToSector(device, lba)) return SeekFailed;
  DWORD done = 0;
  if (!ReadFile(device, buffer, size, &done, 0)) return TransferFailed;
  return done == size ? Ok : ShortTransfer;
}

SectorIoStatus WriteSectors(HANDLE device, DWORD count, DWORD lba, const void* data) {
  unsigned char staging[WRITE_SECTORS_MAX * SECTOR_BYTES];
  if (count == 0 || count > WRITE_SECTORS_MAX) return TransferFailed;
  DWORD size = count * SECTOR_BYTES;
  if (!SeekToSector(device, lba)) return SeekFailed;
  // The platform write is always issued from our own copy.
  memcpy(staging, data, size);
  DWORD done = 0;
  if (!WriteFile(device, staging, size, &done, 0)) return TransferFailed;
  return done == size ? Ok : ShortTransfer;
}

// Every byte always holds the same value, so its first byte tells the whole.
static unsigned char g_fillBuffer[FILL_CHUNK_SECTORS * SECTOR_BYTES];

SectorIoStatus FillSectors(HANDLE device, DWORD lba, DWORD count, DWORD value) {
  unsigned char byte = (unsigned char)(value & 0xFF);
  if (g_fillBuffer[0] != byte) memset(g_fillBuffer, byte, sizeof g_fillBuffer);
  while (count > 0) {
    DWORD chunk = count < FILL_CHUNK_SECTORS ? count : FILL_CHUNK_SECTORS;
    SectorIoStatus status = WriteSectors(device, chunk, lba, g_fillBuffer);
    if (status != Ok) return status;
    lba += chunk;
    count -= chunk;
  }
  return Ok;
}

#if EDITION_EJECT_AFTER_FORMAT
BOOL EjectMedia(void) {
  DWORD returned = 0;
  return DeviceIoControl(g_app.device, IOCTL_STORAGE_EJECT_MEDIA, 0, 0, 0, 0, &returned, 0);
}
#endif
