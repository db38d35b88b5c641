#include "vsktest/Recording.h"

#include "vsktest/PesPacket.h"
#include "vsktest/PsiSections.h"

#include <algorithm>
#include <deque>
#include <fstream>
#include <map>
#include <stdexcept>

namespace vsktest {
namespace {

constexpr std::uint64_t TIMESTAMP_MASK = (std::uint64_t{1} << 33) - 1;
constexpr std::uint64_t PCR_LEAD = 9000;  // PCR runs 100 ms ahead of the PTS

// Elementary data that can be told apart from headers: it never holds the
// sync byte (so resynchronisation tests stay deterministic) and never two
// zero bytes in a row (so it holds no start code).
void FillPattern(std::vector<std::uint8_t>& out, std::size_t count, std::uint32_t seed)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t b = static_cast<std::uint8_t>(seed * 31u + i * 7u + 1u);
        if (b == TS_SYNC_BYTE)
            b = 0x48;
        if (b == 0 && !out.empty() && out.back() == 0)
            b = 0x01;
        out.push_back(b);
    }
}

enum class FieldKind { VideoPts, AudioPts, Pcr };

struct PatchField
{
    std::size_t offset;
    FieldKind kind;
    std::uint64_t value;
};

struct Layout
{
    Recording recording;
    std::vector<PatchField> fields;
    std::size_t videoUnits = 0;
    std::size_t audioUnits = 0;
    std::size_t packetCount = 0;
};

class CRecordingGenerator
{
public:
    explicit CRecordingGenerator(const RecordingParams& params) : m_params(params), m_builder(params.unitSize)
    {
        if (params.videoPacketsPerPes == 0)
            throw std::invalid_argument("RecordingParams: videoPacketsPerPes is 0");
        if (params.audio && params.audioInterval < 2)
            throw std::invalid_argument("RecordingParams: audioInterval below 2");
        if (params.unitSize == TS_UNIT_SIZE_192) {
            switch (params.prefixMode) {
            case PrefixMode::Zero: m_builder.SetPrefixZero(); break;
            case PrefixMode::ArrivalTime:
                m_builder.SetArrivalTime(params.arrivalTimeFirst, params.arrivalTimeStep, params.copyPermission);
                break;
            case PrefixMode::Custom: m_builder.SetCustomPrefix(params.customPrefix); break;
            }
        }
        PatParams pat;
        pat.transportStreamId = params.transportStreamId;
        pat.entries = {{params.programNumber, params.pmtPid}};
        m_pat = PacketizeSections(TS_PID_PAT, {MakePat(pat)});
        PmtParams pmt;
        pmt.programNumber = params.programNumber;
        pmt.pcrPid = params.videoPid;
        pmt.streams.push_back({params.videoStreamType, params.videoPid, {}});
        if (params.audio)
            pmt.streams.push_back({params.audioStreamType, params.audioPid, {}});
        m_pmt = PacketizeSections(params.pmtPid, {MakePmt(pmt)});
    }

    // Generates `count` packets; with `wholeUnits` it goes on until the
    // current video unit and PAT/PMT pair are complete, so that the block can
    // be repeated without cutting a unit.
    Layout Generate(std::size_t count, bool wholeUnits)
    {
        Layout layout;
        std::size_t i = 0;
        while (i < count || (wholeUnits && (!m_videoQueue.empty() || !m_psiQueue.empty()))) {
            if (m_psiQueue.empty() && (i == 0 || (m_params.psiInterval != 0 && i % m_params.psiInterval == 0))) {
                m_psiQueue.insert(m_psiQueue.end(), m_pat.begin(), m_pat.end());
                m_psiQueue.insert(m_psiQueue.end(), m_pmt.begin(), m_pmt.end());
            }
            if (!m_psiQueue.empty()) {
                m_builder.Add(m_psiQueue.front());
                m_psiQueue.pop_front();
            } else if (m_params.audio && i % m_params.audioInterval == 0) {
                AddAudio(layout);
            } else {
                if (m_videoQueue.empty())
                    QueueVideoUnit();
                const TsPacket p = std::move(m_videoQueue.front());
                m_videoQueue.pop_front();
                const std::size_t index = m_builder.Add(p);
                if (p.payloadUnitStart)
                    NoteFields(layout, index, FieldKind::VideoPts, m_queuedVideoPts);
            }
            ++i;
        }
        layout.packetCount = m_builder.PacketCount();
        layout.recording.bytes = m_builder.Take();
        return layout;
    }

private:
    void QueueVideoUnit()
    {
        const std::uint64_t pts = (m_params.firstPts + m_videoUnits * m_params.videoPtsStep) & TIMESTAMP_MASK;
        PesPacketOptions options;
        options.randomAccess = true;
        if (m_params.pcr)
            options.pcrBase = (pts - PCR_LEAD) & TIMESTAMP_MASK;
        AdaptationField af;
        af.randomAccess = true;
        af.pcrBase = options.pcrBase;
        const std::size_t capacity = m_params.videoPacketsPerPes * TS_MAX_PAYLOAD - EncodeAdaptationField(af).size();

        PesParams pes;
        pes.streamId = STREAM_ID_VIDEO_FIRST;
        pes.pts = pts;
        pes.dataAlignment = true;
        pes.unbounded = m_params.videoUnbounded;
        const std::size_t header = PesHeaderSize(pes);
        if (capacity < header + 6)
            throw std::invalid_argument("RecordingParams: video unit too small");
        if (m_params.videoStreamType == 0x1B)
            pes.payload = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0};  // access unit delimiter
        else
            pes.payload = {0x00, 0x00, 0x01, 0x00};  // picture start code
        FillPattern(pes.payload, capacity - header - pes.payload.size(), static_cast<std::uint32_t>(m_videoUnits));
        if (!m_params.videoUnbounded && capacity - 6 > 0xFFFF)
            throw std::invalid_argument("RecordingParams: bounded video unit longer than 65535 bytes");

        for (TsPacket& p : PacketizePes(m_params.videoPid, MakePes(pes), options))
            m_videoQueue.push_back(std::move(p));
        m_queuedVideoPts = pts;
        ++m_videoUnits;
    }

    void AddAudio(Layout& layout)
    {
        const std::uint64_t pts = (m_params.firstPts + m_audioUnits * m_params.audioPtsStep) & TIMESTAMP_MASK;
        const bool ac3 = m_params.audioStreamType == 0x81;
        PesParams pes;
        pes.streamId = ac3 ? STREAM_ID_PRIVATE_1 : STREAM_ID_AUDIO_FIRST;
        pes.pts = pts;
        pes.dataAlignment = true;
        if (ac3)
            pes.payload = {0x0B, 0x77};
        else
            pes.payload = {0xFF, 0xFD};
        FillPattern(pes.payload, TS_MAX_PAYLOAD - PesHeaderSize(pes) - pes.payload.size(),
                    static_cast<std::uint32_t>(m_audioUnits) + 0x5A);
        const std::size_t index = m_builder.AddPes(m_params.audioPid, MakePes(pes));
        NoteFields(layout, index, FieldKind::AudioPts, pts);
        ++m_audioUnits;
    }

    // Records the unit mark and where its time fields lie, read back from the
    // written bytes so the offsets cannot disagree with them.
    void NoteFields(Layout& layout, std::size_t index, FieldKind kind, std::uint64_t pts)
    {
        const std::vector<std::uint8_t>& bytes = m_builder.Bytes();
        const std::size_t unit = static_cast<std::size_t>(m_builder.UnitOffset(index));
        const std::size_t packet = static_cast<std::size_t>(m_builder.PacketOffset(index));
        std::size_t payload = packet + TS_HEADER_SIZE;
        if (bytes[packet + 3] & 0x20u) {
            if (bytes[packet + 4] > 0 && (bytes[packet + 5] & 0x10u))
                layout.fields.push_back({packet + 6, FieldKind::Pcr, (pts - PCR_LEAD) & TIMESTAMP_MASK});
            payload += 1 + bytes[packet + 4];
        }
        layout.fields.push_back({payload + 9, kind, pts});
        UnitMark mark{pts, unit, index};
        if (kind == FieldKind::VideoPts) {
            layout.recording.video.push_back(mark);
            ++layout.videoUnits;
        } else {
            layout.recording.audio.push_back(mark);
            ++layout.audioUnits;
        }
    }

    const RecordingParams& m_params;
    CTsStreamBuilder m_builder;
    std::vector<TsPacket> m_pat;
    std::vector<TsPacket> m_pmt;
    std::deque<TsPacket> m_psiQueue;
    std::deque<TsPacket> m_videoQueue;
    std::uint64_t m_queuedVideoPts = 0;
    std::uint64_t m_videoUnits = 0;
    std::uint64_t m_audioUnits = 0;
};

}  // namespace

Recording MakeRecording(const RecordingParams& params)
{
    CRecordingGenerator generator(params);
    return generator.Generate(params.packetCount, false).recording;
}

std::uint64_t WriteLargeRecording(const std::filesystem::path& path, std::uint64_t size, const RecordingParams& params)
{
    constexpr std::size_t MIN_BLOCK_BYTES = 4u << 20;
    const std::size_t unit = params.unitSize;
    const std::size_t prefix = unit - TS_PACKET_SIZE;
    CRecordingGenerator generator(params);
    const Layout block = generator.Generate(std::max(params.packetCount, MIN_BLOCK_BYTES / unit), true);
    const std::vector<std::uint8_t>& base = block.recording.bytes;

    // What one repetition of the block moves on: each packet's continuity
    // counter by the number of payload packets of its PID in the block.
    std::map<std::uint16_t, std::uint32_t> payloadPackets;
    for (std::size_t at = 0; at < base.size(); at += unit) {
        const std::uint8_t* p = &base[at + prefix];
        if (p[3] & 0x10u)
            ++payloadPackets[static_cast<std::uint16_t>(((p[1] & 0x1Fu) << 8) | p[2])];
    }
    std::vector<std::uint8_t> continuityStep;
    continuityStep.reserve(base.size() / unit);
    for (std::size_t at = 0; at < base.size(); at += unit) {
        const std::uint8_t* p = &base[at + prefix];
        continuityStep.push_back(static_cast<std::uint8_t>(
            payloadPackets[static_cast<std::uint16_t>(((p[1] & 0x1Fu) << 8) | p[2])] & 0x0Fu));
    }
    const std::uint64_t videoShift = block.videoUnits * params.videoPtsStep;
    const std::uint64_t audioShift = block.audioUnits * params.audioPtsStep;
    const std::uint64_t arrivalShift = static_cast<std::uint64_t>(block.packetCount) * params.arrivalTimeStep;
    const bool patchArrival = unit == TS_UNIT_SIZE_192 && params.prefixMode == PrefixMode::ArrivalTime;

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot create " + path.string());
    std::vector<std::uint8_t> work(base.size());
    const std::uint64_t total = size / unit * unit;
    std::uint64_t written = 0;
    for (std::uint64_t k = 0; written < total; ++k) {
        work = base;
        if (k > 0) {
            for (std::size_t at = 0, i = 0; at < work.size(); at += unit, ++i) {
                std::uint8_t* p = &work[at + prefix];
                const std::uint64_t cc = (p[3] & 0x0Fu) + k * continuityStep[i];
                p[3] = static_cast<std::uint8_t>((p[3] & 0xF0u) | (cc & 0x0Fu));
                if (patchArrival) {
                    std::uint8_t* a = &work[at];
                    const std::uint32_t v = (static_cast<std::uint32_t>(a[0]) << 24) | (a[1] << 16) | (a[2] << 8) | a[3];
                    const auto moved = EncodeArrivalTimePrefix(
                        static_cast<std::uint32_t>(((v & 0x3FFFFFFFu) + k * arrivalShift) & 0x3FFFFFFFu),
                        static_cast<std::uint8_t>(v >> 30));
                    std::copy(moved.begin(), moved.end(), a);
                }
            }
            for (const PatchField& f : block.fields) {
                if (f.kind == FieldKind::Pcr) {
                    const auto pcr = EncodePcr((f.value + k * videoShift) & TIMESTAMP_MASK, 0);
                    std::copy(pcr.begin(), pcr.end(), work.begin() + static_cast<std::ptrdiff_t>(f.offset));
                } else {
                    const std::uint64_t shift = f.kind == FieldKind::VideoPts ? videoShift : audioShift;
                    const auto ts = EncodeTimestamp(TIMESTAMP_PREFIX_PTS_ONLY, (f.value + k * shift) & TIMESTAMP_MASK);
                    std::copy(ts.begin(), ts.end(), work.begin() + static_cast<std::ptrdiff_t>(f.offset));
                }
            }
        }
        const std::uint64_t n = std::min<std::uint64_t>(work.size(), total - written);
        out.write(reinterpret_cast<const char*>(work.data()), static_cast<std::streamsize>(n));
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
        written += n;
    }
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
    return written;
}

}  // namespace vsktest
