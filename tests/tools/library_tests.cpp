// The library index on folders the tests make: what is listed and in which
// order, paging, the cache file across restarts (counted in describe calls),
// and changes seen while it runs.
#include "library_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

using namespace librarytest;
using mediahost::server::CLibrary;
using mediahost::server::SChildren;
using mediahost::server::SLibraryOptions;
using mediahost::server::SObject;

struct SLibraryFixture : ::testing::Test {
    vsktest::CTempDir m_root;
    fs::path m_folder = m_root / "served";
    fs::path m_cache = m_root / "cache" / "library.cache";
    SCountingDescriber m_describer;

    SLibraryOptions Options(std::string context = "context")
    {
        SLibraryOptions options;
        options.folder = m_folder;
        options.cacheFile = m_cache;
        options.cacheContext = std::move(context);
        options.served = [folder = m_folder](const fs::path& entry) { return Served(folder, entry); };
        options.describe = [this](const fs::path& path) { return m_describer(path); };
        options.rescanInterval = std::chrono::milliseconds(0);
        return options;
    }

    static std::vector<std::string> Titles(const std::vector<SObject>& objects)
    {
        std::vector<std::string> titles;
        for (const SObject& object : objects)
            titles.push_back(object.title);
        return titles;
    }

    static SChildren All(CLibrary& library, const std::string& id)
    {
        const std::optional<SChildren> children = library.Children(id, 0, 0);
        return children.value_or(SChildren{});
    }

    static std::string IdOf(CLibrary& library, const std::string& parent, const std::string& title)
    {
        for (const SObject& object : All(library, parent).objects)
            if (object.title == title)
                return object.id;
        return {};
    }
};

TEST_F(SLibraryFixture, ListsFoldersThenRecordingsByNameAndLeavesOutWhatIsNotServed)
{
    Write(m_folder / "b.ts", 10);
    Write(m_folder / "A.mpg", 10);
    Write(m_folder / "c.M2TS", 10);
    Write(m_folder / "notes.txt", 10);
    Write(m_folder / ".hidden.ts", 10);
    Write(m_folder / "Zed" / "inner.ts", 10);
    Write(m_folder / "alpha" / "deeper" / "x.ts", 10);
    Write(m_folder / ".secret" / "y.ts", 10);
    Write(m_root / "outside.ts", 10);
    std::error_code ec;
    fs::create_directory_symlink(m_root.Path(), m_folder / "link-out", ec);
    const bool links = !ec;
    if (links) {
        fs::create_symlink(m_root / "outside.ts", m_folder / "out.ts", ec);
        fs::create_symlink(m_folder / "b.ts", m_folder / "inside-link.ts", ec);
        fs::create_directory_symlink(m_folder, m_folder / "alpha" / "loop", ec);
    }

    CLibrary library(Options());
    library.Start();
    library.WaitUntilDescribed();

    std::vector<std::string> expected{"alpha", "Zed", "A", "b", "c"};
    if (links)
        expected.push_back("inside-link");
    EXPECT_EQ(Titles(All(library, "0").objects), expected);
    const SChildren root = All(library, "0");
    EXPECT_EQ(root.totalMatches, expected.size());
    for (const SObject& object : root.objects) {
        EXPECT_EQ(object.parentId, "0");
        EXPECT_EQ(object.container, object.title == "alpha" || object.title == "Zed") << object.title;
    }
    // The link back up to the served folder is not entered.
    EXPECT_EQ(root.objects[0].childCount, 1u);
    const std::string alpha = IdOf(library, "0", "alpha");
    EXPECT_EQ(Titles(All(library, alpha).objects), std::vector<std::string>{"deeper"});
    EXPECT_EQ(Titles(All(library, IdOf(library, alpha, "deeper")).objects), std::vector<std::string>{"x"});
}

TEST_F(SLibraryFixture, PagesAndMetadata)
{
    // Names whose order a reader sees at a glance: sub-folders first.
    const std::vector<std::string> folders{"f0", "f1"};
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i)
        files.push_back("r" + std::string(i < 10 ? "0" : "") + std::to_string(i));
    for (const std::string& name : folders)
        Write(m_folder / name / "inside.ts", 5);
    for (const std::string& name : files)
        Write(m_folder / (name + ".ts"), 5);
    std::vector<std::string> all = folders;
    all.insert(all.end(), files.begin(), files.end());

    CLibrary library(Options());
    library.Start();
    library.WaitUntilDescribed();

    struct SRow {
        std::uint32_t start;
        std::uint32_t count;
    };
    const SRow rows[] = {{0, 0}, {0, 1}, {0, 5}, {1, 3}, {13, 0}, {13, 5}, {14, 0}, {14, 1}, {100, 0}, {0, 100},
                         {4294967295u, 4294967295u}};
    for (const SRow& row : rows) {
        const std::optional<SChildren> page = library.Children("0", row.start, row.count);
        ASSERT_TRUE(page);
        const std::size_t begin = std::min<std::size_t>(row.start, all.size());
        const std::size_t end = row.count == 0 ? all.size() : std::min<std::size_t>(all.size(), begin + row.count);
        EXPECT_EQ(Titles(page->objects), std::vector<std::string>(all.begin() + begin, all.begin() + end))
            << row.start << "+" << row.count;
        EXPECT_EQ(page->totalMatches, all.size());
    }

    const std::optional<SObject> root = library.Object("0");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->parentId, "-1");
    EXPECT_EQ(root->childCount, all.size());
    EXPECT_EQ(root->title, "served");
    const SObject first = All(library, "0").objects.at(2);
    const std::optional<SObject> item = library.Object(first.id);
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->container);
    EXPECT_EQ(item->relative, "r00.ts");
    EXPECT_EQ(item->size, 5u);
    ASSERT_TRUE(item->description);
    EXPECT_EQ(item->description->offers.size(), 2u);
    // Ids are the same for the same path in another index, and unknown ids are
    // no object.
    CLibrary again(Options("other"));
    EXPECT_EQ(IdOf(again, "0", "r00"), first.id);
    EXPECT_FALSE(library.Object("1234"));
    EXPECT_FALSE(library.Children("", 0, 0));
    // An item has no children.
    EXPECT_EQ(library.Children(first.id, 0, 0)->totalMatches, 0u);
}

TEST_F(SLibraryFixture, RestartDescribesOnlyWhatChanged)
{
    for (int i = 0; i < 6; ++i)
        Write(m_folder / ("r" + std::to_string(i) + ".ts"), 100 + static_cast<std::size_t>(i));
    Write(m_folder / "sub" / "plain.mpg", 7);
    std::uint32_t systemId = 0;
    {
        CLibrary library(Options());
        library.Start();
        library.WaitUntilDescribed();
        systemId = library.SystemUpdateId();
    }
    EXPECT_EQ(m_describer.calls.load(), 7);

    constexpr int ALL = -1;
    auto recordings = [&] {
        int count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(m_folder))
            count += entry.path().extension() == ".ts" || entry.path().extension() == ".mpg";
        return count;
    };
    struct SRow {
        const char* what;
        std::function<void()> change;
        int describes;        // on the restart after the change
        bool newSystemId;     // the restart takes a new SystemUpdateID
    };
    const SRow rows[] = {
        {"nothing changed", [] {}, 0, false},
        {"one recording grew", [&] { Write(m_folder / "r1.ts", 999); }, 1, true},
        {"one removed, one added", [&] {
             fs::remove(m_folder / "r2.ts");
             Write(m_folder / "sub" / "new.ts", 3);
         }, 1, true},
        {"a different context (component, profile mode)", [] {}, ALL, false},
        {"the file cut short", [&] { fs::resize_file(m_cache, fs::file_size(m_cache) / 2); }, ALL, false},
        {"one byte flipped", [&] {
             std::fstream file(m_cache, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(40);
             file.put('\x5A');
         }, ALL, false},
        {"not a cache file", [&] { Write(m_cache, 4096, '\0'); }, ALL, false},
        {"empty", [&] { Write(m_cache, 0); }, ALL, false},
        {"missing", [&] { fs::remove(m_cache); }, ALL, false},
    };
    std::string context = "context";
    for (const SRow& row : rows) {
        row.change();
        if (std::string(row.what).find("context") != std::string::npos)
            context = "another";
        m_describer.calls = 0;
        CLibrary library(Options(context));
        library.Start();
        library.WaitUntilDescribed();
        EXPECT_EQ(m_describer.calls.load(), row.describes == ALL ? recordings() : row.describes) << row.what;
        if (row.describes != ALL) {
            EXPECT_EQ(library.SystemUpdateId() > systemId, row.newSystemId) << row.what;
            EXPECT_GE(library.SystemUpdateId(), systemId) << row.what;
        }
        systemId = library.SystemUpdateId();
        // Whatever was read, each recording is whole.
        for (const SObject& object : All(library, "0").objects) {
            if (!object.container) {
                EXPECT_EQ(object.description->offers.size(), 2u) << row.what << " " << object.title;
            }
        }
    }
}

TEST_F(SLibraryFixture, CachedFactsAreTheFactsDescribed)
{
    Write(m_folder / "r.ts", 321);
    const SDescription described = FakeDescription(m_folder / "r.ts");
    {
        CLibrary library(Options());
        library.Start();
        library.WaitUntilDescribed();
    }
    m_describer.calls = 0;
    CLibrary library(Options());
    library.Start();
    library.WaitUntilDescribed();
    const mediahost::SRecording recording = library.Recording(m_folder / "r.ts");
    EXPECT_EQ(m_describer.calls.load(), 0);
    EXPECT_EQ(recording.probeResult, 0);
    EXPECT_EQ(std::memcmp(&recording.probe, &described.recording.probe, sizeof recording.probe), 0);
    EXPECT_EQ(recording.facts.durationMs, described.recording.facts.durationMs);
    EXPECT_EQ(recording.facts.size, 321);
    ASSERT_TRUE(recording.facts.video);
    EXPECT_EQ(recording.facts.video->width, 1920);
    const SObject item = All(library, "0").objects.at(0);
    ASSERT_EQ(item.description->offers.size(), described.offers.size());
    for (std::size_t i = 0; i < described.offers.size(); ++i) {
        EXPECT_EQ(item.description->offers[i].profileName, described.offers[i].profileName);
        EXPECT_EQ(item.description->offers[i].mimeType, described.offers[i].mimeType);
        EXPECT_EQ(item.description->offers[i].timeSeek, described.offers[i].timeSeek);
        EXPECT_EQ(item.description->offers[i].properties, described.offers[i].properties);
    }
    // A recording changed since the index saw it is described anew.
    Write(m_folder / "r.ts", 322);
    EXPECT_EQ(library.Recording(m_folder / "r.ts").facts.size, 322);
    EXPECT_EQ(m_describer.calls.load(), 1);
}

TEST_F(SLibraryFixture, ChangesShowOnTheNextBrowseAndRaiseUpdateIds)
{
    Write(m_folder / "a.ts", 10);
    Write(m_folder / "sub" / "b.ts", 10);
    CLibrary library(Options());
    std::mutex lock;
    std::vector<std::pair<std::uint32_t, mediahost::server::SContainerUpdates>> heard;
    library.SetChangeListener([&](std::uint32_t system, const mediahost::server::SContainerUpdates& containers) {
        std::lock_guard guard(lock);
        heard.emplace_back(system, containers);
    });
    library.Start();
    library.WaitUntilDescribed();
    const std::string sub = IdOf(library, "0", "sub");

    struct SRow {
        const char* what;
        std::function<void()> change;
        std::string container;  // whose listing changes; empty: none
        std::vector<std::string> rootTitles;
        std::vector<std::string> subTitles;
        int describes;
    };
    const SRow rows[] = {
        {"nothing", [] {}, "", {"sub", "a"}, {"b"}, 0},
        {"a new recording", [&] { Write(m_folder / "sub" / "c.ts", 10); }, "sub", {"sub", "a"}, {"b", "c"}, 1},
        {"a changed recording", [&] { Write(m_folder / "a.ts", 20); }, "0", {"sub", "a"}, {"b", "c"}, 1},
        {"a removed recording", [&] { fs::remove(m_folder / "sub" / "b.ts"); }, "sub", {"sub", "a"}, {"c"}, 0},
        {"a file that is no recording", [&] { Write(m_folder / "readme.txt", 10); }, "", {"sub", "a"}, {"c"}, 0},
        {"a new folder", [&] { Write(m_folder / "new" / "d.ts", 10); }, "0", {"new", "sub", "a"}, {"c"}, 1},
    };
    for (const SRow& row : rows) {
        const std::uint32_t before = library.SystemUpdateId();
        const std::uint32_t subBefore = library.Object(sub)->updateId;
        const std::uint32_t rootBefore = library.Object("0")->updateId;
        {
            std::lock_guard guard(lock);
            heard.clear();
        }
        m_describer.calls = 0;
        row.change();
        // The browse of the changed container shows it, with nothing else
        // asked for first.
        EXPECT_EQ(Titles(All(library, sub).objects), row.subTitles) << row.what;
        EXPECT_EQ(Titles(All(library, "0").objects), row.rootTitles) << row.what;
        library.WaitUntilDescribed();
        EXPECT_EQ(m_describer.calls.load(), row.describes) << row.what;
        const std::uint32_t after = library.SystemUpdateId();
        EXPECT_EQ(after > before, !row.container.empty()) << row.what;
        EXPECT_EQ(library.Object(sub)->updateId > subBefore, row.container == "sub") << row.what;
        EXPECT_EQ(library.Object("0")->updateId > rootBefore, row.container == "0") << row.what;
        std::lock_guard guard(lock);
        if (row.container.empty()) {
            EXPECT_TRUE(heard.empty()) << row.what;
        } else {
            ASSERT_EQ(heard.size(), 1u) << row.what;
            EXPECT_EQ(heard[0].first, after);
            ASSERT_EQ(heard[0].second.size(), 1u);
            EXPECT_EQ(heard[0].second[0].first, row.container == "sub" ? sub : "0") << row.what;
            EXPECT_EQ(heard[0].second[0].second, after);
        }
    }
    // A removed folder's objects are gone.
    fs::remove_all(m_folder / "sub");
    EXPECT_EQ(Titles(All(library, "0").objects), (std::vector<std::string>{"new", "a"}));
    EXPECT_FALSE(library.Object(sub));
}

TEST_F(SLibraryFixture, ABrowseDuringTheFirstScanDescribesItsOwnPageOnly)
{
    for (int i = 0; i < 10; ++i)
        Write(m_folder / ("r" + std::to_string(i) + ".ts"), 10);
    // The workers are held until the browse is answered, so all it returns
    // it described itself.
    std::mutex gate;
    std::unique_lock hold(gate);
    const std::thread::id test = std::this_thread::get_id();
    SLibraryOptions options = Options();
    options.pageDescribeLimit = 4;
    options.workers = 1;
    options.describe = [&](const fs::path& path) {
        if (std::this_thread::get_id() != test)
            std::lock_guard wait(gate);
        return m_describer(path);
    };
    CLibrary library(options);
    library.Start();
    const std::optional<SChildren> page = library.Children("0", 2, 0);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->totalMatches, 10u);
    EXPECT_EQ(Titles(page->objects), (std::vector<std::string>{"r2", "r3", "r4", "r5"}));
    for (const SObject& object : page->objects)
        EXPECT_TRUE(object.description);
    const std::optional<SChildren> next = library.Children("0", 6, 2);
    EXPECT_EQ(Titles(next->objects), (std::vector<std::string>{"r6", "r7"}));
    hold.unlock();
    library.WaitUntilDescribed();
    EXPECT_EQ(library.Children("0", 0, 0)->objects.size(), 10u);
    EXPECT_EQ(m_describer.calls.load(), 10);
}

TEST_F(SLibraryFixture, RequestThreadsBrowseWhileTheFolderChanges)
{
    for (int i = 0; i < 40; ++i)
        Write(m_folder / ("d" + std::to_string(i % 4)) / ("r" + std::to_string(i) + ".ts"), 10);
    SLibraryOptions options = Options();
    options.rescanInterval = std::chrono::milliseconds(1);
    CLibrary library(options);
    library.Start();
    std::atomic<bool> stop{false};
    std::vector<std::thread> browsers;
    for (int t = 0; t < 4; ++t) {
        browsers.emplace_back([&, t] {
            for (int round = 0; round < 200 && !stop; ++round) {
                for (const SObject& folder : All(library, "0").objects) {
                    const std::optional<SChildren> page = library.Children(folder.id, static_cast<std::uint32_t>(t), 3);
                    for (const SObject& item : page ? page->objects : std::vector<SObject>{}) {
                        EXPECT_TRUE(item.description);
                    }
                    library.Recording(m_folder / "d1" / "r1.ts");
                }
            }
        });
    }
    // Windows refuses to delete a file another thread holds open for a
    // moment (the folder rules' look at it): such a removal is tried again.
    auto remove = [](const fs::path& path, bool tree) {
        std::error_code ec;
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (tree)
                fs::remove_all(path, ec);
            else
                fs::remove(path, ec);
            if (!ec)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    for (int i = 0; i < 40; ++i) {
        const fs::path path = m_folder / ("d" + std::to_string(i % 4)) / ("n" + std::to_string(i) + ".ts");
        Write(path, 5);
        if (i % 3 == 0) {
            EXPECT_TRUE(remove(path, false));
        }
    }
    EXPECT_TRUE(remove(m_folder / "d3", true));
    stop = true;
    for (std::thread& thread : browsers)
        thread.join();
    library.WaitUntilDescribed();
    EXPECT_EQ(All(library, "0").totalMatches, 3u);
}

}  // namespace
