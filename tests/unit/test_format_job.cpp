#include <sys/wait.h>

#include <cstdio>
#include <cstring>

#include "engine/boot_sector.h"
#include "support/dialog_test.h"

using namespace testsupport;

namespace {

const unsigned char kOld = 0xAA;  // what a disk holds before the format

class FormatJobTest : public DialogTest {
 protected:
  // A removable disk full of old contents, and the dialog opened on it.
  TempImage& OpenOn(unsigned sectors) {
    TempImage& image = AddDrive(sectors);
    image.Fill(0, sectors, kOld);
    Open();
    return image;
  }
  static void RunJob() {
    SelectAndStart();
    ASSERT_TRUE(FinishJob());
  }
  static void TurnFillOn() {
    standin::ShowControl(IDC_FILL_CHECK, true);
    ASSERT_TRUE(standin::UserClick(IDC_FILL_CHECK));
    ASSERT_EQ(standin::CheckState(IDC_FILL_CHECK), BST_CHECKED);
  }
  static void ChooseActualSize(const char* fillText) {
    ChooseItem(IDC_LAYOUT, 0);
    if (fillText) {
      TurnFillOn();
      standin::ShowControl(IDC_FILL_VALUE, true);
      ASSERT_TRUE(standin::UserType(IDC_FILL_VALUE, fillText));
    }
  }
  static bool ImageIsClear() {
    for (unsigned char b : g_app.image.bytes)
      if (b != 0) return false;
    return true;
  }
};

TEST_F(FormatJobTest, SuccessReleasesTheDeviceClearsTheImageAndRefreshesTheList) {
  TempImage& image = OpenOn(2880);
  RunJob();
  EXPECT_EQ(g_app.jobResult, 1u);
  EXPECT_EQ(g_app.device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(standin::OpenDeviceHandles(), 0);
  EXPECT_TRUE(ImageIsClear());
  EXPECT_EQ(standin::Items(IDC_DRIVE_LIST).size(), 1u);
  EXPECT_EQ(standin::Selection(IDC_DRIVE_LIST), -1);
  auto sector0 = image.Read(0);
  EXPECT_EQ(GetBootField(sector0.data(), BS_Signature), 0xAA55u);
  EXPECT_EQ(GetBootField(sector0.data(), BPB_TotSec16), 2880u);
  // The progress text, then the refresh's prompt, then the dialog's own.
  std::vector<std::string> statuses;
  for (auto& change : standin::TextChanges())
    if (change.id == IDC_STATUS) statuses.push_back(change.text);
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(statuses.end() - 3, statuses.end()),
            (std::vector<std::string>{"正在格式化 physicaldrive1盘...", "请选择盘.", "请先选择盘"}));
  // Without the fill the data area keeps its old contents.
  EXPECT_TRUE(AllBytes(image.Read(33, 2847), kOld));
}

// Every failing step ends the job at once; what was written before it stays.
TEST_F(FormatJobTest, FailingStepsKeepWhatWasWrittenBefore) {
  // The job's writes on a 1.44M layout: 1 boot sector, 2 FAT region, 3 first
  // FAT sector, 4 second copy's first sector, 5 root directory.
  struct Case {
    const char* name;
    bool seek;
    int nth;
    standin::Fault fault;
    int writesDone;
  } cases[] = {
      {"boot sector write fails", false, 1, standin::Fault::Fail, 0},
      {"boot sector seek refused", true, 1, standin::Fault::Fail, 0},
      {"boot sector write short", false, 1, standin::Fault::Short, 0},
      {"FAT region fill fails", false, 2, standin::Fault::Fail, 1},
      {"first FAT sector fails", false, 3, standin::Fault::Fail, 2},
      {"first FAT sector seek refused", true, 3, standin::Fault::Fail, 2},
      {"second FAT copy fails", false, 4, standin::Fault::Fail, 3},
      {"root directory fails", false, 5, standin::Fault::Fail, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    TempImage& image = OpenOn(2880);
    ASSERT_TRUE(standin::UserSelect(IDC_DRIVE_LIST, 0));
    if (c.seek)
      standin::FailSeek("physicaldrive1", c.nth);
    else
      standin::FailTransfer("physicaldrive1", c.nth, c.fault);
    RunJob();

    EXPECT_EQ(g_app.jobResult, 0u);
    EXPECT_EQ(g_app.device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(standin::OpenDeviceHandles(), 0);
    EXPECT_EQ(GetBootField(g_app.image.bytes, BPB_TotSec16), 2880u) << "the plan stays in the image";
    EXPECT_EQ(GetBootField(g_app.image.bytes, BPB_FATSz16), 9u);
    EXPECT_EQ(standin::Selection(IDC_DRIVE_LIST), 0);
    EXPECT_EQ(standin::EjectCount("physicaldrive1"), 0);

    auto sector0 = image.Read(0);
    if (c.writesDone >= 1) {
      EXPECT_EQ(0, memcmp(sector0.data(), g_app.image.bytes, 512));
    } else if (c.fault == standin::Fault::Fail) {
      EXPECT_TRUE(AllBytes(sector0, kOld));
    }
    auto fat1 = image.Read(1), fat2 = image.Read(10);
    EXPECT_EQ(AllBytes(image.Read(2, 8), 0), c.writesDone >= 2);
    EXPECT_EQ(fat1[0] == 0xF0 && fat1[1] == 0xFF && fat1[2] == 0xFF, c.writesDone >= 3);
    EXPECT_EQ(fat2[0] == 0xF0 && fat2[1] == 0xFF && fat2[2] == 0xFF, c.writesDone >= 4);
    EXPECT_TRUE(AllBytes(image.Read(19, 14), kOld)) << "the root directory is written last";
    EXPECT_TRUE(AllBytes(image.Read(33, 2847), kOld));
  }
}

// Too many clusters: planning tells the user first, then the job's failure is
// reported, and the disk is untouched.
TEST_F(FormatJobTest, ARefusedPlanIsReportedAfterPlanningsOwnBox) {
  TempImage& image = OpenOn(70000);
  ChooseActualSize(nullptr);
  std::string volume = VolumeText();
  RunJob();
  auto boxes = standin::MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text.rfind("所选分配单元不能小于", 0), 0u) << boxes[0].text;
  EXPECT_EQ(boxes[1].text, " !! " + volume + ",格式化失败,请重试!");
  EXPECT_EQ(g_app.jobResult, 0u);
  EXPECT_EQ(g_app.device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(standin::OpenDeviceHandles(), 0);
  EXPECT_TRUE(AllBytes(image.Read(0, 40), kOld));
  EXPECT_EQ(standin::Text(IDC_STATUS), "请先选择盘");
  EXPECT_EQ(standin::Selection(IDC_DRIVE_LIST), 0);
}

TEST_F(FormatJobTest, EjectsOnlyInTheFloppyFormatEdition) {
  for (bool ejectWorks : {true, false}) {
    SCOPED_TRACE(ejectWorks ? "eject works" : "eject fails");
    Fresh();
    OpenOn(2880);
    standin::SetEjectResult("physicaldrive1", ejectWorks);
    RunJob();
    EXPECT_EQ(g_app.jobResult, 1u) << "the eject's result is not looked at";
    EXPECT_EQ(standin::EjectCount("physicaldrive1"), EDITION_EJECT_AFTER_FORMAT ? 1 : 0);
    EXPECT_EQ(standin::OpenDeviceHandles(), 0);
    EXPECT_EQ(standin::MessageBoxes().back().text, " 盘格式化完成,请重新插拔U盘.");
  }
}

// Actual size on 4000 sectors: 1 reserved, 2 FATs of 16, 2 root sectors; the
// data area is sectors 35 to 3999.
TEST_F(FormatJobTest, ActualSizeFillWritesTheValueReadAsHex) {
  struct Case {
    const char* text;  // null: fill off
    unsigned char value;
  } cases[] = {{"0", 0x00}, {"FF", 0xFF}, {"10", 0x10}, {"G", 0x00}, {"", 0x00}, {"ab", 0xAB},
               {nullptr, kOld}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? std::string("fill ") + c.text : std::string("no fill"));
    Fresh();
    TempImage& image = OpenOn(4000);
    ChooseActualSize(c.text);
    RunJob();
    ASSERT_EQ(g_app.jobResult, 1u);
    auto sector0 = image.Read(0);
    ASSERT_EQ(GetBootField(sector0.data(), BPB_FATSz16), 16u);
    ASSERT_EQ(GetBootField(sector0.data(), BPB_RootEntCnt), 32u);
    EXPECT_TRUE(AllBytes(image.Read(33, 2), 0)) << "the root directory stays empty";
    EXPECT_TRUE(AllBytes(image.Read(35, 3965), c.value));
    EXPECT_EQ(standin::OpenDeviceHandles(), 0);
  }
}

TEST_F(FormatJobTest, FloppyFillCoversTheWholeDataArea) {
  struct Case {
    bool choose720K;
    unsigned first, last;
  } cases[] = {{false, 33, 2879},
#if EDITION_FLOPPY_CHOICE
               {true, 14, 1439}
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.choose720K ? "720K" : "1.44M");
    Fresh();
    TempImage& image = OpenOn(3000);
    if (c.choose720K) {
      ASSERT_TRUE(standin::UserClick(IDC_FLOPPY_720K));
    }
    TurnFillOn();
    RunJob();
    ASSERT_EQ(g_app.jobResult, 1u);
    EXPECT_TRUE(AllBytes(image.Read(c.first - 1), 0)) << "the root directory's last sector";
    EXPECT_TRUE(AllBytes(image.Read(c.first, c.last - c.first + 1), 0xF6));
    EXPECT_TRUE(AllBytes(image.Read(c.last + 1, 3000 - c.last - 1), kOld)) << "beyond the volume";
  }
}

// fsck.fat and mtools judge the volumes that whole jobs leave.
struct ToolRun {
  int status;
  std::string output;
};

ToolRun RunTool(const std::string& command) {
  ToolRun run{-1, ""};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) run.output += buffer;
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

const char kToolPath[] = "PATH=\"$PATH:/usr/sbin:/sbin\" ";

TEST_F(FormatJobTest, FormattedVolumesPassFsckAndMtools) {
  if (RunTool(std::string(kToolPath) + "command -v fsck.fat").status != 0 ||
      RunTool("command -v mdir").status != 0)
    GTEST_SKIP() << "fsck.fat or mtools not installed";
  struct Case {
    const char* name;
    unsigned sectors;
    bool actual, choose720K, fill;
    int clusterIndex;
  } cases[] = {
      {"1.44M with fill", 2880, false, false, true, 0},
#if EDITION_FLOPPY_CHOICE
      {"720K", 2880, false, true, false, 0},
#endif
      {"actual size FAT12 with fill", 4000, true, false, true, 0},
      {"actual size FAT16 over 65535 sectors", 70000, true, false, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    TempImage& image = OpenOn(c.sectors);
    if (c.actual) ChooseActualSize(c.fill ? "E5" : nullptr);
    SendDlgItemMessageA(standin::Dialog(), IDC_CLUSTER_SIZE, CB_SETCURSEL, c.clusterIndex, 0);
    if (c.choose720K) {
      ASSERT_TRUE(standin::UserClick(IDC_FLOPPY_720K));
    }
    if (c.fill && !c.actual) TurnFillOn();
    RunJob();
    ASSERT_EQ(g_app.jobResult, 1u);
    ToolRun fsck = RunTool(std::string(kToolPath) + "fsck.fat -n " + image.path());
    EXPECT_EQ(fsck.status, 0) << fsck.output;
    EXPECT_EQ(fsck.output.find("\n", fsck.output.find("\n") + 1), fsck.output.size() - 1)
        << "a version line and a summary line, nothing else:\n"
        << fsck.output;
    ToolRun mdir = RunTool("MTOOLS_SKIP_CHECK=1 mdir -i " + image.path() + " ::");
    EXPECT_EQ(mdir.status, 0) << mdir.output;
  }
}

}  // namespace
