// The in-memory boot sector: a packed little-endian 512-byte layout whose
// fields are read and written by name, and the boot program it carries.
#pragma once

#include "platform/win32.h"

#define SECTOR_BYTES 512
#define BOOT_PROGRAM_OFFSET 62
#define BOOT_PROGRAM_SIZE 448

// The real-mode boot program, assembled from engine/boot_program.asm.
extern const unsigned char BootProgramTemplate[BOOT_PROGRAM_SIZE];

struct BootSectorImage {
  unsigned char bytes[SECTOR_BYTES];
};

// A field of the boot sector: its offset and width in bytes.
struct BootField {
  unsigned offset;
  unsigned width;
};

constexpr BootField BS_jmpBoot = {0, 3};
constexpr BootField BS_OEMName = {3, 8};
constexpr BootField BPB_BytsPerSec = {11, 2};
constexpr BootField BPB_SecPerClus = {13, 1};
constexpr BootField BPB_RsvdSecCnt = {14, 2};
constexpr BootField BPB_NumFATs = {16, 1};
constexpr BootField BPB_RootEntCnt = {17, 2};
constexpr BootField BPB_TotSec16 = {19, 2};
constexpr BootField BPB_Media = {21, 1};
constexpr BootField BPB_FATSz16 = {22, 2};
constexpr BootField BPB_SecPerTrk = {24, 2};
constexpr BootField BPB_NumHeads = {26, 2};
constexpr BootField BPB_HiddSec = {28, 4};
constexpr BootField BPB_TotSec32 = {32, 4};
constexpr BootField BS_DrvNum = {36, 1};
constexpr BootField BS_Reserved1 = {37, 1};
constexpr BootField BS_BootSig = {38, 1};
constexpr BootField BS_VolID = {39, 4};
constexpr BootField BS_VolLab = {43, 11};
constexpr BootField BS_FilSysType = {54, 8};
constexpr BootField BS_BootProgram = {BOOT_PROGRAM_OFFSET, BOOT_PROGRAM_SIZE};
constexpr BootField BS_Signature = {510, 2};
// FAT32 sectors hold their FAT size where FAT12/16 hold BS_DrvNum and the next bytes.
constexpr BootField BPB_FATSz32 = {36, 4};

// Numeric fields of width 1, 2 or 4, in any 512-byte sector buffer.
DWORD GetBootField(const unsigned char* sector, BootField field);
void SetBootField(unsigned char* sector, BootField field, DWORD value);
// Copies exactly field.width bytes; no terminator lands in the sector.
void SetBootBytes(unsigned char* sector, BootField field, const void* bytes);

// BPB_TotSec16 when it is not 0, else BPB_TotSec32.
DWORD BootTotalSectors(const unsigned char* sector);

void ClearBootSectorImage(BootSectorImage* image);
