#include "stream/mm_types.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

namespace velmar {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string DeviceIdToText(TMMDeviceId Id) {
  if (Id == MapperId) return "MapperId";
  if (Id == InvalidId) return "InvalidId";
  return std::to_string(Id);
}

TMMDeviceId TextToDeviceId(std::string_view Text) {
  if (SameText(Text, "MapperId")) return MapperId;
  if (SameText(Text, "InvalidId")) return InvalidId;
  std::string_view Digits = Text;
  while (!Digits.empty() && std::isspace(static_cast<unsigned char>(Digits.front())))
    Digits.remove_prefix(1);
  if (Digits.size() > 1 && Digits.front() == '+' &&
      std::isdigit(static_cast<unsigned char>(Digits[1])))
    Digits.remove_prefix(1);
  TMMDeviceId Value = 0;
  const char* End = Digits.data() + Digits.size();
  auto [Ptr, Ec] = std::from_chars(Digits.data(), End, Value);
  if (Digits.empty() || Ec != std::errc() || Ptr != End)
    throw std::invalid_argument("'" + std::string(Text) + "' is not a valid integer value");
  return Value;
}

}  // namespace velmar
