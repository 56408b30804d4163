// The structure proxy framework: what every SPC_/UPC_ class shares.
//
// A proxy class has one real member per controller field (a CDrvNumber, a
// CDrvStr, a CPointedTo, a nested proxy or an array of nested proxies). The
// generator writes each class's operations member by member from the layout
// data; this header gives them the pieces they share and the record that
// describes a class to code that knows it only by name.
#ifndef KORVEX_STRUCTURES_PROXY_H_
#define KORVEX_STRUCTURES_PROXY_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "korvex/data/bound_values.h"
#include "korvex/data/numbers.h"
#include "korvex/data/strings.h"

class Daten;

namespace korvex::structures {

using ObjectVisitor = std::function<void(CData&)>;

using BuildFunction = void* (*)(Daten* daten, const TApplString& prefix, std::uint32_t address,
                                CData::ERegisterHandle mode);
using DestroyFunction = void (*)(void* proxy);
using VisitFunction = void (*)(void* proxy, const ObjectVisitor& visit);

struct ClassLayout {
    const char* name;
    std::uint32_t motSize;  // 0 for a union
    std::uint32_t extent;   // controller bytes: mMotSize, or a union's largest alternative
    bool isUnion;
    std::uint32_t objects;  // data objects one proxy holds, value objects included
    BuildFunction build;
    DestroyFunction destroy;
    VisitFunction visit;
};

// The handle names of one binding construction, built in one buffer: a
// proxy's names are its prefix (the text up to base) and a field's name.
// REQUIRES: a name is used before the next one is asked for (the data
// objects intern or copy it while they are built).
class NameBuilder {
  public:
    explicit NameBuilder(const TApplString& prefix);
    // The name of a field of the proxy whose prefix ends at base.
    CData::TransientName Field(std::size_t base, std::string_view field) const;
    // Where the prefix of a nested proxy, or of element index of an array
    // of them, ends.
    std::size_t Nested(std::size_t base, std::string_view field) const;
    std::size_t Element(std::size_t base, std::string_view field, std::uint32_t index) const;

  private:
    // Scratch space shared by the nested constructions.
    mutable std::string mText;
};

// A pointer field: the value it leads to is built first, at address 0, then
// the pointer, which owns it.
CPointedTo<CDrvNumber> PointerField(const NameBuilder& names, std::size_t base,
                                    std::string_view valueField, std::string_view pointerField,
                                    Daten* daten, std::uint32_t address, std::uint16_t length,
                                    DInfo::DType type, CData::ERegisterHandle mode);

// address + offset, wrapping as the controller's 32-bit addresses do.
inline std::int32_t Moved(std::int32_t address, std::uint32_t offset) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(address) + offset);
}
// The structure's address from its first field's: an unbound proxy, whose
// fields all lie at 0, answers 0.
inline std::uint32_t Origin(std::uint32_t first, std::uint32_t offset) {
    return first >= offset ? first - offset : 0;
}

// Calls visit for every data object of the proxy, in the order the binding
// constructor builds (and registers) them.
void Visit(const ClassLayout& cls, void* proxy, const ObjectVisitor& visit);

// Every generated class, ordered by name.
std::span<const ClassLayout* const> AllClasses();
// The class of that name, or nullptr.
const ClassLayout* FindClass(std::string_view name);

template <class X>
void* BuildProxy(Daten* daten, const TApplString& prefix, std::uint32_t address,
                 CData::ERegisterHandle mode) {
    return new X(daten, prefix, address, mode);
}
template <class X>
void DestroyProxy(void* proxy) {
    delete static_cast<X*>(proxy);
}
template <class X>
void VisitProxy(void* proxy, const ObjectVisitor& visit) {
    static_cast<X*>(proxy)->VisitObjects(visit);
}

}  // namespace korvex::structures

// The nine operations every proxy class declares.
#define KORVEX_PROXY_OPERATIONS(X)                                                          \
    X();                                                                                    \
    X(Daten* daten, const TApplString& prefix, std::uint32_t address,                       \
      CData::ERegisterHandle mode);                                                         \
    ~X();                                                                                   \
    X& assignPtr(const X& other);                                                           \
    void setAddress(const std::int32_t address);                                            \
    std::uint32_t getAddress() const;                                                       \
    void setMemLocation(const TDriver::ELocation location);                                 \
    X& operator=(const X& other);                                                           \
    X& replaceObject(const X& other);                                                       \
    static const korvex::structures::ClassLayout& Layout();

#endif  // KORVEX_STRUCTURES_PROXY_H_
