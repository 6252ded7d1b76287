#include "mp3/tag_fields.h"

#include <taglib/flacfile.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include "wavefile/text_encoding.h"

namespace velmar {

namespace {

TagLib::String Utf8(const std::string& Text) {
  return TagLib::String(Text, TagLib::String::UTF8);
}

template <typename TFile>
void SetFields(TFile& File, const TTagFields& Fields) {
  TagLib::PropertyMap Properties = File.properties();
  for (const auto& [Name, Value] : Fields) Properties.replace(Utf8(Name), TagLib::StringList(Utf8(Value)));
  File.setProperties(Properties);
}

}  // namespace

bool WriteTagFields(const std::string& Path, bool Flac, const TTagFields& Fields,
                    std::string& Error) {
  bool Saved = false;
  if (Flac) {
    TagLib::FLAC::File File(Path.c_str());
    if (File.isValid()) {
      File.xiphComment(true);
      SetFields(File, Fields);
      Saved = File.save();
    }
  } else {
    TagLib::MPEG::File File(Path.c_str());
    if (File.isValid()) {
      File.ID3v2Tag(true);
      SetFields(File, Fields);
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

TTagFields WaveInfoFields(const TWaveInfoList& Info) {
  TTagFields Fields;
  const std::pair<const char*, FOURCC> Map[] = {
      {"ARTIST", mmioFOURCC('I', 'A', 'R', 'T')}, {"ALBUM", mmioFOURCC('I', 'P', 'R', 'D')},
      {"DATE", mmioFOURCC('I', 'C', 'R', 'D')},   {"GENRE", mmioFOURCC('I', 'G', 'N', 'R')},
      {"COMMENT", mmioFOURCC('I', 'C', 'M', 'T')}};
  for (const auto& [Name, Code] : Map)
    if (const std::string Text = Info.Text(InfoTagIndex(Code)); !Text.empty())
      Fields.emplace_back(Name, TextAsUtf8(Text));
  return Fields;
}

TTagFields TrackFields(const TWaveInfoList& Info, const TLoudness* Loudness) {
  TTagFields Fields = WaveInfoFields(Info);
  if (Loudness)
    if (const TReplayGain Track = Loudness->Track(); Track.Known)
      for (auto& Field : ReplayGainFields(false, Track)) Fields.push_back(std::move(Field));
  return Fields;
}

}  // namespace velmar
