#include "controls/bitmap_list.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "controls/bitmap_coder.h"

namespace velmar {

namespace {

[[noreturn]] void Invalid() {
  throw EStreamError("Invalid BitmapList stream");
}

std::uint32_t Read32(std::istream& s) {
  std::uint8_t b[4];
  if (!s.read(reinterpret_cast<char*>(b), 4)) Invalid();
  return static_cast<std::uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16)) |
         (static_cast<std::uint32_t>(b[3]) << 24);
}

// Reads Size bytes in slices, so that a size larger than the stream fails on
// the missing bytes instead of allocating it up front.
std::vector<std::uint8_t> ReadBytes(std::istream& s, std::uint32_t Size) {
  std::vector<std::uint8_t> Out;
  constexpr std::size_t kSlice = 1 << 16;
  while (Out.size() < Size) {
    const std::size_t Part = std::min<std::size_t>(kSlice, Size - Out.size());
    const std::size_t At = Out.size();
    Out.resize(At + Part);
    if (!s.read(reinterpret_cast<char*>(Out.data() + At), static_cast<std::streamsize>(Part)))
      Invalid();
  }
  return Out;
}

void Write32(std::ostream& s, std::uint32_t v) {
  const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
  s.write(b, 4);
}

void WriteBytes(std::ostream& s, const std::vector<std::uint8_t>& Bytes) {
  s.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

}  // namespace

TMMBitmapList::TMMBitmapList(TComponent* AOwner) : TComponent(AOwner) {}

TMMBitmapList::~TMMBitmapList() {
  Destroying();
  FObservers.Notify(this);
}

TBitmap& TMMBitmapList::Bitmaps(int Index) {
  CheckIndex(Index, false);
  TBitmap& Item = *FItems[static_cast<std::size_t>(Index)];
  Item.SetHandleType(FHandleType);
  return Item;
}

int TMMBitmapList::Add(const TBitmap& Bitmap) {
  Insert(Count(), Bitmap);
  return Count() - 1;
}

void TMMBitmapList::Insert(int Index, const TBitmap& Bitmap) {
  CheckIndex(Index, true);
  Changing();
  FItems.insert(FItems.begin() + Index, std::make_unique<TBitmap>(Bitmap));
  Changed();
}

void TMMBitmapList::Delete(int Index) {
  CheckIndex(Index, false);
  Changing();
  FItems.erase(FItems.begin() + Index);
  Changed();
}

void TMMBitmapList::Clear() {
  BeginUpdate();
  for (int i = Count() - 1; i >= 0; --i) Delete(i);
  EndUpdate();
}

void TMMBitmapList::Assign(const TMMBitmapList* Source) {
  BeginUpdate();
  Clear();
  if (Source) {
    for (const auto& Item : Source->FItems) Add(*Item);
    FCompressed = Source->FCompressed;
  }
  EndUpdate();
}

void TMMBitmapList::BeginUpdate() {
  if (FUpdateCount == 0) Changing();
  ++FUpdateCount;
}

void TMMBitmapList::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) Changed();
}

void TMMBitmapList::Changing() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(this);
}

void TMMBitmapList::Changed() {
  if (FUpdateCount != 0 || FNotifying) return;
  FNotifying = true;
  try {
    FObservers.Notify(this);
    if (OnChange) OnChange(this);
  } catch (...) {
    FNotifying = false;
    throw;
  }
  FNotifying = false;
}

void TMMBitmapList::CheckIndex(int Index, bool AllowEnd) const {
  if (Index < 0 || Index > Count() || (!AllowEnd && Index == Count()))
    throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
}

void TMMBitmapList::LoadFromStream(std::istream& Stream) {
  BeginUpdate();
  try {
    Clear();
    ReadItems(Stream);
  } catch (...) {
    FItems.clear();
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TMMBitmapList::ReadItems(std::istream& Stream) {
  char Signature[4];
  if (!Stream.read(Signature, 4)) Invalid();
  const bool Packed = std::memcmp(Signature, "MBMC", 4) == 0;
  if (!Packed && std::memcmp(Signature, "MBML", 4) != 0) Invalid();
  const std::uint32_t Items = Read32(Stream);
  for (std::uint32_t n = 0; n < Items; ++n) {
    std::vector<std::uint8_t> Bmp;
    if (!Packed) {
      Bmp = ReadBytes(Stream, Read32(Stream));
    } else {
      std::uint32_t Total = Read32(Stream);
      while (Total > 0) {
        if (Total < 4) Invalid();
        const std::uint32_t Length = Read32(Stream);
        if (Length > Total - 4) Invalid();
        Total -= 4 + Length;
        std::vector<std::uint8_t> Chunk = ReadBytes(Stream, Length);
        if (OnDecode) OnDecode(this, reinterpret_cast<char*>(Chunk.data()), Length);
        const std::vector<std::uint8_t> Piece = DecompressPiece(Chunk.data(), Chunk.size());
        // No BMP a list can load is larger: a damaged stream that expands
        // further is refused before it takes the memory.
        if (Bmp.size() + Piece.size() > kMostBmpBytes) Invalid();
        Bmp.insert(Bmp.end(), Piece.begin(), Piece.end());
      }
    }
    TBitmap Loaded = LoadBitmapFromBMP(Bmp.data(), Bmp.size());
    Add(Loaded);
    if (OnBmpLoaded) OnBmpLoaded(this, FItems.back().get());
  }
}

void TMMBitmapList::SaveToStream(std::ostream& Stream) {
  BeginUpdate();
  struct TEnd {
    TMMBitmapList* List;
    ~TEnd() { List->EndUpdate(); }
  } End{this};
  Stream.write(FCompressed ? "MBMC" : "MBML", 4);
  Write32(Stream, static_cast<std::uint32_t>(Count()));
  for (const auto& Item : FItems) {
    const std::vector<std::uint8_t> Bmp = SaveBitmapToBMP(*Item);
    if (!FCompressed) {
      Write32(Stream, static_cast<std::uint32_t>(Bmp.size()));
      WriteBytes(Stream, Bmp);
      continue;
    }
    std::vector<std::vector<std::uint8_t>> Chunks;
    std::uint32_t Total = 0;
    for (std::size_t At = 0; At < Bmp.size(); At += kBitmapPieceSize) {
      const std::size_t Size = std::min(kBitmapPieceSize, Bmp.size() - At);
      Chunks.push_back(CompressPiece(Bmp.data() + At, Size));
      std::vector<std::uint8_t>& Chunk = Chunks.back();
      if (OnEncode)
        OnEncode(this, reinterpret_cast<char*>(Chunk.data()), static_cast<unsigned>(Chunk.size()));
      Total += 4 + static_cast<std::uint32_t>(Chunk.size());
    }
    Write32(Stream, Total);
    for (const auto& Chunk : Chunks) {
      Write32(Stream, static_cast<std::uint32_t>(Chunk.size()));
      WriteBytes(Stream, Chunk);
    }
  }
  if (!Stream) throw EStreamError("Stream write error");
}

TMMBitmapListLink::TMMBitmapListLink(std::function<void()> Changed) : FChanged(std::move(Changed)) {
  FObserver.OnNotify = [this](TObject*, TObject*) {
    if (FList && FList->HasState(csDestroying)) SetList(nullptr);
    if (FChanged) FChanged();
  };
}

TMMBitmapListLink::~TMMBitmapListLink() {
  SetList(nullptr);
}

void TMMBitmapListLink::SetList(TMMBitmapList* Value) {
  if (Value == FList) return;
  if (FList) FList->Observers().Detach(&FObserver);
  FList = Value;
  if (FList) FList->Observers().Attach(&FObserver);
}

TBitmap* TMMBitmapListLink::Item(int Index) const {
  if (!FList || Index < 0 || Index >= FList->Count()) return nullptr;
  return &FList->Bitmaps(Index);
}

}  // namespace velmar
