#include "mp3/encoded_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace velmar {

namespace fs = std::filesystem;

namespace {

const fs::file_time_type kRunStarted = fs::file_time_type::clock::now();

// Whether Name was last changed before this process started (a partial file
// another, ended run left; one this run writes is newer).
bool StaleBeforeThisRun(const std::string& Name) {
  std::error_code e;
  const auto Changed = fs::last_write_time(Name, e);
  return !e && Changed < kRunStarted;
}

}  // namespace

std::string FreeOutputName(const std::string& WavName, const std::string& Extension) {
  const fs::path Wav(WavName);
  // Room in a file name (255 bytes) for "-NNNN", the extension and ".part":
  // a longer name is cut, on a character, rather than never written.
  const std::size_t Most = 255 - 5 - Extension.size() - 5;
  std::string Stem = Wav.stem().string();
  if (Stem.size() > Most) {
    std::size_t Cut = Most;
    while (Cut > 0 && (static_cast<unsigned char>(Stem[Cut]) & 0xC0) == 0x80) --Cut;
    Stem.resize(Cut);
  }
  fs::path Candidate = Wav.parent_path() / (Stem + Extension);
  std::error_code e;
  for (int n = 2; fs::exists(Candidate, e); ++n)
    Candidate = Wav.parent_path() / (Stem + "-" + std::to_string(n) + Extension);
  return Candidate.string();
}

TPartialOutput::~TPartialOutput() {
  if (FFd >= 0) ::close(FFd);
  if (!FCommitted && !FPart.empty()) ::unlink(FPart.c_str());
}

bool TPartialOutput::Open(const std::string& Final, std::string& Error) {
  FFinal = Final;
  const std::string Part = Final + ".part";
  FFd = ::open(Part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (FFd < 0 && errno == EEXIST && StaleBeforeThisRun(Part)) {
    // Left by an encode that was killed before this run began: not ours to keep.
    ::unlink(Part.c_str());
    FFd = ::open(Part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  }
  if (FFd < 0) {
    Error = "cannot write " + Part + ": " + std::strerror(errno);
    return false;
  }
  FPart = Part;
  return true;
}

bool TPartialOutput::Write(const void* Data, std::size_t Size) {
  auto* p = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t n = ::write(FFd, p, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    Size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool TPartialOutput::Commit(TEncodeResult& Result) {
  std::string& Error = Result.Error;
  if (::fsync(FFd) != 0) {
    Error = std::string("writing failed: ") + std::strerror(errno);
    return false;
  }
  ::close(FFd);
  FFd = -1;
  // Never over a file that appeared meanwhile: link fails when the name is taken.
  if (::link(FPart.c_str(), FFinal.c_str()) != 0) {
    Error = "cannot name " + FFinal + ": " + std::strerror(errno);
    return false;
  }
  ::unlink(FPart.c_str());
  FCommitted = true;
  Result.Ok = true;
  Result.Output = FFinal;
  return true;
}

}  // namespace velmar
