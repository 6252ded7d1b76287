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
#include "tests/support/fluid_music.h"
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

// The side's release as the service writes it, id kSideRelease: a 12" with
// its three songs on side A (their lengths from the side) and one on side B.
inline constexpr const char* kSideRelease = "5f6a1c2e-0000-4000-8000-00000000a001";
inline std::string SideReleaseJson(const SongSide& Side) {
  std::string Tracks;
  for (std::size_t i = 0; i < Side.Music.size(); ++i) {
    const double End =
        i + 1 < Side.Music.size() ? Side.Music[i + 1].first : Side.Music[i].second + 1;
    Tracks += "{\"id\": \"t" + std::to_string(i) + "\", \"number\": \"A" + std::to_string(i + 1) +
              "\", \"position\": " + std::to_string(i + 1) + ", \"title\": \"" +
              SongSide::kTitles[i] +
              "\", \"length\": " + std::to_string(std::lround((End - Side.Music[i].first) * 1000)) +
              ", \"recording\": {\"title\": \"" + SongSide::kTitles[i] + "\"}},";
  }
  return R"({"id": "5f6a1c2e-0000-4000-8000-00000000a001", "title": "Kind of Quiet",
    "date": "1971-05-01", "country": "GB", "barcode": "5012345678900", "status": "Official",
    "artist-credit": [{"name": "The Velmar Trio", "joinphrase": "", "artist": {"id": "a1", "name": "The Velmar Trio"}}],
    "media": [{"position": 1, "format": "12\" Vinyl", "track-count": 4, "tracks": [)" +
         Tracks +
         R"({"id": "t9", "number": "B1", "position": 4, "title": "Elsewhere", "length": 240000}]}]})";
}

}  // namespace velmar::test
