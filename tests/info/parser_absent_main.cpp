// The program in which the parser library cannot be found: it sits in a
// directory of its own, and no info object names a directory holding one.
#include "InfoTestSupport.h"

namespace infotest {

bool InfoParserPresent()
{
    return false;
}

namespace {
const ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new CInfoEnvironment);
}  // namespace

}  // namespace infotest
