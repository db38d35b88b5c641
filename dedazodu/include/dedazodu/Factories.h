// The three output factories. They differ only in the trace channel they
// make; trace writers (CLog) and error-log writers (CErrorLog) are made alike.
#pragma once

#include <string>

#include "Channels.h"
#include "Interfaces.h"

namespace deDazOdu {

namespace Common {
// CreateLog and CreateErrorLog, shared by every factory.
class COutputLogSystemFactoryBase : public CReference<IOutputLogSystemFactory> {
public:
    ILog* CreateLog(unsigned key, ILogIO* io) override;
    ILog* CreateErrorLog(ILogIO* io) override;
};
}  // namespace Common

namespace File {
class COutputLogSystemFactory : public Common::COutputLogSystemFactoryBase {
public:
    COutputLogSystemFactory(bool autoflush, std::wstring location);
    ILogIO* CreateIO(const wchar_t* name) override;
    bool Autoflush() const { return m_autoflush; }
    const std::wstring& Location() const { return m_location; }

private:
    bool m_autoflush;
    std::wstring m_location;
};
}  // namespace File

namespace Ods {
class COutputLogSystemFactory : public Common::COutputLogSystemFactoryBase {
public:
    using COutputDebugStringIO = Ods::COutputDebugStringIO;
    // The name is not used.
    ILogIO* CreateIO(const wchar_t* name) override;
};
}  // namespace Ods

namespace Null {
class COutputLogSystemFactory : public Common::COutputLogSystemFactoryBase {
public:
    using CNullIO = Null::CNullIO;
    // The name is not used.
    ILogIO* CreateIO(const wchar_t* name) override;
};
}  // namespace Null

}  // namespace deDazOdu
