// "listing": a side's track listing from the MusicBrainz web service, for
// split --listing: releases found by artist and album or by barcode, then
// the chosen release saved as its JSON.
#include <cstdio>

#include "cli/commands.h"
#include "platform/files.h"
#include "session/release_lookup.h"
#include "session/track_listing.h"

namespace velmar::cli {

int ListingCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {"--artist", "--album", "--barcode", "--release", "--out"}, {}))
    return UsageError(o.Error());
  if (!o.Positional().empty()) return UsageError("listing takes no file names");
  const bool Search = o.Has("--artist") || o.Has("--album") || o.Has("--barcode");
  if (Search == o.Has("--release"))
    return UsageError("listing needs --artist and --album, --barcode, or --release ID");
  TReleaseLookup Lookup;
  std::string Error;
  if (Search) {
    std::vector<TReleaseHit> Hits;
    if (!Lookup.Search(o.Text("--artist", ""), o.Text("--album", ""), o.Text("--barcode", ""), Hits,
                       Error)) {
      std::fprintf(stderr, "velmar-rec: %s\n", Error.c_str());
      return 2;
    }
    if (Hits.empty()) std::fprintf(stderr, "velmar-rec: no release found\n");
    for (const TReleaseHit& h : Hits) std::printf("%s  %s\n", h.Id.c_str(), h.Text().c_str());
    return 0;
  }
  std::string Json;
  if (!Lookup.Release(o.Text("--release", ""), Json, Error)) {
    std::fprintf(stderr, "velmar-rec: %s\n", Error.c_str());
    return 2;
  }
  TListing Listing;
  ParseReleaseJson(Json, 0, Listing, Error);
  const std::string Out = o.Text("--out", "");
  if (Out.empty()) {
    std::printf("%s\n", Json.c_str());
  } else {
    // Whole or not at all: a file there before stays until the new one is complete.
    if (!WriteFileAtomically(Out, Json, 0644)) {
      std::fprintf(stderr, "velmar-rec: %s cannot be written\n", Out.c_str());
      return 2;
    }
  }
  // What it holds, on the terminal: the sides to choose with split --side.
  std::fprintf(stderr, "velmar-rec: %s - %s: %zu tracks%s\n", Listing.Artist.c_str(),
               Listing.Album.c_str(), Listing.Tracks.size(),
               Listing.Sides.size() > 1 ? (", sides " + Listing.Sides).c_str() : "");
  return 0;
}

}  // namespace velmar::cli
