#include "PicMain.h"

#include "app/Controller.h"

#include <QPainter>

namespace {
QColor ToQColor(pruvex::Colour colour) {
    return QColor(colour.Red, colour.Green, colour.Blue);
}
} // namespace

void PaintPicture(QPainter& painter, const QRect& drawingArea, const pruvex::Picture& picture) {
    for (const pruvex::PaintRect& rect :
         pruvex::PaintPlan(picture, drawingArea.width(), drawingArea.height())) {
        const pruvex::PixelRect& p = rect.Pixels;
        painter.fillRect(drawingArea.left() + p.Left, drawingArea.top() + p.Top, p.Width(),
                         p.Height(), ToQColor(rect.Fill));
    }
}

PicMain::PicMain(pruvex::Controller& controller, QWidget* parent)
    : QFrame(parent), Logic(controller) {
    setObjectName("picMain");
    setFrameStyle(SunkenFrame);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(true);
}

void PicMain::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QSize client = window()->size();
    PaintPicture(painter, contentsRect(),
                 pruvex::Draw(Logic.State(), static_cast<float>(client.width()),
                              static_cast<float>(client.height())));
}

void PicMain::focusInEvent(QFocusEvent* /*event*/) {
    window()->setFocus(Qt::OtherFocusReason);
}

void PicMain::mouseMoveEvent(QMouseEvent* /*event*/) {
    Logic.PointerMoved();
}
