#include "platform/wave/alsa/alsa_backend.h"

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/wave/alsa/dropout_watch.h"
#include "platform/wave/alsa/server_rate.h"
#include "platform/wave/virtual/virtual_devices.h"

namespace velmar {

namespace {

// Plugins that convert or add effects rather than reach a device, and the null
// device, which nobody records from or plays to.
bool IsConverter(const std::string& Name) {
  if (Name == "null") return true;
  static const char* const Prefixes[] = {"lavrate", "samplerate", "speexrate", "speex",
                                         "upmix",   "vdownmix",   "a52",       "dmix",
                                         "dsnoop",  "usbstream",  "jack",      "oss"};
  for (const char* p : Prefixes)
    if (Name.rfind(p, 0) == 0) return true;
  return false;
}

std::string HintValue(void* Hint, const char* Id) {
  char* v = snd_device_name_get_hint(Hint, Id);
  std::string s = v ? v : "";
  std::free(v);
  return s;
}

snd_pcm_format_t AlsaFormat(const WAVEFORMATEX& f) {
  if (f.wFormatTag != WAVE_FORMAT_PCM) return SND_PCM_FORMAT_UNKNOWN;
  if (f.wBitsPerSample == 8) return SND_PCM_FORMAT_U8;
  if (f.wBitsPerSample == 16) return SND_PCM_FORMAT_S16_LE;
  if (f.wBitsPerSample == 24) return SND_PCM_FORMAT_S24_3LE;  // packed, as the WAV file holds it
  return SND_PCM_FORMAT_UNKNOWN;
}

// Opens Name and sets it up for Format exactly; null when it cannot.
snd_pcm_t* OpenPcm(const std::string& Name, snd_pcm_stream_t Dir, const WAVEFORMATEX& f,
                   MMRESULT& Result) {
  Result = WAVERR_BADFORMAT;
  const snd_pcm_format_t Fmt = AlsaFormat(f);
  if (Fmt == SND_PCM_FORMAT_UNKNOWN || f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8)
    return nullptr;
  snd_pcm_t* Pcm = nullptr;
  // Capture is non-blocking and waited for in naps (the sound server's plugin
  // polls a core busily under a blocking read while its stream starts); playback
  // blocks, which keeps it at the device's pace.
  const int e =
      snd_pcm_open(&Pcm, Name.c_str(), Dir, Dir == SND_PCM_STREAM_CAPTURE ? SND_PCM_NONBLOCK : 0);
  if (e < 0) {
    Result = e == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_NODRIVER;
    return nullptr;
  }
  snd_pcm_hw_params_t* Hw = nullptr;
  snd_pcm_hw_params_alloca(&Hw);
  unsigned Rate = f.nSamplesPerSec;
  // Periods of 1024 frames: the sound server serves a capture in fragments of
  // one period, and on a sink's monitor a sound that starts playing loses up
  // to one fragment of its beginning (the server rewinds the sink to mix it in
  // at once); longer periods save CPU and lose more. A capture buffer holds
  // 3 s, room for a batch of buffers and a late wake-up; playback keeps 8
  // periods, which its position follows.
  snd_pcm_uframes_t Period = 1024, Buffer = Dir == SND_PCM_STREAM_CAPTURE ? 131072 : 8192;
  const bool Ok = snd_pcm_hw_params_any(Pcm, Hw) >= 0 &&
                  snd_pcm_hw_params_set_access(Pcm, Hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
                  snd_pcm_hw_params_set_format(Pcm, Hw, Fmt) >= 0 &&
                  snd_pcm_hw_params_set_channels(Pcm, Hw, f.nChannels) >= 0 &&
                  snd_pcm_hw_params_set_rate_near(Pcm, Hw, &Rate, nullptr) >= 0 &&
                  Rate == f.nSamplesPerSec &&
                  snd_pcm_hw_params_set_period_size_near(Pcm, Hw, &Period, nullptr) >= 0 &&
                  snd_pcm_hw_params_set_buffer_size_near(Pcm, Hw, &Buffer) >= 0 &&
                  snd_pcm_hw_params(Pcm, Hw) >= 0;
  // Wake only when a whole period can move, as a blocking reader would.
  snd_pcm_sw_params_t* Sw = nullptr;
  snd_pcm_sw_params_alloca(&Sw);
  const bool SwOk = Ok && snd_pcm_sw_params_current(Pcm, Sw) >= 0 &&
                    snd_pcm_sw_params_set_avail_min(Pcm, Sw, Period) >= 0 &&
                    snd_pcm_sw_params(Pcm, Sw) >= 0;
  if (!SwOk) {
    snd_pcm_close(Pcm);
    return nullptr;
  }
  Result = MMSYSERR_NOERROR;
  return Pcm;
}

// What both directions share: the PCM, waiting in slices, recovery.
class TAlsaStream {
 public:
  TAlsaStream(snd_pcm_t* Pcm, const WAVEFORMATEX& f) : FPcm(Pcm), FBlock(f.nBlockAlign) {
    snd_pcm_get_params(Pcm, &FBuffer, &FPeriod);
    if (FPeriod == 0) FPeriod = 1024;
    FRate = std::max<std::uint32_t>(f.nSamplesPerSec, 1);
    // A nap never outlasts half the device's buffer, nor two periods when the
    // device has no more than four.
    FMaxNap = std::chrono::microseconds(
        std::max<long long>(1000, 1000000LL * std::max(FBuffer / 2, 2 * FPeriod) / FRate));
  }
  ~TAlsaStream() { snd_pcm_close(FPcm); }

  void StartPcm() {
    snd_pcm_drop(FPcm);
    snd_pcm_prepare(FPcm);
  }
  void StopPcm() { snd_pcm_drop(FPcm); }
  void InterruptPcm() {
    {
      std::lock_guard<std::mutex> L(FNapLock);
      FInterrupted = true;
    }
    FNapEnd.notify_all();
  }

  // Plays up to Max bytes, waiting inside the transfer while the device is busy,
  // at most half a period at a time, so that a stop waits little. 0 when
  // interrupted, -1 when the device cannot recover.
  template <typename TransferFn>
  int Move(std::uint32_t Max, TransferFn Transfer) {
    const snd_pcm_uframes_t Frames =
        std::min<snd_pcm_uframes_t>(Max / FBlock, std::max<snd_pcm_uframes_t>(FPeriod / 2, 1));
    if (Frames == 0) return 0;
    for (;;) {
      if (TakeInterrupt()) return 0;
      const snd_pcm_sframes_t n = Transfer(Frames);
      if (n > 0) return static_cast<int>(n * FBlock);
      if (n == 0 || n == -EAGAIN) {
        Nap(std::chrono::milliseconds(1));
        continue;
      }
      if (!Recover(static_cast<int>(n))) return -1;
    }
  }

  // Sleeps for Time or until interrupted or woken.
  void Nap(std::chrono::microseconds Time) {
    std::unique_lock<std::mutex> L(FNapLock);
    FNapEnd.wait_for(L, std::min(Time, FMaxNap),
                     [&] { return FInterrupted.load() || std::exchange(FWoken, false); });
  }
  // Any thread: ends a nap without interrupting the transfer.
  void Wake() {
    {
      std::lock_guard<std::mutex> L(FNapLock);
      FWoken = true;
    }
    FNapEnd.notify_all();
  }
  bool TakeInterrupt() { return FInterrupted.exchange(false); }

  // After a failed transfer: false when the device cannot go on.
  bool Recover(int Error) {
    if (Error == -EPIPE || Error == -ESTRPIPE) ++FXruns;
    return snd_pcm_recover(FPcm, Error, 1) >= 0;
  }

  std::uint32_t Xruns() const { return FXruns; }
  snd_pcm_t* Pcm() const { return FPcm; }
  // The same device opened again in place of one that went away (the I/O
  // thread, inside a transfer: nobody else touches the PCM meanwhile).
  void Replace(snd_pcm_t* Pcm) {
    snd_pcm_close(FPcm);
    FPcm = Pcm;
  }
  std::uint32_t Block() const { return FBlock; }
  snd_pcm_uframes_t Period() const { return FPeriod; }
  snd_pcm_uframes_t BufferFrames() const { return FBuffer; }
  std::uint32_t Rate() const { return FRate; }

 private:
  snd_pcm_t* FPcm;
  std::uint32_t FBlock;
  snd_pcm_uframes_t FPeriod = 1024, FBuffer = 0;
  std::uint32_t FRate = 44100;
  std::chrono::microseconds FMaxNap{1000};
  std::atomic<bool> FInterrupted{false};
  std::mutex FNapLock;
  std::condition_variable FNapEnd;
  bool FWoken = false;  // under FNapLock
  std::atomic<std::uint32_t> FXruns{0};
};

// Capture takes in everything the device has at each wake-up into a stage of its
// own, and fills the caller's buffers from there. The sound server's plugin
// must never be left holding part of a fragment for us: when the server goes
// meanwhile, the plugin's thread waits for that part to be given back while it
// holds the lock that our next call needs, and both hang.
//
// A device that goes away (a sound server's source removed, a card
// unplugged) is waited for: opened again by its name until it is back, when
// the recording goes on with the absence logged as a dropout of its length.
class TAlsaCapture : public TCaptureStream {
 public:
  TAlsaCapture(snd_pcm_t* Pcm, std::string Name, const WAVEFORMATEX& f)
      : S(Pcm, f),
        FName(std::move(Name)),
        FFormat(f),
        FWatch(S.Rate(), static_cast<std::int64_t>(S.BufferFrames()), FDropouts) {
    FStage.resize(std::max<snd_pcm_uframes_t>(S.BufferFrames(), 8 * S.Period()) * S.Block());
  }
  void Start() override {
    FHead = FStaged = 0;
    S.StartPcm();
    FWatch.Start(BootSeconds());
  }
  void Stop() override { S.StopPcm(); }
  void Interrupt() override { S.InterruptPcm(); }
  std::uint32_t Xruns() const override { return S.Xruns(); }
  void SetBatch(std::uint32_t Requests) override {
    FBatch = std::max<std::uint32_t>(Requests, 1);
    S.Wake();  // a smaller batch may be staged already
  }
  bool Ready(std::uint32_t Bytes) override {
    return FStaged >= Bytes || (TakeIn() && FStaged >= Bytes);
  }
  int ReadHeld(char* Dest, std::uint32_t Max) override {
    TakeIn();  // a failing device still gives what was taken in from it
    const std::size_t n = std::min<std::size_t>(FStaged, Max / S.Block() * S.Block());
    Hand(Dest, n);
    return static_cast<int>(n);
  }

  // Fills Dest with the request (up to Max bytes, four periods at most) once
  // Batch requests are staged, napping until then; 0 when interrupted, -1 when
  // the device cannot recover.
  int Read(char* Dest, std::uint32_t Max) override {
    const std::uint32_t Block = S.Block();
    std::size_t Want =
        std::min<std::size_t>(Max / Block, 4 * S.Period()) * static_cast<std::size_t>(Block);
    if (Want == 0) return 0;
    for (bool Late = false;; Late = true) {
      if (S.TakeInterrupt()) return 0;
      const std::size_t Needed = std::min(Want * FBatch, FStage.size());
      if (FStaged >= Needed) break;
      if (!TakeIn()) {
        // The device is gone: what was taken in from it still goes out first,
        // then it is waited for.
        if (FStaged > 0) {
          Want = std::min(Want, FStaged);
          break;
        }
        if (!AwaitReturn()) return 0;
        continue;
      }
      if (FStaged >= Needed) break;
      S.Nap(NapFor(Needed - FStaged, Late));
    }
    Hand(Dest, Want);
    return static_cast<int>(Want);
  }

 private:
  // Opens the device again by its name, every quarter of a second, until it
  // is back (true) or a stop interrupts (false, still gone: the next Start
  // tries again). The log says it is gone meanwhile.
  bool AwaitReturn() {
    FDropouts.SetGone(true);
    for (;;) {
      if (S.TakeInterrupt()) return false;
      MMRESULT Result = MMSYSERR_NOERROR;
      if (snd_pcm_t* Pcm = OpenPcm(FName, SND_PCM_STREAM_CAPTURE, FFormat, Result)) {
        S.Replace(Pcm);
        const double Now = BootSeconds();
        FWatch.Returned(Now, Now - FWatch.LastTake());
        FDropouts.SetGone(false);
        return true;
      }
      S.Nap(std::chrono::milliseconds(250));
    }
  }

  // Moves n staged bytes to Dest.
  void Hand(char* Dest, std::size_t n) {
    std::memcpy(Dest, FStage.data() + FHead, n);
    FHead += n;
    FStaged -= n;
    if (FStaged == 0) FHead = 0;
  }

  // Reads all the device has (what fits in the stage); false when it cannot
  // recover. A prepared stream starts, as a read would start it.
  bool TakeIn() {
    snd_pcm_t* Pcm = S.Pcm();
    if (snd_pcm_state(Pcm) == SND_PCM_STATE_PREPARED) snd_pcm_start(Pcm);
    const snd_pcm_sframes_t Avail = snd_pcm_avail_update(Pcm);
    if (Avail < 0) return Recover(static_cast<int>(Avail));
    // What is left of earlier takings moves to the front only when what the
    // device has would not fit behind it.
    const std::size_t Wanted = static_cast<std::size_t>(Avail) * S.Block();
    if (FHead > 0 && FStage.size() - FHead - FStaged < Wanted) {
      std::memmove(FStage.data(), FStage.data() + FHead, FStaged);
      FHead = 0;
    }
    const snd_pcm_uframes_t Frames = std::min<snd_pcm_uframes_t>(
        static_cast<snd_pcm_uframes_t>(Avail), (FStage.size() - FHead - FStaged) / S.Block());
    if (Frames == 0) return true;
    const snd_pcm_sframes_t n = snd_pcm_readi(Pcm, FStage.data() + FHead + FStaged, Frames);
    if (n == -EAGAIN) return true;
    if (n < 0) return Recover(static_cast<int>(n));
    FStaged += static_cast<std::size_t>(n) * S.Block();
    FWatch.Took(BootSeconds(), n, Avail);
    return true;
  }

  // An overrun or a suspension loses audio but not the recording: the device
  // starts again, and the watch gives the loss its size and place.
  bool Recover(int Error) {
    if (!S.Recover(Error)) return false;
    if (Error == -EPIPE || Error == -ESTRPIPE) FWatch.Reported(BootSeconds(), Error == -ESTRPIPE);
    return true;
  }

  // How long until Bytes more have come: their time at the device's rate and
  // a margin, a quarter period or an eighth of that time if more. Audio arrives
  // in the sound server's lumps, a little before or after its hour: waking
  // exactly on time finds the last lump missing as often as not, and short
  // naps followed; the margin makes one wake-up do. A long wait (a large batch)
  // meets larger lumps, and a little lateness costs it nothing. When a lump is
  // Late (a nap found it missing), the next comes whole: a period's time at least.
  //
  // Never more than two periods, though, as a reader blocked on each period
  // would wait: audio is ours only once taken in (when the sound server dies
  // or the input goes, what its plugin holds goes with it), so a large batch
  // is taken in on the way.
  std::chrono::microseconds NapFor(std::size_t Bytes, bool Late) const {
    const long long Rate = S.Rate();
    const auto Period = static_cast<long long>(S.Period());
    const auto Frames = std::clamp<long long>(static_cast<long long>(Bytes / S.Block()),
                                              Late ? Period : 0, 2 * Period);
    const long long Time = 1000000LL * Frames / Rate;
    const long long Margin =
        std::max<long long>({1000, 250000LL * static_cast<long long>(S.Period()) / Rate, Time / 8});
    return std::chrono::microseconds(Time + Margin);
  }

  TAlsaStream S;
  const std::string FName;  // the device, for opening it again
  const WAVEFORMATEX FFormat;
  TDropoutWatch FWatch;
  std::vector<char> FStage;
  std::size_t FHead = 0, FStaged = 0;  // the staged audio: FStaged bytes from FHead
  std::atomic<std::uint32_t> FBatch{1};
};

class TAlsaPlayback : public TPlaybackStream {
 public:
  TAlsaPlayback(snd_pcm_t* Pcm, const WAVEFORMATEX& f) : S(Pcm, f) {}
  void Start() override { S.StartPcm(); }
  void Stop() override { S.StopPcm(); }
  int Write(const char* Data, std::uint32_t Count) override {
    return S.Move(Count, [&](snd_pcm_uframes_t n) { return snd_pcm_writei(S.Pcm(), Data, n); });
  }
  void Interrupt() override { S.InterruptPcm(); }
  std::uint32_t Xruns() const override { return S.Xruns(); }
  std::int64_t Delay() override {
    snd_pcm_sframes_t Frames = 0;
    return snd_pcm_delay(S.Pcm(), &Frames) == 0 && Frames > 0 ? Frames : 0;
  }

 private:
  TAlsaStream S;
};

// The sound server (PulseAudio) aborts (memblock_replace_import) when audio a
// client sent in shared memory is passed on to a recording of the sink's
// monitor and the sending stream closes: the window plays into a sink and
// monitors it in turns, and took the user's whole desktop sound down with it.
// Our connections send their audio over the socket instead (a few hundred kB
// a second), through a client configuration that is the user's own plus that
// one line. A configuration the user names in PULSE_CLIENTCONFIG is left alone.
void KeepSoundServerMemoryPrivate() {
  if (std::getenv("PULSE_CLIENTCONFIG")) return;
  const char* Home = std::getenv("HOME");
  const char* ConfigHome = std::getenv("XDG_CONFIG_HOME");
  const std::string User = ConfigHome && *ConfigHome ? std::string(ConfigHome)
                           : Home                    ? std::string(Home) + "/.config"
                                                     : std::string();
  std::string Settings;
  for (const std::string& Name :
       {User + "/pulse/client.conf", std::string("/etc/pulse/client.conf")}) {
    std::ifstream File(Name);
    if (!File) continue;
    Settings.assign(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>());
    break;
  }
  Settings += "\nenable-shm = no\n";
  const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string Folder =
      Runtime && *Runtime ? Runtime : std::filesystem::temp_directory_path().string();
  const std::string Path = Folder + "/velmar-pulse-client-" + std::to_string(::getuid()) + ".conf";
  if (WriteFileAtomically(Path, Settings, 0600)) ::setenv("PULSE_CLIENTCONFIG", Path.c_str(), 1);
}

// The library's own diagnostics (a sound server that is not running, say)
// would land on the user's terminal; failures reach callers as result codes.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

namespace {

const std::string kEllipsis = "\u2026";

std::string TrimText(std::string s) {
  s.erase(s.find_last_not_of(" \t\r") + 1);
  s.erase(0, std::min(s.find_first_not_of(" \t"), s.size()));
  return s;
}

// Text cut after a word so that it and the ellipsis take at most Bytes.
std::string CutAtWord(const std::string& Text, std::size_t Bytes) {
  if (Text.size() <= Bytes) return Text;
  if (Bytes <= kEllipsis.size()) return {};
  std::size_t End = Text.rfind(' ', Bytes - kEllipsis.size());
  if (End == std::string::npos || End == 0) {  // one long word: cut it on a character
    End = Bytes - kEllipsis.size();
    while (End > 0 && (static_cast<unsigned char>(Text[End]) & 0xC0) == 0x80) --End;
  }
  return TrimText(Text.substr(0, End)) + kEllipsis;
}

// Head and a detail in parentheses, within the limit: the detail is cut only when
// Keep is false, otherwise the head is.
std::string Compose(const std::string& Head, const std::string& Detail, bool KeepDetail,
                    std::size_t Max) {
  if (Detail.empty()) return CutAtWord(Head, Max);
  const std::string Full = Head + " (" + Detail + ")";
  if (Full.size() <= Max) return Full;
  const std::size_t Frame = Head.size() + 3;
  if (!KeepDetail && Frame + kEllipsis.size() < Max)
    return Head + " (" + CutAtWord(Detail, Max - Frame) + ")";
  return CutAtWord(Head, Max - Detail.size() - 3) + " (" + Detail + ")";
}

}  // namespace

std::string AlsaProductName(const std::string& Pcm, const std::string& Description,
                            std::size_t Max) {
  const std::size_t Break = Description.find('\n');
  const std::string First = TrimText(Description.substr(0, Break));
  if (Pcm == "default") {
    // "Playback/recording through the PulseAudio sound server"
    const std::size_t Through = First.find("through the ");
    return Compose("Default", Through == std::string::npos ? "" : First.substr(Through + 12),
                   false, Max);
  }
  const std::size_t Colon = Pcm.find(':');
  const std::size_t Comma = First.find(", ");
  if (Colon == std::string::npos || Comma == std::string::npos)
    return CutAtWord(First.empty() ? Pcm : First, Max);
  // A card's device: "HDA Intel PCH, ALC892 Analog" with the PCM's plugin as its kind.
  const std::string Card = First.substr(0, Comma), Device = First.substr(Comma + 2);
  const std::string Kind = Pcm.substr(0, Colon);
  const std::string Full = Compose(Card + ": " + Device, Kind, true, Max);
  if (Full.find(kEllipsis) == std::string::npos) return Full;
  return Compose(Device, Kind, true, Max);
}

TAlsaBackend::TAlsaBackend() {
  snd_lib_error_set_handler(QuietAlsaErrors);
  static const bool Private = (KeepSoundServerMemoryPrivate(), true);
  (void)Private;
  Rescan();
}

void TAlsaBackend::Rescan() {
  std::vector<TEntry> In, Out;
  void** Hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &Hints) == 0) {
    for (void** h = Hints; *h; ++h) {
      const std::string Name = HintValue(*h, "NAME");
      if (Name.empty() || IsConverter(Name)) continue;
      const std::string Io = HintValue(*h, "IOID");
      TEntry e{Name, {}};
      const std::string Description = HintValue(*h, "DESC");
      e.Caps.Name = AlsaProductName(Name, Description);
      e.Caps.WholeName = AlsaProductName(Name, Description, std::string::npos);
      e.Caps.Formats = 0xFFF;
      if (Io.empty() || Io == "Input") In.push_back(e);
      if (Io.empty() || Io == "Output") Out.push_back(e);
    }
    snd_device_name_free_hint(Hints);
  }
  auto DefaultFirst = [](std::vector<TEntry>& v) {
    std::stable_partition(v.begin(), v.end(), [](const TEntry& e) { return e.Pcm == "default"; });
  };
  DefaultFirst(In);
  DefaultFirst(Out);
  std::lock_guard<std::mutex> L(FLock);
  FCapture = std::move(In);
  FPlayback = std::move(Out);
}

int TAlsaBackend::CaptureCount() {
  std::lock_guard<std::mutex> L(FLock);
  return static_cast<int>(FCapture.size());
}

int TAlsaBackend::PlaybackCount() {
  std::lock_guard<std::mutex> L(FLock);
  return static_cast<int>(FPlayback.size());
}

TWaveDeviceCaps TAlsaBackend::CaptureCaps(int Index) {
  std::lock_guard<std::mutex> L(FLock);
  return FCapture.at(static_cast<size_t>(Index)).Caps;
}

TWaveDeviceCaps TAlsaBackend::PlaybackCaps(int Index) {
  std::lock_guard<std::mutex> L(FLock);
  return FPlayback.at(static_cast<size_t>(Index)).Caps;
}

std::string TAlsaBackend::CaptureRateNote(int Index, int Rate) {
  const std::string Pcm = CaptureName(Index);
  return Pcm.empty() ? std::string() : ServerRateNote(Pcm, Rate);
}

std::string TAlsaBackend::CaptureName(int Index) {
  std::lock_guard<std::mutex> L(FLock);
  return FCapture.at(static_cast<size_t>(Index)).Pcm;
}

std::string TAlsaBackend::PlaybackName(int Index) {
  std::lock_guard<std::mutex> L(FLock);
  return FPlayback.at(static_cast<size_t>(Index)).Pcm;
}

MMRESULT TAlsaBackend::OpenCapture(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                                   std::unique_ptr<TCaptureStream>& Stream) {
  if (Index < 0 || Index >= CaptureCount()) return MMSYSERR_BADDEVICEID;
  MMRESULT r = MMSYSERR_NOERROR;
  const std::string Name = CaptureName(Index);
  snd_pcm_t* Pcm = OpenPcm(Name, SND_PCM_STREAM_CAPTURE, Format, r);
  if (!Pcm) return r;
  if (QueryOnly)
    snd_pcm_close(Pcm);
  else
    Stream = std::make_unique<TAlsaCapture>(Pcm, Name, Format);
  return MMSYSERR_NOERROR;
}

MMRESULT TAlsaBackend::OpenPlayback(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                                    std::unique_ptr<TPlaybackStream>& Stream) {
  if (Index < 0 || Index >= PlaybackCount()) return MMSYSERR_BADDEVICEID;
  MMRESULT r = MMSYSERR_NOERROR;
  snd_pcm_t* Pcm = OpenPcm(PlaybackName(Index), SND_PCM_STREAM_PLAYBACK, Format, r);
  if (!Pcm) return r;
  if (QueryOnly)
    snd_pcm_close(Pcm);
  else
    Stream = std::make_unique<TAlsaPlayback>(Pcm, Format);
  return MMSYSERR_NOERROR;
}

void InstallDefaultWaveBackends() {
  auto Alsa = std::make_shared<TAlsaBackend>();
  std::vector<std::shared_ptr<TWaveBackend>> All{Alsa};
  if (Alsa->CaptureCount() == 0) {
    auto Demo = std::make_shared<TVirtualBackend>();
    Demo->AddCapture({.Name = "Demo signal", .Generator = DemoSignal()});
    All.push_back(Demo);
  }
  SetWaveBackends(std::move(All));
}

}  // namespace velmar
