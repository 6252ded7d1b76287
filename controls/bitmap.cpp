#include "controls/bitmap.h"

#include "controls/bitmap_errors.h"

namespace velmar {

namespace {

// Rasters above this many pixels are refused: the skins hold small pictures,
// and a damaged header must not make us allocate gigabytes.
constexpr std::int64_t kMaxPixels = 1 << 24;

std::size_t RowStride(int Width, int Bits) {
  return ((static_cast<std::size_t>(Width) * static_cast<std::size_t>(Bits) + 31) / 32) * 4;
}

void Put16(std::vector<std::uint8_t>& Out, std::uint32_t v) {
  Out.push_back(static_cast<std::uint8_t>(v));
  Out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& Out, std::uint32_t v) {
  Put16(Out, v & 0xFFFF);
  Put16(Out, v >> 16);
}

std::uint32_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
}

std::uint32_t Get32(const std::uint8_t* p) {
  return Get16(p) | (Get16(p + 2) << 16);
}

[[noreturn]] void Invalid() {
  throw EInvalidGraphic("Bitmap image is not valid");
}

}  // namespace

TBitmap::TBitmap(int Width, int Height, int BitsPerPixel)
    : FWidth(Width < 0 ? 0 : Width), FHeight(Height < 0 ? 0 : Height), FBitsPerPixel(BitsPerPixel) {
  if (BitsPerPixel != 1 && BitsPerPixel != 4 && BitsPerPixel != 8 && BitsPerPixel != 24 &&
      BitsPerPixel != 32)
    Invalid();
  if (static_cast<std::int64_t>(FWidth) * FHeight > kMaxPixels) Invalid();
  if (Indexed()) {
    const std::uint32_t n = 1u << BitsPerPixel;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t g = i * 255 / (n - 1);
      FPalette.push_back((g << 16) | (g << 8) | g);
    }
  }
  FData.assign(static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight), 0);
}

std::uint32_t TBitmap::Pixel(int x, int y) const {
  const std::uint32_t v = Raw(x, y);
  if (!Indexed()) return v & 0xFFFFFF;
  return v < FPalette.size() ? FPalette[v] : 0;
}

bool TBitmap::operator==(const TBitmap& Other) const {
  return FWidth == Other.FWidth && FHeight == Other.FHeight &&
         FBitsPerPixel == Other.FBitsPerPixel && FPalette == Other.FPalette && FData == Other.FData;
}

std::vector<std::uint8_t> SaveBitmapToBMP(const TBitmap& Bitmap) {
  const int w = Bitmap.Width(), h = Bitmap.Height(), bits = Bitmap.BitsPerPixel();
  const std::size_t Stride = RowStride(w, bits);
  const std::size_t Colors = Bitmap.Indexed() ? (1u << bits) : 0;
  const std::size_t Offset = 14 + 40 + 4 * Colors;
  const std::size_t Size = Offset + Stride * static_cast<std::size_t>(h);
  std::vector<std::uint8_t> Out;
  Out.reserve(Size);
  Out.push_back('B');
  Out.push_back('M');
  Put32(Out, static_cast<std::uint32_t>(Size));
  Put32(Out, 0);
  Put32(Out, static_cast<std::uint32_t>(Offset));
  Put32(Out, 40);
  Put32(Out, static_cast<std::uint32_t>(w));
  Put32(Out, static_cast<std::uint32_t>(h));
  Put16(Out, 1);
  Put16(Out, static_cast<std::uint32_t>(bits));
  Put32(Out, 0);  // uncompressed
  Put32(Out, static_cast<std::uint32_t>(Stride * static_cast<std::size_t>(h)));
  Put32(Out, 0);
  Put32(Out, 0);
  Put32(Out, static_cast<std::uint32_t>(Colors));
  Put32(Out, 0);
  for (std::size_t i = 0; i < Colors; ++i)
    Put32(Out, i < Bitmap.Palette().size() ? Bitmap.Palette()[i] & 0xFFFFFF : 0);
  for (int y = h - 1; y >= 0; --y) {
    const std::size_t RowStart = Out.size();
    if (bits >= 24) {
      for (int x = 0; x < w; ++x) {
        const std::uint32_t v = Bitmap.Raw(x, y);
        Out.push_back(static_cast<std::uint8_t>(v));
        Out.push_back(static_cast<std::uint8_t>(v >> 8));
        Out.push_back(static_cast<std::uint8_t>(v >> 16));
        if (bits == 32) Out.push_back(static_cast<std::uint8_t>(v >> 24));
      }
    } else {
      // Indexed: pack from the top bit of each byte down.
      std::uint32_t Acc = 0;
      int Filled = 0;
      for (int x = 0; x < w; ++x) {
        Acc = (Acc << bits) | (Bitmap.Raw(x, y) & ((1u << bits) - 1));
        Filled += bits;
        if (Filled == 8) {
          Out.push_back(static_cast<std::uint8_t>(Acc));
          Acc = 0;
          Filled = 0;
        }
      }
      if (Filled) Out.push_back(static_cast<std::uint8_t>(Acc << (8 - Filled)));
    }
    Out.resize(RowStart + Stride, 0);
  }
  return Out;
}

TBitmap LoadBitmapFromBMP(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 14 + 40 || Data[0] != 'B' || Data[1] != 'M') Invalid();
  const std::uint32_t PixelOffset = Get32(Data + 10);
  const std::uint32_t HeaderSize = Get32(Data + 14);
  if (HeaderSize < 40 || HeaderSize > Size - 14) Invalid();
  const std::int32_t w = static_cast<std::int32_t>(Get32(Data + 18));
  const std::int32_t RawHeight = static_cast<std::int32_t>(Get32(Data + 22));
  const std::uint32_t Planes = Get16(Data + 26);
  const int Bits = static_cast<int>(Get16(Data + 28));
  const std::uint32_t Compression = Get32(Data + 30);
  std::uint32_t Colors = Get32(Data + 46);
  if (w <= 0 || RawHeight == 0 || RawHeight == INT32_MIN || Planes != 1 || Compression != 0)
    Invalid();
  const bool TopDown = RawHeight < 0;
  const std::int32_t h = TopDown ? -RawHeight : RawHeight;
  if (static_cast<std::int64_t>(w) * h > kMaxPixels) Invalid();
  TBitmap Result(w, h, Bits);  // refuses unknown depths
  if (Result.Indexed()) {
    const std::uint32_t Max = 1u << Bits;
    if (Colors == 0 || Colors > Max) Colors = Max;
    const std::size_t PaletteAt = 14 + static_cast<std::size_t>(HeaderSize);
    if (PaletteAt + 4 * static_cast<std::size_t>(Colors) > Size) Invalid();
    for (std::uint32_t i = 0; i < Colors; ++i)
      Result.Palette()[i] = Get32(Data + PaletteAt + 4 * i) & 0xFFFFFF;
    for (std::uint32_t i = Colors; i < Max; ++i) Result.Palette()[i] = 0;
  }
  const std::size_t Stride = RowStride(w, Bits);
  if (PixelOffset > Size || Stride * static_cast<std::size_t>(h) > Size - PixelOffset) Invalid();
  for (int Row = 0; Row < h; ++Row) {
    const std::uint8_t* p = Data + PixelOffset + Stride * static_cast<std::size_t>(Row);
    const int y = TopDown ? Row : h - 1 - Row;
    for (int x = 0; x < w; ++x) {
      std::uint32_t v;
      switch (Bits) {
        case 32:
          v = Get32(p + 4 * x);
          break;
        case 24:
          v = static_cast<std::uint32_t>(p[3 * x] | (p[3 * x + 1] << 8) | (p[3 * x + 2] << 16));
          break;
        default: {
          const int PerByte = 8 / Bits;
          const int Shift = 8 - Bits * (x % PerByte + 1);
          v = (p[x / PerByte] >> Shift) & ((1u << Bits) - 1);
        }
      }
      Result.SetRaw(x, y, v);
    }
  }
  return Result;
}

}  // namespace velmar
