#include "mp3/mp3_file_encoder.h"

#include <fcntl.h>
#include <lame/lame.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "mp3/tag_fields.h"
#include "wavefile/riff_info.h"
#include "wavefile/wave_audio_reader.h"

namespace velmar {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFrames = 8192;

// "96 kHz", "44.1 kHz".
std::string KHzText(int Rate) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%g kHz", Rate / 1000.0);
  return Text;
}

struct TLame {
  lame_global_flags* Flags = lame_init();
  ~TLame() {
    if (Flags) lame_close(Flags);
  }
};

// Text in UTF-8 as UTF-16 with a byte order mark and an end, for the tag;
// empty for plain ASCII and for bytes that are not UTF-8.
std::vector<unsigned short> Utf16WithBom(const std::string& Text) {
  std::vector<unsigned short> Out{0xFEFF};
  bool Ascii = true;
  for (std::size_t i = 0; i < Text.size();) {
    const auto c = static_cast<unsigned char>(Text[i]);
    const int More = c < 0x80         ? 0
                     : (c >> 5) == 6  ? 1
                     : (c >> 4) == 14 ? 2
                     : (c >> 3) == 30 ? 3
                                      : -1;
    if (More < 0 || i + static_cast<std::size_t>(More) >= Text.size()) return {};
    char32_t Code = More == 0 ? c : c & (0x3F >> More);
    for (int k = 1; k <= More; ++k) {
      const auto d = static_cast<unsigned char>(Text[i + static_cast<std::size_t>(k)]);
      if ((d & 0xC0) != 0x80) return {};
      Code = Code << 6 | (d & 0x3F);
    }
    i += static_cast<std::size_t>(More) + 1;
    Ascii = Ascii && Code < 0x80;
    if (Code >= 0x10000) {
      Code -= 0x10000;
      Out.push_back(static_cast<unsigned short>(0xD800 + (Code >> 10)));
      Out.push_back(static_cast<unsigned short>(0xDC00 + (Code & 0x3FF)));
    } else {
      Out.push_back(static_cast<unsigned short>(Code));
    }
  }
  if (Ascii) return {};
  Out.push_back(0);
  return Out;
}

}  // namespace

TEncodeResult EncodeWavToMp3(const std::string& WavName, const std::atomic<bool>& Cancel,
                             const TEncodeProgress& Progress,
                             std::unique_ptr<TLoudness>* Loudness) {
  TEncodeResult Result;
  std::unique_ptr<TWaveAudioReader> Reader;
  try {
    Reader = std::make_unique<TWaveAudioReader>(WavName);
  } catch (const std::exception& Error) {
    std::error_code e;
    Result.Error = fs::exists(WavName, e) ? Error.what() : "the file does not exist";
    return Result;
  }
  const int Channels = Reader->Target().nChannels;
  const int Rate = static_cast<int>(Reader->Target().nSamplesPerSec);
  if (Channels < 1 || Channels > 2) {
    Result.Error = "MP3 holds one or two channels, the file has " + std::to_string(Channels);
    return Result;
  }
  TLame Lame;
  lame_global_flags* g = Lame.Flags;
  lame_set_num_channels(g, Channels);
  lame_set_in_samplerate(g, Rate);
  lame_set_mode(g, Channels == 1 ? MONO : JOINT_STEREO);
  lame_set_VBR(g, vbr_default);
  lame_set_VBR_quality(g, 2.0f);  // the "standard" preset
  lame_set_bWriteVbrTag(g, 1);
  lame_set_write_id3tag_automatic(g, 0);
  id3tag_init(g);
  id3tag_v2_only(g);
  const TTrackTags Tags = ReadWaveTags(Reader->Scan().Info, Reader->Scan().OtherChunks);
  const std::string Title = Tags.Title.empty() ? fs::path(WavName).stem().string() : Tags.Title;
  // Names are UTF-8 here; the tag's plain text is Latin-1, so anything beyond
  // ASCII goes in UTF-16.
  const std::vector<unsigned short> Wide = Utf16WithBom(Title);
  if (Wide.empty() || id3tag_set_textinfo_utf16(g, "TIT2", Wide.data()) != 0)
    id3tag_set_title(g, Title.c_str());
  if (lame_init_params(g) < 0) {
    Result.Error = "the encoder does not take " + std::to_string(Rate) + " Hz";
    return Result;
  }
  // MP3 holds rates up to 48 kHz: a higher one is resampled, and said.
  if (const int Out = lame_get_out_samplerate(g); Out != Rate)
    Result.Note =
        "resampled from " + KHzText(Rate) + " to " + KHzText(Out) + ": MP3 holds no higher rate";

  const std::string Final = FreeOutputName(WavName, ".mp3");
  TPartialOutput Out;
  if (!Out.Open(Final, Result.Error)) return Result;
  std::vector<unsigned char> Tag(lame_get_id3v2_tag(g, nullptr, 0));
  const std::size_t TagSize = lame_get_id3v2_tag(g, Tag.data(), Tag.size());
  std::vector<std::int16_t> Pcm(kFrames * static_cast<std::size_t>(Channels));
  std::vector<unsigned char> Mp3(kFrames * 5 / 4 + 7200);
  std::vector<double> Measured;
  if (Loudness) {
    *Loudness = std::make_unique<TLoudness>(Channels, Rate);
    Measured.resize(Pcm.size());
  }
  bool Ok = Out.Write(Tag.data(), TagSize);
  std::int64_t Done = 0;
  const std::int64_t Total = Reader->Scan().Frames();
  try {
    while (Ok) {
      if (Cancel) {
        Result.Cancelled = true;
        Result.Error = "cancelled";
        return Result;
      }
      const auto Frames = static_cast<std::size_t>(
          Reader->Read(reinterpret_cast<std::uint8_t*>(Pcm.data()),
                       static_cast<std::int64_t>(Pcm.size() * sizeof Pcm[0])) /
          (2 * Channels));
      if (Frames == 0) break;
      if (Loudness) {
        for (std::size_t i = 0; i < Frames * static_cast<std::size_t>(Channels); ++i)
          Measured[i] = Pcm[i] / 32768.0;
        (*Loudness)->Add(Measured.data(), Frames);
      }
      const int n = Channels == 2
                        ? lame_encode_buffer_interleaved(g, Pcm.data(), static_cast<int>(Frames),
                                                         Mp3.data(), static_cast<int>(Mp3.size()))
                        : lame_encode_buffer(g, Pcm.data(), Pcm.data(), static_cast<int>(Frames),
                                             Mp3.data(), static_cast<int>(Mp3.size()));
      Ok = n >= 0 && Out.Write(Mp3.data(), static_cast<std::size_t>(n));
      Done += static_cast<std::int64_t>(Frames);
      if (Progress) Progress(Done, Total);
    }
  } catch (const std::exception& Error) {
    Result.Error = Error.what();
    return Result;
  }
  if (Ok) {
    const int n = lame_encode_flush(g, Mp3.data(), static_cast<int>(Mp3.size()));
    Ok = n >= 0 && Out.Write(Mp3.data(), static_cast<std::size_t>(n));
  }
  if (Ok) {
    // The LAME/Xing header replaces the placeholder frame after the tag.
    const std::size_t Size = lame_get_lametag_frame(g, Mp3.data(), Mp3.size());
    Ok = Size == 0 || ::pwrite(Out.Fd(), Mp3.data(), Size, static_cast<off_t>(TagSize)) ==
                          static_cast<ssize_t>(Size);
  }
  if (!Ok) {
    Result.Error = std::string("writing the MP3 failed: ") + std::strerror(errno);
    return Result;
  }
  // The album fields, the cover and the track's gain, before the file is named.
  if (const TTagFields Fields = TrackFields(Tags, false, Loudness ? Loudness->get() : nullptr);
      (!Fields.empty() || !Tags.Cover.Data.empty()) &&
      !WriteTagFields(Out.PartName(), false, Fields, Result.Error,
                      Tags.Cover.Data.empty() ? nullptr : &Tags.Cover))
    return Result;
  if (!Out.Commit(Result)) return Result;
  if (Progress) Progress(Total, Total);
  return Result;
}

}  // namespace velmar
