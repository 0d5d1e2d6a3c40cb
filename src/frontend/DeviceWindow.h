// DeviceWindow: the simulator's main window. It owns the screen bitmap that
// the machine draws into (created before the machine starts, freed after it
// has stopped), shows it through the ScreenView with the button strip below,
// and carries the menu bar.
//
// The File menu lists the recently installed applications (settings group
// "MRU") between the restarts and Exit; rebuildRecentMenu puts them there
// from the settings, at creation and after every installation. Choosing one,
// Install application..., Load Mapfile and dropping files on the window only
// signal: SimulatorApp runs the installation and the symbol loading, which
// need the machine's message reporter. The states, quick slots and session
// recording between Install and the restarts are StateCommands'; while a
// session records, the title says so and the restarts and installations are
// disabled.
//
// View > Record Screen... (ScreenRecordCommand) records what the window
// shows as an animated PNG: each picture the tick takes is offered to it.
// Closing the window, and so quitting, ends that recording and its file.
//
// refreshTick runs every 50 ms on the user-interface thread: it repaints
// after the machine has flagged a display write, moves the print trap's
// waiting lines into the debug message window, and serves the break trap's
// request to open the debugger (once a debugger window is attached with
// setDebuggerOpener). Nothing else of the machine is polled, and the machine
// never calls into the window.
//
// Every command here runs on the user-interface thread; the restarts wait for
// the emulation thread's park only (the debugger lets it pass), the flush not
// at all.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QTimer>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>

#include "machine/MemoryMap.h"

class AppSettings;
class DebugMessageWindow;
class HostServices;
class Machine;
class QAction;
class QActionGroup;
class QMenu;
class ScreenRecordCommand;
class ScreenView;
class StateCommands;

class DeviceWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int TickMs = 50;

    // Creates the bitmap (all paper-white but for the strip) and points the
    // machine's screenBits at it. The machine must not be running yet.
    DeviceWindow(Machine& machine, AppSettings& settings, HostServices& host);
    ~DeviceWindow() override;

    uint8_t* screenBits() { return screen.get(); }
    ScreenView* screenView() const { return view; }
    DebugMessageWindow* debugMessages() const { return messages; }
    QMenu* fileMenu() const { return menuFile; }
    QMenu* optionsMenu() const { return menuOptions; }
    QMenu* viewMenu() const { return menuView; }
    QMenu* helpMenu() const { return menuHelp; }
    QAction* installAction() const { return installItem; }
    QAction* exitAction() const { return exitItem; }
    QAction* loadMapfileAction() const { return loadMapfileItem; }
    QAction* breakpointsAction() const { return breakpointsItem; }
    QAction* memoryAction() const { return memoryItem; }
    QAction* warmRestartAction() const { return warmItem; }
    QAction* coldRestartAction() const { return coldItem; }
    // Save and Load State, the quick slots and Record Session.
    StateCommands* stateCommands() const { return states; }
    // View > Record Screen... / Stop Recording.
    ScreenRecordCommand* screenRecordCommand() const { return screenRecorder; }
    // The item of recent position 0-3 (in the menu only while that entry is set).
    QAction* recentAction(int position) const { return recentItems[position]; }

    // Takes the four recent entries out of the File menu and puts the
    // non-empty ones back before "E&xit", newest first, with a separator
    // after them when there is at least one. An entry longer than
    // RecentTextLimit characters is shown shortened in its middle; choosing
    // it still installs the whole path.
    void rebuildRecentMenu();
    static constexpr int RecentTextLimit = 255;

    void setZoom(int zoom);

    // Called by refreshTick when the break trap asks for the debugger: it
    // opens the debugger window and gives the engine's Stop.
    void setDebuggerOpener(std::function<void()> opener) { debuggerOpener = std::move(opener); }

    // The timer's work; public so tests can run a tick without waiting 50 ms.
    void refreshTick();
    // Moves the waiting print-trap lines into the debug message window.
    void flushDebugLines();

signals:
    // The user chose Forget Configuration Files.
    void forgetConfigurationChosen();
    // The user chose Debugger, Breakpoints... or Memory....
    void debuggerChosen();
    void breakpointsChosen();
    void memoryChosen();
    void installApplicationChosen();
    void loadMapfileChosen();
    // A recent entry: the full path it stands for.
    void recentAppChosen(const QString& path);
    // Files dropped on the window, in the order given. Signalled after the
    // drop has completed, so the program that dragged them is not kept
    // waiting behind an installation or a message box.
    void filesDropped(const QList<QUrl>& urls);
    // The window has closed (Exit, close box, Escape, SIGTERM): the program ends.
    void closed();

public slots:
    void warmRestartChosen();
    void coldRestartChosen();
    void exitChosen();
    void showDebugWindowChosen();
    void clearDebugMessagesChosen();
    void aboutChosen();
    void saveScreenshotChosen();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    void keepKeyboardAfter(QMenu* menu);
    // While a session records, what would move the machine outside it is disabled.
    void showRecording(bool on);
    // The title says what is being recorded.
    void updateTitle();

    Machine& machine;
    AppSettings& settings;
    HostServices& host;
    std::unique_ptr<uint8_t[]> screen;
    ScreenView* view = nullptr;
    DebugMessageWindow* messages = nullptr;
    QTimer tickTimer;
    bool timerBusy = false;
    bool screenWatched = false;
    std::function<void()> debuggerOpener;

    QMenu* menuFile = nullptr;
    QMenu* menuOptions = nullptr;
    QMenu* menuView = nullptr;
    QMenu* menuHelp = nullptr;
    QActionGroup* zoomActions = nullptr;
    QAction* installItem = nullptr;
    QAction* exitItem = nullptr;
    QAction* loadMapfileItem = nullptr;
    QAction* breakpointsItem = nullptr;
    QAction* memoryItem = nullptr;
    QAction* warmItem = nullptr;
    QAction* coldItem = nullptr;
    StateCommands* states = nullptr;
    ScreenRecordCommand* screenRecorder = nullptr;
    std::array<QAction*, 4> recentItems{};
    QAction* recentSeparator = nullptr;
};
