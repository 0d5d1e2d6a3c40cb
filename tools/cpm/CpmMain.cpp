// pdemu-cpm: runs a CP/M program on the bare processor core, for testing the
// core and measuring its speed.
//
//   pdemu-cpm FILE.COM [--max-tstates N]
//
// The program is loaded at 0x0100 with CP/M's page zero (CpmBus.h); BDOS
// functions 2 and 9 print to standard output. The run ends when the program
// jumps to 0 (exit status 0) or after N T-states (exit status 1). Then one line
// goes to standard error: "tstates=N seconds=S emulated_mhz=M", where S is the
// processor time the run took (the machine is shared, so wall time would
// measure the neighbours too). Bad usage or an unusable file: exit status 2
// with a one-line message.
#include <cerrno>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CpmBus.h"
#include "host/HostFiles.h"
#include "z80/Core.h"

namespace {

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

int usage(const char* why) {
    std::fprintf(stderr, "pdemu-cpm: %s; usage: pdemu-cpm FILE.COM [--max-tstates N]\n", why);
    return 2;
}

bool parseCount(const char* text, int64_t& value) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno || end == text || *end || v <= 0) return false;
    value = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    int64_t limit = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-tstates") == 0) {
            if (i + 1 >= argc || !parseCount(argv[i + 1], limit)) return usage("--max-tstates needs a positive count");
            ++i;
        } else if (argv[i][0] == '-' && argv[i][1]) {
            return usage((std::string("unknown option ") + argv[i]).c_str());
        } else if (path) {
            return usage("more than one program given");
        } else {
            path = argv[i];
        }
    }
    if (!path) return usage("no program given");

    // A regular file only, read no further than the program area reaches.
    const FileText file = readRegularFile(path, CpmBus::BdosAddress - CpmBus::ProgramStart);
    if (file.status != OpenStatus::Opened) {
        std::fprintf(stderr, "pdemu-cpm: cannot read %s\n", printableText(path).c_str());
        return 2;
    }
    if (file.tooLarge) {
        std::fprintf(stderr, "pdemu-cpm: %s is too large for the program area\n", printableText(path).c_str());
        return 2;
    }
    if (file.text.empty()) {
        std::fprintf(stderr, "pdemu-cpm: %s is empty\n", printableText(path).c_str());
        return 2;
    }
    auto bus = std::make_unique<CpmBus>();
    bus->limit = limit;
    if (!bus->load(reinterpret_cast<const uint8_t*>(file.text.data()), file.text.size())) {
        std::fprintf(stderr, "pdemu-cpm: %s is too large for the program area\n", printableText(path).c_str());
        return 2;
    }

    Z80State s;
    bus->start(s);
    double begin = cpuSeconds();
    runCpu(s, *bus);
    double seconds = cpuSeconds() - begin;
    std::fflush(stdout);

    int64_t tstates = bus->finalTstates;
    double mhz = seconds > 0 ? double(tstates) / seconds / 1e6 : 0.0;
    std::fprintf(stderr, "tstates=%lld seconds=%.3f emulated_mhz=%.1f\n", static_cast<long long>(tstates), seconds,
                 mhz);
    return bus->programEnded ? 0 : 1;
}
