// HeldMachine: a started machine on a program in flash page 0, with a
// recording view, for the tests that drive the machine through its debugger.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "EngineRig.h"
#include "machine/Machine.h"

class SilentReporter final : public MessageReporter {
public:
    void showMessage(MessageIcon, const std::string&) override {}
};

// A started machine on a program in flash page 0, with a recording view.
class HeldMachine {
public:
    explicit HeldMachine(const std::vector<uint8_t>& program, const std::function<void(Machine&)>& setup = {}) {
        folder = std::filesystem::temp_directory_path() /
                 ("pdemu-held-" + std::to_string(::getpid()) + "-" + std::to_string(++count));
        std::filesystem::create_directories(folder);
        const auto rom = folder / "os.pgm";
        std::ofstream(rom, std::ios::binary)
            .write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
        machine.romImagePath = rom.string();
        machine.debugger.setView(&view.text);
        if (setup)
            setup(machine);
        started = machine.startMachine();
    }
    ~HeldMachine() {
        machine.stopMachine();
        machine.debugger.setView(nullptr);
        std::filesystem::remove_all(folder);
    }

    bool openAndHold() {
        const uint32_t holds = machine.debugger.holdCount();
        machine.debugger.windowShown();
        return waitHeldAfter(holds);
    }
    bool waitHeldAfter(uint32_t holds) {
        DebuggerEngine& engine = machine.debugger;
        return waitUntil([&] { return engine.isHeld() && engine.commandTakenUp() && engine.holdCount() != holds; });
    }
    bool stepInto() {
        const uint32_t holds = machine.debugger.holdCount();
        machine.debugger.stepInto();
        return waitHeldAfter(holds);
    }

    // Runs call on another thread; false if it did not return within the
    // bound. Then the debugger is closed (and unblock run) so the call can
    // end, and it is waited for.
    template <class Call>
    bool returnsWhileHeld(Call call, const std::function<void()>& unblock = [] {}) {
        auto done = std::async(std::launch::async, call);
        if (done.wait_for(kWaitLimit) == std::future_status::ready)
            return true;
        machine.debugger.switchOff();
        unblock();
        done.wait();
        return false;
    }

    inline static int count = 0;
    std::filesystem::path folder;
    SilentReporter reporter;
    FixedClock clock{FixedClock::at(2001, 2, 3, 4, 5, 6)};
    Machine machine{reporter, clock};
    RecordingView view;
    bool started = false;
};
