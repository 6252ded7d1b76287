// Lowers this process's file size limit for one scope, so that writes beyond it
// fail as they would on a full disk (SIGXFSZ is ignored meanwhile).
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace velmar::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t Bytes) {
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &FSaved);
    rlimit Limit = FSaved;
    Limit.rlim_cur = Bytes;
    setrlimit(RLIMIT_FSIZE, &Limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FSaved);
    std::signal(SIGXFSZ, FOldHandler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit FSaved{};
  void (*FOldHandler)(int) = nullptr;
};

}  // namespace velmar::test
