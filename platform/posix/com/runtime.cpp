// COM runtime of the subset: per-thread initialisation, task memory, the class
// table behind CoGetClassObject / CoCreateInstance, OleRun and the thread
// locale.
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/com.h"

namespace {

// Threads that currently hold the multithreaded apartment. While there is
// one, uninitialised threads may use COM as well (Windows' implicit MTA).
std::atomic<int> g_mtaThreads{0};

struct ThreadApartment {
    ULONG count = 0;
    DWORD model = COINIT_MULTITHREADED;
    ~ThreadApartment()
    {
        if (count != 0 && model == COINIT_MULTITHREADED) {
            g_mtaThreads.fetch_sub(1);
        }
    }
};

thread_local ThreadApartment t_apartment;

bool ComUsable() noexcept { return t_apartment.count != 0 || g_mtaThreads.load() > 0; }

struct ClassRegistration {
    DWORD cookie;
    CLSID clsid;
    DWORD context;
    DWORD flags;
    IUnknown* object;  // one reference, given back by CoRevokeClassObject
    bool consumed;     // REGCLS_SINGLEUSE: handed out once already
};

struct ClassTable {
    std::mutex lock;
    std::vector<ClassRegistration> entries;
    DWORD nextCookie = 1;
};

ClassTable& Classes()
{
    static ClassTable table;
    return table;
}

thread_local LCID t_locale = 0x0409;

}  // namespace

HRESULT CoInitializeEx(LPVOID /*pvReserved*/, DWORD dwCoInit) noexcept
{
    const DWORD model = (dwCoInit & COINIT_APARTMENTTHREADED) != 0 ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
    if (t_apartment.count != 0) {
        if (t_apartment.model != model) {
            return RPC_E_CHANGED_MODE;
        }
        ++t_apartment.count;
        return S_FALSE;
    }
    t_apartment.count = 1;
    t_apartment.model = model;
    if (model == COINIT_MULTITHREADED) {
        g_mtaThreads.fetch_add(1);
    }
    return S_OK;
}

HRESULT CoInitialize(LPVOID pvReserved) noexcept { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() noexcept
{
    if (t_apartment.count == 0) {
        return;
    }
    if (--t_apartment.count == 0 && t_apartment.model == COINIT_MULTITHREADED) {
        g_mtaThreads.fetch_sub(1);
    }
}

LPVOID CoTaskMemAlloc(std::size_t cb) noexcept { return std::malloc(cb == 0 ? 1 : cb); }

LPVOID CoTaskMemRealloc(LPVOID pv, std::size_t cb) noexcept
{
    if (cb == 0 && pv != nullptr) {
        std::free(pv);
        return nullptr;
    }
    return std::realloc(pv, cb == 0 ? 1 : cb);
}

void CoTaskMemFree(LPVOID pv) noexcept { std::free(pv); }

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags,
                              LPDWORD lpdwRegister) noexcept
{
    if (pUnk == nullptr || lpdwRegister == nullptr) {
        return E_INVALIDARG;
    }
    *lpdwRegister = 0;
    if (!ComUsable()) {
        return CO_E_NOTINITIALIZED;
    }
    ClassTable& table = Classes();
    try {
        std::lock_guard guard(table.lock);
        const DWORD cookie = table.nextCookie++;
        table.entries.push_back(ClassRegistration{cookie, rclsid, dwClsContext, flags, pUnk, false});
        pUnk->AddRef();
        *lpdwRegister = cookie;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) noexcept
{
    IUnknown* object = nullptr;
    {
        ClassTable& table = Classes();
        std::lock_guard guard(table.lock);
        for (auto it = table.entries.begin(); it != table.entries.end(); ++it) {
            if (it->cookie == dwRegister) {
                object = it->object;
                table.entries.erase(it);
                break;
            }
        }
    }
    if (object == nullptr) {
        return E_INVALIDARG;
    }
    // Released outside the table lock: the object's Release may call back.
    object->Release();
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* /*pServerInfo*/, REFIID riid,
                         LPVOID* ppv) noexcept
{
    if (ppv == nullptr) {
        return E_INVALIDARG;
    }
    *ppv = nullptr;
    if (!ComUsable()) {
        return CO_E_NOTINITIALIZED;
    }
    IUnknown* object = nullptr;
    {
        ClassTable& table = Classes();
        std::lock_guard guard(table.lock);
        for (ClassRegistration& entry : table.entries) {
            if (entry.clsid == rclsid && (entry.context & dwClsContext) != 0 && !entry.consumed) {
                object = entry.object;
                object->AddRef();
                entry.consumed = entry.flags == REGCLS_SINGLEUSE;
                break;
            }
        }
    }
    if (object == nullptr) {
        return REGDB_E_CLASSNOTREG;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) noexcept
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
        return hr;
    }
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

HRESULT OleRun(LPUNKNOWN pUnknown) noexcept
{
    // No object here is an IRunnableObject: every object is already running.
    return pUnknown == nullptr ? E_INVALIDARG : S_OK;
}

LCID GetThreadLocale() noexcept { return t_locale; }

BOOL SetThreadLocale(LCID Locale) noexcept
{
    // The default-locale aliases stand for the one locale this platform has.
    t_locale = (Locale == LOCALE_SYSTEM_DEFAULT || Locale == LOCALE_USER_DEFAULT) ? LCID{0x0409} : Locale;
    return TRUE;
}
