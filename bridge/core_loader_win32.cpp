// Windows loading of the core: LoadLibraryA with the plain file name, so the
// system's DLL search applies (the application's directory first), then
// GetProcAddress by export name.
#include <windows.h>

#include "core_loader.h"

namespace tessaly {
namespace {

// Loaded during the bridge's static initialisation, i.e. while the bridge
// DLL is being attached, before any native method can run. The module is
// never freed: it lives as long as the process.
const HMODULE core_handle = LoadLibraryA("Morvent.dll");

}  // namespace

void* coreExport(const char* name) {
    return core_handle ? reinterpret_cast<void*>(GetProcAddress(core_handle, name)) : nullptr;
}

}  // namespace tessaly
