#include "stream/wave_format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace velmar {

namespace {

struct TagName {
  std::uint16_t Tag;
  const char* Name;
};

// Searched from the top: the first matching tag wins (0x0011 is "IMA ADPCM").
constexpr TagName kTagNames[] = {
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
};

// This platform keeps no per-user list and decimal separators for us to read.
constexpr char kListSeparator = ',';
constexpr char kDecimalSeparator = '.';

}  // namespace

bool IsValidPCMFormat(const WAVEFORMATEX* fmt) {
  return fmt && fmt->wFormatTag == WAVE_FORMAT_PCM &&
         (fmt->wBitsPerSample == 8 || fmt->wBitsPerSample == 16 || fmt->wBitsPerSample == 24) &&
         (fmt->nChannels == 1 || fmt->nChannels == 2) && fmt->nSamplesPerSec >= 4000 &&
         fmt->nSamplesPerSec <= 100000;
}

WAVEFORMATEX* BuildPCMFormat(WAVEFORMATEX* fmt, std::uint16_t bits, std::uint16_t channels,
                             std::uint32_t rate) {
  fmt->wFormatTag = WAVE_FORMAT_PCM;
  fmt->nChannels = channels;
  fmt->nSamplesPerSec = rate;
  fmt->wBitsPerSample = bits;
  // 16-bit arithmetic, as the record's field: the product wraps before the shift.
  fmt->nBlockAlign = static_cast<std::uint16_t>(static_cast<std::uint16_t>(channels * bits) >> 3);
  fmt->nAvgBytesPerSec = fmt->nBlockAlign * rate;
  fmt->cbSize = 0;
  return fmt;
}

std::uint32_t WaveFormatSize(const WAVEFORMATEX* fmt) {
  if (!fmt) return 0;
  if (fmt->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
  return sizeof(WAVEFORMATEX) + fmt->cbSize;
}

bool SameWaveFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  if (!a || !b) return a == b;
  const std::uint32_t Size = WaveFormatSize(a);
  return Size == WaveFormatSize(b) && std::memcmp(a, b, Size) == 0;
}

WAVEFORMATEX* CopyWaveFormat(const WAVEFORMATEX* fmt) {
  const std::uint32_t Size = WaveFormatSize(fmt);
  if (Size == 0) return nullptr;
  auto* Copy = static_cast<WAVEFORMATEX*>(std::calloc(1, Size));
  if (!Copy) throw std::bad_alloc();
  std::memcpy(Copy, fmt, Size);
  if (Copy->wFormatTag == WAVE_FORMAT_PCM) Copy->cbSize = 0;
  return Copy;
}

void FreeWaveFormat(WAVEFORMATEX*& fmt) {
  std::free(fmt);
  fmt = nullptr;
}

std::string WaveFormatTagName(const WAVEFORMATEX* fmt) {
  // Tag 3 with whole-word samples is the floating-point format of today's files.
  if (fmt && fmt->wFormatTag == 0x0003 && (fmt->wBitsPerSample == 32 || fmt->wBitsPerSample == 64))
    return "IEEE Float";
  if (fmt) {
    for (const TagName& Row : kTagNames)
      if (Row.Tag == fmt->wFormatTag) return Row.Name;
  }
  return "Unknown";
}

std::string WaveFormatText(const WAVEFORMATEX* fmt) {
  if (!fmt) return "Unknown";
  // Average bits per sample; for PCM this is wBitsPerSample. A record with no
  // rate or no channels (damaged file) describes 0 bits instead of dividing by 0.
  std::uint32_t Bits = 0;
  if (fmt->nSamplesPerSec != 0 && fmt->nChannels != 0)
    Bits = fmt->nAvgBytesPerSec * 8u / fmt->nSamplesPerSec / fmt->nChannels;
  const unsigned k = fmt->nSamplesPerSec / 1000;
  const unsigned f = fmt->nSamplesPerSec % 1000;
  char Text[128];
  if (fmt->nChannels == 1 || fmt->nChannels == 2) {
    std::snprintf(Text, sizeof Text, "%u%c%.03u kHz%c %u Bit%c %s", k, kDecimalSeparator, f,
                  kListSeparator, Bits, kListSeparator, fmt->nChannels == 1 ? "Mono" : "Stereo");
  } else {
    std::snprintf(Text, sizeof Text, "%u%c%.03u kHz%c %u Bit%c %u Channels", k, kDecimalSeparator,
                  f, kListSeparator, Bits, kListSeparator, unsigned{fmt->nChannels});
  }
  return Text;
}

TMMBits BitsFromFormat(const WAVEFORMATEX& fmt) {
  return static_cast<TMMBits>(fmt.wBitsPerSample / 8 - 1);
}

TMMMode ModeFromFormat(const WAVEFORMATEX& fmt) {
  return static_cast<TMMMode>(fmt.nChannels - 1);
}

}  // namespace velmar
