// A complete set of host objects wired together as a host application wires
// them: the application with its global data, main frame, protocol object
// and hello dialog. The frame is the parent window handed to the library.
#ifndef KORVEX_HOST_HOST_MODEL_H_
#define KORVEX_HOST_HOST_MODEL_H_

#include "korvex/host/host.h"

namespace korvex::host {

class HostModel {
public:
    HostModel() {
        appl.mGlobalData = &global;
        appl.mMainWindow = &frame;
        appl.mHello = &hello;
        frame.mApplication = &appl;
        frame.mGlobalData = &global;
        frame.mProtocol = &protocol;
        frame.mHandle = 1;
    }
    HostModel(const HostModel&) = delete;
    HostModel& operator=(const HostModel&) = delete;

    OWL::TWindow* Parent() { return &frame; }

    TGlobalData global;
    TProtocol protocol;
    THelloDialog hello;
    TAppl appl;
    TApplFrame frame;
};

// The services of a host that writes every call as one trace line (the
// format of the command-line tool's --trace) and hands it to Line().
class TracingHost : public HostServices {
public:
    int MessageBox(const char* text, const char* caption, unsigned style) override;
    long SendMessage(std::uintptr_t window, unsigned message, std::uintptr_t wparam,
                     const char* text) override;
    int ErrorHalt(const char* text, const char* source, unsigned line) override;
    long FrameMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam,
                      const char* lparamText) override;
    void FrameNotify(unsigned message, std::uintptr_t wparam, std::intptr_t lparam,
                     const char* lparamText) override;
    void FrameCommandFollowUp(const char* text) override;
    void FrameCommandEcho(const char* text) override;
    void FrameProtocolLine(const char* line, int code) override;
    void ProtocolWriteEntry(int code, const char* machineName, const char* line) override;
    void HelloCaption(const char* caption) override;

protected:
    virtual void Line(const std::string& line) = 0;
    // The frame's answer to a message (0 unless a host says otherwise).
    virtual long FrameAnswer(unsigned message, std::uintptr_t wparam, std::intptr_t lparam);
};

}  // namespace korvex::host

#endif  // KORVEX_HOST_HOST_MODEL_H_
