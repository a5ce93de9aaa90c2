#include "ServerSurface.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <bit>
#include <cstdlib>

namespace {

xcb_connection_t* X11Connection() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

// The visual of a window, as the server describes it.
const xcb_visualtype_t* VisualOf(xcb_connection_t* connection, xcb_window_t window) {
    xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, window), nullptr);
    if (attributes == nullptr) {
        return nullptr;
    }
    const xcb_visualid_t id = attributes->visual;
    std::free(attributes);
    for (xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(connection));
         screen.rem > 0; xcb_screen_next(&screen)) {
        for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(screen.data);
             depth.rem > 0; xcb_depth_next(&depth)) {
            for (xcb_visualtype_iterator_t visual = xcb_depth_visuals_iterator(depth.data);
                 visual.rem > 0; xcb_visualtype_next(&visual)) {
                if (visual.data->visual_id == id) {
                    return visual.data;
                }
            }
        }
    }
    return nullptr;
}

} // namespace

std::unique_ptr<ServerSurface> ServerSurface::Create(std::uint32_t parent, PlanSource plan) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr || parent == 0) {
        return nullptr;
    }
    return std::unique_ptr<ServerSurface>(new ServerSurface(connection, parent, std::move(plan)));
}

ServerSurface::ServerSurface(xcb_connection_t* connection, std::uint32_t parent, PlanSource plan)
    : Connection(connection), Plan(std::move(plan)) {
    const xcb_visualtype_t* visual = VisualOf(connection, parent);
    const auto channel = [](std::uint32_t mask) {
        return Channel{mask, mask != 0 ? std::countr_zero(mask) : 0, std::popcount(mask)};
    };
    if (visual != nullptr) {
        Red = channel(visual->red_mask);
        Green = channel(visual->green_mask);
        Blue = channel(visual->blue_mask);
    }
    // No background: the server leaves what is there until the fill that
    // follows each exposure, so nothing flashes.
    Handle = xcb_generate_id(connection);
    const std::uint32_t values[] = {XCB_BACK_PIXMAP_NONE, XCB_GRAVITY_NORTH_WEST,
                                    XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, Handle, parent, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXMAP | XCB_CW_BIT_GRAVITY | XCB_CW_EVENT_MASK, values);
    Context = xcb_generate_id(connection);
    const std::uint32_t noExposures[] = {0};
    xcb_create_gc(connection, Context, Handle, XCB_GC_GRAPHICS_EXPOSURES, noExposures);
    Pending.setSingleShot(true);
    QObject::connect(&Pending, &QTimer::timeout, [this] { FillNow(); });
    QCoreApplication::instance()->installNativeEventFilter(this);
}

ServerSurface::~ServerSurface() {
    QCoreApplication::instance()->removeNativeEventFilter(this);
    if (X11Connection() == Connection) {
        // The parent may be gone already, and this window with it.
        xcb_discard_reply(Connection, xcb_free_gc_checked(Connection, Context).sequence);
        if (Blank != 0) {
            xcb_free_cursor(Connection, Blank);
        }
        xcb_discard_reply(Connection, xcb_destroy_window_checked(Connection, Handle).sequence);
        xcb_flush(Connection);
    }
}

void ServerSurface::Place(const QRect& area) {
    if (area == Area) {
        return;
    }
    Area = area;
    const std::uint32_t values[] = {static_cast<std::uint32_t>(area.x()),
                                    static_cast<std::uint32_t>(area.y()),
                                    static_cast<std::uint32_t>(std::max(area.width(), 1)),
                                    static_cast<std::uint32_t>(std::max(area.height(), 1))};
    xcb_configure_window(Connection, Handle,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    if (area.isEmpty()) {
        xcb_unmap_window(Connection, Handle);
    } else {
        xcb_map_window(Connection, Handle);
    }
    Invalidate();
}

void ServerSurface::ShowPointer(bool shown) {
    if (!shown && Blank == 0) {
        // A cursor of one transparent pixel.
        const xcb_pixmap_t pixmap = xcb_generate_id(Connection);
        xcb_create_pixmap(Connection, 1, pixmap, Handle, 1, 1);
        Blank = xcb_generate_id(Connection);
        xcb_create_cursor(Connection, Blank, pixmap, pixmap, 0, 0, 0, 0, 0, 0, 0, 0);
        xcb_free_pixmap(Connection, pixmap);
    }
    // None takes the pointer of the window around the surface.
    const std::uint32_t cursor[] = {shown ? std::uint32_t{XCB_CURSOR_NONE} : Blank};
    xcb_change_window_attributes(Connection, Handle, XCB_CW_CURSOR, cursor);
    xcb_flush(Connection);
}

void ServerSurface::Invalidate() {
    if (!Pending.isActive()) {
        Pending.start(0);
    }
}

std::uint32_t ServerSurface::PixelOf(pruvex::Colour colour) const {
    // Each 8-bit value widened or narrowed to its channel as the toolkit's
    // images are: high bits repeated below, or low bits dropped.
    const auto scaled = [](unsigned value, const Channel& c) -> std::uint32_t {
        unsigned bits = 0;
        if (c.Bits >= 8) {
            bits = value << (c.Bits - 8);
            for (int filled = 8; filled < c.Bits; filled += 8) {
                bits |= (value << (c.Bits - 8)) >> filled;
            }
        } else {
            bits = value >> (8 - c.Bits);
        }
        return (static_cast<std::uint32_t>(bits) << c.Shift) & c.Mask;
    };
    return scaled(colour.Red, Red) | scaled(colour.Green, Green) | scaled(colour.Blue, Blue);
}

void ServerSurface::FillNow() {
    Pending.stop();
    if (Area.isEmpty()) {
        return;
    }
    for (const pruvex::PaintRect& rect : Plan()) {
        const std::uint32_t pixel[] = {PixelOf(rect.Fill)};
        xcb_change_gc(Connection, Context, XCB_GC_FOREGROUND, pixel);
        const xcb_rectangle_t r{static_cast<std::int16_t>(rect.Pixels.Left),
                                static_cast<std::int16_t>(rect.Pixels.Top),
                                static_cast<std::uint16_t>(rect.Pixels.Width()),
                                static_cast<std::uint16_t>(rect.Pixels.Height())};
        xcb_poly_fill_rectangle(Connection, Handle, Context, 1, &r);
    }
    xcb_flush(Connection);
    if (Exposed && FillListener) {
        FillListener();
    }
}

bool ServerSurface::nativeEventFilter(const QByteArray& eventType, void* message,
                                      qintptr* /*result*/) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) == XCB_EXPOSE) {
        const auto* expose = static_cast<const xcb_expose_event_t*>(message);
        if (expose->window == Handle && expose->count == 0) {
            Exposed = true;
            FillNow();
            return true;
        }
    }
    return false;
}
