#include <cstring>

#include "engine/sector_io.h"
#include "support/machine_test.h"

using namespace testsupport;

namespace {

class SectorIoTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    standin::AddDisk("physicaldrive1", image.path());
    device = OpenRawDevice("physicaldrive1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    standin::ClearLogs();
  }
  void TearDown() override {
    CloseHandle(device);
    MachineTest::TearDown();
  }
  std::vector<uint32_t> WriteSizes() {
    std::vector<uint32_t> sizes;
    for (auto& t : standin::Transfers())
      if (t.write) sizes.push_back(t.size / 512);
    return sizes;
  }
  TempImage image{3000};
  HANDLE device = INVALID_HANDLE_VALUE;
};

TEST_F(SectorIoTest, TransfersReportEachStatus) {
  std::vector<unsigned char> out(1024, 0xA5), in(1024, 0);
  struct Case {
    const char* name;
    std::function<void()> script;
    DWORD lba;
    SectorIoStatus expected;
  } cases[] = {
      {"plain", [] {}, 7, Ok},
      {"seek refused", [] { standin::FailSeek("physicaldrive1", 1); }, 7, SeekFailed},
      {"call fails", [] { standin::FailTransfer("physicaldrive1", 1, standin::Fault::Fail); }, 7,
       TransferFailed},
      {"short", [] { standin::FailTransfer("physicaldrive1", 1, standin::Fault::Short); }, 7,
       ShortTransfer},
      {"past the end", [] {}, 2999, ShortTransfer},
  };
  for (auto& c : cases) {
    c.script();
    EXPECT_EQ(WriteSectors(device, 2, c.lba, out.data()), c.expected) << c.name << " write";
    c.script();
    EXPECT_EQ(ReadSectors(device, 2, c.lba, in.data()), c.expected) << c.name << " read";
  }
  EXPECT_TRUE(AllBytes(image.Read(7, 2), 0xA5));
}

TEST_F(SectorIoTest, RefusedSeekTransfersNothing) {
  std::vector<unsigned char> out(512, 1);
  standin::FailSeek("physicaldrive1", 1);
  EXPECT_EQ(WriteSectors(device, 1, 5, out.data()), SeekFailed);
  EXPECT_TRUE(standin::Transfers().empty());
  EXPECT_TRUE(AllBytes(image.Read(5), 0));
}

TEST_F(SectorIoTest, WriteCountsOutsideOneToFiftyAreRefused) {
  std::vector<unsigned char> data(51 * 512, 3);
  EXPECT_NE(WriteSectors(device, 0, 0, data.data()), Ok);
  EXPECT_NE(WriteSectors(device, 51, 0, data.data()), Ok);
  EXPECT_TRUE(standin::Transfers().empty());
  EXPECT_EQ(WriteSectors(device, 50, 0, data.data()), Ok);
}

TEST_F(SectorIoTest, FillWritesInChunksOfForty) {
  struct Case {
    DWORD count;
    std::vector<uint32_t> writes;
  } cases[] = {{0, {}}, {1, {1}}, {40, {40}}, {41, {40, 1}}, {80, {40, 40}}};
  for (auto& c : cases) {
    standin::ClearLogs();
    EXPECT_EQ(FillSectors(device, 10, c.count, 0x5A), Ok);
    EXPECT_EQ(WriteSizes(), c.writes) << c.count;
  }
  standin::ClearLogs();
  EXPECT_EQ(FillSectors(device, 33, 2846, 0xF6), Ok);
  std::vector<uint32_t> expected(71, 40);
  expected.push_back(6);
  EXPECT_EQ(WriteSizes(), expected);
  auto t = standin::Transfers();
  EXPECT_EQ(t.front().offset, 33 * 512);
  EXPECT_EQ(t.back().offset, (33 + 2840) * 512);
  EXPECT_TRUE(AllBytes(image.Read(33, 2846), 0xF6));
}

TEST_F(SectorIoTest, FillBufferIsRefilledWholeWhenTheValueChanges) {
  ASSERT_EQ(FillSectors(device, 0, 2846, 0xF6), Ok);
  ASSERT_EQ(FillSectors(device, 100, 6, 0), Ok);
  ASSERT_EQ(FillSectors(device, 200, 7, 0), Ok);
  EXPECT_TRUE(AllBytes(image.Read(100, 6), 0));
  EXPECT_TRUE(AllBytes(image.Read(200, 7), 0));
  // Only the low eight bits of the value count.
  ASSERT_EQ(FillSectors(device, 300, 1, 0x1AB), Ok);
  EXPECT_TRUE(AllBytes(image.Read(300), 0xAB));
}

TEST_F(SectorIoTest, FillStopsAtTheFirstFailedChunk) {
  standin::FailTransfer("physicaldrive1", 2, standin::Fault::Fail);
  EXPECT_EQ(FillSectors(device, 0, 120, 0x77), TransferFailed);
  EXPECT_EQ(WriteSizes(), (std::vector<uint32_t>{40, 40}));
  EXPECT_TRUE(AllBytes(image.Read(0, 40), 0x77));
  EXPECT_TRUE(AllBytes(image.Read(40, 80), 0));
}

TEST_F(MachineTest, EveryLbaReachesItsOwnSectorPastTwoAndFourGiB) {
  TempImage big(8388608ull + 4194304ull + 16);  // 6 GiB, sparse
  standin::AddDisk("physicaldrive2", big.path());
  HANDLE device = OpenRawDevice("physicaldrive2");
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  const DWORD lbas[] = {4194303u, 4194304u, 8388607u, 8388608u, 12582912u};
  for (DWORD lba : lbas) {
    std::vector<unsigned char> data(512, static_cast<unsigned char>(lba % 251 + 1));
    ASSERT_EQ(WriteSectors(device, 1, lba, data.data()), Ok) << lba;
    std::vector<unsigned char> back(512);
    ASSERT_EQ(ReadSectors(device, 1, lba, back.data()), Ok) << lba;
    EXPECT_EQ(back, data) << lba;
    EXPECT_EQ(big.Read(lba), data) << lba;
  }
  for (auto& t : standin::Transfers()) EXPECT_GE(t.offset, 4194303ll * 512);
  EXPECT_TRUE(AllBytes(big.Read(0, 8), 0));
  ASSERT_EQ(FillSectors(device, 8388600u, 16, 0xEE), Ok);
  EXPECT_TRUE(AllBytes(big.Read(8388600u, 16), 0xEE));
  CloseHandle(device);
}

TEST_F(MachineTest, OpenRawDeviceBuildsTheDevicePath) {
  TempImage image(16);
  standin::AddDisk("physicaldrive1", image.path());
  standin::AddVolume("E:", "physicaldrive1");
  HANDLE volume = OpenRawDevice("E:");
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  CloseHandle(volume);
  auto opens = standin::Opens();
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, "\\\\.\\E:");
  EXPECT_EQ(opens[0].access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(opens[0].share, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  EXPECT_EQ(opens[0].disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(opens[0].flags, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));

  std::string longest(25, 'x'), tooLong(26, 'x');
  EXPECT_EQ(OpenRawDevice(longest.c_str()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(standin::Opens().back().path, "\\\\.\\" + longest);
  size_t before = standin::Opens().size();
  EXPECT_EQ(OpenRawDevice(tooLong.c_str()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(standin::Opens().size(), before);

  standin::FailOpen("E:", ERROR_SHARING_VIOLATION);
  EXPECT_EQ(OpenRawDevice("E:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(standin::OpenDeviceHandles(), 0);
}

#if EDITION_EJECT_AFTER_FORMAT
TEST_F(MachineTest, EjectGoesToTheJobsDevice) {
  TempImage image(16);
  standin::AddDisk("physicaldrive1", image.path());
  g_app.device = OpenRawDevice("physicaldrive1");
  EXPECT_NE(EjectMedia(), FALSE);
  standin::SetEjectResult("physicaldrive1", false);
  EXPECT_EQ(EjectMedia(), FALSE);
  EXPECT_EQ(standin::EjectCount("physicaldrive1"), 2);
  auto calls = standin::Ioctls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].code, static_cast<DWORD>(IOCTL_STORAGE_EJECT_MEDIA));
  EXPECT_EQ(calls[0].inSize, 0u);
  EXPECT_EQ(calls[0].outSize, 0u);
  CloseHandle(g_app.device);
}
#endif

}  // namespace
