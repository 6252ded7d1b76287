#include "mp3/flac_file_encoder.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "mp3/tag_fields.h"
#include "stream/pcm_samples.h"
#include "stream/wave_format.h"
#include "wavefile/riff_info.h"
#include "wavefile/text_encoding.h"
#include "wavefile/wave_audio_reader.h"

namespace velmar {

namespace {

constexpr std::size_t kFrames = 8192;

struct TEncoderDeleter {
  void operator()(FLAC__StreamEncoder* e) const { FLAC__stream_encoder_delete(e); }
};
struct TMetadataDeleter {
  void operator()(FLAC__StreamMetadata* m) const { FLAC__metadata_object_delete(m); }
};
using TMetadata = std::unique_ptr<FLAC__StreamMetadata, TMetadataDeleter>;

FLAC__StreamEncoderWriteStatus WriteToOutput(const FLAC__StreamEncoder*, const FLAC__byte Buffer[],
                                             size_t Bytes, uint32_t, uint32_t, void* Data) {
  return static_cast<TPartialOutput*>(Data)->Write(Buffer, Bytes)
             ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
             : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus SeekOutput(const FLAC__StreamEncoder*, FLAC__uint64 Offset,
                                         void* Data) {
  return ::lseek(static_cast<TPartialOutput*>(Data)->Fd(), static_cast<off_t>(Offset), SEEK_SET) < 0
             ? FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR
             : FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus TellOutput(const FLAC__StreamEncoder*, FLAC__uint64* Offset,
                                         void* Data) {
  const off_t At = ::lseek(static_cast<TPartialOutput*>(Data)->Fd(), 0, SEEK_CUR);
  if (At < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
  *Offset = static_cast<FLAC__uint64>(At);
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

// One floating-point sample (4 or 8 bytes, full scale 1.0) as a 24-bit one,
// rounded and held within the range.
FLAC__int32 FloatSample(const std::uint8_t* p, int Bytes) {
  double v;
  if (Bytes == 4) {
    float f;
    std::memcpy(&f, p, 4);
    v = f;
  } else {
    std::memcpy(&v, p, 8);
  }
  if (!(v == v)) v = 0;  // not a number: silence
  return static_cast<FLAC__int32>(std::clamp(std::lround(v * 8388608.0), -8388608L, 8388607L));
}

}  // namespace

TEncodeResult EncodeWavToFlac(const std::string& WavName, int Level,
                              const std::atomic<bool>& Cancel, const TEncodeProgress& Progress,
                              std::unique_ptr<TLoudness>* Loudness) {
  TEncodeResult Result;
  std::unique_ptr<TWaveAudioReader> Reader;
  try {
    // PCM keeps its samples as they are; floating point, which FLAC cannot
    // hold, is kept at 24 bits (said); anything else is read as 16-bit PCM.
    TWaveScan Scan;
    std::string Why;
    if (ScanWaveFile(WavName, Scan, Why)) {
      const WAVEFORMATEX& f = *Scan.Format();
      if (f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample % 8 == 0 && f.wBitsPerSample <= 32 &&
          f.nChannels >= 1 && f.nChannels <= 8)
        Reader = std::make_unique<TWaveAudioReader>(WavName, f);
      if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT &&
          (f.wBitsPerSample == 32 || f.wBitsPerSample == 64) && f.nChannels >= 1 &&
          f.nChannels <= 8) {
        Reader = std::make_unique<TWaveAudioReader>(WavName, f);
        Result.Note = "floating-point samples kept at 24 bits";
      }
    }
    if (!Reader) Reader = std::make_unique<TWaveAudioReader>(WavName);
  } catch (const std::exception& Error) {
    std::error_code e;
    Result.Error = std::filesystem::exists(WavName, e) ? Error.what() : "the file does not exist";
    return Result;
  }
  const WAVEFORMATEX& Format = Reader->Target();
  const bool Float = Format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
  const int Channels = Format.nChannels, Bytes = Format.wBitsPerSample / 8;
  const int Bits = Float ? 24 : Format.wBitsPerSample;
  if (Channels < 1 || Channels > 8) {
    Result.Error = "FLAC holds one to eight channels, the file has " + std::to_string(Channels);
    return Result;
  }
  const std::int64_t Total = Reader->Scan().Frames();
  const TTrackTags Tags = ReadWaveTags(Reader->Scan().Info, Reader->Scan().OtherChunks);
  // A comment is UTF-8; a name in another encoding is read as Windows-1252.
  const std::string Title =
      Tags.Title.empty() ? TextAsUtf8(std::filesystem::path(WavName).stem().string()) : Tags.Title;

  // The output outlives the encoder: deleting an encoder finishes its stream.
  TPartialOutput Out;
  std::unique_ptr<FLAC__StreamEncoder, TEncoderDeleter> Encoder(FLAC__stream_encoder_new());
  TMetadata Comment(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
  TMetadata Seek(FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE));
  TMetadata Padding(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING));
  FLAC__StreamMetadata_VorbisComment_Entry Entry;
  if (!Encoder || !Comment || !Seek || !Padding ||
      !FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&Entry, "TITLE",
                                                                      Title.c_str()) ||
      !FLAC__metadata_object_vorbiscomment_append_comment(Comment.get(), Entry, false) ||
      !FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
          Seek.get(), 10 * Format.nSamplesPerSec, static_cast<FLAC__uint64>(Total)) ||
      !FLAC__metadata_object_seektable_template_sort(Seek.get(), true)) {
    Result.Error = "out of memory";
    return Result;
  }
  Padding->length = 8192;  // room to add tags later without rewriting the file
  // A seek table needs the length; a file without audio has none.
  FLAC__StreamMetadata* Blocks[3] = {Comment.get(), Total > 0 ? Seek.get() : Padding.get(),
                                     Padding.get()};
  FLAC__StreamEncoder* e = Encoder.get();
  FLAC__stream_encoder_set_channels(e, static_cast<uint32_t>(Channels));
  FLAC__stream_encoder_set_bits_per_sample(e, static_cast<uint32_t>(Bits));
  FLAC__stream_encoder_set_sample_rate(e, Format.nSamplesPerSec);
  FLAC__stream_encoder_set_compression_level(e, static_cast<uint32_t>(Level));
  FLAC__stream_encoder_set_total_samples_estimate(e, static_cast<FLAC__uint64>(Total));
  FLAC__stream_encoder_set_metadata(e, Blocks, Total > 0 ? 3 : 2);

  const std::string Final = FreeOutputName(WavName, ".flac");
  if (!Out.Open(Final, Result.Error)) return Result;
  if (FLAC__stream_encoder_init_stream(e, WriteToOutput, SeekOutput, TellOutput, nullptr, &Out) !=
      FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    Result.Error = std::string("the encoder does not take this audio: ") +
                   FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(e)];
    return Result;
  }
  std::vector<std::uint8_t> Raw(kFrames * static_cast<std::size_t>(Channels * Bytes));
  std::vector<FLAC__int32> Samples(kFrames * static_cast<std::size_t>(Channels));
  std::vector<double> Measured;
  if (Loudness) {
    *Loudness = std::make_unique<TLoudness>(Channels, Format.nSamplesPerSec);
    Measured.resize(Samples.size());
  }
  const double Scale = 1.0 / static_cast<double>(1LL << (Bits - 1));
  std::int64_t Done = 0;
  try {
    for (;;) {
      if (Cancel) {
        Result.Cancelled = true;
        Result.Error = "cancelled";
        return Result;
      }
      const std::int64_t Got = Reader->Read(Raw.data(), static_cast<std::int64_t>(Raw.size()));
      const auto Frames = static_cast<std::size_t>(Got / (Channels * Bytes));
      if (Frames == 0) break;
      for (std::size_t i = 0; i < Frames * static_cast<std::size_t>(Channels); ++i)
        Samples[i] = Float ? FloatSample(Raw.data() + i * static_cast<std::size_t>(Bytes), Bytes)
                           : PcmSample(Raw.data() + i * static_cast<std::size_t>(Bytes), Bytes);
      if (Loudness) {
        for (std::size_t i = 0; i < Frames * static_cast<std::size_t>(Channels); ++i)
          Measured[i] = Samples[i] * Scale;
        (*Loudness)->Add(Measured.data(), Frames);
      }
      if (!FLAC__stream_encoder_process_interleaved(e, Samples.data(),
                                                    static_cast<uint32_t>(Frames))) {
        Result.Error = std::string("writing the FLAC failed: ") + std::strerror(errno);
        return Result;
      }
      Done += static_cast<std::int64_t>(Frames);
      if (Progress) Progress(Done, Total);
    }
  } catch (const std::exception& Error) {
    Result.Error = Error.what();
    return Result;
  }
  if (!FLAC__stream_encoder_finish(e)) {
    Result.Error = std::string("writing the FLAC failed: ") + std::strerror(errno);
    return Result;
  }
  // The album fields, the cover and the track's gain, before the file is named.
  if (const TTagFields Fields = TrackFields(Tags, true, Loudness ? Loudness->get() : nullptr);
      (!Fields.empty() || !Tags.Cover.Data.empty()) &&
      !WriteTagFields(Out.PartName(), true, Fields, Result.Error,
                      Tags.Cover.Data.empty() ? nullptr : &Tags.Cover))
    return Result;
  if (!Out.Commit(Result)) return Result;
  if (Progress) Progress(Total, Total);
  return Result;
}

}  // namespace velmar
