// Process environment for tests that steer a helper library (the stand-in
// parser reads its behaviour from the environment at each call). Values are
// native path strings: UTF-16 on Windows, bytes elsewhere. On Windows both the
// process environment block and the C runtime's copy are updated.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vsktest {

using NativeString = std::filesystem::path::string_type;

std::optional<NativeString> GetEnvironmentValue(const std::string& name);
// A missing value removes the variable.
void SetEnvironmentValue(const std::string& name, const std::optional<NativeString>& value);

// Sets a variable for the lifetime of the object and restores the previous
// value (or its absence) afterwards.
class CScopedEnvironment
{
public:
    CScopedEnvironment(std::string name, std::string_view asciiValue);
    CScopedEnvironment(std::string name, const char* asciiValue)
        : CScopedEnvironment(std::move(name), std::string_view(asciiValue)) {}
    CScopedEnvironment(std::string name, const std::filesystem::path& value);
    // Removes the variable for the lifetime of the object.
    explicit CScopedEnvironment(std::string name);
    ~CScopedEnvironment();
    CScopedEnvironment(const CScopedEnvironment&) = delete;
    CScopedEnvironment& operator=(const CScopedEnvironment&) = delete;

private:
    std::string m_name;
    std::optional<NativeString> m_previous;
};

}  // namespace vsktest
