#include "session/release_lookup.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "session/track_listing.h"

namespace velmar {

namespace {

constexpr auto kBetweenRequests = std::chrono::milliseconds(1000);
constexpr long kTimeoutSeconds = 20;
constexpr int kTries = 4;

// The service's one request a second, for the whole process.
std::mutex GTurnLock;
std::chrono::steady_clock::time_point GLastRequest;

std::size_t Collect(char* Data, std::size_t Size, std::size_t Count, void* Into) {
  static_cast<std::string*>(Into)->append(Data, Size * Count);
  return Size * Count;
}

std::string Escape(CURL* Curl, const std::string& Text) {
  char* e = curl_easy_escape(Curl, Text.c_str(), static_cast<int>(Text.size()));
  std::string s = e ? e : "";
  curl_free(e);
  return s;
}

// A search term as Lucene reads it: quoted, its quotes and backslashes escaped.
std::string Quoted(const std::string& Text) {
  std::string q = "\"";
  for (const char c : Text) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

}  // namespace

TReleaseLookup::TReleaseLookup(std::string Root) : FRoot(std::move(Root)) {
  if (!FRoot.empty() && FRoot.back() != '/') FRoot += '/';
}

std::string TReleaseLookup::DefaultRoot() {
  const char* Mirror = std::getenv("VELMAR_MUSICBRAINZ");
  return Mirror && *Mirror ? Mirror : "https://musicbrainz.org/ws/2/";
}

std::string TReleaseLookup::UserAgent() {
  return std::string("VelmarAudioRecorder/") + VELMAR_VERSION +
         " ( velmar-audio-recorder@users.noreply.example )";
}

bool TReleaseLookup::Get(const std::string& PathAndQuery, std::string& Body, std::string& Error) {
  static const bool Ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> Curl(Ready ? curl_easy_init() : nullptr,
                                                           curl_easy_cleanup);
  if (!Curl) {
    Error = "the web service cannot be reached from here (no HTTP library)";
    return false;
  }
  const std::string Url = FRoot + PathAndQuery;
  const std::string Agent = UserAgent();
  Body.clear();
  char Reason[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(Curl.get(), CURLOPT_URL, Url.c_str());
  curl_easy_setopt(Curl.get(), CURLOPT_USERAGENT, Agent.c_str());
  curl_easy_setopt(Curl.get(), CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(Curl.get(), CURLOPT_WRITEDATA, &Body);
  curl_easy_setopt(Curl.get(), CURLOPT_ERRORBUFFER, Reason);
  curl_easy_setopt(Curl.get(), CURLOPT_TIMEOUT, kTimeoutSeconds);
  curl_easy_setopt(Curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(Curl.get(), CURLOPT_NOSIGNAL, 1L);
  long Status = 0;
  CURLcode Done = CURLE_OK;
  // One request a second: the turn is taken when the request goes out. A
  // service that is busy (or met another program of ours a moment before)
  // answers 503: asked again after a second, a few times, as it asks.
  for (int Try = 0; Try < kTries; ++Try) {
    {
      std::lock_guard<std::mutex> Turn(GTurnLock);
      std::this_thread::sleep_until(GLastRequest + kBetweenRequests);
      Body.clear();
      Done = curl_easy_perform(Curl.get());
      GLastRequest = std::chrono::steady_clock::now();
    }
    Status = 0;
    if (Done == CURLE_OK) curl_easy_getinfo(Curl.get(), CURLINFO_RESPONSE_CODE, &Status);
    if (Status != 503) break;
  }
  if (Done != CURLE_OK) {
    Error = "the MusicBrainz web service cannot be reached (" +
            std::string(*Reason ? Reason : curl_easy_strerror(Done)) +
            "); check the connection, or paste the listing";
    return false;
  }
  if (Status == 404) {
    Error = "the MusicBrainz web service knows no such release";
    return false;
  }
  if (Status != 200) {
    Error = "the MusicBrainz web service answered " + std::to_string(Status) +
            (Status == 503 ? " (busy); try again in a moment" : "");
    return false;
  }
  return true;
}

bool TReleaseLookup::Search(const std::string& Artist, const std::string& Album,
                            const std::string& Barcode, std::vector<TReleaseHit>& Hits,
                            std::string& Error) {
  Hits.clear();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> Curl(curl_easy_init(), curl_easy_cleanup);
  std::string Query;
  if (!Barcode.empty()) {
    Query = "barcode:" + Quoted(Barcode);
  } else {
    if (!Artist.empty()) Query += "artist:" + Quoted(Artist);
    if (!Album.empty())
      Query += (Query.empty() ? "" : " AND ") + std::string("release:") + Quoted(Album);
  }
  if (Query.empty()) {
    Error = "a search needs an artist, an album title or a barcode";
    return false;
  }
  std::string Body;
  if (!Get("release/?fmt=json&limit=25&query=" + (Curl ? Escape(Curl.get(), Query) : Query), Body,
           Error))
    return false;
  return ParseReleaseHits(Body, Hits, Error);
}

bool TReleaseLookup::Release(const std::string& Id, std::string& Json, std::string& Error) {
  // An MBID: hex digits and dashes only, so that it is safe in a path.
  if (Id.empty() || Id.find_first_not_of("0123456789abcdefABCDEF-") != std::string::npos) {
    Error = "\"" + Id + "\" is not a release's MusicBrainz id";
    return false;
  }
  if (!Get("release/" + Id + "?fmt=json&inc=recordings+artist-credits", Json, Error)) return false;
  TListing Listing;
  if (!ParseReleaseJson(Json, 0, Listing, Error)) {
    Error = "the MusicBrainz web service's answer is not a release with tracks: " + Error;
    return false;
  }
  return true;
}

}  // namespace velmar
