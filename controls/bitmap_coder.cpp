#include "controls/bitmap_coder.h"

#include <array>

#include "controls/bitmap_errors.h"

namespace velmar {

namespace {

constexpr std::uint8_t kFlagCompressed = 64;
constexpr std::uint8_t kFlagStored = 128;
constexpr std::uint16_t kEmpty = 0xFFFF;

[[noreturn]] void Damaged() {
  throw EStreamError("Invalid BitmapList stream");
}

}  // namespace

std::vector<std::uint8_t> CompressPiece(const std::uint8_t* b, std::size_t n) {
  // Room for the whole piece plus the few bytes a last item may overrun by
  // before the loop notices that compression does not pay.
  std::vector<std::uint8_t> Out(n + 32);
  std::array<std::uint16_t, 4096> Hash;
  Hash.fill(kEmpty);
  Out[0] = kFlagCompressed;
  std::size_t ControlAt = 1, o = 3, p = 0;
  std::uint32_t Control = 0;
  int Items = 0;
  auto at = [&](std::size_t i) -> std::uint32_t { return i < n ? b[i] : 0; };
  auto PutControl = [&] {
    Out[ControlAt] = static_cast<std::uint8_t>(Control >> 8);
    Out[ControlAt + 1] = static_cast<std::uint8_t>(Control);
  };
  while (p < n && o <= n) {
    if (Items == 16) {
      PutControl();
      ControlAt = o;
      o += 2;
      Control = 0;
      Items = 0;
    }
    ++Items;
    std::size_t r = 1;
    while (r < 4095 && p + r < n && b[p + r] == b[p]) ++r;
    if (r >= 16) {
      Control = (Control << 1) | 1;
      Out[o++] = 0;
      Out[o++] = static_cast<std::uint8_t>((r - 16) >> 8);
      Out[o++] = static_cast<std::uint8_t>((r - 16) & 255);
      Out[o++] = b[p];
      p += r;
      continue;
    }
    const std::uint32_t h =
        ((((((at(p) << 4) ^ at(p + 1)) << 4) ^ at(p + 2)) * 40543u) >> 4) & 4095;
    const std::uint16_t q = Hash[h];
    Hash[h] = static_cast<std::uint16_t>(p);
    std::size_t Length = 0;
    if (q != kEmpty && p - q <= 4095) {
      while (Length < 18 && p + Length < n && b[q + Length] == b[p + Length]) ++Length;
    }
    if (Length >= 3) {
      const std::size_t Code = (p - q) * 16 + Length - 3;
      Control = (Control << 1) | 1;
      Out[o++] = static_cast<std::uint8_t>(Code >> 8);
      Out[o++] = static_cast<std::uint8_t>(Code);
      p += Length;
    } else {
      Control <<= 1;
      Out[o++] = b[p++];
    }
  }
  Control <<= (16 - Items);
  PutControl();
  if (o > n || p < n) {
    Out.assign(1, kFlagStored);
    Out.insert(Out.end(), b, b + n);
    return Out;
  }
  Out.resize(o);
  return Out;
}

std::vector<std::uint8_t> DecompressPiece(const std::uint8_t* In, std::size_t L) {
  if (L == 0) Damaged();
  if (In[0] == kFlagStored) {
    if (L - 1 > kBitmapPieceSize) Damaged();
    return std::vector<std::uint8_t>(In + 1, In + L);
  }
  if (In[0] != kFlagCompressed || L < 3) Damaged();
  std::vector<std::uint8_t> Out;
  Out.reserve(kBitmapPieceSize);
  std::uint32_t Control = (In[1] << 8) | In[2];
  int Bits = 16;
  std::size_t i = 3;
  auto Append = [&](std::size_t Count) {
    if (Out.size() + Count > kBitmapPieceSize) Damaged();
  };
  while (i < L) {
    if (Bits == 0) {
      if (L - i < 2) Damaged();
      Control = (In[i] << 8) | In[i + 1];
      i += 2;
      Bits = 16;
      if (i == L) break;  // a control word with no items after it
    }
    const bool Copy = (Control & 0x8000) != 0;
    Control = (Control << 1) & 0xFFFF;
    --Bits;
    if (!Copy) {
      Append(1);
      Out.push_back(In[i++]);
      continue;
    }
    if (L - i < 2) Damaged();
    const std::size_t Offset = In[i] * 16u + (In[i + 1] >> 4);
    if (Offset == 0) {
      if (L - i < 4) Damaged();
      const std::size_t Run = In[i + 1] * 256u + In[i + 2] + 16;
      Append(Run);
      Out.insert(Out.end(), Run, In[i + 3]);
      i += 4;
    } else {
      const std::size_t Length = (In[i + 1] & 15u) + 3;
      if (Offset > Out.size()) Damaged();
      Append(Length);
      for (std::size_t k = 0; k < Length; ++k) Out.push_back(Out[Out.size() - Offset]);
      i += 2;
    }
  }
  return Out;
}

}  // namespace velmar
