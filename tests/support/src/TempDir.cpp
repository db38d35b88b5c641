#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace vsktest {
namespace {

std::uint64_t UniqueNumber()
{
    // random_device alone may be deterministic on some runtimes; mixing in the
    // clock, a counter and an address keeps parallel test programs apart.
    static std::atomic<std::uint64_t> counter{0};
    std::random_device rd;
    std::uint64_t v = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
    v ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    v ^= counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
    v ^= reinterpret_cast<std::uintptr_t>(&counter);
    return v;
}

}  // namespace

CTempDir::CTempDir()
{
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "vsktest-%016llx",
                      static_cast<unsigned long long>(UniqueNumber()));
        std::filesystem::path candidate = base / name;
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec) && !ec) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("CTempDir: cannot create a temporary directory under " + base.string());
}

CTempDir::~CTempDir()
{
    std::error_code ec;
    // Read-only entries (tests make some) would stop the removal on Windows.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, ec)) {
        std::error_code ignored;
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(m_path, ec);
}

std::wstring CTempDir::File(const std::wstring& name) const
{
    return WideFromPath(m_path / PathFromWide(name));
}

std::filesystem::path CTempDir::WriteFile(const std::filesystem::path& name,
                                          std::span<const std::uint8_t> bytes) const
{
    std::filesystem::path full = m_path / name;
    WriteFileBytes(full, bytes);
    return full;
}

std::filesystem::path CTempDir::WriteFile(const std::filesystem::path& name, std::string_view text) const
{
    return WriteFile(name, std::span<const std::uint8_t>(
                               reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot create " + path.string());
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path.string());
    std::vector<std::uint8_t> bytes;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
    if (in.bad())
        throw std::runtime_error("cannot read " + path.string());
    return bytes;
}

}  // namespace vsktest

namespace vsktest {

std::filesystem::path LocateBuildOutput(const char* folder, const std::filesystem::path& name,
                                        const std::filesystem::path& configured)
{
    std::filesystem::path dir = TestExecutableDirectory();
    for (int level = 0; level < 3 && dir.has_parent_path() && dir != dir.parent_path(); ++level) {
        dir = dir.parent_path();
        const std::filesystem::path candidate = dir / folder / name;
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec))
            return candidate;
    }
    return configured;
}

std::filesystem::path ReachableBuildFolder(const std::filesystem::path& configured)
{
    std::error_code ec;
    if (std::filesystem::is_directory(configured, ec))
        return configured;
    const std::filesystem::path mapped = std::filesystem::path("Z:") / configured.relative_path();
    if (std::filesystem::is_directory(mapped, ec))
        return mapped;
    return configured;
}

}  // namespace vsktest
