// The checks of the way from the window to the monitor on Windows: the
// monitor's gamma ramp, colour depth, advanced colour (HDR) and colour
// profile, and the pixels read back from the window and from the screen.
// Everything here only reads: the display's settings stay as they are.

#include "FrmMain.h"
#include "console/Console.h"
#include "pattern/Checked.h"

#include <array>

namespace {

using pruvex::CheckLine;
using pruvex::Verdict;

constexpr UINT CheckPollMilliseconds = 50;
// Polls of an unchanged, visible window before the report starts, and the
// polls after which it starts anyway.
constexpr int SettledPolls = 3;
constexpr int LastPoll = 200;

std::string Narrow(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

// Wine's own export, as information: the program runs on Wine's display
// driver, not on Windows.
std::string WineVersion() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    using VersionFunction = const char*(CDECL*)();
    const auto version = reinterpret_cast<VersionFunction>(reinterpret_cast<void (*)()>(
        ntdll != nullptr ? GetProcAddress(ntdll, "wine_get_version") : nullptr));
    return version != nullptr ? version() : "";
}

// A device context of the monitor that holds most of the window.
class MonitorDc {
  public:
    explicit MonitorDc(HWND window) {
        MONITORINFOEXW info{};
        info.cbSize = sizeof info;
        if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info)) {
            Device = info.szDevice;
            Dc = CreateDCW(L"DISPLAY", info.szDevice, nullptr, nullptr);
        }
    }
    ~MonitorDc() {
        if (Dc != nullptr) {
            DeleteDC(Dc);
        }
    }
    MonitorDc(const MonitorDc&) = delete;
    MonitorDc& operator=(const MonitorDc&) = delete;

    HDC Dc = nullptr;
    std::wstring Device; // "\\.\DISPLAY1"
};

CheckLine GammaLine(const MonitorDc& monitor) {
    std::array<std::array<WORD, 256>, 3> ramp{};
    if (monitor.Dc == nullptr || !GetDeviceGammaRamp(monitor.Dc, ramp.data())) {
        return {Verdict::Unverified, "gamma", "the gamma ramp cannot be read",
                "Check that no calibration or night-light tool changes the monitor's colours"};
    }
    const char* const names[] = {"red", "green", "blue"};
    std::string worst;
    int largest = 0;
    for (std::size_t channel = 0; channel < ramp.size(); ++channel) {
        const pruvex::RampDeviation deviation = pruvex::CompareRampWithIdentity(
            std::vector<std::uint16_t>(ramp[channel].begin(), ramp[channel].end()));
        if (!deviation.Identity && (worst.empty() || deviation.LargestLevels > largest)) {
            largest = deviation.LargestLevels;
            worst = std::string(names[channel]) + " ramp of " + Narrow(monitor.Device.c_str()) +
                    " is off by up to " + std::to_string(largest) + " levels, first at level " +
                    std::to_string(deviation.FirstLevel);
        }
    }
    if (!worst.empty()) {
        return {Verdict::Fail, "gamma", worst,
                "Switch off calibration loaders and night light, or reset the display's "
                "colour calibration, so that the monitor gets an identity ramp"};
    }
    return {Verdict::Pass, "gamma", "identity ramp on " + Narrow(monitor.Device.c_str()), ""};
}

CheckLine DepthLine(HDC dc) {
    const int bits = dc != nullptr ? GetDeviceCaps(dc, BITSPIXEL) : 0;
    const int resolution = dc != nullptr ? GetDeviceCaps(dc, COLORRES) : 0;
    const std::string measured = std::to_string(bits) + " bits per pixel, colour resolution " +
                                 std::to_string(resolution) + " bits";
    if (bits < 24) {
        const pruvex::Colour painted = pruvex::LevelColour(212, {});
        return {Verdict::Fail, "colour depth",
                measured + ": level 212 " + pruvex::ColourText(painted) + " becomes " +
                    pruvex::ColourText(pruvex::ThroughDepth16(painted)),
                "Set the display to 32-bit colour (8 bits per channel)"};
    }
    if (resolution > 24) {
        return {Verdict::Warn, "colour depth",
                measured + " (more than 8 bits per channel: each level is widened)",
                "8 bits per channel is the mode whose pixels equal the levels"};
    }
    return {Verdict::Pass, "colour depth", measured + ", 8 bits per channel", ""};
}

// The active display paths, or an empty list with the failure's code.
std::vector<DISPLAYCONFIG_PATH_INFO> ActivePaths(LONG& status) {
    std::vector<DISPLAYCONFIG_PATH_INFO> paths;
    std::vector<DISPLAYCONFIG_MODE_INFO> modes;
    do {
        UINT32 pathCount = 0;
        UINT32 modeCount = 0;
        status = GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &pathCount, &modeCount);
        if (status != ERROR_SUCCESS) {
            return {};
        }
        paths.resize(pathCount);
        modes.resize(modeCount);
        status = QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &pathCount, paths.data(), &modeCount,
                                    modes.data(), nullptr);
        paths.resize(pathCount);
    } while (status == ERROR_INSUFFICIENT_BUFFER); // the monitors changed in between
    return status == ERROR_SUCCESS ? paths : std::vector<DISPLAYCONFIG_PATH_INFO>();
}

template <typename Packet>
LONG DeviceInfo(Packet& packet, DISPLAYCONFIG_DEVICE_INFO_TYPE type, LUID adapter, UINT32 id) {
    packet.header.type = type;
    packet.header.size = sizeof packet;
    packet.header.adapterId = adapter;
    packet.header.id = id;
    return DisplayConfigGetDeviceInfo(&packet.header);
}

// The target of the path whose source is the GDI device (\\.\DISPLAYn).
bool TargetOf(const std::wstring& device, DISPLAYCONFIG_PATH_TARGET_INFO& target, LONG& status) {
    for (const DISPLAYCONFIG_PATH_INFO& path : ActivePaths(status)) {
        DISPLAYCONFIG_SOURCE_DEVICE_NAME source{};
        if (DeviceInfo(source, DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME, path.sourceInfo.adapterId,
                       path.sourceInfo.id) == ERROR_SUCCESS &&
            device == source.viewGdiDeviceName) {
            target = path.targetInfo;
            return true;
        }
    }
    return false;
}

CheckLine HdrLine(const std::wstring& device) {
    const char* const name = "HDR (advanced colour)";
    const char* const unknown = "Check in the display settings that HDR is off";
    LONG status = ERROR_SUCCESS;
    DISPLAYCONFIG_PATH_TARGET_INFO target{};
    if (!TargetOf(device, target, status)) {
        return {Verdict::Unverified, name,
                "no display path shows the window's monitor (error " + std::to_string(status) + ")",
                unknown};
    }
    DISPLAYCONFIG_GET_ADVANCED_COLOR_INFO colour{};
    status = DeviceInfo(colour, DISPLAYCONFIG_DEVICE_INFO_GET_ADVANCED_COLOR_INFO, target.adapterId,
                        target.id);
    if (status != ERROR_SUCCESS) {
        return {Verdict::Unverified, name,
                "the advanced colour state cannot be read (error " + std::to_string(status) + ")",
                unknown};
    }
    if (colour.advancedColorEnabled == 0) {
        return {Verdict::Pass, name, "off", ""};
    }
    DISPLAYCONFIG_SDR_WHITE_LEVEL white{};
    // In thousandths of 80 nits.
    const std::string level = DeviceInfo(white, DISPLAYCONFIG_DEVICE_INFO_GET_SDR_WHITE_LEVEL,
                                         target.adapterId, target.id) == ERROR_SUCCESS
                                  ? std::to_string(white.SDRWhiteLevel * 80 / 1000) + " nits"
                                  : "unknown";
    return {Verdict::Fail, name,
            "on, " + std::to_string(colour.bitsPerColorChannel) +
                " bits per channel, SDR white level " + level,
            "Switch off HDR for this monitor (Settings, System, Display): with it on, Windows "
            "maps every level through the SDR white level"};
}

CheckLine ProfileLine(HDC dc) {
    std::array<wchar_t, MAX_PATH * 2> path{};
    auto size = static_cast<DWORD>(path.size());
    const bool named = dc != nullptr && GetICMProfileW(dc, &size, path.data());
    return {Verdict::Pass, "ICC profile",
            named ? Narrow(path.data()) + " (as information: Pruvex paints without it)"
                  : "none set for the monitor",
            ""};
}

// The pixels of a rectangle of a device context, 8 bits per channel.
bool ReadImage(HDC source, int x, int y, int width, int height, pruvex::ReadBackImage& out) {
    out.Width = width;
    out.Height = height;
    out.Pixels.clear();
    if (width <= 0 || height <= 0) {
        return true;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // rows top to bottom
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HDC memory = CreateCompatibleDC(source);
    const HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ kept =
        memory != nullptr && bitmap != nullptr ? SelectObject(memory, bitmap) : nullptr;
    const bool read =
        kept != nullptr && BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY) != 0;
    GdiFlush();
    if (read) {
        const auto* quads = static_cast<const RGBQUAD*>(bits);
        const std::size_t count =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        out.Pixels.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            out.Pixels.push_back({quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue});
        }
    }
    if (kept != nullptr) {
        SelectObject(memory, kept);
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    if (memory != nullptr) {
        DeleteDC(memory);
    }
    return read;
}

} // namespace

std::vector<CheckLine> FrmMain::PipelineChecks() {
    const std::string wine = WineVersion();
    std::vector<CheckLine> lines;
    lines.push_back(
        {Verdict::Pass, "platform", wine.empty() ? "Windows" : "Windows (Wine " + wine + ")", ""});
    const MonitorDc monitor(frmMain);
    lines.push_back(GammaLine(monitor));
    lines.push_back(DepthLine(monitor.Dc));
    lines.push_back(HdrLine(monitor.Device));
    lines.push_back(ProfileLine(monitor.Dc));
    lines.push_back({Verdict::Unverified, "night light",
                     "no public interface lets a program read night light or a blue-light filter",
                     "Switch off night light (Settings, System, Display) and any blue-light or "
                     "colour filter program before shooting"});
    return lines;
}

bool FrmMain::ReadBack(pruvex::ReadBackImage& fromWindow, pruvex::ReadBackImage& fromScreen) {
    RECT client;
    RECT area;
    POINT origin{0, 0};
    if (!GetClientRect(frmMain, &client) || !GetClientRect(picMain, &area) ||
        !ClientToScreen(picMain, &origin)) {
        return false;
    }
    fromWindow.ClientWidth = fromScreen.ClientWidth = client.right;
    fromWindow.ClientHeight = fromScreen.ClientHeight = client.bottom;
    const HDC window = GetDC(picMain);
    const HDC screen = GetDC(nullptr);
    const bool read = window != nullptr && screen != nullptr &&
                      ReadImage(window, 0, 0, area.right, area.bottom, fromWindow) &&
                      ReadImage(screen, origin.x, origin.y, area.right, area.bottom, fromScreen);
    ReleaseDC(nullptr, screen);
    ReleaseDC(picMain, window);
    return read;
}

// Polled until the window has been visible at the same place for a few
// polls: under Wine the window manager may still move it after it is shown.
void FrmMain::CheckWhenShown() {
    if (SetTimer(frmMain, CheckTimer, CheckPollMilliseconds, nullptr) == 0) {
        pruvex::Fatal("cannot start the check's timer");
    }
}

void FrmMain::OnCheckTimer() {
    RECT place{};
    const bool shown = IsWindowVisible(frmMain) && !IsIconic(frmMain) &&
                       GetWindowRect(frmMain, &place) && EqualRect(&place, &CheckPlace);
    CheckPlace = place;
    CheckPolls = shown ? CheckPolls + 1 : 0;
    if (CheckPolls < SettledPolls && ++CheckPollsInAll < LastPoll) {
        return;
    }
    KillTimer(frmMain, CheckTimer);
    const std::vector<CheckLine> lines = Logic.CheckDisplay();
    console::Write(console::Kind::Information, pruvex::ReportText(lines));
    ExitStatus = pruvex::ReportExitStatus(lines);
    CloseWindow();
}
