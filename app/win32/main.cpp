// Pruvex on Windows: the flat field and the grid mosaic in a native window.
//
// frmMain is a top-level window owning the display's state; picMain is its
// only child, a surface with a 2-pixel sunken edge kept over the whole client
// area. Pictures come from the engine and are painted here rectangle by
// rectangle, in device pixels.

#include "app/Arguments.h"
#include "app/KeyCommands.h"
#include "pattern/Checked.h"
#include "pattern/Picture.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const wchar_t* const FrmMainClass = L"frmMain";
const wchar_t* const PicMainClass = L"picMain";

struct Window {
    pruvex::PatternState State;
    HWND frmMain = nullptr;
    HWND picMain = nullptr;
    wchar_t PendingSurrogate = 0; // first half of a character typed as two WM_CHARs
};

Window* TheWindow = nullptr;

void ReportFatal(const char* line) {
    MessageBoxA(nullptr, line, "Pruvex", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

// Every window operation reports success or failure; a failure ends the run.
template <typename T> T Checked(T result, const char* what) {
    if (!result) {
        pruvex::Fatal(what);
    }
    return result;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

void Redraw(Window& window) {
    Checked(SetWindowTextW(window.frmMain, Widen(pruvex::Caption(window.State)).c_str()),
            "cannot set the window caption");
    InvalidateRect(window.picMain, nullptr, FALSE);
}

void TypeCharacter(Window& window, char32_t character) {
    if (!pruvex::ApplyKey(window.State, character)) {
        MessageBeep(0xFFFFFFFF);
    }
    Redraw(window);
}

void OnChar(Window& window, wchar_t unit) {
    if (unit >= 0xD800 && unit < 0xDC00) {
        window.PendingSurrogate = unit;
        return;
    }
    char32_t character = unit;
    if (unit >= 0xDC00 && unit < 0xE000 && window.PendingSurrogate != 0) {
        character = 0x10000 + ((static_cast<char32_t>(window.PendingSurrogate) - 0xD800) << 10) +
                    (static_cast<char32_t>(unit) - 0xDC00);
    }
    window.PendingSurrogate = 0;
    TypeCharacter(window, character);
}

void Paint(Window& window, HWND picMain) {
    PAINTSTRUCT ps;
    HDC screen = Checked(BeginPaint(picMain, &ps), "cannot paint the picture");
    RECT area;
    GetClientRect(picMain, &area);
    RECT client;
    GetClientRect(window.frmMain, &client);
    const pruvex::Picture picture = pruvex::Draw(window.State, static_cast<float>(client.right),
                                                 static_cast<float>(client.bottom));

    // Painted off screen, then copied in one step: no flash of the background
    // under the squares.
    HDC dc = Checked(CreateCompatibleDC(screen), "cannot create a drawing context");
    HBITMAP bitmap = Checked(CreateCompatibleBitmap(screen, area.right > 0 ? area.right : 1,
                                                    area.bottom > 0 ? area.bottom : 1),
                             "cannot create the picture's bitmap");
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
    const auto fill = [&](const RECT& rect, pruvex::Colour colour) {
        SetDCBrushColor(dc, RGB(colour.Red, colour.Green, colour.Blue));
        FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    };
    fill(area, picture.Background);
    for (const pruvex::FilledSquare& square : picture.Squares) {
        const pruvex::PixelRect& p = square.Pixels;
        if (!p.IsEmpty()) {
            fill(RECT{p.Left, p.Top, p.Right, p.Bottom}, square.Fill);
        }
    }
    BitBlt(screen, 0, 0, area.right, area.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    EndPaint(picMain, &ps);
}

LRESULT CALLBACK PicMainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint(*TheWindow, hwnd);
        return 0;
    case WM_ERASEBKGND:
        return 1; // the paint covers every pixel
    case WM_SIZE:
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_SETFOCUS:
        SetFocus(GetParent(hwnd));
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK FrmMainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (TheWindow->picMain != nullptr) {
            Checked(MoveWindow(TheWindow->picMain, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE),
                    "cannot move the picture");
        }
        return 0;
    case WM_CHAR:
        OnChar(*TheWindow, static_cast<wchar_t>(wParam));
        return 0;
    case WM_DPICHANGED:
        return 0; // device pixels stay device pixels on every monitor
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void RegisterClasses(HINSTANCE instance) {
    WNDCLASSEXW frm{};
    frm.cbSize = sizeof frm;
    frm.lpfnWndProc = FrmMainProc;
    frm.hInstance = instance;
    frm.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    frm.hIconSm = frm.hIcon;
    frm.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    frm.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frm.lpszClassName = FrmMainClass;
    Checked(RegisterClassExW(&frm), "cannot register the window class");

    WNDCLASSEXW pic{};
    pic.cbSize = sizeof pic;
    pic.lpfnWndProc = PicMainProc;
    pic.hInstance = instance;
    pic.hCursor = frm.hCursor;
    pic.lpszClassName = PicMainClass;
    Checked(RegisterClassExW(&pic), "cannot register the picture class");
}

// Outer size = outer - client + wanted client, in each direction, at the
// window's current place.
void SizeForClientArea(HWND hwnd, int width, int height) {
    RECT outer;
    RECT client;
    Checked(GetWindowRect(hwnd, &outer), "cannot read the window's size");
    Checked(GetClientRect(hwnd, &client), "cannot read the client size");
    const int outerWidth = outer.right - outer.left - client.right + width;
    const int outerHeight = outer.bottom - outer.top - client.bottom + height;
    Checked(SetWindowPos(hwnd, nullptr, outer.left, outer.top, outerWidth, outerHeight,
                         SWP_NOZORDER | SWP_NOACTIVATE),
            "cannot size the window");
}

std::string ArgumentText() {
    const std::wstring commandLine = GetCommandLineW();
    // Only ASCII characters can form numbers; any other one reads as text.
    std::string narrow;
    narrow.reserve(commandLine.size());
    for (const wchar_t unit : commandLine) {
        narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return std::string(pruvex::ArgumentTextOfCommandLine(narrow));
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    pruvex::SetFatalReporter(ReportFatal);
    static Window window;
    TheWindow = &window;
    pruvex::ApplyArguments(window.State, pruvex::ReadArguments(ArgumentText()));

    RegisterClasses(instance);
    window.frmMain = Checked(CreateWindowExW(0, FrmMainClass, L"Form1", WS_OVERLAPPEDWINDOW,
                                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                             CW_USEDEFAULT, nullptr, nullptr, instance, nullptr),
                             "cannot create the window");
    window.picMain =
        Checked(CreateWindowExW(WS_EX_CLIENTEDGE, PicMainClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0,
                                0, window.frmMain, nullptr, instance, nullptr),
                "cannot create the picture");
    SizeForClientArea(window.frmMain, pruvex::StartupClientWidth(window.State),
                      pruvex::StartupClientHeight(window.State));
    Redraw(window);
    ShowWindow(window.frmMain, show);
    SetFocus(window.frmMain);

    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) {
            pruvex::Fatal("cannot read the message queue");
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
