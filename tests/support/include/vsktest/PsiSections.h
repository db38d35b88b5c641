// PSI sections with their CRC_32: program association (PAT), program map (PMT)
// and selection information (SIT, table_id 0x7F) sections, descriptors, and
// deliberate damage. Each Make function returns one complete section, from
// table_id to the last CRC byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vsktest {

inline constexpr std::uint8_t TABLE_ID_PAT = 0x00;
inline constexpr std::uint8_t TABLE_ID_PMT = 0x02;
inline constexpr std::uint8_t TABLE_ID_SIT = 0x7F;

// Damage and overrides common to all sections.
struct SectionOptions
{
    // Written as section_length instead of the true length; the bytes are not
    // changed (for malformed sections).
    std::optional<std::uint16_t> sectionLength;
    // Written as table_id instead of the table's own.
    std::optional<std::uint8_t> tableId;
    // The CRC_32 field is made wrong (its last byte inverted).
    bool badCrc = false;
};

// A section in the long form shared by PAT, PMT and SIT: table_id,
// section_syntax_indicator 1, the bit after it, '11', section_length,
// table_id_extension, '11', version_number, current_next_indicator,
// section_number, last_section_number, body, CRC_32.
struct LongSection
{
    std::uint8_t tableId = 0;
    bool bitAfterSyntaxIndicator = false;  // '0' in PAT and PMT, reserved '1' in the SIT
    std::uint16_t tableIdExtension = 0;
    std::uint8_t version = 0;  // 5 bits
    bool currentNext = true;
    std::uint8_t sectionNumber = 0;
    std::uint8_t lastSectionNumber = 0;
    std::vector<std::uint8_t> body;
};

std::vector<std::uint8_t> MakeLongSection(const LongSection& section, const SectionOptions& options = {});

struct PatEntry
{
    std::uint16_t programNumber = 0;  // 0: the entry names the network PID
    std::uint16_t pid = 0;            // program_map_PID or network_PID
};

struct PatParams
{
    std::uint16_t transportStreamId = 1;
    std::uint8_t version = 0;
    bool currentNext = true;
    std::uint8_t sectionNumber = 0;
    std::uint8_t lastSectionNumber = 0;
    std::vector<PatEntry> entries;
};

std::vector<std::uint8_t> MakePat(const PatParams& params, const SectionOptions& options = {});

struct PmtStream
{
    std::uint8_t streamType = 0;
    std::uint16_t pid = 0;
    std::vector<std::uint8_t> esInfo;  // descriptor bytes
};

struct PmtParams
{
    std::uint16_t programNumber = 1;
    std::uint8_t version = 0;
    bool currentNext = true;
    std::uint16_t pcrPid = 0x1FFF;
    std::vector<std::uint8_t> programInfo;  // descriptor bytes
    std::vector<PmtStream> streams;
};

std::vector<std::uint8_t> MakePmt(const PmtParams& params, const SectionOptions& options = {});

struct SitService
{
    std::uint16_t serviceId = 0;
    std::uint8_t runningStatus = 0;  // 3 bits
    std::vector<std::uint8_t> descriptors;
};

struct SitParams
{
    std::uint8_t version = 0;
    bool currentNext = true;
    std::vector<std::uint8_t> transmissionInfo;  // descriptor bytes
    std::vector<SitService> services;
};

std::vector<std::uint8_t> MakeSit(const SitParams& params, const SectionOptions& options = {});

// tag, length, body.
std::vector<std::uint8_t> MakeDescriptor(std::uint8_t tag, std::span<const std::uint8_t> body);
// registration_descriptor (tag 5): the four characters of format_identifier
// followed by additional_identification_info.
std::vector<std::uint8_t> MakeRegistrationDescriptor(std::string_view formatIdentifier,
                                                     std::span<const std::uint8_t> additional = {});

// Whether the CRC over the whole section, CRC_32 included, comes out 0.
bool SectionCrcValid(std::span<const std::uint8_t> section);
// Inverts the last CRC byte.
void DamageCrc(std::vector<std::uint8_t>& section);

}  // namespace vsktest
