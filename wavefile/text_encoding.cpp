#include "wavefile/text_encoding.h"

#include <cstdint>

namespace velmar {

namespace {

void Append(std::string& Out, char32_t Code) {
  if (Code < 0x80) {
    Out += static_cast<char>(Code);
  } else if (Code < 0x800) {
    Out += static_cast<char>(0xC0 | Code >> 6);
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Out += static_cast<char>(0xE0 | Code >> 12);
    Out += static_cast<char>(0x80 | (Code >> 6 & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | Code >> 18);
    Out += static_cast<char>(0x80 | (Code >> 12 & 0x3F));
    Out += static_cast<char>(0x80 | (Code >> 6 & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  }
}

// Windows-1252's 0x80..0x9F; 0: not assigned (kept as the Latin-1 control).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string FromUtf16(std::string_view Text, bool Big) {
  std::string Out;
  for (std::size_t i = 0; i + 1 < Text.size(); i += 2) {
    const auto a = static_cast<unsigned char>(Text[i]), b = static_cast<unsigned char>(Text[i + 1]);
    char32_t Unit = Big ? (a << 8 | b) : (b << 8 | a);
    if (Unit >= 0xD800 && Unit < 0xDC00 && i + 3 < Text.size()) {
      const auto c = static_cast<unsigned char>(Text[i + 2]),
                 d = static_cast<unsigned char>(Text[i + 3]);
      const char32_t Low = Big ? (c << 8 | d) : (d << 8 | c);
      if (Low >= 0xDC00 && Low < 0xE000) {
        Unit = 0x10000 + ((Unit - 0xD800) << 10) + (Low - 0xDC00);
        i += 2;
      }
    }
    Append(Out, Unit);
  }
  return Out;
}

}  // namespace

bool IsUtf8(std::string_view Text) {
  for (std::size_t i = 0; i < Text.size();) {
    const auto c = static_cast<unsigned char>(Text[i]);
    const int More = c < 0x80         ? 0
                     : (c >> 5) == 6  ? 1
                     : (c >> 4) == 14 ? 2
                     : (c >> 3) == 30 ? 3
                                      : -1;
    if (More < 0 || (More == 1 && c < 0xC2)) return false;  // no overlong two-byte forms
    if (i + static_cast<std::size_t>(More) >= Text.size() && More > 0) return false;
    for (int k = 1; k <= More; ++k)
      if ((static_cast<unsigned char>(Text[i + static_cast<std::size_t>(k)]) & 0xC0) != 0x80)
        return false;
    i += static_cast<std::size_t>(More) + 1;
  }
  return true;
}

std::string TextAsUtf8(std::string_view Text) {
  if (Text.starts_with("\xEF\xBB\xBF"))
    Text.remove_prefix(3);
  else if (Text.starts_with("\xFF\xFE"))
    return FromUtf16(Text.substr(2), false);
  else if (Text.starts_with("\xFE\xFF"))
    return FromUtf16(Text.substr(2), true);
  if (IsUtf8(Text)) return std::string(Text);
  std::string Out;
  for (const char c : Text) {
    const auto b = static_cast<unsigned char>(c);
    Append(Out, b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : b);
  }
  return Out;
}

}  // namespace velmar
