// The album fields of a track (title, artist, album, numbers, cover, ...) as
// a WAV file keeps them: the "LIST"/"INFO" chunk holds what it can (INAM,
// IART, IPRD, ICRD, IGNR, ICMT, ITRK), and an ID3v2 tag in an "id3 " chunk
// holds every field with the album artist, the totals, the disc and the
// cover, since other programs read the one or the other. Both are written
// together, so they never disagree; reading takes INFO's texts first (an
// older file, or one another program retitled, has INFO only) and the tag
// for the rest.
//
// Plain data and functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "wavefile/riff_info.h"

namespace velmar {

// A WAV file's chunks that the wave layers keep as they are: id and body.
using TOtherChunks = std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>;

// A front cover: the bytes of a JPEG or PNG file.
struct TCover {
  std::vector<std::uint8_t> Data;
  std::string Mime;  // "image/jpeg" or "image/png"; empty: no cover
  bool operator==(const TCover&) const = default;
};

// The largest cover taken.
constexpr std::int64_t kMaxCoverBytes = 16 << 20;

// Texts are UTF-8; a number 0 is not set.
struct TTrackTags {
  std::string Title;
  std::string Artist;  // the track's own performer (a compilation's), else the album's
  std::string Album, AlbumArtist, Date, Genre, Comment;
  int Track = 0, TrackTotal = 0, Disc = 0, DiscTotal = 0;
  TCover Cover;

  // Copies the fields that a whole album shares: all but the title and the
  // track number; the artist when From has one (a compilation's album has
  // none and each track keeps its own).
  void SetAlbumFields(const TTrackTags& From);
  bool operator==(const TTrackTags&) const = default;
};

// The tags of a WAV file from its ID3v2 chunk (among the kept chunks) and its
// INFO list: the tag's fields where it has them, INFO's for the rest.
TTrackTags ReadWaveTags(const TWaveInfoList& Info, const TOtherChunks& Chunks);

// Puts Tags into Info (replacing the fields it holds; the other INFO texts
// stay) and into Chunks: the ID3v2 chunk is written when Tags hold more than
// a title or Chunks had one (a title alone stays in INFO, as it always did),
// and removed when Tags are empty.
void WriteWaveTags(const TTrackTags& Tags, TWaveInfoList& Info, TOtherChunks& Chunks);

// Reads a cover image file; false with Error ("... is not a JPEG or PNG
// image", "... is larger than 16 MB") when it cannot be a cover.
bool LoadCover(const std::string& Path, TCover& Cover, std::string& Error);
// The cover's kind from its first bytes: "image/jpeg", "image/png" or "".
std::string CoverMime(const std::vector<std::uint8_t>& Data);

// The image's width and height in pixels from a PNG's header or a JPEG's
// frame header; false when they cannot be found.
bool CoverSize(const TCover& Cover, int& Width, int& Height);

// "N" or "N/M" (0: "").
std::string NumberOfText(int Number, int Total);
// Reads "N" or "N/M"; false when the text is neither (numbers from 1 to 999).
bool ParseNumberOf(const std::string& Text, int& Number, int& Total);

}  // namespace velmar
