// HostServices: message boxes and file dialogs on Qt (see HostServices.h).
#include "frontend/HostServices.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon qtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Stop: return QMessageBox::Critical;
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

// Qt's own dialog filters by the name field's text; a pattern there would
// only hide the filter list, so only plain names are put in.
QString runDialog(QFileDialog& dialog, const QString& filterList, const QString& initialName) {
    dialog.setNameFilters(HostServices::qtNameFilters(filterList));
    if (!initialName.isEmpty() && !initialName.contains(QLatin1Char('*')))
        dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

}  // namespace

void HostServices::messageBox(QWidget* owner, MessageIcon icon, const QString& text) {
    QMessageBox box(qtIcon(icon), QStringLiteral("pdemu"), text, QMessageBox::Ok, owner);
    box.exec();
}

QString HostServices::openFileDialog(QWidget* owner, const QString& filterList, const QString& initialName,
                                     const QString& folder) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!folder.isEmpty())
        dialog.setDirectory(folder);
    return runDialog(dialog, filterList, initialName);
}

QString HostServices::saveFileDialog(QWidget* owner, const QString& filterList, const QString& initialName) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    return runDialog(dialog, filterList, initialName);
}

QStringList HostServices::qtNameFilters(const QString& filterList) {
    const QStringList parts = filterList.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        if (description.isEmpty())
            break;  // the closing "||"
        // Qt reads the patterns from the last parentheses; the description's
        // own "(*.pgm)" is replaced by the list's pattern column. "*.*" means
        // every file, which on Linux is "*" (many names have no dot).
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open > 0 && description.endsWith(QLatin1Char(')')))
            description = description.left(open).trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        }
        filters << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

void QtMessageReporter::showMessage(MessageIcon icon, const std::string& text) {
    queued.emplace_back(icon, QString::fromStdString(text));
}

void QtMessageReporter::showQueued(QWidget* owner) {
    // A box can run code that queues more (its event loop serves the timer).
    while (!queued.empty()) {
        const auto [icon, text] = queued.front();
        queued.erase(queued.begin());
        host.messageBox(owner, icon, text);
    }
}
