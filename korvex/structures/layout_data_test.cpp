#include "korvex/structures/layout_data.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace korvex::structures::layout {
namespace {

std::string ShippedLayouts() {
    std::ifstream in(std::string(KORVEX_SOURCE_DIR) + "/korvex/structures/layouts.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The shipped text with the first occurrence of from replaced by to.
std::string Damaged(const std::string& from, const std::string& to) {
    std::string text = ShippedLayouts();
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string AllFaults(const std::string& text) {
    Layouts layouts;
    std::string error;
    if (!Parse(text, layouts, error)) return "parse: " + error;
    std::string joined;
    for (const std::string& fault : Check(layouts)) joined += fault + "\n";
    return joined;
}

TEST(LayoutDataTest, ShippedLayoutsAreSoundAndComplete) {
    Layouts layouts;
    std::string error;
    ASSERT_TRUE(Parse(ShippedLayouts(), layouts, error)) << error;
    EXPECT_EQ(AllFaults(ShippedLayouts()), "");
    EXPECT_EQ(layouts.classes.size(), 446u);
    // The three roots and the sizes the controller's memory map relies on.
    EXPECT_EQ(layouts.Find("SPC_SDoInit")->size, 73460u);
    EXPECT_EQ(layouts.Find("SPC_SNotInit")->size, 20320u);
    EXPECT_EQ(layouts.Find("SPC_LowData_Typ")->size, 123284u);
    EXPECT_TRUE(layouts.Find("SPC_SNotInit")->copyable);
    EXPECT_FALSE(layouts.Find("SPC_LowData_Typ")->copyable);
    // An array of unions strides by the largest alternative.
    EXPECT_EQ(Extent(layouts, *layouts.Find("UPC_GraphicQueBlock_Typ")), 212u);
    const Class* low = layouts.Find("SPC_LowData_Typ");
    std::uint32_t queueEnd = 0;
    std::uint32_t nextOffset = 0;
    for (std::size_t i = 0; i + 1 < low->fields.size(); ++i)
        if (low->fields[i].name == "GraphicQue_") {
            queueEnd = low->fields[i].offset + FieldBytes(layouts, low->fields[i]);
            nextOffset = low->fields[i + 1].offset;
        }
    EXPECT_EQ(queueEnd, 114628u + 32u * 212u);
    EXPECT_LE(queueEnd, nextOffset);
}

TEST(LayoutDataTest, DamagedLayoutsAreRefusedWithTheLineAtFault) {
    struct Case {
        const char *what, *from, *to, *fault;
    } cases[] = {
        {"offsets not ascending", "  1 Zt_Minute_ B\n  2 Zt_Sekunde_ B", "  2 Zt_Minute_ B\n  1 Zt_Sekunde_ B",
         "does not ascend"},
        {"field past the size", "  3 Zt_Hundert_ B", "  4 Zt_Hundert_ B", "past the size 4"},
        {"word at an odd offset", "  2 Dt_Jahr_ W", "  1 Dt_Jahr_ W", "at odd offset 1"},
        {"nested structure at an odd offset", "  140 SqSt_GruenText_ SPC_Message_Typ",
         "  139 SqSt_GruenText_ SPC_Message_Typ", "at odd offset 139"},
        {"overlapping fields", "  8 Wzw_KchA_ W", "  8 Wzw_KchA_ L", "overlaps"},
        {"unknown nested class", "SPC_Message_Typ\n", "SPC_Massage_Typ\n", "unknown class SPC_Massage_Typ"},
        {"catalogue size differs", "catalogue SPC_Zeit_Struct 4", "catalogue SPC_Zeit_Struct 8",
         "has size 4, the catalogue 8"},
        {"class missing from the catalogue", "catalogue SPC_Zeit_Struct 4\n", "", "not in the catalogue"},
        {"union alternative off 0", "  0 KREIS_ SPC_FRK_Kreis_Typ", "  2 KREIS_ SPC_FRK_Kreis_Typ",
         "not at offset 0"},
        {"field name twice", "  1 Zt_Minute_ B", "  1 Zt_Stunde_ B", "given twice"},
        {"pointer name without PTR_", "ALFu_Malc_PtrPTR_ P:L", "ALFu_Malc_Ptr_ P:L", "does not end in PTR_"},
        {"class containing itself", "  432 SqSt_Mpos_ SPC_XYPosition_Typ", "  432 SqSt_Mpos_ SPC_Seq_Status_Typ",
         "contains itself"},
        {"unreadable type", "  0 Zt_Stunde_ B", "  0 Zt_Stunde_ Q", "parse: line"},
        {"unreadable offset", "  0 Zt_Stunde_ B", "  x Zt_Stunde_ B", "OFFSET NAME TYPE expected"},
        {"zero-length string", "S64", "S0", "bad string length"},
        {"pointer to a class", "ALFu_Malc_PtrPTR_ P:L", "ALFu_Malc_PtrPTR_ P:SPC_Zeit_Struct",
         "a pointer's value must be"},
        {"copyable class nesting one that is not", "SPC_SOneToolOffer 52 copyable",
         "SPC_SOneToolOffer 52", "is copyable, its SPC_SOneToolOffer is not"},
        {"unreadable class line", "struct SPC_Zeit_Struct 4\n", "struct SPC_Zeit_Struct 4 copy\n",
         "[copyable] expected"},
    };
    for (const Case& c : cases) {
        const std::string faults = AllFaults(Damaged(c.from, c.to));
        EXPECT_NE(faults.find(c.fault), std::string::npos) << c.what << ": " << faults;
        EXPECT_NE(faults.find("line "), std::string::npos) << c.what;
    }
}

}  // namespace
}  // namespace korvex::structures::layout
