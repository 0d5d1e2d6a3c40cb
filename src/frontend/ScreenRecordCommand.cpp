// ScreenRecordCommand: View > Record Screen... (see ScreenRecordCommand.h).
#include "frontend/ScreenRecordCommand.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "frontend/HostServices.h"

const char* const ScreenRecordCommand::filter = "Animated PNG Images (*.png)|*.png||";

namespace {

const QString recordText = QStringLiteral("&Record Screen...");
const QString stopText = QStringLiteral("Stop &Recording");

QString sizeText(uint64_t bytes) {
    return bytes >= (uint64_t{1} << 20) ? QStringLiteral("%1 MB").arg(bytes >> 20)
                                        : QStringLiteral("%1 KB").arg(bytes >> 10);
}

}  // namespace

ScreenRecordCommand::ScreenRecordCommand(HostServices& host, QWidget* owner, std::function<const uint8_t*()> shown)
    : QObject(owner), host(host), owner(owner), shown(std::move(shown)) {
    item = new QAction(recordText, this);
    connect(item, &QAction::triggered, this, &ScreenRecordCommand::chosen);
}

// The picture may be gone by now (the window's children go first): the
// recording ends at its newest frame (ScreenRecording's destructor).
ScreenRecordCommand::~ScreenRecordCommand() = default;

void ScreenRecordCommand::chosen() {
    if (!recording()) {
        start();
        return;
    }
    ended(recorder.finish(shown(), now()), true);
}

void ScreenRecordCommand::start() {
    const QString chosenPath =
        host.saveFileDialog(owner, QString::fromLatin1(filter), QStringLiteral("pdemu-recording.png"));
    if (chosenPath.isEmpty())
        return;
    if (!recorder.open(QFile::encodeName(chosenPath).toStdString(), sizeLimit)) {
        host.messageBox(owner, MessageIcon::Warning,
                        QStringLiteral("Cannot write the screen recording '%1' (%2).")
                            .arg(chosenPath, QString::fromStdString(recorder.problem())));
        return;
    }
    path = chosenPath;
    clock.start();
    (void)recorder.addFrame(shown(), 0);  // the first frame always goes in
    item->setText(stopText);
    emit recordingChanged(true);
}

void ScreenRecordCommand::frameShown() {
    if (!recording())
        return;
    const ScreenRecording::Outcome outcome = recorder.addFrame(shown(), now());
    if (!recorder.isOpen())
        ended(outcome, false);
}

void ScreenRecordCommand::finish() {
    if (recording())
        ended(recorder.finish(shown(), now()), false);
    // A box still waiting for the end of a tick goes with the window.
}

void ScreenRecordCommand::ended(ScreenRecording::Outcome outcome, bool tellNow) {
    item->setText(recordText);
    emit recordingChanged(false);
    QString text;
    if (outcome == ScreenRecording::Outcome::EndedAtLimit) {
        text = QStringLiteral("The screen recording '%1' was ended at its size limit of %2. The file holds "
                              "everything recorded until then.")
                   .arg(path, sizeText(std::max(sizeLimit, ScreenRecording::SmallestSizeLimit)));
    } else if (outcome == ScreenRecording::Outcome::WriteFailed) {
        text = QStringLiteral("Cannot write the screen recording '%1' (%2). The recording has stopped.")
                   .arg(path, QString::fromStdString(recorder.problem()));
    }
    if (text.isEmpty())
        return;
    if (tellNow) {
        host.messageBox(owner, MessageIcon::Warning, text);
        return;
    }
    // Not inside the tick, whose nested ticks would return at once and
    // leave the window unpainted behind the box.
    QTimer::singleShot(0, this, [this, text] { host.messageBox(owner, MessageIcon::Warning, text); });
}
