// The bitmap lists' stream format: the chunk coder on runs, real pictures and
// random bytes, damaged chunks and streams, the list's change protocol, and
// round trips of every pixel depth, plain and compressed.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

#include "controls/bitmap_coder.h"
#include "controls/bitmap_list.h"

namespace velmar {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RoundTrip(const Bytes& Piece) {
  const Bytes Chunk = CompressPiece(Piece.data(), Piece.size());
  EXPECT_LE(Chunk.size(), Piece.size() + 1);
  return DecompressPiece(Chunk.data(), Chunk.size());
}

// A picture with gradients, flat areas and repeats, like the skin's.
TBitmap Picture(int w, int h, int Bits, unsigned Seed) {
  TBitmap Bitmap(w, h, Bits);
  std::mt19937 Random(Seed);  // 32-bit results
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint32_t v = (x * 255 / w) << 16 | (y * 255 / h) << 8 | ((x / 7 + y / 5) % 3) * 60;
      if (Bits == 32) v |= static_cast<std::uint32_t>(Random() & 0xFF) << 24;
      if (Bitmap.Indexed()) v = (x / 3 + y) % (1u << Bits);
      Bitmap.SetRaw(x, y, v);
    }
  if (Bitmap.Indexed())
    for (auto& Entry : Bitmap.Palette()) Entry = static_cast<std::uint32_t>(Random() & 0xFFFFFF);
  return Bitmap;
}

TEST(BitmapCoder, RunsRealPicturesAndRandomBytesRoundTripExactly) {
  // A piece of equal bytes: a handful of run items (8 of 4095, one of 21).
  const Bytes Flat(kBitmapPieceSize, 0x5A);
  const Bytes FlatChunk = CompressPiece(Flat.data(), Flat.size());
  EXPECT_EQ(FlatChunk[0], 64);
  EXPECT_EQ(FlatChunk.size(), 3u + 9 * 4);
  EXPECT_EQ(DecompressPiece(FlatChunk.data(), FlatChunk.size()), Flat);

  // Random bytes do not compress: stored, flag 128, length n + 1.
  Bytes Noise(kBitmapPieceSize);
  std::mt19937 Random(7);
  for (auto& b : Noise) b = static_cast<std::uint8_t>(Random());
  const Bytes NoiseChunk = CompressPiece(Noise.data(), Noise.size());
  EXPECT_EQ(NoiseChunk[0], 128);
  EXPECT_EQ(NoiseChunk.size(), Noise.size() + 1);
  EXPECT_EQ(DecompressPiece(NoiseChunk.data(), NoiseChunk.size()), Noise);

  // The BMP files of real pictures, cut as the list cuts them, and odd sizes.
  for (int Bits : {4, 8, 24, 32}) {
    const Bytes Bmp = SaveBitmapToBMP(Picture(300, 90, Bits, Bits));
    for (std::size_t At = 0; At < Bmp.size(); At += kBitmapPieceSize) {
      const Bytes Piece(Bmp.begin() + At,
                        Bmp.begin() + std::min(Bmp.size(), At + kBitmapPieceSize));
      EXPECT_EQ(RoundTrip(Piece), Piece) << Bits << " bits, piece at " << At;
    }
  }
  for (std::size_t n : {0u, 1u, 2u, 3u, 15u, 16u, 17u, 4095u, 4096u, 4111u}) {
    Bytes Piece(n);
    for (std::size_t i = 0; i < n; ++i)
      Piece[i] = static_cast<std::uint8_t>(i % 5 == 0 ? Random() : i / 40);
    EXPECT_EQ(RoundTrip(Piece), Piece) << n << " bytes";
  }
}

TEST(BitmapCoder, DecodesShortControlWordsAndRejectsDamagedChunks) {
  // Two items under a control word of 16: a literal and a copy one back.
  const Bytes Short = {64, 0x40, 0x00, 'a', 0x00, 0x10};
  EXPECT_EQ(DecompressPiece(Short.data(), Short.size()), Bytes(4, 'a'));

  const std::vector<Bytes> Damaged = {
      {},                               // nothing at all
      {7, 1, 2},                        // unknown flag
      {64, 0x80, 0x00, 0x00, 0x20},     // a copy 2 back with nothing before it
      {64, 0x00, 0x00, 'a', 'b', 'c'},  // fine so far...
      {64, 0x80, 0x00, 0x00},           // a copy item cut short
      {64, 0x80, 0x00, 0x00, 0x0F},     // a run item cut short
  };
  for (std::size_t i = 0; i < Damaged.size(); ++i) {
    if (i == 3) {
      EXPECT_EQ(DecompressPiece(Damaged[i].data(), Damaged[i].size()), (Bytes{'a', 'b', 'c'}));
      continue;
    }
    EXPECT_THROW(DecompressPiece(Damaged[i].data(), Damaged[i].size()), EStreamError)
        << "case " << i;
  }
  // Nine runs of 4095 bytes: more than a piece can hold.
  Bytes TooLong = {64, 0xFF, 0x80};
  for (int i = 0; i < 9; ++i) TooLong.insert(TooLong.end(), {0x00, 0x0F, 0xEF, 0x11});
  EXPECT_THROW(DecompressPiece(TooLong.data(), TooLong.size()), EStreamError);
}

std::string Save(TMMBitmapList& List) {
  std::ostringstream Out;
  List.SaveToStream(Out);
  return Out.str();
}

void Load(TMMBitmapList& List, const std::string& Stream) {
  std::istringstream In(Stream);
  List.LoadFromStream(In);
}

TEST(BitmapList, EveryDepthRoundTripsPlainAndCompressedThroughTheCodingHooks) {
  TMMBitmapList List;
  for (int Bits : {1, 4, 8, 24, 32})
    List.Add(Picture(37 + Bits, 21, Bits, static_cast<unsigned>(Bits)));
  // A large one, cut into several pieces.
  List.Add(Picture(250, 60, 24, 99));
  int Encoded = 0, Decoded = 0, Loaded = 0;
  // The hooks may transform chunks in place: an XOR both ways.
  List.OnEncode = [&](TObject*, char* Buffer, unsigned Length) {
    for (unsigned i = 0; i < Length; ++i) Buffer[i] ^= 0x5A;
    ++Encoded;
  };
  for (bool Compressed : {false, true}) {
    List.SetCompressed(Compressed);
    const std::string Stream = Save(List);
    EXPECT_EQ(Stream.substr(0, 4), Compressed ? "MBMC" : "MBML");
    TMMBitmapList Copy;
    Copy.OnDecode = [&](TObject*, char* Buffer, unsigned Length) {
      for (unsigned i = 0; i < Length; ++i) Buffer[i] ^= 0x5A;
      ++Decoded;
    };
    Copy.OnBmpLoaded = [&](TObject*, TBitmap* Bmp) { Loaded += Bmp->Empty() ? 0 : 1; };
    Load(Copy, Stream);
    ASSERT_EQ(Copy.Count(), List.Count());
    for (int i = 0; i < List.Count(); ++i) EXPECT_TRUE(Copy.Bitmaps(i) == List.Bitmaps(i)) << i;
  }
  EXPECT_EQ(Loaded, 2 * List.Count());
  EXPECT_EQ(Encoded, Decoded);
  EXPECT_GT(Encoded, List.Count());  // the large bitmap took more than one chunk

  // A 108 x 25 picture at 24 bits is an 8154-byte BMP file: one chunk.
  TMMBitmapList Button;
  Button.SetCompressed(true);
  Button.Add(Picture(108, 25, 24, 3));
  EXPECT_EQ(SaveBitmapToBMP(Button.Bitmaps(0)).size(), 8154u);
  const std::string Stream = Save(Button);
  std::uint32_t Total, Chunk;
  std::memcpy(&Total, Stream.data() + 8, 4);
  std::memcpy(&Chunk, Stream.data() + 12, 4);
  EXPECT_EQ(Total, Chunk + 4);
}

TEST(BitmapList, DamagedStreamsRaiseAClearErrorAndLeaveTheListCleared) {
  TMMBitmapList Source;
  Source.Add(Picture(30, 12, 24, 1));
  Source.Add(Picture(30, 12, 8, 2));
  const std::string Plain = Save(Source);
  Source.SetCompressed(true);
  const std::string Packed = Save(Source);

  std::string BadBmp = Plain;
  BadBmp[12] = 'X';  // the first item's "BM"
  std::string HugeCount = Plain;
  HugeCount[7] = 0x7F;
  std::string BadChunk = Packed;
  BadChunk[16] = 99;  // the first chunk's flag
  std::string ChunkPastTotal = Packed;
  ChunkPastTotal[13] = 0x7F;  // a chunk length beyond its item's total
  const std::vector<std::string> Damaged = {"XBML" + Plain.substr(4),
                                            Plain.substr(0, Plain.size() - 9),
                                            BadBmp,
                                            HugeCount,
                                            BadChunk,
                                            ChunkPastTotal,
                                            "MB"};
  for (std::size_t i = 0; i < Damaged.size(); ++i) {
    TMMBitmapList List;
    List.Add(Picture(5, 5, 24, 3));
    int Changes = 0;
    List.OnChange = [&](TObject*) { ++Changes; };
    try {
      Load(List, Damaged[i]);
      ADD_FAILURE() << "case " << i << " loaded";
    } catch (const EStreamError& Error) {
      if (i == 0) {
        EXPECT_STREQ(Error.what(), "Invalid BitmapList stream");
      }
    }
    EXPECT_EQ(List.Count(), 0) << "case " << i;
    EXPECT_EQ(Changes, 1) << "case " << i;  // observers hear of the cleared list once
  }

  // A small stream whose chunks would expand to 2 GB is refused once its item
  // outgrows the largest BMP a list can load (64 MiB of pixels), not after.
  const std::vector<std::uint8_t> Zeros(kBitmapPieceSize, 0);
  const std::vector<std::uint8_t> Chunk = CompressPiece(Zeros.data(), Zeros.size());
  constexpr std::uint32_t kChunks = 65536;
  std::string Bomb = "MBMC";
  auto Put32 = [&](std::uint32_t v) {
    for (int b = 0; b < 4; ++b) Bomb += static_cast<char>(v >> (8 * b));
  };
  Put32(1);
  Put32(kChunks * static_cast<std::uint32_t>(4 + Chunk.size()));
  for (std::uint32_t n = 0; n < kChunks; ++n) {
    Put32(static_cast<std::uint32_t>(Chunk.size()));
    Bomb.append(Chunk.begin(), Chunk.end());
  }
  TMMBitmapList List;
  std::uint32_t Decoded = 0;
  List.OnDecode = [&](TObject*, char*, unsigned) { ++Decoded; };
  EXPECT_THROW(Load(List, Bomb), EStreamError);
  EXPECT_LE(Decoded, (std::size_t{64} << 20) / kBitmapPieceSize + 2);
}

TEST(BitmapList, ChangesReachObserversOncePerUpdateLastAttachedFirstUntilTheListGoes) {
  auto List = std::make_unique<TMMBitmapList>();
  std::vector<std::string> Heard;
  TMMObserver First, Second;
  First.OnNotify = [&](TObject*, TObject*) { Heard.push_back("first"); };
  Second.OnNotify = [&](TObject*, TObject* Data) {
    Heard.push_back(static_cast<TMMBitmapList*>(Data)->HasState(csDestroying) ? "gone" : "second");
  };
  List->Observers().Attach(&First);
  List->Observers().Attach(&Second);
  int Changing = 0;
  List->OnChanging = [&](TObject*) { ++Changing; };
  List->BeginUpdate();
  List->Add(Picture(4, 4, 24, 1));
  List->Add(Picture(4, 4, 24, 2));
  List->Delete(0);
  EXPECT_TRUE(Heard.empty());
  List->EndUpdate();
  EXPECT_EQ(Heard, (std::vector<std::string>{"second", "first"}));
  EXPECT_EQ(Changing, 1);
  List->Insert(0, Picture(2, 2, 24, 3));
  EXPECT_EQ(List->Count(), 2);
  EXPECT_THROW(List->Delete(2), std::out_of_range);
  Heard.clear();
  List.reset();
  EXPECT_EQ(Heard, (std::vector<std::string>{"gone", "first"}));
}

}  // namespace
}  // namespace velmar
