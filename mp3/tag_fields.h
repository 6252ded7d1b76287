// Tags in the files the encoder writes, through TagLib's property names, which
// it maps to each format: Vorbis comments in FLAC (ARTIST, DATE, ...), ID3v2
// frames in MP3 (ARTIST -> TPE1, DATE -> TDRC, COMMENT -> COMM, and names of
// its own such as REPLAYGAIN_TRACK_GAIN -> TXXX). A FLAC file keeps room for
// tags (padding) and an MP3's tag its padding, so small additions are written
// in place; the encoder writes them before the file gets its name.
//
// Any thread; one file at a time.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "restore/loudness.h"
#include "wavefile/wave_tags.h"

namespace velmar {

// Property name and text (UTF-8), in order.
using TTagFields = std::vector<std::pair<std::string, std::string>>;

// Sets each field (replacing one of that name) and keeps the rest; with a
// Cover, it becomes the file's front cover (FLAC's picture block of type 3,
// MP3's APIC frame), replacing the pictures it had. Flac: the file is FLAC,
// else MP3. False with Error when the file could not be tagged.
bool WriteTagFields(const std::string& Path, bool Flac, const TTagFields& Fields,
                    std::string& Error, const TCover* Cover = nullptr);

// REPLAYGAIN_TRACK_GAIN and _PEAK, or with Album the album's pair.
TTagFields ReplayGainFields(bool Album, const TReplayGain& Gain);

// What an encoded track gets beyond its title (which the encoder writes
// itself): its WAV's album fields, as each format numbers tracks (FLAC:
// TRACKNUMBER and TRACKTOTAL, DISCNUMBER and DISCTOTAL; MP3: TRCK "3/12",
// TPOS "1/2") and, measured (Loudness not null, not silence only), its
// track gain.
TTagFields TrackFields(const TTrackTags& Tags, bool Flac, const TLoudness* Loudness);

}  // namespace velmar
