// Which targets fit one source, and whether a requested target does. Compiled
// into the programs with and without the parser library: target flag 2 of
// the entries follows its presence.
#include "InfoTestSupport.h"

#include "vsktest/TsStreamBuilder.h"
#include "vsktest/WideText.h"

#include <cstdint>

namespace infotest {
namespace {

constexpr wchar_t TTS[] = L"video/vnd.dlna.mpeg-tts";
constexpr wchar_t MPEG[] = L"video/mpeg";
constexpr wchar_t MPHL[] = L"video/x-mp2t-mphl-188";

constexpr std::size_t UNIT_188 = vsktest::TS_UNIT_SIZE_188;
constexpr std::size_t UNIT_192 = vsktest::TS_UNIT_SIZE_192;

// What the list says: time seeking is offered where wanted only when the
// parser library is there.
const bool SEEK = InfoParserPresent();

SAFEARRAY* const UNTOUCHED = reinterpret_cast<SAFEARRAY*>(static_cast<std::uintptr_t>(0x5A5A5A50));

std::vector<STarget> ReadSourceProfiles(IVskMediaTranscoderInfo* info, const VARIANT& source)
{
    SAFEARRAY* list = nullptr;
    EXPECT_EQ(info->GetSourceProfiles(source, &list), S_OK);
    return TakeTargets(list);
}

class SourceProfiles : public CInfoTest {
protected:
    vsktest::CTempDir m_dir;
};

TEST_F(SourceProfiles, PathSourceGetsOneUnnamedEntryByPacketSize)
{
    struct SCase {
        const char* name;
        std::size_t unit;
        std::vector<STarget> expected;
    };
    const SCase cases[] = {
        {"stamped.m2ts", UNIT_192, {Target(L"", TTS, false)}},
        {"plain.mpg", UNIT_188, {Target(L"", MPEG, false)}},
        {"UPPER.M2T", UNIT_188, {Target(L"", MPEG, false)}},
        {"stamped.tts", UNIT_192, {Target(L"", TTS, false)}},
        {"other.mp4", UNIT_188, {}},
        {"other.ts", UNIT_192, {}},
    };
    const auto info = CreateInfo();
    for (const SCase& c : cases) {
        const std::wstring path = WriteRecording(m_dir, c.name, c.unit);
        EXPECT_EQ(ReadSourceProfiles(info, PathSource(path)), c.expected) << c.name;
    }
}

TEST_F(SourceProfiles, PathSourceThatIsNoRecordingGetsAnEmptyList)
{
    const auto info = CreateInfo();
    const std::wstring text = vsktest::WideFromPath(m_dir.WriteFile("notes.m2ts", std::string(600, 'x')));
    EXPECT_TRUE(ReadSourceProfiles(info, PathSource(text)).empty());
    EXPECT_TRUE(ReadSourceProfiles(info, PathSource(vsktest::WideFromPath(m_dir / "missing.m2ts"))).empty());
    EXPECT_TRUE(ReadSourceProfiles(info, PathSource(L"")).empty());
}

TEST_F(SourceProfiles, MediaItemEntriesFollowTheSourceProfileCode)
{
    struct SCase {
        const char* what;
        SItemFacts facts;
        std::size_t unit;
        std::vector<STarget> dlna;
        std::vector<STarget> vendor;
    };
    SItemFacts code6;
    code6.aspect = 1;
    SItemFacts code27 = Code26Facts();
    code27.packetFormat = HOST_PACKET_FORMAT_188;
    SItemFacts code35 = Code34Facts();
    code35.frameRate = 25.0;
    const std::vector<STarget> code18 = {Target(L"MPEG_TS_HD_KO_ISO", MPEG, SEEK), Target(L"MPEG_TS_HD_NA_ISO", MPEG, SEEK)};
    const std::vector<STarget> code34 = {Target(L"MPEG_TS_HD_60_L2_ISO", MPEG, SEEK), Target(L"", MPHL, SEEK)};
    const SCase cases[] = {
        {"code 18", SItemFacts(), UNIT_188, code18, code18},
        {"code 6", code6, UNIT_188, {Target(L"MPEG_TS_HD_NA_ISO", MPEG, SEEK)}, {Target(L"MPEG_TS_HD_NA_ISO", MPEG, SEEK)}},
        {"code 34", Code34Facts(), UNIT_188, code34, code34},
        {"code 35",
         code35,
         UNIT_188,
         {Target(L"MPEG_TS_HD_50_L2_ISO", MPEG, SEEK), Target(L"", MPHL, SEEK)},
         {Target(L"MPEG_TS_HD_50_L2_ISO", MPEG, SEEK), Target(L"", MPHL, SEEK)}},
        {"code 26",
         Code26Facts(),
         UNIT_192,
         {Target(L"AVC_TS_HD_60_AC3", TTS, SEEK)},
         {Target(L"", TTS, SEEK, L"AVC_TS_HD_60_AC3")}},
        {"code 27",
         code27,
         UNIT_188,
         {Target(L"AVC_TS_HD_60_AC3_ISO", MPEG, SEEK)},
         {Target(L"", MPEG, SEEK, L"AVC_TS_HD_60_AC3_ISO")}},
    };
    const auto dlna = CreateInfo();
    const auto vendor = CreateVendorInfo();
    for (const SCase& c : cases) {
        const std::wstring path = WriteRecording(m_dir, "item.m2ts", c.unit);
        const auto item = MakeItem(c.facts, path);
        EXPECT_EQ(ReadSourceProfiles(dlna, ObjectSource(item->GetUnknown())), c.dlna) << c.what;
        EXPECT_EQ(ReadSourceProfiles(vendor, ObjectSource(item->GetUnknown())), c.vendor) << c.what;
    }
}

TEST_F(SourceProfiles, UnplaceableItemGetsTheFallbackEntry)
{
    struct SCase {
        const char* what;
        LONG duration;
        LONG audioStreams;
        std::size_t unit;
        STarget expected;
    };
    const SCase cases[] = {
        // Too many audio streams: classified, but no family.
        {"five audio streams", 600000, 5, UNIT_188, Target(L"", MPEG, SEEK)},
        {"five audio streams, 192-byte packets", 600000, 5, UNIT_192, Target(L"", TTS, SEEK)},
        // Unknown duration: not classifiable, and nothing to seek in.
        {"unknown duration", -1, 1, UNIT_188, Target(L"", MPEG, false)},
    };
    const auto info = CreateInfo();
    for (const SCase& c : cases) {
        SItemFacts facts;
        facts.duration = c.duration;
        facts.audioStreamCount = c.audioStreams;
        const auto item = MakeItem(facts, WriteRecording(m_dir, "fallback.m2ts", c.unit));
        EXPECT_EQ(ReadSourceProfiles(info, ObjectSource(item->GetUnknown())), std::vector<STarget>{c.expected}) << c.what;
    }
}

TEST_F(SourceProfiles, UnknownSizeIsMeasuredAndWrittenBackBeforeClassifying)
{
    const auto info = CreateInfo();
    SItemFacts facts;
    facts.size = -1;
    const auto item = MakeItem(facts, WriteRecordingOfSize(m_dir, "measured.m2ts", UNIT_188, 1000000));
    // With the size unknown the item could not be classified; measured, it is.
    EXPECT_EQ(ReadSourceProfiles(info, ObjectSource(item->GetUnknown())).size(), 2u);
    EXPECT_EQ(item->m_size, 1000000);
    EXPECT_EQ(item->CallCount(IID_IHostMediaItem, 9), 1u);

    // A known size is left alone.
    item->m_size = 1234;
    EXPECT_EQ(ReadSourceProfiles(info, ObjectSource(item->GetUnknown())).size(), 2u);
    EXPECT_EQ(item->m_size, 1234);
    EXPECT_EQ(item->CallCount(IID_IHostMediaItem, 9), 1u);
}

TEST_F(SourceProfiles, DispatchSourceIsTreatedAsAnObject)
{
    const auto info = CreateInfo();
    const auto item = MakeItem(SItemFacts(), WriteRecording(m_dir, "dispatch.m2ts", UNIT_188));
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_DISPATCH;
    // Only QueryInterface is called on it, which every interface offers.
    source.pdispVal = reinterpret_cast<IDispatch*>(item->GetUnknown());
    EXPECT_EQ(ReadSourceProfiles(info, source).size(), 2u);
}

TEST_F(SourceProfiles, RefusedSourcesReturnTheirFailureAndNoList)
{
    const auto info = CreateInfo();
    const std::wstring recording = WriteRecording(m_dir, "ok.m2ts", UNIT_188);
    const std::wstring text = vsktest::WideFromPath(m_dir.WriteFile("text.m2ts", std::string(600, 'x')));

    struct SCase {
        const char* what;
        CComVariant source;
        HRESULT expected;
    };
    const auto notAnItem = CreateHostTargetDescription();
    const auto noPacketStructure = MakeItem(SItemFacts(), text);
    const auto noPath = MakeItem(SItemFacts(), L"");
    noPath->m_path.Clear();
    const auto failingSize = MakeItem(SItemFacts(), recording);
    failingSize->FailAlways(IID_IHostMediaItem, 10, E_ACCESSDENIED);
    const auto failingDuration = MakeItem(SItemFacts(), recording);
    failingDuration->FailAlways(IID_IHostMediaItem, 14, E_UNEXPECTED);
    CComVariant nullObject;
    nullObject.vt = VT_UNKNOWN;
    nullObject.punkVal = nullptr;

    const SCase cases[] = {
        {"not a media item", ObjectSource(notAnItem->GetUnknown()), E_NOINTERFACE},
        {"no packet structure", ObjectSource(noPacketStructure->GetUnknown()), E_INVALIDARG},
        {"no path", ObjectSource(noPath->GetUnknown()), E_INVALIDARG},
        {"size getter fails", ObjectSource(failingSize->GetUnknown()), E_ACCESSDENIED},
        {"duration getter fails", ObjectSource(failingDuration->GetUnknown()), E_UNEXPECTED},
        {"null object", nullObject, E_INVALIDARG},
        {"wrong source type", CComVariant(42), E_INVALIDARG},
    };
    for (const SCase& c : cases) {
        SAFEARRAY* list = UNTOUCHED;
        EXPECT_EQ(info->GetSourceProfiles(c.source, &list), c.expected) << c.what;
        EXPECT_EQ(list, UNTOUCHED) << c.what;
    }
    EXPECT_EQ(info->GetSourceProfiles(PathSource(recording), nullptr), E_POINTER);
    // The type is tested before the out-pointer.
    EXPECT_EQ(info->GetSourceProfiles(CComVariant(42), nullptr), E_INVALIDARG);
}

// ---------------------------------------------------------------------------

class ProfileMatching : public CInfoTest {
protected:
    vsktest::CTempDir m_dir;
};

TEST_F(ProfileMatching, ComparesNamesExactlyMimeTypesWithoutCaseAndAllFlags)
{
    const auto info = CreateInfo();
    const auto item = MakeItem(SItemFacts(), WriteRecording(m_dir, "code18.m2ts", UNIT_188));
    const CComVariant source = ObjectSource(item->GetUnknown());

    STarget flag3False = Target(L"MPEG_TS_HD_KO_ISO", MPEG, SEEK);
    flag3False.flag3 = VARIANT_FALSE;
    STarget flag1True = Target(L"MPEG_TS_HD_KO_ISO", MPEG, SEEK);
    flag1True.flag1 = VARIANT_TRUE;
    struct SCase {
        const char* what;
        STarget requested;
        bool offersExtension;
        VARIANT_BOOL expected;
    };
    const SCase cases[] = {
        {"first entry", Target(L"MPEG_TS_HD_KO_ISO", MPEG, SEEK), true, VARIANT_TRUE},
        {"second entry", Target(L"MPEG_TS_HD_NA_ISO", MPEG, SEEK), true, VARIANT_TRUE},
        {"MIME type in capitals", Target(L"MPEG_TS_HD_KO_ISO", L"VIDEO/MPEG", SEEK), true, VARIANT_TRUE},
        {"profile name in lower case", Target(L"mpeg_ts_hd_ko_iso", MPEG, SEEK), true, VARIANT_FALSE},
        {"profile not offered", Target(L"MPEG_TS_SD_NA_ISO", MPEG, SEEK), true, VARIANT_FALSE},
        {"other MIME type", Target(L"MPEG_TS_HD_KO_ISO", TTS, SEEK), true, VARIANT_FALSE},
        {"time seeking the entries do not offer", Target(L"MPEG_TS_HD_KO_ISO", MPEG, !SEEK), true, VARIANT_FALSE},
        {"flag 3 FALSE", flag3False, true, VARIANT_FALSE},
        {"flag 1 TRUE", flag1True, true, VARIANT_FALSE},
        // The entries offer the extension with no name: a named request differs.
        {"alternative name asked for", Target(L"MPEG_TS_HD_KO_ISO", MPEG, SEEK, L"X"), true, VARIANT_FALSE},
        {"request without extension", Target(L"MPEG_TS_HD_KO_ISO", MPEG, SEEK), false, VARIANT_TRUE},
    };
    for (const SCase& c : cases) {
        const auto requested = MakeTarget(c.requested);
        requested->SetOffersExtension(c.offersExtension);
        VARIANT_BOOL answer = 7;
        EXPECT_EQ(info->IsProfileSupported(source, requested, &answer), S_OK) << c.what;
        EXPECT_EQ(answer, c.expected) << c.what;
    }
}

TEST_F(ProfileMatching, VendorEntriesMatchByAlternativeName)
{
    const auto info = CreateVendorInfo();
    const auto item = MakeItem(Code26Facts(), WriteRecording(m_dir, "code26.m2ts", UNIT_192));
    const CComVariant source = ObjectSource(item->GetUnknown());
    struct SCase {
        STarget requested;
        VARIANT_BOOL expected;
    };
    const SCase cases[] = {
        {Target(L"", TTS, SEEK, L"AVC_TS_HD_60_AC3"), VARIANT_TRUE},
        {Target(L"", TTS, SEEK, L"AVC_TS_HD_60_AC3_T"), VARIANT_FALSE},
        {Target(L"", TTS, SEEK, L""), VARIANT_FALSE},
        {Target(L"AVC_TS_HD_60_AC3", TTS, SEEK), VARIANT_FALSE},
    };
    for (const SCase& c : cases) {
        VARIANT_BOOL answer = 7;
        EXPECT_EQ(info->IsProfileSupported(source, MakeTarget(c.requested), &answer), S_OK);
        EXPECT_EQ(answer, c.expected) << ::testing::PrintToString(c.requested);
    }
    // A request that cannot carry an alternative name does not match an entry
    // that has one.
    const auto plain = MakeTarget(Target(L"", TTS, SEEK));
    plain->SetOffersExtension(false);
    VARIANT_BOOL answer = 7;
    EXPECT_EQ(info->IsProfileSupported(source, plain, &answer), S_OK);
    EXPECT_EQ(answer, VARIANT_FALSE);
}

TEST_F(ProfileMatching, PathSourceMatchesItsUnnamedEntry)
{
    const auto info = CreateInfo();
    const CComVariant source = PathSource(WriteRecording(m_dir, "plain.m2ts", UNIT_188));
    VARIANT_BOOL answer = 7;
    EXPECT_EQ(info->IsProfileSupported(source, MakeTarget(Target(L"", MPEG, false)), &answer), S_OK);
    EXPECT_EQ(answer, VARIANT_TRUE);
    EXPECT_EQ(info->IsProfileSupported(source, MakeTarget(Target(L"", TTS, false)), &answer), S_OK);
    EXPECT_EQ(answer, VARIANT_FALSE);
    // No entries at all: the answer is FALSE, not a failure.
    const CComVariant other = PathSource(WriteRecording(m_dir, "plain.mp4", UNIT_188));
    answer = 7;
    EXPECT_EQ(info->IsProfileSupported(other, MakeTarget(Target(L"", MPEG, false)), &answer), S_OK);
    EXPECT_EQ(answer, VARIANT_FALSE);
}

TEST_F(ProfileMatching, RefusalsLeaveTheAnswerUnwritten)
{
    const auto info = CreateInfo();
    const auto target = MakeTarget(Target(L"", MPEG, false));
    const auto failingSize = MakeItem(SItemFacts(), WriteRecording(m_dir, "size.m2ts", UNIT_188));
    failingSize->FailAlways(IID_IHostMediaItem, 10, E_ACCESSDENIED);
    const CComVariant source = PathSource(WriteRecording(m_dir, "plain.m2ts", UNIT_188));

    VARIANT_BOOL answer = 7;
    EXPECT_EQ(info->IsProfileSupported(CComVariant(42), target, &answer), E_INVALIDARG);
    EXPECT_EQ(answer, 7);
    EXPECT_EQ(info->IsProfileSupported(ObjectSource(failingSize->GetUnknown()), target, &answer), E_ACCESSDENIED);
    EXPECT_EQ(answer, 7);
    EXPECT_EQ(info->IsProfileSupported(source, nullptr, &answer), E_POINTER);
    EXPECT_EQ(answer, 7);
    EXPECT_EQ(info->IsProfileSupported(source, target, nullptr), E_POINTER);

    // A requested target whose getter fails makes the comparison fail.
    target->FailAlways(IID_IHostTargetDescription, 3, E_UNEXPECTED);
    EXPECT_EQ(info->IsProfileSupported(source, target, &answer), E_UNEXPECTED);
    EXPECT_EQ(answer, 7);
}

}  // namespace
}  // namespace infotest
