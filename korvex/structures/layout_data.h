// The controller structure layouts as data: the reader and the checks of
// korvex/structures/layouts.txt (its format is documented at its top).
//
// The build's generator reads the file with these functions and refuses to
// emit proxies from a layout that fails a check, so a firmware change that
// breaks a layout stops the build with the line at fault. Standard library
// only: the generator is built before the library.
#ifndef KORVEX_STRUCTURES_LAYOUT_DATA_H_
#define KORVEX_STRUCTURES_LAYOUT_DATA_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::structures::layout {

enum class Kind : std::uint8_t {
    Number,       // a scalar, or a table of scalars (count > 1 or written nxT)
    String,       // a character array
    Nested,       // a nested structure or union
    NestedArray,  // an array of nested structures or unions
    Pointer,      // a controller pointer and its value object
};

struct Field {
    std::uint32_t offset = 0;
    std::string name;
    Kind kind = Kind::Number;
    // B W I L C or E for numbers and for a pointer's value object.
    char scalar = 0;
    // Elements of a table or array (1 for a single value); bytes of a string.
    std::uint32_t count = 1;
    bool table = false;  // written nxT: a table even when n is 1
    std::string cls;     // the nested class
    int line = 0;
};

struct Class {
    std::string name;
    bool isUnion = false;
    std::uint32_t size = 0;  // mMotSize of a structure
    bool copyable = false;   // has a copy constructor
    std::vector<Field> fields;
    int line = 0;
};

struct Layouts {
    std::vector<Class> classes;
    std::map<std::string, std::int64_t> catalogue;  // -1 for a union
    std::map<std::string, std::size_t> index;       // class name -> position
    const Class* Find(std::string_view name) const;
};

// Bytes of one element of a scalar type (E is the one-byte enumeration).
std::uint32_t ScalarLength(char scalar);
// The DInfo::DType code a scalar type is given.
std::uint8_t ScalarType(char scalar);

// Reads the data file. False with "line N: what" in error on a line it
// cannot read.
bool Parse(std::string_view text, Layouts& out, std::string& error);

// The bytes one element of a class takes in an array: mMotSize of a
// structure, the largest alternative of a union.
std::uint32_t Extent(const Layouts& layouts, const Class& cls);
// Bytes a field takes in its class.
std::uint32_t FieldBytes(const Layouts& layouts, const Field& field);

// Every rule a layout must keep; one "line N: what" per fault, empty when
// the data is sound.
std::vector<std::string> Check(const Layouts& layouts);

// Classes ordered so that every nested class comes before its users.
std::vector<const Class*> DependencyOrder(const Layouts& layouts);

}  // namespace korvex::structures::layout

#endif  // KORVEX_STRUCTURES_LAYOUT_DATA_H_
