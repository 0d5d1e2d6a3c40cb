// DebuggerWindow: controls, commands and what the engine shows (see DebuggerWindow.h).
#include "frontend/DebuggerWindow.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "debugger/DebuggerEngine.h"
#include "debugger/SymbolTable.h"
#include "frontend/AppSettings.h"
#include "frontend/BreakpointsWindow.h"
#include "frontend/HexdumpWindow.h"
#include "frontend/MemoryWindow.h"
#include "frontend/RegisterEditor.h"
#include "frontend/WindowPlacement.h"

const char* const DebuggerWindow::Caption = "PdEmu Debugger V0.3B0";

namespace {

// The tooltip of every control that has one, by object name; the rest say "No tooltip ...".
const std::pair<const char*, const char*> tooltips[] = {
    {"AF", "AF-Register"},
    {"stepInto", "Steps into functions"},
    {"go", "Runs the organiser without debug (fast)"},
    {"stop", "Stops the execution of any program at once"},
    {"clearBreaks", "Clears all breakpoints (1-3 and internal breakpoint)"},
    {"SP", "SP-Register (Stack Pointer)"},
    {"HL", "HL-Register"},
    {"IX", "IX-Register"},
    {"DE", "DE-Register"},
    {"IY", "IY-Register"},
    {"BC", "BC-Register"},
    {"stepOver", "Steps over calls"},
    {"stepBack", "Goes back one instruction in the machine's history (Shift+F11)"},
    {"reverseGo", "Runs backwards to the last breakpoint or watchpoint hit (Shift+F8)"},
    {"PC", "PC-Register (Program Counter)"},
    {"reg", "Edit Registers and Memory (Bank 0..9)"},
    {"flags", "Flag-Register (Carry, Overflow, ...)"},
    {"break1", "Hex-adress for breakpoint 1"},
    {"break2", "Hex-adress for breakpoint 2"},
    {"break3", "Hex-adress for breakpoint 3"},
    {"listing", "List for hexdump and/or disassembly (every 1024 Entries cleared)"},
    {"traceOff", "Sets trace off (default)"},
    {"traceOn", "Sets trace on (Tracename is TRACE.TXT)"},
    {"animate", "Runs the organiser with full debuginfos (slow)"},
    {"status", "Status line (informs you what is going on)"},
    {"hexdump", "Shows hexdump at adress (if adress==0 at PC-Adress)"},
    {"disassemble", "Shows disassembly at adress (if adress==0 at PC-Adress)"},
    {"address", "Adress for disassemble and hexdump (0 = pc-adress)"},
    {"clearList", "Clears the assembler/hexdump-listing"},
    {"symbols", "Global Symbols from Mapfile"},
    {"length", "Length of Hexdump in Bytes (multiples of 0x16)"},
    {"data", "Combobox list datamembers from mapfile/symfile"},
    {"functions", "Combobox list functions from mapfile/symfile"},
};
const char* const noTooltip = "No tooltip ...";

// The engine's texts are single bytes, as the fields' are to it.
QString latin1(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }
std::string bytes(const QString& text) { return text.toLatin1().toStdString(); }

QLineEdit* lineField(const QString& name, int maxLength, bool readOnly) {
    auto* field = new QLineEdit;
    field->setObjectName(name);
    // The limit is for typing only (a validator, not maxLength): a symbol
    // value longer than the limit still goes into the field in full.
    if (maxLength > 0)
        field->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral(".{0,%1}").arg(maxLength)), field));
    field->setReadOnly(readOnly);
    return field;
}

QPushButton* pushButton(const char* name, const QString& text) {
    auto* b = new QPushButton(text);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

}  // namespace

void SymbolBox::showPopup() {
    emit aboutToOpen();
    QComboBox::showPopup();
}

DebuggerWindow::DebuggerWindow(DebuggerEngine& engine, ViewQueue& queue, std::unique_ptr<SymbolTable>& symbols,
                               AppSettings& settings, HostServices& host)
    : QWidget(nullptr, Qt::Window), engine(engine), queue(queue), symbols(symbols), settings(settings), host(host) {
    setWindowTitle(QLatin1String(Caption));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    setFont(font);
    buildControls();
    addTooltips();
    addKeys();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    for (int i = 0; i < 3; ++i)
        mirror(breakFields[i], static_cast<ViewQueue::Field>(i));
    mirror(address, ViewQueue::Field::Address);
    mirror(length, ViewQueue::Field::Length);
    // A log point may hit thousands of times a second: the point list is read
    // at most every 50 ms, and log lines and "shown" go out once per batch of
    // the queue.
    pointsTimer.setSingleShot(true);
    pointsTimer.setInterval(50);
    connect(&pointsTimer, &QTimer::timeout, this, &DebuggerWindow::pointListChanged);
    shownTimer.setSingleShot(true);
    shownTimer.setInterval(0);
    connect(&shownTimer, &QTimer::timeout, this, &DebuggerWindow::machineShown);
    logTimer.setSingleShot(true);
    logTimer.setInterval(0);
    connect(&logTimer, &QTimer::timeout, this, [this] {
        const QString lines = std::exchange(pendingLog, QString());
        emit logLines(lines);
    });
    queue.setTarget(this);
}

DebuggerWindow::~DebuggerWindow() {
    queue.setTarget(nullptr);
    engine.switchOff();
}

void DebuggerWindow::mirror(QLineEdit* edit, ViewQueue::Field field) {
    queue.setFieldText(field, bytes(edit->text()));
    connect(edit, &QLineEdit::textChanged, this,
            [this, field](const QString& text) { queue.setFieldText(field, bytes(text)); });
}

void DebuggerWindow::buildControls() {
    // Disassembly: the listing.
    listing_ = new QPlainTextEdit;
    listing_->setObjectName(QStringLiteral("listing"));
    listing_->setReadOnly(true);
    listing_->setLineWrapMode(QPlainTextEdit::NoWrap);
    listing_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    listing_->setMinimumSize(QFontMetrics(font()).horizontalAdvance(QLatin1Char('M')) * 30, 360);
    auto* listingGroup = new QGroupBox(QStringLiteral("Disassembly"));
    (new QVBoxLayout(listingGroup))->addWidget(listing_);

    // Registers: AF HL DE / BC IY IX / PC SP flags, and Reg.
    auto* registers = new QGroupBox(QStringLiteral("Registers"));
    auto* grid = new QGridLayout(registers);
    const RegisterPair rows[3][3] = {{RegisterPair::AF, RegisterPair::HL, RegisterPair::DE},
                                     {RegisterPair::BC, RegisterPair::IY, RegisterPair::IX},
                                     {RegisterPair::PC, RegisterPair::SP, RegisterPair::SP}};
    const int fieldWidth = QFontMetrics(font()).horizontalAdvance(QStringLiteral("DDDDD")) + 8;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < (r == 2 ? 2 : 3); ++c) {
            const RegisterPair pair = rows[r][c];
            QLineEdit* f = lineField(QLatin1String(registerPairName(pair)), 0, true);
            f->setFixedWidth(fieldWidth);
            registerFields[static_cast<int>(pair)] = f;
            grid->addWidget(new QLabel(QLatin1String(registerPairName(pair))), r, c * 2);
            grid->addWidget(f, r, c * 2 + 1);
        }
    flags = lineField(QStringLiteral("flags"), 0, true);
    flags->setText(QStringLiteral("........"));
    flags->setFixedWidth(QFontMetrics(font()).horizontalAdvance(QStringLiteral("SZ*H*PNCM")) + 8);
    grid->addWidget(flags, 2, 4, 1, 2);
    QPushButton* reg = pushButton("reg", QStringLiteral("&Reg"));
    grid->addWidget(reg, 3, 0, 1, 2);
    connect(reg, &QPushButton::clicked, this, &DebuggerWindow::regChosen);

    // Trace to file.
    auto* trace = new QGroupBox(QStringLiteral("Trace to file"));
    auto* traceRow = new QHBoxLayout(trace);
    traceOff = new QRadioButton(QStringLiteral("Trace &off"));
    traceOff->setObjectName(QStringLiteral("traceOff"));
    traceOn = new QRadioButton(QStringLiteral("Trace o&n"));
    traceOn->setObjectName(QStringLiteral("traceOn"));
    traceRow->addWidget(traceOff);
    traceRow->addWidget(traceOn);
    traceOff->setChecked(true);
    connect(traceOff, &QRadioButton::clicked, this, [this] { engine.selectTraceOff(); });
    connect(traceOn, &QRadioButton::clicked, this, [this] { engine.selectTraceOn(); });

    // Dump/Disassembly.
    auto* dump = new QGroupBox(QStringLiteral("Dump/Disassembly"));
    auto* dumpGrid = new QGridLayout(dump);
    dataRadio = new QRadioButton(QStringLiteral("Data"));
    dataRadio->setObjectName(QStringLiteral("data"));
    functionsRadio = new QRadioButton(QStringLiteral("Functions"));
    functionsRadio->setObjectName(QStringLiteral("functions"));
    dataRadio->setChecked(true);
    dumpGrid->addWidget(dataRadio, 0, 0, 1, 2);
    dumpGrid->addWidget(functionsRadio, 0, 2, 1, 2);
    symbols_ = new SymbolBox;
    symbols_->setObjectName(QStringLiteral("symbols"));
    symbols_->setMinimumContentsLength(16);
    dumpGrid->addWidget(symbols_, 1, 0, 1, 4);
    address = lineField(QStringLiteral("address"), 4, false);
    length = lineField(QStringLiteral("length"), 3, false);
    address->setFixedWidth(fieldWidth);
    length->setFixedWidth(fieldWidth);
    dumpGrid->addWidget(new QLabel(QStringLiteral("Adr.")), 2, 0);
    dumpGrid->addWidget(address, 2, 1);
    dumpGrid->addWidget(new QLabel(QStringLiteral("Length:")), 2, 2);
    dumpGrid->addWidget(length, 2, 3);
    QPushButton* hexdumpButton = pushButton("hexdump", QStringLiteral("&Hexdump"));
    QPushButton* disassemble = pushButton("disassemble", QStringLiteral("&Disassemble"));
    dumpGrid->addWidget(hexdumpButton, 3, 0, 1, 2);
    dumpGrid->addWidget(disassemble, 3, 2, 1, 2);
    auto* listChoice = new QButtonGroup(this);
    listChoice->addButton(dataRadio);
    listChoice->addButton(functionsRadio);
    const auto chooseList = [this](bool data) {
        dataMode = data;
        if (symbols)
            symbols->listChanged = true;
    };
    connect(dataRadio, &QRadioButton::clicked, this, [chooseList] { chooseList(true); });
    connect(functionsRadio, &QRadioButton::clicked, this, [chooseList] { chooseList(false); });
    connect(symbols_, &SymbolBox::aboutToOpen, this, &DebuggerWindow::refillSymbolBox);
    connect(symbols_, qOverload<int>(&QComboBox::activated), this, &DebuggerWindow::copySymbolAddress);
    connect(hexdumpButton, &QPushButton::clicked, this, &DebuggerWindow::hexdumpChosen);
    connect(disassemble, &QPushButton::clicked, this, [this] { engine.requestDisassembly(); });

    // BreakPoints.
    auto* breaks = new QGroupBox(QStringLiteral("BreakPoints"));
    auto* breakGrid = new QGridLayout(breaks);
    for (int i = 0; i < 3; ++i) {
        breakLabels[i] = new QLabel(QString::number(i + 1));
        breakLabels[i]->setObjectName(QStringLiteral("label%1").arg(i + 1));
        breakFields[i] = lineField(QStringLiteral("break%1").arg(i + 1), 4, false);
        breakFields[i]->setFixedWidth(fieldWidth);
        breakFields[i]->installEventFilter(this);
        breakGrid->addWidget(breakLabels[i], 0, i * 2);
        breakGrid->addWidget(breakFields[i], 0, i * 2 + 1);
    }
    QPushButton* clearList = pushButton("clearList", QStringLiteral("Clear &List"));
    QPushButton* clearBreaks = pushButton("clearBreaks", QStringLiteral("Clear &Breaks"));
    breakGrid->addWidget(clearList, 1, 0, 1, 3);
    breakGrid->addWidget(clearBreaks, 1, 3, 1, 3);
    connect(clearList, &QPushButton::clicked, this, [this] { engine.clearList(); });
    connect(clearBreaks, &QPushButton::clicked, this, [this] { engine.clearBreaks(); });

    // The run buttons and the status line.
    QPushButton* go = pushButton("go", QStringLiteral("&Go"));
    QPushButton* animate = pushButton("animate", QStringLiteral("&Animate"));
    QPushButton* stop = pushButton("stop", QStringLiteral("Sto&p"));
    QPushButton* stepInto = pushButton("stepInto", QStringLiteral("&Step into"));
    QPushButton* stepOver = pushButton("stepOver", QStringLiteral("Step o&ver"));
    connect(go, &QPushButton::clicked, this, [this] { engine.go(); });
    connect(animate, &QPushButton::clicked, this, [this] { engine.animate(); });
    connect(stop, &QPushButton::clicked, this, [this] { engine.stop(); });
    connect(stepInto, &QPushButton::clicked, this, [this] { engine.stepInto(); });
    connect(stepOver, &QPushButton::clicked, this, [this] { engine.stepOver(); });
    // Going back waits for the history's replay; a refusal goes to the status line.
    QPushButton* stepBack = pushButton("stepBack", QStringLiteral("Step bac&k"));
    QPushButton* reverseGo = pushButton("reverseGo", QStringLiteral("R&everse go"));
    connect(stepBack, &QPushButton::clicked, this, [this] { showRefusal(engine.stepBack(1)); });
    connect(reverseGo, &QPushButton::clicked, this, [this] { showRefusal(engine.reverseGo()); });
    auto* runRow = new QHBoxLayout;
    for (QPushButton* b : {go, animate, stop, stepInto, stepOver, stepBack, reverseGo})
        runRow->addWidget(b);
    status = new QLabel;
    status->setObjectName(QStringLiteral("status"));
    status->setFrameShape(QFrame::Panel);
    status->setFrameShadow(QFrame::Sunken);
    status->setMinimumHeight(QFontMetrics(font()).height() + 6);

    auto* right = new QVBoxLayout;
    right->addWidget(registers);
    right->addWidget(trace);
    right->addWidget(dump);
    right->addWidget(breaks);
    right->addStretch(1);
    auto* columns = new QHBoxLayout;
    columns->addWidget(listingGroup, 1);
    columns->addLayout(right);
    auto* all = new QVBoxLayout(this);
    all->addLayout(columns);
    all->addLayout(runRow);
    all->addWidget(status);

    runControlList = {hexdumpButton, disassemble, stepInto, stepOver, animate, go, clearBreaks, clearList,
                      address,       symbols_,    breakFields[0], breakFields[1], breakFields[2], reg, length,
                      stepBack,      reverseGo};
}

// Only our own controls get a text; the parts Qt builds inside a control (a
// listing's viewport and scroll bars) have none, so hovering them shows the
// control's own.
void DebuggerWindow::addTooltips() {
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")) ||
            qobject_cast<QGroupBox*>(w) != nullptr)
            continue;
        const QByteArray name = w->objectName().toLatin1();
        const auto* entry = std::find_if(std::begin(tooltips), std::end(tooltips),
                                         [&](const auto& e) { return name == e.first; });
        w->setToolTip(QLatin1String(entry != std::end(tooltips) ? entry->second : noTooltip));
    }
}

void DebuggerWindow::addKeys() {
    const std::pair<QKeySequence, const char*> keys[] = {
        {QKeySequence(Qt::Key_F5), "go"},           {QKeySequence(Qt::Key_F9), "animate"},
        {QKeySequence(Qt::SHIFT | Qt::Key_F5), "stop"}, {QKeySequence(Qt::Key_F11), "stepInto"},
        {QKeySequence(Qt::Key_F10), "stepOver"},   {QKeySequence(Qt::SHIFT | Qt::Key_F11), "stepBack"},
        {QKeySequence(Qt::SHIFT | Qt::Key_F8), "reverseGo"}};
    for (const auto& [key, name] : keys) {
        QPushButton* target = button(name);
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        // Through the button, so a disabled run control stays disabled.
        connect(shortcut, &QShortcut::activated, target, [target] {
            if (target->isEnabled())
                target->click();
        });
    }
    addWindowKeys(this);
}

void DebuggerWindow::addWindowKeys(QWidget* window) {
    auto* points = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_B), window);
    points->setContext(Qt::WindowShortcut);
    connect(points, &QShortcut::activated, this, &DebuggerWindow::openBreakpoints);
    auto* bytes = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), window);
    bytes->setContext(Qt::WindowShortcut);
    connect(bytes, &QShortcut::activated, this, &DebuggerWindow::openMemory);
}

void DebuggerWindow::showRefusal(const std::string& problem) {
    if (!problem.empty())
        setStatus(problem);
}

HexdumpWindow* DebuggerWindow::hexdump() const { return hexdumpWindow; }
RegisterEditor* DebuggerWindow::registerEditor() const { return editor; }
BreakpointsWindow* DebuggerWindow::breakpoints() const { return breakpointsWindow; }
MemoryWindow* DebuggerWindow::memory() const { return memoryWindow; }

QPushButton* DebuggerWindow::button(const char* objectName) const {
    return findChild<QPushButton*>(QLatin1String(objectName));
}
QLineEdit* DebuggerWindow::field(const char* objectName) const {
    return findChild<QLineEdit*>(QLatin1String(objectName));
}
QRadioButton* DebuggerWindow::radio(const char* objectName) const {
    return findChild<QRadioButton*>(QLatin1String(objectName));
}

void DebuggerWindow::setStatus(std::string_view text) {
    status->setText(latin1(text));
    if (!shownTimer.isActive())
        shownTimer.start();
}
void DebuggerWindow::setRegisterField(RegisterPair pair, std::string_view text) {
    registerFields[static_cast<int>(pair)]->setText(latin1(text));
}
// Comes with every instruction shown, under the same engine lock as the hold
// that may follow: once this is shown, a machine held there can be read.
void DebuggerWindow::setFlagsField(std::string_view text) {
    flags->setText(latin1(text));
    if (!shownTimer.isActive())
        shownTimer.start();
}
void DebuggerWindow::setBreakpointLabel(int n, std::string_view text) { breakLabels[n - 1]->setText(latin1(text)); }
void DebuggerWindow::setBreakpointField(int n, std::string_view text) { breakFields[n - 1]->setText(latin1(text)); }
std::string DebuggerWindow::getBreakpointField(int n) { return bytes(breakFields[n - 1]->text()); }
std::string DebuggerWindow::getAddressField() { return bytes(address->text()); }
std::string DebuggerWindow::getLengthField() { return bytes(length->text()); }

void DebuggerWindow::listingAppend(std::string_view text) {
    QString chunk = latin1(text);
    chunk.remove(QLatin1Char('\r'));
    QTextCursor cursor(listing_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(chunk);
    listing_->verticalScrollBar()->setValue(listing_->verticalScrollBar()->maximum());
}

void DebuggerWindow::listingClear() { listing_->clear(); }

void DebuggerWindow::enableRunControls(bool enabled) {
    for (QWidget* w : runControlList)
        w->setEnabled(enabled);
    if (!shownTimer.isActive())
        shownTimer.start();
    // A stop: exec points and counting points have their new counts.
    if (enabled && !pointsTimer.isActive())
        pointsTimer.start();
}

void DebuggerWindow::appendLog(std::string_view text) {
    pendingLog += latin1(text);
    pendingLog += QLatin1Char('\n');
    if (!logTimer.isActive())
        logTimer.start();
    if (!pointsTimer.isActive())
        pointsTimer.start();
}

void DebuggerWindow::pointsChanged() {
    if (!pointsTimer.isActive())
        pointsTimer.start();
}

void DebuggerWindow::appendDumpLine(std::string_view line) {
    if (hexdumpWindow)
        hexdumpWindow->appendDumpLine(latin1(line));
}

void DebuggerWindow::refillSymbolBox() {
    if (!symbols || !symbols->listChanged)
        return;
    QStringList names;
    for (int i = 0;; ++i) {
        const char* name = dataMode ? symbols->dataItem(i) : symbols->functionItem(i);
        if (name == nullptr)
            break;
        names << QString::fromLatin1(name);
    }
    names.sort(Qt::CaseInsensitive);
    symbols_->clear();
    symbols_->addItems(names);
    symbols->listChanged = false;
}

void DebuggerWindow::copySymbolAddress(int index) {
    if (index < 0 || !symbols)
        return;
    // Back to the table's own bytes: the names came in as Latin-1.
    if (const auto value = symbols->findSymbol(bytes(symbols_->itemText(index))))
        address->setText(QString::number(static_cast<uint32_t>(*value), 16).toUpper());
}

void DebuggerWindow::hexdumpChosen() {
    if (!hexdumpWindow)
        hexdumpWindow = new HexdumpWindow(this, settings);
    hexdumpWindow->show();
    hexdumpWindow->raise();
    hexdumpWindowCreated = true;
    engine.requestHexdump();
}

void DebuggerWindow::regChosen() {
    if (!editor)
        editor = new RegisterEditor(engine, host, this);
    editor->show();
    editor->raise();
}

void DebuggerWindow::openBreakpoints() {
    if (!breakpointsWindow) {
        breakpointsWindow = new BreakpointsWindow(engine, *this, settings);
        addWindowKeys(breakpointsWindow);
    }
    breakpointsWindow->show();
    breakpointsWindow->raise();
    breakpointsWindow->activateWindow();
}

void DebuggerWindow::openMemory() {
    if (!memoryWindow) {
        memoryWindow = new MemoryWindow(engine, *this, settings);
        addWindowKeys(memoryWindow);
    }
    memoryWindow->show();
    memoryWindow->raise();
    memoryWindow->activateWindow();
}

void DebuggerWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;  // the window manager showing it again (restored from an icon)
    if (!placed) {
        placed = true;
        placeOnScreen(this, settings.windowPosition(QStringLiteral("Window")));
    }
    takeUpEngine();
}

void DebuggerWindow::takeUpEngine() {
    traceOff->setChecked(true);
    dataRadio->setChecked(true);
    dataMode = true;
    engine.windowShown();
}

void DebuggerWindow::closeEvent(QCloseEvent* event) {
    engine.switchOff();  // resets the run state too: a held machine runs on
    if (hexdumpWindow)
        hexdumpWindow->hide();
    if (editor)
        editor->hide();
    // Points fire only while the engine is on; neither window has anything live to show now.
    if (breakpointsWindow)
        breakpointsWindow->hide();
    if (memoryWindow)
        memoryWindow->hide();
    QWidget::closeEvent(event);
}

void DebuggerWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (placed && isVisible()) {
        settings.setWindowPosition(QStringLiteral("Window"), pos());
    }
}

bool DebuggerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut &&
        std::find(breakFields.begin(), breakFields.end(), watched) != breakFields.end())
        engine.readBreakpointFields();
    return QWidget::eventFilter(watched, event);
}
