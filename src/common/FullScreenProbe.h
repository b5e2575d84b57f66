// Whether a full-screen application covers the desktop (a game, a presentation, a video), so that
// nothing of the suite should pop up or install now. Reads the machine's window table; any thread.
#pragma once

// True when the same visible window, or windows of one process, lie 10 pixels inside each corner
// of the desktop, that process is neither the shell's nor the desktop's, and no screen saver runs.
bool IsFullscreen();
