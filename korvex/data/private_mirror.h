// The PC-side mirror of a private copy (CDrvNumber, CDrvStr): an unregistered
// object that holds the elements the copy wrote or read, and a flag per
// element that says the mirror holds it.
#ifndef KORVEX_DATA_PRIVATE_MIRROR_H_
#define KORVEX_DATA_PRIVATE_MIRROR_H_

#include <cstdint>
#include <cstring>

#include "korvex/data/cdata.h"

template <class Mirror>
class PrivateMirror {
  public:
    PrivateMirror() = default;
    // Copies go through CopyFrom: the flag count is the owner's table size.
    PrivateMirror(const PrivateMirror&) = delete;
    PrivateMirror& operator=(const PrivateMirror&) = delete;
    ~PrivateMirror() { Release(); }

    // A new mirror of size elements, none held yet; make() builds it with
    // registering switched off, so that it takes no handle.
    template <class Make>
    void Create(std::uint16_t size, Make make) {
        Release();
        const bool registering = CData::gbRegisterNewHandle;
        CData::gbRegisterNewHandle = false;
        mpMirror = make();
        CData::gbRegisterNewHandle = registering;
        mpHeld = new std::uint8_t[size]();
    }

    void Release() {
        delete mpMirror;
        delete[] mpHeld;
        mpMirror = nullptr;
        mpHeld = nullptr;
    }

    // Duplicates the source's mirror and its first size flags: each object
    // frees only what it allocated.
    void CopyFrom(const PrivateMirror& source, std::uint16_t size) {
        Release();
        if (source.mpMirror) mpMirror = new Mirror(*source.mpMirror);
        if (source.mpHeld) {
            mpHeld = new std::uint8_t[size];
            std::memcpy(mpHeld, source.mpHeld, size);
        }
    }

    // The table grew from `from` to `to` elements; the new ones are not held.
    void Grow(std::uint16_t from, std::uint16_t to) {
        if (!mpHeld || to <= from) return;
        auto* grown = new std::uint8_t[to]();
        std::memcpy(grown, mpHeld, from);
        delete[] mpHeld;
        mpHeld = grown;
    }

    explicit operator bool() const { return mpMirror != nullptr; }
    Mirror* operator->() const { return mpMirror; }

    // Whether element index (of a table of size) has a flag, and whether the
    // mirror holds it.
    // A table grown past the mirror's size has elements the mirror cannot
    // hold: they are not covered, so that no write lands in another element.
    bool Covers(std::uint16_t index, std::uint16_t size) const {
        return mpHeld && index < size && index < mpMirror->getTabSize();
    }
    bool Holds(std::uint16_t index, std::uint16_t size) const {
        return Covers(index, size) && mpHeld[index] != 0;
    }
    void Mark(std::uint16_t index, std::uint16_t size) {
        if (Covers(index, size)) mpHeld[index] = 1;
    }

  private:
    Mirror* mpMirror = nullptr;
    std::uint8_t* mpHeld = nullptr;
};

#endif  // KORVEX_DATA_PRIVATE_MIRROR_H_
