// A dialog with the main dialog's controls, set by the test as the user's
// choices would leave them, and one disk behind a selected drive-list line:
// what planning and the writers read while a job runs.
#pragma once

#include <memory>
#include <string>

#include "engine/app_state.h"
#include "engine/fat_writers.h"
#include "engine/layout_planning.h"
#include "engine/sector_io.h"
#include "platform/standin/main_dialog_spec.h"
#include "support/machine_test.h"

namespace testsupport {

inline INT_PTR CALLBACK StoreDialogProc(HWND window, UINT, WPARAM, LPARAM) {
  g_app.dialog = window;
  return 0;
}

struct Choice {
  int layout = 1;           // IDC_LAYOUT: 0 actual size, 1 floppy
  bool floppy720k = false;  // the floppy-format edition's radio buttons
  int clusterIndex = 0;     // IDC_CLUSTER_SIZE: 512 << index bytes
  int fatIndex = 1;         // IDC_FAT_COUNT: "1" or "2"
  std::string rootEntries = "224";
  std::string label;
};

inline Choice ActualSize(int clusterIndex, int fatIndex, int rootEntries,
                         const std::string& label = "") {
  Choice c;
  c.layout = 0;
  c.clusterIndex = clusterIndex;
  c.fatIndex = fatIndex;
  c.rootEntries = std::to_string(rootEntries);
  c.label = label;
  return c;
}

class FormatDialogTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    standin::OpenDialog(StoreDialogProc, standin::MainDialogSpec());
    static const char* const kClusterItems[] = {"512字节",   "1024字节",  "2048字节",
                                                "4096字节",  "8192字节",  "16384字节",
                                                "32768字节", "65536字节"};
    for (const char* item : kClusterItems) Add(IDC_CLUSTER_SIZE, CB_ADDSTRING, item);
    Add(IDC_FAT_COUNT, CB_ADDSTRING, "1");
    Add(IDC_FAT_COUNT, CB_ADDSTRING, "2");
    Add(IDC_LAYOUT, CB_ADDSTRING, "实际大小");
    Add(IDC_LAYOUT, CB_ADDSTRING, "1.44M软盘");
  }
  void TearDown() override {
    if (g_app.device != INVALID_HANDLE_VALUE) CloseHandle(g_app.device);
    g_app.device = INVALID_HANDLE_VALUE;
    MachineTest::TearDown();
  }

  // A fresh machine and program state, within one test.
  void Restart() {
    if (g_app.device != INVALID_HANDLE_VALUE) CloseHandle(g_app.device);
    g_app.device = INVALID_HANDLE_VALUE;
    disk.reset();
    SetUp();
  }

  // A fresh image of `sectors` behind record 0 and the only list line, selected.
  TempImage& UseDisk(unsigned long long sectors) {
    if (g_app.device != INVALID_HANDLE_VALUE) CloseHandle(g_app.device);
    disk = std::make_unique<TempImage>(sectors);
    standin::AddDisk("physicaldrive1", disk->path());
    ClearDriveTable(&g_app.drives);
    DriveRecord& r = g_app.drives.records[0];
    snprintf(r.physicalName, sizeof r.physicalName, "physicaldrive1");
    r.bytesPerSector = 512;
    r.sectorCount = static_cast<DWORD>(sectors);
    snprintf(r.volumeText, sizeof r.volumeText, "E:(FAT16) ");
    r.deviceNumber = 1;
    SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_RESETCONTENT, 0, 0);
    Add(IDC_DRIVE_LIST, LB_ADDSTRING, "physicaldrive1");
    SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_SETCURSEL, 0, 0);
    g_app.device = OpenRawDevice("physicaldrive1");
    EXPECT_NE(g_app.device, INVALID_HANDLE_VALUE);
    return *disk;
  }

  void Choose(const Choice& c) {
    SendDlgItemMessageA(g_app.dialog, IDC_LAYOUT, CB_SETCURSEL, static_cast<WPARAM>(c.layout), 0);
    SendDlgItemMessageA(g_app.dialog, IDC_CLUSTER_SIZE, CB_SETCURSEL,
                        static_cast<WPARAM>(c.clusterIndex), 0);
    SendDlgItemMessageA(g_app.dialog, IDC_FAT_COUNT, CB_SETCURSEL, static_cast<WPARAM>(c.fatIndex), 0);
    SetDlgItemTextA(g_app.dialog, IDC_ROOT_ENTRIES, c.rootEntries.c_str());
    SetDlgItemTextA(g_app.dialog, IDC_LABEL, c.label.c_str());
#if EDITION_FLOPPY_CHOICE
    CheckDlgButton(g_app.dialog, IDC_FLOPPY_720K, c.floppy720k ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(g_app.dialog, IDC_FLOPPY_144M, c.floppy720k ? BST_UNCHECKED : BST_CHECKED);
#endif
  }

  // Plan and both writers, as a job runs them; 0 at the first failed step.
  int Format() { return PlanAndWriteBootSector() && WriteFats() && WriteRootDirectory(); }

  DWORD Field(BootField f) const { return GetBootField(g_app.image.bytes, f); }

  std::unique_ptr<TempImage> disk;

 private:
  static void Add(int id, UINT message, const char* text) {
    SendDlgItemMessageA(g_app.dialog, id, message, 0, reinterpret_cast<LPARAM>(text));
  }
};

}  // namespace testsupport
