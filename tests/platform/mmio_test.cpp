#include "platform/mmio/mmio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

namespace velmar {
namespace {

using test::ReadFileBytes;
using test::TempDir;

// Random reads, writes and seeks through buffers of several sizes must behave
// exactly like a plain byte array.
TEST(Mmio, BufferedIoMatchesAPlainFileModel) {
  for (std::int32_t BufferSize : {0, 7, 64, 8192}) {
    TempDir Dir;
    const std::string Name = Dir.File("model.bin");
    HMMIO h = mmioOpen(Name.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioSetBuffer(h, nullptr, BufferSize, 0), MMSYSERR_NOERROR);
    std::vector<std::uint8_t> Model;
    std::int64_t Pos = 0;
    std::mt19937 Random(static_cast<unsigned>(BufferSize) + 1);
    for (int Step = 0; Step < 3000; ++Step) {
      const int What = static_cast<int>(Random() % 10);
      const auto Length = static_cast<std::int32_t>(Random() % 200);
      if (What < 4) {  // write
        std::vector<std::uint8_t> Data(static_cast<size_t>(Length));
        for (auto& b : Data) b = static_cast<std::uint8_t>(Random());
        ASSERT_EQ(mmioWrite(h, Data.data(), Length), Length);
        if (Model.size() < static_cast<size_t>(Pos + Length))
          Model.resize(static_cast<size_t>(Pos + Length));
        if (Length > 0) std::memcpy(Model.data() + Pos, Data.data(), Data.size());
        Pos += Length;
      } else if (What < 7) {  // read
        std::vector<std::uint8_t> Got(static_cast<size_t>(Length));
        const std::int64_t Expect = std::max<std::int64_t>(
            0, std::min<std::int64_t>(Length, static_cast<std::int64_t>(Model.size()) - Pos));
        ASSERT_EQ(mmioRead(h, Got.data(), Length), Expect) << "step " << Step;
        if (Expect > 0) {
          ASSERT_EQ(0, std::memcmp(Got.data(), Model.data() + Pos, static_cast<size_t>(Expect)));
        }
        Pos += Expect;
      } else if (What < 9) {  // seek from start, current or end
        const int Origin = static_cast<int>(Random() % 3);
        const std::int64_t Base = Origin == 0   ? 0
                                  : Origin == 1 ? Pos
                                                : static_cast<std::int64_t>(Model.size());
        const std::int64_t Target = static_cast<std::int64_t>(Random() % (Model.size() + 50));
        ASSERT_EQ(mmioSeek(h, Target - Base, Origin), Target);
        Pos = Target;
      } else {
        ASSERT_EQ(mmioFlush(h, 0), MMSYSERR_NOERROR);
      }
    }
    ASSERT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(ReadFileBytes(Name), Model) << "buffer " << BufferSize;
  }
}

TEST(Mmio, ChunksPatchSizesAndPadOddLengths) {
  TempDir Dir;
  const std::string Name = Dir.File("chunks.riff");
  HMMIO h = mmioOpen(Name.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
  ASSERT_NE(h, nullptr);
  MMCKINFO Riff{}, Odd{}, List{}, Inner{};
  Riff.fccType = mmioFOURCC('T', 'E', 'S', 'T');
  Odd.ckid = mmioFOURCC('o', 'd', 'd', ' ');
  List.fccType = mmioFOURCC('I', 'N', 'F', 'O');
  Inner.ckid = mmioFOURCC('I', 'N', 'A', 'M');
  ASSERT_EQ(mmioCreateChunk(h, &Riff, MMIO_CREATERIFF), MMSYSERR_NOERROR);
  ASSERT_EQ(Riff.dwDataOffset, 8u);
  ASSERT_EQ(mmioCreateChunk(h, &Odd, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioWrite(h, "abc", 3), 3);
  ASSERT_EQ(mmioAscend(h, &Odd, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(Odd.cksize, 3u);
  ASSERT_EQ(mmioCreateChunk(h, &List, MMIO_CREATELIST), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioCreateChunk(h, &Inner, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioWrite(h, "x", 2), 2);
  ASSERT_EQ(mmioAscend(h, &Inner, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioAscend(h, &List, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioAscend(h, &Riff, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

  const std::vector<std::uint8_t> Expected = {
      'R', 'I', 'F', 'F', 38, 0, 0, 0, 'T', 'E', 'S', 'T',  //
      'o', 'd', 'd', ' ', 3,  0, 0, 0, 'a', 'b', 'c', 0,    // padded
      'L', 'I', 'S', 'T', 14, 0, 0, 0, 'I', 'N', 'F', 'O',  //
      'I', 'N', 'A', 'M', 2,  0, 0, 0, 'x', 0};
  EXPECT_EQ(ReadFileBytes(Name), Expected);

  // Descending walks the same structure back.
  h = mmioOpen(Name.c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
  MMCKINFO Back{}, Sub{};
  ASSERT_EQ(mmioDescend(h, &Back, nullptr, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(Back.fccType, mmioFOURCC('T', 'E', 'S', 'T'));
  EXPECT_EQ(Back.cksize, 38u);
  ASSERT_EQ(mmioDescend(h, &Sub, &Back, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(Sub.ckid, mmioFOURCC('o', 'd', 'd', ' '));
  ASSERT_EQ(mmioAscend(h, &Sub, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_FROM_CURRENT), 24);  // past the pad byte
  ASSERT_EQ(mmioDescend(h, &Sub, &Back, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(Sub.ckid, FOURCC_LIST);
  EXPECT_EQ(Sub.fccType, mmioFOURCC('I', 'N', 'F', 'O'));
  ASSERT_EQ(mmioAscend(h, &Sub, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(mmioDescend(h, &Sub, &Back, 0), MMIOERR_CHUNKNOTFOUND);  // end of file
  mmioClose(h, 0);
}

TEST(Mmio, CheckModesAndBadHandles) {
  TempDir Dir;
  const std::string Name = Dir.File("there.bin");
  test::WriteFileBytes(Name, {1, 2, 3});
  EXPECT_NE(mmioOpen(Name.c_str(), nullptr, MMIO_EXIST), nullptr);
  EXPECT_EQ(mmioOpen(Dir.File("missing").c_str(), nullptr, MMIO_EXIST), nullptr);
  EXPECT_NE(mmioOpen(Dir.File("missing").c_str(), nullptr, MMIO_PARSE), nullptr);
  EXPECT_EQ(mmioOpen("", nullptr, MMIO_PARSE), nullptr);
  EXPECT_EQ(mmioOpen(std::string(300, 'n').c_str(), nullptr, MMIO_PARSE), nullptr);
  HMMIO Passed = mmioOpen(Name.c_str(), nullptr, MMIO_DELETE);
  EXPECT_EQ(Passed, MMIO_CHECK_PASSED);
  EXPECT_EQ(mmioOpen(Name.c_str(), nullptr, MMIO_EXIST), nullptr);
  char b;
  EXPECT_EQ(mmioRead(Passed, &b, 1), -1);  // a check result carries no file
  EXPECT_EQ(mmioClose(Passed, 0), MMSYSERR_NOERROR);
  MMIOINFO Info{};
  EXPECT_EQ(mmioOpen(Dir.File("missing").c_str(), &Info, MMIO_READ), nullptr);
  EXPECT_EQ(Info.wErrorRet, MMIOERR_CANNOTOPEN);
  EXPECT_EQ(mmioStringToFOURCC("inam", MMIO_TOUPPER), mmioFOURCC('I', 'N', 'A', 'M'));
  EXPECT_EQ(mmioStringToFOURCC("ab", 0), mmioFOURCC('a', 'b', ' ', ' '));
}

TEST(Mmio, AFailedWriteLeavesThePositionAtWhatReachedTheFile) {
  TempDir Dir;
  const std::string Name = Dir.File("full.bin");
  HMMIO h = mmioOpen(Name.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
  ASSERT_NE(h, nullptr);
  std::vector<char> Chunk(1000, 'a');
  {
    test::FileSizeLimit Limit(20000);
    std::int32_t Result = 0;
    for (int i = 0; i < 100 && Result >= 0; ++i) Result = mmioWrite(h, Chunk.data(), 1000);
    EXPECT_EQ(Result, -1);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_FROM_CURRENT), 20000);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_FROM_END), 20000);
  }
  EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(ReadFileBytes(Name).size(), 20000u);
}

}  // namespace
}  // namespace velmar
