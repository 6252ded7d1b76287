// What a connector needs of a display it feeds (a level bar, or any other
// display that offers these operations): the PCM bytes one update consumes, the
// stream's PCM format, one update's data, and a reset. Main thread (the thread
// of the connector's draw pass).
#pragma once

#include "platform/wave/wave_format_ex.h"

namespace velmar {

class TMMDisplaySink {
 public:
  virtual ~TMMDisplaySink() = default;
  virtual int BytesPerUpdate() const = 0;
  // May raise for a format the display cannot show.
  virtual void SetPCMWaveFormat(const WAVEFORMATEX* Format) = 0;
  virtual void RefreshPCMData(const void* Data) = 0;
  virtual void ResetData() = 0;
};

}  // namespace velmar
