// A complete host in one file: the smallest program that loads a machine
// through the installed KORVEX headers and library, reads and writes a
// value, and shuts down again.
//
//     example_host MACHINE_DIR
//
// MACHINE_DIR holds KORVEX.INI and the files it names (machines/sample/ in
// the sources, share/korvex/machines/sample/ once installed). The simulated
// controller stands in for the controller's driver.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "korvex/host/profile.h"
#include "korvex/host/sim_driver.h"
#include "korvex/korvex.h"

namespace {

// What the library asks of the operating system and the window library.
// Message boxes go to standard error; a fatal exit says why and ends the
// process with a non-zero code.
class Services : public korvex::host::HostServices {
public:
    int MessageBox(const char* text, const char* caption, unsigned) override {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        mLast = std::string(caption) + ": " + text;
        return IDOK;
    }
    void FatalExit(int code) override {
        std::fprintf(stderr, "example_host: the library ended the program (%s)\n",
                     mLast.empty() ? "no message" : mLast.c_str());
        std::exit(code != 0 ? code : EXIT_FAILURE);
    }
    void FatalAppExit(unsigned, const char* text) override {
        std::fprintf(stderr, "example_host: fatal: %s\n", text ? text : "");
        std::exit(EXIT_FAILURE);
    }

private:
    std::string mLast;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: example_host MACHINE_DIR\n");
        return 64;
    }
    Services services;
    korvex::host::SetHost(&services);

    // The host's objects: global data with the driver and the machine
    // directory, the application, and its main window (the parent window).
    korvex::host::SimDriver driver;
    TGlobalData global;
    global.mDriver = &driver;
    global.mDriverName = "SIMULATED";
    global.mMachineDir = argv[1];
    global.mMachineName = "example";
    TAppl application;
    TApplFrame frame;
    application.mGlobalData = &global;
    application.mMainWindow = &frame;
    frame.mApplication = &application;
    frame.mGlobalData = &global;

    // The INI reader: section DATAINTERFACE of the machine's KORVEX.INI.
    korvex::host::ProfileIni ini(std::string(argv[1]) + "/KORVEX.INI");

    // README's "host in ten lines" is the block between the two markers.
    // --- ten lines
    Daten* daten = InitKorvex(&ini, &frame, NewDatenProc);  // one Daten per CNC
    if (!daten) return EXIT_FAILURE;
    std::uint16_t index = 0;
    const std::uint16_t handle = daten->GetHandles()->NameToHandle("XParkPos", index);
    std::int32_t value = 0;
    char text[Daten::kTextBufferSize] = "";
    std::uint8_t result = daten->SetValue(handle, 123456, index);  // in the stored unit
    if (result == Daten::Ok) result = daten->GetValue(handle, value, index);
    if (result == Daten::Ok) result = daten->Value2String(handle, value, text, sizeof text);
    if (result == Daten::Ok) std::printf("XParkPos = %d (%s %s)\n", value, text, daten->GetUnitString(handle));
    else std::fprintf(stderr, "example_host: %s\n", Daten::ErrorText(result));
    ShutDownKorvex(daten);  // the last user of the CNC's Daten destroys it
    // --- ten lines
    korvex::host::SetHost(nullptr);
    return result == Daten::Ok ? EXIT_SUCCESS : result;
}
