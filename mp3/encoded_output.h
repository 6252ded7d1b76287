// What the encoders share: their result and progress, the free name beside
// the WAV, and the output written as "NAME.part" and named only when complete
// (fsync, then a hard link that never replaces a file), so that a failed,
// cancelled or killed encode leaves no partial file under the final name. A
// ".part" that an earlier, ended run left is replaced.
//
// Any thread; one output per file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velmar {

struct TEncodeResult {
  bool Ok = false;
  bool Cancelled = false;
  std::string Output;  // the file written
  std::string Error;   // why not
  std::string Note;    // what the user should know of a file written (one line)
};

// Done: frames encoded so far of Total (called now and then).
using TEncodeProgress = std::function<void(std::int64_t Done, std::int64_t Total)>;

// "song.wav" -> "song" + Extension, or "song-2" + Extension ... when taken;
// a stem too long for the name with "-NNNN" and ".part" is cut on a character.
std::string FreeOutputName(const std::string& WavName, const std::string& Extension);

class TPartialOutput {
 public:
  TPartialOutput() = default;
  ~TPartialOutput();  // removes the ".part" unless committed
  TPartialOutput(const TPartialOutput&) = delete;
  TPartialOutput& operator=(const TPartialOutput&) = delete;

  // Creates Final + ".part"; false with Error.
  bool Open(const std::string& Final, std::string& Error);
  int Fd() const { return FFd; }
  const std::string& PartName() const { return FPart; }
  bool Write(const void* Data, std::size_t Size);
  // Makes the file durable and gives it its final name: Result is then Ok
  // with that Output; false with Result's Error.
  bool Commit(TEncodeResult& Result);

 private:
  std::string FFinal, FPart;
  int FFd = -1;
  bool FCommitted = false;
};

}  // namespace velmar
