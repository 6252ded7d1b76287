// Where a WAV file's audio lies, found without the 32-bit limits of the file
// layer: RIFF files up to their 4 GiB size limit, RF64 files (a "ds64" chunk
// carries 64-bit sizes) of any length. For reading a file once from start to
// end (splitting it, describing it). An extensible format record of PCM or
// floating point reads as the plain record.
//
// The audio runs as far as the data chunk's own size says when the file holds
// that much (whatever the RIFF size says: another program may have left it
// short), else to the end of the file (a recording that was never finalised,
// or one cut short). Nothing here trusts a size
// field for an allocation. Any thread; no state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wave/wave_format_ex.h"
#include "wavefile/cue_markers.h"
#include "wavefile/riff_info.h"

namespace velmar {

struct TWaveScan {
  std::vector<std::uint8_t> FormatBytes;  // at least 18 bytes
  // The record to write the same format with: FormatBytes, or for an
  // extensible record the same with its extension (channel mask, sub-format).
  std::vector<std::uint8_t> StoredFormatBytes;
  std::int64_t FileBytes = 0;
  std::int64_t DataOffset = 0;  // of the first audio byte
  std::int64_t DataBytes = 0;   // audio bytes, whole frames
  // The header claims more audio than the file holds (a file cut short).
  bool Truncated = false;
  bool RF64 = false;
  TWaveInfoList Info;               // the "INFO" lists' texts (titles and the like)
  std::vector<TCueMarker> Markers;  // labelled cue points, in the order of their frames
  // The chunks this reader does not use ("bext", lists other than INFO and
  // "adtl", ...), id and body, for a copy of the file to keep.
  std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> OtherChunks;
  // A chunk this reader could not keep (larger than it holds in memory), said
  // as "a 17.6 MB \"id3 \" chunk"; empty when every chunk was kept. A copy of
  // the file would lose it, so rewrites refuse such a file.
  std::string Unkept;
  // Where the file and its header differ, what the scan read instead, a
  // sentence each ("the header declares 176400 bytes of audio, the file holds
  // 88200 bytes of audio"): said to the user beside what the file holds.
  std::vector<std::string> Notes;
  // An ID3v2 chunk stands before the audio (another program put it there): a
  // titling in place, which writes after the audio, would add a second one.
  bool TagBeforeData = false;

  const WAVEFORMATEX* Format() const {
    return reinterpret_cast<const WAVEFORMATEX*>(FormatBytes.data());
  }
  std::int64_t Frames() const { return DataBytes / Format()->nBlockAlign; }
};

// Scans Name; false with Error set to the reason ("no format chunk", a system
// error, ...) when it is not a readable WAV file.
bool ScanWaveFile(const std::string& Name, TWaveScan& Scan, std::string& Error);

// An extensible format record ("WAVE_FORMAT_EXTENSIBLE") of the PCM or the
// floating-point sub-format becomes the plain record of that format in place
// (samples with fewer valid bits than their width read at their width: the
// valid bits lie at the top); false, and unchanged, for anything else.
bool PlainFormatFromExtensible(std::vector<std::uint8_t>& FormatBytes);

// The record a file stores for a plain PCM or floating-point format: samples
// wider than 16 bits or more than two channels need the extensible record
// (every bit valid, the channels in the standard order) for other programs to
// read them right; anything else stays as it is.
std::vector<std::uint8_t> StoredFormatRecord(const std::vector<std::uint8_t>& FormatBytes);

// A format record read from a file, made fit to use: a PCM record gets the
// layout rule (whole bytes per frame, frames per second); any record must have
// a positive block size, rate and average rate within the signed 32-bit
// arithmetic of the sample conversions. False when it cannot.
bool NormaliseFormat(WAVEFORMATEX& f);

}  // namespace velmar
