// MemoryWindow: "Memory", a live hex and character grid of the held machine
// (16 rows of 16 bytes) and the 16 words on its stack.
//
// What is shown: Z80 addresses under the current mapping, or one flash page
// (00-BF) or RAM page (00-07) by offset 0000-3FFF. The address field takes
// an expression (C000, HL, w@SP+2, a symbol; Expression.h), evaluated at
// every stop: the row holding its value is the fifth, so a few rows before
// it stay in view, and that byte is bold ("follow"). PageUp/PageDown, the
// arrow keys at the grid's edge and the wheel move the view until the next
// stop re-centres it. An empty field is 0000.
//
// A byte is red when it differs from what the window read there at the
// previous stop (at any place it was scrolled to), or from what it first
// read there at this stop (a byte typed in): it changed since the previous
// stop.
// Typing two hex digits on a byte (or one and Enter) writes it while the
// machine is held and moves on to the next byte; while it runs the write is
// refused in the status line and the grid keeps its last contents, marked
// there as not live.
//
// Read when shown, when the view changes and whenever the debugger window
// says the engine has shown something (an instruction, a status, the run
// controls): only a held machine can be read, and the engine says so itself
// (peekHeld), so no state is guessed here. Uses only the engine's public
// commands; none waits for the emulation thread.
#pragma once

#include <QDialog>
#include <QTimer>
#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "debugger/DebuggerEngine.h"
#include "debugger/Expression.h"

class AppSettings;
class DebuggerWindow;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;
class QTableWidgetItem;

class MemoryWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int Rows = 16;
    static constexpr int RowBytes = 16;
    static constexpr int Bytes = Rows * RowBytes;
    static constexpr int RowsBefore = 4;  // rows shown above the followed one
    static constexpr int StackWords = 16;
    static constexpr int CharColumn = RowBytes;

    MemoryWindow(DebuggerEngine& engine, DebuggerWindow& debugger, AppSettings& settings);

    // Reads the held machine again (or marks the contents as not live).
    void refresh();

    QLineEdit* addressField() const { return address; }
    QComboBox* spaceBox() const { return spaceChoice; }
    QSpinBox* pageBox() const { return page; }
    QTableWidget* grid() const { return bytes; }
    QTableWidget* stack() const { return stackWords; }
    QLabel* statusLine() const { return status; }
    // The cell of the byte at address when it is in view, else nullptr.
    QTableWidgetItem* byteItem(uint32_t address) const;
    // The grid's first address, and the followed address as last evaluated.
    uint32_t firstAddress() const { return shown.base; }
    uint32_t followedAddress() const { return followed; }
    // The contents come from the machine as it is held now.
    bool live() const { return isLive; }
    // The engine's hold count when the grid was last read.
    uint32_t shownHold() const { return shown.hold; }

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Snapshot {
        bool valid = false;
        DebuggerEngine::Space space = DebuggerEngine::Space::Z80;
        int page = 0;
        uint32_t base = 0;
        uint32_t hold = 0;
        std::array<uint8_t, Bytes> bytes{};
        // The byte this snapshot holds for address, if it covers it.
        std::optional<uint8_t> at(DebuggerEngine::Space s, int p, uint32_t address, uint32_t mask) const;
    };

    DebuggerEngine::Space space() const;
    uint32_t mask() const;       // of the addresses of the chosen space
    uint32_t shownMask() const;  // of those the grid shows
    void addressEntered();
    void spaceChosen();
    void scrollRows(int rows);
    void byteEdited(QTableWidgetItem* item);
    void typedOnward();
    void showGrid();
    void showStack(uint16_t sp, const uint8_t* words);
    void showNotLive();

    DebuggerEngine& engine;
    DebuggerWindow& debugger;
    AppSettings& settings;
    QComboBox* spaceChoice;
    QSpinBox* page;
    QLineEdit* address;
    QTableWidget* bytes;
    QTableWidget* stackWords;
    QLabel* status;
    QTimer again;  // a read that a new stop overtook is made once more

    std::optional<Expression> follow;  // parsed; bound to the current symbols at every read
    int scroll = 0;                    // rows moved from the followed place since the stop
    uint32_t followed = 0;
    Snapshot shown;
    // Bytes by place (key) as first read at this stop and at the stop
    // before the window read last (normally the previous one).
    static uint32_t key(DebuggerEngine::Space space, int page, uint32_t address);
    std::unordered_map<uint32_t, uint8_t> readThisStop;
    std::unordered_map<uint32_t, uint8_t> readLastStop;
    uint32_t readHold = 0;
    bool isLive = false;
    bool updating = false;
    bool writeDone = false;
    bool placed = false;
};
