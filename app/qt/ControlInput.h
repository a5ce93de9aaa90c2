#pragma once

#include "app/ControlChannel.h"

#include <QObject>
#include <QSocketNotifier>

class FrmMain;

// The control channel on standard input, watched by the event loop: lines
// are read as they come and handed on one at a time; while a reply is
// pending, nothing more is read.
class ControlInput : public QObject {
  public:
    explicit ControlInput(FrmMain& window);

  private:
    void Read();
    void Resume();

    pruvex::ControlChannel Channel;
    QSocketNotifier Notifier;
    bool Ended = false;
};
