// Small helpers shared by the value-access, conversion and unit code of Daten.
#ifndef KORVEX_DATEN_INTERNAL_H_
#define KORVEX_DATEN_INTERNAL_H_

#include "korvex/data/cdata.h"
#include "korvex/korvex.h"

namespace korvex::internal {

// The data object of a registered handle; "Handle not found!" when there is none.
inline CData* RegisteredOrReport(Daten& daten, std::uint16_t handle) {
    CData* object = daten.GetCDataPtr(handle);
    if (!object) daten.ErrorMessage(handle, Daten::HandleNotFound);
    return object;
}

// The record of a defined handle; "Handle not found!" when there is none.
inline const DInfo* RecordOrReport(Daten& daten, std::uint16_t handle) {
    const DInfo* record = daten.ExistHandle(handle);
    if (!record) daten.ErrorMessage(handle, Daten::HandleNotFound);
    return record;
}

// Reports an error against the handle and answers it.
inline std::uint8_t Report(Daten& daten, std::uint16_t handle, Daten::ErrorType error,
                           bool optional = false) {
    daten.ErrorMessage(handle, error, optional);
    return error;
}

}  // namespace korvex::internal

#endif  // KORVEX_DATEN_INTERNAL_H_
