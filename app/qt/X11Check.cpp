// The checks of the way from the window to the monitor on X11: the visual,
// the gamma ramps and output properties of RandR, colour-management hints,
// and the pixels read back from the server.

#include "FrmMain.h"
#include "PicMain.h"

#include <QGuiApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <bit>
#include <cstring>

namespace {

using pruvex::CheckLine;
using pruvex::Verdict;

Display* X11Display() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->display() : nullptr;
}

struct Channel {
    unsigned long Mask = 0;
    int Shift = 0;
    int Bits = 0;
};

Channel ChannelOf(unsigned long mask) {
    return {mask, mask != 0 ? std::countr_zero(mask) : 0, std::popcount(mask)};
}

// The pixels of a rectangle of a drawable, scaled to 8 bits per channel;
// false when the server gives no image (the rectangle is off screen).
bool ReadImage(Display* display, ::Window drawable, int x, int y, int width, int height,
               pruvex::ReadBackImage& out) {
    out.Width = width;
    out.Height = height;
    out.Pixels.clear();
    if (width <= 0 || height <= 0) {
        return true;
    }
    // A window that is not viewable (or a rectangle off the screen) gives an
    // error, not an image: it must not end the program.
    XSync(display, False);
    XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    XImage* image = XGetImage(display, drawable, x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    XSync(display, False);
    XSetErrorHandler(previous);
    if (image == nullptr) {
        return false;
    }
    const Channel red = ChannelOf(image->red_mask);
    const Channel green = ChannelOf(image->green_mask);
    const Channel blue = ChannelOf(image->blue_mask);
    const auto scaled = [](unsigned long pixel, const Channel& c) {
        return pruvex::ScaleChannel(static_cast<unsigned>((pixel & c.Mask) >> c.Shift), c.Bits);
    };
    out.Pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row);
            out.Pixels.push_back({scaled(pixel, red), scaled(pixel, green), scaled(pixel, blue)});
        }
    }
    XDestroyImage(image);
    return true;
}

CheckLine VisualLine(Display* display, ::Window window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    const int depth = attributes.depth;
    const bool trueColour = attributes.visual != nullptr && attributes.visual->c_class == TrueColor;
    const std::string measured = std::string(trueColour ? "TrueColor" : "not TrueColor") +
                                 ", depth " + std::to_string(depth);
    if (!trueColour || depth < 24) {
        const pruvex::Colour painted = pruvex::LevelColour(212, {});
        return {Verdict::Fail, "visual",
                measured + ": level 212 " + pruvex::ColourText(painted) + " becomes " +
                    pruvex::ColourText(pruvex::ThroughDepth16(painted)),
                "Run the X server at depth 24 (8 bits per channel)"};
    }
    if (depth > 24) {
        return {Verdict::Warn, "visual",
                measured + " (more than 8 bits per channel: the server widens each level)",
                "Depth 24 is the mode whose pixels equal the levels; at depth 30 they are scaled"};
    }
    return {Verdict::Pass, "visual", measured + ", 8 bits per channel", ""};
}

struct Crtcs {
    std::vector<RRCrtc> Showing; // the CRTCs that show part of the window
    std::vector<RROutput> Outputs;
    std::vector<std::string> OutputNames;
};

Crtcs CrtcsShowing(Display* display, XRRScreenResources* resources, const QRect& window) {
    Crtcs found;
    for (int i = 0; i < resources->ncrtc; ++i) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
        if (crtc == nullptr) {
            continue;
        }
        const QRect shown(crtc->x, crtc->y, static_cast<int>(crtc->width),
                          static_cast<int>(crtc->height));
        if (crtc->mode != None && shown.intersects(window)) {
            found.Showing.push_back(resources->crtcs[i]);
            for (int k = 0; k < crtc->noutput; ++k) {
                XRROutputInfo* output = XRRGetOutputInfo(display, resources, crtc->outputs[k]);
                if (output != nullptr) {
                    found.Outputs.push_back(crtc->outputs[k]);
                    found.OutputNames.emplace_back(output->name);
                    XRRFreeOutputInfo(output);
                }
            }
        }
        XRRFreeCrtcInfo(crtc);
    }
    return found;
}

CheckLine GammaLine(Display* display, const Crtcs& crtcs, const std::string& outputs) {
    if (crtcs.Showing.empty()) {
        return {Verdict::Unverified, "gamma", "no RandR CRTC shows the window",
                "Check that no calibration or night-light tool changes the monitor's colours"};
    }
    std::string worst;
    int largest = 0;
    for (const RRCrtc crtc : crtcs.Showing) {
        XRRCrtcGamma* gamma = XRRGetCrtcGamma(display, crtc);
        if (gamma == nullptr || gamma->size < 2) {
            if (gamma != nullptr) {
                XRRFreeGamma(gamma);
            }
            return {Verdict::Unverified, "gamma", "the gamma ramp cannot be read",
                    "Check that no calibration or night-light tool changes the monitor's colours"};
        }
        const auto size = static_cast<std::size_t>(gamma->size);
        const std::pair<const char*, unsigned short*> channels[] = {
            {"red", gamma->red}, {"green", gamma->green}, {"blue", gamma->blue}};
        for (const auto& [name, values] : channels) {
            const pruvex::RampDeviation deviation =
                pruvex::CompareRampWithIdentity(std::vector<std::uint16_t>(values, values + size));
            if (!deviation.Identity && (worst.empty() || deviation.LargestLevels > largest)) {
                largest = deviation.LargestLevels;
                worst = std::string(name) + " ramp of CRTC " + std::to_string(crtc) + " (" +
                        std::to_string(size) + " entries) is off by up to " +
                        std::to_string(deviation.LargestLevels) + " levels, first at level " +
                        std::to_string(deviation.FirstLevel);
            }
        }
        XRRFreeGamma(gamma);
    }
    if (!worst.empty()) {
        return {Verdict::Fail, "gamma", worst,
                "Load an identity ramp (xrandr --output " + outputs +
                    " --gamma 1:1:1) and switch off night light or calibration tools"};
    }
    return {Verdict::Pass, "gamma",
            "identity ramp on " + std::to_string(crtcs.Showing.size()) + " CRTC" +
                (crtcs.Showing.size() == 1 ? "" : "s") + " (" + outputs + ")",
            ""};
}

// The value of an output property: an atom's name, or the 32-bit words.
bool OutputProperty(Display* display, RROutput output, const char* name, std::string& atomName,
                    std::vector<long>& words) {
    const Atom property = XInternAtom(display, name, True);
    if (property == None) {
        return false;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XRRGetOutputProperty(display, output, property, 0, 64, False, False, AnyPropertyType, &type,
                             &format, &count, &after, &data) != Success ||
        data == nullptr || type == None) {
        return false;
    }
    if (type == XA_ATOM && format == 32 && count > 0) {
        char* text = XGetAtomName(display, static_cast<Atom>(reinterpret_cast<long*>(data)[0]));
        atomName = text != nullptr ? text : "";
        XFree(text);
    } else if (format == 32) {
        const auto* values = reinterpret_cast<const long*>(data);
        words.assign(values, values + count);
    }
    XFree(data);
    return true;
}

void OutputPropertyLines(Display* display, const Crtcs& crtcs, std::vector<CheckLine>& lines) {
    std::string broadcast = "not offered by the driver";
    std::string colorspace = "not offered by the driver";
    std::string ctm = "not offered by the driver";
    Verdict broadcastResult = Verdict::Pass;
    Verdict colorspaceResult = Verdict::Pass;
    Verdict ctmResult = Verdict::Pass;
    for (std::size_t i = 0; i < crtcs.Outputs.size(); ++i) {
        const std::string& output = crtcs.OutputNames[i];
        std::string value;
        std::vector<long> words;
        if (OutputProperty(display, crtcs.Outputs[i], "Broadcast RGB", value, words)) {
            broadcast = output;
            broadcast += ": ";
            broadcast += value;
            if (value == "Limited 16:235") {
                broadcastResult = Verdict::Fail;
            }
        }
        value.clear();
        if (OutputProperty(display, crtcs.Outputs[i], "Colorspace", value, words)) {
            colorspace = output;
            colorspace += ": ";
            colorspace += value;
            if (value != "Default") {
                colorspaceResult = Verdict::Fail;
            }
        }
        words.clear();
        if (OutputProperty(display, crtcs.Outputs[i], "CTM", value, words)) {
            // Nine S31.32 values, each as two 32-bit words (low, high):
            // identity has 1.0 on the diagonal and 0 elsewhere.
            bool identity = words.size() >= 18;
            for (std::size_t k = 0; identity && k < 9; ++k) {
                const auto low = static_cast<std::uint32_t>(words[2 * k]);
                const auto high = static_cast<std::uint32_t>(words[2 * k + 1]);
                identity = low == 0 && high == (k % 4 == 0 ? 1U : 0U);
            }
            ctm = output + (identity ? ": identity" : ": not identity");
            ctmResult = identity ? ctmResult : Verdict::Fail;
        }
    }
    lines.push_back({broadcastResult, "Broadcast RGB", broadcast,
                     "Send full-range RGB: xrandr --output NAME --set \"Broadcast RGB\" Full"});
    lines.push_back({ctmResult, "colour matrix (CTM)", ctm,
                     "Switch off the colour transformation (night light, colour filters)"});
    lines.push_back({colorspaceResult, "Colorspace", colorspace,
                     "Set the output's colour space back to Default"});
}

void HintLines(Display* display, double pixelRatio, std::vector<CheckLine>& lines) {
    const ::Window root = DefaultRootWindow(display);
    int count = 0;
    Atom* properties = XListProperties(display, root, &count);
    std::string profiles;
    for (int i = 0; i < count; ++i) {
        char* name = XGetAtomName(display, properties[i]);
        if (name != nullptr && std::strncmp(name, "_ICC_PROFILE", 12) == 0) {
            profiles += (profiles.empty() ? "" : ", ") + std::string(name);
        }
        XFree(name);
    }
    if (properties != nullptr) {
        XFree(properties);
    }
    lines.push_back(
        {profiles.empty() ? Verdict::Pass : Verdict::Warn, "ICC profile",
         profiles.empty() ? "none on the root window" : profiles + " set on the root window",
         "A colour-managed program would change the levels; Pruvex does not, but make "
         "sure no tool applies the profile to the whole screen"});
    const std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    const ::Window owner =
        XGetSelectionOwner(display, XInternAtom(display, selection.c_str(), False));
    lines.push_back(
        {owner == None ? Verdict::Pass : Verdict::Warn, "compositor",
         owner == None ? "no compositing manager" : "a compositing manager owns " + selection,
         "Switch off the compositor's effects (transparency, dimming, colour "
         "filters) for Pruvex's window"});
    lines.push_back({pixelRatio == 1.0 ? Verdict::Pass : Verdict::Warn, "device pixel ratio",
                     std::to_string(pixelRatio).substr(0, 4),
                     "Run the desktop at scale 1 so that one pixel of the picture is one "
                     "device pixel"});
}

} // namespace

std::vector<pruvex::CheckLine> FrmMain::PipelineChecks() {
    std::vector<CheckLine> lines;
    Display* display = X11Display();
    const QString platform = QGuiApplication::platformName();
    if (display == nullptr) {
        lines.push_back({Verdict::Unverified, "platform", platform.toStdString(),
                         "The display checks need X11: start Pruvex in an X11 session, or check "
                         "the compositor's scale, night light and colour settings by hand"});
        // Whole scales are painted in device pixels; a fractional one is
        // resampled by the compositor.
        const double scale = devicePixelRatioF();
        const bool whole = scale == static_cast<double>(static_cast<int>(scale));
        lines.push_back({whole ? Verdict::Pass : Verdict::Fail, "output scale",
                         std::to_string(scale).substr(0, 4) +
                             (whole ? ", painted in device pixels"
                                    : ", fractional: the compositor resamples the picture"),
                         "Shoot at a whole output scale (1 or 2)"});
        return lines;
    }
    lines.push_back({Verdict::Pass, "platform", "X11 (" + platform.toStdString() + ")", ""});
    const auto window = static_cast<::Window>(winId());
    lines.push_back(VisualLine(display, window));

    int event = 0;
    int error = 0;
    XRRScreenResources* resources =
        XRRQueryExtension(display, &event, &error)
            ? XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display))
            : nullptr;
    if (resources == nullptr) {
        lines.push_back({Verdict::Unverified, "gamma", "the server has no RandR extension",
                         "Check that no calibration or night-light tool changes the colours"});
    } else {
        const Crtcs crtcs = CrtcsShowing(display, resources, geometry());
        std::string outputs;
        for (const std::string& name : crtcs.OutputNames) {
            outputs += (outputs.empty() ? "" : ",") + name;
        }
        lines.push_back(GammaLine(display, crtcs, outputs.empty() ? "NAME" : outputs));
        OutputPropertyLines(display, crtcs, lines);
        XRRFreeScreenResources(resources);
    }
    HintLines(display, devicePixelRatioF(), lines);
    return lines;
}

bool FrmMain::ReadBack(pruvex::ReadBackImage& fromWindow, pruvex::ReadBackImage& fromScreen) {
    Display* display = X11Display();
    if (display == nullptr) {
        return false;
    }
    const QRect area = picMain->contentsRect().translated(picMain->pos());
    const QPoint onScreen = mapToGlobal(area.topLeft());
    fromWindow.ClientWidth = fromScreen.ClientWidth = width();
    fromWindow.ClientHeight = fromScreen.ClientHeight = height();
    return ReadImage(display, static_cast<::Window>(winId()), area.x(), area.y(), area.width(),
                     area.height(), fromWindow) &&
           ReadImage(display, DefaultRootWindow(display), onScreen.x(), onScreen.y(), area.width(),
                     area.height(), fromScreen);
}
