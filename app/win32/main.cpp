// Pruvex on Windows: the flat field and the grid mosaic in a native window.

#include "ControlInput.h"
#include "FrmMain.h"
#include "Version.h"
#include "app/Arguments.h"
#include "app/Options.h"
#include "console/Console.h"
#include "pattern/Checked.h"

#include <windows.h>

#include <optional>
#include <string>

namespace {

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

// Writes what the program says before its window opens (the error output
// as an error when the program ends there, as a warning otherwise); the exit
// status when it ends there.
std::optional<int> Say(const pruvex::EarlyAnswer& answer) {
    if (!answer.Out.empty()) {
        console::Write(console::Kind::Information, answer.Out);
    }
    if (!answer.Err.empty()) {
        console::Write(answer.ExitStatus ? console::Kind::Error : console::Kind::Warning,
                       answer.Err);
    }
    return answer.ExitStatus;
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
    const std::optional<int> said =
        Say(pruvex::AnswerOptions(options, PRUVEX_PRODUCT_NAME " " PRUVEX_VERSION));
    if (said) {
        return *said;
    }
    const std::optional<int> listed = Say(pruvex::AnswerMonitors(options, DesktopMonitors()));
    if (listed) {
        return *listed;
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
