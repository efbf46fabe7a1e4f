// The bridge's lookup of core exports, for the fuzzer: the core is linked
// into the fuzzer itself, so its exports are among the program's own
// dynamic symbols rather than in a library loaded by file name.
#include <dlfcn.h>

#include "core_loader.h"

namespace tessaly {

void* coreExport(const char* name) { return dlsym(RTLD_DEFAULT, name); }

}  // namespace tessaly
