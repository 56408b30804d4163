// CData: the base of every object that holds or reaches the value of one
// handle.
//
// A data object carries its handle's name and number, its own definition
// record, the table geometry, the selected element and axis, the driver
// binding and the result of its last access. All data objects belong to the
// one Daten recorded in CData::gpDat; registering a name gives the object a
// handle from 15000 up, by which Daten forwards value access to it.
#ifndef KORVEX_DATA_CDATA_H_
#define KORVEX_DATA_CDATA_H_

#include <cstdint>
#include <type_traits>

#include "korvex/definitions/dinfo.h"
#include "korvex/host/driver.h"
#include "korvex/host/host.h"

class Daten;
class Handles;

// The shared records, built once and kept for the life of the process.
namespace korvex::data {
// The empty record of an object without a definition.
const DInfo& EmptyInfo();
// The plain record a controller number of type gets: full signed 32-bit
// range, default 0, metric width 10, user factor 1.0, written directly.
// REQUIRES: type is an integer type (BYTE to QZCARD, not REAL).
const DInfo& PlainNumberInfo(DInfo::DType type);
// A STRING record of length bytes per element, written directly.
const DInfo& PlainStringInfo(std::uint16_t length);
}  // namespace korvex::data

class CData {
  public:
    enum ERegisterHandle : std::uint8_t {
        RegisterNew = 0,
        BindUnregistered = 1,
        NoRegistration = 2
    };
    enum EBit : std::uint8_t {
        Bit0,
        Bit1,
        Bit2,
        Bit3,
        Bit4,
        Bit5,
        Bit6,
        Bit7,
        Bit8,
        Bit9,
        Bit10,
        Bit11,
        Bit12,
        Bit13,
        Bit14,
        Bit15,
        Bit16,
        Bit17,
        Bit18,
        Bit19,
        Bit20,
        Bit21,
        Bit22,
        Bit23,
        Bit24,
        Bit25,
        Bit26,
        Bit27,
        Bit28,
        Bit29,
        Bit30,
        Bit31,
    };
    // A name whose text lives only while the object is built: the object
    // keeps a copy of it unless the registry holds the name.
    struct TransientName {
        const char* text;
    };
    // Filled only by the host's own subclasses.
    struct SButtonParams {};
    struct SPAGParam {};

    static constexpr std::uint16_t kNoHandle = 0xFFFF;
    static constexpr std::uint8_t kCurrentAxis = 0xFF;
    // First controller address whose multi-byte values are stored swapped.
    static constexpr std::uint32_t kSwapLimit = 0x2E5E8;

    // The Daten every data object belongs to, and its handle table.
    static Daten* gpDat;
    static Handles* gpHandles;
    // While false, Init neither registers nor binds.
    static bool gbRegisterNewHandle;
    // Forgets daten when the data objects were built for it (a host that
    // destroys its Daten, and tests, call this before building another).
    static void ForgetDaten(const Daten* daten);

    CData(Daten* daten, const char* name, std::uint16_t index, TDriver::ELocation location,
          ERegisterHandle mode);
    CData(const char* name, std::uint16_t index, TDriver::ELocation location, ERegisterHandle mode);
    CData();
    // A copy carries the source's name, handle and binding and a life marker
    // of its own; it registers nothing.
    CData(const CData& source);

    // Virtual operations, in slot order.
    virtual std::uint16_t getTabSize() const;
    virtual void setTabSize(std::uint16_t size);
    virtual ~CData();
    virtual void Init(ERegisterHandle mode);
    virtual operator bool();
    virtual operator char();
    virtual operator unsigned char();
    virtual operator signed char();
    virtual operator unsigned short();
    virtual operator short();
    virtual operator std::int32_t() = 0;
    virtual operator std::uint32_t();
    virtual operator const char*() = 0;
    virtual std::int32_t operator[](std::uint16_t index);
    virtual void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) = 0;
    virtual std::int32_t GetValue(std::uint16_t index, std::uint8_t axis);
    virtual void SetString(const char* text, std::uint16_t index, std::uint8_t axis) = 0;
    virtual const char* GetString(std::uint16_t index, std::uint8_t axis);
    virtual char* GetString(char* buffer, std::uint16_t size, std::uint16_t index,
                            std::uint8_t axis);
    virtual const void* SetBinBlock(const void* buffer, std::uint16_t size, std::uint16_t index,
                                    bool swapped);
    virtual void* GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index, bool swapped);
    virtual bool GetBit(std::uint16_t index, std::uint8_t axis);
    virtual void SetBit(bool value, std::uint16_t index, std::uint8_t axis);
    virtual bool getBit(EBit bit, std::uint16_t index, std::uint8_t axis);
    virtual void setBit(bool value, EBit bit, std::uint16_t index, std::uint8_t axis);
    virtual std::uint8_t Value2String(std::int32_t value, char* buffer, std::uint16_t size);
    virtual std::uint8_t MetricValue2InchString(std::int32_t value, char* buffer,
                                                std::uint16_t size);
    virtual std::uint8_t InchValue2MetricString(std::int32_t value, char* buffer,
                                                std::uint16_t size);
    virtual std::uint8_t String2Value(const char* text, std::int32_t& value);
    virtual std::uint8_t Comm(char* text, std::uint16_t index, std::uint8_t axis);
    virtual std::int32_t Min();
    virtual std::int32_t Max();
    virtual std::uint8_t GetMetInchFormat(std::uint8_t& width, std::uint8_t& decimals, bool inch);
    virtual bool IsVisible(std::uint16_t index, std::uint8_t axis, std::int32_t value);
    virtual bool useFileDialog();
    virtual bool DirectWrite();
    virtual bool InchMetr();
    virtual double getInchMetricFactor();
    virtual short GetBasis();
    virtual std::uint16_t GetMaxTabElemAnz();
    virtual const char* GetUnitString();
    virtual void setMemLocation(TDriver::ELocation location);
    virtual void getPAGParams(SPAGParam& params, std::uint16_t index, std::uint8_t axis);
    virtual bool getButtonParams(SButtonParams& params, std::uint16_t index);
    virtual std::uint32_t getButtonParamsChangedTime();
    virtual bool hasComboBoxData();
    virtual bool getComboBoxEntry(std::uint16_t index, TApplString& text);
    virtual std::uint16_t getComboBoxCurrentIndex();
    virtual void setComboBoxEntry(std::uint16_t index);
    virtual bool doSortTable();
    virtual void sortTable();
    virtual bool doCheckInput();
    virtual bool checkInput(TApplString& text, std::uint16_t index, TApplString& message);
    virtual void clearTable();
    virtual bool getProtInfos(TApplString& kind, TApplString& text, bool& flag,
                              std::uint16_t& code);

    // Typed getters: GetValue(index, axis) in the getter's type.
    bool Bool(std::uint16_t index, std::uint8_t axis) { return GetValue(index, axis) != 0; }
    std::uint8_t Byte(std::uint16_t index, std::uint8_t axis) {
        return static_cast<std::uint8_t>(GetValue(index, axis));
    }
    std::uint16_t Word(std::uint16_t index, std::uint8_t axis) {
        return static_cast<std::uint16_t>(GetValue(index, axis));
    }
    std::uint32_t DWord(std::uint16_t index, std::uint8_t axis) {
        return static_cast<std::uint32_t>(GetValue(index, axis));
    }
    std::int16_t Integer(std::uint16_t index, std::uint8_t axis) {
        return static_cast<std::int16_t>(GetValue(index, axis));
    }
    std::int32_t Long(std::uint16_t index, std::uint8_t axis) { return GetValue(index, axis); }
    std::int8_t int8(std::uint16_t index, std::uint8_t axis) {
        return static_cast<std::int8_t>(GetValue(index, axis));
    }
    std::uint8_t uint8(std::uint16_t index, std::uint8_t axis) { return Byte(index, axis); }
    std::int16_t int16(std::uint16_t index, std::uint8_t axis) { return Integer(index, axis); }
    std::uint16_t uint16(std::uint16_t index, std::uint8_t axis) { return Word(index, axis); }
    std::int32_t int32(std::uint16_t index, std::uint8_t axis) { return Long(index, axis); }
    std::uint32_t uint32(std::uint16_t index, std::uint8_t axis) { return DWord(index, axis); }
    const char* Char(std::uint16_t index, std::uint8_t axis) { return GetString(index, axis); }

    // Bit n of a byte table: element n / 8, bit n % 8, current axis.
    bool getBIT(std::uint16_t n);
    void setBIT(bool value, std::uint16_t n);
    // The time of day an element holds, in seconds since midnight.
    std::uint32_t GetTime(std::uint16_t index);
    // Display text of an element, in one string shared by all data objects:
    // the next call on any object overwrites it.
    TApplString& asString(std::uint16_t index);
    DInfo::DType DatenTyp() const { return mpInfo->mType; }
    std::uint16_t DatenLaenge() const { return mpInfo->mLength; }
    // Is the value shown in inch now (the inch flags of the Daten).
    bool CheckInch() const;
    void WriteProtocol(const char* kind, const char* text);
    CData& assignPtr(const CData& source);
    CData& operator=(const CData& source);
    CData& replaceObject(const CData& source);
    // A name the registry does not hold (the object registered nothing) is
    // copied into the object, which frees it: the caller's text may then go.
    void KeepName();

    // State.
    const char* Name() const { return mName; }
    std::uint16_t Handle() const { return mHandle; }
    std::uint16_t Index() const { return mIndex; }
    std::uint8_t AxisSelected() const { return mAxis; }
    bool Bound() const { return mBound; }
    std::uint8_t LastError() const { return mLastError; }
    TDriver::ELocation Location() const { return static_cast<TDriver::ELocation>(mLocation); }
    TDriver* Driver() const { return mpDriver; }
    std::uint8_t Cnc() const { return mCnc; }
    // The same for every object: it is not held per object.
    std::uint32_t SwapLimit() const { return kSwapLimit; }
    const DInfo& Info() const { return *mpInfo; }
    // The record to change: the object's own, made from the shared one on
    // first use.
    DInfo& Info() { return EditInfo(); }
    // True while the life marker says the object is alive.
    bool Alive() const { return mGuard[0] == 'O' && mGuard[1] == 'K' && mGuard[2] == 0; }

  protected:
    // Selects the element (when bound and index is in the table) and the
    // axis (when bound).
    void Select(std::uint16_t index, std::uint8_t axis);
    // Shows error through the Daten (as a write error when write).
    void Report(std::uint8_t error, bool write = false) const;
    // Reports error and keeps it as the last error.
    void Fail(std::uint8_t error, bool write = false);
    // The end of a driver transfer: 0 when complete, else 15 as Fail gives it.
    void Transferred(bool complete, bool write);
    // The copy operations of a data object class T, in one place: release
    // frees what T adds, baseCopy copies the base classes' part (their
    // assignPtr or operator=), take takes what T adds from source.
    template <class T, class Base>
    static T& CopyInto(T& self, const T& source, Base& (Base::*baseCopy)(const Base&),
                       std::type_identity_t<void (T::*)()> release,
                       std::type_identity_t<void (T::*)(const T&)> take) {
        if (&self == &source) return self;
        if (release) (self.*release)();
        (self.*baseCopy)(source);
        if (take) (self.*take)(source);
        return self;
    }
    // replaceObject: the assignment, then the Daten's table entry of the
    // handle is this object.
    template <class T>
    static T& ReplaceWith(T& self, const T& source) {
        self = source;
        self.TakeTableEntry();
        return self;
    }
    void TakeTableEntry();
    // Halts with a message naming the broken assumption (source "datutil").
    static void Halt(const char* text, unsigned line);
    // Halts with "Wrong Definition of Handle [name]!".
    static void HaltWrongDefinition(const char* name, unsigned line);

    // The definition record: read through mpInfo; EditInfo gives the
    // object a record of its own first.
    DInfo& EditInfo();
    // Takes record as this object's own record.
    void SetInfo(const DInfo& record);
    // Points at a shared record that outlives every data object; an own
    // record is freed.
    void ShareInfo(const DInfo& record);

    // Members, packed: the tree holds tens of thousands of these objects.
    char mGuard[4] = {'O', 'K', 0, 0};
    std::uint16_t mHandle = kNoHandle;
    std::uint16_t mIndex = 0;
    TDriver* mpDriver = nullptr;
    const char* mName = nullptr;
    // Never null: a shared record (the empty one, or the plain record of a
    // controller number or text) until the object changes anything in it.
    const DInfo* mpInfo = &korvex::data::EmptyInfo();
    std::uint16_t mTabSize = 1;
    std::uint8_t mCnc = 0;
    std::uint8_t mAxis = kCurrentAxis;
    std::uint8_t mLastError = 0;
    std::uint8_t mLocation = TDriver::LocationDefault;
    bool mBound : 1 = false;

  private:
    // Who keeps the text mName points to.
    enum NameKeeper : std::uint8_t { CallerKeeps, RegistryKeeps, ObjectKeeps };
    void TakeDaten(Daten* daten);
    void SetName(const char* name, NameKeeper keeper);
    void ReleaseInfo();

    NameKeeper mNameKeeper : 2 = CallerKeeps;
    bool mOwnsInfo : 1 = false;
};

#endif  // KORVEX_DATA_CDATA_H_
