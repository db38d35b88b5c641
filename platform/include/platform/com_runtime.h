// COM runtime services of the subset for builds without the Windows headers:
// per-thread initialisation, task memory, the in-process class table behind
// CoCreateInstance, the free-threaded marshaler and per-thread error
// information. Only platform/com.h includes this header.
//
// Differences from Windows, all invisible to in-process code:
// - there are no apartments: a registered class object is visible to every
//   thread that has initialised COM (or while any thread holds the
//   multithreaded apartment, like Windows' implicit MTA);
// - only classes registered with CoRegisterClassObject exist (no registry);
// - the free-threaded marshaler's IMarshal methods answer E_NOTIMPL, since
//   nothing is ever marshalled in-process.
#pragma once

#include "platform/com_automation.h"

struct COSERVERINFO;

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) noexcept;
HRESULT CoInitialize(LPVOID pvReserved) noexcept;
void CoUninitialize() noexcept;

LPVOID CoTaskMemAlloc(std::size_t cb) noexcept;
LPVOID CoTaskMemRealloc(LPVOID pv, std::size_t cb) noexcept;
void CoTaskMemFree(LPVOID pv) noexcept;

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags,
                              LPDWORD lpdwRegister) noexcept;
HRESULT CoRevokeClassObject(DWORD dwRegister) noexcept;
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid,
                         LPVOID* ppv) noexcept;
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) noexcept;
HRESULT OleRun(LPUNKNOWN pUnknown) noexcept;
HRESULT CoCreateFreeThreadedMarshaler(LPUNKNOWN punkOuter, LPUNKNOWN* ppunkMarshal) noexcept;

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) noexcept;
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) noexcept;
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) noexcept;

LCID GetThreadLocale() noexcept;
BOOL SetThreadLocale(LCID Locale) noexcept;
