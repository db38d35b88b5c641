#include "vsktest/PsiSections.h"

#include "vsktest/BitWriter.h"
#include "vsktest/Crc32Mpeg2.h"

#include <stdexcept>

namespace vsktest {

std::vector<std::uint8_t> MakeLongSection(const LongSection& section, const SectionOptions& options)
{
    // table_id_extension .. last_section_number (5), body, CRC_32 (4).
    const std::size_t length = 5 + section.body.size() + 4;
    if (length > 0x0FFF)
        throw std::invalid_argument("section longer than section_length can express");

    CBitWriter w;
    w.Put(options.tableId.value_or(section.tableId), 8)
        .Put(1, 1)
        .Put(section.bitAfterSyntaxIndicator, 1)
        .Ones(2)
        .Put(options.sectionLength.value_or(static_cast<std::uint16_t>(length)), 12)
        .Put(section.tableIdExtension, 16)
        .Ones(2)
        .Put(section.version, 5)
        .Put(section.currentNext, 1)
        .Put(section.sectionNumber, 8)
        .Put(section.lastSectionNumber, 8)
        .Bytes(section.body);
    const std::uint32_t crc = Crc32Mpeg2(w.Data());
    w.Put(crc, 32);
    std::vector<std::uint8_t> bytes = w.Take();
    if (options.badCrc)
        DamageCrc(bytes);
    return bytes;
}

std::vector<std::uint8_t> MakePat(const PatParams& params, const SectionOptions& options)
{
    CBitWriter body;
    for (const PatEntry& e : params.entries)
        body.Put(e.programNumber, 16).Ones(3).Put(e.pid, 13);

    LongSection s;
    s.tableId = TABLE_ID_PAT;
    s.tableIdExtension = params.transportStreamId;
    s.version = params.version;
    s.currentNext = params.currentNext;
    s.sectionNumber = params.sectionNumber;
    s.lastSectionNumber = params.lastSectionNumber;
    s.body = body.Take();
    return MakeLongSection(s, options);
}

std::vector<std::uint8_t> MakePmt(const PmtParams& params, const SectionOptions& options)
{
    CBitWriter body;
    body.Ones(3).Put(params.pcrPid, 13).Ones(4).Put(params.programInfo.size(), 12).Bytes(params.programInfo);
    for (const PmtStream& st : params.streams)
        body.Put(st.streamType, 8).Ones(3).Put(st.pid, 13).Ones(4).Put(st.esInfo.size(), 12).Bytes(st.esInfo);

    LongSection s;
    s.tableId = TABLE_ID_PMT;
    s.tableIdExtension = params.programNumber;
    s.version = params.version;
    s.currentNext = params.currentNext;
    s.body = body.Take();
    return MakeLongSection(s, options);
}

std::vector<std::uint8_t> MakeSit(const SitParams& params, const SectionOptions& options)
{
    // Selection information section: DVB_reserved_future_use where PAT and PMT
    // have table_id_extension, all ones.
    CBitWriter body;
    body.Ones(4).Put(params.transmissionInfo.size(), 12).Bytes(params.transmissionInfo);
    for (const SitService& sv : params.services)
        body.Put(sv.serviceId, 16).Ones(1).Put(sv.runningStatus, 3).Put(sv.descriptors.size(), 12).Bytes(sv.descriptors);

    LongSection s;
    s.tableId = TABLE_ID_SIT;
    s.bitAfterSyntaxIndicator = true;
    s.tableIdExtension = 0xFFFF;
    s.version = params.version;
    s.currentNext = params.currentNext;
    s.body = body.Take();
    return MakeLongSection(s, options);
}

std::vector<std::uint8_t> MakeDescriptor(std::uint8_t tag, std::span<const std::uint8_t> body)
{
    if (body.size() > 255)
        throw std::invalid_argument("descriptor body longer than 255 bytes");
    std::vector<std::uint8_t> d{tag, static_cast<std::uint8_t>(body.size())};
    d.insert(d.end(), body.begin(), body.end());
    return d;
}

std::vector<std::uint8_t> MakeRegistrationDescriptor(std::string_view formatIdentifier,
                                                     std::span<const std::uint8_t> additional)
{
    if (formatIdentifier.size() != 4)
        throw std::invalid_argument("format_identifier must be four characters");
    std::vector<std::uint8_t> body(formatIdentifier.begin(), formatIdentifier.end());
    body.insert(body.end(), additional.begin(), additional.end());
    return MakeDescriptor(0x05, body);
}

bool SectionCrcValid(std::span<const std::uint8_t> section)
{
    return section.size() >= 4 && Crc32Mpeg2(section) == 0;
}

void DamageCrc(std::vector<std::uint8_t>& section)
{
    if (section.empty())
        throw std::invalid_argument("DamageCrc: empty section");
    section.back() ^= 0xFFu;
}

}  // namespace vsktest
