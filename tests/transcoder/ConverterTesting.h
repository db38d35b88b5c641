// What the converter's test programs share: COM for the process, converters
// made with the program's parser-library directory, host targets and media
// items that classify to a chosen source profile code, recordings with exact
// bytes, reads that hand back plain vectors, and an independent model of what
// the read path delivers for time-stamped AVC sources.
#pragma once

#include "host/host_kit.h"
#include "platform/com.h"
#include "transcoder/CMpeg2TSConverter.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace transcodertest {

using Bytes = std::vector<std::uint8_t>;
using MediaTranscoderLib::IVskMediaTranscoder;

inline constexpr std::int64_t UNIT_192 = 192;

// Initialises COM (multithreaded) for the test program and fixes the parser
// library's availability for the whole process by running the first probe
// with `parserDirectory`; the program fails at once when the answer is not
// `parserExpected`. Every converter of the program gets the same directory.
void InstallConverterEnvironment(const std::filesystem::path& parserDirectory, bool parserExpected);
std::wstring ParserDirectory();

// A converter made the plain way, holding ParserDirectory().
CComPtr<IVskMediaTranscoder> NewConverter();

// A target description with the given texts and flags (VARIANT_BOOL values as
// given, so 1 is possible).
CComPtr<CComObject<CHostTargetDescription>> MakeTarget(const std::wstring& mimeType, const std::wstring& profileName,
                                                      VARIANT_BOOL flag1, VARIANT_BOOL flag2, VARIANT_BOOL flag3,
                                                      const std::wstring& alternativeName = L"");

// Target flags a path source and the empty-name rule accept (1 FALSE, 3 TRUE),
// with flag 2 as given.
CComPtr<CComObject<CHostTargetDescription>> PlainTarget(const std::wstring& mimeType,
                                                       VARIANT_BOOL flag2 = VARIANT_FALSE);

// Special codes for MakeMediaItem besides 1..35.
inline constexpr int ITEM_NO_FAMILY = 0;          // classified, code 0
inline constexpr int ITEM_UNCLASSIFIABLE = -1;    // the classifier gives up

// Codes a host media item can be classified to (7 to 12 are never produced).
std::vector<int> ProducibleCodes();

// A host media item describing `file` whose stream facts classify to `code`,
// with the given duration (ms). The stream objects are held by the item.
CComPtr<CComObject<CHostMediaItem>> MakeMediaItem(int code, const std::filesystem::path& file,
                                                  LONG durationMs = 600000);

CComVariant PathSource(const std::filesystem::path& file);
CComVariant ItemSource(IUnknown* item);

// Opens `file` as a path source, or as a media item classified to `code`, for
// a target every such source is served as (empty profile name, flag 1 FALSE,
// flag 3 TRUE).
HRESULT OpenAsPath(IVskMediaTranscoder* converter, const std::filesystem::path& file);
HRESULT OpenAsItem(IVskMediaTranscoder* converter, const std::filesystem::path& file, int code,
                   LONG durationMs = 600000);

struct SStream {
    std::filesystem::path path;
    Bytes bytes;
};

// 188-byte packets with pseudo-random payloads (sync bytes included).
SStream WritePlainStream(const std::filesystem::path& path, std::size_t packets, std::uint32_t seed = 1);
// 192-byte packets whose prefixes are non-zero and whose bytes hold no 0x47
// except the sync bytes, so the packet grid is unambiguous; `tailBytes` > 0
// adds one more packet cut after that many bytes.
SStream WriteStampedStream(const std::filesystem::path& path, std::size_t packets, std::size_t tailBytes = 0,
                           std::uint32_t seed = 2);

struct SRead {
    HRESULT hr = E_UNEXPECTED;
    Bytes bytes;
    VARIANT_BOOL endOfStream = 1;  // neither TRUE nor FALSE until Read sets it
};
SRead ReadOnce(IVskMediaTranscoder* converter, LONG count);
// Reads with the sizes given (cycled) until end of stream; the bytes of every
// read, the empty last one included.
std::vector<SRead> ReadToEnd(IVskMediaTranscoder* converter, const std::vector<LONG>& counts,
                             std::size_t maxReads = 1000000);
Bytes Concatenate(const std::vector<SRead>& reads);

// The file with the 4-byte prefix of every whole 192-byte packet set to 0.
Bytes WithPrefixesCleared(const Bytes& file);

// What a time-stamped AVC converter delivers, derived from the file and the
// packet grid rather than from the converter's code: it tracks the file
// position and the bytes still to drop after a seek, sizes each request as the
// host contract says, and clears the prefixes of the packets whose place on
// the grid the block itself confirms.
class CStampedReadModel {
public:
    explicit CStampedReadModel(const Bytes& file) : m_file(file) {}
    // False (and nothing changes) when the aligned position is negative.
    bool Seek(std::int64_t position);
    Bytes Read(std::int64_t count);
    std::int64_t Position() const { return m_position; }
    std::int64_t Skip() const { return m_skip; }

private:
    const Bytes& m_file;
    std::int64_t m_position = 0;
    std::int64_t m_skip = 0;
};

// The prefixes a block read from file offset `start` has cleared, judged from
// the packet grid: nothing unless two whole packets follow the first packet
// start in the block; then every whole packet, and a cut-off last packet
// only when it is the second of a pair.
void ClearConfirmedPrefixes(Bytes& block, std::int64_t start);

// Text of a wide string whose characters are all ASCII.
std::string Narrow(const std::wstring& text);

}  // namespace transcodertest
