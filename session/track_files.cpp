#include "session/track_files.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "session/cue_sheet.h"
#include "session/declick_files.h"
#include "session/track_rule.h"
#include "stream/wave_format.h"
#include "wavefile/wave_audio_reader.h"
#include "wavefile/wave_file_io.h"
#include "wavefile/wave_scan.h"

namespace velmar {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kCopyBytes = 1 << 20;

std::string Folder(const std::string& Path) {
  const fs::path Parent = fs::path(Path).parent_path();
  return Parent.empty() ? "." : Parent.string();
}

// Writes a new WAV file Name of Format, Info and Chunks (kept as they are)
// with Frames frames of Read (to its end when Frames < 0); false with Error.
// At is the audio frames read so far, carried from file to file.
bool WriteWav(const std::string& Name, const WAVEFORMATEX& Format, const TWaveInfoList& Info,
              const TOtherChunks& Chunks, const TAudioSource& Read, std::int64_t Frames,
              const std::function<void(std::int64_t)>& Progress, std::int64_t& At,
              std::string& Error) {
  TWaveFileBlock* Block = WaveFileFromFormat(&Format);
  if (!Block) {
    Error = "out of memory";
    return false;
  }
  Block->InfoList = Info;
  Block->OtherChunks = Chunks;
  Block->SyncWhileWriting = false;  // made durable as a whole before it is put in place
  bool Ok = WaveFileCreate(Block, Name, true) == WAVEERR_NONE;
  if (!Ok) Error = "cannot create " + Name + ": " + std::strerror(errno);
  const std::int64_t FrameBytes = Format.nBlockAlign;
  std::vector<std::uint8_t> Buffer(static_cast<std::size_t>(kCopyBytes / FrameBytes * FrameBytes));
  std::int64_t Left = Frames < 0 ? INT64_MAX : Frames * FrameBytes;
  while (Ok && Left > 0) {
    const std::int64_t Want =
        std::min<std::int64_t>(Left, static_cast<std::int64_t>(Buffer.size()));
    const std::int64_t Got = Read(Buffer.data(), Want);
    if (Got < 0) {
      if (Error.empty()) Error = "reading failed";
      Ok = false;
    } else if (Got == 0) {
      break;
    } else if (WaveFileWrite(Block, Buffer.data(), static_cast<std::int32_t>(Got)) != Got) {
      Error = "cannot write " + Name +
              (Block->DataBytes + Got >= kMaxWaveFileBytes - (1 << 16)
                   ? std::string(": too long for one WAV file")
                   : ": " + std::string(std::strerror(errno)));
      Ok = false;
    } else {
      Left -= Got;
      At += Got / FrameBytes;
      if (Progress) Progress(At);
    }
  }
  if (Ok && WaveFileClose(Block) != WAVEERR_NONE) {
    Error = "cannot finish " + Name + ": " + std::strerror(errno);
    Ok = false;
  }
  WaveFileFree(Block);
  if (!Ok) ::unlink(Name.c_str());
  return Ok;
}

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
         a.nSamplesPerSec == b.nSamplesPerSec && a.wBitsPerSample == b.wBitsPerSample &&
         a.nBlockAlign == b.nBlockAlign;
}

std::string Describe(const WAVEFORMATEX* f) {
  return WaveFormatTagName(f) + " " + WaveFormatText(f);
}

// The tracks' audio one after the other, as it is, once they are found to
// share one format; Starts holds the first frame of each track begun so far.
class TSideSource {
 public:
  bool Open(const std::vector<std::string>& Tracks, std::string& Error) {
    FTracks = Tracks;
    FScans.assign(Tracks.size(), {});
    if (Tracks.empty()) {
      Error = "no tracks";
      return false;
    }
    for (std::size_t i = 0; i < Tracks.size(); ++i) {
      std::string Why;
      if (!ScanWaveFile(Tracks[i], FScans[i], Why)) {
        Error = Tracks[i] + ": not a readable WAV file: " + Why;
        return false;
      }
      if (!SameFormat(*FScans[i].Format(), *FScans[0].Format())) {
        Error = Tracks[i] + ": its format (" + Describe(FScans[i].Format()) +
                ") differs from the first track's (" + Describe(FScans[0].Format()) + ")";
        return false;
      }
    }
    return true;
  }
  const WAVEFORMATEX& Format() const { return *FScans[0].Format(); }
  // The format record as the first track stores it, for writing the same.
  const WAVEFORMATEX& Record() const {
    return *reinterpret_cast<const WAVEFORMATEX*>(FScans[0].StoredFormatBytes.data());
  }
  const std::vector<std::int64_t>& Starts() const { return FStarts; }
  TTrackTags Tags(std::size_t i) const {
    return ReadWaveTags(FScans[i].Info, FScans[i].OtherChunks);
  }
  // New with the tracks' labelled places in the new tracks that hold them.
  std::vector<TTrackFile> PlaceMarkers(std::vector<TTrackFile> New) const {
    std::int64_t Start = 0;
    for (const TWaveScan& Scan : FScans) {
      for (const TCueMarker& m : Scan.Markers) {
        std::int64_t At = Start + m.Frame, NewStart = 0;
        for (std::size_t t = 0; t < New.size(); NewStart += New[t++].Frames) {
          if (t + 1 < New.size() && At >= NewStart + New[t].Frames) continue;
          New[t].Markers.push_back({static_cast<std::uint32_t>(At - NewStart), m.Label});
          break;
        }
      }
      Start += Scan.Frames();
    }
    return New;
  }
  // A source for WriteWav; a failure says which track in Error.
  TAudioSource Source(std::string& Error) {
    return [this, &Error](std::uint8_t* Dest, std::int64_t Count) -> std::int64_t {
      try {
        for (; FIndex < FTracks.size(); FReader.reset(), ++FIndex) {
          if (!FReader) {
            FReader = std::make_unique<TWaveAudioReader>(FTracks[FIndex], *FScans[FIndex].Format());
            FStarts.push_back(FAt);
          }
          const std::int64_t Got = FReader->Read(Dest, Count);
          if (Got > 0) {
            FAt += Got / Format().nBlockAlign;
            return Got;
          }
        }
        return 0;
      } catch (const std::exception& x) {
        Error = FTracks[FIndex] + ": " + x.what();
        return -1;
      }
    };
  }

 private:
  std::vector<std::string> FTracks;
  std::vector<TWaveScan> FScans;
  std::vector<std::int64_t> FStarts;
  std::size_t FIndex = 0;
  std::int64_t FAt = 0;
  std::unique_ptr<TWaveAudioReader> FReader;
};

}  // namespace

namespace {

// WriteTrackFiles; with Wait, each new track is named "NAME (new).wav" until
// the replaced files are gone, then NAME.
// Reads and drops Frames frames of Read (audio left out of the new tracks).
bool PassOver(const TAudioSource& Read, std::int64_t Frames, std::int64_t FrameBytes,
              const std::function<void(std::int64_t)>& Progress, std::int64_t& At,
              std::string& Error) {
  std::vector<std::uint8_t> Buffer(static_cast<std::size_t>(kCopyBytes / FrameBytes * FrameBytes));
  for (std::int64_t Left = Frames * FrameBytes; Left > 0;) {
    const std::int64_t Got =
        Read(Buffer.data(), std::min<std::int64_t>(Left, static_cast<std::int64_t>(Buffer.size())));
    if (Got < 0) {
      if (Error.empty()) Error = "reading failed";
      return false;
    }
    if (Got == 0) break;
    Left -= Got;
    At += Got / FrameBytes;
    if (Progress) Progress(At);
  }
  return true;
}

bool WriteStaged(const TAudioSource& Read, const WAVEFORMATEX& Format, const std::string& Folder,
                 const std::vector<TTrackFile>& Tracks,
                 const std::function<void(std::int64_t)>& Progress, std::string& Error,
                 const std::vector<std::string>& Replaced, bool Wait) {
  std::error_code e;
  fs::create_directories(Folder, e);
  if (e) {
    Error = "cannot create the folder " + Folder + ": " + e.message();
    return false;
  }
  TStagedFiles Staged(Folder);
  std::int64_t At = 0;
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    if (Tracks[i].LeftOut) {
      if (i + 1 == Tracks.size()) break;
      if (!PassOver(Read, Tracks[i].Frames, Format.nBlockAlign, Progress, At, Error)) return false;
      continue;
    }
    TWaveInfoList Info;
    TOtherChunks Chunks;
    WriteWaveTags(Tracks[i].Tags, Info, Chunks);
    const bool Last = i + 1 == Tracks.size();
    const fs::path Name(Tracks[i].Name);
    const std::string Hidden =
        Wait ? Staged.Stage(Name.stem().string() + " (new)" + Name.extension().string(),
                            Tracks[i].Name)
             : Staged.Stage(Tracks[i].Name);
    if (!WriteWav(Hidden, Format, Info, Chunks, Read, Last ? -1 : Tracks[i].Frames, Progress, At,
                  Error) ||
        (!Tracks[i].Markers.empty() && !AppendCueMarkers(Hidden, Tracks[i].Markers, Error)))
      return false;
  }
  return Staged.Commit(Replaced, Error);
}

}  // namespace

bool WriteTrackFiles(const TAudioSource& Read, const WAVEFORMATEX& Format,
                     const std::string& Folder, const std::vector<TTrackFile>& Tracks,
                     const std::function<void(std::int64_t)>& Progress, std::string& Error,
                     const std::vector<std::string>& Replaced) {
  return WriteStaged(Read, Format, Folder, Tracks, Progress, Error, Replaced, false);
}

bool JoinTrackFiles(const std::vector<std::string>& Tracks, const std::string& Side,
                    std::string& Error) {
  if (Tracks.empty()) {
    Error = "no tracks to join";
    return false;
  }
  const std::string Cue = fs::path(Side).replace_extension(".cue").string();
  // A sheet names its file in quotes, which a name cannot hold there.
  if (fs::path(Side).filename().string().find('"') != std::string::npos) {
    Error = Side + ": a cue sheet cannot name a file with '\"' in its name";
    return false;
  }
  TSideSource Source;
  if (!Source.Open(Tracks, Error)) return false;
  for (const std::string& Name : {Side, Cue}) {
    std::error_code e;
    if (fs::exists(Name, e)) {
      Error = Name + " exists";
      return false;
    }
  }
  std::error_code e;
  fs::create_directories(Folder(Side), e);
  if (e) {
    Error = "cannot create the folder " + Folder(Side) + ": " + e.message();
    return false;
  }
  TStagedFiles Staged(Folder(Side));
  // The side keeps the album's fields; each track's own are on the sheet.
  TTrackTags Album;
  Album.SetAlbumFields(Source.Tags(0));
  TWaveInfoList Info;
  TOtherChunks Chunks;
  WriteWaveTags(Album, Info, Chunks);
  std::int64_t At = 0;
  if (!WriteWav(Staged.Stage(fs::path(Side).filename().string()), Source.Record(), Info, Chunks,
                Source.Source(Error), -1, {}, At, Error))
    return false;
  // Each track starts on the sheet where the audio before it ended.
  std::vector<TCueTrack> Sheet;
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    const TTrackTags Tags = Source.Tags(i);
    TCueTrack Track{Tags.Title, i < Source.Starts().size() ? Source.Starts()[i] : At};
    if (Track.Title.empty()) Track.Title = fs::path(Tracks[i]).stem().string();
    if (Tags.Artist != Album.Artist) Track.Performer = Tags.Artist;
    Sheet.push_back(Track);
  }
  const TCueAlbum SheetAlbum{Album.Artist.empty() ? Album.AlbumArtist : Album.Artist, Album.Album,
                             Album.Date, Album.Genre};
  const std::string CueHidden = Staged.Stage(fs::path(Cue).filename().string());
  {
    std::ofstream Out(CueHidden, std::ios::binary | std::ios::trunc);
    Out << CueSheetText(fs::path(Side).filename().string(), Sheet,
                        static_cast<int>(Source.Format().nSamplesPerSec), SheetAlbum);
    Out.close();
    if (!Out) {
      Error = "cannot write " + Cue;
      return false;
    }
  }
  return Staged.Commit({}, Error);
}

bool RewriteSide(const std::vector<std::string>& Tracks, const std::string& Folder,
                 const std::vector<TTrackFile>& New,
                 const std::function<void(std::int64_t)>& Progress, std::string& Error,
                 const TClickOptions* Declick) {
  TSideSource Source;
  if (!Source.Open(Tracks, Error)) return false;
  if (Declick && !TRepairedAudio::Takes(Source.Format())) {
    Error = "clicks are repaired in 16- or 24-bit PCM and 32-bit float tracks only";
    return false;
  }
  // Old files replaced one by one would leave the two sets mixed if the
  // process died between two renames: a name still in use waits for the old
  // set to go.
  auto InUse = [&](const std::string& Name) {
    std::error_code e;
    return std::any_of(Tracks.begin(), Tracks.end(), [&](const std::string& t) {
      return fs::equivalent(t, fs::path(Folder) / Name, e);
    });
  };
  // A name that another file has stops the rewrite before anything changes
  // (the interim names would otherwise find it only once the old set is gone).
  for (const TTrackFile& t : New) {
    if (t.LeftOut) continue;
    std::error_code e;
    const fs::path Path = fs::path(Folder) / t.Name;
    if (fs::exists(Path, e) && !InUse(t.Name)) {
      Error = Path.string() + " exists; nothing was changed";
      return false;
    }
  }
  const bool Wait =
      std::any_of(New.begin(), New.end(), [&](const TTrackFile& t) { return !t.LeftOut && InUse(t.Name); });
  TAudioSource Read = Source.Source(Error);
  std::unique_ptr<TRepairedAudio> Repaired;
  if (Declick) {
    Repaired = std::make_unique<TRepairedAudio>(Read, Source.Format(), *Declick);
    Read = [&](std::uint8_t* Dest, std::int64_t Count) { return Repaired->Read(Dest, Count); };
  }
  return WriteStaged(Read, Source.Record(), Folder, Source.PlaceMarkers(New), Progress, Error,
                     Tracks, Wait);
}

std::string TitledTrackName(int Position, const std::string& Title, int Count) {
  // Characters that FAT and exFAT file systems (the sticks albums are copied
  // to) refuse, besides "/" and control characters; the tag keeps them.
  static const std::string Refused = "/\\:*?\"<>|";
  std::string Safe;
  for (const char c : Title)
    Safe += (Refused.find(c) != std::string::npos || (c >= 0 && c < ' ') || c == 0x7F) ? '_' : c;
  const std::string Number = TrackNumberText(Position, Count) + " ";
  // The name, and the hidden name it is written under first (with " (new)"
  // while an old track has its name), stay within a file name's 255 bytes; the
  // cut falls between whole UTF-8 characters.
  const std::size_t Most =
      255 - kHiddenNameExtra - std::string(" (new).wav").size() - Number.size();
  if (Safe.size() > Most) {
    std::size_t Cut = Most;
    while (Cut > 0 && (static_cast<unsigned char>(Safe[Cut]) & 0xC0) == 0x80) --Cut;
    Safe.resize(Cut);
  }
  return Number + Safe + ".wav";
}

bool TitleTrackFiles(const std::vector<std::string>& Tracks, const std::vector<std::string>& Titles,
                     std::vector<std::string>& Names, std::string& Error, const TTagEdit& Edit) {
  if (Titles.size() != Tracks.size()) {
    Error = std::to_string(Titles.size()) + " titles for " + std::to_string(Tracks.size()) +
            " tracks; nothing was changed";
    return false;
  }
  if (Tracks.empty()) return true;
  const std::string Dir = Folder(Tracks[0]);
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    std::error_code e;
    if (!fs::equivalent(Folder(Tracks[i]), Dir, e)) {
      Error = "the tracks must lie in one folder; nothing was changed";
      return false;
    }
    for (std::size_t j = 0; j < i; ++j)
      if (fs::equivalent(Tracks[i], Tracks[j], e)) {
        Error = Tracks[i] + " is named twice; nothing was changed";
        return false;
      }
  }
  Names.clear();
  for (std::size_t i = 0; i < Tracks.size(); ++i)
    Names.push_back((fs::path(Dir) / TitledTrackName(static_cast<int>(i) + 1, Titles[i],
                                                     static_cast<int>(Tracks.size())))
                        .string());
  return RetitleTrackFiles(Tracks, Names, Titles, Error, Edit);
}

bool RetitleTrackFiles(const std::vector<std::string>& Tracks,
                       const std::vector<std::string>& Names,
                       const std::vector<std::string>& Titles, std::string& Error,
                       const TTagEdit& Edit) {
  std::vector<TTrackTags> Tags;
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    Tags.push_back(TrackTags(Tracks[i]));
    Tags.back().Title = i < Titles.size() ? Titles[i] : "";
  }
  Edit.ApplyTo(Tags);
  return RetagTrackFiles(Tracks, Names, Tags, Error);
}

bool RetagTrackFiles(const std::vector<std::string>& Tracks, const std::vector<std::string>& Names,
                     const std::vector<TTrackTags>& Tags, std::string& Error) {
  if (Tracks.empty()) return true;
  if (Names.size() != Tracks.size() || Tags.size() != Tracks.size()) {
    Error = "the names or tags do not match the tracks; nothing was changed";
    return false;
  }
  const std::string Dir = Folder(Tracks[0]);
  const auto IsTrack = [&](const std::string& n) {
    return std::any_of(Tracks.begin(), Tracks.end(), [&](const std::string& t) {
      std::error_code x;
      return fs::equivalent(t, n, x);
    });
  };
  // A name another file already has stops it here, before anything is written.
  for (const std::string& n : Names) {
    std::error_code e;
    if (fs::exists(n, e) && !IsTrack(n)) {
      Error = n + " exists; nothing was changed";
      return false;
    }
  }
  std::vector<TWaveScan> Scans(Tracks.size());
  bool TitlesOnly = true;
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    std::string Why;
    if (!ScanWaveFile(Tracks[i], Scans[i], Why)) {
      Error = Tracks[i] + ": not a readable WAV file: " + Why + "; nothing was changed";
      return false;
    }
    if (!EveryChunkKept(Scans[i], Tracks[i], Error)) return false;
    TTrackTags Was = ReadWaveTags(Scans[i].Info, Scans[i].OtherChunks);
    Was.Title = Tags[i].Title;
    TitlesOnly &= Was == Tags[i];
  }
  // In place, unless a new name is another track's old one, a tag stands
  // before the audio, or more than the titles change (then the files are
  // written anew and put in place together).
  bool Anew = std::any_of(Scans.begin(), Scans.end(),
                          [](const TWaveScan& Scan) { return Scan.TagBeforeData; });
  for (std::size_t i = 0; i < Tracks.size(); ++i)
    for (std::size_t j = 0; j < Tracks.size(); ++j) {
      std::error_code x;
      Anew |= i != j && fs::equivalent(Tracks[j], Names[i], x);
    }
  if (!Anew && TitlesOnly) {
    RecoverRewrites(Dir);
    std::vector<TRetitle> Files;
    for (std::size_t i = 0; i < Tracks.size(); ++i)
      Files.push_back({Tracks[i], Names[i], Tags[i].Title});
    return RetitleInPlace(Files, Dir, Error);
  }
  TStagedFiles Staged(Dir);
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    TWaveScan Scan = Scans[i];
    WriteWaveTags(Tags[i], Scan.Info, Scan.OtherChunks);
    std::unique_ptr<TWaveAudioReader> Reader;
    try {
      Reader = std::make_unique<TWaveAudioReader>(Tracks[i], *Scan.Format());
    } catch (const std::exception& x) {
      Error = Tracks[i] + ": " + x.what() + "; nothing was changed";
      return false;
    }
    const TAudioSource Read = [&](std::uint8_t* Dest, std::int64_t Count) -> std::int64_t {
      try {
        return Reader->Read(Dest, Count);
      } catch (const std::exception&) {
        return -1;
      }
    };
    if (!WriteLikeScan(Scan, Staged.Stage(fs::path(Names[i]).filename().string()), Read, Error)) {
      Error = Tracks[i] + ": " + Error + "; nothing was changed";
      return false;
    }
  }
  return Staged.Commit(Tracks, Error);
}

bool EveryChunkKept(const TWaveScan& Scan, const std::string& Track, std::string& Error) {
  if (Scan.Unkept.empty()) return true;
  Error = Track + " holds " + Scan.Unkept + ", more than a copy of it keeps; nothing was changed";
  return false;
}

bool WriteLikeScan(const TWaveScan& Scan, const std::string& Name, const TAudioSource& Read,
                   std::string& Error) {
  std::int64_t At = 0;
  return WriteWav(Name, *reinterpret_cast<const WAVEFORMATEX*>(Scan.StoredFormatBytes.data()),
                  Scan.Info, Scan.OtherChunks, Read, -1, {}, At, Error) &&
         (Scan.Markers.empty() || AppendCueMarkers(Name, Scan.Markers, Error));
}

bool KeepOriginals(const std::vector<std::string>& Tracks, const std::string& Folder,
                   std::vector<std::string>& Kept, std::string& Error) {
  for (int n = 1;; ++n) {
    const fs::path Into =
        fs::path(Folder) / (n == 1 ? "Originals" : "Originals " + std::to_string(n));
    std::error_code e;
    const bool Taken = std::any_of(Tracks.begin(), Tracks.end(), [&](const std::string& t) {
      return fs::exists(Into / fs::path(t).filename(), e);
    });
    if (Taken) continue;
    fs::create_directories(Into, e);
    for (const std::string& t : Tracks) {
      const fs::path Link = Into / fs::path(t).filename();
      if (e || ::link(t.c_str(), Link.c_str()) != 0) {
        Error = "the recorded tracks cannot be kept in " + Into.string() + ": " +
                (e ? e.message() : std::string(std::strerror(errno))) + "; nothing was changed";
        DropOriginals(Kept);
        return false;
      }
      Kept.push_back(Link.string());
    }
    return true;
  }
}

void DropOriginals(std::vector<std::string>& Kept) {
  for (const std::string& k : Kept) ::unlink(k.c_str());
  Kept.clear();
}

std::string TrackTitle(const std::string& Track) {
  return TrackTags(Track).Title;
}

TTrackTags TrackTags(const std::string& Track) {
  TWaveScan Scan;
  std::string Error;
  if (!ScanWaveFile(Track, Scan, Error)) return {};
  return ReadWaveTags(Scan.Info, Scan.OtherChunks);
}

void SideTags(const std::vector<std::string>& Old, std::vector<TTrackFile>& New) {
  if (Old.empty()) return;
  const TTrackTags First = TrackTags(Old.front());
  const int Count = static_cast<int>(New.size());
  for (int i = 0; i < Count; ++i) {
    TTrackTags& t = New[static_cast<std::size_t>(i)].Tags;
    t.SetAlbumFields(First);
    if (First.Track > 0) {
      t.Track = First.Track + i;
      t.TrackTotal = First.TrackTotal > 0 ? std::max(First.TrackTotal, First.Track + Count - 1) : 0;
    }
  }
}

}  // namespace velmar
