#include "FrmMain.h"

#include "Bell.h"
#include "DisplayServer.h"
#include "FrameClock.h"
#include "PicMain.h"
#include "ServerSurface.h"
#include "app/Monitors.h"
#include "app/PlatformChoice.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QWindow>
#include <qpa/qplatformscreen.h>

#include <cmath>
#include <cstdio>

std::vector<pruvex::Monitor> DesktopMonitors() {
    std::vector<pruvex::Monitor> monitors;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        monitors.push_back(
            {screen->name().toStdString(), g.x(), g.y(), g.width(), g.height(), screen == primary});
    }
    return pruvex::NumberMonitors(std::move(monitors));
}

namespace {

QScreen* ScreenOfMonitor(const pruvex::Monitor& monitor) {
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name().toStdString() == monitor.Name &&
            screen->geometry() == QRect(monitor.Left, monitor.Top, monitor.Width, monitor.Height)) {
            return screen;
        }
    }
    return QGuiApplication::primaryScreen();
}

void WriteLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

FrmMain::FrmMain(const pruvex::Options& options, QWidget* parent)
    : QWidget(parent), Logic(*this, options), picMain(nullptr), Beeper(&SystemBeep),
      ReplyWriter(WriteLine), Saver(std::make_unique<ScreenSaver>()) {
    setObjectName("frmMain");
    setWindowTitle("Form1");
    setFocusPolicy(Qt::StrongFocus);
    picMain = new PicMain(Logic, this);
    // Replies wait for the first picture: until then nothing is on screen.
    FirstPicture.setSingleShot(true);
    connect(&FirstPicture, &QTimer::timeout, this, [this] { CheckSettled(); });
    picMain->SetPaintListener([this] { PictureFilled(); });
    resize(pruvex::StartupClientWidth(State()), pruvex::StartupClientHeight(State()));
    setFocus(Qt::OtherFocusReason);
    PointerTimer.setSingleShot(true);
    connect(&PointerTimer, &QTimer::timeout, this, [this] { Logic.PointerIdle(); });
    ReplyTimer.setSingleShot(true);
    ReplyTimer.setTimerType(Qt::PreciseTimer);
    connect(&ReplyTimer, &QTimer::timeout, this, [this] {
        Logic.ReplyDue();
        ReplyMayBeOut();
    });
    SettleTimer.setSingleShot(true);
    connect(&SettleTimer, &QTimer::timeout, this, [this] { GiveUpSettling(); });
    // The server's place is asked for, not told: polled while it settles.
    SettlePoll.setInterval(50);
    connect(&SettlePoll, &QTimer::timeout, this, [this] { CheckSettled(); });
}

FrmMain::~FrmMain() {
    Logic.WindowClosed();
}

void FrmMain::ReplyMayBeOut() {
    if (!Logic.ReplyPending() && ReplyListener) {
        ReplyListener();
    }
}

void FrmMain::PictureFilled() {
    if (!PictureShown) {
        PictureShown = true;
        FirstPicture.start(0);
    }
}

// At a fractional scale the toolkit paints the picture, resampled.
bool FrmMain::ServerFills() const {
    return Surface && pruvex::WholeScale(devicePixelRatioF()) > 0;
}

void FrmMain::PlaceSurface() {
    if (Surface) {
        Surface->Place(ServerFills() ? picMain->DeviceArea() : QRect());
    }
}

void FrmMain::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

void FrmMain::Repaint() {
    if (ServerFills()) {
        Surface->Invalidate();
    } else {
        picMain->update();
    }
}

// The picture is painted now and flushed; the round trip returns once the
// display server has taken every request before it.
void FrmMain::PaintNow() {
    if (ServerFills()) {
        // Only the frame comes from the toolkit's image.
        picMain->repaint(QRegion(picMain->rect()).subtracted(picMain->contentsRect()));
        Surface->FillNow();
    } else {
        if (Clock) {
            Clock->BeforeCommit();
        }
        picMain->repaint();
    }
    SyncWithDisplay();
}

pruvex::PixelSize FrmMain::ClientSize() {
    const QSize client = picMain->ClientPixels();
    return {client.width(), client.height()};
}

std::vector<pruvex::Monitor> FrmMain::Monitors() {
    return DesktopMonitors();
}

int FrmMain::WindowMonitor() {
    const QRect g = isVisible() ? geometry() : QRect(screen()->geometry().topLeft(), size());
    return pruvex::MonitorHolding(Monitors(), g.x(), g.y(), g.width(), g.height());
}

void FrmMain::EnterFullScreen(int monitor) {
    const std::vector<pruvex::Monitor> monitors = Monitors();
    if (monitor < 1 || monitor > static_cast<int>(monitors.size())) {
        return;
    }
    const pruvex::Monitor& m = monitors[static_cast<std::size_t>(monitor - 1)];
    const QRect target(m.Left, m.Top, m.Width, m.Height);
    if (!isFullScreen()) {
        // Started full screen, the window leaves to its start-up size on
        // the same monitor.
        RestoreGeometry = isVisible() ? geometry() : QRect(target.topLeft(), size());
    } else {
        setWindowState(Qt::WindowNoState);
    }
    picMain->setFrameStyle(QFrame::NoFrame);
    PlaceSurface();
    // The geometry inside the target monitor first: the window manager puts
    // a full-screen window on the monitor that holds it. A Wayland client
    // places nothing: the compositor takes the monitor from the full-screen
    // request, and a size set just before it keeps the window framed.
    if (QGuiApplication::platformName() != "wayland") {
        setGeometry(target);
    }
    if (windowHandle() != nullptr) {
        windowHandle()->setScreen(ScreenOfMonitor(m));
    }
    showFullScreen();
    SettleTarget = target;
    SettlingFullScreen = true;
    const QPlatformScreen* native = ScreenOfMonitor(m)->handle();
    SettleOnServer = native != nullptr ? native->geometry() : QRect();
    SettleTimer.start(pruvex::WindowManagerMilliseconds);
    SettlePoll.start();
}

void FrmMain::LeaveFullScreen() {
    picMain->setFrameStyle(PicMain::SunkenFrame);
    PlaceSurface();
    showNormal();
    // A Wayland compositor gives the window back its size itself; setting
    // it here as well leaves the decorations over the picture.
    if (QGuiApplication::platformName() != "wayland") {
        setGeometry(RestoreGeometry);
    }
    SettleTarget = RestoreGeometry;
    SettlingFullScreen = false;
    SettleTimer.start(pruvex::WindowManagerMilliseconds);
}

bool FrmMain::Settling() {
    if (!PictureShown) {
        return true;
    }
    // A Wayland client does not know where it is, only its size.
    const bool arrived = QGuiApplication::platformName() == "wayland"
                             ? size() == SettleTarget.size()
                             : geometry() == SettleTarget && OnServer();
    if (SettleTarget.isValid() && arrived) {
        SettleTarget = QRect();
        SettleTimer.stop();
        SettlePoll.stop();
    }
    return SettleTarget.isValid();
}

// Full screen on X11, the server has the window on the whole monitor.
bool FrmMain::OnServer() const {
    if (!SettlingFullScreen || !SettleOnServer.isValid()) {
        return true;
    }
    const std::optional<QRect> place = PlaceOnServer(winId());
    return !place || *place == SettleOnServer;
}

void FrmMain::CheckSettled() {
    if (!Settling() && Logic.ReplyPending()) {
        Logic.Settled();
        if (ReplyListener) {
            ReplyListener();
        }
    }
}

// The limit is for a window manager that never answers, not a slow one (a
// starved openbox on a loaded machine has taken over 3 s). A full-screen
// window it has not placed by then does not show the picture as asked, so
// the reply is an error; the framed window's place is the window manager's
// to choose, and its reply goes out.
void FrmMain::GiveUpSettling() {
    const bool notFullScreen = SettlingFullScreen && SettleTarget.isValid();
    SettleTarget = QRect();
    SettlePoll.stop();
    if (notFullScreen && PictureShown && Logic.ReplyPending()) {
        Logic.NotSettled(pruvex::NotFullScreenError());
        ReplyMayBeOut();
        return;
    }
    CheckSettled();
}

void FrmMain::ShowPointer(bool shown) {
    picMain->setCursor(shown ? Qt::ArrowCursor : Qt::BlankCursor);
    if (Surface) {
        Surface->ShowPointer(shown);
    }
}

void FrmMain::HoldScreenSaver(bool held) {
    Saver->Hold(held);
}

std::optional<pruvex::VerticalBlank> FrmMain::AwaitBlank(pruvex::FrameTime held) {
    if (Clock) {
        return Clock->Await(held);
    }
    return pruvex::LatestBlank(held, pruvex::Milliseconds(1000.0 / 60.0));
}

void FrmMain::StartReplyTimer(pruvex::Milliseconds wait) {
    // Whole milliseconds, never before the time.
    ReplyTimer.start(static_cast<int>(std::ceil(wait.count())));
}

pruvex::CheckLine FrmMain::FrameTiming() {
    return Clock ? Clock->Check() : pruvex::Platform::FrameTiming();
}

void FrmMain::WriteReply(const std::string& line) {
    ReplyWriter(line);
}

void FrmMain::resizeEvent(QResizeEvent* /*event*/) {
    picMain->setGeometry(rect());
    PlaceSurface();
    CheckSettled();
}

void FrmMain::moveEvent(QMoveEvent* /*event*/) {
    CheckSettled();
}

void FrmMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F11) {
        // A held F11 toggles once.
        if (!event->isAutoRepeat()) {
            Logic.PressKey(pruvex::Key::FullScreen);
        }
        return;
    }
    for (const char32_t character : event->text().toUcs4()) {
        Logic.TypeCharacter(character);
    }
}

void FrmMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        VisibilityChanged();
    }
    QWidget::changeEvent(event);
}

void FrmMain::showEvent(QShowEvent* /*event*/) {
    // Once the window exists on the display server: the surface the server
    // fills (X11 only) and the frame clock of the window's monitor.
    if (!Clock && windowHandle() != nullptr) {
        Clock = std::make_unique<FrameClock>(*windowHandle(),
                                             [this](const pruvex::VerticalBlank& blank) {
                                                 Logic.Blanked(blank);
                                                 ReplyMayBeOut();
                                             });
        Surface = ServerSurface::Create(static_cast<std::uint32_t>(winId()),
                                        [this] { return picMain->DevicePlan(); });
        if (Surface) {
            Clock->FollowX11Window(Surface->Window());
            picMain->SetServerFilled(true);
            Surface->SetFillListener([this] { PictureFilled(); });
            PlaceSurface();
        }
    }
    VisibilityChanged();
}

void FrmMain::hideEvent(QHideEvent* /*event*/) {
    VisibilityChanged();
}

void FrmMain::closeEvent(QCloseEvent* /*event*/) {
    Logic.WindowClosed();
}

void FrmMain::VisibilityChanged() {
    Logic.WindowVisible(isVisible() && !isMinimized());
}

// Tab and Shift+Tab are typed characters here, never focus moves.
bool FrmMain::focusNextPrevChild(bool /*next*/) {
    return false;
}
