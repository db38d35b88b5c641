#include "host/host_kit.h"

#include <mutex>
#include <utility>

namespace {

struct CreationRule {
    bool armed = false;
    HRESULT hr = S_OK;
    ULONG successesLeft = 0;
    bool nullObject = false;
};

struct HostKitState {
    std::mutex lock;
    std::vector<CComPtr<CComObject<CHostTargetDescription>>> targets;
    std::vector<CComPtr<CComObject<CHostMediaProperty>>> properties;
    CreationRule targetRule;
    CreationRule propertyRule;
    std::function<void(CHostTargetDescription&)> targetInitializer;
    std::function<void(CHostMediaProperty&)> propertyInitializer;
    // Tests read the record; a long-running host turns it off so it does
    // not grow with every object the component creates.
    bool keepRecord = true;
};

HostKitState& State()
{
    static HostKitState state;
    return state;
}

CreationRule& RuleFor(HostKitState& state, REFCLSID clsid)
{
    return clsid == CLSID_HostTargetDescription ? state.targetRule : state.propertyRule;
}

// Decides under the lock whether this creation fails; S_FALSE = null object.
HRESULT TakeCreationRule(REFCLSID clsid)
{
    HostKitState& state = State();
    std::lock_guard guard(state.lock);
    CreationRule& rule = RuleFor(state, clsid);
    if (rule.nullObject) {
        return S_FALSE;
    }
    if (!rule.armed) {
        return S_OK;
    }
    if (rule.successesLeft > 0) {
        --rule.successesLeft;
        return S_OK;
    }
    return rule.hr;
}

template <class T>
HRESULT CreateRecorded(REFCLSID clsid, REFIID iid, void** ppv,
                       std::function<void(T&)> HostKitState::*initializer,
                       std::vector<CComPtr<CComObject<T>>> HostKitState::*record) noexcept
{
    const HRESULT rule = TakeCreationRule(clsid);
    if (rule == S_FALSE) {
        return S_OK;
    }
    if (FAILED(rule)) {
        return rule;
    }
    try {
        CComPtr<CComObject<T>> object;
        HRESULT hr = CComCreator<T>::Create(object);
        if (FAILED(hr)) {
            return hr;
        }
        HostKitState& state = State();
        std::function<void(T&)> init;
        {
            std::lock_guard guard(state.lock);
            init = state.*initializer;
        }
        if (init) {
            init(*object);
        }
        void* answer = nullptr;
        hr = object->QueryInterface(iid, &answer);
        if (FAILED(hr)) {
            return hr;
        }
        CComPtr<IUnknown> held;
        held.Attach(static_cast<IUnknown*>(answer));
        {
            std::lock_guard guard(state.lock);
            if (state.keepRecord)
                (state.*record).push_back(object);
        }
        *ppv = held.Detach();
        return S_OK;
    } catch (const CAtlException& e) {
        return e.m_hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

class CHostClassFactory : public CComObjectRoot<CHostClassFactory>, public IClassFactory {
public:
    using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<IClassFactory, IID_IClassFactory>>;

    void SetClass(REFCLSID clsid) noexcept { m_clsid = clsid; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** ppv) noexcept override
    {
        HRESULT hr = ComCheckCreateArguments(outer, iid, ppv);
        if (FAILED(hr)) {
            return hr;
        }
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        if (m_clsid == CLSID_HostTargetDescription) {
            return CreateRecorded<CHostTargetDescription>(m_clsid, iid, ppv, &HostKitState::targetInitializer,
                                                          &HostKitState::targets);
        }
        return CreateRecorded<CHostMediaProperty>(m_clsid, iid, ppv, &HostKitState::propertyInitializer,
                                                  &HostKitState::properties);
    }
    STDMETHODIMP LockServer(BOOL) noexcept override { return S_OK; }

private:
    CLSID m_clsid = GUID_NULL;
};

HRESULT RegisterFactory(REFCLSID clsid, DWORD& cookie) noexcept
{
    CComPtr<CComObject<CHostClassFactory>> factory;
    HRESULT hr = CComCreator<CHostClassFactory>::Create(factory);
    if (FAILED(hr)) {
        return hr;
    }
    factory->SetClass(clsid);
    return CoRegisterClassObject(clsid, factory->GetUnknown(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
}

template <class T>
CComPtr<CComObject<T>> MakeObject()
{
    CComPtr<CComObject<T>> object;
    AtlCheck(CComCreator<T>::Create(object));
    return object;
}

}  // namespace

CHostKitRegistration::CHostKitRegistration(CHostKitRegistration&& other) noexcept
    : m_result(std::exchange(other.m_result, E_UNEXPECTED)),
      m_targetCookie(std::exchange(other.m_targetCookie, 0)),
      m_propertyCookie(std::exchange(other.m_propertyCookie, 0))
{
}

CHostKitRegistration& CHostKitRegistration::operator=(CHostKitRegistration&& other) noexcept
{
    if (this != &other) {
        Revoke();
        m_result = std::exchange(other.m_result, E_UNEXPECTED);
        m_targetCookie = std::exchange(other.m_targetCookie, 0);
        m_propertyCookie = std::exchange(other.m_propertyCookie, 0);
    }
    return *this;
}

void CHostKitRegistration::Revoke() noexcept
{
    if (m_targetCookie != 0) {
        CoRevokeClassObject(std::exchange(m_targetCookie, 0));
    }
    if (m_propertyCookie != 0) {
        CoRevokeClassObject(std::exchange(m_propertyCookie, 0));
    }
    m_result = E_UNEXPECTED;
}

CHostKitRegistration RegisterHostKitClasses() noexcept
{
    CHostKitRegistration registration;
    HRESULT hr = RegisterFactory(CLSID_HostTargetDescription, registration.m_targetCookie);
    if (SUCCEEDED(hr)) {
        hr = RegisterFactory(CLSID_HostMediaProperty, registration.m_propertyCookie);
    }
    if (FAILED(hr)) {
        registration.Revoke();
    }
    registration.m_result = hr;
    return registration;
}

std::vector<CComPtr<CComObject<CHostTargetDescription>>> HostKitCreatedTargets()
{
    HostKitState& state = State();
    std::lock_guard guard(state.lock);
    return state.targets;
}

std::vector<CComPtr<CComObject<CHostMediaProperty>>> HostKitCreatedProperties()
{
    HostKitState& state = State();
    std::lock_guard guard(state.lock);
    return state.properties;
}

void HostKitReset()
{
    HostKitState& state = State();
    std::vector<CComPtr<CComObject<CHostTargetDescription>>> targets;
    std::vector<CComPtr<CComObject<CHostMediaProperty>>> properties;
    {
        std::lock_guard guard(state.lock);
        targets.swap(state.targets);
        properties.swap(state.properties);
        state.targetRule = CreationRule{};
        state.propertyRule = CreationRule{};
        state.targetInitializer = nullptr;
        state.propertyInitializer = nullptr;
    }
    // The objects are released here, outside the lock.
}

void HostKitKeepRecord(bool keep)
{
    HostKitState& state = State();
    std::vector<CComPtr<CComObject<CHostTargetDescription>>> targets;
    std::vector<CComPtr<CComObject<CHostMediaProperty>>> properties;
    std::lock_guard guard(state.lock);
    state.keepRecord = keep;
    if (!keep) {
        targets.swap(state.targets);
        properties.swap(state.properties);
    }
}

void HostKitFailCreation(REFCLSID clsid, HRESULT hr, ULONG successes)
{
    HostKitState& state = State();
    std::lock_guard guard(state.lock);
    CreationRule& rule = RuleFor(state, clsid);
    rule.armed = true;
    rule.hr = hr;
    rule.successesLeft = successes;
}

void HostKitCreateNull(REFCLSID clsid)
{
    HostKitState& state = State();
    std::lock_guard guard(state.lock);
    RuleFor(state, clsid).nullObject = true;
}

void HostKitSetTargetInitializer(std::function<void(CHostTargetDescription&)> initializer)
{
    HostKitState& state = State();
    std::lock_guard guard(state.lock);
    state.targetInitializer = std::move(initializer);
}

void HostKitSetPropertyInitializer(std::function<void(CHostMediaProperty&)> initializer)
{
    HostKitState& state = State();
    std::lock_guard guard(state.lock);
    state.propertyInitializer = std::move(initializer);
}

CComPtr<CComObject<CHostTargetDescription>> CreateHostTargetDescription()
{
    return MakeObject<CHostTargetDescription>();
}

CComPtr<CComObject<CHostMediaProperty>> CreateHostMediaProperty() { return MakeObject<CHostMediaProperty>(); }

CComPtr<CComObject<CHostMediaItem>> CreateHostMediaItem() { return MakeObject<CHostMediaItem>(); }

CComPtr<CComObject<CHostStream>> CreateHostStream(unsigned descriptions)
{
    auto stream = MakeObject<CHostStream>();
    stream->SetDescriptions(descriptions);
    return stream;
}
