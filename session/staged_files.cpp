#include "session/staged_files.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "wavefile/wave_file_io.h"
#include "wavefile/wave_tags.h"

namespace velmar {

namespace fs = std::filesystem;

std::function<void()> OnRewriteStep;

namespace {
std::vector<TRecoveredFile> GRecovered;  // see RecoveredFiles
}  // namespace

namespace {

const char* const kJournalHead = "velmar rewrite 1";

bool Sync(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return false;
  const bool Ok = ::fsync(Fd) == 0;
  ::close(Fd);
  return Ok;
}

void Stepped() {
  if (OnRewriteStep) OnRewriteStep();
}

bool Exists(const std::string& Path) {
  std::error_code e;
  return fs::exists(fs::symlink_status(Path, e));
}

std::string BootId() {
  std::ifstream In("/proc/sys/kernel/random/boot_id");
  std::string Id;
  std::getline(In, Id);
  return Id;
}

// Whether the process Pid of this boot may still be running.
bool Running(pid_t Pid, const std::string& Boot) {
  if (Boot != BootId()) return false;
  return ::kill(Pid, 0) == 0 || errno != ESRCH;
}

// A journal's fields are paths; a tab, a new line or a backslash in one is escaped.
std::string Escape(const std::string& s) {
  std::string Out;
  for (const char c : s) {
    if (c == '\\')
      Out += "\\\\";
    else if (c == '\t')
      Out += "\\t";
    else if (c == '\n')
      Out += "\\n";
    else
      Out += c;
  }
  return Out;
}

std::vector<std::string> Fields(const std::string& Line) {
  std::vector<std::string> Out(1);
  for (std::size_t i = 0; i < Line.size(); ++i) {
    const char c = Line[i];
    if (c == '\t') {
      Out.emplace_back();
    } else if (c == '\\' && i + 1 < Line.size()) {
      const char n = Line[++i];
      Out.back() += n == 't' ? '\t' : n == 'n' ? '\n' : n;
    } else {
      Out.back() += c;
    }
  }
  return Out;
}

// What a journal lists: the new files (hidden, first and final names) and the
// old files that go.
struct TPlan {
  struct TNew {
    std::string Hidden, First, Final;
  };
  std::vector<TNew> New;
  std::vector<std::string> Old;
  std::vector<TRetitle> Titles;
  std::vector<std::string> Undo;  // per title: its file's image before the titling
  bool IsOld(const std::string& Path) const {
    return std::find(Old.begin(), Old.end(), Path) != Old.end();
  }
};

std::string JournalName(const std::string& Folder, pid_t Pid) {
  return (fs::path(Folder) / (".velmar-rewrite-" + std::to_string(Pid) + ".journal")).string();
}

// Writes the journal durably under its name (through a hidden file that a
// crash leaves to the stray-file cleanup).
bool WriteJournal(const std::string& Folder, const TPlan& Plan, std::string& Error) {
  std::ostringstream Text;
  Text << kJournalHead << "\nprocess\t" << ::getpid() << '\t' << BootId() << '\n';
  for (const auto& n : Plan.New)
    Text << "new\t" << Escape(n.Hidden) << '\t' << Escape(n.First) << '\t' << Escape(n.Final)
         << '\n';
  for (const auto& o : Plan.Old) Text << "old\t" << Escape(o) << '\n';
  for (std::size_t i = 0; i < Plan.Titles.size(); ++i) {
    const TRetitle& t = Plan.Titles[i];
    Text << "title\t" << Escape(t.From) << '\t' << Escape(t.To) << '\t' << Escape(t.Title) << '\t'
         << Escape(Plan.Undo[i]) << '\n';
  }
  Text << "end\n";
  const std::string Name = JournalName(Folder, ::getpid());
  const std::string Part =
      (fs::path(Folder) / (".rewrite.velmar-" + std::to_string(::getpid()) + ".part")).string();
  {
    std::ofstream Out(Part, std::ios::binary | std::ios::trunc);
    Out << Text.str();
    Out.close();
    if (!Out || !Sync(Part) || ::rename(Part.c_str(), Name.c_str()) != 0) {
      Error = "cannot write the rewrite's journal in " + Folder + ": " + std::strerror(errno);
      ::unlink(Part.c_str());
      return false;
    }
  }
  Sync(Folder);
  return true;
}

// Reads a journal; false when it is not whole (then no rename had begun).
bool ReadJournal(const std::string& Name, TPlan& Plan, pid_t& Pid, std::string& Boot) {
  std::ifstream In(Name, std::ios::binary);
  std::string Line;
  if (!std::getline(In, Line) || Line != kJournalHead) return false;
  bool Ended = false;
  while (std::getline(In, Line)) {
    const std::vector<std::string> f = Fields(Line);
    if (f[0] == "process" && f.size() == 3) {
      Pid = static_cast<pid_t>(std::atol(f[1].c_str()));
      Boot = f[2];
    } else if (f[0] == "new" && f.size() == 4) {
      Plan.New.push_back({f[1], f[2], f[3]});
    } else if (f[0] == "old" && f.size() == 2) {
      Plan.Old.push_back(f[1]);
    } else if (f[0] == "title" && (f.size() == 4 || f.size() == 5)) {
      Plan.Titles.push_back({f[1], f[2], f[3]});
      Plan.Undo.push_back(f.size() == 5 ? f[4] : "");
    } else if (f[0] == "end") {
      Ended = true;
    }
  }
  return Ended && Pid > 0;
}

// A titling in place rewrites the chunks around a file's audio, so a crash
// midway leaves them half old, half new. Before it starts, every byte of the
// file but its audio is kept in an undo image (durable, hidden); finishing a
// titling after a crash first puts those bytes back, and the file is the old
// one again, whole, to be titled anew. The image: a head line, the file's
// size and where its audio begins and ends (64-bit little-endian), the bytes
// before the audio and the bytes after it.
const char* const kUndoHead = "velmar undo 1\n";

std::string UndoName(const std::string& Path) {
  const fs::path p(Path);
  return (p.parent_path() /
          ("." + p.filename().string() + ".undo.velmar-" + std::to_string(::getpid()) + ".part"))
      .string();
}

bool ReadFully(int Fd, std::vector<char>& Into, std::int64_t At, std::int64_t Count) {
  Into.resize(static_cast<std::size_t>(Count));
  for (std::int64_t Done = 0; Done < Count;) {
    const ssize_t n =
        ::pread(Fd, Into.data() + Done, static_cast<std::size_t>(Count - Done), At + Done);
    if (n <= 0) return false;
    Done += n;
  }
  return true;
}

bool WriteFully(int Fd, const char* Data, std::int64_t At, std::int64_t Count) {
  for (std::int64_t Done = 0; Done < Count;) {
    const ssize_t n = ::pwrite(Fd, Data + Done, static_cast<std::size_t>(Count - Done), At + Done);
    if (n <= 0) return false;
    Done += n;
  }
  return true;
}

bool SaveUndoImage(const std::string& Path, const std::string& Undo, std::string& Error) {
  TWaveFileBlock* Block = nullptr;
  if (WaveFileParse(Path, FOURCC_WAVE, WAVE_OPEN_BY_NAME, Block) != WAVEERR_NONE) {
    Error = Path + " cannot be read as a WAV file; nothing was changed";
    return false;
  }
  const std::int64_t AudioFrom = Block->DataOffset,
                     AudioTo = std::int64_t{Block->DataOffset} + Block->DataBytes;
  WaveFileFree(Block);
  const int In = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  const std::int64_t Size = In < 0 ? -1 : ::lseek(In, 0, SEEK_END);
  std::vector<char> Image(kUndoHead, kUndoHead + std::strlen(kUndoHead)), Part;
  for (const std::int64_t v : {Size, AudioFrom, AudioTo})
    for (int i = 0; i < 8; ++i)
      Image.push_back(static_cast<char>(static_cast<std::uint64_t>(v) >> (8 * i)));
  bool Ok = Size >= AudioTo && ReadFully(In, Part, 0, AudioFrom);
  Image.insert(Image.end(), Part.begin(), Part.end());
  Ok = Ok && ReadFully(In, Part, AudioTo, Size - AudioTo);
  Image.insert(Image.end(), Part.begin(), Part.end());
  if (In >= 0) ::close(In);
  const int Out = Ok ? ::open(Undo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1;
  Ok = Out >= 0 && WriteFully(Out, Image.data(), 0, static_cast<std::int64_t>(Image.size())) &&
       ::fsync(Out) == 0;
  if (Out >= 0) ::close(Out);
  if (!Ok) {
    Error = "cannot keep the chunks of " + Path + " before titling it: " + std::strerror(errno) +
            "; nothing was changed";
    ::unlink(Undo.c_str());
  }
  return Ok;
}

// Puts back what SaveUndoImage kept; true when there was nothing to put back
// (no image: the titling had not begun on this file, or an older journal).
bool RestoreUndoImage(const std::string& Path, const std::string& Undo, std::string& Error) {
  if (Undo.empty() || !Exists(Undo)) return true;
  const int In = ::open(Undo.c_str(), O_RDONLY | O_CLOEXEC);
  const std::int64_t Size = In < 0 ? -1 : ::lseek(In, 0, SEEK_END);
  std::vector<char> Image;
  const std::int64_t Head = static_cast<std::int64_t>(std::strlen(kUndoHead));
  bool Ok = Size >= Head + 24 && ReadFully(In, Image, 0, Size) &&
            std::memcmp(Image.data(), kUndoHead, static_cast<std::size_t>(Head)) == 0;
  if (In >= 0) ::close(In);
  std::int64_t v[3] = {};
  for (int k = 0; Ok && k < 3; ++k)
    for (int i = 0; i < 8; ++i)
      v[k] |= static_cast<std::int64_t>(
                  static_cast<std::uint8_t>(Image[static_cast<std::size_t>(Head + 8 * k + i)]))
              << (8 * i);
  const auto [FileSize, AudioFrom, AudioTo] = v;
  Ok = Ok && AudioFrom >= 0 && AudioFrom <= AudioTo && AudioTo <= FileSize &&
       Size == Head + 24 + AudioFrom + (FileSize - AudioTo);
  const int Fd = Ok ? ::open(Path.c_str(), O_WRONLY | O_CLOEXEC) : -1;
  const char* Before = Image.data() + Head + 24;
  Ok = Fd >= 0 && ::lseek(Fd, 0, SEEK_END) >= AudioTo && WriteFully(Fd, Before, 0, AudioFrom) &&
       WriteFully(Fd, Before + AudioFrom, AudioTo, FileSize - AudioTo) &&
       ::ftruncate(Fd, FileSize) == 0 && ::fsync(Fd) == 0;
  if (Fd >= 0) ::close(Fd);
  if (!Ok) Error = "cannot put back the chunks of " + Path + " from before its titling";
  return Ok;
}

// Writes Title as the title of the WAV file Path (INFO and, when it has
// one, its ID3v2 chunk), after its audio.
bool WriteTitle(const std::string& Path, const std::string& Title, std::string& Error) {
  TWaveFileBlock* Block = nullptr;
  bool Ok = WaveFileParse(Path, FOURCC_WAVE, WAVE_OPEN_BY_NAME, Block) == WAVEERR_NONE &&
            WaveFileReopen(Block) == WAVEERR_NONE;
  if (Ok) {
    TTrackTags Tags = ReadWaveTags(Block->InfoList, Block->OtherChunks);
    Tags.Title = Title;
    WriteWaveTags(Tags, Block->InfoList, Block->OtherChunks);
    Ok = WaveFileTouchMetadata(Block) == WAVEERR_NONE;
  }
  if (Block && WaveFileClose(Block) != WAVEERR_NONE) Ok = false;
  if (Block) WaveFileFree(Block);
  if (Ok) Ok = Sync(Path);
  if (!Ok) Error = "cannot write the title of " + Path + ": " + std::strerror(errno);
  return Ok;
}

// Takes the steps from the first rename on. Each step is skipped when it was
// taken before, so a rewrite that ended anywhere is finished by running this
// again. FirstRun (not finishing after a crash): a rename that fails before
// any old file was replaced takes the earlier ones back, which leaves the old
// set; then TakenBack is set. False with Error, naming what is left.
bool TakeSteps(const TPlan& Plan, const std::string& Folder, bool FirstRun, bool& TakenBack,
               std::string& Error) {
  TakenBack = false;
  // Titles in place: a file still under its old name gets the title (after a
  // crash: from its undo image again) and then its new name.
  for (std::size_t i = 0; i < Plan.Titles.size(); ++i) {
    const TRetitle& t = Plan.Titles[i];
    if (!Exists(t.From)) {
      if (Exists(t.To)) continue;
      Error = t.From + " is gone";
      return false;
    }
    // Finishing after a crash: the file as it was before, then titled again.
    if (!FirstRun && !RestoreUndoImage(t.From, Plan.Undo[i], Error)) return false;
    if (!WriteTitle(t.From, t.Title, Error)) return false;
    Stepped();
    if (t.To != t.From &&
        ::renameat2(AT_FDCWD, t.From.c_str(), AT_FDCWD, t.To.c_str(), RENAME_NOREPLACE) != 0) {
      Error = "cannot name " + t.To + ": " + std::strerror(errno);
      return false;
    }
    Stepped();
  }
  std::vector<const TPlan::TNew*> Named;
  // New names first, so that a failure can still take them back; a file that
  // takes an old file's name replaces it in one step, last.
  for (int Pass = 0; Pass < 2; ++Pass) {
    for (const auto& n : Plan.New) {
      if (!Exists(n.Hidden)) continue;
      const bool Over = Plan.IsOld(n.First) && Exists(n.First);
      if (Over != (Pass == 1)) continue;
      const int Result = Over ? ::rename(n.Hidden.c_str(), n.First.c_str())
                              : ::renameat2(AT_FDCWD, n.Hidden.c_str(), AT_FDCWD, n.First.c_str(),
                                            RENAME_NOREPLACE);
      if (Result != 0) {
        Error = "cannot name " + n.First + ": " + std::strerror(errno);
        if (!FirstRun || Pass == 1) return false;
        for (const auto* d : Named) ::rename(d->First.c_str(), d->Hidden.c_str());
        TakenBack = true;
        return false;
      }
      if (!Over) Named.push_back(&n);
      Stepped();
    }
  }
  Sync(Folder);
  for (const std::string& Old : Plan.Old) {
    // An old name a new file has taken (first, or finally once it was free).
    const bool Kept = std::any_of(Plan.New.begin(), Plan.New.end(), [&](const TPlan::TNew& n) {
      return n.First == Old || (n.Final == Old && !Exists(n.First));
    });
    if (Kept || !Exists(Old)) continue;
    std::error_code e;
    fs::remove(Old, e);
    Stepped();
  }
  Sync(Folder);
  for (const auto& n : Plan.New) {
    if (n.Final.empty() || !Exists(n.First)) continue;
    if (::renameat2(AT_FDCWD, n.First.c_str(), AT_FDCWD, n.Final.c_str(), RENAME_NOREPLACE) != 0) {
      Error = "the new tracks are in place as \"" + fs::path(n.First).filename().string() +
              "\" and so on; " + n.Final + " could not be named: " + std::strerror(errno);
      return false;
    }
    Stepped();
  }
  Sync(Folder);
  return true;
}

}  // namespace

TStagedFiles::TStagedFiles(std::string Folder) : FFolder(std::move(Folder)) {
  RecoverRewrites(FFolder);
}

TStagedFiles::~TStagedFiles() {
  for (const TStaged& s : FStaged) ::unlink(s.Hidden.c_str());
}

std::string TStagedFiles::Stage(const std::string& Name, const std::string& Final) {
  const fs::path Dir = fs::absolute(FFolder).lexically_normal();
  const std::string Hidden =
      (Dir / ("." + Name + ".velmar-" + std::to_string(::getpid()) + ".part")).string();
  FStaged.push_back({Hidden, (Dir / Name).string(), Final.empty() ? "" : (Dir / Final).string()});
  return Hidden;
}

bool TStagedFiles::Commit(const std::vector<std::string>& Replaced, std::string& Error) {
  TPlan Plan;
  for (const std::string& r : Replaced) Plan.Old.push_back(fs::absolute(r).lexically_normal());
  for (const TStaged& s : FStaged) {
    if (Exists(s.First) && !Plan.IsOld(s.First)) {
      Error = s.First + " exists; nothing was changed";
      return false;
    }
    if (!s.Final.empty() && Exists(s.Final) && !Plan.IsOld(s.Final)) {
      Error = s.Final + " exists; nothing was changed";
      return false;
    }
    if (!Sync(s.Hidden)) {
      Error = "cannot make " + s.First + " durable: " + std::strerror(errno);
      return false;
    }
    Plan.New.push_back({s.Hidden, s.First, s.Final});
  }
  if (!WriteJournal(FFolder, Plan, Error)) return false;
  const std::string Journal = JournalName(FFolder, ::getpid());
  bool TakenBack = false;
  const bool Ok = TakeSteps(Plan, FFolder, true, TakenBack, Error);
  // A rewrite taken back leaves the old set as it was; one that failed later
  // keeps its journal and hidden files for the next start to finish.
  if (Ok || TakenBack) {
    ::unlink(Journal.c_str());
    Sync(FFolder);
  } else {
    Error += "; the next start finishes the rewrite";
  }
  if (!TakenBack) FStaged.clear();
  return Ok;
}

bool RetitleInPlace(const std::vector<TRetitle>& Files, const std::string& Folder,
                    std::string& Error) {
  TPlan Plan;
  for (const TRetitle& t : Files) {
    TRetitle a{fs::absolute(t.From).lexically_normal(), fs::absolute(t.To).lexically_normal(),
               t.Title};
    Plan.Titles.push_back(a);
  }
  for (const TRetitle& t : Plan.Titles) {
    const bool Taken = std::any_of(Plan.Titles.begin(), Plan.Titles.end(),
                                   [&](const TRetitle& o) { return &o != &t && o.From == t.To; });
    if (!Exists(t.From)) {
      Error = t.From + " is gone; nothing was changed";
      return false;
    }
    if (Taken || (t.To != t.From && Exists(t.To))) {
      Error = t.To + " exists; nothing was changed";
      return false;
    }
  }
  const auto DropUndo = [&] {
    for (const std::string& u : Plan.Undo) ::unlink(u.c_str());
  };
  for (const TRetitle& t : Plan.Titles) {
    Plan.Undo.push_back(UndoName(t.From));
    if (!SaveUndoImage(t.From, Plan.Undo.back(), Error)) {
      DropUndo();
      return false;
    }
  }
  Sync(Folder);
  if (!WriteJournal(Folder, Plan, Error)) {
    DropUndo();
    return false;
  }
  bool TakenBack = false;
  if (!TakeSteps(Plan, Folder, true, TakenBack, Error)) {
    Error += "; the next start finishes the titling";
    return false;
  }
  ::unlink(JournalName(Folder, ::getpid()).c_str());
  Sync(Folder);
  DropUndo();
  return true;
}

std::string RecoverRewrites(const std::string& Folder) {
  static const std::regex JournalPattern(R"(\.velmar-rewrite-([0-9]+)\.journal)");
  static const std::regex HiddenPattern(R"(\..*\.velmar-([0-9]+)\.part)");
  std::vector<std::string> Finished, Problems;
  std::error_code e;
  for (const auto& Entry : fs::directory_iterator(Folder, e)) {
    const std::string Name = Entry.path().filename().string();
    if (!std::regex_match(Name, JournalPattern)) continue;
    TPlan Plan;
    pid_t Pid = 0;
    std::string Boot;
    const bool Whole = ReadJournal(Entry.path().string(), Plan, Pid, Boot);
    if (Whole && Running(Pid, Boot)) continue;
    std::string Error;
    bool TakenBack = false;
    if (Whole && !TakeSteps(Plan, Folder, false, TakenBack, Error)) {
      Problems.push_back(Error);
      continue;
    }
    fs::remove(Entry.path(), e);
    Sync(Folder);
    if (!Whole) continue;
    for (const std::string& u : Plan.Undo)
      if (!u.empty()) fs::remove(u, e);
    Finished.push_back(std::to_string(Plan.New.size() + Plan.Titles.size()));
    for (const TRetitle& t : Plan.Titles) GRecovered.push_back({t.To, t.From});
    for (const auto& n : Plan.New) GRecovered.push_back({n.Final.empty() ? n.First : n.Final, ""});
  }
  int Removed = 0;
  for (const auto& Entry : fs::directory_iterator(Folder, e)) {
    std::smatch m;
    const std::string Name = Entry.path().filename().string();
    if (!std::regex_match(Name, m, HiddenPattern)) continue;
    const pid_t Pid = static_cast<pid_t>(std::stol(m[1].str()));
    if (::kill(Pid, 0) != 0 && errno == ESRCH && fs::remove(Entry.path(), e)) ++Removed;
  }
  std::string Said;
  if (!Finished.empty())
    Said = "An interrupted rewrite of the tracks in " + Folder + " was finished (" +
           Finished.front() + " tracks in place)";
  if (!Problems.empty())
    Said += (Said.empty() ? "" : "; ") + std::string("an interrupted rewrite in ") + Folder +
            " could not be finished: " + Problems.front();
  if (Removed > 0)
    Said += (Said.empty() ? "Removed " : "; removed ") + std::to_string(Removed) +
            " hidden files an interrupted rewrite left in " + Folder;
  return Said.empty() ? Said : Said + ".";
}

const std::vector<TRecoveredFile>& RecoveredFiles() {
  return GRecovered;
}

std::string RecoveredPathOf(const std::string& Before) {
  const std::string Key = fs::absolute(Before).lexically_normal().string();
  for (const TRecoveredFile& f : GRecovered)
    if (f.Before == Key && Exists(f.Path)) return f.Path;
  return "";
}

bool RecoveredInPlace(const std::string& Path) {
  const std::string Key = fs::absolute(Path).lexically_normal().string();
  return std::any_of(GRecovered.begin(), GRecovered.end(),
                     [&](const TRecoveredFile& f) { return f.Path == Key; });
}

}  // namespace velmar
