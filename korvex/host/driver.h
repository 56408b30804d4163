// The host's controller driver as the library sees it.
//
// The library never implements a driver: the host hands one over through its
// global data, and every controller transfer goes through these nine
// operations, in this slot order. Widths are the controller's: cnc and axis 8
// bits, handles and counts 16 bits, addresses 32 bits.
#ifndef KORVEX_HOST_DRIVER_H_
#define KORVEX_HOST_DRIVER_H_

#include <cstdint>

class TDriver {
public:
    // Where a value lives in the controller; passed unchanged to the memory
    // operations. The library gives 2 to every object it builds; 0 makes all
    // multi-byte values byte-swapped.
    enum ELocation : std::uint8_t { LocationSwapped = 0, LocationDefault = 2 };

    virtual ~TDriver() = default;

    // a is the element index and b the byte count, except for blocks of 256
    // bytes or more (a the count, b the index). 0 answers success.
    virtual std::uint8_t ReadByHandle(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                                      std::uint16_t a, std::uint8_t b, void* destination,
                                      int reserved, std::uint8_t mode) = 0;
    virtual std::uint8_t WriteByHandle(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                                       std::uint16_t a, std::uint8_t b, const void* source,
                                       int reserved, std::uint8_t mode) = 0;
    virtual void SendControl(std::uint8_t code, std::uint8_t cnc, int reserved) = 0;
    virtual std::uint16_t MaxTableElements(std::uint8_t cnc, std::uint16_t handle) = 0;
    // The offset and memory operations answer the number of bytes moved.
    virtual std::uint16_t ReadOffset(std::uint8_t cnc, std::uint32_t offset, std::uint16_t size,
                                     void* buffer) = 0;
    virtual std::uint16_t WriteOffset(std::uint8_t cnc, std::uint32_t offset, std::uint16_t size,
                                      const void* buffer) = 0;
    virtual std::uint16_t ReadMemory(std::uint8_t cnc, std::uint32_t address, std::uint16_t length,
                                     std::uint16_t readParam, std::uint8_t readFlag,
                                     void* destination, ELocation location) = 0;
    virtual std::uint16_t WriteMemory(std::uint8_t cnc, std::uint32_t address,
                                      std::uint16_t length, const void* source,
                                      ELocation location) = 0;
    virtual std::uint32_t GetMemoryBase(std::uint8_t cnc) = 0;
};

#endif  // KORVEX_HOST_DRIVER_H_
