#include "MediaResource.h"

#include "Dispatcher.h"
#include "FolderRules.h"
#include "HttpRules.h"
#include "Log.h"
#include "MediaTypes.h"
#include "RecordingCache.h"
#include "Utf8.h"
#include "platform/com_holders.h"
#include "platform/file.h"

#include <algorithm>

namespace mediahost::server {
namespace {

namespace fs = std::filesystem;

constexpr ULONG UNKNOWN_DURATION = 0xFFFFFFFFu;

// A converter of the component, closed when the last request holding it
// is done.
class CConverterSource final : public CMediaSource {
public:
    CConverterSource(CComPtr<IVskMediaTranscoder> converter, bool units192)
        : m_converter(std::move(converter)), m_units192(units192)
    {
    }
    ~CConverterSource() override { m_converter->Close(); }

    HRESULT Size(std::int64_t& size) override
    {
        LONGLONG value = -1;
        const HRESULT hr = m_converter->GetSize(&value);
        size = m_size = value;
        return hr;
    }
    std::optional<std::uint32_t> Duration() override
    {
        ULONG duration = UNKNOWN_DURATION;
        if (FAILED(m_converter->GetDuration(&duration)) || duration == UNKNOWN_DURATION)
            return std::nullopt;
        return duration;
    }
    HRESULT SeekByBytes(std::int64_t position) override { return m_converter->SeekByBytes(position); }
    HRESULT SeekByTime(std::uint32_t ms, std::uint32_t& foundMs, std::int64_t& position) override
    {
        ULONG found = 0;
        LONGLONG at = -1;
        const HRESULT hr = m_converter->SeekByTime(ms, &found, &at);
        foundMs = found;
        position = at;
        return hr;
    }
    HRESULT Start() override { return m_converter->Start(); }
    HRESULT Read(std::int64_t position, std::vector<std::uint8_t>& chunk) override
    {
        SAFEARRAY* data = nullptr;
        VARIANT_BOOL end = VARIANT_FALSE;
        const HRESULT hr = m_converter->Read(NextReadCount(position, m_size, m_units192), &data, &end);
        if (FAILED(hr))
            return hr;
        CComSafeArray<BYTE> bytes;
        try {
            bytes.Attach(data);
        } catch (const CAtlException& e) {
            SafeArrayDestroy(data);
            return e.m_hr;
        }
        const BYTE* begin = bytes.GetCount() != 0 ? bytes.GetData() : nullptr;
        chunk.assign(begin, begin + bytes.GetCount());
        return S_OK;
    }

private:
    CComPtr<IVskMediaTranscoder> m_converter;
    bool m_units192;
    std::int64_t m_size = -1;
};

// The recording's file itself.
class CFileSource final : public CMediaSource {
public:
    bool Open(const fs::path& path) { return m_file.Open(WideFromPath(path).c_str(), platform::EFileMode::READ_SHARED); }

    HRESULT Size(std::int64_t& size) override
    {
        size = m_file.Size();
        return size < 0 ? E_FAIL : S_OK;
    }
    std::optional<std::uint32_t> Duration() override { return std::nullopt; }
    HRESULT SeekByBytes(std::int64_t position) override { return m_file.Seek(position) ? S_OK : E_FAIL; }
    HRESULT SeekByTime(std::uint32_t, std::uint32_t&, std::int64_t&) override { return E_NOTIMPL; }
    HRESULT Start() override { return S_OK; }
    HRESULT Read(std::int64_t, std::vector<std::uint8_t>& chunk) override
    {
        chunk.resize(READ_CHUNK);
        const std::int64_t n = m_file.Read(chunk.data(), chunk.size());
        chunk.resize(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
        return n < 0 ? E_FAIL : S_OK;
    }

private:
    platform::CFile m_file;
};

// 500 for a source that failed before the head went out. The connection
// is closed as well: a client that reads on would only meet the same
// source again.
SAnswer SourceFailed(const std::string& what, HRESULT hr)
{
    SAnswer answer = Refusal(500, what + ": " + HResultMessage(hr));
    answer.close = true;
    return answer;
}

// A time seek's call, its refusal as the answer when it fails: a time the
// component finds past the recording is 416, anything else 500.
std::optional<SAnswer> TimeSeek(CMediaSource& source, std::uint32_t ms, std::uint32_t& foundMs, std::int64_t& position)
{
    const HRESULT hr = source.SeekByTime(ms, foundMs, position);
    if (SUCCEEDED(hr))
        return std::nullopt;
    if (hr == E_INVALIDARG)
        return Refusal(416, "the converter's time seek found no such time: " + HResultMessage(hr));
    return SourceFailed("the converter's time seek failed", hr);
}

}  // namespace

SAnswer ServeMedia(const SRequest& request, const std::shared_ptr<CMediaSource>& source, SMediaFacts facts)
{
    std::int64_t size = -1;
    HRESULT hr = source->Size(size);
    if (FAILED(hr) || size < 0)
        return SourceFailed("the size of the recording is unknown", FAILED(hr) ? hr : E_FAIL);
    facts.size = size;
    facts.durationMs = source->Duration();
    facts.timeSeek = facts.timeSeek && facts.durationMs;

    const SMediaPlan plan = PlanMedia(request, facts);
    if (plan.refusal)
        return *plan.refusal;
    STimeSeekFound found;
    if (plan.kind == SMediaPlan::TIME) {
        // The end first: the start's seek must be the last one, where the
        // body begins.
        if (plan.endMs && *plan.endMs < *facts.durationMs) {
            std::uint32_t endFoundMs = 0;
            std::int64_t end = 0;
            if (auto refused = TimeSeek(*source, *plan.endMs, endFoundMs, end))
                return *refused;
            found.end = end;
        }
        if (auto refused = TimeSeek(*source, plan.startMs, found.foundMs, found.first))
            return *refused;
    }
    SMediaHead head = MediaHead(plan, facts, found);
    if (!head.length)
        return head.answer;
    // Also after a time seek: a seek to the very byte the head names drops
    // any part of a unit the time seek would skip at the next read.
    if (head.first != 0 || plan.kind == SMediaPlan::TIME) {
        hr = source->SeekByBytes(head.first);
        if (FAILED(hr))
            return SourceFailed("the seek failed", hr);
    }
    SAnswer answer = std::move(head.answer);
    const std::int64_t length = *head.length;
    if (request.method == "HEAD") {
        answer.streamed = SStreamedBody{length, nullptr};
        return answer;
    }

    struct SBody {
        std::shared_ptr<CMediaSource> source;
        std::int64_t position = 0;
        std::vector<std::uint8_t> first;
        bool firstTaken = false;
        std::string peer;
    };
    auto body = std::make_shared<SBody>();
    body->source = source;
    body->position = head.first;
    body->peer = request.peer;
    if (length != 0) {
        hr = source->Start();
        if (SUCCEEDED(hr))
            hr = source->Read(body->position, body->first);
        if (FAILED(hr))
            return SourceFailed("the first read failed", hr);
        if (body->first.empty())
            return SourceFailed("the recording ended before its first byte", E_FAIL);
    }
    answer.streamed = SStreamedBody{length, [body](std::vector<std::uint8_t>& chunk) {
                                        if (!body->firstTaken) {
                                            body->firstTaken = true;
                                            chunk.swap(body->first);
                                        } else if (const HRESULT read = body->source->Read(body->position, chunk);
                                                   FAILED(read)) {
                                            Log(body->peer + " body cut: Read failed: " + HResultMessage(read));
                                            return false;
                                        }
                                        body->position += static_cast<std::int64_t>(chunk.size());
                                        return true;
                                    }};
    return answer;
}

SAnswer Media(const SLibrary& library, const SRequest& request)
{
    std::vector<std::string> segments;
    if (!http::MediaSegments(request.path, segments))
        return Refusal(404, "not a recording's path");
    const std::optional<fs::path> path = library.rules.Recording(segments);
    if (!path)
        return Refusal(404, "no such recording in the folder");

    const SRecording recording = library.cache.Recording(*path);
    std::vector<STarget> targets;
    const HRESULT listed = library.host.SourceProfiles(recording, targets);
    const std::optional<std::string> wanted = http::QueryValue(request.query, "profile");
    if (FAILED(listed) || targets.empty()) {
        const std::string why = FAILED(listed) ? HResultMessage(listed) : "no profile";
        if (wanted)
            return Refusal(404, "profile " + *wanted + " is not offered: the component offers nothing for this "
                                                       "recording (" + why + "), served as a plain file without a profile");
        auto file = std::make_shared<CFileSource>();
        if (!file->Open(*path))
            return Refusal(404, "the recording cannot be opened");
        SMediaFacts facts;
        facts.mimeType = std::string(RecordingMimeType(*path).value_or("application/octet-stream"));
        SAnswer answer = ServeMedia(request, file, facts);
        answer.log += " [a plain file: the component offers nothing for it (" + why + ")]";
        return answer;
    }
    const auto chosen = std::find_if(targets.begin(), targets.end(), [&](const STarget& t) {
        return !wanted || (wanted->empty() ? t.DlnaName().empty() : t.Answers(*wanted));
    });
    if (chosen == targets.end())
        return Refusal(404, "profile " + *wanted + " is not offered for this recording");

    CComPtr<IVskMediaTranscoder> converter;
    const HRESULT hr = library.host.OpenConverter(recording, *chosen, converter);
    if (FAILED(hr))
        return Refusal(500, "the converter refused to open it: " + HResultMessage(hr));
    SMediaFacts facts;
    facts.mimeType = chosen->mimeType;
    facts.profileName = chosen->DlnaName();
    facts.timeSeek = chosen->flag2;
    return ServeMedia(request, std::make_shared<CConverterSource>(std::move(converter), recording.facts.packetFormat >= 2),
                      facts);
}

}  // namespace mediahost::server
