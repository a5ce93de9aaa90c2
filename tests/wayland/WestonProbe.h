#pragma once

// What a private headless Weston shows, read from outside the program: the
// windows and titles of its scene graph (weston-debug), its output as a
// screenshot (weston-screenshooter), and a pixel-by-pixel check of the
// program's picture in that screenshot at device resolution.

#include <QImage>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace pruvex::testing {

// One top-level window of the scene graph. Rectangles are in the
// compositor's logical pixels.
struct SceneWindow {
    long long Pid = 0;
    QString Title;
    bool Xwayland = false;       // an X11 window shown through XWayland
    QRect Position;              // the whole surface, decorations included
    std::optional<QRect> Opaque; // the client area where the toolkit declares it
};

struct SceneGraph {
    int Scale = 0; // of the first output
    QRect Output;  // the first output, logical pixels
    std::vector<SceneWindow> Windows;
};

// Parses the text of `weston-debug scene-graph`.
SceneGraph ParseSceneGraph(const QString& text);

// Runs `weston-debug scene-graph` against $WAYLAND_DISPLAY.
SceneGraph ReadSceneGraph();

// The whole output in device pixels, or a null image when the screenshooter
// failed (a Weston started without --debug refuses it).
QImage TakeScreenshot();

// The pattern a window should show.
struct ExpectedPicture {
    char Mode = 'F'; // 'F' flat field, 'G' grid mosaic
    int Level = 212; // FlatLevel, or GridLevel of the mosaic
    QSize Client;    // the client area in device pixels
    int Frame = 2;   // picMain's sunken edge in device pixels; none in full screen
};

// The colour of a level by the rules, as a pixel.
QRgb LevelRgb(int level);

// The largest rectangle of one colour that grows from the longest
// horizontal run of it in the picture; empty when the colour is absent.
QRect SolidRect(const QImage& image, QRgb colour);

// Finds the client area in a screenshot from the picture itself: the flat
// field's uniform drawing area, or the mosaic's last square, placed where
// the rules put it for the expected client size. Nothing when the picture
// has no such feature of the exact expected size.
std::optional<QRect> FindClientArea(const QImage& shot, const ExpectedPicture& expected);

// The outcome of comparing a client area's drawing area with the rules.
struct PixelReport {
    long long Compared = 0;
    long long Differing = 0; // not the colour the rules give at device resolution
    long long Blended = 0;   // a colour that no pixel of the pattern has
    long long Doubled = 0;   // equal to the picture of the logical size in scale x scale blocks
    long long DoubledCompared = 0;
    QString FirstDifference; // "x,y: got rrggbb want rrggbb"
    bool Exact() const { return Compared > 0 && Differing == 0; }
};

// Compares every pixel of the drawing area of `client` (device pixels of the
// screenshot). `scale` only serves the Doubled count: how much of what is
// shown is a logical-resolution picture blown up by the compositor or the
// toolkit.
PixelReport ComparePicture(const QImage& shot, const QRect& client, const ExpectedPicture& expected,
                           int scale);

// One line of figures for the test's output.
QString Describe(const PixelReport& report);

// "776 x 520 at (64, 83)".
QString RectText(const QRect& rect);

// Calls `done` until it returns true, for 15 s at most, letting the event
// loop run between calls; false when the time ran out.
bool Poll(const std::function<bool()>& done);

// The client area of the window titled `title` (of process `pid`, unless
// 0) as the scene graph shows it now, in device pixels; empty when no such
// window shows. Weston frames an X11 window itself: its opaque region is the
// client area and a one-pixel edge.
QRect ClientInScene(const QString& title, long long pid, int scale);

// Screenshots until the picture is exact where the compositor puts the
// client area (read anew each time: a window may still move) and the
// picture itself shows it there too; or, with `exact` false, until the
// program's picture shows (at least half of it as the logical picture in
// blocks) and two screenshots in a row give the same figures. Returns the
// last report; `client` is where the compositor put the client area and
// `seen` where the picture itself showed it.
PixelReport WaitForPicture(const ExpectedPicture& expected, const QString& title, long long pid,
                           int scale, bool exact, QRect& client, std::optional<QRect>& seen);

} // namespace pruvex::testing
