#pragma once
// Loading a shared library by path and finding its entries.

#include <string>

namespace Sys {

// An owned handle of a loaded library; unloading it runs the library's finalisation.
class TLibrary {
public:
    TLibrary() = default;
    ~TLibrary();
    TLibrary(const TLibrary&) = delete;
    TLibrary& operator=(const TLibrary&) = delete;

    // Loads the library; false with LastError() filled when it cannot. A library loaded
    // with keepLoaded stays mapped when the handle is closed (for libraries that cannot
    // be unloaded and loaded again in one process).
    bool Load(const std::string& path, bool keepLoaded = false);
    void* Symbol(const std::string& name) const;
    void Unload();
    const std::string& LastError() const { return FError; }

private:
    void* FHandle = nullptr;
    std::string FError;
};

} // namespace Sys
