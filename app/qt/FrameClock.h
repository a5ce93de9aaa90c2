#pragma once

// The vertical blanks of the monitor that shows the window: on X11 from the
// Present extension, on Wayland from the compositor's presentation feedback,
// elsewhere by the monitor's nominal refresh rate.

#include "app/FrameRate.h"
#include "app/Platform.h"

#include <QAbstractNativeEventFilter>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWindow;
struct xcb_connection_t;

class FrameClock : public QAbstractNativeEventFilter {
  public:
    using Listener = std::function<void(const pruvex::VerticalBlank&)>;

    // `blanked` gets each blank that Await could not answer at once.
    FrameClock(QWindow& window, Listener blanked);
    ~FrameClock() override;
    FrameClock(const FrameClock&) = delete;
    FrameClock& operator=(const FrameClock&) = delete;

    // Follows the Present clock of this X11 window (the one that shows the
    // picture).
    void FollowX11Window(std::uint32_t window);
    // Before the picture is committed to a Wayland compositor: asks for the
    // presentation feedback of that commit.
    void BeforeCommit();
    // The first blank after `held`, or nothing when it is to come through
    // the listener.
    std::optional<pruvex::VerticalBlank> Await(pruvex::FrameTime held);
    pruvex::CheckLine Check();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    struct Wayland;

  private:
    friend struct Feedback;
    struct Tick {
        std::uint64_t Counter; // frames since some start (MSC, sequence)
        pruvex::FrameTime When;
    };
    void AskX11(std::uint64_t counter);
    // Asks where the count is now; returns the question's serial.
    std::uint32_t AskWhereX11();
    // A blank seen, with the period the server reports if it does.
    void Record(const Tick& tick, std::optional<pruvex::Milliseconds> period);
    // An X11 blank.
    void Ticked(const Tick& tick);
    void Answer(const pruvex::VerticalBlank& blank);
    pruvex::Milliseconds Period() const;
    std::string RateSource() const; // for --check
    void ReadMode();
    void MeasureNow();
    pruvex::Milliseconds NominalPeriod() const;
    int Refreshes() const;
    void PollWayland();
    void Presented(std::uint64_t feedback, const Tick& tick,
                   std::optional<pruvex::Milliseconds> period);

    QWindow& Window;
    Listener Blanked;
    std::optional<pruvex::Milliseconds> Reported;   // the period the compositor reports
    std::optional<pruvex::Milliseconds> ModePeriod; // of the monitor's mode (X11)
    pruvex::TickRate Rate;                          // the latest blanks seen
    bool Waiting = false;

    xcb_connection_t* X11 = nullptr;
    std::uint32_t X11Window = 0;
    std::uint32_t X11Events = 0;
    std::uint8_t PresentOpcode = 0;
    std::uint32_t Serial = 0;
    std::uint32_t HeldSerial = 0; // where the count was once the server held the picture
    std::optional<std::uint64_t> FirstShowing; // the count of the blank that first shows it
    bool Asking = false;                       // a question for a blank is on its way
    pruvex::FrameTime LastAwait;               // the chain of questions runs for a while after

    std::unique_ptr<Wayland> Way;
    QTimer WaylandPoll;
    QTimer Patience; // a blank that does not come gives way to the nominal rate
    void GiveUp();
};
