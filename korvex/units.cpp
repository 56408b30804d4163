// Inch/metric display state, the Z mirror and the feed-rate units, and its
// reload from the controller's machine settings.
#include <cstring>

#include "korvex/data/cdata.h"
#include "korvex/daten_internal.h"
#include "korvex/korvex.h"

using korvex::internal::RegisteredOrReport;

const char Daten::kszUpdate[] = "UPDATE";

namespace {

// Machine settings in the controller.
constexpr std::uint16_t kMetricSwitch1 = 799;
constexpr std::uint16_t kMetricSwitch2 = 801;
constexpr std::uint16_t kInchSelectorSwitch = 644;
constexpr std::uint16_t kZReverseSwitch = 683;
constexpr std::uint16_t kZReference = 1310;
constexpr std::uint16_t kFeedRateMode = 1625;

// Frame message WM_USER + 0x90 with wparam 1: redraw, the units changed.
constexpr unsigned kFrameMessage = 0x490;

// Driver control codes around the reads of the two metric switches.
constexpr std::uint8_t kControlBeginUnits = 0x27;
constexpr std::uint8_t kControlEndUnits = 0x28;

// Handles that follow inch flag 2 while the inch selector switch is on.
constexpr std::uint16_t kSelectorHandles[] = {909, 926, 908, 907, 905, 823, 1680};
// Feed-rate handles, in the order the reload adapts them.
constexpr std::uint16_t kFeedRateHandles[] = {258, 259, 345, 2064, 280, 281, 2059, 2068, 833,
                                              831, 482, 310, 311,  605, 606, 1291, 1994};
// Handles whose user factor mirrors them with the Z display.
constexpr std::uint16_t kZMirrorHandles[] = {261, 608, 283};

bool FeedRateHandle(std::uint16_t handle) {
    for (std::uint16_t feed : kFeedRateHandles)
        if (feed == handle) return true;
    return false;
}

struct FeedRateSettings {
    unsigned char metricDecimals;
    double userFactor;
    const char* metricUnit;
};

// By feed-rate mode: m/min, mm/s, inch/min of a value stored in mm/min.
constexpr FeedRateSettings kFeedRateSettings[] = {
    {3, 1.0, "[m/min]"},
    {1, 0.16666666666666666, "[mm/s]"},
    {1, 0.39370078740157477, "[inch/min]"},
};

}  // namespace

// ---------------------------------------------------------------- inch flags

namespace {

void Notify(TApplFrame* frame) {
    if (frame)
        frame->frameNotify(kFrameMessage, 1, Daten::kszUpdate);
}

}  // namespace

namespace {

// Sets an inch flag; the frame hears only of a change.
void SwitchFlag(std::uint8_t& flag, bool on, TApplFrame* frame) {
    if ((flag != 0) == on) return;
    flag = on ? 1 : 0;
    Notify(frame);
}

}  // namespace

void Daten::SetInchFlag1() { SwitchFlag(mInchFlag1, true, mFrame); }
void Daten::ClearInchFlag1() { SwitchFlag(mInchFlag1, false, mFrame); }
void Daten::ToggleInchFlag1() { SwitchFlag(mInchFlag1, !mInchFlag1, mFrame); }
void Daten::SetInchFlag2() { SwitchFlag(mInchFlag2, true, mFrame); }
void Daten::ClearInchFlag2() { SwitchFlag(mInchFlag2, false, mFrame); }
void Daten::ToggleInchFlag2() { SwitchFlag(mInchFlag2, !mInchFlag2, mFrame); }

void Daten::SetInchAll() {
    SetInchFlag1();
    SetInchFlag2();
}

void Daten::ClearInchAll() {
    ClearInchFlag1();
    ClearInchFlag2();
}

void Daten::ToggleInchAll() {
    ToggleInchFlag1();
    ToggleInchFlag2();
}

bool Daten::CheckInch(std::uint16_t handle) {
    if (handle >= kFirstRegisteredHandle) {
        const CData* object = GetCDataPtr(handle);
        return object && object->CheckInch();
    }
    if (!mInchFlag1 && !mInchFlag2) return false;
    // A defined handle without a record is shown metric.
    const DInfo* record = ExistHandle(handle);
    if (!record) return false;
    switch (record->mInchMetric) {
        case 1:
            return mInchFlag1 != 0;
        case 2:
            return mInchFlag2 != 0;
        default:
            return false;
    }
}

// ---------------------------------------------------------------- feed rates

std::uint8_t Daten::isTMET1_2Conversion(std::uint16_t handle) {
    if (!FeedRateHandle(handle)) return 0;
    std::int32_t mode = 0;
    if (GetValue(kFeedRateMode, mode, 0, 255) != Ok) return 0;
    return mode == 1 || mode == 2 ? static_cast<std::uint8_t>(mode) : 0;
}

double Daten::getInchMetricFactor(std::uint16_t handle) {
    if (handle == 341 || handle == 2060) return 8.333333333333332;
    switch (isTMET1_2Conversion(handle)) {
        case 1:
            return 0.4233333333333333;
        case 2:
            return 1.0;
        default:
            return 2.54;
    }
}

bool Daten::HandleTMET1_2(std::uint16_t handle) {
    DInfo* record = ExistHandle(handle);
    if (!record) return false;
    std::int32_t mode = 0;
    if (GetValue(kFeedRateMode, mode, 0, 255) != Ok) return false;
    if (mode < 0 || mode > 2) return false;
    const FeedRateSettings& wanted = kFeedRateSettings[mode];
    if (record->mMetricDecimals == wanted.metricDecimals &&
        record->mUserFactor == wanted.userFactor &&
        std::strcmp(record->mszMetricUnit, wanted.metricUnit) == 0)
        return false;
    record->mMetricDecimals = wanted.metricDecimals;
    record->mUserFactor = wanted.userFactor;
    std::strncpy(record->mszMetricUnit, wanted.metricUnit, DInfo::kUnitLength);
    record->mszMetricUnit[DInfo::kUnitLength] = '\0';
    return true;
}

// ---------------------------------------------------------------- reload

std::uint8_t Daten::InitInchMetricCnc47() {
    // The control codes go to the CNC the host works on at this moment.
    TGlobalData* global = mApplication ? mApplication->GetGlobalData() : nullptr;
    const std::uint8_t cnc = static_cast<std::uint8_t>(global ? global->GetAktCnc() : mCnc);
    auto control = [this, cnc](std::uint8_t code) {
        if (mDriver) mDriver->SendControl(code, cnc, 0);
    };
    auto read = [this](std::uint16_t handle, std::int32_t& value) {
        value = 0;
        return GetValue(handle, value, 0, 255);
    };
    // A switch holding 0 means inch: the flag becomes the switch's opposite.
    // Any value but 0 and 1 leaves the flag alone.
    auto followSwitch = [](std::int32_t value, std::uint8_t& flag) {
        const std::uint8_t low = static_cast<std::uint8_t>(value);
        if (low != flag) return false;
        flag = low == 0 ? 1 : 0;
        return true;
    };
    bool changed = false;
    std::int32_t value = 0;

    control(kControlBeginUnits);
    if (const std::uint8_t result = read(kMetricSwitch1, value)) {
        control(kControlEndUnits);
        return result;
    }
    changed |= followSwitch(value, mInchFlag1);
    if (const std::uint8_t result = read(kMetricSwitch2, value)) {
        control(kControlEndUnits);
        return result;
    }
    control(kControlEndUnits);
    changed |= followSwitch(value, mInchFlag2);

    if (const std::uint8_t result = read(kInchSelectorSwitch, value)) return result;
    const char selector = value != 0 ? 2 : 1;
    for (std::uint16_t handle : kSelectorHandles) {
        DInfo* record = ExistHandle(handle);
        if (!record || record->mInchMetric == selector) continue;
        record->mInchMetric = selector;
        changed = true;
    }

    for (std::uint16_t handle : kFeedRateHandles) changed |= HandleTMET1_2(handle);

    if (const std::uint8_t result = read(kZReverseSwitch, value)) return result;
    const std::uint8_t zReverse = static_cast<std::uint8_t>(value);
    if (zReverse != mZReverse) {
        mZReverse = zReverse;
        changed = true;
    }
    if (mZReverse) {
        if (const std::uint8_t result = read(kZReference, value)) return result;
        if (value != mZReference) {
            mZReference = value;
            changed = true;
        }
    }
    for (std::uint16_t handle : kZMirrorHandles) {
        if (DInfo* record = ExistHandle(handle)) record->mUserFactor = mZReverse ? -1.0 : 1.0;
    }

    if (changed) Notify(mFrame);
    return Ok;
}

// ---------------------------------------------------------------- unit conversion

namespace {

// The display text of a value in the unit system the mode names (1: a metric
// value in inch, 2: an inch value in metric), whatever the inch flags say.
std::uint8_t ConvertedString(Daten& daten, std::uint8_t mode,
                             std::uint8_t (CData::*objectConversion)(std::int32_t, char*,
                                                                     std::uint16_t),
                             std::uint16_t handle, std::int32_t value, char* out,
                             std::uint16_t size) {
    if (handle >= Daten::kFirstRegisteredHandle) {
        CData* object = RegisteredOrReport(daten, handle);
        if (!object) return Daten::HandleNotFound;
        return (object->*objectConversion)(value, out, size);
    }
    daten.mConversionMode = mode;
    const std::uint8_t result = daten.Value2String(handle, value, out, size);
    daten.mConversionMode = 0;
    return result;
}

}  // namespace

std::uint8_t Daten::MetricValue2InchString(std::uint16_t handle, std::int32_t value, char* out,
                                           std::uint16_t size) {
    return ConvertedString(*this, 1, &CData::MetricValue2InchString, handle, value, out, size);
}

std::uint8_t Daten::InchValue2MetricString(std::uint16_t handle, std::int32_t value, char* out,
                                           std::uint16_t size) {
    return ConvertedString(*this, 2, &CData::InchValue2MetricString, handle, value, out, size);
}
