#include "korvex/structures/cmotdirect.h"

namespace {

// The tree of a Daten whose machine files failed to load is built without
// registering: its names would only repeat that failure 56,533 times.
CData::ERegisterHandle TreeMode(const Daten& daten) {
    return daten.ConstructionResult() == 0 ? CData::RegisterNew : CData::NoRegistration;
}

}  // namespace

CMotDirect::TreeStart::TreeStart(CMotDirect& mot) {
    const std::uint16_t last = Daten::kLastHandleNumber - kNumbersLeftToHost;
    mot.SetLastNumber(last);
    // Room for every number the tree takes, at once rather than by doubling.
    const std::size_t numbers = last + 1u - Daten::kFirstRegisteredHandle;
    if (mot.mRegistered.size() < numbers) {
        mot.mRegistered.reserve(numbers);
        if (Handles* handles = mot.GetHandles())
            Handles::ReserveRegistry(handles->HandlesInContainer() + numbers - mot.mRegistered.size());
    }
}

CMotDirect::CMotDirect(OWL::TWindow* parent, char* datenName, char* handleName, TQzIniBase*)
    : Daten(parent, datenName, handleName),
      mTreeStart(*this),
      mDoInit(this, TApplString(), kDoInitAddress, TreeMode(*this)),
      mNotInit(this, TApplString(), kNotInitAddress, TreeMode(*this)),
      mLowData(this, TApplString(), kLowDataAddress, TreeMode(*this)) {
    SetLastNumber(Daten::kLastHandleNumber);
}

CMotDirect::~CMotDirect() {
    // The roots go first (as members); the data objects then no longer
    // belong to this Daten.
    CData::ForgetDaten(this);
}

bool CMotDirect::isSpotFacingMemUsed() {
    return mLowData.SPFAC_DATA_.SPF_HMEMUSED_.Bool(0, 255);
}

Daten* NewMotDirectProc(OWL::TWindow* parent, char* datenName, char* handleName, TQzIniBase* ini) {
    return new CMotDirect(parent, datenName, handleName, ini);
}
