// MemoryWindow: the byte grid and the stack of the held machine (see MemoryWindow.h).
#include "frontend/MemoryWindow.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <functional>
#include <unordered_map>

#include "debugger/SymbolTable.h"
#include "frontend/AppSettings.h"
#include "frontend/DebuggerWindow.h"
#include "frontend/WindowPlacement.h"
#include "machine/MemoryMap.h"

namespace {

using Space = DebuggerEngine::Space;

QString hex(uint32_t value, int digits) { return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper(); }
QString latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// Page numbers are hex everywhere else in the debugger.
class HexSpinBox : public QSpinBox {
public:
    explicit HexSpinBox(QWidget* parent = nullptr) : QSpinBox(parent) { setDisplayIntegerBase(16); }

protected:
    QString textFromValue(int value) const override { return hex(static_cast<uint32_t>(value), 2); }
};

// The editor of one byte: at most two hex digits; the second one writes the
// byte at once and hands on to the next (onFull), as in a hex editor.
class ByteDelegate : public QStyledItemDelegate {
public:
    ByteDelegate(QObject* parent, std::function<void()> onFull)
        : QStyledItemDelegate(parent), onFull(std::move(onFull)) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
        auto* edit = new QLineEdit(parent);
        edit->setObjectName(QStringLiteral("memByteEditor"));
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,2}")), edit));
        auto* self = const_cast<ByteDelegate*>(this);
        connect(edit, &QLineEdit::textEdited, self, [self, edit](const QString& text) {
            if (text.size() < 2)
                return;
            emit self->commitData(edit);
            emit self->closeEditor(edit, QAbstractItemDelegate::NoHint);
            self->onFull();
        });
        return edit;
    }
    // Selected, so the first digit typed replaces the byte.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* edit = static_cast<QLineEdit*>(editor);
        edit->setText(index.data(Qt::EditRole).toString());
        edit->selectAll();
    }

private:
    std::function<void()> onFull;
};

// Names by value for the stack pane: functions first (return addresses are
// the usual words there), the first name of a value wins.
std::unordered_map<uint32_t, QString> namesByValue(const SymbolTable* table) {
    std::unordered_map<uint32_t, QString> names;
    if (table == nullptr)
        return names;
    const auto addAll = [&](const auto& item) {
        for (int i = 0;; ++i) {
            const char* name = item(i);
            if (name == nullptr)
                break;
            if (const auto value = table->findSymbol(name))
                names.emplace(static_cast<uint32_t>(*value), QString::fromLatin1(name));
        }
    };
    addAll([table](int i) { return table->functionItem(i); });
    addAll([table](int i) { return table->dataItem(i); });
    return names;
}

QTableWidget* fixedTable(int rows, const QStringList& headers, const QFont& font) {
    auto* table = new QTableWidget(rows, static_cast<int>(headers.size()));
    table->setFont(font);
    table->setHorizontalHeaderLabels(headers);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    // The style's minimum would widen the narrow byte columns behind fitTable's back.
    table->horizontalHeader()->setMinimumSectionSize(1);
    table->verticalHeader()->setMinimumSectionSize(1);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Bold is the followed byte's; the current cell's row and column stay plain.
    table->horizontalHeader()->setHighlightSections(false);
    table->verticalHeader()->setHighlightSections(false);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 4);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < headers.size(); ++c) {
            auto* item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            table->setItem(r, c, item);
        }
    return table;
}

// Exactly as large as its cells: the view never scrolls, the window does.
void fitTable(QTableWidget* table) {
    table->ensurePolished();
    table->horizontalHeader()->ensurePolished();
    int width = 2 * table->frameWidth() + (table->verticalHeader()->isHidden() ? 0 : table->verticalHeader()->width());
    for (int c = 0; c < table->columnCount(); ++c)
        width += table->columnWidth(c);
    const int height = 2 * table->frameWidth() + table->horizontalHeader()->sizeHint().height() +
                       table->rowCount() * table->verticalHeader()->defaultSectionSize();
    table->setFixedSize(width, height);
}

}  // namespace

std::optional<uint8_t> MemoryWindow::Snapshot::at(Space s, int p, uint32_t a, uint32_t m) const {
    if (!valid || s != space || (s != Space::Z80 && p != page))
        return std::nullopt;
    const uint32_t offset = (a - base) & m;
    if (offset >= static_cast<uint32_t>(Bytes))
        return std::nullopt;
    return bytes[offset];
}

MemoryWindow::MemoryWindow(DebuggerEngine& engine, DebuggerWindow& debugger, AppSettings& settings)
    : QDialog(&debugger), engine(engine), debugger(debugger), settings(settings), spaceChoice(new QComboBox),
      page(new HexSpinBox), address(new QLineEdit), status(new QLabel) {
    setWindowTitle(QStringLiteral("Memory"));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    setFont(font);
    const QFontMetrics metrics(font);

    spaceChoice->setObjectName(QStringLiteral("memSpace"));
    spaceChoice->addItems({QStringLiteral("Z80 (as mapped)"), QStringLiteral("Flash page"), QStringLiteral("RAM page")});
    page->setObjectName(QStringLiteral("memPage"));
    page->setEnabled(false);
    address->setObjectName(QStringLiteral("memAddress"));
    address->setPlaceholderText(QStringLiteral("C000, HL, w@SP, name"));
    address->setToolTip(QStringLiteral("Address or expression, followed at every stop"));
    connect(spaceChoice, &QComboBox::currentIndexChanged, this, &MemoryWindow::spaceChosen);
    connect(page, qOverload<int>(&QSpinBox::valueChanged), this, [this] { refresh(); });
    connect(address, &QLineEdit::returnPressed, this, &MemoryWindow::addressEntered);

    QStringList headers;
    for (int c = 0; c < RowBytes; ++c)
        headers << hex(static_cast<uint32_t>(c), 1);
    headers << QStringLiteral("Characters");
    bytes = fixedTable(Rows, headers, font);
    bytes->setObjectName(QStringLiteral("memGrid"));
    for (int c = 0; c < RowBytes; ++c)
        bytes->setColumnWidth(c, metrics.horizontalAdvance(QStringLiteral("DD")) + 8);
    bytes->setColumnWidth(CharColumn, metrics.horizontalAdvance(QString(RowBytes, QLatin1Char('D'))) + 12);
    bytes->verticalHeader()->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("DDDD")) + 12);
    for (int r = 0; r < Rows; ++r)
        for (int c = 0; c < RowBytes; ++c) {
            bytes->item(r, c)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
            bytes->item(r, c)->setTextAlignment(Qt::AlignCenter);
        }
    bytes->setItemDelegate(new ByteDelegate(bytes, [this] { typedOnward(); }));
    bytes->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    bytes->installEventFilter(this);
    bytes->viewport()->installEventFilter(this);
    connect(bytes, &QTableWidget::itemChanged, this, &MemoryWindow::byteEdited);
    fitTable(bytes);

    stackWords = fixedTable(StackWords, {QStringLiteral("Adr."), QStringLiteral("Word"), QStringLiteral("Symbol")}, font);
    stackWords->setObjectName(QStringLiteral("memStack"));
    stackWords->verticalHeader()->hide();
    stackWords->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("DDDD")) + 12);
    stackWords->setColumnWidth(1, metrics.horizontalAdvance(QStringLiteral("DDDD")) + 12);
    stackWords->setColumnWidth(2, metrics.horizontalAdvance(QString(16, QLatin1Char('D'))) + 12);
    stackWords->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fitTable(stackWords);
    // As tall as the grid, whose header is a little taller with its hex digits.
    stackWords->setFixedHeight(bytes->height());

    status->setObjectName(QStringLiteral("memStatus"));
    status->setFrameShape(QFrame::Panel);
    status->setFrameShadow(QFrame::Sunken);
    status->setMinimumHeight(metrics.height() + 6);

    auto* top = new QHBoxLayout;
    top->addWidget(spaceChoice);
    top->addWidget(new QLabel(QStringLiteral("Page")));
    top->addWidget(page);
    top->addSpacing(8);
    top->addWidget(new QLabel(QStringLiteral("Address")));
    top->addWidget(address, 1);
    auto* memoryGroup = new QGroupBox(QStringLiteral("Bytes"));
    (new QVBoxLayout(memoryGroup))->addWidget(bytes);
    auto* stackGroup = new QGroupBox(QStringLiteral("Stack from SP"));
    (new QVBoxLayout(stackGroup))->addWidget(stackWords);
    auto* middle = new QHBoxLayout;
    middle->addWidget(memoryGroup);
    middle->addWidget(stackGroup);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle);
    layout->addWidget(status);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    again.setSingleShot(true);
    again.setInterval(0);
    connect(&again, &QTimer::timeout, this, &MemoryWindow::refresh);
    connect(&debugger, &DebuggerWindow::machineShown, this, [this] {
        if (isVisible())
            refresh();
    });
}

uint32_t MemoryWindow::key(Space space, int page, uint32_t address) {
    const uint32_t where = space == Space::Z80 ? 0u : (space == Space::Flash ? 0x100u : 0x200u) + static_cast<uint32_t>(page);
    return where << 16 | (address & 0xFFFFu);
}

Space MemoryWindow::space() const {
    switch (spaceChoice->currentIndex()) {
    case 1: return Space::Flash;
    case 2: return Space::Ram;
    default: return Space::Z80;
    }
}

uint32_t MemoryWindow::mask() const { return space() == Space::Z80 ? 0xFFFFu : uint32_t{MemoryMap::PageSize - 1}; }

uint32_t MemoryWindow::shownMask() const { return shown.space == Space::Z80 ? 0xFFFFu : uint32_t{MemoryMap::PageSize - 1}; }

QTableWidgetItem* MemoryWindow::byteItem(uint32_t a) const {
    const uint32_t m = shownMask();
    const uint32_t offset = (a - shown.base) & m;
    if (!shown.valid || offset >= static_cast<uint32_t>(Bytes))
        return nullptr;
    return bytes->item(static_cast<int>(offset) / RowBytes, static_cast<int>(offset) % RowBytes);
}

void MemoryWindow::refresh() {
    const uint32_t hold = engine.holdCount();
    if (!engine.isHeld()) {
        showNotLive();
        return;
    }
    const uint32_t m = mask();
    uint32_t value = 0;
    if (follow) {
        // Bound again at every read: the symbols may have been reloaded since.
        Expression bound = *follow;
        std::string error;
        if (!bound.resolve(debugger.symbolTable(), &error)) {
            isLive = false;
            status->setText(QStringLiteral("Address: ") + latin1(error));
            return;
        }
        const auto v = engine.evaluateHeld(bound);
        if (!v) {
            showNotLive();
            return;
        }
        value = *v;
    }
    if (shown.valid && shown.hold != hold)
        scroll = 0;  // a new stop: back to the followed place
    Snapshot next;
    next.valid = true;
    next.space = space();
    next.page = page->value();
    next.hold = hold;
    const uint32_t at = value & m;
    const int64_t start = static_cast<int64_t>(at & ~uint32_t(RowBytes - 1)) +
                          static_cast<int64_t>(scroll - RowsBefore) * RowBytes;
    next.base = static_cast<uint32_t>(start) & m;
    if (!engine.peekHeld(next.space, next.page, next.base, next.bytes.data(), Bytes)) {
        showNotLive();
        return;
    }
    const auto regs = engine.inspectedRegisters();
    uint8_t words[StackWords * 2] = {};
    if (!regs || !engine.peekHeld(Space::Z80, 0, regs->SP.w, words, sizeof words)) {
        showNotLive();  // let go meanwhile; whatever held it again says so in a view call
        return;
    }
    if (engine.holdCount() != hold) {
        again.start();  // a new stop came between the reads, which may mix the two
        return;
    }
    if (readHold != hold) {
        readLastStop = std::move(readThisStop);
        readThisStop.clear();
        readHold = hold;
    }
    shown = next;
    followed = at;
    isLive = true;
    showGrid();
    showStack(regs->SP.w, words);
}

void MemoryWindow::showGrid() {
    const uint32_t m = shownMask();
    QStringList rowNames;
    int changed = 0;
    QFont bold = bytes->font();
    bold.setBold(true);
    updating = true;
    for (int r = 0; r < Rows; ++r) {
        rowNames << hex((shown.base + static_cast<uint32_t>(r * RowBytes)) & m, 4);
        QString chars;
        for (int c = 0; c < RowBytes; ++c) {
            const uint32_t a = (shown.base + static_cast<uint32_t>(r * RowBytes + c)) & m;
            const uint8_t b = shown.bytes[static_cast<std::size_t>(r * RowBytes + c)];
            QTableWidgetItem* item = bytes->item(r, c);
            item->setText(hex(b, 2));
            const uint32_t place = key(shown.space, shown.page, a);
            const auto atStop = readThisStop.try_emplace(place, b).first->second;
            const auto before = readLastStop.find(place);
            const bool differs = atStop != b || (before != readLastStop.end() && before->second != b);
            changed += differs ? 1 : 0;
            item->setData(Qt::ForegroundRole, differs ? QVariant(QBrush(QColor(0xD0, 0, 0))) : QVariant());
            item->setData(Qt::FontRole, follow && a == followed ? QVariant(bold) : QVariant());
            chars += b >= 0x20 && b < 0x7F ? QChar(b) : QLatin1Char('.');
        }
        bytes->item(r, CharColumn)->setText(chars);
    }
    bytes->setVerticalHeaderLabels(rowNames);
    updating = false;

    QString where;
    if (shown.space != Space::Z80)
        where = QStringLiteral("%1 page %2, ").arg(shown.space == Space::Flash ? QStringLiteral("flash")
                                                                               : QStringLiteral("RAM"))
                    .arg(hex(static_cast<uint32_t>(shown.page), 2));
    if (follow)
        where += QStringLiteral("%1 = %2, ").arg(latin1(follow->text()), hex(followed, 4));
    status->setText(QStringLiteral("Held: %1%2 changed since the previous stop").arg(where).arg(changed));
}

void MemoryWindow::showStack(uint16_t sp, const uint8_t* words) {
    const auto names = namesByValue(debugger.symbolTable());
    for (int i = 0; i < StackWords; ++i) {
        const uint32_t word = words[2 * i] | (words[2 * i + 1] << 8);
        stackWords->item(i, 0)->setText(hex((sp + 2u * static_cast<uint32_t>(i)) & 0xFFFFu, 4));
        stackWords->item(i, 1)->setText(hex(word, 4));
        const auto name = names.find(word);
        stackWords->item(i, 2)->setText(name != names.end() ? name->second : QString());
    }
}

void MemoryWindow::showNotLive() {
    isLive = false;
    status->setText(shown.valid ? QStringLiteral("Running: the contents of the last stop, not live")
                                : QStringLiteral("Running: memory is read while the debugger holds the machine"));
}

void MemoryWindow::addressEntered() {
    const std::string text = address->text().toLatin1().toStdString();
    if (address->text().trimmed().isEmpty()) {
        follow.reset();
    } else {
        std::string error;
        std::optional<Expression> parsed = Expression::parse(text, &error);
        if (parsed) {
            Expression bound = *parsed;
            if (!bound.resolve(debugger.symbolTable(), &error))
                parsed.reset();
        }
        if (!parsed) {
            status->setText(QStringLiteral("Address: ") + latin1(error));
            return;
        }
        follow = std::move(parsed);
    }
    scroll = 0;
    refresh();
}

void MemoryWindow::spaceChosen() {
    const Space s = space();
    page->setEnabled(s != Space::Z80);
    page->setMaximum(s == Space::Ram ? MemoryMap::RamPages - 1 : 0xBF);
    scroll = 0;
    refresh();
}

void MemoryWindow::scrollRows(int rows) {
    scroll += rows;
    refresh();
}

void MemoryWindow::byteEdited(QTableWidgetItem* item) {
    if (updating || item->column() >= RowBytes)
        return;
    writeDone = false;
    const uint32_t m = shownMask();
    const int offset = item->row() * RowBytes + item->column();
    const uint32_t a = (shown.base + static_cast<uint32_t>(offset)) & m;
    bool ok = false;
    const uint32_t value = item->text().trimmed().toUInt(&ok, 16);
    const auto restore = [&] {
        updating = true;
        item->setText(hex(shown.bytes[static_cast<std::size_t>(offset)], 2));
        updating = false;
    };
    if (!ok || value > 0xFF) {
        restore();
        status->setText(QStringLiteral("Not written: '%1' is not a byte (hex 00-FF)").arg(item->text()));
        return;
    }
    if (!shown.valid || !engine.pokeHeld(shown.space, shown.page, a, static_cast<uint8_t>(value))) {
        restore();
        status->setText(QStringLiteral("Not written: running; memory changes only while the debugger holds the machine"));
        return;
    }
    writeDone = true;
    refresh();
    const auto now = shown.at(shown.space, shown.page, a, m);
    if (now && *now != value)
        status->setText(QStringLiteral("Wrote %1 at %2; it reads back %3").arg(hex(value, 2), hex(a, 4), hex(*now, 2)));
}

// Two digits typed: on to the next byte, over the row's end and the grid's.
void MemoryWindow::typedOnward() {
    if (!writeDone)
        return;
    int row = bytes->currentRow();
    int column = bytes->currentColumn() + 1;
    if (column >= RowBytes) {
        column = 0;
        ++row;
    }
    if (row >= Rows) {
        row = Rows - 1;
        scrollRows(1);
    }
    bytes->setCurrentCell(row, column);
    bytes->editItem(bytes->item(row, column));
}

bool MemoryWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == bytes && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int row = bytes->currentRow();
        if (key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown) {
            scrollRows(key->key() == Qt::Key_PageUp ? -Rows : Rows);
            return true;
        }
        if ((key->key() == Qt::Key_Up && row == 0) || (key->key() == Qt::Key_Down && row == Rows - 1)) {
            scrollRows(key->key() == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    if (watched == bytes->viewport() && event->type() == QEvent::Wheel) {
        const int steps = static_cast<QWheelEvent*>(event)->angleDelta().y() / 40;  // three rows a notch
        if (steps != 0)
            scrollRows(-steps);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void MemoryWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!placed) {
        placed = true;
        placeOnScreen(this, settings.windowPosition(QStringLiteral("Memory")));
    }
    refresh();
}

void MemoryWindow::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (placed && isVisible())
        settings.setWindowPosition(QStringLiteral("Memory"), pos());
}
