// Command-line options of velmar-rec: "--name value" or "--name=value" pairs
// and flags after the command, mixed with its file arguments, each checked
// against its range; -o, -d and -n are short for --out, --device and
// --noise-gate. A value out of range, a malformed number or an unknown option
// is an error, never clamped.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmar::cli {

class TOptions {
 public:
  // Splits Args (after the command) into positional arguments, options that
  // take a value (Valued) and flags (Flags); false with Error set on a mistake.
  bool Parse(const std::vector<std::string>& Args, const std::vector<std::string>& Valued,
             const std::vector<std::string>& Flags);

  const std::vector<std::string>& Positional() const { return FPositional; }
  bool Has(const std::string& Name) const { return FValues.count(Name) > 0; }
  std::string Text(const std::string& Name, const std::string& Default) const;
  // The integer value of Name within Min..Max, Default when absent; false with
  // Error set when it is not a whole number in range.
  bool Integer(const std::string& Name, long long Min, long long Max, long long Default,
               long long& Value);
  // One of the whole numbers Allowed, Default when absent; false with Error
  // set (naming them) otherwise.
  bool OneOf(const std::string& Name, const std::vector<long long>& Allowed, long long Default,
             long long& Value);
  // A number of seconds (decimals allowed) from Min to Max; Range says so in
  // the error.
  bool Seconds(const std::string& Name, double Min, double Max, const std::string& Range,
               std::optional<double>& Value);

  const std::string& Error() const { return FError; }

 private:
  std::vector<std::string> FPositional;
  std::map<std::string, std::string> FValues;
  std::string FError;
};

}  // namespace velmar::cli
