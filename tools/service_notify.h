// Telling systemd how a long-running verb (the bridge) stands: ready once it
// is connected, alive at every pass of its loop, stopping when it leaves.
// Outside a systemd service (no NOTIFY_SOCKET), and in a build without
// libsystemd, every call does nothing.
#ifndef KORVEX_TOOLS_SERVICE_NOTIFY_H_
#define KORVEX_TOOLS_SERVICE_NOTIFY_H_

#include <string>

namespace korvex::cli {

class ServiceNotifier {
public:
    ServiceNotifier();
    // READY=1 with a status line, once.
    void Ready(const std::string& status);
    // WATCHDOG=1, at most twice per watchdog period.
    void Alive();
    // STOPPING=1.
    void Stopping();

private:
    bool mReady = false;
    unsigned long long mWatchdogUsec = 0;
    unsigned long long mLastPingUsec = 0;
};

}  // namespace korvex::cli

#endif  // KORVEX_TOOLS_SERVICE_NOTIFY_H_
