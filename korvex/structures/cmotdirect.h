// CMotDirect: the Daten of a CNC whose controller memory is mapped field by
// field.
//
// Besides everything a Daten does it owns the three roots of the
// controller's data, each built with an empty prefix so that every field is
// registered under its bare name: the initialised data, the data kept over
// a restart and the firmware's low-level data.
#ifndef KORVEX_STRUCTURES_CMOTDIRECT_H_
#define KORVEX_STRUCTURES_CMOTDIRECT_H_

#include "korvex/korvex.h"
#include "korvex/structures/proxies.h"

class CMotDirect : public Daten {
public:
    static constexpr std::uint32_t kDoInitAddress = 0x19080;
    static constexpr std::uint32_t kNotInitAddress = 0x68;
    static constexpr std::uint32_t kLowDataAddress = 0x2E5E8;
    // Handle numbers the tree leaves free for the host's own registrations
    // after it (dialog and channel objects the host reaches by number).
    static constexpr std::uint16_t kNumbersLeftToHost = 1024;

    CMotDirect(OWL::TWindow* parent, char* datenName, char* handleName, TQzIniBase* ini);
    ~CMotDirect() override;

    // Is the spot-facing memory in use (SPFAC_DATA_SPF_HMEMUSED_).
    bool isSpotFacingMemUsed() override;

    SPC_SDoInit& DoInit() { return mDoInit; }
    SPC_SNotInit& NotInit() { return mNotInit; }
    SPC_LowData_Typ& LowData() { return mLowData; }

private:
    // Set before the roots are built: the numbering limit and the
    // registration mode of the tree.
    struct TreeStart {
        explicit TreeStart(CMotDirect& mot);
    };

    TreeStart mTreeStart;
    SPC_SDoInit mDoInit;
    SPC_SNotInit mNotInit;
    SPC_LowData_Typ mLowData;
};

// The host factory that builds a CMotDirect (InitKorvex's factory argument).
Daten* NewMotDirectProc(OWL::TWindow* parent, char* datenName, char* handleName, TQzIniBase* ini);

#endif  // KORVEX_STRUCTURES_CMOTDIRECT_H_
