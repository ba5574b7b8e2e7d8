// The real main dialog over a scripted machine: removable volumes on disk
// images, the dialog opened on the test's thread (the UI thread), and jobs
// run to their end by pumping its messages.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "edition.h"
#include "platform/standin/main_dialog_spec.h"
#include "support/machine_test.h"
#include "ui/control_ids.h"
#include "ui/main_dialog.h"

namespace testsupport {

class DialogTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    standin::SetRealSleep(false);
  }
  void TearDown() override {
    // A worker left waiting for the UI thread must end before the machine goes.
    if (JobRunning()) FinishJob();
    MachineTest::TearDown();
    images_.clear();
  }

  // A fresh machine and program state inside one test, for tables of cases.
  void Fresh() {
    if (JobRunning()) FinishJob();
    standin::Reset();
    ResetAppState();
    images_.clear();
    standin::SetRealSleep(false);
  }

  // Removable volume letter: on physicaldrive<number>, a disk of this many sectors.
  TempImage& AddDrive(unsigned long long sectors, char letter = 'E', int number = 1) {
    images_.push_back(std::make_unique<TempImage>(sectors));
    std::string disk = "physicaldrive" + std::to_string(number);
    std::string volume = std::string(1, letter) + ":";
    standin::AddDisk(disk, images_.back()->path());
    standin::AddVolume(volume, disk);
    standin::SetDrive(letter, DRIVE_REMOVABLE);
    return *images_.back();
  }

  void Open() { standin::OpenDialog(MainDialogProc, standin::MainDialogSpec()); }

  // The volume text of a record, read while no job runs.
  static std::string VolumeText(int index = 0) { return g_app.drives.records[index].volumeText; }

  static bool JobRunning() { return g_app.thread != INVALID_HANDLE_VALUE; }

  // Pumps until the job-finished command has been handled; false if it never comes.
  static bool FinishJob() {
    return standin::PumpUntil([] { return g_app.thread == INVALID_HANDLE_VALUE; }, 60000);
  }

  // Selects line 0 and presses the start button.
  static void SelectAndStart() {
    ASSERT_TRUE(standin::UserSelect(IDC_DRIVE_LIST, 0));
    ASSERT_TRUE(standin::UserClick(IDC_START));
  }

  // Shows a hidden control as a build of the full dialog would, and selects an item.
  static void ChooseItem(int id, int index) {
    standin::ShowControl(id, true);
    ASSERT_TRUE(standin::UserSelect(id, index));
  }

  static void SetText(int id, const std::string& text) {
    SetDlgItemTextA(standin::Dialog(), id, text.c_str());
  }

  static std::vector<standin::MessageBoxCall> BoxesSince(size_t first) {
    auto all = standin::MessageBoxes();
    return std::vector<standin::MessageBoxCall>(all.begin() + static_cast<long>(std::min(first, all.size())),
                                                all.end());
  }

 private:
  std::vector<std::unique_ptr<TempImage>> images_;
};

}  // namespace testsupport
