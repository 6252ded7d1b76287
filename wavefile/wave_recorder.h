// TMMWaveRecorder: records a capture device into a WAV file and passes every
// recorded buffer on to its Output (the level meters). A composite of an owned
// wave input and wave file, chained wave input -> wave file -> recorder, whose
// properties and events it republishes under one name.
//
// A recording's file is complete (valid sizes) when OnStop is raised: after
// Stop, after MaxRecordTime, after a full disk, and when a new file name is set
// while recording (then OnStop comes before OnChange and the recorder stays
// stopped).
//
// Threads: everything on the main thread; events arrive on the thread that
// CallBackMode selects for the input (the main thread with cmWindow).
#pragma once

#include <memory>
#include <string>

#include "stream/dsp_component.h"
#include "stream/wave_in.h"
#include "wavefile/wave_file.h"

namespace velmar {

class TMMWaveRecorder : public TMMDSPComponent {
 public:
  explicit TMMWaveRecorder(TComponent* AOwner = nullptr);
  ~TMMWaveRecorder() override;

  // Starts recording into Wave's FileName; nothing while recording or without a name.
  void Start();
  // Starts the input with no file: its buffers reach OnData and Output and
  // are not written until ContinueIn names the first file (start on sound).
  void Listen();
  // Stops and closes the input; the file is finalised before OnStop.
  void Stop();
  // The current file is finalised and recording goes on in Name, the input
  // running on without a gap: called from OnData, the buffer being delivered
  // is the new file's first; called between deliveries (on the thread that
  // delivers), the next buffer is. Position then counts from the new file's
  // start; while listening, Name is the first file. Raises EMMWaveError when
  // Name cannot be created (a recording with a file then stops as on a full
  // disk); false when not recording.
  [[nodiscard]] bool ContinueIn(const std::string& Name);
  // The input's state bits: closed 1, opened 2, started 4, paused 8.
  unsigned State() const { return FWaveIn->State(); }
  // Milliseconds (TimeFormat units) recorded, counted on from the wave's
  // position at Start when an existing file is kept.
  int Position();

  // Audio bytes the input delivered for the current file (in OnData: with the
  // buffer being delivered); what was in a kept existing file not counted.
  std::int64_t FileBytes() const { return FWaveIn->BytesRecorded() - FContinuedAt; }

  // "PCM 44.100 kHz, 16 Bit, Stereo", or "Unknown" without a format. Writing it
  // only shows that the property is read-only.
  std::string InputFormat() const;
  void SetInputFormat(const std::string& Value);

  TMMWave* Wave() const { return FWaveFile->Wave(); }
  void SetWave(const TMMWave* Value) { FWaveFile->SetWave(Value); }

  int BufferSize() const override { return FWaveIn->BufferSize(); }
  void SetBufferSize(int Value) override { FWaveIn->SetBufferSize(Value); }
  int NumBuffers() const { return FWaveIn->NumBuffers(); }
  void SetNumBuffers(int Value) { FWaveIn->SetNumBuffers(Value); }
  int Batch() const { return FWaveIn->Batch(); }
  void SetBatch(int Value) { FWaveIn->SetBatch(Value); }
  TMMDeviceId DeviceID() const { return FWaveIn->DeviceID(); }
  void SetDeviceID(TMMDeviceId Value) { FWaveIn->SetDeviceID(Value); }
  std::string ProductName() const { return FWaveIn->ProductName(); }
  TMMCBMode CallBackMode() const { return FWaveIn->CallBackMode(); }
  void SetCallBackMode(TMMCBMode Value) { FWaveIn->SetCallBackMode(Value); }
  TMMTimeFormats TimeFormat() const { return FWaveIn->TimeFormat(); }
  void SetTimeFormat(TMMTimeFormats Value);
  int MaxRecordTime() const { return FWaveIn->MaxRecordTime(); }
  void SetMaxRecordTime(int Value) { FWaveIn->SetMaxRecordTime(Value); }
  TMMMode Mode() const { return FWaveIn->Mode(); }
  void SetMode(TMMMode Value) { FWaveIn->SetMode(Value); }
  TMMBits BitLength() const { return FWaveIn->BitLength(); }
  void SetBitLength(TMMBits Value) { FWaveIn->SetBitLength(Value); }
  int SampleRate() const { return FWaveIn->SampleRate(); }
  void SetSampleRate(int Value) { FWaveIn->SetSampleRate(Value); }
  bool OverwriteExisting() const { return FWaveFile->OverwriteExisting(); }
  void SetOverwriteExisting(bool Value) { FWaveFile->SetOverwriteExisting(Value); }
  bool CreateNew() const { return FWaveFile->CreateNew(); }
  void SetCreateNew(bool Value) { FWaveFile->SetCreateNew(Value); }

  // The owned parts, for callers that need more than the recorder republishes.
  TMMWaveIn& WaveIn() const { return *FWaveIn; }
  TMMWaveFile& WaveFile() const { return *FWaveFile; }

  // A format from the chain goes to the input unless it already has it.
  void SetPWaveFormat(const WAVEFORMATEX* fmt) override;

  using TMMDSPComponent::SetOutput;
  // A recorded buffer, written to the file, on its way to Output.
  void BufferReady(PWaveHdr lpWaveHdr) override;

  TNotifyEvent OnStart, OnStop, OnPause, OnRestart, OnChange;
  TMMBufferEvent OnData;

 private:
  void InputStopped();
  void FileChanging();

  bool FChangeActive = false;
  int FStartPosition = 0;
  std::int64_t FContinuedAt = 0;  // input bytes before the current file began
  std::uint32_t FDelivering = 0;  // bytes of the buffer being delivered, 0 between buffers
  std::unique_ptr<TMMWaveIn> FWaveIn;
  std::unique_ptr<TMMWaveFile> FWaveFile;
};

}  // namespace velmar
