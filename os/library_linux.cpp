#include "os/library.h"

#include <cstdlib>
#include <dlfcn.h>

#ifndef LUMIVANE_LIBDIR
#define LUMIVANE_LIBDIR "/usr/lib"
#endif

namespace os {

Library Library::open(const std::string& fileOrPath) {
    return Library(dlopen(fileOrPath.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* Library::symbol(const char* name) const {
    return handle_ ? dlsym(handle_, name) : nullptr;
}

void Library::unload() {
    if (handle_)
        dlclose(handle_);
    handle_ = nullptr;
}

std::filesystem::path systemLibraryDirectory() {
    if (const char* dir = std::getenv("LUMIVANE_HWIO_DIR"); dir && *dir)
        return dir;
    return LUMIVANE_LIBDIR;
}

} // namespace os
