#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace velmar {

namespace {

std::mutex& QueryLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

TDiskFreeQuery& Query() {
  static auto* q = new TDiskFreeQuery;
  return *q;
}

std::int64_t StatvfsFree(const std::string& Folder) {
  struct statvfs St {};
  if (::statvfs(Folder.c_str(), &St) != 0) return -1;
  return static_cast<std::int64_t>(St.f_bavail) * static_cast<std::int64_t>(St.f_frsize);
}

}  // namespace

std::string ExpandFileName(const std::string& Name) {
  if (Name.empty()) return {};
  std::error_code Ignored;
  return std::filesystem::absolute(Name, Ignored).lexically_normal().string();
}

std::int64_t FileSizeOnDisk(const std::string& Name) {
  std::error_code Error;
  const auto Size = std::filesystem::file_size(Name, Error);
  return Error ? -1 : static_cast<std::int64_t>(Size);
}

bool WriteFileAtomically(const std::string& Name, std::string_view Content, unsigned Mode) {
  struct stat Old {};
  if (::stat(Name.c_str(), &Old) == 0) Mode = Old.st_mode & 07777;
  std::string Temp = Name + ".XXXXXX";
  const int Fd = ::mkostemp(Temp.data(), O_CLOEXEC);
  if (Fd < 0) return false;
  bool Ok = ::fchmod(Fd, Mode) == 0;
  for (std::size_t Done = 0; Ok && Done < Content.size();) {
    const ssize_t n = ::write(Fd, Content.data() + Done, Content.size() - Done);
    if (n < 0 && errno == EINTR) continue;
    Ok = n > 0;
    if (Ok) Done += static_cast<std::size_t>(n);
  }
  Ok = Ok && ::fsync(Fd) == 0;
  Ok = ::close(Fd) == 0 && Ok;
  Ok = Ok && ::rename(Temp.c_str(), Name.c_str()) == 0;
  if (!Ok) {
    ::unlink(Temp.c_str());
    return false;
  }
  const std::string Folder = std::filesystem::path(Name).parent_path().string();
  const int Dir = ::open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Dir >= 0) {
    ::fsync(Dir);
    ::close(Dir);
  }
  return true;
}

std::int64_t DiskFreeBytes(const std::string& Folder) {
  TDiskFreeQuery q;
  {
    std::lock_guard<std::mutex> Lock(QueryLock());
    q = Query();
  }
  return q ? q(Folder) : StatvfsFree(Folder);
}

std::string ExistingFolderOf(const std::string& Folder) {
  std::error_code e;
  std::filesystem::path p =
      std::filesystem::absolute(Folder.empty() ? "." : Folder, e).lexically_normal();
  while (!std::filesystem::is_directory(p, e) && p.has_relative_path()) p = p.parent_path();
  return p.string();
}

std::string MountPointOf(const std::string& Folder) {
  std::filesystem::path p = ExistingFolderOf(Folder);
  struct stat Here {};
  if (::stat(p.c_str(), &Here) != 0) return {};
  // Up while the parent is on the same device: the top of that stretch is the mount.
  while (p.has_relative_path()) {
    struct stat Up {};
    if (::stat(p.parent_path().c_str(), &Up) != 0 || Up.st_dev != Here.st_dev) break;
    p = p.parent_path();
  }
  return p.string();
}

void SetDiskFreeQuery(TDiskFreeQuery NewQuery) {
  std::lock_guard<std::mutex> Lock(QueryLock());
  Query() = std::move(NewQuery);
}

}  // namespace velmar
