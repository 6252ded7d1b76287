#include "platform/wave/wave_api.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/thread.h"
#include "platform/wave/wave_backend.h"

namespace velmar {

namespace {

// How a device reports: a callback function or a hidden window.
struct TNotifier {
  std::uintptr_t Handle = 0;
  TWaveCallback Function = nullptr;
  HWND Window = 0;
  std::uintptr_t Instance = 0;

  void Send(UINT Message, std::uintptr_t Header) const {
    if (Function)
      Function(Handle, Message, Instance, Header, 0);
    else if (Window)
      PostMessage(Window, Message, Handle, static_cast<LPARAM>(Header));
  }
};

// A first-in first-out list of headers in a ring that only grows when more
// headers are queued than ever before: streaming allocates nothing.
class THeaderQueue {
 public:
  bool empty() const { return FCount == 0; }
  WAVEHDR* front() const { return FRing[FHead]; }
  void pop_front() {
    FHead = (FHead + 1) % FRing.size();
    --FCount;
  }
  void push_back(WAVEHDR* h) {
    if (FCount == FRing.size()) Grow();
    FRing[(FHead + FCount) % FRing.size()] = h;
    ++FCount;
  }

 private:
  void Grow() {
    std::vector<WAVEHDR*> Larger(std::max<size_t>(16, FRing.size() * 2));
    for (size_t i = 0; i < FCount; ++i) Larger[i] = FRing[(FHead + i) % FRing.size()];
    FRing.swap(Larger);
    FHead = 0;
  }
  std::vector<WAVEHDR*> FRing = std::vector<WAVEHDR*>(16);
  size_t FHead = 0, FCount = 0;
};

// The part both directions share: the header queue, the returned headers, the
// I/O thread and its state. Lock order: only M, never held across the stream's
// waits or the notifications.
class TDevice {
 public:
  TDevice(const WAVEFORMATEX& Format, TNotifier Notifier, bool Capture)
      : FBlock(std::max<std::uint32_t>(Format.nBlockAlign, 1)),
        FRate(std::max<std::uint32_t>(Format.nSamplesPerSec, 1)),
        FNotifier(Notifier),
        FCapture(Capture) {}
  virtual ~TDevice() = default;

  void Launch() {
    FThread = std::thread([this] { Run(); });
  }

  MMRESULT Queue(WAVEHDR* h) {
    if (!h || !h->lpData) return MMSYSERR_INVALPARAM;
    if (!(LoadHeaderFlags(*h) & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    std::lock_guard<std::mutex> L(M);
    StoreHeaderFlags(*h, (LoadHeaderFlags(*h) | WHDR_INQUEUE) & ~WHDR_DONE);
    h->reserved = 0;  // bytes moved so far
    if (FCapture) h->dwBytesRecorded = 0;
    if (FOutstanding > 0) --FOutstanding;
    if (Holds(FHeaders++))
      FHeld.insert(h);  // a fault: this one never comes back
    else
      FQueue.push_back(h);
    CV.notify_all();
    return MMSYSERR_NOERROR;
  }

  // Stops moving data; with Reset every queued header is returned, otherwise
  // only a partly filled capture header.
  void Halt(bool Reset) {
    std::unique_lock<std::mutex> L(M);
    // A playback device that is reset goes on playing what it gets next; a
    // capture device stops.
    const bool KeepRunning = Reset && !FCapture && FRunning;
    const bool WasRunning = FRunning;
    FRunning = false;
    if (FBusy) InterruptStream();
    CV.wait(L, [&] { return !FBusy; });
    if (FCapture && !Reset && WasRunning) HandOverHeld();
    StopStream();
    FOutstanding = 0;
    ReleaseUnheard();  // what the stream held is gone with the stop
    if (Reset) {
      while (!FQueue.empty()) {
        FDone.push_back(FQueue.front());
        FQueue.pop_front();
      }
      FFrames = 0;
      if (KeepRunning) {
        StartStream();
        FRunning = true;
      }
    } else if (FCapture && !FQueue.empty() && FQueue.front()->dwBytesRecorded > 0) {
      FDone.push_back(FQueue.front());
      FQueue.pop_front();
    }
    CV.notify_all();
  }

  void Run(bool Value) {
    std::lock_guard<std::mutex> L(M);
    if (Value && !FRunning) {
      StartStream();
      FFailed = false;
    }
    FRunning = Value;
    CV.notify_all();
  }

  MMRESULT Close() {
    {
      std::lock_guard<std::mutex> L(M);
      if (!FQueue.empty() || !FUnheard.empty() || FBusy) return WAVERR_STILLPLAYING;
      FClosing = true;
      CV.notify_all();
    }
    if (FThread.get_id() == std::this_thread::get_id())
      FThread.detach();  // closed from its own notification: it ends after it
    else
      FThread.join();
    return MMSYSERR_NOERROR;
  }

  // Frames captured, or played: taken by the stream less what it still holds.
  std::int64_t Frames() {
    std::int64_t Taken;
    {
      std::lock_guard<std::mutex> L(M);
      Taken = FFrames;
    }
    return std::max<std::int64_t>(Taken - Delay(), 0);
  }
  std::uint32_t Block() const { return FBlock; }
  virtual std::uint32_t Xruns() const = 0;
  virtual const TDropoutLog* Dropouts() const { return nullptr; }
  // The stream failed, or its device went away and is waited for.
  bool Gone() {
    {
      std::lock_guard<std::mutex> L(M);
      if (FFailed) return true;
    }
    const TDropoutLog* Log = Dropouts();
    return Log && Log->Gone();
  }
  void SetBatch(std::uint32_t Headers) {
    std::lock_guard<std::mutex> L(M);
    FBatch = std::max<std::uint32_t>(Headers, 1);
    // A stream waiting for a larger batch gives what it has staged at once.
    if (FAwaiting > FBatch) AwaitHeaders(FAwaiting = FBatch);
  }
  virtual std::int64_t Delay() { return 0; }

 protected:
  virtual bool Holds(std::uint64_t) const = 0;
  virtual void StartStream() = 0;
  virtual void StopStream() = 0;
  virtual void InterruptStream() = 0;
  // Moves bytes for the front header; the bytes moved, or -1.
  virtual int Transfer(WAVEHDR* h, std::uint32_t Offset, std::uint32_t Count) = 0;
  virtual std::uint32_t Limit(const WAVEHDR* h) const { return h->dwBufferLength; }
  virtual bool OnDemand() const { return false; }
  // Whether the stream can fill h at once, without waiting.
  virtual bool ReadyFor(const WAVEHDR*) { return false; }
  // The next transfers wait until the stream has the audio of Headers headers.
  virtual void AwaitHeaders(std::uint32_t) {}
  // Capture at a stop: moves what the stream holds into h, without waiting.
  virtual int TakeHeld(WAVEHDR*, std::uint32_t, std::uint32_t) { return 0; }

 private:
  void Run() {
    NameCurrentThread(FCapture ? "velmar-wave-in" : "velmar-wave-out");
    FNotifier.Send(FCapture ? MM_WIM_OPEN : MM_WOM_OPEN, 0);
    std::unique_lock<std::mutex> L(M);
    std::uint32_t Batched = 0;  // filled headers of this batch not yet reported
    THeaderQueue Reporting;     // swapped with FDone: both rings stay, nothing is allocated
    for (;;) {
      // A batch is reported together: the next header is filled first when its
      // audio is there already, so that one wake-up of the program takes them all.
      const bool FillFirst = !FDone.empty() && ++Batched < FBatch && FRunning && !FClosing &&
                             !FQueue.empty() && FOutstanding == 0 && ReadyFor(FQueue.front());
      if (!FillFirst) {
        Batched = 0;
        // The batch's reports go out in one run without the lock: taking it
        // between them met the program's returning headers and cost both
        // threads a sleep on the lock.
        while (!FDone.empty()) {
          std::swap(FDone, Reporting);
          L.unlock();
          for (; !Reporting.empty(); Reporting.pop_front()) {
            WAVEHDR* h = Reporting.front();
            StoreHeaderFlags(*h, (LoadHeaderFlags(*h) & ~WHDR_INQUEUE) | WHDR_DONE);
            FNotifier.Send(FCapture ? MM_WIM_DATA : MM_WOM_DONE,
                           reinterpret_cast<std::uintptr_t>(h));
          }
          L.lock();
        }
        if (FClosing) break;
        if (!FUnheard.empty() && (!FQueue.empty() || Heard(L))) {
          ReleaseUnheard();
          continue;
        }
        if (!FRunning || FQueue.empty() || FOutstanding > 0) {
          const auto Wake = [&] {
            return FClosing || !FDone.empty() || (FRunning && !FQueue.empty() && FOutstanding == 0);
          };
          if (FUnheard.empty())
            CV.wait(L, Wake);
          else  // the output plays on: look again when the rest should have been heard
            CV.wait_for(L, std::chrono::milliseconds(10), Wake);
          continue;
        }
      }
      // The first header of a batch waits for the audio of the whole batch.
      if (const std::uint32_t Await = Batched == 0 ? FBatch : 1; Await != FAwaiting)
        AwaitHeaders(FAwaiting = Await);
      WAVEHDR* h = FQueue.front();
      const std::uint32_t End = Limit(h) / FBlock * FBlock;
      const std::uint32_t Offset = h->reserved;
      FBusy = true;
      L.unlock();
      const int n = End > Offset ? Transfer(h, Offset, End - Offset) : 0;
      L.lock();
      FBusy = false;
      CV.notify_all();
      if (n < 0) {
        FRunning = false;  // the stream failed: wait for a reset or a close
        FFailed = true;
        // What a capture header holds of the audio before the failure is reported with it.
        if (FCapture && h->reserved > 0 && !FQueue.empty() && FQueue.front() == h) {
          FQueue.pop_front();
          FDone.push_back(h);
        }
        continue;
      }
      h->reserved += static_cast<std::uint32_t>(n);
      if (FCapture) h->dwBytesRecorded = h->reserved;
      FFrames += n / FBlock;
      if (h->reserved >= End && !FQueue.empty() && FQueue.front() == h) {
        FQueue.pop_front();
        if (FCapture || !FQueue.empty()) {
          ReleaseUnheard();
          FDone.push_back(h);
        } else {
          // The last header written: it is done when it has been heard, as a
          // sound card returns it, so that the end of a stream is played to
          // its last sample before the program stops the output.
          if (FUnheard.empty())
            FHeardBy = std::chrono::steady_clock::now() + kMostUnheard +
                       std::chrono::milliseconds(1000 * DelayUnlocked(L) / FRate);
          FUnheard.push_back(h);
        }
        if (OnDemand()) ++FOutstanding;
      }
    }
    L.unlock();
    FNotifier.Send(FCapture ? MM_WIM_CLOSE : MM_WOM_CLOSE, 0);
  }

  // A capture that stops fills its queued headers with the audio the stream
  // holds (a batch not yet complete, what the device took in since); the
  // last of them may be partly filled, and goes back with the stop.
  void HandOverHeld() {
    while (!FQueue.empty()) {
      WAVEHDR* h = FQueue.front();
      const std::uint32_t End = Limit(h) / FBlock * FBlock;
      const int n = End > h->reserved ? TakeHeld(h, h->reserved, End - h->reserved) : 0;
      if (n <= 0) return;
      h->reserved += static_cast<std::uint32_t>(n);
      h->dwBytesRecorded = h->reserved;
      FFrames += n / FBlock;
      if (h->reserved < End) return;
      FQueue.pop_front();
      FDone.push_back(h);
    }
  }

  // Played headers waiting to be heard go on as done, in order, before any later one.
  void ReleaseUnheard() {
    for (; !FUnheard.empty(); FUnheard.pop_front()) FDone.push_back(FUnheard.front());
  }
  std::int64_t DelayUnlocked(std::unique_lock<std::mutex>& L) {
    L.unlock();
    const std::int64_t Frames = Delay();
    L.lock();
    return Frames;
  }
  // Whether the output holds nothing more (or should not any more: a stream
  // that stopped moving is not waited for beyond its delay and a second).
  bool Heard(std::unique_lock<std::mutex>& L) {
    return DelayUnlocked(L) <= 0 || std::chrono::steady_clock::now() >= FHeardBy;
  }

  static constexpr std::chrono::seconds kMostUnheard{1};
  std::uint32_t FBlock;
  std::uint32_t FRate;
  TNotifier FNotifier;
  bool FCapture;
  std::thread FThread;
  std::mutex M;
  std::condition_variable CV;
  THeaderQueue FQueue, FDone;
  THeaderQueue FUnheard;  // playback: written last, not yet heard
  std::chrono::steady_clock::time_point FHeardBy;
  std::set<WAVEHDR*> FHeld;
  std::uint64_t FHeaders = 0;
  bool FRunning = false, FClosing = false, FBusy = false;
  bool FFailed = false;  // since the last start
  std::int64_t FFrames = 0;
  int FOutstanding = 0;         // on-demand sources: returned headers not yet queued again
  std::uint32_t FBatch = 1;     // headers reported together
  std::uint32_t FAwaiting = 1;  // headers' audio the stream waits for
};

class TInDevice : public TDevice {
 public:
  TInDevice(std::unique_ptr<TCaptureStream> s, const WAVEFORMATEX& f, TNotifier n)
      : TDevice(f, n, true), S(std::move(s)) {}
  std::uint32_t Xruns() const override { return S->Xruns(); }
  const TDropoutLog* Dropouts() const override { return &S->Dropouts(); }

 protected:
  bool Holds(std::uint64_t n) const override { return S->HoldsHeader(n); }
  void StartStream() override { S->Start(); }
  void StopStream() override { S->Stop(); }
  void InterruptStream() override { S->Interrupt(); }
  int Transfer(WAVEHDR* h, std::uint32_t Offset, std::uint32_t Count) override {
    return S->Read(h->lpData + Offset, Count);
  }
  std::uint32_t Limit(const WAVEHDR* h) const override {
    const std::uint32_t Max = S->MaxBytesPerHeader();
    return Max ? std::min(Max, h->dwBufferLength) : h->dwBufferLength;
  }
  bool OnDemand() const override { return S->FillsOnDemand(); }
  bool ReadyFor(const WAVEHDR* h) override { return S->Ready(Limit(h) / Block() * Block()); }
  void AwaitHeaders(std::uint32_t Headers) override { S->SetBatch(Headers); }
  int TakeHeld(WAVEHDR* h, std::uint32_t Offset, std::uint32_t Count) override {
    return S->ReadHeld(h->lpData + Offset, Count);
  }

 private:
  std::unique_ptr<TCaptureStream> S;
};

class TOutDevice : public TDevice {
 public:
  TOutDevice(std::unique_ptr<TPlaybackStream> s, const WAVEFORMATEX& f, TNotifier n)
      : TDevice(f, n, false), S(std::move(s)) {}
  std::uint32_t Xruns() const override { return S->Xruns(); }
  std::int64_t Delay() override { return S->Delay(); }

 protected:
  bool Holds(std::uint64_t n) const override { return S->HoldsHeader(n); }
  void StartStream() override { S->Start(); }
  void StopStream() override { S->Stop(); }
  void InterruptStream() override { S->Interrupt(); }
  int Transfer(WAVEHDR* h, std::uint32_t Offset, std::uint32_t Count) override {
    return S->Write(h->lpData + Offset, Count);
  }

 private:
  std::unique_ptr<TPlaybackStream> S;
};

struct TRegistry {
  std::mutex Lock;
  std::vector<std::shared_ptr<TWaveBackend>> Backends;
  std::map<std::uintptr_t, std::shared_ptr<TDevice>> Open;
  std::map<std::uintptr_t, std::uint32_t> DeviceOf;
  std::uintptr_t Next = 0x1000;
};

TRegistry& Registry() {
  static auto* r = new TRegistry;  // open devices may outlive static destruction
  return *r;
}

std::shared_ptr<TDevice> Find(std::uintptr_t Handle) {
  std::lock_guard<std::mutex> L(Registry().Lock);
  auto It = Registry().Open.find(Handle);
  return It == Registry().Open.end() ? nullptr : It->second;
}

// Device number -> backend and index within it (the mapper is device 0).
template <typename Count>
bool Locate(std::uint32_t Device, Count CountOf, std::shared_ptr<TWaveBackend>& Backend,
            int& Index) {
  if (Device == WAVE_MAPPER) Device = 0;
  for (const auto& b : WaveBackends()) {
    const int n = CountOf(*b);
    if (Device < static_cast<std::uint32_t>(n)) {
      Backend = b;
      Index = static_cast<int>(Device);
      return true;
    }
    Device -= static_cast<std::uint32_t>(n);
  }
  return false;
}

std::uint32_t CountAll(bool Capture) {
  std::uint32_t n = 0;
  for (const auto& b : WaveBackends())
    n += static_cast<std::uint32_t>(Capture ? b->CaptureCount() : b->PlaybackCount());
  return n;
}

template <typename Caps>
void FillCaps(const TWaveDeviceCaps& From, Caps& To) {
  std::memset(&To, 0, sizeof To);
  To.vDriverVersion = From.DriverVersion;
  std::strncpy(To.szPname, From.Name.c_str(), MAXPNAMELEN - 1);
  To.dwFormats = From.Formats;
  To.wChannels = From.Channels;
}

MMRESULT ErrorText(MMRESULT Error, char* Text, std::uint32_t Size) {
  static const std::map<MMRESULT, const char*> Texts = {
      {MMSYSERR_NOERROR, "The command was completed successfully."},
      {MMSYSERR_ERROR, "An unspecified error occurred."},
      {MMSYSERR_BADDEVICEID, "The device ID is out of range."},
      {MMSYSERR_ALLOCATED, "The device is already in use."},
      {MMSYSERR_INVALHANDLE, "The device handle is invalid."},
      {MMSYSERR_NODRIVER, "There is no driver installed for this device."},
      {MMSYSERR_NOMEM, "There is not enough memory available."},
      {MMSYSERR_INVALPARAM, "An invalid parameter was passed."},
      {WAVERR_BADFORMAT, "The device does not support this wave format."},
      {WAVERR_STILLPLAYING, "Buffers are still queued on the device."},
      {WAVERR_UNPREPARED, "The wave header was not prepared."},
  };
  auto It = Texts.find(Error);
  if (It == Texts.end() || !Text || Size == 0) return MMSYSERR_BADERRNUM;
  std::strncpy(Text, It->second, Size - 1);
  Text[Size - 1] = 0;
  return MMSYSERR_NOERROR;
}

template <typename Stream, typename DeviceClass, typename OpenFn>
MMRESULT OpenDevice(std::uintptr_t* Handle, std::uint32_t Device, const WAVEFORMATEX* Format,
                    std::uintptr_t Callback, std::uintptr_t Instance, std::uint32_t Flags,
                    bool Capture, OpenFn Open) {
  if (!Format) return MMSYSERR_INVALPARAM;
  std::shared_ptr<TWaveBackend> Backend;
  int Index = 0;
  if (!Locate(
          Device,
          [Capture](TWaveBackend& b) { return Capture ? b.CaptureCount() : b.PlaybackCount(); },
          Backend, Index))
    return MMSYSERR_BADDEVICEID;
  const bool Query = Flags & WAVE_FORMAT_QUERY;
  std::unique_ptr<Stream> s;
  const MMRESULT r = Open(*Backend, Index, *Format, Query, s);
  if (r != MMSYSERR_NOERROR || Query) return r;
  if (!Handle || !s) return MMSYSERR_INVALPARAM;
  TNotifier n;
  n.Instance = Instance;
  if ((Flags & CALLBACK_FUNCTION) == CALLBACK_FUNCTION)
    n.Function = reinterpret_cast<TWaveCallback>(Callback);
  else if (Flags & CALLBACK_WINDOW)
    n.Window = static_cast<HWND>(Callback);
  std::shared_ptr<DeviceClass> d;
  {
    std::lock_guard<std::mutex> L(Registry().Lock);
    n.Handle = Registry().Next++;
    d = std::make_shared<DeviceClass>(std::move(s), *Format, n);
    Registry().Open[n.Handle] = d;
    Registry().DeviceOf[n.Handle] = Device;
  }
  *Handle = n.Handle;
  d->Launch();
  return MMSYSERR_NOERROR;
}

MMRESULT CloseDevice(std::uintptr_t Handle) {
  auto d = Find(Handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  const MMRESULT r = d->Close();
  if (r != MMSYSERR_NOERROR) return r;
  std::lock_guard<std::mutex> L(Registry().Lock);
  Registry().Open.erase(Handle);
  Registry().DeviceOf.erase(Handle);
  return MMSYSERR_NOERROR;
}

MMRESULT Prepare(std::uintptr_t Handle, WAVEHDR* h, bool Value) {
  if (!Find(Handle)) return MMSYSERR_INVALHANDLE;
  if (!h) return MMSYSERR_INVALPARAM;
  const std::uint32_t Flags = LoadHeaderFlags(*h);
  if (!Value && (Flags & WHDR_INQUEUE)) return WAVERR_STILLPLAYING;
  StoreHeaderFlags(*h, Value ? (Flags | WHDR_PREPARED) : (Flags & ~WHDR_PREPARED));
  return MMSYSERR_NOERROR;
}

template <typename F>
MMRESULT With(std::uintptr_t Handle, F Action) {
  auto d = Find(Handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  return Action(*d);
}

MMRESULT GetPosition(std::uintptr_t Handle, MMTIME* Time) {
  auto d = Find(Handle);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!Time) return MMSYSERR_INVALPARAM;
  const std::int64_t Frames = d->Frames();
  if (Time->wType == TIME_BYTES) {
    Time->u.cb = static_cast<std::uint32_t>(Frames * d->Block());
  } else {
    Time->wType = TIME_SAMPLES;
    Time->u.sample = static_cast<std::uint32_t>(Frames);
  }
  return MMSYSERR_NOERROR;
}

}  // namespace

void SetWaveBackends(std::vector<std::shared_ptr<TWaveBackend>> Backends) {
  std::lock_guard<std::mutex> L(Registry().Lock);
  Registry().Backends = std::move(Backends);
}

std::vector<std::shared_ptr<TWaveBackend>> WaveBackends() {
  std::lock_guard<std::mutex> L(Registry().Lock);
  return Registry().Backends;
}

std::uint32_t waveInGetNumDevs() {
  return CountAll(true);
}

MMRESULT waveInGetDevCaps(std::uint32_t Device, WAVEINCAPS* Caps, std::uint32_t Size) {
  std::shared_ptr<TWaveBackend> b;
  int i = 0;
  if (!Caps || Size < sizeof(WAVEINCAPS)) return MMSYSERR_INVALPARAM;
  if (!Locate(
          Device, [](TWaveBackend& x) { return x.CaptureCount(); }, b, i))
    return MMSYSERR_BADDEVICEID;
  FillCaps(b->CaptureCaps(i), *Caps);
  return MMSYSERR_NOERROR;
}

std::string WaveInRateNote(std::uint32_t Device, int Rate) {
  std::shared_ptr<TWaveBackend> b;
  int i = 0;
  if (!Locate(
          Device, [](TWaveBackend& x) { return x.CaptureCount(); }, b, i))
    return {};
  return b->CaptureRateNote(i, Rate);
}

MMRESULT waveInGetErrorText(MMRESULT Error, char* Text, std::uint32_t Size) {
  return ErrorText(Error, Text, Size);
}

MMRESULT waveInOpen(HWAVEIN* Handle, std::uint32_t Device, const WAVEFORMATEX* Format,
                    std::uintptr_t Callback, std::uintptr_t Instance, std::uint32_t Flags) {
  return OpenDevice<TCaptureStream, TInDevice>(
      Handle, Device, Format, Callback, Instance, Flags, true,
      [](TWaveBackend& b, int i, const WAVEFORMATEX& f, bool q,
         std::unique_ptr<TCaptureStream>& s) { return b.OpenCapture(i, f, q, s); });
}

MMRESULT waveInClose(HWAVEIN Handle) {
  return CloseDevice(Handle);
}
MMRESULT waveInPrepareHeader(HWAVEIN Handle, WAVEHDR* h, std::uint32_t) {
  return Prepare(Handle, h, true);
}
MMRESULT waveInUnprepareHeader(HWAVEIN Handle, WAVEHDR* h, std::uint32_t) {
  return Prepare(Handle, h, false);
}
MMRESULT waveInAddBuffer(HWAVEIN Handle, WAVEHDR* h, std::uint32_t) {
  return With(Handle, [h](TDevice& d) { return d.Queue(h); });
}
MMRESULT waveInSetBatch(HWAVEIN Handle, std::uint32_t Buffers) {
  return With(Handle, [Buffers](TDevice& d) {
    d.SetBatch(Buffers);
    return MMSYSERR_NOERROR;
  });
}
MMRESULT waveInStart(HWAVEIN Handle) {
  return With(Handle, [](TDevice& d) {
    d.Run(true);
    return MMSYSERR_NOERROR;
  });
}
MMRESULT waveInStop(HWAVEIN Handle) {
  return With(Handle, [](TDevice& d) {
    d.Halt(false);
    return MMSYSERR_NOERROR;
  });
}
MMRESULT waveInReset(HWAVEIN Handle) {
  return With(Handle, [](TDevice& d) {
    d.Halt(true);
    return MMSYSERR_NOERROR;
  });
}
MMRESULT waveInGetPosition(HWAVEIN Handle, MMTIME* Time, std::uint32_t) {
  return GetPosition(Handle, Time);
}
MMRESULT waveInGetID(HWAVEIN Handle, std::uint32_t* Device) {
  std::lock_guard<std::mutex> L(Registry().Lock);
  auto It = Registry().DeviceOf.find(Handle);
  if (It == Registry().DeviceOf.end()) return MMSYSERR_INVALHANDLE;
  if (Device) *Device = It->second;
  return MMSYSERR_NOERROR;
}

std::uint32_t waveOutGetNumDevs() {
  return CountAll(false);
}

MMRESULT waveOutGetDevCaps(std::uint32_t Device, WAVEOUTCAPS* Caps, std::uint32_t Size) {
  std::shared_ptr<TWaveBackend> b;
  int i = 0;
  if (!Caps || Size < sizeof(WAVEOUTCAPS)) return MMSYSERR_INVALPARAM;
  if (!Locate(
          Device, [](TWaveBackend& x) { return x.PlaybackCount(); }, b, i))
    return MMSYSERR_BADDEVICEID;
  FillCaps(b->PlaybackCaps(i), *Caps);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetErrorText(MMRESULT Error, char* Text, std::uint32_t Size) {
  return ErrorText(Error, Text, Size);
}

MMRESULT waveOutOpen(HWAVEOUT* Handle, std::uint32_t Device, const WAVEFORMATEX* Format,
                     std::uintptr_t Callback, std::uintptr_t Instance, std::uint32_t Flags) {
  const MMRESULT r = OpenDevice<TPlaybackStream, TOutDevice>(
      Handle, Device, Format, Callback, Instance, Flags, false,
      [](TWaveBackend& b, int i, const WAVEFORMATEX& f, bool q,
         std::unique_ptr<TPlaybackStream>& s) { return b.OpenPlayback(i, f, q, s); });
  // An output device plays what it is given from the start.
  if (r == MMSYSERR_NOERROR && !(Flags & WAVE_FORMAT_QUERY)) waveOutRestart(*Handle);
  return r;
}

MMRESULT waveOutClose(HWAVEOUT Handle) {
  return CloseDevice(Handle);
}
MMRESULT waveOutPrepareHeader(HWAVEOUT Handle, WAVEHDR* h, std::uint32_t) {
  return Prepare(Handle, h, true);
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT Handle, WAVEHDR* h, std::uint32_t) {
  return Prepare(Handle, h, false);
}
MMRESULT waveOutWrite(HWAVEOUT Handle, WAVEHDR* h, std::uint32_t) {
  return With(Handle, [h](TDevice& d) { return d.Queue(h); });
}
MMRESULT waveOutPause(HWAVEOUT Handle) {
  return With(Handle, [](TDevice& d) {
    d.Halt(false);
    return MMSYSERR_NOERROR;
  });
}
MMRESULT waveOutRestart(HWAVEOUT Handle) {
  return With(Handle, [](TDevice& d) {
    d.Run(true);
    return MMSYSERR_NOERROR;
  });
}
MMRESULT waveOutReset(HWAVEOUT Handle) {
  return With(Handle, [](TDevice& d) {
    d.Halt(true);
    return MMSYSERR_NOERROR;
  });
}
MMRESULT waveOutGetPosition(HWAVEOUT Handle, MMTIME* Time, std::uint32_t) {
  return GetPosition(Handle, Time);
}

std::uint32_t WaveDeviceXruns(std::uintptr_t Handle) {
  auto d = Find(Handle);
  return d ? d->Xruns() : 0;
}

std::size_t waveInDropoutCount(HWAVEIN Handle) {
  auto d = Find(Handle);
  const TDropoutLog* Log = d ? d->Dropouts() : nullptr;
  return Log ? Log->Count() : 0;
}

bool waveInInputGone(HWAVEIN Handle) {
  auto d = Find(Handle);
  return d && d->Gone();
}

bool waveInGetDropout(HWAVEIN Handle, std::size_t Index, TInputDropout* Dropout) {
  auto d = Find(Handle);
  const TDropoutLog* Log = d ? d->Dropouts() : nullptr;
  if (!Log || !Dropout || Index >= Log->Count()) return false;
  *Dropout = Log->At(Index);
  return true;
}

}  // namespace velmar
