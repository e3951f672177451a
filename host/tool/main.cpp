// plughost: describe, run, plot and validate module libraries.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "describe.h"
#include "tool_error.h"
#include "validate/validate.h"

using namespace plughost;

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "__check") == 0) return runValidateChild(argc, argv);

    CLI::App app{"plughost: describe, run, plot and validate module libraries (.sem)"};
    app.require_subcommand(1);

    std::string infoLibrary;
    bool infoJson = false;
    CLI::App* info = app.add_subcommand("info", "print a module's texts and pin descriptions");
    info->add_option("library", infoLibrary, "the .sem file")->required();
    info->add_flag("--json", infoJson, "JSON with stable keys");

    ValidateOptions validate;
    uint64_t seed = 0;
    CLI::App* check = app.add_subcommand("validate", "run the battery of checks on each library");
    check->add_option("library", validate.libraries, "the .sem files")->required();
    CLI::Option* seedOption = check->add_option("--seed", seed, "reproduce a run");
    check->add_option("--only", validate.only, "run only the checks whose names match this regex");
    check->add_flag("--json", validate.json, "JSON report");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "plughost: %s (see plughost -h)\n", e.what());
        return static_cast<int>(ExitCode::Usage);
    }

    try {
        if (*info) {
            const ModuleInfo module = describeModule(loadLibrary(infoLibrary));
            if (infoJson)
                std::cout << toJson(module).dump(2) << "\n";
            else
                std::cout << toText(module);
            return 0;
        }
        if (*check) {
            if (*seedOption) validate.seed = seed;
            return runValidate(validate, argv[0]);
        }
    } catch (const ToolError& error) {
        std::fprintf(stderr, "plughost: %s\n", error.what());
        return static_cast<int>(error.code);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "plughost: %s\n", error.what());
        return static_cast<int>(ExitCode::Usage);
    }
    return 0;
}
