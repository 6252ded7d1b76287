// A private ALSA configuration for tests: PCMs defined in a file of the test's
// own, made the process's whole ALSA configuration through ALSA_CONFIG_PATH
// before any device is opened.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace velmar::test {

inline void UseAlsaConfig(const std::string& File, const std::string& Text) {
  std::ofstream(File) << Text;
  ::setenv("ALSA_CONFIG_PATH", File.c_str(), 1);
}

}  // namespace velmar::test
