#pragma once

// The display server and the desktop's services, beyond what Qt offers.

#include <QObject>
#include <QRect>

#include <optional>

// Returns once the display server has taken every request sent before,
// without running the event loop: on X11, a flush and the reply to one cheap
// request; on Wayland, the reply to a sync request on a queue of its own.
void SyncWithDisplay();

// On X11, where the X server has the window now (the root window's
// coordinates, device pixels), asked of the server itself: Qt takes a
// top-level window's geometry as set when it asks for it, before a window
// manager has carried the request out. Nothing elsewhere.
std::optional<QRect> PlaceOnServer(unsigned long long window);

// Holds the screensaver and display power saving off: on X11 through the
// screen-saver extension, and through the session's
// org.freedesktop.ScreenSaver service where the session bus has one.
class ScreenSaver : public QObject {
  public:
    ScreenSaver() = default;
    ~ScreenSaver() override;
    ScreenSaver(const ScreenSaver&) = delete;
    ScreenSaver& operator=(const ScreenSaver&) = delete;

    void Hold(bool held);

  private:
    void UnInhibit();

    bool Held = false;
    bool InhibitPending = false;
    unsigned Cookie = 0; // of the service's Inhibit call; 0 for none
};
