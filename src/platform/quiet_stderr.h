#pragma once

// Keeps the platform libraries' own messages off the program's standard error while they start
// up: JACK's database complaints, Wayland's "XDG_RUNTIME_DIR is invalid", PulseAudio's secure
// directory. The program says in its own one line what went wrong. ZENTRIX_LIBRARY_MESSAGES=1
// lets them through, for looking into a driver or sound-server problem.
class QuietStderr {
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};
