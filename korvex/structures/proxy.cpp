#include "korvex/structures/proxy.h"

#include <algorithm>
#include <charconv>

#include "korvex/korvex.h"

namespace korvex::structures {

NameBuilder::NameBuilder(const TApplString& prefix) {
    mText.reserve(256);
    mText = prefix.str();
}

CData::TransientName NameBuilder::Field(std::size_t base, std::string_view field) const {
    mText.resize(base);
    mText += field;
    return {mText.c_str()};
}

std::size_t NameBuilder::Nested(std::size_t base, std::string_view field) const {
    mText.resize(base);
    mText += field;
    return mText.size();
}

std::size_t NameBuilder::Element(std::size_t base, std::string_view field,
                                 std::uint32_t index) const {
    mText.resize(base);
    mText += field;
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, index).ptr;
    mText.append(digits, end);
    mText += '_';
    return mText.size();
}

CPointedTo<CDrvNumber> PointerField(const NameBuilder& names, std::size_t base,
                                    std::string_view valueField, std::string_view pointerField,
                                    Daten* daten, std::uint32_t address, std::uint16_t length,
                                    DInfo::DType type, CData::ERegisterHandle mode) {
    auto* value = new CDrvNumber(daten, names.Field(base, valueField), 0, length, type, mode);
    return CPointedTo<CDrvNumber>(daten, names.Field(base, pointerField), address, value, mode);
}

void Visit(const ClassLayout& cls, void* proxy, const ObjectVisitor& visit) {
    cls.visit(proxy, visit);
}

const ClassLayout* FindClass(std::string_view name) {
    const auto all = AllClasses();
    auto it = std::lower_bound(all.begin(), all.end(), name,
                               [](const ClassLayout* cls, std::string_view key) { return cls->name < key; });
    return it != all.end() && (*it)->name == name ? *it : nullptr;
}

}  // namespace korvex::structures
