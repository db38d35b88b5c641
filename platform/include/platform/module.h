// Teardown of a module's process-wide state when the module (a shared
// library) is unloaded while the process goes on: FreeLibrary, dlclose. A
// later load of the module starts afresh. At process exit the teardowns do
// not run: other threads may still be working with that state then, so it
// stays in place and the system reclaims it with the process. A program (no
// library) never runs them.
//
// Windows: the library's entry point reports DLL_PROCESS_DETACH through
// ModuleDetached; a non-null reserved argument there means the process is
// exiting.
// Linux: a finaliser of the module (.fini_array) runs them, unless the
// module's exit handlers (__cxa_atexit, which hold its static destructors)
// have already run. At process exit every exit handler of every module runs
// before any module's finalisers; dlclose runs the module's finalisers first
// and its exit handlers after them (the C++ runtime's own finaliser, which
// calls them, is the module's first .fini_array entry and so runs last).
#pragma once

namespace platform {

using PfnModuleTeardown = void (*)();

// Registers a teardown of the calling module; they run in the reverse order
// of registration. A module registers a handful at most (eight fit).
void AtModuleUnload(PfnModuleTeardown teardown);

// Called by a library's entry point when it is detached from the process.
void ModuleDetached(bool processExiting);

namespace detail {
// Links in what runs the teardowns where no entry point calls ModuleDetached.
void ArmModuleFinaliser();
}

}  // namespace platform
