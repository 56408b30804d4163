// Loading of the registry from the handle file and its cache.
#include "korvex/handles/handle_file.h"

#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "korvex/coding.h"
#include "korvex/handles/handles.h"
#include "korvex/handles/name_hash.h"
#include "korvex/korvex.h"

namespace korvex::files {

namespace {

bool IsBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}

// [begin, end) without the blanks and tabs at either end.
std::string_view StrippedName(const char* begin, const char* end) {
    while (begin < end && IsBlankOrTab(*begin)) ++begin;
    while (end > begin && IsBlankOrTab(end[-1])) --end;
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

// Up to eight leading digits of the eight bytes at at: their count and
// value, without a loop over the characters. Little-endian hosts only.
inline std::uint32_t LeadingDigits(const char* at, std::uint32_t& value) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x80 * kOnes;
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    const std::uint64_t low7 = word & (0x7F * kOnes);
    const std::uint64_t atLeast0 = low7 + (0x80 - '0') * kOnes;
    const std::uint64_t above9 = low7 + (0x80 - '9' - 1) * kOnes;
    const std::uint64_t digit = atLeast0 & ~above9 & ~word & kHigh;
    const std::uint64_t other = ~digit & kHigh;
    const std::uint32_t count =
        other ? static_cast<std::uint32_t>(std::countr_zero(other)) / 8 : 8;
    if (count == 0) {
        value = 0;
        return 0;
    }
    // The digits to the top bytes (the last one lowest in value), zeros
    // before them; then pairs, quads and halves combined.
    std::uint64_t digits = ((word - '0' * kOnes) & (0x0F * kOnes)) << (8 * (8 - count));
    digits = (digits * 2561) >> 8 & 0x00FF00FF00FF00FFull;
    digits = (digits * 6553601) >> 16 & 0x0000FFFF0000FFFFull;
    value = static_cast<std::uint32_t>((digits * 42949672960001ull) >> 32);
    return count;
}

// The number after an "=" at at (the text ending at end): blanks and tabs,
// a sign, digits up to the first other character. It is read as a 32-bit long
// (stopping at its limits, as atol does); of that, the low 16 bits are the
// handle.
[[gnu::always_inline]] inline std::uint16_t NumberAfterEquals(const char* at, const char* end) {
    while (at < end && IsBlankOrTab(*at)) ++at;
    bool negative = false;
    if (at < end && (*at == '-' || *at == '+')) negative = *at++ == '-';
    const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
    std::int64_t value = 0;
    if (std::endian::native == std::endian::little && end - at >= 8) {
        // Eight digits stay below the limit.
        std::uint32_t leading = 0;
        const std::uint32_t count = LeadingDigits(at, leading);
        value = leading;
        at = count < 8 ? end : at + 8;
    }
    for (; at < end && static_cast<unsigned char>(*at - '0') <= 9; ++at) {
        value = value * 10 + (*at - '0');
        if (value > limit) value = limit;
    }
    if (negative) value = -value;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}

// One bit for each of the 64 bytes at at that is a line feed, "=", ";" or
// "/": all the entry scan has to stop at.
std::uint64_t StopBits(const char* at) {
#if defined(__SSE2__)
    const __m128i feed = _mm_set1_epi8('\n');
    const __m128i equals = _mm_set1_epi8('=');
    const __m128i semicolon = _mm_set1_epi8(';');
    const __m128i slash = _mm_set1_epi8('/');
    std::uint64_t bits = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * k));
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, feed), _mm_cmpeq_epi8(bytes, equals)),
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, semicolon), _mm_cmpeq_epi8(bytes, slash)));
        bits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hits))} << (16 * k);
    }
    return bits;
#else
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kLow7 = 0x7F * kOnes;
    // 0x80 in each byte of word that is zero (exact, no carries between bytes).
    const auto zeroBytes = [](std::uint64_t word) {
        return ~(((word & kLow7) + kLow7) | word | kLow7);
    };
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) {
        std::uint64_t word;
        std::memcpy(&word, at + 8 * k, 8);
        const std::uint64_t hits = zeroBytes(word ^ ('\n' * kOnes)) | zeroBytes(word ^ ('=' * kOnes)) |
                                   zeroBytes(word ^ (';' * kOnes)) | zeroBytes(word ^ ('/' * kOnes));
        // The high bit of the i-th byte in memory to bit i.
        for (int i = 0; i < 8; ++i) {
            const int high = std::endian::native == std::endian::little ? 8 * i + 7 : 63 - 8 * i;
            bits |= ((hits >> high) & 1u) << (8 * k + i);
        }
    }
    return bits;
#endif
}

// Hands every entry line of text to onEntry(lineNumber, name, number), in
// order, as ForEachLine and ParseHandleLine would find them; onEntry answers
// false to stop. The bytes are looked at 64 at a time for the few that
// matter, so a line costs about as much as the stops it holds. A text with a
// zero byte, where lines end early, takes the line-by-line road.
template <typename OnEntry>
void ForEachEntry(std::string_view text, OnEntry&& onEntry) {
    if (text.find('\0') != std::string_view::npos) {
        ForEachLine(text, [&](unsigned lineNumber, std::string_view line) {
            std::string_view name;
            std::uint16_t number = 0;
            if (ParseHandleLine(line, name, number) == HandleLineKind::Skipped) return true;
            return onEntry(lineNumber, name, number);
        });
        return;
    }
    // A carriage return before a line feed never matters here: it can only
    // follow the "=" of its line, and ends the number as the feed would.
    const char* const data = text.data();
    const std::size_t size = text.size();
    unsigned lineNumber = 1;
    std::size_t lineStart = 0;
    bool seeking = true;  // no "=" nor remark on the current line yet
    for (std::size_t base = 0; base < size; base += 64) {
        std::uint64_t bits;
        if (size - base >= 64) {
            bits = StopBits(data + base);
        } else {
            char tail[64] = {};
            std::memcpy(tail, data + base, size - base);
            bits = StopBits(tail);
        }
        for (; bits != 0; bits &= bits - 1) {
            const std::size_t at = base + static_cast<std::size_t>(std::countr_zero(bits));
            const char c = data[at];
            if (c == '\n') {
                ++lineNumber;
                lineStart = at + 1;
                seeking = true;
            } else if (seeking) {
                if (c == '=') {
                    seeking = false;
                    if (!onEntry(lineNumber, StrippedName(data + lineStart, data + at),
                                 NumberAfterEquals(data + at + 1, data + size)))
                        return;
                } else if (c == ';' || (at + 1 < size && data[at + 1] == '/')) {
                    seeking = false;
                }
            }
        }
    }
}

// The errors of an entry line, each to sink (kept out of the scan's way).
// Answers whether to go on reading.
[[gnu::noinline, gnu::cold]] bool ReportEntry(const MessageSink& sink, unsigned lineNumber,
                                              std::string_view name, std::uint16_t number,
                                              bool numberTwice, bool nameTwice) {
    bool goOn = true;
    auto report = [&](std::uint8_t result, const char* caption, std::string message) {
        goOn = sink(LoadMessage{result, lineNumber, caption, std::move(message)}) && goOn;
    };
    if (name.empty()) {
        report(Handles::EmptyName, "Syntax - Error in Handle - File !!",
               Format("Line : %u", lineNumber));
        return goOn;
    }
    if (name.size() > Handles::kMaxNameLength) {
        // The cache keeps names of at most 255 bytes; a longer one is refused
        // here rather than cut into a different name.
        report(Handles::EmptyName, "Syntax - Error in Handle - File !!",
               Format("Line : %u\nName longer than %zu characters", lineNumber,
                      Handles::kMaxNameLength));
        return goOn;
    }
    // Both duplicate checks are made: a line can repeat a number and a name.
    if (numberTwice)
        report(Handles::NumberTwice, "Handle already exists !!",
               Format("Line : %u\nHandle : %u\n", lineNumber, static_cast<unsigned>(number)));
    if (nameTwice)
        report(Handles::NameTwice, "Syntax - Error in Handle - File !!",
               Format("Line : %u\nName : %.*s", lineNumber, static_cast<int>(name.size()),
                      name.data()));
    return goOn;
}

// The checks of every entry against the entries accepted before it. Table
// answers HasNumber(number) and HasName(name), then takes AddLast(name,
// number) for the name it was last asked about; progress(count) follows
// every entry added.
template <typename Table, typename Progress>
bool CheckEntries(std::string_view text, Table& table, const MessageSink& sink,
                  Progress&& progress) {
    bool clean = true;
    std::uint32_t count = 0;
    ForEachEntry(text, [&](unsigned lineNumber, std::string_view name, std::uint16_t number) {
        if (name.empty() || name.size() > Handles::kMaxNameLength) [[unlikely]] {
            clean = false;
            return ReportEntry(sink, lineNumber, name, number, false, false);
        }
        const bool numberTwice = table.HasNumber(number);
        const bool nameTwice = table.HasName(name);
        if (numberTwice || nameTwice) [[unlikely]] {
            clean = false;
            return ReportEntry(sink, lineNumber, name, number, numberTwice, nameTwice);
        }
        if (!table.AddLast(name, number)) [[unlikely]] {
            clean = false;
            return false;
        }
        progress(++count);
        return true;
    });
    return clean;
}

// A HandleNameTable (names as zero-terminated texts) behind the checks.
class TerminatedNames {
  public:
    explicit TerminatedNames(HandleNameTable& table) : mTable(table) {}
    bool HasNumber(std::uint16_t number) { return mTable.HasNumber(number); }
    bool HasName(std::string_view name) {
        CopyTerminated(mBare, name.data(), name.size());
        return mTable.HasName(mBare);
    }
    bool AddLast(std::string_view, std::uint16_t number) { return mTable.Add(mBare, number); }

  private:
    HandleNameTable& mTable;
    char mBare[Handles::kMaxNameLength + 1];
};

}  // namespace

HandleLineKind ParseHandleLine(std::string_view line, std::string_view& name,
                               std::uint16_t& number) {
    // The first "=" counts unless a remark starts before it; the number that
    // follows ends at the first character that is no digit, so a remark after
    // the "=" needs no search of its own.
    const void* found = std::memchr(line.data(), '=', line.size());
    if (!found) return HandleLineKind::Skipped;
    const char* equals = static_cast<const char*>(found);
    for (const char* at = line.data(); at < equals; ++at) {
        if (*at == ';' || (at[0] == '/' && at[1] == '/')) return HandleLineKind::Skipped;
    }
    name = StrippedName(line.data(), equals);
    number = NumberAfterEquals(equals + 1, line.data() + line.size());
    return HandleLineKind::Entry;
}

bool CheckHandleFile(std::string_view text, HandleNameTable& table, const MessageSink& sink,
                     const std::function<void(std::uint32_t count)>& progress) {
    TerminatedNames names(table);
    return CheckEntries(text, names, sink, [&progress](std::uint32_t count) {
        if (progress) progress(count);
    });
}

}  // namespace korvex::files

namespace {

using namespace korvex::files;

bool gLoadedFromCache = false;
bool gCacheUnwritten = false;
// Stamp of the handle cache, taken whenever it was read or written.
std::uint32_t gHandleCacheTime = 0;

// The entries of a handle file as the load checks them, in file order, with
// the duplicate checks run against the entries accepted so far rather than
// the registry: the registry is filled once, from the cache's order. Names
// stay where they are in the file's text; each is hashed once, for this
// table and the registry.
class FileEntries {
  public:
    explicit FileEntries(std::size_t textSize) {
        // Room at half load for an entry every 48 bytes (a name, a number
        // and a remark): most files need no growing or grow once, and the
        // table stays small enough for the caches.
        std::size_t slots = 1024;
        while (slots < textSize / 24) slots *= 2;
        mSlots.assign(slots, Slot{});
        mEntries.reserve(slots / 2);
    }

    bool HasNumber(std::uint16_t number) const {
        return (mNumbers[number / 64] >> (number % 64)) & 1u;
    }
    // Also keeps the name's hash and the slot where it would go, for AddLast.
    bool HasName(std::string_view name) {
        if ((mEntries.size() + 1) * 2 > mSlots.size()) Grow();
        const std::uint32_t mask = static_cast<std::uint32_t>(mSlots.size() - 1);
        mHash = korvex::handles::names::LookupHash(name);
        for (mSlot = mHash & mask;; mSlot = (mSlot + 1) & mask) {
            const Slot& probe = mSlots[mSlot];
            if (probe.entry == 0) return false;
            if (probe.hash == mHash && Handles::SameName(mEntries[probe.entry - 1].name, name))
                return true;
        }
    }
    bool AddLast(std::string_view name, std::uint16_t number) {
        mEntries.push_back(Handles::HashedEntry{name, mHash, number});
        mSlots[mSlot] = Slot{static_cast<std::uint32_t>(mEntries.size()), mHash};
        mNumbers[number / 64] |= std::uint64_t{1} << (number % 64);
        return true;
    }
    const std::vector<Handles::HashedEntry>& Entries() const { return mEntries; }

  private:
    struct Slot {
        std::uint32_t entry = 0;  // entry index + 1, 0 for a free slot
        std::uint32_t hash = 0;
    };
    void Grow() {
        std::vector<Slot> old(mSlots.size() * 2);
        old.swap(mSlots);
        const std::uint32_t mask = static_cast<std::uint32_t>(mSlots.size() - 1);
        for (const Slot& moved : old) {
            if (moved.entry == 0) continue;
            std::uint32_t slot = moved.hash & mask;
            while (mSlots[slot].entry != 0) slot = (slot + 1) & mask;
            mSlots[slot] = moved;
        }
    }

    std::vector<Handles::HashedEntry> mEntries;
    std::vector<Slot> mSlots;
    std::uint32_t mHash = 0;
    std::uint32_t mSlot = 0;
    std::uint64_t mNumbers[65536 / 64] = {};
};

// The order in which the registry would iterate the entries had they been
// entered in file order: by name bucket, and in a bucket the later line first
// (a new entry goes to the front of its bucket).
std::vector<std::uint32_t> IterationOrder(const std::vector<Handles::HashedEntry>& entries) {
    constexpr std::size_t kWords = Handles::kBuckets / 64;
    // Entry index + 1 of each bucket's newest entry, 0 for none; the buckets
    // in use marked so that the walk skips the empty ones a word at a time.
    const auto first = std::make_unique<std::uint32_t[]>(Handles::kBuckets);
    const auto used = std::make_unique<std::uint64_t[]>(kWords);
    std::vector<std::uint32_t> next(entries.size());
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        const std::uint32_t bucket =
            korvex::handles::names::BucketHash(entries[i].name) % Handles::kBuckets;
        next[i] = first[bucket];
        first[bucket] = i + 1;
        used[bucket / 64] |= std::uint64_t{1} << (bucket % 64);
    }
    std::vector<std::uint32_t> order;
    order.reserve(entries.size());
    for (std::size_t word = 0; word < kWords; ++word)
        for (std::uint64_t bits = used[word]; bits != 0; bits &= bits - 1) {
            const std::size_t bucket = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
            for (std::uint32_t i = first[bucket]; i != 0; i = next[i - 1]) order.push_back(i - 1);
        }
    return order;
}

bool CanOpenForReading(const char* path) {
    struct stat info {};
    if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

// Whether any of the length (at least 1) bytes at data is zero, read as a
// few overlapping words rather than byte by byte: names are short, and a
// cache holds thousands.
bool HasZeroByte(const unsigned char* data, std::size_t length) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    const auto zeroIn = [](std::uint64_t word) {
        return ((word - kOnes) & ~word & (kOnes << 7)) != 0;
    };
    if (length >= 8) {
        std::uint64_t word;
        for (std::size_t i = 0; i + 8 < length; i += 8) {
            std::memcpy(&word, data + i, 8);
            if (zeroIn(word)) return true;
        }
        std::memcpy(&word, data + length - 8, 8);
        return zeroIn(word);
    }
    if (length >= 4) {
        std::uint32_t first;
        std::uint32_t last;
        std::memcpy(&first, data, 4);
        std::memcpy(&last, data + length - 4, 4);
        return zeroIn((std::uint64_t{first} << 32) | last);
    }
    return data[0] == 0 || data[length / 2] == 0 || data[length - 1] == 0;
}

// Walks the entries of a handle cache after its header, handing each to
// visit(handle, name, length). Every damage makes the whole cache invalid,
// and the handle file is read again:
//  - shorter than the version and count: a truncated cache;
//  - a version other than 9: another format;
//  - an entry running past the end of the file: a count the file cannot hold;
//  - a name length of 0 or beyond 255, or a zero byte inside a name: the
//    registry never holds such names, so the bytes are not an entry;
//  - bytes left after the last entry: not a cache this loader wrote.
// visit answers false to stop the walk, which then fails.
template <typename Visit>
bool WalkCache(const FileBytes& bytes, Visit&& visit) {
    constexpr std::size_t kCountEnd = kHeaderSize + 4 + 2;
    if (bytes.size() < kCountEnd) return false;
    const unsigned char* data = bytes.data();
    if (static_cast<std::int32_t>(korvex::DecodeFixed32(data + kHeaderSize)) != kFormatVersion)
        return false;
    const std::uint16_t count = korvex::DecodeFixed16(data + kHeaderSize + 4);
    std::size_t at = kCountEnd;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (bytes.size() - at < 6) return false;
        const std::uint16_t handle = korvex::DecodeFixed16(data + at);
        const std::uint32_t length = korvex::DecodeFixed32(data + at + 2);
        at += 6;
        if (length == 0 || length > Handles::kMaxNameLength || bytes.size() - at < length)
            return false;
        if (HasZeroByte(data + at, length)) return false;
        if (!visit(handle, data + at, length)) return false;
        at += length;
    }
    return at == bytes.size();
}

// Copies length bytes, 1 to 255: most names as two overlapping words, in
// place of a call.
inline void CopyShort(unsigned char* to, const char* from, std::size_t length) {
    if (length < 8 || length > 16) {
        std::memcpy(to, from, length);
        return;
    }
    std::memcpy(to, from, 8);
    std::memcpy(to + length - 8, from + length - 8, 8);
}

// Writes the handle cache of entries, taken in order; false when nothing was
// written.
bool WriteHandleCache(const std::vector<Handles::HashedEntry>& entries,
                      const std::vector<std::uint32_t>& order, const char* textFile,
                      const char* cacheFile) {
    // The entry count has 16 bits; a registry beyond it cannot be cached.
    if (entries.size() > 0xFFFFu) return false;
    std::size_t size = kHeaderSize + 6;
    for (const Handles::HashedEntry& entry : entries) size += 6 + entry.name.size();
    std::vector<unsigned char> bytes(size);
    Header header;
    if (!BuildHeaderFor(textFile, header)) BuildHeader(0, header);
    std::memcpy(bytes.data(), header, kHeaderSize);
    korvex::EncodeFixed32(&bytes[kHeaderSize], static_cast<std::uint32_t>(kFormatVersion));
    korvex::EncodeFixed16(&bytes[kHeaderSize + 4], static_cast<std::uint16_t>(entries.size()));
    unsigned char* at = bytes.data() + kHeaderSize + 6;
    for (const std::uint32_t i : order) {
        const Handles::HashedEntry& entry = entries[i];
        korvex::EncodeFixed16(at, entry.handle);
        korvex::EncodeFixed32(at + 2, static_cast<std::uint32_t>(entry.name.size()));
        CopyShort(at + 6, entry.name.data(), entry.name.size());
        at += 6 + entry.name.size();
    }
    return WriteCacheFile(cacheFile, bytes) == WriteResult::Ok;
}

}  // namespace

Handles::Handles(OWL::TWindow* parent, const char* handleName) {
    mLoadResult = Loaded;
    if (IsLoaded()) return;
    // Without a host application there is nothing to find the handle file
    // with: the object is then only a front to the registry as it stands.
    TGlobalData* host = GlobalDataOf(parent);
    if (!host) return;
    TGlobalData& global = *host;
    if (!handleName) handleName = "";
    TAppl* application = ApplicationOf(parent);
    char textFile[kPathSize];
    char cacheFile[kPathSize];
    global.SearchFileName(textFile, sizeof textFile, 1, handleName, "TXT");
    CacheFileName(global, handleName, cacheFile, sizeof cacheFile);

    gCacheUnwritten = false;
    if (ReadFromBinaerFile(textFile, cacheFile, application)) {
        gLoadedFromCache = true;
        return;
    }
    gLoadedFromCache = false;

    FileBytes bytes;
    if (ReadWholeFile(textFile, bytes) != ReadResult::Ok) {
        OkMsgBox(parent, handleName, "FILE NOT FOUND !!");
        mLoadResult = FileNotFound;
        korvex::host::Host().FatalExit(0);
        return;
    }

    FileEntries table(bytes.size());
    const MessageSink stopAtFirst = [&](const LoadMessage& message) {
        OkMsgBox(parent, message.text.c_str(), message.caption.c_str());
        mLoadResult = message.result;
        return false;
    };
    // The hello dialog shows counts at multiples of 100, 250 or 500 only.
    const bool clean =
        CheckEntries(bytes.text(), table, stopAtFirst, [application](std::uint32_t count) {
            // The dialog sees the count as 16 bits: filter on what it sees.
            const auto shown = static_cast<std::uint16_t>(count);
            if (shown % 50 == 0)
                Daten::viewHelloMessage(application, "DORIX handle interface", shown);
        });
    if (!clean) {
        // A full name store stopped the load without a message of its own.
        if (mLoadResult == Loaded) {
            ErrorHalt("Hash table full!", "qzhandle", 474);
            mLoadResult = EmptyName;
        }
        DropRegistry();
        korvex::host::Host().FatalExit(0);
        return;
    }
    const std::vector<Handles::HashedEntry>& entries = table.Entries();
    // Fills the registry with the entries in the given order (file order,
    // nullptr: as the text was read; cache order: as the cache is read back).
    auto enter = [&](const std::uint32_t* order) {
        CreateRegistry();
        if (AddHashedEntries(entries.data(), order, entries.size())) return true;
        ErrorHalt("Hash table full!", "qzhandle", 474);
        mLoadResult = EmptyName;
        DropRegistry();
        korvex::host::Host().FatalExit(0);
        return false;
    };

    // An older cache that may be read and written is given up for the new
    // one: when the new one is not written, the load ends as without a cache
    // (the older file stays on disk, whole, for the next start).
    const bool replaceable =
        ::access(cacheFile, F_OK) != 0 || ::access(cacheFile, R_OK | W_OK) == 0;
    const std::vector<std::uint32_t> order = IterationOrder(entries);
    const bool written = WriteHandleCache(entries, order, textFile, cacheFile);
    if (!written && !DirectoryWritable(cacheFile)) {
        // A read-only install: the registry read from the text is the one in
        // use, and no definition cache counts as newer than a handle cache
        // that was never written, so the definitions come from their text too.
        if (!enter(nullptr)) return;
        gCacheUnwritten = true;
        gHandleCacheTime = 0xFFFFFFFFu;
        return;
    }
    if (!written) {
        // Whatever cache stands there is the one to load, or the load fails.
        FileStamp(cacheFile, gHandleCacheTime);
        DropRegistry();
        if (!ReadFromBinaerFile(textFile, cacheFile, application) &&
            (replaceable || !CanOpenForReading(cacheFile))) {
            OkMsgBox(parent, cacheFile, "FILE NOT FOUND !!");
            mLoadResult = FileNotFound;
            korvex::host::Host().FatalExit(0);
        }
        return;
    }

    // The registry in use is the one the cache just written loads into: the
    // same entries entered in the cache's order, taken from memory rather than
    // read back from the file.
    if (!enter(order.data())) return;
    // Progress shows at multiples of 100, 250 or 500 only.
    for (std::uint32_t registered = 50; registered <= entries.size(); registered += 50)
        Daten::viewHelloMessage(application, "DORIX handle interface",
                                static_cast<std::uint16_t>(registered));
    FileStamp(cacheFile, gHandleCacheTime);
    mLoadResult = Loaded;
}

bool Handles::BinDateiUpToDate(const char* fileName) {
    std::uint32_t stamp = 0;
    if (!FileStamp(fileName, stamp)) return false;
    // The packed fields run from the year down to the two-second unit, so
    // comparing the numbers compares field by field in that order.
    return gHandleCacheTime < stamp;
}

bool Handles::ReadFromBinaerFile(char* textFile, char* cacheFile, TAppl* application) {
    // The cache is read whole once; its header is checked in those bytes.
    Header expected;
    if (!textFile || !BuildHeaderFor(textFile, expected)) return false;
    FileBytes bytes;
    if (!cacheFile || ReadWholeFile(cacheFile, bytes) != ReadResult::Ok ||
        bytes.size() < kHeaderSize || !HeadersMatch(bytes.data(), expected))
        return false;
    // The whole cache is checked before the registry is touched; then the
    // names the walk has checked (no zero byte, 1 to 255 bytes) go in as
    // they stand in the file, straight from its bytes.
    std::uint32_t count = 0;
    if (!WalkCache(bytes, [&count](std::uint16_t, const unsigned char*, std::uint32_t) {
            ++count;
            return true;
        }))
        return false;
    CreateRegistry();
    if (!AddPackedEntries(bytes.data() + kHeaderSize + 6, bytes.size() - kHeaderSize - 6, count)) {
        ErrorHalt("Hash table full!", "qzhandle", 648);
        DropRegistry();
        return false;
    }
    // Progress shows at multiples of 100, 250 or 500 only.
    for (std::uint32_t registered = 50; registered <= count; registered += 50)
        Daten::viewHelloMessage(application, "DORIX handle interface",
                                static_cast<std::uint16_t>(registered));
    FileStamp(cacheFile, gHandleCacheTime);
    mLoadResult = Loaded;
    return true;
}

bool Handles::LoadedFromCache() {
    return gLoadedFromCache;
}

bool Handles::CacheUnwritten() {
    return gCacheUnwritten;
}

std::uint32_t Handles::HandleCacheTime() {
    return gHandleCacheTime;
}
