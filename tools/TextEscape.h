// The one place text is escaped for the markup and data the host writes:
// XML (device descriptions, SOAP, DIDL-Lite), HTML (the listing page) and
// JSON (the CLI's --json output). Every writer goes through these, so a name
// from the folder or a value from a client can never close an element or a
// string early.
//
// Input is UTF-8 and passes through unchanged but for the characters each
// format reserves. Control characters that XML 1.0 cannot carry at all
// (below 0x20 but tab, line feed and carriage return) become U+FFFD, so a
// file name holding one still gives a well-formed document.
#pragma once

#include <string>
#include <string_view>

namespace mediahost {

// & < > " ' as entities, for element text and attribute values alike (XML
// and HTML).
std::string EscapeMarkup(std::string_view text);
// A JSON string literal with its quotes.
std::string JsonString(std::string_view text);

}  // namespace mediahost
