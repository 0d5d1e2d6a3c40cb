// Helpers shared by the machine tests: a scratch folder, a reporter that
// records messages, whole-file reading and writing, and waiting for a
// condition on the emulation thread.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "machine/Messages.h"

namespace machinetest {

struct RecordedMessage {
    MessageIcon icon;
    std::string text;
};

class RecordingReporter : public MessageReporter {
public:
    void showMessage(MessageIcon icon, const std::string& text) override { messages.push_back({icon, text}); }
    std::vector<RecordedMessage> messages;
};

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchDir {
public:
    ScratchDir() {
        static int counter = 0;
        path = std::filesystem::temp_directory_path() /
               ("pdemu-machine-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }

    std::filesystem::path path;
};

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Polls until the condition holds or two seconds have passed.
inline bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace machinetest
