// UPnP control: an action request (SOAP 1.1 over HTTP POST) read into its
// action and arguments, and the answer or the fault written back.
//
// A service lists its actions as rows (name, the in arguments it needs, the
// out arguments it answers in order, its handler). `Serve` is the one
// boundary: it reads the request, checks it against the rows, calls the
// handler, and turns every CUpnpFault a handler raises, and anything else
// that escapes it, into the fault envelope (HTTP 500).
//
// Choices made here:
// - The action is named twice, by the SOAPACTION header ("TYPE#NAME", quotes
//   optional) and by the body's element; both must agree, in service type
//   and action name, or the request is an invalid action (401). A missing
//   header is one too: a control point that leaves it out speaks no UPnP.
// - A body that is no XML, or no SOAP envelope with a body holding one
//   element, is a bad request (HTTP 400): there is no action to fault. A
//   document type declaration is refused the same way (SOAP messages carry
//   none, and a DTD is the door to entity expansion).
// - In arguments are found by name, in any order, and arguments the action
//   does not take are ignored: control points in the field reorder them and
//   add their own, and refusing them helps nobody. A missing one is 402.
// - Out arguments are written in the order the row names them, each value
//   escaped once with EscapeMarkup.
#pragma once

#include "Exchange.h"
#include "platform/xml.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mediahost::server::soap {

inline constexpr int UPNP_INVALID_ACTION = 401;
inline constexpr int UPNP_INVALID_ARGS = 402;
inline constexpr int UPNP_ACTION_FAILED = 501;
inline constexpr int UPNP_ARGUMENT_VALUE_INVALID = 600;
inline constexpr int UPNP_NO_SUCH_OBJECT = 701;
inline constexpr int UPNP_INVALID_CONNECTION_REFERENCE = 706;

// Raised by a handler; becomes the fault envelope at the boundary.
class CUpnpFault : public std::runtime_error {
public:
    CUpnpFault(int code, const std::string& description) : std::runtime_error(description), m_code(code) {}
    int Code() const { return m_code; }

private:
    int m_code;
};

// One action request as the body states it.
struct SCall {
    std::string serviceType;  // the action element's namespace
    std::string action;       // its local name
    std::vector<std::pair<std::string, std::string>> arguments;  // local names and text, as sent
};

// The body read; nullopt when it is no SOAP action request.
std::optional<SCall> ReadBody(std::string_view body);

// The in arguments of a call, by name.
class CArguments {
public:
    explicit CArguments(const SCall& call) : m_call(call) {}
    // Raise 402 when the argument is absent.
    const std::string& Text(std::string_view name) const;
    // A ui4: decimal digits only, surrounding blanks allowed; 402 otherwise.
    std::uint32_t UInt32(std::string_view name) const;
    // An i4: the same with an optional '-'.
    std::int32_t Int32(std::string_view name) const;

private:
    const SCall& m_call;
};

// Parses a ui4 or i4 value as CArguments does; nullopt when it is not one.
std::optional<std::uint32_t> ParseUInt32(std::string_view text);
std::optional<std::int32_t> ParseInt32(std::string_view text);

inline constexpr std::size_t MAX_ARGUMENTS = 8;
using SNames = std::array<std::string_view, MAX_ARGUMENTS>;  // unused places empty
using SValues = std::vector<std::string>;

template <class Service>
struct SActionRow {
    std::string_view name;
    SNames in;
    SNames out;
    SValues (*handle)(const Service& service, const CArguments& arguments, const SRequest& request);
};

// What a reader of a SOAP body or a DIDL-Lite document takes from an
// element: its element children in document order, and its text (text and
// CDATA children; comments are not text).
std::vector<platform::CXmlNode> ElementChildren(const platform::CXmlNode& node);
std::string TextOf(const platform::CXmlNode& node);

// The envelopes, as sent.
std::string AnswerEnvelope(std::string_view serviceType, std::string_view action,
                           const std::vector<std::pair<std::string_view, std::string_view>>& outArguments);
std::string FaultEnvelope(int code, std::string_view description);

namespace detail {

// What the boundary needs of a row, without the service's type.
struct SRowView {
    std::string_view name;
    const SNames* in;
    const SNames* out;
};
SAnswer Serve(const SRequest& request, std::string_view serviceType, std::span<const SRowView> rows,
              const std::function<SValues(std::size_t row, const CArguments& arguments)>& invoke);

}  // namespace detail

// The boundary: a control request to the service's actions, answered.
// Never throws.
template <class Service, std::size_t N>
SAnswer Serve(const SRequest& request, std::string_view serviceType, const std::array<SActionRow<Service>, N>& rows,
              const Service& service)
{
    std::array<detail::SRowView, N> views{};
    for (std::size_t i = 0; i < N; ++i)
        views[i] = {rows[i].name, &rows[i].in, &rows[i].out};
    return detail::Serve(request, serviceType, views, [&](std::size_t row, const CArguments& arguments) {
        return rows[row].handle(service, arguments, request);
    });
}

// For the fuzz target: reads a body, and when it is an action request,
// writes an answer echoing its arguments and reads that back. False when
// the two disagree (an escaping fault); true otherwise, whatever the body.
bool RoundTripsBody(std::string_view body);

}  // namespace mediahost::server::soap
