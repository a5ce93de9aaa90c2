// The real window (frmMain over picMain) on Qt's Wayland platform, inside a
// private headless Weston (run-under-weston.sh): keys are typed in-process
// through the platform's key path, since the compositor takes no key from
// outside, and after each step the compositor's screenshot is checked pixel
// by pixel at device resolution, with the title read from its scene graph.

#include "Captions.h"
#include "GridModel.h"
#include "WestonProbe.h"
#include "app/qt/FrmMain.h"

#include <QFile>
#include <QGuiApplication>
#include <QWindow>
#include <QtTest>

namespace {

using namespace pruvex::testing;

const QSize StartupClient(776, 520); // logical pixels

struct Step {
    const char* Keys;
    char Mode;
    int Level;
    int Beeps; // unknown characters so far
};

// From the start-up flat field: the mosaic, its level up and down, back to
// the flat field, one step up, and a key that only beeps.
const Step Steps[] = {
    {"", 'F', 212, 0}, {"g", 'G', 25, 0},   {"zz+", 'G', 28, 0},
    {"a", 'G', 27, 0}, {"f+", 'F', 213, 0}, {"Q", 'F', 213, 1},
};

QString CaptionOf(char mode, int level) {
    return mode == 'F' ? QString("Flat @%1:%2").arg(level).arg(FlatInstruction)
                       : QString("Grid @%1:%2").arg(level).arg(GridInstruction);
}

// The program's own window in the compositor's scene graph, once its title
// reads `title`.
std::optional<SceneWindow> WaitForTitle(const QString& title) {
    std::optional<SceneWindow> found;
    Poll([&] {
        for (const SceneWindow& window : ReadSceneGraph().Windows) {
            if (window.Pid == QCoreApplication::applicationPid() && window.Title == title) {
                found = window;
                return true;
            }
        }
        return false;
    });
    return found;
}

QStringList FakeSoundCalls() {
    QFile log(qEnvironmentVariable("PRUVEX_FAKE_CANBERRA_LOG"));
    if (!log.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class WaylandKeysTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QString("wayland"));
        Scale = ReadSceneGraph().Scale;
        QVERIFY2(Scale >= 1, "no output in the compositor's scene graph");
        if (qEnvironmentVariableIsSet("PRUVEX_FAKE_CANBERRA_LOG")) {
            QFile::remove(qEnvironmentVariable("PRUVEX_FAKE_CANBERRA_LOG"));
        }
    }

    void keysChangeTheExactPicture() {
        FrmMain frmMain(pruvex::Options{});
        frmMain.Control().Show();
        QVERIFY(QTest::qWaitForWindowExposed(&frmMain));
        QCOMPARE(frmMain.windowHandle()->devicePixelRatio(), qreal(Scale));

        for (const Step& step : Steps) {
            for (const char* key = step.Keys; *key != '\0'; ++key) {
                QTest::keyClick(frmMain.windowHandle(), *key);
            }
            const QString caption = CaptionOf(step.Mode, step.Level);
            const std::optional<SceneWindow> window = WaitForTitle(caption);
            QVERIFY2(window.has_value(),
                     qPrintable("after \"" + QString(step.Keys) +
                                "\" the compositor shows no window titled " + caption));
            QVERIFY(window->Opaque.has_value());
            QCOMPARE(window->Opaque->size(), StartupClient);

            const ExpectedPicture expected{step.Mode, step.Level, StartupClient * Scale};
            QRect client;
            std::optional<QRect> seen;
            const PixelReport report = WaitForPicture(
                expected, caption, QCoreApplication::applicationPid(), Scale, true, client, seen);
            const QString figures = QString("scale %1, after \"%2\": %3, pitch %4: ")
                                        .arg(Scale)
                                        .arg(step.Keys, caption.left(caption.indexOf(':')))
                                        .arg(ModelPitch(client.width(), client.height())) +
                                    Describe(report);
            qInfo("%s", qPrintable(figures));
            QVERIFY2(seen == client, qPrintable("the picture does not show the client area at " +
                                                RectText(client)));
            QVERIFY2(report.Exact(), qPrintable(figures));
            if (step.Mode == 'G') {
                // The state's Pitch is the one of the client size in device pixels.
                QCOMPARE(static_cast<long long>(frmMain.State().Pitch),
                         ModelPitch(client.width(), client.height()));
            }
            CheckBell(step.Beeps);
        }
    }

    // What headless Weston offers of a clean shooting session: xdg-shell
    // full screen (F11 in, Escape out), with the picture exact over the
    // whole output. It has no pointer and no screen saver to observe.
    void fullScreenCoversTheOutput() {
        FrmMain frmMain(pruvex::ReadOptions("--grid"));
        frmMain.Control().Show();
        QVERIFY(QTest::qWaitForWindowExposed(&frmMain));
        const QRect output = ReadSceneGraph().Output;
        QVERIFY(!output.isEmpty());

        const auto checkPicture = [&](const QSize& logical, int frame) {
            const ExpectedPicture expected{'G', 25, logical * Scale, frame};
            QRect client;
            std::optional<QRect> seen;
            const PixelReport report =
                WaitForPicture(expected, CaptionOf('G', 25), QCoreApplication::applicationPid(),
                               Scale, true, client, seen);
            const QString figures = QString("scale %1, %2, pitch %3: ")
                                        .arg(Scale)
                                        .arg(RectText(client))
                                        .arg(ModelPitch(client.width(), client.height())) +
                                    Describe(report);
            qInfo("%s", qPrintable(figures));
            return seen == client && report.Exact() ? QString() : figures;
        };
        const auto opaqueIs = [&](const QSize& size) {
            return Poll([&] {
                const std::optional<SceneWindow> window = WaitForTitle(CaptionOf('G', 25));
                return window && window->Opaque && window->Opaque->size() == size &&
                       (size != output.size() || window->Position == output);
            });
        };

        QTest::keyClick(frmMain.windowHandle(), Qt::Key_F11);
        QVERIFY2(opaqueIs(output.size()),
                 "F11 did not make the window cover the output without decorations");
        QCOMPARE(checkPicture(output.size(), 0), QString());

        QTest::keyClick(frmMain.windowHandle(), Qt::Key_Escape);
        QVERIFY2(opaqueIs(StartupClient), "Escape did not give back the 776 x 520 window");
        QCOMPARE(checkPicture(StartupClient, 2), QString());
        qInfo("SKIPPED: pointer hiding and the screen-saver hold: headless Weston has no pointer "
              "and no screen saver or session bus to observe");
    }

  private:
    // The Wayland bell: the sound theme's "bell" event through libcanberra
    // when it is there (here a stand-in that records the calls), and
    // nothing at all when it is not.
    static void CheckBell(int beeps) {
        if (qEnvironmentVariableIsSet("PRUVEX_FAKE_CANBERRA_LOG")) {
            const QStringList calls = FakeSoundCalls();
            QStringList expected;
            if (beeps > 0) {
                expected << "create";
            }
            for (int i = 0; i < beeps; ++i) {
                expected << "play 0 event.id=bell event.description=Pruvex: unknown key";
            }
            QCOMPARE(calls, expected);
            return;
        }
        if (beeps > 0) {
            qInfo("SKIPPED: the bell without a sound library is silent, so there is nothing to "
                  "observe beyond the window going on unchanged, checked above");
        }
    }

    int Scale = 0;
};

QTEST_MAIN(WaylandKeysTest)
#include "WaylandKeysTest.moc"
