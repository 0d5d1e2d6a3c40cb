// The host layer: filter lists turned into Qt's filters, the real file
// dialogs' filters, name field and mode, the real message box's title, icon,
// text and single button, and the strip picture.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "FrontendRig.h"
#include "frontend/ButtonStrip.h"

TEST(HostServices, FilterListsBecomeQtNameFilters) {
    const std::pair<const char*, QStringList> cases[] = {
        {"Rom Images (*.pgm)|*.pgm||", {"Rom Images (*.pgm)"}},
        {"All Files (*.*)|*.*||", {"All Files (*)"}},
        {"Application Files (*.app)|*.app||", {"Application Files (*.app)"}},
        {"Morvek Mapfiles (*.map)|*.map|Tasm Symbolfiles (*.sym)|*.sym|",
         {"Morvek Mapfiles (*.map)", "Tasm Symbolfiles (*.sym)"}},
        {"Pictures|*.png;*.bmp||", {"Pictures (*.png *.bmp)"}},
        {"", {}},
    };
    for (const auto& [list, want] : cases)
        EXPECT_EQ(HostServices::qtNameFilters(QString::fromLatin1(list)), want) << list;
}

// The real dialogs, each filled with its own filter list and name, then
// answered: the filters go to the filter list and a plain name (never a
// pattern) into the name field; the path the user confirms comes back, a
// cancel gives "".
TEST(HostServices, FileDialogsShowTheirFiltersAndNameAndReturnTheChosenPath) {
    frontendtest::ScratchDir dir;
    const QString existing = dir.file("organiser.pgm");
    frontendtest::writeBytes(existing, {0xC3});
    const QString fresh = dir.file("fresh.sav");
    const struct {
        bool save;
        const char* filterList;
        const char* initialName;
        QStringList filters;
        QString nameField;
        QString answer;  // typed into the name field and confirmed; "" cancels
    } cases[] = {
        {false, "Rom Images (*.pgm)|*.pgm||", "*.pgm", {"Rom Images (*.pgm)"}, "", existing},
        {false, "Morvek Mapfiles (*.map)|*.map|Tasm Symbolfiles (*.sym)|*.sym|", "*.map",
         {"Morvek Mapfiles (*.map)", "Tasm Symbolfiles (*.sym)"}, "", ""},
        {true, "All Files (*.*)|*.*||", "pdemu.sav", {"All Files (*)"}, "pdemu.sav", fresh},
        {true, "PNG Images (*.png)|*.png||", "pdemu-screen.png", {"PNG Images (*.png)"}, "pdemu-screen.png", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filterList);
        QStringList filters;
        QString nameField;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        QFileDialog::FileMode fileMode = QFileDialog::Directory;
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            seen = true;
            filters = dialog->nameFilters();
            auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(field, nullptr);
            nameField = field->text();
            mode = dialog->acceptMode();
            fileMode = dialog->fileMode();
            if (c.answer.isEmpty()) {
                dialog->reject();
            } else {
                field->setText(c.answer);
                QMetaObject::invokeMethod(dialog, "accept");  // as its Open or Save button does
            }
        });
        HostServices host;
        const QString chosen = c.save ? host.saveFileDialog(nullptr, QString::fromLatin1(c.filterList),
                                                            QString::fromLatin1(c.initialName))
                                      : host.openFileDialog(nullptr, QString::fromLatin1(c.filterList),
                                                            QString::fromLatin1(c.initialName));
        ASSERT_TRUE(seen);
        EXPECT_EQ(filters, c.filters);
        EXPECT_EQ(nameField, c.nameField);
        EXPECT_EQ(mode, c.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        EXPECT_EQ(fileMode, c.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        EXPECT_EQ(chosen, c.answer);
    }
}

TEST(HostServices, MessageBoxHasTheTitleTheIconAndOneOkButton) {
    const std::pair<MessageIcon, QMessageBox::Icon> icons[] = {{MessageIcon::Stop, QMessageBox::Critical},
                                                               {MessageIcon::Information, QMessageBox::Information},
                                                               {MessageIcon::Warning, QMessageBox::Warning}};
    for (const auto& [icon, qtIcon] : icons) {
        QString title, text;
        QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
        int buttons = 0;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            seenIcon = box->icon();
            buttons = static_cast<int>(box->buttons().size());
            box->button(QMessageBox::Ok)->click();
        });
        HostServices().messageBox(nullptr, icon, QStringLiteral("cannot open ROM file 'x'."));
        EXPECT_EQ(title, QStringLiteral("pdemu"));
        EXPECT_EQ(text, QStringLiteral("cannot open ROM file 'x'."));
        EXPECT_EQ(seenIcon, qtIcon);
        EXPECT_EQ(buttons, 1);
    }
}

TEST(HostServices, QueuedMachineMessagesAreShownInOrderWhenAsked) {
    frontendtest::ScriptedHost host;
    QtMessageReporter reporter(host);
    reporter.showMessage(MessageIcon::Stop, "first");
    reporter.showMessage(MessageIcon::Information, "second");
    EXPECT_TRUE(host.messages.empty());
    reporter.showQueued(nullptr);
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0].text, QStringLiteral("first"));
    EXPECT_EQ(host.messages[1].icon, MessageIcon::Information);
    EXPECT_FALSE(reporter.hasQueued());
}

TEST(ButtonStrip, FrameBandLinesAndButtonZoneBordersAreWhereTheButtonsAre) {
    std::vector<uint8_t> bits(6080, 0);
    strip::drawButtonStrip(bits.data());
    const auto dark = [&](int x, int y) { return strip::pixel(bits.data(), x, y); };
    for (int x = 0; x < 160; ++x) {
        EXPECT_TRUE(dark(x, 240) && dark(x, 271) && dark(x, 287) && dark(x, 303)) << x;
        EXPECT_FALSE(dark(x, 239)) << "the display is left alone";
    }
    for (int y = 240; y < 304; ++y)
        EXPECT_TRUE(dark(0, y) && dark(159, y)) << y;
    // The button zones' borders: columns 53 and 106 in both button bands.
    for (int y = 272; y < 304; ++y)
        EXPECT_TRUE(dark(53, y) && dark(106, y)) << y;
    for (int x : {26, 53, 80, 106, 133})
        EXPECT_TRUE(dark(x, 255)) << x;
}

TEST(ButtonStrip, EveryLabelIsDrawnCentredInItsBox) {
    std::vector<uint8_t> bits(6080, 0);
    strip::drawButtonStrip(bits.data());
    struct Box {
        int left, right, top, bottom, letters;
    } boxes[] = {{0, 26, 240, 271, 3},   {26, 53, 240, 271, 4},  {53, 80, 240, 271, 3},  {80, 106, 240, 271, 4},
                 {106, 133, 240, 271, 4}, {133, 159, 240, 271, 4}, {0, 53, 271, 287, 4},  {53, 106, 271, 287, 4},
                 {106, 159, 271, 287, 4}, {0, 53, 287, 303, 5},  {53, 106, 287, 303, 4}, {106, 159, 287, 303, 4}};
    for (const Box& b : boxes) {
        int minX = 999, maxX = -1, minY = 999, maxY = -1;
        for (int y = b.top + 1; y < b.bottom; ++y)
            for (int x = b.left + 1; x < b.right; ++x)
                if (strip::pixel(bits.data(), x, y)) {
                    minX = std::min(minX, x), maxX = std::max(maxX, x);
                    minY = std::min(minY, y), maxY = std::max(maxY, y);
                }
        SCOPED_TRACE(testing::Message() << "box from column " << b.left << " row " << b.top);
        // Each letter 5 wide with one column between: a missing glyph shortens it.
        EXPECT_EQ(maxX - minX + 1, b.letters * 6 - 1);
        EXPECT_EQ(maxY - minY + 1, 8);
        EXPECT_LE(std::abs((minX - b.left) - (b.right - maxX)), 1);
        EXPECT_LE(std::abs((minY - b.top) - (b.bottom - maxY)), 1);
    }
}
