#include "tests/support/temp_dir.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velmar::test {

TempDir::TempDir() {
  std::string Pattern = (std::filesystem::temp_directory_path() / "velmar-test-XXXXXX").string();
  if (!::mkdtemp(Pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  FPath = Pattern;
}

TempDir::~TempDir() {
  std::error_code Ignored;
  std::filesystem::remove_all(FPath, Ignored);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(In), {});
}

void WriteFileBytes(const std::string& Name, const std::vector<std::uint8_t>& Bytes) {
  std::ofstream Out(Name, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(Bytes.data()),
            static_cast<std::streamsize>(Bytes.size()));
}

std::string RunCommand(const std::string& CommandLine, int* Status) {
  std::string Output;
  FILE* Pipe = ::popen(CommandLine.c_str(), "r");
  if (!Pipe) throw std::runtime_error("cannot run " + CommandLine);
  char Chunk[4096];
  size_t n;
  while ((n = std::fread(Chunk, 1, sizeof Chunk, Pipe)) > 0) Output.append(Chunk, n);
  const int Raw = ::pclose(Pipe);
  if (Status) *Status = WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
  return Output;
}

}  // namespace velmar::test
