#include "platform/activation.h"

#include <windows.h>

namespace platform {

CProgramActivationContext::CProgramActivationContext(unsigned manifestResourceId)
{
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = GetModuleHandleW(nullptr);
    request.lpResourceName = MAKEINTRESOURCEW(manifestResourceId);
    HANDLE context = CreateActCtxW(&request);
    if (context == INVALID_HANDLE_VALUE) {
        m_result = HRESULT_FROM_WIN32(GetLastError());
        return;
    }
    ULONG_PTR cookie = 0;
    if (!ActivateActCtx(context, &cookie)) {
        m_result = HRESULT_FROM_WIN32(GetLastError());
        ReleaseActCtx(context);
        return;
    }
    m_context = context;
    m_cookie = cookie;
    m_active = true;
}

CProgramActivationContext::~CProgramActivationContext()
{
    if (!m_active)
        return;
    DeactivateActCtx(0, m_cookie);
    ReleaseActCtx(static_cast<HANDLE>(m_context));
}

}  // namespace platform
