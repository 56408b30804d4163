#include "tests/support/test_machine.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvex::testing {

TestMachine::TestMachine() {
    char pattern[] = "/tmp/korvex-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    mDir = made ? made : "/tmp";
    model.global.mMachineDir = mDir;
    model.global.mMachineName = "TESTMACHINE";
    model.global.mDriver = &sim;
    model.global.mDriverName = "KORVEXSIM.DLL";
    Handles::DropRegistry();
    ResetInstanceTable();
    _UserLevel = 0;
    _QZLev = '3';
}

TestMachine::~TestMachine() {
    Handles::DropRegistry();
    ResetInstanceTable();
    std::error_code error;
    std::filesystem::remove_all(mDir, error);
}

void TestMachine::WriteFile(const std::string& file, const std::string& content) const {
    std::ofstream out(Path(file), std::ios::binary | std::ios::trunc);
    out << content;
}

std::string TestMachine::ReadFile(const std::string& file) const {
    std::ifstream in(Path(file), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TestMachine::Exists(const std::string& file) const {
    return std::filesystem::exists(Path(file));
}

void TestMachine::CopySampleMachine() const {
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(KORVEX_SOURCE_DIR) + "/machines/sample")) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.substr(name.size() - 4) == ".BIN") continue;
        std::filesystem::copy_file(entry.path(), Path(name),
                                   std::filesystem::copy_options::overwrite_existing);
    }
}

Daten* TestMachine::NewDaten(const char* datenName, const char* handleName) {
    return new Daten(model.Parent(), datenName, handleName);
}

}  // namespace korvex::testing
