// Pruvex on Windows: the flat field and the grid mosaic in a native window.

#include "Console.h"
#include "ControlInput.h"
#include "FrmMain.h"
#include "Version.h"
#include "app/Arguments.h"
#include "app/Options.h"
#include "pattern/Checked.h"

#include <windows.h>

#include <optional>
#include <string>

namespace {

constexpr int BadOptionExitStatus = 2;

void ReportFatal(const char* line) {
    MessageBoxA(nullptr, line, "Pruvex", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

std::string ArgumentText() {
    const std::wstring commandLine = GetCommandLineW();
    // Only ASCII characters can form numbers or options; any other one reads
    // as text.
    std::string narrow;
    narrow.reserve(commandLine.size());
    for (const wchar_t unit : commandLine) {
        narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return std::string(pruvex::ArgumentTextOfCommandLine(narrow));
}

// The message loop. While the control channel has lines waiting, each
// empty turn of the queue takes one of them: messages (keys, paints, the
// pointer's timer) always come first.
int RunMessageLoop(ControlInput* control) {
    MSG message{};
    for (;;) {
        if (control != nullptr && control->HasWork()) {
            if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                control->Step();
                continue;
            }
        } else {
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got == -1) {
                pruvex::Fatal("cannot read the message queue");
            }
        }
        if (message.message == WM_QUIT) {
            return static_cast<int>(message.wParam);
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int show) {
    pruvex::SetFatalReporter(ReportFatal);
    const pruvex::Options options = pruvex::ReadOptions(ArgumentText());
    if (!options.Error.empty()) {
        console::Write(console::Kind::Error, "pruvex: " + options.Error + "\n");
        return BadOptionExitStatus;
    }
    if (options.Help) {
        console::Write(console::Kind::Information, pruvex::UsageText);
        return 0;
    }
    if (options.Version) {
        console::Write(console::Kind::Information,
                       std::string(PRUVEX_PRODUCT_NAME) + " " + PRUVEX_VERSION + "\n");
        return 0;
    }
    const std::string warning = pruvex::UnknownOptionWarning(options);
    if (!warning.empty()) {
        console::Write(console::Kind::Warning, warning + "\n");
    }

    const std::vector<pruvex::Monitor> monitors = DesktopMonitors();
    if (options.ListMonitors) {
        std::string lines;
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            lines += pruvex::MonitorLine(static_cast<int>(i) + 1, monitors[i]) + "\n";
        }
        console::Write(console::Kind::Information, lines);
        return 0;
    }
    const std::string missing = pruvex::MissingMonitorError(options, monitors.size());
    if (!missing.empty()) {
        console::Write(console::Kind::Error, missing + "\n");
        return BadOptionExitStatus;
    }

    static FrmMain frmMain(instance, options, show);
    // Static too: the reader thread may outlive the message loop.
    static std::optional<ControlInput> control;
    if (options.Control) {
        control.emplace(frmMain, GetStdHandle(STD_INPUT_HANDLE));
    }
    frmMain.Control().Show();
    if (options.Check) {
        frmMain.CheckWhenShown();
    }
    if (control) {
        control->Start();
    }
    return RunMessageLoop(control ? &*control : nullptr);
}
