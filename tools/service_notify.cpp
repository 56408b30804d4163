#include "tools/service_notify.h"

#include <cstdint>
#include <ctime>

#ifdef KORVEX_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace korvex::cli {
namespace {

unsigned long long NowUsec() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000000ull +
           static_cast<unsigned long long>(now.tv_nsec) / 1000ull;
}

}  // namespace

#ifdef KORVEX_HAVE_SYSTEMD

ServiceNotifier::ServiceNotifier() {
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) mWatchdogUsec = usec;
}

void ServiceNotifier::Ready(const std::string& status) {
    if (mReady) return;
    mReady = true;
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void ServiceNotifier::Alive() {
    if (mWatchdogUsec == 0) return;
    const unsigned long long now = NowUsec();
    if (now - mLastPingUsec < mWatchdogUsec / 2) return;
    mLastPingUsec = now;
    sd_notify(0, "WATCHDOG=1");
}

void ServiceNotifier::Stopping() { sd_notify(0, "STOPPING=1"); }

#else

ServiceNotifier::ServiceNotifier() { (void)mWatchdogUsec, (void)mLastPingUsec, (void)NowUsec; }
void ServiceNotifier::Ready(const std::string&) { mReady = true; }
void ServiceNotifier::Alive() {}
void ServiceNotifier::Stopping() {}

#endif

}  // namespace korvex::cli
