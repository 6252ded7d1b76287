#include "platform/registry/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"

namespace velmar {

namespace {

// A hand-edited file larger than this is not a registry of ours: it is left alone.
constexpr off_t kMaxFileSize = 16 << 20;

// Reads the whole file: true with empty Text when it does not exist.
bool ReadWholeFile(const std::string& Name, std::string& Text) {
  Text.clear();
  const int Fd = ::open(Name.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return errno == ENOENT;
  struct stat St {};
  bool Ok = ::fstat(Fd, &St) == 0 && S_ISREG(St.st_mode) && St.st_size <= kMaxFileSize;
  char Chunk[65536];
  while (Ok) {
    const ssize_t n = ::read(Fd, Chunk, sizeof Chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Ok = n == 0;
      break;
    }
    Text.append(Chunk, static_cast<std::size_t>(n));
    Ok = Text.size() <= static_cast<std::size_t>(kMaxFileSize);
  }
  ::close(Fd);
  return Ok;
}

// Holds the advisory lock of the registry's folder while it lives.
class TRegistryLock {
 public:
  explicit TRegistryLock(const std::string& Folder) {
    FFd = ::open((Folder + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (FFd < 0) return;
    while (::flock(FFd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(FFd);
        FFd = -1;
        return;
      }
    }
  }
  ~TRegistryLock() {
    if (FFd >= 0) ::close(FFd);  // closing releases the lock
  }
  TRegistryLock(const TRegistryLock&) = delete;
  TRegistryLock& operator=(const TRegistryLock&) = delete;

  bool Locked() const { return FFd >= 0; }

 private:
  int FFd = -1;
};

}  // namespace

std::string_view RootName(HKEY Root) {
  switch (Root) {
    case HKEY_CLASSES_ROOT:
      return "HKEY_CLASSES_ROOT";
    case HKEY_LOCAL_MACHINE:
      return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS:
      return "HKEY_USERS";
    case HKEY_PERFORMANCE_DATA:
      return "HKEY_PERFORMANCE_DATA";
    case HKEY_CURRENT_CONFIG:
      return "HKEY_CURRENT_CONFIG";
    case HKEY_DYN_DATA:
      return "HKEY_DYN_DATA";
    default:
      return "HKEY_CURRENT_USER";
  }
}

std::string RegistryFileName() {
  std::string Config;
  if (const char* Xdg = std::getenv("XDG_CONFIG_HOME"); Xdg && *Xdg == '/') {
    Config = Xdg;
  } else {
    const char* Home = std::getenv("HOME");
    Config = std::string(Home && *Home ? Home : ".") + "/.config";
  }
  return Config + "/velmar/registry.reg";
}

std::string RegistryKeyPath(HKEY Root, std::string_view Path) {
  std::string Key(RootName(Root));
  if (!Path.empty()) {
    Key += '\\';
    Key.append(Path);
  }
  return Key;
}

bool LoadRegistry(TRegFile& File) {
  std::string Text;
  const bool Ok = ReadWholeFile(RegistryFileName(), Text);
  File = TRegFile::Parse(Ok ? Text : std::string());
  return Ok;
}

bool UpdateRegistry(const std::function<void(TRegFile&)>& Change) {
  namespace fs = std::filesystem;
  const std::string Name = RegistryFileName();
  const std::string Folder = fs::path(Name).parent_path().string();
  std::error_code Ignored;
  fs::create_directories(Folder, Ignored);
  TRegistryLock Lock(Folder);
  if (!Lock.Locked()) return false;
  // Temporary files of a writer killed before its rename: under the lock no
  // one else is writing one.
  const std::string Leftover = fs::path(Name).filename().string() + ".";
  for (const auto& Entry : fs::directory_iterator(Folder, Ignored)) {
    const std::string File = Entry.path().filename().string();
    if (File.size() == Leftover.size() + 6 && File.compare(0, Leftover.size(), Leftover) == 0)
      fs::remove(Entry.path(), Ignored);
  }
  // A link is followed: its target is the file people keep (in a dotfiles
  // folder, say), and a read-only file is theirs to keep as it is.
  const fs::path Target = fs::weakly_canonical(Name, Ignored);
  const std::string Written = Ignored ? Name : Target.string();
  struct stat Mode {};
  if (::stat(Written.c_str(), &Mode) == 0 && !(Mode.st_mode & S_IWUSR)) {
    static std::atomic<bool> Said{false};
    if (!Said.exchange(true))
      std::fprintf(stderr, "velmar: %s is read-only: settings are not saved\n", Written.c_str());
    return false;
  }
  std::string Text;
  if (!ReadWholeFile(Name, Text)) return false;
  TRegFile File = TRegFile::Parse(Text);
  Change(File);
  const std::string NewText = File.Text();
  return NewText == Text || WriteFileAtomically(Written, NewText, 0600);
}

}  // namespace velmar
