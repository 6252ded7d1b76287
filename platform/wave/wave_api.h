// The wave device function sets (waveIn..., waveOut...) with the platform's
// result codes, flags and capability records, over backends whose devices are
// merged into one list per direction (see wave_backend.h).
//
// Devices behave as a sound card driver would: queued headers are filled (or
// played) in order by one I/O thread per open device, which marks each one done
// and then notifies: the callback function (CALLBACK_FUNCTION) on that thread,
// or a message posted to a hidden window (CALLBACK_WINDOW). Opened and closed are
// notified too. Stop keeps empty headers queued (a partly filled capture header
// comes back with its bytes); reset returns every queued header.
// Every function may be called from any thread.
#pragma once

#include <cstdint>

#include "platform/messages.h"
#include "platform/mmresult.h"
#include "platform/wave/wave_backend.h"
#include "platform/wave/wave_format_ex.h"
#include "platform/wave/wave_header.h"
#include "platform/wave/wave_messages.h"

namespace velmar {

using HWAVEIN = std::uintptr_t;
using HWAVEOUT = std::uintptr_t;

inline constexpr std::uint32_t WAVE_MAPPER = 0xFFFFFFFFu;
inline constexpr std::uint32_t WAVE_FORMAT_QUERY = 0x0001;
inline constexpr std::uint32_t WAVE_MAPPED = 0x0004;
inline constexpr std::uint32_t CALLBACK_WINDOW = 0x00010000;
inline constexpr std::uint32_t CALLBACK_FUNCTION = 0x00030000;

// Standard-format bits of the capability records: rate class x channels x width.
inline constexpr std::uint32_t WAVE_FORMAT_1M08 = 0x1, WAVE_FORMAT_1S08 = 0x2,
                               WAVE_FORMAT_1M16 = 0x4, WAVE_FORMAT_1S16 = 0x8,
                               WAVE_FORMAT_2M08 = 0x10, WAVE_FORMAT_2S08 = 0x20,
                               WAVE_FORMAT_2M16 = 0x40, WAVE_FORMAT_2S16 = 0x80,
                               WAVE_FORMAT_4M08 = 0x100, WAVE_FORMAT_4S08 = 0x200,
                               WAVE_FORMAT_4M16 = 0x400, WAVE_FORMAT_4S16 = 0x800;
inline constexpr std::uint32_t WAVE_FORMATS_ALL = 0xFFF;

inline constexpr int MAXPNAMELEN = 32;

struct WAVEINCAPS {  // 48 bytes
  std::uint16_t wMid;
  std::uint16_t wPid;
  std::uint32_t vDriverVersion;
  char szPname[MAXPNAMELEN];
  std::uint32_t dwFormats;
  std::uint16_t wChannels;
  std::uint16_t wReserved1;
};

struct WAVEOUTCAPS {  // 52 bytes
  std::uint16_t wMid;
  std::uint16_t wPid;
  std::uint32_t vDriverVersion;
  char szPname[MAXPNAMELEN];
  std::uint32_t dwFormats;
  std::uint16_t wChannels;
  std::uint16_t wReserved1;
  std::uint32_t dwSupport;
};

static_assert(sizeof(WAVEINCAPS) == 48 && sizeof(WAVEOUTCAPS) == 52);

inline constexpr std::uint32_t TIME_MS = 1, TIME_SAMPLES = 2, TIME_BYTES = 4;

struct MMTIME {  // 12 bytes: type, value
  std::uint32_t wType;
  union {
    std::uint32_t ms;
    std::uint32_t sample;
    std::uint32_t cb;
  } u;
  std::uint32_t Padding;
};

// The callback function: (handle, message, instance, header or 0, 0).
using TWaveCallback = void (*)(std::uintptr_t Handle, UINT Message, std::uintptr_t Instance,
                               std::uintptr_t Param1, std::uintptr_t Param2);

std::uint32_t waveInGetNumDevs();
MMRESULT waveInGetDevCaps(std::uint32_t Device, WAVEINCAPS* Caps, std::uint32_t Size);
MMRESULT waveInGetErrorText(MMRESULT Error, char* Text, std::uint32_t Size);
// Callback is a TWaveCallback for CALLBACK_FUNCTION or an HWND for CALLBACK_WINDOW.
MMRESULT waveInOpen(HWAVEIN* Handle, std::uint32_t Device, const WAVEFORMATEX* Format,
                    std::uintptr_t Callback, std::uintptr_t Instance, std::uint32_t Flags);
MMRESULT waveInClose(HWAVEIN Handle);
MMRESULT waveInPrepareHeader(HWAVEIN Handle, WAVEHDR* Header, std::uint32_t Size);
MMRESULT waveInUnprepareHeader(HWAVEIN Handle, WAVEHDR* Header, std::uint32_t Size);
MMRESULT waveInAddBuffer(HWAVEIN Handle, WAVEHDR* Header, std::uint32_t Size);
MMRESULT waveInStart(HWAVEIN Handle);
MMRESULT waveInStop(HWAVEIN Handle);
MMRESULT waveInReset(HWAVEIN Handle);
MMRESULT waveInGetPosition(HWAVEIN Handle, MMTIME* Time, std::uint32_t Size);
MMRESULT waveInGetID(HWAVEIN Handle, std::uint32_t* Device);
// Beyond the classic set: the device reports Buffers filled buffers together,
// waiting for the audio of all of them before it fills the first (1, the
// default: each as soon as it is full). A program that only stores the audio
// then wakes once for several buffers; one that shows it keeps 1.
MMRESULT waveInSetBatch(HWAVEIN Handle, std::uint32_t Buffers);

std::uint32_t waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(std::uint32_t Device, WAVEOUTCAPS* Caps, std::uint32_t Size);
MMRESULT waveOutGetErrorText(MMRESULT Error, char* Text, std::uint32_t Size);
MMRESULT waveOutOpen(HWAVEOUT* Handle, std::uint32_t Device, const WAVEFORMATEX* Format,
                     std::uintptr_t Callback, std::uintptr_t Instance, std::uint32_t Flags);
MMRESULT waveOutClose(HWAVEOUT Handle);
MMRESULT waveOutPrepareHeader(HWAVEOUT Handle, WAVEHDR* Header, std::uint32_t Size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT Handle, WAVEHDR* Header, std::uint32_t Size);
MMRESULT waveOutWrite(HWAVEOUT Handle, WAVEHDR* Header, std::uint32_t Size);
MMRESULT waveOutPause(HWAVEOUT Handle);
MMRESULT waveOutRestart(HWAVEOUT Handle);
MMRESULT waveOutReset(HWAVEOUT Handle);
MMRESULT waveOutGetPosition(HWAVEOUT Handle, MMTIME* Time, std::uint32_t Size);

// Diagnostics: overruns (capture) or underruns (playback) an open device recovered from.
std::uint32_t WaveDeviceXruns(std::uintptr_t Handle);
// The input a capture device lost since it was started: how many stretches,
// and stretch i (false when there is no such device or stretch). Any thread.
std::size_t waveInDropoutCount(HWAVEIN Handle);
bool waveInGetDropout(HWAVEIN Handle, std::size_t Index, TInputDropout* Dropout);
// The capture device failed, or went away and is waited for (any thread).
bool waveInInputGone(HWAVEIN Handle);

}  // namespace velmar
