#include "platform/module.h"

namespace platform {

// The library's entry point calls ModuleDetached itself.
void detail::ArmModuleFinaliser() {}

}  // namespace platform
