#include "platform/hresult_text.h"

namespace platform {

namespace {

struct SMessage {
    std::uint32_t hr;
    const wchar_t* text;
};

// The texts the Windows build gets from the system for these codes (the
// message tables of the Wine runtime the tests run under); codes missing
// there are missing here, so both builds answer alike.
constexpr SMessage MESSAGES[] = {
    {0x00000000u, L"Success.\r\n"},
    {0x00000001u, L"Invalid function.\r\n"},
    {0x80004001u, L"Not implemented.\r\n"},
    {0x80004005u, L"Call failed.\r\n"},
    {0x80070002u, L"File not found.\r\n"},
    {0x80070003u, L"Path not found.\r\n"},
    {0x80070005u, L"Access denied.\r\n"},
    {0x80070006u, L"Invalid handle.\r\n"},
    {0x80070008u, L"Not enough memory.\r\n"},
    {0x8007000Du, L"Invalid data.\r\n"},
    {0x8007000Eu, L"Out of memory.\r\n"},
    {0x80070015u, L"Not ready.\r\n"},
    {0x80070020u, L"Sharing violation.\r\n"},
    {0x80070026u, L"End of file.\r\n"},
    {0x80070032u, L"Request not supported.\r\n"},
    {0x80070057u, L"Invalid parameter.\r\n"},
    {0x8007007Au, L"Insufficient buffer.\r\n"},
    {0x800700B7u, L"File already exists.\r\n"},
    {0x80070103u, L"No more data available.\r\n"},
    {0x80070490u, L"Element not found.\r\n"},
};

}  // namespace

bool HResultText(std::int32_t hr, std::wstring& text)
{
    const auto code = static_cast<std::uint32_t>(hr);
    for (const SMessage& message : MESSAGES) {
        if (message.hr == code) {
            text = message.text;
            return true;
        }
    }
    text.clear();
    return false;
}

}  // namespace platform
