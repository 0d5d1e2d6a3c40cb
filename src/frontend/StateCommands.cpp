// StateCommands: states and sessions from the File menu (see StateCommands.h).
#include "frontend/StateCommands.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>
#include <QWidget>

#include "frontend/HostServices.h"
#include "machine/Machine.h"
#include "machine/StateFile.h"

const char* const StateCommands::stateFilter = "State Files (*.state)|*.state||";
const char* const StateCommands::sessionFilter = "Session Files (*.session)|*.session||";
const char* const StateCommands::endStateVariable = "PDEMU_SESSION_END_STATE";

StateCommands::StateCommands(Machine& machine, HostServices& host, QWidget* owner)
    : QObject(owner), machine(machine), host(host), owner(owner) {
    saveItem = new QAction(QStringLiteral("&Save State..."), this);
    connect(saveItem, &QAction::triggered, this, &StateCommands::saveStateChosen);
    loadItem = new QAction(QStringLiteral("&Load State..."), this);
    connect(loadItem, &QAction::triggered, this, &StateCommands::loadStateChosen);
    recordItem = new QAction(QStringLiteral("&Record Session..."), this);
    connect(recordItem, &QAction::triggered, this, &StateCommands::recordChosen);
    for (int slot = 1; slot <= QuickSlots; ++slot) {
        const auto digit = static_cast<Qt::Key>(Qt::Key_0 + slot);
        QAction* save = new QAction(QStringLiteral("Slot &%1").arg(slot), this);
        save->setShortcut(QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, digit));
        connect(save, &QAction::triggered, this, [this, slot] { quickSave(slot); });
        QAction* load = new QAction(QStringLiteral("Slot &%1").arg(slot), this);
        load->setShortcut(QKeyCombination(Qt::ControlModifier, digit));
        connect(load, &QAction::triggered, this, [this, slot] { quickLoad(slot); });
        quickSaveItems[slot - 1] = save;
        quickLoadItems[slot - 1] = load;
        // On the window as well: the keys work whether or not the submenus were ever opened.
        owner->addAction(save);
        owner->addAction(load);
    }
}

void StateCommands::addTo(QMenu* menu, QAction* before) {
    menu->insertAction(before, saveItem);
    menu->insertAction(before, loadItem);
    quickSaveMenu = new QMenu(QStringLiteral("&Quick Save"), menu);
    quickLoadMenu = new QMenu(QStringLiteral("Quic&k Load"), menu);
    for (int slot = 1; slot <= QuickSlots; ++slot) {
        quickSaveMenu->addAction(quickSaveAction(slot));
        quickLoadMenu->addAction(quickLoadAction(slot));
    }
    menu->insertMenu(before, quickSaveMenu);
    menu->insertMenu(before, quickLoadMenu);
    menu->insertAction(before, recordItem);
    menu->insertSeparator(before);
}

QString StateCommands::quickSlotPath(const QString& saveFile, const QString& romFile, int slot) {
    const QString suffix = QStringLiteral(".slot%1.state").arg(slot);
    if (!saveFile.isEmpty())
        return saveFile + suffix;
    // No save file (--save ""): one set of slots per ROM in the user's data folder.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty())
        return {};
    return QDir(folder).filePath(QFileInfo(romFile).completeBaseName() + suffix);
}

QString StateCommands::slotPath(int slot) const {
    return quickSlotPath(QFile::decodeName(machine.flashSavePath.c_str()),
                         QFile::decodeName(machine.romImagePath.c_str()), slot);
}

void StateCommands::report(const std::string& problem) {
    if (!problem.empty())
        host.messageBox(owner, MessageIcon::Warning, QString::fromStdString(problem));
}

void StateCommands::saveStateChosen() {
    const QString path = host.saveFileDialog(owner, QString::fromLatin1(stateFilter), QStringLiteral("pdemu.state"));
    if (!path.isEmpty())
        report(machine.saveStateFile(QFile::encodeName(path).toStdString()));
}

void StateCommands::loadStateChosen() {
    const QString path = host.openFileDialog(owner, QString::fromLatin1(stateFilter), QStringLiteral("*.state"));
    if (!path.isEmpty())
        report(machine.loadStateFile(QFile::encodeName(path).toStdString()));
}

void StateCommands::quickSave(int slot) {
    const QString path = slotPath(slot);
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath())) {
        host.messageBox(owner, MessageIcon::Warning,
                        QStringLiteral("Cannot save quick slot %1: there is no folder to keep it in.").arg(slot));
        return;
    }
    report(machine.saveStateFile(QFile::encodeName(path).toStdString()));
}

void StateCommands::quickLoad(int slot) {
    // Also reached by its key while a recording runs, where the item is disabled.
    if (recording())
        return;
    const QString path = slotPath(slot);
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        const QString where = path.isEmpty() ? QString() : QStringLiteral(" ('%1')").arg(path);
        host.messageBox(
            owner, MessageIcon::Information,
            QStringLiteral("Quick slot %1 is empty: nothing has been saved in it yet%2.").arg(slot).arg(where));
        return;
    }
    report(machine.loadStateFile(QFile::encodeName(path).toStdString()));
}

void StateCommands::recordChosen() {
    if (recording())
        stopRecording();
    else
        startRecording();
}

void StateCommands::finishRecording() {
    if (recording())
        stopRecording();
}

void StateCommands::startRecording() {
    const QString path =
        host.saveFileDialog(owner, QString::fromLatin1(sessionFilter), QStringLiteral("pdemu.session"));
    if (path.isEmpty() || !machine.startRecording())
        return;
    sessionPath = path;
    recordItem->setText(QStringLiteral("Stop &Recording"));
    loadItem->setEnabled(false);
    for (QAction* item : quickLoadItems)
        item->setEnabled(false);
    emit recordingChanged(true);
}

void StateCommands::stopRecording() {
    MachineState end;
    const Session session = machine.stopRecording(&end);
    QString path = sessionPath;
    sessionPath.clear();
    recordItem->setText(QStringLiteral("&Record Session..."));
    loadItem->setEnabled(true);
    for (QAction* item : quickLoadItems)
        item->setEnabled(true);
    emit recordingChanged(false);

    const QString endPath = qEnvironmentVariable(endStateVariable);
    if (!endPath.isEmpty()) {
        // The lines still waiting for the debug window depend on when each
        // host last showed them, not on the run: the comparison leaves them out.
        MachineState machineOnly = end;
        machineOnly.debugLines.clear();
        report(writeStateFile(QFile::encodeName(endPath).toStdString(), machineOnly));
    }
    // The session exists only here now: it is dropped only when the user cancels.
    for (;;) {
        const std::string problem = writeSessionFile(QFile::encodeName(path).toStdString(), session);
        if (problem.empty())
            return;
        host.messageBox(owner, MessageIcon::Warning,
                        QString::fromStdString(problem) +
                            QStringLiteral("\n\nChoose another file for the recording, or cancel to discard it."));
        path = host.saveFileDialog(owner, QString::fromLatin1(sessionFilter), QFileInfo(path).fileName());
        if (path.isEmpty())
            return;
    }
}
