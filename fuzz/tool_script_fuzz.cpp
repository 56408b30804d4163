// Any bytes as a script of the korvex tool (korvex -k -f FILE): every line is
// split into words and run as a verb against the sample machine and the
// simulated controller, as the tool runs it, going on after failures. Time
// is a fake clock so that the busy polls and waits do not sleep.
//
// The verbs that name files of the system (touch, lint) are left out: they
// would change or read whatever path the input names; the files they read
// have their own targets. So is the MQTT bridge, which needs a broker.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include "fuzz/fuzz_machine.h"
#include "korvex/handles/handles.h"
#include "tools/cli.h"

namespace {

// The console host's services with a fake clock and silent message boxes.
class FakeClockHost : public korvex::host::HostServices {
  public:
    explicit FakeClockHost(korvex::host::ConsoleHost& console) : mConsole(console) {}
    int MessageBox(const char*, const char*, unsigned) override { return 1; }
    long SendMessage(std::uintptr_t window, unsigned message, std::uintptr_t wparam,
                     const char* text) override {
        return mConsole.SendMessage(window, message, wparam, text);
    }
    std::uint32_t GetTickCount() override { return mNow += 7; }
    void Sleep(std::uint32_t milliseconds) override { mNow += milliseconds; }
    void FatalExit(int code) override { mConsole.FatalExit(code); }
    void FatalAppExit(unsigned action, const char* text) override {
        mConsole.FatalAppExit(action, text);
    }
    void MessageBeep(unsigned) override {}
    std::uint32_t GetPrivateProfileString(const char* section, const char* key,
                                          const char* defaultText, char* out, std::uint32_t size,
                                          const char* fileName) override {
        return mConsole.GetPrivateProfileString(section, key, defaultText, out, size, fileName);
    }
    bool GetFileStamp(const char* path, std::uint32_t& packed) override {
        return mConsole.GetFileStamp(path, packed);
    }
    int ErrorHalt(const char* text, const char* source, unsigned line) override {
        return mConsole.ErrorHalt(text, source, line);
    }
    int ErrorStop(const char* text) override { return mConsole.ErrorStop(text); }
    long FrameMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam,
                      const char* lparamText) override {
        return mConsole.FrameMessage(message, wparam, lparam, lparamText);
    }

  private:
    korvex::host::ConsoleHost& mConsole;
    std::uint32_t mNow = 0;
};

std::string MachineCopy() {
    static auto& machine = *new korvex::fuzzing::FuzzMachine(true);
    return machine.dir;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Verbs print their results; the fuzzer's own output is on standard error.
    if (!std::freopen("/dev/null", "w", stdout)) return 1;
    // A tree listing is a few MiB: written in large blocks.
    static char buffer[1 << 20];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    korvex::cli::Verbs().erase("touch");
    korvex::cli::Verbs().erase("lint");
    korvex::cli::Verbs().erase("bridge");
    // The service console serves until a signal: a script must not start it.
    korvex::cli::Verbs().erase("serve");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string machineDir = MachineCopy();
    korvex::cli::Options options;
    options.machineDir = machineDir;
    options.keepGoing = true;
    std::istringstream script(std::string(reinterpret_cast<const char*>(data), size));
    // Names the last script registered are not left for the next one.
    Handles::DropRegistry();
    {
        korvex::cli::Session session(options);
        FakeClockHost host(session.host());
        korvex::host::SetHost(&host);
        korvex::cli::RunScript(session, script, "FUZZ", true);
        korvex::host::SetHost(&session.host());
    }
    korvex::host::SetHost(nullptr);
    return 0;
}
