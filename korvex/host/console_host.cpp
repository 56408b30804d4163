#include "korvex/host/console_host.h"

#include <cstdlib>
#include <filesystem>

#include "korvex/host/trace.h"

namespace korvex::host {

ConsoleHost::ConsoleHost(const std::string& machineDir) {
    mModel.global.mMachineDir = machineDir;
    // The machine's name is its directory's last component, also for "." or
    // a path ending in a separator.
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(machineDir, error).lexically_normal();
    if (!path.has_filename()) path = path.parent_path();
    mModel.global.mMachineName = path.filename().string();
    mModel.global.mEngine = true;
    char ini[1024];
    if (!mModel.global.SearchFileName(ini, sizeof ini, 1, "KORVEX", "INI")) {
        // A machine without its INI file takes the default names.
    }
    mIni = std::make_unique<ProfileIni>(ini);
    SetHost(this);
}

ConsoleHost::~ConsoleHost() { SetHost(nullptr); }

void ConsoleHost::TraceLine(const std::string& line) {
    if (!mTrace) return;
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ConsoleHost::Line(const std::string& line) { TraceLine(line); }

int ConsoleHost::MessageBox(const char* text, const char* caption, unsigned style) {
    TracingHost::MessageBox(text, caption, style);
    std::fflush(stdout);
    if (!mPreamble.empty()) std::fputs(mPreamble.c_str(), stderr);
    mPreamble.clear();
    // The caption and text may quote a file's bytes: controls are shown
    // escaped, line breaks kept.
    mLastMessage = Printable(caption) + "\n" + Printable(text);
    std::fprintf(stderr, "%s\n", mLastMessage.c_str());
    return IDOK;
}

std::string ConsoleHost::Printable(const char* text) {
    std::string out;
    for (const char* c = text ? text : ""; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += *c;
        }
    }
    return out;
}

int ConsoleHost::ErrorHalt(const char* text, const char* source, unsigned line) {
    TracingHost::ErrorHalt(text, source, line);
    std::fprintf(stderr, "korvex: halt in %s line %u: %s\n", source ? source : "", line,
                 text ? text : "");
    return 0;
}

int ConsoleHost::ErrorStop(const char* text) {
    TraceLine("ErrorStop " + QuoteText(text));
    std::fprintf(stderr, "korvex: stop: %s\n", text ? text : "");
    return 0;
}

void ConsoleHost::FatalExit(int code) {
    TraceLine("FatalExit " + std::to_string(code));
    mFatal = true;
}

void ConsoleHost::FatalAppExit(unsigned action, const char* text) {
    TraceLine("FatalAppExit " + std::to_string(action) + " " + QuoteText(text));
    std::fprintf(stderr, "korvex: fatal: %s\n", text ? text : "");
    std::fflush(nullptr);
    std::_Exit(70);
}

}  // namespace korvex::host
