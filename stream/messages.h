// The stream library's numbered message table. Message N is the string with the
// identifier 28000 + N; every component reports its failures with these texts.
#pragma once

#include <string>

namespace velmar {

inline constexpr int kLibMessageBase = 28000;

// The string with identifier Ident, or an empty string when there is none.
std::string LoadResString(int Ident);

// Library message N (string 28000 + N).
std::string LibMessage(int N);

// The numbers of the messages that code outside the devices names.
inline constexpr int kMsgChangeWhileOpen = 60;
inline constexpr int kMsgInvalidWaveFormat = 62;
inline constexpr int kMsgCannotConvert = 170;  // "Unable to convert to destination format"

}  // namespace velmar
