#include <functional>

#include "discovery/file_system_detection.h"
#include "support/machine_test.h"
#include "support/scripted_drives.h"

using namespace testsupport;

namespace {

class DetectionTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    standin::AddDisk("physicaldrive1", image.path());
    standin::AddVolume("E:", "physicaldrive1");
  }
  TempImage image{64};
};

Bpb WithSignature(Bpb b, uint8_t at510, uint8_t at511) {
  b.sig510 = at510;
  b.sig511 = at511;
  return b;
}

TEST_F(DetectionTest, ClassifiesBootSectorsByClusterCount) {
  // Reserved 1, two FATs of 12 sectors and 32 root sectors leave total - 57
  // data sectors; with a FAT of 256 sectors, total - 545.
  struct Case {
    const char* name;
    Bpb bpb;
    int expected;
  } cases[] = {
      {"1.44M floppy, 2847 clusters", Floppy144(), FS_FAT12},
      {"4084 clusters", {512, 1, 1, 2, 512, 4084 + 57, 12}, FS_FAT12},
      {"4085 clusters", {512, 1, 1, 2, 512, 4085 + 57, 12}, FS_FAT16},
      {"65524 clusters", {512, 1, 1, 2, 512, 0, 256, 65524 + 545}, FS_FAT16},
      {"65525 clusters", {512, 1, 1, 2, 512, 0, 256, 65525 + 545}, FS_FAT32},
      {"two sectors per cluster, 8169 data sectors", {512, 2, 1, 2, 512, 8169 + 57, 12}, FS_FAT12},
      {"two sectors per cluster, 8170 data sectors", {512, 2, 1, 2, 512, 8170 + 57, 12}, FS_FAT16},
      // 4098 - 1 - 12 leaves 4085 with no root sector, 4084 with one.
      {"one root entry takes a whole sector", {512, 1, 1, 1, 1, 4098, 12}, FS_FAT12},
      {"no root entry takes no sector", {512, 1, 1, 1, 0, 4098, 12}, FS_FAT16},
      {"root rounded up in 2048-byte sectors", {2048, 1, 1, 1, 65, 4098 + 1, 12}, FS_FAT12},
      {"signature swapped", WithSignature(Floppy144(), 0xAA, 0x55), FS_UNKNOWN},
      {"signature missing", WithSignature(Floppy144(), 0, 0), FS_UNKNOWN},
      {"BPB_BytsPerSec 0, as exFAT", {0, 1, 1, 2, 224, 2880, 9}, FS_UNKNOWN},
      {"BPB_SecPerClus 0", {512, 0, 1, 2, 224, 2880, 9}, FS_UNKNOWN},
      {"NTFS-like: no totals, FATs, reserved or root", {512, 8, 0, 0, 0, 0, 0}, FS_FAT12},
      {"metadata beyond the total wraps", {512, 1, 101, 0, 0, 100, 0}, FS_FAT32},
      {"BPB_TotSec16 wins over BPB_TotSec32", {512, 1, 1, 2, 224, 2880, 9, 100000}, FS_FAT12},
      // BPB_FATSz32 28000 would leave 3967 clusters.
      {"BPB_FATSz16 wins over BPB_FATSz32", {512, 1, 1, 2, 512, 0, 235, 60000, 28000}, FS_FAT16},
      {"BPB_FATSz32 when BPB_FATSz16 is 0", {512, 1, 1, 2, 512, 0, 0, 60000, 28000}, FS_FAT12},
      {"BPB_TotSec32 when BPB_TotSec16 is 0", {512, 1, 1, 2, 224, 0, 9, 100000}, FS_FAT32},
  };
  for (const Case& c : cases) {
    image.Write(0, BootSectorOf(c.bpb));
    EXPECT_EQ(DetectFileSystem("E:"), c.expected) << c.name;
    EXPECT_EQ(standin::OpenDeviceHandles(), 0) << c.name;
  }
}

TEST_F(DetectionTest, ReadsOneSectorAtTheStartOfTheVolumeItself) {
  // A partitioned disk: its sector 0 is no boot sector, the volume's is.
  standin::AddVolume("F:", "physicaldrive1", 32);
  image.Write(32, BootSectorOfKind(FS_FAT16));
  standin::ClearLogs();
  EXPECT_EQ(DetectFileSystem("F:"), FS_FAT16);
  EXPECT_EQ(DetectFileSystem("E:"), FS_UNKNOWN);

  auto opens = standin::Opens();
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[0].path, "\\\\.\\F:");
  EXPECT_EQ(opens[0].access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(opens[0].share, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  auto transfers = standin::Transfers();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].device, "f:");
  EXPECT_FALSE(transfers[0].write);
  EXPECT_EQ(transfers[0].offset, 0);
  EXPECT_EQ(transfers[0].size, 512u);
}

TEST_F(DetectionTest, AVolumeThatCannotBeOpenedOrReadIsUnknown) {
  image.Write(0, BootSectorOf(Floppy144()));
  struct Case {
    const char* name;
    std::function<void()> script;
  } cases[] = {
      {"held without sharing", [] { standin::FailOpen("E:", ERROR_SHARING_VIOLATION); }},
      {"no such volume", [] { standin::FailOpen("E:", ERROR_FILE_NOT_FOUND); }},
      {"read fails", [] { standin::FailTransfer("E:", 1, standin::Fault::Fail); }},
      {"read is short", [] { standin::FailTransfer("E:", 1, standin::Fault::Short); }},
      {"position refused", [] { standin::FailSeek("E:", 1); }},
  };
  for (const Case& c : cases) {
    c.script();
    EXPECT_EQ(DetectFileSystem("E:"), FS_UNKNOWN) << c.name;
    EXPECT_EQ(standin::OpenDeviceHandles(), 0) << c.name;
    standin::FailOpen("E:", 0);
    ASSERT_EQ(DetectFileSystem("E:"), FS_FAT12) << c.name << ": the fault outlived its case";
  }
}

}  // namespace
