// Running a peer program (sox, ffmpeg, ffprobe) from a test: its standard
// output, and a test failure when it does not succeed.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace velmar::test {

inline std::string Peer(const std::string& CommandLine) {
  int Status = -1;
  std::string Out = RunCommand(CommandLine, &Status);
  EXPECT_EQ(Status, 0) << CommandLine;
  return Out;
}

}  // namespace velmar::test
