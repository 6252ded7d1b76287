// The notification numbers of the wave devices: what the platform (or its
// callback) sends to an input or output device.
#pragma once

#include "platform/messages.h"

namespace velmar {

inline constexpr UINT MM_WOM_OPEN = 955;   // output opened
inline constexpr UINT MM_WOM_CLOSE = 956;  // output closed
inline constexpr UINT MM_WOM_DONE = 957;   // output buffer done (wParam handle, lParam header)
inline constexpr UINT MM_WIM_OPEN = 958;   // input opened
inline constexpr UINT MM_WIM_CLOSE = 959;  // input closed
inline constexpr UINT MM_WIM_DATA = 960;   // input buffer done (wParam handle, lParam header)

}  // namespace velmar
