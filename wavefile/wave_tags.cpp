#include "wavefile/wave_tags.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "wavefile/text_encoding.h"

namespace velmar {

namespace {

constexpr std::uint32_t kId3 = mmioFOURCC('i', 'd', '3', ' ');
constexpr std::uint32_t kId3Upper = mmioFOURCC('I', 'D', '3', ' ');

bool IsId3(std::uint32_t Id) {
  return Id == kId3 || Id == kId3Upper;
}

// The INFO entries and the fields they hold.
struct TInfoField {
  FOURCC Code;
  std::string TTrackTags::*Field;
};
const TInfoField kInfoFields[] = {
    {mmioFOURCC('I', 'N', 'A', 'M'), &TTrackTags::Title},
    {mmioFOURCC('I', 'A', 'R', 'T'), &TTrackTags::Artist},
    {mmioFOURCC('I', 'P', 'R', 'D'), &TTrackTags::Album},
    {mmioFOURCC('I', 'C', 'R', 'D'), &TTrackTags::Date},
    {mmioFOURCC('I', 'G', 'N', 'R'), &TTrackTags::Genre},
    {mmioFOURCC('I', 'C', 'M', 'T'), &TTrackTags::Comment},
};
const int kTrackTag = InfoTagIndex(mmioFOURCC('I', 'T', 'R', 'K'));

// The tag's property names and the fields they hold.
struct TPropertyField {
  const char* Name;
  std::string TTrackTags::*Field;
};
const TPropertyField kPropertyFields[] = {
    {"TITLE", &TTrackTags::Title},     {"ARTIST", &TTrackTags::Artist},
    {"ALBUM", &TTrackTags::Album},     {"ALBUMARTIST", &TTrackTags::AlbumArtist},
    {"DATE", &TTrackTags::Date},       {"GENRE", &TTrackTags::Genre},
    {"COMMENT", &TTrackTags::Comment},
};

TagLib::String Utf8(const std::string& Text) {
  return TagLib::String(Text, TagLib::String::UTF8);
}

std::string FirstValue(const TagLib::PropertyMap& Map, const char* Name) {
  const auto i = Map.find(Name);
  return i == Map.end() || i->second.isEmpty() ? "" : i->second.front().to8Bit(true);
}

void ReadId3(const std::vector<std::uint8_t>& Body, TTrackTags& Tags) {
  TagLib::ByteVector Bytes(reinterpret_cast<const char*>(Body.data()),
                           static_cast<unsigned>(Body.size()));
  TagLib::ByteVectorStream Stream(Bytes);
  TagLib::MPEG::File File(&Stream, TagLib::ID3v2::FrameFactory::instance(), false);
  TagLib::ID3v2::Tag* Tag = File.ID3v2Tag();
  if (!Tag) return;
  const TagLib::PropertyMap Map = Tag->properties();
  for (const auto& [Name, Field] : kPropertyFields) Tags.*Field = FirstValue(Map, Name);
  ParseNumberOf(FirstValue(Map, "TRACKNUMBER"), Tags.Track, Tags.TrackTotal);
  ParseNumberOf(FirstValue(Map, "DISCNUMBER"), Tags.Disc, Tags.DiscTotal);
  for (const auto* Frame : Tag->frameList("APIC")) {
    const auto* Picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(Frame);
    if (!Picture || (Picture->type() != TagLib::ID3v2::AttachedPictureFrame::FrontCover &&
                     !Tags.Cover.Data.empty()))
      continue;
    const TagLib::ByteVector Data = Picture->picture();
    Tags.Cover.Data.assign(Data.begin(), Data.end());
    Tags.Cover.Mime = CoverMime(Tags.Cover.Data);
    if (Tags.Cover.Mime.empty()) Tags.Cover.Data.clear();
  }
}

std::vector<std::uint8_t> RenderId3(const TTrackTags& Tags) {
  TagLib::ID3v2::Tag Tag;
  TagLib::PropertyMap Map;
  for (const auto& [Name, Field] : kPropertyFields)
    if (!(Tags.*Field).empty()) Map.replace(Name, TagLib::StringList(Utf8(Tags.*Field)));
  if (Tags.Track > 0) Map.replace("TRACKNUMBER", Utf8(NumberOfText(Tags.Track, Tags.TrackTotal)));
  if (Tags.Disc > 0) Map.replace("DISCNUMBER", Utf8(NumberOfText(Tags.Disc, Tags.DiscTotal)));
  Tag.setProperties(Map);
  if (!Tags.Cover.Data.empty()) {
    auto* Picture = new TagLib::ID3v2::AttachedPictureFrame;
    Picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    Picture->setMimeType(Tags.Cover.Mime);
    Picture->setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(Tags.Cover.Data.data()),
                                           static_cast<unsigned>(Tags.Cover.Data.size())));
    Tag.addFrame(Picture);  // the tag owns it
  }
  // Version 2.3 (UTF-16 texts, TYER), which the programs that read WAV tags
  // all know.
  const TagLib::ByteVector Bytes = Tag.render(TagLib::ID3v2::v3);
  return {Bytes.begin(), Bytes.end()};
}

}  // namespace

void TTrackTags::SetAlbumFields(const TTrackTags& From) {
  if (!From.Artist.empty()) Artist = From.Artist;
  Album = From.Album;
  AlbumArtist = From.AlbumArtist;
  Date = From.Date;
  Genre = From.Genre;
  Comment = From.Comment;
  Disc = From.Disc;
  DiscTotal = From.DiscTotal;
  Cover = From.Cover;
}

TTrackTags ReadWaveTags(const TWaveInfoList& Info, const TOtherChunks& Chunks) {
  TTrackTags Tags;
  for (const auto& [Id, Body] : Chunks)
    if (IsId3(Id)) ReadId3(Body, Tags);
  // Where both hold a field and differ (another program edited one of them),
  // the tag's is taken: it is the richer one (any script, no length limit).
  for (const auto& [Code, Field] : kInfoFields)
    if (const std::string Text = Info.Text(InfoTagIndex(Code));
        !Text.empty() && (Tags.*Field).empty())
      Tags.*Field = TextAsUtf8(Text);
  if (int Track = 0, Total = 0;
      Tags.Track <= 0 && ParseNumberOf(Info.Text(kTrackTag), Track, Total)) {
    Tags.Track = Track;
    if (Total > 0) Tags.TrackTotal = Total;
  }
  return Tags;
}

void WriteWaveTags(const TTrackTags& Tags, TWaveInfoList& Info, TOtherChunks& Chunks) {
  for (const auto& [Code, Field] : kInfoFields) Info.SetText(InfoTagIndex(Code), Tags.*Field);
  Info.SetText(kTrackTag, Tags.Track > 0 ? std::to_string(Tags.Track) : "");
  TTrackTags TitleOnly;
  TitleOnly.Title = Tags.Title;
  const auto Had =
      std::find_if(Chunks.begin(), Chunks.end(), [](const auto& c) { return IsId3(c.first); });
  const bool Write = Tags != TitleOnly || (Had != Chunks.end() && Tags != TTrackTags());
  Chunks.erase(
      std::remove_if(Chunks.begin(), Chunks.end(), [](const auto& c) { return IsId3(c.first); }),
      Chunks.end());
  if (Write) Chunks.emplace_back(kId3, RenderId3(Tags));
}

std::string CoverMime(const std::vector<std::uint8_t>& Data) {
  static const std::uint8_t Png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (Data.size() >= 8 && std::equal(std::begin(Png), std::end(Png), Data.begin()))
    return "image/png";
  if (Data.size() >= 4 && Data[0] == 0xFF && Data[1] == 0xD8 && Data[2] == 0xFF)
    return "image/jpeg";
  return "";
}

bool LoadCover(const std::string& Path, TCover& Cover, std::string& Error) {
  // Only a regular file: a folder has no picture, and a pipe would block.
  std::error_code e;
  const auto Status = std::filesystem::status(Path, e);
  if (e || !std::filesystem::is_regular_file(Status)) {
    Error = e ? "cannot read the cover " + Path : "the cover " + Path + " is not a file";
    return false;
  }
  std::ifstream In(Path, std::ios::binary | std::ios::ate);
  if (!In) {
    Error = "cannot read the cover " + Path;
    return false;
  }
  const std::int64_t Size = In.tellg();
  if (Size > kMaxCoverBytes) {
    Error = "the cover " + Path + " is larger than 16 MB";
    return false;
  }
  std::vector<std::uint8_t> Data(static_cast<std::size_t>(std::max<std::int64_t>(Size, 0)));
  In.seekg(0);
  if (!In.read(reinterpret_cast<char*>(Data.data()), static_cast<std::streamsize>(Data.size()))) {
    Error = "cannot read the cover " + Path;
    return false;
  }
  // A picture's signature alone is no picture: its header must give its size.
  const std::string Mime = CoverMime(Data);
  TCover Read{std::move(Data), Mime};
  int Width = 0, Height = 0;
  if (Read.Mime.empty() || !CoverSize(Read, Width, Height)) {
    Error = "the cover " + Path + " is not a JPEG or PNG image";
    return false;
  }
  Cover = std::move(Read);
  return true;
}

bool CoverSize(const TCover& Cover, int& Width, int& Height) {
  const std::vector<std::uint8_t>& d = Cover.Data;
  const auto Be16 = [&](std::size_t At) { return d[At] << 8 | d[At + 1]; };
  const auto Be32 = [&](std::size_t At) {
    return static_cast<int>(std::uint32_t{d[At]} << 24 | d[At + 1] << 16 | d[At + 2] << 8 |
                            d[At + 3]);
  };
  if (CoverMime(d) == "image/png" && d.size() >= 24) {
    Width = Be32(16);  // IHDR, the first chunk
    Height = Be32(20);
    return Width > 0 && Height > 0;
  }
  // JPEG: the segments up to a start-of-frame marker (C0..CF but C4, C8, CC).
  for (std::size_t At = 2; CoverMime(d) == "image/jpeg" && At + 9 <= d.size();) {
    if (d[At] != 0xFF) return false;
    const int Marker = d[At + 1];
    if (Marker >= 0xC0 && Marker <= 0xCF && Marker != 0xC4 && Marker != 0xC8 && Marker != 0xCC) {
      Height = Be16(At + 5);
      Width = Be16(At + 7);
      return Width > 0 && Height > 0;
    }
    At += 2 + static_cast<std::size_t>(Be16(At + 2));
  }
  return false;
}

std::string NumberOfText(int Number, int Total) {
  if (Number <= 0) return "";
  return Total > 0 ? std::to_string(Number) + "/" + std::to_string(Total) : std::to_string(Number);
}

bool ParseNumberOf(const std::string& Text, int& Number, int& Total) {
  int n = 0, m = 0, Used = 0;
  if (std::sscanf(Text.c_str(), "%3d%n", &n, &Used) == 1 && Used == static_cast<int>(Text.size()) &&
      n > 0) {
    Number = n;
    Total = 0;
    return true;
  }
  if (std::sscanf(Text.c_str(), "%3d/%3d%n", &n, &m, &Used) == 2 &&
      Used == static_cast<int>(Text.size()) && n > 0 && m > 0) {
    Number = n;
    Total = m;
    return true;
  }
  return false;
}

}  // namespace velmar
