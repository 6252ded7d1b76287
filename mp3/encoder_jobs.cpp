#include "mp3/encoder_jobs.h"

#include "mp3/flac_file_encoder.h"
#include "mp3/mp3_file_encoder.h"
#include "mp3/tag_fields.h"

namespace velmar {

TEncoderJobs::TEncoderJobs(const std::vector<std::string>& Files, TEncoding Encoding)
    : FEncoding(Encoding) {
  for (const std::string& File : Files) {
    FJobs.push_back(std::make_unique<TEncoderJob>());
    FJobs.back()->Input = File;
  }
}

TEncoderJobs::~TEncoderJobs() {
  Cancel();
  Wait();
}

void TEncoderJobs::Start(unsigned Workers) {
  const std::size_t n = std::min<std::size_t>(std::max(1u, Workers), FJobs.size());
  for (std::size_t i = 0; i < n; ++i) FThreads.emplace_back([this] { Work(); });
}

void TEncoderJobs::Wait() {
  const bool Ran = !FThreads.empty();
  for (std::thread& t : FThreads)
    if (t.joinable()) t.join();
  FThreads.clear();
  if (Ran && FEncoding.ReplayGain && !FCancel) TagAlbum();
}

void TEncoderJobs::TagAlbum() {
  std::vector<const TLoudness*> Tracks;
  for (const auto& j : FJobs)
    if (j->Result.Ok && j->Loudness) Tracks.push_back(j->Loudness.get());
  FAlbum = TLoudness::Album(Tracks);
  if (!FAlbum.Known) return;
  for (const auto& j : FJobs) {
    std::string Error;
    if (j->Result.Ok && j->Loudness &&
        !WriteTagFields(j->Result.Output, FEncoding.Flac, ReplayGainFields(true, FAlbum), Error))
      j->Result.Note += std::string(j->Result.Note.empty() ? "" : "; ") + "no album gain: " + Error;
  }
}

void TEncoderJobs::Work() {
  for (;;) {
    const std::size_t Index = FNext++;
    if (Index >= FJobs.size()) return;
    TEncoderJob& j = *FJobs[Index];
    if (FCancel) {
      j.Result.Cancelled = true;
      j.Result.Error = "cancelled";
    } else {
      // A file that fails is reported; the others go on.
      try {
        const TEncodeProgress Progress = [&j](std::int64_t Done, std::int64_t Total) {
          j.Total = Total;
          j.Done = Done;
        };
        std::unique_ptr<TLoudness>* Loudness = FEncoding.ReplayGain ? &j.Loudness : nullptr;
        j.Result = FEncoding.Flac
                       ? EncodeWavToFlac(j.Input, FEncoding.FlacLevel, FCancel, Progress, Loudness)
                       : EncodeWavToMp3(j.Input, FCancel, Progress, Loudness);
      } catch (const std::exception& Error) {
        j.Result = {};
        j.Result.Error = Error.what();
      }
    }
    j.Finished = true;
    ++FFinished;
    if (OnFinished) OnFinished(Index);
  }
}

double TEncoderJobs::Progress() const {
  double Done = 0, Total = 0;
  for (const auto& j : FJobs) {
    // A file not yet opened counts as one unit, so the bar never runs backwards much.
    const double t = j->Total > 0 ? static_cast<double>(j->Total) : 1.0;
    Total += t;
    Done += j->Finished ? t : static_cast<double>(j->Done);
  }
  return Total > 0 ? Done / Total : 1.0;
}

std::vector<std::string> SplitFileList(const std::string& Text) {
  std::vector<std::string> Files;
  std::size_t At = 0;
  while (At < Text.size()) {
    std::size_t End = Text.find_first_of("\r\n", At);
    if (End == std::string::npos) End = Text.size();
    if (End > At) Files.push_back(Text.substr(At, End - At));
    At = End + 1;
  }
  return Files;
}

}  // namespace velmar
