// What names this machine to the network and keeps naming it across
// restarts: its host name, an identifier that stays the same for the life
// of the installed system, and the operating system's name and version as
// protocol headers carry them.
#pragma once

#include <string>

namespace platform {

// The host name ("kitchen-pc"); empty when the system does not say.
std::wstring HostName();
// Linux: /etc/machine-id (else /var/lib/dbus/machine-id); Windows: the
// MachineGuid that setup wrote under HKLM\SOFTWARE\Microsoft\Cryptography.
// Empty when there is none: callers fall back on the host name.
std::wstring MachineId();
// "Linux/6.1.0", "Windows/10.0": the system's name and release.
std::wstring SystemVersion();

}  // namespace platform
