// Putting a set of new files in place of old ones in one folder so that,
// whatever ends the process (a kill, a power cut), the folder holds exactly one
// whole set with ordinary names once the next program has looked at it:
//
// The new files are written under hidden names and made durable. Before the
// first rename, a journal beside them lists every step (hidden name, the name
// it takes first, the name it ends with; the old files that go), made durable
// too. Then: the new files take their first names (never replacing a file,
// except an old one of the same name), the old files go, and the new files
// that had to wait for an old name take it. The journal goes last.
//
// RecoverRewrites, run when a program starts work on a folder, finishes what a
// journal of a process that is gone lists (every new file was whole before
// the first rename, so finishing is always possible) and removes hidden files
// that such processes left.
//
// Threads: any one thread at a time.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velmar {

// Called after each step of a rewrite that changes what a folder shows (a
// rename, a removal). Empty, except in tests that end the process there to
// see what a crash at that point leaves.
extern std::function<void()> OnRewriteStep;

// The most bytes a staged file's hidden name adds to the name it is staged
// under; a name longer than the folder's limit less this cannot be staged.
constexpr std::size_t kHiddenNameExtra = 32;

// New files of one folder, written hidden and put in place together.
class TStagedFiles {
 public:
  explicit TStagedFiles(std::string Folder);
  ~TStagedFiles();  // removes what was staged and not put in place
  TStagedFiles(const TStagedFiles&) = delete;
  TStagedFiles& operator=(const TStagedFiles&) = delete;

  // The hidden name to write a file under: it is named Name (in the folder)
  // first, and Final (when not empty) once the replaced files are gone.
  std::string Stage(const std::string& Name, const std::string& Final = "");
  // Makes the staged files durable and puts them in place, then removes
  // Replaced (paths). A first name that is one of Replaced replaces that file
  // in one step; any other existing name stops the commit before it changes
  // anything visible: false, with Error.
  bool Commit(const std::vector<std::string>& Replaced, std::string& Error);

 private:
  std::string FFolder;
  struct TStaged {
    std::string Hidden, First, Final;  // paths
  };
  std::vector<TStaged> FStaged;
};

// A file of a folder that gets a new title and name in place: its INFO title
// is written anew after its audio, which is neither read nor copied, and then
// it is renamed.
struct TRetitle {
  std::string From, To, Title;  // paths in one folder
};

// Retitles Files together, journalled like a rewrite: ended anywhere, the
// next start finishes it. A To that another file has (or that another entry's
// From has) stops it before anything changes: false with Error.
bool RetitleInPlace(const std::vector<TRetitle>& Files, const std::string& Folder,
                    std::string& Error);

// Finishes the rewrites in Folder that ended with their process and removes
// the hidden files such processes left. One line saying what was done, or ""
// when there was nothing to do.
std::string RecoverRewrites(const std::string& Folder);

// A file that a rewrite finished by RecoverRewrites in this process put in
// place: its path, and for a titling the path it had before. A command run
// again after its own run was killed finds its work done here, which is
// success, not a name taken by another file.
struct TRecoveredFile {
  std::string Path, Before;  // absolute
};
const std::vector<TRecoveredFile>& RecoveredFiles();
// Where the recovered titling put Before (an absolute or relative path), or
// "" when no recovered rewrite moved it.
std::string RecoveredPathOf(const std::string& Before);
// Whether a recovered rewrite put Path in place.
bool RecoveredInPlace(const std::string& Path);

}  // namespace velmar
