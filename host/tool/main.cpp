// plughost: describe, run, plot and validate module libraries.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "demo.h"
#include "describe.h"
#include "run.h"
#include "tool_error.h"
#include "validate/validate.h"

using namespace plughost;

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "__check") == 0) return runValidateChild(argc, argv);

    CLI::App app{"plughost: describe, run, plot and validate module libraries (.sem)"};
    app.require_subcommand(1);
    app.allow_windows_style_options(false);  // an absolute path under Wine starts with '/'

    std::string infoLibrary;
    bool infoJson = false;
    CLI::App* info = app.add_subcommand("info", "print a module's texts and pin descriptions");
    info->add_option("library", infoLibrary, "the .sem file")->required();
    info->add_flag("--json", infoJson, "JSON with stable keys");

    std::string runLibrary, wavPath, csvPath, svgPath;
    std::vector<std::string> inputs;
    RunSettings settings;
    bool runJson = false;
    CLI::App* run = app.add_subcommand("run", "drive one instance over signals and report what it does");
    run->add_option("library", runLibrary, "the .sem file")->required();
    run->add_option("-i,--input", inputs,
                    "PIN=SOURCE; SOURCE is a number (3.33V for volts), step:at=N,from=A,to=B, "
                    "pulse:period=P,width=W[,high,low,delay], square:freq=F[,high,low,duty], "
                    "sine:freq=F[,amp,offset,phase], ramp:from=A,to=B,frames=N, noise:seed=S[,min,max], "
                    "FILE.wav[#CH] or FILE.csv#COLUMN");
    run->add_option("--frames", settings.frames, "frames to run")->capture_default_str();
    run->add_option("--rate", settings.sampleRate, "sample rate in Hz")->capture_default_str();
    run->add_option("--block", settings.blockSize, "block size in frames")->capture_default_str();
    run->add_option("-o,--output", wavPath, "WAV file with one float channel per output pin");
    run->add_option("--csv", csvPath, "CSV file with one column per pin");
    run->add_option("--plot", svgPath, "SVG plot of every pin");
    run->add_flag("--json", runJson, "JSON summary");

    std::string demoDir, demoOut = "out";
    CLI::App* demo = app.add_subcommand("demo", "run every .sem of a folder on built-in signals and plot it");
    demo->add_option("dir", demoDir, "folder of .sem files (default: this program's folder)");
    demo->add_option("--out", demoOut, "where the plots go")->capture_default_str();

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
        if (*run) {
            const Library library = loadLibrary(runLibrary);
            const ModuleInfo module = describeModule(library);
            std::map<int32_t, std::unique_ptr<SignalSource>> sources;
            for (const std::string& input : inputs) {
                const auto equals = input.find('=');
                if (equals == std::string::npos)
                    throw ToolError(ExitCode::Usage, "input '" + input + "' is not PIN=SOURCE");
                sources[findPin(module, input.substr(0, equals))] = sourceFor(input.substr(equals + 1), settings.sampleRate);
            }
            const RunResult result = runModule(library, std::move(sources), settings);
            writeOutputs(result, wavPath, csvPath, svgPath, settings.sampleRate);
            if (runJson)
                std::cout << summaryJson(result).dump(2) << "\n";
            else
                std::cout << summaryText(result);
            return 0;
        }
        if (*demo) {
            if (demoDir.empty()) {
                demoDir = std::filesystem::path(argv[0]).parent_path().string();
                if (demoDir.empty()) demoDir = ".";
            }
            return runDemo(demoDir, demoOut);
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
