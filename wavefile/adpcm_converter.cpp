#include "wavefile/adpcm_converter.h"

#include <algorithm>
#include <cstring>

#include "platform/acm/ms_adpcm.h"
#include "stream/errors.h"
#include "stream/messages.h"
#include "stream/wave_format.h"

namespace velmar {

namespace {

// Source bytes pulled and decoded per call (more when a block is larger).
constexpr std::uint32_t kSourceChunk = 4096;

}  // namespace

TMMADPCMConverter::TMMADPCMConverter(TComponent* AOwner) : TMMDSPComponent(AOwner) {
  PublishLinks(true, true);
}

TMMADPCMConverter::~TMMADPCMConverter() {
  Destroying();
  DetachFromChain();
  FreeWaveFormat(FInputFormat);
  FreeWaveFormat(FTargetFormat);
}

void TMMADPCMConverter::SetBitLength(TMMBits Value) {
  if (Value != TMMBits::b8Bit && Value != TMMBits::b16Bit) return;
  FBitLength = Value;
  Rebuild();
}

void TMMADPCMConverter::SetEnabled(bool Value) {
  FEnabled = Value;
  Rebuild();
}

void TMMADPCMConverter::ChangePWaveFormat(const WAVEFORMATEX* fmt) {
  if (fmt == FInputFormat) return;
  WAVEFORMATEX* Copy = CopyWaveFormat(fmt);
  FreeWaveFormat(FInputFormat);
  FInputFormat = Copy;
  Rebuild();
}

void TMMADPCMConverter::Rebuild() {
  FreeWaveFormat(FTargetFormat);
  FBlockSamples = 0;
  const WAVEFORMATEX* In = FInputFormat;
  FNeedsDecoding = In && FEnabled && In->wFormatTag != WAVE_FORMAT_PCM;
  const std::uint32_t Samples = In ? msadpcm::BlockSamples(*In) : 0;
  FDecodable = In && (Samples > 0 || adpcm::IsStepCode(*In));
  if (FNeedsDecoding) {
    FBlockSamples = Samples;
    if (FDecodable) {
      WAVEFORMATEX f{};
      BuildPCMFormat(&f, static_cast<std::uint16_t>(BitsOf(FBitLength)), In->nChannels,
                     In->nSamplesPerSec);
      FTargetFormat = CopyWaveFormat(&f);
    }
  }
  FCanDecode = FTargetFormat != nullptr;
  TMMDSPComponent::SetPWaveFormat(FCanDecode ? FTargetFormat : FInputFormat);
}

void TMMADPCMConverter::Opened() {
  if (!FPrepared) {
    if (FNeedsDecoding && !FCanDecode) throw EMMADPCMError(LibMessage(kMsgCannotConvert));
    if (FNeedsDecoding) {
      const std::uint32_t Block = FInputFormat->nBlockAlign;
      const std::uint32_t SourceSize = FBlockSamples ? std::max(kSourceChunk, Block) : kSourceChunk;
      // Room for every block that starts in the chunk: the whole ones and, at the
      // end of the stream, a last partial one.
      const std::size_t Samples = FBlockSamples
                                      ? std::size_t{FBlockSamples} * FInputFormat->nChannels *
                                            ((SourceSize + Block - 1) / Block)
                                      : std::size_t{SourceSize} * 2;
      try {
        FSource = std::make_unique<std::uint8_t[]>(SourceSize);
        FSamples = std::make_unique<std::int16_t[]>(Samples);
        FOutputSize = static_cast<std::int32_t>(Samples * (BitsOf(FBitLength) / 8));
        FOutput = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(FOutputSize));
      } catch (const std::bad_alloc&) {
        throw EMMADPCMError(LibMessage(kMsgCannotConvert));
      }
      FSourceSize = SourceSize;
    }
    FPrepared = true;
  }
  TMMDSPComponent::Opened();
}

void TMMADPCMConverter::Closed() {
  if (FPrepared) {
    FPrepared = FRunning = false;
    FSource.reset();
    FSamples.reset();
    FOutput.reset();
  }
  TMMDSPComponent::Closed();
}

void TMMADPCMConverter::ClearDecoder() {
  FState = adpcm::StepState{};
  FCarried = 0;
  FAvailable = FReadOffset = 0;
}

void TMMADPCMConverter::Started() {
  TMMDSPComponent::Started();
  if (FPrepared && !FRunning) {
    FRunning = true;
    FUpstreamHasMore = FUpstreamDone = false;
    ClearDecoder();
  }
}

void TMMADPCMConverter::Stopped() {
  if (FRunning) {
    FRunning = false;
    FReadOffset = FAvailable;
  }
  TMMDSPComponent::Stopped();
}

void TMMADPCMConverter::Resetting() {
  TMMDSPComponent::Resetting();
  ClearDecoder();
  FUpstreamDone = false;
}

std::int32_t TMMADPCMConverter::Emit(const std::int16_t* Samples, std::size_t Count,
                                     std::int32_t At) {
  std::uint8_t* o = FOutput.get() + At;
  if (FBitLength == TMMBits::b16Bit) {
    for (std::size_t i = 0; i < Count; ++i) {
      o[2 * i] = static_cast<std::uint8_t>(Samples[i]);
      o[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(Samples[i]) >> 8);
    }
    return At + static_cast<std::int32_t>(2 * Count);
  }
  for (std::size_t i = 0; i < Count; ++i) o[i] = static_cast<std::uint8_t>(Samples[i] / 256 + 128);
  return At + static_cast<std::int32_t>(Count);
}

std::int32_t TMMADPCMConverter::Decode(std::uint32_t Bytes, bool End) {
  const int Channels = FInputFormat->nChannels;
  std::int32_t Out = 0;
  if (!FBlockSamples) {
    const std::size_t n = adpcm::DecodeStepCodes(
        FSource.get(), Bytes, Channels, FInputFormat->wFormatTag != 0x0003, FState, FSamples.get());
    Out = Emit(FSamples.get(), n, 0);
  } else {
    const std::uint32_t Block = FInputFormat->nBlockAlign;
    const std::uint32_t Total = FCarried + Bytes;
    std::uint32_t At = 0;
    std::size_t Decoded = 0;
    while (Total - At >= Block || (End && At < Total)) {
      const std::uint32_t Take = std::min(Block, Total - At);
      const int Frames = msadpcm::DecodeBlock(FSource.get() + At, Take, Channels, FBlockSamples,
                                              FSamples.get() + Decoded);
      At += Take;
      if (Frames < 0 && Take < Block) break;  // a last fragment without samples: dropped
      if (Frames < 0) return -1;              // a damaged block: the whole call yields nothing
      Decoded += static_cast<std::size_t>(Frames) * Channels;
    }
    // A block not yet whole waits in front for the rest of its bytes.
    FCarried = Total - At;
    std::memmove(FSource.get(), FSource.get() + At, FCarried);
    Out = Emit(FSamples.get(), Decoded, 0);
  }
  FAvailable = Out;
  FReadOffset = 0;
  return Out;
}

void TMMADPCMConverter::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (!FNeedsDecoding || !FPrepared || !FRunning || !Input()) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  MoreBuffers = false;
  if (!FCanDecode) return;  // gave up: the stream ends here
  WAVEHDR& h = lpWaveHdr->wh;
  for (;;) {
    FReadOffset +=
        AppendToBuffer(*lpWaveHdr, FOutput.get() + FReadOffset, FAvailable - FReadOffset);
    if (lpWaveHdr->Looped || !FRunning || h.dwBytesRecorded >= h.dwBufferLength) break;
    std::uint32_t Delivered = 0;
    if (!FUpstreamDone) {
      bool More = false;
      Delivered = PullInput(*this, FHeader, reinterpret_cast<char*>(FSource.get() + FCarried),
                            FSourceSize - FCarried, *lpWaveHdr, More);
      FUpstreamHasMore = More;
      if (!More || Delivered == 0) FUpstreamDone = true;
    }
    if (Delivered > 0) {
      const std::int32_t n = Decode(Delivered, FUpstreamDone);
      if (n < 0 || (n == 0 && FCarried == 0)) {
        // Undecodable data: give up quietly, the stream ends.
        FCanDecode = false;
        FAvailable = FReadOffset = 0;
        return;
      }
    } else {
      // The input ended: what is left of a block, if anything, goes out last.
      if (FCarried == 0 || Decode(0, true) <= 0) break;
    }
  }
  MoreBuffers = FUpstreamHasMore || FAvailable > FReadOffset;
}

}  // namespace velmar
