// Volumes formatted by planning and the writers, judged by real FAT tools:
// fsck.fat must find nothing wrong and mtools must list the volume, take a
// file in and give it back byte for byte.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "support/format_dialog.h"

using namespace testsupport;

namespace {

struct RunResult {
  int status = -1;
  std::string output;
};

RunResult RunCommand(const std::string& command) {
  RunResult r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
  int raw = pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

std::string FindTool(const std::string& name) {
  const char* dirs[] = {"/usr/sbin", "/sbin", "/usr/bin", "/bin", "/usr/local/bin", "/usr/local/sbin"};
  for (const char* d : dirs) {
    std::string path = std::string(d) + "/" + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return "";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

class FatToolsTest : public FormatDialogTest {
 protected:
  void SetUp() override {
    FormatDialogTest::SetUp();
    fsck = FindTool("fsck.fat");
    mdir = FindTool("mdir");
    mcopy = FindTool("mcopy");
    if (fsck.empty() || mdir.empty() || mcopy.empty())
      GTEST_SKIP() << "fsck.fat and mtools are needed (tools/setup.sh installs dosfstools and mtools)";
  }

  // fsck.fat -n: a clean volume, apart from the remarks that our label
  // layout draws by design (the boot sector says "NO NAME    ", and a label
  // outside ASCII is one it cannot decode).
  void ExpectFsckClean(const std::string& image, const std::string& label) {
    bool labelled = !label.empty();
    bool ascii = true;
    for (char c : label) ascii &= static_cast<unsigned char>(c) < 0x80;
    RunResult r = RunCommand(fsck + " -n " + image);
    SCOPED_TRACE(r.output);
    auto lines = Lines(r.output);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front().rfind("fsck.fat ", 0), 0u);
    EXPECT_EQ(lines.back().rfind(image + ": ", 0), 0u);
    int remarks = 0;
    bool sawNoLabelInBootSector = false, sawUndecodable = false;
    for (size_t i = 1; i + 1 < lines.size(); i++) {
      const std::string& line = lines[i];
      bool noLabel = line.rfind("There is no label in boot sector, but there is volume label '", 0) == 0 &&
                     EndsWith(line, "' stored in root directory");
      bool undecodable = line.rfind("Volume label '", 0) == 0 &&
                         EndsWith(line, "' stored in root directory is not valid.");
      if (labelled && (noLabel || undecodable)) {
        remarks++;
        sawNoLabelInBootSector |= noLabel;
        sawUndecodable |= undecodable;
        // What fsck.fat would do about it; -n does nothing.
        while (i + 2 < lines.size() && lines[i + 1].rfind("  ", 0) == 0) i++;
        continue;
      }
      if (remarks > 0 && (line.empty() || line == "Leaving filesystem unchanged.")) continue;
      ADD_FAILURE() << "fsck.fat remark: " << line;
    }
    // One remark on a labelled volume: an undecodable label is dropped before
    // fsck.fat compares it with the boot sector.
    EXPECT_EQ(remarks, labelled ? 1 : 0);
    EXPECT_EQ(sawNoLabelInBootSector, labelled && ascii);
    EXPECT_EQ(sawUndecodable, labelled && !ascii);
    EXPECT_EQ(r.status, labelled ? 1 : 0);
  }

  // mtools lists the volume with its label, and a file goes in and comes
  // back unchanged.
  void ExpectMtoolsRoundTrip(const std::string& image, const std::string& label,
                             size_t fileSize) {
    std::string env = "MTOOLSRC=/dev/null ";
    RunResult list = RunCommand(env + mdir + " -i " + image + " ::");
    SCOPED_TRACE(list.output);
    EXPECT_EQ(list.status, 0);
    if (label.empty()) {
      EXPECT_NE(list.output.find("Volume in drive : has no label"), std::string::npos);
    } else if (static_cast<unsigned char>(label[0]) < 0x80) {
      EXPECT_NE(list.output.find("Volume in drive : is " + label), std::string::npos);
    } else {
      EXPECT_NE(list.output.find("Volume in drive : is "), std::string::npos);
    }

    std::string in = image + ".in", out = image + ".out";
    std::vector<char> data(fileSize);
    std::mt19937 random(static_cast<unsigned>(fileSize));
    for (char& c : data) c = static_cast<char>(random());
    std::ofstream(in, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    RunResult put = RunCommand(env + mcopy + " -i " + image + " " + in + " ::DATA.BIN");
    EXPECT_EQ(put.status, 0) << put.output;
    RunResult get = RunCommand(env + mcopy + " -n -i " + image + " ::DATA.BIN " + out);
    EXPECT_EQ(get.status, 0) << get.output;
    std::ifstream back(out, std::ios::binary);
    std::vector<char> returned((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(returned == data) << "file of " << fileSize << " bytes came back as "
                                  << returned.size() << " bytes";
    std::remove(in.c_str());
    std::remove(out.c_str());
  }

  std::string fsck, mdir, mcopy;
};

struct VolumeRow {
  const char* name;
  unsigned long long sectors;
  Choice choice;
};


Choice Floppy(bool k720, const std::string& label = "") {
  Choice c;
  c.floppy720k = k720;
  c.label = label;
  return c;
}

TEST_F(FatToolsTest, EveryLayoutIsACleanVolumeThatTakesAFile) {
  const VolumeRow rows[] = {
      {"1.44M", 2880, Floppy(false)},
      {"1.44M, labelled", 2880, Floppy(false, "FLOPPY")},
#if EDITION_FLOPPY_CHOICE
      {"720K", 1440, Floppy(true)},
      {"720K, labelled", 1440, Floppy(true, "SMALL")},
#endif
      {"1.44M on a larger disk", 100000, Floppy(false, "BIG DISK")},
      {"one cluster", 36, ActualSize(0, 1, 512)},
      {"FAT12 at 4084 clusters", 4149, ActualSize(0, 1, 512)},
      {"FAT16 at 4085 clusters", 4150, ActualSize(0, 1, 512, "EDGE")},
      {"FAT16 at 65524 clusters, 32-bit total", 66069, ActualSize(0, 1, 512, "TOP")},
      {"FAT16 at 65524 clusters, one FAT", 65782, ActualSize(0, 0, 16)},
      {"FAT16, 17 root entries, grown FAT", 8000, ActualSize(0, 1, 17, "ODD")},
      {"FAT16, last 16-bit total, grown FAT", 65535, ActualSize(0, 1, 32)},
      {"FAT16, first 32-bit total", 65536, ActualSize(1, 1, 224, "K2")},
      {"FAT12, 2K clusters, one FAT", 8000, ActualSize(2, 0, 64, "ONE FAT")},
      {"FAT16, 2K clusters", 40000, ActualSize(2, 1, 224)},
      {"FAT16, 4K clusters, one FAT", 70000, ActualSize(3, 0, 512, "ABCDEFGHIJK")},
      {"FAT12, 8K clusters", 30000, ActualSize(4, 1, 224, "数据盘")},
      {"FAT16, 16K clusters", 200000, ActualSize(5, 1, 512)},
      {"FAT16, 32K clusters, one FAT", 600000, ActualSize(6, 0, 224, "逍遥")},
      {"FAT12, 64K clusters", 40000, ActualSize(7, 1, 16, "HUGE")},
      {"FAT16, 64K clusters", 600000, ActualSize(7, 1, 512)},
  };
  for (const VolumeRow& r : rows) {
    SCOPED_TRACE(r.name);
    Restart();
    TempImage& image = UseDisk(r.sectors);
    Choose(r.choice);
    ASSERT_EQ(Format(), 1);
    DWORD clusterBytes = GetBootField(g_app.image.bytes, BPB_SecPerClus) * 512;
    DWORD rootSectors = (GetBootField(g_app.image.bytes, BPB_RootEntCnt) * 32 + 511) / 512;
    DWORD clusters = (BootTotalSectors(g_app.image.bytes) - 1 -
                      GetBootField(g_app.image.bytes, BPB_NumFATs) *
                          GetBootField(g_app.image.bytes, BPB_FATSz16) -
                      rootSectors) /
                     GetBootField(g_app.image.bytes, BPB_SecPerClus);
    bool oddRoot = GetBootField(g_app.image.bytes, BPB_RootEntCnt) % 16 != 0;
    if (!oddRoot) ExpectFsckClean(image.path(), r.choice.label);
    size_t fileSize = clusters >= 3 ? 3 * clusterBytes - 100 : clusterBytes - 7;
    ExpectMtoolsRoundTrip(image.path(), r.choice.label, fileSize);
    // mtools' own writes leave a volume that is still clean.
    if (!oddRoot) ExpectFsckClean(image.path(), r.choice.label);
  }
}

}  // namespace
