#pragma once

namespace velmar {

// Sets how Qt brings a window's pictures to an X server, before the application
// object exists (main thread). The level bars repaint a few small strips many
// times a second; through shared memory each repaint waits for the server to
// release the last one (a round trip and two wake-ups per frame), while the
// server's socket takes a strip at once. Pictures of whole windows are rare and
// cross the socket quickly on a local display. A user's own setting stays.
void PrepareScreenUpdates();

}  // namespace velmar
