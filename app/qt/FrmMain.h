#pragma once

#include "app/Arguments.h"
#include "pattern/PatternState.h"

#include <QWidget>

#include <functional>

class PicMain;

// The one window: owns the display's state and the drawing surface that
// covers its whole client area, and takes every typed character.
class FrmMain : public QWidget {
  public:
    explicit FrmMain(const pruvex::Arguments& arguments, QWidget* parent = nullptr);

    const pruvex::PatternState& state() const { return State; }
    PicMain* picture() const { return picMain; }

    // The system beep by default; tests count instead.
    void setBeeper(std::function<void()> beeper) { Beeper = std::move(beeper); }

    // One pass of the key commands for one typed character.
    void typeCharacter(char32_t character);

    // Brings the caption and the picture up to date with the state.
    void Redraw();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    pruvex::PatternState State;
    PicMain* picMain;
    std::function<void()> Beeper;
};
