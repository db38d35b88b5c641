// The log configuration: which factory makes the trace channels and which
// subjects and levels pass (CLogSysInfo with its filter list
// COutputLogState), and the reader that fills it from an XML file
// (CLogSysInfoFromXML). Without a file, or with one that cannot be read, the
// Null factory and an empty filter list hold, which lets nothing through.
//
// Only element nodes count as FACTORY, FILTERLIST and FILTER (a comment or
// processing instruction that happens to carry such a name is ignored), and
// names are compared unit by unit.
#pragma once

#include <string>
#include <vector>

#include "Interfaces.h"
#include "Locks.h"
#include "platform/xml.h"

namespace deDazOdu {

class CLogSysInfo : public Common::CReference<ILogSysInfo> {
public:
    class COutputLogState : public Common::CReference<ILogFilter> {
    public:
        struct SFilter {
            std::wstring subject;
            int minLevel;
            int maxLevel;
            bool operator==(const SFilter&) const = default;
        };

        // A null subject raises E_FAIL (as an HRESULT value) when the list
        // holds an entry; with an empty list the answer is E_FAIL.
        int IsOutput(const wchar_t* subject, int level) override;
        int HasFilter() override;
        // Overwrites the first entry for subject whose range contains
        // maxLevel, else appends. Returns 0.
        int AddFilter(const wchar_t* subject, int minLevel, int maxLevel);
        std::vector<SFilter> Filters();

    private:
        std::vector<SFilter> m_filters;
        Common::CCriticalSection m_lock;
    };

    CLogSysInfo();
    IOutputLogSystemFactory* GetFactory() override;
    ILogFilter* GetLogFilter() override;

    COutputLogState* State() const { return m_state.Get(); }
    // Replaces the factory (the old one is released).
    void SetFactory(Common::CRef<IOutputLogSystemFactory> factory);

private:
    Common::CRef<COutputLogState> m_state;
    Common::CRef<IOutputLogSystemFactory> m_factory;
};

class CLogSysInfoFromXML : public Common::CReference<ILogSysInfo> {
public:
    // Loads the file when one of that name exists.
    explicit CLogSysInfoFromXML(const wchar_t* fileName);

    IOutputLogSystemFactory* GetFactory() override;
    ILogFilter* GetLogFilter() override;

    virtual int ReadFactory(const platform::CXmlNode& node);
    virtual int ReadFilter(const platform::CXmlNode& node);
    virtual int ReadFilterList(const platform::CXmlNode& node);
    virtual int ReadElement(const platform::CXmlNode& node);
    virtual int Load();

    CLogSysInfo* Info() const { return m_info.Get(); }

private:
    std::wstring m_fileName;
    Common::CRef<CLogSysInfo> m_info;
};

// Reads a decimal integer as _wtoi does: leading white space and a sign
// allowed, reading stops at the first non-digit, no digits give 0; values
// beyond the int range are clamped.
int ReadLevel(const std::wstring& text);

}  // namespace deDazOdu
