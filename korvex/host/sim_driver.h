// The simulated controller: a TDriver that needs no machine.
//
// Values by handle are kept per (CNC, axis, handle, index) with any length;
// a memory image covers the controller's three roots (library addresses 0x68
// up to 0x2E5E8 + 123284); an offset area stands for raw controller memory.
// Tests and the command-line tool can make any operation fail, make the
// command-busy handle read non-zero, and watch every call.
#ifndef KORVEX_HOST_SIM_DRIVER_H_
#define KORVEX_HOST_SIM_DRIVER_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "korvex/host/driver.h"

namespace korvex::host {

// Bytes that start zeroed without being touched: pages never written cost no
// memory (calloc takes them fresh from the system), so a controller image of
// which a run uses little stays small.
class ZeroedBytes {
public:
    explicit ZeroedBytes(std::size_t size);
    ZeroedBytes(ZeroedBytes&& other) noexcept : mData(other.mData), mSize(other.mSize) {
        other.mData = nullptr;
        other.mSize = 0;
    }
    ZeroedBytes& operator=(ZeroedBytes&& other) noexcept;
    ZeroedBytes(const ZeroedBytes&) = delete;
    ZeroedBytes& operator=(const ZeroedBytes&) = delete;
    ~ZeroedBytes();
    std::uint8_t* data() { return mData; }
    const std::uint8_t* data() const { return mData; }
    std::size_t size() const { return mSize; }
    std::uint8_t operator[](std::size_t i) const { return mData[i]; }

private:
    std::uint8_t* mData;
    std::size_t mSize;
};

class SimDriver : public TDriver {
public:
    enum class Operation : std::uint8_t {
        ReadByHandle,
        WriteByHandle,
        SendControl,
        MaxTableElements,
        ReadOffset,
        WriteOffset,
        ReadMemory,
        WriteMemory,
        GetMemoryBase,
    };
    static constexpr int kOperations = 9;

    static constexpr std::uint32_t kImageStart = 0x68;
    static constexpr std::uint32_t kImageEnd = 0x2E5E8 + 123284;
    static constexpr std::uint32_t kOffsetAreaSize = 1u << 20;
    static constexpr std::uint16_t kBusyHandle = 583;

    SimDriver();

    // TDriver.
    std::uint8_t ReadByHandle(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                              std::uint16_t a, std::uint8_t b, void* destination, int reserved,
                              std::uint8_t mode) override;
    std::uint8_t WriteByHandle(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                               std::uint16_t a, std::uint8_t b, const void* source, int reserved,
                               std::uint8_t mode) override;
    void SendControl(std::uint8_t code, std::uint8_t cnc, int reserved) override;
    std::uint16_t MaxTableElements(std::uint8_t cnc, std::uint16_t handle) override;
    std::uint16_t ReadOffset(std::uint8_t cnc, std::uint32_t offset, std::uint16_t size,
                             void* buffer) override;
    std::uint16_t WriteOffset(std::uint8_t cnc, std::uint32_t offset, std::uint16_t size,
                              const void* buffer) override;
    std::uint16_t ReadMemory(std::uint8_t cnc, std::uint32_t address, std::uint16_t length,
                             std::uint16_t readParam, std::uint8_t readFlag, void* destination,
                             ELocation location) override;
    std::uint16_t WriteMemory(std::uint8_t cnc, std::uint32_t address, std::uint16_t length,
                              const void* source, ELocation location) override;
    std::uint32_t GetMemoryBase(std::uint8_t cnc) override;

    // Direct access to the simulated state, bypassing the library.
    void Poke(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle, std::uint16_t index,
              const void* bytes, std::size_t length);
    void PokeLong(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle, std::uint16_t index,
                  std::int32_t value);
    // The stored bytes (empty when the value was never set).
    const std::vector<std::uint8_t>& Peek(std::uint8_t cnc, std::uint8_t axis,
                                          std::uint16_t handle, std::uint16_t index) const;
    std::int32_t PeekLong(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                          std::uint16_t index) const;
    std::uint8_t* Image(std::uint32_t address);  // nullptr outside the image
    std::uint8_t* OffsetArea() { return mOffsetArea.data(); }
    void SetMemoryBase(std::uint32_t base) { mMemoryBase = base; }
    void SetTableSize(std::uint16_t handle, std::uint16_t size) { mTableSizes[handle] = size; }
    // Fields of 256 bytes or more are moved with count and index exchanged
    // (mode 0); the driver must know which handles those are.
    void SetFieldLength(std::uint16_t handle, std::uint16_t length) {
        mFieldLengths[handle] = length;
    }

    // The command-busy handle reads 1 for the next n reads.
    void SetBusyReads(std::uint32_t reads) {
        mBusyReads = reads;
        Recheck();
    }
    std::uint32_t BusyReads() const { return mBusyReads; }
    // The next count calls of the operation fail: the handle operations
    // answer 1, the counting operations a short count, MaxTableElements 0.
    void FailNext(Operation operation, std::uint32_t count = 1);
    // The n-th driver call from now, whatever its operation, fails as above
    // (0 clears it): a session can be failed at each of its calls in turn.
    void FailCall(std::uint32_t n) {
        mFailAt = n == 0 ? 0 : mTotalCalls + n;
        Recheck();
    }
    static bool OperationFromName(const std::string& name, Operation& operation);
    static const char* OperationName(Operation operation);

    // One write on its way to the controller, as a watch sees it.
    struct Write {
        Operation operation = Operation::WriteByHandle;  // or WriteMemory, WriteOffset
        std::uint8_t cnc = 0;
        std::uint8_t axis = 0;
        std::uint16_t handle = 0;   // WriteByHandle
        std::uint16_t index = 0;    // WriteByHandle: the element
        std::uint32_t address = 0;  // WriteMemory: the address; WriteOffset: the offset
        const std::uint8_t* bytes = nullptr;
        std::size_t length = 0;
    };
    // Sees every write the controller took, in order (an empty function: none).
    void SetWriteWatch(std::function<void(const Write&)> watch) {
        mWriteWatch = std::move(watch);
        Recheck();
    }
    // While held, writes and control codes reach only the watch: they answer
    // success, change nothing, are neither counted, failed nor traced, so that
    // a dry run names what would be sent.
    void SetHoldWrites(bool hold) {
        mHoldWrites = hold;
        Recheck();
    }
    bool HoldWrites() const { return mHoldWrites; }

    // Calls made so far per operation.
    std::uint32_t Calls(Operation operation) const {
        return mCalls[static_cast<int>(operation)];
    }
    // Calls made so far, all operations together.
    std::uint64_t TotalCalls() const { return mTotalCalls; }
    // One line per call while tracing is on.
    void SetTraceSink(std::function<void(const std::string&)> sink) {
        mTraceSink = std::move(sink);
        Recheck();
    }
    void SetRecordTrace(bool on) {
        mRecordTrace = on;
        Recheck();
    }
    const std::vector<std::string>& TraceLines() const { return mTrace; }
    void ClearTrace() { mTrace.clear(); }
    // A value that moves with time, as a running machine's values do: it
    // swings around offset by amplitude once every period, in the unit the
    // controller stores. Time comes from the host's tick count, so that a
    // test with a fake clock sees exact values.
    struct Wave {
        enum class Shape : std::uint8_t { Sine, Ramp, Square };
        enum class Encoding : std::uint8_t { Signed, Unsigned, Real };
        Shape shape = Shape::Sine;
        std::uint32_t periodMs = 1000;
        double amplitude = 0;
        double offset = 0;
        Encoding encoding = Encoding::Signed;
        std::uint8_t width = 4;  // bytes: 1, 2 or 4; a Real 4 (float) or 8
        bool highByteFirst = false;  // as the controller keeps some memory
        std::uint32_t startTick = 0;
        // The value at tick: sine from offset up, ramp from offset - amplitude
        // up to offset + amplitude, square offset + amplitude in the first half.
        double At(std::uint32_t tick) const;
        // The value as the controller stores it, rounded and held to the
        // width's range; writes width bytes.
        void Encode(double value, std::uint8_t* out) const;
        static bool ShapeFromName(const std::string& name, Shape& shape);
    };
    // A wave on a value by handle (it starts now), or on the memory image at
    // address (false outside the image).
    void SetWave(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle, std::uint16_t index,
                 Wave wave);
    bool SetMemoryWave(std::uint32_t address, Wave wave);
    // Removes the waves of a handle's value or at an address; ClearWaves all.
    void StopWave(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle, std::uint16_t index);
    void StopMemoryWave(std::uint32_t address);
    void ClearWaves();
    std::size_t WaveCount() const { return mHandleWaves.size() + mMemoryWaves.size(); }

    // SendControl codes received, in order.
    const std::vector<std::pair<std::uint8_t, std::uint8_t>>& Controls() const { return mControls; }

    // The state file of the command-line tool: a text file, one line per
    // stored value, table size, field length, memory run and offset run.
    bool SaveState(const std::string& path) const;
    // False (and the state unchanged) when the file cannot be read or is
    // malformed; error then says where.
    bool LoadState(const std::string& path, std::string& error);

private:
    static std::uint64_t Key(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                             std::uint16_t index) {
        return (static_cast<std::uint64_t>(cnc) << 40) | (static_cast<std::uint64_t>(axis) << 32) |
               (static_cast<std::uint64_t>(handle) << 16) | index;
    }
    // What takes a handle transfer off its plain road, one bit each, kept
    // up to date by every setter: the plain road tests one byte instead of
    // the failures, watch, hold, trace, busy and waves one by one.
    enum : std::uint8_t {
        kFailing = 1,
        kHeld = 2,
        kWatched = 4,
        kTraced = 8,
        kBusy = 16,
        kWaving = 32,
    };
    static constexpr std::uint8_t kReadOffRoad = kFailing | kTraced | kBusy | kWaving;
    static constexpr std::uint8_t kWriteOffRoad = kFailing | kHeld | kWatched | kTraced;
    void Recheck();
    // The full roads of ReadByHandle and WriteByHandle: every case, the call
    // given by its key (CNC, axis, handle and the 16-bit field a).
    std::uint8_t ReadByHandleOffRoad(std::uint64_t key, std::uint8_t b, void* destination,
                                     std::uint8_t mode);
    std::uint8_t WriteByHandleOffRoad(std::uint64_t key, std::uint8_t b, const void* source,
                                      std::uint8_t mode);
    std::vector<std::uint8_t>* FirstInBucket(std::uint64_t key);
    static std::uint8_t KeyCnc(std::uint64_t key) { return static_cast<std::uint8_t>(key >> 40); }
    static std::uint8_t KeyAxis(std::uint64_t key) { return static_cast<std::uint8_t>(key >> 32); }
    static std::uint16_t KeyHandle(std::uint64_t key) {
        return static_cast<std::uint16_t>(key >> 16);
    }
    static std::uint16_t KeyIndex(std::uint64_t key) { return static_cast<std::uint16_t>(key); }
    bool ShouldFail(Operation operation);
    bool Tracing() const { return mRecordTrace || static_cast<bool>(mTraceSink); }
    void Trace(const std::string& line);
    void MoveWaves(std::uint64_t key);
    void MoveMemoryWaves(std::uint32_t address, std::uint32_t length);
    void TraceHandleCall(const char* operation, std::uint8_t cnc, std::uint8_t axis,
                         std::uint16_t handle, std::uint16_t a, std::uint8_t b, std::uint8_t mode,
                         const void* bytes, std::size_t count, std::uint8_t result, bool read);
    // Hands a write to the watch; true when it is held back.
    bool Watch(const Write& write) {
        if (mWriteWatch) mWriteWatch(write);
        return mHoldWrites;
    }
    void Place(std::uint16_t handle, std::uint16_t a, std::uint8_t b, std::uint8_t mode,
               std::uint16_t& index, std::uint16_t& count) const;

    // First, beside the values: the plain road reads only these two.
    std::uint8_t mOffRoad = 0;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> mValues;
    std::unordered_map<std::uint16_t, std::uint16_t> mTableSizes;
    std::unordered_map<std::uint16_t, std::uint16_t> mFieldLengths;
    ZeroedBytes mImage;
    ZeroedBytes mOffsetArea;
    std::uint32_t mMemoryBase = 0x00400000;
    std::uint32_t mBusyReads = 0;
    std::array<std::uint32_t, kOperations> mFailures{};
    std::array<std::uint32_t, kOperations> mCalls{};
    std::uint64_t mTotalCalls = 0;
    std::uint64_t mFailAt = 0;
    std::function<void(const std::string&)> mTraceSink;
    bool mRecordTrace = false;
    std::vector<std::string> mTrace;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> mControls;
    std::unordered_map<std::uint64_t, Wave> mHandleWaves;
    std::vector<std::pair<std::uint32_t, Wave>> mMemoryWaves;
    std::function<void(const Write&)> mWriteWatch;
    bool mHoldWrites = false;
};

}  // namespace korvex::host

#endif  // KORVEX_HOST_SIM_DRIVER_H_
