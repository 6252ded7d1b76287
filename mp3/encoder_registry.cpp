#include "mp3/encoder_registry.h"

#include <filesystem>

#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/registry/settings_store.h"

extern char** environ;

namespace velmar {

void WriteEncoderRegistry() {
  WriteRegValue(kEncoderRoot, kEncoderKey, "FhGEncoder", "vlfhgencr.dll");
  WriteRegValue(kEncoderRoot, kEncoderKey, "VelmEnc", "velm_enc.dll");
  WriteRegValue(kEncoderRoot, kEncoderKey, "LameEnc", "lame_enc.dll");
  WriteRegValue(kEncoderRoot, kEncoderKey, "BladeEnc", "bladeenc.dll");
  WriteRegValue(kEncoderRoot, kEncoderKey, "MP3Help", "vlfhgencr.hlp");
}

void InstallEncoderProgram(const std::string& Folder) {
  if (RegValueExists(kEncoderRoot, kEncoderKey, "Path") ||
      RegValueExists(kEncoderRoot, kEncoderKey, "Filename")) {
    // A stored program that is gone (an older build moved, a copy removed)
    // gives way to ours; one that is there is the user's choice.
    std::error_code e;
    if (std::filesystem::exists(ProgramFile(CommandLineFor(GetEncoderProgram())), e) ||
        !std::filesystem::exists(std::filesystem::path(Folder) / "velmar-mp3", e))
      return;
  }
  WriteRegValue(kEncoderRoot, kEncoderKey, "Path", Folder);
  WriteRegValue(kEncoderRoot, kEncoderKey, "Filename", "velmar-mp3");
}

std::string EncoderFileListText(const std::vector<std::string>& Files) {
  std::string Text;
  for (const std::string& File : Files) Text += File + "\r\n";
  return Text;
}

void WriteEncoderFileList(const std::vector<std::string>& Files) {
  WriteRegValue(kEncoderRoot, kEncoderKey, "FileList", EncoderFileListText(Files));
}

std::string GetEncoderProgram() {
  return ReadRegValue(kEncoderRoot, kEncoderKey, "Path", ".\\") + "\\" +
         ReadRegValue(kEncoderRoot, kEncoderKey, "Filename", "VelmarMP3EncoderDemo.exe");
}

std::string CommandLineFor(const std::string& Program) {
  if (Program.size() >= kCommandLineBuffer)
    throw EMP3HandOffError("The command line is longer than " +
                           std::to_string(kCommandLineBuffer - 1) + " characters");
  return Program;
}

std::string ProgramFile(const std::string& CommandLine) {
  std::string File = CommandLine;
  std::replace(File.begin(), File.end(), '\\', '/');
  return File;
}

TStartedProgram StartProgram(const std::string& File, std::string& Error,
                             const std::vector<std::string>& Arguments) {
  TStartedProgram Started;
  std::vector<char*> Argv{const_cast<char*>(File.c_str())};
  for (const std::string& a : Arguments) Argv.push_back(const_cast<char*>(a.c_str()));
  Argv.push_back(nullptr);
  pid_t Pid = -1;
  const int Failed = ::posix_spawn(&Pid, File.c_str(), nullptr, nullptr, Argv.data(), environ);
  if (Failed != 0) {
    Error = std::strerror(Failed);
    return Started;
  }
  Started.Pid = Pid;
  Started.ExitFd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
  return Started;
}

int ReapProgram(TStartedProgram& Program) {
  if (Program.Pid <= 0) return -1;
  int Status = 0;
  while (::waitpid(Program.Pid, &Status, 0) < 0 && errno == EINTR) {
  }
  if (Program.ExitFd >= 0) ::close(Program.ExitFd);
  Program = {};
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

}  // namespace velmar
