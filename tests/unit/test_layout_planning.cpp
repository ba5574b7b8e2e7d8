#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "support/format_dialog.h"

using namespace testsupport;

namespace {

// The FAT rule's cluster count of a boot sector.
DWORD ClustersOf(const unsigned char* s) {
  DWORD rootSectors = (GetBootField(s, BPB_RootEntCnt) * 32 + 511) / 512;
  DWORD data = BootTotalSectors(s) - GetBootField(s, BPB_RsvdSecCnt) -
               GetBootField(s, BPB_NumFATs) * GetBootField(s, BPB_FATSz16) - rootSectors;
  return data / GetBootField(s, BPB_SecPerClus);
}


Choice Floppy(bool k720 = false) {
  Choice c;
  c.floppy720k = k720;
  return c;
}

class PlanningTest : public FormatDialogTest {
 protected:
  int WriteCount() {
    int n = 0;
    for (auto& t : standin::Transfers()) n += t.write;
    return n;
  }
  void ExpectNothingWritten() {
    EXPECT_EQ(WriteCount(), 0);
    if (disk) {
      EXPECT_TRUE(AllBytes(disk->Read(0), 0));
    }
  }
};

struct LayoutRow {
  const char* name;
  Choice choice;
  unsigned long long diskSectors;
  DWORD secPerClus, numFats, rootEntries, totSec16, totSec32, media, fatSize, secPerTrk, numHeads;
  DWORD clusters;
  BYTE kind;
};

TEST_F(PlanningTest, EveryLayoutWritesItsTableOfFields) {
  const LayoutRow rows[] = {
#if EDITION_FLOPPY_CHOICE
      {"1.44M", Floppy(), 2880, 2, 2, 224, 2880, 0, 0xF0, 9, 18, 2, 1423, FS_FAT12},
      {"1.44M on a large disk", Floppy(), 300000, 2, 2, 224, 2880, 0, 0xF0, 9, 18, 2, 1423,
       FS_FAT12},
      {"720K", Floppy(true), 2879, 2, 2, 112, 1440, 0, 0xF0, 3, 9, 2, 713, FS_FAT12},
      {"720K on a large disk", Floppy(true), 300000, 2, 2, 112, 1440, 0, 0xF0, 3, 9, 2, 713,
       FS_FAT12},
#else
      {"1.44M", Floppy(), 2880, 1, 2, 224, 2880, 0, 0xF0, 9, 18, 2, 2847, FS_FAT12},
      {"1.44M on a large disk", Floppy(), 300000, 1, 2, 224, 2880, 0, 0xF0, 9, 18, 2, 2847,
       FS_FAT12},
      // The 1.44M edition has no 720K choice.
      {"1.44M with 720K asked", Floppy(true), 2880, 1, 2, 224, 2880, 0, 0xF0, 9, 18, 2, 2847,
       FS_FAT12},
#endif
      {"actual 8000", ActualSize(0, 1, 224), 8000, 1, 2, 224, 8000, 0, 0xF8, 31, 32, 64, 7923,
       FS_FAT16},
      {"actual, one FAT, 4K clusters", ActualSize(3, 0, 512), 70000, 8, 1, 512, 0, 70000, 0xF8, 35,
       32, 64, 8741, FS_FAT16},
      {"actual, 64K clusters", ActualSize(7, 1, 16), 40000, 128, 2, 16, 40000, 0, 0xF8, 2, 32, 64,
       312, FS_FAT12},
  };
  for (const LayoutRow& r : rows) {
    SCOPED_TRACE(r.name);
    Restart();
    TempImage& image = UseDisk(r.diskSectors);
    g_app.drives.records[0].fatKind = 0;
    Choose(r.choice);
    ASSERT_EQ(PlanAndWriteBootSector(), 1);

    const unsigned char* s = g_app.image.bytes;
    EXPECT_EQ(Field(BPB_SecPerClus), r.secPerClus);
    EXPECT_EQ(Field(BPB_RsvdSecCnt), 1u);
    EXPECT_EQ(Field(BPB_NumFATs), r.numFats);
    EXPECT_EQ(Field(BPB_RootEntCnt), r.rootEntries);
    EXPECT_EQ(Field(BPB_TotSec16), r.totSec16);
    EXPECT_EQ(Field(BPB_TotSec32), r.totSec32);
    EXPECT_EQ(Field(BPB_Media), r.media);
    EXPECT_EQ(Field(BPB_FATSz16), r.fatSize);
    EXPECT_EQ(Field(BPB_SecPerTrk), r.secPerTrk);
    EXPECT_EQ(Field(BPB_NumHeads), r.numHeads);
    EXPECT_EQ(ClustersOf(s), r.clusters);

    EXPECT_EQ(0, memcmp(s, "\xEB\x3C\x90MSDOS5.0\x00\x02", 13));
    EXPECT_EQ(Field(BPB_HiddSec), 0u);
    EXPECT_EQ(0, memcmp(s + 36, "\x00\x00\x29\x68\x06\x73\x84NO NAME    ", 18));
    EXPECT_EQ(0, memcmp(s + 54, r.kind == FS_FAT12 ? "FAT12   " : "FAT16   ", 8));
    EXPECT_EQ(0, memcmp(s + 62, BootProgramTemplate, 448));
    EXPECT_EQ(s[510], 0x55);
    EXPECT_EQ(s[511], 0xAA);

    EXPECT_EQ(g_app.drives.records[0].fatKind, r.kind);
    EXPECT_EQ(g_app.jobFatKind, r.kind);
    EXPECT_EQ(g_app.jobDrive, 0);
    auto written = image.Read(0);
    EXPECT_EQ(0, memcmp(written.data(), s, 512));
    EXPECT_EQ(WriteCount(), 1);
  }
}

struct BoundaryRow {
  unsigned long long sectors;
  Choice choice;
  DWORD clusters;
  BYTE kind;  // FS_UNKNOWN: refused
};

TEST_F(PlanningTest, ClusterCountBoundariesChooseFat12Fat16OrRefuse) {
  const BoundaryRow rows[] = {
      {4149, ActualSize(0, 1, 512), 4084, FS_FAT12},
      {4150, ActualSize(0, 1, 512), 4085, FS_FAT16},
      {66069, ActualSize(0, 1, 512), 65524, FS_FAT16},
      {66070, ActualSize(0, 1, 512), 65525, FS_UNKNOWN},
      {4102, ActualSize(0, 0, 16), 4084, FS_FAT12},
      {4103, ActualSize(0, 0, 16), 4085, FS_FAT16},
      {65782, ActualSize(0, 0, 16), 65524, FS_FAT16},
      {65783, ActualSize(0, 0, 16), 65525, FS_UNKNOWN},
      {8216, ActualSize(1, 1, 224), 4084, FS_FAT12},
      {8217, ActualSize(1, 1, 224), 4085, FS_FAT16},
      {131576, ActualSize(1, 1, 224), 65524, FS_FAT16},
      {131577, ActualSize(1, 1, 224), 65525, FS_UNKNOWN},
  };
  for (const BoundaryRow& r : rows) {
    SCOPED_TRACE(r.sectors);
    Restart();
    UseDisk(r.sectors);
    Choose(r.choice);
    int accepted = PlanAndWriteBootSector();
    EXPECT_EQ(ClustersOf(g_app.image.bytes), r.clusters);
    if (r.kind == FS_UNKNOWN) {
      EXPECT_EQ(accepted, 0);
      ExpectNothingWritten();
      EXPECT_EQ(standin::MessageBoxes().size(), 1u);
      EXPECT_EQ(g_app.drives.records[0].fatKind, 0);
    } else {
      EXPECT_EQ(accepted, 1);
      EXPECT_EQ(g_app.drives.records[0].fatKind, r.kind);
      EXPECT_EQ(0, memcmp(g_app.image.bytes + 54, r.kind == FS_FAT12 ? "FAT12   " : "FAT16   ", 8));
      EXPECT_TRUE(standin::MessageBoxes().empty());
    }
  }
}

TEST_F(PlanningTest, TotalGoesToTheSixteenBitFieldBelow65536) {
  const struct {
    unsigned long long sectors;
    DWORD totSec16, totSec32;
  } rows[] = {{65535, 65535, 0}, {65536, 0, 65536}};
  for (auto& r : rows) {
    UseDisk(r.sectors);
    Choose(ActualSize(1, 1, 512));
    ASSERT_EQ(PlanAndWriteBootSector(), 1) << r.sectors;
    EXPECT_EQ(Field(BPB_TotSec16), r.totSec16) << r.sectors;
    EXPECT_EQ(Field(BPB_TotSec32), r.totSec32) << r.sectors;
  }
}

TEST_F(PlanningTest, FatGrowsOneSectorOnlyWhereTheFormulaFallsShort) {
  const struct {
    unsigned long long sectors;
    int clusterIndex, fatIndex, rootEntries;
    DWORD formula, planned, clusters;
  } rows[] = {
      {8000, 0, 1, 224, 31, 31, 7923},   // the formula suffices
      {8000, 0, 1, 17, 31, 32, 7933},    // 7935 clusters would need 7937 entries
      {65535, 0, 1, 32, 254, 255, 65022},  // 65024 clusters would need 65026 entries
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.sectors);
    UseDisk(r.sectors);
    Choose(ActualSize(r.clusterIndex, r.fatIndex, r.rootEntries));
    ASSERT_EQ(PlanAndWriteBootSector(), 1);
    EXPECT_EQ(ComputeFatSize(), r.formula);
    EXPECT_EQ(Field(BPB_FATSz16), r.planned);
    EXPECT_EQ(ClustersOf(g_app.image.bytes), r.clusters);
  }
}

// Every accepted plan over a spread of sizes and choices has a FAT that holds
// an entry for every cluster and the two reserved ones, never more than one
// sector above the formula's result.
TEST_F(PlanningTest, EveryPlannedFatHoldsItsClusters) {
  UseDisk(140000);
  const int roots[] = {16, 17, 224, 512};
  int checked = 0;
  for (int clusterIndex = 0; clusterIndex < 3; clusterIndex++)
    for (int fatIndex = 0; fatIndex < 2; fatIndex++)
      for (int root : roots)
        for (DWORD sectors = 36; sectors < 140000; sectors += sectors < 9000 ? 13 : 311) {
          g_app.drives.records[0].sectorCount = sectors;
          Choose(ActualSize(clusterIndex, fatIndex, root));
          if (!PlanAndWriteBootSector()) continue;
          const unsigned char* s = g_app.image.bytes;
          DWORD fat = Field(BPB_FATSz16), clusters = ClustersOf(s);
          DWORD entries = g_app.jobFatKind == FS_FAT12 ? fat * 1024 / 3 : fat * 256;
          ASSERT_GE(entries, clusters + 2) << sectors << " " << clusterIndex << " " << root;
          DWORD formula = ComputeFatSize();
          ASSERT_TRUE(fat == formula || fat == formula + 1) << sectors;
          checked++;
        }
  EXPECT_GT(checked, 1000);
}

struct RefusalRow {
  unsigned long long sectors;
  Choice choice;
  int number;
};

TEST_F(PlanningTest, TooManyClustersIsRefusedWithTheSmallestClusterSize) {
  const RefusalRow rows[] = {
      {1000000, ActualSize(0, 1, 224), 8192},  // DataSec 992233
      {132087, ActualSize(0, 1, 224), 1024},   // DataSec 2 × 65524
      {132088, ActualSize(0, 1, 224), 1536},   // one sector more
      {1056591, ActualSize(0, 1, 224), 8192},  // 16 × 65524
      {1056592, ActualSize(0, 1, 224), 8704},
      {197343, ActualSize(1, 1, 32), 1536},    // 3 × 65524 with 2 sectors per cluster
      {197344, ActualSize(1, 1, 32), 2048},
      {66070, ActualSize(0, 1, 512), 1024},    // 65525 clusters
  };
  for (const RefusalRow& r : rows) {
    SCOPED_TRACE(r.sectors);
    Restart();
    UseDisk(r.sectors);
    g_app.drives.records[0].fatKind = FS_FAT12;
    Choose(r.choice);
    standin::ClearLogs();
    EXPECT_EQ(PlanAndWriteBootSector(), 0);
    ExpectNothingWritten();
    EXPECT_EQ(standin::Text(IDC_STATUS), "当前单元总数超出了FAT16所支持的");
    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "所选分配单元不能小于" + std::to_string(r.number));
    EXPECT_EQ(boxes[0].caption, "格式化U盘");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(boxes[0].owner, g_app.dialog);
    EXPECT_EQ(g_app.drives.records[0].fatKind, FS_FAT12);
    EXPECT_EQ(g_app.jobFatKind, FS_UNKNOWN);
    // The closing fields stay as they were: zero.
    for (unsigned i = 43; i < 512; i++) ASSERT_EQ(g_app.image.bytes[i], 0) << i;
  }
}

TEST_F(PlanningTest, DiskTooSmallForFatsAndRootIsRefusedBeforeWriting) {
  const struct {
    unsigned long long sectors;
    Choice choice;
  } rows[] = {
      {1, ActualSize(0, 1, 512)},    // the formula gives no FAT at all
      {33, ActualSize(0, 1, 512)},
      {34, ActualSize(0, 1, 512)},   // one FAT sector, nothing behind it
      {35, ActualSize(0, 1, 512)},   // two FATs fill the disk
      {160, ActualSize(7, 1, 512)},  // room left, but less than one cluster
      {0, ActualSize(0, 1, 16)},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.sectors);
    Restart();
    UseDisk(r.sectors < 1 ? 1 : r.sectors);
    g_app.drives.records[0].sectorCount = static_cast<DWORD>(r.sectors);
    Choose(r.choice);
    standin::ClearLogs();
    EXPECT_EQ(PlanAndWriteBootSector(), 0);
    ExpectNothingWritten();
    EXPECT_EQ(standin::Text(IDC_STATUS), "U盘容量太小,容纳不下FAT表和根目录");
    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "所选U盘容量太小,请减小目录项数或分配单元!");
    EXPECT_EQ(boxes[0].caption, "格式化U盘");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(g_app.drives.records[0].fatKind, 0);
  }
  // The smallest disks that leave one cluster are accepted.
  const struct {
    unsigned long long sectors;
    Choice choice;
  } smallest[] = {{36, ActualSize(0, 1, 512)}, {163, ActualSize(7, 1, 512)}};
  for (auto& r : smallest) {
    UseDisk(r.sectors);
    Choose(r.choice);
    EXPECT_EQ(PlanAndWriteBootSector(), 1) << r.sectors;
    EXPECT_EQ(ClustersOf(g_app.image.bytes), 1u) << r.sectors;
  }
}

TEST_F(PlanningTest, RequestsWithoutAUsableSelectionWriteNothing) {
  const struct {
    const char* name;
    std::function<void()> spoil;
  } rows[] = {
      {"layout none", [] { SendDlgItemMessageA(g_app.dialog, IDC_LAYOUT, CB_SETCURSEL, (WPARAM)-1, 0); }},
      {"layout 2",
       [] {
         SendDlgItemMessageA(g_app.dialog, IDC_LAYOUT, CB_ADDSTRING, 0, (LPARAM) "x");
         SendDlgItemMessageA(g_app.dialog, IDC_LAYOUT, CB_SETCURSEL, 2, 0);
       }},
      {"cluster size none",
       [] { SendDlgItemMessageA(g_app.dialog, IDC_CLUSTER_SIZE, CB_SETCURSEL, (WPARAM)-1, 0); }},
      {"FAT count none",
       [] { SendDlgItemMessageA(g_app.dialog, IDC_FAT_COUNT, CB_SETCURSEL, (WPARAM)-1, 0); }},
      {"drive list none",
       [] { SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_SETCURSEL, (WPARAM)-1, 0); }},
      {"line without a record",
       [] {
         SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_ADDSTRING, 0, (LPARAM) "stale");
         SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_SETCURSEL, 1, 0);
       }},
  };
  for (int layout = 0; layout < 2; layout++)
    for (auto& r : rows) {
      SCOPED_TRACE(std::string(r.name) + (layout ? " floppy" : " actual"));
      Restart();
      UseDisk(300000);
      Choice c = ActualSize(0, 1, 224);
      c.layout = layout;
      Choose(c);
      r.spoil();
      int expected = 0;
      // The floppy layout reads neither combo box of the actual size.
      if (layout == 1 && (std::string(r.name) == "cluster size none" ||
                          std::string(r.name) == "FAT count none"))
        expected = 1;
      standin::ClearLogs();
      EXPECT_EQ(PlanAndWriteBootSector(), expected);
      EXPECT_TRUE(standin::MessageBoxes().empty());
      if (expected == 0) {
        ExpectNothingWritten();
        EXPECT_EQ(g_app.drives.records[0].fatKind, 0);
        EXPECT_EQ(g_app.jobFatKind, FS_UNKNOWN);
      }
    }
}

TEST_F(PlanningTest, ThePlanUsesTheSelectedRecordOnly) {
  UseDisk(300000);
  DriveRecord second = g_app.drives.records[0];
  snprintf(second.physicalName, sizeof second.physicalName, "physicaldrive2");
  second.sectorCount = 20000;
  g_app.drives.records[1] = second;
  SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_ADDSTRING, 0, (LPARAM) "physicaldrive2");
  SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_SETCURSEL, 1, 0);
  Choose(ActualSize(0, 1, 224));
  ASSERT_EQ(PlanAndWriteBootSector(), 1);
  EXPECT_EQ(Field(BPB_TotSec16), 20000u);
  EXPECT_EQ(g_app.jobDrive, 1);
  EXPECT_EQ(g_app.jobSectorCount, 20000u);
  EXPECT_EQ(g_app.drives.records[0].fatKind, 0);
  EXPECT_EQ(g_app.drives.records[1].fatKind, FS_FAT16);
}

TEST_F(PlanningTest, ARefusedPlanLeavesNothingForTheNextPlan) {
  // What each plan writes from a clean image.
  struct Plan {
    unsigned long long sectors;
    Choice choice;
  } plans[] = {{300000, Floppy()}, {300000, Floppy(true)}, {20000, ActualSize(2, 0, 64)}};
  for (auto& p : plans) {
    Restart();
    TempImage& image = UseDisk(p.sectors);
    Choose(p.choice);
    ASSERT_EQ(PlanAndWriteBootSector(), 1);
    auto clean = image.Read(0);

    // Now from an image spoiled by garbage and then by a refused plan.
    memset(g_app.image.bytes, 0xA5, sizeof g_app.image.bytes);
    g_app.drives.records[0].sectorCount = 1000000;
    Choose(ActualSize(0, 1, 224));
    ASSERT_EQ(PlanAndWriteBootSector(), 0);
    g_app.drives.records[0].sectorCount = static_cast<DWORD>(p.sectors);
    image.Fill(0, 1, 0);
    Choose(p.choice);
    ASSERT_EQ(PlanAndWriteBootSector(), 1);
    EXPECT_EQ(image.Read(0), clean) << p.sectors;
  }
}

TEST_F(PlanningTest, AFailedSectorZeroWriteFailsWithoutAMessage) {
  const standin::Fault faults[] = {standin::Fault::Fail, standin::Fault::Short};
  for (auto fault : faults) {
    UseDisk(2880);
    Choose(Floppy());
    standin::FailTransfer("physicaldrive1", 1, fault);
    EXPECT_EQ(PlanAndWriteBootSector(), 0);
    EXPECT_TRUE(standin::MessageBoxes().empty());
    // The FAT kind chosen stays recorded.
    EXPECT_EQ(g_app.drives.records[0].fatKind, FS_FAT12);
  }
}

TEST_F(PlanningTest, RunsOnAWorkerThreadAnsweredByTheDialogsThread) {
  UseDisk(1000000);
  struct Run {
    Choice choice;
    int expected;
  } runs[] = {{Floppy(), 1}, {ActualSize(0, 1, 224), 0}};
  for (auto& run : runs) {
    Choose(run.choice);
    std::atomic<int> result{-1};
    std::thread worker([&] { result = PlanAndWriteBootSector(); });
    EXPECT_TRUE(standin::PumpUntil([&] { return result.load() != -1; }, 10000));
    worker.join();
    EXPECT_EQ(result.load(), run.expected);
  }
  auto boxes = standin::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(boxes[0].onUiThread);
  EXPECT_EQ(boxes[0].text, "所选分配单元不能小于8192");
  auto changes = standin::TextChanges();
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes.back().id, IDC_STATUS);
  EXPECT_TRUE(changes.back().onUiThread);
}

}  // namespace
