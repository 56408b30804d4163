// The controller structure tree: all 56,533 data objects, their handles and
// names, the numbers left to the host, and a tree built twice.
#include "korvex/structures/cmotdirect.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "korvex/structures/proxy.h"
#include "tests/support/values_fixture.h"

namespace {

using korvex::structures::Visit;

class CMotDirectTest : public korvex::testing::ValuesTest {
  protected:
    void SetUp() override {
        CData::ForgetDaten(nullptr);
        mot = std::make_unique<CMotDirect>(machine.model.Parent(), const_cast<char*>("QZ_DATEN"),
                                           const_cast<char*>("HANDLES"), nullptr);
        ASSERT_EQ(mot->ConstructionResult(), 0);
    }
    void TearDown() override { mot.reset(); }

    void ForEachObject(const std::function<void(CData&)>& visit) {
        Visit(SPC_SDoInit::Layout(), &mot->DoInit(), visit);
        Visit(SPC_SNotInit::Layout(), &mot->NotInit(), visit);
        Visit(SPC_LowData_Typ::Layout(), &mot->LowData(), visit);
    }

    std::unique_ptr<CMotDirect> mot;
};

TEST_F(CMotDirectTest, TheTreeRegistersEveryFieldAndLeavesNumbersToTheHost) {
    std::size_t objects = 0;
    std::size_t numbered = 0;
    std::uint16_t expected = 15000;
    bool inOrder = true;
    bool allFound = true;
    bool allBound = true;
    ForEachObject([&](CData& object) {
        ++objects;
        allBound = allBound && object.Bound();
        if (object.Handle() != 0xFFFF) {
            ++numbered;
            inOrder = inOrder && object.Handle() == expected++;
        }
        allFound = allFound && mot->FindRegistered(object.Name()) == &object;
    });
    EXPECT_EQ(objects, 56533u);
    EXPECT_EQ(objects, SPC_SDoInit::Layout().objects + SPC_SNotInit::Layout().objects +
                           SPC_LowData_Typ::Layout().objects);
    EXPECT_EQ(numbered, 0xFFFEu - 15000 + 1 - CMotDirect::kNumbersLeftToHost);
    EXPECT_EQ(mot->UnnumberedCount(), objects - numbered);
    EXPECT_TRUE(inOrder);
    EXPECT_TRUE(allFound);
    EXPECT_TRUE(allBound);
    EXPECT_TRUE(host().halts.empty());
    ASSERT_EQ(host().messageBoxes.size(), 1u);

    // The roots sit where the controller keeps them, under bare names.
    EXPECT_EQ(mot->DoInit().getAddress(), 0x19080u);
    EXPECT_EQ(mot->NotInit().getAddress(), 0x68u);
    EXPECT_EQ(mot->LowData().getAddress(), 0x2E5E8u);
    EXPECT_EQ(mot->DoInit().mFILEOPER_.Handle(), 15000);
    EXPECT_EQ(mot->LowData().STATIME_.Zt_Stunde_.Name(),
              mot->GetHandles()->getNamePtr("STATIME_Zt_Stunde_"));

    // The host's next registration takes the first number the tree left.
    SPC_SChannelBuffer channel(mot.get(), "Chl_", 0x1000, CData::RegisterNew);
    EXPECT_EQ(channel.CH_TRANSACTION_DWORD_.Handle(), 15000 + numbered);
}

TEST_F(CMotDirectTest, TheLastFieldsOfTheLowLevelDataReadTheirBytesByName) {
    const std::uint32_t end = 0x2E5E8 + SPC_LowData_Typ::mMotSize;
    std::uint8_t* memory = sim().Image(end - 4);
    ASSERT_NE(memory, nullptr);
    memory[0] = 0x12, memory[1] = 0x34, memory[2] = 0x56, memory[3] = 0x78;
    EXPECT_EQ(static_cast<std::uint32_t>(mot->LowData().MEMCLREND_.GetValue(0, 255)), 0x12345678u);
    // The last objects built, without a number, read and written by name are
    // the structures script's.
    // Spot-facing memory in use: the byte SPFAC_DATA_SPF_HMEMUSED_.
    EXPECT_FALSE(mot->isSpotFacingMemUsed());
    *sim().Image(mot->LowData().SPFAC_DATA_.SPF_HMEMUSED_.getAddress()) = 1;
    EXPECT_TRUE(mot->isSpotFacingMemUsed());
}

TEST_F(CMotDirectTest, BuiltAndDestroyedTwiceInOneProcess) {
    const std::uint16_t lastNumbered = mot->LowData().SPFAC_DATA_.SPF_HMEMUSED_.Handle();
    mot.reset();
    // The registry keeps the tree's names: the new tree takes their numbers
    // back, and the names without a number are kept again.
    mot = std::make_unique<CMotDirect>(machine.model.Parent(), const_cast<char*>("QZ_DATEN"),
                                       const_cast<char*>("HANDLES"), nullptr);
    EXPECT_EQ(mot->ConstructionResult(), 0);
    EXPECT_EQ(mot->DoInit().mFILEOPER_.Handle(), 15000);
    EXPECT_EQ(mot->LowData().SPFAC_DATA_.SPF_HMEMUSED_.Handle(), lastNumbered);
    EXPECT_EQ(mot->FindRegistered("Sl_ErrorQue_49_SlErrorQueTime_"),
              &mot->LowData().Sl_ErrorQue_[49].SlErrorQueTime_);
    EXPECT_TRUE(host().halts.empty());
}

}  // namespace
