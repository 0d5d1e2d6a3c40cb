// The device window: pen and buttons by mouse (to the edges of zoomed
// pixels), keys, the tick's repaint, the pixels on the screen against the
// screen bitmap at every zoom, the window's size, menus giving the keyboard
// back, the window shown again, the About box and the screenshot.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>

#include "FrontendRig.h"
#include "frontend/AppSettings.h"
#include "frontend/ButtonStrip.h"
#include "frontend/DebugMessageWindow.h"
#include "frontend/DeviceWindow.h"
#include "frontend/ScreenView.h"
#include "frontend/SimulatorApp.h"
#include "machine/Machine.h"
#include "machine/ScreenPng.h"

using namespace frontendtest;

namespace {

class NullReporter : public MessageReporter {
public:
    void showMessage(MessageIcon, const std::string&) override {}
};

// A device window over a machine that is not running: input and painting only.
class Window : public ::testing::Test {
protected:
    void SetUp() override {
        clearSettings();
        AppSettings().setZoom(1);
        window = std::make_unique<DeviceWindow>(machine, settings, host);
        view = window->screenView();
    }
    Ports& ports() { return machine.ports; }
    // The middle of an organiser pixel in the view's coordinates.
    QPoint at(int x, int y) const {
        const double s = view->scale();
        return QPoint(static_cast<int>((x + 0.5) * s), static_cast<int>((y + 0.5) * s));
    }
    int heldButton() {
        int held = -1;
        for (int i = 0; i < OrganiserButtonCount; ++i)
            if (ports().buttonHeld(static_cast<OrganiserButton>(i)))
                held = held == -1 ? i : 99;  // 99: more than one
        return held;
    }

    NullReporter reporter;
    FixedClock clock{FixedClock::at(2026, 12, 8, 14, 3, 29)};
    Machine machine{reporter, clock};
    AppSettings settings;
    ScriptedHost host;
    std::unique_ptr<DeviceWindow> window;
    ScreenView* view = nullptr;
};

enum Button { None = -1, Addr, Todo, PgUp, Sched, Memo, PgDn };

// A menu's items as their texts, "-" for a separator.
QStringList texts(QMenu* menu) {
    QStringList list;
    for (QAction* a : menu->actions())
        list << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return list;
}

}  // namespace

TEST_F(Window, ClientAreaIsTheScreenTimesTheZoomAndTheUserCannotSizeIt) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    for (int zoom : {1, 3, 2}) {
        window->setZoom(zoom);
        const QSize want = QSize(160, 304) * view->scale();
        EXPECT_EQ(view->size(), want);
        QTest::qWait(0);
        EXPECT_EQ(window->centralWidget()->size(), want);
        if (view->devicePixelRatioF() == 1.0) {
            EXPECT_EQ(want, QSize(160 * zoom, 304 * zoom));
        }
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
    }
}

TEST_F(Window, PressesPutThePenDownOrPressOneButton) {
    struct Case {
        int x, y;
        int penX, penY, penDown;
        int button;
    } cases[] = {
        {10, 20, 10, 20, 1, None},       // display
        {159, 239, 159, 239, 1, None},   // display's last pixel
        {5, 250, 5, 250, 1, None},       // icon band: pen, not a button
        {0, 271, 0, 271, 1, None},       // last pen row
        {0, 272, 0, 271, 0, Addr},       // first button row
        {52, 287, 52, 271, 0, Addr},
        {53, 280, 53, 271, 0, Todo},
        {105, 280, 105, 271, 0, Todo},
        {106, 280, 106, 271, 0, PgUp},
        {0, 288, 0, 271, 0, Sched},
        {80, 300, 80, 271, 0, Memo},
        {159, 303, 159, 271, 0, PgDn},
    };
    for (int zoom : {1, 3}) {
        window->setZoom(zoom);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "zoom " << zoom << " at " << c.x << "," << c.y);
            QTest::mousePress(view, Qt::LeftButton, {}, at(c.x, c.y));
            EXPECT_EQ(ports().penX(), c.penX);
            EXPECT_EQ(ports().penY(), c.penY);
            EXPECT_EQ(ports().penDown(), c.penDown);
            EXPECT_EQ(heldButton(), c.button);
            QTest::mouseRelease(view, Qt::LeftButton, {}, at(c.x, c.y));
            EXPECT_EQ(ports().penDown(), 0);
            EXPECT_EQ(heldButton(), None);
        }
    }
}

// Every press, move and drag at the first and the last logical pixel of an
// organiser pixel, at the button zones' borders and beyond the pen's clamps,
// at each zoom: a mapping off by one logical pixel shows at one of the edges.
TEST_F(Window, EveryEdgeOfAZoomedPixelMapsToItsOrganiserPixel) {
    enum Edge { First, Last };
    struct Case {
        int x;
        Edge ex;
        int y;
        Edge ey;
        int penX, penY, penDown;
        int button;  // pressed here; a move or a drag here leaves the pen at penX, penY
    } cases[] = {
        {0, First, 0, First, 0, 0, 1, None},
        {159, Last, 239, Last, 159, 239, 1, None},
        {52, Last, 271, Last, 52, 271, 1, None},  // the last pen row
        {52, Last, 272, First, 52, 271, 0, Addr},
        {53, First, 272, First, 53, 271, 0, Todo},
        {105, Last, 287, Last, 105, 271, 0, Todo},
        {106, First, 287, Last, 106, 271, 0, PgUp},
        {52, Last, 288, First, 52, 271, 0, Sched},
        {53, First, 288, First, 53, 271, 0, Memo},
        {105, Last, 303, Last, 105, 271, 0, Memo},
        {106, First, 303, Last, 106, 271, 0, PgDn},
        // Beyond the picture: the pen is held at 0-159 and 0-271, the zone
        // is chosen by the unclamped position.
        {-1, Last, 100, First, 0, 100, 1, None},
        {160, First, 100, Last, 159, 100, 1, None},
        {10, First, -1, Last, 10, 0, 1, None},
        {-1, Last, 280, First, 0, 271, 0, Addr},
        {160, First, 295, Last, 159, 271, 0, PgDn},
        {60, First, 304, First, 60, 271, 0, Memo},
    };
    const auto send = [&](QEvent::Type type, QPointF position, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent event(type, position, view->mapToGlobal(position), button, held, Qt::NoModifier);
        QApplication::sendEvent(view, &event);
    };
    for (int zoom : {2, 3, 4}) {
        window->setZoom(zoom);
        const double s = view->scale();
        // The logical pixels of organiser pixel n run from ceil(n s) to ceil((n + 1) s) - 1.
        const auto edge = [&](int n, Edge e) { return e == First ? std::ceil(n * s) : std::ceil((n + 1) * s) - 1; };
        for (const Case& c : cases) {
            const QPointF p(edge(c.x, c.ex), edge(c.y, c.ey));
            SCOPED_TRACE(testing::Message() << "zoom " << zoom << " at organiser " << c.x << (c.ex == First ? "+" : "-")
                                            << "," << c.y << (c.ey == First ? "+" : "-") << " = " << p.x() << ","
                                            << p.y());
            send(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
            EXPECT_EQ(ports().penX(), c.penX);
            EXPECT_EQ(ports().penY(), c.penY);
            EXPECT_EQ(ports().penDown(), c.penDown);
            EXPECT_EQ(heldButton(), c.button);
            send(QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
            EXPECT_EQ(heldButton(), None);

            // A move there with the button up, and drags there from the
            // display and from a button: the pen goes there, nothing else changes.
            ports().movePen(80, 80);
            send(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton);
            EXPECT_EQ(QPoint(ports().penX(), ports().penY()), QPoint(c.penX, c.penY));
            EXPECT_EQ(ports().penDown(), 0);
            for (const QPoint from : {QPoint(80, 120), QPoint(20, 296)}) {
                const QPointF start = (QPointF(from) + QPointF(0.5, 0.5)) * s;
                send(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
                const int pressed = heldButton();
                send(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
                EXPECT_EQ(QPoint(ports().penX(), ports().penY()), QPoint(c.penX, c.penY));
                EXPECT_EQ(ports().penDown(), from.y() < 272 ? 1 : 0);
                EXPECT_EQ(heldButton(), pressed);
                send(QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
            }
        }
    }
}

TEST_F(Window, DragsKeepWhatThePressStarted) {
    // A button held while the mouse moves into the display: the pen follows
    // but stays up.
    QTest::mousePress(view, Qt::LeftButton, {}, at(60, 295));
    QTest::mouseMove(view, at(70, 100));
    EXPECT_EQ(heldButton(), Memo);
    EXPECT_EQ(ports().penDown(), 0);
    EXPECT_EQ(ports().penX(), 70);
    EXPECT_EQ(ports().penY(), 100);
    QTest::mouseRelease(view, Qt::LeftButton, {}, at(70, 100));

    // The pen dragged down onto the buttons stays down at row 271.
    QTest::mousePress(view, Qt::LeftButton, {}, at(30, 200));
    QTest::mouseMove(view, at(30, 300));
    EXPECT_EQ(ports().penDown(), 1);
    EXPECT_EQ(ports().penY(), 271);
    EXPECT_EQ(heldButton(), None);
    QTest::mouseRelease(view, Qt::LeftButton, {}, at(30, 300));
}

TEST_F(Window, ReleaseLetsGoOfEverythingEvenOutsideTheWindow) {
    QTest::keyPress(view, Qt::Key_A);
    QTest::keyPress(view, Qt::Key_L);
    QTest::mousePress(view, Qt::LeftButton, {}, at(20, 20));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(-40, 900));
    EXPECT_EQ(ports().penDown(), 0);
    EXPECT_EQ(heldButton(), None);
    QTest::keyRelease(view, Qt::Key_A);
    QTest::keyRelease(view, Qt::Key_L);
}

TEST_F(Window, KeysHoldTheirButtonsWhileDown) {
    const std::pair<Qt::Key, int> keys[] = {{Qt::Key_A, 0}, {Qt::Key_S, 1}, {Qt::Key_D, 2}, {Qt::Key_Z, 3},
                                            {Qt::Key_X, 4}, {Qt::Key_C, 5}, {Qt::Key_L, 6}};
    for (const auto& [key, flag] : keys) {
        QTest::keyPress(view, key, Qt::ShiftModifier);  // Shift makes no difference
        EXPECT_EQ(heldButton(), flag);
        QTest::keyRelease(view, key, Qt::ShiftModifier);
        EXPECT_EQ(heldButton(), None);
    }
    for (Qt::Key other : {Qt::Key_B, Qt::Key_1, Qt::Key_Space, Qt::Key_Up}) {
        QTest::keyPress(view, other);
        EXPECT_EQ(heldButton(), None);
        EXPECT_EQ(ports().penDown(), 0);
        QTest::keyRelease(view, other);
    }
}

TEST_F(Window, EnterClearsTheDebugMessagesAndEscapeClosesTheWindow) {
    window->debugMessages()->appendDebugText("hello\r\n");
    bool closed = false;
    QObject::connect(window.get(), &DeviceWindow::closed, [&] { closed = true; });
    window->show();
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_TRUE(window->debugMessages()->text().isEmpty());
    EXPECT_FALSE(closed);
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(Window, EscapeStillClosesAfterAMenuWasOpenedAndClosed) {
    bool closed = false;
    QObject::connect(window.get(), &DeviceWindow::closed, [&] { closed = true; });
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QMenuBar* bar = window->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(window->optionsMenu()->menuAction()).center());
    ASSERT_TRUE(waitUntil([&] { return window->optionsMenu()->isVisible(); }));
    QTest::keyClick(window->optionsMenu(), Qt::Key_Escape);
    QTest::keyClick(bar, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return !window->optionsMenu()->isVisible() && QApplication::focusWidget() == view; }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(closed);
}

TEST_F(Window, TickRepaintsOnlyAfterADisplayWrite) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QCoreApplication::processEvents();
    const int before = view->paintCount();
    for (int i = 0; i < 5; ++i) {
        window->refreshTick();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(view->paintCount(), before);

    // A pixel the machine has drawn but not yet flagged is not on the
    // screen: the window paints from the copy its tick takes.
    strip::setPixel(window->screenBits(), 7, 7, true);
    const auto pixelAt7 = [&] {
        const QImage shot = view->grab().toImage();
        const double step = view->scale() * shot.devicePixelRatio();
        const int at7 = static_cast<int>(7.5 * step);
        return shot.pixelColor(at7, at7);
    };
    EXPECT_EQ(pixelAt7(), QColor(255, 251, 240));
    machine.memory.screenChanged.store(1);
    window->refreshTick();
    EXPECT_EQ(machine.memory.screenChanged.load(), 0);
    ASSERT_TRUE(waitUntil([&] { return view->paintCount() > before; }));
    EXPECT_EQ(pixelAt7(), QColor(Qt::black));
}

TEST_F(Window, PixelsOnTheScreenAreTheScreenBitmapRightSideUp) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    // A pattern that differs in every row and column, over the display rows.
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 160; ++x)
            strip::setPixel(window->screenBits(), x, y, ((x * 7 + y * 3) % 11) < 4 || x == y);
    machine.memory.screenChanged.store(1);  // as every display write does
    window->refreshTick();
    for (int zoom : {1, 2, 3, 4}) {
        window->setZoom(zoom);
        const QImage shot = view->grab().toImage();
        const double ratio = shot.devicePixelRatio();
        const int step = static_cast<int>(view->scale() * ratio + 0.5);
        ASSERT_GE(step, zoom);
        int wrong = 0;
        for (int y = 0; y < 304; ++y)
            for (int x = 0; x < 160; ++x) {
                const bool dark = strip::pixel(window->screenBits(), x, y);
                // Every device pixel of the block, so a blurred edge shows.
                for (int dy = 0; dy < step; ++dy)
                    for (int dx = 0; dx < step; ++dx) {
                        const QColor c = shot.pixelColor(x * step + dx, y * step + dy);
                        const QColor want = dark ? QColor(0, 0, 0) : QColor(255, 251, 240);
                        wrong += c != want;
                    }
            }
        EXPECT_EQ(wrong, 0) << "zoom " << zoom;
    }
}

TEST_F(Window, WithNothingRememberedItIsOneHostPixelPerOrganiserPixel) {
    EXPECT_EQ(view->zoom(), 1);
    if (view->devicePixelRatioF() == 1.0) {
        EXPECT_EQ(view->size(), QSize(160, 304));
    }
    for (QAction* a : window->viewMenu()->actions()) {
        if (a->isCheckable()) {
            EXPECT_EQ(a->isChecked(), a->text() == QStringLiteral("Zoom &1x")) << a->text().toStdString();
        }
    }
}

TEST_F(Window, ZoomMenuResizesAndIsRemembered) {
    QAction* zoom3 = nullptr;
    for (QAction* a : window->viewMenu()->actions())
        if (a->text() == QStringLiteral("Zoom &3x"))
            zoom3 = a;
    ASSERT_NE(zoom3, nullptr);
    zoom3->trigger();
    EXPECT_EQ(view->zoom(), 3);
    EXPECT_TRUE(zoom3->isChecked());
    EXPECT_EQ(AppSettings().zoom(), 3);
}

TEST_F(Window, MenusHoldTheirItemsInOrder) {
    QStringList bar;
    for (QAction* a : window->menuBar()->actions())
        bar << a->text();
    EXPECT_EQ(bar, QStringList({"&File", "&Options", "&View", "&Help"}));
    EXPECT_EQ(texts(window->fileMenu()),
              QStringList({"&Install application...", "-", "&Save State...", "&Load State...", "&Quick Save",
                           "Quic&k Load", "&Record Session...", "-", "&Warm Restart", "&Cold Restart", "-", "E&xit"}));
    EXPECT_EQ(texts(window->optionsMenu()),
              QStringList({"Show &Debug Window", "&Clear Debug Messages", "-", "Debu&gger", "&Breakpoints...",
                           "&Memory...", "&Load Mapfile", "-", "&Forget Configuration Files"}));
    EXPECT_EQ(texts(window->viewMenu()),
              QStringList({"Zoom &1x", "Zoom &2x", "Zoom &3x", "Zoom &4x", "-", "Save &Screenshot...",
                           "&Record Screen..."}));
    EXPECT_EQ(texts(window->helpMenu()), QStringList({"&About"}));
}

TEST_F(Window, RecentEntriesStandBeforeExitNewestFirstWithTheirOwnSeparator) {
    const QString head = QStringLiteral("/") + QString(130, QLatin1Char('d')) + QLatin1Char('/');
    const QString longPath = head + QString(150, QLatin1Char('n')) + QStringLiteral("/tail.app");  // 291 characters
    const QStringList top = {"&Install application...", "-", "&Save State...", "&Load State...", "&Quick Save",
                             "Quic&k Load", "&Record Session...", "-", "&Warm Restart", "&Cold Restart", "-"};
    struct Case {
        AppSettings::RecentApps entries;
        QStringList shown;  // between the restarts' separator and Exit
    } cases[] = {
        {{}, {}},
        {{"/a/one.app", "", "", ""}, {"/a/one.app", "-"}},
        {{"", "/b.app", "", "/d.app"}, {"/b.app", "/d.app", "-"}},
        {{"/1.app", "/2.app", "/3.app", "/4.app"}, {"/1.app", "/2.app", "/3.app", "/4.app", "-"}},
        {{"/x/R&D.app", "", "", ""}, {"/x/R&&D.app", "-"}},  // "&" shown, not taken as a shortcut
        // Carriage returns are part of the name: each spelling is an entry of its own.
        {{"/r/a.app\r", "/r/a.app", "\r", "/r/\r\nb.app"}, {"/r/a.app\r", "/r/a.app", "\r", "/r/\r\nb.app", "-"}},
        {{longPath, "", "", ""},
         {longPath.left(127) + QChar(0x2026) + longPath.right(127), "-"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown.join(QLatin1Char(' ')).left(60).toStdString());
        settings.setRecentApps(c.entries);
        window->rebuildRecentMenu();
        EXPECT_EQ(texts(window->fileMenu()), top + c.shown + QStringList{"E&xit"});
    }
    // Every item installs the whole entry, also when its text is shortened.
    QStringList chosen;
    QObject::connect(window.get(), &DeviceWindow::recentAppChosen, [&](const QString& path) { chosen << path; });
    settings.setRecentApps({longPath, "", "/x/R&D.app", ""});
    window->rebuildRecentMenu();
    window->recentAction(0)->trigger();
    window->recentAction(2)->trigger();
    EXPECT_EQ(chosen, QStringList({longPath, "/x/R&D.app"}));
    EXPECT_EQ(window->recentAction(0)->text().size(), DeviceWindow::RecentTextLimit);
    chosen.clear();
    settings.setRecentApps({"/r/a.app\r", "/r/a.app", "\r", "/r/\r\nb.app"});
    window->rebuildRecentMenu();
    for (int i = 0; i < AppSettings::RecentCount; ++i)
        window->recentAction(i)->trigger();
    EXPECT_EQ(chosen, QStringList({"/r/a.app\r", "/r/a.app", "\r", "/r/\r\nb.app"}));
}

// Help > About, twice: each time a box of its own with the simulator's
// version above and the debugger's, with its picture, below; OK ends it.
TEST_F(Window, AboutShowsEachVersionInItsOwnGroupEveryTime) {
    QAction* about = window->helpMenu()->actions().value(0);
    ASSERT_NE(about, nullptr);
    for (int time = 1; time <= 2; ++time) {
        SCOPED_TRACE(testing::Message() << "shown " << time << " times");
        QString title;
        QList<QStringList> groups;  // each group's caption-free lines, "picture WxH" for a picture
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            for (QGroupBox* group : box->findChildren<QGroupBox*>()) {
                QStringList lines;
                for (QLabel* label : group->findChildren<QLabel*>())
                    lines << (label->pixmap().isNull() ? label->text()
                                                       : QStringLiteral("picture %1x%2")
                                                             .arg(label->pixmap().width())
                                                             .arg(label->pixmap().height()));
                groups << lines;
            }
            box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        about->trigger();
        EXPECT_EQ(title, QStringLiteral("about pdemu"));
        ASSERT_EQ(groups.size(), 2);
        EXPECT_EQ(groups[0].value(0), QStringLiteral("Version " PDEMU_VERSION));
        EXPECT_FALSE(groups[0].join(' ').contains(QStringLiteral("picture")));
        EXPECT_EQ(groups[1].value(0), QStringLiteral("Version 0.3b0"));
        EXPECT_TRUE(groups[1].contains(QStringLiteral("picture 52x50")));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

// Shown again after it was minimised, the window keeps its zoom (one given
// for this run, not the stored one), its picture, its menus and the keyboard.
TEST_F(Window, ShownAgainAfterMinimisingItKeepsItsZoomPictureMenusAndKeys) {
    window->setZoom(3);
    strip::setPixel(window->screenBits(), 7, 7, true);
    machine.memory.screenChanged.store(1);
    window->refreshTick();
    const auto fileItems = texts(window->fileMenu());
    for (int time = 1; time <= 2; ++time) {
        SCOPED_TRACE(testing::Message() << "shown " << time << " times");
        window->showNormal();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        EXPECT_EQ(view->zoom(), 3);
        EXPECT_EQ(window->centralWidget()->size(), QSize(160, 304) * view->scale());
        EXPECT_EQ(texts(window->fileMenu()), fileItems);
        const QImage shot = view->grab().toImage();
        const int at7 = static_cast<int>(7.5 * view->scale() * shot.devicePixelRatio());
        EXPECT_EQ(shot.pixelColor(at7, at7), QColor(Qt::black));
        ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == view; }));
        QTest::keyPress(QApplication::focusWidget(), Qt::Key_S);
        EXPECT_EQ(heldButton(), Todo);
        QTest::keyRelease(QApplication::focusWidget(), Qt::Key_S);
        window->showMinimized();
        ASSERT_TRUE(waitUntil([&] { return window->isMinimized(); }));
    }
}

TEST_F(Window, ScreenshotIsTheDisplayAsPng) {
    ScratchDir dir;
    const QString path = dir.file("shot.png");
    for (int x = 0; x < 160; ++x)
        strip::setPixel(window->screenBits(), x, 0, true);  // top row dark
    host.saveAnswers = {path};
    window->saveScreenshotChosen();
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_TRUE(host.dialogs[0].save);
    EXPECT_EQ(host.dialogs[0].filterList, QStringLiteral("PNG Images (*.png)|*.png||"));
    EXPECT_EQ(host.dialogs[0].initialName, QStringLiteral("pdemu-screen.png"));
    const auto pixels = decodeScreenPng(path.toStdString());
    ASSERT_TRUE(pixels.has_value());
    EXPECT_EQ((*pixels)[0], 0xFF);                 // the top row first
    EXPECT_EQ((*pixels)[20 * 239], 0x00);          // the display's last row is paper
    EXPECT_TRUE(host.messages.empty());

    host.saveAnswers = {dir.file("no/such/folder/shot.png")};
    window->saveScreenshotChosen();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
}

TEST(WindowOnTheDemo, PenTapIsDrawnByTheFirmwareAndPaintedByTheTick) {
    clearSettings();
    ScriptedHost host;
    ScratchDir dir;
    SimulatorApp app(host, std::make_unique<FixedClock>(FixedClock::at(2026, 12, 8, 14, 3, 29)));
    ASSERT_TRUE(app.start({QStringLiteral(PDEMU_DEMO_ROM_PATH), QString(), 1}));
    DeviceWindow* window = app.window();
    ScreenView* view = window->screenView();
    // Only what is on the screen is looked at: the bitmap itself is the
    // machine's to write while it runs.
    const auto shownDark = [&](double x, double y) {
        const QImage shot = view->grab().toImage();
        const QPoint device = (QPointF(x + 0.5, y + 0.5) * view->scale() * shot.devicePixelRatio()).toPoint();
        return shot.pixelColor(device) == QColor(Qt::black);
    };
    // The firmware has drawn its home screen once the title bar is dark.
    ASSERT_TRUE(waitUntil([&] { return shownDark(2, 2); }));
    ASSERT_FALSE(shownDark(100, 150));
    const QPoint tap = (QPointF(100.5, 150.5) * view->scale()).toPoint();
    QTest::mousePress(view, Qt::LeftButton, {}, tap);
    // The firmware marks the touched pixel; the tick paints it.
    ASSERT_TRUE(waitUntil([&] { return shownDark(100, 150); }));
    QTest::mouseRelease(view, Qt::LeftButton, {}, tap);
    app.finish();
}
