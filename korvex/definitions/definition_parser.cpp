#include "korvex/definitions/definition_parser.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "korvex/korvex.h"

namespace korvex::definitions {

namespace {

using files::Format;

struct KeywordInfo {
    std::string_view name;
    bool twiceIsError;
};

// In the order of DefinitionParser::Keyword.
constexpr KeywordInfo kKeywords[] = {
    {"Min", true},          {"Max", true},         {"Default", false},    {"Type", true},
    {"MetricFormat", true}, {"InchFormat", true},  {"UserFactor", true},  {"WriteDirect", true},
    {"InchMetric", true},   {"Visible", true},     {"SwapBitmask", true}, {"RevertBitmask", true},
    {"ZReverse", true},     {"MetricUnit", true},  {"InchUnit", true},    {"TabIdent", true},
    {"TabIndex", true},     {"TabParIdent", true}, {"NotValid", true},    {"Base", true},
    {"Special", false},
};

inline bool IsBlank(char c) {
    return c == ' ';
}

inline std::string_view Strip(std::string_view text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

// Skips blanks from at, then answers the text up to the next blank and
// leaves at after that blank.
inline std::string_view NextParameter(const char*& at, const char* end) {
    while (at < end && IsBlank(*at)) ++at;
    const char* const begin = at;
    while (at < end && !IsBlank(*at)) ++at;
    const std::string_view parameter(begin, static_cast<std::size_t>(at - begin));
    if (at < end) ++at;
    return parameter;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

// Copies at most capacity characters and terminates; texts here are a few
// characters, copied without a library call.
template <std::size_t N>
inline void CopyCut(char (&field)[N], std::string_view text) {
    const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
    char cut[N] = {};
    for (std::size_t i = 0; i < length; ++i) cut[i] = text[i];
    std::memcpy(field, cut, N);
}

// True when the N - 1 characters at text are literal's; the caller has
// checked the length.
template <std::size_t N>
inline bool Is(const char* text, const char (&literal)[N]) {
    return std::memcmp(text, literal, N - 1) == 0;
}

// The type of a type word (compared with case), NONE when it is none.
DInfo::DType FindType(std::string_view word) {
    const char* w = word.data();
    switch (word.size()) {
        case 4:
            if (Is(w, "BYTE")) return DInfo::BYTE;
            if (Is(w, "WORD")) return DInfo::WORD;
            if (Is(w, "REAL")) return DInfo::REAL;
            break;
        case 6:
            if (Is(w, "QZREAL")) return DInfo::QZREAL;
            if (Is(w, "QZCARD")) return DInfo::QZCARD;
            if (Is(w, "STRING")) return DInfo::STRING;
            break;
        case 7:
            if (Is(w, "LONGINT")) return DInfo::LONGINT;
            if (Is(w, "INTEGER")) return DInfo::INTEGER;
            if (Is(w, "BITMASK")) return DInfo::BITMASK;
            break;
        case 8:
            if (Is(w, "SHORTINT")) return DInfo::SHORTINT;
            break;
        case 10:
            if (Is(w, "QZLONGCARD")) return DInfo::QZLONGCARD;
            break;
        case 11:
            if (Is(w, "QZSHORTREAL")) return DInfo::QZSHORTREAL;
            break;
        case 15:
            if (Is(w, "QZSHORTREALPLUS")) return DInfo::QZSHORTREALPLUS;
            break;
        default:
            break;
    }
    return DInfo::NONE;
}

bool IsNumericType(DInfo::DType type) {
    return type >= DInfo::BYTE && type <= DInfo::QZCARD;
}

// The lowest and highest value of a numeric type, for a record without Min
// or Max.
std::int32_t LowestValue(DInfo::DType type) {
    switch (type) {
        case DInfo::LONGINT:
        case DInfo::QZREAL:
            return INT32_MIN;
        case DInfo::INTEGER:
        case DInfo::QZSHORTREAL:
            return -32768;
        case DInfo::SHORTINT:
            return -128;
        default:  // BYTE, WORD, QZCARD, QZSHORTREALPLUS, QZLONGCARD
            return 0;
    }
}

std::int32_t HighestValue(DInfo::DType type) {
    switch (type) {
        case DInfo::BYTE:
            return 255;
        case DInfo::WORD:
        case DInfo::QZCARD:
        case DInfo::QZSHORTREALPLUS:
            return 65535;
        case DInfo::INTEGER:
        case DInfo::QZSHORTREAL:
            return 32767;
        case DInfo::SHORTINT:
            return 127;
        default:  // LONGINT, QZREAL, QZLONGCARD
            return INT32_MAX;
    }
}

constexpr double kRealLowest = 2.225074e-300;
constexpr double kRealHighest = 1.797693e+300;
constexpr std::int32_t kNoDefault = INT32_MAX;

}  // namespace

// ParseLong for the commonest text, up to 9 digits with an optional '-',
// read in line.
inline std::int32_t ReadLong(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
    const bool negative = n > 0 && p[0] == '-';
    if (negative) {
        ++p;
        --n;
    }
    if (n == 0 || n > 9) return ParseLong(text);
    std::int32_t value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto digit = static_cast<unsigned>(p[i] - '0');
        if (digit > 9) return ParseLong(text);
        value = value * 10 + static_cast<std::int32_t>(digit);
    }
    return negative ? -value : value;
}

std::int32_t ParseLong(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t value = 0;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

double ParseDouble(std::string_view text) {
    // The commonest case, "-12.375" with at most 15 digits: the digits as an
    // integer, exact in a double, divided by an exact power of ten is the
    // correctly rounded value, as strtod reads it.
    {
        static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        std::size_t i = 0;
        const bool negative = !text.empty() && text[0] == '-';
        if (negative) ++i;
        std::uint64_t digits = 0;
        int count = 0, decimals = 0;
        bool point = false, plain = true;
        const std::size_t firstDigit = i;
        for (; i < text.size() && plain; ++i) {
            const char c = text[i];
            if (c >= '0' && c <= '9') {
                digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
                ++count;
                if (point) ++decimals;
            } else if (c == '.' && !point && i > firstDigit && i + 1 < text.size()) {
                point = true;
            } else {
                plain = false;
            }
        }
        if (plain && count > 0 && count <= 15) {
            const double value = static_cast<double>(digits) / kPowers[decimals];
            return negative ? -value : value;
        }
    }
    // A plain decimal number, without the C library's
    // locale-aware path; anything else (a sign "+", blanks, hexadecimal,
    // trailing text) goes to strtod as before.
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc() && end == text.data() + text.size() && !text.empty()) return value;
    char small[64];
    std::string large;
    const char* start;
    if (text.size() < sizeof small) {
        std::memcpy(small, text.data(), text.size());
        small[text.size()] = '\0';
        start = small;
    } else {
        large.assign(text);
        start = large.c_str();
    }
    return std::strtod(start, nullptr);
}

std::uint32_t ConstantTable::Hash(std::string_view name) {
    std::uint32_t hash = 0;
    for (char c : name)
        hash = (hash + static_cast<std::uint32_t>(
                           static_cast<std::int32_t>(static_cast<signed char>(c)))) *
               4u;
    return hash;
}

const std::string* ConstantTable::Find(std::string_view name) const {
    if (!(mLengths & LengthBit(name.size()))) return nullptr;
    for (const Constant& constant : mBuckets[Hash(name) % kBuckets])
        if (constant.name == name) return &constant.value;
    return nullptr;
}

void ConstantTable::Add(std::string_view name, std::string_view value) {
    mBuckets[Hash(name) % kBuckets].push_back(Constant{std::string(name), std::string(value)});
    mLengths |= LengthBit(name.size());
    const unsigned char first = name.empty() ? 0 : static_cast<unsigned char>(name[0]);
    mFirsts[first / 64] |= std::uint64_t{1} << (first % 64);
    ++mSize;
}

void ConstantTable::Clear() {
    for (auto& bucket : mBuckets) bucket.clear();
    mLengths = 0;
    std::fill(std::begin(mFirsts), std::end(mFirsts), 0);
    mSize = 0;
}

DefinitionParser::DefinitionParser(std::vector<DInfo*>& table, std::string fileName,
                                   NameLookup lookup, files::MessageSink sink, Progress progress)
    : mTable(table),
      mFileName(std::move(fileName)),
      mLookup(std::move(lookup)),
      mSink(std::move(sink)),
      mProgress(std::move(progress)) {}

namespace {

// Counts the lines that start with '[' (units in brackets stand after a
// '=') and tells whether the text holds a zero byte; one pass of 16 bytes a
// step.
std::size_t CountHeaders(std::string_view text, bool& zero) {
    const char* const p = text.data();
    const std::size_t size = text.size();
    zero = false;
    if (size == 0) return 0;
    std::size_t count = p[0] == '[' ? 1 : 0;
    std::size_t i = 1;
#if defined(__SSE2__)
    const __m128i open = _mm_set1_epi8('['), feed = _mm_set1_epi8('\n'),
                  nothing = _mm_setzero_si128();
    __m128i zeros = nothing;
    for (; i + 16 <= size; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i - 1));
        zeros = _mm_or_si128(zeros, _mm_cmpeq_epi8(here, nothing));
        // A header is rare among 16 bytes: no popcount (not every x86-64 has one).
        for (auto found = static_cast<unsigned>(_mm_movemask_epi8(
                 _mm_and_si128(_mm_cmpeq_epi8(here, open), _mm_cmpeq_epi8(before, feed))));
             found; found &= found - 1)
            ++count;
    }
    zero = _mm_movemask_epi8(zeros) != 0;
#endif
    zero = zero || p[0] == '\0';
    for (; i < size; ++i) {
        if (p[i] == '[' && p[i - 1] == '\n') ++count;
        zero = zero || p[i] == '\0';
    }
    return count;
}

// Where the line feeds, '=' and blanks stand among the 32 bytes at p, one
// bit each (bit i for p[i]).
struct LineMasks {
    std::uint32_t feeds, equals, blanks;
};

inline LineMasks MasksAt(const char* p) {
#if defined(__SSE2__)
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    auto mask = [&](char c) {
        const __m128i wanted = _mm_set1_epi8(c);
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(low, wanted))) |
               static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(high, wanted))) << 16;
    };
    return {mask('\n'), mask('='), mask(' ')};
#else
    LineMasks masks{0, 0, 0};
    for (unsigned i = 0; i < 32; ++i) {
        masks.feeds |= std::uint32_t{p[i] == '\n'} << i;
        masks.equals |= std::uint32_t{p[i] == '='} << i;
        masks.blanks |= std::uint32_t{p[i] == ' '} << i;
    }
    return masks;
#endif
}

// The bits from bit on (bit < 32).
inline std::uint32_t From(unsigned bit) {
    return ~std::uint32_t{0} << bit;
}

}  // namespace

bool DefinitionParser::Parse(std::string_view text) {
    bool zeros = false;
    const std::size_t headers = CountHeaders(text, zeros);
    if (mUseBlock && !mBlock) {
        mBlockCapacity = headers;
        if (mBlockCapacity > 0)
            mBlock = DInfoRun(static_cast<DInfo*>(::operator new(mBlockCapacity * sizeof(DInfo))));
    }
    ResetRecord();
    if (zeros || mLineByLine) {
        files::ForEachLine(text, [this](unsigned number, std::string_view line) {
            Line(number, line);
            return !mStop;
        });
    } else {
        ScanLines(text);
    }
    mConstants.Clear();
    // An open constants section simply ends; an open record is closed.
    if (!mStop && mRecord.open) CloseRecord();
    return mClean;
}

void DefinitionParser::Error(std::uint8_t result, const char* caption, std::string text) {
    mClean = false;
    if (!mSink(files::LoadMessage{result, mLine, caption, std::move(text)})) mStop = true;
}

void DefinitionParser::ErrorAt(std::uint8_t result, const char* caption, std::string_view what) {
    Error(result, caption, Place(what));
}

void DefinitionParser::ErrorAt(std::uint8_t result, const char* caption, std::string_view first,
                               std::string_view second) {
    Error(result, caption,
          Format("%.*s %.*s\nFile : %s\nLine : %u", static_cast<int>(first.size()), first.data(),
                 static_cast<int>(second.size()), second.data(), mFileName.c_str(), mLine));
}

void DefinitionParser::NoticeNotValid(std::string_view value) {
    mNotices({0, mLine, "Unknown constant",
              Format("NotValid = %.*s is neither NO, a number nor a constant: the load reads 0",
                     static_cast<int>(value.size()), value.data())});
}

void DefinitionParser::ErrorHere(std::uint8_t result, const char* caption) {
    Error(result, caption, FileAndLine());
}

std::string DefinitionParser::Place(std::string_view what) const {
    return Format("%.*s\nFile : %s\nLine : %u", static_cast<int>(what.size()), what.data(),
                  mFileName.c_str(), mLine);
}

std::string DefinitionParser::FileAndLine() const {
    return Format("File : %s\nLine : %u", mFileName.c_str(), mLine);
}

// Inlined, as the line functions below: they run for every line of the file.
__attribute__((always_inline)) inline bool DefinitionParser::Resolve(
    std::string_view parameter, std::string_view& resolved) const {
    resolved = parameter;
    if (!parameter.empty() && ((parameter[0] >= '0' && parameter[0] <= '9') || parameter[0] == '-'))
        return true;
    if (!mConstants.MayHold(parameter)) return false;
    if (const std::string* value = mConstants.Find(parameter)) {
        resolved = *value;
        return true;
    }
    return false;
}

__attribute__((always_inline)) inline bool DefinitionParser::MustResolve(
    std::string_view parameter, std::string_view& resolved) {
    if (Resolve(parameter, resolved)) return true;
    ErrorAt(Daten::SyntaxError, "Constant not found !!", parameter);
    return false;
}

__attribute__((always_inline)) inline void DefinitionParser::Line(unsigned number,
                                                                  std::string_view line) {
    mLine = number;
    if (!line.empty() && line[0] == '[') {
        Header(line);
        return;
    }
    const void* found = std::memchr(line.data(), '=', line.size());
    if (!found) return;
    const char* const equals = static_cast<const char*>(found);
    const std::string_view keyword =
        Strip(std::string_view(line.data(), static_cast<std::size_t>(equals - line.data())));
    const char* at = equals + 1;
    const char* const end = line.data() + line.size();
    const std::string_view first = NextParameter(at, end);
    const std::string_view second = NextParameter(at, end);
    KeywordOrConstant(keyword, first, second);
}

__attribute__((always_inline)) inline void DefinitionParser::KeywordOrConstant(
    std::string_view keyword, std::string_view first, std::string_view second) {
    if (mConstantsOpen) {
        ConstantLine(keyword, first);
    } else if (mRecord.open) {
        KeywordLine(keyword, first, second);
    } else {
        ErrorHere(Daten::SyntaxError, "Handle not valid !!");
    }
}

void DefinitionParser::Header(std::string_view line) {
    mConstantsOpen = false;
    if (mRecord.open) {
        CloseRecord();
        if (mStop) return;
    }
    if (mRecordCounter % 50 == 0 && mProgress) mProgress(mRecordCounter);
    ++mRecordCounter;

    // The record is fresh here: closing a record resets it, and lines reach
    // it only while it is open. What the lint checks after a header it could
    // not open:
    auto openUnstored = [this] { mRecord.open = true; };
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) {
        Error(Daten::SyntaxError, "Syntax - Error !!",
              Format("] expected!!\nFile : %s\nLine : %u", mFileName.c_str(), mLine));
        openUnstored();
        return;
    }
    const std::string_view name = Strip(line.substr(1, close - 1));
    if (SameWord(name, "CONSTANTS")) {
        mConstantsOpen = true;
        mConstants.Clear();
        return;
    }
    // Registry names have at most 255 characters; a longer one is looked up
    // all the same, to be reported as unknown.
    char small[Handles::kMaxNameLength + 1];
    std::string large;
    const char* bare = small;
    if (name.size() < sizeof small) {
        files::CopyTerminated(small, name.data(), name.size());
    } else {
        large.assign(name);
        bare = large.c_str();
    }
    const std::uint16_t handle = mLookup ? mLookup(bare) : Handles::kNoHandle;
    if (handle == Handles::kNoHandle) {
        ErrorAt(Daten::HandleNotFound, "Handle not found !!", name);
        openUnstored();
        return;
    }
    if (handle < mTable.size() && mTable[handle] && mTable[handle]->mType != DInfo::NONE) {
        ErrorAt(Daten::HandleExists, "Handle already exists !!", name);
        openUnstored();
        return;
    }
    mRecord.open = true;
    mRecord.store = true;
    mRecord.handle = handle;
}

void DefinitionParser::ConstantLine(std::string_view name, std::string_view value) {
    if (name.empty() || value.empty()) return;
    if ((name[0] >= '0' && name[0] <= '9') || name[0] == '-') {
        ErrorAt(Daten::ParameterError, "First character 0..9 or - !!", name);
        return;
    }
    if (mConstants.Find(name)) {
        ErrorAt(Daten::KeyExists, "Parameter defined twice !!", name);
        return;
    }
    mConstants.Add(name, value);
}

__attribute__((always_inline)) inline DefinitionParser::Keyword DefinitionParser::FindKeyword(
    std::string_view word) {
    // By length first: a keyword line is matched with at most five words of
    // its length, each compared in one fixed-size step.
    const char* w = word.data();
    switch (word.size()) {
        case 3:
            if (Is(w, "Min")) return kMin;
            if (Is(w, "Max")) return kMax;
            break;
        case 4:
            if (Is(w, "Type")) return kType;
            if (Is(w, "Base")) return kBase;
            break;
        case 7:
            if (Is(w, "Default")) return kDefault;
            if (Is(w, "Visible")) return kVisible;
            if (Is(w, "Special")) return kSpecial;
            break;
        case 8:
            if (Is(w, "InchUnit")) return kInchUnit;
            if (Is(w, "TabIdent")) return kTabIdent;
            if (Is(w, "ZReverse")) return kZReverse;
            if (Is(w, "TabIndex")) return kTabIndex;
            if (Is(w, "NotValid")) return kNotValid;
            break;
        case 10:
            if (Is(w, "InchFormat")) return kInchFormat;
            if (Is(w, "MetricUnit")) return kMetricUnit;
            if (Is(w, "InchMetric")) return kInchMetric;
            if (Is(w, "UserFactor")) return kUserFactor;
            break;
        case 11:
            if (Is(w, "WriteDirect")) return kWriteDirect;
            if (Is(w, "TabParIdent")) return kTabParIdent;
            if (Is(w, "SwapBitmask")) return kSwapBitmask;
            break;
        case 12:
            if (Is(w, "MetricFormat")) return kMetricFormat;
            break;
        case 13:
            if (Is(w, "RevertBitmask")) return kRevertBitmask;
            break;
        default:
            break;
    }
    return kUnknownKeyword;
}

__attribute__((always_inline)) inline void DefinitionParser::KeywordLine(std::string_view keyword,
                                                                         std::string_view first,
                                                                         std::string_view second) {
    const Keyword found = FindKeyword(keyword);
    if (found == kUnknownKeyword) {
        ErrorAt(Daten::UnknownKey, "Unknown keyword !!", keyword);
        return;
    }
    if (mRecord.Given(found) && kKeywords[found].twiceIsError) {
        ErrorAt(Daten::KeyExists, "Parameter defined twice !!", keyword);
        return;
    }
    mRecord.given |= 1u << found;
    mRecord.failed &= ~(1u << found);
    if (!ApplyKeyword(found, keyword, first, second)) mRecord.failed |= 1u << found;
}

bool DefinitionParser::YesNo(std::string_view first, char& flag) {
    std::string_view value;
    Resolve(first, value);
    if (SameWord(value, "YES")) {
        flag = 1;
    } else if (SameWord(value, "NO")) {
        flag = 0;
    } else {
        ErrorAt(Daten::ParameterError, "Wrong parameter (YES / NO) !!", value);
        return false;
    }
    return true;
}

__attribute__((always_inline)) inline bool DefinitionParser::ApplyKeyword(Keyword keyword,
                                                                          std::string_view name,
                                                                          std::string_view first,
                                                                          std::string_view second) {
    Record& r = mRecord;
    std::string_view value;
    std::string_view other;

    switch (keyword) {
        case kMin:
        case kMax:
        case kDefault: {
            if (r.type == DInfo::NONE) {
                // After a Type line that was an error, the missing type is no news.
                if (!r.Given(kType)) ErrorHere(Daten::SyntaxError, "Type not defined !!");
                return false;
            }
            if (!MustResolve(first, value)) return false;
            if (r.type == DInfo::REAL) {
                const double number = ParseDouble(value);
                (keyword == kMin ? r.realMin : keyword == kMax ? r.realMax : r.realDef) = number;
                return true;
            }
            const std::int32_t number = ReadLong(value);
            if (keyword == kMin) {
                const bool below =
                    ((r.type == DInfo::BYTE || r.type == DInfo::WORD) && number < 0) ||
                    ((r.type == DInfo::INTEGER || r.type == DInfo::QZSHORTREAL) &&
                     number < -32768) ||
                    (r.type == DInfo::SHORTINT && number < -128);
                if (below) {
                    ErrorAt(Daten::ParameterError, "Minimum out of bounds !!", value);
                    return false;
                }
                r.min = number;
            } else if (keyword == kMax) {
                const bool above = (r.type == DInfo::BYTE && number > 255) ||
                                   (r.type == DInfo::WORD && number > 65535) ||
                                   ((r.type == DInfo::INTEGER || r.type == DInfo::QZSHORTREAL) &&
                                    number > 32767) ||
                                   (r.type == DInfo::SHORTINT && number > 127);
                if (above) {
                    ErrorAt(Daten::ParameterError, "Maximum out of bounds !!", value);
                    return false;
                }
                r.max = number;
            } else {
                r.def = number;
            }
            return true;
        }
        case kType: {
            Resolve(first, value);
            const DInfo::DType type = FindType(value);
            if (type == DInfo::NONE) {
                ErrorAt(Daten::UnknownParameter, "Unknown parameter !!", value);
                return false;
            }
            if (type == DInfo::STRING || type == DInfo::BITMASK) {
                if (!MustResolve(second, other)) return false;
                const std::int32_t length = ReadLong(other);
                // A negative length or one beyond 16 bits would wrap into a
                // different size; it is refused like a length of 0.
                if (length <= 0 || length > 0xFFFF) {
                    ErrorAt(Daten::ParameterError, "Parameter error !!", other);
                    return false;
                }
                r.length = static_cast<std::uint16_t>(length);
            }
            r.type = type;
            return true;
        }
        case kMetricFormat:
        case kInchFormat: {
            if (!MustResolve(first, value)) return false;
            if (!MustResolve(second, other)) return false;
            const auto width = static_cast<unsigned char>(ReadLong(value));
            const auto decimals = static_cast<unsigned char>(ReadLong(other));
            if (decimals >= width) {
                const char* caption = "2nd parameter is greater than 1st parameter !!";
                if (keyword == kMetricFormat)
                    ErrorAt(Daten::ParameterError, caption, name);
                else
                    ErrorAt(Daten::ParameterError, caption, value, other);
                return false;
            }
            if (keyword == kMetricFormat) {
                r.draft.mMetricWidth = width;
                r.draft.mMetricDecimals = decimals;
            } else {
                r.draft.mInchWidth = width;
                r.draft.mInchDecimals = decimals;
            }
            return true;
        }
        case kUserFactor:
            if (!MustResolve(first, value)) return false;
            r.draft.mUserFactor = ParseDouble(value);
            return true;
        case kWriteDirect:
            Resolve(first, value);
            if (SameWord(value, "YES")) {
                r.draft.mWriteDirect = 1;
            } else if (SameWord(value, "NO") || SameWord(value, "NO,TPara")) {
                r.draft.mWriteDirect = 0;
                r.draft.mNotDirect = DInfo::TPara;
            } else if (SameWord(value, "NO,CommFlag")) {
                r.draft.mWriteDirect = 0;
                r.draft.mNotDirect = DInfo::CommFlag;
            } else if (SameWord(value, "NO,CommValue")) {
                r.draft.mWriteDirect = 0;
                r.draft.mNotDirect = DInfo::CommValue;
            } else {
                ErrorAt(Daten::ParameterError, "Wrong parameter (YES / NO) !!", value);
                return false;
            }
            return true;
        case kInchMetric:
            Resolve(first, value);
            if (SameWord(value, "YES") || SameWord(value, "YES,1")) {
                r.draft.mInchMetric = 1;
            } else if (SameWord(value, "YES,2")) {
                r.draft.mInchMetric = 2;
            } else if (SameWord(value, "NO")) {
                r.draft.mInchMetric = 0;
            } else {
                ErrorAt(Daten::ParameterError, "Wrong parameter (YES / NO) !!", value);
                return false;
            }
            return true;
        case kVisible:
            return YesNo(first, r.draft.mVisible);
        case kSwapBitmask:
            return YesNo(first, r.draft.mSwapBitmask);
        case kRevertBitmask:
            return YesNo(first, r.draft.mRevertBitmask);
        case kZReverse:
            return YesNo(first, r.draft.mZReverse);
        case kMetricUnit:
            Resolve(first, value);
            CopyCut(r.draft.mszMetricUnit, value);
            return true;
        case kInchUnit:
            Resolve(first, value);
            CopyCut(r.draft.mszInchUnit, value);
            return true;
        case kTabIdent:
            Resolve(first, value);
            CopyCut(r.draft.mszTabIdent, value);
            return true;
        case kTabIndex:
            Resolve(first, value);
            CopyCut(r.draft.mszTabIndex, value);
            return true;
        case kTabParIdent:
            Resolve(first, value);
            CopyCut(r.draft.mszTabParIdent, value);
            return true;
        case kNotValid:
            if (!Resolve(first, value) && !SameWord(value, "NO") && mNotices) NoticeNotValid(value);
            if (SameWord(value, "NO")) {
                r.draft.mNotValid = 0;
                r.draft.mNotValidValue = 0;
            } else {
                r.draft.mNotValid = 1;
                r.draft.mNotValidValue = ReadLong(value);
            }
            return true;
        case kBase:
            Resolve(first, value);
            if (SameWord(value, "Dec")) {
                r.draft.mBase = 10;
            } else if (SameWord(value, "Hex")) {
                r.draft.mBase = 16;
            } else if (SameWord(value, "Bin")) {
                r.draft.mBase = 2;
            } else {
                ErrorAt(Daten::ParameterError, "Parameter error !!", name);
                return false;
            }
            return true;
        case kSpecial:
        case kUnknownKeyword:
            return true;
    }
    return true;
}

const DefinitionParser::Record& DefinitionParser::FreshRecord() {
    static const Record fresh = [] {
        Record record;
        DInfo& d = record.draft;
        // What a record holds before its keyword lines: the empty record's
        // fields but for these, and limits all zero bytes (an integer type
        // sets only their low 4 bytes).
        d.SetRealMinMaxDef(0.0, 0.0, 0.0);
        d.mInchMetric = 1;
        d.mVisible = 1;
        d.mBase = 10;
        d.mUserFactor = 1.0;
        return record;
    }();
    return fresh;
}

void DefinitionParser::ResetRecord() {
    mRecord = FreshRecord();
}

bool DefinitionParser::InBlock(const DInfo* record) const {
    const DInfo* first = mBlock.get();
    // Compared as addresses: the record may lie in no block at all.
    const auto at = reinterpret_cast<std::uintptr_t>(record);
    const auto begin = reinterpret_cast<std::uintptr_t>(first);
    return first && at >= begin && at < begin + mBlock.get_deleter().count * sizeof(DInfo);
}

template <typename... Args>
DInfo* DefinitionParser::NewRecord(Args&&... args) {
    std::size_t& built = mBlock.get_deleter().count;
    if (built < mBlockCapacity) {
        DInfo* record = new (mBlock.get() + built) DInfo(std::forward<Args>(args)...);
        ++built;
        return record;
    }
    return new DInfo(std::forward<Args>(args)...);
}

void DefinitionParser::StoreRecord(DInfo* record) {
    if (mTable.size() == mRecord.handle) {
        mTable.push_back(record);
    } else {
        if (!InBlock(mTable[mRecord.handle])) delete mTable[mRecord.handle];
        mTable[mRecord.handle] = record;
    }
    if (mRecord.handle > mHighestHandle) mHighestHandle = mRecord.handle;
}

void DefinitionParser::CloseRecord() {
    // Closing reports at the current line: the next header, or the last line.
    Record& c = mRecord;
    auto finish = [this] { ResetRecord(); };
    // A record whose header was an error has had its lines checked; what it
    // lacks as a whole would only repeat that error.
    if (!c.store) {
        finish();
        return;
    }
    // Empty records up to the handle; its own slot is filled when the record
    // is stored (a record that fails is never read: the parse has failed).
    while (mTable.size() < c.handle) mTable.push_back(NewRecord());

    if (c.type == DInfo::NONE) {
        if (!c.Given(kType)) ErrorHere(Daten::SyntaxError, "Type not defined !!");
        finish();
        return;
    }
    if (IsNumericType(c.type)) {
        const bool real = c.type == DInfo::REAL;
        if (!c.Has(kMin)) {
            c.min = LowestValue(c.type);
            c.realMin = kRealLowest;
        }
        if (!c.Has(kMax)) {
            c.max = HighestValue(c.type);
            c.realMax = kRealHighest;
        }
        const bool limitsFailed = c.Failed(kMin) || c.Failed(kMax) || c.Failed(kDefault);
        if (c.Has(kDefault) && !limitsFailed) {
            const bool outside = real ? (c.realDef < c.realMin || c.realDef > c.realMax)
                                      : (c.def < c.min || c.def > c.max);
            if (outside) {
                ErrorHere(Daten::ParameterError, "Default out of bounds !!");
                finish();
                return;
            }
        }
        if (!c.Has(kDefault)) {
            c.def = kNoDefault;
            c.realDef = static_cast<double>(kNoDefault);
        }
        const bool formatsFailed =
            c.Failed(kMetricFormat) || c.Failed(kInchFormat) || c.Failed(kInchMetric);
        if (!formatsFailed &&
            (!c.Has(kMetricFormat) || (!c.Has(kInchFormat) && c.draft.mInchMetric != 0))) {
            Error(Daten::SyntaxError, "Min, Max, MetricFormat or InchFormat not defined !!",
                  FileAndLine());
            finish();
            return;
        }
        // The draft holds what the keyword lines set; what the record's type
        // decides is set here, as the numeric constructors set it.
        DInfo& d = c.draft;
        d.mType = c.type;
        d.mSwapBitmask = d.mRevertBitmask = 0;
        if (real) {
            d.mLength = 8;
            d.SetRealMinMaxDef(c.realMin, c.realMax, c.realDef);
            d.mNotValid = 0;
            d.mNotValidValue = 0;
            d.mZReverse = 0;
        } else {
            d.mLength = DInfo::NumericLength(c.type);
            d.SetMinMaxDef(c.min, c.max, c.def);  // the high bytes stay clear
        }
        StoreRecord(NewRecord(d));
    } else if (c.type == DInfo::STRING || c.type == DInfo::BITMASK) {
        if (c.length == 0) {
            if (!c.Failed(kType)) ErrorHere(Daten::SyntaxError, "Length not defined !!");
            finish();
            return;
        }
        const DInfo& d = c.draft;
        StoreRecord(NewRecord(c.type, c.length, d.mNotDirect, d.mWriteDirect, d.mVisible,
                              d.mSwapBitmask, d.mRevertBitmask));
    }
    finish();
}

void DefinitionParser::ScanLines(std::string_view text) {
    // Each line is classified from the masks of the 32 bytes where it
    // starts: its end, its first '=' and the words around it come from bit
    // arithmetic, with no per-byte loop. A line of 32 bytes or more (a long
    // remark, say) goes to Line. The text holds no zero byte here.
    const char* at = text.data();
    const char* const end = at + text.size();
    unsigned number = 0;
    char tail[32];
    while (at < end && !mStop) {
        LineMasks masks;
        if (end - at >= 32) {
            masks = MasksAt(at);
        } else {
            // The last bytes, with line feeds after the end: the last line
            // ends with the text, as ForEachLine ends it.
            const auto left = static_cast<std::size_t>(end - at);
            std::memcpy(tail, at, left);
            std::memset(tail + left, '\n', sizeof tail - left);
            masks = MasksAt(tail);
        }
        if (masks.feeds == 0) {
            const void* feed = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
            const char* stop = feed ? static_cast<const char*>(feed) : end;
            std::string_view line(at, static_cast<std::size_t>(stop - at));
            if (line.back() == '\r') line.remove_suffix(1);
            Line(++number, line);
            at = stop < end ? stop + 1 : end;
            continue;
        }
        const auto stop = static_cast<unsigned>(std::countr_zero(masks.feeds));
        const char* const line = at;
        at = end - at > stop ? at + stop + 1 : end;
        unsigned length = stop;
        if (length > 0 && line[length - 1] == '\r') --length;
        mLine = ++number;
        if (length > 0 && line[0] == '[') {
            Header(std::string_view(line, length));
            continue;
        }
        const std::uint32_t inLine = ~From(length);
        const std::uint32_t equals = masks.equals & inLine;
        if (!equals) continue;  // a remark
        const auto equal = static_cast<unsigned>(std::countr_zero(equals));
        const std::uint32_t words = ~masks.blanks & inLine;  // bit 31 is clear: length < 32
        auto view = [line](unsigned from, unsigned to) {
            return std::string_view(line + from, to - from);
        };
        const std::uint32_t key = words & ~From(equal);
        const std::string_view keyword =
            key ? view(static_cast<unsigned>(std::countr_zero(key)),
                       32u - static_cast<unsigned>(std::countl_zero(key)))
                : view(equal, equal);
        // The words after the '=': the first two runs of non-blanks.
        std::string_view first = view(length, length), second = first;
        const std::uint32_t rest = words & From(equal + 1);
        if (rest) {
            const auto firstStart = static_cast<unsigned>(std::countr_zero(rest));
            const auto firstEnd =
                static_cast<unsigned>(std::countr_zero(~words & From(firstStart)));
            first = view(firstStart, firstEnd);
            const std::uint32_t after = rest & From(firstEnd);
            if (after) {
                const auto secondStart = static_cast<unsigned>(std::countr_zero(after));
                second = view(secondStart,
                              static_cast<unsigned>(std::countr_zero(~words & From(secondStart))));
            }
        }
        KeywordOrConstant(keyword, first, second);
    }
}

}  // namespace korvex::definitions
