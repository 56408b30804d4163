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
        Mirror* mirror = make();
        CData::gbRegisterNewHandle = registering;
        mpParts = new Parts{mirror, new std::uint8_t[size]()};
    }

    void Release() {
        if (!mpParts) return;
        delete mpParts->mirror;
        delete[] mpParts->held;
        delete mpParts;
        mpParts = nullptr;
    }

    // Duplicates the source's mirror and its first size flags: each object
    // frees only what it allocated.
    void CopyFrom(const PrivateMirror& source, std::uint16_t size) {
        Release();
        if (!source.mpParts) return;
        auto* held = new std::uint8_t[size];
        std::memcpy(held, source.mpParts->held, size);
        mpParts = new Parts{new Mirror(*source.mpParts->mirror), held};
    }

    // The table grew from `from` to `to` elements; the new ones are not held.
    void Grow(std::uint16_t from, std::uint16_t to) {
        if (!mpParts || to <= from) return;
        auto* grown = new std::uint8_t[to]();
        std::memcpy(grown, mpParts->held, from);
        delete[] mpParts->held;
        mpParts->held = grown;
    }

    explicit operator bool() const { return mpParts != nullptr; }
    Mirror* operator->() const { return mpParts->mirror; }

    // Whether element index (of a table of size) has a flag, and whether the
    // mirror holds it.
    // A table grown past the mirror's size has elements the mirror cannot
    // hold: they are not covered, so that no write lands in another element.
    bool Covers(std::uint16_t index, std::uint16_t size) const {
        return mpParts && index < size && index < mpParts->mirror->getTabSize();
    }
    bool Holds(std::uint16_t index, std::uint16_t size) const {
        return Covers(index, size) && mpParts->held[index] != 0;
    }
    void Mark(std::uint16_t index, std::uint16_t size) {
        if (Covers(index, size)) mpParts->held[index] = 1;
    }

  private:
    // Both parts exist together or not at all; one pointer in the owner,
    // which is rarely a private copy.
    struct Parts {
        Mirror* mirror;
        std::uint8_t* held;
    };
    Parts* mpParts = nullptr;
};

#endif  // KORVEX_DATA_PRIVATE_MIRROR_H_
