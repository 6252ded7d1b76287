#include "platform/wave/alsa/server_rate.h"

#include <alsa/asoundlib.h>

#include <cstdio>
#include <memory>
#include <sstream>

namespace velmar {

namespace {

// A string field of an ALSA configuration node, or "".
std::string Field(snd_config_t* Node, const char* Key) {
  snd_config_t* Child = nullptr;
  const char* Text = nullptr;
  if (snd_config_search(Node, Key, &Child) < 0 || snd_config_get_string(Child, &Text) < 0 || !Text)
    return {};
  return Text;
}

// The output of a short command (the C locale, two seconds at most).
std::string Output(const std::string& Command) {
  std::unique_ptr<FILE, int (*)(FILE*)> Pipe(
      ::popen(("LC_ALL=C timeout 2 " + Command + " 2>/dev/null").c_str(), "r"), ::pclose);
  if (!Pipe) return {};
  std::string Text;
  char Chunk[4096];
  for (std::size_t n; (n = std::fread(Chunk, 1, sizeof Chunk, Pipe.get())) > 0;)
    Text.append(Chunk, n);
  return Text;
}

// The rate in a format line such as "s16le 2ch 44100Hz"; 0 when none.
int SpecRate(const std::string& Spec) {
  const std::size_t Hz = Spec.rfind("Hz");
  if (Hz == std::string::npos) return 0;
  std::size_t From = Hz;
  while (From > 0 && std::isdigit(static_cast<unsigned char>(Spec[From - 1]))) --From;
  return From == Hz ? 0 : std::stoi(Spec.substr(From, Hz - From));
}

}  // namespace

std::string ServerRateNote(const std::string& Pcm, int Rate) {
  // The PCM's definition: a sound server's plugin, and the source it names.
  std::string Type, Source;
  snd_config_t* Definition = nullptr;
  if (snd_config_update() < 0 ||
      snd_config_search_definition(snd_config, "pcm", Pcm.c_str(), &Definition) < 0)
    return {};
  Type = Field(Definition, "type");
  Source = Field(Definition, "device");
  snd_config_delete(Definition);
  if (Type != "pulse" && Type != "pipewire") return {};

  // The server's default source and rate, and the rate of the source itself.
  std::istringstream Info(Output("pactl info"));
  int ServerRate = 0;
  for (std::string Line; std::getline(Info, Line);) {
    if (Line.rfind("Default Source: ", 0) == 0 && (Source.empty() || Type == "pipewire"))
      Source = Line.substr(16);
    // pactl's line of the server's own format: "Default Sample ...: float32le 2ch 48000Hz".
    if (Line.rfind("Default Sample ", 0) == 0) ServerRate = SpecRate(Line);
  }
  int SourceRate = 0;
  std::istringstream Sources(Output("pactl list short sources"));
  for (std::string Line; std::getline(Sources, Line);) {
    std::istringstream Fields(Line);
    std::string Index, Name;
    std::getline(Fields, Index, '\t');
    std::getline(Fields, Name, '\t');
    if (Name == Source) SourceRate = SpecRate(Line);
  }
  const int Runs = SourceRate > 0 ? SourceRate : ServerRate;
  if (Runs <= 0 || Runs == Rate) return {};
  return "the sound server records " + (Source.empty() ? std::string("the input") : Source) +
         " at " + std::to_string(Runs) + " Hz, so the recording is resampled to " +
         std::to_string(Rate) +
         " Hz (not bit for bit, duller at the very top); to avoid it, run the server at " +
         std::to_string(Rate) + " Hz (PipeWire: pw-metadata -n settings 0 clock.force-rate " +
         std::to_string(Rate) + "; PulseAudio: default-sample-rate = " + std::to_string(Rate) +
         " in daemon.conf)";
}

}  // namespace velmar
