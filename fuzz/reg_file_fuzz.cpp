// Feeds arbitrary text to the registry file parser, then checks what a program
// relies on: the text it writes back parses to the same values, lines it did not
// change keep their text, and a value it sets reads back.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry/reg_file.h"

namespace {

using namespace velmar;

void Check(bool Condition) {
  if (!Condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
  TRegFile File = TRegFile::Parse(Input);
  const std::string Text = File.Text();
  // Nothing of the input is lost: unchanged, it is written back as it came
  // (after a header line when it had none).
  Check(Text.size() >= Size &&
        Text.find(std::string(Input.substr(0, Input.rfind('\n') + 1))) != std::string::npos);
  Check(TRegFile::Parse(Text).Text() == Text);

  // A value set under a key taken from the input reads back, also after a round trip.
  std::string Key = "HKEY_CURRENT_USER\\Fuzz";
  if (const auto Open = Input.find('['), Close = Input.find(']');
      Open != std::string_view::npos && Close != std::string_view::npos && Open < Close)
    Key = std::string(Input.substr(Open + 1, Close - Open - 1));
  // Callers pass printable key paths.
  if (std::any_of(Key.begin(), Key.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
    Key = "HKEY_CURRENT_USER\\Fuzz";
  const TRegValue Value = TRegValue::FromString(Input.substr(0, 64));
  File.SetValue(Key, "Name", Value);
  const TRegFile Again = TRegFile::Parse(File.Text());
  const TRegValue* Back = Again.FindValue(Key, "Name");
  Check(Back && *Back == Value);
  return 0;
}
