#include "source/SourceProfiles.h"

#include <array>

namespace source {
namespace {

constexpr const wchar_t* MPEG = MIME_TYPE_MPEG;
constexpr const wchar_t* TTS = MIME_TYPE_TTS;

// Up to two entries per code.
struct SCodeEntries {
    std::array<SProfileEntry, 2> entries;
    std::size_t count;
};

constexpr SCodeEntries One(const wchar_t* name, const wchar_t* mime) { return {{{{name, mime}, {nullptr, nullptr}}}, 1}; }
constexpr SCodeEntries Two(const wchar_t* name1, const wchar_t* mime1, const wchar_t* name2, const wchar_t* mime2)
{
    return {{{{name1, mime1}, {name2, mime2}}}, 2};
}

// Indexed by code; each family's three codes are 192-byte zero stamps, 192-byte
// valid stamps, 188-byte packets.
constexpr std::array<SCodeEntries, SOURCE_PROFILE_LAST + 1> CODE_ENTRIES = {{
    {{}, 0},                                                                     //  0: none
    One(L"MPEG_TS_SD_NA", TTS),                                                  //  1
    One(L"MPEG_TS_SD_NA_T", TTS),                                                //  2
    One(L"MPEG_TS_SD_NA_ISO", MPEG),                                             //  3
    One(L"MPEG_TS_HD_NA", TTS),                                                  //  4
    One(L"MPEG_TS_HD_NA_T", TTS),                                                //  5
    One(L"MPEG_TS_HD_NA_ISO", MPEG),                                             //  6
    One(L"MPEG_TS_SD_KO", TTS),                                                  //  7
    One(L"MPEG_TS_SD_KO_T", TTS),                                                //  8
    One(L"MPEG_TS_SD_KO_ISO", MPEG),                                             //  9
    One(L"MPEG_TS_HD_KO", TTS),                                                  // 10
    One(L"MPEG_TS_HD_KO_T", TTS),                                                // 11
    One(L"MPEG_TS_HD_KO_ISO", MPEG),                                             // 12
    Two(L"MPEG_TS_SD_KO", TTS, L"MPEG_TS_SD_NA", TTS),                           // 13
    Two(L"MPEG_TS_SD_KO_T", TTS, L"MPEG_TS_SD_NA_T", TTS),                       // 14
    Two(L"MPEG_TS_SD_KO_ISO", MPEG, L"MPEG_TS_SD_NA_ISO", MPEG),                 // 15
    Two(L"MPEG_TS_HD_KO", TTS, L"MPEG_TS_HD_NA", TTS),                           // 16
    Two(L"MPEG_TS_HD_KO_T", TTS, L"MPEG_TS_HD_NA_T", TTS),                       // 17
    Two(L"MPEG_TS_HD_KO_ISO", MPEG, L"MPEG_TS_HD_NA_ISO", MPEG),                 // 18
    Two(L"MPEG_TS_HD_KO", TTS, L"MPEG_TS_SD_NA", TTS),                           // 19
    Two(L"MPEG_TS_HD_KO_T", TTS, L"MPEG_TS_SD_NA_T", TTS),                       // 20
    Two(L"MPEG_TS_HD_KO_ISO", MPEG, L"MPEG_TS_SD_NA_ISO", MPEG),                 // 21
    One(L"MPEG_TS_SD_EU", TTS),                                                  // 22
    One(L"MPEG_TS_SD_EU_T", TTS),                                                // 23
    One(L"MPEG_TS_SD_EU_ISO", MPEG),                                             // 24
    One(L"AVC_TS_HD_60_AC3", TTS),                                               // 25
    One(L"AVC_TS_HD_60_AC3", TTS),                                               // 26: stamps cleared on delivery
    One(L"AVC_TS_HD_60_AC3_ISO", MPEG),                                          // 27
    One(L"AVC_TS_HD_50_AC3", TTS),                                               // 28
    One(L"AVC_TS_HD_50_AC3", TTS),                                               // 29: stamps cleared on delivery
    One(L"AVC_TS_HD_50_AC3_ISO", MPEG),                                          // 30
    One(L"AVC_TS_HD_24_AC3", TTS),                                               // 31
    One(L"AVC_TS_HD_24_AC3", TTS),                                               // 32: stamps cleared on delivery
    One(L"AVC_TS_HD_24_AC3_ISO", MPEG),                                          // 33
    Two(L"MPEG_TS_HD_60_L2_ISO", MPEG, L"", MIME_TYPE_MPHL_188),                 // 34
    Two(L"MPEG_TS_HD_50_L2_ISO", MPEG, L"", MIME_TYPE_MPHL_188),                 // 35
}};

}  // namespace

bool IsTimeStampedAvcSource(int code)
{
    return code == 26 || code == 29 || code == 32;
}

bool IsAvcSource(int code)
{
    return code >= 25 && code <= 33;
}

std::span<const SProfileEntry> EntriesForSourceProfile(int code)
{
    if (code < SOURCE_PROFILE_FIRST || code > SOURCE_PROFILE_LAST)
        return {};
    const SCodeEntries& e = CODE_ENTRIES[static_cast<std::size_t>(code)];
    return {e.entries.data(), e.count};
}

}  // namespace source
