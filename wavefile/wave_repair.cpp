#include "wavefile/wave_repair.h"
#include "platform/byte_order.h"
#include "wavefile/riff_chunks.h"

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

bool WriteLe32(int Fd, std::int64_t At, std::uint32_t v) {
  std::uint8_t b[4];
  PutLe32(b, v);
  return ::pwrite(Fd, b, 4, At) == 4;
}

// Whether the bytes from At to End are whole chunks (each header a readable
// id and a size within the file, a pad byte after odd sizes).
bool ChunksTo(const TRiffFile& File, std::int64_t At, std::int64_t End) {
  while (At + 8 <= End) {
    TChunkHeader h;
    if (!File.ReadHeader(At, h) || !IsChunkId(h.Id)) return false;
    if (h.Next() > End + 1) return false;  // a missing last pad byte is common
    At = h.Next();
  }
  return At >= End;
}

TRepairResult Refuse(const std::string& Why) {
  return {TRepairOutcome::Refused, Why};
}

}  // namespace

TRepairResult RepairWaveFile(const std::string& Name, bool CheckOnly) {
  const TRiffFile File(Name.c_str(), !CheckOnly);
  if (File.Fd() < 0) return Refuse(std::string("cannot be opened: ") + std::strerror(errno));
  struct stat St {};
  if (::fstat(File.Fd(), &St) != 0 || !S_ISREG(St.st_mode)) return Refuse("not a file");
  const std::int64_t Size = St.st_size;
  std::uint8_t Head[12];
  if (!File.ReadAt(0, Head, 12) || std::memcmp(Head + 8, "WAVE", 4) != 0)
    return Refuse("not a WAV file");
  if (std::memcmp(Head, "RF64", 4) == 0)
    return {TRepairOutcome::Fine, "an RF64 file, left as it is"};
  if (std::memcmp(Head, "RIFF", 4) != 0) return Refuse("not a WAV file");

  // The chunks before the audio must be whole: they are what says what the audio is.
  std::int64_t At = 12, DataOffset = -1;
  std::uint32_t Declared = 0, BlockAlign = 0;
  while (At + 8 <= Size) {
    TChunkHeader h;
    if (!File.ReadHeader(At, h) || !IsChunkId(h.Id)) break;
    if (h.Is("data")) {
      DataOffset = h.Body();
      Declared = h.Size;
      break;
    }
    if (h.Body() + h.Size > Size) break;
    if (h.Is("fmt ") && h.Size >= 14) {
      std::uint8_t Align[2];
      if (File.ReadAt(h.Body() + 12, Align, 2)) BlockAlign = GetLe16(Align);
    }
    At = h.Next();
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
      (Tail < BlockAlign || ChunksTo(File, DataOffset + Declared + (Declared & 1), Size));
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
  if (!WriteLe32(File.Fd(), DataOffset - 4, static_cast<std::uint32_t>(Data)) ||
      !WriteLe32(File.Fd(), 4, Riff) || ::fsync(File.Fd()) != 0)
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
