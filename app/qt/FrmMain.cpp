#include "FrmMain.h"

#include "PicMain.h"
#include "app/KeyCommands.h"
#include "pattern/Picture.h"

#include <QApplication>
#include <QKeyEvent>

FrmMain::FrmMain(const pruvex::Arguments& arguments, QWidget* parent)
    : QWidget(parent), picMain(nullptr), Beeper(&QApplication::beep) {
    pruvex::ApplyArguments(State, arguments);
    setObjectName("frmMain");
    setWindowTitle("Form1");
    setFocusPolicy(Qt::StrongFocus);
    picMain = new PicMain(State, this);
    resize(pruvex::StartupClientWidth(State), pruvex::StartupClientHeight(State));
    setFocus(Qt::OtherFocusReason);
    Redraw();
}

void FrmMain::typeCharacter(char32_t character) {
    if (!pruvex::ApplyKey(State, character)) {
        Beeper();
    }
    Redraw();
}

void FrmMain::Redraw() {
    setWindowTitle(QString::fromStdString(pruvex::Caption(State)));
    picMain->update();
}

void FrmMain::resizeEvent(QResizeEvent* /*event*/) {
    picMain->setGeometry(rect());
}

void FrmMain::keyPressEvent(QKeyEvent* event) {
    for (const char32_t character : event->text().toUcs4()) {
        typeCharacter(character);
    }
}

// Tab and Shift+Tab are typed characters here, never focus moves.
bool FrmMain::focusNextPrevChild(bool /*next*/) {
    return false;
}
