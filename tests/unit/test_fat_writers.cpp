#include <cstring>

#include "support/format_dialog.h"

using namespace testsupport;

namespace {

class WritersTest : public FormatDialogTest {
 protected:
  // A planned volume on a disk whose old content is all 0xEE.
  TempImage& Planned(unsigned long long sectors, const Choice& c) {
    TempImage& image = UseDisk(sectors);
    image.Fill(0, static_cast<unsigned>(sectors < 600 ? sectors : 600), 0xEE);
    Choose(c);
    EXPECT_EQ(PlanAndWriteBootSector(), 1);
    standin::ClearLogs();
    return image;
  }
  std::vector<uint32_t> WriteLbas() {
    std::vector<uint32_t> lbas;
    for (auto& t : standin::Transfers())
      if (t.write) lbas.push_back(static_cast<uint32_t>(t.offset / 512));
    return lbas;
  }
};


struct RegionRow {
  const char* name;
  unsigned long long sectors;
  Choice choice;
  unsigned fatStart, fatSize, copiesWithEntries, rootStart, rootSectors;
  unsigned char first4[4];
};

TEST_F(WritersTest, FatRegionAndRootDirectoryLieWhereTheBootSectorSays) {
  Choice floppy;
  floppy.label = "DISK";
  Choice floppy720k = floppy;
  floppy720k.floppy720k = true;
  const RegionRow rows[] = {
      {"1.44M", 2880, floppy, 1, 9, 2, 19, 14, {0xF0, 0xFF, 0xFF, 0x00}},
#if EDITION_FLOPPY_CHOICE
      {"720K", 1440, floppy720k, 1, 3, 2, 7, 7, {0xF0, 0xFF, 0xFF, 0x00}},
#endif
      {"FAT16, two FATs", 8000, ActualSize(0, 1, 224, "DISK"), 1, 31, 2, 63, 14,
       {0xF8, 0xFF, 0xFF, 0xFF}},
      {"FAT16, one FAT", 8000, ActualSize(0, 0, 224, "DISK"), 1, 32, 1, 33, 14,
       {0xF8, 0xFF, 0xFF, 0xFF}},
      {"FAT12, one FAT, 17 root entries", 500, ActualSize(0, 0, 17, "DISK"), 1, 2, 1, 3, 2,
       {0xF8, 0xFF, 0xFF, 0x00}},
  };
  for (const RegionRow& r : rows) {
    SCOPED_TRACE(r.name);
    Restart();
    TempImage& image = Planned(r.sectors, r.choice);
    ASSERT_EQ(WriteFats(), 1);
    ASSERT_EQ(WriteRootDirectory(), 1);

    unsigned fats = r.choice.layout == 1 ? 2 : static_cast<unsigned>(r.choice.fatIndex) + 1;
    for (unsigned copy = 0; copy < fats; copy++) {
      auto fat = image.Read(r.fatStart + copy * r.fatSize, r.fatSize);
      bool entries = copy < r.copiesWithEntries;
      for (unsigned i = 0; i < 4; i++)
        EXPECT_EQ(fat[i], entries ? r.first4[i] : 0) << "copy " << copy << " byte " << i;
      fat.erase(fat.begin(), fat.begin() + 4);
      EXPECT_TRUE(AllBytes(fat, 0)) << "copy " << copy;
    }
    EXPECT_EQ(r.fatStart + fats * r.fatSize, r.rootStart);
    auto root = image.Read(r.rootStart, r.rootSectors);
    EXPECT_EQ(0, memcmp(root.data(), "DISK       \x08", 12));
    root.erase(root.begin(), root.begin() + 32);
    EXPECT_TRUE(AllBytes(root, 0));
    // Nothing beyond the root directory was touched.
    EXPECT_TRUE(AllBytes(image.Read(r.rootStart + r.rootSectors), 0xEE));
  }
}

TEST_F(WritersTest, LabelIsPaddedWithSpacesAndStampedWithLocalTime) {
  SYSTEMTIME t{};
  t.wYear = 2024;
  t.wMonth = 3;
  t.wDay = 7;
  t.wDayOfWeek = 4;
  t.wHour = 13;
  t.wMinute = 45;
  t.wSecond = 59;
  t.wMilliseconds = 999;
  standin::SetClock(t);
  const struct {
    std::string typed;
    const char* name;
  } rows[] = {
      {"DATA", "DATA       "},
      {"ABCDEFGHIJK", "ABCDEFGHIJK"},
      {"ABCDEFGHIJKLMN", "ABCDEFGHIJK"},  // only 11 bytes are read
      {"lower case", "lower case "},      // as typed
      {"数据盘", "数据盘     "},
      // A leading E5h would read as a free entry; the FAT rule stores it as 05h.
      {"逍遥", "\x05\xD0\xD2\xA3       "},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.typed);
    Choice c;
    c.label = r.typed;
    TempImage& image = Planned(2880, c);
    ASSERT_EQ(WriteRootDirectory(), 1);
    auto entry = image.Read(19);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data()), 11), r.name);
    EXPECT_EQ(entry[11], 0x08);
    for (int i = 12; i < 22; i++) EXPECT_EQ(entry[i], 0) << i;
    EXPECT_EQ(entry[22], 0xBD);
    EXPECT_EQ(entry[23], 0x6D);
    EXPECT_EQ(entry[24], 0x67);
    EXPECT_EQ(entry[25], 0x58);
    for (int i = 26; i < 512; i++) ASSERT_EQ(entry[i], 0) << i;
  }
  // An even second stays as it is: 13:45:58 is the same stamp.
  t.wSecond = 58;
  standin::SetClock(t);
  Choice c;
  c.label = "X";
  TempImage& image = Planned(2880, c);
  ASSERT_EQ(WriteRootDirectory(), 1);
  EXPECT_EQ(image.Read(19)[22], 0xBD);
}

TEST_F(WritersTest, NoLabelLeavesTheWholeRootDirectoryZero) {
  TempImage& image = Planned(2880, Choice{});
  ASSERT_EQ(WriteRootDirectory(), 1);
  EXPECT_TRUE(AllBytes(image.Read(19, 14), 0));
  EXPECT_EQ(WriteLbas(), (std::vector<uint32_t>{19}));  // one fill of 14 sectors
}

TEST_F(WritersTest, ARootDirectoryOfNoSectorsIsRefusedUnwritten) {
  Planned(8000, ActualSize(0, 1, 0));
  EXPECT_EQ(WriteRootDirectory(), 0);
  EXPECT_TRUE(WriteLbas().empty());
  // And a layout whose root would start at sector 0.
  SetBootField(g_app.image.bytes, BPB_RsvdSecCnt, 0);
  SetBootField(g_app.image.bytes, BPB_FATSz16, 0);
  SetBootField(g_app.image.bytes, BPB_RootEntCnt, 224);
  EXPECT_EQ(WriteRootDirectory(), 0);
  EXPECT_TRUE(WriteLbas().empty());
}

struct FaultRow {
  const char* name;
  int failingTransfer;
  std::vector<uint32_t> writesTried;
};

TEST_F(WritersTest, EachWriterStopsAtItsFirstFailedSector) {
  // 1.44M: the FAT region is one fill of 18 sectors, then sector 1, then 10.
  const FaultRow fatRows[] = {
      {"region fill", 1, {1}},
      {"first copy", 2, {1, 1}},
      {"second copy", 3, {1, 1, 10}},
  };
  for (auto& r : fatRows) {
    SCOPED_TRACE(r.name);
    const standin::Fault faults[] = {standin::Fault::Fail, standin::Fault::Short};
    for (auto fault : faults) {
      TempImage& image = Planned(2880, Choice{});
      standin::FailTransfer("physicaldrive1", r.failingTransfer, fault);
      EXPECT_EQ(WriteFats(), 0);
      EXPECT_EQ(WriteLbas(), r.writesTried);
      if (r.failingTransfer < 3) {
        EXPECT_NE(image.Read(10)[0], 0xF0) << "second copy written after a failure";
      }
    }
  }
  const FaultRow rootRows[] = {
      {"root fill", 1, {19}},
      {"label entry", 2, {19, 19}},
  };
  for (auto& r : rootRows) {
    SCOPED_TRACE(r.name);
    Choice c;
    c.label = "DISK";
    Planned(2880, c);
    standin::FailTransfer("physicaldrive1", r.failingTransfer, standin::Fault::Fail);
    EXPECT_EQ(WriteRootDirectory(), 0);
    EXPECT_EQ(WriteLbas(), r.writesTried);
  }
}

TEST_F(WritersTest, TheFatKindComesFromThePlanNotFromTheListAfterARefresh) {
  TempImage& image = Planned(8000, ActualSize(0, 1, 224));
  ASSERT_EQ(g_app.jobFatKind, FS_FAT16);
  // A device change refills the list without a selection and rewrites the
  // table: another disk now sits at the job's index, with no FAT kind.
  SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_RESETCONTENT, 0, 0);
  DriveTable fresh{};
  snprintf(fresh.records[0].physicalName, sizeof fresh.records[0].physicalName, "physicaldrive7");
  fresh.records[0].sectorCount = 2880;
  ReplaceDriveTable(&g_app.drives, &fresh);
  ASSERT_EQ(WriteFats(), 1);
  auto fat = image.Read(1);
  EXPECT_EQ(0, memcmp(fat.data(), "\xF8\xFF\xFF\xFF", 4));
  EXPECT_EQ(0, memcmp(image.Read(32).data(), "\xF8\xFF\xFF\xFF", 4));
  EXPECT_EQ(g_app.drives.records[0].fatKind, 0);

  // A list refilled with a selection on a line past the table changes nothing either.
  for (int i = 0; i < 40; i++)
    SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_ADDSTRING, 0, (LPARAM) "line");
  SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_SETCURSEL, 39, 0);
  ASSERT_EQ(WriteFats(), 1);
  EXPECT_EQ(0, memcmp(image.Read(1).data(), "\xF8\xFF\xFF\xFF", 4));
}

TEST_F(WritersTest, WithoutAPlannedFatKindNoFatIsWritten) {
  Planned(2880, Choice{});
  g_app.jobFatKind = FS_UNKNOWN;
  EXPECT_EQ(WriteFats(), 0);
  EXPECT_TRUE(WriteLbas().empty());
}

}  // namespace
