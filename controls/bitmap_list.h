// TMMBitmapList: the non-visual holder of a skin's bitmaps. Controls refer to a
// list and an index into it and observe the list: every closed change (and the
// list's destruction) reaches them through the observable, last attached first.
// The list reads and writes its "ListItems" stream: "MBML" (each bitmap as a
// BMP file) or "MBMC" (BMP files cut into pieces, each compressed).
//
// Owns copies of its bitmaps. Qt-free. Main thread only.
#pragma once

#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <vector>

#include "controls/bitmap.h"
#include "controls/bitmap_errors.h"
#include "platform/component.h"
#include "stream/mm_object.h"

namespace velmar {

using TEncodeEvent = std::function<void(TObject* Sender, char* Buffer, unsigned Length)>;
using TLoadedEvent = std::function<void(TObject* Sender, TBitmap* Bmp)>;

class TMMBitmapList : public TComponent {
 public:
  explicit TMMBitmapList(TComponent* AOwner = nullptr);
  ~TMMBitmapList() override;

  int Count() const { return static_cast<int>(FItems.size()); }
  // The item at Index with HandleType applied (not a change); out of range raises.
  TBitmap& Bitmaps(int Index);
  // Appends a copy; returns its index.
  int Add(const TBitmap& Bitmap);
  void Insert(int Index, const TBitmap& Bitmap);
  void Delete(int Index);
  void Clear();
  // Null clears; another list: its items copied and its Compressed taken.
  void Assign(const TMMBitmapList* Source);

  void BeginUpdate();
  void EndUpdate();
  // Tells the observers and OnChange that an item changed (callers that edit a
  // fetched bitmap in place call it).
  void Changed();

  // Reads a "ListItems" stream inside one update; the list is cleared first and
  // stays cleared when the stream is damaged (EStreamError).
  void LoadFromStream(std::istream& Stream);
  void SaveToStream(std::ostream& Stream);

  bool Compressed() const { return FCompressed; }
  void SetCompressed(bool Value) { FCompressed = Value; }
  TBitmapHandleType HandleType() const { return FHandleType; }
  void SetHandleType(TBitmapHandleType Value) { FHandleType = Value; }

  // The controls that draw from this list attach here. At destruction the list
  // notifies with Data = this while csDestroying is set: observers drop it.
  TMMObservable& Observers() { return FObservers; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;
  TEncodeEvent OnEncode;
  TEncodeEvent OnDecode;
  TLoadedEvent OnBmpLoaded;

 private:
  void Changing();
  void CheckIndex(int Index, bool AllowEnd) const;
  void ReadItems(std::istream& Stream);

  std::vector<std::unique_ptr<TBitmap>> FItems;
  int FUpdateCount = 0;
  bool FNotifying = false;
  bool FCompressed = false;
  TBitmapHandleType FHandleType = TBitmapHandleType::bmDDB;
  TMMObservable FObservers;
};

// A control's link to the list it draws from: observes the list, calls Changed
// after every closed change, and forgets the list when the list is destroyed
// (then calls Changed too). Owned by the control; main thread.
class TMMBitmapListLink {
 public:
  explicit TMMBitmapListLink(std::function<void()> Changed);
  ~TMMBitmapListLink();
  TMMBitmapListLink(const TMMBitmapListLink&) = delete;
  TMMBitmapListLink& operator=(const TMMBitmapListLink&) = delete;

  TMMBitmapList* List() const { return FList; }
  // Moves the link to Value; the caller repaints as it sees fit.
  void SetList(TMMBitmapList* Value);
  // The item at Index, or null when there is no list or no such item.
  TBitmap* Item(int Index) const;

 private:
  TMMBitmapList* FList = nullptr;
  TMMObserver FObserver;
  std::function<void()> FChanged;
};

}  // namespace velmar
