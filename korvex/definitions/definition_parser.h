// The definition file parser, shared by the load of a Daten (stop at the
// first error) and the lint (report every error and go on).
//
// Definition file grammar, line by line:
//   [NAME]           opens the record of handle NAME ("[CONSTANTS]": the
//                    constants section, which empties the constant table)
//   KEYWORD = P1 P2  a keyword line (a line without "=" is a remark)
// Keywords are compared with case, parameter words (YES, NO, Dec...)
// without. A parameter that does not start with a digit or "-" is looked up
// among the constants and replaced by its text when found.
//
// After an error the lint goes on: a header it could not open still opens a
// record whose keyword lines are checked, but which is neither checked as a
// whole nor stored; and a check that would only repeat an earlier error of
// the same record (a missing type after an unknown type word, say) is not
// made.
#ifndef KORVEX_DEFINITIONS_DEFINITION_PARSER_H_
#define KORVEX_DEFINITIONS_DEFINITION_PARSER_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "korvex/definitions/dinfo.h"
#include "korvex/handles/cache_file.h"

namespace korvex::definitions {

// Constants of the definition file: 111 buckets, the bucket being the name
// hash modulo 111; names match exactly.
class ConstantTable {
  public:
    static constexpr std::uint32_t kBuckets = 111;
    // From 0, for each character taken as signed 8 bit, add its code and
    // multiply by 4 (32-bit wrapping).
    static std::uint32_t Hash(std::string_view name);

    // False when no constant has the name's length and first character (most
    // parameters are plain words such as YES or a unit): then Find answers
    // nullptr.
    bool MayHold(std::string_view name) const {
        if (!(mLengths & LengthBit(name.size()))) return false;
        const unsigned char first = name.empty() ? 0 : static_cast<unsigned char>(name[0]);
        return (mFirsts[first / 64] >> (first % 64)) & 1u;
    }
    // The constant's text, or nullptr.
    const std::string* Find(std::string_view name) const;
    // Adds without looking for duplicates (callers test first).
    void Add(std::string_view name, std::string_view value);
    void Clear();
    std::size_t Size() const { return mSize; }

  private:
    struct Constant {
        std::string name;
        std::string value;
    };
    // Bit n is set when some constant's name has n characters (names of 63
    // or more share bit 63): most parameters are plain words such as YES or
    // a unit, and this answers "no such constant" without a search.
    static std::uint64_t LengthBit(std::size_t length) {
        return std::uint64_t{1} << (length < 63 ? length : 63);
    }
    std::array<std::vector<Constant>, kBuckets> mBuckets;
    std::uint64_t mLengths = 0;
    std::uint64_t mFirsts[4] = {};  // bit c: some name starts with byte c ("" with 0)
    std::size_t mSize = 0;
};

class DefinitionParser {
  public:
    // The handle of a header's name, 0xFFFF when there is none.
    using NameLookup = std::function<std::uint16_t(const char* name)>;
    // Told the count of headers met so far at every multiple of 50 (the
    // progress shown steps by 100, 250 or 500).
    using Progress = std::function<void(std::uint16_t count)>;

    // table receives the records (dense, by handle; slots without a record
    // hold an empty DInfo) and must hold one empty record at handle 0 when
    // parsing starts. The parser does not own the records. fileName is the
    // name the messages give.
    DefinitionParser(std::vector<DInfo*>& table, std::string fileName, NameLookup lookup,
                     files::MessageSink sink, Progress progress = {});
    DefinitionParser(const DefinitionParser&) = delete;
    DefinitionParser& operator=(const DefinitionParser&) = delete;

    // Parses the whole text; true when no error was reported.
    bool Parse(std::string_view text);
    // Makes Parse build the records, in the order they are made, in one block
    // of as many records as the text has headers, which the caller takes with
    // TakeRecordBlock (before it frees the table's records: the block owns the
    // ones in it); records beyond it (empty ones for handles without a
    // header) are allocated one by one.
    void UseRecordBlock() { mUseBlock = true; }
    DInfoRun TakeRecordBlock() { return std::move(mBlock); }
    // The highest handle that received a record (0 when none did).
    std::uint16_t HighestHandle() const { return mHighestHandle; }
    // Receives what the load accepts without a word but a reader would not
    // mean (a NotValid value that is neither NO, a number nor a constant);
    // the lint reports it.
    void SetNoticeSink(files::MessageSink notices) { mNotices = std::move(notices); }
    // Makes Parse split every line on its own, as it does for a text that
    // holds a zero byte: the plain road the scanner must agree with.
    void SplitLineByLine() { mLineByLine = true; }

  private:
    files::MessageSink mNotices;
    enum Keyword : int {
        kMin,
        kMax,
        kDefault,
        kType,
        kMetricFormat,
        kInchFormat,
        kUserFactor,
        kWriteDirect,
        kInchMetric,
        kVisible,
        kSwapBitmask,
        kRevertBitmask,
        kZReverse,
        kMetricUnit,
        kInchUnit,
        kTabIdent,
        kTabIndex,
        kTabParIdent,
        kNotValid,
        kBase,
        kSpecial,
        kKeywordCount,
        kUnknownKeyword = kKeywordCount
    };

    struct Record {
        bool open = false;
        bool store = false;  // false for a header the lint could not open
        std::uint16_t handle = 0;
        DInfo::DType type = DInfo::NONE;
        std::uint16_t length = 0;
        std::int32_t min = 0, max = 0, def = 0;
        double realMin = 0, realMax = 0, realDef = 0;
        // Formats, flags, texts, not-valid value and base as the keyword
        // lines set them; the numeric records are copies of it.
        DInfo draft;
        std::uint32_t given = 0;   // keywords met (for "defined twice")
        std::uint32_t failed = 0;  // keywords whose line was an error
        bool Given(Keyword k) const { return given & (1u << k); }
        bool Failed(Keyword k) const { return failed & (1u << k); }
        bool Has(Keyword k) const { return Given(k) && !Failed(k); }
    };

    static Keyword FindKeyword(std::string_view word);
    // Lines split by the 32-byte scanner; longer lines go to Line.
    void ScanLines(std::string_view text);
    void Line(unsigned number, std::string_view line);
    void KeywordOrConstant(std::string_view keyword, std::string_view first,
                           std::string_view second);
    void Header(std::string_view line);
    void ConstantLine(std::string_view keyword, std::string_view value);
    void KeywordLine(std::string_view keyword, std::string_view first, std::string_view second);
    // Answers false after reporting the error (or silently when it only
    // follows an earlier error of the record).
    bool ApplyKeyword(Keyword keyword, std::string_view name, std::string_view first,
                      std::string_view second);
    // A YES or NO parameter into flag; false after reporting anything else.
    bool YesNo(std::string_view first, char& flag);
    void CloseRecord();
    void ResetRecord();
    static const Record& FreshRecord();
    void StoreRecord(DInfo* record);
    template <typename... Args>
    DInfo* NewRecord(Args&&... args);
    bool InBlock(const DInfo* record) const;

    // Resolves a parameter; false when it had to be a constant and is none.
    inline bool Resolve(std::string_view parameter, std::string_view& resolved) const;
    bool MustResolve(std::string_view parameter, std::string_view& resolved);

    void Error(std::uint8_t result, const char* caption, std::string text);
    // Error with Place(what), and with FileAndLine(): kept out of line, so
    // that the lines without an error build no message text.
    [[gnu::cold, gnu::noinline]] void ErrorAt(std::uint8_t result, const char* caption,
                                              std::string_view what);
    [[gnu::cold, gnu::noinline]] void ErrorHere(std::uint8_t result, const char* caption);
    // Error with "FIRST SECOND" in place of Place's what.
    [[gnu::cold, gnu::noinline]] void ErrorAt(std::uint8_t result, const char* caption,
                                              std::string_view first, std::string_view second);
    [[gnu::cold, gnu::noinline]] void NoticeNotValid(std::string_view value);
    // "%s\nFile : %s\nLine : %u" with what, the file and the line.
    std::string Place(std::string_view what) const;
    // "File : %s\nLine : %u".
    std::string FileAndLine() const;

    std::vector<DInfo*>& mTable;
    DInfoRun mBlock;
    std::size_t mBlockCapacity = 0;
    bool mUseBlock = false;
    std::string mFileName;
    NameLookup mLookup;
    files::MessageSink mSink;
    Progress mProgress;

    ConstantTable mConstants;
    bool mConstantsOpen = false;
    Record mRecord;
    unsigned mLine = 0;
    std::uint16_t mRecordCounter = 0;
    std::uint16_t mHighestHandle = 0;
    bool mClean = true;
    bool mStop = false;

    bool mLineByLine = false;
};

// Reads a signed decimal integer as the C library's atol does on a 32-bit
// long: leading blanks, a sign, digits up to the first other character,
// saturating at the limits.
std::int32_t ParseLong(std::string_view text);
// Reads a decimal fraction as atof does (0.0 when there is none).
double ParseDouble(std::string_view text);

}  // namespace korvex::definitions

#endif  // KORVEX_DEFINITIONS_DEFINITION_PARSER_H_
