// A camera for the tests behind gphoto2's command line: the calls the
// series makes, answered as gphoto2 answers them. At each capture it takes
// the X display's picture as it is at that moment, names what it shows (the
// flat field or the mosaic at a level, exactly as the pattern engine draws
// it full screen, or anything else) in its log, and writes a DNG from the
// simulated camera: exposure in proportion to the shutter time, the gain of
// the ISO, nothing but read noise with the lens capped.
//
// Its state lies in the folder PRUVEX_FAKE_CAMERA, where the test puts
// files to steer it: `no-camera` (none detected), `jpeg` (JPEG files
// instead of raw), `raw-jpeg` (a JPEG beside each raw file), `fail-from`
// (the number of the first capture that fails), `fail-once` (the number of a
// capture that fails once), `capped` (the lens capped), `brightness` (the
// monitor's brightness, a factor), `covered` (a grey card in front of the
// monitor), `auto-iso` ("ISO" or "ISO first": the ISO the camera shoots at,
// always or at the first capture only), `dial` (the time the camera shoots
// at, whatever is set), `no-metadata` (files without ISO or time), `slow`
// (seconds each capture takes), `busy` ("CALL SECONDS": from the first call
// of that kind, detect, get, set or capture, those calls answer busy for that
// long), `away` ("N SECONDS": from capture N, the camera is gone for that
// long), `pieces` (each file written in pieces, held open in between, as a
// tethering program writes). With PRUVEX_FAKE_SAVE_OTHER naming a folder,
// a screen that shows no known picture is saved there as NAME-screen.ppm
// (NAME the shot's), to see what a failed test's camera saw.
//
// Built for Windows it is digiCamControl's CameraControlCmd.exe instead:
// `/iso V /shutter V` sets the settings, `/folder DIR /capturenoaf` writes
// DSC_NNNN.DNG into DIR (and a copy into the state's folder `shots`, for the
// tests to know the file again), reading the screen through GDI, and the
// answers are digiCamControl's texts (exit status 0 whatever happens).

#include "SimulatedCamera.h"

#include "pattern/Picture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pruvex::Colour;
using namespace pruvex::testing;

const std::vector<std::string> IsoChoices{"Auto", "100", "125",  "160",  "200",
                                          "400",  "800", "1600", "3200", "6400"};
const std::vector<std::string> ShutterChoices{"bulb",  "1",      "1/2",    "1/4",   "1/8",
                                              "1/15",  "1/30",   "1/60",   "1/125", "1/250",
                                              "1/500", "1/1000", "1/2000", "1/4000"};

// The sensor and its figures at each ISO, which the log gives the tests.
constexpr double GainAt100 = 3.2;      // e-/DN
constexpr double ReadNoiseAt100 = 1.5; // DN
// Electrons from the monitor's white in the frame's centre at 1/250 s, at
// brightness 1.
constexpr double WhiteAt250 = 2400;

Sensor TheSensor() {
    Sensor sensor;
    sensor.Width = 1500;
    sensor.Height = 1000;
    return sensor;
}
// The mosaic fills the frame but for a little of the white around it: the
// tests' screens are as wide as the frame for their height.
Scene TheScene() {
    Scene scene;
    scene.MosaicWidth = 0.9;
    return scene;
}
double Gain(double iso) {
    return GainAt100 * 100 / iso;
}
double ReadNoise(double iso) {
    return ReadNoiseAt100 * std::sqrt(iso / 100);
}

fs::path State(const std::string& name) {
#ifdef _WIN32
    const wchar_t* dir = _wgetenv(L"PRUVEX_FAKE_CAMERA");
    return fs::path(dir != nullptr ? dir : L".") / name;
#else
    const char* dir = std::getenv("PRUVEX_FAKE_CAMERA");
    return fs::path(dir != nullptr ? dir : ".") / name;
#endif
}
bool Has(const std::string& name) {
    return fs::exists(State(name));
}
std::string Read(const std::string& name, const std::string& fallback) {
    std::ifstream in(State(name));
    std::string value;
    return in >> value ? value : fallback;
}
void Write(const std::string& name, const std::string& value) {
    std::ofstream(State(name), std::ios::trunc) << value << '\n';
}
void Log(const std::string& line) {
    std::ofstream(State("log"), std::ios::app) << line << '\n';
}

#ifndef _WIN32
// gphoto2's command line.
int Error(const std::string& text) {
    std::cout << "*** Error: " << text << " ***\n";
    return 1;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Whether the camera answers a call of this kind with a moment's trouble: busy
// (the `busy` file) or gone (the `away` file, started by a capture).
bool Trouble(const std::string& call, std::string& text) {
    std::ifstream in(State("busy"));
    std::string kind;
    double seconds = 0;
    if (in >> kind >> seconds && kind == call) {
        const double since = std::atof(Read("busy-since-" + call, "0").c_str());
        if (since == 0) {
            Write("busy-since-" + call, std::to_string(Now()));
        }
        if (since == 0 || Now() - since < seconds) {
            text = call == "detect" ? "Could not claim the USB device"
                   : call == "set"  ? "(-110: 'I/O in progress') PTP Device Busy"
                                    : "Could not capture image (-110: 'I/O in progress')";
            return true;
        }
    }
    std::ifstream away(State("away"));
    int from = 0;
    if (away >> from >> seconds) {
        const double since = std::atof(Read("away-since", "0").c_str());
        if (since > 0 && Now() - since < seconds) {
            text = "No camera found.";
            return true;
        }
    }
    return false;
}

int AutoDetect() {
    if (std::string text; Trouble("detect", text)) {
        return Error(text);
    }
    std::cout << "Model                          Port\n"
                 "----------------------------------------------------------\n";
    if (!Has("no-camera")) {
        std::cout << "Pruvex Simulated camera        usb:001,004\n";
    }
    return 0;
}

int GetConfig(const std::string& name) {
    if (std::string text; Trouble("get", text)) {
        return Error(text);
    }
    const bool iso = name == "iso";
    if (!iso && name != "shutterspeed") {
        return Error("'" + name + "' not found in configuration tree.");
    }
    const std::vector<std::string>& choices = iso ? IsoChoices : ShutterChoices;
    std::cout << "Label: " << (iso ? "ISO Speed" : "Shutter Speed") << "\nReadonly: 0\n"
              << "Type: RADIO\nCurrent: " << Read(name, iso ? "100" : "1/250") << '\n';
    for (std::size_t i = 0; i < choices.size(); ++i) {
        std::cout << "Choice: " << i << ' ' << choices[i] << '\n';
    }
    std::cout << "END\n";
    return 0;
}

int SetConfig(const std::string& setting) {
    if (std::string text; Trouble("set", text)) {
        return Error(text);
    }
    const std::size_t equals = setting.find('=');
    const std::string name = setting.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : setting.substr(equals + 1);
    const std::vector<std::string>* choices = name == "iso"            ? &IsoChoices
                                              : name == "shutterspeed" ? &ShutterChoices
                                                                       : nullptr;
    if (choices == nullptr) {
        return Error("'" + name + "' not found in configuration tree.");
    }
    if (std::find(choices->begin(), choices->end(), value) == choices->end()) {
        return Error("Choice " + value + " not found within list of choices.");
    }
    Write(name, value);
    return 0;
}

#endif

#ifdef _WIN32
// The screen as it is now, read through GDI (exact at 24 bits).
MonitorPicture TakeScreen() {
    MonitorPicture screen;
    screen.Width = GetSystemMetrics(SM_CXSCREEN);
    screen.Height = GetSystemMetrics(SM_CYSCREEN);
    HDC display = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(display);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = screen.Width;
    info.bmiHeader.biHeight = -screen.Height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(display, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        throw std::runtime_error("no picture of the screen");
    }
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, screen.Width, screen.Height, display, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* pixel = static_cast<const std::uint32_t*>(bits);
    for (int i = 0; i < screen.Width * screen.Height; ++i) {
        screen.Pixels.push_back({static_cast<std::uint8_t>((pixel[i] >> 16) & 0xFF),
                                 static_cast<std::uint8_t>((pixel[i] >> 8) & 0xFF),
                                 static_cast<std::uint8_t>(pixel[i] & 0xFF)});
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, display);
    return screen;
}
#else
// The screen as it is now, read from the root window.
MonitorPicture TakeScreen() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        throw std::runtime_error("no X display");
    }
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, root, &attributes);
    XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        XCloseDisplay(display);
        throw std::runtime_error("no picture of the screen");
    }
    MonitorPicture screen;
    screen.Width = attributes.width;
    screen.Height = attributes.height;
    for (int y = 0; y < screen.Height; ++y) {
        for (int x = 0; x < screen.Width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            screen.Pixels.push_back({static_cast<std::uint8_t>((pixel >> 16) & 0xFF),
                                     static_cast<std::uint8_t>((pixel >> 8) & 0xFF),
                                     static_cast<std::uint8_t>(pixel & 0xFF)});
        }
    }
    XDestroyImage(image);
    XCloseDisplay(display);
    return screen;
}
#endif

// The pixels that differ from the pattern engine's picture full screen.
long Differences(const MonitorPicture& screen, pruvex::PatternState state) {
    const pruvex::Picture picture =
        pruvex::Draw(state, static_cast<float>(screen.Width), static_cast<float>(screen.Height));
    long different = 0;
    for (const pruvex::PaintRect& rect : pruvex::PaintPlan(picture, screen.Width, screen.Height)) {
        for (int y = rect.Pixels.Top; y < rect.Pixels.Bottom; ++y) {
            for (int x = rect.Pixels.Left; x < rect.Pixels.Right; ++x) {
                const std::size_t i =
                    static_cast<std::size_t>(y) * static_cast<std::size_t>(screen.Width) +
                    static_cast<std::size_t>(x);
                different += screen.Pixels[i] == rect.Fill ? 0 : 1;
            }
        }
    }
    return different;
}

std::string Named(const char* kind, int level) {
    std::ostringstream text;
    text << kind << ' ' << level;
    return text.str();
}

// "flat 212", "grid 25" when the screen shows exactly that, else "other".
std::string WhatIsShown(const MonitorPicture& screen) {
    pruvex::PatternState state;
    for (std::int16_t level = 0; level <= 255; ++level) {
        if (pruvex::LevelColour(level, state) == screen.Pixels.front()) {
            state.FlatLevel = level;
            if (Differences(screen, state) == 0) {
                return Named("flat", level);
            }
        }
    }
    state.Mode = std::string(1, 'G');
    const pruvex::Picture grid =
        pruvex::Draw(state, static_cast<float>(screen.Width), static_cast<float>(screen.Height));
    const pruvex::PixelRect& first = grid.Squares.front().Pixels;
    const Colour seen = screen.Pixels[static_cast<std::size_t>(first.Top + first.Height() / 2) *
                                          static_cast<std::size_t>(screen.Width) +
                                      static_cast<std::size_t>(first.Left + first.Width() / 2)];
    for (std::int16_t level = 0; level <= pruvex::HighestGridLevel(state); ++level) {
        if (pruvex::LevelColour(level, state) == seen) {
            state.GridLevel = level;
            if (Differences(screen, state) == 0) {
                return Named("grid", level);
            }
        }
    }
    return "other";
}

// The ISO and time the camera shoots at: those set, unless auto ISO or the
// mode dial chooses.
std::pair<std::string, std::string> Shooting() {
    std::string iso = Read("iso", "100");
    std::ifstream autoIso(State("auto-iso"));
    std::string chosen;
    std::string when;
    if (autoIso >> chosen && !Has("auto-iso-done")) {
        iso = chosen;
        if (autoIso >> when && when == "first") {
            Write("auto-iso-done", "1");
        }
    }
    return {iso, Read("dial", Read("shutterspeed", "1/250"))};
}

// What the screen shows now; with PRUVEX_FAKE_WAIT_SHOWN set (the test
// playing a tethering program, which shoots at a moment of its own), the
// first picture it knows within a minute.
std::string Shown(MonitorPicture& screen) {
    const bool wait = std::getenv("PRUVEX_FAKE_WAIT_SHOWN") != nullptr;
    std::string shown = WhatIsShown(screen);
    for (int look = 0; wait && shown == "other" && look < 1200; ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        screen = TakeScreen();
        shown = WhatIsShown(screen);
    }
    return shown;
}

// The screen as the camera saw it, a binary PPM file.
void SaveScreen(const fs::path& path, const MonitorPicture& screen) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "P6\n" << screen.Width << ' ' << screen.Height << "\n255\n";
    for (const Colour& c : screen.Pixels) {
        out.put(static_cast<char>(c.Red)).put(static_cast<char>(c.Green));
        out.put(static_cast<char>(c.Blue));
    }
}

// The file, written in pieces with `pieces` (held open in between).
void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::size_t pieces = Has("pieces") ? 4 : 1;
    for (std::size_t i = 0; i < pieces; ++i) {
        if (i > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
        const std::size_t from = bytes.size() * i / pieces;
        out.write(bytes.data() + from,
                  static_cast<std::streamsize>(bytes.size() * (i + 1) / pieces - from));
        out.flush();
    }
}

// One shot of the screen as it is now, saved under the name `named` gives
// for an extension, and its line in the log.
template <typename Named> void Shoot(const Named& named, int count) {
    const bool jpeg = Has("jpeg");
    const fs::path path = named(jpeg ? "JPG" : "DNG");
    const auto [iso, shutter] = Shooting();
    const bool capped = Has("capped");
    MonitorPicture screen = TakeScreen();
    const std::string shown = Shown(screen);
    if (const char* keep = std::getenv("PRUVEX_FAKE_SAVE_OTHER");
        keep != nullptr && shown == "other") {
        SaveScreen(fs::path(keep) / (path.stem().string() + "-screen.ppm"), screen);
    }
    if (Has("covered")) {
        // A grey card between the camera and the monitor.
        std::fill(screen.Pixels.begin(), screen.Pixels.end(), Colour{128, 128, 128});
    }

    Exposure exposure;
    exposure.Iso = std::atof(iso.c_str());
    const std::size_t slash = shutter.find('/');
    exposure.Shutter = slash == std::string::npos
                           ? std::atof(shutter.c_str())
                           : std::atof(shutter.c_str()) / std::atof(shutter.c_str() + slash + 1);
    exposure.Gain = Gain(exposure.Iso);
    exposure.ReadNoise = ReadNoise(exposure.Iso);
    exposure.WhiteElectrons =
        capped ? 0
               : WhiteAt250 * exposure.Shutter * 250 * std::atof(Read("brightness", "1").c_str());
    // Each shot its own noise.
    exposure.Seed = static_cast<std::uint64_t>(count) * 7919;
    exposure.Metadata = !Has("no-metadata");
    const Sensor sensor = TheSensor();
    if (jpeg || Has("raw-jpeg")) {
        WriteFile(named("JPG"),
                  std::string("\xFF\xD8\xFF\xE0") + std::string(16, 'J') + "JFIF\xFF\xD9");
    }
    if (!jpeg) {
        const fs::path whole = State("shot.tmp");
        WriteDng(whole, sensor, ShootScreen(sensor, TheScene(), exposure, screen), exposure);
        std::ifstream in(whole, std::ios::binary);
        WriteFile(path, std::string(std::istreambuf_iterator<char>(in), {}));
    }
    std::ostringstream line;
    line << path.filename().string() << ',' << shown << ',' << iso << ',' << shutter << ','
         << (capped ? 1 : 0) << ',' << exposure.Gain << ',' << exposure.ReadNoise << ','
         << sensor.White() - sensor.Black[0];
    Log(line.str());
}

#ifndef _WIN32
int Capture(const std::string& pattern) {
    if (std::string text; Trouble("capture", text)) {
        return Error(text);
    }
    // Captures are counted, failed ones too; from `fail-from` on they fail.
    const int count = std::atoi(Read("count", "0").c_str()) + 1;
    Write("count", std::to_string(count));
    const int failFrom = std::atoi(Read("fail-from", "0").c_str());
    if (failFrom > 0 && count >= failFrom) {
        return Error("Could not capture image (-1: 'Unspecified error')");
    }
    if (std::atoi(Read("fail-once", "0").c_str()) == count) {
        return Error("Could not capture image (-1: 'Unspecified error')");
    }
    if (std::atoi(Read("away", "0").c_str()) == count) {
        Write("away-since", std::to_string(Now()));
        return Error("No camera found.");
    }
    std::this_thread::sleep_for(
        std::chrono::duration<double>(std::atof(Read("slow", "0").c_str())));
    const std::size_t suffix = pattern.find("%C");
    const auto named = [&](const char* extension) {
        return suffix == std::string::npos
                   ? pattern
                   : pattern.substr(0, suffix) + extension + pattern.substr(suffix + 2);
    };
    Shoot(named, count);
    std::cout << "New file is in location /capt" << count << ".dng on the camera\n"
              << "Saving file as " << named(Has("jpeg") ? "JPG" : "DNG") << '\n';
    return 0;
}
#else
// digiCamControl's command line: its texts, and 0 whatever happens.
int DigiCamControl(const std::vector<std::string>& args) {
    if (Has("no-camera")) {
        std::cout << "No connected device was found ! Exiting\n";
        return 0;
    }
    fs::path folder;
    bool capture = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool last = i + 1 >= args.size();
        if (args[i] == "/iso" && !last) {
            Write("iso", args[++i]);
        } else if (args[i] == "/shutter" && !last) {
            Write("shutterspeed", args[++i]);
        } else if (args[i] == "/folder" && !last) {
            folder = std::u8string(args[i + 1].begin(), args[i + 1].end());
            ++i;
        } else if (args[i] == "/capturenoaf") {
            capture = true;
        } else {
            std::cout << "Unknown parameter " << args[i] << '\n';
            return 0;
        }
    }
    if (!capture) {
        return 0;
    }
    const int count = std::atoi(Read("count", "0").c_str()) + 1;
    Write("count", std::to_string(count));
    const int failFrom = std::atoi(Read("fail-from", "0").c_str());
    if (failFrom > 0 && count >= failFrom) {
        std::cout << "Error occurred while capturing photo : Device busy\n";
        return 0;
    }
    const auto named = [&](const char* extension) {
        char name[32];
        std::snprintf(name, sizeof name, "DSC_%04d.%s", count, extension);
        return folder / name;
    };
    const fs::path file = named(Has("jpeg") ? "JPG" : "DNG");
    std::cout << "Photo transfer begin.\nTransfer started :" << file.filename().string() << '\n';
    Shoot(named, count);
    fs::create_directories(State("shots"));
    fs::copy_file(file, State("shots") / file.filename(), fs::copy_options::overwrite_existing);
    std::cout << "Transfer done :" << file.filename().string() << '\n';
    return 0;
}
#endif

#ifndef _WIN32
int Run(const std::vector<std::string>& args) {
    int status = 0;
    for (std::size_t i = 0; i < args.size() && status == 0; ++i) {
        const std::string& arg = args[i];
        const bool last = i + 1 >= args.size();
        if (arg == "--auto-detect") {
            status = AutoDetect();
        } else if (Has("no-camera")) {
            status = Error("Could not detect any camera");
        } else if (arg == "--get-config" && !last) {
            status = GetConfig(args[++i]);
        } else if (arg == "--set-config" && !last) {
            status = SetConfig(args[++i]);
        } else if (arg == "--capture-image-and-download" || arg == "--force-overwrite") {
            continue;
        } else if (arg == "--filename" && !last) {
            status = Capture(args[++i]);
        } else {
            status = Error("Unknown option " + arg);
        }
    }
    return status;
}
#endif

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::u8string arg = fs::path(argv[i]).u8string();
        args.emplace_back(arg.begin(), arg.end());
    }
    try {
        return DigiCamControl(args);
    } catch (const std::exception& e) {
        std::cout << "Error occurred while capturing photo : " << e.what() << '\n';
        return 0;
    }
}
#else
int main(int argc, char** argv) {
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        return Error(e.what());
    }
}
#endif
