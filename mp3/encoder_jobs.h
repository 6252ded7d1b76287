// Encodes a list of WAV files into MP3s (or FLAC files) on up to Workers
// threads, one file per thread at a time. Errors of one file are kept and the others go on; Cancel
// stops every file being written (its partial file goes) and starts no more.
//
// Start and Wait on one thread; the counters may be read from any thread while
// the jobs run (the window reads them on a timer).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mp3/encoded_output.h"
#include "restore/loudness.h"

namespace velmar {

struct TEncoderJob {
  std::string Input;
  std::atomic<std::int64_t> Done{0};
  std::atomic<std::int64_t> Total{0};
  std::atomic<bool> Finished{false};
  TEncodeResult Result;  // valid once Finished
  std::unique_ptr<TLoudness> Loudness;  // with ReplayGain: the file's, once Finished
};

// What the files become.
struct TEncoding {
  bool Flac = false;  // else MP3
  int FlacLevel = 5;  // 0..8
  // Track gains written as each file is encoded, the album's (all the files
  // written) once every file is done.
  bool ReplayGain = true;
  const char* Name() const { return Flac ? "FLAC" : "MP3"; }
};

class TEncoderJobs {
 public:
  explicit TEncoderJobs(const std::vector<std::string>& Files, TEncoding Encoding = {});
  const TEncoding& Encoding() const { return FEncoding; }
  ~TEncoderJobs();

  // Starts the workers (at most Workers, at most one per file).
  void Start(unsigned Workers);
  // Waits for all workers; then, unless cancelled, the files written get the
  // album's ReplayGain (a file that could not take it keeps its track gain
  // and says so in its Note).
  void Wait();
  // The album's gain, once Wait is done (unknown without ReplayGain).
  const TReplayGain& Album() const { return FAlbum; }
  void Cancel() { FCancel = true; }
  bool Cancelled() const { return FCancel; }

  std::size_t Count() const { return FJobs.size(); }
  TEncoderJob& Job(std::size_t Index) { return *FJobs[Index]; }
  // Files finished (well or not).
  std::size_t FinishedCount() const { return FFinished; }
  // All files' progress, 0..1, weighted by their length.
  double Progress() const;
  // Called on a worker thread when a file is finished.
  std::function<void(std::size_t Index)> OnFinished;

 private:
  void Work();
  void TagAlbum();

  TEncoding FEncoding;
  std::vector<std::unique_ptr<TEncoderJob>> FJobs;
  std::vector<std::thread> FThreads;
  std::atomic<std::size_t> FNext{0};
  std::atomic<std::size_t> FFinished{0};
  std::atomic<bool> FCancel{false};
  TReplayGain FAlbum;
};

// "FileList" of the encoder's settings as file names (CR LF separated).
std::vector<std::string> SplitFileList(const std::string& Text);

}  // namespace velmar
