#include "sem/entry.h"

namespace sem {

int32_t describeModule(int32_t index, ModuleProperties* properties, FillModuleProperties fill) {
    properties->stamp = kStamp;
    if (index != 0) return 0;
    fill(properties);
    return 1;
}

ModuleRecord* createModule(int32_t index, int32_t profile, HostCallback hostCallback, void* hostHandle,
                           ConstructModule construct) {
    if (index != 0 || profile != 1) return nullptr;
    ModuleBase* module = construct(hostCallback, hostHandle);
    return module ? module->record() : nullptr;
}

}  // namespace sem
