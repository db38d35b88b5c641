// Writes the seed corpora of the parser's fuzz targets (demux, probe, seek):
// small transport and program streams made with the stream builder, each
// preceded by the control byte that chooses how the demux and probe bodies
// cut it into Feed pieces (see FuzzSupport.h). The seeds reach what a blind
// fuzzer finds late: valid PSI with CRCs, PES headers with every optional
// field, the registration classes of the PMT, damaged packets of each kind,
// both pack forms, elementary headers the probe reads. Each seed goes to the
// corpora of the targets it helps: every one to demux, those with the
// streams and headers the probe reads to probe, those with timed video and
// damage a seek pass meets to seek.
//
// The name's first word says what detection must make of the stream when it
// is fed whole (ts188, ts192, ps, junk for no kind; mixed for no claim); the
// demux replay test checks it.
//
// Usage (Linux builds): make_corpus [DIRECTORY]
//   with no argument it rewrites fuzz/corpus/ of the source tree (its
//   folders demux/, probe/ and seek/). Files the fuzzer found and that were
//   committed as regression cases are left alone.
#include "vsktest/PesPacket.h"
#include "vsktest/ProgramStreamBuilder.h"
#include "vsktest/PsiSections.h"
#include "vsktest/TempDir.h"
#include "vsktest/TsPacket.h"
#include "vsktest/TsStreamBuilder.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace vsktest;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t MAX_SEED_BYTES = 8192;

constexpr std::uint16_t PID_PMT = 0x0100;
constexpr std::uint16_t PID_PMT_2 = 0x0101;
constexpr std::uint16_t PID_VIDEO = 0x0200;
constexpr std::uint16_t PID_AUDIO = 0x0201;
constexpr std::uint16_t PID_DIT = 0x001E;

// Control bytes (bits in FuzzSupport.h): piece size index in bits 0-2,
// first piece in bits 3-4, irregular pieces 0x20, the smallest buffer 0x40
// (fed past its end with bits 3-4 set too), go on after a failure 0x80.
constexpr std::uint8_t WHOLE_THEN_188 = 0x03;
constexpr std::uint8_t WHOLE_THEN_192 = 0x04;
constexpr std::uint8_t BYTE_BY_BYTE_AFTER_1000 = 0x08;
constexpr std::uint8_t SEVENS_AFTER_4000 = 0x11;
constexpr std::uint8_t IRREGULAR_64 = 0x22;
constexpr std::uint8_t PIECES_OF_1000 = 0x1D;

Bytes Pattern(std::size_t count, std::uint8_t seed)
{
    // No sync byte and no zero byte: elementary data that holds no packet
    // start and no start code, so each seed damages only what it means to.
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t b = static_cast<std::uint8_t>(seed + i * 13u);
        if (b == TS_SYNC_BYTE || b == 0)
            b = 0x5A;
        out[i] = b;
    }
    return out;
}

Bytes Pat(std::vector<PatEntry> entries, std::uint8_t version = 0, bool currentNext = true)
{
    PatParams pat;
    pat.entries = std::move(entries);
    pat.version = version;
    pat.currentNext = currentNext;
    return MakePat(pat);
}

Bytes Pmt(std::uint16_t program, std::uint16_t pcrPid, std::vector<PmtStream> streams,
          Bytes programInfo = {}, std::uint8_t version = 0)
{
    PmtParams pmt;
    pmt.programNumber = program;
    pmt.pcrPid = pcrPid;
    pmt.streams = std::move(streams);
    pmt.programInfo = std::move(programInfo);
    pmt.version = version;
    return MakePmt(pmt);
}

// PAT with one program and its PMT: MPEG-2 video with the PCR, MPEG audio.
void AddProgram(CTsStreamBuilder& ts, std::uint8_t videoType = 0x02, std::uint8_t audioType = 0x04)
{
    ts.AddSection(TS_PID_PAT, Pat({{1, PID_PMT}}));
    ts.AddSection(PID_PMT, Pmt(1, PID_VIDEO, {{videoType, PID_VIDEO, {}}, {audioType, PID_AUDIO, {}}}));
}

void AddVideo(CTsStreamBuilder& ts, std::uint64_t pts, std::size_t payload, std::uint16_t pid = PID_VIDEO,
              bool pcr = true)
{
    PesParams pes;
    pes.streamId = STREAM_ID_VIDEO_FIRST;
    pes.pts = pts;
    pes.unbounded = true;
    pes.dataAlignment = true;
    pes.payload = {0x00, 0x00, 0x01, 0x00};
    const Bytes body = Pattern(payload, static_cast<std::uint8_t>(pts));
    pes.payload.insert(pes.payload.end(), body.begin(), body.end());
    PesPacketOptions options;
    options.randomAccess = true;
    if (pcr)
        options.pcrBase = pts - 9000;
    ts.AddPes(pid, MakePes(pes), options);
}

void AddAudio(CTsStreamBuilder& ts, std::uint64_t pts, std::uint8_t streamId = STREAM_ID_AUDIO_FIRST,
              std::uint16_t pid = PID_AUDIO, Bytes head = {0xFF, 0xFD})
{
    PesParams pes;
    pes.streamId = streamId;
    pes.pts = pts;
    pes.payload = std::move(head);
    const Bytes body = Pattern(120, static_cast<std::uint8_t>(pts >> 3));
    pes.payload.insert(pes.payload.end(), body.begin(), body.end());
    ts.AddPes(pid, MakePes(pes));
}

// A regular recording: program tables, three video units with PCR and
// audio in between, the tables again after the first unit (as broadcasts
// repeat them, so a reader that missed the first ones still starts).
CTsStreamBuilder Regular(std::size_t unitSize, std::uint8_t videoType = 0x02, std::uint8_t audioType = 0x04)
{
    CTsStreamBuilder ts(unitSize);
    if (unitSize == TS_UNIT_SIZE_192)
        ts.SetArrivalTime(1000, 7520);
    AddProgram(ts, videoType, audioType);
    const std::uint8_t audioId = audioType == 0x81 ? STREAM_ID_PRIVATE_1 : STREAM_ID_AUDIO_FIRST;
    const Bytes audioHead = audioType == 0x81 ? Bytes{0x0B, 0x77} : Bytes{0xFF, 0xFD};
    for (std::uint64_t k = 0; k < 3; ++k) {
        AddVideo(ts, 90000 + k * 3003, 400);
        AddAudio(ts, 90000 + k * 2160, audioId, PID_AUDIO, audioHead);
        if (k == 0)
            AddProgram(ts, videoType, audioType);
    }
    AddVideo(ts, 90000 + 3 * 3003, 40);
    return ts;
}

Bytes Ts188Basic() { return Regular(TS_UNIT_SIZE_188).Take(); }

Bytes Ts192ArrivalAvc() { return Regular(TS_UNIT_SIZE_192, 0x1B, 0x81).Take(); }

// Prefix byte k of every unit is a sync byte: detection first locks onto it
// and has to move the unit start forward.
Bytes Ts192PrefixSync(std::size_t k)
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_192);
    std::array<std::uint8_t, 4> prefix{0x12, 0x34, 0x56, 0x78};
    prefix[k] = TS_SYNC_BYTE;
    ts.SetCustomPrefix(prefix);
    AddProgram(ts);
    AddVideo(ts, 90000, 500);
    AddVideo(ts, 93003, 300);
    AddVideo(ts, 96006, 10);
    return ts.Take();
}

// Units on PID 0x0047 in front of the tables (0x47 two bytes behind every
// sync byte, which must not move the unit start); two programs whose maps
// share one packet, the second map's last entry overrunning its loop.
Bytes Ts192PackedMaps()
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_192);
    for (int i = 0; i < 8; ++i)
        AddVideo(ts, 80000 + 100u * static_cast<unsigned>(i), 10, 0x0047, false);
    ts.AddSection(TS_PID_PAT, Pat({{1, PID_PMT}, {2, PID_PMT}}));
    LongSection overrun;
    overrun.tableId = TABLE_ID_PMT;
    overrun.tableIdExtension = 2;
    overrun.body = {0xE3, 0x00, 0xF0, 0x00, 0x1B, 0xE3, 0x00, 0xF0, 0x00, 0x81, 0xE3, 0x01, 0xF0, 0x07};
    ts.AddSections(PID_PMT, {Pmt(1, PID_VIDEO, {{0x02, PID_VIDEO, {}}, {0x04, PID_AUDIO, {}}}),
                             MakeLongSection(overrun)});
    AddVideo(ts, 90000, 300);
    AddVideo(ts, 90000, 300, 0x0300);
    AddVideo(ts, 93003, 10);
    AddVideo(ts, 93003, 10, 0x0300);
    return ts.Take();
}

Bytes StartInsideUnit(std::size_t unitSize, std::size_t skip)
{
    Bytes bytes = Regular(unitSize).Take();
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(skip));
    return bytes;
}

Bytes Ts188TransportErrors()
{
    CTsStreamBuilder ts = Regular(TS_UNIT_SIZE_188);
    ts.SetTransportError(0);  // the first PAT packet
    ts.SetTransportError(4);
    ts.SetTransportError(ts.PacketCount() - 2);
    return ts.Take();
}

Bytes Ts188LostSync()
{
    // Enough whole packets first for the start-up resynchronisation to lock
    // on, then a packet without its sync byte and junk, then the tables again.
    CTsStreamBuilder ts(TS_UNIT_SIZE_188);
    AddProgram(ts);
    AddVideo(ts, 90000, 700);
    const std::size_t broken = ts.AddNull();
    ts.BreakSync(broken, 0x46);
    const Bytes junk = Pattern(57, 3);
    ts.AddRaw(junk);
    AddProgram(ts);
    AddVideo(ts, 93003, 600);
    AddAudio(ts, 92000);
    AddVideo(ts, 96006, 10);
    return ts.Take();
}

Bytes Ts188AdaptationFields()
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_188);
    AddProgram(ts);
    AddVideo(ts, 90000, 100);

    TsPacket p;
    p.pid = PID_VIDEO;
    p.payload = Pattern(183, 9);
    AdaptationField lengthOnly;
    lengthOnly.lengthOnly = true;
    p.adaptation = lengthOnly;
    ts.Add(p);  // adaptation_field_length 0

    TsPacket full;  // adaptation_field_length 183, no payload
    full.pid = PID_VIDEO;
    full.adaptation = AdaptationField{};
    ts.Add(full);

    TsPacket rich;
    rich.pid = PID_VIDEO;
    AdaptationField af;
    af.discontinuity = true;
    af.esPriority = true;
    af.pcrBase = 0x1FFFFFFFFull;
    af.pcrExtension = 299;
    af.opcrBase = 12345;
    af.opcrExtension = 1;
    af.spliceCountdown = -3;
    af.privateData = Pattern(20, 1);
    // ltw, piecewise rate and seamless splice, each present.
    af.extension = Bytes{0xFF, 0x80, 0x10, 0xC0, 0x00, 0x01, 0x21, 0x00, 0x01, 0x00, 0x01};
    rich.adaptation = af;
    rich.payload = Pattern(60, 4);
    ts.Add(rich);

    TsPacket tooLong;  // adaptation_field_length 184
    tooLong.pid = PID_VIDEO;
    AdaptationField bad;
    bad.lengthOverride = 184;
    tooLong.adaptation = bad;
    tooLong.adaptationFieldControl = 2;
    ts.Add(tooLong);

    TsPacket privateOverrun;  // transport_private_data_length beyond the field
    privateOverrun.pid = PID_VIDEO;
    AdaptationField overrun;
    overrun.privateData = Pattern(40, 7);
    overrun.lengthOverride = 20;
    privateOverrun.adaptation = overrun;
    privateOverrun.payload = Pattern(10, 2);
    ts.Add(privateOverrun);

    TsPacket extensionOverrun;  // extension length beyond the field
    extensionOverrun.pid = PID_VIDEO;
    AdaptationField ext;
    ext.extension = Bytes{0x00, 0x00, 0x00};
    ext.lengthOverride = 3;
    extensionOverrun.adaptation = ext;
    extensionOverrun.payload = Pattern(20, 5);
    ts.Add(extensionOverrun);

    TsPacket neither;  // adaptation_field_control 00
    neither.pid = PID_VIDEO;
    neither.adaptationFieldControl = 0;
    neither.payload = Pattern(184, 6);
    ts.Add(neither);

    AddVideo(ts, 93003, 200);
    AddVideo(ts, 96006, 10);
    return ts.Take();
}

Bytes Ts188Sections()
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_188);
    // A PAT with a wrong CRC, one with section_length 1,025, one that is no
    // PAT at all, then a good one behind the tail of an earlier section.
    SectionOptions badCrc;
    badCrc.badCrc = true;
    PatParams pat;
    pat.entries = {{0, 0x0010}, {1, PID_PMT}, {2, PID_PMT_2}};
    ts.AddSection(TS_PID_PAT, MakePat(pat, badCrc));
    SectionOptions tooLong;
    tooLong.sectionLength = 1025;
    ts.AddSection(TS_PID_PAT, MakePat(pat, tooLong));
    SectionOptions wrongTable;
    wrongTable.tableId = 0x02;
    ts.AddSection(TS_PID_PAT, MakePat(pat, wrongTable));
    SectionPacketOptions lead;
    lead.leadingBytes = Pattern(30, 8);
    ts.AddSection(TS_PID_PAT, MakePat(pat), lead);

    // pointer_field past the payload.
    TsPacket pointer;
    pointer.pid = PID_PMT;
    pointer.payloadUnitStart = true;
    pointer.payload = Bytes{0xB8};
    ts.Add(pointer);

    // Program 1 split over packets of 20 bytes; program 2 with a network
    // PID listed, an AVC stream and AC-3.
    SectionPacketOptions small;
    small.maxPayloadPerPacket = 20;
    ts.AddSection(PID_PMT, Pmt(1, PID_VIDEO, {{0x02, PID_VIDEO, {}}, {0x06, 0x0202, {}}, {0x0F, 0x0203, {}}}),
                  small);
    ts.AddSection(PID_PMT_2, Pmt(2, 0x0300, {{0x1B, 0x0300, MakeDescriptor(0x52, Bytes{0x01})}, {0x81, 0x0301, {}}}));
    // A SIT with services and descriptors.
    SitParams sit;
    sit.transmissionInfo = MakeDescriptor(0x63, Bytes{0xC0, 0x00, 0x10});
    sit.services = {{1, 4, MakeDescriptor(0x48, Bytes{0x01, 0x00, 0x00})}, {2, 1, {}}};
    ts.AddSection(TS_PID_SIT, MakeSit(sit));
    AddVideo(ts, 90000, 200);
    AddVideo(ts, 90000, 200, 0x0300);
    AddAudio(ts, 90000, STREAM_ID_PRIVATE_1, 0x0301, Bytes{0x0B, 0x77});
    AddVideo(ts, 93003, 10);
    AddVideo(ts, 93003, 10, 0x0300);
    return ts.Take();
}

Bytes Ts188TableVersions()
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_188);
    ts.AddSection(TS_PID_PAT, Pat({{1, PID_PMT}}, 3, false));  // not yet current
    AddProgram(ts);
    AddVideo(ts, 90000, 200);
    // The program's next version: the audio stream becomes AC-3 on a new PID.
    ts.AddSection(PID_PMT, Pmt(1, PID_VIDEO, {{0x02, PID_VIDEO, {}}, {0x81, 0x0202, {}}}, {}, 1));
    ts.AddSection(TS_PID_PAT, Pat({{1, PID_PMT}, {5, 0x0105}}, 1));
    SitParams sit;
    ts.AddSection(TS_PID_SIT, MakeSit(sit));
    sit.version = 2;
    ts.AddSection(TS_PID_SIT, MakeSit(sit));
    AddAudio(ts, 90000, STREAM_ID_PRIVATE_1, 0x0202, Bytes{0x0B, 0x77});
    AddVideo(ts, 93003, 200);
    AddVideo(ts, 96006, 10);
    return ts.Take();
}

Bytes Ts188ElementaryBeforeTables()
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_188);
    AddVideo(ts, 80000, 300);
    AddAudio(ts, 80000);
    ts.AddSection(TS_PID_PAT, Pat({{1, PID_PMT}}));
    AddVideo(ts, 83003, 300);
    ts.AddSection(PID_PMT, Pmt(1, PID_VIDEO, {{0x02, PID_VIDEO, {}}, {0x04, PID_AUDIO, {}}}));
    AddVideo(ts, 86006, 300);
    AddVideo(ts, 89009, 10);
    return ts.Take();
}

Bytes Ts188DiscontinuityInformation()
{
    CTsStreamBuilder ts = Regular(TS_UNIT_SIZE_188);
    TsPacket dit;
    dit.pid = PID_DIT;
    dit.payloadUnitStart = true;
    dit.payload = Bytes{0x00, 0x7E, 0x80, 0x01, 0x00};
    ts.Add(dit);
    AddVideo(ts, 200000, 200);
    return ts.Take();
}

Bytes Ts188Truncated()
{
    CTsStreamBuilder ts = Regular(TS_UNIT_SIZE_188);
    ts.TruncateLastUnit(100);
    return ts.Take();
}

Bytes Ts192Truncated()
{
    CTsStreamBuilder ts = Regular(TS_UNIT_SIZE_192);
    ts.TruncateLastUnit(3);
    return ts.Take();
}

Bytes Ts188Continuity()
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_188);
    AddProgram(ts);
    AddVideo(ts, 90000, 300);
    // The audio packet twice with one counter, then a gap.
    PesParams pes;
    pes.streamId = STREAM_ID_AUDIO_FIRST;
    pes.pts = 90000;
    pes.payload = Pattern(100, 1);
    std::vector<TsPacket> audio = PacketizePes(PID_AUDIO, MakePes(pes));
    audio[0].continuityCounter = 5;
    ts.Add(audio[0]);
    ts.Add(audio[0]);
    audio[0].continuityCounter = 9;
    ts.Add(audio[0]);
    // The PMT repeated and then with a gap.
    std::vector<TsPacket> pmt =
        PacketizeSections(PID_PMT, {Pmt(1, PID_VIDEO, {{0x02, PID_VIDEO, {}}, {0x04, PID_AUDIO, {}}})});
    pmt[0].continuityCounter = 1;
    ts.Add(pmt[0]);
    ts.Add(pmt[0]);
    pmt[0].continuityCounter = 4;
    ts.Add(pmt[0]);
    ts.SetNextContinuity(PID_VIDEO, 11);
    AddVideo(ts, 93003, 300);
    AddVideo(ts, 96006, 10);
    return ts.Take();
}

Bytes Ts188PesHeaders()
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_188);
    AddProgram(ts);
    PesParams all;  // every optional field of the header
    all.streamId = STREAM_ID_AUDIO_FIRST;
    all.pts = 0x1FFFFFFF0ull;
    all.dts = 0x1FFFFFF00ull;
    all.escrBase = 77;
    all.escrExtension = 3;
    all.esRate = 0x3FFFFF;
    all.trickMode = 0x41;
    all.additionalCopyInfo = 0x55;
    all.previousCrc = 0xBEEF;
    all.extension = Bytes{0xBE};  // private data, sequence counter, P-STD buffer
    Bytes privateData = Pattern(16, 2);
    all.extension->insert(all.extension->end(), privateData.begin(), privateData.end());
    all.extension->insert(all.extension->end(), {0x85, 0x81, 0x60, 0xE8});
    all.headerStuffing = 3;
    all.scrambling = 1;
    all.priority = true;
    all.copyright = true;
    all.original = true;
    all.payload = Pattern(50, 3);
    ts.AddPes(PID_AUDIO, MakePes(all));

    PesParams flagsOnly = all;  // PTS_DTS_flags 01, which no header may carry
    flagsOnly.ptsDtsFlagsOverride = 1;
    ts.AddPes(PID_AUDIO, MakePes(flagsOnly));

    PesParams shortLength;  // PES_packet_length shorter than its own header
    shortLength.streamId = STREAM_ID_AUDIO_FIRST;
    shortLength.pts = 90000;
    shortLength.payload = Pattern(30, 4);
    shortLength.packetLengthOverride = 4;
    ts.AddPes(PID_AUDIO, MakePes(shortLength));

    PesParams padding;  // a stream_id a transport stream unit must not have
    padding.streamId = STREAM_ID_PADDING;
    padding.payload = Pattern(40, 5);
    ts.AddPes(PID_AUDIO, MakePes(padding));

    PesParams bounded;  // a video unit with a length
    bounded.streamId = STREAM_ID_VIDEO_FIRST;
    bounded.pts = 90000;
    bounded.dts = 86997;
    bounded.payload = Pattern(500, 6);
    ts.AddPes(PID_VIDEO, MakePes(bounded));
    AddVideo(ts, 93003, 10);

    TsPacket noStartCode;  // a unit start whose payload is no PES
    noStartCode.pid = PID_AUDIO;
    noStartCode.payloadUnitStart = true;
    noStartCode.payload = Pattern(184, 7);
    ts.Add(noStartCode);
    AddAudio(ts, 95000);
    AddAudio(ts, 97000);
    return ts.Take();
}

// One program of each registration class with the streams only that class
// keeps.
Bytes Ts188Registrations()
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_188);
    ts.AddSection(TS_PID_PAT, Pat({{1, 0x0110}, {2, 0x0120}, {3, 0x0130}, {4, 0x0140}, {5, 0x0150}}));

    ts.AddSection(0x0110, Pmt(1, 0x0111, {{0xA0, 0x0111, {}}}, MakeRegistrationDescriptor("TSMV")));
    Bytes tshv = MakeRegistrationDescriptor("TSHV", Bytes{1, 2, 3, 4, 5, 6, 7});
    ts.AddSection(0x0120, Pmt(2, 0x0121, {{0xA0, 0x0121, {}}, {0xA1, 0x0122, {}}}, tshv));
    ts.AddSection(0x0130, Pmt(3, 0x0131, {{0x80, 0x0131, {}}, {0x06, 0x0132, {}}}, MakeRegistrationDescriptor("SESF")));
    Bytes hdmv = MakeDescriptor(0x88, Bytes{0x0F, 0x01});  // walked past before the registration
    const Bytes hdmvRegistration = MakeRegistrationDescriptor("HDMV");
    hdmv.insert(hdmv.end(), hdmvRegistration.begin(), hdmvRegistration.end());
    ts.AddSection(0x0140, Pmt(4, 0x0141, {{0x1B, 0x0141, {}}, {0x90, 0x0142, {}}, {0x91, 0x0143, {}}}, hdmv));
    Bytes mtrm = MakeRegistrationDescriptor("MTRM", Bytes{1, 2, 3, 4, 5, 6});
    const Bytes rate = MakeDescriptor(0x0E, Bytes{0xC0, 0x10, 0x00});
    const Bytes vendor = MakeDescriptor(0x88, Bytes{9, 9, 9, 9});
    mtrm.insert(mtrm.end(), rate.begin(), rate.end());
    mtrm.insert(mtrm.end(), vendor.begin(), vendor.end());
    ts.AddSection(0x0150, Pmt(5, 0x0151, {{0x02, 0x0151, {}}, {0x81, 0x0152, {}}}, mtrm));

    // Private packets of the TSMV program: one unit each with exactly 181
    // bytes of private data, and one with fewer.
    TsPacket privatePacket;
    privatePacket.pid = 0x0111;
    AdaptationField af;
    af.privateData = Pattern(181, 1);
    privatePacket.adaptation = af;
    ts.Add(privatePacket);
    af.privateData = Pattern(100, 2);
    privatePacket.adaptation = af;
    ts.Add(privatePacket);
    af.privateData = Pattern(181, 3);
    privatePacket.adaptation = af;
    ts.Add(privatePacket);

    AddVideo(ts, 90000, 100, 0x0121, false);
    // SESF 0x80 audio: the 4-byte audio header behind the PES header.
    AddAudio(ts, 90000, STREAM_ID_PRIVATE_1, 0x0131, Bytes{0x01, 0xE0, 0x34, 0x40});
    AddVideo(ts, 90000, 100, 0x0141);
    AddVideo(ts, 90000, 100, 0x0142, false);
    AddVideo(ts, 90000, 100, 0x0151);
    AddAudio(ts, 90000, STREAM_ID_AUDIO_FIRST, 0x0131, Bytes{0x02, 0x00, 0x95, 0xC0});
    AddVideo(ts, 93003, 10, 0x0141);
    AddVideo(ts, 93003, 10, 0x0151);
    return ts.Take();
}

Bytes Ts192ZeroPrefixLostSync()
{
    CTsStreamBuilder ts(TS_UNIT_SIZE_192);
    ts.SetPrefixZero();
    AddProgram(ts, 0x1B, 0x81);
    AddVideo(ts, 90000, 400);
    const std::size_t broken = ts.AddNull();
    ts.BreakSync(broken);
    ts.AddRaw(Pattern(96, 1));
    AddProgram(ts, 0x1B, 0x81);
    AddVideo(ts, 93003, 400);
    AddVideo(ts, 96006, 10);
    return ts.Take();
}

Bytes Ts188AllSync(std::size_t length) { return Bytes(length, TS_SYNC_BYTE); }

Bytes Ps(bool mpeg1)
{
    CProgramStreamBuilder ps;
    PackHeaderParams pack;
    pack.mpeg1 = mpeg1;
    pack.stuffing = mpeg1 ? 0 : 2;
    pack.scrBase = 80000;
    ps.AddPack(pack);
    SystemHeaderParams system;
    system.streams = {{STREAM_ID_VIDEO_FIRST, true, 232}, {STREAM_ID_AUDIO_FIRST, false, 32}, {STREAM_ID_PRIVATE_1, false, 58}};
    ps.AddSystemHeader(system);
    for (std::uint64_t k = 0; k < 3; ++k) {
        const std::uint64_t pts = 90000 + k * 3003;
        if (mpeg1) {
            Mpeg1PesParams video;
            video.pts = pts;
            video.dts = pts - 3003;
            video.stuffing = 2;
            video.stdBuffer = std::make_pair(true, std::uint16_t{46});
            video.payload = Pattern(300, static_cast<std::uint8_t>(k));
            ps.AddMpeg1Pes(video);
            Mpeg1PesParams audio;
            audio.streamId = STREAM_ID_AUDIO_FIRST;
            audio.pts = pts;
            audio.payload = Pattern(100, 9);
            ps.AddMpeg1Pes(audio);
        } else {
            PesParams video;
            video.pts = pts;
            video.dts = pts - 3003;
            video.payload = Pattern(300, static_cast<std::uint8_t>(k));
            ps.AddPes(video);
            PesParams audio;
            audio.streamId = STREAM_ID_AUDIO_FIRST;
            audio.pts = pts;
            audio.payload = Pattern(100, 9);
            ps.AddPes(audio);
            // private_stream_1: AC-3 and LPCM sub-streams, one LPCM with a
            // first access unit pointer no header allows.
            PesParams ac3;
            ac3.streamId = STREAM_ID_PRIVATE_1;
            ac3.pts = pts;
            ac3.payload = Bytes{0x80, 0x01, 0x00, 0x01, 0x0B, 0x77};
            const Bytes frame = Pattern(60, 4);
            ac3.payload.insert(ac3.payload.end(), frame.begin(), frame.end());
            ps.AddPes(ac3);
            PesParams lpcm = ac3;
            lpcm.payload = Bytes{0xA0, 0x01, 0x00, k == 1 ? std::uint8_t{2} : std::uint8_t{4}, 0x01, 0x81, 0x80};
            lpcm.payload.insert(lpcm.payload.end(), frame.begin(), frame.end());
            ps.AddPes(lpcm);
            PesParams private2;
            private2.streamId = STREAM_ID_PRIVATE_2;
            private2.payload = Pattern(40, 2);
            ps.AddPes(private2);
        }
        PesParams padding;
        padding.streamId = STREAM_ID_PADDING;
        padding.payload = Bytes(30, 0xFF);
        ps.AddPes(padding);
        pack.scrBase += 3003;
        ps.AddPack(pack);
    }
    ps.AddEnd();
    return ps.Take();
}

Bytes PsPackFormChange()
{
    CProgramStreamBuilder ps;
    PackHeaderParams pack;
    ps.AddPack(pack);
    PesParams video;
    video.pts = 90000;
    video.payload = Pattern(200, 1);
    ps.AddPes(video);
    PackHeaderParams mpeg1;
    mpeg1.mpeg1 = true;
    ps.AddPack(mpeg1);
    ps.AddPes(video);
    ps.AddPack(mpeg1);
    Mpeg1PesParams old;
    old.pts = 93003;
    old.payload = Pattern(200, 2);
    ps.AddMpeg1Pes(old);
    PesParams broken = video;  // PES_packet_length past the end of the data
    broken.packetLengthOverride = 0xFFF0;
    ps.AddPack(pack);
    ps.AddPes(broken);
    return ps.Take();
}

Bytes PsJunkBeforePack()
{
    CProgramStreamBuilder ps;
    ps.AddRaw(Pattern(70, 5));
    const Bytes bogus{0x00, 0x00, 0x01, 0xBA, 0xC4, 0x00};  // a pack start code with a bad marker
    ps.AddRaw(bogus);
    const Bytes body = Ps(false);
    ps.AddRaw(body);
    return ps.Take();
}

Bytes JunkRandom()
{
    Bytes out(3000);
    std::uint32_t state = 0x2545F491u;
    for (std::uint8_t& b : out) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
        if (b == TS_SYNC_BYTE || b == 0)
            b = 0x99;
    }
    return out;
}

Bytes JunkShort()
{
    Bytes bytes = Regular(TS_UNIT_SIZE_188).Take();
    bytes.resize(4 * 188);  // four packets: too few for the run check
    return bytes;
}

// Elementary headers as a stream writes them at the start of a unit:
// MPEG-2 720x576 4:3 at 25 frames (sequence header, extension, picture
// start), AVC Baseline 3.0 at 720x576 (sequence parameter set), AC-3 5.1 at
// 48 kHz, MPEG audio layer II at 256 kbit/s and 48 kHz.
const Bytes MPEG2_HEADERS{0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x23, 0x15, 0xF9, 0x23, 0x80,
                          0x00, 0x00, 0x01, 0xB5, 0x14, 0x82, 0x00, 0x01, 0x00, 0x00,
                          0x00, 0x00, 0x01, 0x00, 0x00, 0x0F};
const Bytes AVC_HEADERS{0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x67,
                        0x42, 0x00, 0x1E, 0xDA, 0x02, 0xD0, 0x49, 0x90};
const Bytes AC3_HEADER{0x0B, 0x77, 0x00, 0x00, 0x14, 0x40, 0xE1};
const Bytes MPEG_AUDIO_HEADER{0xFF, 0xFD, 0xC4, 0x04};

// One program whose units begin with those headers, over a few video
// units, so the probe finds facts, time stamps and a rate to measure.
Bytes ElementaryHeaders(std::size_t unitSize, std::uint8_t videoType)
{
    CTsStreamBuilder ts(unitSize);
    if (unitSize == TS_UNIT_SIZE_192)
        ts.SetArrivalTime(1000, 7520);
    constexpr std::uint16_t PID_AC3 = 0x0202;
    ts.AddSection(TS_PID_PAT, Pat({{1, PID_PMT}}));
    ts.AddSection(PID_PMT, Pmt(1, PID_VIDEO, {{videoType, PID_VIDEO, {}}, {0x04, PID_AUDIO, {}}, {0x81, PID_AC3, {}}}));
    for (std::uint64_t k = 0; k < 4; ++k) {
        const std::uint64_t pts = 90000 + k * 3600;
        PesParams video;
        video.pts = pts;
        video.dts = pts;
        video.unbounded = true;
        video.payload = videoType == 0x1B ? AVC_HEADERS : MPEG2_HEADERS;
        const Bytes body = Pattern(300 - 60 * k, static_cast<std::uint8_t>(k));
        video.payload.insert(video.payload.end(), body.begin(), body.end());
        PesPacketOptions options;
        options.randomAccess = k == 0;
        options.pcrBase = pts - 9000;
        ts.AddPes(PID_VIDEO, MakePes(video), options);
        AddAudio(ts, 90000 + k * 2160, STREAM_ID_AUDIO_FIRST, PID_AUDIO, MPEG_AUDIO_HEADER);
        AddAudio(ts, 90000 + k * 2880, STREAM_ID_PRIVATE_1, PID_AC3, AC3_HEADER);
    }
    return ts.Take();
}

// The corpora a seed goes to.
enum : unsigned { DEMUX = 1, PROBE = 2, SEEK = 4 };

struct SSeed
{
    const char* name;
    std::uint8_t control;
    std::function<Bytes()> make;
    unsigned targets;
};

const std::vector<SSeed>& Seeds()
{
    static const std::vector<SSeed> seeds = {
        {"ts188-basic", WHOLE_THEN_188, Ts188Basic, DEMUX | PROBE | SEEK},
        {"ts188-basic-bytewise", BYTE_BY_BYTE_AFTER_1000, Ts188Basic, DEMUX},
        {"ts188-inside-packet", IRREGULAR_64, [] { return StartInsideUnit(TS_UNIT_SIZE_188, 100); }, DEMUX | PROBE | SEEK},
        {"ts188-transport-errors", SEVENS_AFTER_4000, Ts188TransportErrors, DEMUX | SEEK},
        {"ts188-lost-sync", PIECES_OF_1000, Ts188LostSync, DEMUX | SEEK},
        {"ts188-adaptation-fields", WHOLE_THEN_188 | 0x20, Ts188AdaptationFields, DEMUX},
        {"ts188-sections", IRREGULAR_64, Ts188Sections, DEMUX | PROBE},
        {"ts188-table-versions", 0x5D, Ts188TableVersions, DEMUX | SEEK},
        {"ts188-elementary-before-tables", 0x12, Ts188ElementaryBeforeTables, DEMUX},
        {"ts188-discontinuity-information", 0x83, Ts188DiscontinuityInformation, DEMUX | SEEK},
        {"ts188-truncated", 0x01, Ts188Truncated, DEMUX | SEEK},
        {"ts188-continuity", 0x26, Ts188Continuity, DEMUX | SEEK},
        {"ts188-pes-headers", 0x0B, Ts188PesHeaders, DEMUX | PROBE},
        {"ts188-registrations", 0x14, Ts188Registrations, DEMUX | PROBE},
        {"ts188-all-sync-short", WHOLE_THEN_188, [] { return Ts188AllSync(2000); }, DEMUX},
        {"ts188-all-sync-long", 0x06, [] { return Ts188AllSync(4000); }, DEMUX},
        {"ts192-arrival-avc", WHOLE_THEN_192, Ts192ArrivalAvc, DEMUX | PROBE | SEEK},
        {"ts192-inside-unit", 0x2B, [] { return StartInsideUnit(TS_UNIT_SIZE_192, 190); }, DEMUX | PROBE | SEEK},
        {"ts192-prefix-sync-0", WHOLE_THEN_192, [] { return Ts192PrefixSync(0); }, DEMUX},
        {"ts192-prefix-sync-1", 0x0D, [] { return Ts192PrefixSync(1); }, DEMUX},
        {"ts192-prefix-sync-2", 0x5A, [] { return Ts192PrefixSync(2); }, DEMUX},
        {"ts192-prefix-sync-3", 0x21, [] { return Ts192PrefixSync(3); }, DEMUX},
        {"ts192-lost-sync", 0x05, Ts192ZeroPrefixLostSync, DEMUX | SEEK},
        {"ts192-packed-maps", WHOLE_THEN_192, Ts192PackedMaps, DEMUX | PROBE},
        {"ts192-truncated", 0x1C, Ts192Truncated, DEMUX},
        {"ps-mpeg2", 0x02, [] { return Ps(false); }, DEMUX | PROBE | SEEK},
        {"ps-mpeg1", 0x29, [] { return Ps(true); }, DEMUX | PROBE | SEEK},
        {"ps-pack-form-change", 0x01, PsPackFormChange, DEMUX},
        {"ps-junk-before-pack", 0x0E, PsJunkBeforePack, DEMUX | SEEK},
        {"junk-random", 0x85, JunkRandom, DEMUX},
        {"junk-short", 0x03, JunkShort, DEMUX | PROBE},
        {"ts188-elementary-headers", WHOLE_THEN_188, [] { return ElementaryHeaders(TS_UNIT_SIZE_188, 0x02); },
         DEMUX | PROBE | SEEK},
        {"ts192-elementary-headers-avc", 0x44, [] { return ElementaryHeaders(TS_UNIT_SIZE_192, 0x1B); },
         DEMUX | PROBE},
    };
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path dir = argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::path(VSK_FUZZ_CORPUS_DIR);
    try {
        const std::pair<unsigned, const char*> folders[] = {{DEMUX, "demux"}, {PROBE, "probe"}, {SEEK, "seek"}};
        for (const auto& [target, folder] : folders)
            std::filesystem::create_directories(dir / folder);
        for (const SSeed& seed : Seeds()) {
            Bytes bytes{seed.control};
            const Bytes stream = seed.make();
            bytes.insert(bytes.end(), stream.begin(), stream.end());
            if (bytes.size() > MAX_SEED_BYTES)
                throw std::runtime_error(std::string(seed.name) + " is larger than a seed should be");
            std::string to;
            for (const auto& [target, folder] : folders) {
                if ((seed.targets & target) != 0) {
                    WriteFileBytes(dir / folder / (std::string(seed.name) + ".bin"), bytes);
                    to += std::string(" ") + folder;
                }
            }
            std::printf("%-36s %5zu bytes,%s\n", seed.name, bytes.size(), to.c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_corpus: %s\n", e.what());
        return 1;
    }
    return 0;
}
