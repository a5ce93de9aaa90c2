#pragma once

// The display server and the desktop's services, beyond what Qt offers.

#include <QObject>

// Returns once the display server has taken every request sent before,
// without running the event loop: on X11, a flush and the reply to one cheap
// request; on Wayland, the reply to a sync request on a queue of its own.
void SyncWithDisplay();

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
