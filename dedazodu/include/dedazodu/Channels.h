// The simple trace channels: CNullIO drops everything; COutputDebugStringIO
// hands text to the debugger output (on Linux: standard error when
// VSK_DEBUG_OUTPUT=1, else nowhere; see platform/debug.h).
#pragma once

#include "Interfaces.h"

namespace deDazOdu {

namespace Null {
class CNullIO : public Common::CReference<ILogIO> {
public:
    int Lock() override { return 0; }
    int Unlock() override { return 0; }
    int WriteLine(const wchar_t*) override { return 0; }
    int Write(const wchar_t*) override { return 0; }
    void Flush() override {}
};
}  // namespace Null

namespace Ods {
// No lock: each call is one debugger output call, so a trace line arrives
// as three pieces (header, text, line end).
class COutputDebugStringIO : public Common::CReference<ILogIO> {
public:
    int Lock() override { return 0; }
    int Unlock() override { return 0; }
    // The text, then "\n" in a second call.
    int WriteLine(const wchar_t* text) override;
    int Write(const wchar_t* text) override;
    void Flush() override {}
};
}  // namespace Ods

}  // namespace deDazOdu
