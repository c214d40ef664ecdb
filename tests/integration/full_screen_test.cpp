// Full screen on a display that cannot take the asked mode: a virtual X server whose only mode is
// 1280 x 1024, asked for 800 x 600. Skipped where Xvfb or the X11 library are missing.

#include <gtest/gtest.h>

#include <stb_image.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/fixtures.h"

#ifdef ZENTRIX_HAVE_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    // The mean of channel c over [x0, x1) x [y0, y1).
    double mean(int x0, int y0, int x1, int y1, int c) const
    {
        double sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) sum += rgb[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c)];
        return sum / double((x1 - x0) * (y1 - y0));
    }
};

Picture loadPng(const std::string& path)
{
    Picture p;
    int n = 0;
    if (uint8_t* data = stbi_load(path.c_str(), &p.w, &p.h, &n, 3)) {
        p.rgb.assign(data, data + size_t(p.w) * size_t(p.h) * 3);
        stbi_image_free(data);
    }
    return p;
}

Picture grabScreen(Display* x)
{
    Picture p;
    XWindowAttributes a{};
    XGetWindowAttributes(x, DefaultRootWindow(x), &a);
    XImage* image = XGetImage(x, DefaultRootWindow(x), 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
    if (!image) return p;
    p.w = a.width;
    p.h = a.height;
    p.rgb.reserve(size_t(p.w) * size_t(p.h) * 3);
    for (int y = 0; y < p.h; ++y)
        for (int i = 0; i < p.w; ++i) {
            const unsigned long v = XGetPixel(image, i, y);  // a 24-bit screen: 0xRRGGBB
            p.rgb.insert(p.rgb.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        }
    XDestroyImage(image);
    return p;
}

}  // namespace
#endif

TEST(FullScreen, ADisplayThatKeepsItsModeShowsTheWholeFrameScaledWithBars)
{
#ifndef ZENTRIX_HAVE_X11
    GTEST_SKIP() << "built without the X11 library";
#else
    if (!onPath("Xvfb")) GTEST_SKIP() << "Xvfb not installed";
    TempDir dir;
    const ProcessResult made = runCommand(std::string(ZENTRIX_LANDSCAPE_TOOL) + " --seed 1 --out " + dir.path());
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    writeFile(dir.file("Resolutions.txt"), "Display mode 1 2 3 4 2\nFullScreen 1\n");
    // Pacing 0 and a clock that stays at 0: every frame is the first, so pictures compare.
    writeFile(dir.file("RenderingAndMore.txt"), "Vertex processing 0 to 3: 3\nPacing 0\nFps 50\nUnused 0\n");
    dir.writeText("keys.txt", "100 ESCAPE\n");

    VirtualDisplay server("1280x1024x24");
    ASSERT_FALSE(server.name().empty()) << "Xvfb did not start";
    Display* x = XOpenDisplay(server.name().c_str());
    ASSERT_NE(x, nullptr);

    // The screen is taken while the program shows its frames, once sky reaches under the top bar.
    Child program{spawnProcess({ZENTRIX_BINARY, "--data", dir.path(), "--fixed-step", "0", "--seed", "5", "--keys",
                                dir.file("keys.txt"), "--screenshot", dir.file("shot.png")},
                               {server.env(), "ALSOFT_DRIVERS=null"})};
    Picture screen;
    for (int i = 0; i < 1000 && screen.w == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Picture now = grabScreen(x);
        if (now.w > 0 && now.mean(now.w / 2, 40, now.w / 2 + 1, 41, 2) > 200) screen = now;
    }
    XCloseDisplay(x);
    int status = 0;
    ASSERT_TRUE(waitForExit(program.pid, std::chrono::seconds(60), &status)) << "the program did not end at its Escape";
    program.pid = -1;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the program did not end well at its Escape";
    ASSERT_EQ(screen.w, 1280) << "the frame never reached the screen";
    ASSERT_EQ(screen.h, 1024);

    // The screenshot keeps the asked size and is the picture a headless run of the scene draws.
    const ProcessResult reference = runCommand(std::string(ZENTRIX_BINARY) + " --headless --data " + dir.path() +
                                               " --fixed-step 0 --seed 5 --frames 1 --screenshot " + dir.file("ref.png"));
    ASSERT_EQ(reference.exitStatus, 0) << reference.output;
    const Picture shot = loadPng(dir.file("shot.png")), ref = loadPng(dir.file("ref.png"));
    ASSERT_EQ(shot.w, 800);
    ASSERT_EQ(shot.h, 600);
    ASSERT_EQ(ref.rgb.size(), shot.rgb.size());
    int differing = 0;
    for (size_t i = 0; i < shot.rgb.size(); ++i) differing += std::abs(shot.rgb[i] - ref.rgb[i]) > 8;
    EXPECT_LT(differing, 800 * 600 * 3 / 100) << "the full-screen frame is not the scene drawn headless";

    // On the screen: the frame 1.6 times, 1280 x 960, between black bars of 32 rows; each 80 x 80
    // block as its 50 x 50 block of the frame, the head-up display's corner included.
    int blocksOff = 0;
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(screen.mean(0, 0, 1280, 32, k), 0.0);
        EXPECT_EQ(screen.mean(0, 992, 1280, 1024, k), 0.0);
        for (int by = 0; by < 12; ++by)
            for (int bx = 0; bx < 16; ++bx)
                blocksOff += std::abs(screen.mean(bx * 80, 32 + by * 80, bx * 80 + 80, 112 + by * 80, k) -
                                      shot.mean(bx * 50, by * 50, bx * 50 + 50, by * 50 + 50, k)) > 6.0;
    }
    EXPECT_LE(blocksOff, 3);
#endif
}
