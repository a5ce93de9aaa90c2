#include "FrameClock.h"

#include "presentation-time-client-protocol.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <xcb/present.h>
#include <xcb/xcb.h>

#include <poll.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

using pruvex::FrameTime;
using pruvex::Milliseconds;
using pruvex::VerticalBlank;

// The clocks of the display servers are CLOCK_MONOTONIC, as steady_clock.
FrameTime FromMonotonic(std::chrono::nanoseconds since) {
    return FrameTime(std::chrono::duration_cast<FrameTime::duration>(since));
}

using pruvex::PlausiblePeriod;

// A blank or a presentation feedback is waited for at most this long
// before the reply goes by the nominal rate.
constexpr Milliseconds BlankPatience{250.0};

// The blanks are followed this long after a reply waited for one.
constexpr std::chrono::seconds ChainTime{10};

// The refresh period of the mode of the monitor that shows the middle of
// the window, where the X server knows the mode's timings (a real monitor's
// mode does; Xvfb's has no dot clock).
std::optional<Milliseconds> ModePeriodOf(Display* display, ::Window window) {
    int event = 0;
    int error = 0;
    XWindowAttributes attributes{};
    ::Window child = 0;
    int x = 0;
    int y = 0;
    if (display == nullptr || !XRRQueryExtension(display, &event, &error) ||
        XGetWindowAttributes(display, window, &attributes) == 0 ||
        !XTranslateCoordinates(display, window, DefaultRootWindow(display), attributes.width / 2,
                               attributes.height / 2, &x, &y, &child)) {
        return std::nullopt;
    }
    XRRScreenResources* resources =
        XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
    if (resources == nullptr) {
        return std::nullopt;
    }
    std::optional<Milliseconds> period;
    for (int i = 0; i < resources->ncrtc && !period; ++i) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
        if (crtc == nullptr) {
            continue;
        }
        const bool shows = crtc->mode != None && x >= crtc->x && y >= crtc->y &&
                           x - crtc->x < static_cast<int>(crtc->width) &&
                           y - crtc->y < static_cast<int>(crtc->height);
        for (int m = 0; shows && m < resources->nmode; ++m) {
            const XRRModeInfo& mode = resources->modes[m];
            if (mode.id != crtc->mode || mode.dotClock == 0 || mode.hTotal == 0 ||
                mode.vTotal == 0) {
                continue;
            }
            double lines = mode.vTotal;
            if ((mode.modeFlags & RR_DoubleScan) != 0) {
                lines *= 2;
            }
            if ((mode.modeFlags & RR_Interlace) != 0) {
                lines /= 2;
            }
            const Milliseconds modePeriod(1000.0 * mode.hTotal * lines /
                                          static_cast<double>(mode.dotClock));
            if (PlausiblePeriod(modePeriod)) {
                period = modePeriod;
            }
        }
        XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(resources);
    return period;
}

} // namespace

// The presentation-time interface of the compositor, on an event queue of
// this clock's own so that none of the toolkit's events is dispatched here.
struct FrameClock::Wayland {
    wl_display* Display = nullptr;
    wl_event_queue* Queue = nullptr;
    wl_display* Wrapper = nullptr;
    wp_presentation* Presentation = nullptr;
    clockid_t Clock = CLOCK_MONOTONIC;
    int Pending = 0;          // feedbacks asked for and not yet answered
    std::uint64_t Latest = 0; // the number of the last one asked for

    ~Wayland() {
        if (Presentation != nullptr) {
            wp_presentation_destroy(Presentation);
        }
        if (Wrapper != nullptr) {
            wl_proxy_wrapper_destroy(Wrapper);
        }
        if (Queue != nullptr) {
            wl_event_queue_destroy(Queue);
        }
    }
};

// One feedback asked for: whose, and its number.
struct Feedback {
    FrameClock* Clock;
    std::uint64_t Number;
};

namespace {

const wl_registry_listener RegistryListener = {
    [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
       std::uint32_t /*version*/) {
        auto* way = static_cast<FrameClock::Wayland*>(data);
        if (std::string(interface) == wp_presentation_interface.name) {
            way->Presentation = static_cast<wp_presentation*>(
                wl_registry_bind(registry, name, &wp_presentation_interface, 1));
        }
    },
    [](void* /*data*/, wl_registry* /*registry*/, std::uint32_t /*name*/) {}};

const wp_presentation_listener PresentationListener = {
    [](void* data, wp_presentation* /*presentation*/, std::uint32_t clock) {
        static_cast<FrameClock::Wayland*>(data)->Clock = static_cast<clockid_t>(clock);
    }};

} // namespace

FrameClock::FrameClock(QWindow& window, Listener blanked)
    : Window(window), Blanked(std::move(blanked)) {
    WaylandPoll.setInterval(1);
    Patience.setSingleShot(true);
    Patience.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(BlankPatience));
    QObject::connect(&Patience, &QTimer::timeout, [this] { GiveUp(); });
    QObject::connect(&WaylandPoll, &QTimer::timeout, [this] { PollWayland(); });
    QObject::connect(&Window, &QWindow::screenChanged, [this] { ReadMode(); });
    if (QGuiApplication::platformName() != "wayland") {
        return;
    }
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* display = static_cast<wl_display*>(
        native != nullptr ? native->nativeResourceForIntegration("wl_display") : nullptr);
    if (display == nullptr) {
        return;
    }
    Way = std::make_unique<Wayland>();
    Way->Display = display;
    Way->Queue = wl_display_create_queue(display);
    Way->Wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(Way->Wrapper), Way->Queue);
    wl_registry* registry = wl_display_get_registry(Way->Wrapper);
    wl_registry_add_listener(registry, &RegistryListener, Way.get());
    wl_display_roundtrip_queue(display, Way->Queue);
    wl_registry_destroy(registry);
    if (Way->Presentation != nullptr) {
        wp_presentation_add_listener(Way->Presentation, &PresentationListener, Way.get());
        wl_display_roundtrip_queue(display, Way->Queue); // its clock
    }
}

FrameClock::~FrameClock() {
    if (X11 != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

void FrameClock::FollowX11Window(std::uint32_t window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr || window == 0) {
        return;
    }
    const xcb_query_extension_reply_t* present =
        xcb_get_extension_data(connection, &xcb_present_id);
    if (present == nullptr || present->present == 0) {
        return;
    }
    std::free(xcb_present_query_version_reply(
        connection, xcb_present_query_version(connection, 1, 0), nullptr));
    X11 = connection;
    X11Window = window;
    PresentOpcode = present->major_opcode;
    X11Events = xcb_generate_id(connection);
    xcb_present_select_input(connection, X11Events, window, XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY);
    QCoreApplication::instance()->installNativeEventFilter(this);
    ReadMode();
    AskWhereX11(); // the first ticks tell the rate before any reply waits
}

void FrameClock::ReadMode() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (X11 != nullptr && x11 != nullptr) {
        ModePeriod = ModePeriodOf(x11->display(), X11Window);
    }
}

// Questions for where the count is now carry this bit in their serial: the
// answer is the current count with the time of asking, not the time of a
// blank.
constexpr std::uint32_t WhereBit = 0x80000000U;

void FrameClock::AskX11(std::uint64_t counter) {
    Serial = (Serial + 1) & ~WhereBit;
    xcb_present_notify_msc(X11, X11Window, Serial, counter, 0, 0);
    Asking = true;
    xcb_flush(X11);
}

std::uint32_t FrameClock::AskWhereX11() {
    Serial = (Serial + 1) & ~WhereBit;
    xcb_present_notify_msc(X11, X11Window, Serial | WhereBit, 0, 0, 0);
    xcb_flush(X11);
    return Serial | WhereBit;
}

void FrameClock::BeforeCommit() {
    if (!Way || Way->Presentation == nullptr) {
        return;
    }
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* surface = static_cast<wl_surface*>(
        native != nullptr ? native->nativeResourceForWindow("surface", &Window) : nullptr);
    if (surface == nullptr) {
        return;
    }
    static const wp_presentation_feedback_listener listener = {
        [](void* /*data*/, struct wp_presentation_feedback* /*feedback*/, wl_output* /*output*/) {},
        [](void* data, struct wp_presentation_feedback* feedback, std::uint32_t secondsHigh,
           std::uint32_t secondsLow, std::uint32_t nanoseconds, std::uint32_t refresh,
           std::uint32_t sequenceHigh, std::uint32_t sequenceLow, std::uint32_t /*flags*/) {
            const Feedback asked = *static_cast<Feedback*>(data);
            delete static_cast<Feedback*>(data);
            wp_presentation_feedback_destroy(feedback);
            const std::chrono::nanoseconds since =
                std::chrono::seconds((std::uint64_t{secondsHigh} << 32) | secondsLow) +
                std::chrono::nanoseconds(nanoseconds);
            asked.Clock->Presented(
                asked.Number,
                {(std::uint64_t{sequenceHigh} << 32) | sequenceLow,
                 FrameTime(std::chrono::duration_cast<FrameTime::duration>(since))},
                refresh > 0 ? std::optional(Milliseconds(std::chrono::nanoseconds(refresh)))
                            : std::nullopt);
        },
        [](void* data, struct wp_presentation_feedback* feedback) {
            // A later commit took its place; its own feedback follows.
            const Feedback asked = *static_cast<Feedback*>(data);
            delete static_cast<Feedback*>(data);
            wp_presentation_feedback_destroy(feedback);
            --asked.Clock->Way->Pending;
        }};
    struct wp_presentation_feedback* feedback =
        wp_presentation_feedback(Way->Presentation, surface);
    wp_presentation_feedback_add_listener(feedback, &listener, new Feedback{this, ++Way->Latest});
    ++Way->Pending;
}

// The frame that holds the picture began to scan out at the time given, in
// the compositor's clock.
void FrameClock::Presented(std::uint64_t feedback, const Tick& tick,
                           std::optional<Milliseconds> period) {
    --Way->Pending;
    Tick shown = tick;
    if (Way->Clock != CLOCK_MONOTONIC) {
        timespec now{};
        clock_gettime(Way->Clock, &now);
        shown.When = std::chrono::steady_clock::now() -
                     (std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) -
                      tick.When.time_since_epoch());
    }
    Record(shown, period);
    // Only the feedback of the last commit tells when the picture came.
    if (Waiting && feedback == Way->Latest) {
        Answer({shown.When, Period(), 1});
    }
}

std::optional<VerticalBlank> FrameClock::Await(FrameTime held) {
    if (X11 != nullptr) {
        // The server has taken the picture: it scans out from the blank
        // after the count it answers with. Counting, not comparing times,
        // since a loaded server may stamp a blank late.
        Waiting = true;
        LastAwait = held;
        FirstShowing.reset();
        HeldSerial = AskWhereX11();
        Patience.start();
        return std::nullopt;
    }
    if (Way && Way->Pending > 0) {
        Waiting = true;
        WaylandPoll.start();
        Patience.start();
        return std::nullopt;
    }
    return pruvex::LatestBlank(held, NominalPeriod());
}

void FrameClock::Record(const Tick& tick, std::optional<Milliseconds> period) {
    if (period && PlausiblePeriod(*period)) {
        Reported = period;
    }
    if (Rate.Add(tick.Counter, tick.When)) {
        ReadMode(); // a new counter: the window moved to another monitor
    }
}

void FrameClock::Ticked(const Tick& tick) {
    Record(tick, std::nullopt);
    // One question for each blank while replies may wait, so that the blank
    // after a paint is the one already asked for: a question asked after the
    // paint can miss the blank that comes first.
    Asking = false;
    if (Waiting || !Rate.Measured() || tick.When - LastAwait < ChainTime) {
        AskX11(tick.Counter + 1);
    }
    if (Waiting && FirstShowing && tick.Counter >= *FirstShowing) {
        Answer({tick.When, Period(), Refreshes()});
    }
}

void FrameClock::Answer(const VerticalBlank& blank) {
    Waiting = false;
    WaylandPoll.stop();
    Patience.stop();
    Blanked(blank);
}

// The compositor's word, else the monitor's mode, else the blanks measured
// over a second. Before that, the longer of the nominal period and the
// blanks seen so far: a period taken too short would make a reply early.
Milliseconds FrameClock::Period() const {
    if (Reported) {
        return *Reported;
    }
    if (ModePeriod) {
        return *ModePeriod;
    }
    if (const std::optional<Milliseconds> measured = Rate.Measured()) {
        return *measured;
    }
    const Milliseconds nominal = NominalPeriod();
    const std::optional<Milliseconds> seen = Rate.Seen();
    return seen && *seen > nominal ? *seen : nominal;
}

std::string FrameClock::RateSource() const {
    if (ModePeriod) {
        return " from the monitor's mode";
    }
    if (Rate.Measured()) {
        return " measured over its blanks";
    }
    return " until a second of blanks is measured";
}

Milliseconds FrameClock::NominalPeriod() const {
    const QScreen* screen = Window.screen();
    const double rate = screen != nullptr ? screen->refreshRate() : 0.0;
    return Milliseconds(1000.0 / (rate >= 1.0 ? rate : 60.0));
}

// A compositing manager shows the window's picture at a blank of its own
// after the one that took it: one refresh more.
int FrameClock::Refreshes() const {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 != nullptr ? x11->display() : nullptr;
    if (display == nullptr) {
        return 1;
    }
    const std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    return XGetSelectionOwner(display, XInternAtom(display, selection.c_str(), False)) != None ? 2
                                                                                               : 1;
}

void FrameClock::PollWayland() {
    if (!Way) {
        return;
    }
    // Reads what has come for this queue, alongside the toolkit's reader.
    while (wl_display_prepare_read_queue(Way->Display, Way->Queue) != 0) {
        wl_display_dispatch_queue_pending(Way->Display, Way->Queue);
    }
    wl_display_flush(Way->Display);
    pollfd descriptor{wl_display_get_fd(Way->Display), POLLIN, 0};
    if (poll(&descriptor, 1, 0) > 0) {
        wl_display_read_events(Way->Display);
    } else {
        wl_display_cancel_read(Way->Display);
    }
    wl_display_dispatch_queue_pending(Way->Display, Way->Queue);
    if (Waiting && Way->Pending == 0) {
        GiveUp(); // no feedback to come
    }
}

// The next blank by the nominal rate: the latest it can come.
void FrameClock::GiveUp() {
    if (Waiting) {
        Answer(pruvex::LatestBlank(std::chrono::steady_clock::now(), NominalPeriod()));
    }
}

pruvex::CheckLine FrameClock::Check() {
    using pruvex::Verdict;
    const char* const advice = "Without a frame clock replies wait by the monitor's nominal "
                               "rate: leave a frame or two before the exposure";
    if (Way && Way->Presentation != nullptr) {
        // The feedback of the pictures just painted, read here.
        const auto end = std::chrono::steady_clock::now() + BlankPatience;
        while (Rate.Count() == 0 && Way->Pending > 0 && std::chrono::steady_clock::now() < end) {
            PollWayland();
            poll(nullptr, 0, 1);
        }
        if (Rate.Count() > 0) {
            return {Verdict::Pass, "frame timing",
                    "the compositor's presentation feedback, " + pruvex::RateText(Period()), ""};
        }
        return {Verdict::Unverified, "frame timing",
                "the compositor gave no presentation feedback; by the nominal " +
                    pruvex::RateText(NominalPeriod()),
                advice};
    }
    if (X11 != nullptr && !ModePeriod && !Rate.Measured()) {
        MeasureNow();
    }
    if (X11 != nullptr && Rate.Count() >= 2) {
        std::string measured =
            "X11 Present on the window's monitor, " + pruvex::RateText(Period()) + RateSource();
        if (Refreshes() > 1) {
            measured += ", one frame more for the compositing manager";
        }
        return {Verdict::Pass, "frame timing", measured, ""};
    }
    return {Verdict::Unverified, "frame timing",
            std::string(X11 != nullptr ? "the X server's Present clock has not ticked"
                        : Way          ? "the compositor has no presentation-time interface"
                                       : "no frame clock") +
                "; by the nominal " + pruvex::RateText(NominalPeriod()),
            advice};
}

// For a report asked before a second of blanks was seen: the blanks of the
// window's monitor read on a connection of this clock's own until the rate
// is known (at most three seconds, while the event loop waits).
void FrameClock::MeasureNow() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 != nullptr ? x11->display() : nullptr;
    xcb_connection_t* own =
        xcb_connect(display != nullptr ? DisplayString(display) : nullptr, nullptr);
    const xcb_query_extension_reply_t* present =
        xcb_connection_has_error(own) == 0 ? xcb_get_extension_data(own, &xcb_present_id) : nullptr;
    if (present == nullptr || present->present == 0) {
        xcb_disconnect(own);
        return;
    }
    std::free(xcb_present_query_version_reply(own, xcb_present_query_version(own, 1, 0), nullptr));
    const std::uint32_t events = xcb_generate_id(own);
    xcb_present_select_input(own, events, X11Window, XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY);
    xcb_present_notify_msc(own, X11Window, 0, 0, 0, 0); // where the count is now
    xcb_flush(own);
    const auto end = std::chrono::steady_clock::now() + 3 * pruvex::TickRate::Span;
    while (!Rate.Measured() && std::chrono::steady_clock::now() < end &&
           xcb_connection_has_error(own) == 0) {
        pollfd descriptor{xcb_get_file_descriptor(own), POLLIN, 0};
        poll(&descriptor, 1, 100);
        while (xcb_generic_event_t* event = xcb_poll_for_event(own)) {
            const auto* complete = reinterpret_cast<xcb_present_complete_notify_event_t*>(event);
            if ((event->response_type & 0x7F) == XCB_GE_GENERIC &&
                complete->event_type == XCB_PRESENT_EVENT_COMPLETE_NOTIFY &&
                complete->kind == XCB_PRESENT_COMPLETE_KIND_NOTIFY_MSC) {
                if (complete->serial != 0) { // the first answer is the time of asking
                    Rate.Add(complete->msc,
                             FromMonotonic(std::chrono::microseconds(complete->ust)));
                }
                xcb_present_notify_msc(own, X11Window, 1, complete->msc + 1, 0, 0);
                xcb_flush(own);
            }
            std::free(event);
        }
    }
    xcb_disconnect(own);
}

bool FrameClock::nativeEventFilter(const QByteArray& eventType, void* message,
                                   qintptr* /*result*/) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_ge_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_GE_GENERIC || event->extension != PresentOpcode ||
        event->event_type != XCB_PRESENT_EVENT_COMPLETE_NOTIFY) {
        return false;
    }
    const auto* complete = static_cast<const xcb_present_complete_notify_event_t*>(message);
    if (complete->event != X11Events) {
        return false;
    }
    if (complete->kind != XCB_PRESENT_COMPLETE_KIND_NOTIFY_MSC) {
        return true;
    }
    if ((complete->serial & WhereBit) != 0) {
        if (Waiting && complete->serial == HeldSerial) {
            FirstShowing = complete->msc + 1;
        }
        if (!Asking) {
            AskX11(complete->msc + 1);
        }
    } else {
        Ticked({complete->msc, FromMonotonic(std::chrono::microseconds(complete->ust))});
    }
    return true;
}
