// The host kit's entry points: registration of the two host classes the
// component creates (target description, media property) in the process's
// class table, so CoCreateInstance(class, nullptr, 0x17, IID_IUnknown) finds
// them; a record of the objects created that way; and ways to make creation
// fail. COM must be initialised on the registering thread (on Windows in the
// multithreaded apartment, so every thread of the test sees the classes).
//
// The kit's classes are not aggregatable (CLASS_E_NOAGGREGATION).
#pragma once

#include <functional>
#include <vector>

#include "host/host_media_item.h"
#include "host/host_settings.h"
#include "host/host_target_description.h"

// Revokes the registrations when it goes out of scope.
class CHostKitRegistration {
public:
    CHostKitRegistration() noexcept = default;
    CHostKitRegistration(CHostKitRegistration&& other) noexcept;
    CHostKitRegistration& operator=(CHostKitRegistration&& other) noexcept;
    CHostKitRegistration(const CHostKitRegistration&) = delete;
    CHostKitRegistration& operator=(const CHostKitRegistration&) = delete;
    ~CHostKitRegistration() { Revoke(); }

    // S_OK when both classes are registered, else the first failure (and
    // nothing stays registered).
    HRESULT Result() const noexcept { return m_result; }
    void Revoke() noexcept;

private:
    friend CHostKitRegistration RegisterHostKitClasses() noexcept;

    HRESULT m_result = E_UNEXPECTED;
    DWORD m_targetCookie = 0;
    DWORD m_propertyCookie = 0;
};

[[nodiscard]] CHostKitRegistration RegisterHostKitClasses() noexcept;

// Objects created through the class table since the last clear, in order.
std::vector<CComPtr<CComObject<CHostTargetDescription>>> HostKitCreatedTargets();
std::vector<CComPtr<CComObject<CHostMediaProperty>>> HostKitCreatedProperties();
// Drops the record and every armed creation failure and initialiser.
void HostKitReset();
// Whether created objects are recorded (on by default). Off, the record stays
// empty: a host that serves many requests keeps nothing it does not use.
void HostKitKeepRecord(bool keep);

// Creation of `clsid` fails with `hr` once `successes` more creations of it
// have succeeded, and keeps failing until HostKitReset.
void HostKitFailCreation(REFCLSID clsid, HRESULT hr, ULONG successes = 0);
// Creation of `clsid` answers S_OK with a null object.
void HostKitCreateNull(REFCLSID clsid);
// Runs on every new object before it is handed out (e.g. to arm failures).
void HostKitSetTargetInitializer(std::function<void(CHostTargetDescription&)> initializer);
void HostKitSetPropertyInitializer(std::function<void(CHostMediaProperty&)> initializer);

// Stand-alone objects for tests; raise CAtlException when creation fails.
CComPtr<CComObject<CHostTargetDescription>> CreateHostTargetDescription();
CComPtr<CComObject<CHostMediaProperty>> CreateHostMediaProperty();
CComPtr<CComObject<CHostMediaItem>> CreateHostMediaItem();
CComPtr<CComObject<CHostStream>> CreateHostStream(unsigned descriptions);
