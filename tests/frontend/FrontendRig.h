// Helpers for the window tests: a HostServices that answers the dialogs from
// a script and records the message boxes, a clean settings store, small ROM
// images, and a watchdog that fails a test that hangs instead of letting it
// hang the run.
#pragma once

#include <QRect>
#include <QSettings>
#include <QString>
#include <QTest>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frontend/HostServices.h"

// GoogleTest shows Qt strings as text, not as arrays of 2-byte objects.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QPoint& p, std::ostream* out) { *out << '(' << p.x() << ", " << p.y() << ')'; }
inline void PrintTo(const QSize& s, std::ostream* out) { *out << s.width() << 'x' << s.height(); }
inline void PrintTo(const QRect& r, std::ostream* out) {
    *out << r.width() << 'x' << r.height() << " at (" << r.x() << ", " << r.y() << ')';
}

namespace frontendtest {

class ScriptedHost : public HostServices {
public:
    struct Message {
        MessageIcon icon;
        QString text;
    };
    struct Dialog {
        bool save;
        QString filterList;
        QString initialName;
        QString folder;  // where an open dialog starts; "" for Qt's choice
    };

    void messageBox(QWidget*, MessageIcon icon, const QString& text) override {
        messages.push_back({icon, text});
        if (onMessage)
            onMessage();
    }
    QString openFileDialog(QWidget*, const QString& filterList, const QString& initialName,
                           const QString& folder = QString()) override {
        dialogs.push_back({false, filterList, initialName, folder});
        return next(openAnswers);
    }
    QString saveFileDialog(QWidget*, const QString& filterList, const QString& initialName) override {
        dialogs.push_back({true, filterList, initialName, {}});
        return next(saveAnswers);
    }

    std::vector<Message> messages;
    std::vector<Dialog> dialogs;
    std::deque<QString> openAnswers;  // "" answers cancel
    std::deque<QString> saveAnswers;
    // Runs while each box would be up (tests look at the machine then).
    std::function<void()> onMessage;

private:
    static QString next(std::deque<QString>& answers) {
        if (answers.empty())
            return {};
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// The test-mode settings store, emptied.
inline void clearSettings() { QSettings(QStringLiteral("Morvek"), QStringLiteral("pdemu")).clear(); }

class ScratchDir {
public:
    ScratchDir() {
        static int counter = 0;
        path = std::filesystem::temp_directory_path() /
               ("pdemu-frontend-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    QString file(const char* name) const { return QString::fromStdString((path / name).string()); }
    std::filesystem::path path;
};

inline void writeBytes(const QString& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A ROM that prints each text through the print trap (ED FE), then spins.
inline std::vector<uint8_t> printingRom(const std::vector<std::string>& texts) {
    std::vector<uint8_t> rom = {0xF3, 0x31, 0x00, 0x00};  // DI; LD SP,0
    const std::size_t codeSize = rom.size() + texts.size() * 5 + 2;
    std::size_t textAt = codeSize;
    for (const std::string& text : texts) {
        rom.insert(rom.end(), {0x21, static_cast<uint8_t>(textAt), static_cast<uint8_t>(textAt >> 8), 0xED, 0xFE});
        textAt += text.size() + 1;
    }
    rom.insert(rom.end(), {0x18, 0xFE});  // JR $
    for (const std::string& text : texts) {
        rom.insert(rom.end(), text.begin(), text.end());
        rom.push_back(0);
    }
    return rom;
}

// Aborts the test program with a message when the guarded scope takes longer
// than the bound: a hang then fails the test instead of stalling the run.
class Watchdog {
public:
    Watchdog(const char* what, std::chrono::seconds bound) : what(what) {
        thread = std::thread([this, bound] {
            std::unique_lock lock(mutex);
            if (!done.wait_for(lock, bound, [this] { return finished.load(); })) {
                std::fprintf(stderr, "hang: %s did not finish in time\n", this->what);
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(mutex);
            finished = true;
        }
        done.notify_all();
        thread.join();
    }

private:
    const char* what;
    std::mutex mutex;
    std::condition_variable done;
    // Atomic although it is only touched under the mutex: TSan does not see
    // the mutex taken back inside the timed wait and reported the predicate.
    std::atomic<bool> finished{false};
    std::thread thread;
};

// Runs the event loop until the condition holds; false after the bound.
template <class Condition>
bool waitUntil(Condition condition, int milliseconds = 20000) {
    return QTest::qWaitFor(condition, milliseconds);
}

}  // namespace frontendtest
