// A host for tests: every call is recorded as its trace line, time is a fake
// clock, and the fatal exit returns so that a load error can be inspected in
// the same process.
#ifndef KORVEX_HOST_RECORDING_HOST_H_
#define KORVEX_HOST_RECORDING_HOST_H_

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "korvex/host/host_model.h"

namespace korvex::host {

class RecordingHost : public TracingHost {
public:
    struct MessageBoxCall {
        std::string caption;
        std::string text;
    };
    struct HaltCall {
        std::string text;
        std::string source;
        unsigned line;
    };

    // Installs itself as the host services; the destructor restores the
    // default.
    RecordingHost();
    ~RecordingHost() override;

    int MessageBox(const char* text, const char* caption, unsigned style) override;
    int ErrorHalt(const char* text, const char* source, unsigned line) override;
    int ErrorStop(const char* text) override;
    std::uint32_t GetTickCount() override;
    void Sleep(std::uint32_t milliseconds) override;
    void FatalExit(int code) override;
    void FatalAppExit(unsigned action, const char* text) override;
    void MessageBeep(unsigned type) override;

    // Every call, one trace line each, in order.
    std::vector<std::string> lines;
    std::vector<MessageBoxCall> messageBoxes;
    std::vector<HaltCall> halts;
    std::vector<std::string> stops;
    std::vector<int> fatalExits;
    std::vector<std::string> fatalAppExits;
    std::vector<unsigned> beeps;

    // The fake clock: GetTickCount answers now and then advances it by
    // tickStep; Sleep advances it and adds to slept.
    std::uint32_t now = 0;
    std::uint32_t tickStep = 1;
    std::uint64_t slept = 0;

    // Answers of the frame to (message, wparam, lparam); 0 when not set.
    std::map<std::tuple<unsigned, std::uintptr_t, std::intptr_t>, long> frameAnswers;

    // Lines that start with prefix.
    std::vector<std::string> LinesStartingWith(const std::string& prefix) const;

protected:
    void Line(const std::string& line) override { lines.push_back(line); }
    long FrameAnswer(unsigned message, std::uintptr_t wparam, std::intptr_t lparam) override;
};

}  // namespace korvex::host

#endif  // KORVEX_HOST_RECORDING_HOST_H_
