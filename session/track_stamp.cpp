#include "session/track_stamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace velmar {

namespace {

constexpr std::int64_t kBlock = 64 * 1024;

// FNV-1a, 64 bits: the same value in every build, as the stamp is kept in files.
void Mix(std::uint64_t& Hash, const std::uint8_t* Data, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) {
    Hash ^= Data[i];
    Hash *= 1099511628211ULL;
  }
}

}  // namespace

bool StampTrack(const std::string& Path, TTrackStamp& Stamp) {
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return false;
  struct stat St {};
  bool Ok = ::fstat(Fd, &St) == 0;
  Stamp = {St.st_size, St.st_mtim.tv_sec * 1000000000LL + St.st_mtim.tv_nsec,
           14695981039346656037ULL};
  std::vector<std::uint8_t> Block(kBlock);
  const std::int64_t Tail = std::max<std::int64_t>(St.st_size - kBlock, kBlock);
  for (const std::int64_t At : {std::int64_t{0}, Tail}) {
    if (!Ok || At >= St.st_size) break;
    const ssize_t Got = ::pread(Fd, Block.data(), Block.size(), At);
    Ok = Got >= 0;
    if (Ok) Mix(Stamp.Hash, Block.data(), static_cast<std::size_t>(Got));
  }
  ::close(Fd);
  return Ok;
}

}  // namespace velmar
