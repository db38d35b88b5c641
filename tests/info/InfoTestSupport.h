// Shared pieces of the info object's tests: the COM environment with the host
// kit's classes registered, info objects and their settings, readers that
// turn result lists into plain values, recordings on disk and host media
// items described by their stream facts.
//
// Each test program decides once whether the parser library is present: the
// component probes for it once per process, so the program's environment
// settles the answer before any test runs (InfoParserPresent()).
#pragma once

#include "frame/MediaTranscoderLib.h"
#include "host/host_kit.h"
#include "info/CMpeg2TSConverterInfo.h"
#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace infotest {

using MediaTranscoderLib::IVskMediaTranscoderInfo;

// Defined by each test program: whether its environment makes the parser
// library available.
bool InfoParserPresent();

// Initialises COM (multithreaded), registers the host kit's classes and
// settles the parser-library probe as InfoParserPresent() says.
class CInfoEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
};

// The host kit's classes disappear for the lifetime of this object.
class CHostClassesRevoked {
public:
    CHostClassesRevoked();
    ~CHostClassesRevoked();
    CHostClassesRevoked(const CHostClassesRevoked&) = delete;
    CHostClassesRevoked& operator=(const CHostClassesRevoked&) = delete;
};

// Base fixture: forgets the host kit's record and armed failures and the
// thread's error information after each test.
class CInfoTest : public ::testing::Test {
protected:
    void TearDown() override;
};

// A new info object (plain form); throws std::runtime_error when creation fails.
CComPtr<IVskMediaTranscoderInfo> CreateInfo();
// The concrete object, for its settings.
CComPtr<CComObject<info::CMpeg2TSConverterInfo>> CreateInfoObject();

HRESULT LoadSettings(IVskMediaTranscoderInfo* info, const HostSettingsTree& tree);
HostSettingsTree ProfileTypeSettings(const std::wstring& type);
HostSettingsTree ParserPathSettings(const std::wstring& directory);
// An info object in vendor mode.
CComPtr<IVskMediaTranscoderInfo> CreateVendorInfo();

// The directory holding the stand-in parser library.
std::wstring StandInDirectory();

// One target description as read back through its interfaces.
struct STarget {
    std::wstring profileName;
    std::wstring mimeType;
    VARIANT_BOOL flag1 = VARIANT_FALSE;
    VARIANT_BOOL flag2 = VARIANT_FALSE;
    VARIANT_BOOL flag3 = VARIANT_TRUE;
    std::wstring alternativeName;

    bool operator==(const STarget&) const = default;
};
void PrintTo(const STarget& target, std::ostream* out);

// A target as this component builds it: flag 1 FALSE, flag 3 TRUE.
STarget Target(std::wstring profileName, std::wstring mimeType, bool flag2, std::wstring alternativeName = {});

// Checks the shape of a result list (one dimension, VT_VARIANT, lower bound
// 0, VT_UNKNOWN elements), reads it and destroys it.
std::vector<STarget> TakeTargets(SAFEARRAY* list);
std::vector<std::pair<std::wstring, std::wstring>> TakeProperties(SAFEARRAY* list);

// A host target description with the given values.
CComPtr<CComObject<CHostTargetDescription>> MakeTarget(const STarget& values);

// A transport stream of `packets` packets of 188 or 192 bytes written to
// dir/name; returns the wide path.
std::wstring WriteRecording(const vsktest::CTempDir& dir, const std::string& name, std::size_t unitSize,
                            std::size_t packets = 12);
// The same, padded with zero bytes to exactly `size` bytes.
std::wstring WriteRecordingOfSize(const vsktest::CTempDir& dir, const std::string& name, std::size_t unitSize,
                                  std::size_t size);

enum class EVideo { MPEG2, AVC, NONE };
enum class EAudio { AC3, MPEG, OTHER, NONE };

// Stream facts of a media item. The defaults describe a 1920x1080 MPEG-2
// broadcast at 29.97 frames per second with 5.1 AC-3 audio, in 188-byte
// packets: code 18 (HD Korea and North America).
struct SItemFacts {
    LONGLONG size = 1000000;
    LONG duration = 600000;
    LONG bitRate = 19392700;
    LONG packetFormat = HOST_PACKET_FORMAT_188;
    LONG audioStreamCount = 1;
    EVideo video = EVideo::MPEG2;
    LONG width = 1920;
    LONG height = 1080;
    LONG aspect = 3;
    LONG profile = 2;
    LONG level = 3;
    double frameRate = 29.97;
    LONG videoRate = 18000000;
    EAudio audio = EAudio::AC3;
    LONG sampleRate = 48000;
    LONG channels = 6;
    LONG audioRate = 448000;
};
SItemFacts Code34Facts();  // 1440x1080 MPEG-2 at 29.97 with MPEG audio, 188-byte packets
SItemFacts Code26Facts();  // AVC 1920x1080 at 29.97, time-stamped 192-byte packets

CComPtr<CComObject<CHostMediaItem>> MakeItem(const SItemFacts& facts, const std::wstring& path);

CComVariant PathSource(const std::wstring& path);
CComVariant ObjectSource(IUnknown* object);

}  // namespace infotest
