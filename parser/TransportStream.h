// CTransportStream: the demultiplexer of a transport stream (188-byte packets
// or 192-byte units). It owns the packet buffer (through its packet reader),
// learns the structure of the stream from the program association, program
// map and selection information sections, and hands the packets of each kept
// elementary stream to its program's stream set. Until the association
// section and the map sections of its programs are known, no elementary
// data is taken at all. Damage is counted in its anomaly record; positions are
// absolute from the first byte ever appended.
//
// Start-up does not wait for ever on a map that never comes (a recorder that
// filtered one service keeps the broadcast's association section, which
// lists them all): once the association section has been taken again
// STARTUP_PAT_REPEATS times, or STARTUP_PACKETS packets have passed, since it
// was applied, the demultiplexer runs with the programs whose maps it has.
// A map that arrives later is taken as a new map of a running program.
//
// A discontinuity information packet (PID 0x1E, written at the transitions
// of a partial stream) is a discontinuity, not the end: every unit under way
// is dropped, as its bytes may not continue, and the continuity counters
// start afresh.
#pragma once

#include "Buffer.h"
#include "PASection.h"
#include "PmapSection.h"
#include "Results.h"
#include "SISection.h"
#include "StreamSet.h"
#include "TSHeader.h"
#include "UnitInfo.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace parser {

inline constexpr std::uint16_t PID_PAT = 0x0000;
inline constexpr std::uint16_t PID_CAT = 0x0001;
inline constexpr std::uint16_t PID_DIT = 0x001E;
inline constexpr std::uint16_t PID_SIT = 0x001F;
inline constexpr std::uint32_t PID_COUNT = 0x2000;

// Packet positions are stamped on the unit's first byte; the PCR is
// remembered at this distance from it.
inline constexpr std::int64_t PCR_POSITION_OFFSET = 10;

// The settings the time seek uses: unknown profile and level, 128 KiB.
inline constexpr std::uint32_t PROFILE_LEVEL_UNKNOWN = 0xFF;
inline constexpr std::uint32_t DEFAULT_BUFFER_SIZE = 0x20000;

// Bounds of the wait for maps that the association section lists: two
// more association sections give each map two of its repetition periods;
// 16,384 packets (3 MB) are more than half a second at 40 Mbit/s, the
// longest interval between maps that broadcasters keep to.
inline constexpr std::uint32_t STARTUP_PAT_REPEATS = 1;
inline constexpr std::uint32_t STARTUP_PACKETS = 16384;

enum : std::uint32_t {
    DEMUX_PAT_PENDING = 0,
    DEMUX_PMTS_PENDING = 1,
    DEMUX_RUNNING = 2,
};

// The MPEG-2 video buffer size in bytes for a profile_and_level_indication
// byte (bit 7 set: unknown, taken as profile 7, level 15).
std::uint32_t VideoBufferSize(std::uint32_t profileLevel) noexcept;
// The larger of twice the video buffer size and bufferSize + 520.
std::uint32_t PacketBufferCapacity(std::uint32_t profileLevel, std::uint32_t bufferSize) noexcept;

class CTransportStream
{
public:
    CTransportStream();
    virtual ~CTransportStream();
    CTransportStream(const CTransportStream&) = delete;
    CTransportStream& operator=(const CTransportStream&) = delete;

    // prefix 0 (188-byte packets) or 4 (192-byte units); profileLevel and
    // bufferSize size the packet buffer. ResultNoMemory or ResultSetupFailed.
    Result Prepare(std::uint32_t historyMode, std::uint32_t selectionMode, std::uint32_t prefix,
                   std::uint32_t profileLevel = PROFILE_LEVEL_UNKNOWN,
                   std::uint32_t bufferSize = DEFAULT_BUFFER_SIZE) noexcept;
    // Appends behind the bytes still held, compacting first when they would
    // not fit. ResultAppendFailed when the bytes could not be taken.
    Result Append(const std::uint8_t* bytes, std::uint32_t length) noexcept;
    // Reads and dispatches one packet: 0, ResultNeedMoreData (no whole packet
    // at hand), ResultNoMemory or ResultAppendFailed.
    Result ProcessPacket() noexcept;
    // Complete PES units waiting in all stream sets.
    std::uint32_t CompleteUnitCount() const noexcept { return static_cast<std::uint32_t>(m_waiting.size()); }
    // A one-packet private unit waits to be taken.
    bool PrivateUnitPending() const noexcept { return m_private.pending; }
    // Describes the first waiting unit (the private one first, then by
    // program and stream) into the stream and unit fields of `info`; false
    // when none waits.
    bool TakeUnit(SUnitInfo& info) const noexcept;
    // Releases the waiting unit of a program's stream at `position` (or the
    // private unit recorded for it) and clears the anomaly record; a unit
    // elsewhere is not released.
    void ReleaseUnit(std::uint32_t program, std::uint32_t stream, std::int64_t position) noexcept;

    std::uint32_t Prefix() const noexcept { return m_reader.Prefix(); }
    std::uint32_t Stride() const noexcept { return m_reader.Stride(); }
    std::uint32_t HistoryMode() const noexcept { return m_historyMode; }
    std::uint32_t SelectionMode() const noexcept { return m_selectionMode; }
    std::uint32_t VideoBufferBytes() const noexcept { return m_videoBufferSize; }
    // Bytes not yet processed, and room behind them. The packet buffer's
    // memory grows on demand up to its capacity: a reader that is fed a
    // piece at a time and compacts as it goes (the time seek, the probe)
    // never needs more than a few pieces of it.
    std::uint32_t Buffered() const noexcept { return static_cast<std::uint32_t>(m_reader.Remaining()); }
    std::uint32_t FreeSpace() const noexcept { return m_capacity > m_reader.Used() ? m_capacity - m_reader.Used() : 0; }
    std::uint32_t Capacity() const noexcept { return m_capacity; }
    const CTSHeader& PacketReader() const noexcept { return m_reader; }

    std::uint32_t State() const noexcept { return m_state; }
    // Discontinuity information packets met while running.
    std::uint32_t Discontinuities() const noexcept { return m_discontinuities; }
    const SAnomalyRecord& Anomalies() const noexcept { return m_anomalies; }
    void ClearAnomalies() noexcept { m_anomalies.Clear(); }

    // The applied association section, or null while it is pending.
    const CPASection* ActivePat() const noexcept;
    // The applied selection information section, or null.
    const CSISection* ActiveSit() const noexcept;
    // Entries of the applied association section (programs, then network
    // entries); program indices run over them.
    std::uint32_t ProgramCount() const noexcept { return static_cast<std::uint32_t>(m_programs.size()); }
    // The map section in force for a program; null before start-up ends, for
    // a network entry, and past the entries.
    const CPmapSection* ActivePmt(std::uint32_t program) const noexcept;
    // The object assembling the next map section of a program while the
    // demultiplexer runs; null otherwise.
    const CPmapSection* AssemblingPmt(std::uint32_t program) const noexcept;
    const SPcrRecord* Pcr(std::uint32_t program) const noexcept;
    const CStreamSet* Streams(std::uint32_t program) const noexcept;
    // Where the packets of a PID go: the program and stream of an elementary
    // PID, or false.
    bool FindElementaryStream(std::uint16_t pid, std::uint32_t& program, std::uint32_t& stream) const noexcept;
    // Whether packets of a PID go to the program map sections.
    bool IsMapPid(std::uint16_t pid) const noexcept { return pid < PID_COUNT && m_routes[pid].role == ROUTE_MAP; }

private:
    enum : std::uint8_t {
        ROUTE_NONE = 0,
        ROUTE_PAT,
        ROUTE_CAT,
        ROUTE_DIT,
        ROUTE_SIT,
        ROUTE_NULL,
        ROUTE_MAP,
        ROUTE_ELEMENTARY,
    };

    // What a packet of one PID is for. A PID that carries the PCR of a
    // program says so in `pcr`, whatever else it carries.
    struct SPidRoute {
        std::uint8_t role = ROUTE_NONE;
        std::uint8_t pcr = 0;
        std::uint16_t program = 0;
        std::uint16_t stream = 0;
    };

    struct SProgram {
        std::uint16_t programNumber = 0;
        // program_map_PID, or network_PID for a network entry.
        std::uint16_t pid = 0;
        // Set once a map section has been taken for the program.
        bool hasPmt = false;
        // PCR_PID of the map section in force; none before.
        std::uint32_t pcrPid = PID_COUNT;
        std::unique_ptr<CPmapSection> assembling;
        std::unique_ptr<CPmapSection> active;
        CStreamSet streams;
        SPcrRecord pcr;
    };

    Result Dispatch() noexcept;
    Result HandlePat() noexcept;
    Result HandleSit() noexcept;
    Result HandlePmt(std::uint16_t pid) noexcept;
    // A table packet is taken in two parts: first the tail of the section
    // held, which the bytes ahead of the pointer field finish, then the
    // section that starts (or continues) in the packet, and each section
    // that follows a published one in it (SECTION_NEXT), up to stuffing or
    // the packet's end. So one packet can give several sections.
    enum ESectionPart { SECTION_TAIL, SECTION_REST, SECTION_NEXT };
    // Collection and parse of one part: 0 once a section was published,
    // ResultNeedMoreData while it is incomplete, when the part holds nothing
    // or after a failure (reported as `anomaly`), or ResultNoMemory /
    // ResultAppendFailed.
    Result AssembleSection(CSection& section, std::uint32_t anomaly, ESectionPart part) noexcept;
    // Takes the packet on a table PID in its parts. `assembler()` gives the
    // section object that assembles on the PID at that moment (null: none);
    // `apply(section)` takes each published section in force. A section
    // begun behind a published one goes to the object that assembles after
    // it. 0, or the first failure of ResultNoMemory, ResultAppendFailed or
    // of `apply`.
    template <typename TAssembler, typename TApply>
    Result TakeSections(std::uint32_t anomaly, TAssembler assembler, TApply apply) noexcept;
    // The program whose map section assembler takes a packet on `pid`, or
    // PID_COUNT when none does.
    std::uint32_t PmtAssembler(std::uint16_t pid) const noexcept;
    Result ApplyPat() noexcept;
    Result TakePmtDuringStartup(std::uint32_t assembler) noexcept;
    Result TakePmtWhileRunning(std::uint32_t assembler) noexcept;
    // The program a parsed map section on `pid` belongs to: the only program
    // entry listing the PID, else the one whose program_number it carries.
    bool FindPmtOwner(std::uint16_t pid, std::uint16_t programNumber, std::uint32_t& owner) const noexcept;
    void CompleteStartup() noexcept;
    // Rebuilds the route table from the association section and the maps in
    // force. Only the routes set before are cleared: a stream whose maps
    // change often (every version a new one) would otherwise clear all
    // 8,192 of them for each.
    void RebuildRoutes() noexcept;
    // The route of a PID for RebuildRoutes to set, noted to be cleared next
    // time.
    SPidRoute& ClaimRoute(std::uint16_t pid) noexcept;
    void UpdatePcr(std::uint16_t pid) noexcept;
    // A discontinuity information packet: see the header.
    void TakeDiscontinuity() noexcept;
    // The packet of a kept elementary stream: the stream set's assembler
    // takes it when the stream is selected.
    Result DispatchElementary(const SPidRoute& route) noexcept;
    // A packet of a stream whose packets are private units by themselves.
    void TakePrivatePacket(const SPidRoute& route) noexcept;
    // Keeps the list of streams with a waiting unit in step with an
    // assembler that may have completed or released one.
    void NoteWaiting(std::uint32_t program, std::uint32_t stream, const CPESPacketTs& assembler) noexcept;
    // Forgets the waiting and private units of a program whose stream set
    // is rebuilt.
    void ForgetUnits(std::uint32_t program) noexcept;
    // Room in the waiting list for `streams` more streams, so noting a unit
    // never needs memory. ResultNoMemory.
    Result ReserveSlots(std::uint32_t streams) noexcept;

    CTSHeader m_reader;
    std::uint32_t m_capacity = 0;
    std::uint32_t m_historyMode = 0;
    std::uint32_t m_selectionMode = 0;
    std::uint32_t m_videoBufferSize = 0;
    std::uint32_t m_state = DEMUX_PAT_PENDING;
    std::uint32_t m_pmtsReceived = 0;
    std::uint32_t m_programEntries = 0;  // entries with program_number not 0
    std::uint32_t m_discontinuities = 0;
    // Since the association section was applied, while maps are pending.
    std::uint32_t m_patRepeats = 0;
    std::uint32_t m_startupPackets = 0;
    bool m_sitApplied = false;
    std::unique_ptr<CPASection> m_patAssembling;
    std::unique_ptr<CPASection> m_patActive;
    std::unique_ptr<CSISection> m_sitAssembling;
    std::unique_ptr<CSISection> m_sitActive;
    std::vector<SProgram> m_programs;
    std::array<SPidRoute, PID_COUNT> m_routes{};
    // The PIDs whose routes are set, each once.
    std::array<std::uint16_t, PID_COUNT> m_routedPids{};
    std::uint32_t m_routedCount = 0;
    SAnomalyRecord m_anomalies;

    // The streams whose assembler holds a complete unit (at most one each),
    // in the order they completed.
    struct SUnitSlot {
        std::uint32_t program = 0;
        std::uint32_t stream = 0;
    };
    std::vector<SUnitSlot> m_waiting;
    std::size_t m_slotsReserved = 0;
    // The pending one-packet private unit.
    struct SPrivateUnit {
        bool pending = false;
        std::uint32_t program = 0;
        std::uint32_t stream = 0;
        std::int64_t position = -1;
        std::uint32_t headerLength = 0;
    };
    SPrivateUnit m_private;
};

}  // namespace parser
