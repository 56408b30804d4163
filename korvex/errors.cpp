// Run-time error messages and start-up progress.
#include <cstdio>

#include "korvex/korvex.h"

namespace {

const char* const kErrorTexts[] = {
    "Unknown error!",
    "Wrong type!",
    "Direct access not allowed!",
    "Value out of range",
    "Not enough space!",
    "File not found!",
    "Handle not found!",
    "Syntax error!",
    "Handle exists!",
    "Key exists!",
    "Unknown key!",
    "Missing key!",
    "Unknown parameter!",
    "Parameter error!",
    "Command string not found!",
    "Data or driver error!",
};

}  // namespace

const char* Daten::ErrorText(unsigned error) {
    return error < sizeof kErrorTexts / sizeof kErrorTexts[0] ? kErrorTexts[error]
                                                               : kErrorTexts[0];
}

void Daten::ErrorMessage(std::uint16_t handle, ErrorType error, bool optional) {
    if (!mMessagesOn) return;
    if (mFrame && mFrame->MessagesSuppressed()) return;
    if (optional && mQuietOptional) return;
    char name[Handles::kNameBufferSize];
    const char* shown = "Unknown handle name";
    if (mHandles && mHandles->HandleToName(handle, name, Handles::kNoHandle, sizeof name))
        shown = name;
    char message[Handles::kNameBufferSize + 128];
    std::snprintf(message, sizeof message, "%s\nNumber of handle:%u\nName of handle:%s",
                  ErrorText(error), static_cast<unsigned>(handle), shown);
    if (_UserLevel < _QZLev - '0') {
        // The frame's OK box without a parent window.
        if (mFrame)
            mFrame->MessageBox(message, "Data error", MB_OK);
        else
            korvex::host::Host().MessageBox(message, "Data error", MB_OK);
    } else {
        ErrorHalt(message, "korvex", 3100);
    }
}

void Daten::viewHelloMessage(TAppl* application, const char* text, std::uint16_t count) {
    const unsigned step = count < 1000 ? 100 : (count < 5000 ? 250 : 500);
    if (count % step != 0) return;
    THelloDialog* hello = application ? application->GetHelloDialog() : nullptr;
    if (!hello) return;
    char caption[128];
    std::snprintf(caption, sizeof caption, "%s  [%u]", text ? text : "",
                  static_cast<unsigned>(count));
    hello->SetCaption(caption);
    hello->UpdateWindow();
}
