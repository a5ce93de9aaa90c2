#pragma once

// The system beep. On X11 it is the server's bell. The Wayland protocol has
// no bell: there the sound theme's "bell" event is played through
// libcanberra, as the desktop's own programs do, when that library is
// installed; it is loaded at run time, so without it the beep is silent and
// says nothing.
void SystemBeep();
