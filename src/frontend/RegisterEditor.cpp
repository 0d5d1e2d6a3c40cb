// RegisterEditor: registers and one memory write (see RegisterEditor.h).
#include "frontend/RegisterEditor.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "debugger/DebuggerEngine.h"
#include "frontend/HostServices.h"

namespace {

QLineEdit* makeField(const QString& name, int limit) {
    auto* f = new QLineEdit;
    f->setObjectName(name);
    f->setMaxLength(limit);
    f->setFixedWidth(QFontMetrics(f->font()).horizontalAdvance(QStringLiteral("DDDDD")) + 10);
    return f;
}

}  // namespace

const char* const RegisterEditor::notHeldText =
    "The machine is running: registers and memory can be changed only while the debugger holds it "
    "(Stop or a step).";

RegisterEditor::RegisterEditor(DebuggerEngine& engine, HostServices& host, QWidget* owner)
    : QDialog(owner), engine(engine), host(host), bank(makeField(QStringLiteral("Bank"), 3)),
      address(makeField(QStringLiteral("Adress"), 4)), value(makeField(QStringLiteral("Value"), 4)),
      ram(new QRadioButton(QStringLiteral("Ram"))), rom(new QRadioButton(QStringLiteral("Rom"))) {
    setWindowTitle(QStringLiteral("Edit Registervalues"));
    auto* registerGroup = new QGroupBox(QStringLiteral("Register"));
    auto* grid = new QGridLayout(registerGroup);
    const char* names[6] = {"AF", "HL", "DE", "BC", "IY", "IX"};
    for (int i = 0; i < 6; ++i) {
        registers[i] = makeField(QLatin1String(names[i]), 4);
        grid->addWidget(new QLabel(QLatin1String(names[i])), i / 3, (i % 3) * 2);
        grid->addWidget(registers[i], i / 3, (i % 3) * 2 + 1);
    }
    auto* values = new QGroupBox(QStringLiteral("Values"));
    auto* valueGrid = new QGridLayout(values);
    valueGrid->addWidget(ram, 0, 0);
    valueGrid->addWidget(rom, 1, 0);
    valueGrid->addWidget(new QLabel(QStringLiteral("Bank")), 0, 1);
    valueGrid->addWidget(bank, 1, 1);
    valueGrid->addWidget(new QLabel(QStringLiteral("Adress")), 0, 2);
    valueGrid->addWidget(address, 1, 2);
    valueGrid->addWidget(new QLabel(QStringLiteral("Value")), 0, 3);
    valueGrid->addWidget(value, 1, 3);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &RegisterEditor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(registerGroup);
    layout->addWidget(values);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QLineEdit* RegisterEditor::field(const char* name) const { return findChild<QLineEdit*>(QLatin1String(name)); }

void RegisterEditor::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;  // restored from an icon: the user's edits stay
    ram->setChecked(true);
    const auto regs = engine.inspectedRegisters();
    const uint16_t words[6] = {
        regs ? regs->AF.w : uint16_t(0), regs ? regs->HL.w : uint16_t(0), regs ? regs->DE.w : uint16_t(0),
        regs ? regs->BC.w : uint16_t(0), regs ? regs->IY.w : uint16_t(0), regs ? regs->IX.w : uint16_t(0)};
    for (int i = 0; i < 6; ++i)
        registers[i]->setText(regs ? QStringLiteral("%1").arg(words[i], 4, 16, QLatin1Char('0')).toUpper() : QString());
}

void RegisterEditor::accept() {
    DebuggerEngine::RegisterEdit edit;
    edit.af = registers[0]->text().toStdString();
    edit.hl = registers[1]->text().toStdString();
    edit.de = registers[2]->text().toStdString();
    edit.bc = registers[3]->text().toStdString();
    edit.iy = registers[4]->text().toStdString();
    edit.ix = registers[5]->text().toStdString();
    edit.bankIsRam = ram->isChecked();
    edit.bank = bank->text().toStdString();
    edit.address = address->text().toStdString();
    edit.value = value->text().toStdString();
    if (!engine.applyRegisterEdit(edit)) {
        host.messageBox(this, MessageIcon::Warning, QString::fromLatin1(notHeldText));
        return;
    }
    QDialog::accept();
}
