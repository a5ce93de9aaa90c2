#pragma once

#include "pattern/Picture.h"

#include <QFrame>

class QPainter;

// Paints a picture of the engine on a drawing area: the background over the
// whole area, then each square's covered pixels, clipped to the area.
void PaintPicture(QPainter& painter, const QRect& drawingArea, const pruvex::Picture& picture);

// The drawing surface: a 2-pixel sunken panel whose inside shows the pattern
// of the state it is given. It hands the input focus on to its window.
class PicMain : public QFrame {
  public:
    PicMain(pruvex::PatternState& state, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    pruvex::PatternState& State;
};
