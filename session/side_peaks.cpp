#include "session/side_peaks.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "session/track_stamp.h"
#include "stream/wave_format.h"
#include "wavefile/wave_audio_reader.h"

namespace velmar {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[8] = {'V', 'L', 'M', 'P', 'E', 'A', 'K', '2'};

// What a cache entry is checked against: the file it was made of, unchanged.
using TStamp = TTrackStamp;

std::string CacheName(const std::string& Folder, const std::string& Path) {
  std::error_code e;
  const std::string Absolute = fs::absolute(Path, e).lexically_normal().string();
  char Name[32];
  std::snprintf(Name, sizeof Name, "%016zx.peaks", std::hash<std::string>{}(Absolute));
  return (fs::path(Folder) / Name).string();
}

bool ReadCache(const std::string& Name, const TStamp& Stamp, std::int64_t& Frames,
               std::vector<TPeak>& Buckets) {
  std::ifstream In(Name, std::ios::binary);
  char Magic[8];
  TStamp Saved;
  std::uint64_t Count = 0;
  if (!In.read(Magic, 8) || std::memcmp(Magic, kMagic, 8) != 0 ||
      !In.read(reinterpret_cast<char*>(&Saved), sizeof Saved) || !(Saved == Stamp) ||
      !In.read(reinterpret_cast<char*>(&Frames), sizeof Frames) ||
      !In.read(reinterpret_cast<char*>(&Count), sizeof Count) || Frames < 0 ||
      Count != static_cast<std::uint64_t>((Frames + TSidePeaks::kBucketFrames - 1) /
                                          TSidePeaks::kBucketFrames))
    return false;
  const std::size_t At = Buckets.size();
  Buckets.resize(At + Count);
  return static_cast<bool>(In.read(reinterpret_cast<char*>(Buckets.data() + At),
                                   static_cast<std::streamsize>(Count * sizeof(TPeak))));
}

void WriteCache(const std::string& Name, const TStamp& Stamp, std::int64_t Frames,
                const TPeak* Buckets, std::uint64_t Count) {
  std::error_code e;
  fs::create_directories(fs::path(Name).parent_path(), e);
  const std::string Part = Name + ".part";
  {
    std::ofstream Out(Part, std::ios::binary | std::ios::trunc);
    Out.write(kMagic, 8);
    Out.write(reinterpret_cast<const char*>(&Stamp), sizeof Stamp);
    Out.write(reinterpret_cast<const char*>(&Frames), sizeof Frames);
    Out.write(reinterpret_cast<const char*>(&Count), sizeof Count);
    Out.write(reinterpret_cast<const char*>(Buckets),
              static_cast<std::streamsize>(Count * sizeof(TPeak)));
    if (!Out) {
      fs::remove(Part, e);
      return;  // a cache that cannot be written is only slower next time
    }
  }
  fs::rename(Part, Name, e);
}

void Widen(TPeak& p, const TPeak& q) {
  for (int c = 0; c < 2; ++c) {
    p.Min[c] = std::min(p.Min[c], q.Min[c]);
    p.Max[c] = std::max(p.Max[c], q.Max[c]);
  }
}

}  // namespace

TPeak TSidePeaks::Of(const std::int16_t* Frames, std::size_t Count) {
  TPeak p;
  if (Count == 0) return p;
  for (int c = 0; c < 2; ++c) p.Min[c] = p.Max[c] = Frames[c];
  for (std::size_t f = 0; f < Count; ++f)
    for (int c = 0; c < 2; ++c) {
      p.Min[c] = std::min(p.Min[c], Frames[2 * f + c]);
      p.Max[c] = std::max(p.Max[c], Frames[2 * f + c]);
    }
  return p;
}

bool TSidePeaks::Scan(const std::vector<std::string>& Tracks, const std::string& CacheFolder,
                      const std::atomic<bool>& Cancel,
                      const std::function<void(std::int64_t, std::int64_t)>& Progress,
                      std::string& Error) {
  *this = TSidePeaks();
  WAVEFORMATEX Cd{};
  BuildPCMFormat(&Cd, 16, 2, 44100);
  // The whole side's length first, for the progress.
  std::vector<std::int64_t> Lengths;
  std::int64_t Total = 0;
  for (const std::string& t : Tracks) {
    TWaveScan Scan;
    if (!ScanWaveFile(t, Scan, Error)) {
      Error = t + ": " + Error;
      return false;
    }
    Lengths.push_back(Scan.Frames() * 44100 /
                      std::max<std::int64_t>(Scan.Format()->nSamplesPerSec, 1));
    Total += Lengths.back();
  }
  std::int64_t Done = 0;
  std::vector<std::int16_t> Buffer(kBucketFrames * 2 * 256);
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    FTrackStart.push_back(FFrames);
    FTrackFirstBucket.push_back(FBuckets.size());
    TStamp Stamp;
    const bool Stamped = StampTrack(Tracks[i], Stamp);
    FStamps.push_back(Stamp);
    const std::string Cache = CacheName(CacheFolder, Tracks[i]);
    std::int64_t Frames = 0;
    if (!Stamped || !ReadCache(Cache, Stamp, Frames, FBuckets)) {
      FBuckets.resize(FTrackFirstBucket.back());
      try {
        TWaveAudioReader Reader(Tracks[i], Cd);
        for (;;) {
          if (Cancel) {
            Error = "cancelled";
            return false;
          }
          const std::int64_t Got = Reader.Read(reinterpret_cast<std::uint8_t*>(Buffer.data()),
                                               static_cast<std::int64_t>(Buffer.size() * 2));
          const auto Count = static_cast<std::size_t>(Got / 4);
          for (std::size_t f = 0; f < Count; f += kBucketFrames) {
            const std::size_t n = std::min<std::size_t>(kBucketFrames, Count - f);
            // A bucket left short by the last read goes on with this one.
            const std::int64_t InTrack = Frames + static_cast<std::int64_t>(f);
            const TPeak p = Of(Buffer.data() + 2 * f, n);
            if (InTrack % kBucketFrames != 0)
              Widen(FBuckets.back(), p);
            else
              FBuckets.push_back(p);
          }
          Frames += static_cast<std::int64_t>(Count);
          if (Progress) Progress(Done + Frames, Total);
          if (Got < static_cast<std::int64_t>(Buffer.size() * 2)) break;
        }
      } catch (const std::exception& x) {
        Error = Tracks[i] + ": " + x.what();
        return false;
      }
      if (Stamped)
        WriteCache(Cache, Stamp, Frames, FBuckets.data() + FTrackFirstBucket.back(),
                   FBuckets.size() - FTrackFirstBucket.back());
    }
    FTrackFrames.push_back(Frames);
    FFrames += Frames;
    Done += Lengths[i];
    if (Progress) Progress(Done, Total);
  }
  return true;
}

std::size_t TSidePeaks::BucketOf(std::int64_t Frame) const {
  const auto Track = static_cast<std::size_t>(
      std::upper_bound(FTrackStart.begin(), FTrackStart.end(), Frame) - FTrackStart.begin() - 1);
  const std::size_t Bucket = FTrackFirstBucket[Track] +
                             static_cast<std::size_t>((Frame - FTrackStart[Track]) / kBucketFrames);
  return std::min(Bucket, FBuckets.size() - 1);
}

std::vector<TPeak> TSidePeaks::Columns(std::int64_t From, std::int64_t To, int Count) const {
  std::vector<TPeak> Out(static_cast<std::size_t>(std::max(Count, 0)));
  if (FBuckets.empty() || Count <= 0) return Out;
  From = std::clamp<std::int64_t>(From, 0, FFrames - 1);
  To = std::clamp<std::int64_t>(To, From + 1, FFrames);
  for (int c = 0; c < Count; ++c) {
    const std::int64_t a = From + (To - From) * c / Count;
    const std::int64_t b = std::max(a + 1, From + (To - From) * (c + 1) / Count);
    const std::size_t First = BucketOf(a), Last = BucketOf(b - 1);
    TPeak p = FBuckets[First];
    for (std::size_t k = First + 1; k <= Last; ++k) Widen(p, FBuckets[k]);
    Out[static_cast<std::size_t>(c)] = p;
  }
  return Out;
}

}  // namespace velmar
