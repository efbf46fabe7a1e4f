// POSIX loading of the core: dlopen by plain file name, so the system's
// library search applies (the bridge's RUNPATH $ORIGIN finds a core lying
// beside it). The versioned name comes first: a system with only the runtime
// package has no unversioned libMorvent.so. core_loader_win32.cpp is the
// Windows variant.
#include <dlfcn.h>

#include "core_loader.h"

namespace tessaly {
namespace {

void* loadCore() {
    void* handle = dlopen(MORVENT_CORE_SONAME, RTLD_NOW | RTLD_LOCAL);
    return handle ? handle : dlopen("libMorvent.so", RTLD_NOW | RTLD_LOCAL);
}

// Loaded during the bridge's static initialisation, i.e. when the bridge is
// loaded into the process and before any native method can run. The handle
// is never closed: it lives as long as the process.
void* const core_handle = loadCore();

}  // namespace

void* coreExport(const char* name) { return core_handle ? dlsym(core_handle, name) : nullptr; }

}  // namespace tessaly
