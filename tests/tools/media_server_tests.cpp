// The media server's pieces without a network: the route table and its
// failure boundary, the wire form of answers, the media resource's
// decisions (one table, the DLNA header texts written out as the DLNA
// guidelines phrase them), its reading through a source that can be made to
// fail, and the folder rules on a real folder with links. The running server
// is checked by media_host_e2e.py and media_server_http.py.
#include "Dispatcher.h"
#include "FolderRules.h"
#include "HttpRules.h"
#include "MediaRequest.h"
#include "MediaResource.h"
#include "Utf8.h"

#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace mediahost;
using namespace mediahost::server;
namespace fs = std::filesystem;

SRequest Request(std::string method, std::string path, SHeaders headers = {})
{
    SRequest request;
    request.method = std::move(method);
    request.path = std::move(path);
    request.headers = std::move(headers);
    request.peer = "192.0.2.7:5000";
    return request;
}

std::string HeaderOf(const SAnswer& answer, const std::string& name)
{
    for (const auto& [key, value] : answer.headers)
        if (key == name)
            return value;
    return "";
}

// ---------------------------------------------------------------------------

TEST(Dispatcher, RoutesByPathThenMethod)
{
    CDispatcher dispatcher;
    auto says = [](std::string what) {
        return [what](const SRequest& request) {
            SAnswer answer;
            answer.body = what + " " + request.method;
            return answer;
        };
    };
    dispatcher.Add("GET", "/", says("listing"));
    dispatcher.AddPrefix("GET", "/media/", says("media"));
    dispatcher.AddPrefix("GET", "/media/special/", says("special"));
    dispatcher.Add("POST", "/upnp/control/X", says("control"));
    dispatcher.Add("SUBSCRIBE", "/upnp/event/X", says("subscribe"));
    dispatcher.Add("UNSUBSCRIBE", "/upnp/event/X", says("unsubscribe"));

    struct SRow {
        const char* method;
        const char* path;
        unsigned status;
        const char* body;   // the handler's, for 200
        const char* allow;  // for 405
    };
    const SRow rows[] = {
        {"GET", "/", 200, "listing GET", ""},
        {"HEAD", "/", 200, "listing HEAD", ""},
        {"GET", "/media/a.ts", 200, "media GET", ""},
        {"HEAD", "/media/sub/a.ts", 200, "media HEAD", ""},
        {"GET", "/media/special/a.ts", 200, "special GET", ""},
        {"GET", "/media", 404, "", ""},
        {"GET", "/nothing", 404, "", ""},
        {"GET", "/upnp/control/Xtra", 404, "", ""},
        {"POST", "/", 405, "", "GET, HEAD"},
        {"DELETE", "/media/a.ts", 405, "", "GET, HEAD"},
        {"GET", "/upnp/control/X", 405, "", "POST"},
        {"HEAD", "/upnp/control/X", 405, "", "POST"},
        {"POST", "/upnp/control/X", 200, "control POST", ""},
        {"GET", "/upnp/event/X", 405, "", "SUBSCRIBE, UNSUBSCRIBE"},
        {"UNSUBSCRIBE", "/upnp/event/X", 200, "unsubscribe UNSUBSCRIBE", ""},
    };
    for (const SRow& row : rows) {
        const SAnswer answer = dispatcher.Dispatch(Request(row.method, row.path));
        EXPECT_EQ(answer.status, row.status) << row.method << " " << row.path;
        if (row.status == 200) {
            EXPECT_EQ(answer.body, row.body) << row.method << " " << row.path;
        } else {
            EXPECT_EQ(answer.log.rfind("refused: ", 0), 0u) << answer.log;
        }
        EXPECT_EQ(HeaderOf(answer, "Allow"), row.allow) << row.method << " " << row.path;
    }
}

TEST(Dispatcher, AFailingPieceIsAnsweredAndTheConnectionClosed)
{
    struct SRow {
        const char* what;
        Handler handler;
        unsigned status;
    };
    const SRow rows[] = {
        {"the request cannot be read", [](const SRequest&) -> SAnswer { throw CBadRequest("no such form"); }, 400},
        {"a client's name no path holds",
         [](const SRequest&) -> SAnswer {
             throw fs::filesystem_error("Cannot convert character sequence",
                                        std::make_error_code(std::errc::illegal_byte_sequence));
         },
         400},
        {"a failure of the server's", [](const SRequest&) -> SAnswer { throw std::runtime_error("disk gone"); }, 500},
        {"a file error of the server's",
         [](const SRequest&) -> SAnswer {
             throw fs::filesystem_error("cannot read", std::make_error_code(std::errc::io_error));
         },
         500},
        {"something thrown that is no exception", [](const SRequest&) -> SAnswer { throw 42; }, 500},
    };
    for (const SRow& row : rows) {
        CDispatcher dispatcher;
        dispatcher.AddPrefix("GET", "/media/", row.handler);
        const SAnswer answer = dispatcher.Dispatch(Request("GET", "/media/x.ts"));
        EXPECT_EQ(answer.status, row.status) << row.what;
        EXPECT_TRUE(answer.close) << row.what;
        EXPECT_EQ(answer.log.rfind("failed: ", 0), 0u) << row.what << ": " << answer.log;
    }

    // What ended the Windows server: a name decoded from "%FF" made into a
    // path. Where the conversion throws, the request is refused; elsewhere
    // the name simply names nothing.
    CDispatcher dispatcher;
    dispatcher.AddPrefix("GET", "/media/", [](const SRequest&) {
        const fs::path path = PathFromUtf8("\xFF.ts");
        return Refusal(404, "no such file " + Utf8FromPath(path.filename()));
    });
    const SAnswer answer = dispatcher.Dispatch(Request("GET", "/media/%FF.ts"));
    EXPECT_TRUE(answer.status == 404 || (answer.status == 400 && answer.close)) << answer.status;
}

TEST(Dispatcher, ConnectionsStayOpenForHttp11Only)
{
    struct SRow {
        unsigned version;
        const char* connection;  // nullptr: no header
        bool answerCloses;
        bool keepAlive;
    };
    const SRow rows[] = {
        {11, nullptr, false, true},      {11, "keep-alive", false, true}, {11, "close", false, false},
        {11, "Keep-Alive, CLOSE", false, false}, {11, "closed", false, true},  {11, nullptr, true, false},
        {10, nullptr, false, false},     {10, "keep-alive", false, false},
    };
    for (const SRow& row : rows) {
        SRequest request = Request("GET", "/");
        request.version = row.version;
        if (row.connection)
            request.headers.emplace_back("Connection", row.connection);
        SAnswer answer;
        answer.close = row.answerCloses;
        EXPECT_EQ(KeepAlive(request, answer), row.keepAlive)
            << row.version << " " << (row.connection ? row.connection : "-") << " " << row.answerCloses;
    }
}

TEST(Dispatcher, AnswerHeadsCarryTheCommonHeadersAndNoInjectedLine)
{
    SAnswer answer;
    answer.status = 206;
    answer.contentType = "video/mpeg";
    answer.headers = {{"PlaySpeed.dlna.org", "speed=1\r\nSet-Cookie: stolen=1"}, {"X\nY", "z"}};
    const std::string head = AnswerHead(answer, 1234, false, 784111777);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = head.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(head.substr(start, end - start));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "HTTP/1.1 206 Partial Content");
    EXPECT_EQ(lines.back(), "");
    EXPECT_EQ(head.find('\n'), head.find("\r\n") + 1) << "no bare line feed";
    for (const char* wanted : {"Date: Sun, 06 Nov 1994 08:49:37 GMT", "Content-Type: video/mpeg", "Content-Length: 1234",
                               "Connection: close"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), wanted), lines.end()) << wanted;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Server: ", 0) == 0; }), 1);
    for (const std::string& line : lines)
        EXPECT_NE(line.rfind("Set-Cookie", 0), 0u) << line;
    EXPECT_EQ(std::count(head.begin(), head.end(), '\n'), static_cast<std::ptrdiff_t>(lines.size()));
}

TEST(Dispatcher, RequestsAsTheParserReadThem)
{
    namespace bhttp = boost::beast::http;
    struct SRow {
        const char* target;
        unsigned version;
        unsigned refusal;  // 0: readable
        const char* path;
    };
    const SRow rows[] = {
        {"/media/a.ts?profile=P", 11, 0, "/media/a.ts"},
        {"http://192.168.1.2:8280/media/a.ts", 10, 0, "/media/a.ts"},
        {"media/a.ts", 11, 400, ""},
        {"/media/a.ts", 20, 505, ""},
        {"/media/a.ts", 9, 505, ""},
    };
    for (const SRow& row : rows) {
        bhttp::request<bhttp::string_body> message{bhttp::verb::get, row.target, row.version};
        message.set("TimeSeekRange.dlna.org", "npt=1-");
        SRequest request;
        SAnswer refusal;
        const bool readable = ToRequest(message, request, refusal);
        EXPECT_EQ(readable, row.refusal == 0) << row.target;
        if (readable) {
            EXPECT_EQ(request.path, row.path);
            EXPECT_EQ(request.method, "GET");
            EXPECT_EQ(request.Header("timeseekrange.DLNA.org").value_or(""), "npt=1-");
        } else {
            EXPECT_EQ(refusal.status, row.refusal) << row.target;
        }
    }
}

// ---------------------------------------------------------------------------
// The media resource's decisions, for a recording of 1,000,000 bytes and
// 10 s offered with time seek.

constexpr std::int64_t SIZE = 1000000;

SMediaFacts Facts(bool timeSeek = true, bool duration = true)
{
    SMediaFacts facts;
    facts.size = SIZE;
    if (duration)
        facts.durationMs = 10000;
    facts.timeSeek = timeSeek;
    facts.mimeType = "video/mpeg";
    facts.profileName = "MPEG_TS_HD_NA_ISO";
    return facts;
}

TEST(MediaRequest, EveryHeaderRuleInOneTable)
{
    struct SRow {
        const char* what;
        SHeaders headers;
        SMediaFacts facts;
        STimeSeekFound found;  // where the seeks land, for time seeks
        unsigned status;
        std::int64_t first;
        std::int64_t length;
        std::map<std::string, std::string> answered;  // headers the answer must carry ("" : must not)
    };
    const SRow rows[] = {
        {"the whole recording", {}, Facts(), {}, 200, 0, SIZE,
         {{"transferMode.dlna.org", "Streaming"}, {"realTimeInfo.dlna.org", "DLNA.ORG_TLAG=*"},
          {"Accept-Ranges", "bytes"}, {"Content-Range", ""}, {"TimeSeekRange.dlna.org", ""}}},
        {"a byte range", {{"Range", "bytes=100-199"}}, Facts(), {}, 206, 100, 100,
         {{"Content-Range", "bytes 100-199/1000000"}}},
        {"the last bytes", {{"range", "bytes=-10"}}, Facts(), {}, 206, SIZE - 10, 10,
         {{"Content-Range", "bytes 999990-999999/1000000"}}},
        {"a range past the end", {{"Range", "bytes=1000000-"}}, Facts(), {}, 416, 0, 0,
         {{"Content-Range", "bytes */1000000"}}},
        {"a malformed range", {{"Range", "bytes=9-1"}}, Facts(), {}, 400, 0, 0, {}},
        {"two ranges", {{"Range", "bytes=0-1"}, {"Range", "bytes=5-6"}}, Facts(), {}, 400, 0, 0, {}},
        {"a byte range and a time seek: the bytes", {{"TimeSeekRange.dlna.org", "npt=2-"}, {"Range", "bytes=0-"}},
         Facts(), {}, 206, 0, SIZE, {{"Content-Range", "bytes 0-999999/1000000"}, {"TimeSeekRange.dlna.org", ""}}},
        {"a time seek", {{"TimeSeekRange.dlna.org", "npt=2-"}}, Facts(), {400000, 1868, std::nullopt}, 200, 400000,
         600000, {{"TimeSeekRange.dlna.org", "npt=1.868-10.000/10.000 bytes=400000-999999/1000000"}, {"Content-Range", ""}}},
        {"a time seek with an end", {{"TimeSeekRange.dlna.org", "npt=2-4"}}, Facts(), {400000, 1868, 700000}, 200, 400000,
         300000, {{"TimeSeekRange.dlna.org", "npt=1.868-4.000/10.000 bytes=400000-699999/1000000"}}},
        {"an end at the duration: to the end of the file", {{"TimeSeekRange.dlna.org", "npt=0:00:02-0:00:10"}}, Facts(),
         {400000, 1868, std::nullopt}, 200, 400000, 600000,
         {{"TimeSeekRange.dlna.org", "npt=1.868-10.000/10.000 bytes=400000-999999/1000000"}}},
        {"an end within the start's unit", {{"TimeSeekRange.dlna.org", "npt=2-2.01"}}, Facts(), {400000, 1868, 400000},
         416, 0, 0, {}},
        {"the duration itself", {{"TimeSeekRange.dlna.org", "npt=10-"}}, Facts(), {990000, 9900, std::nullopt}, 200,
         990000, 10000, {}},
        {"hours that would wrap", {{"TimeSeekRange.dlna.org", "npt=3007844103129863:00:00-"}}, Facts(), {}, 416, 0, 0, {}},
        {"a start past the duration", {{"TimeSeekRange.dlna.org", "npt=10.001-"}}, Facts(), {}, 416, 0, 0, {}},
        {"an end past the duration", {{"TimeSeekRange.dlna.org", "npt=1-11"}}, Facts(), {}, 416, 0, 0, {}},
        {"an end before the start", {{"TimeSeekRange.dlna.org", "npt=4-2"}}, Facts(), {}, 400, 0, 0, {}},
        {"a malformed time", {{"TimeSeekRange.dlna.org", "npt=now-"}}, Facts(), {}, 400, 0, 0, {}},
        {"a time seek twice", {{"TimeSeekRange.dlna.org", "npt=1-"}, {"TimeSeekRange.dlna.org", "npt=2-"}}, Facts(), {},
         400, 0, 0, {}},
        {"no time seek offered", {{"TimeSeekRange.dlna.org", "npt=1-"}}, Facts(false), {}, 406, 0, 0, {}},
        {"no duration known", {{"TimeSeekRange.dlna.org", "npt=1-"}}, Facts(true, false), {}, 406, 0, 0, {}},
        {"Interactive on a video", {{"transferMode.dlna.org", "Interactive"}}, Facts(), {}, 200, 0, SIZE,
         {{"transferMode.dlna.org", "Streaming"}}},
        {"Background", {{"transferMode.dlna.org", "background"}}, Facts(), {}, 200, 0, SIZE,
         {{"transferMode.dlna.org", "Background"}}},
        {"an unknown transfer mode", {{"transferMode.dlna.org", "Bulk"}}, Facts(), {}, 400, 0, 0, {}},
        {"the normal play speed", {{"PlaySpeed.dlna.org", "speed=1"}}, Facts(), {}, 200, 0, SIZE,
         {{"PlaySpeed.dlna.org", "speed=1"}}},
        {"no play speed asked", {}, Facts(), {}, 200, 0, SIZE, {{"PlaySpeed.dlna.org", ""}}},
        {"twice the speed", {{"PlaySpeed.dlna.org", "speed=2"}}, Facts(), {}, 406, 0, 0, {}},
        {"backwards", {{"PlaySpeed.dlna.org", "speed=-1"}}, Facts(), {}, 406, 0, 0, {}},
        {"a malformed play speed", {{"PlaySpeed.dlna.org", "speed=x"}}, Facts(), {}, 400, 0, 0, {}},
        {"content features asked", {{"getcontentFeatures.dlna.org", "1"}}, Facts(), {}, 200, 0, SIZE,
         {{"contentFeatures.dlna.org", http::ContentFeatures("MPEG_TS_HD_NA_ISO", true)}}},
        {"content features asked wrongly", {{"getcontentFeatures.dlna.org", "0"}}, Facts(), {}, 400, 0, 0, {}},
    };
    for (const SRow& row : rows) {
        const SMediaPlan plan = PlanMedia(Request("GET", "/media/a.ts", row.headers), row.facts);
        const SMediaHead head = plan.refusal ? SMediaHead{*plan.refusal, 0, std::nullopt}
                                             : MediaHead(plan, row.facts, row.found);
        EXPECT_EQ(head.answer.status, row.status) << row.what << ": " << head.answer.log;
        EXPECT_EQ(head.length.has_value(), row.status < 300) << row.what;
        if (head.length) {
            EXPECT_EQ(head.first, row.first) << row.what;
            EXPECT_EQ(*head.length, row.length) << row.what;
            EXPECT_EQ(head.answer.contentType, "video/mpeg") << row.what;
        } else {
            EXPECT_EQ(head.answer.log.rfind("refused: ", 0), 0u) << row.what;
        }
        for (const auto& [name, value] : row.answered)
            EXPECT_EQ(HeaderOf(head.answer, name), value) << row.what << ": " << name;
    }
}

// ---------------------------------------------------------------------------
// The media resource's reading, through a source that holds its bytes and
// can be told to fail.

class CFakeSource final : public CMediaSource {
public:
    explicit CFakeSource(std::size_t size) : bytes(size)
    {
        std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
        for (std::size_t i = 0; i < bytes.size(); i += 7)
            bytes[i] ^= static_cast<std::uint8_t>(i >> 8);
    }

    HRESULT Size(std::int64_t& size) override
    {
        size = sizeFails ? -1 : static_cast<std::int64_t>(bytes.size());
        return sizeFails ? E_FAIL : S_OK;
    }
    std::optional<std::uint32_t> Duration() override { return duration; }
    HRESULT SeekByBytes(std::int64_t to) override
    {
        position = static_cast<std::size_t>(to);
        return S_OK;
    }
    // A play time lies at 30 bytes a millisecond; a unit starts every 40 ms.
    HRESULT SeekByTime(std::uint32_t ms, std::uint32_t& foundMs, std::int64_t& at) override
    {
        if (timeSeekFails != S_OK)
            return timeSeekFails;
        foundMs = ms / 40 * 40;
        at = foundMs * 30;
        position = static_cast<std::size_t>(at) + 5;  // where a time seek leaves it: not the byte it names
        return S_OK;
    }
    HRESULT Start() override
    {
        started = true;
        return S_OK;
    }
    HRESULT Read(std::int64_t at, std::vector<std::uint8_t>& chunk) override
    {
        EXPECT_EQ(static_cast<std::size_t>(at), position);
        if (++reads == failingRead)
            return E_FAIL;
        const std::size_t n = std::min<std::size_t>(4096, bytes.size() - std::min(position, bytes.size()));
        chunk.assign(bytes.begin() + static_cast<std::ptrdiff_t>(position),
                     bytes.begin() + static_cast<std::ptrdiff_t>(position + n));
        position += n;
        return S_OK;
    }

    std::vector<std::uint8_t> bytes;
    std::optional<std::uint32_t> duration = 10000;
    bool sizeFails = false;
    HRESULT timeSeekFails = S_OK;
    int failingRead = 0;  // the 1-based Read that fails; 0: none
    int reads = 0;
    bool started = false;
    std::size_t position = 0;
};

SMediaFacts SourceFacts()
{
    SMediaFacts facts;
    facts.timeSeek = true;
    facts.mimeType = "video/mpeg";
    return facts;
}

// The body as the connection writes it: pieces until the length, false when
// the source gave out.
bool Drain(const SAnswer& answer, std::vector<std::uint8_t>& body)
{
    body.clear();
    std::vector<std::uint8_t> chunk;
    while (static_cast<std::int64_t>(body.size()) < answer.streamed->length) {
        if (!answer.streamed->next(chunk) || chunk.empty())
            return false;
        const std::size_t n =
            std::min<std::size_t>(chunk.size(), static_cast<std::size_t>(answer.streamed->length) - body.size());
        body.insert(body.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return true;
}

TEST(MediaResource, BodiesComeFromTheSourceFromTheByteTheHeadNames)
{
    struct SRow {
        const char* what;
        SHeaders headers;
        std::size_t first;
        std::size_t end;
    };
    const SRow rows[] = {
        {"whole", {}, 0, 60000},
        {"a range", {{"Range", "bytes=1000-1999"}}, 1000, 2000},
        {"a range to the end", {{"Range", "bytes=59000-"}}, 59000, 60000},
        {"a time seek", {{"TimeSeekRange.dlna.org", "npt=0.5-"}}, 480 * 30, 60000},
        {"a time seek with an end", {{"TimeSeekRange.dlna.org", "npt=0.5-1.3"}}, 480 * 30, 1280 * 30},
    };
    for (const SRow& row : rows) {
        auto source = std::make_shared<CFakeSource>(60000);
        const SAnswer answer = ServeMedia(Request("GET", "/media/a.ts", row.headers), source, SourceFacts());
        ASSERT_TRUE(answer.streamed) << row.what << ": " << answer.log;
        std::vector<std::uint8_t> body;
        EXPECT_TRUE(Drain(answer, body)) << row.what;
        const std::vector<std::uint8_t> expected(source->bytes.begin() + static_cast<std::ptrdiff_t>(row.first),
                                                 source->bytes.begin() + static_cast<std::ptrdiff_t>(row.end));
        EXPECT_TRUE(body == expected) << row.what << ": " << body.size() << " bytes, " << expected.size() << " expected";
    }
}

TEST(MediaResource, ASourceThatFailsBeforeTheHeadIs500AndClosesTheConnection)
{
    struct SRow {
        const char* what;
        bool sizeFails;
        int failingRead;
        HRESULT timeSeek;
        SHeaders headers;
        unsigned status;
        bool close;
    };
    const SRow rows[] = {
        {"the size", true, 0, S_OK, {}, 500, true},
        {"the first read", false, 1, S_OK, {}, 500, true},
        {"the first read of a range", false, 1, S_OK, {{"Range", "bytes=10-"}}, 500, true},
        {"a time seek past what the source has", false, 0, E_INVALIDARG, {{"TimeSeekRange.dlna.org", "npt=1-"}}, 416,
         false},
        {"a time seek that fails", false, 0, E_FAIL, {{"TimeSeekRange.dlna.org", "npt=1-"}}, 500, true},
    };
    for (const SRow& row : rows) {
        auto source = std::make_shared<CFakeSource>(60000);
        source->sizeFails = row.sizeFails;
        source->failingRead = row.failingRead;
        source->timeSeekFails = row.timeSeek;
        const SAnswer answer = ServeMedia(Request("GET", "/media/a.ts", row.headers), source, SourceFacts());
        EXPECT_EQ(answer.status, row.status) << row.what;
        EXPECT_EQ(answer.close, row.close) << row.what;
        EXPECT_FALSE(answer.streamed) << row.what;
        EXPECT_NE(answer.body.find(std::to_string(row.status)), std::string::npos) << row.what;
    }
}

TEST(MediaResource, AReadThatFailsLaterCutsTheBody)
{
    auto source = std::make_shared<CFakeSource>(60000);
    source->failingRead = 3;
    const SAnswer answer = ServeMedia(Request("GET", "/media/a.ts"), source, SourceFacts());
    ASSERT_TRUE(answer.streamed);
    EXPECT_EQ(answer.status, 200u);
    std::vector<std::uint8_t> body;
    EXPECT_FALSE(Drain(answer, body));
    EXPECT_EQ(body.size(), 2u * 4096);
}

TEST(MediaResource, HeadNeitherStartsNorReads)
{
    auto source = std::make_shared<CFakeSource>(60000);
    const SAnswer answer =
        ServeMedia(Request("HEAD", "/media/a.ts", {{"TimeSeekRange.dlna.org", "npt=1-"}}), source, SourceFacts());
    ASSERT_TRUE(answer.streamed);
    EXPECT_EQ(answer.streamed->length, 60000 - 1000 * 30);
    EXPECT_FALSE(answer.streamed->next);
    EXPECT_FALSE(source->started);
    EXPECT_EQ(source->reads, 0);
}

TEST(MediaResource, APlainFileHasNoTimeSeek)
{
    auto source = std::make_shared<CFakeSource>(60000);
    source->duration = std::nullopt;
    SMediaFacts facts = SourceFacts();
    facts.timeSeek = false;
    const SAnswer answer = ServeMedia(Request("GET", "/media/a.mpg", {{"TimeSeekRange.dlna.org", "npt=1-"}}), source, facts);
    EXPECT_EQ(answer.status, 406u);
    const SAnswer ranged = ServeMedia(Request("GET", "/media/a.mpg", {{"Range", "bytes=5-9"}}), source, facts);
    EXPECT_EQ(ranged.status, 206u);
    EXPECT_EQ(HeaderOf(ranged, "contentFeatures.dlna.org").rfind("DLNA.ORG_OP=01;", 0), 0u);
}

// ---------------------------------------------------------------------------

TEST(FolderRules, WhatAFolderOffers)
{
    vsktest::CTempDir temp;
    const fs::path root = temp / "library";
    const fs::path outside = temp / "outside";
    for (const fs::path& dir : {root / "sub" / "deeper", root / ".hidden", root / "empty", outside})
        fs::create_directories(dir);
    for (const fs::path& file : {root / "a.ts", root / "notes.txt", root / "sub" / "b.m2ts", root / "sub" / "deeper" / "c.mpg",
                                 root / ".hidden" / "d.ts", root / ".e.ts", outside / "x.ts"})
        temp.WriteFile(file, "recording");
    // Links, where the system lets a test make them.
    bool links = true;
    try {
        fs::create_symlink(root / "a.ts", root / "link-in.ts");
        fs::create_symlink(outside / "x.ts", root / "link-out.ts");
        fs::create_symlink(root / ".hidden" / "d.ts", root / "link-hidden.ts");
        fs::create_symlink(root / "missing.ts", root / "link-broken.ts");
        fs::create_directory_symlink(root / "sub", root / "sub-link");
        fs::create_directory_symlink(outside, root / "out-link");
    } catch (const fs::filesystem_error& e) {
        std::printf("links cannot be made here (%s): their rows are left out\n", e.what());
        links = false;
    }

    CFolderRules rules;
    std::string why;
    ASSERT_FALSE(rules.Open(temp / "no-such-folder", why));
    ASSERT_FALSE(rules.Open(root / "a.ts", why));
    ASSERT_TRUE(rules.Open(root, why)) << why;

    struct SRow {
        std::vector<std::string> segments;
        bool recording;
        bool link;
    };
    const SRow rows[] = {
        {{"a.ts"}, true, false},
        {{"sub", "b.m2ts"}, true, false},
        {{"sub", "deeper", "c.mpg"}, true, false},
        {{"notes.txt"}, false, false},
        {{"missing.ts"}, false, false},
        {{"sub"}, false, false},
        {{".hidden", "d.ts"}, false, false},
        {{".e.ts"}, false, false},
        {{"link-in.ts"}, true, true},
        {{"sub-link", "b.m2ts"}, true, true},
        {{"link-out.ts"}, false, true},
        {{"link-hidden.ts"}, false, true},
        {{"link-broken.ts"}, false, true},
        {{"out-link", "x.ts"}, false, true},
    };
    for (const SRow& row : rows) {
        if (row.link && !links)
            continue;
        const std::optional<fs::path> found = rules.Recording(row.segments);
        EXPECT_EQ(found.has_value(), row.recording) << row.segments.back();
        if (found) {
            EXPECT_EQ(rules.Segments(*found), row.segments);
        }
    }
    EXPECT_TRUE(rules.IsServed(root / "sub"));
    EXPECT_TRUE(rules.IsServed(root / "empty"));
    EXPECT_FALSE(rules.IsServed(root / ".hidden"));
    EXPECT_FALSE(rules.IsServed(outside / "x.ts"));
    EXPECT_FALSE(rules.IsServed(root));

    // The walk: every recording but those through folder links.
    std::vector<std::string> walked;
    for (const fs::path& file : rules.Recordings(100)) {
        std::string name;
        for (const std::string& segment : rules.Segments(file))
            name += (name.empty() ? "" : "/") + segment;
        walked.push_back(name);
    }
    std::vector<std::string> expected = {"a.ts", "sub/b.m2ts", "sub/deeper/c.mpg"};
    if (links)
        expected.insert(expected.begin() + 1, "link-in.ts");
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(rules.Recordings(2).size(), 2u);

    // A folder named through a link is served as its final path.
    if (links) {
        CFolderRules linked;
        ASSERT_TRUE(linked.Open(root / "sub-link", why));
        EXPECT_EQ(linked.Root(), rules.Root() / "sub");
        EXPECT_TRUE(linked.Recording({"b.m2ts"}));
    }
}

}  // namespace
