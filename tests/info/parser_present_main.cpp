// The program in which the parser library is found: its environment hands
// the stand-in's directory to the first probe through LoadSettings.
#include "InfoTestSupport.h"

namespace infotest {

bool InfoParserPresent()
{
    return true;
}

namespace {
const ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new CInfoEnvironment);
}  // namespace

}  // namespace infotest
