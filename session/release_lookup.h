// TReleaseLookup: a side's listing from the MusicBrainz web service. Searches
// releases by artist and album title or by barcode, then fetches the chosen
// release with its tracks as JSON (what ParseReleaseJson and `split
// --listing` read). The service asks every program to name itself in its
// User-Agent and to make at most one request a second; both are kept here,
// across all lookups of the process. A service that cannot be reached, or
// answers otherwise than with JSON, is said in one sentence.
//
// Threads: any, one lookup at a time per object; a call blocks while it
// waits its turn and for the answer (the review runs it on its worker).
#pragma once

#include <string>
#include <vector>

#include "session/track_listing.h"

namespace velmar {

class TReleaseLookup {
 public:
  // The service's root, ".../ws/2/"; by default MusicBrainz's own, or what
  // VELMAR_MUSICBRAINZ names (a mirror, a test's local server).
  explicit TReleaseLookup(std::string Root = DefaultRoot());
  static std::string DefaultRoot();

  // Releases by artist and album title, or by barcode (when not empty); false
  // with Error when the service cannot answer.
  bool Search(const std::string& Artist, const std::string& Album, const std::string& Barcode,
              std::vector<TReleaseHit>& Hits, std::string& Error);
  // The release with its media and tracks, as the service's JSON.
  bool Release(const std::string& Id, std::string& Json, std::string& Error);

  // What the requests say who they are.
  static std::string UserAgent();

 private:
  bool Get(const std::string& PathAndQuery, std::string& Body, std::string& Error);
  std::string FRoot;
};

}  // namespace velmar
