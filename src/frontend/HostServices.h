// HostServices: the one place where the program's message boxes and file
// dialogs meet Qt. Every window and start-up step asks through it, so titles,
// icons, buttons and filter lists are the same everywhere, and tests can
// answer the dialogs by overriding the three virtual calls.
//
// Filter lists come in the form the callers give them, description and
// pattern pairs separated by vertical bars ("Rom Images (*.pgm)|*.pgm||");
// qtNameFilters turns them into Qt's "Description (*.pgm)" entries.
//
// QtMessageReporter is the machine's MessageReporter on top of it. The
// machine may report while it is paused for the user-interface thread (an
// installation); a modal box then would keep it paused, so reports are queued
// and shown by showQueued once the caller has let the machine go on.
#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "machine/Messages.h"

class QWidget;

class HostServices {
public:
    virtual ~HostServices() = default;

    // Modal box titled "pdemu" with the icon and one OK button.
    virtual void messageBox(QWidget* owner, MessageIcon icon, const QString& text);
    // Modal dialogs; the chosen full path, or an empty string when cancelled.
    // The open dialog demands an existing file; the save dialog asks before
    // it replaces one. initialName may be a pattern ("*.pgm"), which the
    // filter already covers, or a plain name ("pdemu.sav"). The open dialog
    // starts in folder when one is given, else where Qt starts it.
    virtual QString openFileDialog(QWidget* owner, const QString& filterList, const QString& initialName,
                                   const QString& folder = QString());
    virtual QString saveFileDialog(QWidget* owner, const QString& filterList, const QString& initialName);

    static QStringList qtNameFilters(const QString& filterList);
};

class QtMessageReporter final : public MessageReporter {
public:
    explicit QtMessageReporter(HostServices& host) : host(host) {}

    // Any thread that owns the machine's user-interface side; only queues.
    void showMessage(MessageIcon icon, const std::string& text) override;
    // Shows every queued message, oldest first, owned by owner.
    void showQueued(QWidget* owner);
    bool hasQueued() const { return !queued.empty(); }

private:
    HostServices& host;
    std::vector<std::pair<MessageIcon, QString>> queued;
};
