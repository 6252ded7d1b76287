#include "wavefile/riff_chunks.h"

#include <fcntl.h>
#include <unistd.h>

namespace velmar {

TRiffFile::TRiffFile(const char* Name, bool Write)
    : FFd(::open(Name, (Write ? O_RDWR : O_RDONLY) | O_CLOEXEC)) {}

TRiffFile::~TRiffFile() {
  if (FFd >= 0) ::close(FFd);
}

bool TRiffFile::ReadAt(std::int64_t Offset, void* Dest, std::int64_t Count) const {
  auto* p = static_cast<std::uint8_t*>(Dest);
  while (Count > 0) {
    const ssize_t n = ::pread(FFd, p, static_cast<std::size_t>(Count), Offset);
    if (n <= 0) return false;
    p += n;
    Offset += n;
    Count -= n;
  }
  return true;
}

bool TRiffFile::ReadHeader(std::int64_t Offset, TChunkHeader& Header) const {
  std::uint8_t h[8];
  if (!ReadAt(Offset, h, 8)) return false;
  std::memcpy(Header.Id, h, 4);
  Header.Size = GetLe32(h + 4);
  Header.Offset = Offset;
  return true;
}

}  // namespace velmar
