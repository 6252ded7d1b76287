// Running the built velmar-rec from a test, and reading what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/wavefile/wave_file_test_support.h"

namespace velmar::test {

// Its output and errors; Status gets the exit status.
inline std::string Rec(const std::string& Arguments, int* Status) {
  return RunCommand(std::string(VELMAR_REC) + " " + Arguments + " 2>&1", Status);
}

// The file names in Folder, sorted.
inline std::vector<std::string> Tracks(const std::string& Folder) {
  std::vector<std::string> Names;
  for (const auto& e : std::filesystem::directory_iterator(Folder))
    Names.push_back(e.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

// The audio of a WAV file.
inline Bytes Audio(const std::string& Name) {
  BlockPtr b = Parse(Name);
  EXPECT_TRUE(b) << Name;
  return b ? ReadAll(b.get(), 65536) : Bytes{};
}

}  // namespace velmar::test
