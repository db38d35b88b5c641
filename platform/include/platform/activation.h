// A side-by-side activation context made from a manifest resource of the
// running program and activated on the calling thread for the scope's life.
//
// This is how a program finds COM classes that no registry names: the
// manifest's <file>/<comClass> entries map each class id to a DLL beside the
// program, and CoCreateInstance on a thread where the context is active
// creates the class from that DLL. The manifest is kept apart from the one
// the loader applies at start (resource 1), so the program decides per run
// whether classes come from the manifest or from the registry.
//
// Windows: CreateActCtxW on the executable's resource, ActivateActCtx and,
// on destruction, DeactivateActCtx and ReleaseActCtx on the same thread.
// POSIX: there are no activation contexts; construction fails with
// E_NOTIMPL and nothing is activated.
#pragma once

#include <cstdint>

namespace platform {

class CProgramActivationContext {
public:
    explicit CProgramActivationContext(unsigned manifestResourceId);
    ~CProgramActivationContext();
    CProgramActivationContext(const CProgramActivationContext&) = delete;
    CProgramActivationContext& operator=(const CProgramActivationContext&) = delete;

    bool IsActive() const { return m_active; }
    // S_OK when active, else the HRESULT of the failing call.
    std::int32_t Result() const { return m_result; }

private:
    void* m_context = nullptr;
    std::uintptr_t m_cookie = 0;
    bool m_active = false;
    std::int32_t m_result = 0;
};

}  // namespace platform
