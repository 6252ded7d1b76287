// The per-user registry file in the registry export format ("REGEDIT4"): key
// sections such as [HKEY_CURRENT_USER\SOFTWARE\Velmar\Velmar Audio Recorder] with
// value lines "Name"="text", "Name"=dword:00000019 and "Name"=hex(N):01,02,...
//
// People read and edit this file, so it is outside data: parsing never fails, and
// every line that cannot be understood is kept as it stands and written back
// unchanged; lines that were not changed keep their exact text. Key paths and
// value names compare without regard to ASCII case, as the registry does. When a
// key or value occurs more than once, the last occurrence counts (the order in
// which an import would apply them).
//
// A plain value type, no locking: registry.h reads and writes the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

// Registry value types as the export format numbers them.
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;

// A value's type and its bytes as the registry holds them (a REG_SZ ends in a
// zero byte, a REG_DWORD is four bytes little-endian).
struct TRegValue {
  std::uint32_t Type = REG_BINARY;
  std::vector<std::uint8_t> Data;

  static TRegValue FromString(std::string_view Text);
  static TRegValue FromDWord(std::uint32_t Value);
  static TRegValue FromBinary(const void* Bytes, std::size_t Count);

  bool operator==(const TRegValue&) const = default;
};

class TRegFile {
 public:
  // Never fails: what cannot be understood is kept as text.
  static TRegFile Parse(std::string_view Text);
  // The file's text: "REGEDIT4" first when the file had no header line.
  std::string Text() const;

  // Key is a full path with its root, "HKEY_CURRENT_USER\SOFTWARE\...". A key
  // exists when it has a section or one of its subkeys has.
  bool KeyExists(std::string_view Key) const;
  // Adds sections for the key and its missing parents.
  void CreateKey(std::string_view Key);
  // The value of that name (empty name: the key's default value "@"), or null.
  const TRegValue* FindValue(std::string_view Key, std::string_view Name) const;
  // Sets a value, creating the key; an existing value keeps its name's spelling.
  void SetValue(std::string_view Key, std::string_view Name, const TRegValue& Value);

 private:
  struct TLine {
    std::string Raw;  // as read (continuations included), or empty when Changed
    bool IsValue = false;
    bool Changed = false;
    std::string Name;
    TRegValue Value;
  };
  struct TSection {
    std::string Raw;  // the header line as read, or empty for a new section
    std::string Key;
    std::vector<TLine> Lines;
  };

  TSection* LastSection(std::string_view Key);
  TLine* LastValue(std::string_view Key, std::string_view Name);
  static std::string ValueLine(const TLine& Line);

  bool FHasHeader = false;
  std::vector<std::string> FPreamble;  // lines before the first section
  std::vector<TSection> FSections;
};

}  // namespace velmar
