#include <cstdio>
#include <string>

#include "korvex/host/host_model.h"
#include "korvex/host/trace.h"

namespace korvex::host {

namespace {

std::string Format(const char* format, auto... values) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, values...);
    return buffer;
}

}  // namespace

int TracingHost::MessageBox(const char* text, const char* caption, unsigned) {
    Line("messagebox " + QuoteText(caption) + " " + QuoteText(text));
    return IDOK;
}

long TracingHost::SendMessage(std::uintptr_t, unsigned message, std::uintptr_t wparam,
                              const char* text) {
    Line(Format("SendMessage 0x%X %lu ", message, static_cast<unsigned long>(wparam)) +
         QuoteText(text));
    return 0;
}

int TracingHost::ErrorHalt(const char* text, const char* source, unsigned line) {
    Line("ErrorHalt " + QuoteText(text) + " " + QuoteText(source) + Format(" %u", line));
    return 0;
}

long TracingHost::FrameAnswer(unsigned, std::uintptr_t, std::intptr_t) { return 0; }

long TracingHost::FrameMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam,
                               const char* lparamText) {
    const long answer = FrameAnswer(message, wparam, lparam);
    std::string shown = lparamText ? QuoteText(lparamText) : Format("%ld", static_cast<long>(lparam));
    Line(Format("frameMessage 0x%X %lu ", message, static_cast<unsigned long>(wparam)) + shown +
         Format(" -> %ld", answer));
    return answer;
}

void TracingHost::FrameNotify(unsigned message, std::uintptr_t wparam, std::intptr_t lparam,
                              const char* lparamText) {
    const std::string shown =
        lparamText ? QuoteText(lparamText) : Format("%ld", static_cast<long>(lparam));
    Line(Format("frameNotify 0x%X %lu ", message, static_cast<unsigned long>(wparam)) + shown);
}

void TracingHost::FrameCommandFollowUp(const char* text) {
    Line("frameCommandFollowUp " + QuoteText(text));
}

void TracingHost::FrameCommandEcho(const char* text) {
    Line("frameCommandEcho " + QuoteText(text));
}

void TracingHost::FrameProtocolLine(const char* line, int code) {
    Line("frameProtocolLine " + QuoteText(line) + Format(" %d", code));
}

void TracingHost::ProtocolWriteEntry(int code, const char* machineName, const char* line) {
    Line(Format("protocol %d ", code) + QuoteText(machineName) + " " + QuoteText(line));
}

void TracingHost::HelloCaption(const char* caption) { Line("hello " + QuoteText(caption)); }

}  // namespace korvex::host
