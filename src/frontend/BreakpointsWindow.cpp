// BreakpointsWindow: the point list and its entry line (see BreakpointsWindow.h).
#include "frontend/BreakpointsWindow.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <set>

#include "debugger/DebuggerEngine.h"
#include "frontend/AppSettings.h"
#include "frontend/DebuggerWindow.h"
#include "frontend/WindowPlacement.h"

namespace {

constexpr int NumberRole = Qt::UserRole;
constexpr int AddressRole = Qt::UserRole + 1;
constexpr int ExecRole = Qt::UserRole + 2;

// The engine's texts are single bytes, as the debugger window's are.
QString latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

QString hitsText(const PointInfo& p) {
    if (p.hits == 0)
        return QString::number(p.counted);
    return QStringLiteral("%1 (every %2)").arg(p.counted).arg(p.hits);
}

QPushButton* pushButton(const char* name, const QString& text) {
    auto* b = new QPushButton(text);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);  // Enter belongs to the entry line
    return b;
}

}  // namespace

BreakpointsWindow::BreakpointsWindow(DebuggerEngine& engine, DebuggerWindow& debugger, AppSettings& settings)
    : QDialog(&debugger), engine(engine), debugger(debugger), settings(settings), entry_(new QLineEdit),
      add(pushButton("pointAdd", QStringLiteral("&Add"))), remove(pushButton("pointDelete", QStringLiteral("&Delete"))),
      list_(new QTreeWidget), status(new QLabel) {
    setWindowTitle(QStringLiteral("Breakpoints"));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    setFont(font);

    entry_->setObjectName(QStringLiteral("pointEntry"));
    entry_->setPlaceholderText(QStringLiteral("exec 4000 if A==0 hits 3 log HL={HL}"));
    entry_->setToolTip(QStringLiteral("exec ADDR | exec fPP:ADDR | write/read/access A[-B] | out/in P[-Q], "
                                      "then: if EXPR, hits N, log TEXT ({EXPR} shows a value)"));
    connect(entry_, &QLineEdit::returnPressed, this, &BreakpointsWindow::addEntered);
    connect(add, &QPushButton::clicked, this, &BreakpointsWindow::addEntered);
    connect(remove, &QPushButton::clicked, this, &BreakpointsWindow::deleteSelected);

    list_->setObjectName(QStringLiteral("pointList"));
    list_->setColumnCount(ColumnCount);
    list_->setHeaderLabels({QStringLiteral("No."), QStringLiteral("Kind"), QStringLiteral("Where"),
                            QStringLiteral("Condition"), QStringLiteral("Hits"), QStringLiteral("On"),
                            QStringLiteral("Log")});
    list_->headerItem()->setToolTip(Hits, QStringLiteral("Times the condition held since the point was added or "
                                                         "enabled; \"every N\": it fires at each N-th"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->header()->setStretchLastSection(true);
    list_->installEventFilter(this);
    connect(list_, &QTreeWidget::itemChanged, this, &BreakpointsWindow::checkChanged);
    // A click on the checkbox only switches the point.
    connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int column) {
        if (column != On)
            pointChosen(item);
    });
    connect(list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { pointChosen(item); });

    status->setObjectName(QStringLiteral("pointStatus"));
    status->setFrameShape(QFrame::Panel);
    status->setFrameShadow(QFrame::Sunken);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status->setMinimumHeight(QFontMetrics(font).height() + 6);

    auto* entryRow = new QHBoxLayout;
    entryRow->addWidget(entry_, 1);
    entryRow->addWidget(add);
    entryRow->addWidget(remove);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(entryRow);
    layout->addWidget(list_, 1);
    layout->addWidget(status);
    resize(QFontMetrics(font).horizontalAdvance(QLatin1Char('M')) * 92, 260);

    connect(&debugger, &DebuggerWindow::pointListChanged, this, [this] {
        if (isVisible())
            refresh();
    });
}

QTreeWidgetItem* BreakpointsWindow::itemOf(int number) const {
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        if (list_->topLevelItem(i)->data(Number, NumberRole).toInt() == number)
            return list_->topLevelItem(i);
    return nullptr;
}

void BreakpointsWindow::refresh() {
    const std::vector<PointInfo> points = engine.pointList();
    // While the same points are listed (hits counting during a run) the rows
    // are updated where they are, so scrolling and selection stay put.
    bool same = list_->topLevelItemCount() == static_cast<int>(points.size());
    for (std::size_t i = 0; same && i < points.size(); ++i) {
        const QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(i));
        same = item->data(Number, NumberRole).toInt() == points[i].number && item->toolTip(0) == latin1(points[i].text);
    }
    std::set<int> selected;
    for (QTreeWidgetItem* item : list_->selectedItems())
        selected.insert(item->data(Number, NumberRole).toInt());
    const int current = list_->currentItem() ? list_->currentItem()->data(Number, NumberRole).toInt() : 0;

    updating = true;
    if (!same)
        list_->clear();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const PointInfo& p = points[i];
        QTreeWidgetItem* item = same ? list_->topLevelItem(static_cast<int>(i)) : new QTreeWidgetItem;
        item->setData(Number, NumberRole, p.number);
        item->setData(Number, AddressRole, p.address);
        item->setData(Number, ExecRole, p.kind == PointKind::Exec);
        item->setText(Number, QString::number(p.number));
        item->setText(Kind, QLatin1String(pointKindName(p.kind)));
        item->setText(Where, latin1(p.where));
        item->setText(Condition, latin1(p.condition));
        item->setText(Hits, hitsText(p));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(On, p.enabled ? Qt::Checked : Qt::Unchecked);
        item->setText(Log, latin1(p.logText));
        for (int c = 0; c < ColumnCount; ++c)
            item->setToolTip(c, latin1(p.text));
        if (same)
            continue;
        list_->addTopLevelItem(item);
        if (selected.count(p.number) != 0)
            item->setSelected(true);
        if (p.number == current)
            list_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    }
    for (int c = 0; c < Log; ++c)
        list_->resizeColumnToContents(c);
    updating = false;
}

void BreakpointsWindow::addEntered() {
    const std::string text = entry_->text().toLatin1().toStdString();
    const PointResult result = engine.addPoint(text, debugger.symbolTable());
    if (!result.ok()) {
        status->setText(QStringLiteral("Not added: ") + latin1(result.error));
        entry_->setFocus();
        return;
    }
    status->setText(QStringLiteral("Point %1: %2").arg(result.number).arg(latin1(result.text)));
    entry_->clear();
    refresh();
    if (QTreeWidgetItem* item = itemOf(result.number)) {
        list_->clearSelection();
        list_->setCurrentItem(item);
    }
}

void BreakpointsWindow::deleteSelected() {
    QStringList gone;
    for (QTreeWidgetItem* item : list_->selectedItems()) {
        const int number = item->data(Number, NumberRole).toInt();
        const PointResult result = engine.deletePoint(number);
        gone << (result.ok() ? QString::number(number) : latin1(result.error));
    }
    if (gone.isEmpty()) {
        status->setText(QStringLiteral("Select the points to delete."));
        return;
    }
    status->setText(QStringLiteral("Deleted: ") + gone.join(QStringLiteral(", ")));
    refresh();
}

void BreakpointsWindow::toggleSelected() {
    const QList<QTreeWidgetItem*> items = list_->selectedItems();
    if (items.isEmpty())
        return;
    // All on unless every selected point is on already, as a tri-state box would.
    bool allOn = true;
    for (QTreeWidgetItem* item : items)
        allOn = allOn && item->checkState(On) == Qt::Checked;
    for (QTreeWidgetItem* item : items)
        item->setCheckState(On, allOn ? Qt::Unchecked : Qt::Checked);  // checkChanged tells the engine
}

void BreakpointsWindow::checkChanged(QTreeWidgetItem* item, int column) {
    if (updating || column != On)
        return;
    const int number = item->data(Number, NumberRole).toInt();
    const bool on = item->checkState(On) == Qt::Checked;
    const PointResult result = engine.enablePoint(number, on);
    if (!result.ok()) {
        status->setText(latin1(result.error));
        refresh();
        return;
    }
    status->setText(QStringLiteral("Point %1 %2").arg(number).arg(on ? QStringLiteral("on") : QStringLiteral("off")));
}

void BreakpointsWindow::pointChosen(QTreeWidgetItem* item) {
    if (item == nullptr || !item->data(Number, ExecRole).toBool())
        return;
    const uint32_t address = item->data(Number, AddressRole).toUInt();
    const QString text = QStringLiteral("%1").arg(address, 4, 16, QLatin1Char('0')).toUpper();
    debugger.field("address")->setText(text);
    status->setText(QStringLiteral("Adr. is %1").arg(text));
}

bool BreakpointsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete) {
            deleteSelected();
            return true;
        }
        if (key == Qt::Key_Space) {
            toggleSelected();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void BreakpointsWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!placed) {
        placed = true;
        placeOnScreen(this, settings.windowPosition(QStringLiteral("Breakpoints")));
    }
    refresh();
}

void BreakpointsWindow::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (placed && isVisible())
        settings.setWindowPosition(QStringLiteral("Breakpoints"), pos());
}
