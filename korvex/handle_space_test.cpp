// Registrations past the 16-bit handle numbers: kept by name, never wrapped.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "korvex/data/cdata.h"
#include "tests/support/values_fixture.h"

namespace {

using korvex::testing::ValuesTest;

using korvex::testing::Cells;

class HandleSpaceTest : public ValuesTest {};

TEST_F(HandleSpaceTest, ObjectsPastTheLastNumberAreKeptByNameAndTheHostIsToldOnce) {
    daten->SetLastNumber(15001);
    std::vector<std::unique_ptr<Cells>> objects;
    for (const char* name : {"Num0_", "Num1_", "Past0_", "Past1_", "Past2_"})
        objects.push_back(std::make_unique<Cells>(daten.get(), name, 1));
    EXPECT_EQ(objects[0]->Handle(), 15000);
    EXPECT_EQ(objects[1]->Handle(), 15001);
    for (std::size_t i = 2; i < objects.size(); ++i) {
        EXPECT_EQ(objects[i]->Handle(), 0xFFFF);
        EXPECT_TRUE(objects[i]->Bound());
        EXPECT_EQ(objects[i]->Driver(), &machine.sim);
    }
    EXPECT_TRUE(host().halts.empty());
    ASSERT_EQ(host().messageBoxes.size(), 1u);
    EXPECT_NE(host().messageBoxes[0].text.find("[Past0_]"), std::string::npos);
    EXPECT_EQ(daten->UnnumberedCount(), 3u);
    // Every object is found by name, numbered or not, without regard to case.
    EXPECT_EQ(daten->FindRegistered("num1_"), objects[1].get());
    EXPECT_EQ(daten->FindRegistered("PAST2_"), objects[4].get());
    EXPECT_EQ(daten->FindRegistered("Nowhere_"), nullptr);
    // The kept name outlives the text it was built from.
    EXPECT_STREQ(objects[3]->Name(), "Past1_");
    EXPECT_EQ(daten->GetHandles()->NameToHandle("Past1_"), 0xFFFF);
    // Texts that name a field read it, numbered or not.
    objects[3]->values = {42};
    char text[32] = "";
    daten->CheckAndGetValue(1, 0, 255, "past1_", "self", text, "P=", sizeof text);
    EXPECT_STREQ(text, "P=42");

    // A name kept without a number is still taken.
    Cells again(daten.get(), "Past0_", 1);
    EXPECT_EQ(again.Handle(), 0xFFFF);
    EXPECT_FALSE(again.Bound());
    ASSERT_EQ(host().halts.size(), 1u);
    EXPECT_EQ(host().halts[0].text, "Handle [Past0_] already exists");
    EXPECT_EQ(daten->FindRegistered("Past0_"), objects[2].get());

    // Numbers freed for later registrations continue; none is reused.
    daten->SetLastNumber(Daten::kLastHandleNumber);
    Cells later(daten.get(), "Later_", 1);
    EXPECT_EQ(later.Handle(), 15002);
    EXPECT_EQ(daten->GetCDataPtr(15002), &later);
    EXPECT_EQ(host().messageBoxes.size(), 1u);
    // With numbers free again a name kept without one is still refused.
    Cells keptBefore(daten.get(), "past1_", 1);
    EXPECT_EQ(keptBefore.Handle(), 0xFFFF);
    EXPECT_EQ(host().halts.size(), 2u);
    EXPECT_EQ(daten->FindRegistered("Past1_"), objects[3].get());
}

TEST_F(HandleSpaceTest, ALaterDatenRegisteringTheSameNamesInOrderTakesTheirNumbersBack) {
    auto first = std::make_unique<Cells>(daten.get(), "Again0_", 1);
    auto second = std::make_unique<Cells>(daten.get(), "Again1_", 1);
    first.reset();
    second.reset();
    TearDown();
    SetUp();
    // The registry keeps the names; a new Daten numbers from 15000 again.
    Cells again0(daten.get(), "Again0_", 1);
    Cells again1(daten.get(), "again1_", 1);
    EXPECT_EQ(again0.Handle(), 15000);
    EXPECT_EQ(again1.Handle(), 15001);
    EXPECT_EQ(daten->GetCDataPtr(15001), &again1);
    EXPECT_TRUE(host().halts.empty());
    // Out of order, a known name is still refused.
    Cells third(daten.get(), "Again0_", 1);
    EXPECT_EQ(third.Handle(), 0xFFFF);
    ASSERT_EQ(host().halts.size(), 1u);
}

}  // namespace
