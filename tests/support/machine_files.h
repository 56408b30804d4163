// Helpers for tests of the handle and definition files and their caches:
// expected cache bytes built by hand from the formats, records stated on one
// line, and file stamps set to known times.
#ifndef KORVEX_TESTS_SUPPORT_MACHINE_FILES_H_
#define KORVEX_TESTS_SUPPORT_MACHINE_FILES_H_

#include <sys/time.h>

#include <bit>
#include <cstdint>
#include <ctime>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "korvex/definitions/dinfo.h"
#include "korvex/handles/handle_file.h"
#include "korvex/handles/handles.h"

namespace korvex::testing {

inline std::string Le16(std::uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

inline std::string Le32(std::uint32_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

inline std::string LeDouble(double d) {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    std::string out;
    for (int i = 0; i < 8; ++i) out += static_cast<char>((bits >> (8 * i)) & 0xFF);
    return out;
}

// The 256-byte cache header for a text file of the given packed stamp.
inline std::string HeaderBytes(std::uint32_t stamp) {
    std::string header = "Q&Z - DATAINTERFACE FILE\nVERSION: Dez 16 2016 11:37:28\n";
    header += Le32(stamp);
    header.resize(256, '\0');
    return header;
}

// Sets the modification time of path to a local time and answers the packed
// stamp the caches record for it.
inline std::uint32_t SetStamp(const std::string& path, int year, int month, int day, int hour,
                              int minute, int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    struct timeval times[2];
    times[0].tv_sec = times[1].tv_sec = std::mktime(&local);
    times[0].tv_usec = times[1].tv_usec = 0;
    ::utimes(path.c_str(), times);
    return static_cast<std::uint32_t>(second / 2) | static_cast<std::uint32_t>(minute) << 5 |
           static_cast<std::uint32_t>(hour) << 11 | static_cast<std::uint32_t>(day) << 16 |
           static_cast<std::uint32_t>(month) << 21 | static_cast<std::uint32_t>(year - 1980) << 25;
}

// The 100-byte image of the empty record, from the offsets of the format.
inline std::string EmptyImage() {
    std::string image(100, '\0');
    image.replace(8, 8, LeDouble(2147483647.0));
    image.replace(16, 8, LeDouble(-2147483648.0));
    image.replace(24, 8, LeDouble(2147483647.0));
    image.replace(40, 8, LeDouble(1.0));
    image[52] = 1;
    image.replace(98, 2, Le16(10));
    return image;
}

inline std::string Image(const DInfo& record) {
    unsigned char image[DInfo::kImageSize];
    record.EncodeImage(image);
    return std::string(reinterpret_cast<const char*>(image), sizeof image);
}

// Every field of a record on one line, so that a test states a whole record:
// type length min..max=default metric/inch formats, factor, road, write
// direct, inch/metric, visible, swap, revert, units, tab texts, not-valid
// value, Z reverse, base. Limits show as doubles where they are no integers.
inline std::string Describe(const DInfo& r) {
    std::ostringstream out;
    out.precision(10);
    out << +r.mType << " " << r.mLength << " ";
    if (r.mType == DInfo::REAL || r.mType == DInfo::NONE || r.mType >= DInfo::STRING)
        out << r.RealMin() << ".." << r.RealMax() << "=" << r.RealDef();
    else
        out << r.Min() << ".." << r.Max() << "=" << r.Def();
    out << " " << +r.mMetricWidth << "." << +r.mMetricDecimals << "/" << +r.mInchWidth << "."
        << +r.mInchDecimals << " *" << r.mUserFactor << " road" << +r.mNotDirect << " wd"
        << +r.mWriteDirect << " im" << +r.mInchMetric << " v" << +r.mVisible << " s"
        << +r.mSwapBitmask << " r" << +r.mRevertBitmask << " " << r.mszMetricUnit << "|"
        << r.mszInchUnit << " " << r.mszTabIdent << "|" << r.mszTabIndex << "|" << r.mszTabParIdent
        << " nv" << +r.mNotValid << ":" << r.mNotValidValue << " z" << +r.mZReverse << " b"
        << r.mBase;
    return out.str();
}

// bytes with the ones at offset at replaced (a damaged copy of a cache).
inline std::string Patched(const std::string& bytes, std::size_t at, const std::string& with) {
    std::string damaged = bytes;
    damaged.replace(at, with.size(), with);
    return damaged;
}

// Each entry line of a handle file as "line:name:number" (name and number
// left out where the name is empty or too long), as the file check's scan
// finds them: every number is answered as taken, so that each entry reports
// its line after its name was asked for.
inline std::vector<std::string> ScannedHandleEntries(std::string_view text) {
    struct Names : files::HandleNameTable {
        bool HasNumber(std::uint16_t) override { return true; }
        bool HasName(const char* name) override {
            last = name;
            return false;
        }
        bool Add(const char*, std::uint16_t) override { return false; }
        std::string last;
    } names;
    std::vector<std::string> found;
    files::CheckHandleFile(text, names, [&](const files::LoadMessage& message) {
        const bool good = message.result == Handles::NumberTwice;
        const std::size_t number = message.text.find("Handle : ");
        found.push_back(std::to_string(message.line) + ":" + (good ? names.last : "") + ":" +
                        (good ? message.text.substr(number + 9) : ""));
        return true;
    });
    return found;
}

// The same, from the lines parsed one by one.
inline std::vector<std::string> ParsedHandleEntries(std::string_view text) {
    std::vector<std::string> found;
    files::ForEachLine(text, [&](unsigned line, std::string_view content) {
        std::string_view name;
        std::uint16_t number = 0;
        if (files::ParseHandleLine(content, name, number) == files::HandleLineKind::Skipped)
            return true;
        const bool good = !name.empty() && name.size() <= Handles::kMaxNameLength;
        found.push_back(std::to_string(line) + ":" + (good ? std::string(name) : "") + ":" +
                        (good ? std::to_string(number) + "\n" : ""));
        return true;
    });
    return found;
}

}  // namespace korvex::testing

#endif  // KORVEX_TESTS_SUPPORT_MACHINE_FILES_H_
