#include "tests/support/child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace velmar::test {

ChildProcess::ChildProcess(const std::vector<std::string>& Arguments, const std::string& Folder,
                           const std::map<std::string, std::string>& Environment) {
  std::vector<char*> Argv;
  for (const std::string& a : Arguments) Argv.push_back(const_cast<char*>(a.c_str()));
  Argv.push_back(nullptr);
  FPid = ::fork();
  if (FPid < 0) throw std::runtime_error("cannot start " + Arguments.at(0));
  if (FPid == 0) {
    for (const auto& [Name, Value] : Environment) ::setenv(Name.c_str(), Value.c_str(), 1);
    if (::chdir(Folder.c_str()) == 0) ::execv(Argv[0], Argv.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (FEnded) return;
  ::kill(FPid, SIGKILL);
  ::waitpid(FPid, nullptr, 0);
}

void ChildProcess::Signal(int Number) const {
  if (!FEnded) ::kill(FPid, Number);
}

int ChildProcess::WaitForExit(std::chrono::milliseconds Limit) {
  const auto End = std::chrono::steady_clock::now() + Limit;
  while (true) {
    int Status = 0;
    const pid_t Done = ::waitpid(FPid, &Status, WNOHANG);
    if (Done == FPid) {
      FEnded = true;
      return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    }
    if (std::chrono::steady_clock::now() >= End) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace velmar::test
