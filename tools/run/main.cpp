// pdemu-run: the organiser without a window. Parses the command line, reads
// the input script and the debug script, picks the ROM (the demo firmware
// unless --rom is given) and hands over to HeadlessRun. Used by the
// end-to-end tests and scripts/run.sh. Exit codes: 0 done, 2 bad usage,
// unreadable file or bad debug script line, 3 timeout.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "DemoRom.h"
#include "HeadlessRun.h"
#include "InputScript.h"
#include "RunOptions.h"

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

bool fileExists(const std::string& path) { return std::ifstream(path, std::ios::binary).good(); }

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
        std::ifstream in(options.inputPath);
        if (!in) {
            std::fprintf(stderr, "pdemu-run: cannot read input file '%s'.\n", options.inputPath.c_str());
            return RunBadUsage;
        }
        std::ostringstream text;
        text << in.rdbuf();
        script = parseInputScript(text.str());
        if (!script.error.empty()) {
            std::fprintf(stderr, "pdemu-run: %s: %s\n", options.inputPath.c_str(), script.error.c_str());
            return RunBadUsage;
        }
    }

    // The debug script is checked line by line only once the run has begun;
    // a file that cannot be read ends things here.
    std::optional<std::string> debugScript;
    if (!options.debugPath.empty()) {
        std::ifstream in(options.debugPath);
        std::error_code error;
        if (!in || std::filesystem::is_directory(options.debugPath, error)) {
            std::fprintf(stderr, "pdemu-run: cannot read debug script '%s'.\n", options.debugPath.c_str());
            return RunBadUsage;
        }
        std::ostringstream text;
        text << in.rdbuf();
        debugScript = text.str();
    }

    // An application file that cannot be read is an unreadable input: stop
    // before running, with the text the machine would show.
    for (const std::string& app : options.installPaths) {
        if (!std::ifstream(app, std::ios::binary)) {
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

    HeadlessRun run(std::move(options), std::move(script.events), stdout, stderr);
    if (debugScript)
        run.setDebugScript(std::move(*debugScript));
    return run.run();
}
