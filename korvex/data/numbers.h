// Number objects: one integer value per table element of a handle.
//
// CVirtualNumber is the number side of CData (value cells, optional storage,
// value <-> display text). CPrivNumber keeps its values in PC memory, its own
// or memory the caller lends it. CDrvNumber reaches the values in the
// controller's memory through the driver, byte-swapped where the controller
// stores them swapped, optionally through a private copy (a mirror that takes
// the writes instead of the controller). The CVirtualDrvCommNumber family
// reads like CDrvNumber but writes by sending a command line.
#ifndef KORVEX_DATA_NUMBERS_H_
#define KORVEX_DATA_NUMBERS_H_

#include <cstdint>

#include "korvex/data/cdata.h"
#include "korvex/data/private_mirror.h"

class CVirtualNumber : public CData {
  public:
    CVirtualNumber(Daten* daten, const char* name, std::uint16_t index, TDriver::ELocation location,
                   ERegisterHandle mode);
    CVirtualNumber();
    // An unregistered copy; owned storage is duplicated.
    CVirtualNumber(const CVirtualNumber& source);

    std::uint16_t getTabSize() const override;
    void setTabSize(std::uint16_t size) override;
    ~CVirtualNumber() override;
    operator const char*() override { return nullptr; }
    void SetString(const char*, std::uint16_t, std::uint8_t) override {}
    std::uint8_t Value2String(std::int32_t value, char* buffer, std::uint16_t size) override;
    std::uint8_t MetricValue2InchString(std::int32_t value, char* buffer,
                                        std::uint16_t size) override;
    std::uint8_t InchValue2MetricString(std::int32_t value, char* buffer,
                                        std::uint16_t size) override;
    std::uint8_t String2Value(const char* text, std::int32_t& value) override;
    std::uint8_t Comm(char* text, std::uint16_t index, std::uint8_t axis) override;

    // mLValue from mBValue: sign-extended for SHORTINT, else zero-extended.
    std::int32_t CheckmBValueIsSigned();
    // mLValue from mIValue: sign-extended for INTEGER and QZSHORTREAL.
    std::int32_t CheckmIValueIsUnsigned();

    // The Daten's conversion primitives, fed from this object's definition.
    char* Bin2Str(std::int32_t value, char* out, short width, short decimals) const;
    std::int32_t Str2Bin(const char* text, short decimals) const;
    std::uint8_t CheckFeldWeite(const char* text, char* out, std::uint16_t size,
                                std::uint16_t width) const;
    bool NotValid(std::int32_t value, char* out, std::uint16_t size) const;

    CVirtualNumber& assignPtr(const CVirtualNumber& source);
    CVirtualNumber& operator=(const CVirtualNumber& source);
    CVirtualNumber& replaceObject(const CVirtualNumber& source);

    bool OwnsStorage() const { return mOwnsStorage; }

  protected:
    // Frees the value arrays when this object allocated them.
    void ReleaseStorage();
    // The number members of source; owned arrays are duplicated.
    void TakeNumberPart(const CVirtualNumber& source);
    // Value shown: Z reverse and user factor applied.
    std::int32_t considerUserFactorAndZREF(std::int32_t value) const;
    // "on"/"off" of a bit or the stars of the not-valid value; true when one
    // applied.
    bool SpecialValue2String(std::int32_t value, char* buffer, std::uint16_t size) const;
    // x formatted in the inch or metric format of the definition.
    std::uint8_t Format(std::int32_t x, bool inch, char* buffer, std::uint16_t size) const;

    // In the order that packs them (the first byte fills CData's tail).
    bool mOwnsStorage = false;
    // The values: owned 32-bit cells, or the lender's memory of elements of
    // the definition's length. Cells are copied byte-wise, so the lender's
    // memory needs no particular alignment.
    void* mpCells = nullptr;
    // Elements of memory lent by the caller (0: none lent); the table never
    // grows past them.
    std::uint16_t mLentSize = 0;
    std::uint16_t mIValue = 0;
    std::int32_t mLValue = 0;
    std::uint8_t mBValue = 0;
    unsigned char* Cell(std::uint16_t index) const {
        return static_cast<unsigned char*>(mpCells) + std::size_t{mpInfo->mLength} * index;
    }
};

class CPrivNumber : public CVirtualNumber {
  public:
    // Values of its own, in zeroed 32-bit cells.
    CPrivNumber(Daten* daten, const char* name, std::uint16_t tabSize, std::uint8_t metricWidth,
                std::uint8_t metricDecimals, const char* metricUnit, char inchMetric,
                std::uint8_t inchWidth, std::uint8_t inchDecimals, const char* inchUnit,
                std::uint16_t index = 0, char notValid = 0, std::int32_t notValidValue = 0);
    // Values in the caller's memory: totalSize / tabSize bytes (1, 2 or 4) per
    // element.
    CPrivNumber(Daten* daten, const char* name, void* storage, std::uint16_t totalSize,
                std::uint16_t tabSize, std::uint8_t metricWidth, std::uint8_t metricDecimals,
                const char* metricUnit, char inchMetric, std::uint8_t inchWidth,
                std::uint8_t inchDecimals, const char* inchUnit, std::uint16_t index = 0);
    CPrivNumber();
    CPrivNumber(const CPrivNumber& source) = default;

    ~CPrivNumber() override;
    operator std::int32_t() override;
    void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) override;

    CPrivNumber& assignPtr(const CPrivNumber& source);
    CPrivNumber& operator=(const CPrivNumber& source);
    CPrivNumber& replaceObject(const CPrivNumber& source);

  private:
    // Registration after a valid definition; marked bound when registering
    // is switched off (a private copy's mirror).
    void Finish(std::uint16_t tabSize);
};

class CDrvNumber : public CVirtualNumber {
  public:
    CDrvNumber(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
               DInfo::DType type, std::uint16_t tabSize, std::uint8_t metricWidth,
               std::uint8_t metricDecimals, const char* metricUnit, char inchMetric,
               std::uint8_t inchWidth, std::uint8_t inchDecimals, const char* inchUnit,
               std::uint32_t stride, std::uint16_t readParam, bool readFlag, std::uint16_t index,
               const TDriver::ELocation location);
    CDrvNumber(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
               DInfo::DType type, ERegisterHandle mode);
    CDrvNumber(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
               DInfo::DType type, std::uint16_t tabSize, ERegisterHandle mode);
    // The same under a name that is gone once the object is built.
    CDrvNumber(Daten* daten, TransientName name, std::uint32_t address, std::uint16_t length,
               DInfo::DType type, ERegisterHandle mode);
    CDrvNumber(Daten* daten, TransientName name, std::uint32_t address, std::uint16_t length,
               DInfo::DType type, std::uint16_t tabSize, ERegisterHandle mode);
    // An unregistered copy at location; with privateCopy the writes go to a
    // mirror in PC memory and later reads of a written element come from it.
    CDrvNumber(const CDrvNumber& source, bool privateCopy, const TDriver::ELocation location);
    CDrvNumber(const CDrvNumber& source);
    CDrvNumber();

    std::uint16_t getTabSize() const override;
    void setTabSize(std::uint16_t size) override;
    ~CDrvNumber() override;
    operator std::int32_t() override;
    void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) override;
    // Selection as CData does it, without the calls: every field read of
    // the structure tree goes through here.
    std::int32_t GetValue(std::uint16_t index, std::uint8_t axis) override {
        Pick(index, axis);
        return operator std::int32_t();
    }
    const void* SetBinBlock(const void* buffer, std::uint16_t size, std::uint16_t index,
                            bool swapped) override;
    void* GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index, bool swapped) override;

    CDrvNumber& assignPtr(const CDrvNumber& source);
    CDrvNumber& operator=(const CDrvNumber& source);
    CDrvNumber& replaceObject(const CDrvNumber& source);
    void setAddress(std::int32_t address) { mAddress = static_cast<std::uint32_t>(address); }
    std::uint32_t getAddress() const { return mAddress; }

    std::uint32_t Stride() const { return mStride; }
    bool IsPrivateCopy() const { return static_cast<bool>(mMirror); }
    // The controller address of the selected element.
    std::uint32_t ElementAddress() const { return mAddress + mIndex * mStride; }
    // True when the controller keeps the value high byte first.
    bool StoredHighByteFirst() const { return Swapped(); }

    // For the host; the library does not touch it.
    static std::uint32_t mUseCounter;

  protected:
    void Pick(std::uint16_t index, std::uint8_t axis) {
        if (!mBound) return;
        if (index != kNoHandle && index < CDrvNumber::getTabSize()) mIndex = index;
        mAxis = axis;
    }
    // Multi-byte values are swapped unless the location keeps them and
    // element 0 lies below the swap limit.
    bool Swapped() const {
        return !(mLocation != TDriver::LocationSwapped && mAddress < kSwapLimit);
    }
    // Shared by the constructors: checks the definition, then registers.
    void Build(const char* name, std::uint16_t length, DInfo::DType type, std::uint16_t tabSize,
               ERegisterHandle mode);
    void ReleaseDrvPart() { mMirror.Release(); }
    void TakeDrvPart(const CDrvNumber& source);

    // In the order that packs them after CVirtualNumber's last byte.
    bool mReadFlag = false;
    std::uint16_t mReadParam = 150;
    std::uint32_t mAddress = 0;
    std::uint32_t mStride = 0;
    PrivateMirror<CPrivNumber> mMirror;
};

class CVirtualDrvCommNumber : public CDrvNumber {
  public:
    CVirtualDrvCommNumber(Daten* daten, const char* name, std::uint32_t address,
                          std::uint16_t length, DInfo::DType type, std::uint16_t tabSize,
                          std::uint8_t metricWidth, std::uint8_t metricDecimals,
                          const char* metricUnit, char inchMetric, std::uint8_t inchWidth,
                          std::uint8_t inchDecimals, const char* inchUnit, std::uint32_t stride,
                          std::uint16_t readParam, bool readFlag, std::uint16_t index);
    CVirtualDrvCommNumber() = default;

    ~CVirtualDrvCommNumber() override;
    void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) override;
    std::uint8_t Comm(char* text, std::uint16_t index, std::uint8_t axis) override;
    // The command line for a value or an operator text; null for none.
    virtual char* HandleInputValue(std::int32_t value, std::uint16_t index) = 0;
    virtual char* HandleInputString(char* text, std::uint16_t index) = 0;
};

class CDrvCommValNumber : public CVirtualDrvCommNumber {
  public:
    CDrvCommValNumber(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
                      DInfo::DType type, const char* prefix, std::uint16_t tabSize,
                      std::uint8_t metricWidth, std::uint8_t metricDecimals, const char* metricUnit,
                      char inchMetric, std::uint8_t inchWidth, std::uint8_t inchDecimals,
                      const char* inchUnit, std::uint32_t stride, std::uint16_t readParam,
                      bool readFlag, std::uint16_t index);
    ~CDrvCommValNumber() override;
    char* HandleInputValue(std::int32_t value, std::uint16_t index) override;
    char* HandleInputString(char* text, std::uint16_t index) override;

  private:
    TApplString mPrefix;
    TApplString mWork;
};

class CDrvCommYesNoNumber : public CVirtualDrvCommNumber {
  public:
    CDrvCommYesNoNumber(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
                        DInfo::DType type, const char* commandYes, const char* commandNo,
                        std::uint16_t tabSize, std::uint8_t metricWidth,
                        std::uint8_t metricDecimals, const char* metricUnit, char inchMetric,
                        std::uint8_t inchWidth, std::uint8_t inchDecimals, const char* inchUnit,
                        std::uint32_t stride, std::uint16_t readParam, bool readFlag,
                        std::uint16_t index);
    ~CDrvCommYesNoNumber() override;
    operator std::int32_t() override;
    char* HandleInputValue(std::int32_t value, std::uint16_t index) override;
    char* HandleInputString(char* text, std::uint16_t index) override;

  private:
    TApplString mYes;
    TApplString mNo;
    // The command handed out: the interpreter may edit what it sends.
    TApplString mWork;
};

#endif  // KORVEX_DATA_NUMBERS_H_
