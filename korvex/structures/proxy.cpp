#include "korvex/structures/proxy.h"

#include <algorithm>
#include <new>

#include "korvex/korvex.h"

namespace korvex::structures {

namespace {

template <class T>
T& MemberAt(void* proxy, std::uint32_t offset) {
    return *std::launder(reinterpret_cast<T*>(static_cast<char*>(proxy) + offset));
}
template <class T>
const T& MemberAt(const void* proxy, std::uint32_t offset) {
    return *std::launder(reinterpret_cast<const T*>(static_cast<const char*>(proxy) + offset));
}

void* ElementAt(void* proxy, const MemberEntry& entry, std::uint32_t i) {
    return static_cast<char*>(proxy) + entry.member + i * entry.objectSize;
}
const void* ElementAt(const void* proxy, const MemberEntry& entry, std::uint32_t i) {
    return static_cast<const char*>(proxy) + entry.member + i * entry.objectSize;
}

// Replaces a default-constructed data object by one built with args. An
// object that registered nothing keeps a copy of its name, which it frees.
template <class T, class... Args>
void Rebuild(T& object, Daten* daten, const std::string& name, CData::ERegisterHandle mode,
             Args... args) {
    object.~T();
    T* built = new (&object) T(daten, name.c_str(), args..., mode);
    built->KeepName();
}

// The value object's name: the pointer's name without "PTR".
std::string ValueName(const std::string& pointerName) {
    return pointerName.substr(0, pointerName.size() - 4) + "_";
}

void BindMembers(const ClassLayout& cls, void* proxy, Daten* daten, std::string& name,
                 std::uint32_t address, CData::ERegisterHandle mode) {
    for (std::uint16_t m = 0; m < cls.memberCount; ++m) {
        const MemberEntry& entry = cls.members[m];
        const std::size_t keep = name.size();
        name += entry.name;
        const std::uint32_t at = address + entry.offset;
        switch (entry.kind) {
            case MemberKind::Number:
                Rebuild(MemberAt<CDrvNumber>(proxy, entry.member), daten, name, mode, at, entry.length,
                        static_cast<DInfo::DType>(entry.type));
                break;
            case MemberKind::Table:
                Rebuild(MemberAt<CDrvNumber>(proxy, entry.member), daten, name, mode, at, entry.length,
                        static_cast<DInfo::DType>(entry.type), entry.count);
                break;
            case MemberKind::String:
                Rebuild(MemberAt<CDrvStr>(proxy, entry.member), daten, name, mode, at, entry.length);
                break;
            case MemberKind::Pointer: {
                // The value pointed to first, at address 0, then the pointer.
                const std::string valueName = ValueName(name);
                const auto type = static_cast<DInfo::DType>(entry.type);
                auto* value = new CDrvNumber(daten, valueName.c_str(), 0, entry.length, type, mode);
                value->KeepName();
                auto& pointer = MemberAt<CPointedTo<CDrvNumber>>(proxy, entry.member);
                pointer.~CPointedTo<CDrvNumber>();
                auto* built = new (&pointer) CPointedTo<CDrvNumber>(daten, name.c_str(), at, value, mode);
                built->KeepName();
                break;
            }
            case MemberKind::Nested:
                BindMembers(*entry.nested, ElementAt(proxy, entry, 0), daten, name, at, mode);
                break;
            case MemberKind::NestedArray:
                // Each element is bound in place, after every other member:
                // the order, and so the handles, that building a temporary
                // and handing it over by replaceObject gives, without a
                // temporary whose pointers' value objects would be freed.
                for (std::uint32_t i = 0; i < entry.count; ++i) {
                    const std::size_t element = name.size();
                    name += std::to_string(i);
                    name += '_';
                    BindMembers(*entry.nested, ElementAt(proxy, entry, i), daten, name, at + i * entry.stride,
                                mode);
                    name.resize(element);
                }
                break;
        }
        name.resize(keep);
    }
}

// Calls number(CDrvNumber&, const CDrvNumber*), string(...) and
// pointer(...) for every data object pair of two proxies of one class.
template <class Number, class String, class Pointer>
void Pairwise(const ClassLayout& cls, void* proxy, const void* other, Number number, String string,
              Pointer pointer) {
    for (std::uint16_t m = 0; m < cls.memberCount; ++m) {
        const MemberEntry& entry = cls.members[m];
        switch (entry.kind) {
            case MemberKind::Number:
            case MemberKind::Table:
                number(MemberAt<CDrvNumber>(proxy, entry.member), MemberAt<CDrvNumber>(other, entry.member));
                break;
            case MemberKind::String:
                string(MemberAt<CDrvStr>(proxy, entry.member), MemberAt<CDrvStr>(other, entry.member));
                break;
            case MemberKind::Pointer:
                pointer(MemberAt<CPointedTo<CDrvNumber>>(proxy, entry.member),
                        MemberAt<CPointedTo<CDrvNumber>>(other, entry.member));
                break;
            case MemberKind::Nested:
            case MemberKind::NestedArray:
                for (std::uint32_t i = 0; i < entry.count; ++i)
                    Pairwise(*entry.nested, ElementAt(proxy, entry, i), ElementAt(other, entry, i), number,
                             string, pointer);
                break;
        }
    }
}

void VisitMembers(const ClassLayout& cls, const void* proxy, const std::function<void(CData&)>& visit) {
    for (std::uint16_t m = 0; m < cls.memberCount; ++m) {
        const MemberEntry& entry = cls.members[m];
        void* member = const_cast<char*>(static_cast<const char*>(proxy)) + entry.member;
        switch (entry.kind) {
            case MemberKind::Number:
            case MemberKind::Table:
                visit(*std::launder(reinterpret_cast<CDrvNumber*>(member)));
                break;
            case MemberKind::String:
                visit(*std::launder(reinterpret_cast<CDrvStr*>(member)));
                break;
            case MemberKind::Pointer: {
                auto& pointer = *std::launder(reinterpret_cast<CPointedTo<CDrvNumber>*>(member));
                if (CDrvNumber* value = pointer.pointee()) visit(*value);
                visit(pointer);
                break;
            }
            case MemberKind::Nested:
            case MemberKind::NestedArray:
                for (std::uint32_t i = 0; i < entry.count; ++i)
                    VisitMembers(*entry.nested, ElementAt(proxy, entry, i), visit);
                break;
        }
    }
}

}  // namespace

void Bind(const ClassLayout& cls, void* proxy, Daten* daten, const TApplString& prefix,
          std::uint32_t address, CData::ERegisterHandle mode) {
    std::string name;
    name.reserve(256);
    name = prefix.str();
    BindMembers(cls, proxy, daten, name, address, mode);
}

void AssignPtr(const ClassLayout& cls, void* proxy, const void* other) {
    Pairwise(
        cls, proxy, other, [](CDrvNumber& a, const CDrvNumber& b) { a.assignPtr(b); },
        [](CDrvStr& a, const CDrvStr& b) { a.assignPtr(b); },
        [](CPointedTo<CDrvNumber>& a, const CPointedTo<CDrvNumber>& b) { a.assignPtr(b); });
}

void Assign(const ClassLayout& cls, void* proxy, const void* other) {
    Pairwise(
        cls, proxy, other, [](CDrvNumber& a, const CDrvNumber& b) { a = b; },
        [](CDrvStr& a, const CDrvStr& b) { a = b; },
        [](CPointedTo<CDrvNumber>& a, const CPointedTo<CDrvNumber>& b) { a = b; });
}

void ReplaceObject(const ClassLayout& cls, void* proxy, const void* other) {
    Pairwise(
        cls, proxy, other, [](CDrvNumber& a, const CDrvNumber& b) { a.replaceObject(b); },
        [](CDrvStr& a, const CDrvStr& b) { a.replaceObject(b); },
        [](CPointedTo<CDrvNumber>& a, const CPointedTo<CDrvNumber>& b) { a.replaceObject(b); });
}

void SetAddress(const ClassLayout& cls, void* proxy, std::int32_t address) {
    for (std::uint16_t m = 0; m < cls.memberCount; ++m) {
        const MemberEntry& entry = cls.members[m];
        const std::int32_t at = address + static_cast<std::int32_t>(entry.offset);
        switch (entry.kind) {
            case MemberKind::Number:
            case MemberKind::Table:
                MemberAt<CDrvNumber>(proxy, entry.member).setAddress(at);
                break;
            case MemberKind::String:
                MemberAt<CDrvStr>(proxy, entry.member).setAddress(at);
                break;
            case MemberKind::Pointer:
                // The value object follows the pointer's content, not the pointer.
                MemberAt<CPointedTo<CDrvNumber>>(proxy, entry.member).setAddress(at);
                break;
            case MemberKind::Nested:
            case MemberKind::NestedArray:
                for (std::uint32_t i = 0; i < entry.count; ++i)
                    SetAddress(*entry.nested, ElementAt(proxy, entry, i),
                               at + static_cast<std::int32_t>(i * entry.stride));
                break;
        }
    }
}

std::uint32_t GetAddress(const ClassLayout& cls, const void* proxy) {
    // The first member's address less its offset: the structure's own
    // address even where the controller leaves its first bytes unmapped.
    const MemberEntry& entry = cls.members[0];
    std::uint32_t first = 0;
    switch (entry.kind) {
        case MemberKind::Number:
        case MemberKind::Table:
            first = MemberAt<CDrvNumber>(proxy, entry.member).getAddress();
            break;
        case MemberKind::String:
            first = MemberAt<CDrvStr>(proxy, entry.member).getAddress();
            break;
        case MemberKind::Pointer:
            first = MemberAt<CPointedTo<CDrvNumber>>(proxy, entry.member).getAddress();
            break;
        case MemberKind::Nested:
        case MemberKind::NestedArray:
            first = GetAddress(*entry.nested, ElementAt(proxy, entry, 0));
            break;
    }
    // An unbound proxy (its members at 0) answers 0.
    return first >= entry.offset ? first - entry.offset : 0;
}

void SetMemLocation(const ClassLayout& cls, void* proxy, TDriver::ELocation location) {
    Visit(cls, proxy, [location](CData& object) { object.setMemLocation(location); });
}

void Visit(const ClassLayout& cls, const void* proxy, const std::function<void(CData&)>& visit) {
    VisitMembers(cls, proxy, visit);
}

const ClassLayout* FindClass(std::string_view name) {
    const auto all = AllClasses();
    auto it = std::lower_bound(all.begin(), all.end(), name,
                               [](const ClassLayout* cls, std::string_view key) { return cls->name < key; });
    return it != all.end() && (*it)->name == name ? *it : nullptr;
}

}  // namespace korvex::structures
