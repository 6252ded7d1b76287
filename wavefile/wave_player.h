// TMMWavePlayer: plays a WAV file on an output device. A composite of an owned
// wave file, ADPCM decoder, PCM converter and wave output, chained in that
// order and then to the player, which passes every buffer handed to the device
// on to its Output.
//
// OnStop comes after the device and the file are closed, both after Stop and
// at the end of the file; Play after the end starts again from the beginning.
//
// Threads: everything on the main thread; events arrive on the thread that
// CallBackMode selects for the output (the main thread with cmWindow).
#pragma once

#include <memory>
#include <string>

#include "stream/dsp_component.h"
#include "stream/wave_out.h"
#include "wavefile/acm_converter.h"
#include "wavefile/adpcm_converter.h"
#include "wavefile/wave_file.h"

namespace velmar {

class TMMWavePlayer : public TMMDSPComponent {
 public:
  explicit TMMWavePlayer(TComponent* AOwner = nullptr);
  ~TMMWavePlayer() override;

  // Loads a file (EMMWaveError for a missing or invalid one; the previous file
  // stays loaded).
  void LoadFile(const std::string& Name);
  // Plays from the position; nothing while playing or without audio.
  void Play();
  void Stop();
  // The output's state bits: closed 1, opened 2, started 4, paused 8.
  unsigned State() const { return FWaveOut->State(); }
  // True when playing and the position has not moved for Seconds: the output
  // device is gone (a sound server stopped, a card unplugged). The front end
  // asks now and then while it plays.
  [[nodiscard]] bool OutputStalled(double Seconds = 2);
  // TimeFormat units.
  int GetPosition();
  void SetPosition(int Value);

  TMMWave* Wave() const { return FWaveFile->Wave(); }
  void SetWave(const TMMWave* Value) { FWaveFile->SetWave(Value); }
  bool ResetPosition() const { return FResetPosition; }
  void SetResetPosition(bool Value) { FResetPosition = Value; }
  bool AutoConvert() const { return FAutoConvert; }
  // Raises "Change to property while device was open" while the output is open.
  void SetAutoConvert(bool Value);

  int BufferSize() const override { return FWaveOut->BufferSize(); }
  void SetBufferSize(int Value) override { FWaveOut->SetBufferSize(Value); }
  int NumBuffers() const { return FWaveOut->NumBuffers(); }
  void SetNumBuffers(int Value) { FWaveOut->SetNumBuffers(Value); }
  TMMDeviceId DeviceID() const { return FWaveOut->DeviceID(); }
  void SetDeviceID(TMMDeviceId Value) { FWaveOut->SetDeviceID(Value); }
  std::string ProductName() const { return FWaveOut->ProductName(); }
  TMMCBMode CallBackMode() const { return FWaveOut->CallBackMode(); }
  void SetCallBackMode(TMMCBMode Value) { FWaveOut->SetCallBackMode(Value); }
  bool Looping() const { return FWaveOut->Looping(); }
  void SetLooping(bool Value) { FWaveOut->SetLooping(Value); }
  int LoopCount() const { return FWaveOut->LoopCount(); }
  void SetLoopCount(int Value) { FWaveOut->SetLoopCount(Value); }
  TMMTimeFormats TimeFormat() const { return FWaveOut->TimeFormat(); }
  void SetTimeFormat(TMMTimeFormats Value);

  // The owned parts, for callers that need more than the player republishes.
  TMMWaveFile& WaveFile() const { return *FWaveFile; }
  TMMADPCMConverter& Decoder() const { return *FDecoder; }
  TMMPCMConverter& Converter() const { return *FConverter; }
  TMMWaveOut& WaveOut() const { return *FWaveOut; }

  using TMMDSPComponent::SetOutput;

  TNotifyEvent OnStart, OnStop, OnPause, OnRestart, OnChange;
  TMMBufferEvent OnData;

 private:
  void DeviceStopped();
  void DeviceClosed();
  void UpdateDecoder();

  int FWatchedPosition = -1;  // OutputStalled: the position last seen moving, and when
  double FWatchedSince = 0;
  int FBasePosition = 0;
  int FStopPosition = -1;
  bool FSeeking = false;
  bool FResetPosition = true;
  bool FAutoConvert = true;
  std::unique_ptr<TMMWaveFile> FWaveFile;
  std::unique_ptr<TMMADPCMConverter> FDecoder;
  std::unique_ptr<TMMPCMConverter> FConverter;
  std::unique_ptr<TMMWaveOut> FWaveOut;
};

}  // namespace velmar
