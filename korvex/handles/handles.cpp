#include "korvex/handles/handles.h"


#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "korvex/coding.h"
#include "korvex/handles/name_hash.h"

namespace {

namespace names = korvex::handles::names;
using names::UpperWord;

// Each byte's code upper-cased ('a' to 'z' only), as a signed char: one load
// per character instead of two compares, on the path of every name the
// structure tree registers.
constexpr auto kUpperCodes = [] {
    std::array<std::int32_t, 256> codes{};
    for (int byte = 0; byte < 256; ++byte) {
        const int code = static_cast<signed char>(byte);
        codes[byte] = (code >= 'a' && code <= 'z') ? code - ('a' - 'A') : code;
    }
    return codes;
}();

inline std::int32_t UpperCode(char c) { return kUpperCodes[static_cast<unsigned char>(c)]; }

template <typename Word>
bool SameWord(const char* a, const char* b) {
    Word x;
    Word y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x == y || UpperWord(x) == UpperWord(y);
}

// Eight bytes at a time (the last word overlapping the one before it), so a
// name found costs a few compares rather than one per character.
bool EqualIgnoringCase(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    if (aLength != bLength) return false;
    if (aLength >= 8) {
        for (std::size_t i = 0; i + 8 < aLength; i += 8)
            if (!SameWord<std::uint64_t>(a + i, b + i)) return false;
        return SameWord<std::uint64_t>(a + aLength - 8, b + aLength - 8);
    }
    if (aLength >= 4)
        return SameWord<std::uint32_t>(a, b) &&
               SameWord<std::uint32_t>(a + aLength - 4, b + aLength - 4);
    for (std::size_t i = 0; i < aLength; ++i)
        if (a[i] != b[i] && UpperCode(a[i]) != UpperCode(b[i])) return false;
    return true;
}

// The shared registry. Each entry is one record in an arena of fixed
// blocks: its fields, then its name and a terminating zero, so that a look-up
// finds number and name on the same cache line, and a name's address never
// changes (data objects keep the pointer that getNamePtr hands out). Records
// are referred to by 32-bit references: block number and offset in 4-byte
// units.
//
// Entering a name touches as little memory as it can, since a structure
// tree enters some 50,000 of them in a row: one probe of a small table of
// one-byte marks, the arena's tail and a number page. The by-name bucket lists
// that only the walk in iteration order needs are built when it is first
// asked for, from the records in their order.
class Registry {
public:
    using Ref = std::uint32_t;
    static constexpr Ref kNone = 0xFFFFFFFFu;

    struct Entry {
        Ref nextByName;
        std::uint32_t hash;  // the name hash (bucket order), set when linked
        std::uint32_t tag;   // the look-up hash
        std::uint16_t length;
        std::uint16_t handle;
        const char* Name() const { return reinterpret_cast<const char*>(this + 1); }
    };
    static_assert(sizeof(Entry) == 16 && alignof(Entry) == 4);

    Registry() { Rehash(kMinSlots); }

    // Look-ups by name go through an open-addressed table keyed by a second,
    // stronger hash than the name hash, which keeps only the last 15
    // characters and a multiple of 4. Each slot holds a one-byte mark of the
    // hash (0 when free) in one array and the record in another, so that a
    // probe for an unknown name reads the marks and only rarely a record.
    const Entry* Find(std::string_view name) const {
        const std::uint32_t tag = LookupHash(name);
        const std::uint32_t slot = Probe(name, tag);
        return mMarks[slot] == 0 ? nullptr : &At(mRefs[slot]);
    }

    // The entry of name; when there is none and add is set, a new one for
    // handle, reported by added. One hash and one probe for both.
    const Entry* FindOrAdd(std::string_view name, bool add, std::uint16_t handle, bool& added) {
        added = false;
        if (add && mUsedSlots + 1 > MaxUsed(mMask + 1)) Rehash((std::size_t{mMask} + 1) * 2);
        const std::uint32_t tag = LookupHash(name);
        const std::uint32_t slot = Probe(name, tag);
        if (mMarks[slot] != 0) return &At(mRefs[slot]);
        if (!add) return nullptr;
        const Ref ref = Append(name, handle, tag);
        mMarks[slot] = Mark(tag);
        mRefs[slot] = ref;
        ++mUsedSlots;
        SetNumber(handle, ref);
        added = true;
        return &At(ref);
    }

    void PrefetchSlot(std::string_view name) const {
        const std::uint32_t slot = LookupHash(name) & mMask;
        __builtin_prefetch(&mMarks[slot]);
        __builtin_prefetch(&mRefs[slot]);
    }

    // Only the first slots of the probe are looked at: a hint need not be whole.
    void PrefetchEntry(std::string_view name) const {
        const std::uint32_t tag = LookupHash(name);
        const std::uint8_t mark = Mark(tag);
        std::uint32_t slot = tag & mMask;
        for (int probes = 0; probes < 4; ++probes, slot = (slot + 1) & mMask) {
            if (mMarks[slot] == 0) return;
            if (mMarks[slot] == mark) {
                __builtin_prefetch(&At(mRefs[slot]));
                return;
            }
        }
    }

    // A number given twice answers with its newest entry.
    const Entry* Find(std::uint16_t handle) const {
        const Ref* page = mNumberPages[handle >> kNumberPageBits].get();
        const Ref ref = page ? page[handle & (kNumberPageSize - 1)] : kNone;
        return ref == kNone ? nullptr : &At(ref);
    }

    void Reserve(std::size_t entries) {
        std::size_t slots = std::size_t{mMask} + 1;
        while (MaxUsed(slots) < entries) slots *= 2;
        if (slots != std::size_t{mMask} + 1) Rehash(slots);
    }

    // Does not look for the name first: a name given again replaces the
    // older entry in the look-up, as the newer one also comes first in its
    // bucket list.
    void Add(std::string_view name, std::uint16_t handle) {
        if (mUsedSlots + 1 > MaxUsed(mMask + 1)) Rehash((std::size_t{mMask} + 1) * 2);
        const std::uint32_t tag = LookupHash(name);
        const Ref ref = Append(name, handle, tag);
        InsertLookup(ref, At(ref));
        SetNumber(handle, ref);
    }

    // Many entries in their order, with the same result as Add one by one.
    // A start enters some 15,000 names this way, so each costs what it
    // must: one hash, the record written in place, one probe, one number.
    template <typename Source>
    void AddAll(std::size_t count, Source&& source) {
        Reserve(std::size_t{mUsedSlots} + count);
        for (std::size_t i = 0; i < count; ++i) {
            const Handles::NewEntry entry = source(i);
            const char* name = entry.name.data();
            const std::size_t length = entry.name.size();
            const std::uint32_t tag = LookupHash(entry.name);
            const Ref ref = Append(name, length, entry.handle, tag);
            InsertLookup(ref, name, length, tag);
            SetNumber(entry.handle, ref);
        }
    }

    // Entries packed as the handle cache holds them (handles.h), in their
    // order: as AddAll, reading each field once from the packed bytes, and
    // a short name as one 16-byte copy where the bytes after it may be read.
    void AddPacked(const unsigned char* at, const unsigned char* end, std::size_t count) {
        Reserve(std::size_t{mUsedSlots} + count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint16_t handle = korvex::DecodeFixed16(at);
            const std::size_t length = korvex::DecodeFixed32(at + 2);
            const char* name = reinterpret_cast<const char*>(at + 6);
            const bool shortCopy = length <= 16 && end - (at + 6) >= 16;
            at += 6 + length;
            const std::uint32_t tag = LookupHash(std::string_view(name, length));
            Ref ref;
            char* record = Room(RecordSize(length), ref);
            ::new (record) Entry{kNone, 0, tag, static_cast<std::uint16_t>(length), handle};
            char* copy = record + sizeof(Entry);
            if (shortCopy)
                std::memcpy(copy, name, 16);
            else
                CopyName(copy, name, length);
            copy[length] = '\0';
            ++mCount;
            InsertLookup(ref, name, length, tag);
            SetNumber(handle, ref);
        }
    }

    // As AddAll for entries whose look-up hash the caller has taken.
    void AddAllHashed(const Handles::HashedEntry* entries, const std::uint32_t* order,
                      std::size_t count) {
        Reserve(std::size_t{mUsedSlots} + count);
        for (std::size_t i = 0; i < count; ++i) {
            const Handles::HashedEntry& entry = entries[order ? order[i] : i];
            const char* name = entry.name.data();
            const std::size_t length = entry.name.size();
            const Ref ref = Append(name, length, entry.handle, entry.hash);
            InsertLookup(ref, name, length, entry.hash);
            SetNumber(entry.handle, ref);
        }
    }

    std::uint32_t Size() const { return mCount; }

    // In bucket order, each bucket's list newest first. Only the buckets in
    // use are visited: a registry of a few names does not walk 49152 heads.
    template <typename Visit>
    void ForEach(Visit&& visit) {
        LinkByName();
        if (!mNameBucketsUsed) return;  // nothing entered yet
        for (std::size_t word = 0; word < kBucketWords; ++word)
            for (std::uint64_t bits = mNameBucketsUsed[word]; bits != 0; bits &= bits - 1) {
                const std::size_t bucket =
                    word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
                for (Ref ref = mByName[bucket]; ref != kNone;) {
                    const Entry& entry = At(ref);
                    visit(entry);
                    ref = entry.nextByName;
                }
            }
    }


    static std::uint32_t LookupHash(std::string_view name) { return names::LookupHash(name); }
    static std::uint32_t BucketHash(std::string_view name) { return names::BucketHash(name); }

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    static constexpr std::size_t kCopySlack = 16;
    static constexpr unsigned kOffsetBits = 14;  // 64 KiB in 4-byte units
    static constexpr std::size_t kMinSlots = 1024;
    // Numbers map to records through pages of 256, made when a number of
    // theirs is first given: a registry of a few names holds a few pages.
    static constexpr unsigned kNumberPageBits = 8;
    static constexpr std::size_t kNumberPageSize = std::size_t{1} << kNumberPageBits;
    static_assert(Handles::kBuckets % 64 == 0);
    static constexpr std::size_t kBucketWords = Handles::kBuckets / 64;

    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t used;
    };

    // Linear probing stays short up to 7 of 8 slots in use.
    static std::size_t MaxUsed(std::size_t slots) { return slots - slots / 8; }

    // Never 0, which marks a free slot.
    static std::uint8_t Mark(std::uint32_t tag) {
        const auto mark = static_cast<std::uint8_t>(tag >> 24);
        return static_cast<std::uint8_t>(mark + (mark == 0));
    }

    static std::size_t RecordSize(std::size_t length) {
        return (sizeof(Entry) + length + 1 + 3) & ~std::size_t{3};
    }

    // The bytes in use of a block (the last one's are kept apart while it fills).
    std::size_t Used(std::size_t block) const {
        return block + 1 == mBlocks.size() ? mTailUsed : mBlocks[block].used;
    }

    Entry& At(Ref ref) const {
        return *reinterpret_cast<Entry*>(mBlocks[ref >> kOffsetBits].bytes.get() +
                                         std::size_t{ref & ((1u << kOffsetBits) - 1)} * 4);
    }

    // The slot that holds name (tag its look-up hash), or the free slot that
    // ends its probe.
    std::uint32_t Probe(std::string_view name, std::uint32_t tag) const {
        const std::uint8_t mark = Mark(tag);
        for (std::uint32_t slot = tag & mMask;; slot = (slot + 1) & mMask) {
            const std::uint8_t probe = mMarks[slot];
            if (probe == 0) return slot;
            if (probe != mark) continue;
            const Entry& entry = At(mRefs[slot]);
            if (entry.tag == tag &&
                EqualIgnoringCase(entry.Name(), entry.length, name.data(), name.size()))
                return slot;
        }
    }

    // Copies a name of 1 to 255 bytes as a few overlapping words, within
    // [from, from + length): a library call costs more than a short name.
    static void CopyName(char* to, const char* from, std::size_t length) {
        if (length >= 8) {
            std::size_t i = 0;
            for (; i + 8 < length; i += 8) std::memcpy(to + i, from + i, 8);
            std::memcpy(to + length - 8, from + length - 8, 8);
        } else if (length >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + length - 4, from + length - 4, 4);
        } else {
            to[0] = from[0];
            to[length / 2] = from[length / 2];
            to[length - 1] = from[length - 1];
        }
    }

    // Room for a record of size bytes at the arena's end, and ref its
    // reference. A block keeps kCopySlack bytes after its last record, so
    // that a name may be copied as a whole word past its end.
    char* Room(std::size_t size, Ref& ref) {
        if (mTailUsed + size + kCopySlack > kBlockSize) {
            if (!mBlocks.empty()) mBlocks.back().used = mTailUsed;
            mBlocks.push_back(Block{std::make_unique_for_overwrite<char[]>(kBlockSize), 0});
            mTail = mBlocks.back().bytes.get();
            mTailUsed = 0;
            mTailRef = static_cast<Ref>((mBlocks.size() - 1) << kOffsetBits);
        }
        char* at = mTail + mTailUsed;
        ref = mTailRef | static_cast<Ref>(mTailUsed / 4);
        mTailUsed += size;
        return at;
    }

    // A new record at the end of the arena, in no index yet.
    // REQUIRES: length is 1 to Handles::kMaxNameLength.
    Ref Append(const char* name, std::size_t length, std::uint16_t handle, std::uint32_t tag) {
        Ref ref;
        char* at = Room(RecordSize(length), ref);
        ::new (at) Entry{kNone, 0, tag, static_cast<std::uint16_t>(length), handle};
        char* copy = at + sizeof(Entry);
        CopyName(copy, name, length);
        copy[length] = '\0';
        ++mCount;
        return ref;
    }
    Ref Append(std::string_view name, std::uint16_t handle, std::uint32_t tag) {
        return Append(name.data(), name.size(), handle, tag);
    }

    void SetNumber(std::uint16_t handle, Ref ref) {
        std::unique_ptr<Ref[]>& page = mNumberPages[handle >> kNumberPageBits];
        if (!page) {
            page = std::make_unique_for_overwrite<Ref[]>(kNumberPageSize);
            std::fill_n(page.get(), kNumberPageSize, kNone);
        }
        page[handle & (kNumberPageSize - 1)] = ref;
    }

    // The newer of two entries of a name takes the older one's slot.
    void InsertLookup(Ref ref, const char* name, std::size_t length, std::uint32_t tag) {
        const std::uint32_t slot = Probe(std::string_view(name, length), tag);
        if (mMarks[slot] == 0) {
            mMarks[slot] = Mark(tag);
            ++mUsedSlots;
        }
        mRefs[slot] = ref;
    }
    void InsertLookup(Ref ref, const Entry& added) {
        InsertLookup(ref, added.Name(), added.length, added.tag);
    }

    // Rebuilds the look-up with the given number of slots (a power of two)
    // from the records, oldest first.
    void Rehash(std::size_t slots) {
        mMarks = std::make_unique<std::uint8_t[]>(slots);
        mRefs = std::make_unique_for_overwrite<Ref[]>(slots);
        mMask = static_cast<std::uint32_t>(slots - 1);
        mUsedSlots = 0;
        ForEachRecord(0, 0, mCount, [this](Ref ref, const Entry& entry) { InsertLookup(ref, entry); });
    }

    // Visits count records in arena order from (block, offset); answers
    // where it stopped.
    template <typename Visit>
    std::pair<std::size_t, std::size_t> ForEachRecord(std::size_t block, std::size_t offset,
                                                      std::size_t count, Visit&& visit) const {
        for (; count > 0; --count) {
            if (offset >= Used(block)) {
                ++block;
                offset = 0;
            }
            const Ref ref = static_cast<Ref>((block << kOffsetBits) | (offset / 4));
            const Entry& entry = At(ref);
            visit(ref, entry);
            offset += RecordSize(entry.length);
        }
        return {block, offset};
    }

    // Puts the records not yet linked first in their name buckets, oldest
    // first. Walks may run on several threads at once; entering names does
    // not.
    void LinkByName() {
        if (mLinked.load(std::memory_order_acquire) == mCount) return;
        const std::lock_guard<std::mutex> lock(mLinkMutex);
        const std::uint32_t linked = mLinked.load(std::memory_order_relaxed);
        if (linked == mCount) return;
        if (!mByName) {
            mByName = std::make_unique_for_overwrite<Ref[]>(Handles::kBuckets);
            std::fill_n(mByName.get(), Handles::kBuckets, kNone);
            mNameBucketsUsed = std::make_unique<std::uint64_t[]>(kBucketWords);
        }
        mLinkCursor = ForEachRecord(mLinkCursor.first, mLinkCursor.second, mCount - linked,
                                    [this](Ref ref, const Entry&) {
                                        Entry& entry = At(ref);
                                        entry.hash = BucketHash(
                                            std::string_view(entry.Name(), entry.length));
                                        const std::uint32_t bucket = entry.hash % Handles::kBuckets;
                                        mNameBucketsUsed[bucket / 64] |= std::uint64_t{1}
                                                                         << (bucket % 64);
                                        entry.nextByName = mByName[bucket];
                                        mByName[bucket] = ref;
                                    });
        mLinked.store(mCount, std::memory_order_release);
    }

    std::unique_ptr<std::uint8_t[]> mMarks;
    std::unique_ptr<Ref[]> mRefs;
    std::uint32_t mMask = 0;
    std::uint32_t mUsedSlots = 0;  // distinct names in the look-up
    std::array<std::unique_ptr<Ref[]>, 65536 / kNumberPageSize> mNumberPages;  // newest entries
    std::vector<Block> mBlocks;
    char* mTail = nullptr;  // the last block's bytes
    std::size_t mTailUsed = kBlockSize;  // its used bytes (full while there is none)
    Ref mTailRef = 0;  // the reference of its first byte
    std::uint32_t mCount = 0;
    // The by-name bucket lists, built on the first walk and brought up to
    // date on each later one.
    std::unique_ptr<Ref[]> mByName;
    std::unique_ptr<std::uint64_t[]> mNameBucketsUsed;  // one bit per name bucket
    std::atomic<std::uint32_t> mLinked{0};
    std::pair<std::size_t, std::size_t> mLinkCursor{0, 0};  // block, offset
    std::mutex mLinkMutex;
};

std::unique_ptr<Registry> gRegistry;

bool IsBlank(char c) { return c == ' '; }

// Strips blanks at both ends of [begin, end).
std::string_view Stripped(const char* begin, const char* end) {
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

}  // namespace

std::uint32_t Handles::NameHash(std::string_view name) { return Registry::BucketHash(name); }

std::uint32_t Handles::CaseFoldedHash(std::string_view name) { return Registry::LookupHash(name); }

bool Handles::SameName(std::string_view a, std::string_view b) {
    return EqualIgnoringCase(a.data(), a.size(), b.data(), b.size());
}

bool Handles::IsLoaded() { return gRegistry != nullptr; }
void Handles::CreateRegistry() { gRegistry = std::make_unique<Registry>(); }
void Handles::DropRegistry() { gRegistry.reset(); }
void Handles::PrefetchSlot(std::string_view name) {
    if (gRegistry) gRegistry->PrefetchSlot(name);
}
void Handles::PrefetchEntry(std::string_view name) {
    if (gRegistry) gRegistry->PrefetchEntry(name);
}
void Handles::ReserveRegistry(std::uint32_t entries) {
    if (gRegistry) gRegistry->Reserve(entries);
}

bool Handles::AddEntries(const NewEntry* entries, std::size_t count) {
    if (!gRegistry) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (entries[i].name.empty() || entries[i].name.size() > kMaxNameLength) return false;
    gRegistry->AddAll(count, [entries](std::size_t i) { return entries[i]; });
    return true;
}

bool Handles::AddPackedEntries(const unsigned char* packed, std::size_t size,
                               std::size_t count) {
    if (!gRegistry) return false;
    gRegistry->AddPacked(packed, packed + size, count);
    return true;
}

bool Handles::AddHashedEntries(const HashedEntry* entries, const std::uint32_t* order,
                               std::size_t count) {
    if (!gRegistry) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (entries[i].name.empty() || entries[i].name.size() > kMaxNameLength) return false;
    gRegistry->AddAllHashed(entries, order, count);
    return true;
}

void Handles::ForEach(
    const std::function<void(std::uint16_t handle, std::string_view name)>& visit) {
    if (!gRegistry) return;
    gRegistry->ForEach([&](const Registry::Entry& entry) {
        visit(entry.handle, std::string_view(entry.Name(), entry.length));
    });
}

std::uint16_t Handles::NameToHandle(const char* name) {
    if (!gRegistry || !name) return kNoHandle;
    const Registry::Entry* entry = gRegistry->Find(std::string_view(name));
    return entry ? entry->handle : kNoHandle;
}

std::uint16_t Handles::NameToHandle(std::string_view name) {
    if (!gRegistry) return kNoHandle;
    const Registry::Entry* entry = gRegistry->Find(name);
    return entry ? entry->handle : kNoHandle;
}

std::uint16_t Handles::NameToHandle(const char* name, std::uint16_t& index) {
    index = 0;
    if (!name) return kNoHandle;
    const std::string_view whole = Stripped(name, name + std::strlen(name));
    const std::size_t blank = whole.find(' ');
    std::string_view indexText;
    std::string_view bare = whole;
    if (blank != std::string_view::npos) {
        bare = whole.substr(0, blank);
        const std::string_view rest = whole.substr(blank + 1);
        indexText = Stripped(rest.data(), rest.data() + rest.size());
    }
    if (!gRegistry) return kNoHandle;
    const Registry::Entry* entry = gRegistry->Find(bare);
    if (!entry) return kNoHandle;
    bool digits = !indexText.empty();
    std::uint16_t value = 0;
    for (char c : indexText) {
        if (c < '0' || c > '9') {
            digits = false;
            break;
        }
        value = static_cast<std::uint16_t>(value * 10 + (c - '0'));
    }
    if (digits) index = value;
    return entry->handle;
}

char* Handles::HandleToName(std::uint16_t handle, char* buffer, std::uint16_t index) {
    return HandleToName(handle, buffer, index, kNameBufferSize);
}

char* Handles::HandleToName(std::uint16_t handle, char* buffer, std::uint16_t index,
                            std::size_t bufferSize) {
    if (!gRegistry || !buffer || bufferSize == 0) return nullptr;
    const Registry::Entry* entry = gRegistry->Find(handle);
    if (!entry) return nullptr;
    // Formatted by hand: this runs for every error message and display label.
    char digits[6];
    std::size_t digitCount = 0;
    if (index != kNoHandle) {
        unsigned rest = index;
        do {
            digits[digitCount++] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        } while (rest);
    }
    const std::size_t room = bufferSize - 1;
    const std::size_t nameLength = entry->length < room ? entry->length : room;
    std::memcpy(buffer, entry->Name(), nameLength);
    std::size_t used = nameLength;
    if (digitCount && used < room) {
        buffer[used++] = ' ';
        while (digitCount && used < room) buffer[used++] = digits[--digitCount];
    }
    buffer[used] = '\0';
    return buffer;
}

bool Handles::existName(const char* name) {
    return gRegistry && name && gRegistry->Find(std::string_view(name)) != nullptr;
}

bool Handles::existHandle(std::uint16_t handle, void* entry) {
    const Registry::Entry* found = gRegistry ? gRegistry->Find(handle) : nullptr;
    if (entry) *static_cast<const void**>(entry) = found;
    return found != nullptr;
}

const char* Handles::InternedName(std::uint16_t handle) {
    const Registry::Entry* entry = gRegistry ? gRegistry->Find(handle) : nullptr;
    return entry ? entry->Name() : nullptr;
}

const char* Handles::getNamePtr(const char* name) {
    if (!gRegistry || !name) return nullptr;
    const Registry::Entry* entry = gRegistry->Find(std::string_view(name));
    return entry ? entry->Name() : nullptr;
}

std::uint16_t Handles::FindOrAdd(std::string_view name, std::uint16_t handle, bool& added) {
    added = false;
    if (!gRegistry || name.empty() || name.size() > kMaxNameLength) return kNoHandle;
    const Registry::Entry* entry = gRegistry->FindOrAdd(name, handle != kNoHandle, handle, added);
    return entry ? entry->handle : kNoHandle;
}

bool Handles::addNew(const char* name, std::uint16_t handle) {
    if (!name) return false;
    return addNew(std::string_view(name), handle);
}

bool Handles::addNew(std::string_view name, std::uint16_t handle) {
    if (!gRegistry || name.empty() || name.size() > kMaxNameLength) return false;
    gRegistry->Add(name, handle);
    return true;
}

std::uint32_t Handles::HandlesInContainer() { return gRegistry ? gRegistry->Size() : 0; }

void Handles::flush(const char* fileName) {
    if (!gRegistry || !fileName) return;
    std::FILE* file = std::fopen(fileName, "w");
    if (!file) return;
    gRegistry->ForEach([file](const Registry::Entry& entry) {
        std::fwrite(entry.Name(), 1, entry.length, file);
        std::fputc('\n', file);
    });
    std::fclose(file);
}

std::uint32_t Handles::MakeChecksum() {
    if (!gRegistry) return 0;
    std::uint32_t sum = 0;
    std::uint32_t i = 0;
    gRegistry->ForEach([&](const Registry::Entry& entry) {
        const std::uint16_t swapped =
            static_cast<std::uint16_t>((entry.handle >> 8) | (entry.handle << 8));
        sum += (entry.hash ^ swapped) * i;
        ++i;
    });
    return sum;
}
