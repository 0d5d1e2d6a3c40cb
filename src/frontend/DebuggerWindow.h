// DebuggerWindow: "PdEmu Debugger V0.3B0", the user's side of the debugger
// engine: run buttons, register fields, three breakpoint fields, trace on and
// off, the address and length fields, the symbol box, the listing and the
// status line. Button presses become engine commands; what the engine shows
// arrives through the DebuggerView that ViewBridge implements, which calls
// the setters below on the user-interface thread.
//
// Created on the first openDebugger and afterwards only shown and hidden.
// Showing it switches the engine on and stops the machine; closing it
// switches the engine off, so a held machine runs on.
//
// Keys on top of the Alt accelerators: F5 Go, F9 Animate, F10 Step over,
// F11 Step into, Shift+F5 Stop, whenever the window has the focus.
#pragma once

#include <QComboBox>
#include <QPointer>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

#include "debugger/DebuggerView.h"

class AppSettings;
class DebuggerEngine;
class HexdumpWindow;
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

class DebuggerWindow : public QWidget {
    Q_OBJECT
public:
    // symbols: the program's current symbol table (may be empty or replaced
    // at any time on the user-interface thread).
    DebuggerWindow(DebuggerEngine& engine, std::unique_ptr<SymbolTable>& symbols, AppSettings& settings);
    ~DebuggerWindow() override;

    // What showing the window does: Trace off and Data checked, the engine on
    // and the machine stopped. Also after something else has switched the
    // engine off behind the open window (an installation).
    void takeUpEngine();

    // What the engine shows (user-interface thread).
    void setStatus(const QString& text);
    void setRegisterField(RegisterPair pair, const QString& text);
    void setFlagsField(const QString& text);
    void setBreakpointLabel(int n, const QString& text);
    void setBreakpointField(int n, const QString& text);
    QString breakpointField(int n) const;
    QString addressField() const;
    QString lengthField() const;
    void listingAppend(const QString& text);
    void listingClear();
    void enableRunControls(bool enabled);

    // Null until first opened.
    HexdumpWindow* hexdump() const;
    RegisterEditor* registerEditor() const;

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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void addTooltips();
    void addKeys();
    void refillSymbolBox();
    void copySymbolAddress(int index);
    void hexdumpChosen();
    void regChosen();

    DebuggerEngine& engine;
    std::unique_ptr<SymbolTable>& symbols;
    AppSettings& settings;

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
    friend class HexdumpWindow;
};
