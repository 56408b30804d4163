// String objects: one fixed-length text per table element of a STRING handle.
//
// CVirtualStr is the text side of CData. CPrivStr keeps its texts in PC
// memory, as host strings of its own or in memory the caller lends it.
// CDrvStr reaches the texts in the controller's memory through the driver,
// byte for byte, keeping the last text in a buffer of its own, optionally
// through a private copy like CDrvNumber.
#ifndef KORVEX_DATA_STRINGS_H_
#define KORVEX_DATA_STRINGS_H_

#include <cstdint>

#include "korvex/data/cdata.h"
#include "korvex/data/private_mirror.h"

class CVirtualStr : public CData {
  public:
    CVirtualStr(Daten* daten, const char* name, std::uint16_t index, TDriver::ELocation location,
                ERegisterHandle mode);
    CVirtualStr();
    CVirtualStr(const CVirtualStr& source) = default;

    ~CVirtualStr() override;
    operator std::int32_t() override { return 0; }
    void SetValue(std::int32_t, std::uint16_t, std::uint8_t) override {}
    std::uint8_t Comm(char* text, std::uint16_t index, std::uint8_t axis) override;

    CVirtualStr& assignPtr(const CVirtualStr& source);
    CVirtualStr& operator=(const CVirtualStr& source);
    CVirtualStr& replaceObject(const CVirtualStr& source);

  protected:
    void TakeCharPart(const CVirtualStr& source) { mCValue = source.mCValue; }
    // The last character read or written through the numeric operations.
    std::uint8_t mCValue = 0;
};

class CPrivStr : public CVirtualStr {
  public:
    // The length of an element of a CPrivStr with texts of its own.
    static constexpr std::uint16_t kOwnTextLength = 255;

    // Texts of its own, kOwnTextLength characters each.
    CPrivStr(Daten* daten, const char* name, std::uint16_t tabSize, std::uint16_t index = 0);
    // Texts in the caller's memory: element i at storage + length * i.
    CPrivStr(Daten* daten, const char* name, char* storage, std::uint16_t length,
             std::uint16_t tabSize, std::uint16_t index = 0);
    CPrivStr();
    // An unregistered copy; own texts are duplicated.
    CPrivStr(const CPrivStr& source);

    std::uint16_t getTabSize() const override;
    void setTabSize(std::uint16_t size) override;
    ~CPrivStr() override;
    operator std::int32_t() override;
    operator const char*() override;
    void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) override;
    void SetString(const char* text, std::uint16_t index, std::uint8_t axis) override;

    CPrivStr& assignPtr(const CPrivStr& source);
    CPrivStr& operator=(const CPrivStr& source);
    CPrivStr& replaceObject(const CPrivStr& source);

    bool OwnsTexts() const { return mOwnsTexts; }

  private:
    friend class CDrvStr;
    void Refresh();
    void ReleaseTexts();
    void TakeTextPart(const CPrivStr& source);
    void Finish(std::uint16_t tabSize);

    bool mOwnsTexts = false;
    TApplString* mpTexts = nullptr;
    char* mpStorage = nullptr;
    // Elements of the lent memory (0: none lent); the table never grows past.
    std::uint16_t mLentSize = 0;
    const char* mpCurrent = nullptr;
};

class CDrvStr : public CVirtualStr {
  public:
    CDrvStr(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
            std::uint16_t tabSize, std::uint32_t stride, std::uint16_t readParam, bool readFlag,
            std::uint16_t index, const TDriver::ELocation location);
    CDrvStr(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
            ERegisterHandle mode);
    CDrvStr(Daten* daten, const char* name, std::uint32_t address, std::uint16_t length,
            std::uint16_t tabSize, ERegisterHandle mode);
    // The same under a name that is gone once the object is built.
    CDrvStr(Daten* daten, TransientName name, std::uint32_t address, std::uint16_t length,
            ERegisterHandle mode);
    // An unregistered copy at location; with privateCopy the writes go to a
    // mirror in PC memory and later reads of a written element come from it.
    CDrvStr(const CDrvStr& source, bool privateCopy, const TDriver::ELocation location);
    CDrvStr(const CDrvStr& source);
    CDrvStr();

    std::uint16_t getTabSize() const override;
    void setTabSize(std::uint16_t size) override;
    ~CDrvStr() override;
    operator std::int32_t() override;
    operator const char*() override;
    void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) override;
    void SetString(const char* text, std::uint16_t index, std::uint8_t axis) override;
    const void* SetBinBlock(const void* buffer, std::uint16_t size, std::uint16_t index,
                            bool swapped) override;
    void* GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index, bool swapped) override;

    CDrvStr& assignPtr(const CDrvStr& source);
    CDrvStr& operator=(const CDrvStr& source);
    CDrvStr& replaceObject(const CDrvStr& source);
    void setAddress(std::int32_t address) { mAddress = static_cast<std::uint32_t>(address); }
    std::uint32_t getAddress() const { return mAddress; }

    std::uint32_t Stride() const { return mStride; }
    bool IsPrivateCopy() const { return static_cast<bool>(mMirror); }
    std::uint32_t ElementAddress() const { return mAddress + mIndex * mStride; }

  private:
    void Build(const char* name, std::uint16_t length, std::uint16_t tabSize, ERegisterHandle mode);
    // The text buffer, made on first use; null for an object without a
    // definition.
    char* Text();
    void ReleaseBuffers();
    void TakeDrvPart(const CDrvStr& source);
    bool MirrorHolds() const { return mMirror.Holds(mIndex, mTabSize); }
    // A private copy's write to an element its mirror cannot hold: 3.
    bool RefusedByMirror();
    // The mirror's text of the selected element, or "".
    const char* MirrorText();

    // Holds the definition's length plus a terminator: a text that fills its
    // field comes without one. Made on the first access that needs it: most
    // texts of a tree are never read.
    char* mpText = nullptr;
    PrivateMirror<CPrivStr> mMirror;
    std::uint32_t mAddress = 0;
    std::uint32_t mStride = 0;
    std::uint16_t mReadParam = 150;
    bool mReadFlag = false;
};

#endif  // KORVEX_DATA_STRINGS_H_
