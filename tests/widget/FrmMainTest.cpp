#include "app/qt/FrmMain.h"
#include "Captions.h"
#include "GridModel.h"
#include "KeySequences.h"
#include "app/qt/PicMain.h"
#include "pattern/Picture.h"

#include <QImage>
#include <QtTest>

namespace {

constexpr int Frame = 2; // the sunken edge of picMain

const QString FlatInstruction = pruvex::testing::FlatInstruction;
const QString GridInstruction = pruvex::testing::GridInstruction;

QRgb Rgb(pruvex::Colour colour) {
    return qRgb(colour.Red, colour.Green, colour.Blue);
}

// The drawing area of picMain as the widget paints it.
QImage DrawingArea(FrmMain& frmMain) {
    QWidget* picMain = frmMain.Picture();
    const QImage whole = picMain->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return whole.copy(Frame, Frame, whole.width() - 2 * Frame, whole.height() - 2 * Frame);
}

// Returns the first pixel of the image that differs from the expected
// colour function, as "x,y: got (r,g,b) want (r,g,b)", or an empty string.
template <typename Expected> QString FirstDifference(const QImage& image, Expected expected) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb got = image.pixel(x, y) & 0xFFFFFF;
            const QRgb want = expected(x, y) & 0xFFFFFF;
            if (got != want) {
                return QString("%1,%2: got %3 want %4")
                    .arg(x)
                    .arg(y)
                    .arg(got, 6, 16, QChar('0'))
                    .arg(want, 6, 16, QChar('0'));
            }
        }
    }
    return {};
}

void Type(QWidget* target, char character) {
    Qt::Key key = Qt::Key_unknown;
    switch (character) {
    case '\r':
        key = Qt::Key_Return;
        break;
    case '\x1b':
        key = Qt::Key_Escape;
        break;
    case '\t':
        key = Qt::Key_Tab;
        break;
    case '\b':
        key = Qt::Key_Backspace;
        break;
    default:
        if (character >= ' ' && character < 0x7F) {
            key = static_cast<Qt::Key>(QChar(character).toUpper().unicode());
        }
    }
    QTest::sendKeyEvent(QTest::Click, target, key, QString(QChar(character)), Qt::NoModifier);
}

} // namespace

class FrmMainTest : public QObject {
    Q_OBJECT

  private slots:
    void startsAt776By520CoveredByPicMain() {
        FrmMain frmMain(pruvex::Options{});
        frmMain.Control().Show();
        QVERIFY(QTest::qWaitForWindowExposed(&frmMain));
        QCOMPARE(frmMain.size(), QSize(776, 520));
        QCOMPARE(frmMain.Picture()->geometry(), frmMain.rect());
        QCOMPARE(frmMain.Picture()->contentsRect(), QRect(2, 2, 772, 516));
        QCOMPARE(frmMain.windowTitle(), "Flat @212:" + FlatInstruction);
        const QImage area = DrawingArea(frmMain);
        QCOMPARE(area.size(), QSize(772, 516));
        QCOMPARE(FirstDifference(area, [](int, int) { return qRgb(212, 96, 145); }), QString());
    }

    void flatFieldFromTheCommandLine_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QRgb>("colour");
        QTest::addColumn<QString>("caption");
        QTest::newRow("level 0") << "1 0" << qRgb(0, 0, 0) << "Flat @0:";
        QTest::newRow("level 255") << "1 255" << qRgb(255, 116, 174) << "Flat @255:";
        QTest::newRow("5 100") << "5 100" << Rgb(pruvex::LevelColour(100, {})) << "Flat @100:";
    }

    void flatFieldFromTheCommandLine() {
        QFETCH(QString, arguments);
        QFETCH(QRgb, colour);
        QFETCH(QString, caption);
        FrmMain frmMain(pruvex::ReadOptions(arguments.toStdString()));
        frmMain.Control().Show();
        QVERIFY(QTest::qWaitForWindowExposed(&frmMain));
        QCOMPARE(frmMain.windowTitle(), caption + FlatInstruction);
        QCOMPARE(FirstDifference(DrawingArea(frmMain), [&](int, int) { return colour; }),
                 QString());
    }

    void resizeKeepsTheSurfaceOverTheClientArea() {
        FrmMain frmMain(pruvex::Options{});
        frmMain.Control().Show();
        QVERIFY(QTest::qWaitForWindowExposed(&frmMain));
        for (const QSize size :
             {QSize(300, 200), QSize(1100, 90), QSize(10, 10), QSize(776, 520)}) {
            frmMain.resize(size);
            QCOMPARE(frmMain.size(), size);
            QCOMPARE(frmMain.Picture()->geometry(), frmMain.rect());
            const QImage area = DrawingArea(frmMain);
            QCOMPARE(area.size(), size - QSize(4, 4));
            QCOMPARE(FirstDifference(area, [](int, int) { return qRgb(212, 96, 145); }), QString());
        }
    }

    void clickOnThePictureLeavesTheFocusOnTheWindow() {
        FrmMain frmMain(pruvex::Options{});
        frmMain.Control().Show();
        frmMain.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frmMain));
        QCOMPARE(QApplication::focusWidget(), &frmMain);
        QTest::mouseClick(frmMain.Picture(), Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(QApplication::focusWidget(), &frmMain);
        QTest::keyClicks(QApplication::focusWidget(), "+");
        QCOMPARE(frmMain.State().FlatLevel, 213);
    }

    void keySequences_data() {
        QTest::addColumn<int>("index");
        int index = 0;
        for (const auto& sequence : pruvex::testing::KeySequences) {
            QTest::newRow(sequence.Name) << index++;
        }
    }

    void keySequences() {
        QFETCH(int, index);
        const auto& sequence = pruvex::testing::KeySequences[index];
        FrmMain frmMain(pruvex::ReadOptions(sequence.Arguments));
        int beeps = 0;
        frmMain.SetBeeper([&] { ++beeps; });
        frmMain.Control().Show();
        QVERIFY(QTest::qWaitForWindowExposed(&frmMain));
        for (const char character : sequence.Typed) {
            Type(&frmMain, character);
        }
        QCOMPARE(frmMain.State().FlatLevel, sequence.FlatLevel);
        QCOMPARE(frmMain.State().GridLevel, sequence.GridLevel);
        QCOMPARE(frmMain.State().Mode, std::string(sequence.Mode));
        QCOMPARE(beeps, sequence.Beeps);
        const bool flat = frmMain.State().Mode == "F";
        const QString expected =
            flat ? QString("Flat @%1:").arg(sequence.FlatLevel) + FlatInstruction
                 : QString("Grid @%1:").arg(sequence.GridLevel) + GridInstruction;
        QCOMPARE(frmMain.windowTitle(), expected);
    }

    void keysWithoutACharacterDoNothing() {
        FrmMain frmMain(pruvex::Options{});
        int beeps = 0;
        frmMain.SetBeeper([&] { ++beeps; });
        frmMain.Control().Show();
        for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_F5, Qt::Key_Shift,
                                  Qt::Key_Control, Qt::Key_PageDown}) {
            QTest::sendKeyEvent(QTest::Click, &frmMain, key, QString(), Qt::NoModifier);
        }
        QCOMPARE(beeps, 0);
        QCOMPARE(frmMain.State().FlatLevel, 212);
        // Ctrl with a letter arrives as a control character and beeps.
        QTest::sendKeyEvent(QTest::Click, &frmMain, Qt::Key_A, QString(QChar(1)),
                            Qt::ControlModifier);
        QCOMPARE(beeps, 1);
        QCOMPARE(frmMain.State().FlatLevel, 212);
        // A key that produces several characters is one pass per character.
        QTest::sendKeyEvent(QTest::Click, &frmMain, Qt::Key_unknown, "+z+", Qt::NoModifier);
        QCOMPARE(frmMain.State().FlatLevel, 215);
    }

    void gridPixels_data() {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<int>("pitch");
        QTest::addColumn<int>("gridLevel");
        QTest::newRow("startup 776x520") << QSize(776, 520) << 61 << 25;
        QTest::newRow("wide 1200x430") << QSize(1200, 430) << 50 << 0;       // 398 / 8 = 49.75
        QTest::newRow("tall 450x900") << QSize(450, 900) << 35 << 178;       // 418 / 12 = 34.8
        QTest::newRow("even pitch 800x512") << QSize(800, 512) << 60 << 100; // 480 / 8
    }

    void gridPixels() {
        QFETCH(QSize, client);
        QFETCH(int, pitch);
        QFETCH(int, gridLevel);
        FrmMain frmMain(pruvex::Options{});
        frmMain.Control().Show();
        QVERIFY(QTest::qWaitForWindowExposed(&frmMain));
        frmMain.resize(client);
        Type(&frmMain, 'G');
        for (int i = 25; i < gridLevel; ++i) {
            Type(&frmMain, '+');
        }
        for (int i = 25; i > gridLevel; --i) {
            Type(&frmMain, '-');
        }
        QCOMPARE(frmMain.State().GridLevel, gridLevel);
        const QImage area = DrawingArea(frmMain);
        QCOMPARE(frmMain.State().Pitch, pitch);

        const pruvex::PatternState& state = frmMain.State();
        const auto expected = [&](int x, int y) -> QRgb {
            const std::optional<int> level = pruvex::testing::ModelLevelAt(x, y, pitch, gridLevel);
            return level ? Rgb(pruvex::LevelColour(static_cast<std::int16_t>(*level), state))
                         : qRgb(255, 255, 255);
        };
        QCOMPARE(FirstDifference(area, expected), QString());
        QCOMPARE(frmMain.windowTitle(), QString("Grid @%1:").arg(gridLevel) + GridInstruction);
        if (gridLevel == 178) {
            const int start = 1 + pitch / 2;
            QCOMPARE(area.pixel(start + 11 * pitch - 1, start + 7 * pitch - 1) & 0xFFFFFF,
                     qRgb(255, 219, 255) & 0xFFFFFF);
        }
    }

    void switchingModesLeavesNoTrace() {
        FrmMain frmMain(pruvex::Options{});
        frmMain.Control().Show();
        QVERIFY(QTest::qWaitForWindowExposed(&frmMain));
        Type(&frmMain, 'G');
        QImage area = DrawingArea(frmMain);
        QCOMPARE(area.pixel(0, 0) & 0xFFFFFF, qRgb(255, 255, 255) & 0xFFFFFF);
        QCOMPARE(area.pixel(770, 514) & 0xFFFFFF, qRgb(255, 255, 255) & 0xFFFFFF);
        Type(&frmMain, 'F');
        area = DrawingArea(frmMain);
        QCOMPARE(FirstDifference(area, [](int, int) { return qRgb(212, 96, 145); }), QString());
    }

    void tinyWindowsShowAtMostASliver() {
        FrmMain frmMain(pruvex::Options{});
        frmMain.Control().Show();
        QVERIFY(QTest::qWaitForWindowExposed(&frmMain));
        Type(&frmMain, 'g');
        for (const QSize size : {QSize(800, 36), QSize(800, 24), QSize(38, 300), QSize(6, 6)}) {
            frmMain.resize(size);
            const QImage area = DrawingArea(frmMain);
            QVERIFY(frmMain.State().Pitch <= 0);
            QCOMPARE(FirstDifference(area, [](int, int) { return qRgb(255, 255, 255); }),
                     QString());
        }
    }
};

QTEST_MAIN(FrmMainTest)
#include "FrmMainTest.moc"
