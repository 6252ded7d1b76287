// The one reader of RIFF chunk headers: a file's chunks read by position, and
// the sub-chunks of a list held in memory. Every walker of chunks (the scan of
// a WAV file, its repair, the INFO texts, the cue labels) steps through them
// here, so that a size field is read, padded and bounded one way.
//
// Plain values and functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/byte_order.h"

namespace velmar {

// Four printable characters: what a chunk's id is made of. A header whose id
// is not is no chunk (the audio ran on past a stale size, or the file is cut).
inline bool IsChunkId(const std::uint8_t* Id) {
  for (int i = 0; i < 4; ++i)
    if (Id[i] < 0x20 || Id[i] >= 0x7F) return false;
  return true;
}

// A chunk's header as the file has it: its id, declared size and where it stands.
struct TChunkHeader {
  std::uint8_t Id[4] = {};
  std::uint32_t Size = 0;   // as declared (the body may be shorter in a cut file)
  std::int64_t Offset = 0;  // of the header

  bool Is(const char* Name) const { return std::memcmp(Id, Name, 4) == 0; }
  std::uint32_t Code() const { return GetLe32(Id); }
  std::int64_t Body() const { return Offset + 8; }
  // Where the next chunk's header stands, after an odd size's pad byte.
  static std::int64_t After(std::int64_t Body, std::int64_t Size) { return Body + Size + (Size & 1); }
  std::int64_t Next() const { return After(Body(), Size); }
};

// A file opened for reading chunks by position; owns its descriptor.
class TRiffFile {
 public:
  // Opens Name read-only, or for reading and writing; Fd() < 0 when it failed (errno says why).
  explicit TRiffFile(const char* Name, bool Write = false);
  ~TRiffFile();
  TRiffFile(const TRiffFile&) = delete;
  TRiffFile& operator=(const TRiffFile&) = delete;

  int Fd() const { return FFd; }
  // Count bytes at Offset, all of them or false.
  bool ReadAt(std::int64_t Offset, void* Dest, std::int64_t Count) const;
  // The header at Offset; false when the file ends before it.
  bool ReadHeader(std::int64_t Offset, TChunkHeader& Header) const;

 private:
  int FFd = -1;
};

// Calls Visit(Header) for each sub-chunk header that lies within the Size
// bytes at Data (Header.Offset counts from Data), stepping by the declared
// sizes; the visitor sees the declared size and bounds its body itself. A
// visitor returning false ends the walk.
template <typename VisitFn>
void ForEachSubChunk(const std::uint8_t* Data, std::size_t Size, VisitFn Visit) {
  for (std::uint64_t At = 0; At + 8 <= Size;) {
    TChunkHeader h;
    std::memcpy(h.Id, Data + At, 4);
    h.Size = GetLe32(Data + At + 4);
    h.Offset = static_cast<std::int64_t>(At);
    if (!Visit(static_cast<const TChunkHeader&>(h))) return;
    At = static_cast<std::uint64_t>(h.Next());
  }
}

}  // namespace velmar
