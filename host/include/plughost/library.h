// A module library as the host sees it: the two entry points, from a loaded
// .sem file or from a module class linked into the calling program.
#pragma once

#include <stdexcept>
#include <string>

#include "sem/records.h"

namespace plughost {

class LoadError : public std::runtime_error {
public:
    enum class Kind { NotFound, NotLoadable, ExportMissing };
    LoadError(Kind kind, const std::string& message) : std::runtime_error(message), kind(kind) {}
    Kind kind;
};

class Library {
public:
    // Loads path and resolves both exports; throws LoadError naming what failed.
    static Library load(const std::string& path);
    static Library linkedIn(sem::GetModulePropertiesFunction getModuleProperties,
                            sem::MakeModuleFunction makeModule, std::string name = "linked-in");

    Library(Library&& other) noexcept;
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library();  // unloads a loaded library; instances must be closed first

    const std::string& name() const { return libraryName; }
    sem::GetModulePropertiesFunction getModuleProperties() const { return describe; }
    sem::MakeModuleFunction makeModule() const { return make; }

private:
    Library(void* handle, sem::GetModulePropertiesFunction describe, sem::MakeModuleFunction make, std::string name);

    void* handle = nullptr;
    sem::GetModulePropertiesFunction describe = nullptr;
    sem::MakeModuleFunction make = nullptr;
    std::string libraryName;
};

}  // namespace plughost
