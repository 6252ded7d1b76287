// TMMADPCMConverter: decodes a few ADPCM formats to PCM on the pull path without
// the codec manager: tag 0x0002 by block, tags 0x0003 and 0x0033/0x0206 as
// step-table codes (adpcm_decoders.h). PCM, other tags and pushed buffers pass
// through unchanged.
//
// Threads: properties, formats and Opened/Closed on the main thread; BufferLoad
// and Started/Stopped/Resetting on the thread that drives the chain.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/dsp_component.h"
#include "stream/mm_types.h"
#include "wavefile/adpcm_decoders.h"

namespace velmar {

class TMMADPCMConverter : public TMMDSPComponent {
 public:
  explicit TMMADPCMConverter(TComponent* AOwner = nullptr);
  ~TMMADPCMConverter() override;

  TMMBits BitLength() const { return FBitLength; }
  void SetBitLength(TMMBits Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);

  const WAVEFORMATEX* InputFormat() const { return FInputFormat; }
  const WAVEFORMATEX* TargetFormat() const { return FTargetFormat; }
  bool NeedsDecoding() const { return FNeedsDecoding; }
  bool CanDecode() const { return FCanDecode; }
  // True when the input needs no decoding or this stage can decode it; asked
  // of the input format whether the stage is enabled or not, so that a caller
  // can decide to enable it.
  bool CanHandle() const {
    return !FInputFormat || FInputFormat->wFormatTag == WAVE_FORMAT_PCM || FDecodable;
  }

  void SetPWaveFormat(const WAVEFORMATEX*) override {}  // the format comes from the input
  void ChangePWaveFormat(const WAVEFORMATEX* fmt) override;

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Resetting() override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  using TMMDSPComponent::SetInput;
  using TMMDSPComponent::SetOutput;

 private:
  void Rebuild();
  void ClearDecoder();
  // Decodes the source buffer's Bytes bytes (End: the data ends there) into
  // the output; returns the bytes of output.
  std::int32_t Decode(std::uint32_t Bytes, bool End);
  std::int32_t Emit(const std::int16_t* Samples, std::size_t Count, std::int32_t At);

  TMMBits FBitLength = TMMBits::b16Bit;
  bool FEnabled = true;
  bool FPrepared = false;
  bool FRunning = false;
  WAVEFORMATEX* FInputFormat = nullptr;
  WAVEFORMATEX* FTargetFormat = nullptr;
  bool FNeedsDecoding = false;
  bool FCanDecode = false;
  bool FDecodable = false;          // one of the formats decoded here, enabled or not
  std::uint32_t FBlockSamples = 0;  // tag 0x0002: samples per block
  std::unique_ptr<std::uint8_t[]> FSource;
  std::uint32_t FSourceSize = 0;
  std::uint32_t FCarried = 0;  // bytes of a block not yet whole, at the front of FSource
  std::unique_ptr<std::uint8_t[]> FOutput;
  std::int32_t FOutputSize = 0;
  std::int32_t FAvailable = 0;
  std::int32_t FReadOffset = 0;
  std::unique_ptr<std::int16_t[]> FSamples;  // one chunk decoded, before the width change
  bool FUpstreamHasMore = false;
  bool FUpstreamDone = false;
  adpcm::StepState FState;
  TMMWaveHdr FHeader{};
};

}  // namespace velmar
