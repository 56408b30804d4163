#include "korvex/host/recording_host.h"

#include <cstdio>

#include "korvex/host/trace.h"

namespace korvex::host {

RecordingHost::RecordingHost() { SetHost(this); }
RecordingHost::~RecordingHost() { SetHost(nullptr); }

int RecordingHost::MessageBox(const char* text, const char* caption, unsigned style) {
    messageBoxes.push_back({caption ? caption : "", text ? text : ""});
    return TracingHost::MessageBox(text, caption, style);
}

int RecordingHost::ErrorHalt(const char* text, const char* source, unsigned line) {
    halts.push_back({text ? text : "", source ? source : "", line});
    return TracingHost::ErrorHalt(text, source, line);
}

int RecordingHost::ErrorStop(const char* text) {
    stops.push_back(text ? text : "");
    Line("ErrorStop " + QuoteText(text));
    return 0;
}

std::uint32_t RecordingHost::GetTickCount() {
    const std::uint32_t answer = now;
    now += tickStep;
    return answer;
}

void RecordingHost::Sleep(std::uint32_t milliseconds) {
    now += milliseconds;
    slept += milliseconds;
    Line("Sleep " + std::to_string(milliseconds));
}

void RecordingHost::FatalExit(int code) {
    fatalExits.push_back(code);
    Line("FatalExit " + std::to_string(code));
}

void RecordingHost::FatalAppExit(unsigned action, const char* text) {
    fatalAppExits.push_back(text ? text : "");
    Line("FatalAppExit " + std::to_string(action) + " " + QuoteText(text));
}

void RecordingHost::MessageBeep(unsigned type) {
    beeps.push_back(type);
    Line("MessageBeep " + std::to_string(type));
}

long RecordingHost::FrameAnswer(unsigned message, std::uintptr_t wparam, std::intptr_t lparam) {
    const auto found = frameAnswers.find({message, wparam, lparam});
    return found == frameAnswers.end() ? 0 : found->second;
}

std::vector<std::string> RecordingHost::LinesStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    return out;
}

}  // namespace korvex::host
