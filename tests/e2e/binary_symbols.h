// Reads what a module file exports and imports, from its own bytes: ELF32
// dynamic symbols, or a PE32 file's export and import directories.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing {

struct BinarySymbols {
    std::string format;            // "ELF32 i386" or "PE32 i386"
    std::set<std::string> exports;  // defined, visible symbols
    std::set<std::string> importedLibraries;  // PE: DLL names; ELF: DT_NEEDED is not read
};

class BinaryReader {
public:
    explicit BinaryReader(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        if (!file) throw std::runtime_error("cannot open " + path);
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    template <class T>
    T at(size_t offset) const {
        if (offset + sizeof(T) > bytes.size()) throw std::runtime_error("read past the end of the file");
        T value;
        std::memcpy(&value, bytes.data() + offset, sizeof value);
        return value;
    }
    std::string text(size_t offset) const {
        std::string s;
        while (offset < bytes.size() && bytes[offset]) s += bytes[offset++];
        return s;
    }
    size_t size() const { return bytes.size(); }

private:
    std::vector<char> bytes;
};

inline BinarySymbols readElf(const BinaryReader& file) {
    BinarySymbols symbols;
    if (file.at<uint8_t>(4) != 1 || file.at<uint16_t>(18) != 3) throw std::runtime_error("not ELF32 i386");
    symbols.format = "ELF32 i386";
    const auto sectionTable = file.at<uint32_t>(32);
    const auto sectionSize = file.at<uint16_t>(46);
    const auto sectionCount = file.at<uint16_t>(48);
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const size_t header = sectionTable + i * sectionSize;
        if (file.at<uint32_t>(header + 4) != 11) continue;  // SHT_DYNSYM
        const auto offset = file.at<uint32_t>(header + 16);
        const auto size = file.at<uint32_t>(header + 20);
        const auto link = file.at<uint32_t>(header + 24);
        const auto entry = file.at<uint32_t>(header + 36);
        const auto strings = file.at<uint32_t>(sectionTable + link * sectionSize + 16);
        for (uint32_t s = 1; s < size / entry; ++s) {
            const size_t symbol = offset + s * entry;
            const auto info = file.at<uint8_t>(symbol + 12);
            const auto visibility = file.at<uint8_t>(symbol + 13) & 3;
            const auto sectionIndex = file.at<uint16_t>(symbol + 14);
            const int binding = info >> 4;
            if (sectionIndex == 0 || (binding != 1 && binding != 2) || visibility == 2) continue;
            symbols.exports.insert(file.text(strings + file.at<uint32_t>(symbol)));
        }
    }
    return symbols;
}

inline BinarySymbols readPe(const BinaryReader& file) {
    BinarySymbols symbols;
    const auto pe = file.at<uint32_t>(0x3C);
    if (file.at<uint32_t>(pe) != 0x00004550 || file.at<uint16_t>(pe + 4) != 0x14C)
        throw std::runtime_error("not PE i386");
    const size_t optional = pe + 24;
    if (file.at<uint16_t>(optional) != 0x10B) throw std::runtime_error("not PE32");
    symbols.format = "PE32 i386";
    const auto sectionCount = file.at<uint16_t>(pe + 6);
    const size_t sections = optional + file.at<uint16_t>(pe + 20);
    auto fileOffset = [&](uint32_t rva) -> size_t {
        for (uint32_t i = 0; i < sectionCount; ++i) {
            const size_t section = sections + i * 40;
            const auto virtualSize = file.at<uint32_t>(section + 8);
            const auto address = file.at<uint32_t>(section + 12);
            if (rva >= address && rva < address + virtualSize)
                return rva - address + file.at<uint32_t>(section + 20);
        }
        throw std::runtime_error("address outside every section");
    };
    const size_t directories = optional + 96;
    if (const auto exportRva = file.at<uint32_t>(directories)) {
        const size_t exports = fileOffset(exportRva);
        const auto names = file.at<uint32_t>(exports + 24);
        const size_t nameTable = fileOffset(file.at<uint32_t>(exports + 32));
        for (uint32_t i = 0; i < names; ++i) symbols.exports.insert(file.text(fileOffset(file.at<uint32_t>(nameTable + 4 * i))));
    }
    if (const auto importRva = file.at<uint32_t>(directories + 8)) {
        for (size_t entry = fileOffset(importRva); file.at<uint32_t>(entry + 12) != 0; entry += 20)
            symbols.importedLibraries.insert(file.text(fileOffset(file.at<uint32_t>(entry + 12))));
    }
    return symbols;
}

inline BinarySymbols readSymbols(const std::string& path) {
    const BinaryReader file(path);
    if (file.size() > 4 && file.at<uint32_t>(0) == 0x464C457F) return readElf(file);
    if (file.size() > 2 && file.at<uint16_t>(0) == 0x5A4D) return readPe(file);
    throw std::runtime_error(path + " is neither ELF nor PE");
}

}  // namespace testing
