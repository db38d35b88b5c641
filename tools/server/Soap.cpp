#include "Soap.h"

#include "TextEscape.h"
#include "Utf8.h"
#include "platform/xml.h"

#include <algorithm>
#include <exception>
#include <new>

namespace mediahost::server::soap {
namespace {

constexpr std::string_view ENVELOPE_NAMESPACE = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr std::string_view ENVELOPE_HEAD =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
constexpr std::string_view ENVELOPE_TAIL = "</s:Body></s:Envelope>\r\n";
constexpr std::string_view XML_CONTENT_TYPE = "text/xml; charset=\"utf-8\"";

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

std::pair<std::string, std::string> SplitName(const std::string& qualified)
{
    const std::size_t colon = qualified.find(':');
    if (colon == std::string::npos)
        return {{}, qualified};
    return {qualified.substr(0, colon), qualified.substr(colon + 1)};
}

struct SElement {
    platform::CXmlNode node;
    std::string ns;
    std::string local;
};

SElement Read(const platform::CXmlNode& node)
{
    return {node, ToUtf8(node.NamespaceUri()), SplitName(ToUtf8(node.Name())).second};
}

SAnswer Xml(unsigned status, std::string body, std::string log)
{
    SAnswer answer;
    answer.status = status;
    answer.contentType = std::string(XML_CONTENT_TYPE);
    // UPnP 1.0 control points look for it on control answers as on SSDP ones.
    answer.headers.emplace_back("EXT", "");
    answer.body = std::move(body);
    answer.log = std::move(log);
    return answer;
}

SAnswer Fault(int code, const std::string& description, const std::string& action)
{
    return Xml(500, FaultEnvelope(code, description),
               (action.empty() ? std::string("fault ") : action + " fault ") + std::to_string(code) + ": " + description);
}

SAnswer BadRequest(const std::string& why)
{
    SAnswer answer;
    answer.status = 400;
    answer.contentType = "text/plain; charset=utf-8";
    answer.body = "400 Bad Request: " + why + "\n";
    answer.log = "refused: " + why;
    return answer;
}

}  // namespace

std::vector<platform::CXmlNode> ElementChildren(const platform::CXmlNode& node)
{
    std::vector<platform::CXmlNode> out;
    for (const platform::CXmlNode& child : node.Children())
        if (child.IsElement())
            out.push_back(child);
    return out;
}

std::string TextOf(const platform::CXmlNode& node)
{
    std::wstring text;
    for (const platform::CXmlNode& child : node.Children()) {
        const std::wstring name = child.Name();
        if (name == L"#text" || name == L"#cdata-section")
            text += child.Value();
    }
    return ToUtf8(text);
}

std::optional<SCall> ReadBody(std::string_view body)
{
    if (body.find("<!DOCTYPE") != std::string_view::npos)
        return std::nullopt;
    platform::CXmlDocument document;
    if (!document.LoadText(body))
        return std::nullopt;
    const SElement envelope = Read(document.DocumentElement());
    if (envelope.ns != ENVELOPE_NAMESPACE || envelope.local != "Envelope")
        return std::nullopt;
    for (const platform::CXmlNode& child : ElementChildren(envelope.node)) {
        const SElement part = Read(child);
        if (part.ns != ENVELOPE_NAMESPACE || part.local != "Body")
            continue;
        const std::vector<platform::CXmlNode> actions = ElementChildren(part.node);
        if (actions.size() != 1)
            return std::nullopt;
        const SElement action = Read(actions.front());
        SCall call{action.ns, action.local, {}};
        for (const platform::CXmlNode& argument : ElementChildren(action.node))
            call.arguments.emplace_back(SplitName(ToUtf8(argument.Name())).second, TextOf(argument));
        return call;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ParseUInt32(std::string_view text)
{
    text = Trim(text);
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::int32_t> ParseInt32(std::string_view text)
{
    text = Trim(text);
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    const std::optional<std::uint32_t> magnitude = ParseUInt32(text);
    if (!magnitude || text != Trim(text) || *magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu))
        return std::nullopt;
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(*magnitude))
                    : static_cast<std::int32_t>(*magnitude);
}

const std::string& CArguments::Text(std::string_view name) const
{
    for (const auto& [key, value] : m_call.arguments)
        if (key == name)
            return value;
    throw CUpnpFault(UPNP_INVALID_ARGS, "Invalid Args: no " + std::string(name));
}

std::uint32_t CArguments::UInt32(std::string_view name) const
{
    const std::optional<std::uint32_t> value = ParseUInt32(Text(name));
    if (!value)
        throw CUpnpFault(UPNP_INVALID_ARGS, "Invalid Args: " + std::string(name) + " is no ui4");
    return *value;
}

std::int32_t CArguments::Int32(std::string_view name) const
{
    const std::optional<std::int32_t> value = ParseInt32(Text(name));
    if (!value)
        throw CUpnpFault(UPNP_INVALID_ARGS, "Invalid Args: " + std::string(name) + " is no i4");
    return *value;
}

std::string AnswerEnvelope(std::string_view serviceType, std::string_view action,
                           const std::vector<std::pair<std::string_view, std::string_view>>& outArguments)
{
    std::string body(ENVELOPE_HEAD);
    body += "<u:";
    body += action;
    body += "Response xmlns:u=\"" + EscapeMarkup(serviceType) + "\">";
    for (const auto& [name, value] : outArguments) {
        body += "<";
        body += name;
        body += ">" + EscapeMarkup(value) + "</";
        body += name;
        body += ">";
    }
    body += "</u:";
    body += action;
    body += "Response>";
    body += ENVELOPE_TAIL;
    return body;
}

std::string FaultEnvelope(int code, std::string_view description)
{
    std::string body(ENVELOPE_HEAD);
    body += "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
            "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
            std::to_string(code) + "</errorCode><errorDescription>" + EscapeMarkup(description) +
            "</errorDescription></UPnPError></detail></s:Fault>";
    body += ENVELOPE_TAIL;
    return body;
}

namespace detail {

SAnswer Serve(const SRequest& request, std::string_view serviceType, std::span<const SRowView> rows,
              const std::function<SValues(std::size_t row, const CArguments& arguments)>& invoke)
{
    std::string actionName;
    try {
        if (request.method != "POST") {
            SAnswer answer = BadRequest("control requests are POST");
            answer.status = 405;
            answer.body = "405 Method Not Allowed: control requests are POST\n";
            answer.headers.emplace_back("Allow", "POST");
            return answer;
        }
        const std::optional<SCall> call = ReadBody(request.body);
        if (!call)
            return BadRequest("the body is no SOAP action request");
        actionName = call->action;
        std::string_view header = Trim(request.Header("SOAPACTION").value_or(std::string_view()));
        if (header.size() >= 2 && header.front() == '"' && header.back() == '"')
            header = Trim(header.substr(1, header.size() - 2));
        const std::size_t hash = header.rfind('#');
        if (hash == std::string_view::npos || header.substr(0, hash) != call->serviceType ||
            header.substr(hash + 1) != call->action)
            return Fault(UPNP_INVALID_ACTION, "Invalid Action: SOAPACTION and the body name different actions",
                         actionName);
        if (call->serviceType != serviceType)
            return Fault(UPNP_INVALID_ACTION, "Invalid Action: not an action of " + std::string(serviceType),
                         actionName);
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const SRowView& r) { return r.name == call->action; });
        if (row == rows.end())
            return Fault(UPNP_INVALID_ACTION, "Invalid Action", actionName);
        const CArguments arguments(*call);
        for (std::string_view name : *row->in)
            if (!name.empty())
                arguments.Text(name);
        const SValues values = invoke(static_cast<std::size_t>(row - rows.begin()), arguments);
        std::vector<std::pair<std::string_view, std::string_view>> out;
        for (std::size_t i = 0; i < row->out->size() && !(*row->out)[i].empty(); ++i)
            out.emplace_back((*row->out)[i], i < values.size() ? std::string_view(values[i]) : std::string_view());
        return Xml(200, AnswerEnvelope(serviceType, call->action, out), call->action + " answered");
    } catch (const CUpnpFault& fault) {
        return Fault(fault.Code(), fault.what(), actionName);
    } catch (const std::bad_alloc&) {
        return Fault(UPNP_ACTION_FAILED, "Action Failed: out of memory", actionName);
    } catch (const std::exception& e) {
        return Fault(UPNP_ACTION_FAILED, std::string("Action Failed: ") + e.what(), actionName);
    } catch (...) {
        return Fault(UPNP_ACTION_FAILED, "Action Failed", actionName);
    }
}

}  // namespace detail

bool RoundTripsBody(std::string_view body)
{
    const std::optional<SCall> call = ReadBody(body);
    // Without a namespace there is no service to answer for.
    if (!call || call->serviceType.empty())
        return true;
    // What a reader of the answer gets for each value: line ends as XML
    // normalises them, characters XML cannot carry as EscapeMarkup replaces them.
    auto carried = [](const std::string& text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c == '\r') {
                out += '\n';
                if (i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
            } else if (c < 0x20 && c != '\t' && c != '\n') {
                out += "\xEF\xBF\xBD";
            } else {
                out += text[i];
            }
        }
        return out;
    };
    // Names are echoed only when they are plain element names, as every
    // argument name of a service is.
    std::vector<std::pair<std::string_view, std::string_view>> out;
    for (const auto& [name, value] : call->arguments) {
        auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
        const bool plain = !name.empty() && letter(name.front()) &&
                           std::all_of(name.begin(), name.end(), [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
        if (plain)
            out.emplace_back(name, value);
    }
    const std::string action = "Echo";
    const std::optional<SCall> again = ReadBody(AnswerEnvelope(call->serviceType, action, out));
    if (!again || again->action != action + "Response" || again->serviceType != call->serviceType ||
        again->arguments.size() != out.size())
        return false;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (again->arguments[i].first != out[i].first || again->arguments[i].second != carried(std::string(out[i].second)))
            return false;
    return true;
}

}  // namespace mediahost::server::soap
