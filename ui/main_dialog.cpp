#include "ui/main_dialog.h"

#include <stdio.h>
#include <string.h>

#include "discovery/drive_list.h"
#include "edition.h"
#include "engine/app_state.h"
#include "engine/format_job.h"
#include "engine/layout_planning.h"
#include "engine/sector_io.h"
#include "ui/control_ids.h"

#define BOX_CAPTION "格式化U盘"
// The sectors of a 1.44M floppy: the floppy layouts refuse smaller disks.
#define FLOPPY_144M_SECTORS 2880u
#define ROOT_ENTRIES_MAX 512u
// Every text that quotes a record's volumeText fits, with its format around it.
#define QUOTED_TEXT_SIZE (VOLUME_TEXT_SIZE + 64)

// GUID_DEVINTERFACE_VOLUME, spelt out so no header has to define it.
static const GUID kVolumeInterfaceClass = {
    0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

static const char* const kClusterSizes[] = {"512字节",   "1024字节",  "2048字节",
                                            "4096字节",  "8192字节",  "16384字节",
                                            "32768字节", "65536字节"};

static LRESULT ItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendDlgItemMessageA(g_app.dialog, id, message, wParam, lParam);
}

static void SetItemText(int id, const char* text) {
  SetWindowTextA(GetDlgItem(g_app.dialog, id), text);
}

static void SetStatus(const char* text) { SetItemText(IDC_STATUS, text); }

static void EnableItem(int id, BOOL enable) { EnableWindow(GetDlgItem(g_app.dialog, id), enable); }

static void Box(const char* text, UINT flags) {
  MessageBoxA(g_app.dialog, text, BOX_CAPTION, flags);
}

static int JobRunning(void) { return g_app.thread != INVALID_HANDLE_VALUE; }

// The record of the list's selection, or null when there is none.
static DriveRecord* SelectedRecord(void) {
  return DriveRecordAt(&g_app.drives, (int)ItemMessage(IDC_DRIVE_LIST, LB_GETCURSEL, 0, 0));
}

void ApplyLayoutPresets(int layout) {
  int floppy = layout == LAYOUT_FLOPPY;
  SetItemText(IDC_FILL_VALUE, floppy ? "F6" : "0");
  SetItemText(IDC_ROOT_ENTRIES, floppy ? "224" : "32");
  ItemMessage(IDC_CLUSTER_SIZE, CB_SETCURSEL, 0, 0);
  ItemMessage(IDC_FAT_COUNT, CB_SETCURSEL, 1, 0);
  EnableItem(IDC_FAT_COUNT, !floppy);
  EnableItem(IDC_CLUSTER_SIZE, !floppy);
  EnableItem(IDC_ROOT_ENTRIES, !floppy);
  EnableItem(IDC_FILL_VALUE, !floppy);
}

static void InitDialog(void) {
  DEV_BROADCAST_DEVICEINTERFACE_A filter;
  memset(&filter, 0, sizeof filter);
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kVolumeInterfaceClass;
  g_app.notification =
      RegisterDeviceNotificationA(g_app.dialog, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);

  ItemMessage(IDC_LABEL, EM_LIMITTEXT, 11, 0);
  ItemMessage(IDC_FILL_VALUE, EM_LIMITTEXT, 2, 0);
  for (unsigned i = 0; i < sizeof kClusterSizes / sizeof kClusterSizes[0]; i++)
    ItemMessage(IDC_CLUSTER_SIZE, CB_ADDSTRING, 0, (LPARAM)kClusterSizes[i]);
  ItemMessage(IDC_CLUSTER_SIZE, CB_SETCURSEL, 0, 0);
  ItemMessage(IDC_FAT_COUNT, CB_ADDSTRING, 0, (LPARAM) "1");
  ItemMessage(IDC_FAT_COUNT, CB_ADDSTRING, 0, (LPARAM) "2");
  ItemMessage(IDC_FAT_COUNT, CB_SETCURSEL, 1, 0);
  SetItemText(IDC_FILL_VALUE, "0");
  SetItemText(IDC_ROOT_ENTRIES, "16");
  ItemMessage(IDC_LAYOUT, CB_ADDSTRING, 0, (LPARAM) "实际大小");
  ItemMessage(IDC_LAYOUT, CB_ADDSTRING, 0, (LPARAM) "1.44M软盘");
  ItemMessage(IDC_LAYOUT, CB_SETCURSEL, LAYOUT_ACTUAL_SIZE, 0);
#if EDITION_FLOPPY_CHOICE
  CheckDlgButton(g_app.dialog, IDC_FLOPPY_144M, BST_CHECKED);
#endif
  RefreshDriveList();
  ItemMessage(IDC_LAYOUT, CB_SETCURSEL, LAYOUT_FLOPPY, 0);
  ApplyLayoutPresets(LAYOUT_FLOPPY);
}

static void SelectDrive(void) {
  DriveRecord* record = SelectedRecord();
  char text[QUOTED_TEXT_SIZE];
  if (!record) return;
  snprintf(text, sizeof text, "开始格式化 %s 盘", record->volumeText);
  SetItemText(IDC_START, text);
  snprintf(text, sizeof text, "!! %s盘上数据格式化后将丢失!", record->volumeText);
  SetStatus(text);
}

// Steps 2 to 5 of a job's end: the outcome's box, and back to Idle.
static void ReportJobOutcome(void) {
  DriveRecord* record = SelectedRecord();
  const char* drive = record ? record->volumeText : "";
  char text[QUOTED_TEXT_SIZE];
  if (g_app.jobResult != 0)
    snprintf(text, sizeof text, " %s盘格式化完成,请重新插拔U盘.", drive);
  else
    snprintf(text, sizeof text, " !! %s,格式化失败,请重试!", drive);
  Box(text, MB_ICONINFORMATION);
  SetStatus("请先选择盘");
  EnableItem(IDC_START, TRUE);
  EnableItem(IDC_DRIVE_LIST, TRUE);
  if (ItemMessage(IDC_DRIVE_LIST, LB_GETCURSEL, 0, 0) == LB_ERR) {
    SetItemText(IDC_START, "开始格式化");
  } else {
    snprintf(text, sizeof text, "开始格式化%s 盘", drive);
    SetItemText(IDC_START, text);
  }
}

// A refused start leaves no device open behind it.
static void RefuseStart(const char* text, UINT flags) {
  if (g_app.device != INVALID_HANDLE_VALUE) {
    CloseHandle(g_app.device);
    g_app.device = INVALID_HANDLE_VALUE;
  }
  Box(text, flags);
}

static void StartJob(void) {
  // The button and the list are disabled during a job; a click that still
  // arrives must not open the disk a second time under the running job.
  if (JobRunning()) return;
  DriveRecord* record = SelectedRecord();
  if (!record) {
    Box("请先选择USB盘", MB_ICONERROR);
    return;
  }
  g_app.device = OpenRawDevice(record->physicalName);
  if (g_app.device == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION)
      Box("U盘正被其它程序占用，请关掉其它窗口!", MB_ICONERROR);
    else
      Box("请插上U盘重试.", MB_ICONERROR | MB_RETRYCANCEL);
    return;
  }
  DWORD sectors = record->sectorCount;
  if (ItemMessage(IDC_LAYOUT, CB_GETCURSEL, 0, 0) == LAYOUT_FLOPPY &&
      sectors < FLOPPY_144M_SECTORS) {
    RefuseStart("所选U盘容量小于1.44M软盘大小,请重新指定U盘大小!", MB_ICONERROR);
    return;
  }
  if (sectors == 0) {
    RefuseStart("U盘可能正被其它程序占用，请关掉其它窗口!", MB_ICONERROR);
    return;
  }
  if (GetDlgItemInt(g_app.dialog, IDC_ROOT_ENTRIES, 0, FALSE) > ROOT_ENTRIES_MAX) {
    RefuseStart("目录项数不能大于32个扇区(512项),请重新设置!", MB_ICONERROR);
    return;
  }
  DWORD clusterIndex = (DWORD)ItemMessage(IDC_CLUSTER_SIZE, CB_GETCURSEL, 0, 0);
  if (((DWORD)1 << (clusterIndex & 31)) > sectors) {
    RefuseStart("当前设置的簇太大,请重新设置!", MB_ICONERROR);
    return;
  }

  char text[QUOTED_TEXT_SIZE];
  snprintf(text, sizeof text, "正在格式化 %s盘...", record->physicalName);
  SetStatus(text);
  EnableItem(IDC_START, FALSE);
  EnableItem(IDC_DRIVE_LIST, FALSE);
  g_app.jobResult = 0;
  HANDLE thread = CreateThread(0, 0, FormatThreadProc, 0, 0, 0);
  if (thread == 0) {
    // No job will post its end: release the disk and report the failure now.
    CloseHandle(g_app.device);
    g_app.device = INVALID_HANDLE_VALUE;
    ReportJobOutcome();
    return;
  }
  g_app.thread = thread;
}

static void FinishJob(void) {
  Sleep(200);
  if (g_app.thread != INVALID_HANDLE_VALUE) CloseHandle(g_app.thread);
  g_app.thread = INVALID_HANDLE_VALUE;
  // The refresh after a successful job, and one that a volume's arrival or
  // removal asked for during the job, run here on the UI thread: the worker
  // has finished with the table and the list, so no refresh overlaps its reads.
  if (g_app.jobResult != 0 || g_app.refreshDue) {
    g_app.refreshDue = 0;
    RefreshDriveList();
  }
  ReportJobOutcome();
}

static void CloseDialog(void) {
  UnregisterDeviceNotification(g_app.notification);
  DestroyWindow(g_app.dialog);
}

static void DeviceChanged(WPARAM event, LPARAM data) {
  const DEV_BROADCAST_HDR* header = (const DEV_BROADCAST_HDR*)data;
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
  // The job reads the selection and the table: its end refreshes instead.
  if (JobRunning()) {
    g_app.refreshDue = 1;
    return;
  }
  ItemMessage(IDC_DRIVE_LIST, LB_RESETCONTENT, 0, 0);
  RefreshDriveList();
}

static void HintUnlessRunning(const char* text) {
  if (!JobRunning()) SetStatus(text);
}

static INT_PTR Command(HWND window, WPARAM wParam, LPARAM lParam) {
  int id = LOWORD(wParam);
  int code = HIWORD(wParam);
  switch (id) {
    case IDCANCEL:
      if (!JobRunning()) CloseDialog();
      return 0;
    case IDC_START:
      if (code == BN_CLICKED)
        StartJob();
      else
        FinishJob();
      return 0;
    case IDC_LABEL:
      if (code == EN_SETFOCUS) HintUnlessRunning("磁盘卷标长度不能超过11个字符");
      return 0;
    case IDC_DRIVE_LIST:
      if (code == LBN_SELCHANGE && IsWindowEnabled(GetDlgItem(g_app.dialog, IDC_START)))
        SelectDrive();
      return 0;
    case IDC_FILL_CHECK:
      if (IsDlgButtonChecked(g_app.dialog, IDC_FILL_CHECK) == BST_CHECKED && !JobRunning())
        Box("警告:将数据区内的内容全部置位后,   \n文件内容将不可恢复!", MB_ICONWARNING);
      return 0;
    case IDC_ROOT_ENTRIES:
      if (code == EN_SETFOCUS) HintUnlessRunning("设定盘根目录下最多存放文件数");
      return 0;
    case IDC_CLUSTER_SIZE:
      if (code == CBN_SETFOCUS) HintUnlessRunning("磁盘分配给文件的最小字节数");
      return 0;
    case IDC_FAT_COUNT:
      if (code == CBN_SETFOCUS) HintUnlessRunning("1个主FAT表+1个备份FAT表(可选)");
      return 0;
    case IDC_FILL_VALUE:
      if (code == EN_SETFOCUS) HintUnlessRunning("数据区是指存放文件内容的地方.");
      return 0;
    case IDC_LAYOUT:
      if (code == CBN_SELCHANGE)
        ApplyLayoutPresets((int)ItemMessage(IDC_LAYOUT, CB_GETCURSEL, 0, 0));
      else if (code == CBN_SETFOCUS)
        HintUnlessRunning("可以将U盘格式化成指定大小的盘");
      return 0;
#if EDITION_FLOPPY_CHOICE
    case IDC_FLOPPY_720K:
      SetStatus("指定U盘格式为720K软盘格式.");
      return 0;
    case IDC_FLOPPY_144M:
      SetStatus("指定U盘格式为1.44M软盘格式.");
      return 0;
#endif
  }
  return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The worker reads this field while the UI thread keeps calling here; the
  // window never changes, so only the first call has anything to write.
  if (g_app.dialog != window) g_app.dialog = window;
  switch (message) {
    case WM_INITDIALOG:
      InitDialog();
      break;
    case WM_COMMAND:
      return Command(window, wParam, lParam);
    case WM_DEVICECHANGE:
      DeviceChanged(wParam, lParam);
      break;
  }
  return 0;
}
