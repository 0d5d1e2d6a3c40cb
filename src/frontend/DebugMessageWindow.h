// DebugMessageWindow: "Debug-Messages", the text that the organiser's
// software prints through its print trap (ED FE). The device window's tick
// moves the waiting lines here (flushDebugLines); the user can type into it,
// clear it (Clear Debug Messages, Enter in the device window) and hide it.
// Closing only hides it; the text and the place where the user left it stay
// for the next show.
#pragma once

#include <QDialog>
#include <string_view>

class QPlainTextEdit;

class DebugMessageWindow : public QDialog {
    Q_OBJECT
public:
    explicit DebugMessageWindow(QWidget* owner);

    // Adds text at the very end, wherever the user's caret is, and scrolls
    // there. The organiser ends its lines with CR LF; LF alone is kept as the
    // line break. Not an undo step.
    void appendDebugText(std::string_view text);
    void clearDebugText();

    QString text() const;
    QPlainTextEdit* textControl() const { return edit; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QPlainTextEdit* edit;
};
