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
    std::vector<std::uint8_t> Bytes(std::uint32_t address, std::size_t length) {
        const std::uint8_t* at = sim().Image(address);
        return std::vector<std::uint8_t>(at, at + length);
    }
};

TEST_F(ProxyTest, NamesAddressesLengthsAndTypesFollowTheLayout) {
    const SPC_Seq_Status_Typ status(daten.get(), "", 0x1000, CData::RegisterNew);
    const std::vector<Seen> seen = Objects(status);
    EXPECT_EQ(seen.size(), SPC_Seq_Status_Typ::Layout().objects);
    EXPECT_EQ(seen[0].name, "SqSt_Cnt_");
    EXPECT_EQ(status.SqSt_Cnt_.getTabSize(), 64);
    EXPECT_EQ(status.SqSt_Cnt_.DatenTyp(), DInfo::INTEGER);
    EXPECT_EQ(status.SqSt_GruenText_.getAddress(), 0x1000u + 140);
    // Arrays of nested structures come after every other member.
    const auto element = std::find_if(seen.begin(), seen.end(),
                                      [](const Seen& s) { return s.name == "SqSt_XYsoll_2_Yvalue_"; });
    ASSERT_NE(element, seen.end());
    EXPECT_EQ(element->address, 0x1000u + 360 + 2 * 8 + 4);
    const auto mpos = std::find_if(seen.begin(), seen.end(),
                                   [](const Seen& s) { return s.name == "SqSt_Mpos_Xvalue_"; });
    EXPECT_LT(mpos, std::find_if(seen.begin(), seen.end(),
                                 [](const Seen& s) { return s.name == "SqSt_XYsoll_0_Xvalue_"; }));
    // Handles follow the build order.
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_EQ(seen[i].handle, seen[i - 1].handle + 1);
    EXPECT_EQ(status.getAddress(), 0x1000u);
    EXPECT_EQ(SPC_Seq_Status_Typ::mMotSize, 628u);
    EXPECT_EQ(sizeof(SPC_Zeit_Struct::mMotSize), 4u);
    EXPECT_TRUE(host().halts.empty());
}

TEST_F(ProxyTest, ValuesMoveExactlyTheControllersBytesOnBothSidesOfTheSwapLimit) {
    const std::uint32_t below = 0x2E5E8 - 8;
    const std::uint32_t above = 0x2E5E8;
    SPC_Datum_Struct low(daten.get(), "Low_", below, CData::RegisterNew);
    SPC_Datum_Struct high(daten.get(), "High_", above, CData::RegisterNew);
    PutBytes(below, {0x05, 0x0B, 0xE8, 0x07});
    PutBytes(above, {0x05, 0x0B, 0x07, 0xE8});
    EXPECT_EQ(low.Dt_Jahr_.GetValue(0, 255), 2024);
    EXPECT_EQ(high.Dt_Jahr_.GetValue(0, 255), 2024);
    EXPECT_EQ(high.Dt_Monat_.GetValue(0, 255), 11);
    high.Dt_Jahr_.SetValue(0x1234, 0, 255);
    low.Dt_Jahr_.SetValue(0x1234, 0, 255);
    EXPECT_EQ(Bytes(above, 4), (std::vector<std::uint8_t>{0x05, 0x0B, 0x12, 0x34}));
    EXPECT_EQ(Bytes(below, 4), (std::vector<std::uint8_t>{0x05, 0x0B, 0x34, 0x12}));
    // Through the handle, as a host dialog reads it.
    std::int32_t value = 0;
    EXPECT_EQ(daten->GetValue(daten->GetHandles()->NameToHandle("High_Dt_Jahr_"), value), 0);
    EXPECT_EQ(value, 0x1234);

    SPC_SCncGetInfoRequest request(daten.get(), "Info_", 0x3000, CData::RegisterNew);
    request.mszTermCmdBuf_.SetString("STATUS", 0, 255);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sim().Image(0x3002))), "STATUS");
    PutBytes(0x3002, {'R', 'U', 'N', 0});
    EXPECT_STREQ(request.mszTermCmdBuf_.GetString(0, 255), "RUN");
}

TEST_F(ProxyTest, UnionAlternativesShareTheUnionsAddress) {
    UPC_USoftwareDownloadRequest download(daten.get(), "Dl_", 0x4000, CData::RegisterNew);
    EXPECT_EQ(download.FirstBlock_.getAddress(), 0x4000u);
    EXPECT_EQ(download.DataStream_.getAddress(), 0x4000u);
    download.FirstBlock_.nBlockNo_.SetValue(77, 0, 255);
    EXPECT_EQ(download.DataStream_.nReqBlockNo_.GetValue(0, 255), 77);
    EXPECT_STREQ(download.DataStream_.nReqBlockNo_.Name(), "Dl_DataStream_nReqBlockNo_");
    // An array of unions strides by the largest alternative.
    EXPECT_EQ(UPC_GraphicQueBlock_Typ::Layout().extent, 212u);
}

TEST_F(ProxyTest, PointerFollowsTheControllerPointerTranslatedByTheMemoryBase) {
    SPC_ALFu_P_Malloc malloc(daten.get(), "", 0x5000, CData::RegisterNew);
    CDrvNumber* value = malloc.ALFu_Malc_PtrPTR_.pointee();
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value->Name(), "ALFu_Malc_Ptr_");
    EXPECT_STREQ(malloc.ALFu_Malc_PtrPTR_.Name(), "ALFu_Malc_PtrPTR_");
    EXPECT_EQ(malloc.ALFu_Malc_PtrPTR_.getAddress(), 0x5004u);
    EXPECT_EQ(value->getAddress(), 0u);
    EXPECT_EQ(value->DatenLaenge(), 4);
    EXPECT_EQ(value->DatenTyp(), DInfo::LONGINT);
    // The controller's pointer 0x00400100 is the library address 0x2E5E8 + 0x100.
    sim().SetMemoryBase(0x00400000);
    PutBytes(0x5004, {0x00, 0x01, 0x40, 0x00});
    EXPECT_EQ(malloc.ALFu_Malc_PtrPTR_.GetValue(0, 255), 0x2E5E8 + 0x100);
    EXPECT_EQ(value->getAddress(), 0x2E5E8u + 0x100);
    PutBytes(0x2E5E8 + 0x100, {0x00, 0x00, 0x01, 0x02});
    EXPECT_EQ(value->GetValue(0, 255), 0x0102);
    // Moving the structure moves the pointer, not the value behind it.
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
