#include "cli/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace velmar::cli {

bool TOptions::Parse(const std::vector<std::string>& Args, const std::vector<std::string>& Valued,
                     const std::vector<std::string>& Flags) {
  auto Known = [](const std::vector<std::string>& List, const std::string& Name) {
    return std::find(List.begin(), List.end(), Name) != List.end();
  };
  static const std::map<std::string, std::string> kShort = {
      {"-o", "--out"}, {"-d", "--device"}, {"-n", "--noise-gate"}};
  for (std::size_t i = 0; i < Args.size(); ++i) {
    std::string a = Args[i];
    const auto Short = kShort.find(a);
    if (Short != kShort.end()) a = Short->second;
    if (a.size() < 2 || a[0] != '-' || a == "-") {
      FPositional.push_back(a);
      continue;
    }
    std::optional<std::string> Value;
    if (const auto Equals = a.find('='); a.rfind("--", 0) == 0 && Equals != std::string::npos) {
      Value = a.substr(Equals + 1);
      a.resize(Equals);
    }
    if (Known(Flags, a) && !Value) {
      FValues[a] = "";
    } else if (Known(Flags, a)) {
      FError = a + " takes no value";
      return false;
    } else if (Known(Valued, a)) {
      if (!Value && i + 1 >= Args.size()) {
        FError = a + " needs a value";
        return false;
      }
      FValues[a] = Value ? *Value : Args[++i];
    } else {
      FError = "unknown option " + Args[i];
      return false;
    }
  }
  return true;
}

std::string TOptions::Text(const std::string& Name, const std::string& Default) const {
  const auto It = FValues.find(Name);
  return It == FValues.end() ? Default : It->second;
}

bool TOptions::Integer(const std::string& Name, long long Min, long long Max, long long Default,
                       long long& Value) {
  Value = Default;
  const auto It = FValues.find(Name);
  if (It == FValues.end()) return true;
  const char* Begin = It->second.c_str();
  char* End = nullptr;
  errno = 0;
  const long long v = std::strtoll(Begin, &End, 10);
  if (errno != 0 || End == Begin || *End != '\0' || v < Min || v > Max) {
    FError = Name + " takes a whole number from " + std::to_string(Min) + " to " +
             std::to_string(Max) + ", not '" + It->second + "'";
    return false;
  }
  Value = v;
  return true;
}

bool TOptions::OneOf(const std::string& Name, const std::vector<long long>& Allowed,
                     long long Default, long long& Value) {
  const long long Low = *std::min_element(Allowed.begin(), Allowed.end());
  const long long High = *std::max_element(Allowed.begin(), Allowed.end());
  if (Integer(Name, Low, High, Default, Value) &&
      std::find(Allowed.begin(), Allowed.end(), Value) != Allowed.end())
    return true;
  std::string Names;
  for (std::size_t i = 0; i < Allowed.size(); ++i)
    Names += (i == 0 ? "" : i + 1 == Allowed.size() ? " or " : ", ") + std::to_string(Allowed[i]);
  FError = Name + " takes " + Names + ", not '" + FValues.at(Name) + "'";
  return false;
}

bool TOptions::Seconds(const std::string& Name, double Min, double Max, const std::string& Range,
                       std::optional<double>& Value) {
  Value.reset();
  const auto It = FValues.find(Name);
  if (It == FValues.end()) return true;
  const char* Begin = It->second.c_str();
  char* End = nullptr;
  errno = 0;
  const double v = std::strtod(Begin, &End);
  if (errno != 0 || End == Begin || *End != '\0' || !std::isfinite(v) || v < Min || v > Max) {
    FError = Name + " takes a number of seconds from " + Range + ", not '" + It->second + "'";
    return false;
  }
  Value = v;
  return true;
}

}  // namespace velmar::cli
