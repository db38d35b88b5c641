// Staying power: a host streams thousands of files through one converter and
// creates objects all day long. Ten thousand cycles of each kind leave the
// process's open handles and heap where they were before them.
#include "ComponentLibrary.h"

#include "frame/MediaTranscoderLib.h"
#include "host/host_kit.h"
#include "platform/com_holders.h"
#include "platform/process.h"
#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace {

using namespace MediaTranscoderLib;

constexpr int CYCLES = 10000;
constexpr int SETTLING_CYCLES = 100;  // caches of the runtimes fill up first
// Less than one byte a cycle: any allocation kept per cycle shows.
constexpr std::uint64_t HEAP_SLACK = CYCLES / 2;

class Endurance : public vsktest::CComponentTest {
protected:
    // Runs cycle (which answers whether it went as expected) to settle, then
    // CYCLES times, and compares what the process holds before and after.
    static void ExpectStaysPut(const char* what, const std::function<bool()>& cycle)
    {
        int failures = 0;
        for (int i = 0; i < SETTLING_CYCLES; ++i)
            failures += cycle() ? 0 : 1;
        const std::uint32_t handles = platform::OpenHandleCount();
        const std::uint64_t heap = platform::HeapBytesInUse();
        for (int i = 0; i < CYCLES; ++i)
            failures += cycle() ? 0 : 1;
        EXPECT_EQ(failures, 0) << what;
        EXPECT_EQ(platform::OpenHandleCount(), handles) << what;
        EXPECT_LE(platform::HeapBytesInUse(), heap + HEAP_SLACK) << what << ", " << heap << " bytes before";
    }
};

TEST_F(Endurance, OpenReadCloseCyclesOfOneConverter)
{
    vsktest::CTempDir dir;
    vsktest::RecordingParams params;
    params.packetCount = 400;
    const auto file = dir.WriteFile("show.m2ts", vsktest::MakeRecording(params).bytes);
    const CComVariant source(vsktest::WideFromPath(file).c_str());
    CComPtr<CComObject<CHostTargetDescription>> target = CreateHostTargetDescription();
    target->m_mimeType = L"video/mpeg";
    target->m_flag3 = VARIANT_TRUE;

    CComPtr<IVskMediaTranscoder> converter;
    ASSERT_EQ(Factory(CLSID_Mpeg2TSConverter)
                  ->CreateInstance(nullptr, IID_IVskMediaTranscoder, reinterpret_cast<void**>(&converter)),
              S_OK);
    ExpectStaysPut("open, read, close", [&] {
        SAFEARRAY* data = nullptr;
        VARIANT_BOOL end = VARIANT_TRUE;
        const bool ok = converter->Open(source, target) == S_OK && converter->Start() == S_OK &&
                        converter->Read(0x10000, &data, &end) == S_OK && end == VARIANT_FALSE;
        SafeArrayDestroy(data);
        return converter->Close() == S_OK && ok;
    });
}

TEST_F(Endurance, CreateReleaseCyclesOfBothObjects)
{
    const struct {
        const char* what;
        const CLSID& clsid;
        const IID& iid;
    } kinds[] = {
        {"converter", CLSID_Mpeg2TSConverter, IID_IVskMediaTranscoder},
        {"info object", CLSID_Mpeg2TSConverterInfo, IID_IVskMediaTranscoderInfo},
    };
    for (const auto& kind : kinds) {
        CComPtr<IClassFactory> factory = Factory(kind.clsid);
        ExpectStaysPut(kind.what, [&] {
            IUnknown* object = nullptr;
            const HRESULT hr = factory->CreateInstance(nullptr, kind.iid, reinterpret_cast<void**>(&object));
            if (object != nullptr)
                object->Release();
            return hr == S_OK;
        });
    }
    EXPECT_EQ(CanUnload(), S_OK);  // no object lives on
}

}  // namespace
