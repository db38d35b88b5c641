#include "TransportStream.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace parser {
namespace {

// Room kept behind the nominal buffer size: more than two 192-byte units, so
// a unit cut by the end of one piece always fits with the next piece.
constexpr std::uint32_t PACKET_BUFFER_MARGIN = 520;
// A tail this short is moved to the front before every append.
constexpr std::size_t EAGER_COMPACT_TAIL = 4096;
// The packet buffer's first block: one 64 KiB read, as the time seek makes
// them. Allocating the whole capacity up front cost every reader (a seek
// pass, a probe's sample) megabytes it never touched.
constexpr std::uint32_t PACKET_BUFFER_FIRST_BLOCK = 0x10000;

template <class T>
std::unique_ptr<T> MakeSection() noexcept
{
    try {
        return std::make_unique<T>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

std::uint32_t VideoBufferSize(std::uint32_t profileLevel) noexcept
{
    std::uint32_t profile = (profileLevel >> 4) & 0x07u;
    std::uint32_t level = profileLevel & 0x0Fu;
    if ((profileLevel & 0x80u) != 0) {
        profile = 7;
        level = 15;
    }
    // Main profile at high-1440, main and low level, simple profile at main
    // level; everything else is given the main-profile high-level buffer.
    if (profile == 4 && level == 6)
        return 0xE0000;
    if (profile == 4 && level == 8)
        return 0x38000;
    if (profile == 4 && level == 10)
        return 0xE800;
    if (profile == 5 && level == 8)
        return 0x38000;
    if (profile == 0 && level == 0)
        return 0x38000;
    return 0x12A800;
}

std::uint32_t PacketBufferCapacity(std::uint32_t profileLevel, std::uint32_t bufferSize) noexcept
{
    const std::uint32_t video = 2 * VideoBufferSize(profileLevel);
    const std::uint32_t nominal = bufferSize > std::numeric_limits<std::uint32_t>::max() - PACKET_BUFFER_MARGIN
                                      ? std::numeric_limits<std::uint32_t>::max()
                                      : bufferSize + PACKET_BUFFER_MARGIN;
    return std::max(video, nominal);
}

CTransportStream::CTransportStream() = default;
CTransportStream::~CTransportStream() = default;

Result CTransportStream::Prepare(std::uint32_t historyMode, std::uint32_t selectionMode, std::uint32_t prefix,
                                 std::uint32_t profileLevel, std::uint32_t bufferSize) noexcept
{
    m_historyMode = historyMode;
    m_selectionMode = selectionMode;
    m_videoBufferSize = VideoBufferSize(profileLevel);
    m_state = DEMUX_PAT_PENDING;
    m_pmtsReceived = 0;
    m_programEntries = 0;
    m_discontinuities = 0;
    m_patRepeats = 0;
    m_startupPackets = 0;
    m_sitApplied = false;
    m_programs.clear();
    m_anomalies.Clear();
    m_waiting.clear();
    m_slotsReserved = 0;
    m_private = SPrivateUnit{};

    m_capacity = PacketBufferCapacity(profileLevel, bufferSize);
    const Result prepared = m_reader.Prepare(std::min(m_capacity, PACKET_BUFFER_FIRST_BLOCK), prefix);
    if (prepared != RESULT_OK)
        return prepared;
    // The first packet is taken only from a run of packets: the data may
    // begin anywhere.
    m_reader.RequireResync();

    m_patAssembling = MakeSection<CPASection>();
    m_patActive = MakeSection<CPASection>();
    m_sitAssembling = MakeSection<CSISection>();
    m_sitActive = MakeSection<CSISection>();
    if (!m_patAssembling || !m_patActive || !m_sitAssembling || !m_sitActive)
        return ResultNoMemory;
    if (m_patAssembling->Prepare(PAT_CAPACITY) != RESULT_OK || m_patActive->Prepare(PAT_CAPACITY) != RESULT_OK ||
        m_sitAssembling->Prepare(SIT_CAPACITY) != RESULT_OK || m_sitActive->Prepare(SIT_CAPACITY) != RESULT_OK)
        return ResultNoMemory;
    RebuildRoutes();
    return RESULT_OK;
}

Result CTransportStream::Append(const std::uint8_t* bytes, std::uint32_t length) noexcept
{
    if (length == 0)
        return RESULT_OK;
    if (bytes == nullptr || m_reader.Start() == nullptr)
        return ResultAppendFailed;
    // Only whole packets are ever consumed and nothing keeps pointers into
    // the buffer between packets, so the unread tail can move to the front;
    // the reader counts what was dropped, and positions stay absolute. A
    // short tail (what is left when the last piece was worked through) moves
    // at once, so the same few pages are used again and again instead of the
    // whole buffer passing through the cache; a long one only when the bytes
    // would not fit behind it.
    if (FreeSpace() < length || m_reader.Remaining() <= EAGER_COMPACT_TAIL)
        m_reader.Compact();
    // Twice the block, up to the capacity; more only for bytes that do not
    // fit even then.
    const std::uint64_t needed = std::uint64_t{m_reader.Used()} + length;
    if (needed > m_reader.Capacity()) {
        const std::uint64_t grown =
            std::max(needed, std::min<std::uint64_t>(m_capacity, 2 * std::uint64_t{m_reader.Capacity()}));
        if (grown > std::numeric_limits<std::uint32_t>::max() || m_reader.Grow(static_cast<std::uint32_t>(grown)) == 0)
            return ResultAppendFailed;
    }
    if (m_reader.Append(bytes, length) != length)
        return ResultAppendFailed;
    return RESULT_OK;
}

Result CTransportStream::ProcessPacket() noexcept
{
    const Result read = m_reader.ReadPacketHeader();
    Result result = read;
    if (read == RESULT_OK) {
        result = Dispatch();
        // Whatever the packet was used for, the next one starts at the end of
        // its unit.
        m_reader.SkipPayload();
    }
    m_anomalies.Merge(m_reader);
    return result;
}

Result CTransportStream::Dispatch() noexcept
{
    const std::uint16_t pid = m_reader.Header().pid;
    const SPidRoute& route = m_routes[pid];

    if (m_state != DEMUX_RUNNING) {
        // Until every program's map is known only the tables are read, so no
        // elementary stream starts in the middle of its data.
        Result result = RESULT_OK;
        if (pid == PID_PAT)
            result = HandlePat();
        else if (m_state == DEMUX_PMTS_PENDING && pid == PID_SIT)
            result = HandleSit();
        else if (m_state == DEMUX_PMTS_PENDING && route.role == ROUTE_MAP)
            result = HandlePmt(pid);
        if (m_state == DEMUX_PMTS_PENDING && result == RESULT_OK &&
            (m_patRepeats >= STARTUP_PAT_REPEATS || ++m_startupPackets >= STARTUP_PACKETS))
            CompleteStartup();
        return result;
    }

    switch (route.role) {
    case ROUTE_PAT:
        return HandlePat();
    case ROUTE_DIT:
        TakeDiscontinuity();
        return RESULT_OK;
    case ROUTE_SIT:
        return HandleSit();
    case ROUTE_MAP:
        return HandlePmt(pid);
    case ROUTE_ELEMENTARY:
        if (route.pcr != 0)
            UpdatePcr(pid);
        return DispatchElementary(route);
    case ROUTE_NONE:
        if (route.pcr != 0)
            UpdatePcr(pid);
        return RESULT_OK;
    default:  // the conditional access table and null packets
        return RESULT_OK;
    }
}

Result CTransportStream::DispatchElementary(const SPidRoute& route) noexcept
{
    // Routes lead only into built sets; this keeps it so should one ever not.
    if (route.stream >= m_programs[route.program].streams.StreamCount())
        return RESULT_OK;
    SKeptStream& stream = m_programs[route.program].streams.Stream(route.stream);
    if (stream.selection == EStreamSelection::PrivatePackets) {
        TakePrivatePacket(route);
        return RESULT_OK;
    }
    if (!stream.assembler)
        return RESULT_OK;
    CPESPacketTs& assembler = *stream.assembler;
    const std::uint32_t waiting = assembler.CompleteUnitCount();
    assembler.ResetStatus();
    Result result = assembler.TakePacket(m_reader);
    // The gap is the packet's own anomaly; units the assembler dropped while
    // taking it follow, so the record keeps the order they happened in.
    if (assembler.GapSeen())
        m_reader.ReportStatus(AnomalyPesContinuity, ANOMALY_SEVERITY, m_reader.PacketPosition());
    if (result == RESULT_OK)
        result = assembler.CompleteUnits();
    m_reader.MergeStatus(assembler);
    if (assembler.CompleteUnitCount() != waiting)
        NoteWaiting(route.program, route.stream, assembler);
    // A unit still being collected is no reason to stop reading packets.
    return result == ResultNeedMoreData ? RESULT_OK : result;
}

void CTransportStream::TakePrivatePacket(const SPidRoute& route) noexcept
{
    const SAdaptationField& field = m_reader.Adaptation();
    if (field.transportPrivateDataFlag == 0 || field.transportPrivateDataLength != TS_PRIVATE_DATA_MAX) {
        m_private.pending = false;
        m_reader.ReportStatus(AnomalyPrivateDataLength, ANOMALY_SEVERITY, m_reader.PacketPosition());
        return;
    }
    m_programs[route.program].streams.PrivateBuffer() = field.privateData;
    m_private.pending = true;
    m_private.program = route.program;
    m_private.stream = route.stream;
    m_private.position = m_reader.PacketPosition();
    m_private.headerLength = m_reader.Stride() - m_reader.PayloadLeft();
}

void CTransportStream::NoteWaiting(std::uint32_t program, std::uint32_t stream,
                                   const CPESPacketTs& assembler) noexcept
{
    const auto slot = std::find_if(m_waiting.begin(), m_waiting.end(), [&](const SUnitSlot& s) {
        return s.program == program && s.stream == stream;
    });
    const bool listed = slot != m_waiting.end();
    if (assembler.CompleteUnitCount() == 0 && listed) {
        m_waiting.erase(slot);
    } else if (assembler.CompleteUnitCount() != 0 && !listed) {
        // Room for one slot per stream was reserved with the stream sets.
        m_waiting.push_back(SUnitSlot{program, stream});
    }
}

Result CTransportStream::ReserveSlots(std::uint32_t streams) noexcept
{
    try {
        m_slotsReserved += streams;
        m_waiting.reserve(m_slotsReserved);
    } catch (const std::bad_alloc&) {
        return ResultNoMemory;
    }
    return RESULT_OK;
}

void CTransportStream::ForgetUnits(std::uint32_t program) noexcept
{
    std::erase_if(m_waiting, [program](const SUnitSlot& s) { return s.program == program; });
    if (m_private.pending && m_private.program == program)
        m_private.pending = false;
}

bool CTransportStream::TakeUnit(SUnitInfo& info) const noexcept
{
    const bool privateUnit = m_private.pending;
    SUnitSlot slot{m_private.program, m_private.stream};
    if (!privateUnit) {
        if (m_waiting.empty())
            return false;
        slot = *std::min_element(m_waiting.begin(), m_waiting.end(), [](const SUnitSlot& a, const SUnitSlot& b) {
            return a.program != b.program ? a.program < b.program : a.stream < b.stream;
        });
    }
    const SProgram& program = m_programs[slot.program];
    const CStreamSet& set = program.streams;
    const SKeptStream& stream = set.Stream(slot.stream);
    info.system = set.System();
    info.programCount = m_patActive->ProgramCount();
    info.streamCount = set.StreamCount();
    info.programNumber = program.programNumber;
    info.streamType = stream.streamType;
    info.elementaryPid = stream.elementaryPid;
    info.programIndex = slot.program;
    info.streamIndex = slot.stream;
    info.audioOrdinal = stream.audioOrdinal;
    info.videoOrdinal = stream.videoOrdinal;
    info.ordinal81 = stream.ordinal81;
    info.ordinal80 = stream.ordinal80;
    info.pcr = program.pcr;
    info.status = m_anomalies;
    const bool lists = m_historyMode >= HISTORY_MODE_PACKET_LISTS;

    if (privateUnit) {
        info.payload = set.PrivateBuffer().data();
        info.payloadLength = TS_PRIVATE_DATA_MAX;
        info.position = m_private.position;
        info.spanLength = Stride();
        if (lists) {
            info.packetCount = 1;
            info.packetPositions = &m_private.position;
            info.packetHeaderLengths = &m_private.headerLength;
        }
        return true;
    }

    const CPESPacketTs& assembler = *stream.assembler;
    info.header = assembler.Header();
    info.payload = assembler.Payload();
    info.payloadLength = assembler.PayloadLength();
    info.position = assembler.UnitPosition();
    info.spanLength = assembler.SpanLength();
    if (lists) {
        info.packetCount = assembler.UnitPacketCount();
        info.packetPositions = assembler.UnitPacketPositions();
        info.packetHeaderLengths = assembler.UnitPacketHeaderLengths();
    }
    if (assembler.HasSesfAudioHeader()) {
        const SSesfAudioHeader& audio = assembler.SesfAudioHeader();
        info.samplingCode = SesfSamplingCode(audio.samplingFrequency);
        info.channelCode = SesfChannelCode(audio.channelAssignment);
        info.bitsPerSampleCode = SesfBitsPerSampleCode(audio.bitsPerSample);
    }
    return true;
}

void CTransportStream::ReleaseUnit(std::uint32_t program, std::uint32_t stream, std::int64_t position) noexcept
{
    if (m_private.pending && m_private.program == program && m_private.stream == stream &&
        m_private.position == position) {
        m_anomalies.Clear();
        m_private.pending = false;
        return;
    }
    if (program >= m_programs.size() || stream >= m_programs[program].streams.StreamCount())
        return;
    SKeptStream& kept = m_programs[program].streams.Stream(stream);
    if (!kept.assembler || kept.assembler->CompleteUnitCount() == 0 || kept.assembler->UnitPosition() != position)
        return;
    m_anomalies.Clear();
    kept.assembler->ResetStatus();
    kept.assembler->ReleaseUnit();
    // Units dropped while the next one was completed.
    m_anomalies.Merge(*kept.assembler);
    NoteWaiting(program, stream, *kept.assembler);
}

void CTransportStream::UpdatePcr(std::uint16_t pid) noexcept
{
    const SAdaptationField& field = m_reader.Adaptation();
    if (field.pcrFlag == 0 && field.discontinuityIndicator == 0)
        return;
    for (SProgram& program : m_programs) {
        if (program.pcrPid != pid)
            continue;
        // On the PCR PID the indicator announces a new time base, whether
        // or not this packet carries the first PCR of it.
        if (field.discontinuityIndicator != 0)
            program.pcr.discontinuityPosition = m_reader.PacketPosition();
        if (field.pcrFlag == 0)
            continue;
        program.pcr.position = m_reader.PacketPosition() + PCR_POSITION_OFFSET;
        program.pcr.base = field.pcrBase;
        program.pcr.extension = field.pcrExtension;
    }
}

void CTransportStream::TakeDiscontinuity() noexcept
{
    ++m_discontinuities;
    // The clocks are left to tell whether time went on: data may be missing
    // here, but the time base is the same unless its own indicator says not.
    for (SProgram& program : m_programs) {
        for (std::uint32_t s = 0; s < program.streams.StreamCount(); ++s) {
            SKeptStream& kept = program.streams.Stream(s);
            if (kept.assembler)
                kept.assembler->Interrupt();
        }
    }
}

Result CTransportStream::AssembleSection(CSection& section, std::uint32_t anomaly, ESectionPart part) noexcept
{
    const std::int64_t position = m_reader.PacketPosition();
    Result result = RESULT_OK;
    if (part == SECTION_TAIL) {
        // Only a packet that starts a section, with bytes ahead of its
        // pointer field, ends the section held; a bad pointer field is left
        // to the rest of the packet, where it is reported.
        const std::uint32_t left = m_reader.PayloadLeft();
        if (m_reader.Header().payloadUnitStartIndicator == 0 || left == 0 || !m_reader.HasBytes(1))
            return ResultNeedMoreData;
        const std::uint32_t pointer = *m_reader.Cursor();
        if (pointer == 0 || pointer + 1 > left)
            return ResultNeedMoreData;
        result = section.CollectTail(m_reader, pointer);
        if (result == RESULT_OK)
            result = section.Parse();
    } else if (part == SECTION_NEXT) {
        // The packet's bytes are all collected already.
        result = section.Parse();
    } else if ((result = m_reader.ReadPointerField()) == RESULT_OK) {
        result = section.Collect(m_reader);
        if (result == ResultDiscontinuity)
            result = RESULT_OK;
        if (result == RESULT_OK)
            result = section.Parse();
    } else {
        // Nothing of this packet can be trusted to continue the section.
        section.Clear();
        section.BeginSection();
    }
    switch (result) {
    case RESULT_OK:
    case ResultNeedMoreData:
    case ResultNoMemory:
    case ResultAppendFailed:
        // A failed append means the section buffer lost its memory: going on
        // would fail every section from here on.
        return result;
    default:
        // Reported with the packet's own anomalies, so the record keeps the
        // order in which they happened.
        m_reader.ReportStatus(anomaly, ANOMALY_SEVERITY, position);
        return ResultNeedMoreData;
    }
}

template <typename TAssembler, typename TApply>
Result CTransportStream::TakeSections(std::uint32_t anomaly, TAssembler assembler, TApply apply) noexcept
{
    for (const ESectionPart part : {SECTION_TAIL, SECTION_REST}) {
        CSection* section = assembler();
        if (section == nullptr)
            return RESULT_OK;
        Result result = AssembleSection(*section, anomaly, part);
        while (result == RESULT_OK) {
            // A section that is not yet in force is checked and passed over.
            if (section->CurrentNext() != 0) {
                const Result applied = apply(*section);
                if (applied != RESULT_OK)
                    return applied;
            }
            // Applying it may have moved the PID's assembly to another object.
            CSection* const next = assembler();
            if (next == nullptr) {
                section->Clear();
                break;
            }
            const Result handed = next->TakeHeldSection(*section);
            if (handed != RESULT_OK)
                return handed;
            section = next;
            // The bytes ahead of a pointer field belong to the section held
            // and to no other; behind it, sections may follow one another.
            result = part == SECTION_REST ? AssembleSection(*section, anomaly, SECTION_NEXT) : ResultNeedMoreData;
        }
        if (result != RESULT_OK && result != ResultNeedMoreData)
            return result;
    }
    return RESULT_OK;
}

Result CTransportStream::HandlePat() noexcept
{
    return TakeSections(
        AnomalyPatFailed, [this]() noexcept -> CSection* { return m_patAssembling.get(); },
        [this](CSection&) noexcept {
            // The first association section decides the programs; later ones
            // are checked but change nothing, except that they bound the wait
            // for maps.
            if (m_state != DEMUX_PAT_PENDING) {
                if (m_state == DEMUX_PMTS_PENDING)
                    ++m_patRepeats;
                return RESULT_OK;
            }
            std::swap(m_patAssembling, m_patActive);
            return ApplyPat();
        });
}

Result CTransportStream::ApplyPat() noexcept
{
    const CPASection& pat = *m_patActive;
    const std::uint32_t entries = pat.EntryCount();
    try {
        m_programs.clear();
        m_programs.resize(entries);
    } catch (const std::bad_alloc&) {
        m_programs.clear();
        return ResultNoMemory;
    }
    m_programEntries = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        SProgram& program = m_programs[i];
        program.programNumber = pat.ProgramNumber(i);
        program.pid = pat.Pid(i);
        if (program.programNumber != 0)
            ++m_programEntries;
        program.assembling = MakeSection<CPmapSection>();
        program.active = MakeSection<CPmapSection>();
        if (!program.assembling || !program.active || program.assembling->Prepare(PMT_CAPACITY) != RESULT_OK ||
            program.active->Prepare(PMT_CAPACITY) != RESULT_OK)
            return ResultNoMemory;
    }
    m_state = DEMUX_PMTS_PENDING;
    m_pmtsReceived = 0;
    m_patRepeats = 0;
    m_startupPackets = 0;
    RebuildRoutes();
    if (m_programEntries == 0)
        CompleteStartup();
    return RESULT_OK;
}

Result CTransportStream::HandleSit() noexcept
{
    return TakeSections(
        AnomalySitFailed, [this]() noexcept -> CSection* { return m_sitAssembling.get(); },
        [this](CSection&) noexcept {
            if (m_sitApplied && m_sitAssembling->Version() == m_sitActive->Version())
                return RESULT_OK;
            std::swap(m_sitAssembling, m_sitActive);
            m_sitApplied = true;
            // The section that was in force goes back to assembling: it starts
            // afresh, without the continuity state of the time it was
            // assembled.
            return m_sitAssembling->Prepare(SIT_CAPACITY);
        });
}

std::uint32_t CTransportStream::PmtAssembler(std::uint16_t pid) const noexcept
{
    if (m_state == DEMUX_RUNNING)
        return m_routes[pid].program;
    // During start-up a program whose map is known takes no more packets
    // (its section is kept in the assembling object until all are known);
    // the first program on this PID still without one assembles.
    for (std::uint32_t i = 0; i < m_programs.size(); ++i) {
        if (m_programs[i].pid == pid && !m_programs[i].hasPmt)
            return i;
    }
    return PID_COUNT;
}

Result CTransportStream::HandlePmt(std::uint16_t pid) noexcept
{
    // The program whose object gave the section being applied.
    std::uint32_t assembler = PID_COUNT;
    return TakeSections(
        AnomalyPmtFailed,
        [this, pid, &assembler]() noexcept -> CSection* {
            // Asked anew for each section: the one before may have given its
            // program a map or completed the start-up.
            assembler = PmtAssembler(pid);
            return assembler == PID_COUNT ? nullptr : m_programs[assembler].assembling.get();
        },
        [this, &assembler](CSection&) noexcept {
            return m_state == DEMUX_RUNNING ? TakePmtWhileRunning(assembler) : TakePmtDuringStartup(assembler);
        });
}

bool CTransportStream::FindPmtOwner(std::uint16_t pid, std::uint16_t programNumber, std::uint32_t& owner) const noexcept
{
    std::uint32_t listing = 0;
    std::uint32_t only = 0;
    std::uint32_t matching = PID_COUNT;
    for (std::uint32_t i = 0; i < m_programs.size(); ++i) {
        const SProgram& program = m_programs[i];
        if (program.pid != pid || program.programNumber == 0)
            continue;
        if (listing++ == 0)
            only = i;
        // During start-up a program that has its section already yields to
        // a later entry of the same number (a PAT that lists one twice).
        if (program.programNumber == programNumber &&
            (matching == PID_COUNT || (m_state != DEMUX_RUNNING && m_programs[matching].hasPmt)))
            matching = i;
    }
    // One program on the PID: its section, whatever program_number it
    // carries. Several programs sharing a PID: each section goes to the
    // program it names.
    if (listing == 1) {
        owner = only;
        return true;
    }
    if (matching != PID_COUNT) {
        owner = matching;
        return true;
    }
    return false;
}

Result CTransportStream::TakePmtDuringStartup(std::uint32_t assembler) noexcept
{
    std::uint32_t owner = 0;
    const std::uint16_t pid = m_programs[assembler].pid;
    if (!FindPmtOwner(pid, m_programs[assembler].assembling->ProgramNumber(), owner) || m_programs[owner].hasPmt)
        return RESULT_OK;
    if (owner != assembler)
        std::swap(m_programs[owner].assembling, m_programs[assembler].assembling);
    SProgram& program = m_programs[owner];
    program.hasPmt = true;
    const Result built = ReserveSlots(program.assembling->StreamCount()) == RESULT_OK
                             ? program.streams.Build(*program.assembling, m_historyMode, m_videoBufferSize,
                                                     m_selectionMode)
                             : ResultNoMemory;
    if (built != RESULT_OK)
        return built;
    if (++m_pmtsReceived >= m_programEntries)
        CompleteStartup();
    return RESULT_OK;
}

void CTransportStream::CompleteStartup() noexcept
{
    for (SProgram& program : m_programs) {
        std::swap(program.assembling, program.active);
        if (program.hasPmt)
            program.pcrPid = program.active->PcrPid();
    }
    m_state = DEMUX_RUNNING;
    RebuildRoutes();
}

Result CTransportStream::TakePmtWhileRunning(std::uint32_t assembler) noexcept
{
    std::uint32_t owner = 0;
    const std::uint16_t pid = m_programs[assembler].pid;
    const CPmapSection& parsed = *m_programs[assembler].assembling;
    if (!FindPmtOwner(pid, parsed.ProgramNumber(), owner))
        return RESULT_OK;
    SProgram& program = m_programs[owner];
    // A repeat of the section in force changes nothing.
    if (program.hasPmt && parsed.Version() == program.active->Version())
        return RESULT_OK;

    std::swap(m_programs[assembler].assembling, program.active);
    program.hasPmt = true;
    program.pcrPid = program.active->PcrPid();
    // The PID lookups follow the new section at once. The stream set, and
    // the units its assemblers are collecting, is rebuilt only when the
    // streams themselves changed: a new version that merely touches
    // descriptors must not throw away the units under way.
    Result result = RESULT_OK;
    if (!program.streams.Matches(*program.active)) {
        ForgetUnits(owner);
        result = ReserveSlots(program.active->StreamCount());
        if (result == RESULT_OK)
            result = program.streams.Build(*program.active, m_historyMode, m_videoBufferSize, m_selectionMode);
    }
    RebuildRoutes();
    if (result != RESULT_OK)
        return result;
    // The section that was in force goes back to assembling: it starts afresh,
    // without the continuity state of the time it was assembled.
    return m_programs[assembler].assembling->Prepare(PMT_CAPACITY);
}

CTransportStream::SPidRoute& CTransportStream::ClaimRoute(std::uint16_t pid) noexcept
{
    SPidRoute& route = m_routes[pid & (PID_COUNT - 1)];
    if (route.role == ROUTE_NONE && route.pcr == 0)
        m_routedPids[m_routedCount++] = static_cast<std::uint16_t>(pid & (PID_COUNT - 1));
    return route;
}

void CTransportStream::RebuildRoutes() noexcept
{
    // Every routed PID was noted once, when its route left the default: at
    // most PID_COUNT of them.
    for (std::uint32_t i = 0; i < m_routedCount; ++i)
        m_routes[m_routedPids[i]] = SPidRoute{};
    m_routedCount = 0;
    // The fixed PIDs come first, then the PIDs the association section
    // lists, then the elementary PIDs in program and stream order: the first
    // claim on a PID wins.
    ClaimRoute(PID_PAT).role = ROUTE_PAT;
    ClaimRoute(PID_CAT).role = ROUTE_CAT;
    ClaimRoute(PID_DIT).role = ROUTE_DIT;
    ClaimRoute(PID_SIT).role = ROUTE_SIT;
    ClaimRoute(PID_NULL).role = ROUTE_NULL;
    if (m_state == DEMUX_PAT_PENDING)
        return;
    for (std::uint32_t i = 0; i < m_programs.size(); ++i) {
        SPidRoute& route = ClaimRoute(m_programs[i].pid);
        if (route.role == ROUTE_NONE) {
            route.role = ROUTE_MAP;
            route.program = static_cast<std::uint16_t>(i);
        }
    }
    if (m_state != DEMUX_RUNNING)
        return;
    for (std::uint32_t i = 0; i < m_programs.size(); ++i) {
        const SProgram& program = m_programs[i];
        if (!program.hasPmt)
            continue;
        // A set whose build failed holds no streams: its PIDs lead nowhere
        // rather than past its end.
        const auto streams = program.active->Streams();
        const std::uint32_t routed = program.streams.Built() ? program.streams.StreamCount() : 0;
        for (std::uint32_t s = 0; s < streams.size() && s < routed; ++s) {
            SPidRoute& route = ClaimRoute(streams[s].elementaryPid);
            if (route.role == ROUTE_NONE) {
                route.role = ROUTE_ELEMENTARY;
                route.program = static_cast<std::uint16_t>(i);
                route.stream = static_cast<std::uint16_t>(s);
            }
        }
        if (program.pcrPid < PID_COUNT)
            ClaimRoute(static_cast<std::uint16_t>(program.pcrPid)).pcr = 1;
    }
}

const CPASection* CTransportStream::ActivePat() const noexcept
{
    return m_state == DEMUX_PAT_PENDING ? nullptr : m_patActive.get();
}

const CSISection* CTransportStream::ActiveSit() const noexcept
{
    return m_sitApplied ? m_sitActive.get() : nullptr;
}

const CPmapSection* CTransportStream::ActivePmt(std::uint32_t program) const noexcept
{
    if (m_state != DEMUX_RUNNING || program >= m_programs.size() || !m_programs[program].hasPmt)
        return nullptr;
    return m_programs[program].active.get();
}

const CPmapSection* CTransportStream::AssemblingPmt(std::uint32_t program) const noexcept
{
    if (m_state != DEMUX_RUNNING || program >= m_programs.size())
        return nullptr;
    return m_programs[program].assembling.get();
}

const SPcrRecord* CTransportStream::Pcr(std::uint32_t program) const noexcept
{
    return program < m_programs.size() ? &m_programs[program].pcr : nullptr;
}

const CStreamSet* CTransportStream::Streams(std::uint32_t program) const noexcept
{
    return program < m_programs.size() ? &m_programs[program].streams : nullptr;
}

bool CTransportStream::FindElementaryStream(std::uint16_t pid, std::uint32_t& program, std::uint32_t& stream) const noexcept
{
    if (pid >= PID_COUNT || m_routes[pid].role != ROUTE_ELEMENTARY)
        return false;
    program = m_routes[pid].program;
    stream = m_routes[pid].stream;
    return true;
}

}  // namespace parser
