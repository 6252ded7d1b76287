// Bitmap list streams are outside data: any input must either load or raise
// EStreamError with the list left empty, and a list that loaded must write a
// stream (plain and compressed) that reads back to the same bitmaps.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "controls/bitmap_list.h"

using namespace velmar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TMMBitmapList List;
  std::istringstream In(std::string(reinterpret_cast<const char*>(Data), Size));
  try {
    List.LoadFromStream(In);
  } catch (const EStreamError&) {
    if (List.Count() != 0) std::abort();
    return 0;
  }
  for (bool Compressed : {false, true}) {
    List.SetCompressed(Compressed);
    std::ostringstream Out;
    List.SaveToStream(Out);
    TMMBitmapList Copy;
    std::istringstream Back(Out.str());
    Copy.LoadFromStream(Back);
    if (Copy.Count() != List.Count()) std::abort();
    for (int i = 0; i < List.Count(); ++i)
      if (!(Copy.Bitmaps(i) == List.Bitmaps(i))) std::abort();
  }
  return 0;
}
