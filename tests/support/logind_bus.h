// A private system bus for tests: a D-Bus daemon of the test's own, made the
// process's system bus through DBUS_SYSTEM_BUS_ADDRESS, with a stand-in for
// logind on it (python3-dbusmock's logind template) unless asked for a bus
// without one. Both end with the object, and with the test's process however
// it ends (they get SIGTERM when it dies), and neither holds its output.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace velmar::test {

class LogindBus {
 public:
  explicit LogindBus(bool WithLogind = true) {
    const std::string AddressFile = Dir.File("address");
    Daemon = Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1",
                    "--address=unix:dir=" + Dir.Path()},
                   AddressFile);
    if (!WaitUntil([&] {
          std::ifstream In(AddressFile);
          return std::getline(In, Address) && !Address.empty();
        }))
      return;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", Address.c_str(), 1);
    if (!WithLogind) {
      Started = true;
      return;
    }
    Mock = Spawn({"/usr/bin/python3", "-m", "dbusmock", "--template", "logind", "--system", "-l",
                  Dir.File("logind.log")},
                 Dir.File("logind.out"));
    Started = WaitUntil([&] { return Answers(); }, std::chrono::seconds(20));
  }
  ~LogindBus() {
    for (const pid_t Pid : {Mock, Daemon}) {
      if (Pid <= 0) continue;
      ::kill(Pid, SIGTERM);
      ::waitpid(Pid, nullptr, 0);
    }
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }

  // logind's inhibitor locks as it lists them, as dbus-send prints them; empty
  // when it does not answer.
  std::string Inhibitors() const {
    int Status = -1;
    const std::string Out = RunCommand(
        "dbus-send --bus=" + Address +
            " --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 "
            "org.freedesktop.login1.Manager.ListInhibitors 2>/dev/null",
        &Status);
    return Status == 0 ? Out : std::string();
  }
  // Whether Who holds a lock on sleep, as a recording takes it.
  bool Holds(const std::string& Who) const {
    const std::string l = Inhibitors();
    return l.find("\"sleep:idle\"") != std::string::npos &&
           l.find("\"" + Who + "\"") != std::string::npos &&
           l.find("\"Recording\"") != std::string::npos && l.find("\"block\"") != std::string::npos;
  }
  bool Answers() const { return !Inhibitors().empty(); }

  bool Started = false;
  std::string Address;

 private:
  // Runs Arguments (found on the PATH) with its output into Output.
  pid_t Spawn(const std::vector<std::string>& Arguments, const std::string& Output) {
    const pid_t Parent = ::getpid();
    const pid_t Pid = ::fork();
    if (Pid != 0) return Pid;
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != Parent) ::_exit(1);  // the test ended meanwhile
    const int Out = ::open(Output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int None = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::dup2(None, 0);
    ::dup2(Out, 1);
    ::dup2(Out, 2);
    std::vector<char*> Argv;
    for (const std::string& a : Arguments) Argv.push_back(const_cast<char*>(a.c_str()));
    Argv.push_back(nullptr);
    ::execvp(Argv[0], Argv.data());
    ::_exit(127);
  }

  TempDir Dir;
  pid_t Daemon = -1, Mock = -1;
};

}  // namespace velmar::test
