#include <cstring>
#include <string>

#include "discovery/drive_list.h"
#include "platform/standin/main_dialog_spec.h"
#include "support/machine_test.h"
#include "support/scripted_drives.h"
#include "ui/control_ids.h"

using namespace testsupport;

namespace {

DriveRecord RecordOf(DWORD sectors, DWORD bytesPerSector, DWORD device = 1,
                     const char* volumes = "E:(FAT16) ") {
  DriveRecord r{};
  snprintf(r.physicalName, sizeof r.physicalName, "physicaldrive%u", static_cast<unsigned>(device));
  r.sectorCount = sectors;
  r.bytesPerSector = bytesPerSector;
  r.deviceNumber = device;
  snprintf(r.volumeText, sizeof r.volumeText, "%s", volumes);
  return r;
}

std::string LineOf(const DriveRecord& r) {
  char line[DRIVE_LINE_SIZE];
  memset(line, 0x7E, sizeof line);
  FormatDriveLine(&r, line, sizeof line);
  return line;
}

TEST(DriveLine, TextsForEveryCapacity) {
  struct Case {
    DWORD sectors, bytesPerSector;
    const char* expected;
  } cases[] = {
      {2880, 512, "可移动盘1: E:(FAT16)  1.4MB"},
      {1440, 512, "可移动盘1: E:(FAT16)  720.0KB"},
      {2048, 512, "可移动盘1: E:(FAT16)  1.0MB"},
      {2047, 512, "可移动盘1: E:(FAT16)  1023.5KB"},
      {2097152, 512, "可移动盘1: E:(FAT16)  1.0GB"},
      {2097151, 512, "可移动盘1: E:(FAT16)  1024.0MB"},
      {3915776, 512, "可移动盘1: E:(FAT16)  1.9GB"},
      // Single precision turns the count into 67004008: 31.95000076..., not 31.9499...
      {67004006, 512, "可移动盘1: E:(FAT16)  32.0GB"},
      {1, 512, "可移动盘1: E:(FAT16)  512B"},
      {1, 1000, "可移动盘1: E:(FAT16)  1000B"},
      {1, 2048, "可移动盘1: E:(FAT16)  2.0KB"},
      {1, 1023, "可移动盘1: E:(FAT16)  1023B"},
      {2, 512, "可移动盘1: E:(FAT16)  1.0KB"},
      {1, 1024, "可移动盘1: E:(FAT16)  1.0KB"},
      {1, 1048576, "可移动盘1: E:(FAT16)  1.0MB"},
      {0, 512, "可移动盘 E:(FAT16)  0.000000 B "},
      {0, 0, "可移动盘 E:(FAT16)  0.000000 B "},
      {1, 0, "可移动盘 E:(FAT16)  1.000000 B "},
      // The count in single precision in the "%f" line as well.
      {4294967295u, 0, "可移动盘 E:(FAT16)  4294967296.000000 B "},
      {4294967295u, 512, "可移动盘1: E:(FAT16)  2048.0GB"},
      {4294967295u, 4294967295u, "可移动盘1: E:(FAT16)  17179869180.0GB"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LineOf(RecordOf(c.sectors, c.bytesPerSector)), c.expected)
        << c.sectors << " x " << c.bytesPerSector;
}

TEST(DriveLine, BytesInCodePage936) {
  EXPECT_EQ(LineOf(RecordOf(2880, 512, 12, "E:(FAT16) F:(未知) ")),
            "\xBF\xC9\xD2\xC6\xB6\xAF\xC5\xCC"
            "12: E:(FAT16) F:(\xCE\xB4\xD6\xAA)  1.4MB");
  EXPECT_EQ(LineOf(RecordOf(0, 0, 12, "E:(FAT16) ")),
            "\xBF\xC9\xD2\xC6\xB6\xAF\xC5\xCC E:(FAT16)  0.000000 B ");
}

TEST(DriveLine, TheLongestVolumeTextFitsWhole) {
  std::string volumes;
  for (char letter = 'C'; letter <= 'Z'; letter++) volumes += std::string(1, letter) + ":(FAT32) ";
  ASSERT_EQ(volumes.size(), static_cast<size_t>(VOLUME_TEXT_SIZE - 1));
  DriveRecord r = RecordOf(4294967295u, 4294967295u, 999999, volumes.c_str());
  EXPECT_EQ(LineOf(r), "可移动盘999999: " + volumes + " 17179869180.0GB");
  r.sectorCount = 4294967295u;
  r.bytesPerSector = 0;
  EXPECT_EQ(LineOf(r), "可移动盘 " + volumes + " 4294967296.000000 B ");
}

TEST(DriveLine, StaysWithinItsBufferAndTheRecord) {
  DriveRecord r = RecordOf(2880, 512);
  char small[12];
  memset(small, 0x7E, sizeof small);
  FormatDriveLine(&r, small, 10);
  EXPECT_EQ(strlen(small), 9u);
  EXPECT_EQ(small[10], 0x7E);
  EXPECT_EQ(small[11], 0x7E);

  // A volume text without its terminator is read no further than the field.
  memset(r.volumeText, 'X', sizeof r.volumeText);
  EXPECT_EQ(LineOf(r), "可移动盘1: " + std::string(VOLUME_TEXT_SIZE - 1, 'X') + " 1.4MB");
}

INT_PTR CALLBACK RefreshOnDeviceChange(HWND window, UINT message, WPARAM, LPARAM) {
  g_app.dialog = window;
  if (message == WM_DEVICECHANGE) RefreshDriveList();
  return 0;
}

class DriveListTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    standin::OpenDialog(RefreshOnDeviceChange, standin::MainDialogSpec());
  }
  ScriptedDrives drives;
};

const char kChooseDisk[] = "请选择盘.";

TEST_F(DriveListTest, AnEmptyTableGivesAnEmptyListAndThePrompt) {
  SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_ADDSTRING, 0, (LPARAM) "stale");
  RefreshDriveList();
  EXPECT_TRUE(standin::Items(IDC_DRIVE_LIST).empty());
  EXPECT_EQ(standin::Text(IDC_STATUS), kChooseDisk);
  EXPECT_EQ(standin::Text(IDC_STATUS), "\xC7\xEB\xD1\xA1\xD4\xF1\xC5\xCC.");
}

TEST_F(DriveListTest, OneLinePerRecordInRecordOrder) {
  drives.Disk("physicaldrive2", CapacityData(0x003BBFFF, 512));
  drives.Volume('E', "physicaldrive2", 0, FS_FAT16);
  drives.Volume('F', "physicaldrive1", 0, FS_FAT12);
  drives.Volume('G', "physicaldrive2", 64, FS_UNKNOWN);
  SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_ADDSTRING, 0, (LPARAM) "stale");
  RefreshDriveList();
  EXPECT_EQ(standin::Items(IDC_DRIVE_LIST),
            (std::vector<std::string>{"可移动盘2: E:(FAT16) G:(未知)  1.9GB",
                                      "可移动盘1: F:(FAT12)  1.4MB"}));
  EXPECT_STREQ(g_app.drives.records[0].physicalName, "physicaldrive2");
  EXPECT_STREQ(g_app.drives.records[1].physicalName, "physicaldrive1");
  EXPECT_EQ(standin::Text(IDC_STATUS), kChooseDisk);
}

// A device change dispatched while the enumeration's message box is shown.
TEST_F(DriveListTest, ARefreshDuringTheMessageBoxIsRunAfterIt) {
  drives.Volume('E', "physicaldrive1", 0, FS_FAT16);
  standin::FailOpen("E:", ERROR_SHARING_VIOLATION);
  int boxes = 0;
  bool listEmptyMeanwhile = false, tableEmptyMeanwhile = false;
  standin::SetMessageBoxHandler([&](const standin::MessageBoxCall&) {
    if (boxes++ == 0) {
      // The other program lets go of E: and a second disk arrives.
      standin::FailOpen("E:", 0);
      drives.Volume('F', "physicaldrive2", 0, FS_FAT12);
      standin::PostDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);
      standin::PumpPending();
      listEmptyMeanwhile = standin::Items(IDC_DRIVE_LIST).empty();
      tableEmptyMeanwhile = g_app.drives.records[0].physicalName[0] == '\0';
    }
    return IDOK;
  });
  RefreshDriveList();

  EXPECT_EQ(boxes, 1);
  EXPECT_TRUE(listEmptyMeanwhile);
  EXPECT_TRUE(tableEmptyMeanwhile);
  EXPECT_EQ(standin::Items(IDC_DRIVE_LIST),
            (std::vector<std::string>{"可移动盘1: E:(FAT16)  1.4MB", "可移动盘2: F:(FAT12)  1.4MB"}));
  EXPECT_STREQ(g_app.drives.records[0].physicalName, "physicaldrive1");
  EXPECT_STREQ(g_app.drives.records[1].physicalName, "physicaldrive2");
  EXPECT_EQ(g_app.drives.records[2].physicalName[0], '\0');
  EXPECT_EQ(standin::Text(IDC_STATUS), kChooseDisk);

  // Nothing stays pending: the next refresh enumerates once.
  standin::ClearLogs();
  RefreshDriveList();
  int capacityRequests = 0;
  for (auto& call : standin::Ioctls()) capacityRequests += call.code == IOCTL_SCSI_PASS_THROUGH;
  EXPECT_EQ(capacityRequests, 2);
  EXPECT_EQ(standin::Items(IDC_DRIVE_LIST).size(), 2u);
}

}  // namespace
