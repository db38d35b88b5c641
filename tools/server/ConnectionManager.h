// ConnectionManager:1 of a server that makes no connections of its own:
// GetProtocolInfo (Source: every entry of the component's catalogue in the
// chosen profile mode, in its order; Sink empty), GetCurrentConnectionIDs
// ("0", the one connection HTTP-only servers have) and
// GetCurrentConnectionInfo for it (any other id: 706).
#pragma once

#include "ComponentHost.h"
#include "Exchange.h"

#include <string>
#include <vector>

namespace mediahost::server {

inline constexpr std::string_view CONNECTION_MANAGER_TYPE = "urn:schemas-upnp-org:service:ConnectionManager:1";

// The Source protocolInfo list of a catalogue (GetSupportedProfiles),
// comma-separated, for the action and its event alike.
std::string SourceProtocolInfo(const std::vector<STarget>& catalogue);

class CConnectionManager {
public:
    explicit CConnectionManager(std::string sourceProtocolInfo) : m_source(std::move(sourceProtocolInfo)) {}

    // A control request; never throws.
    SAnswer Handle(const SRequest& request) const;

    const std::string& Source() const { return m_source; }

private:
    std::string m_source;
};

}  // namespace mediahost::server
