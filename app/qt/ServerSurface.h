#pragma once

// The drawing area on X11: a child window of the display server's own that
// the server fills from the picture's rectangles, so that no image of the
// drawing area is made in this process or sent to the server.

#include "pattern/Picture.h"

#include <QAbstractNativeEventFilter>
#include <QRect>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct xcb_connection_t;

class ServerSurface : public QAbstractNativeEventFilter {
  public:
    // The rectangles to fill, asked for at each fill.
    using PlanSource = std::function<std::vector<pruvex::PaintRect>()>;

    // A surface inside the X11 window `parent`, or none when the program
    // does not run on X11.
    static std::unique_ptr<ServerSurface> Create(std::uint32_t parent, PlanSource plan);
    ~ServerSurface() override;
    ServerSurface(const ServerSurface&) = delete;
    ServerSurface& operator=(const ServerSurface&) = delete;

    std::uint32_t Window() const { return Handle; }
    // The place of the drawing area in the parent, in device pixels.
    void Place(const QRect& area);
    // Fills once the event loop runs again; several calls make one fill.
    void Invalidate();
    // Fills now (the requests are sent, not waited for).
    void FillNow();
    // The pointer over the surface: the window's own, or none.
    void ShowPointer(bool shown);
    // Called after each fill of a surface that the server has shown.
    void SetFillListener(std::function<void()> listener) { FillListener = std::move(listener); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    ServerSurface(xcb_connection_t* connection, std::uint32_t parent, PlanSource plan);
    std::uint32_t PixelOf(pruvex::Colour colour) const;

    xcb_connection_t* Connection;
    std::uint32_t Handle = 0;
    std::uint32_t Context = 0; // the graphics context that fills
    std::uint32_t Blank = 0;   // an empty pointer image, made when first needed
    PlanSource Plan;
    std::function<void()> FillListener;
    QTimer Pending;
    QRect Area;
    bool Exposed = false;
    struct Channel {
        std::uint32_t Mask = 0;
        int Shift = 0;
        int Bits = 0;
    };
    Channel Red;
    Channel Green;
    Channel Blue;
};
