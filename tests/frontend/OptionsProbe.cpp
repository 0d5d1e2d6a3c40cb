// Linked beside the real main.cpp into pdemu-options-probe, so tests can run
// the program's own command line without a screen: once the application
// object exists it reports on stdout what a user would see and answers it,
// every box ("box: text", closed with OK) and the device window ("window:
// zoom N", then closed as Exit closes it, which saves) and file dialogs
// ("dialog: FOLDER", the folder it opened in, then cancelled). The program
// then ends as it always does.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

#include "frontend/DeviceWindow.h"
#include "frontend/ScreenView.h"

namespace {

void report(const QString& line) {
    std::printf("%s\n", qPrintable(QString(line).replace(QLatin1Char('\n'), QLatin1String("\\n"))));
    std::fflush(stdout);  // read through a pipe
}

void answerWhatIsUp() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        report(QStringLiteral("box: ") + box->text());
        box->button(QMessageBox::Ok)->click();
        return;
    }
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        report(QStringLiteral("dialog: ") + dialog->directory().absolutePath());
        dialog->reject();
        return;
    }
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* device = qobject_cast<DeviceWindow*>(top);
        if (device != nullptr && device->isVisible() && QApplication::activeModalWidget() == nullptr) {
            report(QStringLiteral("window: zoom %1").arg(device->screenView()->zoom()));
            device->exitChosen();
        }
    }
}

void startProbe() {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, &answerWhatIsUp);
    timer->start(20);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(startProbe)
