// The codec manager: format details, format suggestion and conversion streams
// between wave formats, served in process by built-in drivers (acm_driver.h):
// PCM (sample width; channels and rate), IMA ADPCM and the two G.711 laws.
//
// A stream converts synchronously inside acmStreamConvert and marks the header
// done before it returns. A stream is used by one thread at a time; different
// streams and the query calls may be used from any thread.
#pragma once

#include <cstdint>

#include "platform/mmresult.h"
#include "platform/wave/wave_format_ex.h"

namespace velmar {

using HACMSTREAM = std::uintptr_t;

inline constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
inline constexpr MMRESULT ACMERR_BUSY = 513;
inline constexpr MMRESULT ACMERR_UNPREPARED = 514;

inline constexpr std::uint16_t WAVE_FORMAT_ADPCM = 0x0002;
inline constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 0x0003;
inline constexpr std::uint16_t WAVE_FORMAT_ALAW = 0x0006;
inline constexpr std::uint16_t WAVE_FORMAT_MULAW = 0x0007;
inline constexpr std::uint16_t WAVE_FORMAT_IMA_ADPCM = 0x0011;

// acmStreamOpen
inline constexpr std::uint32_t ACM_STREAMOPENF_QUERY = 0x1;
inline constexpr std::uint32_t ACM_STREAMOPENF_NONREALTIME = 0x4;
// acmStreamSize
inline constexpr std::uint32_t ACM_STREAMSIZEF_SOURCE = 0x0;
inline constexpr std::uint32_t ACM_STREAMSIZEF_DESTINATION = 0x1;
// acmStreamConvert
inline constexpr std::uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x4;
inline constexpr std::uint32_t ACM_STREAMCONVERTF_START = 0x10;
inline constexpr std::uint32_t ACM_STREAMCONVERTF_END = 0x20;
// acmFormatSuggest: the destination fields the caller fixes.
inline constexpr std::uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x10000;
inline constexpr std::uint32_t ACM_FORMATSUGGESTF_NCHANNELS = 0x20000;
inline constexpr std::uint32_t ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x40000;
inline constexpr std::uint32_t ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x80000;
// acmFormatTagDetails / acmFormatDetails
inline constexpr std::uint32_t ACM_FORMATTAGDETAILSF_FORMATTAG = 0x1;
inline constexpr std::uint32_t ACM_FORMATDETAILSF_FORMAT = 0x1;

// Stream header status bits.
inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x10000;
inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x20000;
inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_INQUEUE = 0x100000;

struct ACMSTREAMHEADER {
  std::uint32_t cbStruct;
  std::uint32_t fdwStatus;
  std::uintptr_t dwUser;
  std::uint8_t* pbSrc;
  std::uint32_t cbSrcLength;
  std::uint32_t cbSrcLengthUsed;
  std::uintptr_t dwSrcUser;
  std::uint8_t* pbDst;
  std::uint32_t cbDstLength;
  std::uint32_t cbDstLengthUsed;
  std::uintptr_t dwDstUser;
  std::uint32_t dwReservedDriver[10];  // the lengths the header was prepared with
};

inline constexpr int ACMFORMATTAGDETAILS_FORMATTAG_CHARS = 48;
inline constexpr int ACMFORMATDETAILS_FORMAT_CHARS = 128;

struct ACMFORMATTAGDETAILS {
  std::uint32_t cbStruct;
  std::uint32_t dwFormatTagIndex;
  std::uint32_t dwFormatTag;
  std::uint32_t cbFormatSize;
  std::uint32_t fdwSupport;
  std::uint32_t cStandardFormats;
  char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
};

struct ACMFORMATDETAILS {
  std::uint32_t cbStruct;
  std::uint32_t dwFormatIndex;
  std::uint32_t dwFormatTag;
  std::uint32_t fdwSupport;
  WAVEFORMATEX* pwfx;
  std::uint32_t cbwfx;
  char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
};

// Version 2.00 and later: high word 0x0200 or above.
std::uint32_t acmGetVersion();

// The tag's name, for a tag that some driver handles.
MMRESULT acmFormatTagDetails(ACMFORMATTAGDETAILS* Details, std::uint32_t Flags);
// The format's text ("44.100 kHz, 16 Bit, Stereo", "IMA ADPCM" formats with
// their rate, average bits and channels), for a format some driver handles.
MMRESULT acmFormatDetails(ACMFORMATDETAILS* Details, std::uint32_t Flags);

// Completes Dst (Size bytes available) with a format that one stream can make
// from Src; the ACM_FORMATSUGGESTF_* bits in Flags name the fields of Dst that
// are fixed. Fields not fixed follow Src where the driver can.
MMRESULT acmFormatSuggest(const WAVEFORMATEX* Src, WAVEFORMATEX* Dst, std::uint32_t Size,
                          std::uint32_t Flags);

// Opens a stream Src -> Dst; with ACM_STREAMOPENF_QUERY only answers whether
// one stream can do it (Stream may then be null).
MMRESULT acmStreamOpen(HACMSTREAM* Stream, const WAVEFORMATEX* Src, const WAVEFORMATEX* Dst,
                       std::uint32_t Flags);
MMRESULT acmStreamClose(HACMSTREAM Stream);
// Output bytes needed for Input source bytes (ACM_STREAMSIZEF_SOURCE), or the
// source bytes that fill Input output bytes (ACM_STREAMSIZEF_DESTINATION).
MMRESULT acmStreamSize(HACMSTREAM Stream, std::uint32_t Input, std::uint32_t* Output,
                       std::uint32_t Flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM Stream, ACMSTREAMHEADER* Header);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM Stream, ACMSTREAMHEADER* Header);
// Converts what the header's source holds into its destination: with BLOCKALIGN
// only whole source blocks are taken, the rest is left unused; END also drains
// what the stream holds back; START forgets the stream's history first.
MMRESULT acmStreamConvert(HACMSTREAM Stream, ACMSTREAMHEADER* Header, std::uint32_t Flags);
MMRESULT acmStreamReset(HACMSTREAM Stream);

}  // namespace velmar
