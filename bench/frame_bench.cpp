// Frame benchmark: runs the program on a data set, off screen and (where Xvfb is installed) in a
// window, with pacing mode 2 so frames run back to back, and prints per scene and mode:
//   - start-up to the first frame: wall time of a run of one frame, exit included;
//   - milliseconds per frame: the difference of a long and a short run divided by the frames
//     between them, so start-up and shut-down cancel out;
//   - processor time per frame of the whole process (every thread, the rasteriser's included),
//     from the same difference;
//   - the largest resident set of the long run.
// Window runs set Mesa's vblank_mode=0, so presenting never waits for a display refresh.
// Each figure over several repetitions: minimum, median, maximum. On the landscape it also
// measures what --record and --video add to a frame.
//
// Usage: frame_bench ZENTRIX DATA_DIR [--reps N] [--short N] [--long N] [--no-window]

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct RunResult {
    bool ok = false;
    double wallMs = 0, cpuMs = 0;
    long maxRssKb = 0;
};

RunResult runOnce(const std::string& program, const std::vector<std::string>& args, const char* display)
{
    RunResult r;
    std::fflush(stdout);  // or the child's stream copies it again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        if (display) {
            setenv("DISPLAY", display, 1);
            // Mesa's own switch: presenting does not wait for a refresh, so frames measure drawing.
            setenv("vblank_mode", "0", 1);
        } else {
            unsetenv("DISPLAY");
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return r;
    const auto end = std::chrono::steady_clock::now();
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.wallMs = std::chrono::duration<double, std::milli>(end - start).count();
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    r.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    r.maxRssKb = usage.ru_maxrss;
    return r;
}

struct Stats {
    double min = 0, median = 0, max = 0;
};

Stats stats(std::vector<double> v)
{
    Stats s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
    return s;
}

void printRow(const char* what, const Stats& s, const char* unit, int decimals)
{
    std::printf("  %-34s %9.*f %9.*f %9.*f  %s\n", what, decimals, s.min, decimals, s.median, decimals, s.max, unit);
}

// A copy of the data set with pacing mode 2 (frames back to back); without terrain, the terrain
// file lists no tiles.
bool prepareData(const fs::path& from, const fs::path& to, bool terrain, std::string& error)
{
    std::error_code ec;
    fs::remove_all(to, ec);
    fs::create_directories(to.parent_path(), ec);
    fs::copy(from, to, fs::copy_options::recursive, ec);
    if (ec) {
        error = "cannot copy " + from.string() + " to " + to.string() + ": " + ec.message();
        return false;
    }
    const fs::path rendering = to / "RenderingAndMore.txt";
    std::ifstream in(rendering);
    if (!in) {
        error = "no RenderingAndMore.txt in " + from.string();
        return false;
    }
    // Five label words and the vertex-processing mode, then a label and the pacing mode; the
    // reader takes tokens, so they are written back one per line.
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) tokens.push_back(t);
    in.close();
    if (tokens.size() < 8) {
        error = rendering.string() + " has fewer than two settings";
        return false;
    }
    tokens[7] = "2";
    std::ofstream out(rendering, std::ios::trunc);
    for (const std::string& t : tokens) out << t << '\n';
    if (!terrain) std::ofstream(to / "Terrain.txt", std::ios::trunc) << "LandTiles 0\nWaterTiles 0\n";
    return true;
}

std::string findInPath(const char* name)
{
    const char* path = std::getenv("PATH");
    if (!path) return {};
    std::stringstream dirs(path);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir) / name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return {};
}

// An X server of our own for the windowed runs; stopped by the destructor.
class Xvfb {
public:
    bool start(std::string& display)
    {
        const std::string server = findInPath("Xvfb");
        if (server.empty()) return false;
        for (int number = 87; number < 100; ++number) {
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
            if (access(socket.c_str(), F_OK) == 0) continue;
            const std::string name = ":" + std::to_string(number);
            std::fflush(stdout);
            pid_ = fork();
            if (pid_ == 0) {
                if (!freopen("/dev/null", "w", stderr)) _exit(127);
                execl(server.c_str(), server.c_str(), name.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                      static_cast<char*>(nullptr));
                _exit(127);
            }
            for (int i = 0; i < 100 && access(socket.c_str(), F_OK) != 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (access(socket.c_str(), F_OK) == 0) {
                display = name;
                return true;
            }
            stop();
        }
        return false;
    }
    void stop()
    {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    ~Xvfb() { stop(); }

private:
    pid_t pid_ = -1;
};

bool benchmark(const std::string& program, const fs::path& data, const char* display, int reps, int shortFrames,
               int longFrames)
{
    std::vector<std::string> base = {"--data", data.string(), "--seed", "1"};
    if (!display) base.insert(base.begin(), "--headless");
    auto withFrames = [&](int n) {
        std::vector<std::string> a = base;
        a.push_back("--frames");
        a.push_back(std::to_string(n));
        return a;
    };
    // One run first, so the driver's shader cache is warm for every measured run alike.
    if (!runOnce(program, withFrames(2), display).ok) {
        std::printf("  the program did not run cleanly (try: %s %s --frames 2)\n", program.c_str(),
                    display ? ("--data " + data.string()).c_str() : ("--headless --data " + data.string()).c_str());
        return false;
    }
    std::vector<double> first, perFrame, cpuPerFrame, rss;
    const double between = double(longFrames - shortFrames);
    for (int i = 0; i < reps; ++i) {
        const RunResult one = runOnce(program, withFrames(1), display);
        const RunResult shortRun = runOnce(program, withFrames(shortFrames), display);
        const RunResult longRun = runOnce(program, withFrames(longFrames), display);
        if (!one.ok || !shortRun.ok || !longRun.ok) {
            std::printf("  a run failed\n");
            return false;
        }
        first.push_back(one.wallMs);
        perFrame.push_back((longRun.wallMs - shortRun.wallMs) / between);
        cpuPerFrame.push_back((longRun.cpuMs - shortRun.cpuMs) / between);
        rss.push_back(double(longRun.maxRssKb) / 1024.0);
    }
    std::printf("  %-34s %9s %9s %9s\n", "", "min", "median", "max");
    printRow("start-up to first frame (+exit)", stats(first), "ms", 1);
    printRow("frame time", stats(perFrame), "ms", 3);
    printRow("CPU per frame, all threads", stats(cpuPerFrame), "ms", 3);
    printRow("max RSS", stats(rss), "MiB", 1);
    return true;
}

// --record and --video, off screen on the landscape. The four kinds of run take turns within each
// repetition, so the machine's drift over minutes touches them alike: the frame time without and
// with --record (the recording's cost), and a recorded session of the long run replayed without
// and with --video (the video's cost: reading each frame back, converting and encoding it).
bool recordingAndVideo(const std::string& program, const fs::path& data, const fs::path& scratch, int reps, int shortFrames,
                       int longFrames)
{
    const std::string session = (scratch / "session.txt").string();
    const std::vector<std::string> base = {"--headless", "--data", data.string()};
    auto with = [&base](std::vector<std::string> more) {
        std::vector<std::string> a = base;
        a.insert(a.end(), more.begin(), more.end());
        return a;
    };
    struct Variant {
        const char* name;
        std::vector<std::string> args;
    };
    const Variant variants[] = {
        {"frame time, plain", with({"--seed", "1"})},
        {"frame time, --record", with({"--seed", "1", "--record", (scratch / "again.txt").string()})},
        {"frame time, --replay", with({"--replay", session})},
        {"frame time, --replay --video .mp4", with({"--replay", session, "--video", (scratch / "bench.mp4").string()})},
    };
    if (!runOnce(program, with({"--seed", "1", "--frames", std::to_string(longFrames), "--record", session}), nullptr).ok) {
        std::printf("  the recording run failed\n");
        return false;
    }
    const double between = double(longFrames - shortFrames);
    std::vector<double> perFrame[4], cpuPerFrame[4];
    for (int i = 0; i < reps; ++i) {
        for (int v = 0; v < 4; ++v) {
            auto args = [&](int n) {
                std::vector<std::string> a = variants[v].args;
                a.push_back("--frames");
                a.push_back(std::to_string(n));
                return a;
            };
            const RunResult shortRun = runOnce(program, args(shortFrames), nullptr);
            const RunResult longRun = runOnce(program, args(longFrames), nullptr);
            if (!shortRun.ok || !longRun.ok) {
                std::printf("  a run of '%s' failed\n", variants[v].name);
                return false;
            }
            perFrame[v].push_back((longRun.wallMs - shortRun.wallMs) / between);
            cpuPerFrame[v].push_back((longRun.cpuMs - shortRun.cpuMs) / between);
        }
    }
    std::printf("  %-34s %9s %9s %9s\n", "", "min", "median", "max");
    for (int v = 0; v < 4; ++v) printRow(variants[v].name, stats(perFrame[v]), "ms", 3);
    for (int v = 0; v < 4; ++v) {
        const std::string what = std::string("CPU") + (variants[v].name + 10);
        printRow(what.c_str(), stats(cpuPerFrame[v]), "ms", 3);
    }
    const double replay = stats(perFrame[2]).median, video = stats(perFrame[3]).median;
    std::printf("  --replay --video: %.1f frames/s in all; the video adds %.3f ms a frame (%.0f frames/s for it alone)\n",
                1000.0 / video, video - replay, video > replay ? 1000.0 / (video - replay) : 0.0);
    return true;
}

double loadAverage()
{
    double load = -1;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ZENTRIX DATA_DIR [--reps N] [--short N] [--long N] [--no-window]\n", argv[0]);
        return 2;
    }
    const std::string program = fs::absolute(argv[1]).string();
    const fs::path data = fs::absolute(argv[2]);
    int reps = 5, shortFrames = 20, longFrames = 220;
    bool window = true;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](int& into) {
            if (i + 1 >= argc || (into = std::atoi(argv[++i])) <= 0) {
                std::fprintf(stderr, "%s needs a positive number\n", a.c_str());
                std::exit(2);
            }
        };
        if (a == "--reps")
            number(reps);
        else if (a == "--short")
            number(shortFrames);
        else if (a == "--long")
            number(longFrames);
        else if (a == "--no-window")
            window = false;
        else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (longFrames <= shortFrames) {
        std::fprintf(stderr, "--long must exceed --short\n");
        return 2;
    }

    char scratchName[] = "/tmp/zentrix-bench-XXXXXX";
    if (!mkdtemp(scratchName)) {
        std::fprintf(stderr, "cannot make a scratch folder: %s\n", std::strerror(errno));
        return 1;
    }
    const fs::path scratch = scratchName;
    struct Scene {
        const char* name;
        bool terrain;
    };
    const Scene scenes[] = {{"bundled landscape", true}, {"no terrain", false}};

    Xvfb xvfb;
    std::string display;
    const bool windowed = window && xvfb.start(display);
    std::printf("frame benchmark: %s, pacing 2, %d repetitions, frames %d and %d, load average %.2f at the start\n",
                program.c_str(), reps, shortFrames, longFrames, loadAverage());
    bool ok = true;
    for (const Scene& scene : scenes) {
        std::string error;
        const fs::path copy = scratch / (scene.terrain ? "landscape" : "no-terrain");
        if (!prepareData(data, copy, scene.terrain, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            ok = false;
            continue;
        }
        std::printf("\n%s, off screen (--headless):\n", scene.name);
        ok = benchmark(program, copy, nullptr, reps, shortFrames, longFrames) && ok;
        if (windowed) {
            std::printf("\n%s, in a window under Xvfb %s:\n", scene.name, display.c_str());
            ok = benchmark(program, copy, display.c_str(), reps, shortFrames, longFrames) && ok;
        }
        if (scene.terrain) {
            std::printf("\n%s, off screen, recording and video (the four runs take turns):\n", scene.name);
            ok = recordingAndVideo(program, copy, scratch, reps, shortFrames, longFrames) && ok;
        }
    }
    if (!windowed) std::printf("\n(no window runs: %s)\n", window ? "Xvfb is not installed" : "--no-window");
    std::printf("load average %.2f at the end\n", loadAverage());
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return ok ? 0 : 1;
}
