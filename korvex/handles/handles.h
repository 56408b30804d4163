// The process-wide handle registry and its per-Daten front object.
//
// Every data item is addressed by a 16-bit handle and has a name. The registry
// maps names to numbers and back; it is filled once per process from the
// handle file and grows when data objects register new names at run time.
// Iteration walks the names by bucket of the name hash, 49152 buckets, from
// bucket 0 to 49151, each bucket newest entry first: that order is part of
// the handle cache format and of the checksum.
#ifndef KORVEX_HANDLES_HANDLES_H_
#define KORVEX_HANDLES_HANDLES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

class TAppl;
namespace OWL {
class TWindow;
}

class Handles {
public:
    static constexpr std::uint16_t kNoHandle = 0xFFFF;
    static constexpr std::uint32_t kBuckets = 49152;
    // Longest name the registry keeps (the handle cache stores its length in
    // a byte's range).
    static constexpr std::size_t kMaxNameLength = 255;
    // A buffer of this size holds any name, a blank and any index.
    static constexpr std::size_t kNameBufferSize = kMaxNameLength + 8;

    // Load results.
    enum LoadResult : std::uint8_t {
        Loaded = 0,
        FileNotFound = 1,
        EmptyName = 2,
        NumberTwice = 3,
        NameTwice = 4,
    };

    // Loads the registry unless it is loaded already.
    Handles(OWL::TWindow* parent, const char* handleName);

    // 0xFFFF when the registry is not loaded or the name is unknown.
    std::uint16_t NameToHandle(const char* name);
    // As above for a name that need not be terminated (a name in a file's
    // text).
    std::uint16_t NameToHandle(std::string_view name);
    // Accepts "NAME INDEX": index receives the decimal index (0 when there is
    // none or it is not all digits).
    std::uint16_t NameToHandle(const char* name, std::uint16_t& index);
    // Writes the name (and, unless index is 0xFFFF, a blank and the index)
    // into buffer and returns it; nullptr (buffer untouched) when unknown.
    // REQUIRES: buffer holds kNameBufferSize bytes.
    char* HandleToName(std::uint16_t handle, char* buffer, std::uint16_t index);
    // As above for a buffer of bufferSize bytes; a name that does not fit
    // is cut (and terminated) rather than overrun the buffer.
    char* HandleToName(std::uint16_t handle, char* buffer, std::uint16_t index,
                       std::size_t bufferSize);
    bool existName(const char* name);
    // entry, when given, points to a const void* that receives the found
    // entry or nullptr.
    bool existHandle(std::uint16_t handle, void* entry);
    // The registry's own spelling of name (stable for the life of the
    // process), or nullptr.
    const char* getNamePtr(const char* name);
    // The registry's own spelling of the name of handle (stable for the life
    // of the process), or nullptr.
    static const char* InternedName(std::uint16_t handle);
    // The handle of name. When the name is unknown and handle is not
    // kNoHandle, name is entered under handle first and added is set: one
    // look-up for both. kNoHandle, nothing entered, when the registry is not
    // loaded, the name is empty or longer than kMaxNameLength.
    std::uint16_t FindOrAdd(std::string_view name, std::uint16_t handle, bool& added);
    // Inserts a new entry; does not look for duplicates. False when the
    // registry is not loaded, the name is empty or longer than
    // kMaxNameLength.
    bool addNew(const char* name, std::uint16_t handle);
    // As above for a name whose length is known (a cache entry).
    bool addNew(std::string_view name, std::uint16_t handle);
    std::uint32_t HandlesInContainer();
    // Writes every name and a line feed, in iteration order.
    void flush(const char* fileName);
    std::uint32_t MakeChecksum();

    // Handle file and cache (see handle_file.cpp).
    bool BinDateiUpToDate(const char* fileName);
    bool ReadFromBinaerFile(char* textFile, char* cacheFile, TAppl* application);

    std::uint8_t LoadResultCode() const { return mLoadResult; }

    // The registry as a whole (process-wide).
    static bool IsLoaded();
    // Starts an empty registry (dropping any loaded one).
    static void CreateRegistry();
    // Makes room for this many entries in all (a load that knows its count).
    static void ReserveRegistry(std::uint32_t entries);
    // Enters count entries, in their order, as addNew would one by one
    // (a cache's whole content at once). False, with nothing entered, when
    // the registry is not loaded or a name is empty or too long.
    struct NewEntry {
        std::string_view name;
        std::uint16_t handle;
    };
    static bool AddEntries(const NewEntry* entries, std::size_t count);
    // As above for count entries packed as the handle cache stores them, one
    // after the other: a 16-bit handle and a 32-bit name length (little
    // endian), then the name's bytes (a cache read straight from its bytes).
    // False when the registry is not loaded. REQUIRES: every name holds 1 to
    // kMaxNameLength bytes and the count entries lie whole in the size bytes
    // at packed.
    static bool AddPackedEntries(const unsigned char* packed, std::size_t size,
                                 std::size_t count);
    // A new entry whose CaseFoldedHash is known already: a text load hashes
    // each name once, for its own duplicate check and for the registry.
    struct HashedEntry {
        std::string_view name;
        std::uint32_t hash;  // CaseFoldedHash(name)
        std::uint16_t handle;
    };
    // As AddEntries for entries[order[0]], entries[order[1]] ... (entries in
    // their own order when order is nullptr). False, with nothing entered,
    // when the registry is not loaded or a name is empty or too long.
    static bool AddHashedEntries(const HashedEntry* entries, const std::uint32_t* order,
                                 std::size_t count);
    // Hints for a caller that knows the names it will look up next: the
    // first starts fetching the name's look-up slot, the second (given the
    // slot fetched by now) the entry it leads to. Neither changes anything.
    static void PrefetchSlot(std::string_view name);
    static void PrefetchEntry(std::string_view name);
    // Drops the registry; look-ups answer "unknown" until the next load.
    static void DropRegistry();
    // True when the registry was last loaded from the handle cache, false
    // when the handle file was read and the cache rewritten.
    static bool LoadedFromCache();
    // True when the registry was read from the handle file and its cache
    // could not be written because the directory is read-only; the registry
    // is then the text's, and every definition cache counts as stale.
    static bool CacheUnwritten();
    // The packed stamp of the handle cache when it was last read or written
    // (process-wide); definition caches must be newer than it.
    static std::uint32_t HandleCacheTime();
    // Visits every entry in iteration order.
    static void ForEach(const std::function<void(std::uint16_t handle, std::string_view name)>& visit);
    // The name hash: from 0, for each character taken as signed 8 bit, add
    // its upper-case code and multiply by 4 (32-bit wrapping).
    static std::uint32_t NameHash(std::string_view name);
    // A well-mixed hash of the name that ignores the case of 'a' to 'z' (for
    // tables of names beside the registry).
    static std::uint32_t CaseFoldedHash(std::string_view name);
    // Whether two names are one name to the registry: 'a' to 'z' without
    // regard to case, every other byte as it is.
    static bool SameName(std::string_view a, std::string_view b);

private:
    std::uint8_t mLoadResult = Loaded;
};

#endif  // KORVEX_HANDLES_HANDLES_H_
