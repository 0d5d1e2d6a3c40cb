// AboutBox: versions and authors (see AboutBox.h).
#include "frontend/AboutBox.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "frontend/Pictures.h"

namespace {

QGroupBox* group(const QString& caption, const QStringList& lines, QWidget* picture = nullptr) {
    auto* box = new QGroupBox(caption);
    auto* row = new QHBoxLayout(box);
    auto* text = new QVBoxLayout;
    for (const QString& line : lines)
        text->addWidget(new QLabel(line));
    row->addLayout(text, 1);
    if (picture != nullptr)
        row->addWidget(picture);
    return box;
}

}  // namespace

AboutBox::AboutBox(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("about pdemu"));
    auto* icon = new QLabel;
    icon->setPixmap(QPixmap::fromImage(drawProgramIcon(32)));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* insect = new QLabel;
    insect->setPixmap(QPixmap::fromImage(drawCrossedOutInsect()));

    auto* groups = new QVBoxLayout;
    groups->addWidget(group(QStringLiteral("pdemu organiser simulator"),
                            {QStringLiteral("Version " PDEMU_VERSION), QStringLiteral("by the pdemu developers")}));
    groups->addWidget(group(QStringLiteral("pdemu Z80 debugger"),
                            {QStringLiteral("Version 0.3b0"), QStringLiteral("by the pdemu developers")}, insect));

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(groups, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
