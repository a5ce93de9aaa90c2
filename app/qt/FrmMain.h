#pragma once

#include "app/Controller.h"
#include "app/Options.h"

#include <QRect>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class FrameClock;
class PicMain;
class ScreenSaver;
class ServerSurface;

// The one window: the drawing surface over its whole client area, and the
// platform of the controller, which owns the display's state and takes every
// typed character.
class FrmMain : public QWidget, public pruvex::Platform {
  public:
    explicit FrmMain(const pruvex::Options& options, QWidget* parent = nullptr);
    ~FrmMain() override;
    FrmMain(const FrmMain&) = delete;
    FrmMain& operator=(const FrmMain&) = delete;

    pruvex::Controller& Control() { return Logic; }
    const pruvex::PatternState& State() const { return Logic.State(); }
    PicMain* Picture() const { return picMain; }

    // The system beep by default; tests count instead.
    void SetBeeper(std::function<void()> beeper) { Beeper = std::move(beeper); }
    // Replies of the control channel go to standard output by default.
    void SetReplyWriter(std::function<void(const std::string&)> writer) {
        ReplyWriter = std::move(writer);
    }
    // Called after each reply, when the channel may take the next line.
    void SetReplyListener(std::function<void()> listener) { ReplyListener = std::move(listener); }

    // Platform
    void SetCaption(const std::string& caption) override;
    void Repaint() override;
    void PaintNow() override;
    void Beep() override { Beeper(); }
    pruvex::PixelSize ClientSize() override;
    void ShowWindow() override { show(); }
    void CloseWindow() override { close(); }
    std::vector<pruvex::Monitor> Monitors() override;
    int WindowMonitor() override;
    void EnterFullScreen(int monitor) override;
    void LeaveFullScreen() override;
    bool Settling() override;
    void ShowPointer(bool shown) override;
    void StartPointerTimer(int milliseconds) override { PointerTimer.start(milliseconds); }
    void HoldScreenSaver(bool held) override;
    std::optional<pruvex::VerticalBlank> AwaitBlank(pruvex::FrameTime held) override;
    void StartReplyTimer(pruvex::Milliseconds wait) override;
    pruvex::CheckLine FrameTiming() override;
    void WriteReply(const std::string& line) override;
    std::vector<pruvex::CheckLine> PipelineChecks() override;
    bool ReadBack(pruvex::ReadBackImage& fromWindow, pruvex::ReadBackImage& fromScreen) override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    void VisibilityChanged();
    void CheckSettled();
    void GiveUpSettling();
    bool OnServer() const;
    void PictureFilled();
    bool ServerFills() const;
    void ReplyMayBeOut();
    void PlaceSurface();

    pruvex::Controller Logic;
    PicMain* picMain;
    std::function<void()> Beeper;
    std::function<void(const std::string&)> ReplyWriter;
    std::function<void()> ReplyListener;
    std::unique_ptr<ScreenSaver> Saver;
    std::unique_ptr<ServerSurface> Surface; // on X11, the drawing area the server fills
    std::unique_ptr<FrameClock> Clock;      // once shown
    QTimer ReplyTimer;                      // a reply's wait for the frame and the panel
    QTimer PointerTimer;
    QRect RestoreGeometry;           // the window's place before full screen
    QRect SettleTarget;              // where a full-screen change is taking the window
    QTimer SettleTimer;              // gives up waiting for the window manager
    bool SettlingFullScreen = false; // SettleTarget is the whole monitor
    QRect SettleOnServer;            // the monitor in the server's pixels
    QTimer SettlePoll;               // asks the server while a change settles
    bool PictureShown = false;       // the picture has been painted once
    QTimer FirstPicture;             // after the first paint, replies may go out
};

// The monitors as numbered for --list-monitors and --fullscreen=N.
std::vector<pruvex::Monitor> DesktopMonitors();
