// The structure proxy framework: what every SPC_/UPC_ class shares.
//
// A proxy class has one real member per controller field (a CDrvNumber, a
// CDrvStr, a CPointedTo, a nested proxy or an array of nested proxies) and a
// constant layout table that says, per member, where it lies in the proxy
// object and in the controller's memory, its handle name suffix, length,
// type and count. The nine operations of every class are the generic walks
// below over that table; the generated classes only forward to them.
#ifndef KORVEX_STRUCTURES_PROXY_H_
#define KORVEX_STRUCTURES_PROXY_H_

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

enum class MemberKind : std::uint8_t {
    Number,       // one scalar
    Table,        // a table of scalars (one CDrvNumber)
    String,       // a character array (CDrvStr)
    Pointer,      // CPointedTo<CDrvNumber> and its value object
    Nested,       // a nested structure or union proxy
    NestedArray,  // count nested proxies, built after the other members
};

struct ClassLayout;

struct MemberEntry {
    std::uint32_t member;  // byte offset of the member inside the proxy object
    std::uint32_t offset;  // byte offset of the field in the controller structure
    const char* name;      // handle name suffix, ending in '_'
    MemberKind kind;
    std::uint8_t type;          // DInfo::DType of a number, table or pointer value
    std::uint16_t length;       // bytes of an element, a string or a pointer's value
    std::uint16_t count;        // table or array elements
    std::uint32_t objectSize;   // sizeof the nested proxy (array elements)
    std::uint32_t stride;       // controller bytes between array elements
    const ClassLayout* nested;  // the nested class
};

using BuildFunction = void* (*)(Daten* daten, const TApplString& prefix, std::uint32_t address,
                                CData::ERegisterHandle mode);
using DestroyFunction = void (*)(void* proxy);

struct ClassLayout {
    const char* name;
    std::uint32_t motSize;  // 0 for a union
    std::uint32_t extent;   // controller bytes: mMotSize, or a union's largest alternative
    bool isUnion;
    const MemberEntry* members;  // in build order: nested arrays last
    std::uint16_t memberCount;
    std::uint32_t objects;  // data objects one proxy holds, value objects included
    BuildFunction build;
    DestroyFunction destroy;
};

// The generic operations behind every proxy class.
void Bind(const ClassLayout& cls, void* proxy, Daten* daten, const TApplString& prefix,
          std::uint32_t address, CData::ERegisterHandle mode);
void AssignPtr(const ClassLayout& cls, void* proxy, const void* other);
void SetAddress(const ClassLayout& cls, void* proxy, std::int32_t address);
std::uint32_t GetAddress(const ClassLayout& cls, const void* proxy);
void SetMemLocation(const ClassLayout& cls, void* proxy, TDriver::ELocation location);
void Assign(const ClassLayout& cls, void* proxy, const void* other);
void ReplaceObject(const ClassLayout& cls, void* proxy, const void* other);
// Calls visit for every data object of the proxy, in the order the binding
// constructor builds (and registers) them.
void Visit(const ClassLayout& cls, const void* proxy, const std::function<void(CData&)>& visit);

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

// Their definitions: each forwards to the generic walk over the class's table.
#define KORVEX_PROXY_DEFINITIONS(X, TABLE)                                                  \
    X::X() = default;                                                                       \
    X::X(Daten* daten, const TApplString& prefix, std::uint32_t address,                    \
         CData::ERegisterHandle mode) {                                                     \
        korvex::structures::Bind(TABLE, this, daten, prefix, address, mode);                \
    }                                                                                       \
    X::~X() = default;                                                                      \
    X& X::assignPtr(const X& other) {                                                       \
        korvex::structures::AssignPtr(TABLE, this, &other);                                 \
        return *this;                                                                       \
    }                                                                                       \
    void X::setAddress(const std::int32_t address) {                                        \
        korvex::structures::SetAddress(TABLE, this, address);                               \
    }                                                                                       \
    std::uint32_t X::getAddress() const { return korvex::structures::GetAddress(TABLE, this); } \
    void X::setMemLocation(const TDriver::ELocation location) {                             \
        korvex::structures::SetMemLocation(TABLE, this, location);                          \
    }                                                                                       \
    X& X::operator=(const X& other) {                                                       \
        korvex::structures::Assign(TABLE, this, &other);                                    \
        return *this;                                                                       \
    }                                                                                       \
    X& X::replaceObject(const X& other) {                                                   \
        korvex::structures::ReplaceObject(TABLE, this, &other);                             \
        return *this;                                                                       \
    }                                                                                       \
    const korvex::structures::ClassLayout& X::Layout() { return TABLE; }

// The copy constructor of the classes that have one: member by member.
#define KORVEX_PROXY_COPY(X)                                                                \
    X::X(const X& other) { korvex::structures::Assign(Layout(), this, &other); }

#endif  // KORVEX_STRUCTURES_PROXY_H_
