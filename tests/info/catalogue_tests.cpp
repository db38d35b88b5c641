// The whole catalogue in both profile modes, as the host reads it back, and
// its ordering. Compiled into the programs with and without the parser
// library: target flag 2 follows the library's presence.
#include "InfoTestSupport.h"

#include "info/ProfileCatalogue.h"

#include <initializer_list>

namespace infotest {
namespace {

constexpr wchar_t TTS[] = L"video/vnd.dlna.mpeg-tts";
constexpr wchar_t MPEG[] = L"video/mpeg";
constexpr wchar_t MPHL[] = L"video/x-mp2t-mphl-188";

struct SRow {
    const wchar_t* name;
    const wchar_t* mime;
    bool wantsTimeSeek;
    const wchar_t* alternative;
};

std::vector<STarget> Expected(std::initializer_list<std::initializer_list<SRow>> blocks)
{
    std::vector<STarget> rows;
    for (const auto& block : blocks) {
        for (const SRow& row : block)
            rows.push_back(Target(row.name, row.mime, row.wantsTimeSeek && InfoParserPresent(), row.alternative));
    }
    return rows;
}

const std::initializer_list<SRow> MPEG2_ROWS = {
    {L"MPEG_TS_SD_NA", TTS, true, L""},     {L"MPEG_TS_SD_NA_T", TTS, true, L""}, {L"MPEG_TS_SD_NA_ISO", MPEG, true, L""},
    {L"MPEG_TS_HD_NA", TTS, true, L""},     {L"MPEG_TS_HD_NA_T", TTS, true, L""}, {L"MPEG_TS_HD_NA_ISO", MPEG, true, L""},
    {L"MPEG_TS_SD_KO", TTS, true, L""},     {L"MPEG_TS_SD_KO_T", TTS, true, L""}, {L"MPEG_TS_SD_KO_ISO", MPEG, true, L""},
    {L"MPEG_TS_HD_KO", TTS, true, L""},     {L"MPEG_TS_HD_KO_T", TTS, true, L""}, {L"MPEG_TS_HD_KO_ISO", MPEG, true, L""},
    {L"MPEG_TS_SD_EU", TTS, true, L""},     {L"MPEG_TS_SD_EU_T", TTS, true, L""}, {L"MPEG_TS_SD_EU_ISO", MPEG, true, L""},
};
const std::initializer_list<SRow> AVC_DLNA_ROWS = {
    {L"AVC_TS_HD_60_AC3", TTS, true, L""}, {L"AVC_TS_HD_60_AC3_ISO", MPEG, true, L""},
    {L"AVC_TS_HD_50_AC3", TTS, true, L""}, {L"AVC_TS_HD_50_AC3_ISO", MPEG, true, L""},
    {L"AVC_TS_HD_24_AC3", TTS, true, L""}, {L"AVC_TS_HD_24_AC3_ISO", MPEG, true, L""},
};
const std::initializer_list<SRow> AVC_VENDOR_ROWS = {
    {L"", TTS, true, L"AVC_TS_HD_60_AC3"}, {L"", TTS, true, L"AVC_TS_HD_60_AC3_T"}, {L"", MPEG, true, L"AVC_TS_HD_60_AC3_ISO"},
    {L"", TTS, true, L"AVC_TS_HD_50_AC3"}, {L"", TTS, true, L"AVC_TS_HD_50_AC3_T"}, {L"", MPEG, true, L"AVC_TS_HD_50_AC3_ISO"},
    {L"", TTS, true, L"AVC_TS_HD_24_AC3"}, {L"", TTS, true, L"AVC_TS_HD_24_AC3_T"}, {L"", MPEG, true, L"AVC_TS_HD_24_AC3_ISO"},
};
const std::initializer_list<SRow> L2_ROWS = {
    {L"MPEG_TS_HD_60_L2_ISO", MPEG, true, L""},
    {L"MPEG_TS_HD_50_L2_ISO", MPEG, true, L""},
};
const std::initializer_list<SRow> UNNAMED_ROWS = {
    {L"", MPHL, true, L""}, {L"", TTS, true, L""}, {L"", MPEG, true, L""}, {L"", TTS, false, L""}, {L"", MPEG, false, L""},
};

std::vector<STarget> ReadCatalogue(IVskMediaTranscoderInfo* info)
{
    SAFEARRAY* list = nullptr;
    EXPECT_EQ(info->GetSupportedProfiles(&list), S_OK);
    return TakeTargets(list);
}

class Catalogue : public CInfoTest {};

TEST_F(Catalogue, FreshObjectListsTheDlnaCatalogueInOrder)
{
    const auto info = CreateInfo();
    const std::vector<STarget> expected = Expected({MPEG2_ROWS, AVC_DLNA_ROWS, L2_ROWS, UNNAMED_ROWS});
    ASSERT_EQ(expected.size(), 28u);
    EXPECT_EQ(ReadCatalogue(info), expected);
}

TEST_F(Catalogue, VendorModeMovesTheAvcEntriesBehindTheNamedOnes)
{
    const auto info = CreateVendorInfo();
    const std::vector<STarget> expected = Expected({MPEG2_ROWS, L2_ROWS, AVC_VENDOR_ROWS, UNNAMED_ROWS});
    ASSERT_EQ(expected.size(), 31u);
    EXPECT_EQ(ReadCatalogue(info), expected);
}

TEST_F(Catalogue, TimeSeekFlagFollowsTheParserLibraryForEveryEntryButTheLastTwo)
{
    for (const bool vendor : {false, true}) {
        const auto info = vendor ? CreateVendorInfo() : CreateInfo();
        const std::vector<STarget> targets = ReadCatalogue(info);
        ASSERT_GE(targets.size(), 2u);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const bool lastTwo = i + 2 >= targets.size();
            EXPECT_EQ(targets[i].flag2, (InfoParserPresent() && !lastTwo) ? VARIANT_TRUE : VARIANT_FALSE)
                << "vendor " << vendor << ", entry " << i;
            EXPECT_EQ(targets[i].flag1, VARIANT_FALSE);
            EXPECT_EQ(targets[i].flag3, VARIANT_TRUE);
        }
    }
}

TEST_F(Catalogue, EveryCallBuildsNewDescriptionsThroughTheHostClass)
{
    const auto info = CreateInfo();
    EXPECT_EQ(ReadCatalogue(info).size(), 28u);
    EXPECT_EQ(HostKitCreatedTargets().size(), 28u);
    EXPECT_EQ(ReadCatalogue(info).size(), 28u);
    EXPECT_EQ(HostKitCreatedTargets().size(), 56u);
}

TEST_F(Catalogue, VendorEntriesOnDescriptionsWithoutExtensionCarryNoAlternativeName)
{
    HostKitSetTargetInitializer([](CHostTargetDescription& target) { target.SetOffersExtension(false); });
    const auto info = CreateVendorInfo();
    const std::vector<STarget> targets = ReadCatalogue(info);
    ASSERT_EQ(targets.size(), 31u);
    for (const STarget& target : targets)
        EXPECT_TRUE(target.alternativeName.empty());
}

TEST_F(Catalogue, RefusedAlternativeNameLeavesTheEntryInTheList)
{
    HostKitSetTargetInitializer([](CHostTargetDescription& target) {
        target.FailAlways(IID_IHostTargetDescriptionExt, 4, E_ACCESSDENIED);
    });
    const auto info = CreateVendorInfo();
    const std::vector<STarget> targets = ReadCatalogue(info);
    ASSERT_EQ(targets.size(), 31u);
    EXPECT_EQ(targets[17], Target(L"", TTS, InfoParserPresent()));
}

// ---------------------------------------------------------------------------
// Ordering of any list: four groups, each keeping its order.

class TargetOrdering : public CInfoTest {};

TEST_F(TargetOrdering, IsAStablePartitionByNameAndFlagOne)
{
    struct SEntry {
        const wchar_t* name;
        VARIANT_BOOL flag1;
    };
    // Flag values other than -1 do not count as TRUE.
    const SEntry input[] = {
        {L"", VARIANT_TRUE},  {L"A", VARIANT_FALSE}, {L"", 1},         {L"B", VARIANT_TRUE},
        {L"C", 1},            {L"", VARIANT_FALSE},  {L"D", VARIANT_TRUE}, {L"", VARIANT_TRUE},
    };
    info::CResultList list;
    list.Create(0);
    std::vector<CComPtr<CComObject<CHostTargetDescription>>> targets;
    for (const SEntry& entry : input) {
        STarget values = Target(entry.name, MPEG, false);
        values.flag1 = entry.flag1;
        // Tell entries of one group apart by their MIME type.
        values.mimeType = std::to_wstring(targets.size());
        targets.push_back(MakeTarget(values));
        info::AppendToList(list, targets.back()->GetUnknown());
    }

    info::CResultList ordered = info::OrderTargets(list);
    std::vector<std::wstring> order;
    for (const STarget& target : TakeTargets(ordered.Detach()))
        order.push_back(target.mimeType);
    EXPECT_EQ(order, (std::vector<std::wstring>{L"1", L"4", L"3", L"6", L"2", L"5", L"0", L"7"}));

    // The input is the caller's and stays as it was.
    ASSERT_EQ(list.GetCount(), 8u);
    for (ULONG i = 0; i < 8; ++i)
        EXPECT_EQ(info::ListObjectAt(list, i), targets[i]->GetUnknown());
}

TEST_F(TargetOrdering, EmptyListGivesAnEmptyArray)
{
    info::CResultList list;
    list.Create(0);
    info::CResultList ordered = info::OrderTargets(list);
    EXPECT_TRUE(TakeTargets(ordered.Detach()).empty());
}

TEST_F(TargetOrdering, FailingGetterAbandonsTheOrdering)
{
    info::CResultList list;
    list.Create(0);
    auto good = MakeTarget(Target(L"A", MPEG, false));
    auto bad = MakeTarget(Target(L"B", MPEG, false));
    bad->FailAlways(IID_IHostTargetDescription, 7, E_ACCESSDENIED);
    info::AppendToList(list, good->GetUnknown());
    info::AppendToList(list, bad->GetUnknown());
    try {
        (void)info::OrderTargets(list);
        ADD_FAILURE() << "expected a host failure";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_ACCESSDENIED);
    }
}

}  // namespace
}  // namespace infotest
