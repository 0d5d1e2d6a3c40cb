// pdemu-run: the organiser without a window. Parses the command line, reads
// the input script and the debug script, picks the ROM (the demo firmware
// unless --rom is given) and hands over to HeadlessRun. Used by the
// end-to-end tests and scripts/run.sh. Exit codes: 0 done, 2 bad usage,
// unreadable file or bad debug script line, 3 timeout, 4 save file not
// written, 128 + the signal after Ctrl-C or SIGTERM (see HeadlessRun.h).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DemoRom.h"
#include "DebugScript.h"
#include "HeadlessRun.h"
#include "InputScript.h"
#include "RunOptions.h"
#include "host/HostFiles.h"
#include "machine/StopSignals.h"

namespace {

// The built-in demo firmware as a file for the machine to load; removed again
// when the run ends.
class TemporaryRom {
public:
    bool create() {
        char name[] = "/tmp/pdemu-demo-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            return false;
        path = name;
        const auto image = demoRomImage();
        std::size_t done = 0;
        while (done < image.size()) {
            const ssize_t n = write(fd, image.data() + done, image.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        close(fd);
        return done == image.size();
    }
    ~TemporaryRom() {
        if (!path.empty())
            unlink(path.c_str());
    }
    std::string path;
};

// Scripts are a few hundred lines; anything this large is not one.
constexpr std::size_t MaxScriptBytes = 16 * 1024 * 1024;

bool fileExists(const std::string& path) { return InputFile(path).isOpen(); }

// The script's text, or nullopt after saying why not.
std::optional<std::string> readScript(const std::string& path, const char* what) {
    FileText file = readRegularFile(path, MaxScriptBytes);
    if (file.status != OpenStatus::Opened || file.tooLarge) {
        std::fprintf(stderr, "pdemu-run: cannot read %s '%s'.\n", what, printableText(path).c_str());
        return std::nullopt;
    }
    return std::move(file.text);
}

// The save file is written at the end: it must not be one of the files the run reads.
bool saveOverwritesAnInput(const RunOptions& options) {
    if (options.savePath.empty())
        return false;
    std::vector<std::pair<const char*, std::string>> inputs = {
        {"--rom", options.romPath}, {"--input", options.inputPath}, {"--debug", options.debugPath}};
    for (const std::string& app : options.installPaths)
        inputs.emplace_back("--install", app);
    for (const auto& [option, path] : inputs) {
        if (!path.empty() && sameExistingFile(path, options.savePath)) {
            std::fprintf(stderr, "pdemu-run: --save names the same file as %s ('%s'); the save would overwrite it.\n",
                         option, printableText(path).c_str());
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = parseRunOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "pdemu-run: %s (see --help)\n", parsed.error.c_str());
        return RunBadUsage;
    }
    RunOptions& options = parsed.options;
    if (options.help) {
        std::fputs(runUsage, stdout);
        return RunDone;
    }

    InputScript script;
    if (!options.inputPath.empty()) {
        const auto text = readScript(options.inputPath, "input file");
        if (!text)
            return RunBadUsage;
        script = parseInputScript(*text);
        if (!script.error.empty()) {
            std::fprintf(stderr, "pdemu-run: %s: %s\n", printableText(options.inputPath).c_str(), script.error.c_str());
            return RunBadUsage;
        }
    }

    // A debug script that cannot be read, or has a bad line, ends things
    // here, before the machine has run (and printed) anything.
    std::optional<std::string> debugScript;
    if (!options.debugPath.empty()) {
        debugScript = readScript(options.debugPath, "debug script");
        if (!debugScript)
            return RunBadUsage;
        if (const std::string problem = debugScriptProblem(*debugScript); !problem.empty()) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            return RunBadUsage;
        }
    }

    // An application file that cannot be read is an unreadable input: stop
    // before running, with the text the machine would show.
    for (const std::string& app : options.installPaths) {
        if (!InputFile(app).isOpen()) {
            std::fprintf(stderr, "Cannot open application file.\n");
            return RunBadUsage;
        }
    }

    TemporaryRom builtIn;
    if (options.romPath.empty()) {
        if (fileExists(PDEMU_DEMO_ROM_PATH)) {
            options.romPath = PDEMU_DEMO_ROM_PATH;
        } else if (builtIn.create()) {
            options.romPath = builtIn.path;
        } else {
            std::fprintf(stderr, "pdemu-run: cannot write the built-in demo firmware to /tmp.\n");
            return RunBadUsage;
        }
    }

    if (saveOverwritesAnInput(options))
        return RunBadUsage;

    // Ctrl-C and SIGTERM end the run like its normal end, save included.
    (void)installStopSignals();
    HeadlessRun run(std::move(options), std::move(script.events), stdout, stderr);
    if (debugScript)
        run.setDebugScript(std::move(*debugScript));
    return run.run();
}
