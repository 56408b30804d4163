// Loading of the registry from the handle file and its cache.
#include "korvex/handles/handle_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "korvex/coding.h"
#include "korvex/handles/handles.h"
#include "korvex/korvex.h"

namespace korvex::files {

namespace {

bool IsBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

HandleLineKind ParseHandleLine(std::string_view line, std::string_view& name,
                               std::uint16_t& number) {
    // The first "=" counts unless a remark starts before it; the number that
    // follows ends at the first character that is no digit, so a remark after
    // the "=" needs no search of its own.
    const void* found = std::memchr(line.data(), '=', line.size());
    if (!found) return HandleLineKind::Skipped;
    const std::size_t equals =
        static_cast<std::size_t>(static_cast<const char*>(found) - line.data());
    for (std::size_t i = 0; i < equals; ++i) {
        if (line[i] == ';' || (line[i] == '/' && line[i + 1] == '/'))
            return HandleLineKind::Skipped;
    }

    std::size_t begin = 0;
    std::size_t end = equals;
    while (begin < end && IsBlankOrTab(line[begin])) ++begin;
    while (end > begin && IsBlankOrTab(line[end - 1])) --end;
    name = line.substr(begin, end - begin);

    std::size_t i = equals + 1;
    while (i < line.size() && IsBlankOrTab(line[i])) ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '-' || line[i] == '+')) negative = line[i++] == '-';
    // The number is read as a 32-bit long (stopping at its limits, as atol
    // does); of that, the low 16 bits are the handle.
    const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
    std::int64_t value = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        value = value * 10 + (line[i] - '0');
        if (value > limit) value = limit;
    }
    if (negative) value = -value;
    number = static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
    return HandleLineKind::Entry;
}

bool CheckHandleFile(std::string_view text, HandleNameTable& table, const MessageSink& sink,
                     const std::function<void(std::uint32_t count)>& progress) {
    bool clean = true;
    std::uint32_t count = 0;
    ForEachLine(text, [&](unsigned lineNumber, std::string_view line) {
        std::string_view name;
        std::uint16_t number = 0;
        if (ParseHandleLine(line, name, number) == HandleLineKind::Skipped) return true;
        bool goOn = true;
        bool bad = false;
        auto report = [&](std::uint8_t result, const char* caption, std::string message) {
            bad = true;
            goOn = sink(LoadMessage{result, lineNumber, caption, std::move(message)}) && goOn;
        };
        if (name.empty()) {
            report(Handles::EmptyName, "Syntax - Error in Handle - File !!",
                   Format("Line : %u", lineNumber));
        } else if (name.size() > Handles::kMaxNameLength) {
            // The cache keeps names of at most 255 bytes; a longer one is refused
            // here rather than cut into a different name.
            report(Handles::EmptyName, "Syntax - Error in Handle - File !!",
                   Format("Line : %u\nName longer than %zu characters", lineNumber,
                          Handles::kMaxNameLength));
        } else {
            char bare[Handles::kMaxNameLength + 1];
            CopyTerminated(bare, name.data(), name.size());
            // Both duplicate checks are made: a line can repeat a number and a name.
            if (table.HasNumber(number))
                report(
                    Handles::NumberTwice, "Handle already exists !!",
                    Format("Line : %u\nHandle : %u\n", lineNumber, static_cast<unsigned>(number)));
            if (table.HasName(bare))
                report(Handles::NameTwice, "Syntax - Error in Handle - File !!",
                       Format("Line : %u\nName : %s", lineNumber, bare));
            if (!bad) {
                if (!table.Add(bare, number)) {
                    clean = false;
                    return false;
                }
                ++count;
                if (progress) progress(count);
            }
        }
        if (bad) clean = false;
        return goOn;
    });
    return clean;
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
// the registry: the registry is filled once, from the cache's order.
class FileEntries : public HandleNameTable {
  public:
    // Each name comes from a line of its own and is no longer than the line,
    // so the names and their terminating zeros fit in textSize + 1 bytes.
    explicit FileEntries(std::size_t textSize)
        : mNames(new char[textSize + 1]), mCapacity(textSize + 1) {
        // Room at half load for an entry every 24 bytes (a name, a number
        // and a remark): most files need no growing, and the table stays
        // small enough for the caches.
        std::size_t slots = 1024;
        while (slots < textSize / 12) slots *= 2;
        mSlots.assign(slots, Slot{});
        mEntries.reserve(slots / 2);
    }

    bool HasNumber(std::uint16_t number) override {
        return (mNumbers[number / 64] >> (number % 64)) & 1u;
    }
    bool HasName(const char* name) override {
        const std::string_view wanted(name);
        const std::uint32_t mask = static_cast<std::uint32_t>(mSlots.size() - 1);
        const std::uint32_t hash = Handles::CaseFoldedHash(wanted);
        for (std::uint32_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const Slot& probe = mSlots[slot];
            if (probe.entry == 0) return false;
            if (probe.hash == hash && Handles::SameName(mEntries[probe.entry - 1].name, wanted)) return true;
        }
    }
    bool Add(const char* name, std::uint16_t number) override {
        const std::size_t length = std::strlen(name);
        if (mUsed + length + 1 > mCapacity) return false;
        char* copy = mNames.get() + mUsed;
        std::memcpy(copy, name, length + 1);
        mUsed += length + 1;
        mEntries.push_back(Handles::NewEntry{std::string_view(copy, length), number});
        mNumbers[number / 64] |= std::uint64_t{1} << (number % 64);
        if (mEntries.size() * 2 > mSlots.size()) Grow();
        Link(Slot{static_cast<std::uint32_t>(mEntries.size()),
                  Handles::CaseFoldedHash(mEntries.back().name)});
        return true;
    }
    const std::vector<Handles::NewEntry>& Entries() const { return mEntries; }

  private:
    struct Slot {
        std::uint32_t entry = 0;  // entry index + 1, 0 for a free slot
        std::uint32_t hash = 0;
    };
    void Link(Slot added) {
        const std::uint32_t mask = static_cast<std::uint32_t>(mSlots.size() - 1);
        std::uint32_t slot = added.hash & mask;
        while (mSlots[slot].entry != 0) slot = (slot + 1) & mask;
        mSlots[slot] = added;
    }
    void Grow() {
        std::vector<Slot> old(mSlots.size() * 2);
        old.swap(mSlots);
        for (const Slot& slot : old)
            if (slot.entry != 0) Link(slot);
    }

    std::unique_ptr<char[]> mNames;
    std::size_t mCapacity;
    std::size_t mUsed = 0;
    std::vector<Handles::NewEntry> mEntries;
    std::vector<Slot> mSlots;
    std::uint64_t mNumbers[65536 / 64] = {};
};

// The order in which the registry would iterate the entries had they been
// entered in file order: by name bucket, and in a bucket the later line first
// (a new entry goes to the front of its bucket).
std::vector<std::uint32_t> IterationOrder(const std::vector<Handles::NewEntry>& entries) {
    constexpr std::uint32_t kEnd = 0xFFFFFFFFu;
    std::vector<std::uint32_t> first(Handles::kBuckets, kEnd);
    std::vector<std::uint32_t> next(entries.size());
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        const std::uint32_t bucket = Handles::NameHash(entries[i].name) % Handles::kBuckets;
        next[i] = first[bucket];
        first[bucket] = i;
    }
    std::vector<std::uint32_t> order;
    order.reserve(entries.size());
    for (std::uint32_t bucket = 0; bucket < Handles::kBuckets; ++bucket)
        for (std::uint32_t i = first[bucket]; i != kEnd; i = next[i]) order.push_back(i);
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

// Writes the handle cache of entries, taken in order; false when nothing was
// written.
bool WriteHandleCache(const std::vector<Handles::NewEntry>& entries,
                      const std::vector<std::uint32_t>& order, const char* textFile,
                      const char* cacheFile) {
    // The entry count has 16 bits; a registry beyond it cannot be cached.
    if (entries.size() > 0xFFFFu) return false;
    std::size_t size = kHeaderSize + 6;
    for (const Handles::NewEntry& entry : entries) size += 6 + entry.name.size();
    std::vector<unsigned char> bytes(size);
    Header header;
    if (!BuildHeaderFor(textFile, header)) BuildHeader(0, header);
    std::memcpy(bytes.data(), header, kHeaderSize);
    korvex::EncodeFixed32(&bytes[kHeaderSize], static_cast<std::uint32_t>(kFormatVersion));
    korvex::EncodeFixed16(&bytes[kHeaderSize + 4], static_cast<std::uint16_t>(entries.size()));
    unsigned char* at = bytes.data() + kHeaderSize + 6;
    for (const std::uint32_t i : order) {
        const Handles::NewEntry& entry = entries[i];
        korvex::EncodeFixed16(at, entry.handle);
        korvex::EncodeFixed32(at + 2, static_cast<std::uint32_t>(entry.name.size()));
        std::memcpy(at + 6, entry.name.data(), entry.name.size());
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
    const bool clean =
        CheckHandleFile(bytes.text(), table, stopAtFirst, [application](std::uint32_t count) {
            Daten::viewHelloMessage(application, "DORIX handle interface",
                                    static_cast<std::uint16_t>(count));
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
    const std::vector<Handles::NewEntry>& entries = table.Entries();
    // Fills the registry with the entries in the given order (file order: as
    // the text was read; cache order: as the cache is read back).
    auto enter = [&](const Handles::NewEntry* first) {
        CreateRegistry();
        if (AddEntries(first, entries.size())) return true;
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
        if (!enter(entries.data())) return;
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
    std::vector<Handles::NewEntry> inCacheOrder;
    inCacheOrder.reserve(entries.size());
    for (const std::uint32_t i : order) inCacheOrder.push_back(entries[i]);
    if (!enter(inCacheOrder.data())) return;
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
    if (!AddPackedEntries(bytes.data() + kHeaderSize + 6, count)) {
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
