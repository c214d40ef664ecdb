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

#include "support/fixtures.h"

#ifdef ZENTRIX_HAVE_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

namespace {

struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int x, int y) const { return &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3]; }
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

// The mean of channel c over the rectangle [x0, x1) x [y0, y1).
double mean(const Picture& p, int x0, int y0, int x1, int y1, int c)
{
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += p.at(x, y)[c];
    return sum / double((x1 - x0) * (y1 - y0));
}

#ifdef ZENTRIX_HAVE_X11
// Ends a child process on every way out of the test. The X server is asked with SIGTERM, so
// that it removes its socket and lock file; whatever does not go within two seconds is killed.
struct Child {
    pid_t pid = -1;
    ~Child()
    {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

pid_t spawn(const std::vector<std::string>& args, const std::string& display)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (display.empty()) dup2(open("/dev/null", O_WRONLY), 2);  // the server's notes on the ports it tried
        else setenv("DISPLAY", display.c_str(), 1);
        setenv("ALSOFT_DRIVERS", "null", 1);  // no sound device is the subject here
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

Picture grabScreen(Display* x)
{
    Picture p;
    const Window root = DefaultRootWindow(x);
    XWindowAttributes a{};
    XGetWindowAttributes(x, root, &a);
    XImage* image = XGetImage(x, root, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
    if (!image) return p;
    p.w = a.width;
    p.h = a.height;
    p.rgb.resize(size_t(p.w) * size_t(p.h) * 3);
    for (int y = 0; y < p.h; ++y)
        for (int xx = 0; xx < p.w; ++xx) {
            const unsigned long v = XGetPixel(image, xx, y);
            uint8_t* out = &p.rgb[(size_t(y) * size_t(p.w) + size_t(xx)) * 3];
            out[0] = uint8_t((v & image->red_mask) >> 16);
            out[1] = uint8_t((v & image->green_mask) >> 8);
            out[2] = uint8_t(v & image->blue_mask);
        }
    XDestroyImage(image);
    return p;
}
#endif

}  // namespace

TEST(FullScreen, ADisplayThatKeepsItsModeShowsTheWholeFrameScaledWithBars)
{
#ifndef ZENTRIX_HAVE_X11
    GTEST_SKIP() << "built without the X11 library";
#else
    if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb not installed";
    TempDir dir;
    const ProcessResult made = runCommand(std::string(ZENTRIX_LANDSCAPE_TOOL) + " --seed 1 --out " + dir.path());
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    writeFile(dir.file("Resolutions.txt"), "Display mode 1 2 3 4 2\nFullScreen 1\n");
    // Pacing 0 and a clock that stays at 0: every frame is the first, so pictures compare.
    writeFile(dir.file("RenderingAndMore.txt"), "Vertex processing 0 to 3: 3\nPacing 0\nFps 50\nUnused 0\n");

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Child server{spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, "")};
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    const std::string display = ":" + number;
    Display* x = XOpenDisplay(display.c_str());
    ASSERT_NE(x, nullptr);

    // The program runs until its key script presses Escape; the screen is taken while it shows
    // its frames, once the sky has reached the middle of the screen.
    dir.writeText("keys.txt", "100 ESCAPE\n");
    Child program{spawn({ZENTRIX_BINARY, "--data", dir.path(), "--fixed-step", "0", "--seed", "5", "--keys", dir.file("keys.txt"),
                         "--screenshot", dir.file("shot.png")},
                        display)};
    Picture screen;
    for (int i = 0; i < 1000 && screen.w == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Picture now = grabScreen(x);
        if (now.w > 0 && now.at(now.w / 2, 40)[2] > 200) screen = now;  // sky blue under the top bar
    }
    XCloseDisplay(x);
    int status = 0;
    for (int i = 0; i < 3000 && program.pid > 0; ++i) {
        if (waitpid(program.pid, &status, WNOHANG) == program.pid) program.pid = -1;
        else std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(program.pid, -1) << "the program did not end at its Escape";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(screen.w, 1280) << "the frame never reached the screen";
    ASSERT_EQ(screen.h, 1024);

    // The screenshot keeps the asked size and is the picture a headless run of the same scene draws.
    const ProcessResult reference = runCommand(std::string(ZENTRIX_BINARY) + " --headless --data " + dir.path() +
                                               " --fixed-step 0 --seed 5 --frames 1 --screenshot " + dir.file("ref.png"));
    ASSERT_EQ(reference.exitStatus, 0) << reference.output;
    const Picture shot = loadPng(dir.file("shot.png")), ref = loadPng(dir.file("ref.png"));
    ASSERT_EQ(shot.w, 800);
    ASSERT_EQ(shot.h, 600);
    ASSERT_EQ(ref.w, 800);
    int differing = 0;
    for (int y = 0; y < 600; ++y)
        for (int xx = 0; xx < 800; ++xx)
            for (int k = 0; k < 3; ++k) differing += std::abs(shot.at(xx, y)[k] - ref.at(xx, y)[k]) > 8;
    EXPECT_LT(differing, 800 * 600 * 3 / 100) << "the full-screen frame is not the scene drawn headless";

    // On the screen: 1.6 times the frame, 1280 x 960, between black bars of 32 rows.
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(mean(screen, 0, 0, 1280, 32, k), 0.0);
        EXPECT_EQ(mean(screen, 0, 992, 1280, 1024, k), 0.0);
    }
    // Each 80 x 80 block of the screen looks as its 50 x 50 block of the frame, the head-up
    // display's corner included.
    int blocksOff = 0;
    for (int by = 0; by < 12; ++by)
        for (int bx = 0; bx < 16; ++bx)
            for (int k = 0; k < 3; ++k) {
                const double onScreen = mean(screen, bx * 80, 32 + by * 80, bx * 80 + 80, 32 + by * 80 + 80, k);
                const double inFrame = mean(shot, bx * 50, by * 50, bx * 50 + 50, by * 50 + 50, k);
                blocksOff += std::abs(onScreen - inFrame) > 6.0;
            }
    EXPECT_LE(blocksOff, 3);
#endif
}
