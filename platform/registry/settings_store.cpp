#include "platform/registry/settings_store.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/files.h"

namespace velmar {

namespace {

TSettingsStore* GCurrentStore = nullptr;

// The general floating-point format with 15 significant digits: fixed notation
// while at most 15 digits stand before the point and the value is at least
// 0.00001, otherwise "d.dddE-x"; trailing zeros dropped.
std::string GeneralFloat(double Value) {
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value < 0 ? "-INF" : "INF";
  if (Value == 0) return "0";
  char Buf[40];
  std::snprintf(Buf, sizeof Buf, "%.14e", Value);  // [-]d.dddddddddddddde[+-]x
  std::string s = Buf;
  const std::size_t E = s.find('e');
  const int Exponent = std::atoi(s.c_str() + E + 1);
  const bool Negative = s[0] == '-';
  std::string Digits;
  for (std::size_t i = Negative ? 1 : 0; i < E; ++i)
    if (s[i] != '.') Digits += s[i];
  while (Digits.size() > 1 && Digits.back() == '0') Digits.pop_back();
  std::string Out = Negative ? "-" : "";
  if (Exponent < 15 && Exponent >= -5) {
    if (Exponent < 0) {
      Out += "0." + std::string(static_cast<std::size_t>(-Exponent - 1), '0') + Digits;
    } else {
      const auto Whole = static_cast<std::size_t>(Exponent) + 1;
      if (Digits.size() <= Whole) return Out + Digits + std::string(Whole - Digits.size(), '0');
      Out += Digits.substr(0, Whole) + "." + Digits.substr(Whole);
    }
    return Out;
  }
  Out += Digits[0];
  if (Digits.size() > 1) {
    Out += '.';
    Out.append(Digits, 1);
  }
  Out += 'E';
  Out += std::to_string(Exponent);
  return Out;
}

std::string TimeText(double DateTime) {
  if (!std::isfinite(DateTime)) return "00:00:00";
  const double Day = std::fabs(DateTime - std::trunc(DateTime));
  const double Rounded = std::floor(Day * 86400.0 + 0.5);
  const unsigned Seconds = Rounded >= 86399 ? 86399u : static_cast<unsigned>(Rounded);
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, "%02u:%02u:%02u", Seconds / 3600, Seconds / 60 % 60, Seconds % 60);
  return Buf;
}

std::string_view CleanKey(std::string_view Key) {
  if (!Key.empty() && Key.back() == '\\') Key.remove_suffix(1);
  if (!Key.empty() && Key.front() == '\\') Key.remove_prefix(1);
  return Key;
}

std::string_view CleanName(std::string_view Name) {
  for (int i = 0; i < 2 && !Name.empty() && Name.front() == '\\'; ++i) Name.remove_prefix(1);
  return Name;
}

std::string LogPath(std::string_view Key, std::string_view Name) {
  return std::string(Key) + "\\" + std::string(Name);
}

template <class T>
TRegValue Binary(const T& Value) {
  return TRegValue::FromBinary(&Value, sizeof Value);
}

TRegValue Encode(const TRegData& Value) {
  struct {
    TRegValue operator()(int v) const {
      return TRegValue::FromDWord(static_cast<std::uint32_t>(v));
    }
    TRegValue operator()(bool v) const { return TRegValue::FromDWord(v ? 1 : 0); }
    TRegValue operator()(const std::string& v) const { return TRegValue::FromString(v); }
    TRegValue operator()(double v) const { return Binary(v); }
    TRegValue operator()(TCurrency v) const { return Binary(v.Scaled); }
    TRegValue operator()(TDateTime v) const { return Binary(v.Value); }
  } Visitor;
  return std::visit(Visitor, Value);
}

// Reads a stored value with the reader of Like's type; nothing when the stored
// value is of another type or size.
std::optional<TRegData> Decode(const TRegValue& Stored, const TRegData& Like) {
  const auto& d = Stored.Data;
  auto Int = [&]() -> std::optional<std::int32_t> {
    if (Stored.Type != REG_DWORD || d.size() != 4) return std::nullopt;
    std::int32_t v;
    std::memcpy(&v, d.data(), 4);
    return v;
  };
  auto Eight = [&]<class T>(T* Out) {
    if (Stored.Type != REG_BINARY || d.size() != 8) return false;
    std::memcpy(Out, d.data(), 8);
    return true;
  };
  if (std::holds_alternative<int>(Like)) {
    if (auto v = Int()) return TRegData(static_cast<int>(*v));
  } else if (std::holds_alternative<bool>(Like)) {
    if (auto v = Int()) return TRegData(*v != 0);
  } else if (std::holds_alternative<std::string>(Like)) {
    if (Stored.Type != REG_SZ && Stored.Type != REG_EXPAND_SZ) return std::nullopt;
    std::string s(d.begin(), d.end());
    return TRegData(s.substr(0, s.find('\0')));
  } else if (std::holds_alternative<double>(Like)) {
    double v;
    if (Eight(&v)) return TRegData(v);
  } else if (std::holds_alternative<TCurrency>(Like)) {
    TCurrency v;
    if (Eight(&v.Scaled)) return TRegData(v);
  } else {
    TDateTime v;
    if (Eight(&v.Value)) return TRegData(v);
  }
  return std::nullopt;
}

// The registry when the key can be opened.
std::optional<TRegFile> OpenKey(const std::string& FullKey, std::string_view Key) {
  TRegFile File;
  if (!LoadRegistry(File)) return std::nullopt;
  if (!Key.empty() && !File.KeyExists(FullKey)) return std::nullopt;
  return File;
}

}  // namespace

std::string RegValueText(const TRegData& Value) {
  struct {
    std::string operator()(int v) const { return std::to_string(v); }
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(const std::string& v) const { return v; }
    std::string operator()(double v) const { return GeneralFloat(v); }
    std::string operator()(TCurrency v) const {
      return GeneralFloat(static_cast<double>(v.Scaled) / 10000.0);
    }
    std::string operator()(TDateTime v) const { return TimeText(v.Value); }
  } Visitor;
  return std::visit(Visitor, Value);
}

TSettingsStore::TSettingsStore(std::string Folder)
    : FStartDirectory(std::move(Folder)), FPrevious(GCurrentStore) {
  std::error_code Ignored;
  if (FStartDirectory.empty()) FStartDirectory = std::filesystem::current_path(Ignored).string();
  GCurrentStore = this;
}

TSettingsStore::~TSettingsStore() {
  if (GCurrentStore == this) GCurrentStore = FPrevious;
  try {
    std::string Text;
    for (const std::string& Line : FLog) Text += Line + "\n";
    // The access log is for diagnosis only: losing it stops nothing, but is said.
    if (!WriteFileAtomically(LogFileName(), Text))
      std::fprintf(stderr, "velmar: the access log %s was not written\n", LogFileName().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmar: the access log was not written: %s\n", e.what());
  }
}

std::string TSettingsStore::LogFileName() const {
  return (std::filesystem::path(FStartDirectory) / "velmar_audio_recorer.log").string();
}

TSettingsStore* CurrentSettingsStore() {
  return GCurrentStore;
}

void LogRegAccess(std::string_view Op, std::string_view Path, const TRegData& Value) {
  if (!GCurrentStore) return;
  GCurrentStore->Add(std::string(Op) + "\t" + std::string(Path) + "\t" + RegValueText(Value));
}

TRegData ReadRegData(HKEY Root, std::string_view Key, std::string_view Name,
                     const TRegData& Default) try {
  Key = CleanKey(Key);
  Name = CleanName(Name);
  const std::string FullKey = RegistryKeyPath(Root, Key);
  const auto File = OpenKey(FullKey, Key);
  if (!File) return Default;
  TRegData Result = Default;
  if (const TRegValue* Stored = File->FindValue(FullKey, Name))
    if (auto v = Decode(*Stored, Default)) Result = std::move(*v);
  LogRegAccess("Read", LogPath(Key, Name), Result);
  return Result;
} catch (...) {
  return Default;  // nothing leaves the store (out of memory included)
}

bool WriteRegData(HKEY Root, std::string_view Key, std::string_view Name,
                  const TRegData& Value) try {
  Key = CleanKey(Key);
  Name = CleanName(Name);
  const std::string FullKey = RegistryKeyPath(Root, Key);
  const TRegValue Stored = Encode(Value);
  if (!UpdateRegistry([&](TRegFile& File) { File.SetValue(FullKey, Name, Stored); })) return false;
  // Read back what the registry now holds.
  TRegFile File;
  if (!LoadRegistry(File)) return false;
  const TRegValue* Back = File.FindValue(FullKey, Name);
  if (!Back) return false;
  if (auto v = Decode(*Back, Value)) LogRegAccess("Write", LogPath(Key, Name), *v);
  return true;
} catch (...) {
  return false;  // nothing leaves the store (out of memory included)
}

bool RegValueExists(HKEY Root, std::string_view Key, std::string_view Name) try {
  Key = CleanKey(Key);
  Name = CleanName(Name);
  const std::string FullKey = RegistryKeyPath(Root, Key);
  const auto File = OpenKey(FullKey, Key);
  if (!File) return false;
  const bool Exists = File->FindValue(FullKey, Name) != nullptr;
  LogRegAccess(Exists ? "True" : "False", LogPath(Key, Name), std::string());
  return Exists;
} catch (...) {
  return false;
}

}  // namespace velmar
