// StateCommands: the File menu's whole-machine states and recorded sessions.
//
// Save State... and Load State... go through the file dialogs; four quick
// slots save with Ctrl+Shift+1..4 and load with Ctrl+1..4 (the organiser's
// keys are letters, Return and Escape, and the debugger window keeps the
// F-keys, so digits with Ctrl clash with neither). A slot is a state file
// beside the save file, its name with ".slotN.state" appended; without a save
// file it lives in the user's data folder, named after the ROM image.
//
// Record Session... asks for the file first and starts recording; the item
// then reads Stop Recording, which ends it and writes the file. A write that
// fails is reported and another name is asked for until one works or the
// user cancels, so a recording is never dropped without the user choosing
// to. While it records, the commands that would put the machine somewhere
// no recorded outside value explains (Load State, the quick loads, and the
// window's restarts and installations) are disabled: recordingChanged says
// when.
//
// Every command runs on the user-interface thread; the machine handles a
// running, parked or debugger-held emulation thread itself, and a refused
// file leaves it as it was.
#pragma once

#include <QObject>
#include <QString>
#include <array>

class HostServices;
class Machine;
class QAction;
class QMenu;
class QWidget;

class StateCommands : public QObject {
    Q_OBJECT
public:
    static constexpr int QuickSlots = 4;

    StateCommands(Machine& machine, HostServices& host, QWidget* owner);

    // Puts the items into menu in front of before (a separator follows them).
    void addTo(QMenu* menu, QAction* before);

    QAction* saveAction() const { return saveItem; }
    QAction* loadAction() const { return loadItem; }
    QAction* recordAction() const { return recordItem; }
    // Slots 1 to 4.
    QAction* quickSaveAction(int slot) const { return quickSaveItems[slot - 1]; }
    QAction* quickLoadAction(int slot) const { return quickLoadItems[slot - 1]; }

    // The file of a quick slot (1-4) for a save file and ROM image. An empty
    // string when there is no save file and no data folder to use.
    static QString quickSlotPath(const QString& saveFile, const QString& romFile, int slot);

    void saveStateChosen();
    void loadStateChosen();
    void quickSave(int slot);
    void quickLoad(int slot);
    // Record Session... or Stop Recording, whichever the item says.
    void recordChosen();
    // Ends a recording that runs and writes its file (the window is closing).
    void finishRecording();
    bool recording() const { return !sessionPath.isEmpty(); }

    static const char* const stateFilter;
    static const char* const sessionFilter;
    // The hidden end-of-recording hook: when this environment variable names
    // a file, Stop Recording also writes the machine as the recording left
    // it there, so a replay can be compared with it.
    static const char* const endStateVariable;

signals:
    void recordingChanged(bool on);

private:
    void startRecording();
    void stopRecording();
    QString slotPath(int slot) const;
    void report(const std::string& problem);

    Machine& machine;
    HostServices& host;
    QWidget* owner;
    QString sessionPath;  // the file being recorded into; empty when not recording
    QAction* saveItem = nullptr;
    QAction* loadItem = nullptr;
    QAction* recordItem = nullptr;
    QMenu* quickSaveMenu = nullptr;
    QMenu* quickLoadMenu = nullptr;
    std::array<QAction*, QuickSlots> quickSaveItems{};
    std::array<QAction*, QuickSlots> quickLoadItems{};
};
