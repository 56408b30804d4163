#include "korvex/handles/cache_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "korvex/coding.h"
#include "korvex/host/host.h"

namespace korvex::files {

void BuildHeader(std::uint32_t stamp, Header header) {
    std::memset(header, 0, kHeaderSize);
    const std::string text =
        std::string("Q&Z - DATAINTERFACE FILE\nVERSION: ") + kBuildDate + " " + kBuildTime + "\n";
    std::memcpy(header, text.data(), text.size());
    EncodeFixed32(header + text.size(), stamp);
}

bool BuildHeaderFor(const char* textFile, Header header) {
    std::uint32_t stamp = 0;
    if (!FileStamp(textFile, stamp)) return false;
    BuildHeader(stamp, header);
    return true;
}

bool HeadersMatch(const unsigned char* stored, const unsigned char* expected) {
    for (std::size_t i = 0; i < kHeaderSize; ++i) {
        if (stored[i] != expected[i]) return false;
        if (stored[i] == 0) return true;
    }
    return true;
}

bool CacheHeaderValid(const char* cacheFile, const char* textFile) {
    Header expected;
    // Without its text file a cache cannot be checked, so it is not trusted.
    if (!BuildHeaderFor(textFile, expected)) return false;
    const int file = cacheFile ? ::open(cacheFile, O_RDONLY | O_CLOEXEC) : -1;
    if (file < 0) return false;
    Header stored;
    std::size_t got = 0;
    const bool complete =
        ReadFully(file, stored, kHeaderSize, got) == ReadResult::Ok && got == kHeaderSize;
    ::close(file);
    return complete && HeadersMatch(stored, expected);
}

bool CacheFileName(TGlobalData& global, const char* name, char* out, std::size_t size) {
    if (!out || size == 0) return false;
    const char* directory = global.GetPfad(1, global.DoesEngineExist());
    const std::size_t directoryLength = directory ? std::strlen(directory) : 0;
    const std::size_t nameLength = name ? std::strlen(name) : 0;
    // Directory, separator, name and ".BIN" must fit whole: a cut path would
    // name another file.
    if (directoryLength + 1 + nameLength + 4 + 1 > size) {
        out[0] = '\0';
        return false;
    }
    StrCopy(out, directory, size);
    AppendStrich(out, size);
    std::strcat(out, name ? name : "");
    ChangeExtension(out, size, ".BIN");
    return true;
}

bool FileStamp(const char* path, std::uint32_t& stamp) {
    // Opened (not only looked at) so that a file that cannot be read has no
    // stamp; a bare descriptor, as this runs several times at every start.
    const int file = path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (file < 0) return false;
    const bool ok = host::Host().GetFileStamp(path, stamp);
    ::close(file);
    return ok;
}

ReadResult ReadFully(int file, void* into, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(file, static_cast<unsigned char*>(into) + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadResult::ReadError;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return ReadResult::Ok;
}

ReadResult ReadOpenFile(int file, FileBytes& bytes) {
    bytes.mData.reset();
    bytes.mSize = 0;
    struct stat info {};
    std::size_t capacity = 4096;
    if (::fstat(file, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        capacity = static_cast<std::size_t>(info.st_size) + 1;
    // One read for a file that keeps its size; a growing file still reads whole.
    std::unique_ptr<unsigned char[]> data(new unsigned char[capacity]);
    std::size_t size = 0;
    for (;;) {
        std::size_t got = 0;
        if (ReadFully(file, data.get() + size, capacity - size, got) != ReadResult::Ok)
            return ReadResult::ReadError;
        size += got;
        if (size < capacity) break;
        std::unique_ptr<unsigned char[]> larger(new unsigned char[capacity * 2]);
        std::memcpy(larger.get(), data.get(), size);
        data = std::move(larger);
        capacity *= 2;
    }
    bytes.mData = std::move(data);
    bytes.mSize = size;
    return ReadResult::Ok;
}

ReadResult ReadWholeFile(const char* path, FileBytes& bytes) {
    bytes.mData.reset();
    bytes.mSize = 0;
    const int file = path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (file < 0) return ReadResult::CannotOpen;
    const ReadResult result = ReadOpenFile(file, bytes);
    ::close(file);
    return result;
}

// Kept out of line on purpose: inlined where the length is known to be
// short, the copy compiles to a "rep movs" whose start-up costs more than a
// call to the library's memcpy for a name of a few bytes.
void CopyTerminated(char* out, const void* in, std::size_t length) {
    std::memcpy(out, in, length);
    out[length] = '\0';
}

namespace {
std::uint64_t gFileWrites = 0;
std::uint64_t gFailFileWriteAt = 0;
}  // namespace

void FailFileWrite(std::uint32_t n) {
    gFailFileWriteAt = n == 0 ? 0 : gFileWrites + n;
}
std::uint64_t FileWrites() {
    return gFileWrites;
}

// No fsync: every file written here can be rebuilt (caches from their text
// files, the simulated state by the run), and an empty one is refused on reading.
WriteResult WriteFileAtomically(const char* path, const void* data, std::size_t size) {
    if (!path || !*path) return WriteResult::CannotCreate;
    // Beside the file, so that the rename stays on one file system; the
    // process id keeps two processes that write the same file apart.
    const std::string temporary = std::string(path) + ".tmp" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    // A directory that takes no new file may still hold the file, writable:
    // it is then rewritten in place, the only way left.
    const bool inPlace = !file && (file = std::fopen(path, "wb")) != nullptr;
    if (!file) return WriteResult::CannotCreate;
    const bool full = ++gFileWrites == gFailFileWriteAt;
    if (full) gFailFileWriteAt = 0;
    const std::size_t count = full ? size / 2 : size;
    const bool written = !full && (count == 0 || std::fwrite(data, 1, count, file) == count);
    if (full && count) std::fwrite(data, 1, count, file);
    const bool closed = std::fclose(file) == 0;
    if (written && closed && (inPlace || std::rename(temporary.c_str(), path) == 0))
        return WriteResult::Ok;
    std::remove(inPlace ? path : temporary.c_str());
    return WriteResult::WriteError;
}

WriteResult WriteCacheFile(const char* path, const std::vector<unsigned char>& bytes) {
    if (!path || !*path) return WriteResult::CannotCreate;
    struct stat info {};
    if (::stat(path, &info) == 0 && (!S_ISREG(info.st_mode) || ::access(path, W_OK) != 0))
        return WriteResult::CannotCreate;
    return WriteFileAtomically(path, bytes.data(), bytes.size());
}

bool DirectoryWritable(const char* path) {
    if (!path || !*path) return false;
    const char* slash = std::strrchr(path, '/');
    const std::string directory = slash ? std::string(path, slash == path ? 1 : slash - path) : ".";
    return ::access(directory.c_str(), W_OK) == 0;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

TAppl* ApplicationOf(OWL::TWindow* parent) {
    return parent ? dynamic_cast<TAppl*>(parent->GetApplication()) : nullptr;
}

TGlobalData* GlobalDataOf(OWL::TWindow* parent) {
    TAppl* application = ApplicationOf(parent);
    return application ? application->GetGlobalData() : nullptr;
}

}  // namespace korvex::files
