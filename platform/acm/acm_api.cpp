#include "platform/acm/acm_api.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/acm/acm_driver.h"

namespace velmar {

namespace {

const std::vector<std::unique_ptr<AcmDriver>>& Drivers() {
  static const auto* List = [] {
    auto* v = new std::vector<std::unique_ptr<AcmDriver>>;
    v->push_back(MakePcmDriver());
    v->push_back(MakeImaAdpcmDriver());
    v->push_back(MakeG711Driver());
    v->push_back(MakeMsAdpcmDriver());
    v->push_back(MakeWidePcmDriver());
    return v;
  }();
  return *List;
}

const AcmDriver* DriverForTag(std::uint16_t Tag) {
  for (const auto& d : Drivers())
    if (d->TagName(Tag)) return d.get();
  return nullptr;
}

const AcmDriver* DriverFor(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst) {
  for (const auto& d : Drivers())
    if (d->Supports(Src, Dst)) return d.get();
  return nullptr;
}

struct Stream {
  std::unique_ptr<AcmCodec> Codec;
};

// Live streams, so that a stale or foreign handle is refused instead of used.
std::mutex StreamsLock;
std::unordered_set<Stream*> Streams;

Stream* Find(HACMSTREAM h) {
  auto* s = reinterpret_cast<Stream*>(h);
  std::lock_guard Lock(StreamsLock);
  return Streams.count(s) ? s : nullptr;
}

// The lengths a header was prepared with; later calls may not exceed them.
constexpr int kPreparedSrc = 0, kPreparedDst = 1;

}  // namespace

AcmLayout WantedLayout(const WAVEFORMATEX& Dst, std::uint32_t Flags, AcmLayout Defaults) {
  if (Flags & ACM_FORMATSUGGESTF_WFORMATTAG) Defaults.Tag = Dst.wFormatTag;
  if (Flags & ACM_FORMATSUGGESTF_NCHANNELS) Defaults.Channels = Dst.nChannels;
  if (Flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) Defaults.Rate = Dst.nSamplesPerSec;
  if (Flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) Defaults.Bits = Dst.wBitsPerSample;
  return Defaults;
}

bool SuggestDecoded(const AcmDriver& Driver, const WAVEFORMATEX& Src, AcmFormat& Dst,
                    std::uint32_t Flags) {
  const AcmLayout w =
      WantedLayout(Dst.wfx, Flags, {WAVE_FORMAT_PCM, Src.nChannels, Src.nSamplesPerSec, 16});
  AcmFormat f{};
  if (w.Tag != WAVE_FORMAT_PCM) return false;
  SetPcm(f.wfx, w.Bits, w.Channels, w.Rate);
  if (!Driver.Supports(Src, f.wfx)) return false;
  Dst = f;
  return true;
}

std::uint32_t acmGetVersion() {
  return 0x02000000u;  // 2.00
}

MMRESULT acmFormatTagDetails(ACMFORMATTAGDETAILS* Details, std::uint32_t Flags) {
  if (!Details || Details->cbStruct < sizeof *Details || Flags != ACM_FORMATTAGDETAILSF_FORMATTAG ||
      Details->dwFormatTag > 0xFFFF)
    return MMSYSERR_INVALPARAM;
  const auto Tag = static_cast<std::uint16_t>(Details->dwFormatTag);
  const AcmDriver* d = DriverForTag(Tag);
  if (!d) return ACMERR_NOTPOSSIBLE;
  Details->cbFormatSize = Tag == WAVE_FORMAT_PCM ? 16 : (Tag == WAVE_FORMAT_IMA_ADPCM ? 20 : 18);
  Details->fdwSupport = 1;
  Details->cStandardFormats = 0;
  std::snprintf(Details->szFormatTag, sizeof Details->szFormatTag, "%s", d->TagName(Tag));
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatDetails(ACMFORMATDETAILS* Details, std::uint32_t Flags) {
  if (!Details || Details->cbStruct < sizeof *Details || Flags != ACM_FORMATDETAILSF_FORMAT ||
      !Details->pwfx || Details->cbwfx < 16)
    return MMSYSERR_INVALPARAM;
  const WAVEFORMATEX& f = *Details->pwfx;
  if (f.wFormatTag != Details->dwFormatTag || !DriverForTag(f.wFormatTag))
    return ACMERR_NOTPOSSIBLE;
  const unsigned Rate = f.nSamplesPerSec;
  const char* Channels = f.nChannels == 1 ? "Mono" : f.nChannels == 2 ? "Stereo" : nullptr;
  if (Channels) {
    std::snprintf(Details->szFormat, sizeof Details->szFormat, "%u.%03u kHz, %u Bit, %s",
                  Rate / 1000, Rate % 1000, unsigned{f.wBitsPerSample}, Channels);
  } else {
    std::snprintf(Details->szFormat, sizeof Details->szFormat, "%u.%03u kHz, %u Bit, %u Channels",
                  Rate / 1000, Rate % 1000, unsigned{f.wBitsPerSample}, unsigned{f.nChannels});
  }
  Details->fdwSupport = 1;
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(const WAVEFORMATEX* Src, WAVEFORMATEX* Dst, std::uint32_t Size,
                          std::uint32_t Flags) {
  if (!Src || !Dst || Size < 16) return MMSYSERR_INVALPARAM;
  AcmFormat Wanted{};
  std::memcpy(&Wanted.wfx, Dst, std::min<std::uint32_t>(Size, sizeof Wanted.wfx));
  for (const auto& d : Drivers()) {
    AcmFormat Out = Wanted;
    if (!d->Suggest(*Src, Out, Flags)) continue;
    const std::uint32_t Needed =
        Out.wfx.wFormatTag == WAVE_FORMAT_PCM ? 16u : sizeof(WAVEFORMATEX) + Out.wfx.cbSize;
    if (Size < Needed) return ACMERR_NOTPOSSIBLE;
    std::memcpy(Dst, &Out, std::min<std::uint32_t>(Size, sizeof Out));
    return MMSYSERR_NOERROR;
  }
  return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmStreamOpen(HACMSTREAM* Handle, const WAVEFORMATEX* Src, const WAVEFORMATEX* Dst,
                       std::uint32_t Flags) {
  if (!Src || !Dst) return MMSYSERR_INVALPARAM;
  const bool Query = Flags & ACM_STREAMOPENF_QUERY;
  if (Handle) *Handle = 0;
  if (!Query && !Handle) return MMSYSERR_INVALPARAM;
  const AcmDriver* d = DriverFor(*Src, *Dst);
  if (!d) return ACMERR_NOTPOSSIBLE;
  if (Query) return MMSYSERR_NOERROR;
  auto s = std::make_unique<Stream>();
  s->Codec = d->Open(*Src, *Dst, Flags & ACM_STREAMOPENF_NONREALTIME);
  if (!s->Codec) return MMSYSERR_NOMEM;
  std::lock_guard Lock(StreamsLock);
  Streams.insert(s.get());
  *Handle = reinterpret_cast<HACMSTREAM>(s.release());
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM Handle) {
  std::unique_ptr<Stream> s;
  {
    std::lock_guard Lock(StreamsLock);
    auto It = Streams.find(reinterpret_cast<Stream*>(Handle));
    if (It == Streams.end()) return MMSYSERR_INVALHANDLE;
    s.reset(*It);
    Streams.erase(It);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM Handle, std::uint32_t Input, std::uint32_t* Output,
                       std::uint32_t Flags) {
  Stream* s = Find(Handle);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!Output || Flags > ACM_STREAMSIZEF_DESTINATION) return MMSYSERR_INVALPARAM;
  *Output = Flags == ACM_STREAMSIZEF_SOURCE ? s->Codec->DestinationSize(Input)
                                            : s->Codec->SourceSize(Input);
  return *Output == 0 ? ACMERR_NOTPOSSIBLE : MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM Handle, ACMSTREAMHEADER* h) {
  if (!Find(Handle)) return MMSYSERR_INVALHANDLE;
  if (!h || h->cbStruct < sizeof *h || !h->pbSrc || !h->pbDst) return MMSYSERR_INVALPARAM;
  h->dwReservedDriver[kPreparedSrc] = h->cbSrcLength;
  h->dwReservedDriver[kPreparedDst] = h->cbDstLength;
  h->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM Handle, ACMSTREAMHEADER* h) {
  if (!Find(Handle)) return MMSYSERR_INVALHANDLE;
  if (!h || h->cbStruct < sizeof *h) return MMSYSERR_INVALPARAM;
  if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  // The header goes back as it was prepared.
  if (h->cbSrcLength != h->dwReservedDriver[kPreparedSrc] ||
      h->cbDstLength != h->dwReservedDriver[kPreparedDst])
    return MMSYSERR_INVALPARAM;
  h->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM Handle, ACMSTREAMHEADER* h, std::uint32_t Flags) {
  Stream* s = Find(Handle);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!h || h->cbStruct < sizeof *h) return MMSYSERR_INVALPARAM;
  if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (h->cbSrcLength > h->dwReservedDriver[kPreparedSrc] ||
      h->cbDstLength > h->dwReservedDriver[kPreparedDst])
    return MMSYSERR_INVALPARAM;
  h->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  if (Flags & ACM_STREAMCONVERTF_START) s->Codec->Restart();
  std::uint32_t Used = 0, Produced = 0;
  s->Codec->Convert(h->pbSrc, h->cbSrcLength, h->pbDst, h->cbDstLength,
                    Flags & ACM_STREAMCONVERTF_END, Used, Produced);
  h->cbSrcLengthUsed = Used;
  h->cbDstLengthUsed = Produced;
  h->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamReset(HACMSTREAM Handle) {
  // Conversions finish inside acmStreamConvert: nothing is ever pending.
  return Find(Handle) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

}  // namespace velmar
