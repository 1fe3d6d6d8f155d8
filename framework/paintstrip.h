#pragma once
// Shared by the list's background and its scroll bars. Used by framework
// sources only.

namespace detail {

// Qt's raster engine hands a fill or blend of more than about a hundred
// lines to a pool of threads and waits for them: for the list, whose rows
// repaint at every batch, that cost more in wake-ups and switches than the
// painting itself. Its background goes in strips of 64 lines on this thread.
constexpr int kPaintStrip = 64;

}  // namespace detail
