#include "describe.h"

#include <cstring>
#include <sstream>

#include "tool_error.h"

namespace plughost {

Library loadLibrary(const std::string& path) {
    try {
        return Library::load(path);
    } catch (const LoadError& error) {
        switch (error.kind) {
        case LoadError::Kind::NotFound: throw ToolError(ExitCode::LibraryNotFound, error.what());
        case LoadError::Kind::NotLoadable: throw ToolError(ExitCode::LibraryNotLoadable, error.what());
        case LoadError::Kind::ExportMissing: throw ToolError(ExitCode::ExportMissing, error.what());
        }
        throw;
    }
}

std::unique_ptr<Instance> makeInstance(const Library& library) {
    auto instance = Instance::make(library);
    if (!instance) throw ToolError(ExitCode::MakeModuleNull, library.name() + ": makeModule(0, 1) answered null");
    return instance;
}

ModuleInfo describeModule(const Library& library) {
    ModuleInfo info;
    info.library = library.name();
    sem::ModuleProperties properties;
    std::memset(&properties, 0, sizeof properties);
    library.getModuleProperties()(0, &properties);
    auto text = [](const char* s) { return s ? std::string(s) : std::string(); };
    info.id = text(properties.id);
    info.name = text(properties.name);
    info.about = text(properties.about);
    info.stamp = properties.stamp;

    auto instance = makeInstance(library);
    int32_t index = 0;
    for (const DescribedPin& pin : instance->pins()) {
        const sem::PinProperties& p = pin.properties;
        info.pins.push_back({index++, pin.description, text(p.name), p.direction, p.datatype, p.defaultValue != nullptr,
                             text(p.defaultValue), p.extraText != nullptr, text(p.extraText), p.flags,
                             p.variableAddress != nullptr});
    }
    instance->close();
    return info;
}

std::string directionName(int32_t direction) {
    switch (direction) {
    case 0: return "input";
    case 1: return "output";
    default: return "code " + std::to_string(direction);
    }
}

std::string datatypeName(int32_t datatype) {
    switch (datatype) {
    case 0: return "Value16";
    case 4: return "Value8";
    case 5: return "AudioStream";
    case 6: return "Value32A";
    case 8: return "Value32B";
    default: return "code " + std::to_string(datatype);
    }
}

std::string flagsText(uint32_t flags) {
    std::string text;
    auto add = [&](uint32_t bit, const char* name) {
        if (flags & bit) {
            if (!text.empty()) text += '|';
            text += name;
            flags &= ~bit;
        }
    };
    add(sem::PinFlags::Repeat, "Repeat");
    add(sem::PinFlags::NoPin, "NoPin");
    add(sem::PinFlags::ForcePin, "ForcePin");
    if (flags) {
        if (!text.empty()) text += '|';
        std::ostringstream hex;
        hex << "0x" << std::hex << flags;
        text += hex.str();
    }
    return text.empty() ? "-" : text;
}

nlohmann::ordered_json toJson(const ModuleInfo& info) {
    nlohmann::ordered_json json;
    json["library"] = info.library;
    json["id"] = info.id;
    json["name"] = info.name;
    json["about"] = info.about;
    json["stamp"] = info.stamp;
    json["pins"] = nlohmann::ordered_json::array();
    for (const PinInfo& pin : info.pins) {
        nlohmann::ordered_json row;
        row["index"] = pin.index;
        row["description"] = pin.description;
        row["name"] = pin.name;
        row["direction"] = pin.direction;
        row["directionName"] = directionName(pin.direction);
        row["datatype"] = pin.datatype;
        row["datatypeName"] = datatypeName(pin.datatype);
        row["default"] = pin.hasDefault ? nlohmann::ordered_json(pin.defaultText) : nlohmann::ordered_json();
        row["extra"] = pin.hasExtra ? nlohmann::ordered_json(pin.extraText) : nlohmann::ordered_json();
        row["flags"] = pin.flags;
        json["pins"].push_back(row);
    }
    return json;
}

std::string toText(const ModuleInfo& info) {
    std::ostringstream out;
    out << "library  " << info.library << "\n";
    out << "id       " << info.id << "\n";
    out << "name     " << info.name << "\n";
    out << "about    ";
    for (char c : info.about) out << (c == '\n' ? std::string("\n         ") : std::string(1, c));
    out << "\n";
    out << "pins     " << info.pins.size() << "\n";
    char line[256];
    std::snprintf(line, sizeof line, "  %-3s %-10s %-10s %-12s %-8s %-15s %s\n", "#", "name", "direction", "datatype",
                  "default", "extra", "flags");
    out << line;
    for (const PinInfo& pin : info.pins) {
        const std::string def = pin.hasDefault ? "\"" + pin.defaultText + "\"" : "-";
        const std::string extra = pin.hasExtra ? "\"" + pin.extraText + "\"" : "-";
        std::snprintf(line, sizeof line, "  %-3d %-10s %-10s %-12s %-8s %-15s %s\n", pin.index, pin.name.c_str(),
                      directionName(pin.direction).c_str(), datatypeName(pin.datatype).c_str(), def.c_str(),
                      extra.c_str(), flagsText(pin.flags).c_str());
        out << line;
    }
    return out.str();
}

}  // namespace plughost
