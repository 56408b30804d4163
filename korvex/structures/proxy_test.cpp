// The structure proxies over the simulated controller's memory: names,
// addresses, byte order, unions, pointers, and the walks of the operations.
#include "korvex/structures/proxy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "korvex/structures/proxies.h"
#include "tests/support/values_fixture.h"

namespace {

using korvex::testing::ValuesTest;
using korvex::structures::Visit;

// Name, address and handle of every data object of a proxy, in build order.
struct Seen {
    std::string name;
    std::uint32_t address;
    std::uint16_t handle;
    CData* object;
};
template <class X>
std::vector<Seen> Objects(const X& proxy) {
    std::vector<Seen> seen;
    Visit(X::Layout(), &proxy, [&](CData& object) {
        std::uint32_t address = 0;
        if (auto* number = dynamic_cast<CDrvNumber*>(&object)) address = number->getAddress();
        if (auto* text = dynamic_cast<CDrvStr*>(&object)) address = text->getAddress();
        seen.push_back({object.Name() ? object.Name() : "", address, object.Handle(), &object});
    });
    return seen;
}

class ProxyTest : public ValuesTest {
  protected:
    void PutBytes(std::uint32_t address, std::vector<std::uint8_t> bytes) {
        std::memcpy(sim().Image(address), bytes.data(), bytes.size());
    }
};

// Names, addresses, lengths, types and handle order of the objects, union
// alternatives, strings, both byte orders and the translated pointer are the
// structures script's; here what it cannot show.
TEST_F(ProxyTest, TheWalkReachesEveryObjectOfTheLayout) {
    const SPC_Seq_Status_Typ status(daten.get(), "", 0x1000, CData::RegisterNew);
    EXPECT_EQ(Objects(status).size(), SPC_Seq_Status_Typ::Layout().objects);
    EXPECT_EQ(SPC_Seq_Status_Typ::mMotSize, 628u);
    EXPECT_EQ(sizeof(SPC_Zeit_Struct::mMotSize), 4u);
    // An array of unions strides by the largest alternative.
    EXPECT_EQ(UPC_GraphicQueBlock_Typ::Layout().extent, 212u);
    EXPECT_TRUE(host().halts.empty());
}

TEST_F(ProxyTest, MovingTheStructureMovesThePointerNotThePointee) {
    SPC_ALFu_P_Malloc malloc(daten.get(), "", 0x5000, CData::RegisterNew);
    CDrvNumber* value = malloc.ALFu_Malc_PtrPTR_.pointee();
    ASSERT_NE(value, nullptr);
    // The controller's pointer 0x00400100 is the library address 0x2E5E8 + 0x100.
    sim().SetMemoryBase(0x00400000);
    PutBytes(0x5004, {0x00, 0x01, 0x40, 0x00});
    EXPECT_EQ(malloc.ALFu_Malc_PtrPTR_.GetValue(0, 255), 0x2E5E8 + 0x100);
    malloc.setAddress(0x6000);
    EXPECT_EQ(malloc.ALFu_Malc_PtrPTR_.getAddress(), 0x6004u);
    EXPECT_EQ(value->getAddress(), 0x2E5E8u + 0x100);
}

TEST_F(ProxyTest, OperationsWalkTheMembersTheBindingConstructorBuilds) {
    SPC_Seq_Status_Typ bound(daten.get(), "A_", 0x1000, CData::RegisterNew);
    bound.setAddress(0x2000);
    const std::vector<Seen> moved = Objects(bound);
    SPC_Seq_Status_Typ fresh(daten.get(), "B_", 0x2000, CData::RegisterNew);
    const std::vector<Seen> built = Objects(fresh);
    ASSERT_EQ(moved.size(), built.size());
    for (std::size_t i = 0; i < moved.size(); ++i) EXPECT_EQ(moved[i].address, built[i].address) << built[i].name;
    EXPECT_EQ(bound.getAddress(), 0x2000u);

    bound.setMemLocation(static_cast<TDriver::ELocation>(0));
    for (const Seen& s : Objects(bound)) EXPECT_EQ(s.object->Location(), 0) << s.name;

    // operator= and replaceObject: every member takes the other's handle;
    // replaceObject also makes the Daten's table point at the new members.
    SPC_Seq_Status_Typ copy;
    // An unbound proxy answers 0, even where its first field lies past offset 0.
    EXPECT_EQ(SPC_SDoInit().getAddress(), 0u);
    copy = fresh;
    SPC_Seq_Status_Typ replacement;
    replacement.replaceObject(fresh);
    const std::vector<Seen> copied = Objects(copy);
    const std::vector<Seen> replaced = Objects(replacement);
    for (std::size_t i = 0; i < built.size(); ++i) {
        EXPECT_EQ(copied[i].handle, built[i].handle);
        EXPECT_EQ(copied[i].address, built[i].address);
        EXPECT_EQ(daten->GetCDataPtr(built[i].handle), replaced[i].object) << built[i].name;
    }
    // assignPtr takes the binding but not the handle.
    SPC_Seq_Status_Typ bindingOnly;
    bindingOnly.assignPtr(fresh);
    for (const Seen& s : Objects(bindingOnly)) {
        EXPECT_EQ(s.handle, 0xFFFF);
        EXPECT_TRUE(s.object->Bound());
    }
    // The classes with a copy constructor copy member by member.
    SPC_SOneToolOffer offer(daten.get(), "T_", 0x3000, CData::RegisterNew);
    const SPC_SOneToolOffer offerCopy(offer);
    const std::vector<Seen> original = Objects(offer);
    const std::vector<Seen> duplicate = Objects(offerCopy);
    ASSERT_EQ(original.size(), duplicate.size());
    for (std::size_t i = 0; i < original.size(); ++i) EXPECT_EQ(original[i].handle, duplicate[i].handle);
}

TEST_F(ProxyTest, ARecordMovedOntoAChannelsDataAreaStartsAtItsFirstDataByte) {
    SPC_SChannelBuffer channel(daten.get(), "Ch1_", 0x7000, CData::RegisterNew);
    EXPECT_STREQ(channel.CH_CLIENT_READY_BYTE_.Name(), "Ch1_CH_CLIENT_READY_BYTE_");
    EXPECT_EQ(channel.CH_CLIENT_READY_BYTE_.getAddress(), 0x7008u);
    SPC_SCncGetInfoRequest request(daten.get(), "Req_", 0, CData::RegisterNew);
    request.setAddress(static_cast<std::int32_t>(channel.CH_DATA_.getAddress()));
    EXPECT_EQ(request.mbWantTerminal_.getAddress(), 0x7000u + 32);
    request.mbTriggerNMI_.SetValue(9, 0, 255);
    EXPECT_EQ(channel.CH_DATA_.GetValue(1, 255), 9);
}

TEST_F(ProxyTest, ARefusedNameLeavesTheSecondProxyUnboundAndHalts) {
    SPC_Zeit_Struct first(daten.get(), "Clock_", 0x100, CData::RegisterNew);
    SPC_Zeit_Struct second(daten.get(), "Clock_", 0x200, CData::RegisterNew);
    ASSERT_EQ(host().halts.size(), 4u);
    EXPECT_EQ(host().halts[0].text, "Handle [Clock_Zt_Stunde_] already exists");
    EXPECT_FALSE(second.Zt_Stunde_.Bound());
    EXPECT_STREQ(second.Zt_Stunde_.Name(), "Clock_Zt_Stunde_");
    EXPECT_EQ(daten->FindRegistered("Clock_Zt_Stunde_"), &first.Zt_Stunde_);
}

}  // namespace
