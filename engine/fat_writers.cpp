#include "engine/fat_writers.h"

#include <string.h>

#include "engine/app_state.h"
#include "engine/sector_io.h"
#include "ui/control_ids.h"

#define LABEL_BUFFER_SIZE 12
#define ROOT_ENTRIES_PER_SECTOR 16

// The volume-label entry, in the directory-entry layout.
constexpr BootField DIR_Name = {0, 11};
constexpr BootField DIR_Attr = {11, 1};
constexpr BootField DIR_WrtTime = {22, 2};
constexpr BootField DIR_WrtDate = {24, 2};
#define ATTR_VOLUME_ID 0x08
// A name byte 0 of E5h marks a free entry; the FAT rule stores a leading E5h
// (a common code page 936 lead byte) as 05h instead.
#define DIR_FREE_MARK 0xE5
#define DIR_KANJI_E5 0x05

static DWORD RootStart(const unsigned char* image) {
  return GetBootField(image, BPB_RsvdSecCnt) +
         GetBootField(image, BPB_NumFATs) * GetBootField(image, BPB_FATSz16);
}

int WriteFats(void) {
  const unsigned char* image = g_app.image.bytes;
  DWORD first = GetBootField(image, BPB_RsvdSecCnt);
  DWORD fatSize = GetBootField(image, BPB_FATSz16);
  // Planning's own choice for this job: the list may have been refilled since.
  BYTE kind = g_app.jobFatKind;
  if (kind != FS_FAT12 && kind != FS_FAT16) return 0;

  if (FillSectors(g_app.device, first, GetBootField(image, BPB_NumFATs) * fatSize, 0) != Ok)
    return 0;
  unsigned char sector[SECTOR_BYTES];
  memset(sector, 0, sizeof sector);
  sector[0] = (unsigned char)GetBootField(image, BPB_Media);
  sector[1] = 0xFF;
  sector[2] = 0xFF;
  sector[3] = kind == FS_FAT16 ? 0xFF : 0x00;
  if (WriteSectors(g_app.device, 1, first, sector) != Ok) return 0;
  if (SendDlgItemMessageA(g_app.dialog, IDC_FAT_COUNT, CB_GETCURSEL, 0, 0) == 0) return 1;
  return WriteSectors(g_app.device, 1, first + fatSize, sector) == Ok ? 1 : 0;
}

int WriteRootDirectory(void) {
  const unsigned char* image = g_app.image.bytes;
  DWORD start = RootStart(image);
  DWORD sectors = (GetBootField(image, BPB_RootEntCnt) + ROOT_ENTRIES_PER_SECTOR - 1) /
                  ROOT_ENTRIES_PER_SECTOR;
  if (start == 0 || sectors == 0) return 0;
  if (FillSectors(g_app.device, start, sectors, 0) != Ok) return 0;

  char label[LABEL_BUFFER_SIZE];
  memset(label, 0, sizeof label);
  GetDlgItemTextA(g_app.dialog, IDC_LABEL, label, sizeof label);
  if (label[0] == '\0') return 1;

  unsigned char sector[SECTOR_BYTES];
  memset(sector, 0, sizeof sector);
  memset(sector + DIR_Name.offset, ' ', DIR_Name.width);
  for (unsigned i = 0; i < DIR_Name.width && label[i] != '\0'; i++)
    sector[DIR_Name.offset + i] = (unsigned char)label[i];
  if (sector[DIR_Name.offset] == DIR_FREE_MARK) sector[DIR_Name.offset] = DIR_KANJI_E5;
  SetBootField(sector, DIR_Attr, ATTR_VOLUME_ID);
  SYSTEMTIME now;
  GetLocalTime(&now);
  SetBootField(sector, DIR_WrtTime, (DWORD)(now.wHour * 2048 + now.wMinute * 32 + now.wSecond / 2));
  SetBootField(sector, DIR_WrtDate, (DWORD)((now.wYear - 1980) * 512 + now.wMonth * 32 + now.wDay));
  return WriteSectors(g_app.device, 1, start, sector) == Ok ? 1 : 0;
}
