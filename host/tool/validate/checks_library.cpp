// library.*: the file, its two exports and what getModuleProperties and
// makeModule answer before any instance exists.
#include <climits>
#include <cstring>

#include "check.h"
#include "drive.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace plughost::validate {
namespace {

// The properties record in the middle of a larger patterned buffer, so that a
// write on either side of its 24 bytes shows.
struct PropertiesProbe {
    static constexpr size_t kPad = 64;
    unsigned char bytes[kPad + sizeof(sem::ModuleProperties) + kPad];
    unsigned char pattern;

    explicit PropertiesProbe(unsigned char fill) : pattern(fill) { std::memset(bytes, fill, sizeof bytes); }
    sem::ModuleProperties* record() { return reinterpret_cast<sem::ModuleProperties*>(bytes + kPad); }
    // Offset from the record's start of the first changed byte in [from, to), or INT_MIN.
    int changed(int from, int to) const {
        for (int i = from; i < to; ++i)
            if (bytes[static_cast<int>(kPad) + i] != pattern) return i;
        return INT_MIN;
    }
    int changedOutside() const {
        const int size = static_cast<int>(sizeof(sem::ModuleProperties));
        const int before = changed(-static_cast<int>(kPad), 0);
        return before != INT_MIN ? before : changed(size, size + static_cast<int>(kPad));
    }
    int32_t stamp() const {
        int32_t value;
        std::memcpy(&value, bytes + kPad + offsetof(sem::ModuleProperties, stamp), sizeof value);
        return value;
    }
};

std::string loads(CheckContext& context) {
    const std::string& path = context.libraryPath();
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) fail(format("cannot load %s: Windows error %lu", path.c_str(), GetLastError()));
    FreeLibrary(module);
#else
    // RTLD_NOW: every symbol the library needs must resolve now.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) fail(format("cannot load %s: %s", path.c_str(), dlerror()));
    dlclose(handle);
#endif
    return "loads with every symbol resolved";
}

std::string exports(CheckContext& context) {
    const Library& library = context.library();
    require(library.getModuleProperties() && library.makeModule(), "an export resolved to null");
    return "getModuleProperties and makeModule";
}

std::string description(CheckContext& context) {
    const Library& library = context.library();
    std::string texts[3];
    const char* pointers[3] = {};
    for (int round = 0; round < 3; ++round) {
        PropertiesProbe probe(round == 0 ? 0xA5 : round == 1 ? 0x5A : 0x00);
        const int32_t answer = library.getModuleProperties()(0, probe.record());
        require(answer != 0, "getModuleProperties(0) answered 0");
        const sem::ModuleProperties& p = *probe.record();
        const char* words[3] = {p.id, p.name, p.about};
        static const char* const kNames[3] = {"id", "name", "about"};
        for (int t = 0; t < 3; ++t) {
            require(words[t] != nullptr, format("getModuleProperties(0) left %s null", kNames[t]));
            if (probe.changed(4 * t, 4 * t + 4) == INT_MIN)
                fail(format("getModuleProperties(0) did not write %s (round %d)", kNames[t], round + 1));
            const std::string text(words[t]);
            if (round == 0) {
                texts[t] = text;
                pointers[t] = words[t];
            } else if (text != texts[t] || words[t] != pointers[t]) {
                fail(format("%s changed between calls: \"%s\" then \"%s\"", kNames[t], texts[t].c_str(), text.c_str()));
            }
        }
        const int unused = probe.changed(12, 20);
        require(unused == INT_MIN, format("getModuleProperties(0) wrote byte %d, which is never written", unused));
        const int outside = probe.changedOutside();
        require(outside == INT_MIN,
                format("getModuleProperties(0) wrote byte %d, outside the 24-byte record", outside));
    }
    return format("id \"%s\", name \"%s\", about %zu bytes, stable over 3 calls", texts[0].c_str(), texts[1].c_str(),
                  texts[2].size());
}

const int32_t kOtherIndexes[] = {1, -1, 1000, 2, INT_MAX, INT_MIN};

std::string stamp(CheckContext& context) {
    const Library& library = context.library();
    for (int32_t index : {0, 1, -1, 1000, INT_MAX}) {
        PropertiesProbe probe(0xC3);
        library.getModuleProperties()(index, probe.record());
        require(probe.stamp() == sem::kStamp,
                format("getModuleProperties(%d) left stamp %d, not %d", index, probe.stamp(), sem::kStamp));
    }
    return format("stamp %d for indexes 0, 1, -1, 1000, INT_MAX", sem::kStamp);
}

std::string otherIndexes(CheckContext& context) {
    const Library& library = context.library();
    for (int32_t index : kOtherIndexes) {
        PropertiesProbe probe(0x3C);
        const int32_t answer = library.getModuleProperties()(index, probe.record());
        require(answer == 0, format("getModuleProperties(%d) answered %d, not 0", index, answer));
        const int written = probe.changed(0, 20);
        require(written == INT_MIN,
                format("getModuleProperties(%d) wrote byte %d; only the stamp (bytes 20..23) may be", index, written));
        const int outside = probe.changedOutside();
        require(outside == INT_MIN,
                format("getModuleProperties(%d) wrote byte %d, outside the 24-byte record", index, outside));
    }
    return "indexes 1, -1, 1000, 2, INT_MAX, INT_MIN answer 0 and write only the stamp";
}

intptr_t SEM_CDECL silentHost(sem::ModuleRecord*, int32_t, int32_t, int32_t, void*, float) { return 0; }

std::string makeRejects(CheckContext& context) {
    const Library& library = context.library();
    const int32_t cases[][2] = {{1, 1}, {-1, 1}, {1000, 1}, {INT_MIN, 1}, {0, 0}, {0, 2}, {0, -1}, {0, 1000}, {1, 0}};
    for (const auto& c : cases) {
        sem::ModuleRecord* record = library.makeModule()(c[0], c[1], &silentHost, nullptr);
        if (record) {
            // Closed through its own record when it looks like one, so nothing is left behind.
            if (record->magic == sem::kModuleMagic && record->dispatchEntry)
                record->dispatchEntry(record, static_cast<int32_t>(sem::ModuleOp::Close), 0, 0, nullptr, 0.0f);
            fail(format("makeModule(index %d, profile %d) answered a record, not null", c[0], c[1]));
        }
    }
    return "null for every index but 0 and every profile but 1";
}

}  // namespace

void addLibraryChecks(std::vector<Check>& checks) {
    checks.push_back({"library.load", &loads, true});
    checks.push_back({"library.exports", &exports, true});
    checks.push_back({"library.description", &description, false});
    checks.push_back({"library.stamp", &stamp, false});
    checks.push_back({"library.other-indexes", &otherIndexes, false});
    checks.push_back({"library.make-rejects", &makeRejects, false});
}

}  // namespace plughost::validate
