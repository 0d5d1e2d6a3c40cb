// DebugMessageWindow: the print trap's text (see DebugMessageWindow.h).
#include "frontend/DebugMessageWindow.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {
// Enough for any debugging session, and a program printing in an endless
// loop cannot take all the memory: the oldest lines go first.
constexpr int LineLimit = 200000;
}  // namespace

DebugMessageWindow::DebugMessageWindow(QWidget* owner) : QDialog(owner), edit(new QPlainTextEdit(this)) {
    setWindowTitle(QStringLiteral("Debug-Messages"));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    edit->setFont(font);
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit->setMaximumBlockCount(LineLimit);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(edit);
    resize(390, 190);
}

void DebugMessageWindow::appendDebugText(std::string_view text) {
    QString chunk = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    chunk.remove(QLatin1Char('\r'));
    QTextDocument* document = edit->document();
    // Turning undo off for the insert keeps it out of the user's undo steps.
    document->setUndoRedoEnabled(false);
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(chunk);
    document->setUndoRedoEnabled(true);
    edit->verticalScrollBar()->setValue(edit->verticalScrollBar()->maximum());
}

void DebugMessageWindow::clearDebugText() {
    edit->clear();
}

void DebugMessageWindow::hideEvent(QHideEvent* event) {
    // A dialog is centred over its owner at every show unless it was placed
    // with move(); a move by the window manager does not count. Once shown,
    // it comes back where the user left it.
    setAttribute(Qt::WA_Moved);
    QDialog::hideEvent(event);
}

QString DebugMessageWindow::text() const { return edit->toPlainText(); }
