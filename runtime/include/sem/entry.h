// The two library entry points for one module class, and the macro a
// deliverable uses to export them.
#pragma once

#include <new>

#include "sem/module_base.h"
#include "sem/records.h"

namespace sem {

using FillModuleProperties = void (*)(ModuleProperties* properties);
using ConstructModule = ModuleBase* (*)(HostCallback hostCallback, void* hostHandle);

// Writes the stamp, then describes module 0; 0 for any other index.
int32_t describeModule(int32_t index, ModuleProperties* properties, FillModuleProperties fill);
// Makes one instance of module 0, profile 1; null otherwise or when allocation fails.
ModuleRecord* createModule(int32_t index, int32_t profile, HostCallback hostCallback, void* hostHandle,
                           ConstructModule construct);

template <class Module>
struct EntryPoints {
    static int32_t SEM_CDECL getModuleProperties(int32_t index, ModuleProperties* properties) {
        return describeModule(index, properties, &Module::fillModuleProperties);
    }
    static ModuleRecord* SEM_CDECL makeModule(int32_t index, int32_t profile, HostCallback hostCallback,
                                              void* hostHandle) {
        return createModule(index, profile, hostCallback, hostHandle, &construct);
    }

private:
    static ModuleBase* construct(HostCallback hostCallback, void* hostHandle) {
        return new (std::nothrow) Module(hostCallback, hostHandle);
    }
};

}  // namespace sem

#if defined(_WIN32)
// Accepts every load and unload notification.
#define SEM_LOAD_HANDLER \
    extern "C" int __stdcall DllMain(void*, unsigned long, void*) { return 1; }
#else
#define SEM_LOAD_HANDLER
#endif

// Exports getModuleProperties and makeModule for Module; used once per deliverable.
#define SEM_EXPORT_MODULE(Module)                                                                       \
    SEM_EXPORT int32_t SEM_CDECL getModuleProperties(int32_t index, ::sem::ModuleProperties* properties) { \
        return ::sem::EntryPoints<Module>::getModuleProperties(index, properties);                      \
    }                                                                                                   \
    SEM_EXPORT ::sem::ModuleRecord* SEM_CDECL makeModule(int32_t index, int32_t profile,               \
                                                         ::sem::HostCallback hostCallback, void* hostHandle) { \
        return ::sem::EntryPoints<Module>::makeModule(index, profile, hostCallback, hostHandle);        \
    }                                                                                                   \
    SEM_LOAD_HANDLER
