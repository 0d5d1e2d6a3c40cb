// BreakpointsWindow: "Breakpoints", the debugger's numbered points (exec,
// write, read, access, out, in; the syntax of PointSyntax.h) beside the three
// breakpoint fields of the debugger window.
//
// The entry line takes one point as text; Enter or Add hands it to the engine
// with the debugger window's current symbol table. A refused line stays in
// the entry and the engine's reason goes to the status line (no box: a typo
// is not worth a dialog). The list shows every point with its counted hits
// ("7", or "7 (every 5)" for a hits clause: it fires each time the count
// reaches a multiple of 5), an On checkbox (Space toggles the selected
// points) and the text of a log point. Delete removes the selected points.
// Clicking or activating an exec point copies its address into the
// debugger window's "Adr." field, ready for Disassemble.
//
// The list is read from the engine when shown and whenever the debugger
// window says the points changed (coalesced there). Only the engine's public
// commands are used; none waits for the emulation thread.
#pragma once

#include <QDialog>

class AppSettings;
class DebuggerEngine;
class DebuggerWindow;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class BreakpointsWindow : public QDialog {
    Q_OBJECT
public:
    enum Column { Number, Kind, Where, Condition, Hits, On, Log, ColumnCount };

    BreakpointsWindow(DebuggerEngine& engine, DebuggerWindow& debugger, AppSettings& settings);

    // Reads the points again, keeping the selection (and, while the same
    // points are listed, the rows themselves).
    void refresh();

    QLineEdit* entry() const { return entry_; }
    QTreeWidget* list() const { return list_; }
    QLabel* statusLine() const { return status; }
    QPushButton* addButton() const { return add; }
    QPushButton* deleteButton() const { return remove; }
    // The row of point number, or nullptr.
    QTreeWidgetItem* itemOf(int number) const;

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addEntered();
    void deleteSelected();
    void toggleSelected();
    void checkChanged(QTreeWidgetItem* item, int column);
    void pointChosen(QTreeWidgetItem* item);

    DebuggerEngine& engine;
    DebuggerWindow& debugger;
    AppSettings& settings;
    QLineEdit* entry_;
    QPushButton* add;
    QPushButton* remove;
    QTreeWidget* list_;
    QLabel* status;
    bool updating = false;
    bool placed = false;
};
