// Unloading the component while the process goes on tears its state down, so
// a later load starts afresh: its first logged line comes with a banner of
// its own, as on a first load.
#include "ComponentLibrary.h"

#include "AppLogCapture.h"
#include "frame/MediaTranscoderLib.h"
#include "platform/com_holders.h"
#include "platform/dynlib.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using namespace MediaTranscoderLib;

// Loads the component, makes a converter log one failure, and unloads it.
void LoadLogAndUnload()
{
    platform::CDynamicLibrary library;
    ASSERT_TRUE(library.Load(vsktest::WideFromPath(vsktest::CComponentLibrary::Path()).c_str()));
    const auto getClassObject = reinterpret_cast<vsktest::PfnDllGetClassObject>(library.Symbol("DllGetClassObject"));
    const auto canUnloadNow = reinterpret_cast<vsktest::PfnDllCanUnloadNow>(library.Symbol("DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject != nullptr && canUnloadNow != nullptr);
    {
        CComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_Mpeg2TSConverter, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        CComPtr<IVskMediaTranscoder> converter;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVskMediaTranscoder, reinterpret_cast<void**>(&converter)), S_OK);
        SAFEARRAY* data = nullptr;
        VARIANT_BOOL end = VARIANT_FALSE;
        EXPECT_EQ(converter->Read(16, &data, &end), E_FAIL);  // not started: logged
    }
    ASSERT_EQ(canUnloadNow(), S_OK);
    library.Unload();
}

}  // namespace

TEST(ComponentUnload, ALaterLoadWritesItsOwnBanner)
{
    const vsktest::CAppLogCapture log(0, 4);
    LoadLogAndUnload();
    LoadLogAndUnload();
    const std::vector<std::string> messages = log.Messages();
    const auto count = [&](const std::string& text) {
        return std::count_if(messages.begin(), messages.end(),
                             [&](const std::string& m) { return m.find(text) != std::string::npos; });
    };
    EXPECT_EQ(count(std::string(79, '-')), 4) << "two banners of two rules each";
    EXPECT_EQ(count("[ERR]"), 2);
}
