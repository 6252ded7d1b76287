// The drivers behind the codec manager (acm_api.h). A driver knows some format
// tags, completes suggested formats and opens codecs; a codec is one open
// conversion with its history (predictors, resampler state).
//
// Threads: drivers are immutable after registration and may be asked from any
// thread; a codec is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/wave/wave_format_ex.h"

namespace velmar {

// A format record with room for the extra bytes of the formats the drivers make.
#pragma pack(push, 1)
struct AcmFormat {
  WAVEFORMATEX wfx;
  std::uint8_t Extra[32];
};
#pragma pack(pop)

class AcmCodec {
 public:
  virtual ~AcmCodec() = default;
  // Converts from Src into Dst. Takes whole source blocks only (a codec whose
  // output does not fit takes less) unless End is set, when a partial trailing
  // block is used up as far as it holds samples and held-back output drains.
  // Reports the source bytes used and the destination bytes written.
  virtual void Convert(const std::uint8_t* Src, std::uint32_t SrcLength, std::uint8_t* Dst,
                       std::uint32_t DstLength, bool End, std::uint32_t& Used,
                       std::uint32_t& Produced) = 0;
  // Destination bytes that always hold the output of SrcBytes source bytes.
  virtual std::uint32_t DestinationSize(std::uint32_t SrcBytes) const = 0;
  // Source bytes whose output fits into DstBytes destination bytes.
  virtual std::uint32_t SourceSize(std::uint32_t DstBytes) const = 0;
  // Forgets the history: the next byte starts a new stream.
  virtual void Restart() = 0;
};

class AcmDriver {
 public:
  virtual ~AcmDriver() = default;
  // The tag's name, or null when the driver does not know the tag.
  virtual const char* TagName(std::uint16_t Tag) const = 0;
  // Completes Dst (fields fixed by Flags kept, the others chosen) so that one
  // codec of this driver converts Src to it; false when none can.
  virtual bool Suggest(const WAVEFORMATEX& Src, AcmFormat& Dst, std::uint32_t Flags) const = 0;
  // True when one codec of this driver converts Src to Dst.
  virtual bool Supports(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst) const = 0;
  // A codec for Src -> Dst (only called when Supports says so); NonRealTime
  // asks for the best quality rather than the least work.
  virtual std::unique_ptr<AcmCodec> Open(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst,
                                         bool NonRealTime) const = 0;
};

// The built-in drivers, in the order they are asked.
std::unique_ptr<AcmDriver> MakePcmDriver();
std::unique_ptr<AcmDriver> MakeImaAdpcmDriver();
std::unique_ptr<AcmDriver> MakeG711Driver();
std::unique_ptr<AcmDriver> MakeMsAdpcmDriver();
std::unique_ptr<AcmDriver> MakeWidePcmDriver();

// True for 8/16-bit integer PCM with 1 or 2 channels at 1000 .. 384000 Hz whose
// block alignment and byte rate agree with that layout.
bool IsPlainPcm(const WAVEFORMATEX& f);

// IsPlainPcm with 16-bit samples: what the codecs decode to and encode from.
bool IsPcm16(const WAVEFORMATEX& f);

// Same channels and rate: the codecs never change the layout.
bool SameLayout(const WAVEFORMATEX& a, const WAVEFORMATEX& b);

// Fills f as PCM of that layout.
void SetPcm(WAVEFORMATEX& f, std::uint16_t Bits, std::uint16_t Channels, std::uint32_t Rate);

// The layout a suggestion asks for: the fields that Flags fix come from Dst,
// the others from Defaults (what the driver would choose).
struct AcmLayout {
  std::uint16_t Tag;
  std::uint16_t Channels;
  std::uint32_t Rate;
  std::uint16_t Bits;
};
AcmLayout WantedLayout(const WAVEFORMATEX& Dst, std::uint32_t Flags, AcmLayout Defaults);

// The suggestion of a driver that decodes Src to 16-bit PCM of its layout:
// Dst as PCM of the wanted layout when the driver supports it.
bool SuggestDecoded(const AcmDriver& Driver, const WAVEFORMATEX& Src, AcmFormat& Dst,
                    std::uint32_t Flags);

}  // namespace velmar
