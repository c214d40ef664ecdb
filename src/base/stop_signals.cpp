#include "base/stop_signals.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace {

// Everything here is read by the handlers, which may run on any thread: lock-free atomics and
// fixed buffers only.
std::atomic<int> requested{0};
bool stderrIsTerminal = false;

constexpr int slotCount = 32;
enum SlotState : int { Free, Filling, Ready, Removing };
struct Slot {
    std::atomic<int> state{Free};
    char path[PATH_MAX];
};
Slot slots[slotCount];

const int stopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2};

const char* signalName(int signal)
{
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    case SIGUSR1: return "SIGUSR1";
    case SIGUSR2: return "SIGUSR2";
    default: return "a signal";
    }
}

void put(const char* text) { [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text)); }

// Async-signal-safe from here on: unlink, write and _exit.
[[noreturn]] void endAtOnce(int signal)
{
    for (Slot& slot : slots) {
        int ready = Ready;
        if (slot.state.compare_exchange_strong(ready, Removing)) ::unlink(slot.path);
    }
    // A progress line may stand on the terminal; the message takes its place.
    if (stderrIsTerminal) put("\r\033[K");
    put("zentrix: stopped by ");
    put(signalName(signal));
    put("\n");
    ::_exit(1);
}

void onWatchdog(int) { endAtOnce(requested.load()); }

void onStop(int signal)
{
    int none = 0;
    if (!requested.compare_exchange_strong(none, signal)) endAtOnce(none);  // asked twice
    struct sigaction watchdog {};
    watchdog.sa_handler = onWatchdog;
    sigfillset(&watchdog.sa_mask);
    ::sigaction(SIGALRM, &watchdog, nullptr);
    ::alarm(stopGraceSeconds);
}

}  // namespace

void installStopHandlers()
{
    stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    struct sigaction action {};
    action.sa_handler = onStop;
    // Restarted, so that a write under way is not failed by the signal itself.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : stopSignals) sigaddset(&action.sa_mask, signal);
    for (const int signal : stopSignals) {
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

int stopSignal() { return requested.load(); }

std::string stopMessage() { return std::string("stopped by ") + signalName(stopSignal()); }

void cancelStopWatchdog()
{
    if (stopSignal()) ::alarm(0);
}

int registerUnfinishedFile(const std::string& path)
{
    if (path.empty() || path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < slotCount; ++i) {
        int free = Free;
        if (!slots[i].state.compare_exchange_strong(free, Filling)) continue;
        std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
        slots[i].state.store(Ready);
        return i;
    }
    return -1;
}

void unregisterUnfinishedFile(int slot)
{
    if (slot < 0 || slot >= slotCount) return;
    // A slot the watchdog is removing stays its own: the program ends in a moment.
    int ready = Ready;
    slots[slot].state.compare_exchange_strong(ready, Free);
}
