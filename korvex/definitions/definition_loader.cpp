// Filling the definition table of Daten: from the definition cache when it is
// valid and newer than the handle cache, else by parsing the definition file
// and writing a fresh cache (its layout: definition_cache.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "korvex/coding.h"
#include "korvex/definitions/definition_cache.h"
#include "korvex/definitions/definition_parser.h"
#include "korvex/handles/cache_file.h"
#include "korvex/korvex.h"

namespace korvex::definitions {

using namespace korvex::files;

constexpr std::size_t kRecordsStart = kHeaderSize + 4 + 2;

namespace {

// Checks the version and count before the records (which need not follow
// them in memory) and answers the count, 0 for a damaged cache.
std::uint16_t CheckedCount(const unsigned char* versionAndCount, std::size_t size) {
    if (static_cast<std::int32_t>(korvex::DecodeFixed32(versionAndCount)) != kFormatVersion)
        return 0;
    const std::uint16_t count = korvex::DecodeFixed16(versionAndCount + 4);
    if (size != kRecordsStart + std::size_t{count} * DInfo::kImageSize) return 0;
    return count;
}

// Whether an image holds codes the parser writes: a type up to 14, a
// not-direct road up to 2.
bool ImageValid(const unsigned char* image) {
    return korvex::DecodeFixed16(image) <= DInfo::EIGHTBYTE &&
           korvex::DecodeFixed16(image + 48) <= DInfo::CommValue;
}

// Makes run's count records the table's, shows progress, and hands the run to
// block.
void TakeRecords(DInfoRun& run, std::uint16_t count, DInfoRun& block, std::vector<DInfo*>& table,
                 TAppl* application) {
    DInfo* const records = run.get();
    const std::size_t first = table.size();
    table.resize(first + count);
    for (std::size_t i = 0; i < count; ++i) table[first + i] = records + i;
    // Progress shows at multiples of 100, 250 or 500 only.
    for (std::size_t built = 50; built <= count; built += 50)
        Daten::viewHelloMessage(application, "DORIX1 interface", static_cast<std::uint16_t>(built));
    block = std::move(run);
}

// Builds count records at records from the images at images, checking each
// in the same pass; a damaged one gives up the records built so far.
bool BuildRecords(DInfo* records, const unsigned char* images, std::uint16_t count,
                  DInfoRun& block, std::vector<DInfo*>& table, TAppl* application) {
    DInfoRun run(records);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* image = images + i * DInfo::kImageSize;
        if (!ImageValid(image)) return false;
        new (records + i) DInfo(image);
        ++run.get_deleter().count;
    }
    TakeRecords(run, count, block, table, application);
    return true;
}

// As above for records that are their images, where the file was read to
// (storage the allocation that holds them).
bool AdoptRecords(unsigned char* images, void* storage, std::uint16_t count, DInfoRun& block,
                  std::vector<DInfo*>& table, TAppl* application) {
    auto* records = reinterpret_cast<DInfo*>(images);
    DInfoRun run(records, DInfoRunDeleter{0, storage});
    for (std::size_t i = 0; i < count; ++i) {
        if (!ImageValid(images + i * DInfo::kImageSize)) return false;
        new (records + i) DInfo(DInfo::InPlaceImage{});
        ++run.get_deleter().count;
    }
    TakeRecords(run, count, block, table, application);
    return true;
}

}  // namespace

// Decodes the records of a definition cache into table. Every damage makes
// the whole cache invalid, and the definition file is parsed instead:
//  - shorter than the version and count: a truncated cache;
//  - a version other than 9: another format;
//  - fewer bytes than the record count needs: a truncated cache, or a count
//    the file cannot hold;
//  - bytes after the last record: not a cache this loader wrote;
//  - no record at all, a type code above 14 or a not-direct road above 2:
//    the parser never writes such records.
bool DecodeDefinitionCache(const unsigned char* bytes, std::size_t size, DInfoRun& block,
                           std::vector<DInfo*>& table, TAppl* application) {
    if (size < kRecordsStart) return false;
    const std::uint16_t count = CheckedCount(bytes + kHeaderSize, size);
    if (count == 0) return false;
    auto* records = static_cast<DInfo*>(::operator new(std::size_t{count} * sizeof(DInfo)));
    return BuildRecords(records, bytes + kRecordsStart, count, block, table, application);
}

ReadResult ReadDefinitionCache(const char* path, DInfoRun& block, std::vector<DInfo*>& table,
                               TAppl* application, bool& decoded) {
    decoded = false;
    const int file = path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (file < 0) return ReadResult::CannotOpen;
    struct stat info {};
    const std::size_t size = ::fstat(file, &info) == 0 && S_ISREG(info.st_mode)
                                 ? static_cast<std::size_t>(info.st_size)
                                 : 0;
    const std::size_t count = size > kRecordsStart ? (size - kRecordsStart) / DInfo::kImageSize : 0;
    if (std::endian::native != std::endian::little || count == 0 || count > 0xFFFF ||
        size != kRecordsStart + count * DInfo::kImageSize) {
        // Not the size of any cache: read as it stands, so that a read fault
        // still shows as one, and refused. A big-endian host decodes the
        // images field by field into records of their own.
        FileBytes bytes;
        const ReadResult result = ReadOpenFile(file, bytes);
        ::close(file);
        if (result == ReadResult::Ok)
            decoded = DecodeDefinitionCache(bytes.data(), bytes.size(), block, table, application);
        return result;
    }
    // A record is its image (dinfo.h): the file is read kLead bytes into the
    // block, which puts the first image where a record may stand, and the
    // records are made where their images are, with no copy. One byte more
    // than the file shows a file that grew.
    constexpr std::size_t kLead =
        (alignof(DInfo) - kRecordsStart % alignof(DInfo)) % alignof(DInfo);
    static_assert(sizeof(DInfo) == DInfo::kImageSize && alignof(DInfo) <= alignof(std::max_align_t));
    auto* memory = static_cast<unsigned char*>(::operator new(kLead + size + 1));
    std::size_t got = 0;
    const ReadResult result = ReadFully(file, memory + kLead, size + 1, got);
    ::close(file);
    unsigned char* bytes = memory + kLead;
    const std::uint16_t checked =
        result == ReadResult::Ok && got >= kRecordsStart ? CheckedCount(bytes + kHeaderSize, got) : 0;
    if (checked == 0) {
        ::operator delete(memory);
        return result;
    }
    decoded = AdoptRecords(bytes + kRecordsStart, memory, checked, block, table, application);
    return ReadResult::Ok;
}

std::vector<unsigned char> EncodeDefinitionCache(const char* textFile,
                                                 const std::vector<DInfo*>& table,
                                                 std::uint16_t count) {
    std::vector<unsigned char> bytes(kRecordsStart + std::size_t{count} * DInfo::kImageSize);
    Header header;
    if (!BuildHeaderFor(textFile, header)) BuildHeader(0, header);
    std::memcpy(bytes.data(), header, kHeaderSize);
    korvex::EncodeFixed32(&bytes[kHeaderSize], static_cast<std::uint32_t>(kFormatVersion));
    korvex::EncodeFixed16(&bytes[kHeaderSize + 4], count);
    const DInfo empty;
    for (std::size_t i = 0; i < count; ++i) {
        const DInfo* record = i < table.size() && table[i] ? table[i] : &empty;
        record->EncodeImage(&bytes[kRecordsStart + i * DInfo::kImageSize]);
    }
    return bytes;
}

}  // namespace korvex::definitions

using namespace korvex::files;
using korvex::definitions::EncodeDefinitionCache;
using korvex::definitions::ReadDefinitionCache;

bool Daten::RewriteDefinitionCache() {
    if (mDefinitions.empty() || !mszDefinitionCache[0]) return false;
    const auto bytes = EncodeDefinitionCache(mszDefinitionFile, mDefinitions,
                                             static_cast<std::uint16_t>(mDefinitions.size()));
    if (WriteCacheFile(mszDefinitionCache, bytes) != WriteResult::Ok) return false;
    mDefinitionCacheUnwritten = false;
    return true;
}

void Daten::LoadDefinitions(OWL::TWindow* parent, const char* datenName) {
    mConstructionResult = Ok;
    mDefinitionsFromCache = false;
    mDefinitionCacheUnwritten = false;
    ClearDefinitions();
    if (!datenName) datenName = "";
    // Without a host application there is no definition file to find; the
    // table stays empty.
    TGlobalData* host = GlobalDataOf(parent);
    if (!host) return;
    TGlobalData& global = *host;
    if (!mszDefinitionFile[0])
        global.SearchFileName(mszDefinitionFile, sizeof mszDefinitionFile, 1, datenName, "TXT");
    char cacheFile[kPathSize];
    CacheFileName(global, datenName, cacheFile, sizeof cacheFile);
    StrCopy(mszDefinitionCache, cacheFile, sizeof mszDefinitionCache);

    // One message box, then the process ends; a host whose exit returns gets
    // an empty table and the error as construction result.
    auto fail = [&](ErrorType result, const char* caption, const char* text) {
        OkMsgBox(parent, text, caption);
        mConstructionResult = result;
        ClearDefinitions();
        korvex::host::Host().FatalExit(0);
    };

    if (CacheHeaderValid(cacheFile, mszDefinitionFile) && mHandles &&
        mHandles->BinDateiUpToDate(cacheFile)) {
        bool decoded = false;
        switch (ReadDefinitionCache(cacheFile, mDefinitionBlock, mDefinitions, mApplication,
                                    decoded)) {
            case ReadResult::CannotOpen:
                fail(FileNotFound, "OPEN - ERROR !!", cacheFile);
                return;
            case ReadResult::ReadError:
                fail(DataOrDriverError, "READ - ERROR !!", cacheFile);
                return;
            case ReadResult::Ok:
                break;
        }
        if (decoded) {
            mDefinitionsFromCache = true;
            return;
        }
        ClearDefinitions();
    }

    FileBytes text;
    if (ReadWholeFile(mszDefinitionFile, text) != ReadResult::Ok) {
        fail(FileNotFound, "FILE NOT FOUND !!", mszDefinitionFile);
        return;
    }
    mDefinitions.push_back(new DInfo());
    Handles* handles = mHandles;
    TAppl* application = mApplication;
    korvex::definitions::DefinitionParser parser(
        mDefinitions, mszDefinitionFile,
        [handles](const char* name) {
            return handles ? handles->NameToHandle(name) : Handles::kNoHandle;
        },
        [&](const LoadMessage& message) {
            OkMsgBox(parent, message.text.c_str(), message.caption.c_str());
            mConstructionResult = message.result;
            return false;
        },
        [application](std::uint16_t count) {
            Daten::viewHelloMessage(application, "DORIX1 interface", count);
        });
    parser.UseRecordBlock();
    const bool parsed = parser.Parse(text.text());
    mDefinitionBlock = parser.TakeRecordBlock();
    if (!parsed) {
        ClearDefinitions();
        korvex::host::Host().FatalExit(0);
        return;
    }

    const std::uint16_t count = static_cast<std::uint16_t>(parser.HighestHandle() + 1);
    switch (
        WriteCacheFile(cacheFile, EncodeDefinitionCache(mszDefinitionFile, mDefinitions, count))) {
        case WriteResult::CannotCreate:
            // A read-only install keeps the table parsed from the text; the
            // cache stays as it was, for its owner to rewrite.
            if (!DirectoryWritable(cacheFile)) {
                mDefinitionCacheUnwritten = true;
                return;
            }
            fail(DataOrDriverError, "OPEN - ERROR !!", cacheFile);
            return;
        case WriteResult::WriteError:
            fail(DataOrDriverError, "WRITE - ERROR !!", cacheFile);
            return;
        case WriteResult::Ok:
            break;
    }
}
