#pragma once

#include "pattern/Picture.h"

#include <QFrame>

#include <functional>
#include <vector>

class QPainter;

namespace pruvex {
class Controller;
}

// Paints a picture of the engine on a drawing area: the background where no
// square lies, then each square's covered pixels, clipped to the area, so
// that every pixel is written once.
void PaintPicture(QPainter& painter, const QRect& drawingArea, const pruvex::Picture& picture);

// The drawing surface: a 2-pixel sunken panel (no frame in full screen)
// whose inside shows the pattern of the controller's state. It hands the
// input focus on to its window and reports the pointer's motion.
class PicMain : public QFrame {
  public:
    static constexpr int SunkenFrame = QFrame::WinPanel | QFrame::Sunken;

    PicMain(pruvex::Controller& controller, QWidget* parent);

    // The window's client area in device pixels at a whole scale (its size
    // in Qt's pixels at a fractional one): the size the picture is drawn for.
    QSize ClientPixels() const;

    // Called after each paint of the picture.
    void SetPaintListener(std::function<void()> listener) { PaintListener = std::move(listener); }
    // The display server fills the drawing area itself: only the frame is
    // painted here.
    void SetServerFilled(bool filled) { ServerFilled = filled; }
    // The drawing area in device pixels of the window, at a whole scale, and
    // the rectangles that fill it.
    QRect DeviceArea() const;
    std::vector<pruvex::PaintRect> DevicePlan() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void PaintDevicePixels(int scale);
    // The picture of the controller's state for the window's client area.
    pruvex::Picture DrawnPicture() const;

    pruvex::Controller& Logic;
    std::function<void()> PaintListener;
    bool ServerFilled = false;
};
