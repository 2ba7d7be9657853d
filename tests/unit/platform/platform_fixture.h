// Shared by the stand-ins' tests: a fresh host state per test and a scratch folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/host.h"
#include "platform/win32.h"

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::Reset();
    std::string pattern =
        (std::filesystem::temp_directory_path() / "langmon-platform-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    host::Reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // A path in the scratch folder.
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  std::u16string WidePath(const std::string& name) const {
    const std::string path = Path(name);
    return std::u16string(path.begin(), path.end());  // scratch paths are ASCII
  }

  static std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  std::string folder_;
};
