// The stand-in answers a worker's window calls on the UI thread, as Win32
// does: a design that blocks the UI thread on the worker would hang here too.
#include <atomic>
#include <thread>

#include "platform/standin/main_dialog_spec.h"
#include "support/machine_test.h"

using namespace testsupport;

namespace {

INT_PTR CALLBACK StoreWindow(HWND window, UINT, WPARAM, LPARAM) {
  g_app.dialog = window;
  return 0;
}

TEST_F(MachineTest, WorkerWindowCallsWaitForTheUiThread) {
  standin::OpenDialog(StoreWindow, standin::MainDialogSpec());
  std::atomic<bool> done{false};
  std::thread worker([&] {
    SetWindowTextA(GetDlgItem(g_app.dialog, IDC_STATUS), "busy");
    SendDlgItemMessageA(g_app.dialog, IDC_DRIVE_LIST, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>("line"));
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(done);
  EXPECT_EQ(standin::Text(IDC_STATUS), "状态提示");
  EXPECT_TRUE(standin::PumpUntil([&] { return done.load(); }, 5000));
  worker.join();
  EXPECT_EQ(standin::Text(IDC_STATUS), "busy");
  EXPECT_EQ(standin::Items(IDC_DRIVE_LIST), std::vector<std::string>{"line"});
  auto changes = standin::TextChanges();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(changes[0].onUiThread);
}

TEST_F(MachineTest, ControlStoreFollowsTheTemplate) {
  standin::OpenDialog(StoreWindow, standin::MainDialogSpec());
  EXPECT_TRUE(standin::Visible(IDC_DRIVE_LIST));
  EXPECT_FALSE(standin::Visible(IDC_LAYOUT));
  EXPECT_EQ(standin::Exists(IDC_FLOPPY_720K), EDITION_FLOPPY_CHOICE == 1);
  // A sorted combo box keeps its items in order whatever the order of adding.
  SendDlgItemMessageA(g_app.dialog, IDC_FAT_COUNT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("2"));
  SendDlgItemMessageA(g_app.dialog, IDC_FAT_COUNT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("1"));
  EXPECT_EQ(standin::Items(IDC_FAT_COUNT), (std::vector<std::string>{"1", "2"}));
  struct Case {
    const char* text;
    UINT value;
  } ints[] = {{"224", 224}, {"", 0}, {"abc", 0}, {"12a", 0}, {"4294967295", 4294967295u},
              {"4294967296", 0}};
  for (auto& c : ints) {
    SetDlgItemTextA(g_app.dialog, IDC_ROOT_ENTRIES, c.text);
    EXPECT_EQ(GetDlgItemInt(g_app.dialog, IDC_ROOT_ENTRIES, nullptr, FALSE), c.value) << c.text;
  }
}

}  // namespace
