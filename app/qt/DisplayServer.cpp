#include "DisplayServer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>

#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

const char* const SaverService = "org.freedesktop.ScreenSaver";
const char* const SaverPath = "/org/freedesktop/ScreenSaver";

QNativeInterface::QX11Application* X11() {
    auto* application = qGuiApp;
    return application != nullptr
               ? application->nativeInterface<QNativeInterface::QX11Application>()
               : nullptr;
}

// Only a session that has a bus is asked: without one, the bus library
// would start a program to find it.
bool HasSessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return address != nullptr && std::strlen(address) > 0;
}

// A sync request on a queue of our own, so that none of the toolkit's events
// is dispatched here: its reply comes once the compositor has taken every
// request sent before it, the commit of the picture's buffer included.
void SyncWithCompositor() {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* display = static_cast<wl_display*>(
        native != nullptr ? native->nativeResourceForIntegration("wl_display") : nullptr);
    if (display == nullptr) {
        return;
    }
    wl_event_queue* queue = wl_display_create_queue(display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
    wl_callback* callback = wl_display_sync(wrapper);
    bool done = false;
    static const wl_callback_listener listener = {
        [](void* data, wl_callback* /*callback*/, std::uint32_t /*serial*/) {
            *static_cast<bool*>(data) = true;
        }};
    wl_callback_add_listener(callback, &listener, &done);
    while (!done && wl_display_dispatch_queue(display, queue) != -1) {
    }
    wl_callback_destroy(callback);
    wl_proxy_wrapper_destroy(wrapper);
    wl_event_queue_destroy(queue);
}

} // namespace

void SyncWithDisplay() {
    QNativeInterface::QX11Application* x11 = X11();
    if (x11 == nullptr || x11->connection() == nullptr) {
        if (QGuiApplication::platformName() == "wayland") {
            SyncWithCompositor();
        }
        return;
    }
    xcb_connection_t* connection = x11->connection();
    xcb_flush(connection);
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

std::optional<QRect> PlaceOnServer(unsigned long long window) {
    QNativeInterface::QX11Application* x11 = X11();
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return std::nullopt;
    }
    const auto id = static_cast<xcb_window_t>(window);
    xcb_get_geometry_reply_t* size =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr);
    xcb_translate_coordinates_reply_t* place =
        size != nullptr
            ? xcb_translate_coordinates_reply(
                  connection, xcb_translate_coordinates(connection, id, size->root, 0, 0), nullptr)
            : nullptr;
    std::optional<QRect> onServer;
    if (place != nullptr) {
        onServer = QRect(place->dst_x, place->dst_y, size->width, size->height);
    }
    std::free(place);
    std::free(size);
    return onServer;
}

ScreenSaver::~ScreenSaver() {
    Hold(false);
}

void ScreenSaver::Hold(bool held) {
    if (held == Held) {
        return;
    }
    Held = held;
    QNativeInterface::QX11Application* x11 = X11();
    if (x11 != nullptr && x11->display() != nullptr) {
        int event = 0;
        int error = 0;
        if (XScreenSaverQueryExtension(x11->display(), &event, &error)) {
            XScreenSaverSuspend(x11->display(), held ? True : False);
            XFlush(x11->display());
        }
    }
    if (!HasSessionBus()) {
        return;
    }
    if (!held) {
        UnInhibit();
        return;
    }
    if (InhibitPending) {
        return; // the reply still to come is kept now
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(SaverService, SaverPath, SaverService, "Inhibit");
    call << QStringLiteral("Pruvex") << QStringLiteral("Showing a camera test target");
    InhibitPending = true;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<unsigned> reply = *finished;
                finished->deleteLater();
                InhibitPending = false;
                Cookie = reply.isValid() ? reply.value() : 0;
                if (!Held) {
                    UnInhibit(); // released while the call was on its way
                }
            });
}

void ScreenSaver::UnInhibit() {
    if (Cookie == 0) {
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(SaverService, SaverPath, SaverService, "UnInhibit");
    call << Cookie;
    Cookie = 0;
    QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
}
