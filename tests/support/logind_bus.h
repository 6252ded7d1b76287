// A private system bus for tests: a D-Bus daemon of the test's own, made the
// process's system bus through DBUS_SYSTEM_BUS_ADDRESS, with a stand-in for
// logind on it (python3-dbusmock's logind template) unless asked for a bus
// without one. Both are stopped when the object goes, also when a test fails.
#pragma once

#include <signal.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace velmar::test {

class LogindBus {
 public:
  explicit LogindBus(bool WithLogind = true) {
    int Status = -1;
    std::istringstream Out(RunCommand(
        "dbus-daemon --session --fork --print-address=1 --print-pid=1 --address=unix:dir=" +
            Dir.Path(),
        &Status));
    std::getline(Out, Address);
    Out >> DaemonPid;
    if (Status != 0 || Address.empty() || DaemonPid <= 0) return;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", Address.c_str(), 1);
    if (!WithLogind) {
      Started = true;
      return;
    }
    Mock = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template", "logind",
                                 "--system", "-l", Dir.File("logind.log")},
        Dir.Path(), std::map<std::string, std::string>{{"DBUS_SYSTEM_BUS_ADDRESS", Address}});
    Started = WaitUntil([&] { return Answers(); }, std::chrono::seconds(20));
  }
  ~LogindBus() {
    Mock.reset();
    if (DaemonPid > 0) ::kill(DaemonPid, SIGTERM);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }

  // logind's inhibitor locks as it lists them: (what, who, why, mode, uid, pid)
  // each, as dbus-send prints them; empty when it does not answer.
  std::string Inhibitors() const {
    int Status = -1;
    const std::string Out = RunCommand(
        "dbus-send --bus=" + Address +
            " --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 "
            "org.freedesktop.login1.Manager.ListInhibitors 2>/dev/null",
        &Status);
    return Status == 0 ? Out : std::string();
  }
  // Whether a lock with these texts is held now.
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
  TempDir Dir;
  int DaemonPid = -1;
  std::unique_ptr<ChildProcess> Mock;
};

}  // namespace velmar::test
