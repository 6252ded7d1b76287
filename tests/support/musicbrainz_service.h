// The MusicBrainz web service as a test meets it: musicbrainz_double.py on a
// local port, serving the releases the test gives it in the service's JSON,
// refusing requests faster than one a second as the service does, and
// logging every request. VELMAR_MUSICBRAINZ points the programs at it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace velmar::test {

class MusicBrainzService {
 public:
  MusicBrainzService() {
    std::filesystem::create_directories(Dir.File("data"));
    Server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", kScript, Dir.File("port"), Dir.File("log"),
                                 Dir.File("data")},
        Dir.Path(), std::map<std::string, std::string>{});
    Started = WaitUntil([&] { return std::filesystem::exists(Dir.File("port")); });
    std::ifstream(Dir.File("port")) >> Port;
    Root = "http://127.0.0.1:" + std::to_string(Port) + "/ws/2/";
    ::setenv("VELMAR_MUSICBRAINZ", Root.c_str(), 1);
  }
  ~MusicBrainzService() { ::unsetenv("VELMAR_MUSICBRAINZ"); }

  // A release the service knows: its JSON as the service writes it.
  void Add(const std::string& Id, const std::string& Json) const {
    std::ofstream(Dir.File("data/" + Id + ".json")) << Json;
  }
  // The requests so far: a line each, "time<TAB>path<TAB>agent<TAB>status".
  std::string Log() const {
    std::ifstream In(Dir.File("log"));
    std::stringstream Text;
    Text << In.rdbuf();
    return Text.str();
  }

  bool Started = false;
  int Port = 0;
  std::string Root;

 private:
  static constexpr const char* kScript = VELMAR_SOURCE_DIR "/tests/support/musicbrainz_double.py";
  TempDir Dir;
  std::unique_ptr<ChildProcess> Server;
};

}  // namespace velmar::test
