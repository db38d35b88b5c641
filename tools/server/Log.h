// The server's log: one line on standard error per request or connection
// event, with the time. What a client sent (a decoded name, a header) may
// be part of a line but cannot start another: control characters become '?'.
#pragma once

#include <string>

namespace mediahost::server {

void Log(const std::string& line);

}  // namespace mediahost::server
