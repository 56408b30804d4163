#include "korvex/structures/layout_data.h"

#include <cctype>
#include <charconv>
#include <functional>
#include <set>

namespace korvex::structures::layout {

namespace {

bool IsScalar(std::string_view text) {
    return text.size() == 1 && std::string_view("BWILCE").find(text[0]) != std::string_view::npos;
}

bool ReadNumber(std::string_view text, std::uint32_t& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::string At(int line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

// Reads the TYPE word of a field line.
bool ReadType(std::string_view type, Field& field, std::string& error) {
    if (IsScalar(type)) {
        field.kind = Kind::Number;
        field.scalar = type[0];
        return true;
    }
    if (type.size() > 1 && type[0] == 'S' && std::isdigit(static_cast<unsigned char>(type[1]))) {
        field.kind = Kind::String;
        if (!ReadNumber(type.substr(1), field.count) || field.count == 0) {
            error = "bad string length";
            return false;
        }
        return true;
    }
    if (type.substr(0, 2) == "P:") {
        field.kind = Kind::Pointer;
        if (!IsScalar(type.substr(2))) {
            error = "a pointer's value must be one of B W I L C E";
            return false;
        }
        field.scalar = type[2];
        return true;
    }
    const std::size_t x = type.find('x');
    if (x != std::string_view::npos && x > 0 && std::isdigit(static_cast<unsigned char>(type[0]))) {
        if (!ReadNumber(type.substr(0, x), field.count) || field.count == 0 || field.count > 0xFFFF) {
            error = "bad element count";
            return false;
        }
        const std::string_view element = type.substr(x + 1);
        if (IsScalar(element)) {
            field.kind = Kind::Number;
            field.scalar = element[0];
            field.table = true;
        } else {
            field.kind = Kind::NestedArray;
            field.cls = std::string(element);
        }
        return true;
    }
    if (type.substr(0, 4) == "SPC_" || type.substr(0, 4) == "UPC_") {
        field.kind = Kind::Nested;
        field.cls = std::string(type);
        return true;
    }
    error = "unknown type " + std::string(type);
    return false;
}

}  // namespace

const Class* Layouts::Find(std::string_view name) const {
    auto it = index.find(std::string(name));
    return it == index.end() ? nullptr : &classes[it->second];
}

std::uint32_t ScalarLength(char scalar) {
    switch (scalar) {
        case 'B':
        case 'E':
            return 1;
        case 'W':
        case 'I':
            return 2;
        default:
            return 4;
    }
}

std::uint8_t ScalarType(char scalar) {
    // DInfo::DType: BYTE 1, WORD 3, INTEGER 4, LONGINT 5, QZLONGCARD 10.
    switch (scalar) {
        case 'B':
        case 'E':
            return 1;
        case 'W':
            return 3;
        case 'I':
            return 4;
        case 'L':
            return 5;
        default:
            return 10;
    }
}

bool Parse(std::string_view text, Layouts& out, std::string& error) {
    out = Layouts();
    int lineNumber = 0;
    Class* current = nullptr;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        const std::vector<std::string_view> words = Words(line);
        if (words.empty() || words[0][0] == '#') continue;
        if (words[0] == "catalogue") {
            std::uint32_t size = 0;
            if (words.size() != 3 || (words[2] != "-" && !ReadNumber(words[2], size))) {
                error = At(lineNumber, "catalogue NAME SIZE expected");
                return false;
            }
            const std::string name(words[1]);
            if (out.catalogue.count(name)) {
                error = At(lineNumber, "catalogue names " + name + " twice");
                return false;
            }
            out.catalogue[name] = words[2] == "-" ? -1 : static_cast<std::int64_t>(size);
            continue;
        }
        if (words[0] == "struct" || words[0] == "union") {
            Class cls;
            cls.isUnion = words[0] == "union";
            cls.line = lineNumber;
            cls.copyable = !cls.isUnion && words.size() == 4 && words[3] == "copyable";
            if (words.size() != (cls.isUnion    ? 2u
                                 : cls.copyable ? 4u
                                                : 3u) ||
                (!cls.isUnion && !ReadNumber(words[2], cls.size))) {
                error = At(lineNumber, cls.isUnion ? "union NAME expected"
                                                   : "struct NAME SIZE [copyable] expected");
                return false;
            }
            cls.name = std::string(words[1]);
            if (out.index.count(cls.name)) {
                error = At(lineNumber, "class " + cls.name + " given twice");
                return false;
            }
            out.index[cls.name] = out.classes.size();
            out.classes.push_back(std::move(cls));
            current = &out.classes.back();
            continue;
        }
        Field field;
        field.line = lineNumber;
        if (!current) {
            error = At(lineNumber, "field outside a class");
            return false;
        }
        if (words.size() != 3 || !ReadNumber(words[0], field.offset)) {
            error = At(lineNumber, "OFFSET NAME TYPE expected");
            return false;
        }
        field.name = std::string(words[1]);
        std::string why;
        if (!ReadType(words[2], field, why)) {
            error = At(lineNumber, why);
            return false;
        }
        current->fields.push_back(std::move(field));
    }
    return true;
}

std::uint32_t Extent(const Layouts& layouts, const Class& cls) {
    if (!cls.isUnion) return cls.size;
    std::uint32_t largest = 0;
    for (const Field& field : cls.fields)
        largest = std::max(largest, field.offset + FieldBytes(layouts, field));
    return largest;
}

std::uint32_t FieldBytes(const Layouts& layouts, const Field& field) {
    switch (field.kind) {
        case Kind::Number:
            return ScalarLength(field.scalar) * field.count;
        case Kind::String:
            return field.count;
        case Kind::Pointer:
            return 4;
        case Kind::Nested:
        case Kind::NestedArray: {
            const Class* nested = layouts.Find(field.cls);
            return nested ? Extent(layouts, *nested) * field.count : 0;
        }
    }
    return 0;
}

std::vector<std::string> Check(const Layouts& layouts) {
    std::vector<std::string> faults;
    // Nested classes known and no class containing itself (checked first:
    // the sizes below recurse through nested classes).
    std::map<std::string, int> state;  // 1 visiting, 2 done
    bool cyclic = false;
    std::function<void(const Class&)> visit = [&](const Class& cls) {
        state[cls.name] = 1;
        for (const Field& field : cls.fields) {
            if (field.cls.empty()) continue;
            const Class* nested = layouts.Find(field.cls);
            if (!nested) continue;
            if (state[nested->name] == 1) {
                faults.push_back(At(field.line, cls.name + " contains itself through " + field.cls));
                cyclic = true;
            } else if (state[nested->name] == 0) {
                visit(*nested);
            }
        }
        state[cls.name] = 2;
    };
    for (const Class& cls : layouts.classes) {
        for (const Field& field : cls.fields)
            if (!field.cls.empty() && !layouts.Find(field.cls))
                faults.push_back(At(field.line, "unknown class " + field.cls));
        if (state[cls.name] == 0) visit(cls);
    }
    if (!faults.empty() || cyclic) return faults;

    for (const Class& cls : layouts.classes) {
        auto listed = layouts.catalogue.find(cls.name);
        if (listed == layouts.catalogue.end()) {
            faults.push_back(At(cls.line, cls.name + " is not in the catalogue"));
        } else if (cls.isUnion ? listed->second != -1
                               : listed->second != static_cast<std::int64_t>(cls.size)) {
            faults.push_back(At(cls.line, cls.name + " has size " +
                                              (cls.isUnion ? "-" : std::to_string(cls.size)) +
                                              ", the catalogue " +
                                              (listed->second < 0 ? "-" : std::to_string(listed->second))));
        }
        if (cls.fields.empty()) faults.push_back(At(cls.line, cls.name + " has no field"));
        std::set<std::string> names;
        std::uint32_t previousOffset = 0;
        std::uint32_t previousEnd = 0;
        bool first = true;
        for (const Field& field : cls.fields) {
            const std::uint32_t bytes = FieldBytes(layouts, field);
            if (!names.insert(field.name).second)
                faults.push_back(At(field.line, "field " + field.name + " given twice"));
            if (field.name.empty() || field.name.back() != '_')
                faults.push_back(At(field.line, "field name " + field.name + " does not end in _"));
            if (field.kind == Kind::Pointer &&
                (field.name.size() <= 4 || field.name.compare(field.name.size() - 4, 4, "PTR_") != 0))
                faults.push_back(At(field.line, "pointer " + field.name + " does not end in PTR_"));
            if (cls.isUnion) {
                if (field.offset != 0)
                    faults.push_back(At(field.line, "union alternative " + field.name + " not at offset 0"));
            } else {
                if (!first && field.offset <= previousOffset)
                    faults.push_back(At(field.line, "offset " + std::to_string(field.offset) +
                                                        " does not ascend"));
                else if (!first && field.offset < previousEnd)
                    faults.push_back(At(field.line, field.name + " overlaps the field before it"));
                if (field.offset + static_cast<std::uint64_t>(bytes) > cls.size)
                    faults.push_back(At(field.line, field.name + " ends at " +
                                                        std::to_string(field.offset + bytes) +
                                                        ", past the size " + std::to_string(cls.size)));
            }
            // The controller aligns every 2- and 4-byte value and every
            // nested structure to 2 bytes; bytes and byte strings go anywhere.
            const bool wide = field.kind == Kind::Pointer || field.kind == Kind::Nested ||
                              field.kind == Kind::NestedArray ||
                              (field.kind == Kind::Number && ScalarLength(field.scalar) > 1);
            if (wide && field.offset % 2 != 0)
                faults.push_back(At(field.line, field.name + " at odd offset " +
                                                    std::to_string(field.offset)));
            // A copy constructor copies member by member: what it nests
            // must be copyable too.
            const bool nested = field.kind == Kind::Nested || field.kind == Kind::NestedArray;
            if (cls.copyable && nested && !layouts.Find(field.cls)->copyable)
                faults.push_back(
                    At(field.line, cls.name + " is copyable, its " + field.cls + " is not"));
            previousOffset = field.offset;
            previousEnd = field.offset + bytes;
            first = false;
        }
    }
    for (const auto& [name, size] : layouts.catalogue)
        if (!layouts.Find(name)) faults.push_back("catalogue class " + name + " has no layout");
    return faults;
}

std::vector<const Class*> DependencyOrder(const Layouts& layouts) {
    std::vector<const Class*> order;
    std::set<std::string> done;
    std::function<void(const Class&)> place = [&](const Class& cls) {
        if (!done.insert(cls.name).second) return;
        for (const Field& field : cls.fields)
            if (const Class* nested = field.cls.empty() ? nullptr : layouts.Find(field.cls))
                place(*nested);
        order.push_back(&cls);
    };
    for (const Class& cls : layouts.classes) place(cls);
    return order;
}

}  // namespace korvex::structures::layout
