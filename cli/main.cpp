// velmar-rec: the recorder on the command line.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/commands.h"

namespace {

struct TCommandHelp {
  const char* Name;
  const char* Text;
};

// Each command's synopsis, what it does and its options; "help" shows them all.
constexpr TCommandHelp kCommands[] = {
    {"record",
     "  velmar-rec record [-o DIR] [-d N] [-n N] [--time-gate N] [--min-length S]\n"
     "                    [--no-auto-split] [--keep-going] [--side-end S] [--duration S]\n"
     "                    [--tracks N] [--wait-for-sound [--pre-roll S]] [--wait-for-input S]\n"
     "                    [--rate HZ] [--bits 16|24]\n"
     "    Records an input device (44100 Hz, 16 bit, stereo unless --rate and --bits\n"
     "    say otherwise) into numbered tracks,\n"
     "    Track01.wav, Track02.wav, ..., after the highest track already in the folder.\n"
     "    A track ends when, after the minimum length, the input stays below the noise\n"
     "    gate for the time gate; the next track goes on from the very next sample. A\n"
     "    track also ends where a WAV file can take no more (about 3 h 22 min) and the\n"
     "    next goes on. Silence before the minimum length ends the recording (said in\n"
     "    one line), unless --keep-going. A track file is only ever created new: when\n"
     "    another program takes a number, the next free one is used. Ctrl-C ends the\n"
     "    recording (status 0); an input gone past --wait-for-input ends it with status 2.\n"
     "    Each track's line counts its clipped samples (at full scale; a run counts\n"
     "    each sample), which the track keeps as cue points; the end gives the loudest\n"
     "    peak and how far to move the input level (peaks of -6 to -3 dBFS are the aim).\n"
     "      -o, --out DIR       folder of the tracks (default: the current folder)\n"
     "      -d, --device N      device number from 'devices' (-1: the default; default 0)\n"
     "      -n, --noise-gate N  0..100: quiet is under 16 x N / time gate as the average\n"
     "                          sample (default 25 = -56 dBFS at time gate 8; 0 never)\n"
     "      --time-gate N       buffers of about 46 ms each, 2..20 (default 8)\n"
     "      --min-length S      seconds, 1..180 (default 7)\n"
     "      --no-auto-split     one long take: it ends only by --duration, --tracks,\n"
     "                          --side-end (which still ends it) or Ctrl-C\n"
     "      --keep-going        silence before the minimum length starts the next track\n"
     "      --side-end S        the recording ends after S seconds of silence, 1..3600;\n"
     "                          shorter pauses go on into the track after them\n"
     "      --wait-for-sound    no track until the input passes the noise gate; the lead-in\n"
     "                          goes nowhere and counts for nothing\n"
     "      --pre-roll S        with --wait-for-sound: the track starts S seconds before\n"
     "                          the first sound, 0..10 (default 1)\n"
     "      --duration S        stop after S seconds of audio (at least one frame)\n"
     "      --tracks N          stop after N tracks, 1..9999\n"
     "      --wait-for-input S  an input that goes away (a source removed, a device\n"
     "                          unplugged) is waited for S seconds, 0..86400 (default\n"
     "                          300); back, it goes on in the same track, the absence\n"
     "                          kept as a cue point; 0: the recording ends at once\n"
     "      --rate HZ           44100 (default), 48000, 88200 or 96000\n"
     "      --bits N            16 (default) or 24; tracks of 24 bits have the extensible\n"
     "                          header. The rule measures the same time and dBFS at every\n"
     "                          format. A device that cannot give the format is refused,\n"
     "                          naming what it gives: nothing is converted\n"},
    {"split",
     "  velmar-rec split INPUT.wav [-o DIR] [-n N] [--time-gate N] [--min-length S]\n"
     "                   [--tracks N | --cue SIDE.cue | --listing FILE [--side X]] [--dry-run]\n"
     "    Splits a recording into tracks by the same rule, every sample into a track.\n"
     "    Reads WAV files of any length (RIFF up to 4 GiB, RF64 beyond). The rule\n"
     "    listens at 44100 Hz 16-bit stereo; the tracks keep the side's own samples and\n"
     "    format (compressed formats become 16-bit PCM, said in one line). An\n"
     "    interrupted split says how far it got (status 2).\n"
     "      -o, --out DIR       folder of the tracks (default: the current folder)\n"
     "      -n, --noise-gate N  0..100: quiet is under 16 x N / time gate as the average\n"
     "                          sample (default 25 = -56 dBFS at time gate 8; 0 never)\n"
     "      --time-gate N       buffers of about 46 ms each, 2..20 (default 8)\n"
     "      --min-length S      seconds, 1..180 (default 7)\n"
     "      --tracks N          exactly N tracks, cut in the middle of the N-1 longest\n"
     "                          quiet gaps (quiet by the gates, or 20 dB under the\n"
     "                          20 s around, as a record's hiss is; tracks of the\n"
     "                          minimum length at least); when there are fewer gaps,\n"
     "                          nothing is written and the gate that finds them is said\n"
     "      --cue SIDE.cue      cut at the sheet's INDEX 01 points; the tracks take its\n"
     "                          titles, performers, album TITLE, REM DATE, REM GENRE\n"
     "                          and its track numbers\n"
     "      --listing FILE      the side's track listing: text as pasted from a web page\n"
     "                          or typed (\"A1 Title 3:12\", \"1. Title (3:12)\", \"Title -\n"
     "                          3:12\"), a cue sheet, or a release in MusicBrainz's JSON.\n"
     "                          Its lengths, scaled to the side's sound, say where each\n"
     "                          track ends; the cut goes to the quiet gap nearest that\n"
     "                          place (a few seconds at most; else to the place itself,\n"
     "                          said). Lead-in and run-out are left out; the tracks take\n"
     "                          the titles, numbers, artists and album\n"
     "      --side X            with --listing: which side (A, B...) or medium (1, 2...);\n"
     "                          default the first\n"
     "      --dry-run           list each track's start, end and length; write nothing\n"},
    {"join",
     "  velmar-rec join TRACK.wav... -o SIDE.wav\n"
     "    Joins tracks of one format into one file, their audio as it is, and writes\n"
     "    SIDE.cue beside it (each track's title, else its file name, and its start;\n"
     "    the album's performer, title, date and genre). Never replaces a file.\n"},
    {"titles",
     "  velmar-rec titles TITLES.txt TRACK.wav...\n"
     "    The n-th non-empty line is the n-th track's title: stored in the file and\n"
     "    its name, \"NN Title.wav\". The count must match; never replaces another file;\n"
     "    the tracks change all together or not at all. The file may start with\n"
     "    'Artist: ...', 'Album: ...', 'Album Artist: ...', 'Date: ...', 'Genre: ...',\n"
     "    'Comment: ...' and 'Disc: N/M' lines, which every track gets.\n"},
    {"tags",
     "  velmar-rec tags [--artist A] [--album B] [--album-artist C] [--date D]\n"
     "                  [--genre G] [--comment T] [--disc N[/M]] [--cover FILE]\n"
     "                  [--numbers] TRACK.wav...\n"
     "    Sets the album's fields in every track (the others stay; an empty value\n"
     "    clears one): kept in the WAV's INFO list and an ID3v2 chunk, and carried\n"
     "    into FLAC and MP3 files. --cover takes a JPEG or PNG file of up to 16 MB;\n"
     "    --numbers numbers the tracks 1/N..N/N in their order. Each folder's tracks\n"
     "    change all together or not at all.\n"},
    {"declick",
     "  velmar-rec declick [--strength N] [--dry-run] [--map FILE.csv] TRACK.wav... -o FOLDER\n"
     "    Repairs a record's clicks: each track is written with the same name, format,\n"
     "    chunks and tags into FOLDER (not the tracks' own: the recorded tracks stay),\n"
     "    all together or none. A line per track: clicks found, samples changed, the\n"
     "    longest repair.\n"
     "      --strength N        how readily a spike is a click, 1..10 (default 5)\n"
     "      --dry-run           write nothing; list each click (time, channel, length,\n"
     "                          size above the music around it)\n"
     "      --map FILE.csv      every repaired span: track, start frame, length,\n"
     "                          channel, size in dB\n"},
    {"play",
     "  velmar-rec play FILE.wav [-d N]\n"
     "    Plays a file to an output device until its end or Ctrl-C.\n"
     "      -d, --device N      device number from 'devices' (-1: the default; default 0)\n"},
    {"info",
     "  velmar-rec info FILE.wav\n"
     "    Format, frames, bytes and duration, as 'key: value' lines; 'truncated: yes'\n"
     "    when the header claims more audio than the file holds.\n"},
    {"repair",
     "  velmar-rec repair FILE.wav...\n"
     "    Mends WAV files that a crash left with wrong sizes (recording mends the tracks\n"
     "    of its folder by itself); files that are fine are left as they are.\n"},
    {"gate",
     "  velmar-rec gate [-d N] [--time-gate N] [--seconds S] [--rate HZ] [--bits 16|24]\n"
     "    Listens to the input's quiet for S seconds (default 3: a record's run-in\n"
     "    groove, a tape's hiss, nothing playing) and prints the noise gate 6 dB above\n"
     "    its loudest stretch: the value to pass with -n and the same --time-gate.\n"
     "      -d, --device N      device number from 'devices' (-1: the default; default 0)\n"
     "      --time-gate N       buffers of about 46 ms each, 2..20 (default 8)\n"
     "      --seconds S         how long to listen, 1..60 (default 3)\n"
     "      --rate HZ, --bits N the format to listen at, as for record\n"},
    {"listing",
     "  velmar-rec listing --artist A --album T | --barcode N\n"
     "  velmar-rec listing --release ID [-o FILE]\n"
     "    Looks up a side's track listing in the MusicBrainz web service: the releases\n"
     "    found (their ids first), then the chosen release saved as JSON for\n"
     "    'split --listing FILE --side A' (which side is said). One request a second,\n"
     "    as the service asks; VELMAR_MUSICBRAINZ names another server.\n"
     "      -o, --out FILE      where the release goes (default: standard output)\n"},
    {"devices", "  velmar-rec devices\n    The input and output devices with their numbers.\n"},
};

// The command being run: a usage error shows its help only.
std::string Running;

void PrintHelp(std::FILE* To, const std::string& Only) {
  std::fprintf(To, "Usage:\n");
  for (const TCommandHelp& c : kCommands)
    if (Only.empty() || Only == c.Name) std::fprintf(To, "%s", c.Text);
  if (Only.empty())
    std::fprintf(To,
                 "  velmar-rec help | version | COMMAND --help\n\n"
                 "Options take their value as '--opt value' or '--opt=value'. Exit status: 0 on\n"
                 "success, 2 for a usage error, a failure or an interrupted split.\n");
}

}  // namespace

namespace velmar::cli {

int UsageError(const std::string& Message) {
  std::fprintf(stderr, "velmar-rec: %s\n\n", Message.c_str());
  PrintHelp(stderr, Running);
  return 2;
}

}  // namespace velmar::cli

int main(int argc, char** argv) {
  using namespace velmar::cli;
  const std::string Command = argc > 1 ? argv[1] : "help";
  const TArgs Args(argv + std::min(argc, 2), argv + argc);
  if (Command == "help" || Command == "--help" || Command == "-h") {
    PrintHelp(stdout, Args.empty() ? std::string() : Args[0]);
    return 0;
  }
  if (Command == "version" || Command == "--version") {
    std::printf("velmar-rec %s\n", VELMAR_VERSION);
    return 0;
  }
  const bool Known = std::any_of(std::begin(kCommands), std::end(kCommands),
                                 [&](const TCommandHelp& c) { return Command == c.Name; });
  if (!Known) {  // one line, not every command's help
    std::fprintf(stderr, "velmar-rec: unknown command '%s' (velmar-rec help lists the commands)\n",
                 Command.c_str());
    return 2;
  }
  Running = Command;
  if (std::find_if(Args.begin(), Args.end(),
                   [](const std::string& a) { return a == "--help" || a == "-h"; }) != Args.end()) {
    PrintHelp(stdout, Command);
    return 0;
  }
  if (Command == "record") return RecordCommand(Args);
  if (Command == "split") return SplitCommand(Args);
  if (Command == "play") return PlayCommand(Args);
  if (Command == "info") return InfoCommand(Args);
  if (Command == "devices") return DevicesCommand(Args);
  if (Command == "join") return JoinCommand(Args);
  if (Command == "titles") return TitlesCommand(Args);
  if (Command == "tags") return TagsCommand(Args);
  if (Command == "declick") return DeclickCommand(Args);
  if (Command == "gate") return GateCommand(Args);
  if (Command == "listing") return ListingCommand(Args);
  return RepairCommand(Args);
}
