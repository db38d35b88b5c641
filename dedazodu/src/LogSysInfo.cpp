#include "dedazodu/LogSysInfo.h"

#include <climits>
#include <cstdint>

#include "dedazodu/Factories.h"
#include "dedazodu/Levels.h"
#include "platform/hresult_text.h"
#include "platform/paths.h"

namespace deDazOdu {

namespace {

const wchar_t FILE_FACTORY_CLASS[] = L"deDazOdu::File::COutputLogSystemFactory";
const wchar_t ODS_FACTORY_CLASS[] = L"deDazOdu::Ods::COutputLogSystemFactory";
const wchar_t FACTORY_INTERFACE[] = L"IOutputLogSystemFactory";

bool IsElementNamed(const platform::CXmlNode& node, const wchar_t* name)
{
    return node.IsElement() && node.Name() == name;
}

// Missing (or non-text) attributes read as the empty string; the answer is
// the lookup status, 0 when found and 1 when not.
int ReadAttribute(const platform::CXmlNode& node, const wchar_t* name, std::wstring& value)
{
    return node.Attribute(name, value) ? LOG_S_OK : LOG_S_FALSE;
}

}  // namespace

int ReadLevel(const std::wstring& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<std::int64_t>(INT_MAX) + 1) {
            value = static_cast<std::int64_t>(INT_MAX) + 1;  // clamp; keep reading digits
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(value < INT_MIN ? INT_MIN : value);
}

// ---------------------------------------------------------------------------
// CLogSysInfo::COutputLogState

int CLogSysInfo::COutputLogState::IsOutput(const wchar_t* subject, int level)
{
    Common::CScopedLock guard(m_lock);
    if (m_filters.empty()) {
        return LOG_E_FAIL;
    }
    if (subject == nullptr) {
        throw static_cast<platform::HRESULT_CODE>(LOG_E_FAIL);
    }
    for (const SFilter& filter : m_filters) {
        if (filter.subject == subject && filter.minLevel <= level && level <= filter.maxLevel) {
            return LOG_S_OK;
        }
    }
    return LOG_E_FAIL;
}

int CLogSysInfo::COutputLogState::HasFilter()
{
    Common::CScopedLock guard(m_lock);
    return m_filters.empty() ? LOG_E_FAIL : LOG_S_OK;
}

int CLogSysInfo::COutputLogState::AddFilter(const wchar_t* subject, int minLevel, int maxLevel)
{
    const std::wstring name = subject != nullptr ? subject : L"";
    Common::CScopedLock guard(m_lock);
    for (SFilter& filter : m_filters) {
        if (filter.subject == name && filter.minLevel <= maxLevel && maxLevel <= filter.maxLevel) {
            filter.minLevel = minLevel;
            filter.maxLevel = maxLevel;
            return LOG_S_OK;
        }
    }
    m_filters.push_back({name, minLevel, maxLevel});
    return LOG_S_OK;
}

std::vector<CLogSysInfo::COutputLogState::SFilter> CLogSysInfo::COutputLogState::Filters()
{
    Common::CScopedLock guard(m_lock);
    return m_filters;
}

// ---------------------------------------------------------------------------
// CLogSysInfo

CLogSysInfo::CLogSysInfo()
    : m_state(Common::CRef<COutputLogState>::Attach(Common::New<COutputLogState>())),
      m_factory(Common::CRef<IOutputLogSystemFactory>::Attach(Common::New<Null::COutputLogSystemFactory>()))
{
    if (!m_state || !m_factory) {
        throw static_cast<platform::HRESULT_CODE>(LOG_E_OUTOFMEMORY);
    }
}

IOutputLogSystemFactory* CLogSysInfo::GetFactory()
{
    return Common::CRef<IOutputLogSystemFactory>(m_factory).Detach();
}

ILogFilter* CLogSysInfo::GetLogFilter()
{
    return Common::CRef<ILogFilter>::Share(m_state.Get()).Detach();
}

void CLogSysInfo::SetFactory(Common::CRef<IOutputLogSystemFactory> factory)
{
    if (factory) {
        m_factory = std::move(factory);
    }
}

// ---------------------------------------------------------------------------
// CLogSysInfoFromXML

CLogSysInfoFromXML::CLogSysInfoFromXML(const wchar_t* fileName)
    : m_fileName(fileName != nullptr ? fileName : L""),
      m_info(Common::CRef<CLogSysInfo>::Attach(Common::New<CLogSysInfo>()))
{
    if (!m_info) {
        throw static_cast<platform::HRESULT_CODE>(LOG_E_OUTOFMEMORY);
    }
    if (platform::PathExists(m_fileName.c_str())) {
        Load();
    }
}

IOutputLogSystemFactory* CLogSysInfoFromXML::GetFactory()
{
    return m_info->GetFactory();
}

ILogFilter* CLogSysInfoFromXML::GetLogFilter()
{
    return m_info->GetLogFilter();
}

int CLogSysInfoFromXML::Load()
{
    platform::CXmlDocument document;
    if (!document.Load(m_fileName.c_str())) {
        return LOG_E_FAIL;
    }
    const platform::CXmlNode root = document.DocumentElement();
    if (!root.IsValid()) {
        return LOG_E_FAIL;
    }
    for (const platform::CXmlNode& node : root.Children()) {
        ReadElement(node);
    }
    return LOG_S_OK;
}

int CLogSysInfoFromXML::ReadElement(const platform::CXmlNode& node)
{
    if (!node.IsValid()) {
        return LOG_E_FAIL;
    }
    if (IsElementNamed(node, L"FACTORY")) {
        return ReadFactory(node);
    }
    if (IsElementNamed(node, L"FILTERLIST")) {
        return ReadFilterList(node);
    }
    return LOG_S_FALSE;
}

int CLogSysInfoFromXML::ReadFactory(const platform::CXmlNode& node)
{
    std::wstring name;
    std::wstring className;
    std::wstring autoflush;
    std::wstring location;
    ReadAttribute(node, L"name", name);
    ReadAttribute(node, L"class", className);
    ReadAttribute(node, L"autoflush", autoflush);
    const int status = ReadAttribute(node, L"location", location);

    using CFactoryRef = Common::CRef<IOutputLogSystemFactory>;
    if (name == FACTORY_INTERFACE && className == FILE_FACTORY_CLASS) {
        m_info->SetFactory(CFactoryRef::Attach(Common::New<File::COutputLogSystemFactory>(autoflush == L"true", location)));
    } else if (name == FACTORY_INTERFACE && className == ODS_FACTORY_CLASS) {
        m_info->SetFactory(CFactoryRef::Attach(Common::New<Ods::COutputLogSystemFactory>()));
    } else {
        // The Null class, and every name or class not understood.
        m_info->SetFactory(CFactoryRef::Attach(Common::New<Null::COutputLogSystemFactory>()));
    }
    return status;
}

int CLogSysInfoFromXML::ReadFilterList(const platform::CXmlNode& node)
{
    for (const platform::CXmlNode& child : node.Children()) {
        ReadFilter(child);
    }
    return LOG_S_FALSE;  // the list's end
}

int CLogSysInfoFromXML::ReadFilter(const platform::CXmlNode& node)
{
    if (!IsElementNamed(node, L"FILTER")) {
        return LOG_E_FAIL;
    }
    std::wstring subject;
    std::wstring minLevel;
    std::wstring maxLevel;
    ReadAttribute(node, L"subject", subject);
    ReadAttribute(node, L"minLevel", minLevel);
    ReadAttribute(node, L"maxLevel", maxLevel);
    return m_info->State()->AddFilter(subject.c_str(), ReadLevel(minLevel), ReadLevel(maxLevel));
}

}  // namespace deDazOdu
