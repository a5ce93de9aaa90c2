#include "PicMain.h"

#include "app/Controller.h"
#include "app/PlatformChoice.h"

#include <QPainter>
#include <qdrawutil.h>

#include <algorithm>
#include <cstdio>

namespace {
QColor ToQColor(pruvex::Colour colour) {
    return QColor(colour.Red, colour.Green, colour.Blue);
}

// A compositor that resamples the window cannot show an exact picture: said
// once, on the first paint at such a scale.
void WarnOfFractionalScale(qreal ratio) {
    static bool warned = false;
    if (warned) {
        return;
    }
    const std::string warning = pruvex::FractionalScaleWarning(ratio);
    if (!warning.empty()) {
        warned = true;
        std::fprintf(stderr, "%s\n", warning.c_str());
    }
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
    const qreal ratio = devicePixelRatioF();
    WarnOfFractionalScale(ratio);
    // Where the server fills the drawing area, only the frame is painted here.
    const bool serverFilled = ServerFilled && pruvex::WholeScale(ratio) > 0;
    if (pruvex::WholeScale(ratio) > 1) {
        PaintDevicePixels(pruvex::WholeScale(ratio));
    } else {
        QFrame::paintEvent(event);
        if (!serverFilled) {
            QPainter painter(this);
            PaintPicture(painter, contentsRect(), DrawnPicture());
        }
    }
    if (!serverFilled && PaintListener) {
        PaintListener();
    }
}

// At a whole output scale above 1 the painter works in device pixels: the
// picture is that of a client area of the window's size in device pixels,
// frame included, exactly as such a window shows it at scale 1.
void PicMain::PaintDevicePixels(int scale) {
    QPainter painter(this);
    painter.scale(1.0 / scale, 1.0 / scale);
    const QRect whole(QPoint(0, 0), size() * scale);
    const int frame = frameWidth();
    if (frame > 0) {
        qDrawWinPanel(&painter, whole, palette(), true);
    }
    if (!ServerFilled) {
        PaintPicture(painter, whole.adjusted(frame, frame, -frame, -frame), DrawnPicture());
    }
}

pruvex::Picture PicMain::DrawnPicture() const {
    const QSize client = ClientPixels();
    return pruvex::Draw(Logic.State(), static_cast<float>(client.width()),
                        static_cast<float>(client.height()));
}

std::vector<pruvex::PaintRect> PicMain::DevicePlan() const {
    const QRect area = DeviceArea();
    return pruvex::PaintPlan(DrawnPicture(), area.width(), area.height());
}

QSize PicMain::ClientPixels() const {
    return window()->size() * std::max(pruvex::WholeScale(devicePixelRatioF()), 1);
}

QRect PicMain::DeviceArea() const {
    const int scale = pruvex::WholeScale(devicePixelRatioF());
    // The frame is painted in device pixels.
    const int frame = frameWidth();
    const QRect area(pos() * scale, size() * scale);
    return area.adjusted(frame, frame, -frame, -frame);
}

void PicMain::focusInEvent(QFocusEvent* /*event*/) {
    window()->setFocus(Qt::OtherFocusReason);
}

void PicMain::mouseMoveEvent(QMouseEvent* /*event*/) {
    Logic.PointerMoved();
}
