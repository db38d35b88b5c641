// The description documents a control point reads after discovery: the
// device description at DESCRIPTION_PATH and one SCPD per service, written
// from the rows of Device.h with every text escaped by EscapeMarkup.
//
// Choices made here:
// - specVersion 1.0, as DLNA 1.5 devices write it; the URLs are paths, so
//   each resolves against the address the control point fetched the
//   description from (no URLBase, which UDA 1.1 drops), and one document
//   serves every interface.
// - The presentation URL is the HTML listing ("/"), so a control point that
//   offers a web page for a device opens the list of recordings.
// - GET and HEAD only (405 with Allow otherwise); 404 for a path that names
//   no document.
#pragma once

#include "Device.h"
#include "Exchange.h"

#include <string>

namespace mediahost::server {

std::string DeviceDescription(const SDeviceIdentity& identity);
std::string ServiceDescription(const SServiceRow& service);

// The three documents, written once.
class CDescriptions {
public:
    explicit CDescriptions(const SDeviceIdentity& identity);
    SAnswer Handle(const SRequest& request) const;
    // The device description's text, for CONFIGID.UPNP.ORG (it changes when
    // the document does).
    const std::string& Device() const { return m_device; }

private:
    std::string m_device;
    std::string m_services[std::size(SERVICES)];
};

}  // namespace mediahost::server
