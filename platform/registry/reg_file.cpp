#include "platform/registry/reg_file.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace velmar {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::size_t kHexLineWidth = 76;  // where the export format wraps hex data

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsWithText(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameText(Text.substr(0, Prefix.size()), Prefix);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A hexadecimal number of 1 to 8 digits.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  return v;
}

// A quoted text starting at s[0] == '"': its unescaped content, and the rest
// after the closing quote. Escapes: \\ \" \n \r \t \xHH; any other character
// after a backslash stands for itself.
std::optional<std::string> ParseQuoted(std::string_view& s) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  std::string Out;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      s.remove_prefix(i + 1);
      return Out;
    }
    if (c != '\\') {
      Out += c;
      continue;
    }
    if (++i >= s.size()) return std::nullopt;
    switch (s[i]) {
      case 'n':
        Out += '\n';
        break;
      case 'r':
        Out += '\r';
        break;
      case 't':
        Out += '\t';
        break;
      case 'x':
        if (i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
          Out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
          i += 2;
        } else {
          Out += 'x';
        }
        break;
      default:
        Out += s[i];
    }
  }
  return std::nullopt;
}

std::string Quote(std::string_view Text) {
  std::string Out = "\"";
  for (const char c : Text) {
    switch (c) {
      case '\\':
        Out += "\\\\";
        break;
      case '"':
        Out += "\\\"";
        break;
      case '\n':
        Out += "\\n";
        break;
      case '\r':
        Out += "\\r";
        break;
      case '\t':
        Out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char Hex[5];
          std::snprintf(Hex, sizeof Hex, "\\x%02x", static_cast<unsigned char>(c));
          Out += Hex;
        } else {
          Out += c;
        }
    }
  }
  return Out + "\"";
}

// Comma-separated bytes of hex data; line continuations were joined already
// (a backslash at a line's end, blanks before the next line's bytes).
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view s) {
  std::vector<std::uint8_t> Bytes;
  std::string_view Rest = s;
  while (true) {
    while (!Rest.empty() && (Rest.front() == ' ' || Rest.front() == '\t' || Rest.front() == '\\' ||
                             Rest.front() == '\n' || Rest.front() == '\r'))
      Rest.remove_prefix(1);
    if (Rest.empty()) break;
    const std::size_t Comma = Rest.find(',');
    const std::string_view Item = Trim(Rest.substr(0, Comma));
    if (Item.empty() || Item.size() > 2) return std::nullopt;
    const auto v = ParseHexNumber(Item);
    if (!v) return std::nullopt;
    Bytes.push_back(static_cast<std::uint8_t>(*v));
    if (Comma == std::string_view::npos) break;
    Rest.remove_prefix(Comma + 1);
  }
  return Bytes;
}

struct TParsedValue {
  std::string Name;
  TRegValue Value;
};

// "Name"=data or @=data.
std::optional<TParsedValue> ParseValueLine(std::string_view Line) {
  std::string_view s = Trim(Line);
  TParsedValue Out;
  if (!s.empty() && s.front() == '@') {
    s.remove_prefix(1);
  } else {
    auto Name = ParseQuoted(s);
    if (!Name) return std::nullopt;
    Out.Name = std::move(*Name);
  }
  s = Trim(s);
  if (s.empty() || s.front() != '=') return std::nullopt;
  s = Trim(s.substr(1));
  if (!s.empty() && s.front() == '"') {
    auto Text = ParseQuoted(s);
    if (!Text || !Trim(s).empty()) return std::nullopt;
    Out.Value = TRegValue::FromString(*Text);
    return Out;
  }
  if (StartsWithText(s, "dword:")) {
    const auto v = ParseHexNumber(Trim(s.substr(6)));
    if (!v) return std::nullopt;
    Out.Value = TRegValue::FromDWord(*v);
    return Out;
  }
  if (!StartsWithText(s, "hex")) return std::nullopt;
  s.remove_prefix(3);
  std::uint32_t Type = REG_BINARY;
  if (!s.empty() && s.front() == '(') {
    const std::size_t Close = s.find(')');
    if (Close == std::string_view::npos) return std::nullopt;
    const auto t = ParseHexNumber(s.substr(1, Close - 1));
    if (!t) return std::nullopt;
    Type = *t;
    s.remove_prefix(Close + 1);
  }
  if (s.empty() || s.front() != ':') return std::nullopt;
  auto Bytes = ParseHexBytes(s.substr(1));
  if (!Bytes) return std::nullopt;
  Out.Value.Type = Type;
  Out.Value.Data = std::move(*Bytes);
  return Out;
}

// The key path of a section header "[...]", or nothing.
std::optional<std::string> SectionKey(std::string_view Line) {
  const std::string_view s = Trim(Line);
  if (s.size() < 2 || s.front() != '[' || s.back() != ']') return std::nullopt;
  return std::string(Trim(s.substr(1, s.size() - 2)));
}

// A key without trailing backslashes and outer blanks, so that "A\B\" and "A\B"
// are one key, as are a section "[ A\B ]" and "A\B".
std::string_view KeyOf(std::string_view Key) {
  for (std::size_t Before = Key.size() + 1; Key.size() != Before;) {
    Before = Key.size();
    Key = Trim(Key);
    while (!Key.empty() && Key.back() == '\\') Key.remove_suffix(1);
  }
  return Key;
}

// Whether the key lies within Key (is Key or one of its subkeys).
bool IsWithin(std::string_view Candidate, std::string_view Key) {
  Candidate = KeyOf(Candidate);
  Key = KeyOf(Key);
  if (!StartsWithText(Candidate, Key)) return false;
  return Candidate.size() == Key.size() || Candidate[Key.size()] == '\\';
}

bool IsHeaderLine(std::string_view Line) {
  const std::string_view s = Trim(Line);
  return s == kHeader || StartsWithText(s, "Windows Registry Editor Version");
}

}  // namespace

TRegValue TRegValue::FromString(std::string_view Text) {
  TRegValue v;
  v.Type = REG_SZ;
  v.Data.assign(Text.begin(), Text.end());
  v.Data.push_back(0);
  return v;
}

TRegValue TRegValue::FromDWord(std::uint32_t Value) {
  TRegValue v;
  v.Type = REG_DWORD;
  for (int i = 0; i < 4; ++i) v.Data.push_back(static_cast<std::uint8_t>(Value >> (8 * i)));
  return v;
}

TRegValue TRegValue::FromBinary(const void* Bytes, std::size_t Count) {
  TRegValue v;
  v.Type = REG_BINARY;
  const auto* p = static_cast<const std::uint8_t*>(Bytes);
  v.Data.assign(p, p + Count);
  return v;
}

TRegFile TRegFile::Parse(std::string_view Text) {
  TRegFile File;
  std::vector<std::string> Lines;
  for (std::size_t Pos = 0; Pos < Text.size();) {
    std::size_t End = Text.find('\n', Pos);
    if (End == std::string_view::npos) End = Text.size();
    Lines.emplace_back(Text.substr(Pos, End - Pos));
    Pos = End + 1;
  }
  for (std::size_t i = 0; i < Lines.size(); ++i) {
    std::string Raw = Lines[i];
    if (!File.FHasHeader && File.FSections.empty() && IsHeaderLine(Raw)) File.FHasHeader = true;
    if (auto Key = SectionKey(Raw)) {
      File.FSections.push_back(TSection{std::move(Raw), std::move(*Key), {}});
      continue;
    }
    if (File.FSections.empty()) {
      File.FPreamble.push_back(std::move(Raw));
      continue;
    }
    // Hex data may run over several physical lines, each but the last ending in
    // '\' and the next one going on with hex digits.
    if (Raw.find("=hex") != std::string::npos)
      while (Trim(Raw).back() == '\\' && i + 1 < Lines.size() && !Trim(Lines[i + 1]).empty() &&
             HexDigit(Trim(Lines[i + 1]).front()) >= 0)
        Raw += "\n" + Lines[++i];
    TLine Line;
    if (auto Value = ParseValueLine(Raw)) {
      Line.IsValue = true;
      Line.Name = std::move(Value->Name);
      Line.Value = std::move(Value->Value);
    }
    Line.Raw = std::move(Raw);
    File.FSections.back().Lines.push_back(std::move(Line));
  }
  return File;
}

std::string TRegFile::ValueLine(const TLine& Line) {
  std::string Out = Line.Name.empty() ? std::string("@") : Quote(Line.Name);
  Out += '=';
  const TRegValue& v = Line.Value;
  const bool PlainString = v.Type == REG_SZ && !v.Data.empty() && v.Data.back() == 0 &&
                           std::find(v.Data.begin(), v.Data.end() - 1, 0) == v.Data.end() - 1;
  if (PlainString)
    return Out + Quote({reinterpret_cast<const char*>(v.Data.data()), v.Data.size() - 1});
  if (v.Type == REG_DWORD && v.Data.size() == 4) {
    const std::uint32_t d =
        v.Data[0] | v.Data[1] << 8 | v.Data[2] << 16 | static_cast<std::uint32_t>(v.Data[3]) << 24;
    char Hex[20];
    std::snprintf(Hex, sizeof Hex, "dword:%08x", d);
    return Out + Hex;
  }
  char Prefix[20];
  if (v.Type == REG_BINARY)
    std::snprintf(Prefix, sizeof Prefix, "hex:");
  else
    std::snprintf(Prefix, sizeof Prefix, "hex(%x):", v.Type);
  Out += Prefix;
  std::size_t Width = Out.size();
  for (std::size_t i = 0; i < v.Data.size(); ++i) {
    char Byte[4];
    std::snprintf(Byte, sizeof Byte, "%02x", v.Data[i]);
    Out += Byte;
    Width += 2;
    if (i + 1 < v.Data.size()) {
      Out += ',';
      ++Width;
      if (Width >= kHexLineWidth) {
        Out += "\\\n  ";
        Width = 2;
      }
    }
  }
  return Out;
}

std::string TRegFile::Text() const {
  std::string Out;
  if (!FHasHeader) Out += std::string(kHeader) + "\n\n";
  for (const std::string& Line : FPreamble) Out += Line + "\n";
  for (const TSection& Section : FSections) {
    // A new section stands apart from what comes before it.
    if (Section.Raw.empty() && (Out.size() < 2 || Out.compare(Out.size() - 2, 2, "\n\n") != 0))
      Out += "\n";
    Out += Section.Raw.empty() ? "[" + Section.Key + "]" : Section.Raw;
    Out += "\n";
    for (const TLine& Line : Section.Lines)
      Out += (Line.Changed ? ValueLine(Line) : Line.Raw) + "\n";
  }
  return Out;
}

bool TRegFile::KeyExists(std::string_view Key) const {
  return std::any_of(FSections.begin(), FSections.end(),
                     [&](const TSection& s) { return IsWithin(s.Key, Key); });
}

TRegFile::TSection* TRegFile::LastSection(std::string_view Key) {
  for (auto s = FSections.rbegin(); s != FSections.rend(); ++s)
    if (SameText(KeyOf(s->Key), KeyOf(Key))) return &*s;
  return nullptr;
}

TRegFile::TLine* TRegFile::LastValue(std::string_view Key, std::string_view Name) {
  for (auto s = FSections.rbegin(); s != FSections.rend(); ++s) {
    if (!SameText(KeyOf(s->Key), KeyOf(Key))) continue;
    for (auto l = s->Lines.rbegin(); l != s->Lines.rend(); ++l)
      if (l->IsValue && SameText(l->Name, Name)) return &*l;
  }
  return nullptr;
}

const TRegValue* TRegFile::FindValue(std::string_view Key, std::string_view Name) const {
  const TLine* Line = const_cast<TRegFile*>(this)->LastValue(Key, Name);
  return Line ? &Line->Value : nullptr;
}

void TRegFile::CreateKey(std::string_view Key) {
  Key = KeyOf(Key);
  // Missing parents first, as an export lists them; a parent that has a subkey's
  // section exists already.
  for (std::size_t Pos = Key.find('\\'); Pos != std::string_view::npos;
       Pos = Key.find('\\', Pos + 1)) {
    const std::string_view Parent = Key.substr(0, Pos);
    if (!Parent.empty() && !KeyExists(Parent))
      FSections.push_back(TSection{{}, std::string(Parent), {}});
  }
  if (!LastSection(Key)) FSections.push_back(TSection{{}, std::string(Key), {}});
}

void TRegFile::SetValue(std::string_view Key, std::string_view Name, const TRegValue& Value) {
  if (TLine* Line = LastValue(Key, Name)) {
    if (Line->Value == Value) return;
    Line->Value = Value;
    Line->Changed = true;
    return;
  }
  CreateKey(Key);
  TSection* Section = LastSection(Key);
  if (!Section) return;
  TLine Line;
  Line.IsValue = true;
  Line.Changed = true;
  Line.Name = std::string(Name);
  Line.Value = Value;
  // New values go after the section's last value, before its trailing blank lines.
  auto At = Section->Lines.end();
  while (At != Section->Lines.begin() && !std::prev(At)->IsValue &&
         Trim(std::prev(At)->Raw).empty())
    --At;
  Section->Lines.insert(At, std::move(Line));
}

}  // namespace velmar
