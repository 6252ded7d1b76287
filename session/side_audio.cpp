#include "session/side_audio.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wavefile/wave_scan.h"

namespace velmar {

TSideAudio::~TSideAudio() {
  Close();
}

void TSideAudio::Close() {
  for (const TTrack& t : FTracks) ::close(t.Fd);
  FTracks.clear();
  FMarkers.clear();
  FFrames = 0;
}

bool TSideAudio::Open(const std::vector<std::string>& Tracks, std::string& Error) {
  Close();
  for (const std::string& Name : Tracks) {
    TWaveScan Scan;
    if (!ScanWaveFile(Name, Scan, Error)) {
      Error = Name + ": not a readable WAV file: " + Error;
      Close();
      return false;
    }
    const WAVEFORMATEX& f = *Scan.Format();
    if (f.wFormatTag != WAVE_FORMAT_PCM || f.nChannels != 2 || f.wBitsPerSample != 16 ||
        f.nSamplesPerSec != 44100) {
      Error = Name + ": not 44100 Hz 16-bit stereo PCM";
      Close();
      return false;
    }
    const int Fd = ::open(Name.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) {
      Error = Name + ": " + std::strerror(errno);
      Close();
      return false;
    }
    FTracks.push_back({Fd, Scan.DataOffset, FFrames, Scan.Frames()});
    for (const TCueMarker& m : Scan.Markers)
      if (m.Frame <= Scan.Frames()) FMarkers.push_back({FFrames + m.Frame, m.Label});
    FFrames += Scan.Frames();
  }
  return true;
}

std::int64_t TSideAudio::Read(std::int64_t From, std::int16_t* Dest, std::int64_t Count) const {
  std::fill(Dest, Dest + 2 * Count, std::int16_t{0});
  std::int64_t Got = 0;
  // The first track that ends after From, then on while frames are wanted.
  auto t = std::upper_bound(FTracks.begin(), FTracks.end(), From,
                            [](std::int64_t f, const TTrack& k) { return f < k.Start + k.Frames; });
  for (; t != FTracks.end() && From + Count > t->Start; ++t) {
    const std::int64_t First = std::max(From, t->Start);
    const std::int64_t Last = std::min(From + Count, t->Start + t->Frames);
    if (Last <= First) continue;
    auto* At = reinterpret_cast<char*>(Dest + 2 * (First - From));
    std::int64_t Bytes = (Last - First) * 4;
    off_t Offset = static_cast<off_t>(t->DataOffset + (First - t->Start) * 4);
    while (Bytes > 0) {
      const ssize_t n = ::pread(t->Fd, At, static_cast<std::size_t>(Bytes), Offset);
      if (n <= 0 && !(n < 0 && errno == EINTR)) break;
      if (n < 0) continue;
      At += n;
      Offset += n;
      Bytes -= n;
    }
    Got += (Last - First) - (Bytes + 3) / 4;
  }
  return Got;
}

}  // namespace velmar
