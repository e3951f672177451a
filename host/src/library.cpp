#include "plughost/library.h"

#include <cstdio>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace plughost {
namespace {

bool fileExists(const std::string& path) {
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
        return true;
    }
    return false;
}

#if defined(_WIN32)
void* openLibrary(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) error = "Windows error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
}
void* findSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* openLibrary(const std::string& path, std::string& error) {
    // A bare file name means this folder, not the loader's search path.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) error = dlerror();
    return handle;
}
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void closeLibrary(void* handle) { dlclose(handle); }
#endif

}  // namespace

Library Library::load(const std::string& path) {
    if (!fileExists(path)) throw LoadError(LoadError::Kind::NotFound, "library not found: " + path);
    std::string error;
    void* handle = openLibrary(path, error);
    if (!handle) throw LoadError(LoadError::Kind::NotLoadable, "cannot load " + path + ": " + error);
    auto describe = reinterpret_cast<sem::GetModulePropertiesFunction>(findSymbol(handle, "getModuleProperties"));
    auto make = reinterpret_cast<sem::MakeModuleFunction>(findSymbol(handle, "makeModule"));
    if (!describe || !make) {
        closeLibrary(handle);
        throw LoadError(LoadError::Kind::ExportMissing,
                        path + " does not export " + (describe ? "makeModule" : "getModuleProperties"));
    }
    return Library(handle, describe, make, path);
}

Library Library::linkedIn(sem::GetModulePropertiesFunction getModuleProperties, sem::MakeModuleFunction makeModule,
                          std::string name) {
    return Library(nullptr, getModuleProperties, makeModule, std::move(name));
}

Library::Library(void* handle, sem::GetModulePropertiesFunction describe, sem::MakeModuleFunction make,
                 std::string name)
    : handle(handle), describe(describe), make(make), libraryName(std::move(name)) {}

Library::Library(Library&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)),
      describe(other.describe),
      make(other.make),
      libraryName(std::move(other.libraryName)) {}

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        if (handle) closeLibrary(handle);
        handle = std::exchange(other.handle, nullptr);
        describe = other.describe;
        make = other.make;
        libraryName = std::move(other.libraryName);
    }
    return *this;
}

Library::~Library() {
    if (handle) closeLibrary(handle);
}

}  // namespace plughost
