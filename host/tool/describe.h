// What a library says about itself: texts and pin descriptions, read through one instance.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "plughost/instance.h"
#include "plughost/library.h"

namespace plughost {

struct PinInfo {
    int32_t index;        // pin index as the host counts pins
    int32_t description;  // description index
    std::string name;
    int32_t direction;
    int32_t datatype;
    bool hasDefault;
    std::string defaultText;
    bool hasExtra;
    std::string extraText;
    uint32_t flags;
    bool hasVariable;
};

struct ModuleInfo {
    std::string library;
    std::string id, name, about;
    int32_t stamp;
    std::vector<PinInfo> pins;
};

// Loads the library, throwing ToolError with the stage's exit code on failure.
Library loadLibrary(const std::string& path);
// Describes module 0; throws ToolError when makeModule answers null.
ModuleInfo describeModule(const Library& library);
// Makes one instance of module 0; throws ToolError when makeModule answers null.
std::unique_ptr<Instance> makeInstance(const Library& library);

std::string directionName(int32_t direction);
std::string datatypeName(int32_t datatype);
std::string flagsText(uint32_t flags);

nlohmann::ordered_json toJson(const ModuleInfo& info);
std::string toText(const ModuleInfo& info);

}  // namespace plughost
