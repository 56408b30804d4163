#include "korvex/host/sim_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <fstream>
#include <sstream>

#include "korvex/handles/cache_file.h"
#include "korvex/host/trace.h"

namespace korvex::host {

namespace {

const char* const kOperationNames[SimDriver::kOperations] = {
    "ReadByHandle", "WriteByHandle", "SendControl", "MaxTableElements", "ReadOffset",
    "WriteOffset",  "ReadMemory",    "WriteMemory", "GetMemoryBase",
};

const std::vector<std::uint8_t> kNoBytes;

// Numbers move 1 to 8 bytes: fixed-size copies of the common widths beat a
// library call and a byte loop.
inline void CopyBytes(void* destination, const void* source, std::size_t count) {
    switch (count) {
        case 4:
            std::memcpy(destination, source, 4);
            return;
        case 2:
            std::memcpy(destination, source, 2);
            return;
        case 1:
            std::memcpy(destination, source, 1);
            return;
        case 8:
            std::memcpy(destination, source, 8);
            return;
        default:
            // An empty move may come with null pointers, which memcpy must not see.
            if (count != 0) std::memcpy(destination, source, count);
    }
}

std::string Hex(const std::uint8_t* bytes, std::size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    return out;
}

bool FromHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
    if (text.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = text[i + k];
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
            value = value * 16 + digit;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return true;
}

}  // namespace

ZeroedBytes::ZeroedBytes(std::size_t size)
    : mData(static_cast<std::uint8_t*>(std::calloc(size, 1))), mSize(size) {
    if (!mData && size) throw std::bad_alloc();
}

ZeroedBytes& ZeroedBytes::operator=(ZeroedBytes&& other) noexcept {
    if (this != &other) {
        std::free(mData);
        mData = std::exchange(other.mData, nullptr);
        mSize = std::exchange(other.mSize, 0);
    }
    return *this;
}

ZeroedBytes::~ZeroedBytes() { std::free(mData); }

SimDriver::SimDriver() : mImage(kImageEnd - kImageStart), mOffsetArea(kOffsetAreaSize) {}

bool SimDriver::OperationFromName(const std::string& name, Operation& operation) {
    for (int i = 0; i < kOperations; ++i) {
        if (name == kOperationNames[i]) {
            operation = static_cast<Operation>(i);
            return true;
        }
    }
    return false;
}

const char* SimDriver::OperationName(Operation operation) {
    return kOperationNames[static_cast<int>(operation)];
}

void SimDriver::FailNext(Operation operation, std::uint32_t count) {
    mFailures[static_cast<int>(operation)] = count;
    Recheck();
}

void SimDriver::Recheck() {
    std::uint8_t bits = 0;
    if (mFailAt != 0 ||
        std::any_of(mFailures.begin(), mFailures.end(), [](std::uint32_t n) { return n != 0; }))
        bits |= kFailing;
    if (mHoldWrites) bits |= kHeld;
    if (mWriteWatch) bits |= kWatched;
    if (Tracing()) bits |= kTraced;
    if (mBusyReads > 0) bits |= kBusy;
    if (!mHandleWaves.empty()) bits |= kWaving;
    mOffRoad = bits;
}

bool SimDriver::ShouldFail(Operation operation) {
    const int i = static_cast<int>(operation);
    ++mCalls[i];
    if (++mTotalCalls == mFailAt) {
        mFailAt = 0;
        Recheck();
        return true;
    }
    if (mFailures[i] == 0) return false;
    if (--mFailures[i] == 0) Recheck();
    return true;
}

void SimDriver::Trace(const std::string& line) {
    if (mRecordTrace) mTrace.push_back(line);
    if (mTraceSink) mTraceSink(line);
}

void SimDriver::Place(std::uint16_t handle, std::uint16_t a, std::uint8_t b, std::uint8_t mode,
                      std::uint16_t& index, std::uint16_t& count) const {
    // Only text and block transfers (mode 0) can be large: numbers skip the look-up.
    bool large = false;
    if (mode == 0) {
        const auto field = mFieldLengths.find(handle);
        large = field != mFieldLengths.end() && field->second >= 256;
    }
    index = large ? b : a;
    count = large ? a : b;
}

// The trace lines are written out of line: formatting them on the value
// path would cost every read and write its registers and stack even when no
// one is tracing.
[[gnu::cold, gnu::noinline]] void SimDriver::TraceHandleCall(const char* operation,
                                                             std::uint8_t cnc, std::uint8_t axis,
                                                             std::uint16_t handle, std::uint16_t a,
                                                             std::uint8_t b, std::uint8_t mode,
                                                             const void* bytes, std::size_t count,
                                                             std::uint8_t result, bool read) {
    char head[96];
    if (read) {
        std::snprintf(head, sizeof head, "%s %u %u %u %u %u %u -> %u ", operation, cnc, axis,
                      handle, a, b, mode, result);
        Trace(head + QuoteBytes(bytes, result == 0 ? count : 0));
        return;
    }
    std::snprintf(head, sizeof head, "%s %u %u %u %u %u %u ", operation, cnc, axis, handle, a, b,
                  mode);
    char tail[16];
    std::snprintf(tail, sizeof tail, " -> %u", result);
    Trace(head + QuoteBytes(bytes, bytes ? count : 0) + tail);
}

// A value asked for over and over comes first in its bucket: found with one
// division and one compare, without the walk along the bucket that a
// general look-up is made for. Others are left to the full road.
inline std::vector<std::uint8_t>* SimDriver::FirstInBucket(std::uint64_t key) {
    if (mValues.empty()) return nullptr;
    const std::size_t bucket = mValues.bucket(key);
    const auto first = mValues.begin(bucket);
    return first != mValues.end(bucket) && first->first == key ? &first->second : nullptr;
}

// The plain road of a number (mode 1) read from a value stored at least as
// wide, with nothing unusual switched on: one look-up, one copy, the call
// counted. Everything else takes the full road, which counts it there. Both
// roads take the call by its key, so that nothing else must be kept over the
// look-up.
[[gnu::flatten]] std::uint8_t SimDriver::ReadByHandle(std::uint8_t cnc, std::uint8_t axis,
                                                      std::uint16_t handle, std::uint16_t a,
                                                      std::uint8_t b, void* destination, int,
                                                      std::uint8_t mode) {
    const std::uint64_t key = Key(cnc, axis, handle, a);
    if ((mOffRoad & kReadOffRoad) != 0 || mode == 0 || !destination) [[unlikely]]
        return ReadByHandleOffRoad(key, b, destination, mode);
    std::vector<std::uint8_t>* stored = FirstInBucket(key);
    if (!stored || stored->size() < b) [[unlikely]]
        return ReadByHandleOffRoad(key, b, destination, mode);
    ++mCalls[static_cast<int>(Operation::ReadByHandle)];
    ++mTotalCalls;
    CopyBytes(destination, stored->data(), b);
    return 0;
}

[[gnu::noinline]] std::uint8_t SimDriver::ReadByHandleOffRoad(std::uint64_t key, std::uint8_t b,
                                                              void* destination,
                                                              std::uint8_t mode) {
    const std::uint8_t cnc = KeyCnc(key), axis = KeyAxis(key);
    const std::uint16_t handle = KeyHandle(key), a = KeyIndex(key);
    std::uint16_t index, count;
    Place(handle, a, b, mode, index, count);
    std::uint8_t result = 0;
    if (ShouldFail(Operation::ReadByHandle) || !destination) [[unlikely]] {
        result = 1;
    } else if (handle == kBusyHandle && mBusyReads > 0) [[unlikely]] {
        if (--mBusyReads == 0) Recheck();
        std::uint8_t busy[4] = {1, 0, 0, 0};
        std::memset(destination, 0, count);
        std::memcpy(destination, busy, std::min<std::size_t>(count, sizeof busy));
    } else {
        if (!mHandleWaves.empty()) MoveWaves(Key(cnc, axis, handle, index));
        const auto found = mValues.find(Key(cnc, axis, handle, index));
        std::uint8_t* out = static_cast<std::uint8_t*>(destination);
        std::size_t stored = 0;
        if (found != mValues.end()) [[likely]] {
            stored = std::min<std::size_t>(count, found->second.size());
            CopyBytes(out, found->second.data(), stored);
        }
        if (stored < count) std::memset(out + stored, 0, count - stored);
    }
    if (Tracing()) [[unlikely]]
        TraceHandleCall("ReadByHandle", cnc, axis, handle, a, b, mode, destination, count, result,
                        true);
    return result;
}

// The plain road of a number written over a value stored at least as wide,
// as for reading; no watch record is made on it, since no one watches.
[[gnu::flatten]] std::uint8_t SimDriver::WriteByHandle(std::uint8_t cnc, std::uint8_t axis,
                                                       std::uint16_t handle, std::uint16_t a,
                                                       std::uint8_t b, const void* source, int,
                                                       std::uint8_t mode) {
    const std::uint64_t key = Key(cnc, axis, handle, a);
    if ((mOffRoad & kWriteOffRoad) != 0 || mode == 0 || !source) [[unlikely]]
        return WriteByHandleOffRoad(key, b, source, mode);
    std::vector<std::uint8_t>* stored = FirstInBucket(key);
    if (!stored || stored->size() < b) [[unlikely]]
        return WriteByHandleOffRoad(key, b, source, mode);
    ++mCalls[static_cast<int>(Operation::WriteByHandle)];
    ++mTotalCalls;
    CopyBytes(stored->data(), source, b);
    return 0;
}

[[gnu::noinline]] std::uint8_t SimDriver::WriteByHandleOffRoad(std::uint64_t key, std::uint8_t b,
                                                               const void* source,
                                                               std::uint8_t mode) {
    const std::uint8_t cnc = KeyCnc(key), axis = KeyAxis(key);
    const std::uint16_t handle = KeyHandle(key), a = KeyIndex(key);
    std::uint16_t index, count;
    Place(handle, a, b, mode, index, count);
    Write write{Operation::WriteByHandle, cnc, axis, handle, index, 0,
                static_cast<const std::uint8_t*>(source), count};
    if (mHoldWrites && source) {
        Watch(write);
        return 0;
    }
    std::uint8_t result = 0;
    if (ShouldFail(Operation::WriteByHandle) || !source) [[unlikely]] {
        result = 1;
    } else {
        // A value is written over and over: found in place, made only once.
        const std::uint64_t key = Key(cnc, axis, handle, index);
        auto found = mValues.find(key);
        if (found == mValues.end()) [[unlikely]]
            found = mValues.emplace(key, std::vector<std::uint8_t>()).first;
        std::vector<std::uint8_t>& value = found->second;
        if (value.size() < count) [[unlikely]] value.resize(count, 0);
        CopyBytes(value.data(), source, count);
        Watch(write);
    }
    if (Tracing()) [[unlikely]]
        TraceHandleCall("WriteByHandle", cnc, axis, handle, a, b, mode, source, count, result,
                        false);
    return result;
}

void SimDriver::SendControl(std::uint8_t code, std::uint8_t cnc, int) {
    if (mHoldWrites) return;
    ShouldFail(Operation::SendControl);  // no answer to fail: only counted
    mControls.emplace_back(code, cnc);
    if (Tracing()) {
        char line[64];
        std::snprintf(line, sizeof line, "SendControl %u %u", code, cnc);
        Trace(line);
    }
}

std::uint16_t SimDriver::MaxTableElements(std::uint8_t cnc, std::uint16_t handle) {
    std::uint16_t answer = 0;
    if (!ShouldFail(Operation::MaxTableElements)) {
        const auto found = mTableSizes.find(handle);
        answer = found == mTableSizes.end() ? 1 : found->second;
    }
    if (Tracing()) {
        char line[64];
        std::snprintf(line, sizeof line, "MaxTableElements %u %u -> %u", cnc, handle, answer);
        Trace(line);
    }
    return answer;
}

std::uint16_t SimDriver::ReadOffset(std::uint8_t cnc, std::uint32_t offset, std::uint16_t size,
                                    void* buffer) {
    std::uint16_t moved = 0;
    if (!ShouldFail(Operation::ReadOffset) && buffer && offset < kOffsetAreaSize) {
        moved = static_cast<std::uint16_t>(std::min<std::uint32_t>(size, kOffsetAreaSize - offset));
        std::memcpy(buffer, mOffsetArea.data() + offset, moved);
    } else if (size > 0 && buffer && offset < kOffsetAreaSize) {
        // An injected failure moves all but the last byte.
        moved = static_cast<std::uint16_t>(
            std::min<std::uint32_t>(size - 1u, kOffsetAreaSize - offset));
        std::memcpy(buffer, mOffsetArea.data() + offset, moved);
    }
    if (Tracing()) {
        char head[96];
        std::snprintf(head, sizeof head, "ReadOffset %u %u %u -> %u ", cnc, offset, size, moved);
        Trace(head + QuoteBytes(buffer, moved));
    }
    return moved;
}

std::uint16_t SimDriver::WriteOffset(std::uint8_t cnc, std::uint32_t offset, std::uint16_t size,
                                     const void* buffer) {
    std::uint16_t moved = 0;
    Write write{Operation::WriteOffset, cnc, 0, 0, 0, offset,
                static_cast<const std::uint8_t*>(buffer), size};
    if (mHoldWrites && buffer) {
        Watch(write);
        return size;
    }
    const bool fail = ShouldFail(Operation::WriteOffset);
    if (!fail && buffer && offset < kOffsetAreaSize) {
        moved = static_cast<std::uint16_t>(std::min<std::uint32_t>(size, kOffsetAreaSize - offset));
        std::memcpy(mOffsetArea.data() + offset, buffer, moved);
        write.length = moved;
        Watch(write);
    }
    if (Tracing()) {
        char head[96];
        std::snprintf(head, sizeof head, "WriteOffset %u %u %u ", cnc, offset, size);
        char tail[24];
        std::snprintf(tail, sizeof tail, " -> %u", moved);
        Trace(head + QuoteBytes(buffer, buffer ? size : 0) + tail);
    }
    return moved;
}

std::uint8_t* SimDriver::Image(std::uint32_t address) {
    if (address < kImageStart || address >= kImageEnd) return nullptr;
    return mImage.data() + (address - kImageStart);
}

std::uint16_t SimDriver::ReadMemory(std::uint8_t cnc, std::uint32_t address, std::uint16_t length,
                                    std::uint16_t readParam, std::uint8_t readFlag,
                                    void* destination, ELocation location) {
    std::uint16_t moved = 0;
    if (!ShouldFail(Operation::ReadMemory) && destination && address >= kImageStart &&
        address < kImageEnd) {
        moved = static_cast<std::uint16_t>(std::min<std::uint32_t>(length, kImageEnd - address));
        if (!mMemoryWaves.empty()) MoveMemoryWaves(address, moved);
        std::memcpy(destination, mImage.data() + (address - kImageStart), moved);
    }
    if (Tracing()) {
        char head[128];
        std::snprintf(head, sizeof head, "ReadMemory %u %u %u %u %u %u -> %u ", cnc, address,
                      length, readParam, readFlag, static_cast<unsigned>(location), moved);
        Trace(head + QuoteBytes(destination, moved));
    }
    return moved;
}

std::uint16_t SimDriver::WriteMemory(std::uint8_t cnc, std::uint32_t address,
                                     std::uint16_t length, const void* source,
                                     ELocation location) {
    std::uint16_t moved = 0;
    Write write{Operation::WriteMemory, cnc, 0, 0, 0, address,
                static_cast<const std::uint8_t*>(source), length};
    if (mHoldWrites && source) {
        Watch(write);
        return length;
    }
    if (!ShouldFail(Operation::WriteMemory) && source && address >= kImageStart &&
        address < kImageEnd) {
        moved = static_cast<std::uint16_t>(std::min<std::uint32_t>(length, kImageEnd - address));
        std::memcpy(mImage.data() + (address - kImageStart), source, moved);
        write.length = moved;
        Watch(write);
    }
    if (Tracing()) {
        char head[96];
        std::snprintf(head, sizeof head, "WriteMemory %u %u %u %u ", cnc, address, length,
                      static_cast<unsigned>(location));
        char tail[24];
        std::snprintf(tail, sizeof tail, " -> %u", moved);
        Trace(head + QuoteBytes(source, source ? length : 0) + tail);
    }
    return moved;
}

std::uint32_t SimDriver::GetMemoryBase(std::uint8_t cnc) {
    const std::uint32_t base = ShouldFail(Operation::GetMemoryBase) ? 0 : mMemoryBase;
    if (Tracing()) {
        char line[64];
        std::snprintf(line, sizeof line, "GetMemoryBase %u -> %u", cnc, base);
        Trace(line);
    }
    return base;
}

void SimDriver::Poke(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                     std::uint16_t index, const void* bytes, std::size_t length) {
    std::vector<std::uint8_t>& value = mValues[Key(cnc, axis, handle, index)];
    if (value.size() < length) value.resize(length, 0);
    if (length) std::memcpy(value.data(), bytes, length);
}

void SimDriver::PokeLong(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                         std::uint16_t index, std::int32_t value) {
    const std::uint32_t bits = static_cast<std::uint32_t>(value);
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                                   static_cast<std::uint8_t>(bits >> 16),
                                   static_cast<std::uint8_t>(bits >> 24)};
    Poke(cnc, axis, handle, index, bytes, sizeof bytes);
}

const std::vector<std::uint8_t>& SimDriver::Peek(std::uint8_t cnc, std::uint8_t axis,
                                                 std::uint16_t handle, std::uint16_t index) const {
    const auto found = mValues.find(Key(cnc, axis, handle, index));
    return found == mValues.end() ? kNoBytes : found->second;
}

std::int32_t SimDriver::PeekLong(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                                 std::uint16_t index) const {
    const std::vector<std::uint8_t>& bytes = Peek(cnc, axis, handle, index);
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
    return static_cast<std::int32_t>(value);
}

bool SimDriver::SaveState(const std::string& path) const {
    std::ostringstream out;
    out << "# korvex simulated controller state\n";
    out << "base " << mMemoryBase << "\n";
    std::vector<std::uint64_t> keys;
    for (const auto& [key, bytes] : mValues) keys.push_back(key);
    std::sort(keys.begin(), keys.end());
    for (std::uint64_t key : keys) {
        const std::vector<std::uint8_t>& bytes = mValues.at(key);
        out << "value " << ((key >> 40) & 0xFF) << ' ' << ((key >> 32) & 0xFF) << ' '
            << ((key >> 16) & 0xFFFF) << ' ' << (key & 0xFFFF) << ' '
            << (bytes.empty() ? std::string("-") : Hex(bytes.data(), bytes.size())) << "\n";
    }
    std::vector<std::pair<std::uint16_t, std::uint16_t>> sorted(mTableSizes.begin(),
                                                                mTableSizes.end());
    std::sort(sorted.begin(), sorted.end());
    for (const auto& [handle, size] : sorted) out << "table " << handle << ' ' << size << "\n";
    sorted.assign(mFieldLengths.begin(), mFieldLengths.end());
    std::sort(sorted.begin(), sorted.end());
    for (const auto& [handle, length] : sorted) out << "field " << handle << ' ' << length << "\n";
    // Non-zero runs of the memory image and the offset area, 64 bytes a line.
    auto runs = [&out](const char* word, const ZeroedBytes& area, std::uint32_t base) {
        // Most of the image is zero: whole zero blocks are skipped at once.
        static const std::uint8_t kZeros[256] = {};
        for (std::size_t i = 0; i < area.size();) {
            if (i % sizeof kZeros == 0 && area.size() - i >= sizeof kZeros &&
                std::memcmp(area.data() + i, kZeros, sizeof kZeros) == 0) {
                i += sizeof kZeros;
                continue;
            }
            if (area[i] == 0) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < area.size() && end - i < 64 && area[end] != 0) ++end;
            out << word << ' ' << (base + i) << ' ' << Hex(area.data() + i, end - i) << "\n";
            i = end;
        }
    };
    runs("mem", mImage, kImageStart);
    runs("ofs", mOffsetArea, 0);
    // Replaced as a whole: a run that stops while saving leaves the last state.
    const std::string text = out.str();
    return korvex::files::WriteFileAtomically(path.c_str(), text.data(), text.size()) ==
           korvex::files::WriteResult::Ok;
}

bool SimDriver::LoadState(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    SimDriver loaded;
    std::string line;
    unsigned lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string word;
        words >> word;
        bool ok = true;
        if (word == "base") {
            std::uint32_t base = 0;
            ok = static_cast<bool>(words >> base);
            loaded.mMemoryBase = base;
        } else if (word == "value") {
            unsigned cnc, axis, handle, index;
            std::string hex;
            ok = static_cast<bool>(words >> cnc >> axis >> handle >> index >> hex) && cnc < 256 &&
                 axis < 256 && handle < 65536 && index < 65536;
            std::vector<std::uint8_t> bytes;
            if (ok && hex != "-") ok = FromHex(hex, bytes);
            if (ok)
                loaded.mValues[Key(static_cast<std::uint8_t>(cnc), static_cast<std::uint8_t>(axis),
                                   static_cast<std::uint16_t>(handle),
                                   static_cast<std::uint16_t>(index))] = bytes;
        } else if (word == "table" || word == "field") {
            unsigned handle, size;
            ok = static_cast<bool>(words >> handle >> size) && handle < 65536 && size < 65536;
            if (ok)
                (word == "table" ? loaded.mTableSizes : loaded.mFieldLengths)[static_cast<std::uint16_t>(
                    handle)] = static_cast<std::uint16_t>(size);
        } else if (word == "mem" || word == "ofs") {
            std::uint32_t address;
            std::string hex;
            std::vector<std::uint8_t> bytes;
            ok = static_cast<bool>(words >> address >> hex) && FromHex(hex, bytes);
            ZeroedBytes& area = word == "mem" ? loaded.mImage : loaded.mOffsetArea;
            const std::uint32_t base = word == "mem" ? kImageStart : 0;
            ok = ok && address >= base && address - base + bytes.size() <= area.size();
            if (ok && !bytes.empty())
                std::memcpy(area.data() + (address - base), bytes.data(), bytes.size());
        } else {
            ok = false;
        }
        if (!ok) {
            error = path + ":" + std::to_string(lineNumber) + ": malformed state line";
            return false;
        }
    }
    mValues = std::move(loaded.mValues);
    mTableSizes = std::move(loaded.mTableSizes);
    mFieldLengths = std::move(loaded.mFieldLengths);
    mImage = std::move(loaded.mImage);
    mOffsetArea = std::move(loaded.mOffsetArea);
    mMemoryBase = loaded.mMemoryBase;
    return true;
}

}  // namespace korvex::host
