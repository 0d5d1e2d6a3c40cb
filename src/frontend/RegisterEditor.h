// RegisterEditor: "Edit Registervalues", changes AF, HL, DE, BC, IX and IY of
// the held processor and writes one byte or word into any memory bank. OK
// hands the fields to the engine (applyRegisterEdit), which acts only while
// the machine is held; the Reg button that opens it is a run control, so it
// is disabled while the machine runs. The Bank, Adress and Value texts stay
// from one opening to the next.
#pragma once

#include <QDialog>
#include <array>

class DebuggerEngine;
class QLineEdit;
class QRadioButton;

class RegisterEditor : public QDialog {
    Q_OBJECT
public:
    RegisterEditor(DebuggerEngine& engine, QWidget* owner);

    QLineEdit* field(const char* name) const;
    QRadioButton* ramButton() const { return ram; }
    QRadioButton* romButton() const { return rom; }

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    DebuggerEngine& engine;
    std::array<QLineEdit*, 6> registers{};  // AF HL DE BC IY IX, as laid out
    QLineEdit* bank;
    QLineEdit* address;
    QLineEdit* value;
    QRadioButton* ram;
    QRadioButton* rom;
};
