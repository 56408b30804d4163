// Data objects that reach a value held elsewhere.
//
// TQZ_HandleValue names an existing handle and reads and writes it through
// Daten's value access, so that host code can keep a typed, indexable
// variable bound to a handle name. TQZ_OffsetValue reads and writes raw
// elements of the controller's offset area. CPointedTo is a pointer field in
// controller memory that owns the proxy of what it points to and moves that
// proxy whenever the pointer changes.
#ifndef KORVEX_DATA_BOUND_VALUES_H_
#define KORVEX_DATA_BOUND_VALUES_H_

#include <cstdint>

#include "korvex/data/cdata.h"
#include "korvex/data/numbers.h"

class TQZ_HandleValue : public CData {
  public:
    // Binds to the handle name names ("NAME 3" selects element 3); halts
    // with "Handle [NAME] not found" when the table has no such name.
    TQZ_HandleValue(Daten* daten, Handles* handles, const char* name, std::uint16_t index);
    TQZ_HandleValue(const char* name, std::uint16_t index);
    TQZ_HandleValue();
    TQZ_HandleValue(const TQZ_HandleValue& source);

    ~TQZ_HandleValue() override;
    void Init(ERegisterHandle mode) override;
    operator std::int32_t() override;
    operator const char*() override;
    std::int32_t operator[](std::uint16_t index) override;
    void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) override;
    std::int32_t GetValue(std::uint16_t index, std::uint8_t axis) override;
    void SetString(const char* text, std::uint16_t index, std::uint8_t axis) override;
    const char* GetString(std::uint16_t index, std::uint8_t axis) override;
    char* GetString(char* buffer, std::uint16_t size, std::uint16_t index,
                    std::uint8_t axis) override;
    const void* SetBinBlock(const void* buffer, std::uint16_t size, std::uint16_t index,
                            bool swapped) override;
    void* GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index, bool swapped) override;

    // The display text of an element, in this object's own text.
    TApplString& asString(std::uint16_t index);
    std::int32_t Value() const { return mValue; }

    TQZ_HandleValue& assignPtr(const TQZ_HandleValue& source);
    TQZ_HandleValue& operator=(const TQZ_HandleValue& source);
    TQZ_HandleValue& replaceObject(const TQZ_HandleValue& source);

  protected:
    // The text member with room for at least size bytes and a terminator.
    char* TextRoom(std::size_t size);
    // The text member takes size bytes of block (a text when size is 0).
    void KeepText(const void* block, std::size_t size);
    void KeepText(const char* text);
    bool MarkerAlive() const {
        return mGuardHV[0] == 'O' && mGuardHV[1] == 'K' && mGuardHV[2] == 0;
    }
    void CheckMarker(char guard[4], const char* caption);

    char mGuardHV[4] = {'O', 'K', 0, 0};
    std::int32_t mValue = 0;
    TApplString* mpText = nullptr;
};

class TQZ_OffsetValue : public TQZ_HandleValue {
  public:
    // size: 1, 2 or 4 bytes (an integer) or 8 (a double, truncated).
    TQZ_OffsetValue(Daten* daten, std::uint32_t offset, std::uint32_t stride, std::uint8_t size);
    TQZ_OffsetValue(const TQZ_OffsetValue& source) = default;

    ~TQZ_OffsetValue() override;
    void Init(ERegisterHandle mode) override;
    operator std::int32_t() override;
    operator const char*() override;
    void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) override;
    void SetString(const char* text, std::uint16_t index, std::uint8_t axis) override;
    const void* SetBinBlock(const void* buffer, std::uint16_t size, std::uint16_t index,
                            bool swapped) override;
    void* GetBinBlock(void* buffer, std::uint16_t size, std::uint16_t index, bool swapped) override;
    bool GetBit(std::uint16_t bit, std::uint8_t axis) override;
    void SetBit(bool value, std::uint16_t bit, std::uint8_t axis) override;

    // The byte at offset + n (no index, no stride).
    std::uint8_t GetByte(std::uint16_t n);
    void SetByte(std::uint8_t value, std::uint16_t n);

  private:
    std::uint32_t ElementOffset() const { return mOffset + mIndex * mStride; }
    void Take(std::uint16_t index, std::uint8_t axis);

    char mGuardOV[4] = {'O', 'K', 0, 0};
    std::uint32_t mOffset = 0;
    std::uint32_t mStride = 0;
    std::uint16_t mSize = 0;
    std::uint16_t mWordCell = 0;
    std::uint8_t mByteCell = 0;
    double mRealCell = 0.0;
};

// The pointer work of every CPointedTo<T>, done once. The pointer is read as
// a controller address and given to the pointee as a library address.
class CPointedToBase : public CDrvNumber {
  public:
    CPointedToBase(Daten* daten, const char* name, std::uint32_t address,
                   std::uint32_t pointeeAddress, ERegisterHandle mode);
    CPointedToBase() = default;
    CPointedToBase(const CPointedToBase& source) = default;

    ~CPointedToBase() override;
    // The pointer as a library address; moves the pointee when it changed.
    operator std::int32_t() override;
    // Moves the pointee to value and, unless frozen, writes the pointer.
    void SetValue(std::int32_t value, std::uint16_t index, std::uint8_t axis) override;

    // A frozen pointer, once known, is not read again and is not written
    // (the host freezes what it knows cannot move).
    void setFrozen(bool frozen) { mFrozen = frozen; }
    bool Frozen() const { return mFrozen; }
    std::uint32_t PointeeAddress() const { return mPointeeAddress; }

    CPointedToBase& assignPtr(const CPointedToBase& source);
    CPointedToBase& operator=(const CPointedToBase& source);
    CPointedToBase& replaceObject(const CPointedToBase& source);

  protected:
    virtual bool HasPointee() const = 0;
    virtual void MovePointee(std::int32_t address) = 0;

  private:
    // The controller address of the library's first low-level byte.
    std::uint32_t MemoryBase() const;
    // Moves the pointee (halting with message when there is none).
    void Readdress(std::uint32_t address, const char* message, unsigned line);

    bool mFrozen = false;
    std::uint32_t mPointeeAddress = 0;
};

// T: a structure proxy, or CDrvNumber; it offers setAddress(std::int32_t)
// and getAddress() const.
template <class T>
class CPointedTo : public CPointedToBase {
  public:
    CPointedTo() = default;
    // Owns pointee.
    CPointedTo(Daten* daten, const char* name, std::uint32_t address, T* pointee,
               CData::ERegisterHandle mode = CData::RegisterNew)
        : CPointedToBase(daten, name, address, pointee ? pointee->getAddress() : 0, mode),
          mpPointedTo(pointee) {}
    // The copy owns a copy of the pointee.
    CPointedTo(const CPointedTo& source)
        : CPointedToBase(source),
          mpPointedTo(source.mpPointedTo ? new T(*source.mpPointedTo) : nullptr) {}
    ~CPointedTo() override { delete mpPointedTo; }

    T* pointee() { return mpPointedTo; }

    CPointedTo& assignPtr(const CPointedTo& source) {
        CPointedToBase::assignPtr(source);
        if (mpPointedTo && source.mpPointedTo && mpPointedTo != source.mpPointedTo)
            mpPointedTo->assignPtr(*source.mpPointedTo);
        return *this;
    }
    CPointedTo& operator=(const CPointedTo& source) {
        if (this == &source) return *this;
        CPointedToBase::operator=(source);
        if (mpPointedTo && source.mpPointedTo) *mpPointedTo = *source.mpPointedTo;
        return *this;
    }
    CPointedTo& replaceObject(const CPointedTo& source) {
        CPointedToBase::replaceObject(source);
        if (mpPointedTo && source.mpPointedTo && mpPointedTo != source.mpPointedTo)
            mpPointedTo->replaceObject(*source.mpPointedTo);
        return *this;
    }

  protected:
    bool HasPointee() const override { return mpPointedTo != nullptr; }
    void MovePointee(std::int32_t address) override { mpPointedTo->setAddress(address); }

  private:
    T* mpPointedTo = nullptr;
};

#endif  // KORVEX_DATA_BOUND_VALUES_H_
