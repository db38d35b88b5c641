#include "dedazodu/Factories.h"

#include "dedazodu/FileIO.h"
#include "dedazodu/Log.h"

namespace deDazOdu {

ILog* Common::COutputLogSystemFactoryBase::CreateLog(unsigned key, ILogIO* io)
{
    return Common::New<CLog>(key, io);
}

ILog* Common::COutputLogSystemFactoryBase::CreateErrorLog(ILogIO* io)
{
    return Common::New<CErrorLog>(io);
}

File::COutputLogSystemFactory::COutputLogSystemFactory(bool autoflush, std::wstring location)
    : m_autoflush(autoflush), m_location(std::move(location))
{
}

ILogIO* File::COutputLogSystemFactory::CreateIO(const wchar_t* name)
{
    return Common::New<File::CFileIO>(name, m_autoflush, m_location.c_str());
}

ILogIO* Ods::COutputLogSystemFactory::CreateIO(const wchar_t*)
{
    return Common::New<COutputDebugStringIO>();
}

ILogIO* Null::COutputLogSystemFactory::CreateIO(const wchar_t*)
{
    return Common::New<CNullIO>();
}

}  // namespace deDazOdu
