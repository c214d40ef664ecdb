#pragma once

// Programs a test starts and keeps hold of, where runCommand's run-to-the-end is not enough: a
// virtual X server, the program in a window that the test talks to while it runs.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// Starts args[0] (searched on PATH) with the environment changed by env: "NAME=VALUE" sets,
// "NAME" alone unsets. stdoutFd and stderrFd, where not -1, become the child's.
pid_t spawnProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {}, int stdoutFd = -1,
                   int stderrFd = -1);

// Waits up to limit for pid to end; true when it did (its wait status in *status).
bool waitForExit(pid_t pid, std::chrono::milliseconds limit, int* status = nullptr);

// Ends a child process on every way out of the test: SIGTERM, then SIGKILL after two seconds.
struct Child {
    pid_t pid = -1;
    Child() = default;
    explicit Child(pid_t p) : pid(p) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();
};

bool onPath(const char* tool);

// Xvfb on a display number it picks itself; name() is empty when it could not start.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const std::string& screen = "1024x768x24");
    const std::string& name() const { return name_; }
    std::string env() const { return "DISPLAY=" + name_; }

private:
    Child server_;
    std::string name_;
};
