// Labelled positions kept in a WAV file: a "cue " chunk of cue points and a
// "LIST" "adtl" chunk with a "labl" text for each, as other programs read
// markers. The recorder keeps where its input lost audio this way, so that a
// user finds and hears each place later.
//
// Plain functions on closed files; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

struct TCueMarker {
  std::uint32_t Frame = 0;  // the sample frame it marks
  std::string Label;
};

// Adds Markers after the file's last chunk (the file's own, if it has any,
// stay) and corrects the RIFF size last, so that a crash midway leaves the
// file as it was to every reader. False with Error when it cannot.
bool AppendCueMarkers(const std::string& Path, const std::vector<TCueMarker>& Markers,
                      std::string& Error);

// The markers of a "cue " chunk body with the "labl" texts of an "adtl" list
// body (either may be empty), in the order of their frames.
std::vector<TCueMarker> ParseCueMarkers(const std::vector<std::uint8_t>& Cue,
                                        const std::vector<std::uint8_t>& Adtl);

}  // namespace velmar
