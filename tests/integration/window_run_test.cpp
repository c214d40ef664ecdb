// The program in a real window on a virtual X server: starting beside a stale sound-server
// database, the sound device path into OpenAL Soft's wave back-end, short key taps, and a replay
// watched at its own pace. Skipped where Xvfb or xdotool are missing.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/audio/wav_file.h"
#include "support/child_process.h"
#include "support/fixtures.h"

namespace fs = std::filesystem;

namespace {

using Seconds = std::chrono::duration<double>;

// Every sound back-end but the ones a test names is out of reach, so no test plays through the
// machine's speakers: no sound server, an empty ALSA configuration, no OpenAL configuration.
std::vector<std::string> noSoundOutputs(const TempDir& dir)
{
    writeFile(dir.file("empty-alsa.conf"), "");
    return {"HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.path(), "XDG_CONFIG_DIRS=" + dir.path(),
            "PULSE_SERVER=unix:" + dir.file("no-server"), "ALSA_CONFIG_PATH=" + dir.file("empty-alsa.conf"),
            "ALSOFT_DRIVERS", "ALSOFT_CONF"};
}

struct Ended {
    bool ended = false;
    int status = -1;
    double seconds = 0.0;
    std::string stderrText;
};

// Runs the program to its end (at most limit), its standard error kept.
Ended runWindowed(const std::vector<std::string>& args, const std::vector<std::string>& env, const TempDir& dir,
                  std::chrono::seconds limit = std::chrono::seconds(60))
{
    const std::string errPath = dir.file("stderr.txt");
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<std::string> argv{ZENTRIX_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto start = std::chrono::steady_clock::now();
    Child program{spawnProcess(argv, env, -1, err)};
    ::close(err);
    Ended result;
    int status = 0;
    result.ended = waitForExit(program.pid, limit, &status);
    result.seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    if (result.ended) {
        program.pid = -1;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    result.stderrText = readFile(errPath);
    return result;
}

std::string landscape(const TempDir& dir)
{
    const std::string data = dir.file("data");
    EXPECT_EQ(runCommand(std::string(ZENTRIX_LANDSCAPE_TOOL) + " --out " + data).exitStatus, 0);
    return data;
}

int64_t cell(const std::string& row, int index)
{
    std::istringstream cells(row);
    std::string c;
    for (int i = 0; i <= index; ++i) std::getline(cells, c, ',');
    return std::stoll(c);
}

// The trace's first and last rows.
std::pair<std::string, std::string> endRows(const std::string& trace)
{
    std::istringstream in(trace);
    std::string line, first, last;
    std::getline(in, line);
    while (std::getline(in, line)) {
        if (first.empty()) first = line;
        last = line;
    }
    return {first, last};
}

#define NEED_X(display)                                                                       \
    if (!onPath("xdotool")) GTEST_SKIP() << "xdotool not installed";                          \
    if ((display).name().empty()) GTEST_SKIP() << "Xvfb not installed or did not start"

}  // namespace

// JACK's client library, finding a stale database in /dev/shm, retried for 18 s while the window
// stayed black; the program now leaves JACK out unless it is asked for, and keeps the library's
// complaints off stderr.
TEST(WindowRun, StartsAtOnceBesideAStaleSoundServerDatabase)
{
    VirtualDisplay display;
    NEED_X(display);
    TempDir dir;
    writeFixtureData(dir.path());
    const std::string stale = "/dev/shm/jack_db-" + std::to_string(getuid());
    const bool made = !fs::exists(stale);
    if (made) {
        fs::create_directory(stale);
        writeFile(stale + "/__db.001", "");
    }
    std::vector<std::string> env = noSoundOutputs(dir);
    // A runtime folder where nothing can be made: PulseAudio's client complains of it.
    env.insert(env.end(), {display.env(), "XDG_RUNTIME_DIR=/proc"});
    const Ended run = runWindowed({"--data", dir.path(), "--frames", "3"}, env, dir);
    if (made) fs::remove_all(stale);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.status, 0) << run.stderrText;
    EXPECT_LT(run.seconds, 6.0) << "the start waited for a sound back-end";
    std::istringstream lines(run.stderrText);
    for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.rfind("zentrix: ", 0), 0u) << line;
}

// The sound device path, in CI at last: OpenAL Soft's wave back-end, chosen through a
// configuration of the test's own, records what the device plays.
TEST(WindowRun, SoundDevicePathPlaysTheMusic)
{
    VirtualDisplay display;
    NEED_X(display);
    TempDir dir;
    const std::string data = landscape(dir);
    writeFile(dir.file("alsoft.conf"), "[general]\ndrivers = wave\nsample-type = int16\nchannels = stereo\n"
                                       "frequency = 44100\n[wave]\nfile = " + dir.file("device.wav") + "\n");
    std::vector<std::string> env = noSoundOutputs(dir);
    env.insert(env.end(), {display.env(), "ALSOFT_CONF=" + dir.file("alsoft.conf")});
    const Ended run = runWindowed({"--data", data, "--frames", "100"}, env, dir);
    ASSERT_TRUE(run.ended);
    ASSERT_EQ(run.status, 0) << run.stderrText;
    EXPECT_EQ(run.stderrText, "");

    PcmSound sound;
    std::string why;
    ASSERT_TRUE(loadWavFile(dir.file("device.wav"), sound, why)) << why;
    ASSERT_EQ(sound.rate, 44100);
    ASSERT_EQ(sound.channels, 2);
    // 100 frames at 50 a second: the device played for about as long as the run was up.
    const double seconds = double(sound.frames()) / sound.rate;
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, run.seconds + 0.5);
    double sum = 0.0;
    for (int16_t s : sound.samples) sum += double(s) * s;
    const double rms = std::sqrt(sum / double(sound.samples.size())) / 32768.0;
    EXPECT_GT(rms, 0.02) << "the music is missing or faint";
}

// xdotool presses and lets go within 3 ms, shorter than a frame: F12 still saves the frame and
// Escape still ends the run.
TEST(WindowRun, ShortTapsOfEscapeAndF12AreSeen)
{
    VirtualDisplay display;
    NEED_X(display);
    TempDir dir;
    writeFixtureData(dir.path());
    std::vector<std::string> env = noSoundOutputs(dir);
    env.insert(env.end(), {display.env(), "ALSOFT_DRIVERS=null"});
    Child program{spawnProcess({ZENTRIX_BINARY, "--data", dir.path()}, env)};
    auto tap = [&](const char* key) {
        Child xdotool{spawnProcess({"xdotool", "search", "--sync", "--name", "My Zentrix", "windowfocus", "--sync",
                                    "sleep", "0.5", "keydown", key, "sleep", "0.003", "keyup", key},
                                   {display.env()})};
        // Its own status says nothing: the window an Escape closed may be gone before the key
        // is let go, and xdotool then fails on it. What the press did is checked below.
        EXPECT_TRUE(waitForExit(xdotool.pid, std::chrono::seconds(30)));
        xdotool.pid = -1;
    };
    tap("F12");
    for (int i = 0; i < 200 && !fs::exists(dir.file("screenshots/zentrix-0001.png")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_TRUE(fs::exists(dir.file("screenshots/zentrix-0001.png")));
    tap("Escape");
    int status = 0;
    ASSERT_TRUE(waitForExit(program.pid, std::chrono::seconds(5), &status)) << "a short Escape did not end the run";
    program.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Recorded in a window on the real clock with music and an explosion (after about 6.3 s), and replayed in a window:
// the replay takes as long as the recording did, and its sound is the recording's, byte for byte.
TEST(WindowRun, ReplayInAWindowKeepsThePaceAndTheSound)
{
    VirtualDisplay display;
    NEED_X(display);
    TempDir dir;
    const std::string data = landscape(dir);
    const std::vector<std::string> env = {display.env()};
    const Ended recorded = runWindowed({"--data", data, "--frames", "320", "--record", dir.file("s.txt"), "--trace",
                                        dir.file("t1.csv"), "--audio-out", dir.file("a1.wav")},
                                       env, dir);
    ASSERT_TRUE(recorded.ended);
    ASSERT_EQ(recorded.status, 0) << recorded.stderrText;
    const Ended replayed = runWindowed({"--data", data, "--replay", dir.file("s.txt"), "--trace", dir.file("t2.csv"),
                                        "--audio-out", dir.file("a2.wav")},
                                       env, dir);
    ASSERT_TRUE(replayed.ended);
    ASSERT_EQ(replayed.status, 0) << replayed.stderrText;
    const std::string trace = readFile(dir.file("t1.csv"));
    EXPECT_EQ(readFile(dir.file("t2.csv")), trace);
    const auto [first, last] = endRows(trace);
    EXPECT_GT(cell(last, 30), 0) << "no explosion: the next explosion channel is still 0";
    EXPECT_EQ(readFile(dir.file("a2.wav")), readFile(dir.file("a1.wav")));
    // From the first frame's start to the last frame's end.
    const double flownSeconds = double(cell(last, 1) + cell(last, 3) - cell(first, 1)) / 1000.0;
    EXPECT_GT(replayed.seconds, flownSeconds * 0.97) << "the replay ran ahead of the recording";
    EXPECT_LT(replayed.seconds, flownSeconds * 1.5 + 3.0) << "the replay waited far longer than it was flown";
}
