#include "wavefile/acm_converter.h"

#include <algorithm>
#include <cstring>

#include "stream/errors.h"
#include "stream/messages.h"
#include "stream/wave_format.h"

namespace velmar {

namespace {

// Converted input per call, whatever the device's buffer size.
constexpr std::int32_t kConvertChunk = 8192;
// Pulls in a row that may yield no output before the stage gives up.
constexpr int kMaxStarvedPulls = 5;

}  // namespace

TMMACMConverter::TMMACMConverter(TComponent* AOwner) : TMMDSPComponent(AOwner) {
  PublishLinks(true, true);
}

TMMACMConverter::~TMMACMConverter() {
  Destroying();
  DetachFromChain();
  FConversion.reset();
  FreeWaveFormat(FInputFormat);
  FreeWaveFormat(FRequestedFormat);
  FreeWaveFormat(FTargetFormat);
}

void TMMACMConverter::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateConversion();
}

void TMMACMConverter::SetQuality(TMMConvertQuality Value) {
  if (Value == FQuality) return;
  FQuality = Value;
  UpdateConversion();
}

WAVEFORMATEX* TMMACMConverter::BuildTargetFormat() {
  return FEnabled ? CopyWaveFormat(FRequestedFormat) : nullptr;
}

void TMMACMConverter::UpdateConversion() {
  FNeedsConversion = FCanConvert = false;
  if (FInputFormat && FEnabled) {
    WAVEFORMATEX* Target = BuildTargetFormat();
    FreeWaveFormat(FTargetFormat);
    FTargetFormat = Target;
    if (FormatsDiffer(FInputFormat, FTargetFormat) || (!FTargetFormat && TargetRequired())) {
      FNeedsConversion = true;
      if (FTargetFormat && CanConvertFormats(FInputFormat, FTargetFormat, FQuality)) {
        FCanConvert = true;
        TMMDSPComponent::SetPWaveFormat(FTargetFormat);
        return;
      }
    }
  }
  TMMDSPComponent::SetPWaveFormat(FInputFormat);
}

void TMMACMConverter::ChangePWaveFormat(const WAVEFORMATEX* fmt) {
  if (fmt == FInputFormat) return;
  WAVEFORMATEX* Copy = CopyWaveFormat(fmt);
  FreeWaveFormat(FInputFormat);
  FInputFormat = Copy;
  UpdateConversion();
}

void TMMACMConverter::SetPWaveFormat(const WAVEFORMATEX* fmt) {
  if (!fmt || Quiet()) return;
  WAVEFORMATEX* Copy = CopyWaveFormat(fmt);
  FreeWaveFormat(FRequestedFormat);
  FRequestedFormat = Copy;
  UpdateConversion();
}

void TMMACMConverter::Loaded() {
  TMMCustomDSPComponent::Loaded();
  UpdateConversion();
}

void TMMACMConverter::Fail() {
  FCanConvert = false;
  throw EMMConverterError(LibMessage(kMsgCannotConvert));
}

void TMMACMConverter::Opened() {
  if (!FPrepared && FEnabled) {
    if (FNeedsConversion && FCanConvert) {
      // The conversion takes whole blocks of the input: its chunk (at least one
      // block) is what each pull asks for, so that no byte is pulled and dropped.
      FConversion =
          OpenConversion(FInputFormat, PWaveFormat(), nullptr, FQuality,
                         std::max<std::int32_t>(kConvertChunk, FInputFormat->nBlockAlign));
      if (FConversion)
        FChunkSize = FConversion->ChunkSize;
      else
        FCanConvert = false;
    }
    if (FNeedsConversion && !FCanConvert) Fail();
    FPrepared = true;
  }
  TMMDSPComponent::Opened();
}

void TMMACMConverter::Closed() {
  if (FPrepared) {
    FRunning = false;
    FPrepared = false;
    CloseConversion(FConversion);
  }
  TMMDSPComponent::Closed();
}

void TMMACMConverter::Started() {
  TMMDSPComponent::Started();
  if (FPrepared && !FRunning) {
    FRunning = true;
    FUpstreamHasMore = false;
    FUpstreamDone = FDrained = false;
  }
}

void TMMACMConverter::Stopped() {
  if (FRunning) {
    FRunning = false;
    if (FConversion) FConversion->ReadOffset = FConversion->Available;
  }
  TMMDSPComponent::Stopped();
}

void TMMACMConverter::Resetting() {
  TMMDSPComponent::Resetting();
  if (FConversion) ResetConversion(*FConversion);
  FUpstreamDone = FDrained = false;
}

void TMMACMConverter::BufferReady(PWaveHdr lpWaveHdr) {
  if (!FPrepared || !FRunning || !Output() || !FConversion) {
    TMMDSPComponent::BufferReady(lpWaveHdr);
    return;
  }
  TACMConversion& c = *FConversion;
  const std::uint32_t Total = lpWaveHdr->wh.dwBytesRecorded;
  for (std::uint32_t Done = 0; Done < Total;) {
    const auto Piece =
        std::min<std::uint32_t>(Total - Done, static_cast<std::uint32_t>(FChunkSize));
    std::memcpy(c.SourceBuffer, lpWaveHdr->wh.lpData + Done, Piece);
    Done += Piece;
    const std::int32_t n = ConvertChunk(c, static_cast<std::int32_t>(Piece));
    if (n < 0 || (n < 1 && !c.InputPending && !c.Starved)) Fail();
    const std::int32_t Step = std::max(BufferSize(), 1);
    for (std::int32_t Offset = 0; Offset < n; Offset += Step) {
      const std::int32_t Bytes = std::min(Step, n - Offset);
      FHeader = TMMWaveHdr{};
      FHeader.wh.lpData = reinterpret_cast<char*>(c.OutputBuffer + Offset);
      FHeader.wh.dwBufferLength = FHeader.wh.dwBytesRecorded = static_cast<std::uint32_t>(Bytes);
      TMMDSPComponent::BufferReady(&FHeader);
    }
    c.ReadOffset = c.Available;
  }
}

void TMMACMConverter::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (!FPrepared || !FRunning || !Input() || !FConversion) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  TACMConversion& c = *FConversion;
  int Starved = 0;
  for (;;) {
    c.ReadOffset +=
        AppendToBuffer(*lpWaveHdr, c.OutputBuffer + c.ReadOffset, c.Available - c.ReadOffset);
    if (lpWaveHdr->Looped || !FRunning ||
        lpWaveHdr->wh.dwBytesRecorded >= lpWaveHdr->wh.dwBufferLength)
      break;
    std::int32_t Delivered = 0;
    if (!FUpstreamDone) {
      bool More = false;
      Delivered = static_cast<std::int32_t>(
          PullInput(*this, FHeader, reinterpret_cast<char*>(c.SourceBuffer),
                    static_cast<std::uint32_t>(FChunkSize), *lpWaveHdr, More));
      FUpstreamHasMore = More;
      if (!More || Delivered == 0) FUpstreamDone = true;
    }
    if (Delivered > 0) {
      const std::int32_t n = ConvertChunk(c, Delivered);
      if (n < 0) Fail();
      if (n > 0) {
        Starved = 0;
      } else if (!FUpstreamDone && ++Starved >= kMaxStarvedPulls) {
        Fail();
      }
    } else if (FlushConversion(c, 0) < 1) {
      FDrained = true;
      break;
    }
  }
  // Until a flush brought nothing, the stages may still hold output back.
  MoreBuffers = FUpstreamHasMore || c.Available > c.ReadOffset || c.InputPending ||
                (FUpstreamDone && !FDrained);
}

// ---------------------------------------------------------------------------

TMMPCMConverter::TMMPCMConverter(TComponent* AOwner) : TMMACMConverter(AOwner) {}

WAVEFORMATEX* TMMPCMConverter::BuildTargetFormat() {
  if (!Enabled()) return nullptr;
  WAVEFORMATEX f{};
  const WAVEFORMATEX* In = InputFormat();
  if (In && FAutoConvert) {
    f = SuggestPCM(In);
  } else {
    std::uint16_t Bits = static_cast<std::uint16_t>(BitsOf(FBitLength));
    std::uint16_t Channels = static_cast<std::uint16_t>(ChannelsOf(FMode));
    std::uint32_t Rate = static_cast<std::uint32_t>(FSampleRate);
    if (In) {
      const WAVEFORMATEX s = SuggestPCM(In);
      if (!(FRequired & rpBits)) Bits = s.wBitsPerSample;
      if (!(FRequired & rpChannels)) Channels = s.nChannels;
      if (!(FRequired & rpSampleRate)) Rate = s.nSamplesPerSec;
    }
    BuildPCMFormat(&f, Bits, Channels, Rate);
  }
  if (f.wFormatTag == 0) return nullptr;
  return CopyWaveFormat(&f);
}

bool TMMPCMConverter::TargetRequired() const {
  return InputFormat()->wFormatTag != WAVE_FORMAT_PCM;
}

void TMMPCMConverter::PropertiesChanged() {
  WAVEFORMATEX* Target = BuildTargetFormat();
  const WAVEFORMATEX* f = Target ? Target : InputFormat();
  try {
    SetPWaveFormat(f);
  } catch (...) {
    FreeWaveFormat(Target);
    throw;
  }
  FreeWaveFormat(Target);
}

void TMMPCMConverter::SetAutoConvert(bool Value) {
  FAutoConvert = Value;
  PropertiesChanged();
}

void TMMPCMConverter::SetBitLength(TMMBits Value) {
  if (Value != TMMBits::b8Bit && Value != TMMBits::b16Bit) return;
  FBitLength = Value;
  PropertiesChanged();
}

void TMMPCMConverter::SetMode(TMMMode Value) {
  if (Value != TMMMode::mMono && Value != TMMMode::mStereo) return;
  FMode = Value;
  PropertiesChanged();
}

void TMMPCMConverter::SetSampleRate(int Value) {
  FSampleRate = std::clamp(Value, 8000, 88200);
  PropertiesChanged();
}

void TMMPCMConverter::SetRequired(TMMRequiredParams Value) {
  FRequired = Value & (rpBits | rpChannels | rpSampleRate);
  PropertiesChanged();
}

void TMMPCMConverter::SetPWaveFormat(const WAVEFORMATEX* fmt) {
  if (fmt && (!IsValidPCMFormat(fmt) || fmt->wBitsPerSample > 16))
    throw EMMConverterError(LibMessage(kMsgInvalidWaveFormat));
  TMMACMConverter::SetPWaveFormat(fmt);
}

}  // namespace velmar
