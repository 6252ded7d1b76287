#include "platform/files.h"

#include <sys/statvfs.h>

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

std::int64_t DiskFreeBytes(const std::string& Folder) {
  TDiskFreeQuery q;
  {
    std::lock_guard<std::mutex> Lock(QueryLock());
    q = Query();
  }
  return q ? q(Folder) : StatvfsFree(Folder);
}

void SetDiskFreeQuery(TDiskFreeQuery NewQuery) {
  std::lock_guard<std::mutex> Lock(QueryLock());
  Query() = std::move(NewQuery);
}

}  // namespace velmar
