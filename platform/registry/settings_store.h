// The settings store: every persistent value of the program is read and written
// through these routines, as typed values of the current user's registry with
// defaults. No error ever leaves them: a key that cannot be opened, a missing
// value or one of another type gives the default (reads) or False (existence
// tests), and a write that fails does nothing.
//
// Every access is logged ("Read", "Write", "True"/"False", a tab, the key and
// value name, a tab, the value as text) into the access log of the current
// TSettingsStore, which saves it at program end to its start directory as
// "velmar_audio_recorer.log".
//
// The value's type follows the type of Default or Value: integers (colours and
// device numbers too) and booleans as registry integers, strings as text
// values, floating-point, currency and date-time values as 8 bytes of binary data.
//
// Main thread only (the log has no lock).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/registry/registry.h"

namespace velmar {

// A fixed-point amount with four decimals, held as a count of 1/10000.
struct TCurrency {
  std::int64_t Scaled = 0;
  bool operator==(const TCurrency&) const = default;
};

// Days since 30 December 1899; the fraction is the time of day.
struct TDateTime {
  double Value = 0;
  bool operator==(const TDateTime&) const = default;
};

using TRegData = std::variant<int, double, TCurrency, TDateTime, std::string, bool>;

// The value as the log writes it: integers in decimal, floating-point and currency
// values in the general floating-point format ("0.1", "1E20"), date-time values as
// time text ("hh:nn:ss"), strings as they are, booleans "True" or "False".
std::string RegValueText(const TRegData& Value);

// The access log of a run: created with the program (before any window), saved to
// StartDirectory/velmar_audio_recorer.log when destroyed (an older file of that
// name is replaced; a failure loses the log silently). The newest store is the
// current one, the one that the routines below log into.
class TSettingsStore {
 public:
  // The log's folder: Folder, or the current directory when empty.
  explicit TSettingsStore(std::string Folder = {});
  ~TSettingsStore();
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  const std::vector<std::string>& Log() const { return FLog; }
  const std::string& StartDirectory() const { return FStartDirectory; }
  std::string LogFileName() const;
  void Add(std::string Line) { FLog.push_back(std::move(Line)); }

 private:
  std::vector<std::string> FLog;
  std::string FStartDirectory;
  TSettingsStore* FPrevious;
};

// The store the routines log into, or null (no log is kept then).
TSettingsStore* CurrentSettingsStore();

// Appends Op, a tab, Path, a tab and the value as text to the current log.
void LogRegAccess(std::string_view Op, std::string_view Path, const TRegData& Value);

// The typed routines. Key and Name are cleaned first: the key loses one trailing
// and then one leading backslash, the name up to two leading backslashes.
// Nothing is thrown: a value that cannot be read is the default, and a write
// that could not store its value returns false (the caller says so).
TRegData ReadRegData(HKEY Root, std::string_view Key, std::string_view Name,
                     const TRegData& Default);
bool WriteRegData(HKEY Root, std::string_view Key, std::string_view Name, const TRegData& Value);
bool RegValueExists(HKEY Root, std::string_view Key, std::string_view Name);

template <class T>
T ReadRegValue(HKEY Root, std::string_view Key, std::string_view Name, const T& Default) {
  return std::get<T>(ReadRegData(Root, Key, Name, TRegData(Default)));
}
// A text literal is a string default, not a boolean one.
inline std::string ReadRegValue(HKEY Root, std::string_view Key, std::string_view Name,
                                const char* Default) {
  return ReadRegValue<std::string>(Root, Key, Name, std::string(Default));
}

template <class T>
bool WriteRegValue(HKEY Root, std::string_view Key, std::string_view Name, const T& Value) {
  return WriteRegData(Root, Key, Name, TRegData(Value));
}
inline bool WriteRegValue(HKEY Root, std::string_view Key, std::string_view Name,
                          const char* Value) {
  return WriteRegData(Root, Key, Name, TRegData(std::string(Value)));
}

}  // namespace velmar
