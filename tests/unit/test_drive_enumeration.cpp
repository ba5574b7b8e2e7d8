#include <cstring>
#include <functional>

#include "discovery/drive_enumeration.h"
#include "platform/standin/main_dialog_spec.h"
#include "support/machine_test.h"
#include "support/scripted_drives.h"

using namespace testsupport;

namespace {

INT_PTR CALLBACK StoreDialog(HWND window, UINT, WPARAM, LPARAM) {
  g_app.dialog = window;
  return 0;
}

class EnumerationTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    standin::OpenDialog(StoreDialog, standin::MainDialogSpec());
  }
  ScriptedDrives drives;
};

struct Expected {
  std::string physicalName;
  DWORD deviceNumber, bytesPerSector, sectorCount;
  std::string volumeText;
};

const char kHeld[] = "盘正被其它程序使用,无法格式化!";

// Stale contents that every enumeration must discard.
void FillWithStaleRecords(DriveTable* table) {
  for (int i = 0; i < DRIVE_TABLE_SIZE; i++) {
    DriveRecord& r = table->records[i];
    snprintf(r.physicalName, sizeof r.physicalName, "physicaldrive%d", 90 + i);
    r.bytesPerSector = 4096;
    r.sectorCount = 12345;
    r.fatKind = FS_FAT16;
    snprintf(r.volumeText, sizeof r.volumeText, "Q:(FAT32) ");
    r.deviceNumber = static_cast<DWORD>(90 + i);
  }
}

TEST_F(EnumerationTest, ScriptedMachines) {
  struct Case {
    const char* name;
    std::function<void(ScriptedDrives&)> script;
    std::vector<Expected> records;
    std::vector<std::string> heldDrives;
  } cases[] = {
      {"no drive letters", [](ScriptedDrives&) {}, {}, {}},
      {"drive strings fail", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         standin::FailLogicalDriveStrings();
       }, {}, {}},
      {"no removable drive", [](ScriptedDrives& d) {
         d.Volume('C', "physicaldrive0", 0, FS_FAT32, DRIVE_FIXED);
         d.Volume('D', "physicaldrive1", 0, FS_FAT12, DRIVE_CDROM);
         d.Volume('E', "physicaldrive2", 0, FS_FAT12, DRIVE_REMOTE);
       }, {}, {}},
      {"A: and B: are never listed", [](ScriptedDrives& d) {
         d.Volume('A', "physicaldrive1", 0, FS_FAT12);
         d.Volume('B', "physicaldrive2", 0, FS_FAT12);
         d.Volume('E', "physicaldrive3", 0, FS_FAT12);
       }, {{"physicaldrive3", 3, 512, 2880, "E:(FAT12) "}}, {}},
      {"one disk with E:", [](ScriptedDrives& d) {
         d.Disk("physicaldrive1", {0x00, 0x00, 0x0B, 0x3F, 0x00, 0x00, 0x02, 0x00});
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
       }, {{"physicaldrive1", 1, 512, 2880, "E:(FAT16) "}}, {}},
      {"two disks", [](ScriptedDrives& d) {
         d.Disk("physicaldrive2", CapacityData(0x003BBFFF, 512));
         d.Volume('E', "physicaldrive1", 0, FS_FAT12);
         d.Volume('F', "physicaldrive2", 0, FS_FAT32);
       }, {{"physicaldrive1", 1, 512, 2880, "E:(FAT12) "},
           {"physicaldrive2", 2, 512, 0x003BC000, "F:(FAT32) "}}, {}},
      {"two volumes on one disk, one unrecognised", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         d.Volume('F', "physicaldrive1", 64, FS_UNKNOWN);
       }, {{"physicaldrive1", 1, 512, 2880, "E:(FAT16) F:(未知) "}}, {}},
      {"interleaved E:1, F:2, G:1", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         d.Volume('F', "physicaldrive2", 0, FS_FAT32);
         d.Volume('G', "physicaldrive1", 64, FS_FAT12);
       }, {{"physicaldrive1", 1, 512, 2880, "E:(FAT16) G:(FAT12) "},
           {"physicaldrive2", 2, 512, 2880, "F:(FAT32) "}}, {}},
      {"disks in the order first met", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive5", 0, FS_FAT16);
         d.Volume('F', "physicaldrive2", 0, FS_FAT16);
         d.Volume('G', "physicaldrive5", 64, FS_UNKNOWN);
         d.Volume('H', "physicaldrive2", 64, FS_FAT12);
         d.Volume('I', "physicaldrive5", 128, FS_FAT12);
       }, {{"physicaldrive5", 5, 512, 2880, "E:(FAT16) G:(未知) I:(FAT12) "},
           {"physicaldrive2", 2, 512, 2880, "F:(FAT16) H:(FAT12) "}}, {}},
      {"a volume held without sharing", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         d.Volume('F', "physicaldrive2", 0, FS_FAT16);
         d.Volume('G', "physicaldrive3", 0, FS_FAT12);
         standin::FailOpen("F:", ERROR_SHARING_VIOLATION);
       }, {{"physicaldrive1", 1, 512, 2880, "E:(FAT16) "},
           {"physicaldrive3", 3, 512, 2880, "G:(FAT12) "}}, {"F:"}},
      {"a failing device-number request", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         d.Volume('F', "physicaldrive2", 0, FS_FAT16);
         standin::FailDeviceNumber("E:");
       }, {{"physicaldrive2", 2, 512, 2880, "F:(FAT16) "}}, {}},
      {"a failing pass-through", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         standin::SetCapacityAnswer("physicaldrive1", standin::CapacityAnswer::Fail);
       }, {{"physicaldrive1", 1, 0, 0, "E:(FAT16) "}}, {}},
      {"a physical drive that cannot be opened", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         standin::FailOpen("physicaldrive1", ERROR_ACCESS_DENIED);
       }, {{"physicaldrive1", 1, 0, 0, "E:(FAT16) "}}, {}},
      {"an answer without data", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         standin::SetCapacityAnswer("physicaldrive1", standin::CapacityAnswer::NoData);
       }, {{"physicaldrive1", 1, 0, 1, "E:(FAT16) "}}, {}},
      {"last address FFFFFFFFh", [](ScriptedDrives& d) {
         d.Disk("physicaldrive1", CapacityData(0xFFFFFFFF, 512));
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
       }, {{"physicaldrive1", 1, 512, 0, "E:(FAT16) "}}, {}},
      {"the longest device number that fits the name", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         standin::SetDeviceNumber("E:", 999999);
       }, {{"physicaldrive999999", 999999, 0, 0, "E:(FAT16) "}}, {}},
      {"a device number too long for the name", [](ScriptedDrives& d) {
         d.Volume('E', "physicaldrive1", 0, FS_FAT16);
         d.Volume('F', "physicaldrive2", 0, FS_FAT16);
         standin::SetDeviceNumber("E:", 1000000);
       }, {{"physicaldrive2", 2, 512, 2880, "F:(FAT16) "}}, {}},
  };
  for (const Case& c : cases) {
    standin::Reset();
    standin::OpenDialog(StoreDialog, standin::MainDialogSpec());
    ScriptedDrives machine;
    c.script(machine);
    FillWithStaleRecords(&g_app.drives);

    EnumerateRemovableDrives(&g_app.drives);

    size_t i = 0;
    for (; i < c.records.size(); i++) {
      const DriveRecord& r = g_app.drives.records[i];
      const Expected& e = c.records[i];
      EXPECT_EQ(r.physicalName, e.physicalName) << c.name << " record " << i;
      EXPECT_EQ(r.deviceNumber, e.deviceNumber) << c.name << " record " << i;
      EXPECT_EQ(r.bytesPerSector, e.bytesPerSector) << c.name << " record " << i;
      EXPECT_EQ(r.sectorCount, e.sectorCount) << c.name << " record " << i;
      EXPECT_EQ(r.volumeText, e.volumeText) << c.name << " record " << i;
      EXPECT_EQ(r.fatKind, 0) << c.name << " record " << i;
    }
    const DriveRecord empty{};
    for (; i < DRIVE_TABLE_SIZE; i++)
      EXPECT_EQ(0, memcmp(&g_app.drives.records[i], &empty, sizeof empty)) << c.name << " record " << i;

    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), c.heldDrives.size()) << c.name;
    for (size_t b = 0; b < boxes.size(); b++) {
      EXPECT_EQ(boxes[b].text, c.heldDrives[b] + kHeld) << c.name;
      EXPECT_EQ(boxes[b].caption, "提示") << c.name;
      EXPECT_EQ(boxes[b].type, static_cast<UINT>(MB_ICONERROR | MB_OK)) << c.name;
      EXPECT_EQ(boxes[b].owner, g_app.dialog) << c.name;
    }
    EXPECT_EQ(standin::OpenDeviceHandles(), 0) << c.name;
  }
}

TEST_F(EnumerationTest, TheHeldMessageIsInCodePage936) {
  drives.Volume('F', "physicaldrive1", 0, FS_FAT16);
  standin::FailOpen("F:", ERROR_SHARING_VIOLATION);
  EnumerateRemovableDrives(&g_app.drives);
  auto boxes = standin::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  const std::string text = "F:\xC5\xCC\xD5\xFD\xB1\xBB\xC6\xE4\xCB\xFC\xB3\xCC\xD0\xF2\xCA\xB9\xD3\xC3,"
                           "\xCE\xDE\xB7\xA8\xB8\xF1\xCA\xBD\xBB\xAF!";
  EXPECT_EQ(boxes[0].text, text);
  EXPECT_EQ(boxes[0].caption, "\xCC\xE1\xCA\xBE");
}

TEST_F(EnumerationTest, AskedDevicesAndDriveNames) {
  drives.Volume('A', "physicaldrive1", 0, FS_FAT12);
  drives.Volume('E', "physicaldrive1", 64, FS_FAT16);
  drives.Volume('F', "physicaldrive1", 128, FS_FAT16);
  standin::ClearLogs();
  EnumerateRemovableDrives(&g_app.drives);

  std::vector<std::string> paths;
  for (auto& o : standin::Opens()) {
    paths.push_back(o.path);
    EXPECT_EQ(o.access, GENERIC_READ | GENERIC_WRITE) << o.path;
    EXPECT_EQ(o.share, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) << o.path;
    EXPECT_EQ(o.disposition, OPEN_EXISTING) << o.path;
    EXPECT_EQ(o.flags, FILE_ATTRIBUTE_NORMAL) << o.path;
  }
  // Each volume twice (here and in the detector), the new disk's drive once.
  EXPECT_EQ(paths, (std::vector<std::string>{"\\\\.\\E:", "\\\\.\\physicaldrive1", "\\\\.\\E:",
                                             "\\\\.\\F:", "\\\\.\\F:"}));
  std::vector<std::pair<std::string, DWORD>> numberRequests;
  for (auto& call : standin::Ioctls())
    if (call.code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
      numberRequests.push_back({call.device, call.inSize});
      EXPECT_EQ(call.outSize, 12u);
    }
  EXPECT_EQ(numberRequests, (std::vector<std::pair<std::string, DWORD>>{{"e:", 12}, {"f:", 12}}));
}

TEST_F(EnumerationTest, RequestBlockAsTheDeviceReceivesIt) {
  drives.Volume('E', "physicaldrive1", 0, FS_FAT16);
  standin::ClearLogs();
  EnumerateRemovableDrives(&g_app.drives);

  std::vector<standin::IoctlCall> requests;
  for (auto& call : standin::Ioctls())
    if (call.code == IOCTL_SCSI_PASS_THROUGH) requests.push_back(call);
  ASSERT_EQ(requests.size(), 1u);
  const standin::IoctlCall& r = requests[0];
  EXPECT_EQ(r.device, "physicaldrive1");
  EXPECT_EQ(r.inSize, 44u);
  EXPECT_EQ(r.outSize, 568u);
  ASSERT_EQ(r.input.size(), 44u);
  struct Field {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
  } fields[] = {
      {"Length", 0, {44, 0}},
      {"ScsiStatus", 2, {0}},
      {"PathId", 3, {0}},
      {"TargetId", 4, {1}},
      {"Lun", 5, {0}},
      {"CdbLength", 6, {10}},
      {"SenseInfoLength", 7, {0}},
      {"DataIn", 8, {1}},
      {"alignment", 9, {0, 0, 0}},
      {"DataTransferLength", 12, {8, 0, 0, 0}},
      {"TimeOutValue", 16, {2, 0, 0, 0}},
      {"DataBufferOffset", 20, {0x30, 0x02, 0, 0}},
      {"SenseInfoOffset", 24, {48, 0, 0, 0}},
      {"Cdb", 28, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  size_t covered = 0;
  for (const Field& f : fields) {
    std::vector<uint8_t> got(r.input.begin() + static_cast<long>(f.offset),
                             r.input.begin() + static_cast<long>(f.offset + f.bytes.size()));
    EXPECT_EQ(got, f.bytes) << f.name << " at " << f.offset;
    EXPECT_EQ(f.offset, covered) << f.name;
    covered = f.offset + f.bytes.size();
  }
  EXPECT_EQ(covered, 44u);
}

TEST_F(EnumerationTest, CapacityFailuresClearOnlyTheSectorCount) {
  drives.Disk("physicaldrive1");
  struct Case {
    const char* name;
    std::function<void()> script;
  } cases[] = {
      {"drive cannot be opened", [] { standin::FailOpen("physicaldrive1", ERROR_ACCESS_DENIED); }},
      {"no such drive", [] { standin::FailOpen("physicaldrive1", ERROR_FILE_NOT_FOUND); }},
      {"pass-through fails",
       [] { standin::SetCapacityAnswer("physicaldrive1", standin::CapacityAnswer::Fail); }},
  };
  for (const Case& c : cases) {
    c.script();
    DWORD bytesPerSector = 777, sectorCount = 888;
    EXPECT_EQ(ReadDeviceCapacity("physicaldrive1", &bytesPerSector, &sectorCount), 0u) << c.name;
    EXPECT_EQ(sectorCount, 0u) << c.name;
    EXPECT_EQ(bytesPerSector, 777u) << c.name;
    EXPECT_EQ(standin::OpenDeviceHandles(), 0) << c.name;
    standin::FailOpen("physicaldrive1", 0);
    standin::SetCapacityAnswer("physicaldrive1", standin::CapacityAnswer::FromSize);
  }
  DWORD bytesPerSector = 0, sectorCount = 0;
  EXPECT_EQ(ReadDeviceCapacity("physicaldrive1", &bytesPerSector, &sectorCount),
            ScriptedDrives::kDiskSectors);
  EXPECT_EQ(sectorCount, ScriptedDrives::kDiskSectors);
  EXPECT_EQ(bytesPerSector, 512u);
}

TEST(CapacityAnswer, DecodesBigEndianLastAddressAndBlockLength) {
  struct Case {
    std::vector<uint8_t> data;
    DWORD sectors, bytesPerSector;
  } cases[] = {
      {{0x00, 0x00, 0x0B, 0x3F, 0x00, 0x00, 0x02, 0x00}, 2880, 512},
      {{0, 0, 0, 0, 0, 0, 0, 0}, 1, 0},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00}, 0, 512},
      {{0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, 0xFFFFFFFF},
      {{0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x10, 0x00}, 0x12345679, 4096},
  };
  for (const Case& c : cases) {
    DWORD bytesPerSector = 7;
    EXPECT_EQ(DecodeCapacityAnswer(c.data.data(), &bytesPerSector), c.sectors);
    EXPECT_EQ(bytesPerSector, c.bytesPerSector);
  }
}

TEST_F(EnumerationTest, EveryVolumeOfAFullDiskIsNamed) {
  std::string expected;
  for (char letter = 'C'; letter <= 'Z'; letter++) {
    FsKind kind = letter % 2 ? FS_FAT16 : FS_FAT32;
    drives.Volume(letter, "physicaldrive1", static_cast<uint64_t>(letter - 'C') * 64, kind);
    expected += std::string(1, letter) + (kind == FS_FAT16 ? ":(FAT16) " : ":(FAT32) ");
  }
  EnumerateRemovableDrives(&g_app.drives);
  ASSERT_EQ(expected.size(), static_cast<size_t>(VOLUME_TEXT_SIZE - 1));
  EXPECT_EQ(g_app.drives.records[0].volumeText, expected);
  EXPECT_EQ(g_app.drives.records[1].physicalName[0], '\0');
}

TEST_F(EnumerationTest, TwentyFourDisksKeepAnEmptyRecordAfterThem) {
  for (char letter = 'C'; letter <= 'Z'; letter++)
    drives.Volume(letter, "physicaldrive" + std::to_string(letter - 'C' + 10), 0, FS_FAT12);
  EnumerateRemovableDrives(&g_app.drives);
  for (int i = 0; i < 24; i++) {
    EXPECT_EQ(g_app.drives.records[i].physicalName, "physicaldrive" + std::to_string(i + 10));
    EXPECT_EQ(g_app.drives.records[i].volumeText, std::string(1, static_cast<char>('C' + i)) + ":(FAT12) ");
  }
  EXPECT_EQ(g_app.drives.records[24].physicalName[0], '\0');
}

TEST_F(EnumerationTest, TheTableReadsAsEmptyWhileAMessageBoxWaits) {
  drives.Volume('E', "physicaldrive1", 0, FS_FAT16);
  drives.Volume('F', "physicaldrive2", 0, FS_FAT16);
  standin::FailOpen("F:", ERROR_SHARING_VIOLATION);
  FillWithStaleRecords(&g_app.drives);
  bool sawEmpty = false;
  standin::SetMessageBoxHandler([&](const standin::MessageBoxCall&) {
    const DriveTable empty{};
    sawEmpty = memcmp(&g_app.drives, &empty, sizeof empty) == 0;
    return IDOK;
  });
  EnumerateRemovableDrives(&g_app.drives);
  EXPECT_TRUE(sawEmpty);
  EXPECT_STREQ(g_app.drives.records[0].volumeText, "E:(FAT16) ");

  // The message comes again at every enumeration while the volume stays held.
  EnumerateRemovableDrives(&g_app.drives);
  EXPECT_EQ(standin::MessageBoxes().size(), 2u);
}

}  // namespace
