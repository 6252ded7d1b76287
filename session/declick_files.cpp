#include "session/declick_files.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "session/staged_files.h"
#include "session/track_files.h"
#include "stream/pcm_samples.h"
#include "wavefile/wave_audio_reader.h"
#include "wavefile/wave_scan.h"

namespace velmar {

namespace fs = std::filesystem;

TRepairedAudio::TRepairedAudio(TAudioSource Source, const WAVEFORMATEX& Format,
                               const TClickOptions& Options)
    : FSource(std::move(Source)),
      FFormat(Format),
      FBytes(Format.wBitsPerSample / 8),
      FRepair(Format.nChannels, static_cast<int>(Format.nSamplesPerSec), Options) {}

// The formats repaired exactly: every sample not repaired comes back as it was.
bool TRepairedAudio::Takes(const WAVEFORMATEX& f) {
  return (f.wFormatTag == WAVE_FORMAT_PCM && (f.wBitsPerSample == 16 || f.wBitsPerSample == 24)) ||
         (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32);
}

std::int64_t TRepairedAudio::Read(std::uint8_t* Dest, std::int64_t Count) {
  const std::size_t Channels = FFormat.nChannels;
  const std::size_t Frames = static_cast<std::size_t>(Count) / FFormat.nBlockAlign;
  while (FRepair.Ready() < Frames && !FEnded)
    if (!Feed()) return -1;
  FSamples.resize(std::max(FSamples.size(), Frames * Channels));
  const std::size_t Got = FRepair.Take(FSamples.data(), Frames);
  for (std::size_t i = 0; i < Got * Channels; ++i) Put(Dest + i * FBytes, FSamples[i]);
  FDone += static_cast<std::int64_t>(Got);
  return static_cast<std::int64_t>(Got * FFormat.nBlockAlign);
}

bool TRepairedAudio::Feed() {
  FRaw.resize((1 << 18) / FFormat.nBlockAlign * FFormat.nBlockAlign);  // whole frames
  const std::int64_t Got = FSource(FRaw.data(), static_cast<std::int64_t>(FRaw.size()));
  if (Got < 0) return false;
  const std::size_t Samples = static_cast<std::size_t>(Got) / FBytes;
  FSamples.resize(std::max(FSamples.size(), Samples));
  for (std::size_t i = 0; i < Samples; ++i) FSamples[i] = Get(FRaw.data() + i * FBytes);
  FRepair.Add(FSamples.data(), Samples / FFormat.nChannels);
  if (Got == 0) {
    FRepair.Finish();
    FEnded = true;
  }
  return true;
}

float TRepairedAudio::Get(const std::uint8_t* p) const {
  return SampleToFloat(p, static_cast<int>(FBytes), FFormat.wFormatTag == WAVE_FORMAT_IEEE_FLOAT);
}

void TRepairedAudio::Put(std::uint8_t* p, float v) const {
  FloatToSample(p, static_cast<int>(FBytes), FFormat.wFormatTag == WAVE_FORMAT_IEEE_FLOAT, v);
}

bool DeclickTrackFiles(const std::vector<std::string>& Tracks, const std::string& Folder,
                       const TClickOptions& Options, bool DryRun,
                       std::vector<TDeclickedTrack>& Results,
                       const std::function<void(std::int64_t)>& Progress, std::string& Error) {
  Results.clear();
  std::vector<TWaveScan> Scans(Tracks.size());
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    std::string Why;
    if (!ScanWaveFile(Tracks[i], Scans[i], Why)) {
      Error = Tracks[i] + ": not a readable WAV file: " + Why;
      return false;
    }
    if (!EveryChunkKept(Scans[i], Tracks[i], Error)) return false;
    if (!TRepairedAudio::Takes(*Scans[i].Format())) {
      Error = Tracks[i] + ": clicks are repaired in 16- or 24-bit PCM and 32-bit float files only";
      return false;
    }
    std::error_code e;
    if (!DryRun &&
        fs::equivalent(
            fs::path(Tracks[i]).parent_path().empty() ? "." : fs::path(Tracks[i]).parent_path(),
            Folder, e)) {
      Error = "the repaired tracks go into another folder than " + Folder +
              ", so that the recorded ones stay";
      return false;
    }
    for (std::size_t j = 0; j < i; ++j)
      if (fs::path(Tracks[j]).filename() == fs::path(Tracks[i]).filename()) {
        Error = "two tracks are named " + fs::path(Tracks[i]).filename().string();
        return false;
      }
  }
  std::unique_ptr<TStagedFiles> Staged;
  if (!DryRun) {
    std::error_code e;
    fs::create_directories(Folder, e);
    if (e) {
      Error = "cannot create the folder " + Folder + ": " + e.message();
      return false;
    }
    Staged = std::make_unique<TStagedFiles>(Folder);
  }
  std::int64_t Before = 0;
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    const TWaveScan& Scan = Scans[i];
    std::unique_ptr<TWaveAudioReader> Reader;
    try {
      Reader = std::make_unique<TWaveAudioReader>(Tracks[i], *Scan.Format());
    } catch (const std::exception& x) {
      Error = Tracks[i] + ": " + x.what();
      return false;
    }
    std::string Why;
    auto Audio = std::make_unique<TRepairedAudio>(
        [&](std::uint8_t* Dest, std::int64_t Count) -> std::int64_t {
          try {
            return Reader->Read(Dest, Count);
          } catch (const std::exception& x) {
            Why = x.what();
            return -1;
          }
        },
        *Scan.Format(), Options);
    const TAudioSource Read = [&](std::uint8_t* Dest, std::int64_t Count) -> std::int64_t {
      const std::int64_t Got = Audio->Read(Dest, Count);
      if (Progress) Progress(Before + Audio->Done());
      return Got;
    };
    bool Ok = true;
    if (DryRun) {
      std::vector<std::uint8_t> Sink(1 << 18);
      for (std::int64_t Got;
           (Got = Read(Sink.data(), static_cast<std::int64_t>(Sink.size()))) > 0;) {
      }
      Ok = Why.empty();
    } else {
      Ok = WriteLikeScan(Scan, Staged->Stage(fs::path(Tracks[i]).filename().string()), Read, Why);
    }
    if (!Ok) {
      Error = Tracks[i] + ": " + Why;
      return false;
    }
    TDeclickedTrack Done{Tracks[i], static_cast<int>(Scan.Format()->nSamplesPerSec),
                         Audio->Repair().Clicks(), Audio->Repair().SamplesChanged()};
    std::stable_sort(Done.Clicks.begin(), Done.Clicks.end(),
                     [](const TClick& a, const TClick& b) { return a.Frame < b.Frame; });
    Results.push_back(std::move(Done));
    Before += Audio->Done();
  }
  return DryRun || Staged->Commit({}, Error);
}

}  // namespace velmar
