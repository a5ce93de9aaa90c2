#include "FrameClock.h"

#include <cmath>

namespace frameclock {

namespace {

// The kernel's display interface as gdi32 exports it, declared here: its
// functions are looked up at run time, since a system without them (Wine)
// would not load a program that imports them.
using KernelHandle = UINT;
struct OpenAdapterFromHdc {
    HDC Dc;
    KernelHandle Adapter;
    LUID AdapterLuid;
    UINT VidPnSourceId;
};
struct WaitForVerticalBlankEvent {
    KernelHandle Adapter;
    KernelHandle Device;
    UINT VidPnSourceId;
};
struct CloseAdapter {
    KernelHandle Adapter;
};
using OpenFunction = LONG(APIENTRY*)(OpenAdapterFromHdc*);
using WaitFunction = LONG(APIENTRY*)(const WaitForVerticalBlankEvent*);
using CloseFunction = LONG(APIENTRY*)(const CloseAdapter*);

struct Kernel {
    OpenFunction Open = nullptr;
    WaitFunction Wait = nullptr;
    CloseFunction Close = nullptr;
};

template <typename Function> Function Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const Kernel& TheKernel() {
    static const Kernel kernel = [] {
        Kernel k;
        const HMODULE gdi = GetModuleHandleW(L"gdi32.dll");
        if (gdi != nullptr) {
            k.Open = Lookup<OpenFunction>(gdi, "D3DKMTOpenAdapterFromHdc");
            k.Wait = Lookup<WaitFunction>(gdi, "D3DKMTWaitForVerticalBlankEvent");
            k.Close = Lookup<CloseFunction>(gdi, "D3DKMTCloseAdapter");
        }
        return k;
    }();
    return kernel;
}

// The display device (\\.\DISPLAY1 ...) of the monitor that holds the window.
bool MonitorDevice(HWND window, MONITORINFOEXW& info) {
    info = {};
    info.cbSize = sizeof info;
    return GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info) != FALSE;
}

struct BlankWait {
    HWND Window;
    UINT Message;
    HDC Dc;
};

DWORD WINAPI WaitForBlank(void* argument) {
    const BlankWait wait = *static_cast<BlankWait*>(argument);
    delete static_cast<BlankWait*>(argument);
    const Kernel& kernel = TheKernel();
    LARGE_INTEGER at{};
    OpenAdapterFromHdc open{wait.Dc, 0, {}, 0};
    if (kernel.Open(&open) >= 0) {
        const WaitForVerticalBlankEvent blank{open.Adapter, 0, open.VidPnSourceId};
        if (kernel.Wait(&blank) >= 0) {
            QueryPerformanceCounter(&at);
        }
        const CloseAdapter close{open.Adapter};
        kernel.Close(&close);
    }
    DeleteDC(wait.Dc);
    PostMessageW(wait.Window, wait.Message, 0, static_cast<LPARAM>(at.QuadPart));
    return 0;
}

struct TimedWait {
    HWND Window;
    UINT Message;
    LONGLONG Hundreds; // of nanoseconds
};

DWORD WINAPI WaitFor(void* argument) {
    const TimedWait wait = *static_cast<TimedWait*>(argument);
    delete static_cast<TimedWait*>(argument);
    // A high-resolution timer where the system has one (Windows 10 1803 and
    // later); the ordinary one keeps the system's tick.
    constexpr DWORD HighResolution = 0x00000002;
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, HighResolution, TIMER_ALL_ACCESS);
    if (timer == nullptr) {
        timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    }
    LARGE_INTEGER due{};
    due.QuadPart = -wait.Hundreds;
    if (timer == nullptr || !SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) ||
        WaitForSingleObject(timer, INFINITE) != WAIT_OBJECT_0) {
        Sleep(static_cast<DWORD>(wait.Hundreds / 10000 + 1));
    }
    if (timer != nullptr) {
        CloseHandle(timer);
    }
    PostMessageW(wait.Window, wait.Message, 0, 0);
    return 0;
}

bool Start(LPTHREAD_START_ROUTINE routine, void* argument) {
    const HANDLE thread = CreateThread(nullptr, 0, routine, argument, 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    CloseHandle(thread);
    return true;
}

} // namespace

bool CanWaitForBlank() {
    const Kernel& kernel = TheKernel();
    return kernel.Open != nullptr && kernel.Wait != nullptr && kernel.Close != nullptr;
}

bool PostNextBlank(HWND window, UINT message) {
    MONITORINFOEXW info;
    if (!CanWaitForBlank() || !MonitorDevice(window, info)) {
        return false;
    }
    const HDC dc = CreateDCW(nullptr, info.szDevice, nullptr, nullptr);
    if (dc == nullptr) {
        return false;
    }
    auto* wait = new BlankWait{window, message, dc};
    if (!Start(WaitForBlank, wait)) {
        delete wait;
        DeleteDC(dc);
        return false;
    }
    return true;
}

bool PostAfter(HWND window, UINT message, pruvex::Milliseconds wait) {
    auto* timed =
        new TimedWait{window, message, static_cast<LONGLONG>(std::ceil(wait.count() * 10000.0))};
    if (!Start(WaitFor, timed)) {
        delete timed;
        return false;
    }
    return true;
}

pruvex::FrameTime FromPerformanceCounter(LONGLONG counter) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const auto steady = std::chrono::steady_clock::now();
    const double ago =
        static_cast<double>(now.QuadPart - counter) / static_cast<double>(frequency.QuadPart);
    return steady - std::chrono::duration_cast<pruvex::FrameTime::duration>(
                        std::chrono::duration<double>(ago));
}

namespace {
DWORD ModeRate(HWND window) {
    MONITORINFOEXW info;
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    if (!MonitorDevice(window, info) ||
        !EnumDisplaySettingsW(info.szDevice, ENUM_CURRENT_SETTINGS, &mode)) {
        return 0;
    }
    // 0 and 1 stand for the hardware's default rate.
    return mode.dmDisplayFrequency > 1 ? mode.dmDisplayFrequency : 0;
}
} // namespace

pruvex::Milliseconds NominalPeriod(HWND window) {
    const DWORD rate = ModeRate(window);
    return pruvex::Milliseconds(1000.0 / (rate > 0 ? rate : 60.0));
}

bool ModeHasRate(HWND window) {
    return ModeRate(window) > 0;
}

} // namespace frameclock
