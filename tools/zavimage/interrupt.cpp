#include "tools/zavimage/interrupt.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

namespace zavtool {
namespace {

struct Watch {
    std::atomic<int> stopSignal{0};
    std::mutex mutex;
    std::function<void(int)> listener;
};

// Never destroyed: the watching thread may still take a signal while the process exits.
Watch &TheWatch() {
    static Watch *const watch = new Watch;
    return *watch;
}

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGWINCH);
    return set;
}

void WatchLoop(sigset_t set) {
    Watch &watch = TheWatch();
    while (true) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) {
            continue;
        }
        if (signal != SIGWINCH) {
            int none = 0;
            watch.stopSignal.compare_exchange_strong(none, signal);
        }
        const std::lock_guard<std::mutex> lock(watch.mutex);
        if (watch.listener) {
            watch.listener(signal);
        }
    }
}

}  // namespace

void StartSignalWatch() {
    // A file size limit (ulimit -f) fails the write that passes it (EFBIG: "file too large" for
    // that file) instead of ending the process before its summary.
    signal(SIGXFSZ, SIG_IGN);
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    TheWatch();  // built before the thread that uses it
    std::thread(WatchLoop, set).detach();
}

int StopSignal() {
    return TheWatch().stopSignal.load();
}

int StopExitStatus() {
    return 128 + StopSignal();
}

const char *SignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

void SetSignalListener(std::function<void(int signal)> listener) {
    Watch &watch = TheWatch();
    const std::lock_guard<std::mutex> lock(watch.mutex);
    watch.listener = std::move(listener);
}

}  // namespace zavtool
