// A rewrite of a side's tracks ended the way a crash ends it: in a child
// process that leaves at once after a given step (a rename, a removal).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "session/track_files.h"

namespace velmar::test {

// Runs RewriteSide(Tracks, Folder, New) in a child that ends after step Step;
// true when the child ended there (false: it failed, or ran to its end).
inline bool InterruptRewrite(const std::vector<std::string>& Tracks, const std::string& Folder,
                             const std::vector<TTrackFile>& New, int Step) {
  const pid_t Child = ::fork();
  if (Child < 0) return false;
  if (Child == 0) {
    int Steps = 0;
    OnRewriteStep = [&] {
      if (++Steps == Step) ::_exit(9);
    };
    std::string Error;
    ::_exit(RewriteSide(Tracks, Folder, New, {}, Error) ? 0 : 1);
  }
  int Status = 0;
  ::waitpid(Child, &Status, 0);
  return WIFEXITED(Status) && WEXITSTATUS(Status) == 9;
}

}  // namespace velmar::test
