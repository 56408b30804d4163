// The file layer shared by the handle file and the definition file loaders:
// the 256-byte cache header, cache names, whole-file reads and writes, line
// splitting, and the load-time message that both loaders report.
//
// Cache header (both caches start with it):
//   "Q&Z - DATAINTERFACE FILE\n" "VERSION: " <build date> " " <build time> "\n"
//   then the text file's packed modification stamp (4 bytes, little endian)
//   where the terminating zero of that text would stand, then zeros up to
//   256 bytes. Headers are compared as zero-terminated texts, so a cache is
//   valid when the same build wrote it from a text file with the same stamp
//   (up to a zero byte inside the stamp).
#ifndef KORVEX_HANDLES_CACHE_FILE_H_
#define KORVEX_HANDLES_CACHE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TGlobalData;
class TAppl;
namespace OWL {
class TWindow;
}

namespace korvex::files {

constexpr std::size_t kHeaderSize = 256;
constexpr std::int32_t kFormatVersion = 9;
// Caches already on machines carry these texts; changing them makes every
// cache stale.
constexpr const char kBuildDate[] = "Dez 16 2016";
constexpr const char kBuildTime[] = "11:37:28";
// Room for a machine directory, a file name and an extension.
constexpr std::size_t kPathSize = 1024;

using Header = unsigned char[kHeaderSize];

// The header for a text file of the given packed stamp.
void BuildHeader(std::uint32_t stamp, Header header);
// The header for textFile; false when the file cannot be opened for reading
// or its stamp cannot be taken.
bool BuildHeaderFor(const char* textFile, Header header);
// Compares two headers as zero-terminated texts, up to and including the
// first zero byte.
bool HeadersMatch(const unsigned char* stored, const unsigned char* expected);
// The cache-header check: the cache can be read, holds a full header, and
// that header equals the one computed for textFile.
bool CacheHeaderValid(const char* cacheFile, const char* textFile);
// The cache name: the directory of file type 1 (engine flag from
// DoesEngineExist), a separator, name, extension replaced by ".BIN".
// False when the result does not fit into size bytes.
bool CacheFileName(TGlobalData& global, const char* name, char* out, std::size_t size);

// Packed modification stamp of a file opened for reading.
bool FileStamp(const char* path, std::uint32_t& stamp);

enum class ReadResult { Ok, CannotOpen, ReadError };

// The bytes of a whole file (not zero-filled first: a machine's files are
// read at every start).
class FileBytes {
  public:
    const unsigned char* data() const { return mData.get(); }
    std::size_t size() const { return mSize; }
    std::string_view text() const {
        return std::string_view(reinterpret_cast<const char*>(mData.get()), mSize);
    }

  private:
    friend ReadResult ReadOpenFile(int file, FileBytes& bytes);
    friend ReadResult ReadWholeFile(const char* path, FileBytes& bytes);
    std::unique_ptr<unsigned char[]> mData;
    std::size_t mSize = 0;
};

// Reads a whole file in binary mode.
ReadResult ReadWholeFile(const char* path, FileBytes& bytes);
// Reads the rest of the open file descriptor file.
ReadResult ReadOpenFile(int file, FileBytes& bytes);
// Reads up to size bytes from file into into, fewer only at the file's end;
// got is the count read.
ReadResult ReadFully(int file, void* into, std::size_t size, std::size_t& got);

enum class WriteResult { Ok, CannotCreate, WriteError };
// Writes size bytes to a new file beside path and renames it over path: a
// reader (or a process that stopped half-way) finds the old file or the new
// one, never a part of one. The new file is removed again when its write fails.
WriteResult WriteFileAtomically(const char* path, const void* data, std::size_t size);
// Replaces the cache at path by bytes as above; an existing cache that may
// not be written is kept (CannotCreate).
WriteResult WriteCacheFile(const char* path, const std::vector<unsigned char>& bytes);
// True when a new file can be made in the directory that holds path (the
// machine directory for a cache). A read-only install answers false.
bool DirectoryWritable(const char* path);
// Fault injection for tests: the n-th file write from now fails half-way as
// on a full disk (0 clears it). FileWrites counts the writes begun so far.
void FailFileWrite(std::uint32_t n);
std::uint64_t FileWrites();

// Copies length bytes to out and terminates them with a zero.
// REQUIRES: out holds length + 1 bytes.
void CopyTerminated(char* out, const void* in, std::size_t length);

// Splits text into lines: a line ends at a line feed, which is removed
// together with a carriage return before it, so files saved on Windows read
// like files with plain line feeds. A zero byte ends the line's text, as it
// ends a C string. visit(lineNumber, line) answers false to stop.
template <typename Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
    // Text files rarely hold a zero byte; only then is each line searched.
    const bool zeros = text.find('\0') != std::string_view::npos;
    const char* at = text.data();
    const char* const end = at + text.size();
    unsigned number = 0;
    while (at < end) {
        const void* feed = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
        const char* stop = feed ? static_cast<const char*>(feed) : end;
        const char* next = stop < end ? stop + 1 : end;
        std::string_view line(at, static_cast<std::size_t>(stop - at));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (zeros) {
            const std::size_t zero = line.find('\0');
            if (zero != std::string_view::npos) line = line.substr(0, zero);
        }
        if (!visit(++number, line)) return;
        at = next;
    }
}

// One load-time error: a message box's caption and text, the result the
// load ends with, and the line of the file it concerns (0 for the file as a
// whole).
struct LoadMessage {
    std::uint8_t result = 0;
    unsigned line = 0;
    std::string caption;
    std::string text;
};
// Receives each error; answers true to go on checking (the lint), false to
// stop at it (a load, which then ends the process).
using MessageSink = std::function<bool(const LoadMessage&)>;

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The host's global data of a parent window; nullptr without a host
// application.
TGlobalData* GlobalDataOf(OWL::TWindow* parent);
TAppl* ApplicationOf(OWL::TWindow* parent);

}  // namespace korvex::files

#endif  // KORVEX_HANDLES_CACHE_FILE_H_
