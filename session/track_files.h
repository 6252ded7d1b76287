// Fixing a side's tracks after recording, on files: writing tracks cut from a
// side, joining tracks into one side with its cue sheet, and titling tracks.
// The audio is copied as it is (joining the tracks of a side gives back the
// side sample for sample), and nothing is replaced or half written:
//
// A set of new files is put in place as TStagedFiles does: a crash at any
// step leaves one whole set once RecoverRewrites has seen the folder.
//
// Threads: any one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/wave/wave_format_ex.h"
#include "restore/click_repair.h"
#include "session/staged_files.h"
#include "session/tag_edit.h"
#include "wavefile/cue_markers.h"
#include "wavefile/riff_info.h"
#include "wavefile/wave_tags.h"

namespace velmar {

// Audio of one format from its start: fills Dest with up to Count bytes,
// returns them, 0 at the end, -1 after an error (said by the reader).
using TAudioSource = std::function<std::int64_t(std::uint8_t* Dest, std::int64_t Count)>;

// One track to write: its file name in the folder, its tags (title, album
// fields: see wave_tags.h), its length in frames (the last one: to the end)
// and the labelled places it keeps (dropouts while recording), at frames in it.
// A track LeftOut is audio passed over: read, and written to no file.
struct TTrackFile {
  std::string Name;
  TTrackTags Tags;
  std::int64_t Frames = 0;
  std::vector<TCueMarker> Markers;
  bool LeftOut = false;
};

// Writes Read's audio (of Format) into Tracks in Folder, in order and without
// a gap; false with Error when reading or writing fails or a name is taken
// (nothing is left behind then). Progress (may be empty) gets the frames done.
// Replaced: files that go once the new ones are in place.
bool WriteTrackFiles(const TAudioSource& Read, const WAVEFORMATEX& Format,
                     const std::string& Folder, const std::vector<TTrackFile>& Tracks,
                     const std::function<void(std::int64_t)>& Progress, std::string& Error,
                     const std::vector<std::string>& Replaced = {});

// Writes the side that Tracks make (one format, in order) anew as New in
// Folder, and then removes Tracks: whatever happens, one set is whole. The
// old tracks' labelled places go with their audio into the new tracks (their
// tags are what New says: see SideTags). When a
// new name is an old track's, the new set is put in place as "NAME (new).wav"
// first and renamed once the old set is gone. Progress (may be empty) gets
// the frames written.
// With Declick, the audio passes through the click repair on its way.
bool RewriteSide(const std::vector<std::string>& Tracks, const std::string& Folder,
                 const std::vector<TTrackFile>& New,
                 const std::function<void(std::int64_t)>& Progress, std::string& Error,
                 const TClickOptions* Declick = nullptr);

// Joins the tracks' audio into Side (a new file) and writes the cue sheet of
// Side with the extension ".cue" beside it: each track's title is its INFO
// title, else its file name without the extension; the album's fields (the
// first track's) go into the sheet and Side. The tracks must share one
// format; otherwise, or when Side or the sheet exists, false with Error
// naming the file, and nothing written.
bool JoinTrackFiles(const std::vector<std::string>& Tracks, const std::string& Side,
                    std::string& Error);

// The file name a title gives at Position (1-based) of Count tracks: "NN
// Title.wav" (as many digits as Count has, at least two), with the characters
// a file name cannot hold on the usual file systems replaced by "_", cut to
// fit the name limit with room for a hidden name's extra bytes.
std::string TitledTrackName(int Position, const std::string& Title, int Count = 0);

// Gives each of Tracks its title, and the name TitledTrackName(i + 1,
// Titles[i]) in its folder, and the changes Edit makes to the tags of all.
// Titles and Tracks must match in number; a name that another file has
// stops it before anything changes. Names: the new paths.
bool TitleTrackFiles(const std::vector<std::string>& Tracks, const std::vector<std::string>& Titles,
                     std::vector<std::string>& Names, std::string& Error,
                     const TTagEdit& Edit = {});

// Gives each of Tracks (in one folder) the title Titles[i], the changes Edit
// makes to the other tags, and the name Names[i] (paths), all or nothing, as
// RetagTrackFiles.
bool RetitleTrackFiles(const std::vector<std::string>& Tracks,
                       const std::vector<std::string>& Names,
                       const std::vector<std::string>& Titles, std::string& Error,
                       const TTagEdit& Edit = {});

// Gives each of Tracks (in one folder) the tags Tags[i] and the name Names[i]
// (paths), all or nothing. Where only titles and names change, the files are
// titled and renamed in place; otherwise (other fields, or a new name that is
// another track's old one) they are written anew, audio, labelled places and
// other chunks as they were, and put in place together. A name that another
// file has stops it before anything changes.
bool RetagTrackFiles(const std::vector<std::string>& Tracks, const std::vector<std::string>& Names,
                     const std::vector<TTrackTags>& Tags, std::string& Error);

// False, with Error saying so, when Scan of Track found a chunk it could not
// keep: a copy of the file would lose it, so it is not rewritten.
bool EveryChunkKept(const struct TWaveScan& Scan, const std::string& Track, std::string& Error);

// Writes the WAV file Name as Scan's file is (its format record as stored,
// INFO list, other chunks and labelled places) with the audio Read gives;
// false with Error (nothing left behind then).
bool WriteLikeScan(const struct TWaveScan& Scan, const std::string& Name, const TAudioSource& Read,
                   std::string& Error);

// Keeps Tracks (one folder's) as they are before a rewrite changes their
// samples: linked into the folder "Originals" of Folder ("Originals 2", ...
// when it holds one of their names already), so that the rewrite removing
// them leaves them there. Kept gets the links; false with Error, and none
// left, when it cannot. DropOriginals takes the links back (a rewrite failed).
bool KeepOriginals(const std::vector<std::string>& Tracks, const std::string& Folder,
                   std::vector<std::string>& Kept, std::string& Error);
void DropOriginals(std::vector<std::string>& Kept);

// Reads the INFO title of a WAV file ("" when it has none or cannot be read).
std::string TrackTitle(const std::string& Track);
// Reads the tags of a WAV file (none when it cannot be read).
TTrackTags TrackTags(const std::string& Track);

// The tags for New, tracks cut anew from the side that Old make: each keeps
// its title and takes the album fields of Old's first track; numbered from
// that track's number on when it has one (the total grown to hold them).
void SideTags(const std::vector<std::string>& Old, std::vector<TTrackFile>& New);

}  // namespace velmar
