// DeviceWindow: the main window, its tick and its commands (see DeviceWindow.h).
#include "frontend/DeviceWindow.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLayout>
#include <QMimeData>
#include <QMenu>
#include <QMenuBar>
#include <QWindow>
#include <cstring>

#include "frontend/AboutBox.h"
#include "frontend/AppSettings.h"
#include "frontend/ButtonStrip.h"
#include "frontend/DebugMessageWindow.h"
#include "frontend/HostServices.h"
#include "frontend/Pictures.h"
#include "frontend/ScreenRecordCommand.h"
#include "frontend/ScreenView.h"
#include "frontend/StateCommands.h"
#include "frontend/TextLimit.h"
#include "machine/Machine.h"
#include "machine/ScreenPng.h"

DeviceWindow::DeviceWindow(Machine& machine, AppSettings& settings, HostServices& host)
    : machine(machine), settings(settings), host(host), screen(new uint8_t[MemoryMap::ScreenBytes]()) {
    machine.memory.screenBits = screen.get();
    strip::drawButtonStrip(screen.get());

    setWindowTitle(QStringLiteral("pdemu"));
    setWindowIcon(programIcon());
    view = new ScreenView(machine.memory, machine.ports, this);
    setCentralWidget(view);
    setFocusProxy(view);
    // The window is exactly the screen plus the menu bar, and the user cannot
    // size it (the zoom menu does).
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    messages = new DebugMessageWindow(this);
    buildMenus();
    rebuildRecentMenu();
    setZoom(settings.zoom());
    setAcceptDrops(true);

    connect(view, &ScreenView::enterPressed, this, &DeviceWindow::clearDebugMessagesChosen);
    connect(view, &ScreenView::escapePressed, this, &DeviceWindow::close);
    connect(&tickTimer, &QTimer::timeout, this, &DeviceWindow::refreshTick);
    tickTimer.start(TickMs);
}

DeviceWindow::~DeviceWindow() {
    tickTimer.stop();
    screenRecorder->finish();  // while the picture it takes still exists
    machine.memory.screenBits = nullptr;
}

void DeviceWindow::buildMenus() {
    menuFile = menuBar()->addMenu(QStringLiteral("&File"));
    installItem = menuFile->addAction(QStringLiteral("&Install application..."), this,
                                      &DeviceWindow::installApplicationChosen);
    menuFile->addSeparator();
    warmItem = menuFile->addAction(QStringLiteral("&Warm Restart"), this, &DeviceWindow::warmRestartChosen);
    coldItem = menuFile->addAction(QStringLiteral("&Cold Restart"), this, &DeviceWindow::coldRestartChosen);
    states = new StateCommands(machine, host, this);
    states->addTo(menuFile, warmItem);
    connect(states, &StateCommands::recordingChanged, this, &DeviceWindow::showRecording);
    menuFile->addSeparator();
    exitItem = menuFile->addAction(QStringLiteral("E&xit"), this, &DeviceWindow::exitChosen);
    // A shortened recent entry shows its whole path as the item's tooltip.
    menuFile->setToolTipsVisible(true);
    // One fixed item per recent position, in the menu only while its entry is set.
    for (QAction*& item : recentItems) {
        item = new QAction(this);
        connect(item, &QAction::triggered, this, [this, item] { emit recentAppChosen(item->data().toString()); });
    }
    recentSeparator = new QAction(this);
    recentSeparator->setSeparator(true);

    menuOptions = menuBar()->addMenu(QStringLiteral("&Options"));
    menuOptions->addAction(QStringLiteral("Show &Debug Window"), this, &DeviceWindow::showDebugWindowChosen);
    menuOptions->addAction(QStringLiteral("&Clear Debug Messages"), this, &DeviceWindow::clearDebugMessagesChosen);
    menuOptions->addSeparator();
    menuOptions->addAction(QStringLiteral("Debu&gger"), this, &DeviceWindow::debuggerChosen);
    breakpointsItem =
        menuOptions->addAction(QStringLiteral("&Breakpoints..."), this, &DeviceWindow::breakpointsChosen);
    memoryItem = menuOptions->addAction(QStringLiteral("&Memory..."), this, &DeviceWindow::memoryChosen);
    loadMapfileItem =
        menuOptions->addAction(QStringLiteral("&Load Mapfile"), this, &DeviceWindow::loadMapfileChosen);
    menuOptions->addSeparator();
    menuOptions->addAction(QStringLiteral("&Forget Configuration Files"), this,
                           &DeviceWindow::forgetConfigurationChosen);

    menuView = menuBar()->addMenu(QStringLiteral("&View"));
    zoomActions = new QActionGroup(this);
    for (int zoom = 1; zoom <= 4; ++zoom) {
        QAction* action = menuView->addAction(QStringLiteral("Zoom &%1x").arg(zoom));
        action->setCheckable(true);
        action->setData(zoom);
        zoomActions->addAction(action);
        connect(action, &QAction::triggered, this, [this, zoom] {
            setZoom(zoom);
            settings.setZoom(zoom);
        });
    }
    menuView->addSeparator();
    menuView->addAction(QStringLiteral("Save &Screenshot..."), this, &DeviceWindow::saveScreenshotChosen);
    screenRecorder = new ScreenRecordCommand(host, this, [this] { return view->frame(); });
    menuView->addAction(screenRecorder->action());
    connect(screenRecorder, &ScreenRecordCommand::recordingChanged, this, &DeviceWindow::updateTitle);

    menuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    menuHelp->addAction(QStringLiteral("&About"), this, &DeviceWindow::aboutChosen);

    for (QMenu* menu : {menuFile, menuOptions, menuView, menuHelp})
        keepKeyboardAfter(menu);
}

void DeviceWindow::rebuildRecentMenu() {
    for (QAction* item : recentItems)
        menuFile->removeAction(item);
    menuFile->removeAction(recentSeparator);
    const AppSettings::RecentApps entries = settings.recentApps();
    bool any = false;
    for (int i = 0; i < AppSettings::RecentCount; ++i) {
        if (entries[i].isEmpty())
            continue;
        QAction* item = recentItems[i];
        item->setData(entries[i]);
        // "&" would be taken for a shortcut marker and vanish from the text.
        item->setText(elideMiddle(entries[i], RecentTextLimit).replace(QLatin1Char('&'), QStringLiteral("&&")));
        item->setToolTip(entries[i]);
        menuFile->insertAction(exitItem, item);
        any = true;
    }
    if (any)
        menuFile->insertAction(exitItem, recentSeparator);
}

// After a menu closes the menu bar would keep the keyboard and swallow the
// organiser's keys and Escape; give it back to the screen.
void DeviceWindow::keepKeyboardAfter(QMenu* menu) {
    connect(menu, &QMenu::aboutToHide, this, [this] { QTimer::singleShot(0, view, [this] { view->setFocus(); }); });
}

void DeviceWindow::updateTitle() {
    const bool session = states->recording();
    const bool screenToo = screenRecorder->recording();
    if (session && screenToo)
        setWindowTitle(QStringLiteral("pdemu (recording the session and the screen)"));
    else if (session)
        setWindowTitle(QStringLiteral("pdemu (recording)"));
    else if (screenToo)
        setWindowTitle(QStringLiteral("pdemu (recording the screen)"));
    else
        setWindowTitle(QStringLiteral("pdemu"));
}

void DeviceWindow::showRecording(bool on) {
    updateTitle();
    for (QAction* item : {installItem, warmItem, coldItem})
        item->setEnabled(!on);
    for (QAction* item : recentItems)
        item->setEnabled(!on);
}

void DeviceWindow::setZoom(int zoom) {
    view->setZoom(zoom);
    for (QAction* action : zoomActions->actions())
        action->setChecked(action->data().toInt() == view->zoom());
}

void DeviceWindow::refreshTick() {
    if (timerBusy)
        return;  // a tick nested inside this one (a dialog's event loop)
    timerBusy = true;
    // Cleared before the repaint is asked for: a write after the clear sets it
    // again and is painted by a later tick.
    if (machine.memory.screenChanged.exchange(0, std::memory_order_acq_rel) != 0) {
        view->takeFrame();
        view->update();
        if (screenRecorder->recording())
            screenRecorder->frameShown();
    }
    if (machine.hasDebugText())
        flushDebugLines();
    if (debuggerOpener && machine.debugger.openRequested())
        debuggerOpener();
    timerBusy = false;
}

void DeviceWindow::flushDebugLines() {
    // Never waits for the emulation thread (see takeDebugLines).
    for (const std::string& line : machine.takeDebugLines())
        messages->appendDebugText(line);
}

void DeviceWindow::warmRestartChosen() { machine.warmRestart(); }
void DeviceWindow::coldRestartChosen() { machine.coldRestart(); }
void DeviceWindow::exitChosen() { close(); }

void DeviceWindow::showDebugWindowChosen() {
    messages->show();
    messages->raise();
}

void DeviceWindow::clearDebugMessagesChosen() { messages->clearDebugText(); }

void DeviceWindow::aboutChosen() {
    AboutBox box(this);
    box.exec();
}

void DeviceWindow::saveScreenshotChosen() {
    const QString path = host.saveFileDialog(this, QStringLiteral("PNG Images (*.png)|*.png||"),
                                             QStringLiteral("pdemu-screen.png"));
    if (path.isEmpty())
        return;
    uint8_t shot[MemoryMap::ScreenBytes];
    machine.memory.copyScreen(shot);  // the machine may be drawing meanwhile
    if (!writeScreenPng(path.toStdString(), shot))
        host.messageBox(this, MessageIcon::Warning, QStringLiteral("Cannot write the screenshot '%1'.").arg(path));
}

void DeviceWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Another screen may have another scale: snap the picture again.
    if (QWindow* handle = windowHandle(); handle != nullptr && !screenWatched) {
        screenWatched = true;
        connect(handle, &QWindow::screenChanged, this, [this] { setZoom(view->zoom()); });
    }
}

void DeviceWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void DeviceWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void DeviceWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty())
        return;
    event->acceptProposedAction();
    QMetaObject::invokeMethod(this, [this, urls] { emit filesDropped(urls); }, Qt::QueuedConnection);
}

void DeviceWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    // The machine still runs: a recording ends here and keeps what it took.
    states->finishRecording();
    screenRecorder->finish();
    messages->hide();
    emit closed();
}
