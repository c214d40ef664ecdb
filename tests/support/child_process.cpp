#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

pid_t spawnProcess(const std::vector<std::string>& args, const std::vector<std::string>& env, int stdoutFd, int stderrFd)
{
    const pid_t pid = fork();
    if (pid != 0) return pid;
    for (const std::string& e : env) {
        const size_t eq = e.find('=');
        if (eq == std::string::npos)
            unsetenv(e.c_str());
        else
            setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
    if (stdoutFd >= 0) dup2(stdoutFd, 1);
    if (stderrFd >= 0) dup2(stderrFd, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

bool waitForExit(pid_t pid, std::chrono::milliseconds limit, int* status)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    int s = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(pid, &s, WNOHANG) == pid) {
            if (status) *status = s;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

Child::~Child()
{
    if (pid <= 0) return;
    // Asked first, so that an X server removes its socket and lock file; killed if it stays.
    kill(pid, SIGTERM);
    if (waitForExit(pid, std::chrono::seconds(2))) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool onPath(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

VirtualDisplay::VirtualDisplay(const std::string& screen)
{
    if (!onPath("Xvfb")) return;
    // The server picks a free display and writes its number to the pipe.
    int fds[2];
    if (pipe(fds) != 0) return;
    // Its notes on taken display numbers and its keymap compiler's complaints are not the test's.
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    server_.pid = spawnProcess({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp"},
                               {}, -1, quiet);
    if (quiet >= 0) close(quiet);
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
}
