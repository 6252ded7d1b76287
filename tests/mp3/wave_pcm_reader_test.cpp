// The encoder's reader of WAV audio: a format it cannot convert is refused with
// a message naming it (the message was built from freed memory: ASan).
#include "mp3/wave_pcm_reader.h"

#include <gtest/gtest.h>

#include "stream/errors.h"
#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"

namespace velmar {
namespace {

TEST(WavePcmReader, RefusesAFormatItCannotConvertNamingIt) {
  test::TempDir Dir;
  const std::string Name = Dir.File("odd.wav");
  // Format tag 0x1234: nothing converts it.
  test::WriteFileBytes(
      Name, test::Riff({test::Chunk("fmt ", test::FmtBody(0x1234, 2, 44100, 176400, 4, 16)),
                        test::Chunk("data", test::Bytes(4000, 1))}));
  try {
    TWavePcmReader Reader(Name);
    ADD_FAILURE() << "read";
  } catch (const EMMWaveError& e) {
    EXPECT_NE(std::string(e.what()).find("its format, "), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("44.100 kHz, 16 Bit, Stereo, cannot be converted"),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace velmar
