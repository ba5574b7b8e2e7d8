// A fresh simulated machine and program state for every test, and disk
// image files that disappear with the test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/app_state.h"
#include "platform/standin/machine.h"

namespace testsupport {

// A sparse image file of the given number of 512-byte sectors.
class TempImage {
 public:
  explicit TempImage(unsigned long long sectors) {
    char path[] = "/tmp/sf-image-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) std::abort();
    if (ftruncate(fd, static_cast<off_t>(sectors * 512)) != 0) std::abort();
    close(fd);
    path_ = path;
  }
  ~TempImage() { std::remove(path_.c_str()); }
  TempImage(const TempImage&) = delete;
  TempImage& operator=(const TempImage&) = delete;
  const std::string& path() const { return path_; }

  std::vector<unsigned char> Read(unsigned long long lba, unsigned count = 1) const {
    std::vector<unsigned char> data(count * 512ull);
    std::ifstream f(path_, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(lba * 512));
    f.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return data;
  }
  void Write(unsigned long long lba, const std::vector<unsigned char>& data) const {
    std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(lba * 512));
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  void Fill(unsigned long long lba, unsigned count, unsigned char value) const {
    Write(lba, std::vector<unsigned char>(count * 512ull, value));
  }

 private:
  std::string path_;
};

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    ResetAppState();
  }
  void TearDown() override {
    standin::Reset();
    ResetAppState();
  }
};

inline bool AllBytes(const std::vector<unsigned char>& data, unsigned char value) {
  for (unsigned char b : data)
    if (b != value) return false;
  return true;
}

}  // namespace testsupport
