// View > Record Screen...: the item flipping to Stop Recording and back, the
// pictures the tick takes becoming frames in host time, the size limit and a
// write error ending the file with a message, closing the window ending it,
// and the whole command through the real menus on the demo firmware.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <csignal>
#include <vector>

#include "FrontendRig.h"
#include "frontend/AppSettings.h"
#include "frontend/ButtonStrip.h"
#include "frontend/DeviceWindow.h"
#include "frontend/ScreenRecordCommand.h"
#include "frontend/ScreenView.h"
#include "frontend/SimulatorApp.h"
#include "frontend/StateCommands.h"
#include "machine/Machine.h"
#include "machine/ScreenRecording.h"

using namespace frontendtest;

namespace {

class NullReporter : public MessageReporter {
public:
    void showMessage(MessageIcon, const std::string&) override {}
};

// The display of a bitmap (bottom-up, 304 lines) as the reader gives frames.
std::vector<uint8_t> displayOf(const uint8_t* bits) {
    std::vector<uint8_t> rows;
    for (int y = 0; y < 240; ++y)
        rows.insert(rows.end(), bits + (303 - y) * 20, bits + (304 - y) * 20);
    return rows;
}

bool darkAt(const std::vector<uint8_t>& display, int x, int y) { return (display[y * 20 + x / 8] >> (7 - x % 8)) & 1; }

// A device window over a machine that is not running: the test draws and ticks.
class ScreenRecord : public ::testing::Test {
protected:
    void SetUp() override {
        clearSettings();
        window = std::make_unique<DeviceWindow>(machine, settings, host);
        command = window->screenRecordCommand();
    }
    // The machine draws a row and flags it; the tick takes the picture.
    void drawRow(int y, bool dark) {
        for (int x = 0; x < 160; ++x)
            strip::setPixel(window->screenBits(), x, y, dark && (x + y) % 3 != 0);
        machine.memory.screenChanged.store(1);
        window->refreshTick();
    }
    void drawNoise(uint32_t seed) {
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 160; ++x) {
                seed = seed * 1664525u + 1013904223u;
                strip::setPixel(window->screenBits(), x, y, (seed >> 31) != 0);
            }
        machine.memory.screenChanged.store(1);
        window->refreshTick();
    }
    std::vector<uint8_t> shown() const { return displayOf(window->screenView()->frame()); }

    NullReporter reporter;
    FixedClock clock{FixedClock::at(2026, 12, 8, 14, 3, 29)};
    Machine machine{reporter, clock};
    AppSettings settings;
    ScriptedHost host;
    ScratchDir dir;
    std::unique_ptr<DeviceWindow> window;
    ScreenRecordCommand* command = nullptr;
};

}  // namespace

TEST_F(ScreenRecord, EachChangedPictureOfTheTickIsAFrameInHostTime) {
    const QString path = dir.file("screen.png");
    host.saveAnswers = {path};
    std::vector<std::vector<uint8_t>> pictures = {shown()};
    QElapsedTimer outer;
    outer.start();
    command->chosen();
    QElapsedTimer inner;
    inner.start();
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_TRUE(host.dialogs[0].save);
    EXPECT_EQ(host.dialogs[0].filterList, QStringLiteral("Animated PNG Images (*.png)|*.png||"));
    EXPECT_EQ(host.dialogs[0].initialName, QStringLiteral("pdemu-recording.png"));
    EXPECT_TRUE(command->recording());
    EXPECT_EQ(command->action()->text(), QStringLiteral("Stop &Recording"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("pdemu (recording the screen)"));
    // The session's own item in the File menu is another one and stays as it was.
    EXPECT_EQ(window->stateCommands()->recordAction()->text(), QStringLiteral("&Record Session..."));

    for (int y : {3, 100, 239}) {
        drawRow(y, true);
        pictures.push_back(shown());
        drawRow(y, true);  // drawn again the same: flagged, but no change to show
        window->refreshTick();  // nothing flagged
    }
    const qint64 innerMs = inner.elapsed();
    command->chosen();
    const qint64 outerMs = outer.elapsed();
    EXPECT_FALSE(command->recording());
    EXPECT_EQ(command->action()->text(), QStringLiteral("&Record Screen..."));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("pdemu"));
    EXPECT_TRUE(host.messages.empty());

    const RecordedScreen recorded = readScreenRecording(path.toStdString());
    ASSERT_EQ(recorded.problem, "");
    ASSERT_EQ(recorded.frames.size(), pictures.size());
    qint64 sum = 0;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_EQ(recorded.frames[i].pixels, pictures[i]) << i;
        sum += recorded.frames[i].delayNum;
    }
    // The delays are the host time from the start to the stop.
    EXPECT_GE(sum + 1, innerMs);
    EXPECT_LE(sum, outerMs + 1);
}

TEST_F(ScreenRecord, TheSizeLimitAndAWriteErrorEndItWithAMessageAndAFileOfTheFramesBefore) {
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct Case {
        const char* what;
        bool diskFull;  // a file size limit stands in for a full disk
        const char* message;
        bool fileReads;
    };
    const Case cases[] = {
        {"size limit", false, "was ended at its size limit of 64 KB. The file holds everything recorded", true},
        {"write error", true, "Cannot write the screen recording", false},
    };
    for (const Case& c : cases) {
        const QString path = dir.file(c.diskFull ? "full.png" : "limit.png");
        host.messages.clear();
        host.saveAnswers = {path};
        command->setSizeLimit(1);  // the smallest, 64 KB
        command->chosen();
        ASSERT_TRUE(command->recording()) << c.what;
        if (c.diskFull) {
            struct rlimit small = saved;
            small.rlim_cur = 20'000;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        for (uint32_t n = 0; n < 100 && command->recording(); ++n)
            drawNoise(n);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(command->recording()) << c.what;
        EXPECT_EQ(command->action()->text(), QStringLiteral("&Record Screen...")) << c.what;
        // The box comes once the tick is over.
        EXPECT_TRUE(host.messages.empty()) << c.what;
        ASSERT_TRUE(waitUntil([&] { return !host.messages.empty(); })) << c.what;
        ASSERT_EQ(host.messages.size(), 1u) << c.what;
        EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
        EXPECT_TRUE(host.messages[0].text.contains(QString::fromLatin1(c.message))) << host.messages[0].text.toStdString();
        EXPECT_TRUE(host.messages[0].text.contains(path)) << c.what;
        const RecordedScreen recorded = readScreenRecording(path.toStdString());
        EXPECT_EQ(recorded.problem.empty(), c.fileReads) << c.what << ": " << recorded.problem;
        if (c.fileReads) {
            EXPECT_GE(recorded.frames.size(), 5u);
        }
    }
    std::signal(SIGXFSZ, oldHandler);

    // A file that cannot be made is said at once; nothing records.
    host.messages.clear();
    host.saveAnswers = {dir.file("no/such/folder/screen.png")};
    command->chosen();
    EXPECT_FALSE(command->recording());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].text.startsWith(QStringLiteral("Cannot write the screen recording '")));
    // Cancelled: nothing at all.
    command->chosen();
    EXPECT_FALSE(command->recording());
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST_F(ScreenRecord, ClosingTheWindowEndsTheFileWithTheLastPicture) {
    const QString path = dir.file("closing.png");
    host.saveAnswers = {path};
    command->chosen();
    drawRow(50, true);
    const std::vector<uint8_t> last = shown();
    window->close();
    EXPECT_FALSE(command->recording());
    const RecordedScreen recorded = readScreenRecording(path.toStdString());
    ASSERT_EQ(recorded.problem, "");
    ASSERT_EQ(recorded.frames.size(), 2u);
    EXPECT_EQ(recorded.frames.back().pixels, last);

    // Destroyed while recording (quitting without a close) ends it too.
    const QString second = dir.file("destroyed.png");
    host.saveAnswers = {second};
    command->chosen();
    drawRow(60, true);
    window.reset();
    EXPECT_EQ(readScreenRecording(second.toStdString()).problem, "");
}

TEST(ScreenRecordOnTheDemo, ThroughTheViewMenuItRecordsTheTapAndFlipsBetweenRecordAndStop) {
    clearSettings();
    ScriptedHost host;
    ScratchDir dir;
    SimulatorApp app(host, std::make_unique<FixedClock>(FixedClock::at(2026, 12, 8, 14, 3, 29)));
    ASSERT_TRUE(app.start({QStringLiteral(PDEMU_DEMO_ROM_PATH), QString(), 1}));
    DeviceWindow* window = app.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ScreenView* view = window->screenView();
    QAction* item = window->screenRecordCommand()->action();
    const auto choose = [&] {
        QMenu* menu = window->viewMenu();
        QMenuBar* bar = window->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
        ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        ASSERT_TRUE(waitUntil([&] { return !menu->isVisible(); }));
    };
    const auto shownDark = [&](int x, int y) { return darkAt(displayOf(view->frame()), x, y); };
    // The home screen is up once its title bar is dark.
    ASSERT_TRUE(waitUntil([&] { return shownDark(2, 2); }));
    ASSERT_FALSE(shownDark(100, 150));

    const QString path = dir.file("demo.png");
    host.saveAnswers = {path};
    EXPECT_EQ(item->text(), QStringLiteral("&Record Screen..."));
    choose();
    EXPECT_EQ(item->text(), QStringLiteral("Stop &Recording"));
    const QPoint tap = (QPointF(100.5, 150.5) * view->scale()).toPoint();
    QTest::mousePress(view, Qt::LeftButton, {}, tap);
    ASSERT_TRUE(waitUntil([&] { return shownDark(100, 150); }));
    QTest::mouseRelease(view, Qt::LeftButton, {}, tap);
    choose();
    EXPECT_EQ(item->text(), QStringLiteral("&Record Screen..."));
    app.finish();

    const RecordedScreen recorded = readScreenRecording(path.toStdString());
    ASSERT_EQ(recorded.problem, "");
    ASSERT_GE(recorded.frames.size(), 2u);
    EXPECT_TRUE(darkAt(recorded.frames.front().pixels, 2, 2));
    EXPECT_FALSE(darkAt(recorded.frames.front().pixels, 100, 150));
    EXPECT_TRUE(darkAt(recorded.frames.back().pixels, 100, 150));
    EXPECT_TRUE(host.messages.empty());
}
