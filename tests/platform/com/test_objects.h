// A plain counted object for exercising the runtime without the project's
// object template: it answers IUnknown and IClassFactory (creating more of
// itself) and reports its own lifetime.
#pragma once

#include <atomic>

#include "platform/com.h"

class CTestUnknown final : public IClassFactory {
public:
    explicit CTestUnknown(std::atomic<int>* alive = nullptr) : m_alive(alive)
    {
        if (m_alive != nullptr) {
            ++*m_alive;
        }
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const ULONG left = --m_refs;
        if (left == 0) {
            if (m_alive != nullptr) {
                --*m_alive;
            }
            delete this;
        }
        return left;
    }
    // Creates a new object; records the outer unknown it was given.
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override
    {
        m_lastOuter = outer;
        auto* object = new CTestUnknown(m_alive);
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) noexcept override { return S_OK; }

    ULONG Count() const { return m_refs; }
    IUnknown* m_lastOuter = nullptr;

private:
    std::atomic<ULONG> m_refs{1};
    std::atomic<int>* m_alive;
};
