// HexdumpWindow: the hexdump pane (see HexdumpWindow.h).
#include "frontend/HexdumpWindow.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include "frontend/AppSettings.h"
#include "frontend/WindowPlacement.h"

HexdumpWindow::HexdumpWindow(QWidget* owner, AppSettings& settings)
    : QDialog(owner), settings(settings), pane(new QPlainTextEdit(this)) {
    setWindowTitle(QStringLiteral("pdemu's HexDump :-)"));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    pane->setFont(font);
    pane->setReadOnly(true);
    pane->setLineWrapMode(QPlainTextEdit::NoWrap);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(pane);
    // Wide enough for a whole line (56 characters) beside the scroll bar.
    resize(QFontMetrics(font).horizontalAdvance(QString(58, QLatin1Char('0'))) + 40, 360);
}

void HexdumpWindow::appendDumpLine(const QString& line) {
    QTextCursor cursor(pane->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line + QLatin1Char('\n'));
    pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
}

QString HexdumpWindow::text() const { return pane->toPlainText(); }

void HexdumpWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;  // the window manager re-showing it (un-minimise) is no new opening
    pane->clear();
    if (!placed) {
        placed = true;
        placeOnScreen(this, settings.windowPosition(QStringLiteral("Hexdump")));
    }
}

void HexdumpWindow::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (placed && isVisible())
        settings.setWindowPosition(QStringLiteral("Hexdump"), pos());
}
