#include "korvex/handles/handles.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

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

bool EqualIgnoringCase(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    if (aLength != bLength) return false;
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
class Registry {
public:
    using Ref = std::uint32_t;
    static constexpr Ref kNone = 0xFFFFFFFFu;

    struct Entry {
        Ref nextByName;
        std::uint32_t hash;  // the name hash (bucket order)
        std::uint32_t tag;   // the look-up hash
        std::uint16_t length;
        std::uint16_t handle;
        const char* Name() const { return reinterpret_cast<const char*>(this + 1); }
    };
    static_assert(sizeof(Entry) == 16 && alignof(Entry) == 4);

    Registry()
        : mByName(Handles::kBuckets, kNone),
          mByNumber(std::size_t{1} << 16, kNone),
          mNameBucketsUsed(Handles::kBuckets / 64, 0),
          mLookup(1024, LookupSlot{0, kNone}),
          mLookupMask(1023) {}

    // Look-ups by name go through an open-addressed table keyed by a second,
    // stronger hash: the bucket lists alone would walk ~5 entries per look-up,
    // since the name hash keeps only the last 15 characters and a multiple of 4.
    const Entry* Find(std::string_view name) const {
        const std::uint32_t tag = LookupHash(name);
        for (std::uint32_t slot = tag & mLookupMask;; slot = (slot + 1) & mLookupMask) {
            const LookupSlot& probe = mLookup[slot];
            if (probe.entry == kNone) return nullptr;
            if (probe.tag != tag) continue;
            const Entry& entry = At(probe.entry);
            if (EqualIgnoringCase(entry.Name(), entry.length, name.data(), name.size()))
                return &entry;
        }
    }

    void PrefetchSlot(std::string_view name) const {
        __builtin_prefetch(&mLookup[LookupHash(name) & mLookupMask]);
    }

    // Only the first slots of the probe are looked at: a hint need not be whole.
    void PrefetchEntry(std::string_view name) const {
        const std::uint32_t tag = LookupHash(name);
        std::uint32_t slot = tag & mLookupMask;
        for (int probes = 0; probes < 4; ++probes, slot = (slot + 1) & mLookupMask) {
            const LookupSlot& probe = mLookup[slot];
            if (probe.entry == kNone) return;
            if (probe.tag == tag) {
                __builtin_prefetch(&At(probe.entry));
                return;
            }
        }
    }

    // A number given twice answers with its newest entry.
    const Entry* Find(std::uint16_t handle) const {
        const Ref ref = mByNumber[handle];
        return ref == kNone ? nullptr : &At(ref);
    }

    void Reserve(std::size_t entries) {
        std::size_t slots = mLookup.size();
        while (slots < entries * 2) slots *= 2;
        if (slots != mLookup.size()) Rehash(slots, mCount);
    }

    void Add(std::string_view name, std::uint16_t handle) {
        const Ref ref = Append(name, handle);
        if (std::size_t{mCount} * 2 > mLookup.size()) Rehash(mLookup.size() * 2, mCount - 1);
        Link(ref);
    }

    // Many entries in their order, with the same result as Add one by one.
    // The records are written first, in one sequential sweep; then they are
    // linked into the indexes, each one's random slots fetched a few entries
    // ahead so that the misses overlap.
    template <typename Source>
    void AddAll(std::size_t count, Source&& source) {
        Reserve(std::size_t{mCount} + count);
        std::vector<Ref> refs(count);
        for (std::size_t i = 0; i < count; ++i) {
            const Handles::NewEntry entry = source(i);
            refs[i] = Append(entry.name, entry.handle);
        }
        constexpr std::size_t kAhead = 8;
        for (std::size_t i = 0; i < count; ++i) {
            if (i + kAhead < count) {
                const Entry& ahead = At(refs[i + kAhead]);
                __builtin_prefetch(&mLookup[ahead.tag & mLookupMask], 1);
                __builtin_prefetch(&mByNumber[ahead.handle], 1);
            }
            Link(refs[i]);
        }
    }

    std::uint32_t Size() const { return mCount; }

    // In bucket order, each bucket's list newest first. Only the buckets in
    // use are visited: a registry of a few names does not walk 49152 heads.
    template <typename Visit>
    void ForEach(Visit&& visit) const {
        for (std::size_t word = 0; word < mNameBucketsUsed.size(); ++word)
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

    // Upper-cases the bytes 'a' to 'z' of a word, eight at a time, leaving
    // every other byte as it is.
    static std::uint64_t UpperWord(std::uint64_t word) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ull;
        const std::uint64_t low7 = word & (0x7F * kOnes);
        const std::uint64_t atLeastA = low7 + (0x80 - 'a') * kOnes;
        const std::uint64_t aboveZ = low7 + (0x80 - 'z' - 1) * kOnes;
        const std::uint64_t lower = atLeastA & ~aboveZ & ~word & (0x80 * kOnes);
        return word - (lower >> 2);
    }

    // The look-up hash: a multiplicative mix of the upper-cased name, a word
    // at a time, so that look-ups do not pay a multiply per character.
    static std::uint32_t LookupHash(std::string_view name) {
        constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ull;
        std::uint64_t hash = name.size() * kMix;
        std::size_t i = 0;
        for (; i + 8 <= name.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, name.data() + i, 8);
            hash = (hash ^ UpperWord(word)) * kMix;
            hash ^= hash >> 29;
        }
        if (i < name.size()) {
            // The last bytes as one word, as if copied into a zeroed word;
            // built in a register, since a short copy followed by a long read
            // stalls the store forwarding.
            const std::size_t rest = name.size() - i;
            std::uint64_t word = 0;
            if (name.size() >= 8) {
                std::memcpy(&word, name.data() + name.size() - 8, 8);
                word >>= 8 * (8 - rest);
            } else {
                for (std::size_t k = 0; k < rest; ++k)
                    word |= std::uint64_t{static_cast<std::uint8_t>(name[i + k])} << (8 * k);
            }
            hash = (hash ^ UpperWord(word)) * kMix;
        }
        hash ^= hash >> 32;
        return static_cast<std::uint32_t>(hash);
    }

    // The name hash without a loop over the characters: a character n places
    // from the end is multiplied by 4^n, which is 0 in 32 bits from n = 16 on,
    // so only the last 15 characters count, and they lie in the last two
    // words. Each word's bytes are weighed in a few word-wide steps.
    static std::uint32_t BucketHash(std::string_view name) {
        const std::size_t size = name.size();
        const char* data = name.data();
        std::uint64_t last = 0;  // bytes size-8 .. size-1, missing ones zero
        std::uint64_t before = 0;  // bytes size-16 .. size-9
        if (size >= 16) {
            std::memcpy(&before, data + size - 16, 8);
            std::memcpy(&last, data + size - 8, 8);
        } else if (size >= 8) {
            std::memcpy(&before, data, 8);
            before = size > 8 ? before << (8 * (16 - size)) : 0;
            std::memcpy(&last, data + size - 8, 8);
        } else {
            for (std::size_t k = 0; k < size; ++k)
                last |= std::uint64_t{static_cast<std::uint8_t>(data[k])} << (8 * (8 - size + k));
        }
        // The last byte of a word is 4^1 from the word's end, its first 4^8.
        return (WeighedBytes(UpperWord(last)) << 2) + (WeighedBytes(UpperWord(before)) << 18);
    }

private:
    // The sum of a word's bytes b0 (lowest) to b7, each taken as signed 8
    // bit, times 4^7 for b0 down to 4^0 for b7 (32-bit wrapping).
    static std::uint32_t WeighedBytes(std::uint64_t word) {
        const auto weigh = [](std::uint64_t w) {
            // Pairs, then quads, then the two halves, each step the lower
            // part times its weight plus the higher part.
            w = ((w & 0x00FF00FF00FF00FFull) << 2) + ((w >> 8) & 0x00FF00FF00FF00FFull);
            w = ((w & 0x0000FFFF0000FFFFull) << 4) + ((w >> 16) & 0x0000FFFF0000FFFFull);
            return static_cast<std::uint32_t>(((w & 0xFFFFFFFFull) << 8) + (w >> 32));
        };
        const std::uint64_t high = (word >> 7) & 0x0101010101010101ull;
        // A byte from 0x80 on counts 256 less than its unsigned value.
        return high ? weigh(word) - (weigh(high) << 8) : weigh(word);
    }

    static constexpr std::size_t kBlockSize = 64 * 1024;
    static constexpr unsigned kOffsetBits = 14;  // 64 KiB in 4-byte units

    struct LookupSlot {
        std::uint32_t tag;
        Ref entry;
    };
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t used;
    };

    static std::size_t RecordSize(std::size_t length) {
        return (sizeof(Entry) + length + 1 + 3) & ~std::size_t{3};
    }

    Entry& At(Ref ref) const {
        return *reinterpret_cast<Entry*>(mBlocks[ref >> kOffsetBits].bytes.get() +
                                         std::size_t{ref & ((1u << kOffsetBits) - 1)} * 4);
    }

    // A new record at the end of the arena, not yet in any index.
    Ref Append(std::string_view name, std::uint16_t handle) {
        const std::size_t size = RecordSize(name.size());
        if (mBlocks.empty() || mBlocks.back().used + size > kBlockSize)
            mBlocks.push_back(Block{std::make_unique_for_overwrite<char[]>(kBlockSize), 0});
        Block& block = mBlocks.back();
        char* at = block.bytes.get() + block.used;
        const Ref ref = static_cast<Ref>(((mBlocks.size() - 1) << kOffsetBits) | (block.used / 4));
        block.used += size;
        ::new (at) Entry{kNone, BucketHash(name), LookupHash(name),
                         static_cast<std::uint16_t>(name.size()), handle};
        char* copy = at + sizeof(Entry);
        std::memcpy(copy, name.data(), name.size());
        copy[name.size()] = '\0';
        ++mCount;
        return ref;
    }

    // Puts the entry first in its name bucket and number, and into the look-up.
    void Link(Ref ref) {
        Entry& entry = At(ref);
        const std::uint32_t nameBucket = entry.hash % Handles::kBuckets;
        mNameBucketsUsed[nameBucket / 64] |= std::uint64_t{1} << (nameBucket % 64);
        entry.nextByName = mByName[nameBucket];
        mByName[nameBucket] = ref;
        mByNumber[entry.handle] = ref;
        InsertLookup(ref, entry);
    }

    // A name given again replaces the older entry in the look-up, as the
    // newer one also stands first in its bucket list.
    void InsertLookup(Ref ref, const Entry& added) {
        const std::uint32_t tag = added.tag;
        for (std::uint32_t slot = tag & mLookupMask;; slot = (slot + 1) & mLookupMask) {
            LookupSlot& probe = mLookup[slot];
            if (probe.entry == kNone) {
                probe = LookupSlot{tag, ref};
                return;
            }
            if (probe.tag != tag) continue;
            const Entry& other = At(probe.entry);
            if (EqualIgnoringCase(other.Name(), other.length, added.Name(), added.length)) {
                probe.entry = ref;
                return;
            }
        }
    }

    // Rebuilds the look-up with the given number of slots (a power of two)
    // from the first `entries` records, oldest first.
    void Rehash(std::size_t slots, std::size_t entries) {
        mLookup.assign(slots, LookupSlot{0, kNone});
        mLookupMask = static_cast<std::uint32_t>(slots - 1);
        for (std::size_t b = 0; b < mBlocks.size(); ++b)
            for (std::size_t offset = 0; offset < mBlocks[b].used && entries > 0; --entries) {
                const Ref ref = static_cast<Ref>((b << kOffsetBits) | (offset / 4));
                const Entry& entry = At(ref);
                InsertLookup(ref, entry);
                offset += RecordSize(entry.length);
            }
    }

    std::vector<Ref> mByName;
    std::vector<Ref> mByNumber;  // the newest entry of each number
    static_assert(Handles::kBuckets % 64 == 0);
    std::vector<std::uint64_t> mNameBucketsUsed;  // one bit per name bucket
    std::vector<LookupSlot> mLookup;
    std::uint32_t mLookupMask;
    std::vector<Block> mBlocks;
    std::uint32_t mCount = 0;
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

bool Handles::AddEntries(std::size_t count, const std::function<NewEntry()>& next) {
    if (!gRegistry) return false;
    gRegistry->AddAll(count, [&next](std::size_t) { return next(); });
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
