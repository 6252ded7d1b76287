#include "wavefile/riff_info.h"
#include "platform/byte_order.h"
#include "wavefile/riff_chunks.h"

#include <algorithm>
#include <cstring>

namespace velmar {

// Each tag's description is the defining sentence of the RIFF INFO list.
const std::array<TInfoTag, kInfoTagCount> kInfoTags = {{
    {"IARL", "Archival Location", "Indicates where the subject of the file is archived."},
    {"IART", "Artist", "Lists the artist of the original subject of the file."},
    {"ICMS", "Commissioned",
     "Lists the name of the person or organization that commissioned the subject of the file."},
    {"ICMT", "Comments", "Provides general comments about the file or the subject of the file."},
    {"ICOP", "Copyright", "Records the copyright information for the file."},
    {"ICRD", "Creation date", "Specifies the date the subject of the file was created."},
    {"ICRP", "Cropped",
     "Describes whether an image has been cropped and, if so, how it was cropped."},
    {"IDIM", "Dimensions", "Specifies the size of the original subject of the file."},
    {"IDPI", "Dots Per Inch",
     "Stores dots per inch setting of the digitizer used to produce the file."},
    {"IENG", "Engineer", "Stores the name of the engineer who worked on the file."},
    {"IGNR", "Genre", "Describes the original work, such as landscape, portrait or still life."},
    {"IKEY", "Keywords",
     "Provides a list of keywords that refer to the file or subject of the file."},
    {"ILGT", "Lightness",
     "Describes the changes in lightness settings on the digitizer required to produce the "
     "file."},
    {"IMED", "Medium",
     "Describes the original subject of the file, such as computer image, drawing or "
     "lithograph."},
    {"INAM", "Name", "Stores the title of the subject of the file."},
    {"IPLT", "Palette Setting",
     "Specifies the number of colors requested when digitizing an image."},
    {"IPRD", "Product", "Specifies the name of the title the file was originally intended for."},
    {"ISBJ", "Subject", "Describes the contents of the file."},
    {"ISFT", "Software", "Identifies the name of the software package used to create the file."},
    {"ISHP", "Sharpness",
     "Identifies the changes in sharpness for the digitizer required to produce the file."},
    {"ISRC", "Source",
     "Identifies the name of the person or organization who supplied the original subject of "
     "the file."},
    {"ISRF", "Source Form", "Identifies the original form of the material that was digitized."},
    {"ITCH", "Technician", "Identifies the technician who digitized the subject file."},
    // Not in the original list; the track number, as other programs write it.
    {"ITRK", "Track", "Gives the number of the track within its album."},
}};

namespace {


std::uint32_t GetLe32(const std::vector<std::uint8_t>& v, std::size_t At) {
  return At + 4 <= v.size() ? velmar::GetLe32(v.data() + At) : 0;
}

bool WriteChunk(HMMIO h, FOURCC Id, const void* Data, std::size_t Size) {
  if (Size > INT32_MAX) return false;
  MMCKINFO Chunk{};
  Chunk.ckid = Id;
  const auto n = static_cast<std::int32_t>(Size);
  return mmioCreateChunk(h, &Chunk, 0) == MMSYSERR_NOERROR && mmioWrite(h, Data, n) == n &&
         mmioAscend(h, &Chunk, 0) == MMSYSERR_NOERROR;
}

}  // namespace

int InfoTagIndex(FOURCC Code) {
  for (int i = 0; i < kInfoTagCount; ++i)
    if (mmioStringToFOURCC(kInfoTags[i].Id, 0) == Code) return i;
  return -1;
}

TWaveInfoList::TWaveInfoList() {
  for (int i = 0; i < kInfoTagCount; ++i) Entries[i].Tag = i;
}

void TWaveInfoList::Load(std::vector<char> Body) {
  if (Body.size() < 5) return;
  // Appended, so that the texts of an earlier list stay where their entries point.
  const std::size_t Base = Raw.size();
  Raw.insert(Raw.end(), Body.begin(), Body.end());
  // Sub-chunks: 4-byte id, 4-byte size, text, padded to even length. A text
  // that runs past the body ends with it (Text bounds it).
  ForEachSubChunk(reinterpret_cast<const std::uint8_t*>(Raw.data()) + Base, Raw.size() - Base,
                  [&](const TChunkHeader& h) {
                    const int Tag = InfoTagIndex(h.Code());
                    if (Tag >= 0) {
                      Entries[Tag].TextOffset = static_cast<std::uint32_t>(Base + h.Body());
                      Entries[Tag].TextSize = h.Size;
                    }
                    return true;
                  });
}

std::string TWaveInfoList::Text(int Tag) const {
  if (Tag < 0 || Tag >= kInfoTagCount) return {};
  const TWaveInfoEntry& e = Entries[Tag];
  if (e.Replacement) return *e.Replacement;
  if (e.TextOffset == 0 || e.TextOffset >= Raw.size()) return {};
  // The text ends at its zero, or with its sub-chunk (or the body) when the zero
  // is missing.
  const char* Begin = Raw.data() + e.TextOffset;
  const std::size_t Limit = std::min<std::size_t>(Raw.size() - e.TextOffset, e.TextSize);
  return std::string(Begin, strnlen(Begin, Limit));
}

void TWaveInfoList::SetText(int Tag, std::string Value) {
  if (Tag < 0 || Tag >= kInfoTagCount) return;
  Entries[Tag].Replacement = std::move(Value);
  Entries[Tag].State = 1;
}

bool TWaveInfoList::HasText() const {
  for (int i = 0; i < kInfoTagCount; ++i)
    if (!Text(i).empty()) return true;
  return false;
}

std::vector<std::uint8_t> TWaveDispEntry::Body() const {
  const std::vector<std::uint8_t>& d = Current();
  if (d.empty()) return {};
  if (Code == CF_TEXT) {
    const auto End = std::find(d.begin(), d.end(), 0);
    std::vector<std::uint8_t> Text(d.begin(), End);
    Text.push_back(0);
    return Text;
  }
  if (Code == CF_DIB) {
    // Header size + image size + 4 x colours used, from the bitmap's own header,
    // never more than the data holds.
    const std::uint64_t Size =
        std::uint64_t{GetLe32(d, 0)} + GetLe32(d, 20) + 4ull * GetLe32(d, 32);
    return std::vector<std::uint8_t>(
        d.begin(),
        d.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(Size, d.size())));
  }
  return {};
}

bool WriteDispChunks(HMMIO h, const TWaveDispList& List) {
  for (const TWaveDispEntry& e : List) {
    if (e.State & DISP_STATE_BEFORE_DATA) continue;
    const std::vector<std::uint8_t> Body = e.Body();
    if (Body.empty()) continue;
    std::vector<std::uint8_t> Chunk(4 + Body.size());
    for (int i = 0; i < 4; ++i) Chunk[i] = static_cast<std::uint8_t>(e.Code >> (8 * i));
    std::memcpy(Chunk.data() + 4, Body.data(), Body.size());
    if (!WriteChunk(h, mmioFOURCC('D', 'I', 'S', 'P'), Chunk.data(), Chunk.size())) return false;
  }
  return true;
}

bool WriteInfoList(HMMIO h, const TWaveInfoList& List) {
  if (!List.HasText()) return true;
  MMCKINFO ListChunk{};
  ListChunk.fccType = mmioFOURCC('I', 'N', 'F', 'O');
  if (mmioCreateChunk(h, &ListChunk, MMIO_CREATELIST) != MMSYSERR_NOERROR) return false;
  for (int i = 0; i < kInfoTagCount; ++i) {
    const std::string Text = List.Text(i);
    if (Text.empty()) continue;
    if (!WriteChunk(h, mmioStringToFOURCC(kInfoTags[i].Id, 0), Text.c_str(), Text.size() + 1))
      return false;
  }
  return mmioAscend(h, &ListChunk, 0) == MMSYSERR_NOERROR;
}

}  // namespace velmar
