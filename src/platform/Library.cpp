#include "platform/Library.h"

#include "platform/OsApi.h"

namespace Sys {

TLibrary::~TLibrary() { Unload(); }

bool TLibrary::Load(const std::string& path, bool keepLoaded)
{
    Unload();
    FHandle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (keepLoaded ? RTLD_NODELETE : 0));
    if (!FHandle) {
        const char* err = ::dlerror();
        FError = err ? err : "cannot load " + path;
        return false;
    }
    return true;
}

void* TLibrary::Symbol(const std::string& name) const
{
    return FHandle ? ::dlsym(FHandle, name.c_str()) : nullptr;
}

void TLibrary::Unload()
{
    if (FHandle) {
        ::dlclose(FHandle);
        FHandle = nullptr;
    }
}

} // namespace Sys
