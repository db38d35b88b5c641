// Helpers shared by the section tests: feeding whole byte strings into a
// section object's buffer and building sections whose bodies are written by
// hand (lengths that lie, loops that overrun), with a valid CRC so only the
// check under test can fail.
#pragma once

#include "Results.h"
#include "Section.h"

#include "vsktest/PsiSections.h"

#include <cstdint>
#include <span>
#include <vector>

namespace sectiontest {

// Appends the bytes as one piece and parses.
inline parser::Result AppendAndParse(parser::CSection& section, std::span<const std::uint8_t> bytes)
{
    if (!bytes.empty() && section.Append(bytes.data(), static_cast<std::uint32_t>(bytes.size())) != bytes.size())
        return parser::ResultAppendFailed;
    return section.Parse();
}

// A long-form section with the given body and a correct CRC.
inline std::vector<std::uint8_t> HandMadeSection(std::uint8_t tableId, std::uint16_t tableIdExtension,
                                                 std::vector<std::uint8_t> body, std::uint8_t version = 0)
{
    vsktest::LongSection s;
    s.tableId = tableId;
    s.bitAfterSyntaxIndicator = tableId == vsktest::TABLE_ID_SIT;
    s.tableIdExtension = tableIdExtension;
    s.version = version;
    s.body = std::move(body);
    return vsktest::MakeLongSection(s);
}

inline std::vector<std::uint8_t> Concat(std::initializer_list<std::span<const std::uint8_t>> parts)
{
    std::vector<std::uint8_t> all;
    for (auto part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace sectiontest
