// DebuggerWindow: "PdEmu Debugger V0.3B0", the user's side of the debugger
// engine: run buttons, register fields, three breakpoint fields, trace on and
// off, the address and length fields, the symbol box, the listing and the
// status line. Button presses become engine commands; what the engine shows
// arrives through its DebuggerView operations, which the program's
// ViewQueue calls on the user-interface thread, never from inside the engine.
// Every edit of a breakpoint, address or length field goes to the queue's
// field texts at once, which is what the engine reads.
//
// Created on the first openDebugger and afterwards only shown and hidden.
// Showing it switches the engine on and stops the machine; closing it
// switches the engine off, so a held machine runs on. The window manager
// showing it again (restored from an icon) is no new opening.
//
// Keys on top of the Alt accelerators: F5 Go, F9 Animate, F10 Step over,
// F11 Step into, Shift+F5 Stop, whenever the window has the focus; Ctrl+B
// opens the Breakpoints window and Ctrl+M the Memory window (from either
// of them too).
//
// Beside the engine's view it gives three signals: the lines of log points
// (for the debug message window), the points having changed or counted
// hits, and the engine having shown something that may mean a newly held
// machine. All three are coalesced, so a flood of log hits or an Animate
// costs one text insert, one list read and one grid read per batch, not one
// per instruction.
#pragma once

#include <QComboBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

#include "debugger/DebuggerView.h"
#include "debugger/ViewQueue.h"

class AppSettings;
class BreakpointsWindow;
class DebuggerEngine;
class HexdumpWindow;
class HostServices;
class MemoryWindow;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class RegisterEditor;
class SymbolTable;

// A drop-down list that says when it is about to open.
class SymbolBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;
signals:
    void aboutToOpen();
};

class DebuggerWindow : public QWidget, public DebuggerView {
    Q_OBJECT
public:
    // symbols: the program's current symbol table (may be empty or replaced
    // at any time on the user-interface thread). The window is the queue's
    // target for its whole life.
    DebuggerWindow(DebuggerEngine& engine, ViewQueue& queue, std::unique_ptr<SymbolTable>& symbols,
                   AppSettings& settings, HostServices& host);
    ~DebuggerWindow() override;

    // What showing the window does: Trace off and Data checked, the engine on
    // and the machine stopped. Also after something else has switched the
    // engine off behind the open window (an installation).
    void takeUpEngine();

    // What the engine shows (user-interface thread, from the ViewQueue).
    void setStatus(std::string_view text) override;
    void setRegisterField(RegisterPair pair, std::string_view text) override;
    void setFlagsField(std::string_view text) override;
    void setBreakpointLabel(int n, std::string_view text) override;
    void setBreakpointField(int n, std::string_view text) override;
    std::string getBreakpointField(int n) override;
    std::string getAddressField() override;
    std::string getLengthField() override;
    void listingAppend(std::string_view text) override;
    void listingClear() override;
    void enableRunControls(bool enabled) override;
    void processPendingPaint() override {}
    void appendDumpLine(std::string_view line) override;
    void appendLog(std::string_view text) override;
    void pointsChanged() override;

    // Everything the engine has said so far is on the screen.
    bool caughtUp() const { return !queue.showingBehind(); }

    // Null until first opened.
    HexdumpWindow* hexdump() const;
    RegisterEditor* registerEditor() const;
    BreakpointsWindow* breakpoints() const;
    MemoryWindow* memory() const;

    // A refused step back or reverse go says why on the status line.
    void showRefusal(const std::string& problem);

    // Create the window the first time, show and raise it.
    void openBreakpoints();
    void openMemory();

    // The program's current symbol table, or null.
    const SymbolTable* symbolTable() const { return symbols.get(); }

    // The controls, for tests and tooltips.
    QPushButton* button(const char* objectName) const;
    QLineEdit* field(const char* objectName) const;
    QComboBox* symbolBox() const { return symbols_; }
    QPlainTextEdit* listing() const { return listing_; }
    QLabel* statusLine() const { return status; }
    QLabel* breakpointLabel(int n) const { return breakLabels[n - 1]; }
    QRadioButton* radio(const char* objectName) const;
    // runControls in their order.
    const std::vector<QWidget*>& runControls() const { return runControlList; }

    static const char* const Caption;

signals:
    // The texts of log points since the last time, each ending in a line break.
    void logLines(const QString& text);
    // Points were added, changed or deleted, or may have counted hits.
    void pointListChanged();
    // The engine showed an instruction, a status or the run controls: a held
    // machine may now be read.
    void machineShown();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void addTooltips();
    void addKeys();
    // Ctrl+B and Ctrl+M on window.
    void addWindowKeys(QWidget* window);
    void refillSymbolBox();
    void copySymbolAddress(int index);
    void hexdumpChosen();
    void regChosen();
    // Keeps the queue's text of field current on every edit of edit.
    void mirror(QLineEdit* edit, ViewQueue::Field field);

    DebuggerEngine& engine;
    ViewQueue& queue;
    std::unique_ptr<SymbolTable>& symbols;
    AppSettings& settings;
    HostServices& host;

    std::array<QLineEdit*, 8> registerFields{};  // by RegisterPair
    QLineEdit* flags = nullptr;
    std::array<QLineEdit*, 3> breakFields{};
    std::array<QLabel*, 3> breakLabels{};
    QLineEdit* address = nullptr;
    QLineEdit* length = nullptr;
    SymbolBox* symbols_ = nullptr;
    QPlainTextEdit* listing_ = nullptr;
    QLabel* status = nullptr;
    QRadioButton* dataRadio = nullptr;
    QRadioButton* functionsRadio = nullptr;
    QRadioButton* traceOff = nullptr;
    QRadioButton* traceOn = nullptr;
    std::vector<QWidget*> runControlList;

    bool dataMode = true;
    bool hexdumpWindowCreated = false;
    bool placed = false;
    QPointer<HexdumpWindow> hexdumpWindow;
    QPointer<RegisterEditor> editor;
    QPointer<BreakpointsWindow> breakpointsWindow;
    QPointer<MemoryWindow> memoryWindow;
    QTimer pointsTimer;
    QTimer shownTimer;
    QTimer logTimer;
    QString pendingLog;
    friend class HexdumpWindow;
};
