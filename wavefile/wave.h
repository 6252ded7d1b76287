// TMMWave: one wave file as an object: its name, format and length, a position
// in a selectable time unit (TimeFormat), reading along its play list and
// writing. It owns the file's block of the WAV layer (wave_file_io.h).
//
// States: empty -> named (FileMustExist false, file missing) -> parsed (file
// closed) or created (open for writing) -> opened (OpenFile) -> closed again
// (CloseFile finalises a written file). Clear/ReleaseWave return to empty; the
// destructor finalises a file that was being written.
// Every change notifies OnChange and the attached observers (Data = this).
// Errors raise EMMWaveError with a library message. No locking: one chain at a
// time uses a wave, on whatever thread delivers that chain's buffers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "stream/errors.h"
#include "stream/mm_object.h"
#include "stream/mm_types.h"
#include "wavefile/wave_file_io.h"

namespace velmar {

using TMMWaveProgress =
    std::function<void(TObject* Sender, int CurByte, int NumBytes, bool& Cancel)>;

// A run of the wave to play; Start and Length in sample frames.
struct TMMSegment {
  std::int32_t StartSample = 0;
  std::int32_t StartByte = 0;
  std::int32_t Samples = 0;
  std::int32_t Bytes = 0;
};

// An external list of runs to play instead of the whole region.
struct TMMCutList {
  std::vector<TMMSegment> Segments;  // StartSample and Samples are used
};

class TMMWave : public TMMObject {
 public:
  TMMWave();
  ~TMMWave() override;

  TMMTimeFormats TimeFormat() const { return FTimeFormat; }
  void SetTimeFormat(TMMTimeFormats Value);
  bool FileMustExist() const { return FFileMustExist; }
  void SetFileMustExist(bool Value) { FFileMustExist = Value; }
  // Files created from now on are made durable every few seconds while
  // written (the default, for recordings); off for copies of audio that is
  // kept elsewhere, which then write at the speed of the page cache.
  bool SyncWhileWriting() const { return FSyncWhileWriting; }
  void SetSyncWhileWriting(bool Value) { FSyncWhileWriting = Value; }
  const std::string& FileName() const { return FFileName; }
  virtual void SetFileName(const std::string& Name);
  int IOBufferSize() const { return FIOBufferSize; }
  void SetIOBufferSize(int Value);

  // Read-only properties of the format and the file.
  std::uint16_t BitLength() const;
  TMMMode Mode() const;
  std::uint16_t FormatTag() const;
  std::string FormatString() const;
  int SampleRate() const;
  int FileSize() const;
  int DataSize() const;

  TMMWaveProgress OnProgress;

  virtual int ReadData(void* Buffer, int Count);
  virtual WAVEFORMATEX* GetPWaveFormat() const;
  virtual void SetPosition(int Value);
  virtual int SamplesToBytes(int n) const;
  virtual int BytesToSamples(int n) const;
  virtual int PositionToSample(int n) const { return n; }
  virtual int SampleToPosition(int n) const { return n; }
  virtual int SamplesToTimeFormat(int n) const;
  virtual int TimeFormatToSamples(int n) const;
  virtual void SetCutList(const TMMCutList* List);
  virtual void ResetHook(bool) {}
  virtual void OpenFile();
  virtual void CloseFile();
  virtual void RewindHook() {}

  // Creates Name afresh for writing with Format; the file stays open. With
  // MustBeNew a file that exists already is never replaced: the create fails.
  // A failure names the file and the reason.
  void CreateFile(const std::string& Name, const WAVEFORMATEX* Format, bool MustBeNew = false);
  // Appends audio; the written count, -1 without a block.
  int WriteData(const void* Buffer, int Count);
  // Reads along the play list; -1 at the end (see the cpp for the last call).
  int ReadDataBuffer(void* Buffer, int Count);
  // Position in TimeFormat units; -1 without a block.
  int GetPosition() const;
  bool IsEmpty() const { return DataSize() == 0; }
  int BytesLeftToPlay() const { return FBytesLeft; }
  int PlayLength() const;
  bool IsOpened() const { return FOpened; }
  void Clear();
  void ReleaseWave();
  void AddObserver(TMMObserver* Observer) { FObservers.Attach(Observer); }
  void RemoveObserver(TMMObserver* Observer) { FObservers.Detach(Observer); }
  // Copies another wave (name, or format, and the time settings); null clears.
  void Assign(const TMMWave* Source);

  // The underlying block, or null.
  const TWaveFileBlock* Block() const { return FBlock; }

 protected:
  void Changed() override;

 private:
  void TakeBlock(TWaveFileBlock* Block);
  void RebuildPlayList();
  std::int32_t PlaySamples() const;
  std::int32_t PlayBytesTotal() const;
  [[noreturn]] void Fail(int Message) const;

  TWaveFileBlock* FBlock = nullptr;
  std::string FFileName;
  bool FFileMustExist = true;
  bool FSyncWhileWriting = true;
  int FIOBufferSize = 32768;
  TMMTimeFormats FTimeFormat = TMMTimeFormats::tfSample;
  std::int32_t FRegionStart = 0, FRegionEnd = 0;
  std::int32_t FPosition = 0;
  std::int32_t FBytesLeft = 0;
  std::int32_t FPlayBytes = 0;
  std::vector<TMMSegment> FPlayList;
  const TMMCutList* FCutList = nullptr;
  std::int32_t FSegment = 0, FSegmentBytesLeft = 0;
  bool FOpened = false;
  bool FAssigning = false, FChangePending = false;
  TMMObservable FObservers;
};

}  // namespace velmar
