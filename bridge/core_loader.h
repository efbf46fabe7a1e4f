// Reaching the core library at run time. The bridge never links against the
// core: it loads it by file name once, when the bridge itself is loaded, and
// looks each export up by name on every call.
#pragma once

namespace tessaly {

// The address of the core's export `name`, or nullptr when the core library
// could not be loaded or has no such export.
void* coreExport(const char* name);

// Typed lookup: `Fn` is the export's function type as the public header
// declares it, so the call signature cannot drift from the core's.
template <typename Fn>
Fn* bind(const char* name) {
    return reinterpret_cast<Fn*>(coreExport(name));
}

}  // namespace tessaly

// Binds the export of the same name with its declared type.
#define TESSALY_BIND(export_name) ::tessaly::bind<decltype(export_name)>(#export_name)
