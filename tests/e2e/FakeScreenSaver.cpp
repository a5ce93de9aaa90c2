// A stand-in for the desktop's screen-saver service on the session bus: it
// answers Inhibit with a fresh cookie and logs every call, one line each:
// "Inhibit COOKIE APPLICATION", "UnInhibit COOKIE".

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

class Service : public QDBusVirtualObject {
  public:
    QString introspect(const QString& /*path*/) const override {
        return "<interface name=\"org.freedesktop.ScreenSaver\">"
               "<method name=\"Inhibit\"><arg type=\"s\" direction=\"in\"/>"
               "<arg type=\"s\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/></method>"
               "<method name=\"UnInhibit\"><arg type=\"u\" direction=\"in\"/></method>"
               "</interface>";
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QList<QVariant> arguments = message.arguments();
        if (message.member() == "Inhibit" && arguments.size() == 2) {
            ++Cookies;
            std::printf("Inhibit %u %s\n", Cookies, qPrintable(arguments[0].toString()));
            connection.send(message.createReply(QVariant::fromValue(Cookies)));
        } else if (message.member() == "UnInhibit" && arguments.size() == 1) {
            std::printf("UnInhibit %u\n", arguments[0].toUInt());
            connection.send(message.createReply());
        } else {
            return false;
        }
        std::fflush(stdout);
        return true;
    }

  private:
    unsigned Cookies = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    Service service;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject("/org/freedesktop/ScreenSaver", &service) ||
        !bus.registerService("org.freedesktop.ScreenSaver")) {
        std::fprintf(stderr, "fake screensaver: cannot register on the session bus\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
