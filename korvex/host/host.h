// What the library needs from the host operator application, its window
// library and the operating system, as small classes of our own.
//
// The host objects (application, main frame, global data, INI reader) are
// plain classes whose state a host fills in. Everything that reaches outside
// the process (message boxes, window messages, time, the fatal exit, the
// protocol) goes through one HostServices object, so that a test can record
// every call and fake the clock, the way a test environment replaces a file
// system.
#ifndef KORVEX_HOST_HOST_H_
#define KORVEX_HOST_HOST_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "korvex/host/driver.h"

namespace korvex::host {

// Every call the library makes outside itself. The defaults behave like a
// silent host on a real clock; a console or test host overrides what it shows
// or records.
class HostServices {
public:
    virtual ~HostServices() = default;

    // Window library and operating system.
    virtual int MessageBox(const char* text, const char* caption, unsigned style);
    virtual long SendMessage(std::uintptr_t window, unsigned message, std::uintptr_t wparam,
                             const char* text);
    virtual std::uint32_t GetTickCount();
    virtual void Sleep(std::uint32_t milliseconds);
    // Ends the process. A host may return instead; the library then abandons
    // what it was doing and reports the failure through its result codes.
    // The default prints the last message box (or FatalAppExit's text) to
    // standard error and exits non-zero, also for code 0.
    virtual void FatalExit(int code);
    virtual void FatalAppExit(unsigned action, const char* text);
    virtual void MessageBeep(unsigned type);
    virtual void UpdateWindow(std::uintptr_t window);
    // The profile-file reader: copies the key's text (or the default) into
    // out, at most size - 1 characters, and answers the length copied.
    virtual std::uint32_t GetPrivateProfileString(const char* section, const char* key,
                                                  const char* defaultText, char* out,
                                                  std::uint32_t size, const char* fileName);
    // Modification stamp of a file in packed date-and-time form.
    virtual bool GetFileStamp(const char* path, std::uint32_t& packed);

    // Host application module.
    virtual int ErrorHalt(const char* text, const char* source, unsigned line);
    virtual int ErrorStop(const char* text);

    // Host frame and its protocol object. lparamText is set when the message
    // carries a text in its LPARAM.
    virtual long FrameMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam,
                              const char* lparamText);
    virtual void FrameNotify(unsigned message, std::uintptr_t wparam, std::intptr_t lparam,
                             const char* lparamText);
    virtual void FrameCommandFollowUp(const char* text);
    virtual void FrameCommandEcho(const char* text);
    virtual void FrameProtocolLine(const char* line, int code);
    virtual void ProtocolWriteEntry(int code, const char* machineName, const char* line);
    // The hello dialog's caption was set.
    virtual void HelloCaption(const char* caption);

protected:
    // "CAPTION: TEXT" of the last message box the default MessageBox took.
    std::string mLastMessage;
};

// The services in force; a default silent host until SetHost is called.
HostServices& Host();
// Installs services (nullptr restores the default). The caller keeps ownership.
void SetHost(HostServices* services);

// Packs a broken-down local time into the 32-bit date-and-time form of the
// caches: bits 0-4 seconds / 2, 5-10 minutes, 11-15 hours, 16-20 day, 21-24
// month, 25-31 years since 1980.
std::uint32_t PackStamp(int year, int month, int day, int hour, int minute, int second);

}  // namespace korvex::host

// The host's growable string class, reduced to what the library uses.
class TApplString {
public:
    TApplString() = default;
    TApplString(const char* text) : mText(text ? text : "") {}  // NOLINT: implicit by design
    TApplString& operator=(const char* text) {
        mText = text ? text : "";
        return *this;
    }
    TApplString& operator+=(const char* text) {
        if (text) mText += text;
        return *this;
    }
    const char* c_str() const { return mText.c_str(); }
    std::size_t Length() const { return mText.size(); }
    bool IsEmpty() const { return mText.empty(); }
    const std::string& str() const { return mText; }
    std::string& str() { return mText; }

private:
    std::string mText;
};

// The host's INI reader (section "DATAINTERFACE" of the machine's INI file).
class TQzIniBase {
public:
    virtual ~TQzIniBase() = default;
    virtual void SetSection(const char* section, bool create) = 0;
    // Copies the key's text, or defaultText, into buffer (at most size - 1
    // characters and a terminating zero).
    virtual void InitString(const char* key, char* buffer, unsigned size,
                            const char* defaultText) = 0;
};

// The host's global data: current CNC and axis, the driver, file search.
class TGlobalData {
public:
    virtual ~TGlobalData() = default;
    virtual unsigned GetAktCnc() { return mCnc; }
    virtual unsigned char GetAktAchse() { return mAxis; }
    virtual TDriver* GetDriver() { return mDriver; }
    virtual const char* GetTreiberName() { return mDriverName.c_str(); }
    // Full path of NAME.EXTENSION of the given file type into out. The
    // machine files come from Windows, so the name is matched without regard
    // to case. When no file matches, out receives the path the file would
    // have and the answer is false.
    virtual bool SearchFileName(char* out, std::size_t outSize, int fileType, const char* name,
                                const char* extension);
    // Directory of the given file type (the caches live there).
    virtual const char* GetPfad(int fileType, bool engine);
    virtual bool DoesEngineExist() { return mEngine; }
    virtual const char* GetMName() { return mMachineName.c_str(); }

    unsigned mCnc = 0;
    unsigned char mAxis = 0;
    TDriver* mDriver = nullptr;
    std::string mDriverName;
    std::string mMachineDir = ".";
    std::string mMachineName;
    bool mEngine = true;
};

class TAppl;
class TApplFrame;

// The host's protocol object.
class TProtocol {
public:
    virtual ~TProtocol() = default;
    virtual void protocolWriteEntry(int code, const char* machineName, const char* line, int a,
                                    int b, int c, int d);
};

// The application's hello dialog, used for start-up progress.
class THelloDialog {
public:
    virtual ~THelloDialog() = default;
    virtual void SetCaption(const char* caption);
    virtual void UpdateWindow();
    const std::string& Caption() const { return mCaption; }

private:
    std::string mCaption;
};

namespace OWL {

class TApplication {
public:
    virtual ~TApplication() = default;
};

class TWindow {
public:
    virtual ~TWindow() = default;
    TApplication* GetApplication() const { return mApplication; }
    std::uintptr_t GetHandle() const { return mHandle; }

    TApplication* mApplication = nullptr;
    std::uintptr_t mHandle = 0;
};

}  // namespace OWL

// The host application: its global data, its main window and its hello dialog.
class TAppl : public OWL::TApplication {
public:
    TGlobalData* GetGlobalData() const { return mGlobalData; }
    TApplFrame* GetMainWindow() const { return mMainWindow; }
    THelloDialog* GetHelloDialog() const { return mHello; }

    TGlobalData* mGlobalData = nullptr;
    TApplFrame* mMainWindow = nullptr;
    THelloDialog* mHello = nullptr;
};

// The host's main window.
class TApplFrame : public OWL::TWindow {
public:
    TGlobalData* GetGlobalData() const { return mGlobalData; }
    TProtocol* GetProtocol() const { return mProtocol; }
    bool MessagesSuppressed() const { return mSuppressMessages; }

    // The frame's OK message box.
    virtual int MessageBox(const char* text, const char* caption, unsigned style);
    virtual long frameMessage(unsigned message, std::uintptr_t wparam, std::intptr_t lparam);
    virtual long frameMessage(unsigned message, std::uintptr_t wparam, const char* text);
    virtual void frameNotify(unsigned message, std::uintptr_t wparam, std::intptr_t lparam);
    virtual void frameNotify(unsigned message, std::uintptr_t wparam, const char* text);
    virtual void frameCommandFollowUp(const char* text);
    virtual void frameCommandEcho(const char* text);
    virtual void frameProtocolLine(const char* line, int code);

    TGlobalData* mGlobalData = nullptr;
    TProtocol* mProtocol = nullptr;
    bool mSuppressMessages = false;
};

// Host debug-handle counters.
class CDebugHandles {
public:
    // Inline: every data-object access counts.
    void IncRead(unsigned short) { ++mReads; }
    void IncWrite(unsigned short) { ++mWrites; }
    std::uint32_t Reads() const { return mReads; }
    std::uint32_t Writes() const { return mWrites; }

private:
    std::uint32_t mReads = 0;
    std::uint32_t mWrites = 0;
};
extern CDebugHandles _gDebugHandles;

// Host application variables.
extern const char* _NULLTXT;
extern const char* _SPACETXT;
extern std::int16_t _UserLevel;
extern char _QZLev;

// Message box styles and answers of the window library.
constexpr unsigned MB_OK = 0x0000;
constexpr unsigned MB_ICONSTOP = 0x0010;
constexpr int IDOK = 1;

// Host application functions.
int OkMsgBox(OWL::TWindow* parent, const char* text, const char* caption);
int ErrorHalt(const char* text, const char* sourceFile, unsigned line);
int ErrorStop(const char* text);
// Appends a directory separator to path (of capacity size) unless it ends
// with one; the result is always terminated.
char* AppendStrich(char* path, std::size_t size);
// Replaces (or adds) the extension of the last path component; extension
// includes its dot, e.g. ".BIN".
char* ChangeExtension(char* path, std::size_t size, const char* extension);
// Heap copy released with delete[]; nullptr for nullptr.
char* StrDup(const char* text);
// Copies at most size - 1 characters and always terminates (size 0: nothing).
char* StrCopy(char* destination, const char* source, std::size_t size);
std::uint16_t Swap(std::uint16_t value);
std::uint32_t Swap(std::uint32_t value);

#endif  // KORVEX_HOST_HOST_H_
