#include "wavefile/cue_markers.h"
#include "wavefile/riff_chunks.h"
#include "platform/byte_order.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace velmar {

namespace {

void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutId(std::vector<std::uint8_t>& b, const char* Id) {
  b.insert(b.end(), Id, Id + 4);
}

bool WriteAll(int Fd, const std::uint8_t* p, std::size_t Count, off_t At) {
  while (Count > 0) {
    const ssize_t n = ::pwrite(Fd, p, Count, At);
    if (n <= 0) return false;
    p += n;
    At += n;
    Count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool AppendCueMarkers(const std::string& Path, const std::vector<TCueMarker>& Markers,
                      std::string& Error) {
  if (Markers.empty()) return true;
  std::vector<std::uint8_t> Chunks;
  PutId(Chunks, "cue ");
  Put32(Chunks, static_cast<std::uint32_t>(4 + 24 * Markers.size()));
  Put32(Chunks, static_cast<std::uint32_t>(Markers.size()));
  for (std::size_t i = 0; i < Markers.size(); ++i) {
    Put32(Chunks, static_cast<std::uint32_t>(i + 1));  // the point's name
    Put32(Chunks, Markers[i].Frame);                   // its place in play order
    PutId(Chunks, "data");
    Put32(Chunks, 0);  // chunk start
    Put32(Chunks, 0);  // block start
    Put32(Chunks, Markers[i].Frame);
  }
  std::vector<std::uint8_t> Adtl;
  PutId(Adtl, "adtl");
  for (std::size_t i = 0; i < Markers.size(); ++i) {
    const std::string& Text = Markers[i].Label;
    PutId(Adtl, "labl");
    Put32(Adtl, static_cast<std::uint32_t>(4 + Text.size() + 1));
    Put32(Adtl, static_cast<std::uint32_t>(i + 1));
    Adtl.insert(Adtl.end(), Text.begin(), Text.end());
    Adtl.push_back(0);
    if (Adtl.size() & 1) Adtl.push_back(0);
  }
  PutId(Chunks, "LIST");
  Put32(Chunks, static_cast<std::uint32_t>(Adtl.size()));
  Chunks.insert(Chunks.end(), Adtl.begin(), Adtl.end());

  const int Fd = ::open(Path.c_str(), O_RDWR | O_CLOEXEC);
  struct stat St {};
  std::uint8_t Head[12];
  bool Ok = Fd >= 0 && ::fstat(Fd, &St) == 0 && ::pread(Fd, Head, 12, 0) == 12 &&
            std::memcmp(Head, "RIFF", 4) == 0 && std::memcmp(Head + 8, "WAVE", 4) == 0;
  if (!Ok) {
    Error = Fd < 0 ? std::strerror(errno) : "not a RIFF WAVE file";
    if (Fd >= 0) ::close(Fd);
    return false;
  }
  // After the chunks the header covers, and the pad byte of the last one; a
  // RIFF file grows only to 4 GiB.
  const off_t End = std::min<off_t>(8 + static_cast<off_t>(GetLe32(Head + 4)), St.st_size);
  if (End & 1) Chunks.insert(Chunks.begin(), 0);
  const std::uint64_t NewSize = static_cast<std::uint64_t>(End) + Chunks.size() - 8;
  if (NewSize > 0xFFFFFFFFu) {
    ::close(Fd);
    Error = "the file is at the largest size of a WAV file";
    return false;
  }
  std::vector<std::uint8_t> Size;
  Put32(Size, static_cast<std::uint32_t>(NewSize));
  const off_t NewEnd = End + static_cast<off_t>(Chunks.size());
  Ok = WriteAll(Fd, Chunks.data(), Chunks.size(), End) &&
       (St.st_size <= NewEnd || ::ftruncate(Fd, NewEnd) == 0) && ::fdatasync(Fd) == 0 &&
       WriteAll(Fd, Size.data(), 4, 4) && ::fdatasync(Fd) == 0;
  if (!Ok) Error = std::strerror(errno);
  ::close(Fd);
  return Ok;
}

std::vector<TCueMarker> ParseCueMarkers(const std::vector<std::uint8_t>& Cue,
                                        const std::vector<std::uint8_t>& Adtl) {
  std::map<std::uint32_t, std::string> Labels;
  // The "adtl" list's sub-chunks after its type; a label's text ends at its
  // zero or with its sub-chunk, and a sub-chunk that runs past the list ends the walk.
  if (Adtl.size() >= 4)
    ForEachSubChunk(Adtl.data() + 4, Adtl.size() - 4, [&](const TChunkHeader& h) {
      const auto Room = static_cast<std::int64_t>(Adtl.size() - 4) - h.Body();
      if (h.Size < 4 || h.Size > Room) return false;
      if (h.Is("labl")) {
        const auto* Text = reinterpret_cast<const char*>(Adtl.data() + 4 + h.Body() + 4);
        Labels[GetLe32(Adtl.data() + 4 + h.Body())] = std::string(Text, strnlen(Text, h.Size - 4));
      }
      return true;
    });
  std::vector<TCueMarker> Markers;
  const std::size_t Count =
      Cue.size() >= 4 ? std::min<std::size_t>(GetLe32(Cue.data()), (Cue.size() - 4) / 24) : 0;
  for (std::size_t i = 0; i < Count; ++i) {
    const std::uint8_t* Point = &Cue[4 + 24 * i];
    const auto Label = Labels.find(GetLe32(Point));
    Markers.push_back({GetLe32(Point + 20), Label == Labels.end() ? std::string() : Label->second});
  }
  std::stable_sort(Markers.begin(), Markers.end(),
                   [](const TCueMarker& a, const TCueMarker& b) { return a.Frame < b.Frame; });
  return Markers;
}

}  // namespace velmar
