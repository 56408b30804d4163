// The stop signals of the tool's long-running verbs (bridge, serve).
#ifndef KORVEX_TOOLS_SIGNAL_WINDOW_H_
#define KORVEX_TOOLS_SIGNAL_WINDOW_H_

#include <pthread.h>
#include <signal.h>

namespace korvex::cli {

// SIGINT and SIGTERM (noted by the tool's handlers, Interrupted()) reach
// this thread only while it waits in ppoll with WaitMask(), so that a stop
// never slips in between the check and the wait; threads started meanwhile
// inherit the mask and never take them. A broken connection must not end
// the process: SIGPIPE is ignored meanwhile.
class SignalWindow {
public:
    SignalWindow() {
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGINT);
        sigaddset(&stop, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stop, &mWaitMask);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &mOldPipe);
    }
    ~SignalWindow() {
        sigaction(SIGPIPE, &mOldPipe, nullptr);
        pthread_sigmask(SIG_SETMASK, &mWaitMask, nullptr);
    }
    SignalWindow(const SignalWindow&) = delete;
    SignalWindow& operator=(const SignalWindow&) = delete;
    // The mask while waiting: the one from before, with the stops open.
    const sigset_t* WaitMask() const { return &mWaitMask; }

private:
    sigset_t mWaitMask;
    struct sigaction mOldPipe {};
};

}  // namespace korvex::cli

#endif  // KORVEX_TOOLS_SIGNAL_WINDOW_H_
