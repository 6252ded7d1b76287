#include "wavefile/wave_repair.h"
#include "platform/byte_order.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace velmar {

namespace {

struct TFd {
  int Fd = -1;
  ~TFd() {
    if (Fd >= 0) ::close(Fd);
  }
};

bool ReadAt(int Fd, std::int64_t At, void* Data, std::size_t Size) {
  return ::pread(Fd, Data, Size, At) == static_cast<ssize_t>(Size);
}


bool WriteLe32(int Fd, std::int64_t At, std::uint32_t v) {
  const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                             static_cast<std::uint8_t>(v >> 16),
                             static_cast<std::uint8_t>(v >> 24)};
  return ::pwrite(Fd, b, 4, At) == 4;
}

bool ChunkId(const std::uint8_t* p) {
  return std::all_of(p, p + 4, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

// Whether the bytes from At to End are whole chunks (each header a readable
// id and a size within the file, a pad byte after odd sizes).
bool ChunksTo(int Fd, std::int64_t At, std::int64_t End) {
  while (At + 8 <= End) {
    std::uint8_t h[8];
    if (!ReadAt(Fd, At, h, 8) || !ChunkId(h)) return false;
    const std::int64_t Next = At + 8 + GetLe32(h + 4) + (GetLe32(h + 4) & 1);
    if (Next > End + 1) return false;  // a missing last pad byte is common
    At = Next;
  }
  return At >= End;
}

TRepairResult Refuse(const std::string& Why) {
  return {TRepairOutcome::Refused, Why};
}

}  // namespace

TRepairResult RepairWaveFile(const std::string& Name, bool CheckOnly) {
  TFd File;
  File.Fd = ::open(Name.c_str(), (CheckOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (File.Fd < 0) return Refuse(std::string("cannot be opened: ") + std::strerror(errno));
  struct stat St {};
  if (::fstat(File.Fd, &St) != 0 || !S_ISREG(St.st_mode)) return Refuse("not a file");
  const std::int64_t Size = St.st_size;
  std::uint8_t Head[12];
  if (!ReadAt(File.Fd, 0, Head, 12) || std::memcmp(Head + 8, "WAVE", 4) != 0)
    return Refuse("not a WAV file");
  if (std::memcmp(Head, "RF64", 4) == 0)
    return {TRepairOutcome::Fine, "an RF64 file, left as it is"};
  if (std::memcmp(Head, "RIFF", 4) != 0) return Refuse("not a WAV file");

  // The chunks before the audio must be whole: they are what says what the audio is.
  std::int64_t At = 12, DataOffset = -1;
  std::uint32_t Declared = 0, BlockAlign = 0;
  while (At + 8 <= Size) {
    std::uint8_t h[8];
    if (!ReadAt(File.Fd, At, h, 8) || !ChunkId(h)) break;
    const std::uint32_t Length = GetLe32(h + 4);
    if (std::memcmp(h, "data", 4) == 0) {
      DataOffset = At + 8;
      Declared = Length;
      break;
    }
    if (At + 8 + Length > Size) break;
    if (std::memcmp(h, "fmt ", 4) == 0 && Length >= 14) {
      std::uint8_t Align[2];
      if (ReadAt(File.Fd, At + 8 + 12, Align, 2)) BlockAlign = Align[0] | Align[1] << 8;
    }
    At += 8 + Length + (Length & 1);
  }
  if (BlockAlign == 0) return Refuse("a WAV file without a readable format before its audio");
  if (DataOffset < 0) return Refuse("a WAV file without audio data");

  const std::int64_t Present = Size - DataOffset;
  const std::int64_t Whole = Present / BlockAlign * BlockAlign;
  std::int64_t Data = Declared;
  // Right as it is: the declared audio is there, and what follows it is chunks
  // (or less than a frame: the partial frame a crash left, which mending keeps).
  const std::int64_t Tail = Present - Declared;
  const bool DataRight =
      Declared <= Present &&
      (Tail < BlockAlign || ChunksTo(File.Fd, DataOffset + Declared + (Declared & 1), Size));
  if (!DataRight) Data = std::min<std::int64_t>(Whole, 0xFFFFFFFFll - DataOffset);
  const std::int64_t End =
      DataRight ? Size : DataOffset + Data + ((Data & 1) && DataOffset + Data < Size);
  const std::uint32_t RiffDeclared = GetLe32(Head + 4);
  const std::uint32_t Riff =
      static_cast<std::uint32_t>(std::min<std::int64_t>(End - 8, 0xFFFFFFFFll));
  // Files of other programs may carry bytes after their RIFF form, or a RIFF
  // size that counts a missing pad byte: only a size that hides the audio or
  // claims more than the file holds is wrong.
  const std::int64_t RiffEnd = std::int64_t{RiffDeclared} + 8;
  if (DataRight && RiffEnd >= DataOffset + Data && RiffEnd <= Size + 1)
    return {TRepairOutcome::Fine, "fine, left as it is"};
  const std::string Was = "the header said " + std::to_string(Declared) + " bytes of audio";
  const std::string Now =
      std::to_string(Data / BlockAlign) + " whole frames (" + std::to_string(Data) + " bytes)";
  if (CheckOnly)
    return {TRepairOutcome::Mended, "needs mending: " + Was + ", the file holds " + Now};
  if (!WriteLe32(File.Fd, DataOffset - 4, static_cast<std::uint32_t>(Data)) ||
      !WriteLe32(File.Fd, 4, Riff) || ::fsync(File.Fd) != 0)
    return Refuse(std::string("could not be mended: ") + std::strerror(errno));
  return {TRepairOutcome::Mended, "mended: " + Was + ", it now says " + Now};
}

std::vector<std::string> RepairCrashedTracks(const std::string& Folder) {
  std::vector<std::string> Mended;
  std::error_code e;
  for (const auto& Entry : std::filesystem::directory_iterator(Folder, e)) {
    std::string Extension = Entry.path().extension().string();
    std::transform(Extension.begin(), Extension.end(), Extension.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (Extension != ".wav" || !Entry.is_regular_file(e)) continue;
    if (RepairWaveFile(Entry.path().string()).Outcome == TRepairOutcome::Mended)
      Mended.push_back(Entry.path().filename().string());
  }
  std::sort(Mended.begin(), Mended.end());
  return Mended;
}

}  // namespace velmar
