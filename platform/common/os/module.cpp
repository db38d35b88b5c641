#include "platform/module.h"

#include <atomic>

namespace platform {

namespace {

constexpr int TEARDOWNS_MAX = 8;
// Constant-initialised, so registrations made during static initialisation
// of other files never find them unconstructed.
PfnModuleTeardown g_teardowns[TEARDOWNS_MAX] = {};
std::atomic<int> g_teardownCount {0};

}  // namespace

void AtModuleUnload(PfnModuleTeardown teardown)
{
    detail::ArmModuleFinaliser();
    const int slot = g_teardownCount.fetch_add(1);
    if (slot < TEARDOWNS_MAX) {
        g_teardowns[slot] = teardown;
    }
}

void ModuleDetached(bool processExiting)
{
    if (processExiting) {
        return;
    }
    int count = g_teardownCount.exchange(0);
    if (count > TEARDOWNS_MAX) {
        count = TEARDOWNS_MAX;
    }
    while (count > 0) {
        --count;
        if (g_teardowns[count] != nullptr) {
            g_teardowns[count]();
        }
    }
}

}  // namespace platform
