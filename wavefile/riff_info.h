// The metadata a WAV file carries through a read/modify/close cycle: the entries
// of its "LIST"/"INFO" chunk (one per known tag) and its "DISP" chunks.
//
// An INFO entry's text is its replacement text when one is set, otherwise the
// text at its offset in the raw list body read from the file. A DISP entry's data
// is its replacement data when set, otherwise the data read from the file.
// Plain data, used by the wave-file layer on the thread that owns the wave.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/mmio/mmio.h"

namespace velmar {

struct TInfoTag {
  const char* Id;           // four letters
  const char* Name;         // display name
  const char* Description;  // what the tag is for
};

inline constexpr int kInfoTagCount = 24;
extern const std::array<TInfoTag, kInfoTagCount> kInfoTags;

// Index of the tag with this code, or -1.
int InfoTagIndex(FOURCC Code);

struct TWaveInfoEntry {
  int Tag = 0;
  std::uint32_t State = 0;       // 1 once the text was replaced
  std::uint32_t TextOffset = 0;  // offset of the text in the raw body, 0 = none
  std::uint32_t TextSize = 0;    // the bytes of its sub-chunk
  std::optional<std::string> Replacement;
};

struct TWaveInfoList {
  std::vector<char> Raw;  // the "INFO" list bodies as read, one after the other
  std::array<TWaveInfoEntry, kInfoTagCount> Entries;

  TWaveInfoList();
  // Takes a list body (after the list type) and points the entries at their texts.
  // A file with several lists loads each in turn: a tag of a later list overrides
  // the same tag of an earlier one, the others keep theirs. Bodies shorter than
  // 5 bytes are ignored.
  void Load(std::vector<char> Body);
  std::string Text(int Tag) const;
  void SetText(int Tag, std::string Value);
  bool HasText() const;
};

inline constexpr std::uint32_t CF_TEXT = 1;
inline constexpr std::uint32_t CF_DIB = 8;

// A "DISP" chunk that lies in front of the data in its file: finalising leaves it
// there instead of writing it again after the data.
inline constexpr std::uint32_t DISP_STATE_BEFORE_DATA = 1;

struct TWaveDispEntry {
  std::uint32_t Code = 0;   // clipboard-format code
  std::uint32_t State = 0;  // DISP_STATE_*
  std::vector<std::uint8_t> Data;
  std::optional<std::vector<std::uint8_t>> Replacement;

  const std::vector<std::uint8_t>& Current() const { return Replacement ? *Replacement : Data; }
  // The bytes a "DISP" chunk carries after the code: text with its terminating
  // zero, or a bitmap's header, image and colour table. Empty for other codes.
  std::vector<std::uint8_t> Body() const;
};

using TWaveDispList = std::vector<TWaveDispEntry>;

// Write the chunks at the current position of h; false on an I/O failure.
bool WriteDispChunks(HMMIO h, const TWaveDispList& List);
bool WriteInfoList(HMMIO h, const TWaveInfoList& List);

}  // namespace velmar
