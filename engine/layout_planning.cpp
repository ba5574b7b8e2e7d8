#include "engine/layout_planning.h"

#include <stdio.h>

#include "edition.h"
#include "engine/app_state.h"
#include "engine/sector_io.h"
#include "ui/control_ids.h"

#define CLUSTER_SIZE_CHOICES 8
#define FAT_COUNT_CHOICES 2
#define FAT12_CLUSTERS_BELOW 4085
// The FAT rule for the cluster count reads 65525 clusters or more as FAT32,
// and FAT16 entries from FFF7h on are reserved values.
#define FAT16_CLUSTERS_MAX 65524
#define FAT16_ENTRIES_PER_SECTOR 256
#define FAT_RESERVED_ENTRIES 2

static const char kCaption[] = "格式化U盘";

static int ComboSelection(int id) {
  return (int)SendDlgItemMessageA(g_app.dialog, id, CB_GETCURSEL, 0, 0);
}

static void ShowStatus(const char* text) {
  SetWindowTextA(GetDlgItem(g_app.dialog, IDC_STATUS), text);
}

// The job's disk is taken from the list once; whatever a later refresh does
// to the list or the table, planning and the writers keep to this record.
static int TakeJobDrive(void) {
  int index = (int)SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_GETCURSEL, 0, 0);
  DriveRecord* record = DriveRecordAt(&g_app.drives, index);
  if (record == 0) return 0;
  g_app.jobDrive = index;
  g_app.jobSectorCount = record->sectorCount;
  return 1;
}

static void SetCommonFields(unsigned char* image) {
  static const unsigned char jump[3] = {0xEB, 0x3C, 0x90};
  static const unsigned char volumeId[4] = {0x68, 0x06, 0x73, 0x84};
  SetBootBytes(image, BS_jmpBoot, jump);
  SetBootBytes(image, BS_OEMName, "MSDOS5.0");
  SetBootField(image, BPB_BytsPerSec, SECTOR_BYTES);
  SetBootField(image, BPB_HiddSec, 0);
  SetBootField(image, BS_DrvNum, 0);
  SetBootField(image, BS_Reserved1, 0);
  SetBootField(image, BS_BootSig, 0x29);
  SetBootBytes(image, BS_VolID, volumeId);
}

// 0 when a control has no usable selection or no disk is selected.
static int SetActualSizeFields(unsigned char* image) {
  int cluster = ComboSelection(IDC_CLUSTER_SIZE);
  if (cluster < 0 || cluster >= CLUSTER_SIZE_CHOICES) return 0;
  int fats = ComboSelection(IDC_FAT_COUNT);
  if (fats < 0 || fats >= FAT_COUNT_CHOICES) return 0;
  UINT rootEntries = GetDlgItemInt(g_app.dialog, IDC_ROOT_ENTRIES, 0, FALSE);
  if (!TakeJobDrive()) return 0;
  DWORD total = g_app.jobSectorCount;

  SetBootField(image, BPB_SecPerClus, 1u << cluster);
  SetBootField(image, BPB_RsvdSecCnt, 1);
  SetBootField(image, BPB_NumFATs, (DWORD)fats + 1);
  SetBootField(image, BPB_RootEntCnt, rootEntries & 0xFFFF);
  SetBootField(image, BPB_TotSec16, total < 65536 ? total : 0);
  SetBootField(image, BPB_TotSec32, total < 65536 ? 0 : total);
  SetBootField(image, BPB_FATSz16, ComputeFatSize() & 0xFFFF);
  SetBootField(image, BPB_Media, 0xF8);
  SetBootField(image, BPB_SecPerTrk, 32);
  SetBootField(image, BPB_NumHeads, 64);
  return 1;
}

static void SetFloppyFields(unsigned char* image) {
  SetBootField(image, BPB_RsvdSecCnt, 1);
  SetBootField(image, BPB_NumFATs, 2);
  SetBootField(image, BPB_Media, 0xF0);
  SetBootField(image, BPB_NumHeads, 2);
  SetBootField(image, BPB_TotSec32, 0);
#if EDITION_FLOPPY_CHOICE
  SetBootField(image, BPB_SecPerClus, 2);
  if (IsDlgButtonChecked(g_app.dialog, IDC_FLOPPY_720K) == BST_CHECKED) {
    SetBootField(image, BPB_RootEntCnt, 112);
    SetBootField(image, BPB_TotSec16, 1440);
    SetBootField(image, BPB_FATSz16, 3);
    SetBootField(image, BPB_SecPerTrk, 9);
    return;
  }
#else
  SetBootField(image, BPB_SecPerClus, 1);
#endif
  SetBootField(image, BPB_TotSec16, 2880);
  SetBootField(image, BPB_RootEntCnt, 224);
  SetBootField(image, BPB_FATSz16, 9);
  SetBootField(image, BPB_SecPerTrk, 18);
}

static DWORD RootDirSectors(const unsigned char* image) {
  DWORD bytesPerSector = GetBootField(image, BPB_BytsPerSec);
  return (GetBootField(image, BPB_RootEntCnt) * 32 + bytesPerSector - 1) / bytesPerSector;
}

// The sectors behind the FATs and the root directory; 0 when those do not
// even fit the volume.
static DWORD DataSectors(const unsigned char* image) {
  DWORD total = BootTotalSectors(image);
  DWORD used = GetBootField(image, BPB_RsvdSecCnt) +
               GetBootField(image, BPB_NumFATs) * GetBootField(image, BPB_FATSz16) +
               RootDirSectors(image);
  return total > used ? total - used : 0;
}

// The size formula counts 256 entries per FAT sector but not the two
// reserved entries, so a FAT16 volume can end up two entries short.
static void GrowFatToHoldItsClusters(unsigned char* image) {
  DWORD clusters = DataSectors(image) / GetBootField(image, BPB_SecPerClus);
  DWORD fatSize = GetBootField(image, BPB_FATSz16);
  if (clusters < FAT12_CLUSTERS_BELOW || clusters > FAT16_CLUSTERS_MAX) return;
  if (clusters + FAT_RESERVED_ENTRIES <= fatSize * FAT16_ENTRIES_PER_SECTOR) return;
  SetBootField(image, BPB_FATSz16, fatSize + 1);
}

static void RefuseTooManyClusters(DWORD dataSectors) {
  DWORD clusterSectors = dataSectors / FAT16_CLUSTERS_MAX + (dataSectors % FAT16_CLUSTERS_MAX != 0);
  char text[64];
  ShowStatus("当前单元总数超出了FAT16所支持的");
  snprintf(text, sizeof text, "所选分配单元不能小于%d", (int)(clusterSectors * SECTOR_BYTES));
  MessageBoxA(g_app.dialog, text, kCaption, MB_ICONINFORMATION);
}

static void RefuseTooSmallDisk(void) {
  ShowStatus("U盘容量太小,容纳不下FAT表和根目录");
  MessageBoxA(g_app.dialog, "所选U盘容量太小,请减小目录项数或分配单元!", kCaption,
              MB_ICONINFORMATION);
}

int PlanAndWriteBootSector(void) {
  unsigned char* image = g_app.image.bytes;
  g_app.jobDrive = -1;
  g_app.jobSectorCount = 0;
  g_app.jobFatKind = FS_UNKNOWN;

  SetCommonFields(image);
  int layout = ComboSelection(IDC_LAYOUT);
  if (layout == LAYOUT_ACTUAL_SIZE) {
    if (!SetActualSizeFields(image)) return 0;
  } else if (layout == LAYOUT_FLOPPY) {
    SetFloppyFields(image);
  } else {
    return 0;
  }

  DWORD sectorsPerCluster = GetBootField(image, BPB_SecPerClus);
  if (DataSectors(image) < sectorsPerCluster) {
    RefuseTooSmallDisk();
    return 0;
  }
  GrowFatToHoldItsClusters(image);
  DWORD dataSectors = DataSectors(image);
  DWORD clusters = dataSectors / sectorsPerCluster;

  if (g_app.jobDrive < 0 && !TakeJobDrive()) return 0;
  if (clusters > FAT16_CLUSTERS_MAX) {
    RefuseTooManyClusters(dataSectors);
    return 0;
  }
  BYTE kind = clusters < FAT12_CLUSTERS_BELOW ? FS_FAT12 : FS_FAT16;
  DriveRecord* record = DriveRecordAt(&g_app.drives, g_app.jobDrive);
  if (record != 0) record->fatKind = kind;
  g_app.jobFatKind = kind;

  SetBootBytes(image, BS_FilSysType, kind == FS_FAT12 ? "FAT12   " : "FAT16   ");
  SetBootBytes(image, BS_VolLab, "NO NAME    ");
  SetBootBytes(image, BS_BootProgram, BootProgramTemplate);
  SetBootField(image, BS_Signature, 0xAA55);
  return WriteSectors(g_app.device, 1, 0, image) == Ok ? 1 : 0;
}

DWORD ComputeFatSize(void) {
  const unsigned char* image = g_app.image.bytes;
  DWORD totalSectors = BootTotalSectors(image);
  DWORD tmpVal1 = totalSectors - (GetBootField(image, BPB_RsvdSecCnt) + RootDirSectors(image));
  DWORD tmpVal2 = 256 * GetBootField(image, BPB_SecPerClus) + GetBootField(image, BPB_NumFATs);
  return (tmpVal1 + tmpVal2 - 1) / tmpVal2;
}
