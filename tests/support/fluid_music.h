// Real instruments for tests: pieces written as MIDI here and rendered by
// fluidsynth with the General MIDI sound font, joined into a side with digital
// silence between them. Unlike noise or tones, such music has soft passages,
// notes that decay and gaps inside a phrase: what a rule about silence must
// tell from the silence between pieces.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_data.h"

namespace velmar::test {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

struct MidiNote {
  double Start = 0, Length = 0;  // seconds
  int Pitch = 60, Velocity = 64;
};

// A format 0 MIDI file at 120 beats a minute, 480 ticks a beat (960 a
// second): the programme change, then the notes.
inline Bytes MidiFile(const std::vector<MidiNote>& Notes, int Program) {
  struct Event {
    std::uint32_t Tick;
    bool On;
    std::uint8_t Pitch, Velocity;
  };
  std::vector<Event> Events;
  for (const MidiNote& n : Notes) {
    const auto Tick = [](double s) { return static_cast<std::uint32_t>(s * 960 + 0.5); };
    Events.push_back({Tick(n.Start), true, static_cast<std::uint8_t>(n.Pitch),
                      static_cast<std::uint8_t>(n.Velocity)});
    Events.push_back({Tick(n.Start + n.Length), false, static_cast<std::uint8_t>(n.Pitch), 0});
  }
  std::stable_sort(Events.begin(), Events.end(), [](const Event& a, const Event& b) {
    return a.Tick != b.Tick ? a.Tick < b.Tick : !a.On && b.On;  // offs before ons
  });
  auto Quantity = [](Bytes& b, std::uint32_t v) {
    Bytes Digits{static_cast<std::uint8_t>(v & 0x7F)};
    while (v >>= 7) Digits.insert(Digits.begin(), static_cast<std::uint8_t>((v & 0x7F) | 0x80));
    b.insert(b.end(), Digits.begin(), Digits.end());
  };
  Bytes Track{0x00, 0xFF, 0x51, 0x03, 0x07,
              0xA1, 0x20, 0x00, 0xC0, static_cast<std::uint8_t>(Program)};
  std::uint32_t At = 0;
  for (const Event& e : Events) {
    Quantity(Track, e.Tick - At);
    At = e.Tick;
    Track.insert(Track.end(), {static_cast<std::uint8_t>(e.On ? 0x90 : 0x80), e.Pitch, e.Velocity});
  }
  Track.insert(Track.end(), {0x00, 0xFF, 0x2F, 0x00});
  auto Be = [](Bytes& b, std::uint32_t v, int Width) {
    for (int i = Width - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  Bytes File = Id("MThd");
  Be(File, 6, 4);
  Be(File, 0, 2);
  Be(File, 1, 2);
  Be(File, 480, 2);
  File.insert(File.end(), {'M', 'T', 'r', 'k'});
  Be(File, static_cast<std::uint32_t>(Track.size()), 4);
  File.insert(File.end(), Track.begin(), Track.end());
  return File;
}

// One piece: a legato line of notes 0.6 s apart, each sounding 0.9 s (no rest
// anywhere in it), softer between SoftFrom and SoftTo seconds. Pitches never
// repeat within two notes (a repeat's note-off would cut the new note).
struct Piece {
  int Program = 0;  // 0 piano, 24 nylon guitar, 48 strings
  unsigned Seed = 1;
  double Seconds = 20;
  int Softest = 28, Loudest = 46;  // velocities
  double SoftFrom = 6, SoftTo = 8.5;
  int SoftBy = 16;  // velocity taken off in the soft passage (not under 24)
  std::vector<MidiNote> Notes() const {
    std::mt19937 Random(Seed);
    static const int Scale[] = {60, 62, 64, 65, 67, 69, 71, 72};
    std::vector<MidiNote> n;
    for (double t = 0; t < Seconds; t += 0.6) {
      int Pitch = 0;
      do {
        Pitch = Scale[Random() % 8] - 12 * static_cast<int>(Random() % 2);
      } while ((n.size() > 0 && n.back().Pitch == Pitch) ||
               (n.size() > 1 && n[n.size() - 2].Pitch == Pitch));
      int Velocity = Softest + static_cast<int>(Random() % (Loudest - Softest + 1));
      if (t > SoftFrom && t < SoftTo) Velocity = std::max(24, Velocity - SoftBy);
      n.push_back({t, 0.9, Pitch, Velocity});
    }
    return n;
  }
};

// Renders a piece to 16-bit stereo PCM at 44.1 kHz (no reverb or chorus, so
// that its last note decays to nothing); Gain is fluidsynth's.
inline Bytes RenderPiece(const Piece& p, double Gain = 2.0) {
  TempDir Dir;
  WriteFileBytes(Dir.File("piece.mid"), MidiFile(p.Notes(), p.Program));
  int Status = -1;
  RunCommand("fluidsynth -ni -q -R 0 -C 0 -g " + std::to_string(Gain) +
                 " -r 44100 -O s16 -T wav -F " + Dir.File("piece.wav") + " " + kSoundFont + " " +
                 Dir.File("piece.mid") + " 2>&1",
             &Status);
  if (Status != 0) return {};
  return WavData(Dir.File("piece.wav"));
}

// A side: a lead-in, the pieces with digital silence between them, a run-out.
// Where each piece's music begins and where its last audible sample lies
// (-50 dBFS; byte offsets), so that a test can say whether a cut falls in a gap.
struct MusicSide {
  Bytes Pcm;
  std::vector<std::pair<std::size_t, std::size_t>> Pieces;  // [first, last audible + 4)
  bool Rendered = false;

  // True when Byte lies between two pieces (after the last audible sample of
  // one and at or before the first of the next) or outside the music.
  bool InAGap(std::size_t Byte) const {
    for (const auto& [First, End] : Pieces)
      if (Byte > First && Byte < End) return false;
    return true;
  }
  // The index of the piece that Byte lies in, or -1.
  int PieceAt(std::size_t Byte) const {
    for (std::size_t i = 0; i < Pieces.size(); ++i)
      if (Byte >= Pieces[i].first && Byte < Pieces[i].second) return static_cast<int>(i);
    return -1;
  }
};

inline MusicSide RenderSide(const std::vector<Piece>& Pieces, double LeadIn = 1, double Gap = 3,
                            double RunOut = 10, double Gain = 2.0) {
  MusicSide Side;
  auto Silence = [&](double s) {
    Side.Pcm.resize(Side.Pcm.size() + static_cast<std::size_t>(s * 44100) * 4);
  };
  Silence(LeadIn);
  for (std::size_t i = 0; i < Pieces.size(); ++i) {
    if (i > 0) Silence(Gap);
    const Bytes Music = RenderPiece(Pieces[i], Gain);
    if (Music.empty()) return Side;
    std::size_t Last = 0;  // the last frame with a sample over -50 dBFS
    for (std::size_t f = 0; f < Music.size() / 4; ++f)
      for (int c = 0; c < 2; ++c) {
        const auto v =
            static_cast<std::int16_t>(Music[4 * f + 2 * c] | Music[4 * f + 2 * c + 1] << 8);
        if (std::abs(v) > 104) Last = f;
      }
    Side.Pieces.emplace_back(Side.Pcm.size(), Side.Pcm.size() + 4 * (Last + 1));
    Side.Pcm.insert(Side.Pcm.end(), Music.begin(), Music.end());
  }
  Silence(RunOut);
  Side.Rendered = true;
  return Side;
}

// A 16-bit stereo 44.1 kHz WAV file of Pcm.
inline Bytes CdWav(const Bytes& Pcm) {
  return Chunk("RIFF", [&] {
    Bytes Body = Id("WAVE");
    const Bytes Fmt = Chunk("fmt ", FmtBody(1, 2, 44100, 176400, 4, 16, false));
    const Bytes Data = Chunk("data", Pcm);
    Body.insert(Body.end(), Fmt.begin(), Fmt.end());
    Body.insert(Body.end(), Data.begin(), Data.end());
    return Body;
  }());
}

// Soft piano: every piece has a quiet passage just after the minimum length
// (7 s) that is still music: no 8 buffers in a row under the noise gate.
inline std::vector<Piece> PianoSide() {
  return {{.Seed = 1, .Seconds = 13}, {.Seed = 2, .Seconds = 13}, {.Seed = 3, .Seconds = 13}};
}
// A plucked guitar (every note decays), strings, and a piano piece whose soft
// passage comes later.
inline std::vector<Piece> MixedSide() {
  return {{.Program = 24, .Seed = 4, .Seconds = 16},
          {.Program = 48, .Seed = 5, .Seconds = 14, .SoftFrom = 7, .SoftTo = 10},
          {.Seed = 6, .Seconds = 18, .SoftFrom = 11, .SoftTo = 14}};
}

// Songs with silences inside them (2.5 s and 2.2 s) longer than the 1.2 s
// gaps between songs: a piano piece and a guitar one, strings, two piano
// pieces; a 1.5 s lead-in, a 4 s run-out. Each song's first sample and last
// audible one (-50 dBFS), in seconds.
struct SongSide {
  Bytes Pcm;
  std::vector<std::pair<double, double>> Music;
  bool Rendered = false;
  static constexpr const char* kTitles[] = {"Morning Walk", "Strings at Noon", "Evening"};

  // A sleeve's listing of it as side A: each track from its song's start to
  // the next one's (the last to a second after its music), off by Off seconds.
  std::string Listing(const std::vector<double>& Off) const {
    std::string Text = "Side A\n";
    for (std::size_t i = 0; i < Music.size(); ++i) {
      const double End = i + 1 < Music.size() ? Music[i + 1].first : Music[i].second + 1;
      const long Seconds = std::lround(End - Music[i].first + Off[i]);
      Text += "A" + std::to_string(i + 1) + "\t" + kTitles[i] + "\t" +
              std::to_string(Seconds / 60) + ":" + (Seconds % 60 < 10 ? "0" : "") +
              std::to_string(Seconds % 60) + "\n";
    }
    return Text;
  }
};

inline SongSide RenderSongSide() {
  const std::vector<std::vector<Piece>> Songs = {
      {{.Seed = 7, .Seconds = 12}, {.Program = 24, .Seed = 8, .Seconds = 8}},
      {{.Program = 48, .Seed = 9, .Seconds = 14}},
      {{.Seed = 10, .Seconds = 10}, {.Seed = 11, .Seconds = 9}}};
  const double Inside[] = {2.5, 0, 2.2};
  SongSide Side;
  auto Silence = [&](double Seconds) {
    Side.Pcm.resize(Side.Pcm.size() + static_cast<std::size_t>(Seconds * 44100) * 4);
  };
  Silence(1.5);
  for (std::size_t i = 0; i < Songs.size(); ++i) {
    if (i > 0) Silence(1.2);
    const double First = static_cast<double>(Side.Pcm.size()) / 176400;
    for (std::size_t k = 0; k < Songs[i].size(); ++k) {
      if (k > 0) Silence(Inside[i]);
      const Bytes Music = RenderPiece(Songs[i][k]);
      if (Music.empty()) return Side;
      Side.Pcm.insert(Side.Pcm.end(), Music.begin(), Music.end());
    }
    std::size_t Last = Side.Pcm.size() / 4;
    const auto Sample = [&](std::size_t f) {
      return std::abs(static_cast<std::int16_t>(Side.Pcm[4 * f] | Side.Pcm[4 * f + 1] << 8));
    };
    while (Last > 0 && Sample(Last - 1) <= 104) --Last;
    Side.Music.emplace_back(First, static_cast<double>(Last) / 44100);
  }
  Silence(4);
  Side.Rendered = true;
  return Side;
}

// The tracks in a folder, in order.
inline std::vector<Bytes> TracksIn(const std::string& Folder) {
  std::vector<std::string> Names;
  for (const auto& e : std::filesystem::directory_iterator(Folder))
    if (e.path().extension() == ".wav") Names.push_back(e.path().string());
  std::sort(Names.begin(), Names.end());
  std::vector<Bytes> Audio;
  for (const std::string& n : Names) Audio.push_back(WavData(n));
  return Audio;
}

inline bool HoldsMusic(const Bytes& Pcm) {
  for (std::size_t i = 0; i + 1 < Pcm.size(); i += 2)
    if (std::abs(static_cast<std::int16_t>(Pcm[i] | Pcm[i + 1] << 8)) > 104) return true;
  return false;
}

inline std::size_t FirstSound(const Bytes& Pcm) {
  return static_cast<std::size_t>(
             std::find_if(Pcm.begin(), Pcm.end(), [](std::uint8_t b) { return b != 0; }) -
             Pcm.begin()) /
         4 * 4;
}

// Checks a recording of Side made of Recorded tracks: the tracks joined are
// the side bit for bit from where the recording's first sound lies; one track
// per piece; every cut in a gap; the last piece recorded whole.
inline void ExpectOneTrackPerPiece(const MusicSide& Side, const std::vector<Bytes>& Recorded,
                                   const std::string& Said) {
  Bytes Joined;
  std::vector<std::size_t> Cuts;
  for (const Bytes& t : Recorded) {
    if (!Joined.empty()) Cuts.push_back(Joined.size());
    Joined.insert(Joined.end(), t.begin(), t.end());
  }
  ASSERT_FALSE(Joined.empty()) << Said;
  // Where the side's first sound lies in the recording.
  const std::size_t SideFirst = FirstSound(Side.Pcm), Offset = FirstSound(Joined);
  ASSERT_LT(Offset, Joined.size()) << "nothing was heard; " << Said;
  const std::size_t Kept = std::min(Joined.size() - Offset, Side.Pcm.size() - SideFirst);
  EXPECT_TRUE(std::equal(Joined.begin() + static_cast<std::ptrdiff_t>(Offset),
                         Joined.begin() + static_cast<std::ptrdiff_t>(Offset + Kept),
                         Side.Pcm.begin() + static_cast<std::ptrdiff_t>(SideFirst)))
      << "the tracks differ from the side; " << Said;
  EXPECT_GE(SideFirst + Kept, Side.Pieces.back().second)
      << "the recording ended before the last piece did; " << Said;
  for (std::size_t Cut : Cuts) {
    const std::size_t At = Cut + SideFirst - std::min(Cut + SideFirst, Offset);
    EXPECT_TRUE(Side.InAGap(At)) << "a cut at " << static_cast<double>(At / 4) / 44100
                                 << " s of the side lies in piece " << Side.PieceAt(At) + 1 << "; "
                                 << Said;
  }
  const auto WithMusic = std::count_if(Recorded.begin(), Recorded.end(), HoldsMusic);
  EXPECT_EQ(static_cast<std::size_t>(WithMusic), Side.Pieces.size()) << Said;
}

}  // namespace velmar::test
