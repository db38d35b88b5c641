#include "StreamProbe.h"

#include "PesHeader.h"
#include "StreamReader.h"
#include "StreamSet.h"
#include "TimeSeek.h"
#include "TransportStream.h"

#include "platform/file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace parser {
namespace {

// The reader as the time seek sets it up, without packet lists.
constexpr std::uint32_t PROBE_HISTORY_MODE = 0;
constexpr std::uint32_t PROBE_SELECTION_MODE = 4;
constexpr std::uint32_t PROBE_PROFILE_LEVEL = PROFILE_LEVEL_UNKNOWN;
constexpr std::uint32_t PROBE_BUFFER_SIZE = DEFAULT_BUFFER_SIZE;

bool InRange(std::uint32_t value, std::uint32_t first, std::uint32_t last) noexcept
{
    return value >= first && value <= last;
}

std::uint32_t Clamp32(std::uint64_t value) noexcept
{
    return value > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                             : static_cast<std::uint32_t>(value);
}

struct SKindOfStream {
    std::uint32_t category;
    std::uint32_t codec;
};

// A transport stream's stream_type, as the library classifies it.
SKindOfStream ClassifyStreamType(std::uint32_t streamType, std::uint32_t system) noexcept
{
    switch (streamType) {
    case 0x01:
    case 0x02:
        return {VSK_PROBE_STREAM_VIDEO, VSK_PROBE_CODEC_MPEG2_VIDEO};
    case 0x1B:
        return {VSK_PROBE_STREAM_VIDEO, VSK_PROBE_CODEC_AVC};
    case 0x90:
    case 0x91:
        return system == SystemHDMV ? SKindOfStream{VSK_PROBE_STREAM_VIDEO, VSK_PROBE_CODEC_UNKNOWN}
                                    : SKindOfStream{VSK_PROBE_STREAM_OTHER, VSK_PROBE_CODEC_UNKNOWN};
    case 0x03:
    case 0x04:
        return {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_MPEG_AUDIO};
    case 0x81:
        return {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_AC3};
    case 0x82:
        return {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_LPCM};
    case 0x80:
        return system == SystemSESF ? SKindOfStream{VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_LPCM}
                                    : SKindOfStream{VSK_PROBE_STREAM_OTHER, VSK_PROBE_CODEC_UNKNOWN};
    default:
        return {VSK_PROBE_STREAM_OTHER, VSK_PROBE_CODEC_UNKNOWN};
    }
}

// A program stream's stream_id and private sub-stream. The video codec is
// told by the headers found.
SKindOfStream ClassifyStreamId(std::uint32_t streamId, std::uint32_t subStreamId) noexcept
{
    if (InRange(streamId, STREAM_ID_VIDEO_FIRST, STREAM_ID_VIDEO_LAST))
        return {VSK_PROBE_STREAM_VIDEO, VSK_PROBE_CODEC_UNKNOWN};
    if (InRange(streamId, STREAM_ID_AUDIO_FIRST, STREAM_ID_AUDIO_LAST))
        return {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_MPEG_AUDIO};
    if (streamId == STREAM_ID_PRIVATE_STREAM_1) {
        if (InRange(subStreamId, 0x80, 0x87))
            return {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_AC3};
        if (InRange(subStreamId, 0xA0, 0xA7))
            return {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_LPCM};
        if (InRange(subStreamId, 0x88, 0x8F))
            return {VSK_PROBE_STREAM_AUDIO, VSK_PROBE_CODEC_UNKNOWN};
    }
    return {VSK_PROBE_STREAM_OTHER, VSK_PROBE_CODEC_UNKNOWN};
}

// The sub-stream id of a private_stream_1 unit: the reader's, once it has
// confirmed an audio sub-stream and taken its header off; before that (and
// for the other sub-streams) the first payload byte, which is the id.
std::uint32_t SubStreamOf(const SUnitInfo& unit) noexcept
{
    if (unit.header.streamId != STREAM_ID_PRIVATE_STREAM_1)
        return 0;
    if (InRange(unit.subStreamId, 0x80, 0x87) || InRange(unit.subStreamId, 0xA0, 0xA7))
        return unit.subStreamId;
    return unit.payload != nullptr && unit.payloadLength > 0 ? unit.payload[0] : 0;
}

// Whether the clock between two units (dc ticks apart by their decoding
// times, de by their bytes at the head's rate) ran on: within a factor of
// 1.5 of the bytes' time, or a second.
bool ClockRunsOn(std::int64_t dc, double de) noexcept
{
    const double clock = static_cast<double>(dc);
    return std::abs(clock - de) <= static_cast<double>(CLOCK_STEP_BACK_TICKS) ||
           (clock >= de / 1.5 && clock <= de * 1.5);
}

// Whether the clock between two close units jumped.
bool ClockJumped(std::int64_t dc, double de) noexcept
{
    return dc < -CLOCK_STEP_BACK_TICKS || static_cast<double>(dc) > 4 * de + static_cast<double>(CLOCK_STEP_FORWARD_TICKS);
}

// The play time from `from` to `to` (see the header): halves that do not fit
// the head's rate are looked into with `sample`, which gives the first unit
// at or behind a position, or false; the shortest ones that hold a jump are
// read through with `bridge`, which gives the play time across one, or
// false.
template <typename TSample, typename TBridge>
std::int64_t MiddleTicks(SProbePoint from, SProbePoint to, double bytesPerTick, TSample sample, TBridge bridge,
                         SProbeStats& stats) noexcept
{
    struct SSpan {
        SProbePoint a;
        SProbePoint b;
    };
    // Each sample splits one span in two: never more spans than samples + 1.
    std::array<SSpan, PROBE_SAMPLES + 1> spans{};
    std::size_t open = 0;
    spans[open++] = SSpan{from, to};
    std::int64_t total = 0;
    while (open != 0) {
        const SSpan span = spans[--open];
        const std::int64_t dc = PtsDistance(span.b.dts, span.a.dts);
        const double de = static_cast<double>(span.b.position - span.a.position) / bytesPerTick;
        if (ClockRunsOn(dc, de)) {
            total += dc;
            continue;
        }
        SProbePoint middle;
        const bool looked = span.b.position - span.a.position > std::int64_t{PROBE_SHORTEST_SPAN} &&
                            stats.samples < PROBE_SAMPLES && open + 2 <= spans.size();
        if (looked && (++stats.samples, sample((span.a.position + span.b.position) / 2, middle)) &&
            middle.position > span.a.position && middle.position < span.b.position) {
            spans[open++] = SSpan{middle, span.b};
            spans[open++] = SSpan{span.a, middle};
            continue;
        }
        if (!ClockJumped(dc, de)) {
            total += dc;
            continue;
        }
        std::int64_t across = 0;
        const bool bridged = stats.bridges < PROBE_BRIDGES &&
                             span.b.position - span.a.position <= std::int64_t{PROBE_BRIDGE_BYTES} &&
                             (++stats.bridges, bridge(span.a, span.b, across));
        total += bridged ? across : static_cast<std::int64_t>(de);
    }
    return total;
}

}  // namespace

CStreamProbe::CStreamProbe() = default;

CStreamProbe::~CStreamProbe() = default;

Result CStreamProbe::BeginRun(bool head, std::int64_t offset) noexcept
{
    if (!head && !m_headDone)
        return ResultSetupFailed;
    m_reader.reset(new (std::nothrow) CStreamReader);
    if (!m_reader || m_reader->Initialize() != RESULT_OK) {
        m_reader.reset();
        return ResultNoMemory;
    }
    m_reader->Configure(PROBE_HISTORY_MODE, PROBE_SELECTION_MODE, PROBE_PROFILE_LEVEL, PROBE_BUFFER_SIZE,
                        head ? STREAM_KIND_UNKNOWN : m_kind);
    m_head = head;
    m_runOffset = offset;
    m_runStopped = false;
    m_look = ELook::None;
    m_stamps.BeginRun();
    return RESULT_OK;
}

void CStreamProbe::BeginSample(const SJoin& join) noexcept
{
    m_look = ELook::Sample;
    m_lookOf = join;
    m_sampled = false;
}

void CStreamProbe::BeginBridge(const SJoin& join, const SProbePoint& from, const SProbePoint& to) noexcept
{
    m_look = ELook::Bridge;
    m_lookOf = join;
    m_bridge = SBridge{};
    m_bridge.from = from;
    m_bridge.to = to;
    const SEntry* reference = Reference();
    m_bridge.clock.SetFrameTicks(reference != nullptr ? static_cast<std::int64_t>(FrameTicks(*reference)) : 0);
}

bool CStreamProbe::Bridged(std::int64_t& ticks) const noexcept
{
    if (!m_bridge.done)
        return false;
    ticks = m_bridge.ticks;
    return true;
}

bool CStreamProbe::LookAt(const SUnitInfo& unit) noexcept
{
    const bool ofStream = m_kind == STREAM_KIND_PROGRAM
                              ? unit.header.streamId == m_lookOf.streamId && SubStreamOf(unit) == m_lookOf.subStreamId
                              : unit.programNumber == m_lookOf.programNumber && unit.elementaryPid == m_lookOf.pid;
    if (!ofStream || !HasPts(unit.header.ptsDtsFlags))
        return true;
    const std::int64_t position = m_runOffset + unit.position;
    if (m_look == ELook::Sample) {
        m_sample = SProbePoint{position, unit.header.dts, m_runOffset};
        m_sampled = true;
        return false;
    }
    // The units before `from` tell the latest picture shown before a jump
    // right behind it; the play time counts from `from`.
    SBridge& b = m_bridge;
    if (!b.clock.Started())
        b.clock.Begin(unit.header.dts, 0);
    const std::int64_t discontinuity = unit.pcr.discontinuityPosition;
    b.clock.Take(unit.header, position, discontinuity >= 0 ? m_runOffset + discontinuity : -1);
    if (position >= b.from.position && !b.reached) {
        // Begun behind the jump, the read would leave the part before it
        // unseen.
        const std::int64_t toFrom = PtsDistance(unit.header.dts, b.from.dts);
        if (ClockStepJumps(toFrom))
            return false;
        b.reached = true;
        b.base = b.clock.LastPlayDts() - toFrom;
    }
    if (position < b.to.position)
        return true;
    b.done = b.reached && position == b.to.position;
    b.ticks = b.clock.LastPlayDts() - b.base;
    return false;
}

bool CStreamProbe::Sampled(SProbePoint& point) const noexcept
{
    if (!m_sampled)
        return false;
    point = m_sample;
    return true;
}

void CStreamProbe::SetMiddleTicks(std::int64_t ticks) noexcept
{
    m_middleSet = true;
    m_middleTicks = ticks;
}

Result CStreamProbe::Feed(const std::uint8_t* bytes, std::uint32_t length) noexcept
{
    if (!m_reader || m_runStopped || bytes == nullptr || length == 0)
        return RESULT_OK;
    const Result fed = m_reader->Feed(bytes, length);
    if (fed != RESULT_OK) {
        m_runStopped = true;
        if (fed == ResultUnsupported && m_head && m_kind == STREAM_KIND_UNKNOWN)
            return ResultUnsupported;
        // A reader that could not be set up lacked memory; anything else ends
        // this read with what it found.
        if (fed == ResultNoMemory || fed == ResultSetupFailed)
            return ResultNoMemory;
        return RESULT_OK;
    }
    if (m_head && m_kind == STREAM_KIND_UNKNOWN)
        m_kind = m_reader->Kind();
    if (m_kind == STREAM_KIND_TS192 && m_look == ELook::None)
        m_stamps.Feed(bytes, length);
    std::int32_t units = 0;
    while ((units = m_reader->NextUnits()) > 0) {
        SUnitInfo unit;
        if (m_reader->TakeUnit(unit) != RESULT_OK) {
            m_runStopped = true;
            return RESULT_OK;
        }
        if (m_look == ELook::None) {
            TakeUnit(unit);
        } else if (!LookAt(unit)) {
            m_runStopped = true;
            return RESULT_OK;
        }
        m_reader->ReleaseUnit(unit);
    }
    if (units < 0)
        m_runStopped = true;
    return RESULT_OK;
}

void CStreamProbe::EndRun(bool endOfFile) noexcept
{
    if (!m_reader)
        return;
    if (m_head) {
        if (m_kind == STREAM_KIND_PROGRAM)
            m_programCount = 1;
        else
            ListMappedStreams();
        m_headDone = true;
    }
    if (endOfFile)
        TakeUnfinishedUnits();
    m_reader.reset();
}

CStreamProbe::SEntry* CStreamProbe::FindTransportEntry(std::uint32_t programNumber, std::uint32_t pid) noexcept
{
    for (std::uint32_t i = 0; i < m_entryCount; ++i) {
        if (m_entries[i].programNumber == programNumber && m_entries[i].pid == pid)
            return &m_entries[i];
    }
    return nullptr;
}

CStreamProbe::SEntry* CStreamProbe::FindProgramStreamEntry(std::uint32_t streamId, std::uint32_t subStreamId) noexcept
{
    for (std::uint32_t i = 0; i < m_entryCount; ++i) {
        if (m_entries[i].streamId == streamId && m_entries[i].subStreamId == subStreamId)
            return &m_entries[i];
    }
    return nullptr;
}

CStreamProbe::SEntry* CStreamProbe::AddEntry() noexcept
{
    if (m_entryCount >= m_entries.size())
        return nullptr;
    SEntry& entry = m_entries[m_entryCount++];
    entry = SEntry{};
    return &entry;
}

void CStreamProbe::TakeUnit(const SUnitInfo& unit) noexcept
{
    SEntry* entry = nullptr;
    if (m_kind == STREAM_KIND_PROGRAM) {
        const std::uint32_t streamId = unit.header.streamId;
        const std::uint32_t subStreamId = SubStreamOf(unit);
        entry = FindProgramStreamEntry(streamId, subStreamId);
        if (entry == nullptr && m_head && (entry = AddEntry()) != nullptr) {
            entry->streamType = unit.streamType;
            entry->streamId = streamId;
            entry->subStreamId = subStreamId;
            entry->order = m_nextOrder++;
            const SKindOfStream kind = ClassifyStreamId(streamId, subStreamId);
            entry->category = kind.category;
            entry->codec = kind.codec;
        }
    } else {
        const CTransportStream* demux = m_reader->TransportStream();
        const CStreamSet* set = demux != nullptr ? demux->Streams(unit.programIndex) : nullptr;
        if (set == nullptr || unit.streamIndex >= set->StreamCount())
            return;
        const std::uint32_t pid = set->Stream(unit.streamIndex).elementaryPid;
        entry = FindTransportEntry(unit.programNumber, pid);
        if (entry == nullptr && m_head && (entry = AddEntry()) != nullptr) {
            entry->programIndex = unit.programIndex;
            entry->programNumber = unit.programNumber;
            entry->pid = pid;
            entry->streamType = unit.streamType;
            entry->order = (std::min<std::uint32_t>(unit.programIndex, 0xFFFF) << 16) |
                           std::min<std::uint32_t>(unit.streamIndex, 0xFFFF);
            const SKindOfStream kind = ClassifyStreamType(unit.streamType, unit.system);
            entry->category = kind.category;
            entry->codec = kind.codec;
        }
    }
    if (entry == nullptr)
        return;
    if (entry->streamId == 0)
        entry->streamId = unit.header.streamId;
    ReadHeaders(*entry, unit);

    if (!HasPts(unit.header.ptsDtsFlags)) {
        if (m_head && entry->timed)
            entry->bytesPending += unit.payloadLength;
        return;
    }
    if (m_head) {
        // The record holds the PTS as DTS when there is no DTS.
        const std::uint64_t dts = unit.header.dts;
        if (!entry->timed) {
            entry->timed = true;
            entry->firstDts = dts;
            entry->bytesPending = unit.payloadLength;
        } else {
            entry->bytesCounted += entry->bytesPending;
            entry->bytesPending = unit.payloadLength;
            entry->dtsSpan = PtsDistance(dts, entry->firstDts);
        }
    }
    const std::int64_t discontinuity = unit.pcr.discontinuityPosition;
    NotePts(*entry, unit.header, m_runOffset + unit.position, discontinuity >= 0 ? m_runOffset + discontinuity : -1);
}

void CStreamProbe::NotePts(SEntry& entry, const SPesHeader& header, std::int64_t position,
                           std::int64_t discontinuity) noexcept
{
    // A jump of the clock plays on one frame, as soon as the headers tell it.
    const auto frame = static_cast<std::int64_t>(FrameTicks(entry));
    entry.headClock.SetFrameTicks(frame);
    entry.tailClock.SetFrameTicks(frame);
    if (m_head) {
        // Play time counts from the first time stamp of the head.
        if (!entry.ptsSeen) {
            entry.ptsSeen = true;
            entry.headClock.Begin(header.pts, 0);
            entry.earliest = entry.latest = entry.headClock.Take(header, position, discontinuity);
            entry.headFirstPosition = position;
            entry.headFirstPlayDts = entry.headClock.LastPlayDts();
            return;
        }
        const std::int64_t play = entry.headClock.Take(header, position, discontinuity);
        entry.earliest = std::min(entry.earliest, play);
        entry.latest = std::max(entry.latest, play);
        return;
    }
    if (!entry.ptsSeen)
        return;
    // The tail's play time counts from its first decoding time; Report puts
    // it behind the head's.
    if (!entry.tailSeen) {
        entry.tailSeen = true;
        entry.tailClock.Begin(header.dts, 0);
        entry.tailFirst = SProbePoint{position, header.dts, m_runOffset};
        entry.tailEarliest = entry.tailLatest = entry.tailClock.Take(header, position, discontinuity);
        return;
    }
    const std::int64_t play = entry.tailClock.Take(header, position, discontinuity);
    entry.tailEarliest = std::min(entry.tailEarliest, play);
    entry.tailLatest = std::max(entry.tailLatest, play);
}

const CStreamProbe::SEntry* CStreamProbe::Reference() const noexcept
{
    // The first video stream of the listing with a time stamp, else the
    // first audio stream.
    const SEntry* reference = nullptr;
    for (const std::uint32_t category : {VSK_PROBE_STREAM_VIDEO, VSK_PROBE_STREAM_AUDIO}) {
        for (std::uint32_t i = 0; i < m_entryCount; ++i) {
            const SEntry& entry = m_entries[i];
            if (entry.category == category && entry.ptsSeen && (reference == nullptr || entry.order < reference->order))
                reference = &entry;
        }
        if (reference != nullptr)
            break;
    }
    return reference;
}

bool CStreamProbe::JoinPoints(SJoin& join) const noexcept
{
    const SEntry* reference = Reference();
    if (reference == nullptr || !reference->tailSeen || !reference->headClock.Started())
        return false;
    join = SJoin{};
    // A read from the head's last unit itself is the nearest that meets
    // it again, should the maps come in time.
    const std::int64_t headLast = reference->headClock.LastPosition();
    join.headLast = SProbePoint{headLast, reference->headClock.LastDts(), headLast};
    join.tailFirst = reference->tailFirst;
    const std::int64_t bytes = join.headLast.position - reference->headFirstPosition;
    const std::int64_t ticks = reference->headClock.LastPlayDts() - reference->headFirstPlayDts;
    join.bytesPerTick = bytes > 0 && ticks > 0 ? static_cast<double>(bytes) / static_cast<double>(ticks) : 0.0;
    join.programNumber = reference->programNumber;
    join.pid = reference->pid;
    join.streamId = reference->streamId;
    join.subStreamId = reference->subStreamId;
    return true;
}

void CStreamProbe::ReadHeaders(SEntry& entry, const SUnitInfo& unit) noexcept
{
    if (unit.payload == nullptr || unit.payloadLength == 0)
        return;
    if (entry.category == VSK_PROBE_STREAM_VIDEO) {
        if (entry.videoSearch != EVideoSearch::Complete)
            ReadVideoFacts(entry, unit);
        ReadPictures(entry, unit);
        return;
    }
    if (entry.category != VSK_PROBE_STREAM_AUDIO || entry.audioFound)
        return;
    if (entry.codec == VSK_PROBE_CODEC_AC3)
        entry.audioFound = FindAc3Facts(unit.payload, unit.payloadLength, entry.audio);
    else if (entry.codec == VSK_PROBE_CODEC_MPEG_AUDIO)
        entry.audioFound = FindMpegAudioFacts(unit.payload, unit.payloadLength, entry.audio);
}

void CStreamProbe::ReadVideoFacts(SEntry& entry, const SUnitInfo& unit) noexcept
{
    const bool mpeg = entry.codec == VSK_PROBE_CODEC_MPEG2_VIDEO || entry.codec == VSK_PROBE_CODEC_UNKNOWN;
    if (mpeg) {
        SVideoFacts facts;
        const EVideoSearch found = FindMpegVideoFacts(unit.payload, unit.payloadLength, facts);
        if (found == EVideoSearch::Complete ||
            (found == EVideoSearch::HeaderOnly && entry.videoSearch == EVideoSearch::None)) {
            entry.video = facts;
            entry.videoSearch = found;
            entry.codec = VSK_PROBE_CODEC_MPEG2_VIDEO;
        }
    }
    // A program stream's video may be AVC: looked for while nothing of
    // MPEG video was found.
    const bool avc = entry.codec == VSK_PROBE_CODEC_AVC ||
                     (entry.codec == VSK_PROBE_CODEC_UNKNOWN && m_kind == STREAM_KIND_PROGRAM);
    if (avc) {
        SVideoFacts facts;
        if (FindAvcVideoFacts(unit.payload, unit.payloadLength, facts)) {
            entry.video = facts;
            entry.videoSearch = EVideoSearch::Complete;
            entry.codec = VSK_PROBE_CODEC_AVC;
        }
    }
}

void CStreamProbe::ReadPictures(SEntry& entry, const SUnitInfo& unit) noexcept
{
    // Once a sequence is known progressive, or a picture is not, the
    // pictures have nothing more to tell.
    if (entry.codec != VSK_PROBE_CODEC_MPEG2_VIDEO || entry.pictures.progressiveFrames != entry.pictures.pictures ||
        (entry.videoSearch == EVideoSearch::Complete && entry.video.progressive != 0))
        return;
    CountMpegPictures(unit.payload, unit.payloadLength, entry.pictures);
}

void CStreamProbe::ListMappedStreams() noexcept
{
    const CTransportStream* demux = m_reader->TransportStream();
    m_programCount = 0;
    if (demux == nullptr)
        return;
    for (std::uint32_t p = 0; p < demux->ProgramCount(); ++p) {
        const CPmapSection* pmt = demux->ActivePmt(p);
        const CStreamSet* set = demux->Streams(p);
        if (pmt == nullptr)
            continue;
        ++m_programCount;
        if (set == nullptr)
            continue;
        for (std::uint32_t s = 0; s < set->StreamCount(); ++s) {
            const SKeptStream& kept = set->Stream(s);
            if (FindTransportEntry(pmt->ProgramNumber(), kept.elementaryPid) != nullptr)
                continue;
            SEntry* entry = AddEntry();
            if (entry == nullptr)
                return;
            entry->programIndex = p;
            entry->programNumber = pmt->ProgramNumber();
            entry->pid = kept.elementaryPid;
            entry->streamType = kept.streamType;
            entry->order = (std::min<std::uint32_t>(p, 0xFFFF) << 16) | std::min<std::uint32_t>(s, 0xFFFF);
            const SKindOfStream kind = ClassifyStreamType(kept.streamType, set->System());
            entry->category = kind.category;
            entry->codec = kind.codec;
        }
    }
}

void CStreamProbe::TakeUnfinishedUnits() noexcept
{
    const CTransportStream* demux = m_kind == STREAM_KIND_PROGRAM ? nullptr : m_reader->TransportStream();
    if (demux == nullptr)
        return;
    for (std::uint32_t p = 0; p < demux->ProgramCount(); ++p) {
        const CPmapSection* pmt = demux->ActivePmt(p);
        const CStreamSet* set = demux->Streams(p);
        if (pmt == nullptr || set == nullptr)
            continue;
        for (std::uint32_t s = 0; s < set->StreamCount(); ++s) {
            const SKeptStream& kept = set->Stream(s);
            SPesHeader header;
            if (!kept.assembler || !kept.assembler->IsVideo() || !kept.assembler->UnfinishedUnitHeader(header) ||
                !HasPts(header.ptsDtsFlags))
                continue;
            SEntry* entry = FindTransportEntry(pmt->ProgramNumber(), kept.elementaryPid);
            if (entry == nullptr)
                continue;
            // Behind every unit taken, on the clock of the last one.
            const CPlayClock& clock = m_head ? entry->headClock : entry->tailClock;
            NotePts(*entry, header, clock.LastPosition() + 1, -1);
        }
    }
}

std::uint64_t CStreamProbe::FrameTicks(const SEntry& entry) noexcept
{
    if (entry.category == VSK_PROBE_STREAM_VIDEO && entry.video.frameRateNumerator != 0)
        return static_cast<std::uint64_t>(
            FrameTicksOfRate(entry.video.frameRateNumerator, entry.video.frameRateDenominator));
    if (entry.category == VSK_PROBE_STREAM_AUDIO && entry.audioFound && entry.audio.samplingRate != 0)
        return PTS_CLOCK_HZ * entry.audio.samplesPerFrame / entry.audio.samplingRate;
    return 0;
}

void CStreamProbe::FillStream(const SEntry& entry, SVskProbeStream& out) const noexcept
{
    out = SVskProbeStream{};
    out.category = entry.category;
    out.codec = entry.codec;
    out.programIndex = entry.programIndex;
    out.programNumber = entry.programNumber;
    out.pid = entry.pid;
    out.streamType = entry.streamType;
    out.streamId = entry.streamId;
    out.subStreamId = entry.subStreamId;
    std::uint32_t stated = 0;
    if (entry.category == VSK_PROBE_STREAM_VIDEO && entry.videoSearch != EVideoSearch::None) {
        const SVideoFacts& v = entry.video;
        out.width = v.width;
        out.height = v.height;
        out.frameRateNumerator = v.frameRateNumerator;
        out.frameRateDenominator = v.frameRateDenominator;
        out.displayAspectNumerator = v.displayAspectNumerator;
        out.displayAspectDenominator = v.displayAspectDenominator;
        out.sampleAspectNumerator = v.sampleAspectNumerator;
        out.sampleAspectDenominator = v.sampleAspectDenominator;
        out.profile = v.profile;
        out.level = v.level;
        const SMpegPictureCount& pictures = entry.pictures;
        const bool progressiveFrames =
            entry.codec == VSK_PROBE_CODEC_MPEG2_VIDEO && pictures.pictures != 0 &&
            pictures.progressiveFrames == pictures.pictures;
        out.progressive = v.progressive != 0 || progressiveFrames ? 1 : 0;
        out.aspectRatioCode = v.aspectRatioCode;
        stated = v.bitRate;
    } else if (entry.category == VSK_PROBE_STREAM_AUDIO && entry.audioFound) {
        out.channels = entry.audio.channels;
        out.samplingRate = entry.audio.samplingRate;
        out.layer = entry.audio.layer;
        stated = entry.audio.bitRate;
    }
    if (stated != 0) {
        out.bitRate = stated;
    } else if (entry.timed && entry.dtsSpan > 0 && entry.bytesCounted > 0) {
        // bytes * 8 bits over dtsSpan / 90000 seconds; both factors are
        // far from overflowing for anything read from a few MiB.
        out.bitRate = Clamp32(entry.bytesCounted * 8 * PTS_CLOCK_HZ / static_cast<std::uint64_t>(entry.dtsSpan));
        out.bitRateMeasured = 1;
    }
}

void CStreamProbe::Report(std::int64_t fileSize, SVskStreamProbe& probe) const noexcept
{
    probe.streamKind = m_kind;
    probe.packetFormat = m_kind == STREAM_KIND_TS188   ? VSK_PROBE_FORMAT_188
                         : m_kind == STREAM_KIND_TS192 ? m_stamps.Format()
                                                       : VSK_PROBE_FORMAT_NONE;
    probe.fileSize = fileSize;
    probe.programCount = m_programCount;

    // The listing order: programs, then their streams; met order in a
    // program stream.
    std::array<std::uint32_t, PROBE_STREAMS_FOLLOWED> sorted{};
    for (std::uint32_t i = 0; i < m_entryCount; ++i)
        sorted[i] = i;
    std::stable_sort(sorted.begin(), sorted.begin() + m_entryCount, [this](std::uint32_t a, std::uint32_t b) {
        return m_entries[a].order < m_entries[b].order;
    });
    probe.streamCount = std::min<std::uint32_t>(m_entryCount, VSK_PROBE_MAX_STREAMS);
    for (std::uint32_t i = 0; i < probe.streamCount; ++i)
        FillStream(m_entries[sorted[i]], probe.streams[i]);

    const SEntry* reference = Reference();
    probe.durationMs = 0;
    probe.bitRate = 0;
    if (reference != nullptr) {
        std::int64_t earliest = reference->earliest;
        std::int64_t latest = reference->latest;
        if (reference->tailSeen) {
            const CPlayClock& head = reference->headClock;
            const std::int64_t middle =
                m_middleSet ? m_middleTicks : PtsDistance(reference->tailFirst.dts, head.LastDts());
            const std::int64_t tailStart = head.LastPlayDts() + middle;
            earliest = std::min(earliest, tailStart + reference->tailEarliest);
            latest = std::max(latest, tailStart + reference->tailLatest);
        }
        const std::uint64_t ticks = static_cast<std::uint64_t>(latest - earliest) + FrameTicks(*reference);
        probe.durationMs = Clamp32(ticks / PTS_TICKS_PER_MS);
    }
    if (probe.durationMs != 0 && fileSize > 0) {
        const std::uint64_t size = static_cast<std::uint64_t>(fileSize);
        const std::uint64_t whole = size / probe.durationMs;
        const std::uint64_t rest = size % probe.durationMs;
        probe.bitRate = whole > std::numeric_limits<std::uint32_t>::max() / 8000
                            ? std::numeric_limits<std::uint32_t>::max()
                            : Clamp32(whole * 8000 + rest * 8000 / probe.durationMs);
    }
}

std::int32_t ProbeStreamFile(const wchar_t* path, SVskStreamProbe* probe, SProbeStats* stats) noexcept
{
    if (probe == nullptr)
        return VSK_PARSER_RESULT_POINTER;
    if (probe->size < VSK_PROBE_SIZE_V1 || path == nullptr)
        return VSK_PARSER_RESULT_INVALIDARG;
    SProbeStats local;
    SProbeStats& counted = stats != nullptr ? *stats : local;
    counted = SProbeStats{};
    try {
        platform::CFile file;
        if (!file.Open(path, platform::EFileMode::READ_SHARED))
            return VSK_PARSER_RESULT_INVALIDARG;
        const std::int64_t size = file.Size();
        if (size < 0)
            return VSK_PARSER_RESULT_FAIL;
        std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[PROBE_READ_SIZE]);
        std::unique_ptr<CStreamProbe> prober(new (std::nothrow) CStreamProbe);
        std::unique_ptr<SVskStreamProbe> report(new (std::nothrow) SVskStreamProbe);
        if (!buffer || !prober || !report)
            return VSK_PARSER_RESULT_OUTOFMEMORY;

        const bool whole = size <= std::int64_t{PROBE_HEAD_BYTES} + PROBE_TAIL_BYTES;
        // Reads [from, from + limit) or to the end of the file; the result
        // of the first failure.
        auto run = [&](bool head, std::int64_t from, std::uint64_t limit) -> std::int32_t {
            if (!file.Seek(from))
                return VSK_PARSER_RESULT_FAIL;
            const Result begun = prober->BeginRun(head, from);
            if (begun != RESULT_OK)
                return begun == ResultNoMemory ? VSK_PARSER_RESULT_OUTOFMEMORY : VSK_PARSER_RESULT_FAIL;
            std::uint64_t done = 0;
            while (done < limit) {
                const std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(PROBE_READ_SIZE, limit - done));
                const std::int64_t got = file.Read(buffer.get(), want);
                if (got < 0)
                    return VSK_PARSER_RESULT_FAIL;
                if (got == 0)
                    break;
                done += static_cast<std::uint64_t>(got);
                counted.bytesRead += static_cast<std::uint64_t>(got);
                const Result fed = prober->Feed(buffer.get(), static_cast<std::uint32_t>(got));
                if (fed == ResultNoMemory)
                    return VSK_PARSER_RESULT_OUTOFMEMORY;
                if (fed != RESULT_OK)
                    return VSK_PARSER_RESULT_FAIL;
            }
            prober->EndRun(!head || whole);
            return VSK_PARSER_RESULT_OK;
        };

        const std::uint64_t headLimit = whole ? static_cast<std::uint64_t>(size) : PROBE_HEAD_BYTES;
        std::int32_t result = run(true, 0, headLimit);
        counted.headBytes = counted.bytesRead;
        if (result != VSK_PARSER_RESULT_OK)
            return result;
        if (prober->Kind() == STREAM_KIND_UNKNOWN)
            return VSK_PARSER_RESULT_FAIL;
        if (!whole) {
            counted.tailOffset = size - PROBE_TAIL_BYTES;
            result = run(false, counted.tailOffset, PROBE_TAIL_BYTES);
            if (result != VSK_PARSER_RESULT_OK)
                return result;
            CStreamProbe::SJoin join;
            if (prober->JoinPoints(join) && join.bytesPerTick > 0) {
                // Reads at most `limit` bytes from `from`, or until the look
                // `begin` starts has ended.
                const auto look = [&](std::int64_t from, std::uint64_t limit, auto begin) noexcept {
                    if (!file.Seek(from) || prober->BeginRun(false, from) != RESULT_OK)
                        return false;
                    begin();
                    std::uint64_t done = 0;
                    while (done < limit && !prober->LookEnded()) {
                        const std::int64_t got = file.Read(buffer.get(), PROBE_READ_SIZE);
                        if (got <= 0)
                            break;
                        done += static_cast<std::uint64_t>(got);
                        counted.bytesRead += static_cast<std::uint64_t>(got);
                        prober->Feed(buffer.get(), static_cast<std::uint32_t>(got));
                    }
                    prober->EndRun(false);
                    return true;
                };
                const auto sample = [&](std::int64_t from, SProbePoint& point) noexcept {
                    return look(from, PROBE_SAMPLE_BYTES, [&]() noexcept { prober->BeginSample(join); }) &&
                           prober->Sampled(point);
                };
                // From a little before where `from` was found, up to the unit
                // `to` and, as a video unit completes only when the next one
                // starts, a sample's worth behind it.
                const auto bridge = [&](const SProbePoint& from, const SProbePoint& to, std::int64_t& ticks) noexcept {
                    const std::int64_t start = std::max<std::int64_t>(0, from.origin - PROBE_BRIDGE_LEAD_BYTES);
                    const auto limit = static_cast<std::uint64_t>(to.position - start) + PROBE_SAMPLE_BYTES;
                    return look(start, limit, [&]() noexcept { prober->BeginBridge(join, from, to); }) &&
                           prober->Bridged(ticks);
                };
                prober->SetMiddleTicks(
                    MiddleTicks(join.headLast, join.tailFirst, join.bytesPerTick, sample, bridge, counted));
            }
        }
        prober->Report(size, *report);
        // As much of the structure as the caller's version has.
        const std::uint32_t callerSize = probe->size;
        const std::size_t filled = std::min<std::size_t>(callerSize, sizeof(SVskStreamProbe));
        std::memcpy(probe, report.get(), filled);
        probe->size = callerSize;
        return VSK_PARSER_RESULT_OK;
    } catch (const std::bad_alloc&) {
        return VSK_PARSER_RESULT_OUTOFMEMORY;
    } catch (...) {
        return VSK_PARSER_RESULT_FAIL;
    }
}

}  // namespace parser
