// Test fixture support: a temporary machine directory, a recording host, the
// host objects and a simulated controller, with the process-wide registry and
// instance table reset around each test.
#ifndef KORVEX_TESTS_SUPPORT_TEST_MACHINE_H_
#define KORVEX_TESTS_SUPPORT_TEST_MACHINE_H_

#include <string>

#include "korvex/host/host_model.h"
#include "korvex/host/recording_host.h"
#include "korvex/host/sim_driver.h"
#include "korvex/korvex.h"

namespace korvex::testing {

class TestMachine {
public:
    TestMachine();
    ~TestMachine();
    TestMachine(const TestMachine&) = delete;
    TestMachine& operator=(const TestMachine&) = delete;

    // The machine directory (created empty).
    const std::string& dir() const { return mDir; }
    std::string Path(const std::string& file) const { return mDir + "/" + file; }
    void WriteFile(const std::string& file, const std::string& content) const;
    std::string ReadFile(const std::string& file) const;
    bool Exists(const std::string& file) const;
    // Copies the sample machine's files into the directory.
    void CopySampleMachine() const;

    // Builds a plain Daten over the directory (not through the instance
    // table); the test owns it.
    Daten* NewDaten(const char* datenName = "QZ_DATEN", const char* handleName = "HANDLES");

    host::RecordingHost host;
    host::HostModel model;
    host::SimDriver sim;

private:
    std::string mDir;
};

}  // namespace korvex::testing

#endif  // KORVEX_TESTS_SUPPORT_TEST_MACHINE_H_
