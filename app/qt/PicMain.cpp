#include "PicMain.h"

#include <QPainter>

namespace {
QColor ToQColor(pruvex::Colour colour) {
    return QColor(colour.Red, colour.Green, colour.Blue);
}
} // namespace

void PaintPicture(QPainter& painter, const QRect& drawingArea, const pruvex::Picture& picture) {
    painter.fillRect(drawingArea, ToQColor(picture.Background));
    painter.setClipRect(drawingArea);
    for (const pruvex::FilledSquare& square : picture.Squares) {
        const pruvex::PixelRect& pixels = square.Pixels;
        if (!pixels.IsEmpty()) {
            painter.fillRect(drawingArea.left() + pixels.Left, drawingArea.top() + pixels.Top,
                             pixels.Width(), pixels.Height(), ToQColor(square.Fill));
        }
    }
}

PicMain::PicMain(pruvex::PatternState& state, QWidget* parent) : QFrame(parent), State(state) {
    setObjectName("picMain");
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
}

void PicMain::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QSize client = window()->size();
    PaintPicture(painter, contentsRect(),
                 pruvex::Draw(State, static_cast<float>(client.width()),
                              static_cast<float>(client.height())));
}

void PicMain::focusInEvent(QFocusEvent* /*event*/) {
    window()->setFocus(Qt::OtherFocusReason);
}
