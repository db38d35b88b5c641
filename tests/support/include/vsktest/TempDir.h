// Files for tests: a temporary directory that removes itself with everything
// in it, whole-file write and read, and the directory of the running test
// program (where the build puts helper libraries and data).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vsktest {

class CTempDir
{
public:
    // Creates a new, empty directory with a unique name under the system's
    // temporary directory. Throws std::runtime_error when that fails.
    CTempDir();
    // Removes the directory and its contents; errors are ignored (a test
    // that left a file open on Windows must not fail in its destructor).
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // Path of an entry inside the directory (nothing is created).
    std::filesystem::path operator/(const std::filesystem::path& name) const { return m_path / name; }
    // Full path of an entry inside the directory, as wide text.
    std::wstring File(const std::wstring& name) const;
    // Writes a file inside the directory and returns its full path.
    std::filesystem::path WriteFile(const std::filesystem::path& name, std::span<const std::uint8_t> bytes) const;
    std::filesystem::path WriteFile(const std::filesystem::path& name, std::string_view text) const;

private:
    std::filesystem::path m_path;
};

// Writes (creating or replacing) a file with exactly these bytes. Throws
// std::runtime_error on failure.
void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
// The whole file. Throws std::runtime_error when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

// Directory of the running executable.
std::filesystem::path TestExecutableDirectory();

// A build output <build>/<folder>/<name>, looked for upward from the running
// program (which lives in <build>/bin or a folder below it); `configured`
// (the build's own absolute path) when not found that way. Under Wine the
// build's path is no drive path, so the upward search is what finds it there.
std::filesystem::path LocateBuildOutput(const char* folder, const std::filesystem::path& name,
                                        const std::filesystem::path& configured);

// A folder of the build named by its absolute path at configure time, as
// this program reaches it: under Wine the build's Unix path is no drive path,
// and drive Z: maps the root. `configured` itself when neither is a folder.
std::filesystem::path ReachableBuildFolder(const std::filesystem::path& configured);

}  // namespace vsktest
