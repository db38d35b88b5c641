// Raising a _com_error for a failed call, with the callee's error information
// when the callee says (ISupportErrorInfo) that it keeps some for the
// interface. mingw-w64 declares this without shipping it; the Linux subset
// needs it too, so both builds share this definition.
#include "platform/com.h"

void WINAPI _com_issue_errorex(HRESULT hr, IUnknown* punk, REFIID riid)
{
    IErrorInfo* info = nullptr;
    if (punk != nullptr) {
        ISupportErrorInfo* support = nullptr;
        if (SUCCEEDED(punk->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) &&
            support != nullptr) {
            if (support->InterfaceSupportsErrorInfo(riid) == S_OK) {
                if (GetErrorInfo(0, &info) != S_OK) {
                    info = nullptr;
                }
            }
            support->Release();
        }
    }
    throw _com_error(hr, info);
}
