// HexdumpWindow: "pdemu's HexDump :-)", the lines of the engine's hexdump
// (made on the emulation thread while the machine is held, delivered through
// the debugger's view). Emptied every time it is shown after being hidden;
// dumps made while it stays open follow one another. Resizable; remembers
// where the user left it.
#pragma once

#include <QDialog>

class AppSettings;
class QPlainTextEdit;

class HexdumpWindow : public QDialog {
    Q_OBJECT
public:
    HexdumpWindow(QWidget* owner, AppSettings& settings);

    // One line; the pane adds the line end.
    void appendDumpLine(const QString& line);
    QString text() const;

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    AppSettings& settings;
    QPlainTextEdit* pane;
    bool placed = false;
};
