// Conversion stages for a chain, over codec streams (acm_conversion.h).
//
// TMMACMConverter turns the stream that flows through it into the format given
// to SetPWaveFormat; TMMPCMConverter produces a PCM format chosen by its
// properties (with AutoConvert: PCM passes untouched, anything the codecs
// decode becomes PCM). A stage that is disabled or not needed announces its
// input format and passes buffers through unchanged.
//
// Threads: properties, formats and Opened/Closed on the main thread;
// BufferReady/BufferLoad and Started/Stopped/Resetting on the thread that
// drives the chain. The stage owns its conversion and its format copies.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/dsp_component.h"
#include "stream/mm_types.h"
#include "wavefile/acm_conversion.h"

namespace velmar {

class TMMACMConverter : public TMMDSPComponent {
 public:
  explicit TMMACMConverter(TComponent* AOwner = nullptr);
  ~TMMACMConverter() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  TMMConvertQuality Quality() const { return FQuality; }
  void SetQuality(TMMConvertQuality Value);

  const WAVEFORMATEX* InputFormat() const { return FInputFormat; }
  const WAVEFORMATEX* TargetFormat() const { return FTargetFormat; }
  bool NeedsConversion() const { return FNeedsConversion; }
  bool CanConvert() const { return FCanConvert; }
  const TACMConversion* Conversion() const { return FConversion.get(); }

  void SetPWaveFormat(const WAVEFORMATEX* fmt) override;
  void ChangePWaveFormat(const WAVEFORMATEX* fmt) override;
  void Loaded() override;

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Resetting() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  using TMMDSPComponent::SetInput;
  using TMMDSPComponent::SetOutput;

 protected:
  // The format to produce, as a new copy (or null); the base stage makes
  // RequestedFormat while enabled.
  virtual WAVEFORMATEX* BuildTargetFormat();
  // True when the input cannot pass without a target (a stage that must make
  // PCM of a compressed input it cannot decode).
  virtual bool TargetRequired() const { return false; }
  const WAVEFORMATEX* RequestedFormat() const { return FRequestedFormat; }
  void UpdateConversion();
  [[noreturn]] void Fail();

 private:
  bool FEnabled = true;
  bool FPrepared = false;
  bool FRunning = false;
  std::int32_t FChunkSize = 0;
  WAVEFORMATEX* FInputFormat = nullptr;
  WAVEFORMATEX* FRequestedFormat = nullptr;
  WAVEFORMATEX* FTargetFormat = nullptr;
  bool FNeedsConversion = false;
  bool FCanConvert = false;
  std::unique_ptr<TACMConversion> FConversion;
  bool FUpstreamHasMore = false;
  bool FUpstreamDone = false;
  bool FDrained = false;  // after the input ended, a flush brought nothing more
  TMMConvertQuality FQuality = TMMConvertQuality::cqLow;
  TMMWaveHdr FHeader{};
};

enum TMMRequiredParam : unsigned { rpBits = 1, rpChannels = 2, rpSampleRate = 4 };
using TMMRequiredParams = unsigned;  // a set of TMMRequiredParam

class TMMPCMConverter : public TMMACMConverter {
 public:
  explicit TMMPCMConverter(TComponent* AOwner = nullptr);

  bool AutoConvert() const { return FAutoConvert; }
  void SetAutoConvert(bool Value);
  TMMBits BitLength() const { return FBitLength; }
  void SetBitLength(TMMBits Value);
  TMMMode Mode() const { return FMode; }
  void SetMode(TMMMode Value);  // values other than mono and stereo are ignored
  int SampleRate() const { return FSampleRate; }
  void SetSampleRate(int Value);  // kept within 8000 .. 88200
  TMMRequiredParams Required() const { return FRequired; }
  void SetRequired(TMMRequiredParams Value);

  // Raises EMMConverterError "Invalid WaveFormat" for anything but valid PCM.
  void SetPWaveFormat(const WAVEFORMATEX* fmt) override;

 protected:
  WAVEFORMATEX* BuildTargetFormat() override;
  bool TargetRequired() const override;

 private:
  void PropertiesChanged();

  bool FAutoConvert = true;
  TMMBits FBitLength = TMMBits::b8Bit;
  TMMMode FMode = TMMMode::mMono;
  int FSampleRate = 11025;
  TMMRequiredParams FRequired = rpBits | rpChannels | rpSampleRate;
};

}  // namespace velmar
