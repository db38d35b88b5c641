#include "platform/module.h"

namespace platform {

namespace {

bool g_exitHandlersRan = false;

// Destroyed among the module's exit handlers (see module.h).
struct SExitHandlerMark {
    ~SExitHandlerMark() { g_exitHandlersRan = true; }
} g_exitHandlerMark;

__attribute__((destructor)) void RunModuleTeardowns()
{
    ModuleDetached(g_exitHandlersRan);
}

}  // namespace

void detail::ArmModuleFinaliser() {}

}  // namespace platform
