// TMMCustomWaveFile / TMMWaveFile: a wave in a chain. With an Input it records
// the stream that passes through it into the wave's file (a sink that passes the
// buffers on); without an Input it is the chain's source and plays the file,
// looping through the header's loop fields, or delivers silence while disabled.
//
// It never raises for a full disk or a failed write while recording: it closes
// itself, which finalises what was written, and the buffers keep flowing on.
// Chain operations run on the thread that delivers the driving device's
// buffers; OnOpen and OnClose are delivered on the main thread. Properties are
// set on the main thread.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/dsp_component.h"
#include "wavefile/wave.h"

namespace velmar {

// The free-space margin a recording keeps beyond its file buffer and the buffer
// being written.
inline constexpr std::int64_t kDiskReserveBytes = 10240;

class TMMCustomWaveFile : public TMMDSPComponent {
 public:
  explicit TMMCustomWaveFile(TComponent* AOwner = nullptr);
  ~TMMCustomWaveFile() override;

  TMMWave* Wave() const { return FWave.get(); }
  // Copies Value into the own wave (Assign).
  void SetWave(const TMMWave* Value) { FWave->Assign(Value); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value) { FEnabled = Value; }
  bool OverwriteExisting() const { return FOverwriteExisting; }
  void SetOverwriteExisting(bool Value) { FOverwriteExisting = Value; }
  // A recording creates its file only when no file of that name exists (the
  // start then fails), so that it never replaces what another program wrote.
  bool CreateNew() const { return FCreateNew; }
  void SetCreateNew(bool Value) { FCreateNew = Value; }
  // While recording, on the thread that delivers the buffers, before the
  // buffer being delivered is written: finalises the current file and goes on
  // in a new file Name, so that the stream continues without a gap; while
  // the stream runs without a file (no name), Name is its first. Raises
  // EMMWaveError when Name cannot be created (the recording then ends as on a
  // full disk, unless it had no file yet); false when not recording.
  bool ContinueIn(const std::string& Name);
  std::uint8_t SilenceValue() const { return FSilenceValue; }
  bool IsOpen() const { return FIsOpen; }
  bool IsRecordingStarted() const { return FIsStarted; }

  TNotifyEvent OnOpen, OnClose, OnChange, OnChanged, OnLooping;

  void SetPWaveFormat(const WAVEFORMATEX* fmt) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Resetting() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

 protected:
  virtual void WaveChanged(TObject* Sender, TObject* Data);
  virtual void DoOpen();
  virtual void DoClose();

 private:
  // Pads an empty recording and closes the file (sizes final).
  void FinishRecordedFile();
  // Records one buffer, or closes the file when the disk is (nearly) full or the
  // write fails.
  void WriteBuffer(PWaveHdr lpWaveHdr);
  void Play(PWaveHdr lpWaveHdr, bool& MoreBuffers);

  std::unique_ptr<TMMWave> FWave;
  std::int32_t FSavedPosition = 0;
  std::uint8_t FSilenceValue = 128;
  bool FEnabled = true;
  bool FIsOpen = false;
  bool FIsStarted = false;
  bool FOverwriteExisting = true;
  bool FCreateNew = false;
  bool FSwitching = false;              // ContinueIn replaces the file: not a change of the wave
  std::int64_t FKnownFree = -1;         // the disk's free bytes when last asked; -1: ask
  std::int64_t FWrittenSinceAsked = 0;  // bytes recorded since
  std::unique_ptr<TMMObserver> FWaveObserver;
};

// The component placed in chains: publishes Input and Output.
class TMMWaveFile : public TMMCustomWaveFile {
 public:
  explicit TMMWaveFile(TComponent* AOwner = nullptr) : TMMCustomWaveFile(AOwner) {
    PublishLinks(true, true);
  }
  using TMMDSPComponent::SetInput;
  using TMMDSPComponent::SetOutput;
};

}  // namespace velmar
