// pdemu-run: the organiser without a window. Parses the command line, reads
// the input script and the debug script, picks the ROM (the demo firmware
// unless --rom is given) and hands over to HeadlessRun. Used by the
// end-to-end tests and scripts/run.sh. It also reads the state file of
// --load-state and the session file of --replay, against the ROM the run
// will load, so that a refused one ends things before the machine starts and
// no file is touched. Exit codes: 0 done, 2 bad usage, unreadable or refused
// file or bad debug script line, 3 timeout, 4 save file not written, 5 the
// replay left its session, 128 + the signal after Ctrl-C or SIGTERM (see
// HeadlessRun.h).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
#include "machine/Machine.h"
#include "machine/StateFile.h"
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

// The same file, existing or not yet (two outputs of one run may both be new).
bool sameFile(const std::string& a, const std::string& b) {
    if (sameExistingFile(a, b))
        return true;
    std::error_code error;
    const auto resolved = [&](const std::string& p) {
        return std::filesystem::weakly_canonical(std::filesystem::absolute(p, error), error);
    };
    const std::filesystem::path pa = resolved(a);
    if (error)
        return false;
    const std::filesystem::path pb = resolved(b);
    return !error && pa == pb;
}

// The files written at the end must not be files the run reads, nor each
// other. The one exception: --save-state may replace the --load-state file,
// which is read whole before the run.
bool outputOverwritesAFile(const RunOptions& options) {
    std::vector<std::pair<const char*, std::string>> inputs = {{"--rom", options.romPath},
                                                               {"--input", options.inputPath},
                                                               {"--debug", options.debugPath},
                                                               {"--load-state", options.loadStatePath},
                                                               {"--replay", options.replayPath}};
    for (const std::string& app : options.installPaths)
        inputs.emplace_back("--install", app);
    const std::pair<const char*, std::string> outputs[] = {{"--save", options.savePath},
                                                           {"--save-state", options.saveStatePath},
                                                           {"--record-session", options.recordPath},
                                                           {"--screen", options.screenPath},
                                                           {"--record-screen", options.recordScreenPath}};
    for (std::size_t o = 0; o < std::size(outputs); ++o) {
        const auto& [output, written] = outputs[o];
        if (written.empty())
            continue;
        auto clash = [&](const char* other, const std::string& path) {
            std::fprintf(stderr, "pdemu-run: %s names the same file as %s ('%s'); the save would overwrite it.\n",
                         output, other, printableText(path).c_str());
            return true;
        };
        for (const auto& [input, path] : inputs) {
            const bool allowed = std::string(output) == "--save-state" && std::string(input) == "--load-state";
            if (!path.empty() && !allowed && sameExistingFile(path, written))
                return clash(input, path);
        }
        for (std::size_t later = o + 1; later < std::size(outputs); ++later)
            if (!outputs[later].second.empty() && sameFile(written, outputs[later].second))
                return clash(outputs[later].first, outputs[later].second);
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

    if (outputOverwritesAFile(options))
        return RunBadUsage;

    // A state or session is read whole now, against the ROM the machine will
    // load: a refused one ends the run before anything is written.
    std::optional<MachineState> startState;
    std::optional<Session> session;
    if (!options.loadStatePath.empty() || !options.replayPath.empty()) {
        const std::optional<uint64_t> digest = Machine::romFileDigest(options.romPath);
        if (!digest) {
            std::fprintf(stderr, "cannot open ROM file '%s'.\n", printableText(options.romPath).c_str());
            return RunBadUsage;
        }
        std::string problem;
        if (!options.loadStatePath.empty()) {
            StateRead read = readStateFile(options.loadStatePath, *digest);
            startState = std::move(read.state);
            problem = read.problem;
        } else {
            SessionRead read = readSessionFile(options.replayPath, *digest);
            session = std::move(read.session);
            problem = read.problem;
        }
        if (!problem.empty()) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            return RunBadUsage;
        }
    }

    // Ctrl-C and SIGTERM end the run like its normal end, save included.
    (void)installStopSignals();
    HeadlessRun run(std::move(options), std::move(script.events), stdout, stderr);
    if (debugScript)
        run.setDebugScript(std::move(*debugScript));
    if (startState)
        run.setStartState(std::move(*startState));
    if (session)
        run.setReplay(std::move(*session));
    return run.run();
}
