#include "app/side_playback.h"

#include <algorithm>

#include "session/side_audio.h"
#include "stream/wave_format.h"

namespace velmar {

TSidePlayback::TSidePlayback(const TSideAudio& Audio, TMMDeviceId Device) : FAudio(Audio) {
  SetAcceptsOutput(true);
  FOut.SetInput(this);
  WAVEFORMATEX Cd{};
  BuildPCMFormat(&Cd, 16, 2, 44100);
  SetPWaveFormat(&Cd);
  FOut.SetDeviceID(Device);
  FOut.SetBufferSize(8192);
  FOut.SetNumBuffers(8);
  FOut.SetTimeFormat(TMMTimeFormats::tfSample);
  FOut.SetCallBackMode(TMMCBMode::cmWindow);
  FOut.OnStop = [this](TObject*) {
    FOut.Close();
    if (OnStop) OnStop();
  };
}

TSidePlayback::~TSidePlayback() {
  FOut.OnStop = nullptr;
  Stop();
  DetachFromChain();
}

bool TSidePlayback::Play(std::int64_t From, std::int64_t To, std::string& Error) {
  Stop();
  FFrom = FNext = std::clamp<std::int64_t>(From, 0, FAudio.Frames());
  FTo = std::clamp<std::int64_t>(To, FFrom, FAudio.Frames());
  if (FTo == FFrom) return false;
  try {
    FOut.Start();
  } catch (const std::exception& x) {
    Error = x.what();
    return false;
  }
  if (!Playing()) Error = "the output did not start";
  return Playing();
}

void TSidePlayback::Stop() {
  if (FOut.State() & wosStarted) FOut.Stop();
  FOut.Close();
}

std::int64_t TSidePlayback::Frame() {
  return Playing() ? std::min(FFrom + FOut.Position(), FTo) : FNext;
}

void TSidePlayback::SetAlternative(std::int64_t From, std::vector<std::int16_t> Frames) {
  FAlternativeFrom = From;
  FAlternative = std::move(Frames);
}

void TSidePlayback::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  const std::int64_t Count = std::min<std::int64_t>(lpWaveHdr->wh.dwBufferLength / 4, FTo - FNext);
  auto* Dest = reinterpret_cast<std::int16_t*>(lpWaveHdr->wh.lpData);
  FAudio.Read(FNext, Dest, Count);
  if (FUseAlternative) {
    const auto Frames = static_cast<std::int64_t>(FAlternative.size() / 2);
    const std::int64_t From = std::max(FNext, FAlternativeFrom);
    const std::int64_t To = std::min(FNext + Count, FAlternativeFrom + Frames);
    if (To > From)
      std::copy(FAlternative.begin() + 2 * (From - FAlternativeFrom),
                FAlternative.begin() + 2 * (To - FAlternativeFrom), Dest + 2 * (From - FNext));
  }
  FNext += Count;
  lpWaveHdr->wh.dwBytesRecorded = static_cast<std::uint32_t>(Count * 4);
  MoreBuffers = FNext < FTo;
}

}  // namespace velmar
