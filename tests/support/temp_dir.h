// A private folder for a test's files, removed with everything in it afterwards;
// and small helpers to read and write whole files and run peer programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return FPath; }
  std::string File(const std::string& Name) const { return FPath + "/" + Name; }

 private:
  std::string FPath;
};

std::vector<std::uint8_t> ReadFileBytes(const std::string& Name);
void WriteFileBytes(const std::string& Name, const std::vector<std::uint8_t>& Bytes);

// Runs a shell command line and returns its standard output; Status receives the
// exit status.
std::string RunCommand(const std::string& CommandLine, int* Status = nullptr);

}  // namespace velmar::test
