#include "Description.h"

#include "TextEscape.h"

namespace mediahost::server {
namespace {

constexpr const char* XML_CONTENT_TYPE = "text/xml; charset=\"utf-8\"";

std::string Element(std::string_view name, std::string_view text)
{
    return "<" + std::string(name) + ">" + EscapeMarkup(text) + "</" + std::string(name) + ">";
}

}  // namespace

std::string DeviceDescription(const SDeviceIdentity& identity)
{
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<root xmlns=\"urn:schemas-upnp-org:device-1-0\" xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\">\n"
        "<specVersion><major>1</major><minor>0</minor></specVersion>\n"
        "<device>\n";
    xml += Element("deviceType", DEVICE_TYPE) + "\n";
    xml += Element("friendlyName", identity.friendlyName) + "\n";
    xml += Element("manufacturer", identity.manufacturer) + "\n";
    xml += Element("modelDescription", identity.modelDescription) + "\n";
    xml += Element("modelName", identity.modelName) + "\n";
    xml += Element("modelNumber", identity.modelNumber) + "\n";
    xml += Element("UDN", identity.udn) + "\n";
    xml += Element("dlna:X_DLNADOC", "DMS-1.50") + "\n";
    xml += Element("presentationURL", "/") + "\n";
    xml += "<serviceList>\n";
    for (const SServiceRow& service : SERVICES) {
        xml += "<service>" + Element("serviceType", service.type) + Element("serviceId", service.id) +
               Element("SCPDURL", ScpdPath(service)) + Element("controlURL", ControlPath(service)) +
               Element("eventSubURL", EventPath(service)) + "</service>\n";
    }
    xml += "</serviceList>\n</device>\n</root>\n";
    return xml;
}

std::string ServiceDescription(const SServiceRow& service)
{
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">\n"
        "<specVersion><major>1</major><minor>0</minor></specVersion>\n"
        "<actionList>\n";
    for (const SAction& action : service.actions) {
        xml += "<action>" + Element("name", action.name) + "<argumentList>";
        for (const SArgument& argument : action.arguments) {
            xml += "<argument>" + Element("name", argument.name) +
                   Element("direction", argument.direction == EDirection::ARGUMENT_IN ? "in" : "out") +
                   Element("relatedStateVariable", argument.relatedStateVariable) + "</argument>";
        }
        xml += "</argumentList></action>\n";
    }
    xml += "</actionList>\n<serviceStateTable>\n";
    for (const SStateVariable& variable : service.variables) {
        xml += std::string("<stateVariable sendEvents=\"") + (variable.sendEvents ? "yes" : "no") + "\">" +
               Element("name", variable.name) + Element("dataType", variable.dataType);
        if (!variable.allowedValues.empty()) {
            xml += "<allowedValueList>";
            for (std::string_view value : variable.allowedValues)
                xml += Element("allowedValue", value);
            xml += "</allowedValueList>";
        }
        xml += "</stateVariable>\n";
    }
    xml += "</serviceStateTable>\n</scpd>\n";
    return xml;
}

CDescriptions::CDescriptions(const SDeviceIdentity& identity) : m_device(DeviceDescription(identity))
{
    for (std::size_t i = 0; i < std::size(SERVICES); ++i)
        m_services[i] = ServiceDescription(SERVICES[i]);
}

SAnswer CDescriptions::Handle(const SRequest& request) const
{
    SAnswer answer;
    if (request.method != "GET" && request.method != "HEAD") {
        answer.status = 405;
        answer.headers.emplace_back("Allow", "GET, HEAD");
        answer.log = "description documents are read with GET or HEAD";
        return answer;
    }
    const std::string* document = request.path == DESCRIPTION_PATH ? &m_device : nullptr;
    for (std::size_t i = 0; document == nullptr && i < std::size(SERVICES); ++i) {
        if (request.path == ScpdPath(SERVICES[i]))
            document = &m_services[i];
    }
    if (document == nullptr) {
        answer.status = 404;
        answer.log = "no such description document";
        return answer;
    }
    answer.contentType = XML_CONTENT_TYPE;
    answer.body = *document;
    answer.log = "description " + request.path;
    return answer;
}

}  // namespace mediahost::server
