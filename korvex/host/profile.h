// Reading of Windows profile (INI) files: "[section]" lines and "key=value"
// lines, section and key names compared without regard to case, values
// stripped of blanks at both ends, lines ending in LF or CR LF.
#ifndef KORVEX_HOST_PROFILE_H_
#define KORVEX_HOST_PROFILE_H_

#include <cstdint>
#include <string>

namespace korvex::host {

// Copies the value of key in section of fileName (or defaultText when the
// file, section or key is missing) into out, at most size - 1 characters, and
// always terminates it when size > 0. Answers the number of characters copied.
std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText,
                                char* out, std::uint32_t size, const char* fileName);

// The value, or false when the file, section or key is missing.
bool LookupProfileValue(const std::string& fileText, const char* section, const char* key,
                        std::string& value);

}  // namespace korvex::host



#include "korvex/host/host.h"

namespace korvex::host {

// The host's INI reader over one profile file.
class ProfileIni : public TQzIniBase {
public:
    explicit ProfileIni(std::string fileName) : mFileName(std::move(fileName)) {}
    void SetSection(const char* section, bool create) override;
    void InitString(const char* key, char* buffer, unsigned size,
                    const char* defaultText) override;

private:
    std::string mFileName;
    std::string mSection;
};

}  // namespace korvex::host
#endif  // KORVEX_HOST_PROFILE_H_
