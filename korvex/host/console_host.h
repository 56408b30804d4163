// The host of the command-line tool: the machine directory's INI file, file
// search in the machine directory, message boxes on standard error and,
// with tracing on, every call as one line on standard output.
#ifndef KORVEX_HOST_CONSOLE_HOST_H_
#define KORVEX_HOST_CONSOLE_HOST_H_

#include <cstdio>
#include <memory>
#include <string>

#include "korvex/host/host_model.h"
#include "korvex/host/profile.h"

namespace korvex::host {

class ConsoleHost : public TracingHost {
public:
    // Installs itself as the host services for its lifetime.
    explicit ConsoleHost(const std::string& machineDir);
    ~ConsoleHost() override;

    void SetTrace(bool on) { mTrace = on; }
    bool Tracing() const { return mTrace; }
    // Writes a trace line (driver calls come here too).
    void TraceLine(const std::string& line);

    int MessageBox(const char* text, const char* caption, unsigned style) override;
    int ErrorHalt(const char* text, const char* source, unsigned line) override;
    int ErrorStop(const char* text) override;
    // The tool ends the process itself with the load's result, so the fatal
    // exit only takes note.
    void FatalExit(int code) override;
    void FatalAppExit(unsigned action, const char* text) override;
    bool FatalExitRequested() const { return mFatal; }
    // Lines printed on standard error once, before the next message box
    // (what the tool found wrong before the library says what failed).
    void SetMessagePreamble(std::string lines) { mPreamble = std::move(lines); }
    // The last message box as "CAPTION\nTEXT", for a caller that reports it
    // again in another form; "" after ClearLastMessage.
    const std::string& LastMessage() const { return mLastMessage; }
    void ClearLastMessage() { mLastMessage.clear(); }

    HostModel& Model() { return mModel; }
    TQzIniBase& Ini() { return *mIni; }

    // text with its control bytes other than line feeds as \xNN.
    static std::string Printable(const char* text);

protected:
    void Line(const std::string& line) override;

private:
    HostModel mModel;
    std::unique_ptr<ProfileIni> mIni;
    bool mTrace = false;
    bool mFatal = false;
    std::string mPreamble;
    std::string mLastMessage;
};

}  // namespace korvex::host

#endif  // KORVEX_HOST_CONSOLE_HOST_H_
