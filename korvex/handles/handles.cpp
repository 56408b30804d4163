#include "korvex/handles/handles.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::int32_t kEnd = -1;

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

// The shared registry. Entries live in one vector and are linked by position,
// so that growing the vector does not break the bucket lists; names live in
// fixed blocks whose addresses never change, since data objects keep the
// pointer that getNamePtr hands out.
class Registry {
public:
    struct Entry {
        const char* name;
        std::uint32_t hash;
        std::uint32_t tag;  // the look-up hash
        std::uint16_t length;
        std::uint16_t handle;
        std::int32_t nextByName;
        std::int32_t nextByNumber;
    };

    Registry()
        : mByName(Handles::kBuckets, kEnd),
          mByNumber(Handles::kBuckets, kEnd),
          mNameBucketsUsed(Handles::kBuckets / 64, 0),
          mLookup(1024, LookupSlot{0, kEnd}),
          mLookupMask(1023) {}

    // Look-ups by name go through an open-addressed table keyed by a second,
    // stronger hash: the bucket lists alone would walk ~5 entries per look-up,
    // since the name hash keeps only the last 16 characters and a multiple of 4.
    const Entry* Find(std::string_view name) const {
        const std::uint32_t tag = LookupHash(name);
        for (std::uint32_t slot = tag & mLookupMask;; slot = (slot + 1) & mLookupMask) {
            const LookupSlot& probe = mLookup[slot];
            if (probe.entry == kEnd) return nullptr;
            if (probe.tag != tag) continue;
            const Entry& entry = mEntries[probe.entry];
            if (EqualIgnoringCase(entry.name, entry.length, name.data(), name.size()))
                return &entry;
        }
    }

    const Entry* Find(std::uint16_t handle) const {
        for (std::int32_t i = mByNumber[handle % Handles::kBuckets]; i != kEnd;
             i = mEntries[i].nextByNumber)
            if (mEntries[i].handle == handle) return &mEntries[i];
        return nullptr;
    }

    void Reserve(std::size_t entries) {
        mEntries.reserve(entries);
        std::size_t slots = mLookup.size();
        while (slots < entries * 2) slots *= 2;
        if (slots != mLookup.size()) Rehash(slots, mEntries.size());
    }

    void Add(std::string_view name, std::uint16_t handle) {
        Append(name, handle);
        const std::int32_t position = static_cast<std::int32_t>(mEntries.size() - 1);
        if (mEntries.size() * 2 > mLookup.size()) Rehash(mLookup.size() * 2, mEntries.size() - 1);
        Link(position);
    }

    // Many entries in their order, with the same result as Add one by one.
    // The entries and their names are written first, in one sequential
    // sweep; then they are linked into the indexes, each one's random slots
    // fetched a few entries ahead so that the misses overlap.
    void AddAll(const Handles::NewEntry* entries, std::size_t count) {
        const std::size_t first = mEntries.size();
        Reserve(first + count);
        for (std::size_t i = 0; i < count; ++i) Append(entries[i].name, entries[i].handle);
        constexpr std::size_t kAhead = 8;
        const std::size_t end = mEntries.size();
        for (std::size_t i = first; i < end; ++i) {
            if (i + kAhead < end) {
                const Entry& ahead = mEntries[i + kAhead];
                __builtin_prefetch(&mLookup[ahead.tag & mLookupMask], 1);
                __builtin_prefetch(&mByNumber[ahead.handle % Handles::kBuckets], 1);
                __builtin_prefetch(&mByName[ahead.hash % Handles::kBuckets], 1);
            }
            Link(static_cast<std::int32_t>(i));
        }
    }

    std::uint32_t Size() const { return static_cast<std::uint32_t>(mEntries.size()); }

    // In bucket order, each bucket's list newest first. Only the buckets in
    // use are visited: a registry of a few names does not walk 49152 heads.
    template <typename Visit>
    void ForEach(Visit&& visit) const {
        for (std::size_t word = 0; word < mNameBucketsUsed.size(); ++word)
            for (std::uint64_t bits = mNameBucketsUsed[word]; bits != 0; bits &= bits - 1) {
                const std::size_t bucket =
                    word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
                for (std::int32_t i = mByName[bucket]; i != kEnd; i = mEntries[i].nextByName)
                    visit(mEntries[i]);
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

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;

    struct LookupSlot {
        std::uint32_t tag;
        std::int32_t entry;
    };

    // The entry at the end, not yet in any index.
    void Append(std::string_view name, std::uint16_t handle) {
        mEntries.push_back(Entry{Intern(name), Handles::NameHash(name), LookupHash(name),
                                 static_cast<std::uint16_t>(name.size()), handle, kEnd, kEnd});
    }

    // Puts the entry at position first in its name and number buckets and
    // into the look-up.
    void Link(std::int32_t position) {
        Entry& entry = mEntries[position];
        const std::uint32_t nameBucket = entry.hash % Handles::kBuckets;
        std::int32_t& nameHead = mByName[nameBucket];
        mNameBucketsUsed[nameBucket / 64] |= std::uint64_t{1} << (nameBucket % 64);
        std::int32_t& numberHead = mByNumber[entry.handle % Handles::kBuckets];
        entry.nextByName = nameHead;
        entry.nextByNumber = numberHead;
        nameHead = position;
        numberHead = position;
        InsertLookup(position);
    }

    // A name given again replaces the older entry in the look-up, as the
    // newer one also stands first in its bucket list.
    void InsertLookup(std::int32_t position) {
        const Entry& added = mEntries[position];
        const std::uint32_t tag = added.tag;
        for (std::uint32_t slot = tag & mLookupMask;; slot = (slot + 1) & mLookupMask) {
            LookupSlot& probe = mLookup[slot];
            if (probe.entry == kEnd) {
                probe = LookupSlot{tag, position};
                return;
            }
            const Entry& other = mEntries[probe.entry];
            if (probe.tag == tag &&
                EqualIgnoringCase(other.name, other.length, added.name, added.length)) {
                probe.entry = position;
                return;
            }
        }
    }

    // Rebuilds the look-up with the given number of slots (a power of two)
    // from the first `entries` entries, oldest first.
    void Rehash(std::size_t slots, std::size_t entries) {
        mLookup.assign(slots, LookupSlot{0, kEnd});
        mLookupMask = static_cast<std::uint32_t>(slots - 1);
        for (std::size_t i = 0; i < entries; ++i) InsertLookup(static_cast<std::int32_t>(i));
    }

    const char* Intern(std::string_view name) {
        const std::size_t needed = name.size() + 1;
        if (mBlocks.empty() || mBlockUsed + needed > kBlockSize) {
            mBlocks.push_back(std::make_unique<char[]>(kBlockSize));
            mBlockUsed = 0;
        }
        char* copy = mBlocks.back().get() + mBlockUsed;
        std::memcpy(copy, name.data(), name.size());
        copy[name.size()] = '\0';
        mBlockUsed += needed;
        return copy;
    }

    std::vector<Entry> mEntries;
    std::vector<std::int32_t> mByName;
    std::vector<std::int32_t> mByNumber;
    static_assert(Handles::kBuckets % 64 == 0);
    std::vector<std::uint64_t> mNameBucketsUsed;  // one bit per name bucket
    std::vector<LookupSlot> mLookup;
    std::uint32_t mLookupMask;
    std::vector<std::unique_ptr<char[]>> mBlocks;
    std::size_t mBlockUsed = 0;
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

std::uint32_t Handles::NameHash(std::string_view name) {
    // A character n places from the end is multiplied by 4^n, which is 0 in
    // 32 bits from n = 16 on: only the last 15 characters count.
    if (name.size() > 15) name.remove_prefix(name.size() - 15);
    std::uint32_t hash = 0;
    for (char c : name) hash = (hash + static_cast<std::uint32_t>(UpperCode(c))) * 4u;
    return hash;
}

std::uint32_t Handles::CaseFoldedHash(std::string_view name) { return Registry::LookupHash(name); }

bool Handles::IsLoaded() { return gRegistry != nullptr; }
void Handles::CreateRegistry() { gRegistry = std::make_unique<Registry>(); }
void Handles::DropRegistry() { gRegistry.reset(); }
void Handles::ReserveRegistry(std::uint32_t entries) {
    if (gRegistry) gRegistry->Reserve(entries);
}

bool Handles::AddEntries(const NewEntry* entries, std::size_t count) {
    if (!gRegistry) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (entries[i].name.empty() || entries[i].name.size() > kMaxNameLength) return false;
    gRegistry->AddAll(entries, count);
    return true;
}

void Handles::ForEach(
    const std::function<void(std::uint16_t handle, std::string_view name)>& visit) {
    if (!gRegistry) return;
    gRegistry->ForEach([&](const Registry::Entry& entry) {
        visit(entry.handle, std::string_view(entry.name, entry.length));
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
    std::memcpy(buffer, entry->name, nameLength);
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
    return entry ? entry->name : nullptr;
}

const char* Handles::getNamePtr(const char* name) {
    if (!gRegistry || !name) return nullptr;
    const Registry::Entry* entry = gRegistry->Find(std::string_view(name));
    return entry ? entry->name : nullptr;
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
        std::fwrite(entry.name, 1, entry.length, file);
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
