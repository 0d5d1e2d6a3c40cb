// RegisterEditor: "Edit Registervalues", changes AF, HL, DE, BC, IX and IY of
// the held processor and writes one byte or word into any memory bank. OK
// hands the fields to the engine (applyRegisterEdit), which acts only while
// the machine is held; when it is not (the Reg button stays enabled while a
// Step over runs), a box says so and the editor stays open with the user's
// edits. Opening it fills the register fields from the held machine (empty
// while it runs). The Bank, Adress and Value texts stay from one opening to
// the next; the window manager showing it again is no new opening.
#pragma once

#include <QDialog>
#include <array>

class DebuggerEngine;
class HostServices;
class QLineEdit;
class QRadioButton;

class RegisterEditor : public QDialog {
    Q_OBJECT
public:
    RegisterEditor(DebuggerEngine& engine, HostServices& host, QWidget* owner);

    static const char* const notHeldText;

    QLineEdit* field(const char* name) const;
    QRadioButton* ramButton() const { return ram; }
    QRadioButton* romButton() const { return rom; }

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    DebuggerEngine& engine;
    HostServices& host;
    std::array<QLineEdit*, 6> registers{};  // AF HL DE BC IY IX, as laid out
    QLineEdit* bank;
    QLineEdit* address;
    QLineEdit* value;
    QRadioButton* ram;
    QRadioButton* rom;
};
