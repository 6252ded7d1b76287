#include "cli/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace velmar::cli {

bool TOptions::Parse(const std::vector<std::string>& Args, const std::vector<std::string>& Valued,
                     const std::vector<std::string>& Flags) {
  auto Known = [](const std::vector<std::string>& List, const std::string& Name) {
    return std::find(List.begin(), List.end(), Name) != List.end();
  };
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    if (a.rfind("--", 0) != 0) {
      FPositional.push_back(a);
    } else if (Known(Flags, a)) {
      FValues[a] = "";
    } else if (Known(Valued, a)) {
      if (i + 1 >= Args.size()) {
        FError = a + " needs a value";
        return false;
      }
      FValues[a] = Args[++i];
    } else {
      FError = "unknown option " + a;
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

bool TOptions::Seconds(const std::string& Name, double Max, std::optional<double>& Value) {
  Value.reset();
  const auto It = FValues.find(Name);
  if (It == FValues.end()) return true;
  const char* Begin = It->second.c_str();
  char* End = nullptr;
  errno = 0;
  const double v = std::strtod(Begin, &End);
  if (errno != 0 || End == Begin || *End != '\0' || !std::isfinite(v) || v <= 0 || v > Max) {
    FError = Name + " takes a number of seconds above 0, not '" + It->second + "'";
    return false;
  }
  Value = v;
  return true;
}

}  // namespace velmar::cli
