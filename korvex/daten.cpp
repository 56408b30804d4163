// Construction and destruction of Daten, the instance table and the entry
// points.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <new>

#include "korvex/data/cdata.h"
#include "korvex/korvex.h"

namespace {

struct Slot {
    Daten* daten = nullptr;
    std::uint16_t useCount = 0;
};

constexpr unsigned kSlots = 16;
// Filled with (none, 0) when the library is loaded; never destroyed on unload.
Slot gInstances[kSlots];

TAppl* ApplicationOf(OWL::TWindow* window) {
    return window ? dynamic_cast<TAppl*>(window->GetApplication()) : nullptr;
}

TGlobalData* GlobalDataOf(TAppl* application) {
    return application ? application->GetGlobalData() : nullptr;
}

}  // namespace

Daten* InitKorvex(TQzIniBase* ini, OWL::TWindow* parent, DatenFactory factory) {
    TGlobalData* global = GlobalDataOf(ApplicationOf(parent));
    const unsigned slot = (global ? global->GetAktCnc() : 0) & 0xFFu;
    if (slot >= kSlots) return nullptr;
    Slot& entry = gInstances[slot];
    if (!entry.daten && factory) {
        // 32-byte buffers: keys longer than 31 characters are cut.
        char handleName[32] = "HANDLES";
        char datenName[32] = "QZ_DATEN";
        if (ini) {
            ini->SetSection("DATAINTERFACE", false);
            ini->InitString("HANDLE", handleName, sizeof handleName, "HANDLES");
            ini->InitString("DATEN", datenName, sizeof datenName, "QZ_DATEN");
        }
        handleName[sizeof handleName - 1] = '\0';
        datenName[sizeof datenName - 1] = '\0';
        entry.daten = factory(parent, datenName, handleName, ini);
    }
    ++entry.useCount;
    return entry.daten;
}

Daten* NewDatenProc(OWL::TWindow* parent, char* datenName, char* handleName, TQzIniBase*) {
    return new (std::nothrow) Daten(parent, datenName, handleName);
}

void ShutDownKorvex(Daten* daten) {
    // None is a pointer like any other: it releases the first slot that holds
    // none, the use an InitKorvex counted when its factory built nothing.
    for (Slot& entry : gInstances) {
        if (entry.daten != daten) continue;
        if (entry.useCount > 0) --entry.useCount;
        if (entry.useCount == 0) {
            delete entry.daten;
            entry.daten = nullptr;
        }
        return;
    }
}

namespace korvex {

std::uint16_t InstanceUseCount(unsigned slot) {
    return slot < kSlots ? gInstances[slot].useCount : 0;
}

void ResetInstanceTable() {
    for (Slot& entry : gInstances) entry = Slot{};
}

}  // namespace korvex

Daten::Daten(OWL::TWindow* parent, const char* datenName, const char* handleName) {
    // Step 1: the inch flags, magazine service, Z state, conversion mode, the
    // message switches and the changed-by-user flags start cleared (member
    // initialisers).
    mApplication = ApplicationOf(parent);
    mFrame = mApplication ? mApplication->GetMainWindow() : nullptr;
    if (TGlobalData* global = GlobalDataOf(mApplication)) {
        mCnc = static_cast<std::uint8_t>(global->GetAktCnc());
        mDriver = global->GetDriver();
    }
    mRegistered.reserve(2048);
    if (mFrame && mFrame->GetGlobalData()) {
        const char* driverName = mFrame->GetGlobalData()->GetTreiberName();
        mDirectWriteMode = driverName && strcasecmp(driverName, "ZAZAZIZOZUV.DLL") == 0;
    }
    mHandles = new Handles(parent, handleName ? handleName : "");
    mLastCommandText = nullptr;
    if (TGlobalData* global = GlobalDataOf(mApplication)) {
        global->SearchFileName(mszCommandFile, sizeof mszCommandFile, 1, "COMM", "TXT");
        global->SearchFileName(mszDefinitionFile, sizeof mszDefinitionFile, 1,
                               datenName ? datenName : "", "TXT");
    }
    // A handle load that ended the process leaves nothing to define.
    if (mHandles->LoadResultCode() != Handles::Loaded) {
        mConstructionResult = mHandles->LoadResultCode();
        return;
    }
    LoadDefinitions(parent, datenName ? datenName : "");
}

Daten::~Daten() {
    // Data objects made later belong to the next Daten, not to this one.
    CData::ForgetDaten(this);
    delete mHandles;
    ClearDefinitions();
    delete[] mLastCommandText;
}

bool Daten::isSpotFacingMemUsed() { return false; }

TApplString& Daten::expandExeParams(TApplString& text) { return text; }

int Daten::ErrorHalt(const char* text, const char* sourceFile, const unsigned int line) {
    return ::ErrorHalt(text, sourceFile, line);
}

int Daten::ErrorStop(const char* text) { return ::ErrorStop(text); }

bool Daten::InDefinitionBlock(const DInfo* record) const {
    const DInfo* first = mDefinitionBlock.get();
    return first && std::less_equal<const DInfo*>()(first, record) &&
           std::less<const DInfo*>()(record, first + mDefinitionBlock.get_deleter().count);
}

void Daten::SetDefinition(std::uint16_t handle, DInfo* record) {
    while (mDefinitions.size() <= handle) mDefinitions.push_back(new DInfo());
    if (!InDefinitionBlock(mDefinitions[handle])) delete mDefinitions[handle];
    mDefinitions[handle] = record ? record : new DInfo();
}

void Daten::ClearDefinitions() {
    for (DInfo* record : mDefinitions)
        if (!InDefinitionBlock(record)) delete record;
    mDefinitions.clear();
    mDefinitionBlock.reset();
}

void Daten::clearTTkv_ChangedByUser() {
    for (std::size_t i = 0; i < kTTkvFlags; ++i) {
        if (mTTkvChanged286[i] || mTTkvChanged365[i]) mTTkvChangedSummary = 1;
        mTTkvChanged286[i] = 0;
        mTTkvChanged365[i] = 0;
    }
}

std::uint16_t Daten::RegisterNewHandle(CData* object, const char* name, std::uint16_t& index) {
    index = 0;
    if (!name || !mHandles) return Handles::kNoHandle;
    // Split "NAME INDEX" without copying into a fixed buffer.
    const char* begin = name;
    const char* end = name + std::strlen(name);
    while (begin < end && *begin == ' ') ++begin;
    while (end > begin && end[-1] == ' ') --end;
    const char* blank = static_cast<const char*>(std::memchr(begin, ' ', end - begin));
    const char* nameEnd = blank ? blank : end;
    if (blank) {
        // The host's conversion to unsigned 16 bit: leading decimal digits.
        const char* digits = blank;
        while (digits < end && *digits == ' ') ++digits;
        std::uint16_t value = 0;
        for (; digits < end && *digits >= '0' && *digits <= '9'; ++digits)
            value = static_cast<std::uint16_t>(value * 10 + (*digits - '0'));
        index = value;
    }
    const std::string_view bare(begin, static_cast<std::size_t>(nameEnd - begin));
    if (bare.empty() || bare.size() > Handles::kMaxNameLength) return Handles::kNoHandle;
    // Handles run from 15000 up to the last number; 0xFFFF means none.
    const std::size_t numbers =
        mLastNumber >= kFirstRegisteredHandle ? mLastNumber - kFirstRegisteredHandle + 1u : 0u;
    const bool room = mRegistered.size() < numbers;
    // A name kept without a number is refused. Past the numbers the
    // insertion below finds it.
    if (room && !mUnnumbered.empty() && mUnnumbered.find(bare) != mUnnumbered.end())
        return Handles::kNoHandle;
    // The number a new name gets; it is entered in the same look-up that
    // finds a known one.
    const auto next = static_cast<std::uint16_t>(kFirstRegisteredHandle + mRegistered.size());
    bool added = false;
    const std::uint16_t known = mHandles->FindOrAdd(bare, room ? next : Handles::kNoHandle, added);
    if (known != Handles::kNoHandle && !added) {
        // Names stay registered for the life of the process. The same name
        // at the very number it would get now is the same object built again
        // (a later Daten's structure tree, or another CNC's): it takes its
        // number back. Any other known name is refused.
        if (known != next || !room) return Handles::kNoHandle;
    } else if (!room) {
        // Past the numbers the object is still kept, by name; the host hears
        // of it once, not once per object.
        const auto [kept, inserted] = mUnnumbered.emplace(bare, object);
        if (!inserted) return Handles::kNoHandle;
        mLastUnnumbered = kept->first.c_str();
        if (mUnnumbered.size() == 1) {
            char text[Handles::kNameBufferSize + 96];
            std::snprintf(text, sizeof text,
                          "No more handle numbers: [%.*s] and the data objects after it are "
                          "reached by name only",
                          static_cast<int>(bare.size()), bare.data());
            if (mFrame)
                mFrame->MessageBox(text, "Handles", MB_OK);
            else
                korvex::host::Host().MessageBox(text, "Handles", MB_OK);
        }
        return Handles::kNoHandle;
    }
    if (mRegistered.size() == mRegistered.capacity()) mRegistered.reserve(mRegistered.size() + 2048);
    mRegistered.push_back(object);
    // The progress steps (100, 250, 500) are all multiples of 50.
    // The dialog sees the count as 16 bits: filter on what it sees.
    const auto shown = static_cast<std::uint16_t>(mRegistered.size());
    if (shown % 50 == 0) viewHelloMessage(mApplication, "DORIX2 interface", shown);
    // An unloaded registry enters nothing: the object keeps its place
    // without a number.
    return known;
}

// The registry's own name hash keeps only the last characters, which the
// tree's long names often share; this one mixes all of them.
std::size_t Daten::NameHash::operator()(std::string_view name) const {
    return Handles::CaseFoldedHash(name);
}

bool Daten::NameEqual::operator()(std::string_view a, std::string_view b) const {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

CData* Daten::FindRegistered(const char* name) {
    if (!name) return nullptr;
    const std::uint16_t handle = mHandles ? mHandles->NameToHandle(name) : Handles::kNoHandle;
    if (handle != Handles::kNoHandle) return GetCDataPtr(handle);
    const auto found = mUnnumbered.find(std::string_view(name));
    return found == mUnnumbered.end() ? nullptr : found->second;
}

CData* Daten::GetCDataPtr(std::uint16_t handle) {
    if (handle < kFirstRegisteredHandle || mRegistered.empty()) return nullptr;
    const std::size_t position = handle - kFirstRegisteredHandle;
    return position < mRegistered.size() ? mRegistered[position] : nullptr;
}

void Daten::flush(const char* fileName) {
    if (mHandles) mHandles->flush(fileName);
}
