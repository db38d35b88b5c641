// Opening a source: which path sources and host media items a converter
// accepts for which targets, how it refuses the rest, and what Open leaves
// behind. This program runs without the parser library, so accepted table
// rows need target flag 2 not TRUE.
#include "ConverterTesting.h"

#include "platform/file.h"
#include "source/Classifier.h"
#include "vsktest/ProgramStreamBuilder.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace transcodertest;

constexpr VARIANT_BOOL T = VARIANT_TRUE;
constexpr VARIANT_BOOL F = VARIANT_FALSE;
constexpr VARIANT_BOOL ONE = 1;  // neither TRUE nor FALSE

const std::wstring MPEG = L"video/mpeg";
const std::wstring TTS = L"video/vnd.dlna.mpeg-tts";
const std::wstring MPHL = L"video/x-mp2t-mphl-188";

bool IsOpen(IVskMediaTranscoder* converter)
{
    LONGLONG size = 0;
    return converter->GetSize(&size) == S_OK;
}

class OpenTest : public ::testing::Test {
protected:
    HRESULT OpenPath(const std::filesystem::path& file, IHostTargetDescription* target)
    {
        return m_converter->Open(PathSource(file), target);
    }
    HRESULT OpenItem(IHostMediaItem* item, IHostTargetDescription* target)
    {
        return m_converter->Open(ItemSource(item), target);
    }
    HRESULT OpenCode(int code, IHostTargetDescription* target)
    {
        CComPtr<CComObject<CHostMediaItem>> item = MakeMediaItem(code, m_stream.path);
        return OpenItem(item, target);
    }

    vsktest::CTempDir m_dir;
    SStream m_stream = WritePlainStream(m_dir / "recording.m2ts", 12);
    CComPtr<IVskMediaTranscoder> m_converter = NewConverter();
};

TEST_F(OpenTest, PathSourceNeedsAListedExtensionInAnyCase)
{
    const struct {
        const char* name;
        HRESULT expected;
    } cases[] = {
        {"a.m2ts", S_OK}, {"b.M2TS", S_OK}, {"c.mpg", S_OK},  {"d.MpG", S_OK},
        {"e.iso", S_OK},  {"f.zts", S_OK},  {"g.TTS", S_OK},  {"h.m2t", S_OK},
        {"i.ts", E_INVALIDARG}, {"j.m2ts.bak", E_INVALIDARG}, {"k.mp4", E_INVALIDARG}, {"m2ts", E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = m_dir.WriteFile(c.name, m_stream.bytes);
        EXPECT_EQ(OpenPath(file, PlainTarget(TTS)), c.expected);
        EXPECT_EQ(IsOpen(m_converter), c.expected == S_OK);
    }
}

TEST_F(OpenTest, PathSourceNeedsRecognisablePackets)
{
    const SStream stamped = WriteStampedStream(m_dir / "stamped.m2ts", 4);

    // A program stream pack header wins even over 188-spaced sync bytes after it.
    vsktest::CProgramStreamBuilder pack;
    pack.AddPack({});
    Bytes packFirst = pack.Bytes();
    packFirst.resize(20, 0x00);
    packFirst.insert(packFirst.end(), m_stream.bytes.begin(), m_stream.bytes.end());

    // A short file is probed on its own length: three sync bytes 188 apart
    // fit in 377 bytes, not in 376.
    Bytes shortEnough(m_stream.bytes.begin(), m_stream.bytes.begin() + 377);
    Bytes tooShort(m_stream.bytes.begin(), m_stream.bytes.begin() + 376);

    const struct {
        const char* name;
        Bytes bytes;
        HRESULT expected;
    } cases[] = {
        {"plain.m2ts", m_stream.bytes, S_OK},
        {"stamped.tts", stamped.bytes, S_OK},
        {"pack.mpg", packFirst, E_INVALIDARG},
        {"short.m2ts", shortEnough, S_OK},
        {"tooshort.m2ts", tooShort, E_INVALIDARG},
        {"empty.m2ts", {}, E_INVALIDARG},
        {"noise.m2ts", Bytes(4096, 0x11), E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = m_dir.WriteFile(c.name, c.bytes);
        EXPECT_EQ(OpenPath(file, PlainTarget(TTS)), c.expected);
    }
    EXPECT_EQ(OpenPath(m_dir / "missing.m2ts", PlainTarget(TTS)), E_INVALIDARG);
}

TEST_F(OpenTest, FileBeyondFourGibibytesKeepsItsWholeSize)
{
    // Sparse: 12 packets, then zeros up to 4 GiB and 300 bytes, whose low 32
    // bits alone would make the probe look at 300 bytes only.
    const std::int64_t size = (std::int64_t{1} << 32) + 300;
    std::error_code ec;
    std::filesystem::resize_file(m_stream.path, static_cast<std::uintmax_t>(size), ec);
    if (ec)
        GTEST_SKIP() << "no sparse file support here: " << ec.message();
    ASSERT_EQ(OpenPath(m_stream.path, PlainTarget(TTS)), S_OK);
    LONGLONG got = 0;
    ULONG endValue = 0;
    LONGLONG last = 0;
    EXPECT_EQ(m_converter->GetSize(&got), S_OK);
    EXPECT_EQ(got, size);
    EXPECT_EQ(m_converter->GetRangeEnd(0, &endValue, &last), S_OK);
    EXPECT_EQ(last, size - 1);
    ASSERT_EQ(m_converter->SeekByBytes(size - 100), S_OK);
    ASSERT_EQ(m_converter->Start(), S_OK);
    const SRead tail = ReadOnce(m_converter, 1000);
    EXPECT_EQ(tail.bytes, Bytes(100, 0));
    EXPECT_EQ(ReadOnce(m_converter, 1000).endOfStream, VARIANT_TRUE);
    m_converter->Close();
    std::filesystem::remove(m_stream.path, ec);
}

TEST_F(OpenTest, PathSourceAcceptsOnlyThePlainTargets)
{
    const struct {
        std::wstring mime;
        std::wstring profile;
        VARIANT_BOOL flag1, flag2, flag3;
        HRESULT expected;
    } cases[] = {
        {TTS, L"", F, F, T, S_OK},
        {MPEG, L"", F, F, T, S_OK},
        {L"VIDEO/VND.DLNA.MPEG-TTS", L"", F, F, T, S_OK},
        {TTS, L"", F, T, T, E_FAIL},
        {TTS, L"", T, F, T, E_FAIL},
        {TTS, L"", F, F, F, E_FAIL},
        // Exact VARIANT_BOOL comparisons: 1 is neither TRUE nor FALSE.
        {TTS, L"", ONE, F, T, E_FAIL},
        {TTS, L"", F, ONE, T, E_FAIL},
        {TTS, L"", F, F, ONE, E_FAIL},
        {MPEG, L"MPEG_TS_SD_NA_ISO", F, F, T, E_FAIL},
        {TTS, L"MPEG_TS_SD_NA", F, F, T, E_FAIL},
        {MPHL, L"", F, F, T, E_FAIL},
        {L"video/mp4", L"", F, F, T, E_FAIL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(vsktest::ToUtf8(c.mime + L" '" + c.profile + L"' flags ") + std::to_string(c.flag1) + "," +
                     std::to_string(c.flag2) + "," + std::to_string(c.flag3));
        EXPECT_EQ(OpenPath(m_stream.path, MakeTarget(c.mime, c.profile, c.flag1, c.flag2, c.flag3)), c.expected);
    }
}

TEST_F(OpenTest, PathSourceKnowsNoDurationButTheFileSize)
{
    ASSERT_EQ(OpenPath(m_stream.path, PlainTarget(TTS)), S_OK);
    ULONG duration = 0;
    LONGLONG size = 0;
    EXPECT_EQ(m_converter->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 0xFFFFFFFFu);
    EXPECT_EQ(m_converter->GetSize(&size), S_OK);
    EXPECT_EQ(size, static_cast<LONGLONG>(m_stream.bytes.size()));
    ULONG actual = 0;
    LONGLONG position = 0;
    EXPECT_EQ(m_converter->SeekByTime(0, &actual, &position), E_FAIL);
}

TEST_F(OpenTest, ItemsClassifyToTheCodesTheTablesAreTestedWith)
{
    // The acceptance tests below rely on these items; check the premise.
    for (int code : ProducibleCodes()) {
        SCOPED_TRACE(code);
        CComPtr<CComObject<CHostMediaItem>> item = MakeMediaItem(code, m_stream.path);
        bool videoOk = false;
        bool audioOk = false;
        int got = -7;
        EXPECT_TRUE(source::ClassifyMediaItem(item, &videoOk, &audioOk, &got));
        EXPECT_EQ(got, code);
    }
    CComPtr<CComObject<CHostMediaItem>> item = MakeMediaItem(ITEM_UNCLASSIFIABLE, m_stream.path);
    bool videoOk = false;
    bool audioOk = false;
    int got = 0;
    EXPECT_FALSE(source::ClassifyMediaItem(item, &videoOk, &audioOk, &got));
}

// The acceptance table, written out from the published profile list.
struct SRow {
    std::wstring mime;
    bool alternative;
    std::vector<std::wstring> names;
    std::vector<int> codes;
};

const std::vector<SRow>& Rows()
{
    static const std::vector<SRow> rows = {
        {MPEG, false, {L"MPEG_TS_SD_NA_ISO"}, {3, 15, 21}},
        {MPEG, false, {L"MPEG_TS_HD_NA_ISO"}, {6, 18}},
        {MPEG, false, {L"MPEG_TS_SD_KO_ISO"}, {9, 15}},
        {MPEG, false, {L"MPEG_TS_HD_KO_ISO"}, {12, 18, 21}},
        {MPEG, false, {L"MPEG_TS_SD_EU_ISO"}, {24}},
        {MPEG, true, {L"AVC_TS_HD_60_AC3_ISO"}, {27}},
        {MPEG, true, {L"AVC_TS_HD_50_AC3_ISO"}, {30}},
        {MPEG, true, {L"AVC_TS_HD_24_AC3_ISO"}, {33}},
        {MPEG, false, {L"AVC_TS_HD_60_AC3_ISO"}, {27}},
        {MPEG, false, {L"AVC_TS_HD_50_AC3_ISO"}, {30}},
        {MPEG, false, {L"AVC_TS_HD_24_AC3_ISO"}, {33}},
        {MPEG, false, {L"MPEG_TS_HD_60_L2_ISO"}, {34}},
        {MPEG, false, {L"MPEG_TS_HD_50_L2_ISO"}, {35}},
        {TTS, false, {L"MPEG_TS_SD_NA", L"MPEG_TS_SD_NA_T"}, {1, 2, 13, 14, 19, 20}},
        {TTS, false, {L"MPEG_TS_HD_NA", L"MPEG_TS_HD_NA_T"}, {4, 5, 16, 17}},
        {TTS, false, {L"MPEG_TS_SD_KO", L"MPEG_TS_SD_KO_T"}, {7, 8, 13, 14}},
        {TTS, false, {L"MPEG_TS_HD_KO", L"MPEG_TS_HD_KO_T"}, {10, 11, 16, 17, 19, 20}},
        {TTS, false, {L"MPEG_TS_SD_EU", L"MPEG_TS_SD_EU_T"}, {22, 23}},
        {TTS, true, {L"AVC_TS_HD_60_AC3", L"AVC_TS_HD_60_AC3_T"}, {25, 26}},
        {TTS, true, {L"AVC_TS_HD_50_AC3", L"AVC_TS_HD_50_AC3_T"}, {28, 29}},
        {TTS, true, {L"AVC_TS_HD_24_AC3", L"AVC_TS_HD_24_AC3_T"}, {31, 32}},
        {TTS, false, {L"AVC_TS_HD_60_AC3", L"AVC_TS_HD_60_AC3_T"}, {25, 26}},
        {TTS, false, {L"AVC_TS_HD_50_AC3", L"AVC_TS_HD_50_AC3_T"}, {28, 29}},
        {TTS, false, {L"AVC_TS_HD_24_AC3", L"AVC_TS_HD_24_AC3_T"}, {31, 32}},
    };
    return rows;
}

TEST_F(OpenTest, EveryTableRowAcceptsItsCodesAndRefusesTheOthers)
{
    std::vector<CComPtr<CComObject<CHostMediaItem>>> items;
    const std::vector<int> codes = ProducibleCodes();
    for (int code : codes)
        items.push_back(MakeMediaItem(code, m_stream.path));

    for (const SRow& row : Rows()) {
        for (const std::wstring& name : row.names) {
            // Alternative rows are reached through the extension with an
            // empty profile name; the others through the profile name.
            auto target = row.alternative ? MakeTarget(row.mime, L"", F, F, T, name)
                                          : MakeTarget(row.mime, name, F, F, T, L"UNRELATED_NAME");
            for (std::size_t i = 0; i < codes.size(); ++i) {
                SCOPED_TRACE(vsktest::ToUtf8(row.mime + L" " + name + (row.alternative ? L" (alternative)" : L"")) +
                             " code " + std::to_string(codes[i]));
                const bool listed = std::count(row.codes.begin(), row.codes.end(), codes[i]) > 0;
                EXPECT_EQ(OpenItem(items[i], target), listed ? S_OK : E_INVALIDARG);
                EXPECT_EQ(IsOpen(m_converter), listed);
            }
        }
    }
}

TEST_F(OpenTest, ProfileNameDecidesBeforeTheAlternativeName)
{
    // A profile name takes its own row; the alternative rows apply only to an
    // empty profile name.
    EXPECT_EQ(OpenCode(25, MakeTarget(TTS, L"AVC_TS_HD_60_AC3", F, F, T, L"AVC_TS_HD_50_AC3")), S_OK);
    EXPECT_EQ(OpenCode(28, MakeTarget(TTS, L"AVC_TS_HD_60_AC3", F, F, T, L"AVC_TS_HD_50_AC3")), E_INVALIDARG);
    EXPECT_EQ(OpenCode(28, MakeTarget(TTS, L"", F, F, T, L"AVC_TS_HD_50_AC3_T")), S_OK);

    // An alternative name that names no alternative row is no match: the
    // empty-name rule decides, whatever the code.
    EXPECT_EQ(OpenCode(4, MakeTarget(TTS, L"", F, F, T, L"MPEG_TS_SD_NA")), S_OK);
    EXPECT_EQ(OpenCode(4, MakeTarget(MPEG, L"", F, F, T, L"AVC_TS_HD_60_AC3")), S_OK);

    // Without the extension, or when reading it fails, the name is empty.
    auto noExtension = MakeTarget(TTS, L"", F, F, T, L"AVC_TS_HD_50_AC3");
    noExtension->SetOffersExtension(false);
    EXPECT_EQ(OpenCode(25, noExtension), S_OK);
    auto failingExtension = MakeTarget(TTS, L"", F, F, T, L"AVC_TS_HD_50_AC3");
    failingExtension->FailAlways(IID_IHostTargetDescriptionExt, 3, E_UNEXPECTED);
    EXPECT_EQ(OpenCode(25, failingExtension), S_OK);
}

TEST_F(OpenTest, NamesMatchExactlyAndMimeTypesInAnyCase)
{
    EXPECT_EQ(OpenCode(3, MakeTarget(L"Video/MPEG", L"MPEG_TS_SD_NA_ISO", F, F, T)), S_OK);
    EXPECT_EQ(OpenCode(3, MakeTarget(MPEG, L"mpeg_ts_sd_na_iso", F, F, T)), E_FAIL);
    EXPECT_EQ(OpenCode(3, MakeTarget(MPEG, L"MPEG_TS_SD_NA_ISO ", F, F, T)), E_FAIL);
    // A name of one MIME type's rows under the other matches nothing.
    EXPECT_EQ(OpenCode(3, MakeTarget(TTS, L"MPEG_TS_SD_NA_ISO", F, F, T)), E_FAIL);
    EXPECT_EQ(OpenCode(1, MakeTarget(MPEG, L"MPEG_TS_SD_NA", F, F, T)), E_FAIL);
}

TEST_F(OpenTest, EmptyProfileNameFollowsTheFlagsForEachServedMimeType)
{
    for (const std::wstring& mime : {MPEG, TTS, MPHL, std::wstring(L"VIDEO/X-MP2T-MPHL-188")}) {
        for (int code : {0, 3, 26, 34}) {
            SCOPED_TRACE(vsktest::ToUtf8(mime) + " code " + std::to_string(code));
            // Flag 2 does not count here.
            EXPECT_EQ(OpenCode(code, MakeTarget(mime, L"", F, F, T)), S_OK);
            EXPECT_EQ(OpenCode(code, MakeTarget(mime, L"", F, T, T)), S_OK);
            EXPECT_EQ(OpenCode(code, MakeTarget(mime, L"", F, ONE, T)), S_OK);
            EXPECT_EQ(OpenCode(code, MakeTarget(mime, L"", F, F, F)), E_FAIL);
            EXPECT_EQ(OpenCode(code, MakeTarget(mime, L"", F, F, ONE)), E_FAIL);
            EXPECT_EQ(OpenCode(code, MakeTarget(mime, L"", T, F, T)), E_FAIL);
            EXPECT_EQ(OpenCode(code, MakeTarget(mime, L"", ONE, F, T)), E_FAIL);
        }
    }
    // Other MIME types are never served, and the plain 188-byte type has no
    // named profiles.
    EXPECT_EQ(OpenCode(3, MakeTarget(L"video/mp4", L"", F, F, T)), E_FAIL);
    EXPECT_EQ(OpenCode(3, MakeTarget(L"video/mp4", L"MPEG_TS_SD_NA_ISO", F, F, T)), E_FAIL);
    EXPECT_EQ(OpenCode(34, MakeTarget(MPHL, L"MPEG_TS_HD_60_L2_ISO", F, F, T)), E_FAIL);
    EXPECT_EQ(OpenCode(34, MakeTarget(MPEG, L"NO_SUCH_PROFILE", F, F, T)), E_FAIL);
}

TEST_F(OpenTest, MatchedRowChecksTheFlagsExactlyWithoutTheParserLibrary)
{
    const struct {
        VARIANT_BOOL flag1, flag2, flag3;
        HRESULT expected;
    } cases[] = {
        {F, F, T, S_OK},
        {F, T, T, E_FAIL},   // time seeking cannot be offered
        {F, ONE, T, S_OK},   // 1 is not TRUE
        {F, F, F, E_FAIL},
        {F, F, ONE, E_FAIL},
        {T, F, T, E_FAIL},
        {ONE, F, T, E_FAIL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.flag1) + "," + std::to_string(c.flag2) + "," + std::to_string(c.flag3));
        EXPECT_EQ(OpenCode(3, MakeTarget(MPEG, L"MPEG_TS_SD_NA_ISO", c.flag1, c.flag2, c.flag3)), c.expected);
        EXPECT_EQ(OpenCode(29, MakeTarget(TTS, L"", c.flag1, c.flag2, c.flag3, L"AVC_TS_HD_50_AC3_T")), c.expected);
    }
}

TEST_F(OpenTest, UnclassifiableItemNeedsOnlyAnEmptyNameAndFlag1False)
{
    EXPECT_EQ(OpenCode(ITEM_UNCLASSIFIABLE, MakeTarget(TTS, L"", F, T, F)), S_OK);
    EXPECT_EQ(OpenCode(ITEM_UNCLASSIFIABLE, MakeTarget(L"video/mp4", L"", F, F, F)), S_OK);
    EXPECT_EQ(OpenCode(ITEM_UNCLASSIFIABLE, MakeTarget(TTS, L"MPEG_TS_SD_NA", F, F, T)), E_FAIL);
    EXPECT_EQ(OpenCode(ITEM_UNCLASSIFIABLE, MakeTarget(TTS, L"", T, F, T)), E_FAIL);
    EXPECT_EQ(OpenCode(ITEM_UNCLASSIFIABLE, MakeTarget(TTS, L"", ONE, F, T)), E_FAIL);
}

TEST_F(OpenTest, ItemSourceIsProbedButNotCheckedForItsExtension)
{
    const auto odd = m_dir.WriteFile("recording.ts", m_stream.bytes);
    CComPtr<CComObject<CHostMediaItem>> item = MakeMediaItem(3, odd, 1234);
    ASSERT_EQ(OpenItem(item, MakeTarget(MPEG, L"MPEG_TS_SD_NA_ISO", F, F, T)), S_OK);
    ULONG duration = 0;
    LONGLONG size = 0;
    EXPECT_EQ(m_converter->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 1234u);
    // The size is the file's, not the host's.
    EXPECT_EQ(m_converter->GetSize(&size), S_OK);
    EXPECT_EQ(size, static_cast<LONGLONG>(m_stream.bytes.size()));

    const auto noise = m_dir.WriteFile("noise.m2ts", Bytes(2048, 0x11));
    EXPECT_EQ(OpenItem(MakeMediaItem(3, noise), MakeTarget(MPEG, L"MPEG_TS_SD_NA_ISO", F, F, T)), E_INVALIDARG);
    EXPECT_FALSE(IsOpen(m_converter));
    EXPECT_EQ(OpenItem(MakeMediaItem(3, m_dir / "missing.m2ts"), PlainTarget(MPEG)), E_INVALIDARG);
}

TEST_F(OpenTest, ItemSourceMayComeAsDispatch)
{
    CComPtr<CComObject<CHostMediaItem>> item = MakeMediaItem(3, m_stream.path);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_DISPATCH;
    // Open uses the object only through IUnknown, which IDispatch begins with.
    source.pdispVal = reinterpret_cast<IDispatch*>(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p)));
    EXPECT_EQ(m_converter->Open(source, MakeTarget(MPEG, L"MPEG_TS_SD_NA_ISO", F, F, T)), S_OK);
}

TEST_F(OpenTest, BadArgumentsAreRefusedAndChangeNothing)
{
    ASSERT_EQ(OpenPath(m_stream.path, PlainTarget(TTS)), S_OK);

    CComVariant number(42);
    EXPECT_EQ(m_converter->Open(number, PlainTarget(TTS)), E_INVALIDARG);
    EXPECT_EQ(m_converter->Open(PathSource(m_stream.path), nullptr), E_INVALIDARG);
    VARIANT nullObject;
    VariantInit(&nullObject);
    nullObject.vt = VT_UNKNOWN;
    nullObject.punkVal = nullptr;
    EXPECT_EQ(m_converter->Open(nullObject, PlainTarget(TTS)), E_INVALIDARG);
    nullObject.vt = VT_DISPATCH;
    nullObject.pdispVal = nullptr;
    EXPECT_EQ(m_converter->Open(nullObject, PlainTarget(TTS)), E_INVALIDARG);
    // The earlier source is still open.
    EXPECT_TRUE(IsOpen(m_converter));

    // A path VARIANT without text names no file (and, being a path, closes
    // the earlier source first).
    VARIANT nullText;
    VariantInit(&nullText);
    nullText.vt = VT_BSTR;
    nullText.bstrVal = nullptr;
    EXPECT_EQ(m_converter->Open(nullText, PlainTarget(TTS)), E_INVALIDARG);
    EXPECT_FALSE(IsOpen(m_converter));
}

TEST_F(OpenTest, ItemFailuresComeBackAsTheirResults)
{
    // An object that is no media item.
    auto notAnItem = PlainTarget(TTS);
    EXPECT_EQ(m_converter->Open(CComVariant(static_cast<IUnknown*>(static_cast<IHostTargetDescription*>(notAnItem.p))),
                                PlainTarget(TTS)),
              E_NOINTERFACE);

    CComPtr<CComObject<CHostMediaItem>> item = MakeMediaItem(3, m_stream.path);
    item->FailNext(IID_IHostMediaItem, 14, E_ACCESSDENIED);  // duration
    EXPECT_EQ(OpenItem(item, PlainTarget(MPEG)), E_ACCESSDENIED);
    item->FailNext(IID_IHostMediaItem, 10, E_OUTOFMEMORY);  // size
    EXPECT_EQ(OpenItem(item, PlainTarget(MPEG)), E_OUTOFMEMORY);
    EXPECT_FALSE(IsOpen(m_converter));

    // A path that cannot become text.
    item->m_path = CComVariant(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p)));
    const HRESULT hr = OpenItem(item, PlainTarget(MPEG));
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    item->m_path.Clear();  // break the reference cycle
}

TEST_F(OpenTest, TargetFailureReturnsItsResultAndErrorInformation)
{
    for (int slot : {3, 5}) {
        SCOPED_TRACE(slot);
        auto target = PlainTarget(TTS);
        target->FailNext(IID_IHostTargetDescription, slot, E_ACCESSDENIED, L"HostKit", L"no access");
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(OpenPath(m_stream.path, target), E_ACCESSDENIED);
        CComPtr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
        ASSERT_TRUE(info);
        CComBSTR sourceText;
        CComBSTR description;
        info->GetSource(&sourceText);
        info->GetDescription(&description);
        EXPECT_EQ(std::wstring(sourceText.View()), L"HostKit");
        EXPECT_EQ(std::wstring(description.View()), L"no access");
    }

    // Flags are read in order and reading stops at the first that does not
    // match, so a later flag's failure never shows.
    auto target = MakeTarget(TTS, L"", F, T, T);
    target->FailAlways(IID_IHostTargetDescription, 7, E_ACCESSDENIED);  // flag 1
    EXPECT_EQ(OpenPath(m_stream.path, target), E_FAIL);
    target->m_flag2 = F;
    EXPECT_EQ(OpenPath(m_stream.path, target), E_ACCESSDENIED);
    auto rowTarget = MakeTarget(MPEG, L"MPEG_TS_SD_NA_ISO", F, F, F);
    rowTarget->FailAlways(IID_IHostTargetDescription, 9, E_ACCESSDENIED);  // flag 2
    EXPECT_EQ(OpenCode(3, rowTarget), E_FAIL);
    rowTarget->m_flag3 = T;
    EXPECT_EQ(OpenCode(3, rowTarget), E_ACCESSDENIED);
}

TEST_F(OpenTest, FailedOpenClosesTheEarlierSource)
{
    ASSERT_EQ(OpenPath(m_stream.path, PlainTarget(TTS)), S_OK);
    ASSERT_EQ(m_converter->Start(), S_OK);
    EXPECT_EQ(OpenPath(m_stream.path, PlainTarget(TTS, VARIANT_TRUE)), E_FAIL);
    EXPECT_FALSE(IsOpen(m_converter));
    platform::CFile exclusive;
    EXPECT_TRUE(exclusive.Open(vsktest::WideFromPath(m_stream.path).c_str(), platform::EFileMode::READ_WRITE_EXCLUSIVE));
}

TEST_F(OpenTest, OpenSourceIsHeldUntilCloseOrRelease)
{
    const std::wstring path = vsktest::WideFromPath(m_stream.path);
    platform::CFile exclusive;
    ASSERT_EQ(OpenPath(m_stream.path, PlainTarget(TTS)), S_OK);
    EXPECT_FALSE(exclusive.Open(path.c_str(), platform::EFileMode::READ_WRITE_EXCLUSIVE));
    EXPECT_EQ(m_converter->Close(), S_OK);
    EXPECT_TRUE(exclusive.Open(path.c_str(), platform::EFileMode::READ_WRITE_EXCLUSIVE));
    exclusive.Close();

    // Released while open: the file goes with the converter.
    ASSERT_EQ(OpenPath(m_stream.path, PlainTarget(TTS)), S_OK);
    ASSERT_EQ(m_converter->Start(), S_OK);
    EXPECT_FALSE(exclusive.Open(path.c_str(), platform::EFileMode::READ_WRITE_EXCLUSIVE));
    m_converter.Release();
    EXPECT_TRUE(exclusive.Open(path.c_str(), platform::EFileMode::READ_WRITE_EXCLUSIVE));
}

}  // namespace
