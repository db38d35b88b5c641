#include "ProgramStream.h"

namespace parser {

Result CProgramStream::Prepare(std::uint32_t bufferSize, std::uint32_t selectionMode) noexcept
{
    m_selectionMode = selectionMode;
    m_unitReported = false;
    if (bufferSize == 0)
        return ResultSetupFailed;
    if (Allocate(bufferSize < PROGRAM_STREAM_MIN_BUFFER ? PROGRAM_STREAM_MIN_BUFFER : bufferSize) == 0)
        return ResultNoMemory;
    return RESULT_OK;
}

Result CProgramStream::Append(const std::uint8_t* bytes, std::uint32_t length) noexcept
{
    if (length == 0)
        return RESULT_OK;
    if (FreeSpace() < length)
        Compact();
    return CBuffer::Append(bytes, length) == length ? RESULT_OK : ResultAppendFailed;
}

std::int32_t CProgramStream::NextUnit() noexcept
{
    return m_unitReported ? 1 : 0;
}

bool CProgramStream::TakeUnit(SUnitInfo&) const noexcept
{
    return false;
}

void CProgramStream::ReleaseUnit() noexcept
{
    m_unitReported = false;
}

}  // namespace parser
