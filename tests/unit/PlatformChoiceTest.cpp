#include "app/PlatformChoice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

using pruvex::ChoosePlatform;
using pruvex::PlatformEnvironment;
using pruvex::SocketAccepts;
using pruvex::WaylandSocketPath;

struct ChoiceCase {
    const char* QtPlatform;
    const char* WaylandDisplay;
    const char* RuntimeDir;
    bool CompositorAnswers;
    const char* Probed; // the socket asked, or nullptr when none may be
    const char* Chosen;
};

class ChoiceTable : public testing::TestWithParam<ChoiceCase> {};

TEST_P(ChoiceTable, FollowsTheUserThenWaylandThenX11) {
    const ChoiceCase& c = GetParam();
    std::vector<std::string> probed;
    const std::string chosen = ChoosePlatform({c.QtPlatform, c.WaylandDisplay, c.RuntimeDir},
                                              [&](const std::string& path) {
                                                  probed.push_back(path);
                                                  return c.CompositorAnswers;
                                              });
    EXPECT_EQ(chosen, c.Chosen);
    if (c.Probed == nullptr) {
        EXPECT_TRUE(probed.empty());
    } else {
        EXPECT_EQ(probed, std::vector<std::string>{c.Probed});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Environments, ChoiceTable,
    testing::Values(
        // A Wayland session whose compositor answers.
        ChoiceCase{nullptr, "wayland-0", "/run/user/1000", true, "/run/user/1000/wayland-0",
                   "wayland;xcb"},
        // WAYLAND_DISPLAY left behind by a compositor that has gone.
        ChoiceCase{nullptr, "wayland-0", "/run/user/1000", false, "/run/user/1000/wayland-0",
                   "xcb"},
        // An absolute socket path needs no runtime folder.
        ChoiceCase{nullptr, "/tmp/w/socket", nullptr, true, "/tmp/w/socket", "wayland;xcb"},
        // No WAYLAND_DISPLAY, or an empty one: X11, without asking anything.
        ChoiceCase{nullptr, nullptr, "/run/user/1000", true, nullptr, "xcb"},
        ChoiceCase{nullptr, "", "/run/user/1000", true, nullptr, "xcb"},
        // A relative name without a runtime folder names no socket.
        ChoiceCase{nullptr, "wayland-0", nullptr, true, nullptr, "xcb"},
        ChoiceCase{nullptr, "wayland-0", "", true, nullptr, "xcb"},
        // The user's own choice wins, whatever is running.
        ChoiceCase{"xcb", "wayland-0", "/run/user/1000", true, nullptr, "xcb"},
        ChoiceCase{"wayland", nullptr, nullptr, false, nullptr, "wayland"},
        ChoiceCase{"offscreen", "wayland-0", "/run/user/1000", true, nullptr, "offscreen"},
        // An empty QT_QPA_PLATFORM is no choice.
        ChoiceCase{"", "wayland-1", "/run/user/1000", true, "/run/user/1000/wayland-1",
                   "wayland;xcb"}));

TEST(WaylandSocketPath, JoinsTheRuntimeFolderAndTheName) {
    EXPECT_EQ(WaylandSocketPath({nullptr, "wayland-1", "/run/user/7"}), "/run/user/7/wayland-1");
    EXPECT_EQ(WaylandSocketPath({nullptr, "/abs/path", "/run/user/7"}), "/abs/path");
    EXPECT_EQ(WaylandSocketPath({nullptr, nullptr, "/run/user/7"}), "");
}

// A real socket: accepted while something listens on it, refused once the
// listener has gone, and nothing where no socket is.
TEST(SocketAccepts, OnlyWhileACompositorListens) {
    char folder[] = "/tmp/pruvex-socket-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/wayland-test";
    EXPECT_FALSE(SocketAccepts(path));

    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    EXPECT_TRUE(SocketAccepts(path));

    close(listener);
    EXPECT_FALSE(SocketAccepts(path)); // the file is still there, nobody answers
    unlink(path.c_str());
    rmdir(folder);

    EXPECT_FALSE(SocketAccepts(""));
    EXPECT_FALSE(SocketAccepts("/" + std::string(200, 'x'))); // longer than a socket path
}

} // namespace

namespace {

struct ScaleCase {
    double Ratio;
    int Whole; // 0: fractional
};

class ScaleTable : public testing::TestWithParam<ScaleCase> {};

// Whole scales are painted in device pixels; fractional ones say once that
// they cannot be exact.
TEST_P(ScaleTable, WholeOrFractional) {
    const ScaleCase& c = GetParam();
    EXPECT_EQ(pruvex::WholeScale(c.Ratio), c.Whole) << c.Ratio;
    const std::string warning = pruvex::FractionalScaleWarning(c.Ratio);
    if (c.Whole != 0) {
        EXPECT_EQ(warning, "");
    } else {
        EXPECT_NE(warning.find("scaled by "), std::string::npos) << warning;
        EXPECT_NE(warning.find("scale of 1 or 2"), std::string::npos) << warning;
    }
}

INSTANTIATE_TEST_SUITE_P(Ratios, ScaleTable,
                         testing::Values(ScaleCase{1.0, 1}, ScaleCase{2.0, 2}, ScaleCase{3.0, 3},
                                         ScaleCase{1.25, 0}, ScaleCase{1.5, 0}, ScaleCase{1.75, 0},
                                         ScaleCase{2.5, 0}, ScaleCase{0.5, 0}, ScaleCase{0.0, 0}));

TEST(FractionalScaleWarning, NamesTheRatio) {
    EXPECT_EQ(
        pruvex::FractionalScaleWarning(1.25).rfind("pruvex: this display is scaled by 1.25,", 0),
        0U);
}

} // namespace
