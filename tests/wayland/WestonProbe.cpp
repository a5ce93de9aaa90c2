#include "WestonProbe.h"

#include "GridModel.h"
#include "pattern/LevelColour.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdint>

namespace pruvex::testing {

namespace {

constexpr int LastSquare = 7 * 11 - 1;
// Limits for a loaded 2-core machine: there each screenshot and each read of
// the scene graph starts a process that may take seconds, and a window's
// change of state was seen to need more than 15 s of polling while the
// static analysis ran beside the test (under 2 s alone).
constexpr int ToolTimeoutMs = 30000;
constexpr int PollTimeoutMs = 60000;

QRect Corners(const QRegularExpressionMatch& match) {
    const QPoint from(match.captured(1).toInt(), match.captured(2).toInt());
    const QPoint to(match.captured(3).toInt(), match.captured(4).toInt());
    return {from, QSize(to.x() - from.x(), to.y() - from.y())};
}

// The rules for one client size, worked out once.
class Model {
  public:
    explicit Model(const ExpectedPicture& expected)
        : Mode(expected.Mode), Level(expected.Level),
          Pitch(static_cast<int>(ModelPitch(expected.Client.width(), expected.Client.height()))) {
        if (Mode == 'F') {
            Palette.push_back(LevelRgb(Level));
        } else {
            Palette.push_back(qRgb(255, 255, 255));
            for (int square = 0; square <= LastSquare; ++square) {
                Palette.push_back(LevelRgb(Level + 4 * square));
            }
        }
    }

    // Drawing-area pixel (x, y).
    QRgb At(int x, int y) const {
        if (Mode == 'F') {
            return Palette[0];
        }
        const std::optional<int> level = ModelLevelAt(x, y, Pitch, Level);
        if (!level) {
            return Palette[0];
        }
        const int square = (*level - Level) / 4;
        return Palette[static_cast<std::size_t>(square) + 1];
    }

    bool InPalette(QRgb colour) const {
        return std::find(Palette.begin(), Palette.end(), colour) != Palette.end();
    }

  private:
    char Mode;
    int Level;
    int Pitch;
    std::vector<QRgb> Palette; // the flat colour, or white then the squares in order
};

} // namespace

QRgb LevelRgb(int level) {
    const Colour colour = LevelColour(static_cast<std::int16_t>(level), PatternState{});
    return qRgb(colour.Red, colour.Green, colour.Blue);
}

QRect SolidRect(const QImage& image, QRgb colour) {
    int bestRow = -1, bestLeft = 0, bestLength = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width();) {
            if ((line[x] & 0xFFFFFF) != (colour & 0xFFFFFF)) {
                ++x;
                continue;
            }
            const int left = x;
            while (x < image.width() && (line[x] & 0xFFFFFF) == (colour & 0xFFFFFF)) {
                ++x;
            }
            if (x - left > bestLength) {
                bestRow = y;
                bestLeft = left;
                bestLength = x - left;
            }
        }
    }
    if (bestRow < 0) {
        return {};
    }
    const auto rowIsSolid = [&](int y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        return std::all_of(line + bestLeft, line + bestLeft + bestLength,
                           [&](QRgb p) { return (p & 0xFFFFFF) == (colour & 0xFFFFFF); });
    };
    int top = bestRow;
    while (top > 0 && rowIsSolid(top - 1)) {
        --top;
    }
    int bottom = bestRow + 1;
    while (bottom < image.height() && rowIsSolid(bottom)) {
        ++bottom;
    }
    return {bestLeft, top, bestLength, bottom - top};
}

SceneGraph ParseSceneGraph(const QString& text) {
    static const QRegularExpression scaleLine(R"(^\s*scale: (\d+)$)");
    static const QRegularExpression viewLine(
        R"(^\s*View \d+ \(role ([^,]*), PID (\d+), surface ID \d+, top-level window '(.*)'(?: of .*)?, 0x[0-9a-f]+\):$)");
    static const QRegularExpression positionLine(
        R"(^\s*position: \((-?\d+), (-?\d+)\) -> \((-?\d+), (-?\d+)\)$)");
    static const QRegularExpression opaqueLine(
        R"(^\s*\[opaque: \((-?\d+), (-?\d+)\) -> \((-?\d+), (-?\d+)\)\]$)");
    static const QRegularExpression anyView(R"(^\s*View \d+ )");

    SceneGraph graph;
    SceneWindow* window = nullptr;
    for (const QString& line : text.split('\n')) {
        QRegularExpressionMatch match;
        if (graph.Scale == 0 && (match = scaleLine.match(line)).hasMatch()) {
            graph.Scale = match.captured(1).toInt();
        } else if ((match = viewLine.match(line)).hasMatch()) {
            SceneWindow found;
            found.Xwayland = match.captured(1) != "xdg_toplevel";
            found.Pid = match.captured(2).toLongLong();
            found.Title = match.captured(3);
            graph.Windows.push_back(found);
            window = &graph.Windows.back();
        } else if (anyView.match(line).hasMatch()) {
            window = nullptr;
        } else if ((match = positionLine.match(line)).hasMatch()) {
            if (window != nullptr) {
                window->Position = Corners(match);
            } else if (graph.Output.isEmpty() && graph.Windows.empty()) {
                graph.Output = Corners(match);
            }
        } else if (window != nullptr && (match = opaqueLine.match(line)).hasMatch()) {
            window->Opaque = Corners(match);
        } else if (window != nullptr && line.trimmed() == "[fully opaque]") {
            window->Opaque = window->Position;
        }
    }
    return graph;
}

SceneGraph ReadSceneGraph() {
    QProcess debug;
    debug.start("weston-debug", {"scene-graph"});
    if (!debug.waitForFinished(ToolTimeoutMs) || debug.exitCode() != 0) {
        return {};
    }
    return ParseSceneGraph(QString::fromUtf8(debug.readAllStandardOutput()));
}

QImage TakeScreenshot() {
    // The screenshooter names its file by the second: a folder of its own
    // keeps two shots in one second apart.
    QTemporaryDir folder;
    QProcess shooter;
    shooter.setWorkingDirectory(folder.path());
    shooter.start("weston-screenshooter", {});
    if (!shooter.waitForFinished(ToolTimeoutMs) || shooter.exitCode() != 0) {
        return {};
    }
    const QStringList shots = QDir(folder.path()).entryList({"*.png"}, QDir::Files);
    if (shots.size() != 1) {
        return {};
    }
    return QImage(folder.filePath(shots.front())).convertToFormat(QImage::Format_RGB32);
}

std::optional<QRect> FindClientArea(const QImage& shot, const ExpectedPicture& expected) {
    const QSize client = expected.Client;
    const int frame = expected.Frame;
    if (expected.Mode == 'F') {
        const QRect area = SolidRect(shot, LevelRgb(expected.Level));
        if (area.size() != client - QSize(2 * frame, 2 * frame)) {
            return std::nullopt;
        }
        return area.adjusted(-frame, -frame, frame, frame);
    }
    // The last square, at its place in the drawing area: column 10, row 6.
    const int pitch = static_cast<int>(ModelPitch(client.width(), client.height()));
    const QRect square = SolidRect(shot, LevelRgb(expected.Level + 4 * LastSquare));
    if (pitch <= 0 || square.size() != QSize(pitch, pitch)) {
        return std::nullopt;
    }
    const int start = 1 + pitch / 2;
    const QPoint origin =
        square.topLeft() - QPoint(frame + start + 10 * pitch, frame + start + 6 * pitch);
    return QRect(origin, client);
}

PixelReport ComparePicture(const QImage& shot, const QRect& client, const ExpectedPicture& expected,
                           int scale) {
    PixelReport report;
    const int frame = expected.Frame;
    const QRect area = client.adjusted(frame, frame, -frame, -frame);
    if (area.isEmpty() || !shot.rect().contains(area)) {
        report.FirstDifference = "the client area lies outside the screenshot";
        return report;
    }
    const Model exact(expected);
    ExpectedPicture logical = expected;
    logical.Client = expected.Client / std::max(scale, 1);
    const Model blocks(logical);
    const QRect logicalArea =
        QRect(QPoint(0, 0), logical.Client).adjusted(frame, frame, -frame, -frame);
    for (int y = 0; y < area.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(shot.constScanLine(area.top() + y));
        for (int x = 0; x < area.width(); ++x) {
            const QRgb got = line[area.left() + x] & 0xFFFFFF;
            const QRgb want = exact.At(x, y) & 0xFFFFFF;
            ++report.Compared;
            if (got != want) {
                if (report.Differing == 0) {
                    report.FirstDifference = QString("%1,%2: got %3 want %4")
                                                 .arg(x)
                                                 .arg(y)
                                                 .arg(got, 6, 16, QChar('0'))
                                                 .arg(want, 6, 16, QChar('0'));
                }
                ++report.Differing;
            }
            if (!exact.InPalette(got | 0xFF000000)) {
                ++report.Blended;
            }
            if (scale > 1) {
                const QPoint logicalPixel((x + frame) / scale, (y + frame) / scale);
                if (logicalArea.contains(logicalPixel)) {
                    ++report.DoubledCompared;
                    const QPoint inside = logicalPixel - logicalArea.topLeft();
                    if (got == (blocks.At(inside.x(), inside.y()) & 0xFFFFFF)) {
                        ++report.Doubled;
                    }
                }
            }
        }
    }
    return report;
}

QString Describe(const PixelReport& report) {
    QString text = QString("%1 pixels compared, %2 differ from the rules, %3 in colours the "
                           "pattern does not have")
                       .arg(report.Compared)
                       .arg(report.Differing)
                       .arg(report.Blended);
    if (report.DoubledCompared > 0) {
        text += QString(", %1 of %2 equal to the logical picture in whole blocks")
                    .arg(report.Doubled)
                    .arg(report.DoubledCompared);
    }
    if (!report.FirstDifference.isEmpty()) {
        text += "; first difference " + report.FirstDifference;
    }
    return text;
}

QString RectText(const QRect& rect) {
    return QString("%1 x %2 at (%3, %4)")
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x())
        .arg(rect.y());
}

bool Poll(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > PollTimeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

QRect ClientInScene(const QString& title, long long pid, int scale) {
    for (const SceneWindow& window : ReadSceneGraph().Windows) {
        if (window.Title == title && (pid == 0 || window.Pid == pid) && window.Opaque) {
            const QRect logical =
                window.Xwayland ? window.Opaque->adjusted(1, 1, -1, -1) : *window.Opaque;
            return {logical.topLeft() * scale, logical.size() * scale};
        }
    }
    return {};
}

PixelReport WaitForPicture(const ExpectedPicture& expected, const QString& title, long long pid,
                           int scale, bool exact, QRect& client, std::optional<QRect>& seen) {
    PixelReport report;
    PixelReport previous;
    Poll([&] {
        client = ClientInScene(title, pid, scale);
        const QImage shot = TakeScreenshot();
        seen = FindClientArea(shot, expected);
        previous = report;
        report = ComparePicture(shot, seen.value_or(client), expected, scale);
        if (exact) {
            return seen == client && report.Exact();
        }
        return 2 * report.Doubled > report.DoubledCompared &&
               report.Differing == previous.Differing && report.Doubled == previous.Doubled;
    });
    return report;
}

} // namespace pruvex::testing
