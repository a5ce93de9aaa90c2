// Pruvex on Linux desktops: the flat field and the grid mosaic in a Qt window.

#include "ControlInput.h"
#include "FrmMain.h"
#include "Version.h"
#include "app/Options.h"
#include "app/PlatformChoice.h"
#include "pattern/Checked.h"
#include "pattern/Icon.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr int NoDisplayExitStatus = 1;

// Until the application object exists, Qt's messages are the platform
// plugin's attempts at a display; only its final failure is worth one line.
void StartupMessages(QtMsgType type, const QMessageLogContext& /*context*/,
                     const QString& /*message*/) {
    if (type != QtFatalMsg) {
        return;
    }
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::fprintf(stderr,
                 "pruvex: cannot open a window: no X11 or Wayland display is available "
                 "(DISPLAY=%s, WAYLAND_DISPLAY=%s)\n",
                 display != nullptr ? display : "unset", wayland != nullptr ? wayland : "unset");
    std::fflush(stderr);
    std::_Exit(NoDisplayExitStatus);
}

// A native Wayland window where a compositor answers, since only there can
// the picture be exact at an output scale of 2 or more; X11 otherwise. The
// user's own QT_QPA_PLATFORM comes first.
void ChooseDisplayServer() {
    const pruvex::PlatformEnvironment environment{std::getenv("QT_QPA_PLATFORM"),
                                                  std::getenv("WAYLAND_DISPLAY"),
                                                  std::getenv("XDG_RUNTIME_DIR")};
    qputenv("QT_QPA_PLATFORM",
            QByteArray::fromStdString(pruvex::ChoosePlatform(environment, pruvex::SocketAccepts)));
}

// Every pixel is a device pixel: no toolkit scaling stretches the picture or
// blends the colours of neighbouring squares.
void KeepDevicePixels() {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qunsetenv("QT_SCALE_FACTOR");
    qunsetenv("QT_SCREEN_SCALE_FACTORS");
    qunsetenv("QT_AUTO_SCREEN_SCALE_FACTOR");
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        const std::vector<pruvex::Colour> pixels = pruvex::IconPixels(size);
        QImage image(size, size, QImage::Format_RGB32);
        auto pixel = pixels.begin();
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x, ++pixel) {
                image.setPixel(x, y, qRgb(pixel->Red, pixel->Green, pixel->Blue));
            }
        }
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

void ShowFatalError(const char* line) {
    if (QApplication::instance() != nullptr) {
        QMessageBox::critical(nullptr, "Pruvex", QString::fromUtf8(line));
    }
}

// Writes what the program says before its window opens; the exit status
// when it ends there.
std::optional<int> Say(const pruvex::EarlyAnswer& answer) {
    std::fputs(answer.Out.c_str(), stdout);
    std::fputs(answer.Err.c_str(), stderr);
    return answer.ExitStatus;
}

// --check: once the window is on screen (and full screen, if asked for),
// the report goes to standard output and the program ends with its status.
void CheckWhenShown(FrmMain& frmMain) {
    auto* poll = new QTimer(&frmMain);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    QObject::connect(poll, &QTimer::timeout, &frmMain, [&frmMain, poll, deadline] {
        const QWindow* window = frmMain.windowHandle();
        const bool shown = window != nullptr && window->isExposed() && !frmMain.Settling();
        if (!shown && std::chrono::steady_clock::now() < deadline) {
            return;
        }
        poll->stop();
        const std::vector<pruvex::CheckLine> lines = frmMain.Control().CheckDisplay();
        std::fputs(pruvex::ReportText(lines).c_str(), stdout);
        std::fflush(stdout);
        QCoreApplication::exit(pruvex::ReportExitStatus(lines));
    });
    poll->start(50);
}

} // namespace

int main(int argc, char** argv) {
    const pruvex::Options options = pruvex::ReadOptions(pruvex::JoinArguments(argc, argv));
    const std::optional<int> said =
        Say(pruvex::AnswerOptions(options, PRUVEX_PRODUCT_NAME " " PRUVEX_VERSION));
    if (said) {
        return *said;
    }

    ChooseDisplayServer();
    KeepDevicePixels();
    qInstallMessageHandler(StartupMessages);
    // Qt sees the program name only: the numbers are ours, and options such
    // as "-reverse" must not be taken out of them.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    qInstallMessageHandler(nullptr);
    pruvex::SetFatalReporter(ShowFatalError);
    QApplication::setWindowIcon(ApplicationIcon());
    // Desktops match the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(PRUVEX_APP_ID));

    const std::optional<int> listed = Say(pruvex::AnswerMonitors(options, DesktopMonitors()));
    if (listed) {
        return *listed;
    }

    FrmMain frmMain(options);
    std::unique_ptr<ControlInput> control;
    if (options.Control) {
        // A reader that has gone away ends the replies, not the program.
        std::signal(SIGPIPE, SIG_IGN);
        control = std::make_unique<ControlInput>(frmMain);
    }
    frmMain.Control().Show();
    if (options.Check) {
        CheckWhenShown(frmMain);
    }
    return QApplication::exec();
}
