// Value access by handle.
#include "korvex/korvex.h"

// Not yet wired to the driver: every access answers "Handle not found!".
std::uint8_t Daten::GetValue(std::uint16_t, std::int32_t&, std::uint16_t, std::uint8_t) {
    return HandleNotFound;
}
std::uint8_t Daten::GetValue(std::uint16_t, double&, std::uint16_t, std::uint8_t) {
    return HandleNotFound;
}
std::uint8_t Daten::GetValue(std::uint16_t, char*, std::uint16_t, std::uint16_t, std::uint8_t) {
    return HandleNotFound;
}
std::uint8_t Daten::GetValue(std::uint16_t, const void*, std::uint16_t, std::uint16_t,
                             std::uint8_t) {
    return HandleNotFound;
}
std::uint8_t Daten::GetOfsValue(const void*, std::uint32_t, std::uint16_t) {
    return DataOrDriverError;
}
std::uint8_t Daten::SetValue(std::uint16_t, std::int32_t, std::uint16_t, std::uint8_t, char,
                             char) {
    return HandleNotFound;
}
std::uint8_t Daten::SetValue(std::uint16_t, double, std::uint16_t, std::uint8_t, char) {
    return HandleNotFound;
}
std::uint8_t Daten::SetValue(std::uint16_t, const char*, std::uint16_t, std::uint8_t) {
    return HandleNotFound;
}
std::uint8_t Daten::SetValue(std::uint16_t, const void*, std::uint16_t, std::uint16_t,
                             std::uint8_t) {
    return HandleNotFound;
}
std::uint8_t Daten::SetOfsValue(const void*, std::uint32_t, std::uint16_t) {
    return DataOrDriverError;
}
char Daten::IsVisible(std::uint16_t handle) {
    const DInfo* record = ExistHandle(handle);
    return record ? record->mVisible : 0;
}
std::uint8_t Daten::InitInchMetricCnc47() { return Ok; }
