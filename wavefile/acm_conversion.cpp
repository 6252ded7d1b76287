#include "wavefile/acm_conversion.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "stream/wave_format.h"

namespace velmar {

namespace {

constexpr std::uint32_t kQueryFlag = ACM_STREAMOPENF_QUERY;
constexpr std::uint32_t kSuggestRateChannels =
    ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC;

bool AcmUsable() {
  return (acmGetVersion() >> 16) >= 0x0200;
}

std::uint32_t OpenFlags(TMMConvertQuality Quality) {
  return Quality == TMMConvertQuality::cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0;
}

bool Query(const WAVEFORMATEX& s, const WAVEFORMATEX& d, TMMConvertQuality Quality) {
  return acmStreamOpen(nullptr, &s, &d, kQueryFlag | OpenFlags(Quality)) == MMSYSERR_NOERROR;
}

// The suggestion buffer of the intermediate search: room for any format.
struct FormatBuffer {
  alignas(WAVEFORMATEX) std::uint8_t Bytes[1025] = {};
  WAVEFORMATEX* Format() { return reinterpret_cast<WAVEFORMATEX*>(Bytes); }
};

bool Suggest(const WAVEFORMATEX& s, FormatBuffer& m, std::uint32_t Flags) {
  return acmFormatSuggest(&s, m.Format(), sizeof m.Bytes, Flags) == MMSYSERR_NOERROR;
}

// The formats a conversion passes through, s first and d last; empty when none
// leads from s to d. Tries the direct stream first, then one PCM format in
// between at a time.
bool FindPath(const WAVEFORMATEX& s, const WAVEFORMATEX& d, TMMConvertQuality Quality,
              std::deque<FormatBuffer>& Store, std::vector<const WAVEFORMATEX*>& Path) {
  if (Path.empty()) Path.push_back(&s);
  if (Query(s, d, Quality)) {
    Path.push_back(&d);
    return true;
  }
  FormatBuffer& m = Store.emplace_back();
  WAVEFORMATEX* mf = m.Format();
  // PCM of more than 16 bits is first decoded to 16 bits, like a compressed format.
  if (s.wFormatTag == WAVE_FORMAT_PCM && s.wBitsPerSample <= 16) {
    if (d.nChannels == s.nChannels && d.nSamplesPerSec == s.nSamplesPerSec) return false;
    mf->nChannels = d.nChannels;
    mf->nSamplesPerSec = d.nSamplesPerSec;
    if (!Suggest(s, m, kSuggestRateChannels)) return false;
    if (!Query(*mf, d, Quality)) {
      mf->wBitsPerSample = mf->wBitsPerSample == 16 ? 8 : 16;
      if (!Suggest(s, m, kSuggestRateChannels | ACM_FORMATSUGGESTF_WBITSPERSAMPLE)) return false;
    }
  } else {
    mf->wFormatTag = WAVE_FORMAT_PCM;
    mf->nChannels = d.nChannels;
    mf->nSamplesPerSec = d.nSamplesPerSec;
    if (!Suggest(s, m, kSuggestRateChannels | ACM_FORMATSUGGESTF_WFORMATTAG)) {
      std::memset(m.Bytes, 0, sizeof(WAVEFORMATEX));
      mf->wFormatTag = WAVE_FORMAT_PCM;
      if (!Suggest(s, m, ACM_FORMATSUGGESTF_WFORMATTAG)) return false;
    }
  }
  if (!Query(s, *mf, Quality)) return false;
  Path.push_back(mf);
  if (!FormatsDiffer(mf, &d)) return true;
  // A stage from m onwards: the search goes on from m.
  Path.pop_back();
  std::vector<const WAVEFORMATEX*> Rest{mf};
  if (!FindPath(*mf, d, Quality, Store, Rest)) return false;
  Path.insert(Path.end(), Rest.begin(), Rest.end());
  return true;
}

// Opens one stream and appends it as a stage; false (nothing kept) on failure.
bool AddStage(TACMConversion& c, const WAVEFORMATEX& s, const WAVEFORMATEX& d,
              TMMConvertQuality Quality, std::uint8_t* CallerBuffer) {
  auto Stage = std::make_unique<TACMStage>();
  if (acmStreamOpen(&Stage->Stream, &s, &d, OpenFlags(Quality)) != MMSYSERR_NOERROR) return false;
  if (c.Stages.empty()) {
    if (CallerBuffer) {
      Stage->Source = CallerBuffer;
      Stage->SourceSize = static_cast<std::uint32_t>(c.ChunkSize);
    } else {
      Stage->SourceSize = 4u * static_cast<std::uint32_t>(c.ChunkSize);
      c.OwnedSource = std::make_unique<std::uint8_t[]>(Stage->SourceSize);
      c.OwnsSource = true;
      Stage->Source = c.OwnedSource.get();
    }
    c.SourceBuffer = Stage->Source;
  } else {
    const TACMStage& Previous = *c.Stages.back();
    Stage->Source = Previous.Destination.get();
    Stage->SourceSize = Previous.DestinationSize;
  }
  if (acmStreamSize(Stage->Stream, Stage->SourceSize, &Stage->DestinationSize,
                    ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR) {
    acmStreamClose(Stage->Stream);
    return false;
  }
  Stage->Destination = std::make_unique<std::uint8_t[]>(Stage->DestinationSize);
  ACMSTREAMHEADER& h = Stage->Header;
  h.cbStruct = sizeof h;
  h.pbSrc = Stage->Source;
  h.cbSrcLength = Stage->SourceSize;
  h.dwSrcUser = Stage->SourceSize;
  h.pbDst = Stage->Destination.get();
  h.cbDstLength = Stage->DestinationSize;
  h.dwDstUser = Stage->DestinationSize;
  if (acmStreamPrepareHeader(Stage->Stream, &h) != MMSYSERR_NOERROR) {
    acmStreamClose(Stage->Stream);
    return false;
  }
  Stage->Prepared = true;
  c.OutputBuffer = Stage->Destination.get();
  c.OutputSize = static_cast<std::int32_t>(Stage->DestinationSize);
  c.Stages.push_back(std::move(Stage));
  return true;
}

std::int32_t Convert(TACMConversion& c, std::int32_t Count, bool End) {
  std::uint32_t n = static_cast<std::uint32_t>(std::clamp(Count, 0, c.ChunkSize));
  c.InputPending = false;
  if (!End) c.Starved = false;
  for (auto& sp : c.Stages) {
    TACMStage& s = *sp;
    std::uint32_t Length = n;
    if (s.Carried > 0) {
      if (n + s.Carried > s.SourceSize) return -1;  // would overrun the source buffer
      // The carried bytes wait at the end of the buffer; they go in front.
      std::memmove(s.Source + s.Carried, s.Source, n);
      std::memmove(s.Source, s.Source + s.SourceSize - s.Carried, s.Carried);
      Length += s.Carried;
    }
    s.Header.cbSrcLength = Length;
    s.Header.cbSrcLengthUsed = 0;
    s.Header.cbDstLengthUsed = 0;
    const std::uint32_t Flags = End ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
    if (acmStreamConvert(s.Stream, &s.Header, Flags) != MMSYSERR_NOERROR) return -1;
    if (!(s.Header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE)) return -1;
    n = s.Header.cbDstLengthUsed;
    const std::uint32_t Used = std::min(s.Header.cbSrcLengthUsed, Length);
    s.Carried = Length - Used;
    if (s.Carried > 0) {
      std::memmove(s.Source + s.SourceSize - s.Carried, s.Source + Used, s.Carried);
      c.InputPending = true;
    } else if (n == 0 && Used > 0) {
      c.Starved = true;
    }
  }
  c.Available = static_cast<std::int32_t>(n);
  c.ReadOffset = 0;
  return c.Available;
}

}  // namespace

TACMConversion::~TACMConversion() {
  for (auto It = Stages.rbegin(); It != Stages.rend(); ++It) {
    TACMStage& s = **It;
    if (s.Prepared) {
      s.Header.cbSrcLength = static_cast<std::uint32_t>(s.Header.dwSrcUser);
      s.Header.cbDstLength = static_cast<std::uint32_t>(s.Header.dwDstUser);
      acmStreamUnprepareHeader(s.Stream, &s.Header);
    }
    acmStreamClose(s.Stream);
  }
}

bool FormatsDiffer(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  if (!a || !b) return false;
  return a->wFormatTag != b->wFormatTag || a->wBitsPerSample != b->wBitsPerSample ||
         a->nChannels != b->nChannels || a->nSamplesPerSec != b->nSamplesPerSec;
}

WAVEFORMATEX SuggestPCM(const WAVEFORMATEX* Format) {
  WAVEFORMATEX Result{};
  if (!Format) return Result;
  if (Format->wFormatTag == WAVE_FORMAT_PCM) {
    std::memcpy(&Result, Format, 16);
    return Result;
  }
  if (!AcmUsable()) return Result;
  Result.wFormatTag = WAVE_FORMAT_PCM;
  if (acmFormatSuggest(Format, &Result, sizeof Result, ACM_FORMATSUGGESTF_WFORMATTAG) !=
          MMSYSERR_NOERROR ||
      acmStreamOpen(nullptr, Format, &Result, kQueryFlag) != MMSYSERR_NOERROR)
    Result = WAVEFORMATEX{};
  return Result;
}

bool CanConvertFormats(const WAVEFORMATEX* s, const WAVEFORMATEX* d, TMMConvertQuality Quality) {
  if (!AcmUsable() || !s) return false;
  if (!FormatsDiffer(s, d)) return true;
  std::deque<FormatBuffer> Store;
  std::vector<const WAVEFORMATEX*> Path;
  return FindPath(*s, *d, Quality, Store, Path);
}

std::unique_ptr<TACMConversion> OpenConversion(const WAVEFORMATEX* s, const WAVEFORMATEX* d,
                                               std::uint8_t* Buffer, TMMConvertQuality Quality,
                                               std::int32_t Chunk) {
  if (!AcmUsable() || !s || !d || s->nBlockAlign == 0 || !FormatsDiffer(s, d)) return nullptr;
  auto c = std::make_unique<TACMConversion>();
  c->ChunkSize = s->nBlockAlign * (Chunk / s->nBlockAlign);
  if (c->ChunkSize <= 0) return nullptr;
  std::deque<FormatBuffer> Store;
  std::vector<const WAVEFORMATEX*> Path;
  if (!FindPath(*s, *d, Quality, Store, Path)) return nullptr;
  for (std::size_t i = 0; i + 1 < Path.size(); ++i)
    if (!AddStage(*c, *Path[i], *Path[i + 1], Quality, Buffer)) return nullptr;
  return c;
}

std::int32_t ConvertChunk(TACMConversion& c, std::int32_t Count) {
  return Convert(c, Count, false);
}

std::int32_t FlushConversion(TACMConversion& c, std::int32_t Count) {
  return Convert(c, Count, true);
}

void ResetConversion(TACMConversion& c) {
  c.ReadOffset = c.Available;
  c.InputPending = c.Starved = false;
  for (auto& s : c.Stages) {
    s->Carried = 0;
    s->Header.cbSrcLength = 0;
    acmStreamConvert(s->Stream, &s->Header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
  }
}

void CloseConversion(std::unique_ptr<TACMConversion>& c) {
  c.reset();
}

bool GetFormatNames(const WAVEFORMATEX* Format, std::string& TagName, std::string& FormatText) {
  if (!Format) return false;
  TagName = WaveFormatTagName(Format);
  FormatText = WaveFormatText(Format);
  if (!AcmUsable()) return true;
  ACMFORMATTAGDETAILS Tag{};
  Tag.cbStruct = sizeof Tag;
  Tag.dwFormatTag = Format->wFormatTag;
  if (acmFormatTagDetails(&Tag, ACM_FORMATTAGDETAILSF_FORMATTAG) == MMSYSERR_NOERROR)
    TagName = Tag.szFormatTag;
  ACMFORMATDETAILS Details{};
  Details.cbStruct = sizeof Details;
  Details.dwFormatTag = Format->wFormatTag;
  Details.pwfx = const_cast<WAVEFORMATEX*>(Format);
  Details.cbwfx = WaveFormatSize(Format);
  if (acmFormatDetails(&Details, ACM_FORMATDETAILSF_FORMAT) == MMSYSERR_NOERROR)
    FormatText = Details.szFormat;
  return true;
}

}  // namespace velmar
