// Text that other programs wrote (titles files, cue sheets, INFO titles, file
// names) made UTF-8, which everything here holds: a byte order mark goes;
// UTF-16 with its mark is converted; bytes that are not UTF-8 are read as
// Windows-1252 (Latin-1 with the printable 0x80..0x9F), as a Windows editor
// writes them.
//
// Plain functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace velmar {

bool IsUtf8(std::string_view Text);
std::string TextAsUtf8(std::string_view Text);

}  // namespace velmar
