#include "controls/connector.h"

#include <QTimer>
#include <algorithm>
#include <cstring>

#include "platform/application.h"
#include "platform/messages.h"
#include "platform/mmtime.h"
#include "stream/arith.h"
#include "stream/errors.h"
#include "stream/messages.h"
#include "stream/pcm_samples.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"

namespace velmar {

// What all connectors of the process share: the registry, the hidden window and
// its pump, the largest Speed, the active auto-triggered count, EnterIdle and the
// idle handler. Main thread, except Window and PumpPosted, which taps read.
struct TConnectorUnit {
  std::vector<TMMConnector*> Registry;
  std::atomic<HWND> Window{0};
  QTimer* Timer = nullptr;  // aimed at the next slice that comes due
  int MaxSpeed = 0;
  int ActiveAuto = 0;
  bool EnterIdle = false;
  bool IdleInstalled = false;
  bool InPump = false;
  std::atomic<bool> PumpPosted{false};
  std::atomic<bool> TimerArmed{false};  // a pass is coming: taps need not post one
  std::int64_t LastPass = 0;            // µs clock of the last wake-up that drew

  // The displays' picture rate, 30 a second: slices that come due closer
  // together are drawn together, each still no earlier than its time. Meters and
  // scopes read as smooth at this rate; each picture costs the X server a
  // round of work, and the program a wake-up.
  static constexpr std::int64_t kFrameMicros = 33333;

  static TConnectorUnit& Get() {
    static auto* Unit = new TConnectorUnit;  // threads may post while the program ends
    return *Unit;
  }

  void RecomputeSpeed() {
    MaxSpeed = 0;
    for (TMMConnector* c : Registry) MaxSpeed = std::max(MaxSpeed, c->FSpeed);
  }

  // Any thread: one pump message in flight, and none while the timer is aimed at
  // a pass: that pass takes the new data in its turn, so a tap adds no wake-up.
  void PostPump() {
    if (TimerArmed) return;
    if (!PumpPosted.exchange(true) && !PostMessage(Window, WM_CONNECTOR_PUMP, 0, 1))
      PumpPosted = false;
  }

  void InstallIdle(const TMMConnector& c) {
    if (!c.FAutoTrigger || !EnterIdle || IdleInstalled || Application().OnIdle) return;
    // The message loop never blocks while connectors pump.
    Application().OnIdle = [](TObject*, bool& Done) { Done = false; };
    IdleInstalled = true;
  }

  void RemoveIdle() {
    if (ActiveAuto > 0 || !IdleInstalled) return;
    Application().OnIdle = nullptr;
    IdleInstalled = false;
  }

  // The draw passes of every active auto-triggered connector: after the
  // designed message dispatch rounds, all passes that are due, then the timer
  // aimed at the next slice.
  void Pump() {
    PumpPosted = false;
    // Disarmed before the groups are read: a tap that still saw it armed armed
    // its groups early enough for this pass to see them.
    TimerArmed = false;
    if (InPump) return;
    InPump = true;
    struct TDone {
      bool& b;
      ~TDone() { b = false; }
    } Done{InPump};
    TApplication& App = Application();
    if (MaxSpeed <= 5000)
      for (int i = 0; i < 5001 - MaxSpeed && !App.Terminated(); ++i) App.ProcessMessages();
    if (ActiveAuto == 0 || App.Terminated()) return;
    if (EnterIdle) App.ProcessMessages();
    // A pass within a frame of the last waits for the frame's end, as timed ones do.
    if (TMMConnector::MicroSeconds() < LastPass + kFrameMicros) {
      Schedule();
      return;
    }
    // By index: an OnTrigger handler may destroy a connector meanwhile.
    for (bool Fed = true; Fed;) {
      Fed = false;
      for (std::size_t i = 0; i < Registry.size(); ++i) {
        TMMConnector* c = Registry[i];
        if (c->FAutoTrigger && c->FEnabled && c->FActive) Fed = c->UpdateDisplays() || Fed;
      }
      if (Fed) LastPass = TMMConnector::MicroSeconds();
    }
    Schedule();
  }

  void Schedule() {
    std::int64_t Next = -1;
    for (TMMConnector* c : Registry) {
      if (!c->FAutoTrigger || !c->FEnabled || !c->FActive) continue;
      const std::int64_t Due = c->NextDue();
      if (Due >= 0 && (Next < 0 || Due < Next)) Next = Due;
    }
    if (!Timer) return;
    if (Next < 0) {
      Timer->stop();  // the next tap wakes the pump
      return;
    }
    Next = std::max(Next, LastPass + kFrameMicros);
    const std::int64_t Wait = Next - TMMConnector::MicroSeconds();
    Timer->start(static_cast<int>(std::clamp<std::int64_t>((Wait + 999) / 1000, 0, 1000)));
    TimerArmed = true;
  }

  static LRESULT WindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam) {
    TConnectorUnit& u = Get();
    auto* c = reinterpret_cast<TMMConnector*>(lParam);
    // A connector destroyed since the message was posted is not there to call.
    if ((Message == WM_CONNECTOR_ACTIVATE || Message == WM_CONNECTOR_TRIGGER) &&
        std::find(u.Registry.begin(), u.Registry.end(), c) == u.Registry.end())
      return 0;
    try {
      switch (Message) {
        case WM_CONNECTOR_PUMP:
          if (!lParam) break;
          u.Pump();
          return 0;
        case WM_CONNECTOR_ACTIVATE:
          if (!c) break;
          c->Activate();
          return 0;
        case WM_CONNECTOR_TRIGGER:
          if (!c) break;
          if (wParam == 1) {  // a tap's draw pass, without RealTime
            c->FDrawPosted = false;
            c->UpdateDisplays();
          } else if (c->FEnabled && c->FActive) {
            c->UpdateDisplays();
            --c->FPendingTriggers;
          }
          return 0;
        default:
          break;
      }
    } catch (...) {
      Application().HandleException(std::current_exception());
    }
    return DefWindowProc(Window, Message, wParam, lParam);
  }
};

namespace {

constexpr std::array<std::pair<int, int>, 6> kGroupSlots = {
    {{0, 2}, {2, 2}, {4, 2}, {6, 2}, {8, 4}, {12, 2}}};

}  // namespace

std::int64_t TMMConnector::MicroSeconds() {
  static const std::int64_t Frequency = QueryPerformanceFrequency();
  if (Frequency < 2 || Frequency > 0xFFFFFFFFll) return std::int64_t{timeGetTime()} * 1000;
  const std::int64_t Count = QueryPerformanceCounter();
  return Count / Frequency * 1000000 + Count % Frequency * 1000000 / Frequency;
}

TMMConnector::TMMConnector(TComponent* AOwner) : TMMDSPComponent(AOwner) {
  PublishLinks(true, true);
  for (std::size_t g = 0; g < FGroups.size(); ++g) {
    FGroups[g].First = kGroupSlots[g].first;
    FGroups[g].Count = kGroupSlots[g].second;
  }
  timeBeginPeriod(1);
  TConnectorUnit& u = TConnectorUnit::Get();
  if (u.Registry.empty()) {
    u.Window = AllocateHWnd(&TConnectorUnit::WindowProc);
    u.Timer = new QTimer;
    u.Timer->setSingleShot(true);
    u.Timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(u.Timer, &QTimer::timeout, [] { TConnectorUnit::Get().Pump(); });
  }
  u.Registry.push_back(this);
  u.RecomputeSpeed();
}

TMMConnector::~TMMConnector() {
  Destroying();
  Stopped();
  DetachFromChain();
  for (auto& Watch : FSinkWatch) QObject::disconnect(Watch);
  timeEndPeriod(1);
  TConnectorUnit& u = TConnectorUnit::Get();
  // Messages posted for this connector stay queued (others' are among them):
  // the window procedure finds it gone from the registry and skips them.
  u.Registry.erase(std::find(u.Registry.begin(), u.Registry.end(), this));
  if (u.Registry.empty()) {
    DeallocateHWnd(u.Window.exchange(0));
    u.PumpPosted = false;
    delete u.Timer;
    u.Timer = nullptr;
    u.TimerArmed = false;
    u.MaxSpeed = 0;
    return;
  }
  u.RecomputeSpeed();
}

bool TMMConnector::EnterIdle() {
  return TConnectorUnit::Get().EnterIdle;
}

void TMMConnector::SetEnterIdle(bool Value) {
  TConnectorUnit::Get().EnterIdle = Value;
}

// ---------------------------------------------------------------------------
// Properties

void TMMConnector::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  if (!Value) {
    if (FActive) Deactivate();
    ResetSinks();
  } else if (FRunning && FRealTime) {
    TConnectorUnit& u = TConnectorUnit::Get();
    u.InstallIdle(*this);
    PostMessage(u.Window, WM_CONNECTOR_ACTIVATE, 0, reinterpret_cast<LPARAM>(this));
  }
}

void TMMConnector::SetAutoTrigger(bool Value) {
  if (Value == FAutoTrigger) return;
  FAutoTrigger = Value;
  TConnectorUnit& u = TConnectorUnit::Get();
  if (!Value) {
    // Active still (a manual Trigger draws), no longer pumped.
    if (FCountedAuto) {
      FCountedAuto = false;
      if (u.ActiveAuto > 0) --u.ActiveAuto;
      u.RemoveIdle();
    }
  } else if (FRunning && FEnabled && FRealTime) {
    u.InstallIdle(*this);
    PostMessage(u.Window, WM_CONNECTOR_ACTIVATE, 0, reinterpret_cast<LPARAM>(this));
  }
}

void TMMConnector::SetSpeed(int Value) {
  FSpeed = std::clamp(Value, 1, 5000);
  TConnectorUnit::Get().RecomputeSpeed();
}

void TMMConnector::SetRealTime(bool Value) {
  if (Value == FRealTime) return;
  if (IsOpened()) throw EMMConnectorError(LibMessage(kMsgChangeWhileOpen));
  FRealTime = Value;
}

void TMMConnector::SetSink(int Slot, TMMDisplaySink* Value) {
  auto& Current = FSinks[static_cast<std::size_t>(Slot)];
  if (Current == Value) return;
  // The pairs take a display once; the four spectrum slots check only their own.
  const bool Pair = Slot < kSpectrum1 || Slot > kSpectrum4;
  if (Pair && Value && FSinks[static_cast<std::size_t>(Slot ^ 1)] == Value) return;
  QObject::disconnect(FSinkWatch[static_cast<std::size_t>(Slot)]);
  Current = Value;
  if (auto* Object = dynamic_cast<QObject*>(Value))
    FSinkWatch[static_cast<std::size_t>(Slot)] =
        QObject::connect(Object, &QObject::destroyed,
                         [this, Slot] { FSinks[static_cast<std::size_t>(Slot)] = nullptr; });
  for (TGroup& g : FGroups)
    if (Slot >= g.First && Slot < g.First + g.Count) g.Armed = false;
  if (Value) SetSinkFormats();
  UpdateLevelNeed();
}

// ---------------------------------------------------------------------------
// Formats and the stream's life

void TMMConnector::SetPWaveFormat(const WAVEFORMATEX* fmt) {
  TMMDSPComponent::SetPWaveFormat(fmt);
  SetSinkFormats();
}

void TMMConnector::SetSinkFormats() {
  const WAVEFORMATEX* Stream = PWaveFormat();
  if (!Stream) return;
  const WAVEFORMATEX* Format = FFormat;
  WAVEFORMATEX Suggested{};
  if (!FRunning) {
    Format = Stream;
    FIsPCM = Stream->wFormatTag == WAVE_FORMAT_PCM;
    FConverting = false;
    if (!FIsPCM && FAutoConvert) {
      Suggested = SuggestPCM(Stream);
      Format = &Suggested;
      if (Suggested.wFormatTag)
        FConverting = CanConvertFormats(Stream, &Suggested, TMMConvertQuality::cqLow);
    }
  }
  if (!FIsPCM && !FConverting) return;
  FSilence = Format->wBitsPerSample == 8 ? 128 : 0;
  for (TMMDisplaySink* s : FSinks)
    if (s) s->SetPCMWaveFormat(Format);
}

void TMMConnector::Started() {
  TMMDSPComponent::Started();
  const WAVEFORMATEX* Stream = PWaveFormat();
  if (HasState(csDesigning) || !Stream || FRunning) return;
  const std::int32_t Size = BufferSize();
  FIsPCM = FConverting = false;
  FData = nullptr;
  FCapacity = 0;
  if (Stream->wFormatTag == WAVE_FORMAT_PCM) {
    FIsPCM = true;
    FFormat = Stream;
    FRaw = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(Size));
    FData = FRaw.get();
    FCapacity = Size;
  } else if (FAutoConvert) {
    const WAVEFORMATEX Suggested = SuggestPCM(Stream);
    FOwnedFormat = CopyWaveFormat(&Suggested);
    FFormat = FOwnedFormat;
    FRaw = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(Size));
    FConversion = OpenConversion(Stream, FFormat, FRaw.get(), TMMConvertQuality::cqLow, Size);
    if (FConversion) {
      FConverting = true;
      FData = FConversion->OutputBuffer;
      FCapacity = FConversion->OutputSize;
    } else {
      FRaw.reset();
      FreeWaveFormat(FOwnedFormat);
      FFormat = nullptr;
    }
  }
  FRawSize = Size;
  if (FData) {
    // Grown only: a draw pass may be feeding from it when a handler restarts us.
    const auto Feed = static_cast<std::size_t>(FCapacity) * (kGroups + 1);
    if (FFeed.size() < Feed) FFeed.resize(Feed);
    FPeaks.assign(static_cast<std::size_t>(FCapacity), FSilence);
    FPeaksSize = 0;
    FPeaksPending = false;
  }
  for (TGroup& g : FGroups) {
    g.Armed = false;
    g.Offset = 0;
    for (auto& o : g.SpectrogramOffsets) o = 0;
  }
  if ((!FIsPCM && !FConverting) || !FData) return;
  TConnectorUnit& u = TConnectorUnit::Get();
  u.RecomputeSpeed();
  FRunning = true;
  SetSinkFormats();
  UpdateLevelNeed();
  if (FEnabled && FRealTime) {
    u.InstallIdle(*this);
    PostMessage(u.Window, WM_CONNECTOR_ACTIVATE, 0, reinterpret_cast<LPARAM>(this));
  }
}

void TMMConnector::Activate() {
  if (!FRunning) return;
  if (!FActive) {
    FPendingTriggers = 0;
    FActive = true;
  }
  // Also for a connector made auto-triggered while it was active already.
  if (FAutoTrigger && !FCountedAuto) {
    FCountedAuto = true;
    TConnectorUnit& u = TConnectorUnit::Get();
    ++u.ActiveAuto;
    u.PostPump();
  }
}

void TMMConnector::Deactivate() {
  FActive = false;
  if (!FCountedAuto) return;
  FCountedAuto = false;
  TConnectorUnit& u = TConnectorUnit::Get();
  if (u.ActiveAuto > 0) --u.ActiveAuto;
  u.RemoveIdle();
}

void TMMConnector::Stopped() {
  if (FRunning && !HasState(csDesigning)) {
    FRunning = false;
    if (FActive) Deactivate();
    FPaused = false;
    RemoveTickClient(FPauseNode);
    FPauseNode = nullptr;
    {
      std::lock_guard<std::mutex> Lock(FLock);  // a tap may be copying
      CloseConversion(FConversion);
      FRaw.reset();
      FData = nullptr;
      FCapacity = FValid = 0;
    }
    FreeWaveFormat(FOwnedFormat);
    FFormat = nullptr;
    if (FRefreshOnStop) ResetSinks();
  }
  TMMDSPComponent::Stopped();
}

void TMMConnector::Paused() {
  TMMDSPComponent::Paused();
  if (HasState(csDesigning) || !FRunning || FPaused) return;
  FPaused = true;
  {
    std::lock_guard<std::mutex> Lock(FLock);
    if (FData) std::memset(FData, FSilence, static_cast<std::size_t>(FCapacity));
  }
  if (!FRealTime) return;
  const int Interval = BufferSize() > 8191 ? kTickPeriodMs : BytesToTime(FFormat, BufferSize());
  FPauseNode = AddTickClient(
      Interval, false, [](PTickClient, void* c) { static_cast<TMMConnector*>(c)->PauseFeed(); },
      this);
  if (!FPauseNode) throw EOutOfResources("Not enough timers available");
}

void TMMConnector::PauseFeed() {
  // The sinks keep receiving the silence in the buffer and fall back.
  FTapTime = MicroSeconds();
  ArmGroups();
  FPeaksPending = true;  // the bars' update holds silence by now
  TConnectorUnit::Get().PostPump();
}

void TMMConnector::Restarted() {
  TMMDSPComponent::Restarted();
  FPaused = false;
  if (FRealTime) {
    RemoveTickClient(FPauseNode);
    FPauseNode = nullptr;
  }
}

void TMMConnector::Resetting() {
  TMMDSPComponent::Resetting();
  if (!FRunning) return;
  std::lock_guard<std::mutex> Lock(FLock);
  if (FData) std::memset(FData, FSilence, static_cast<std::size_t>(FCapacity));
}

// ---------------------------------------------------------------------------
// The tap

void TMMConnector::BufferReady(PWaveHdr lpWaveHdr) {
  // The output device names the buffer that plays next: the display follows
  // what is heard.
  const PWaveHdr Tapped = FSynchronize && lpWaveHdr->NextHdr && lpWaveHdr->wh.dwBytesRecorded > 0
                              ? lpWaveHdr->NextHdr
                              : lpWaveHdr;
  ProcessBuffer(Tapped->wh.lpData, Tapped->wh.dwBytesRecorded);
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMConnector::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  ProcessBuffer(lpWaveHdr->wh.lpData, lpWaveHdr->wh.dwBytesRecorded);
}

void TMMConnector::UpdateLevelNeed() {
  const TGroup& g = FGroups[gLevel];
  int Need = 0;
  for (int i = g.First; i < g.First + g.Count; ++i)
    if (Sink(i)) Need = std::max(Need, Sink(i)->BytesPerUpdate());
  FLevelNeed = Need;
}

bool TMMConnector::HasSinks(const TGroup& g) const {
  for (int i = g.First; i < g.First + g.Count; ++i)
    if (Sink(i)) return true;
  return false;
}

void TMMConnector::ArmGroups() {
  for (TGroup& g : FGroups) {
    if (&g == &FGroups[gLevel] || !HasSinks(g)) continue;
    g.Offset = 0;
    for (auto& o : g.SpectrogramOffsets) o = 0;
    g.Armed = true;
  }
}

void TMMConnector::ProcessBuffer(const void* Data, std::uint32_t Size) {
  if (!FEnabled || FPaused || !FRunning || (!FIsPCM && !FConverting) || !Data) return;
  FTapTime = MicroSeconds();
  {
    std::lock_guard<std::mutex> Lock(FLock);
    if (!FRaw) return;  // stopped meanwhile
    const auto n = static_cast<std::int32_t>(std::min<std::uint32_t>(Size, FRawSize));
    FValid = n;
    std::memcpy(FRaw.get(), Data, static_cast<std::size_t>(n));
    if (FConverting) {
      const std::int32_t Converted = ConvertChunk(*FConversion, n);
      if (Converted <= 0) return;
      FValid = Converted;
    }
    FoldLevels(FData, FValid);
  }
  ArmGroups();
  if (!FRealTime && FAutoTrigger)
    PostDraw();
  else if (FActive && FAutoTrigger)
    TConnectorUnit::Get().PostPump();
}

void TMMConnector::FoldLevels(const std::uint8_t* Data, std::int32_t Bytes) {
  const std::int32_t Need = FLevelNeed;
  if (Need <= 0 || Need > static_cast<std::int32_t>(FPeaks.size()) || !FFormat) return;
  std::uint8_t* Peaks = FPeaks.data();
  if (Need != FPeaksSize) {
    FPeaksSize = Need;
    std::memset(Peaks, FSilence, static_cast<std::size_t>(Need));
  }
  std::int32_t At = 0;  // the position within the update
  if (const int Width = FFormat->wBitsPerSample / 8; Width >= 2) {
    for (std::int32_t i = 0; i + Width <= Bytes; i += Width) {
      if (std::abs(PcmSample(Data + i, Width)) > std::abs(PcmSample(Peaks + At, Width)))
        std::memcpy(Peaks + At, Data + i, static_cast<std::size_t>(Width));
      if ((At += Width) >= Need) At = 0;
    }
  } else {
    for (std::int32_t i = 0; i < Bytes; ++i) {
      if (std::abs(Data[i] - 128) > std::abs(Peaks[At] - 128)) Peaks[At] = Data[i];
      if (++At >= Need) At = 0;
    }
  }
  FPeaksPending = true;
}

void TMMConnector::PostDraw() {
  // The displays are widgets: drawn on the main thread, one pass per buffer.
  if (InMainThread()) {
    UpdateDisplays();
    return;
  }
  if (!FDrawPosted.exchange(true) &&
      !PostMessage(TConnectorUnit::Get().Window, WM_CONNECTOR_TRIGGER, 1,
                   reinterpret_cast<LPARAM>(this)))
    FDrawPosted = false;
}

// ---------------------------------------------------------------------------
// The draw pass

std::int32_t TMMConnector::FlankDistance(std::int32_t From) const {
  // TriggerLevel is a percentage of full scale; the first pair of samples of the
  // first channel that crosses it in the trigger direction.
  const int Width = FFormat->wBitsPerSample / 8;
  const int Step = FFormat->nBlockAlign;
  const int Sign = FTriggerMode == TMMTriggerMode::tmDownFlank ? -1 : 1;
  // Compared at the 16-bit scale for 16- and 24-bit samples.
  const int Level = Sign * FTriggerLevel * (Width >= 2 ? 327 : 127) / 100;
  auto Sample = [&](std::int32_t At) {
    if (Width >= 2) return Sign * (PcmSample(FData + At, Width) >> (8 * (Width - 2)));
    return Sign * (static_cast<int>(FData[At]) - 128);
  };
  for (std::int32_t At = From; At + 2 * Step <= FValid; At += Step)
    if (Sample(At) < Level && Sample(At + Step) >= Level) return At + Step - From;
  return 0;
}

bool TMMConnector::UpdateDisplays() {
  if (!FEnabled || !(FActive || (!FRealTime && FRunning)) || !FData) return false;
  // What to feed, copied under the lock; fed after it (a display's handler
  // may stop or pause the connector, which takes the lock).
  struct TFeed {
    int First, Count;  // sink slots
    std::size_t At;    // in FFeed
  };
  std::array<TFeed, kGroups + 1> Feeds;
  int Fed = 0;
  {
    std::lock_guard<std::mutex> Lock(FLock);
    if (!FData || !FFormat) return false;
    const std::int64_t Elapsed = MicroSeconds() - FTapTime;
    const std::int64_t Rate = std::max<std::uint32_t>(FFormat->nAvgBytesPerSec, 1);
    auto Due = [&](std::int32_t Offset) {
      return !FSynchronize || Elapsed >= std::int64_t{Offset} * 1000000 / Rate;
    };
    std::size_t Used = 0;
    auto Take = [&](int First, int Count, const std::uint8_t* From, std::int32_t Bytes) {
      if (Used + static_cast<std::size_t>(Bytes) > FFeed.size()) return;
      std::memcpy(FFeed.data() + Used, From, static_cast<std::size_t>(Bytes));
      Feeds[static_cast<std::size_t>(Fed++)] = {First, Count, Used};
      Used += static_cast<std::size_t>(Bytes);
    };
    for (std::size_t gi = 0; gi < FGroups.size(); ++gi) {
      TGroup& g = FGroups[gi];
      int Need = 0;
      for (int i = g.First; i < g.First + g.Count; ++i)
        if (Sink(i)) Need = std::max(Need, Sink(i)->BytesPerUpdate());
      if (gi == gLevel) {
        // Everything delivered since the last picture, in one update.
        FLevelNeed = Need;
        if (!FPeaksPending || Need != FPeaksSize || Need <= 0) continue;
        Take(g.First, g.Count, FPeaks.data(), Need);
        std::memset(FPeaks.data(), FSilence, static_cast<std::size_t>(Need));
        FPeaksPending = false;
        continue;
      }
      if (!g.Armed) continue;
      if (gi == gSpectrogram) {
        bool Left = false;
        for (int k = 0; k < 2; ++k) {
          TMMDisplaySink* s = Sink(kSpectrogram1 + k);
          std::atomic<std::int32_t>& Offset = g.SpectrogramOffsets[static_cast<std::size_t>(k)];
          if (!s || Offset + s->BytesPerUpdate() > FValid) continue;
          Left = true;
          if (!Due(Offset)) continue;
          Take(kSpectrogram1 + k, 1, FData + Offset, s->BytesPerUpdate());
          Offset += s->BytesPerUpdate();
        }
        if (!Left) g.Armed = false;
        continue;
      }
      std::int32_t Offset = g.Offset;
      if (!Due(Offset)) continue;
      if (gi == gOscope && FTriggerMode != TMMTriggerMode::tmNone && !FPaused)
        if (const std::int32_t d = FlankDistance(Offset); d > 0) Offset += d;
      g.Offset = Offset + Need;
      if (Offset + Need > FValid || Need <= 0) {
        g.Armed = false;
        continue;
      }
      Take(g.First, g.Count, FData + Offset, Need);
    }
  }
  for (int f = 0; f < Fed; ++f) {
    const TFeed& Feed = Feeds[static_cast<std::size_t>(f)];
    for (int i = Feed.First; i < Feed.First + Feed.Count; ++i)
      if (TMMDisplaySink* s = Sink(i)) s->RefreshPCMData(FFeed.data() + Feed.At);
  }
  if (OnTrigger) OnTrigger(this);
  return Fed > 0;
}

std::int64_t TMMConnector::NextDue() const {
  if (!FEnabled || !FData || !FFormat) return -1;
  const std::int64_t Tap = FTapTime;
  const std::int64_t Rate = std::max<std::uint32_t>(FFormat->nAvgBytesPerSec, 1);
  // The bars' update is due as soon as it holds anything new.
  std::int64_t Next = FPeaksPending ? Tap : -1;
  for (const TGroup& g : FGroups) {
    if (!g.Armed) continue;
    std::int32_t Offset = g.Offset;
    if (&g == &FGroups[gSpectrogram])
      Offset = std::min(g.SpectrogramOffsets[0].load(), g.SpectrogramOffsets[1].load());
    const std::int64_t Due = FSynchronize ? Tap + std::int64_t{Offset} * 1000000 / Rate : 0;
    if (Next < 0 || Due < Next) Next = Due;
  }
  return Next;
}

void TMMConnector::Trigger() {
  if (!FEnabled || !(FActive || (!FRealTime && FRunning)) || FAutoTrigger || FPendingTriggers != 0)
    return;
  if (InMainThread()) {
    UpdateDisplays();
    return;
  }
  ++FPendingTriggers;
  PostMessage(TConnectorUnit::Get().Window, WM_CONNECTOR_TRIGGER, 0,
              reinterpret_cast<LPARAM>(this));
}

void TMMConnector::ResetSinks() {
  for (TMMDisplaySink* s : FSinks)
    if (s) s->ResetData();
}

}  // namespace velmar
