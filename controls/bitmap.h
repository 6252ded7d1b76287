// TBitmap: a device-independent raster as the skin lists hold it, with its BMP
// file form. Pixels keep the depth they were made or loaded with (1, 4, 8, 24 or
// 32 bits), so that a list written back reproduces its files; indexed bitmaps
// keep palette indices and their palette.
//
// Qt-free (the list stream parser is fuzzed without Qt); the controls turn a
// bitmap into a QImage to draw it. Not thread-safe; main thread in the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmar {

// The pixel storage applied when a control fetches an item. Both are the same
// memory raster here; the value is kept because callers set and read it.
enum class TBitmapHandleType { bmDIB, bmDDB };

class TBitmap {
 public:
  TBitmap() = default;
  // A bitmap of the given depth, every pixel 0 (black, or palette entry 0); an
  // indexed depth gets a grey ramp palette of 2^BitsPerPixel entries.
  TBitmap(int Width, int Height, int BitsPerPixel);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int BitsPerPixel() const { return FBitsPerPixel; }
  bool Empty() const { return FWidth == 0 || FHeight == 0; }
  bool Indexed() const { return FBitsPerPixel <= 8; }
  TBitmapHandleType HandleType() const { return FHandleType; }
  void SetHandleType(TBitmapHandleType Value) { FHandleType = Value; }

  // The palette of an indexed bitmap, 0x00RRGGBB per entry.
  std::vector<std::uint32_t>& Palette() { return FPalette; }
  const std::vector<std::uint32_t>& Palette() const { return FPalette; }
  // The stored value at (x, y): a palette index, or 0xAARRGGBB (24 bits: alpha 0).
  std::uint32_t Raw(int x, int y) const { return FData[Offset(x, y)]; }
  void SetRaw(int x, int y, std::uint32_t Value) { FData[Offset(x, y)] = Value; }
  // The colour at (x, y) as 0x00RRGGBB.
  std::uint32_t Pixel(int x, int y) const;

  bool operator==(const TBitmap& Other) const;

 private:
  std::size_t Offset(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) +
           static_cast<std::size_t>(x);
  }

  int FWidth = 0;
  int FHeight = 0;
  int FBitsPerPixel = 24;
  TBitmapHandleType FHandleType = TBitmapHandleType::bmDDB;
  std::vector<std::uint32_t> FPalette;
  std::vector<std::uint32_t> FData;
};

// The bitmap as a BMP file: file header, 40-byte info header, palette of
// 2^bits entries for indexed depths, rows bottom-up padded to 4 bytes.
std::vector<std::uint8_t> SaveBitmapToBMP(const TBitmap& Bitmap);

// The largest BMP file LoadBitmapFromBMP takes: 16 M pixels of at most 4 bytes
// (rows padded), the largest info header and palette.
inline constexpr std::size_t kMostBmpBytes = 14 + 124 + 256 * 4 + (std::size_t{1} << 24) * 4;

// Reads a BMP file (info header of 40 bytes or a later version, uncompressed, 1,
// 4, 8, 24 or 32 bits, bottom-up or top-down). Anything else, or a file that
// ends early, raises EInvalidGraphic; nothing is read outside Data..Data+Size.
TBitmap LoadBitmapFromBMP(const std::uint8_t* Data, std::size_t Size);

}  // namespace velmar
