#include <atomic>
#include <cstring>
#include <thread>

#include "support/dialog_test.h"

using namespace testsupport;

namespace {

const char kCaption[] = "格式化U盘";
const char kProgress[] = "正在格式化 physicaldrive1盘...";

class MainDialogTest : public DialogTest {};

TEST_F(MainDialogTest, InitialisationLeavesTheFloppyPresets) {
  AddDrive(2880);
  Open();
  EXPECT_EQ(standin::Text(IDC_STATUS), "请选择盘.");
  EXPECT_EQ(standin::Text(IDC_START), "开始格式化");
  EXPECT_TRUE(standin::Enabled(IDC_START));
  EXPECT_TRUE(standin::Enabled(IDC_DRIVE_LIST));
  EXPECT_EQ(standin::Items(IDC_DRIVE_LIST).size(), 1u);
  EXPECT_EQ(standin::Selection(IDC_DRIVE_LIST), -1);

  EXPECT_EQ(standin::Text(IDC_LABEL), "");
  EXPECT_EQ(standin::TextLimit(IDC_LABEL), 11);
  EXPECT_EQ(standin::CheckState(IDC_FILL_CHECK), BST_UNCHECKED);
  EXPECT_EQ(standin::Text(IDC_ROOT_ENTRIES), "224");
  EXPECT_EQ(standin::Text(IDC_FILL_VALUE), "F6");
  EXPECT_EQ(standin::TextLimit(IDC_FILL_VALUE), 2);
  EXPECT_EQ(standin::Items(IDC_CLUSTER_SIZE),
            (std::vector<std::string>{"512字节", "1024字节", "2048字节", "4096字节", "8192字节",
                                      "16384字节", "32768字节", "65536字节"}));
  EXPECT_EQ(standin::Selection(IDC_CLUSTER_SIZE), 0);
  EXPECT_EQ(standin::Items(IDC_FAT_COUNT), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(standin::Selection(IDC_FAT_COUNT), 1);
  EXPECT_EQ(standin::Items(IDC_LAYOUT), (std::vector<std::string>{"实际大小", "1.44M软盘"}));
  EXPECT_EQ(standin::Selection(IDC_LAYOUT), 1);
  for (int id : {IDC_ROOT_ENTRIES, IDC_CLUSTER_SIZE, IDC_FAT_COUNT, IDC_FILL_VALUE})
    EXPECT_FALSE(standin::Enabled(id)) << id;
  EXPECT_TRUE(standin::Enabled(IDC_LABEL));
  EXPECT_TRUE(standin::Enabled(IDC_FILL_CHECK));
#if EDITION_FLOPPY_CHOICE
  EXPECT_EQ(standin::CheckState(IDC_FLOPPY_720K), BST_UNCHECKED);
  EXPECT_EQ(standin::CheckState(IDC_FLOPPY_144M), BST_CHECKED);
#else
  EXPECT_FALSE(standin::Exists(IDC_FLOPPY_720K));
  EXPECT_FALSE(standin::Exists(IDC_FLOPPY_144M));
#endif
  EXPECT_TRUE(standin::MessageBoxes().empty());
}

TEST_F(MainDialogTest, RegistersForVolumeInterfaceNotifications) {
  Open();
  auto registrations = standin::Registrations();
  ASSERT_EQ(registrations.size(), 1u);
  EXPECT_EQ(registrations[0].recipient, static_cast<HANDLE>(standin::Dialog()));
  EXPECT_EQ(registrations[0].flags, 0u);
  EXPECT_TRUE(registrations[0].active);
  const std::vector<uint8_t> filter = {
      32,   0,    0,    0,    5,    0,    0,    0,    0,    0,    0,    0,    0x0D, 0x63, 0xF5, 0x53,
      0xBF, 0xB6, 0xD0, 0x11, 0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B, 0,    0,    0,    0};
  EXPECT_EQ(registrations[0].filter, filter);
  EXPECT_EQ(g_app.notification != nullptr, true);
}

TEST_F(MainDialogTest, LayoutSelectionAppliesItsPresets) {
  Open();
  standin::ShowControl(IDC_CLUSTER_SIZE, true);
  standin::ShowControl(IDC_FAT_COUNT, true);
  EnableWindow(GetDlgItem(standin::Dialog(), IDC_LABEL), FALSE);
  struct Case {
    int layout;
    const char *fill, *root;
    bool enabled;
  } cases[] = {{0, "0", "32", true}, {1, "F6", "224", false}, {0, "0", "32", true}};
  for (const Case& c : cases) {
    SendDlgItemMessageA(standin::Dialog(), IDC_CLUSTER_SIZE, CB_SETCURSEL, 5, 0);
    SendDlgItemMessageA(standin::Dialog(), IDC_FAT_COUNT, CB_SETCURSEL, 0, 0);
    ChooseItem(IDC_LAYOUT, c.layout);
    EXPECT_EQ(standin::Text(IDC_FILL_VALUE), c.fill) << c.layout;
    EXPECT_EQ(standin::Text(IDC_ROOT_ENTRIES), c.root) << c.layout;
    EXPECT_EQ(standin::Selection(IDC_CLUSTER_SIZE), 0) << c.layout;
    EXPECT_EQ(standin::Selection(IDC_FAT_COUNT), 1) << c.layout;
    for (int id : {IDC_FAT_COUNT, IDC_CLUSTER_SIZE, IDC_ROOT_ENTRIES, IDC_FILL_VALUE})
      EXPECT_EQ(standin::Enabled(id), c.enabled) << c.layout << " " << id;
    EXPECT_FALSE(standin::Enabled(IDC_LABEL)) << "the label is not the presets' business";
    EXPECT_TRUE(standin::Enabled(IDC_FILL_CHECK));
  }
}

// The focus hints, with and without a job running; rows that name other
// codes do nothing.
TEST_F(MainDialogTest, HintsFollowTheCommandTable) {
  AddDrive(2880);
  Open();
  struct Case {
    int id, code;
    const char* hint;  // null: nothing
    bool duringJob;
  } cases[] = {
      {IDC_LABEL, EN_SETFOCUS, "磁盘卷标长度不能超过11个字符", false},
      {IDC_LABEL, EN_CHANGE, nullptr, false},
      {IDC_ROOT_ENTRIES, EN_SETFOCUS, "设定盘根目录下最多存放文件数", false},
      {IDC_ROOT_ENTRIES, EN_CHANGE, nullptr, false},
      {IDC_CLUSTER_SIZE, CBN_SETFOCUS, "磁盘分配给文件的最小字节数", false},
      {IDC_CLUSTER_SIZE, CBN_SELCHANGE, nullptr, false},
      {IDC_FAT_COUNT, CBN_SETFOCUS, "1个主FAT表+1个备份FAT表(可选)", false},
      {IDC_FILL_VALUE, EN_SETFOCUS, "数据区是指存放文件内容的地方.", false},
      {IDC_LAYOUT, CBN_SETFOCUS, "可以将U盘格式化成指定大小的盘", false},
#if EDITION_FLOPPY_CHOICE
      {IDC_FLOPPY_720K, BN_CLICKED, "指定U盘格式为720K软盘格式.", true},
      {IDC_FLOPPY_720K, 5, "指定U盘格式为720K软盘格式.", true},
      {IDC_FLOPPY_144M, BN_CLICKED, "指定U盘格式为1.44M软盘格式.", true},
#endif
  };
  for (bool running : {false, true}) {
    if (running) {
      SelectAndStart();
      ASSERT_TRUE(JobRunning());
    }
    for (const Case& c : cases) {
      SetText(IDC_STATUS, "marker");
      standin::Command(c.id, c.code);
      bool shown = c.hint && (!running || c.duringJob);
      EXPECT_EQ(standin::Text(IDC_STATUS), shown ? c.hint : "marker")
          << c.id << " code " << c.code << (running ? " during a job" : "");
    }
  }
  ASSERT_TRUE(FinishJob());
  EXPECT_TRUE(standin::DefWindowProcCalls().empty());
}

#if EDITION_FLOPPY_CHOICE
TEST_F(MainDialogTest, RadioButtonsStayUsableDuringAJob) {
  AddDrive(2880);
  Open();
  SelectAndStart();
  EXPECT_EQ(standin::Text(IDC_STATUS), kProgress);
  EXPECT_TRUE(standin::UserClick(IDC_FLOPPY_144M));
  EXPECT_EQ(standin::Text(IDC_STATUS), "指定U盘格式为1.44M软盘格式.");
  EXPECT_TRUE(JobRunning());
  ASSERT_TRUE(FinishJob());
}
#endif

TEST_F(MainDialogTest, UnknownCommandsGoToTheDefaultProcedure) {
  Open();
  std::vector<int> ids = {IDOK, 1005, IDC_STATUS, IDC_ROOT_ENTRIES_LABEL};
#if !EDITION_FLOPPY_CHOICE
  ids.push_back(IDC_FLOPPY_720K);
  ids.push_back(IDC_FLOPPY_144M);
#endif
  for (int id : ids) standin::Deliver(WM_COMMAND, MAKEWPARAM(id, 7), 1234);
  auto calls = standin::DefWindowProcCalls();
  ASSERT_EQ(calls.size(), ids.size());
  for (size_t i = 0; i < ids.size(); i++) {
    EXPECT_EQ(calls[i].window, standin::Dialog());
    EXPECT_EQ(calls[i].message, WM_COMMAND);
    EXPECT_EQ(calls[i].wParam, MAKEWPARAM(ids[i], 7));
    EXPECT_EQ(calls[i].lParam, 1234);
  }
  // Listed ids never reach it, whatever their code.
  for (int id : {IDC_LABEL, IDC_FILL_CHECK, IDC_ROOT_ENTRIES, IDC_CLUSTER_SIZE, IDC_FAT_COUNT,
                 IDC_FILL_VALUE, IDC_LAYOUT})
    standin::Command(id, 0x7777);
  EXPECT_EQ(standin::DefWindowProcCalls().size(), ids.size());
}

TEST_F(MainDialogTest, FillCheckWarnsOnlyWhenTurnedOnOutsideAJob) {
  AddDrive(2880);
  Open();
  standin::ShowControl(IDC_FILL_CHECK, true);
  ASSERT_TRUE(standin::UserClick(IDC_FILL_CHECK));  // on
  ASSERT_TRUE(standin::UserClick(IDC_FILL_CHECK));  // off
  auto boxes = standin::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "警告:将数据区内的内容全部置位后,   \n文件内容将不可恢复!");
  EXPECT_EQ(boxes[0].caption, kCaption);
  EXPECT_EQ(boxes[0].type, MB_ICONWARNING);
  EXPECT_EQ(boxes[0].owner, standin::Dialog());

  CheckDlgButton(standin::Dialog(), IDC_FILL_CHECK, BST_CHECKED);
  SelectAndStart();
  standin::Command(IDC_FILL_CHECK, BN_CLICKED);
  EXPECT_EQ(standin::MessageBoxes().size(), 1u);
  ASSERT_TRUE(FinishJob());
}

TEST_F(MainDialogTest, SelectingADriveNamesItsVolumes) {
  AddDrive(2880);
  Open();
  standin::Command(IDC_DRIVE_LIST, LBN_SELCHANGE);  // no selection: nothing to name
  EXPECT_EQ(standin::Text(IDC_START), "开始格式化");
  EXPECT_EQ(standin::Text(IDC_STATUS), "请选择盘.");

  ASSERT_TRUE(standin::UserSelect(IDC_DRIVE_LIST, 0));
  std::string volume = VolumeText();
  ASSERT_FALSE(volume.empty());
  EXPECT_EQ(standin::Text(IDC_START), "开始格式化 " + volume + " 盘");
  EXPECT_EQ(standin::Text(IDC_STATUS), "!! " + volume + "盘上数据格式化后将丢失!");

  // While the start button is disabled, a selection change names nothing.
  ASSERT_TRUE(standin::UserClick(IDC_START));
  EXPECT_FALSE(standin::UserSelect(IDC_DRIVE_LIST, 0)) << "the list is disabled during a job";
  standin::Command(IDC_DRIVE_LIST, LBN_SELCHANGE);
  EXPECT_EQ(standin::Text(IDC_STATUS), kProgress);
  ASSERT_TRUE(FinishJob());
}

// The longest volume text a disk can carry is quoted whole.
TEST_F(MainDialogTest, LongVolumeTextsAreQuotedWhole) {
  Open();
  DriveRecord& record = g_app.drives.records[0];
  strcpy(record.physicalName, "physicaldrive9");
  memset(record.volumeText, 'V', VOLUME_TEXT_SIZE - 1);
  SendDlgItemMessageA(standin::Dialog(), IDC_DRIVE_LIST, LB_ADDSTRING, 0, (LPARAM) "line");
  ASSERT_TRUE(standin::UserSelect(IDC_DRIVE_LIST, 0));
  std::string volume(VOLUME_TEXT_SIZE - 1, 'V');
  EXPECT_EQ(standin::Text(IDC_START), "开始格式化 " + volume + " 盘");
  EXPECT_EQ(standin::Text(IDC_STATUS), "!! " + volume + "盘上数据格式化后将丢失!");
  ASSERT_TRUE(standin::UserClick(IDC_START));  // physicaldrive9 does not open
  EXPECT_EQ(standin::MessageBoxes().back().text, "请插上U盘重试.");
}

struct StartCase {
  const char* name;
  unsigned long long sectors;
  bool capacityFails;  // READ CAPACITY fails: the record says 0 sectors
  int layout;
  const char* rootEntries;  // null: the preset
  int clusterIndex;         // -1: the preset
  DWORD openError;          // 0: the disk opens
  const char* refusal;      // null: accepted
  UINT flags;
};

const char kTooSmall[] = "所选U盘容量小于1.44M软盘大小,请重新指定U盘大小!";
const char kZero[] = "U盘可能正被其它程序占用，请关掉其它窗口!";
const char kRootEntries[] = "目录项数不能大于32个扇区(512项),请重新设置!";
const char kCluster[] = "当前设置的簇太大,请重新设置!";

const StartCase kStartCases[] = {
    {"2880 sectors, floppy", 2880, false, 1, nullptr, -1, 0, nullptr, 0},
    {"2879 sectors, floppy", 2879, false, 1, nullptr, -1, 0, kTooSmall, MB_ICONERROR},
    {"zero capacity, floppy", 2880, true, 1, nullptr, -1, 0, kTooSmall, MB_ICONERROR},
    {"zero capacity, actual size", 2880, true, 0, nullptr, -1, 0, kZero, MB_ICONERROR},
    {"2879 sectors, actual size", 2879, false, 0, nullptr, -1, 0, nullptr, 0},
    {"sharing violation", 2880, false, 1, nullptr, -1, ERROR_SHARING_VIOLATION,
     "U盘正被其它程序占用，请关掉其它窗口!", MB_ICONERROR},
    {"open fails otherwise", 2879, false, 1, "513", -1, ERROR_FILE_NOT_FOUND, "请插上U盘重试.",
     MB_ICONERROR | MB_RETRYCANCEL},
    {"512 root entries", 2880, false, 1, "512", -1, 0, nullptr, 0},
    {"513 root entries", 2880, false, 1, "513", -1, 0, kRootEntries, MB_ICONERROR},
    {"2^31 root entries", 2880, false, 0, "2147483648", -1, 0, kRootEntries, MB_ICONERROR},
    {"4294967295 root entries", 2880, false, 0, "4294967295", -1, 0, kRootEntries, MB_ICONERROR},
    {"root entries not a number", 2880, false, 0, "abc", -1, 0, nullptr, 0},
    {"capacity before root entries", 2879, false, 1, "513", -1, 0, kTooSmall, MB_ICONERROR},
    {"zero before root entries", 2880, true, 0, "513", 7, 0, kZero, MB_ICONERROR},
    {"128-sector cluster on 127 sectors", 127, false, 0, nullptr, 7, 0, kCluster, MB_ICONERROR},
    {"128-sector cluster on 128 sectors", 128, false, 0, nullptr, 7, 0, nullptr, 0},
    {"root entries before cluster", 127, false, 0, "513", 7, 0, kRootEntries, MB_ICONERROR},
};

TEST_F(MainDialogTest, StartChecksRunInOrder) {
  for (const StartCase& c : kStartCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    AddDrive(c.sectors);
    if (c.capacityFails) standin::SetCapacityAnswer("physicaldrive1", standin::CapacityAnswer::Fail);
    Open();
    ASSERT_EQ(g_app.drives.records[0].sectorCount, c.capacityFails ? 0u : c.sectors);
    if (c.layout == 0) ChooseItem(IDC_LAYOUT, 0);
    if (c.rootEntries) SetText(IDC_ROOT_ENTRIES, c.rootEntries);
    if (c.clusterIndex >= 0)
      SendDlgItemMessageA(standin::Dialog(), IDC_CLUSTER_SIZE, CB_SETCURSEL, c.clusterIndex, 0);
    if (c.openError) standin::FailOpen("physicaldrive1", c.openError);
    standin::SetMessageBoxHandler([](const standin::MessageBoxCall&) { return IDRETRY; });
    ASSERT_TRUE(standin::UserSelect(IDC_DRIVE_LIST, 0));
    size_t changes = standin::TextChanges().size();
    standin::ClearLogs();

    ASSERT_TRUE(standin::UserClick(IDC_START));
    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(standin::Opens().size(), 1u);
    EXPECT_EQ(standin::Opens()[0].path, "\\\\.\\physicaldrive1");
    if (!c.refusal) {
      EXPECT_TRUE(boxes.empty());
      EXPECT_TRUE(JobRunning());
      EXPECT_EQ(standin::Text(IDC_STATUS), kProgress);
      EXPECT_FALSE(standin::Enabled(IDC_START));
      EXPECT_FALSE(standin::Enabled(IDC_DRIVE_LIST));
      ASSERT_TRUE(FinishJob());
    } else {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.refusal);
      EXPECT_EQ(boxes[0].caption, kCaption);
      EXPECT_EQ(boxes[0].type, c.flags);
      EXPECT_EQ(boxes[0].owner, standin::Dialog());
      EXPECT_FALSE(JobRunning());
      EXPECT_EQ(standin::TextChanges().size(), changes) << "a refused start changes no control";
      EXPECT_TRUE(standin::Enabled(IDC_START));
      EXPECT_TRUE(standin::Enabled(IDC_DRIVE_LIST));
      EXPECT_EQ(standin::Opens().size(), 1u) << "the box's answer is not acted on";
    }
    EXPECT_EQ(g_app.device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(standin::OpenDeviceHandles(), 0);
  }
}

TEST_F(MainDialogTest, StartWithoutSelectionOpensNothing) {
  AddDrive(2880);
  Open();
  standin::ClearLogs();
  ASSERT_TRUE(standin::UserClick(IDC_START));
  auto boxes = standin::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "请先选择USB盘");
  EXPECT_EQ(boxes[0].caption, kCaption);
  EXPECT_EQ(boxes[0].type, MB_ICONERROR);
  EXPECT_TRUE(standin::Opens().empty());
  EXPECT_FALSE(JobRunning());
}

TEST_F(MainDialogTest, FailedThreadStartReportsAFailureAndReturnsToIdle) {
  AddDrive(2880);
  Open();
  std::string volume = VolumeText();
  standin::FailNextCreateThread();
  standin::ClearLogs();
  SelectAndStart();
  auto boxes = standin::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, " !! " + volume + ",格式化失败,请重试!");
  EXPECT_EQ(boxes[0].type, MB_ICONINFORMATION);
  EXPECT_FALSE(JobRunning());
  EXPECT_EQ(g_app.device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(standin::OpenDeviceHandles(), 0);
  EXPECT_EQ(standin::Text(IDC_STATUS), "请先选择盘");
  EXPECT_EQ(standin::Text(IDC_START), "开始格式化" + volume + " 盘");
  EXPECT_TRUE(standin::Enabled(IDC_START));
  EXPECT_TRUE(standin::Enabled(IDC_DRIVE_LIST));
  for (auto& transfer : standin::Transfers()) EXPECT_FALSE(transfer.write);
  // And the next start runs.
  ASSERT_TRUE(standin::UserClick(IDC_START));
  EXPECT_TRUE(JobRunning());
  ASSERT_TRUE(FinishJob());
}

// What the user sees when the job-finished command arrives, and what the
// dialog has already done when its box shows.
TEST_F(MainDialogTest, JobFinishedReportsEitherOutcome) {
  for (bool succeed : {true, false}) {
    SCOPED_TRACE(succeed ? "success" : "failure");
    Fresh();
    AddDrive(2880);
    Open();
    std::string volume = VolumeText();
    struct AtBox {
      int selection = -2;
      std::string status, caption;
      bool startEnabled = true;
    } atBox;
    standin::SetMessageBoxHandler([&](const standin::MessageBoxCall&) {
      atBox = {standin::Selection(IDC_DRIVE_LIST), standin::Text(IDC_STATUS),
               standin::Text(IDC_START), standin::Enabled(IDC_START)};
      return IDOK;
    });
    if (!succeed) standin::FailTransfer("physicaldrive1", 1, standin::Fault::Fail);
    SelectAndStart();
    ASSERT_TRUE(FinishJob());

    auto boxes = standin::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, succeed ? std::string(" 盘格式化完成,请重新插拔U盘.")
                                     : " !! " + volume + ",格式化失败,请重试!");
    EXPECT_EQ(boxes[0].caption, kCaption);
    EXPECT_EQ(boxes[0].type, MB_ICONINFORMATION);
    EXPECT_TRUE(boxes[0].onUiThread);
    EXPECT_EQ(atBox.selection, succeed ? -1 : 0);
    EXPECT_EQ(atBox.status, succeed ? "请选择盘." : kProgress);
    EXPECT_EQ(atBox.caption, "开始格式化 " + volume + " 盘");
    EXPECT_FALSE(atBox.startEnabled);

    EXPECT_EQ(standin::Text(IDC_STATUS), "请先选择盘");
    EXPECT_EQ(standin::Text(IDC_START), succeed ? "开始格式化" : "开始格式化" + volume + " 盘");
    EXPECT_TRUE(standin::Enabled(IDC_START));
    EXPECT_TRUE(standin::Enabled(IDC_DRIVE_LIST));
    EXPECT_EQ(standin::Items(IDC_DRIVE_LIST).size(), 1u);
    EXPECT_EQ(standin::Sleeps(), std::vector<DWORD>{200});
    EXPECT_EQ(g_app.jobResult, succeed ? 1u : 0u);
  }
}

TEST_F(MainDialogTest, CloseIsIgnoredDuringAJobAndHonouredAfter) {
  AddDrive(2880);
  Open();
  SelectAndStart();
  standin::Command(IDCANCEL, BN_CLICKED);
  EXPECT_FALSE(standin::DialogDestroyed());
  EXPECT_TRUE(standin::Registrations()[0].active);
  EXPECT_TRUE(standin::MessageBoxes().empty());
  ASSERT_TRUE(FinishJob());
  size_t boxes = standin::MessageBoxes().size();

  standin::Command(IDCANCEL, 0);
  EXPECT_TRUE(standin::DialogDestroyed());
  EXPECT_FALSE(standin::Registrations()[0].active);
  EXPECT_EQ(standin::MessageBoxes().size(), boxes);
}

TEST_F(MainDialogTest, OnlyVolumeInterfaceArrivalAndRemovalRefresh) {
  AddDrive(2880);
  Open();
  ASSERT_TRUE(standin::UserSelect(IDC_DRIVE_LIST, 0));
  AddDrive(2880, 'F', 2);
  struct Case {
    WPARAM event;
    DWORD type;
  } ignored[] = {{DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME},
                 {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME},
                 {DBT_DEVICEARRIVAL, DBT_DEVTYP_HANDLE},
                 {DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_DEVICEINTERFACE},
                 {DBT_DEVICEREMOVEPENDING, DBT_DEVTYP_DEVICEINTERFACE},
                 {0x0007, DBT_DEVTYP_DEVICEINTERFACE}};
  for (const Case& c : ignored) standin::PostDeviceChange(c.event, c.type);
  standin::Deliver(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  standin::PumpPending();
  EXPECT_EQ(standin::Items(IDC_DRIVE_LIST).size(), 1u);
  EXPECT_EQ(standin::Selection(IDC_DRIVE_LIST), 0);

  for (WPARAM event : {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE}) {
    standin::UserSelect(IDC_DRIVE_LIST, 0);
    SetText(IDC_STATUS, "marker");
    standin::PostDeviceChange(event, DBT_DEVTYP_DEVICEINTERFACE);
    standin::PumpPending();
    EXPECT_EQ(standin::Items(IDC_DRIVE_LIST).size(), 2u);
    EXPECT_EQ(standin::Selection(IDC_DRIVE_LIST), -1);
    EXPECT_EQ(standin::Text(IDC_STATUS), "请选择盘.");
  }
}

// A volume change during a job waits for the job's end: the job keeps the
// list and the table it started with, and the report comes from the new list.
TEST_F(MainDialogTest, VolumeChangeDuringAJobRefreshesAtItsEnd) {
  AddDrive(2880);
  Open();
  std::string caption;
  standin::SetMessageBoxHandler([&](const standin::MessageBoxCall&) {
    caption = standin::Text(IDC_START);
    return IDOK;
  });
  standin::FailTransfer("physicaldrive1", 1, standin::Fault::Fail);
  SelectAndStart();
  std::string selectionCaption = standin::Text(IDC_START);
  AddDrive(2880, 'F', 2);
  DEV_BROADCAST_HDR header{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_DEVICEINTERFACE, 0};
  standin::Deliver(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&header));
  EXPECT_EQ(standin::Items(IDC_DRIVE_LIST).size(), 1u);
  EXPECT_EQ(standin::Selection(IDC_DRIVE_LIST), 0);
  EXPECT_EQ(standin::Text(IDC_STATUS), kProgress);
  ASSERT_TRUE(FinishJob());

  auto boxes = standin::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, " !! ,格式化失败,请重试!");
  EXPECT_EQ(caption, selectionCaption) << "the refresh leaves the caption as it was";
  EXPECT_EQ(standin::Items(IDC_DRIVE_LIST).size(), 2u);
  EXPECT_EQ(standin::Selection(IDC_DRIVE_LIST), -1);
  EXPECT_EQ(standin::Text(IDC_START), "开始格式化");

  // The next job after a failed one refreshes only when asked to.
  ASSERT_TRUE(standin::UserSelect(IDC_DRIVE_LIST, 1));
  standin::FailTransfer("physicaldrive2", 1, standin::Fault::Fail);
  ASSERT_TRUE(standin::UserClick(IDC_START));
  ASSERT_TRUE(FinishJob());
  EXPECT_EQ(standin::Selection(IDC_DRIVE_LIST), 1);
}

// Notifications arrive from another thread all through several jobs; under
// ThreadSanitizer this must stay clean, and every job must end.
TEST_F(MainDialogTest, NotificationsDuringJobsNeverRaceOrHang) {
  AddDrive(2880);
  Open();
  standin::ShowControl(IDC_FILL_CHECK, true);
  ASSERT_TRUE(standin::UserClick(IDC_FILL_CHECK));  // longer jobs
  std::atomic<bool> stop{false};
  std::thread notifier([&] {
    for (int i = 0; !stop && i < 30000; i++) {
      standin::PostDeviceChange(i % 2 ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEARRIVAL,
                                i % 3 ? DBT_DEVTYP_DEVICEINTERFACE : DBT_DEVTYP_VOLUME);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  int succeeded = 0;
  for (int job = 0; job < 6; job++) {
    standin::PumpPending();
    if (job % 3 == 2) standin::FailTransfer("physicaldrive1", 2, standin::Fault::Fail);
    SelectAndStart();
    ASSERT_TRUE(JobRunning());
    ASSERT_TRUE(FinishJob()) << "job " << job;
    succeeded += g_app.jobResult == 1;
    EXPECT_EQ(g_app.device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(standin::Items(IDC_DRIVE_LIST).size(), 1u);
  }
  stop = true;
  notifier.join();
  standin::PumpPending();
  EXPECT_EQ(standin::MessageBoxes().size(), 7u) << "the fill warning and one box per job";
  EXPECT_EQ(standin::OpenDeviceHandles(), 0);
  EXPECT_EQ(succeeded, 4);
}

}  // namespace
