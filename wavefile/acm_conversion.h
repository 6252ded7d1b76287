// Conversion streams over the codec manager (platform/acm): the chain of codec
// streams that turns one wave format into another, directly or through PCM
// formats in between, and the questions asked before building one.
//
// A TACMConversion is used by one thread at a time (the thread that drives the
// chain); the query functions may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/acm/acm_api.h"
#include "platform/wave/wave_format_ex.h"

namespace velmar {

enum class TMMConvertQuality { cqHigh, cqLow };

// One codec stream of a conversion. Owns its destination buffer; its source is
// the previous stage's destination (or the conversion's source buffer).
struct TACMStage {
  std::uint8_t* Source = nullptr;
  std::unique_ptr<std::uint8_t[]> Destination;
  std::uint32_t SourceSize = 0;
  std::uint32_t DestinationSize = 0;
  std::uint32_t Carried = 0;  // unconsumed source bytes kept at the end of Source
  HACMSTREAM Stream = 0;
  ACMSTREAMHEADER Header{};  // dwSrcUser / dwDstUser: the prepared lengths
  bool Prepared = false;
};

// One open conversion. Destroying it unprepares and closes every stream.
struct TACMConversion {
  TACMConversion() = default;
  TACMConversion(const TACMConversion&) = delete;
  TACMConversion& operator=(const TACMConversion&) = delete;
  ~TACMConversion();

  std::uint8_t* SourceBuffer = nullptr;  // where the caller puts input bytes
  std::uint8_t* OutputBuffer = nullptr;  // the last stage's destination
  std::int32_t ChunkSize = 0;            // most input bytes per call
  std::int32_t OutputSize = 0;
  std::int32_t Available = 0;   // converted bytes in OutputBuffer
  std::int32_t ReadOffset = 0;  // of those, taken by the caller
  bool InputPending = false;    // a stage kept input for the next call
  bool Starved = false;         // a stage consumed input without output
  bool OwnsSource = false;
  std::unique_ptr<std::uint8_t[]> OwnedSource;
  std::vector<std::unique_ptr<TACMStage>> Stages;
};

// True when both are present and differ in tag, bits, channels or rate.
bool FormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b);

// The PCM format to decode Format to (a PCM format comes back as it is); a
// format with tag 0 when there is none.
WAVEFORMATEX SuggestPCM(const WAVEFORMATEX* Format);

// Whether codec streams, directly or through PCM formats in between, convert s to d.
bool CanConvertFormats(const WAVEFORMATEX* s, const WAVEFORMATEX* d, TMMConvertQuality Quality);

// Opens the streams that convert s to d, reading from Buffer (ChunkSize bytes)
// or from a buffer of its own when Buffer is null; null when it cannot.
std::unique_ptr<TACMConversion> OpenConversion(const WAVEFORMATEX* s, const WAVEFORMATEX* d,
                                               std::uint8_t* Buffer, TMMConvertQuality Quality,
                                               std::int32_t Chunk);

// Converts Count bytes placed in SourceBuffer; returns the bytes now Available
// in OutputBuffer, or -1 when a stream fails.
std::int32_t ConvertChunk(TACMConversion& c, std::int32_t Count);
// As ConvertChunk, marking the end of the stream: held-back output drains.
std::int32_t FlushConversion(TACMConversion& c, std::int32_t Count);
// Forgets carried bytes and every stream's history (after a seek).
void ResetConversion(TACMConversion& c);
// Closes and frees the conversion.
void CloseConversion(std::unique_ptr<TACMConversion>& c);

// The format's tag name and text from the codec manager, with the library's own
// names where it has none; false without a format.
bool GetFormatNames(const WAVEFORMATEX* Format, std::string& TagName, std::string& FormatText);

}  // namespace velmar
