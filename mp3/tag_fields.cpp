#include "mp3/tag_fields.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

namespace velmar {

namespace {

TagLib::String Utf8(const std::string& Text) {
  return TagLib::String(Text, TagLib::String::UTF8);
}

template <typename TFile>
void SetFields(TFile& File, const TTagFields& Fields) {
  TagLib::PropertyMap Properties = File.properties();
  for (const auto& [Name, Value] : Fields)
    Properties.replace(Utf8(Name), TagLib::StringList(Utf8(Value)));
  File.setProperties(Properties);
}

TagLib::ByteVector Bytes(const std::vector<std::uint8_t>& Data) {
  return TagLib::ByteVector(reinterpret_cast<const char*>(Data.data()),
                            static_cast<unsigned>(Data.size()));
}

}  // namespace

bool WriteTagFields(const std::string& Path, bool Flac, const TTagFields& Fields,
                    std::string& Error, const TCover* Cover) {
  bool Saved = false;
  if (Flac) {
    TagLib::FLAC::File File(Path.c_str());
    if (File.isValid()) {
      File.xiphComment(true);
      SetFields(File, Fields);
      if (Cover) {
        File.removePictures();
        auto* Picture = new TagLib::FLAC::Picture;  // the file owns it
        Picture->setType(TagLib::FLAC::Picture::FrontCover);
        Picture->setMimeType(Cover->Mime);
        Picture->setData(Bytes(Cover->Data));
        if (int Width = 0, Height = 0; CoverSize(*Cover, Width, Height)) {
          Picture->setWidth(Width);
          Picture->setHeight(Height);
          Picture->setColorDepth(24);
        }
        File.addPicture(Picture);
      }
      Saved = File.save();
    }
  } else {
    TagLib::MPEG::File File(Path.c_str());
    if (File.isValid()) {
      TagLib::ID3v2::Tag* Tag = File.ID3v2Tag(true);
      SetFields(File, Fields);
      if (Cover) {
        Tag->removeFrames("APIC");
        auto* Picture = new TagLib::ID3v2::AttachedPictureFrame;  // the tag owns it
        Picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        Picture->setMimeType(Cover->Mime);
        Picture->setPicture(Bytes(Cover->Data));
        Tag->addFrame(Picture);
      }
      // The ID3v2 tag only: no ID3v1 or APE tag is added.
      Saved = File.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                        TagLib::File::DoNotDuplicate);
    }
  }
  if (!Saved) Error = "its tags could not be written";
  return Saved;
}

TTagFields ReplayGainFields(bool Album, const TReplayGain& Gain) {
  const std::string Kind = Album ? "ALBUM" : "TRACK";
  return {{"REPLAYGAIN_" + Kind + "_GAIN", GainText(Gain.Gain)},
          {"REPLAYGAIN_" + Kind + "_PEAK", PeakText(Gain.Peak)}};
}

TTagFields TrackFields(const TTrackTags& Tags, bool Flac, const TLoudness* Loudness) {
  TTagFields Fields;
  const std::pair<const char*, const std::string*> Texts[] = {
      {"ARTIST", &Tags.Artist}, {"ALBUM", &Tags.Album}, {"ALBUMARTIST", &Tags.AlbumArtist},
      {"DATE", &Tags.Date},     {"GENRE", &Tags.Genre}, {"COMMENT", &Tags.Comment}};
  for (const auto& [Name, Text] : Texts)
    if (!Text->empty()) Fields.emplace_back(Name, *Text);
  // Vorbis comments give the totals fields of their own; ID3v2 writes "n/N".
  const auto Number = [&](const char* Name, const char* TotalName, int n, int Total) {
    if (n <= 0) return;
    if (!Flac) {
      Fields.emplace_back(Name, NumberOfText(n, Total));
      return;
    }
    Fields.emplace_back(Name, std::to_string(n));
    if (Total > 0) Fields.emplace_back(TotalName, std::to_string(Total));
  };
  Number("TRACKNUMBER", "TRACKTOTAL", Tags.Track, Tags.TrackTotal);
  Number("DISCNUMBER", "DISCTOTAL", Tags.Disc, Tags.DiscTotal);
  if (Loudness)
    if (const TReplayGain Track = Loudness->Track(); Track.Known)
      for (auto& Field : ReplayGainFields(false, Track)) Fields.push_back(std::move(Field));
  return Fields;
}

}  // namespace velmar
