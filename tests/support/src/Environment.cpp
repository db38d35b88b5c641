#include "vsktest/Environment.h"

namespace vsktest {

CScopedEnvironment::CScopedEnvironment(std::string name, std::string_view asciiValue)
    : CScopedEnvironment(std::move(name), std::filesystem::path(asciiValue))
{
}

CScopedEnvironment::CScopedEnvironment(std::string name, const std::filesystem::path& value)
    : m_name(std::move(name)), m_previous(GetEnvironmentValue(m_name))
{
    SetEnvironmentValue(m_name, value.native());
}

CScopedEnvironment::CScopedEnvironment(std::string name)
    : m_name(std::move(name)), m_previous(GetEnvironmentValue(m_name))
{
    SetEnvironmentValue(m_name, std::nullopt);
}

CScopedEnvironment::~CScopedEnvironment()
{
    try {
        SetEnvironmentValue(m_name, m_previous);
    } catch (...) {
        // Restoring is best effort; a destructor must not throw.
    }
}

}  // namespace vsktest
