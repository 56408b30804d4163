// Values of the simulated controller that move with time.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "korvex/host/host.h"
#include "korvex/host/sim_driver.h"

namespace korvex::host {

bool SimDriver::Wave::ShapeFromName(const std::string& name, Shape& shape) {
    if (name == "sine") shape = Shape::Sine;
    else if (name == "ramp") shape = Shape::Ramp;
    else if (name == "square") shape = Shape::Square;
    else return false;
    return true;
}

double SimDriver::Wave::At(std::uint32_t tick) const {
    const std::uint32_t period = std::max<std::uint32_t>(periodMs, 1);
    // Unsigned difference: the tick count may wrap while the wave runs.
    const double phase = static_cast<double>((tick - startTick) % period) / period;
    switch (shape) {
        case Shape::Sine:
            return offset + amplitude * std::sin(2 * 3.14159265358979323846 * phase);
        case Shape::Ramp:
            return offset - amplitude + 2 * amplitude * phase;
        case Shape::Square:
            return offset + (phase < 0.5 ? amplitude : -amplitude);
    }
    return offset;
}

void SimDriver::Wave::Encode(double value, std::uint8_t* out) const {
    if (encoding == Encoding::Real) {
        if (width == 4) {
            const float narrow = static_cast<float>(value);
            std::uint32_t bits;
            std::memcpy(&bits, &narrow, sizeof bits);
            for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
        } else {
            std::uint64_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
        }
        return;
    }
    const int bits = 8 * std::min<int>(width, 4);
    const double low = encoding == Encoding::Signed ? -std::ldexp(1.0, bits - 1) : 0.0;
    const double high = (encoding == Encoding::Signed ? std::ldexp(1.0, bits - 1)
                                                      : std::ldexp(1.0, bits)) - 1;
    const double held = std::clamp(std::round(value), low, high);
    const auto stored = static_cast<std::uint32_t>(static_cast<std::int64_t>(held));
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (highByteFirst ? width - 1 - i : i);
        out[i] = shift < 32 ? static_cast<std::uint8_t>(stored >> shift) : 0;
    }
}

void SimDriver::SetWave(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                        std::uint16_t index, Wave wave) {
    wave.startTick = Host().GetTickCount();
    mHandleWaves[Key(cnc, axis, handle, index)] = wave;
    Recheck();
}

bool SimDriver::SetMemoryWave(std::uint32_t address, Wave wave) {
    if (!Image(address) || !Image(address + wave.width - 1)) return false;
    StopMemoryWave(address);
    wave.startTick = Host().GetTickCount();
    mMemoryWaves.emplace_back(address, wave);
    return true;
}

void SimDriver::StopWave(std::uint8_t cnc, std::uint8_t axis, std::uint16_t handle,
                         std::uint16_t index) {
    mHandleWaves.erase(Key(cnc, axis, handle, index));
    Recheck();
}

void SimDriver::StopMemoryWave(std::uint32_t address) {
    std::erase_if(mMemoryWaves, [address](const auto& wave) { return wave.first == address; });
}

void SimDriver::ClearWaves() {
    mHandleWaves.clear();
    mMemoryWaves.clear();
    Recheck();
}

// The stored value of a waving handle becomes the wave's value now, so that a
// read, Peek and the saved state all see the same number.
void SimDriver::MoveWaves(std::uint64_t key) {
    const auto found = mHandleWaves.find(key);
    if (found == mHandleWaves.end()) return;
    const Wave& wave = found->second;
    std::uint8_t bytes[8];
    wave.Encode(wave.At(Host().GetTickCount()), bytes);
    std::vector<std::uint8_t>& value = mValues[key];
    if (value.size() < wave.width) value.resize(wave.width, 0);
    std::copy(bytes, bytes + wave.width, value.begin());
}

void SimDriver::MoveMemoryWaves(std::uint32_t address, std::uint32_t length) {
    for (const auto& [start, wave] : mMemoryWaves) {
        if (start + wave.width <= address || start >= address + length) continue;
        std::uint8_t bytes[8];
        wave.Encode(wave.At(Host().GetTickCount()), bytes);
        std::copy(bytes, bytes + wave.width, Image(start));
    }
}

}  // namespace korvex::host
