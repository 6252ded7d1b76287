// The hand-off to the MP3 encoder program through its settings: the values
// written at every start, the file list, the program's path and the command
// line (at most 511 characters, as the designed 512-byte buffer holds), and
// starting the program without a shell.
//
// Qt-free; main thread (the store is not for concurrent writers in one process).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "stream/errors.h"

namespace velmar {

inline constexpr HKEY kEncoderRoot = HKEY_CURRENT_USER;
inline constexpr const char* kEncoderKey = "\\SOFTWARE\\Velmar\\Velmar MP3 Encoder";
inline constexpr std::size_t kCommandLineBuffer = 512;

class EMP3HandOffError : public EMMError {
 public:
  using EMMError::EMMError;
};

// The five library and help file names, in the designed order.
void WriteEncoderRegistry();
// Where no installer has stored the program ("Path" and "Filename" both
// missing): Folder and "velmar-mp3", so that the command finds the encoder
// shipped beside the recorder.
void InstallEncoderProgram(const std::string& Folder);
// "FileList": every path followed by CR LF.
std::string EncoderFileListText(const std::vector<std::string>& Files);
void WriteEncoderFileList(const std::vector<std::string>& Files);
// "Path" + "\" + "Filename", with the designed defaults ".\" and
// "VelmarMP3EncoderDemo.exe".
std::string GetEncoderProgram();
// The command line as the 512-byte buffer takes it; a longer one raises
// EMP3HandOffError (nothing is ever written past the buffer).
std::string CommandLineFor(const std::string& Program);
// The file the command line names: backslashes are separators here.
std::string ProgramFile(const std::string& CommandLine);

// A started program: its process and a descriptor that becomes readable when
// it ends (so a loop can wait for it without polling).
struct TStartedProgram {
  pid_t Pid = -1;
  int ExitFd = -1;
};
// Starts File without a shell, with Arguments (none for the MP3 hand-off), in
// the current folder and environment; Pid -1 (and Error set) when it cannot be
// started.
TStartedProgram StartProgram(const std::string& File, std::string& Error,
                             const std::vector<std::string>& Arguments = {});
// Waits until it ended and releases it; returns its exit status (-1 when it
// did not end normally).
int ReapProgram(TStartedProgram& Program);

}  // namespace velmar
