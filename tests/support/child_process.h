// A program started by a test in a folder of its own with extra environment
// variables, and waited for with a time limit. The program is killed when the
// object goes, also when a test fails.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace velmar::test {

class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& Arguments, const std::string& Folder,
               const std::map<std::string, std::string>& Environment);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return FPid; }
  void Signal(int Number) const;
  // The exit status (0 to 255), 128 + the signal when a signal ended it, or -1
  // when it still runs after Limit.
  int WaitForExit(std::chrono::milliseconds Limit = std::chrono::seconds(20));

 private:
  pid_t FPid = -1;
  bool FEnded = false;
};

}  // namespace velmar::test
