#include "forms/table/TableWindow.h"

#include "engine/TableValues.h"

#include "core/AdminMode.h"
#include "engine/CatalogGate.h"
#include "engine/CellNumbering.h"
#include "engine/Checksums.h"
#include "engine/EngineError.h"
#include "engine/SummaryMembers.h"
#include "engine/ValueMatrix.h"
#include "engine/Conditions.h"
#include "core/ListWindow.h"
#include "engine/ProgressSink.h"
#include "core/ProgressWindow.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "engine/NumberFormat.h"
#include "platform/Errors.h"
#include "forms/shared/AdmFormLogic.h"
#include "forms/table/FormNavigator.h"
#include "forms/structure/StructureEdit.h"
#include "forms/table/StructureEditDialog.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableLayout.h"
#include "forms/table/TableWindowData.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "widgets/WindowLayout.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QColor kHighlight = colorFromValue(16776960);   // red 0, green 255, blue 255
const QColor kWhite(255, 255, 255);
const QColor kTemplateMark = colorFromValue(65280);   // green
constexpr int kLeftMark = 16711680;                   // blue
constexpr int kRightMark = 255;                       // red

QMenu *subMenu(QMenuBar *bar, const QString &caption, bool admin = false) {
    QMenu *m = bar->addMenu(caption);
    if (admin) m->menuAction()->setProperty("Tag", kAdminTag);
    return m;
}

QAction *item(QMenu *menu, const QString &caption, bool admin = false) {
    QAction *a = menu->addAction(caption);
    if (admin) a->setProperty("Tag", kAdminTag);
    return a;
}

// Shows the recalculation's progress in the window's gauge.
class GaugeSink : public ProgressSink {
public:
    explicit GaugeSink(QProgressBar *bar) : m_bar(bar) {}
    void setMax(int max) override { m_bar->setMaximum(std::max(1, max)); QApplication::processEvents(); }
    void setPosition(int position) override { m_bar->setValue(position); QApplication::processEvents(); }
    void setStatusText(const QString &) override {}
    void setDetailText(const QString &) override {}
private:
    QProgressBar *m_bar;
};

QList<QPair<int, TableWindowExtension>> &extensions() {
    static QList<QPair<int, TableWindowExtension>> list;
    return list;
}

CellControlsOpener &cellControlsOpener() {
    static CellControlsOpener opener;
    return opener;
}

} // namespace

int registerTableWindowExtension(const TableWindowExtension &extension) {
    static int next = 0;
    extensions().append({++next, extension});
    return next;
}

void setCellControlsOpener(const CellControlsOpener &opener) { cellControlsOpener() = opener; }

TVTable::TVTable(const TableWindowParams &params, const WorkContext &work, QWidget *parent,
                 FormNavigator *tables)
    : QDialog(parent), m_params(params), m_work(work), m_tables(tables) {
    setObjectName(QStringLiteral("VTable"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    setFont(f);
    setWindowTitle(QApplication::applicationName() + u' ');

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(4, 0, 4, 4);
    top->setSpacing(2);
    m_ui.menuBar = new QMenuBar(this);
    winutil::compactMenuBar(m_ui.menuBar);
    top->setMenuBar(m_ui.menuBar);

    m_ui.position = new QLabel(this);
    m_ui.formCaption = new QLabel(this);
    m_ui.tableCaption = new QLabel(this);
    m_ui.reference = new QLabel(this);
    for (QLabel *l : {m_ui.formCaption, m_ui.tableCaption, m_ui.reference}) l->setAlignment(Qt::AlignCenter);
    QFont bold = f;
    bold.setBold(true);
    m_ui.formCaption->setFont(bold);
    m_ui.tableCaption->setFont(bold);
    m_ui.reference->setWordWrap(true);
    m_ui.progress = new QProgressBar(this);
    m_ui.progress->setVisible(false);
    auto *head = new QHBoxLayout;
    head->addWidget(m_ui.position);
    head->addStretch(1);
    head->addWidget(m_ui.progress);
    top->addLayout(head);
    top->addWidget(m_ui.formCaption);
    top->addWidget(m_ui.tableCaption);
    top->addWidget(m_ui.reference);

    m_ui.grid = new TableGrid(this);
    m_ui.grid->setFont(f);
    top->addWidget(m_ui.grid, 1);
    m_ui.grid->setCellPainter([this](QPainter &p, const QRect &r, int c, int row) { drawCell(p, r, c, row); });
    m_ui.grid->setCellChoice([this](int c, int r) { return selectGridCell(c, r); });
    m_ui.grid->installEventFilter(this);
    connect(m_ui.grid, &TableGrid::cellDoubleClicked, this, [this](int, int) { markOrOpenCell(); });
    connect(m_ui.grid, &TableGrid::currentCellChanged, this, [this](int, int) { setPositionLabel(); });
    connect(m_ui.grid, &TableGrid::titleDoubleClicked, this, &TVTable::editTitle);

    buildMenu();
    RegisterAdminForm(this);
    // Maximised; the normal size fills the screen too, for window systems
    // that do not maximise dialogs.
    if (QScreen *sc = parent ? parent->screen() : QGuiApplication::primaryScreen())
        setGeometry(sc->availableGeometry());
    else
        resize(1000, 700);
    setWindowState(Qt::WindowMaximized);

    // Commands by mode.
    m_ui.breakdownMenu->setVisible(m_work.mode != ReportMode::Input);
    m_ui.recalculate->setVisible(m_work.mode == ReportMode::Svod || m_work.net);
    if (m_work.net) {
        ShowFormulaCells = true;
        m_ui.highlightFormulas->setChecked(true);
        m_ui.breakdownRow->setVisible(false);
    }
    m_ui.loadMenu->setVisible(m_work.mode == ReportMode::Input || m_work.mode == ReportMode::Svod);
    const auto registered = extensions();
    for (const auto &extend : registered) extend.second(*this);

    // By institution types, and over a territory's institutions, the cells
    // are sums over many institutions: they are shown, not typed into,
    // cleared or loaded (as the forms tree of the same window hides them).
    if (isSumView()) {
        m_ui.clear->setVisible(false);
        m_ui.loadMenu->setVisible(false);
        for (QAction *a : {m_ui.clear, m_ui.loadFromFile, m_ui.loadFromExcel}) a->setEnabled(false);
    }
}

TVTable::~TVTable() = default;

// The menu bar, left to right; the items other windows connect stay
// disabled until they do.
void TVTable::buildMenu() {
    addStepAndControlItems();
    addRuleMenus();
    addValueMenus();
    addStructureMenus();

    m_ui.exit = m_ui.menuBar->addAction(QStringLiteral("Выход"));

    // Commands of the breakdown, the rule editor, Excel and structure editing
    // are connected by their own windows; they do nothing until then.
    for (QAction *a : {m_ui.breakdownCell, m_ui.breakdownRow, m_ui.breakdownColumn, m_ui.setupOuterLine,
                       m_ui.setupInnerLine, m_ui.setupCell, m_ui.loadFromExcel, m_ui.excelToOpenBook,
                       m_ui.excelToNewBook, m_ui.excelToFile})
        a->setEnabled(false);
    connectMenuSlots();
}

// "Пред. таблица", "След. таблица", "Контроль", "Подсветка", "Очистить", "Ошибки".
void TVTable::addStepAndControlItems() {
    m_ui.previous = m_ui.menuBar->addAction(QStringLiteral("Пред. таблица"));
    m_ui.previous->setToolTip(QStringLiteral("Перейти к предыдущей таблице - Shift+Tab"));
    m_ui.next = m_ui.menuBar->addAction(QStringLiteral("След. таблица"));
    m_ui.next->setToolTip(QStringLiteral("Перейти к следующей таблице - Tab"));
    m_ui.control = m_ui.menuBar->addAction(QStringLiteral("Контроль"));
    m_ui.control->setToolTip(QStringLiteral("Контроль таблицы - F3"));
    m_ui.control->setShortcut(Qt::Key_F3);
    addAction(m_ui.control);

    QMenu *light = subMenu(m_ui.menuBar, QStringLiteral("Подсветка"));
    m_ui.highlightMenu = light->menuAction();
    m_ui.highlightFormulas = item(light, QStringLiteral("Формулы"), true);
    m_ui.highlightControls = item(light, QStringLiteral("Контроли"));
    m_ui.highlightFormulas->setCheckable(true);
    m_ui.highlightControls->setCheckable(true);

    m_ui.clear = m_ui.menuBar->addAction(QStringLiteral("Очистить"));
    m_ui.clear->setToolTip(QStringLiteral("\"Обнуление\" таблицы"));

    QMenu *errors = subMenu(m_ui.menuBar, QStringLiteral("Ошибки"));
    m_ui.errorsMenu = errors->menuAction();
    m_ui.errorList = item(errors, QStringLiteral("Список"));
    m_ui.correction = item(errors, QStringLiteral("Корректировка"));
    m_ui.correction->setCheckable(true);
    m_ui.errorsMenu->setVisible(false);
}

// "Группировать", "Разрезать", "Пересчитать таблицу", "Настройка".
void TVTable::addRuleMenus() {
    QMenu *group = subMenu(m_ui.menuBar, QStringLiteral("Группировать"), true);
    m_ui.groupMenu = group->menuAction();
    m_ui.groupMenu->setVisible(false);
    m_ui.byColumns = item(group, QStringLiteral("По столбцам"));
    m_ui.byRows = item(group, QStringLiteral("По строкам"));
    m_ui.byColumns->setCheckable(true);
    m_ui.byRows->setCheckable(true);
    m_ui.byRows->setChecked(true);

    QMenu *cut = subMenu(m_ui.menuBar, QStringLiteral("Разрезать"), true);
    m_ui.breakdownMenu = cut->menuAction();
    m_ui.breakdownCell = item(cut, QStringLiteral("Ячейку"));
    m_ui.breakdownRow = item(cut, QStringLiteral("Строку"));
    m_ui.breakdownColumn = item(cut, QStringLiteral("Графу"));

    m_ui.recalculate = m_ui.menuBar->addAction(QStringLiteral("Пересчитать таблицу"));
    m_ui.recalculate->setVisible(false);

    QMenu *setup = subMenu(m_ui.menuBar, QStringLiteral("Настройка"));
    m_ui.setupMenu = setup->menuAction();
    m_ui.setupMenu->setVisible(false);
    m_ui.setupOuterLine = item(setup, QStringLiteral("Строка"));
    m_ui.setupInnerLine = item(setup, QStringLiteral("Столбец"));
    m_ui.setupCell = item(setup, QStringLiteral("Ячейка"));
}

// "Подгрузить таблицу", "Нецелые", "В Excel", "Контрольная сумма".
void TVTable::addValueMenus() {
    QMenu *load = subMenu(m_ui.menuBar, QStringLiteral("Подгрузить таблицу"));
    m_ui.loadMenu = load->menuAction();
    m_ui.loadMenu->setVisible(false);
    m_ui.loadFromFile = item(load, QStringLiteral("Подгрузить из файла передачи"));
    m_ui.loadFromExcel = item(load, QStringLiteral("Подгрузить из Excel"));

    QMenu *decimals = subMenu(m_ui.menuBar, QStringLiteral("Нецелые"));
    m_ui.decimalsMenu = decimals->menuAction();
    m_ui.decimalsMenu->setVisible(false);
    m_ui.decimalsYes = item(decimals, QStringLiteral("Да"));
    m_ui.decimalsNo = item(decimals, QStringLiteral("Нет"));
    m_ui.decimalsYes->setCheckable(true);
    m_ui.decimalsNo->setCheckable(true);

    QMenu *excel = subMenu(m_ui.menuBar, QStringLiteral("В Excel"));
    m_ui.excelMenu = excel->menuAction();
    m_ui.excelToOpenBook = item(excel, QStringLiteral("В открытую книгу"));
    m_ui.excelToNewBook = item(excel, QStringLiteral("В новую книгу"));
    m_ui.excelToFile = item(excel, QStringLiteral("В существующий файл"));

    QMenu *sum = subMenu(m_ui.menuBar, QStringLiteral("Контрольная сумма"), true);
    m_ui.checksumMenu = sum->menuAction();
    m_ui.checksumMenu->setVisible(false);
    m_ui.checksumColumn = item(sum, QStringLiteral("по графе"));
    m_ui.checksumRow = item(sum, QStringLiteral("по строке"));
}

// "Добавить" and "Удалить": rows and columns of the table's structure.
void TVTable::addStructureMenus() {
    QMenu *add = subMenu(m_ui.menuBar, QStringLiteral("Добавить"), true);
    m_ui.addMenu = add->menuAction();
    m_ui.addMenu->setVisible(false);
    QMenu *addRow = add->addMenu(QStringLiteral("Строку"));
    QMenu *rowTitles = addRow->addMenu(QStringLiteral("заголовков"));
    m_ui.rowTitles = rowTitles->menuAction();
    m_ui.rowTitles->setVisible(false);
    QMenu *rowData = addRow->addMenu(QStringLiteral("данных"));
    m_ui.rowBefore = rowData->addAction(QStringLiteral("перед текущей"));
    m_ui.rowAfter = rowData->addAction(QStringLiteral("после текущей"));
    QMenu *addColumn = add->addMenu(QStringLiteral("Графу"));
    QMenu *columnTitles = addColumn->addMenu(QStringLiteral("заголовков"));
    m_ui.columnTitles = columnTitles->menuAction();
    m_ui.columnTitles->setVisible(false);
    QMenu *columnData = addColumn->addMenu(QStringLiteral("данных"));
    m_ui.columnBefore = columnData->addAction(QStringLiteral("перед текущей"));
    m_ui.columnAfter = columnData->addAction(QStringLiteral("после текущей"));
    QMenu *del = subMenu(m_ui.menuBar, QStringLiteral("Удалить"), true);
    m_ui.deleteMenu = del->menuAction();
    m_ui.deleteRow = item(del, QStringLiteral("Строку"));
    m_ui.deleteColumn = item(del, QStringLiteral("Столбец"));
}

// The window's own commands.
void TVTable::connectMenuSlots() {
    connect(m_ui.previous, &QAction::triggered, this, &TVTable::showPreviousTable);
    connect(m_ui.next, &QAction::triggered, this, &TVTable::showNextTable);
    connect(m_ui.control, &QAction::triggered, this, &TVTable::controlTable);
    connect(m_ui.exit, &QAction::triggered, this, &TVTable::exitTable);
    connect(m_ui.clear, &QAction::triggered, this, &TVTable::clearTable);
    connect(m_ui.errorList, &QAction::triggered, this, &TVTable::showErrorList);
    connect(m_ui.correction, &QAction::triggered, this, &TVTable::switchCorrectionMode);
    connect(m_ui.byColumns, &QAction::triggered, this, &TVTable::groupByColumns);
    connect(m_ui.byRows, &QAction::triggered, this, &TVTable::groupByRows);
    connect(m_ui.recalculate, &QAction::triggered, this, &TVTable::recalculateTable);
    connect(m_ui.loadFromFile, &QAction::triggered, this, &TVTable::loadTableFromFile);
    connect(m_ui.decimalsYes, &QAction::triggered, this, &TVTable::showDecimals);
    connect(m_ui.decimalsNo, &QAction::triggered, this, &TVTable::hideDecimals);
    connect(m_ui.checksumColumn, &QAction::triggered, this, &TVTable::checksumColumn);
    connect(m_ui.checksumRow, &QAction::triggered, this, &TVTable::checksumRow);
    connect(m_ui.highlightFormulas, &QAction::triggered, this, &TVTable::highlightFormulas);
    connect(m_ui.highlightControls, &QAction::triggered, this, &TVTable::highlightControls);
    connect(m_ui.rowBefore, &QAction::triggered, this, &TVTable::insertRowBefore);
    connect(m_ui.rowAfter, &QAction::triggered, this, &TVTable::insertRowAfter);
    connect(m_ui.columnBefore, &QAction::triggered, this, &TVTable::insertColumnBefore);
    connect(m_ui.columnAfter, &QAction::triggered, this, &TVTable::insertColumnAfter);
    connect(m_ui.deleteRow, &QAction::triggered, this, &TVTable::deleteRow);
    connect(m_ui.deleteColumn, &QAction::triggered, this, &TVTable::deleteColumn);
}

// ---- Opening ----------------------------------------------------------------

void TVTable::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TVTable::FormActivate() {
    TableLoading = false;
    if (ShowPending) {
        ShowPending = false;
        if (!TableShow()) return;
    }
    if (!m_work.net && m_work.includeList.isEmpty()) m_ui.breakdownMenu->setEnabled(false);
    setPositionLabel();
}

void TVTable::closeLater() {
    m_closing = true;
    QTimer::singleShot(0, this, [this] { QDialog::reject(); });
}

tableedit::CellTarget TVTable::target() const {
    const SharedState &s = shared();
    return tableedit::CellTarget{m_work.table, s.Year, m_params.tableIdent, m_work.institution};
}

void TVTable::readValues() {
    m_table = RuleRun(RuleRunContext(m_work));
    if (!m_table.readTable(m_params.formName, m_params.tableNumber)) {
        // The engine does not know the table (caches not loaded): read it here.
        tableedit::readTableValues(db::connection(db::kData), target(), colcount, rowcount, fixcols, fixrows,
                                   m_table.matrix());
    }
}

// Dots per inch of the window's screen (96 where none is known).
static int screenDensity(const QWidget *w) { return w->logicalDpiY() > 0 ? w->logicalDpiY() : 96; }

bool TVTable::TableShow() {
    TableLoading = true;
    m_loaded = false;
    m_ui.grid->setVisible(false);
    m_ui.grid->clearAll();
    m_marks.clear();
    m_templateMarks.clear();
    try {
        TableDefinition def =
            readTableDefinition(db::connection(db::kMain), m_params.formId, m_params.tableNumber, screenDensity(this));
        if (!def.found) {
            TableLoading = false;
            showMessage(QStringLiteral("Таблица не определена!"), this);
            closeLater();
            return false;
        }
        colcount = def.colcount;
        rowcount = def.rowcount;
        fixcols = def.fixcols;
        fixrows = def.fixrows;
        scan = def.scan;
        m_params.tableIdent = def.ident;
        FloatTable = FloatDisplay = def.floattype;
        m_ui.decimalsYes->setChecked(def.floattype);
        m_ui.decimalsNo->setChecked(!def.floattype);
        m_ui.setupOuterLine->setText(scan != 0 ? QStringLiteral("Графа") : QStringLiteral("Строка"));
        m_ui.setupInnerLine->setText(scan != 0 ? QStringLiteral("Строка") : QStringLiteral("Графа"));
        if (!def.error.isEmpty()) {
            TableLoading = false;
            showMessage(def.error, this);
            closeLater();
            return false;
        }
        applyLayout(def);

        readValues();
        // The values are read through the caches of the year: when these
        // still know another structure of the table, the window reads them
        // itself for the structure it shows, so that no cell shows a 0 it
        // does not hold.
        if (const QString fault = tableedit::matrixShapeFault(m_table.matrix(), colcount, rowcount, fixcols, fixrows);
            !fault.isEmpty()) {
            showMessage(QStringLiteral("Ошибка при обращении к данным таблицы: %1. Таблица: %2, ID: %3")
                            .arg(fault, m_params.tableNumber)
                            .arg(m_params.tableIdent),
                        this);
            tableedit::readTableValues(db::connection(db::kData), target(), colcount, rowcount, fixcols, fixrows,
                                       m_table.matrix());
        }
        if (ShowFormulaCells) MarkFormulaCells(db::connection(db::kMain), m_params.tableIdent, colcount, rowcount, FormulaCellFlags);
        if (ShowControlCells) loadControlHighlight();

        m_ui.grid->resetCurrentCell(0, 0);
        HighLight(cells::structColumnOfGrid(0, fixcols), cells::structRowOfGrid(0, fixrows), kHighlight);
        m_ui.grid->setVisible(true);
        resetCurrentText();
        TableLoading = false;
        m_loaded = true;
        m_ui.grid->setFocus();
        m_ui.errorsMenu->setVisible(false);
        m_ui.grid->viewport()->update();
        return true;
    } catch (const std::exception &e) {
        TableLoading = false;
        const QString why = winutil::errorText(e);
        showMessage(QStringLiteral("Ошибка при открытии таблицы \"%1\" (ID: %2):\n%3\n\nПроверьте целостность данных в базе данных.")
                        .arg(m_params.tableNumber)
                        .arg(m_params.tableIdent)
                        .arg(why),
                    this);
        closeLater();
        return false;
    }
}

// ---- Cells ------------------------------------------------------------------

bool TVTable::isSumView() const {
    if (m_work.mode == ReportMode::Types) return true;
    // A territorial unit summed over its institutions (the territory
    // window's "Свод"): the institutions' values, not a report of its own.
    return m_work.table == ValueTable::Data && !m_work.net && !m_work.includeList.isEmpty();
}

bool TVTable::isTemplateView() const {
    return m_work.institution == 0 && !m_work.net && m_work.mode != ReportMode::Types;
}

double TVTable::cellValue(int column, int row) const {
    return m_table.matrix().at(cells::storedColumnOfGrid(column, fixcols), cells::storedRowOfGrid(row, fixrows));
}

QString TVTable::cellDisplayText(int column, int row) const {
    return tableedit::displayText(cellValue(column, row), FloatDisplay, cellMark(column, row) != 0);
}

void TVTable::resetCurrentText() {
    m_edit.reset(tableedit::displayText(cellValue(m_ui.grid->currentColumn(), m_ui.grid->currentRow()),
                                        FloatDisplay));
}

void TVTable::reformatCurrentText() {
    // Text typed but not saved yet stays; the stored value is shown in the
    // new format.
    const QString typed = m_edit.editText;
    const bool changed = m_edit.changed();
    resetCurrentText();
    if (changed) m_edit.editText = typed;
}

void TVTable::setPositionLabel() {
    m_ui.position->setText(QStringLiteral("Строка %1, Графа %2")
                        .arg(cells::refRowOfGrid(m_ui.grid->currentRow()))
                        .arg(cells::refColumnOfGrid(m_ui.grid->currentColumn(), fixcols)));
}

void TVTable::HighLight(int column, int row, const QColor &color) { m_ui.grid->highlightHeaders(column, row, color); }

void TVTable::drawCell(QPainter &p, const QRect &rect, int column, int row) {
    if (TableLoading || !m_table.matrix().isCreated()) {
        p.fillRect(rect, kWhite);
        return;
    }
    const QString key = MakeCellKey(row, column);
    const bool focused = column == m_ui.grid->currentColumn() && row == m_ui.grid->currentRow();
    const int mark = m_marks.value(key, 0);
    QColor background = kWhite;
    if (ShowFormulaCells) background = FormulaCellColor(&FormulaCellFlags, key);
    if (ShowControlCells) background = GetControlCellColor(&ControlCounts, key);
    if (m_templateMarks.contains(key)) background = kTemplateMark;
    if (focused) background = kHighlight;
    p.fillRect(rect, background);
    if (isTemplateView()) return;

    const QString text = focused ? m_edit.editText : cellDisplayText(column, row);
    QFont f = m_ui.grid->font();
    if (mark != 0) f.setBold(true);
    p.setFont(f);
    p.setPen(mark != 0 ? colorFromValue(mark) : QColor(Qt::black));
    const QFontMetrics fm(f);
    const int w = fm.horizontalAdvance(text);
    const int x = rect.left() + (rect.width() - w) / 2;
    const int y = rect.top() + (rect.height() - fm.height()) / 2;
    p.save();
    p.setClipRect(rect, Qt::IntersectClip);
    p.drawText(x, y + fm.ascent(), text);
    if (focused && m_ui.grid->hasFocus() && !isSumView()) {
        p.setPen(Qt::black);
        p.drawLine(x + w + 1, y + 1, x + w + 1, y + fm.height() - 1);
    }
    p.restore();
}

void TVTable::showTypingHint(const QString &hint) {
    // What the label shows for other reasons (a control error, a reference)
    // is not cleared by the hint.
    if (hint.isEmpty() && (m_typingHint.isEmpty() || m_ui.reference->text() != m_typingHint)) return;
    m_typingHint = hint;
    m_ui.reference->setText(hint);
}

bool TVTable::selectGridCell(int column, int row) {
    if (TableLoading) return true;
    if (!PutData()) return false;
    showTypingHint(QString());
    HighLight(cells::structColumnOfGrid(m_ui.grid->currentColumn(), fixcols),
              cells::structRowOfGrid(m_ui.grid->currentRow(), fixrows), kWhite);
    m_edit.reset(tableedit::displayText(cellValue(column, row), FloatDisplay));
    HighLight(cells::structColumnOfGrid(column, fixcols), cells::structRowOfGrid(row, fixrows), kHighlight);
    return true;
}

bool TVTable::PutData() {
    ValueMatrix &shown = m_table.matrix();
    if (!shown.isCreated() || !m_loaded) return true;
    const int c = m_ui.grid->currentColumn(), r = m_ui.grid->currentRow();
    const int sc = cells::storedColumnOfGrid(c, fixcols), sr = cells::storedRowOfGrid(r, fixrows);
    if (sc > shown.highColumn() || sr > shown.highRow() || !shown.contains(sc, sr)) {
        showMessage(QStringLiteral("Ошибка: выход за границы массива данных при сохранении. Колонка: %1, Строка: %2")
                        .arg(sc)
                        .arg(sr),
                    this);
        return true;
    }
    if (!m_edit.changed() || isTemplateView() || isSumView()) return true;
    const double value = tableedit::cellTextValue(m_edit.editText, FloatTable);
    if (!num::isStorableValue(value)) {
        showError(unstorableValueText(value, QStringLiteral("(Строка %1, Графа %2)")
                                                 .arg(cells::refRowOfGrid(r))
                                                 .arg(cells::refColumnOfGrid(c, fixcols))),
                  this);
        return false;
    }
    // The table may have changed under the window: a cell it no longer holds
    // is not written.
    if (const QString fault = tableedit::cellWriteFault(db::connection(db::kMain), m_params.tableIdent, sc, sr);
        !fault.isEmpty()) {
        showMessage(fault, this);
        m_edit.reset(tableedit::displayText(shown.at(sc, sr), FloatDisplay));
        m_ui.grid->updateCell(c, r);
        return true;
    }
    try {
        tableedit::SaveCellValue(db::connection(db::kData), target(), sc, sr, value);
    } catch (const std::exception &e) {
        const QString why = winutil::errorText(e);
        showError(QStringLiteral("Ошибка при сохранении данных (Строка %1, Графа %2): %3\n\nВведенное значение "
                                 "не сохранено. Ctrl+E восстанавливает сохраненное значение ячейки.")
                      .arg(cells::refRowOfGrid(r))
                      .arg(cells::refColumnOfGrid(c, fixcols))
                      .arg(why),
                  this);
        return false;
    }
    shown.set(sc, sr, value);
    m_edit.reset(tableedit::displayText(value, FloatDisplay));
    m_ui.grid->updateCell(c, r);
    return true;
}

// ---- Keys -------------------------------------------------------------------

bool TVTable::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_ui.grid && event->type() == QEvent::KeyPress)
        return handleKey(static_cast<QKeyEvent *>(event));
    return QDialog::eventFilter(watched, event);
}

void TVTable::keyPressEvent(QKeyEvent *event) {
    if (!handleKey(event)) QDialog::keyPressEvent(event);
}

bool TVTable::handleKey(QKeyEvent *e) {
    const int key = e->key();
    const auto mods = e->modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    try {
        // Keys of hidden commands (the rule editor hides them) do nothing.
        auto run = [](QAction *a, void (TVTable::*handler)(), TVTable *w) {
            if (a->isVisible() && a->isEnabled()) (w->*handler)();
            return true;
        };
        if (alt && key == Qt::Key_Right) return run(m_ui.next, &TVTable::showNextTable, this);
        if (alt && key == Qt::Key_Left) return run(m_ui.previous, &TVTable::showPreviousTable, this);
        if (key == Qt::Key_Tab && !ctrl) return run(m_ui.next, &TVTable::showNextTable, this);
        if (key == Qt::Key_Backtab) return run(m_ui.previous, &TVTable::showPreviousTable, this);
        if (ctrl && key == Qt::Key_E) {
            if (m_edit.undo()) m_ui.grid->viewport()->update();
            return true;
        }
        if (ctrl && (key == Qt::Key_Delete || (key == Qt::Key_Period && (mods & Qt::KeypadModifier)) ||
                     (key == Qt::Key_Comma && (mods & Qt::KeypadModifier)))) {
            if (isSumView()) return true;
            m_edit.clear();
            m_ui.grid->updateCell(m_ui.grid->currentColumn(), m_ui.grid->currentRow());
            return true;
        }
        switch (key) {
        case Qt::Key_F3: return run(m_ui.control, &TVTable::controlTable, this);
        case Qt::Key_F4:
            showMessage(QString::number(TableDataChecksum(m_work.table, m_work.institution, m_params.tableIdent)), this);
            return true;
        case Qt::Key_F8: m_ui.checksumMenu->setVisible(!m_ui.checksumMenu->isVisible()); return true;
        case Qt::Key_F9: {
            const tableedit::CellEditor before = m_edit;
            FloatDisplay = !FloatDisplay;
            FloatTable = !FloatTable;
            reformatCurrentText();
            // A separator refused just before goes on as typed.
            if (FloatTable) {
                m_edit.inRefusedFraction = before.inRefusedFraction;
                m_edit.continueRefusedFraction(before.editText);
            }
            showTypingHint(QString());
            m_ui.grid->viewport()->update();
            return true;
        }
        case Qt::Key_F5:
        case Qt::Key_F6:
        case Qt::Key_F7:
            if (m_work.net) {
                QAction *a = key == Qt::Key_F5   ? m_ui.setupOuterLine
                             : key == Qt::Key_F6 ? m_ui.setupInnerLine
                                                 : m_ui.setupCell;
                if (a->isEnabled()) a->trigger();
            }
            return true;
        case Qt::Key_F11:
            if (m_work.net) m_ui.setupMenu->setVisible(!m_ui.setupMenu->isVisible());
            return true;
        case Qt::Key_F12: m_ui.addMenu->setVisible(!m_ui.addMenu->isVisible()); return true;
        case Qt::Key_Escape:
            reject();
            return true;
        case Qt::Key_Space: {
            const auto m = tableedit::spaceMove(m_ui.grid->currentColumn(), m_ui.grid->currentRow(),
                                                m_ui.grid->columnCount(), m_ui.grid->rowCount());
            m_ui.grid->setCurrentCell(m.column, m.row);
            return true;
        }
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            const auto m = tableedit::enterMove(m_ui.grid->currentColumn(), m_ui.grid->currentRow(),
                                                m_ui.grid->columnCount(), m_ui.grid->rowCount());
            m_ui.grid->setCurrentCell(m.column, m.row);
            return true;
        }
        default: break;
        }
        if (ctrl || alt) return false;
        const QString t = e->text();
        if (key == Qt::Key_Backspace || (!t.isEmpty() && t[0].isPrint())) {
            if (!m_loaded || isTemplateView() || isSumView()) return true;
            const QChar ch = key == Qt::Key_Backspace ? QChar(u'\b') : t[0];
            if (m_edit.typeChar(ch, FloatTable)) {
                showTypingHint(QString());
                m_ui.grid->updateCell(m_ui.grid->currentColumn(), m_ui.grid->currentRow());
            } else if (m_edit.refused) {
                // Not a beep alone: the window says why and how to type a fraction.
                QApplication::beep();
                if (ch == u'.' || ch == u',') m_typingHintSeparator = ch;
                showTypingHint(tableedit::wholeNumberHint(m_typingHintSeparator));
            }
            return true;
        }
    } catch (const std::exception &ex) {
        const QString why = winutil::errorText(ex);
        showError(why, this);
        return true;
    }
    return false;
}

// ---- Closing ----------------------------------------------------------------

void TVTable::reject() {
    // A value that could not be saved keeps the window open (the message
    // named the cell); Ctrl+E takes the stored text back.
    if (!m_closing && !PutData()) return;
    m_closing = true;
    QDialog::reject();
}

void TVTable::exitTable() {
    try {
        if (!m_closing && !PutData()) return;
    } catch (const std::exception &e) {
        showMessage(QStringLiteral("Ошибка при выходе из таблицы: %1").arg(winutil::errorText(e)), this);
    }
    m_closing = true;
    QDialog::reject();
}

// ---- Next and previous ------------------------------------------------------

void TVTable::showPreviousTable() {
    if (m_ui.correction->isChecked()) stepError(false);
    else stepTable(false);
}

void TVTable::showNextTable() {
    if (m_ui.correction->isChecked()) stepError(true);
    else stepTable(true);
}

void TVTable::stepTable(bool forward) {
    FormNavigator *nav = m_tables;
    if (!nav) return;
    if (!PutData()) return;
    try {
        const std::optional<TableWindowParams> next = nav->nextTable(forward);
        if (!next) return;
        m_params = *next;
    } catch (const std::exception &e) {
        const QString why = winutil::errorText(e);
        showError(why, this);
        return;
    }
    m_ui.formCaption->setText(nav->currentFormText());
    m_ui.tableCaption->setText(nav->currentTableText());
    TableShow();
    setPositionLabel();
}

void TVTable::stepError(bool forward) {
    const int count = m_controlErrors.count();
    if (forward ? CurrentErrorIndex >= count - 1 : CurrentErrorIndex <= 0) return;
    ClearCellMarks();
    CurrentErrorIndex += forward ? 1 : -1;
    ShowControlError();
}

// ---- Whole table ------------------------------------------------------------

void TVTable::clearTable() {
    if (isSumView()) return;
    if (!confirm(QStringLiteral("Удалить содержимое таблицы?"), this)) return;
    try {
        tableedit::ClearTableValues(db::connection(db::kData), target());
        m_table.matrix().fill(0.0);
        m_edit.reset(QString());
        m_ui.grid->viewport()->update();
    } catch (const AppError &e) {
        showError(e.message(), this);
    }
}

void TVTable::recalculateTable() {
    try {
        SummaryMembers members;
        if (!m_work.net) members = RequireMembers(m_work.members, m_work.includeList, m_work.institution);
        m_table.matrix().fill(0.0);
        m_ui.grid->viewport()->update();
        if (m_work.net) {
            RuleRunContext context(m_work);
            context.roundResult = confirm(QStringLiteral("Округлять результат?"), this);
            RuleRun run(context);
            run.matrix() = m_table.matrix();
            run.calcConditions(m_params.tableIdent, [this](const QString &t) {
                m_ui.reference->setText(t);
                m_ui.reference->repaint();
            });
            run.saveTable(m_params.formId, m_params.tableNumber);
            m_table.matrix() = run.matrix();
            m_ui.reference->clear();
            if (!run.messages().isEmpty()) showError(UnreadableConditionsMessage(run.messages()), this);
        } else {
            m_ui.progress->setValue(0);
            m_ui.progress->setVisible(true);
            GaugeSink sink(m_ui.progress);
            ProgressPacer pacer(sink);
            m_table.sumInstitutions(m_params.formId, m_params.tableNumber, &pacer);
            m_table.saveTable(m_params.formId, m_params.tableNumber);
            m_ui.progress->setVisible(false);
        }
        m_ui.grid->viewport()->update();
        const QString note = members.unresolvedNote();
        showMessage(QStringLiteral("Готово!") + (note.isEmpty() ? QString() : QStringLiteral("\r\n") + note), this);
        resetCurrentText();
    } catch (const NoMembersError &e) {
        showWarning(e.message(), this);
    } catch (const std::exception &e) {
        m_ui.progress->setVisible(false);
        const QString why = winutil::errorText(e);
        showError(why, this);
        // Show what is stored, not a half-made sum.
        try { readValues(); } catch (const std::exception &) {}
        resetCurrentText();
        m_ui.grid->viewport()->update();
    }
}

void TVTable::loadTableFromFile() {
    if (isSumView()) return;
    SharedState &s = shared();
    if (!PutData()) return;
    const QString formName = m_params.formName;
    const QString caption = windowTitle();
    const int colon = int(caption.indexOf(QStringLiteral(": ")));
    const QString defaultName = colon >= 0 ? caption.mid(colon + 2) : QString();
    const QString folder = s.ConfigPath + s.yearText() + QStringLiteral("/data/");
    const QString filter = m_work.mode == ReportMode::Input ? QStringLiteral("Информация по ЛПУ (*.orv *.orw)")
                                                             : QStringLiteral("Сводные отчеты (*.rps *.rpd)");
    const QString file = dialogs().openFile(this, QStringLiteral("Подгрузить %1Т%2 из...").arg(formName, m_params.tableNumber),
                                            transfer::loadDialogStart(folder, defaultName), filter);
    try {
        if (!file.isEmpty() && m_work.table == ValueTable::Data) {
            // A file named for another institution or level: asked as the forms tree's load asks.
            const transfer::UnitNames units;
            for (const QString &question : {transfer::otherUnitQuestion(units, m_work.institution, file),
                                            transfer::levelQuestion(units, {file}, adm::levelName())})
                if (!question.isEmpty() && !confirmDefaultNo(question, this)) return;
        }
        if (!file.isEmpty()) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            struct CursorBack {
                ~CursorBack() { QApplication::restoreOverrideCursor(); }
            } back;
            const transfer::LoadResult r = transfer::loadTable(m_work.institution, file,
                                                               m_work.table, m_params.formId,
                                                               formName, m_params.tableIdent, m_params.tableNumber);
            showMessage(transfer::loadedMessage(
                            QStringLiteral("Таблица %1Т%2 загружена из %3").arg(formName, m_params.tableNumber, file),
                            r),
                        this);
        }
    } catch (const std::exception &e) {
        const QString why = winutil::errorText(e);
        showError(why, this);
    }
    try {
        readValues();
    } catch (const std::exception &e) {
        showError(winutil::errorText(e), this);
    }
    m_ui.grid->resetCurrentCell(0, 0);
    resetCurrentText();
    TableLoading = false;
    setPositionLabel();
    m_ui.grid->viewport()->update();
}

void TVTable::setFloat(bool on) {
    FloatDisplay = FloatTable = on;
    m_ui.decimalsYes->setChecked(on);
    m_ui.decimalsNo->setChecked(!on);
    try {
        gate::setTableFloat(db::connection(db::kMain), m_params.tableIdent, on);
    } catch (const AppError &e) {
        showError(e.message(), this);
    }
    reformatCurrentText();
    m_ui.grid->viewport()->update();
}

// ---- What other windows need -------------------------------------------------

void TVTable::setCaptions(const QString &form, const QString &table) {
    m_ui.formCaption->setText(form);
    m_ui.tableCaption->setText(table);
}
QString TVTable::formCaption() const { return m_ui.formCaption->text(); }
QString TVTable::tableCaption() const { return m_ui.tableCaption->text(); }
QString TVTable::positionText() const { return m_ui.position->text(); }
QString TVTable::markedReference() const { return m_ui.reference->text(); }
QString TVTable::typingHint() const {
    return m_ui.reference->text() == m_typingHint ? m_typingHint : QString();
}
bool TVTable::showsDecimals() const { return m_ui.decimalsYes->isChecked(); }
int TVTable::currentRow() const { return m_ui.grid->currentRow(); }
int TVTable::currentColumn() const { return m_ui.grid->currentColumn(); }
int TVTable::gridRowCount() const { return m_ui.grid->rowCount(); }
int TVTable::gridColumnCount() const { return m_ui.grid->columnCount(); }
const QList<GridTitle> &TVTable::gridTitles() const { return m_ui.grid->titles(); }
void TVTable::focusGrid() { m_ui.grid->setFocus(); }
void TVTable::setBreakdownVisible(bool visible) { m_ui.breakdownMenu->setVisible(visible); }

void TVTable::useAsExpressionBuilder() {
    m_ui.groupMenu->setVisible(true);
    for (QAction *a : {m_ui.previous, m_ui.next, m_ui.control, m_ui.clear}) a->setVisible(false);
}

QAction *TVTable::commandAction(Command command) const {
    switch (command) {
    case Command::BreakdownCell: return m_ui.breakdownCell;
    case Command::BreakdownRow: return m_ui.breakdownRow;
    case Command::BreakdownColumn: return m_ui.breakdownColumn;
    case Command::RuleOuterLine: return m_ui.setupOuterLine;
    case Command::RuleInnerLine: return m_ui.setupInnerLine;
    case Command::RuleCell: return m_ui.setupCell;
    case Command::ExcelToOpenBook: return m_ui.excelToOpenBook;
    case Command::ExcelToNewBook: return m_ui.excelToNewBook;
    case Command::ExcelToFile: return m_ui.excelToFile;
    case Command::LoadFromExcel: return m_ui.loadFromExcel;
    }
    return nullptr;
}

void TVTable::connectCommand(Command command, const std::function<void()> &handler) {
    QAction *a = commandAction(command);
    connect(a, &QAction::triggered, this, handler);
    a->setEnabled(true);
}

void TVTable::showDecimals() { setFloat(true); }
void TVTable::hideDecimals() { setFloat(false); }

void TVTable::checksumColumn() {
    QList<double> values;
    for (int r = 0; r < m_ui.grid->rowCount(); ++r) values.append(cellValue(m_ui.grid->currentColumn(), r));
    showMessage(QString::number(tableedit::valuesChecksum(values)), this);
}

void TVTable::checksumRow() {
    QList<double> values;
    for (int c = 0; c < m_ui.grid->columnCount(); ++c) values.append(cellValue(c, m_ui.grid->currentRow()));
    showMessage(QString::number(tableedit::valuesChecksum(values)), this);
}

// ---- Template view ----------------------------------------------------------

void TVTable::markOrOpenCell() {
    if (ShowControlCells) {
        // The rules touching the cell go to the control-rule editor.
        if (!cellControlsOpener()) return;
        try {
            const QList<CellRule> rules =
                CellControlRules(db::connection(db::kMain), m_params.formId, m_params.tableNumber, fixrows, fixcols,
                                 cells::refRowOfGrid(m_ui.grid->currentRow()),
                                 cells::refColumnOfGrid(m_ui.grid->currentColumn(), fixcols));
            cellControlsOpener()(*this, rules);
        } catch (const std::exception &e) {
            const QString why = winutil::errorText(e);
            showError(QStringLiteral("Ошибка при открытии контролей ячейки: ") + why, this);
        }
        return;
    }
    if (m_work.mode == ReportMode::Types || m_work.net) return;
    const QString key = MakeCellKey(m_ui.grid->currentRow(), m_ui.grid->currentColumn());
    if (!m_templateMarks.remove(key)) m_templateMarks.insert(key);
    m_ui.grid->viewport()->update();
    BuildMarkedReferenceText();
}

void TVTable::groupByColumns() {
    m_ui.byRows->setChecked(!m_ui.byColumns->isChecked());
    BuildMarkedReferenceText();
}

void TVTable::groupByRows() {
    m_ui.byColumns->setChecked(!m_ui.byRows->isChecked());
    BuildMarkedReferenceText();
}

void TVTable::BuildMarkedReferenceText() {
    QList<layout::CellPos> marks;
    for (const QString &key : std::as_const(m_templateMarks)) {
        const QStringList p = key.split(u',');
        marks.append(layout::CellPos{p.value(1).toInt(), p.value(0).toInt()});
    }
    m_ui.reference->setText(layout::markedReferenceText(marks, fixcols, m_ui.byRows->isChecked()));
}

// ---- Controls ---------------------------------------------------------------

void TVTable::ClearCellMarks() {
    m_marks.clear();
    m_ui.grid->viewport()->update();
    m_ui.reference->clear();
}

void TVTable::endCorrectionMode() {
    m_ui.correction->setChecked(false);
    m_ui.previous->setText(QStringLiteral("Пред. таблица"));
    m_ui.next->setText(QStringLiteral("След. таблица"));
    CurrentErrorIndex = 0;
    ClearCellMarks();
}

void TVTable::loadControlHighlight() {
    ControlCounts.clear();
    if (m_params.formId < 1 || m_params.tableNumber.isEmpty()) return;
    // The progress window shows only when there are rules to count.
    class ShowingSink : public ProgressSink {
    public:
        ~ShowingSink() override {
            if (m_shown) Progress().hide();
        }
        void setMax(int max) override {
            TProgress &p = Progress();
            if (!m_shown) p.show();
            m_shown = true;
            p.setMax(max);
        }
        void setPosition(int position) override { Progress().setPosition(position); }
        void setStatusText(const QString &text) override { Progress().setStatusText(text); }
        void setDetailText(const QString &text) override { Progress().setDetailText(text); }
    private:
        bool m_shown = false;
    } sink;
    LoadControlHighlight(db::connection(db::kMain), m_params.formId, m_params.tableNumber, ControlCounts, fixrows, fixcols,
                         &sink, {colcount, rowcount - fixrows});
}

void TVTable::controlTable() {
    if (!PutData()) return;
    try {
        m_controlErrors.clear();
        m_ui.errorsMenu->setVisible(false);
        RuleRun run{RuleRunContext(m_work)};
        if (m_ui.correction->isChecked()) endCorrectionMode();
        {
            QSqlQuery q = db::exec(db::kMain, QStringLiteral("select * from int_control where formid=? and "
                                                             "upper(trim(tble))=upper(trim(?))"),
                                   {m_params.formId, m_params.tableNumber});
            while (q.next()) run.addRule(q.record());
        }
        // The table's own rules name rows and columns only; the form and the
        // table they belong to complete them.
        QString number = m_params.tableNumber;
        if (number.startsWith(u'(')) number.remove(0, 1);
        if (number.endsWith(u')')) number.chop(1);
        run.runControls(m_params.formName + QStringLiteral("Т[") + number + u']');
        m_controlErrors = run.errors();
        if (ShowControlCells) loadControlHighlight();
        m_ui.grid->viewport()->update();
        if (m_controlErrors.count() > 0) {
            showMessage(QStringLiteral("Обнаружены ошибки - %1").arg(m_controlErrors.count()), this);
            m_ui.errorsMenu->setVisible(true);
        } else {
            showMessage(QStringLiteral("Ошибок контроля нет"), this);
        }
    } catch (const std::exception &e) {
        showError(winutil::errorText(e), this);
        m_ui.grid->viewport()->update();
    }
}

void TVTable::switchCorrectionMode() {
    // The action has already switched its tick.
    PutData();
    CurrentErrorIndex = 0;
    if (!m_ui.correction->isChecked()) {
        endCorrectionMode();
        return;
    }
    m_ui.previous->setText(QStringLiteral("Пред. ошибка"));
    m_ui.next->setText(QStringLiteral("След. ошибка"));
    ShowControlError();
}

void TVTable::ShowControlError() {
    if (CurrentErrorIndex < 0 || CurrentErrorIndex >= m_controlErrors.count()) return;
    const QString line = m_controlErrors.text(CurrentErrorIndex);
    try {
        QSqlQuery q = db::exec(db::kMain, QStringLiteral("select lft, rght from int_control where \"Код\"=?"),
                               {m_controlErrors.object(CurrentErrorIndex)});
        if (q.next()) {
            const QString cycle = ErrorCycleItem(line);
            const CellArea area{colcount, rowcount - fixrows};
            for (const MarkedCell &c : ExpressionCells(q.value(0).toString(), cycle, fixcols, area))
                m_marks.insert(MakeCellKey(c.row, c.column), kLeftMark);
            for (const MarkedCell &c : ExpressionCells(q.value(1).toString(), cycle, fixcols, area))
                m_marks.insert(MakeCellKey(c.row, c.column), kRightMark);
        }
    } catch (const ConversionError &e) {
        showError(e.message(), this);
    } catch (const AppError &e) {
        showError(e.message(), this);
    }
    m_ui.grid->viewport()->update();
    m_ui.reference->setText(line);
}

void TVTable::showErrorList() {
    PutData();
    TForm1 &list = Form1();
    list.setWindowTitle(windowTitle() + QStringLiteral(" - ошибки контроля: ") + m_params.formName + u'т' + m_params.tableNumber);
    ShowTextList(m_controlErrors, QStringLiteral("Цифры\tТек.\tКонтроль"));
    execModal(&list);
    m_ui.grid->setFocus();
}

void TVTable::highlightFormulas() {
    ShowFormulaCells = !ShowFormulaCells;
    m_ui.highlightFormulas->setChecked(ShowFormulaCells);
    try {
        if (ShowFormulaCells) {
            ShowControlCells = false;
            m_ui.highlightControls->setChecked(false);
            ControlCounts.clear();
            if (m_params.tableIdent > 0)
                MarkFormulaCells(db::connection(db::kMain), m_params.tableIdent, colcount, rowcount, FormulaCellFlags);
        } else {
            FormulaCellFlags.clear();
        }
    } catch (const AppError &e) {
        showError(e.message(), this);
    }
    m_ui.grid->viewport()->update();
}

void TVTable::highlightControls() {
    ShowControlCells = !ShowControlCells;
    m_ui.highlightControls->setChecked(ShowControlCells);
    try {
        if (ShowControlCells) {
            ShowFormulaCells = false;
            m_ui.highlightFormulas->setChecked(false);
            FormulaCellFlags.clear();
            loadControlHighlight();
        } else {
            ControlCounts.clear();
        }
    } catch (const std::exception &e) {
        const QString why = winutil::errorText(e);
        showError(why, this);
    }
    m_ui.grid->viewport()->update();
}

// ---- Structure ---------------------------------------------------------------

TableShape TVTable::shownShape() const {
    TableShape t;
    t.ident = m_params.tableIdent;
    t.colcount = colcount;
    t.rowcount = rowcount;
    t.fixcols = fixcols;
    t.fixrows = fixrows;
    return t;
}

void TVTable::changeStructure(bool rows, const std::function<int(const QSqlDatabase &, const QStringList &)> &change) {
    SharedState &s = shared();
    const qint64 ident = m_params.tableIdent;
    int line = 0;
    try {
        const QSqlDatabase d = db::connection(db::kMain);
        const QString openValues = db::isOpen(db::kData) ? db::fileOf(db::kData) : QString();
        line = change(d, structedit::yearValuesFiles(d, s.yearFolder(), openValues));
    } catch (const std::exception &e) {
        showError(winutil::errorText(e), this);
        return;
    }
    try {
        structedit::refreshTablesCache(db::connection(db::kMain), ident);
    } catch (const std::exception &e) {
        showMessage(QStringLiteral("Ошибка при обновлении кеша таблиц: ") + winutil::errorText(e), this);
    }
    m_ui.grid->resetCurrentCell(0, 0);
    TableShow();
    setPositionLabel();
    showRulesReferringFrom(rows, line);
}

// Rules keep their numbers when lines move: the ones that may now point at
// other cells are listed for the user to correct.
void TVTable::showRulesReferringFrom(bool rows, int line) {
    try {
        const QStringList found = structedit::rulesReferringFrom(db::connection(db::kMain), m_params.tableIdent, rows,
                                                                   line, shared().openYearFolder());
        if (found.isEmpty()) return;
        const int number = rows ? cells::refRowOfStruct(line, fixrows) : line;
        TForm1 &list = Form1();
        list.setWindowTitle(windowTitle() + QStringLiteral(" - правила и формулы"));
        ShowTextList(found, structedit::referringRulesHeader());
        list.setHeading(QStringLiteral("Номера строк и граф в правилах и формулах не изменены. Проверьте ссылки на %1 "
                                       "таблицы %2 формы %3 с номера %4:")
                            .arg(rows ? QStringLiteral("строки") : QStringLiteral("графы"), m_params.tableNumber,
                                 m_params.formName)
                            .arg(number));
        execModal(&list);
    } catch (const std::exception &e) {
        showError(QStringLiteral("Не удалось найти правила, ссылающиеся на таблицу: ") + winutil::errorText(e), this);
    }
}

void TVTable::insertRowBefore() {
    if (!m_loaded || !PutData()) return;
    const int g = m_ui.grid->currentRow(), h = structedit::defaultRowHeight(screenDensity(this));
    const TableShape seen = shownShape();
    changeStructure(true, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::insertDataRow(d, m_params.tableIdent, g, structedit::Place::Before, h, files, &seen);
    });
}

void TVTable::insertRowAfter() {
    if (!m_loaded || !PutData()) return;
    const int g = m_ui.grid->currentRow(), h = structedit::defaultRowHeight(screenDensity(this));
    const TableShape seen = shownShape();
    changeStructure(true, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::insertDataRow(d, m_params.tableIdent, g, structedit::Place::After, h, files, &seen);
    });
}

void TVTable::insertColumnBefore() {
    if (!m_loaded || !PutData()) return;
    const int k = m_ui.grid->currentColumn(), w = structedit::defaultColumnWidth(screenDensity(this));
    const TableShape seen = shownShape();
    changeStructure(false, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::insertDataColumn(d, m_params.tableIdent, k, structedit::Place::Before, w, files, &seen);
    });
}

void TVTable::insertColumnAfter() {
    if (!m_loaded || !PutData()) return;
    const int k = m_ui.grid->currentColumn(), w = structedit::defaultColumnWidth(screenDensity(this));
    const TableShape seen = shownShape();
    changeStructure(false, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::insertDataColumn(d, m_params.tableIdent, k, structedit::Place::After, w, files, &seen);
    });
}

void TVTable::deleteRow() {
    if (!m_loaded) return;
    if (rowcount - fixrows <= 1) {
        showMessage(QStringLiteral("Нельзя удалить последнюю строку данных"), this);
        return;
    }
    if (!confirm(QStringLiteral("Вы уверены, что хотите удалить эту строку?"), this)) return;
    if (!PutData()) return;
    const int g = m_ui.grid->currentRow();
    const TableShape seen = shownShape();
    changeStructure(true, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::deleteDataRow(d, m_params.tableIdent, g, files, &seen);
    });
}

void TVTable::deleteColumn() {
    if (!m_loaded) return;
    if (colcount - fixcols <= 1) {
        showMessage(QStringLiteral("Нельзя удалить последний столбец данных"), this);
        return;
    }
    if (!confirm(QStringLiteral("Вы уверены, что хотите удалить этот столбец?"), this)) return;
    if (!PutData()) return;
    const int k = m_ui.grid->currentColumn();
    const TableShape seen = shownShape();
    changeStructure(false, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::deleteDataColumn(d, m_params.tableIdent, k, files, &seen);
    });
}

void TVTable::applyLayout(TableDefinition &def) {
    const int cornerW = layout::sizeBefore(def.columnPixels, def.fixcols);
    const int cornerH = layout::sizeBefore(def.rowPixels, def.fixrows);
    m_ui.grid->setSizes(def.columnPixels.mid(def.fixcols), def.rowPixels.mid(def.fixrows), cornerW, cornerH);
    m_ui.grid->setTitles(std::move(def.titles));
}

void TVTable::editTitle(int titleIndex) {
    if (!m_loaded || titleIndex < 0 || titleIndex >= m_ui.grid->titles().size()) return;
    GridTitle title = m_ui.grid->titles().at(titleIndex);
    const int density = screenDensity(this);
    // Title fonts are shown scaled by 96 / density; the stored size is the
    // one the editor shows and writes.
    const int storedSize = std::max(1, int(std::lround(title.font.pointSize() * density / 96.0)));
    TTitles dlg(this);
    try {
        structedit::TitleContent c;
        c.fontName = title.font.family();
        c.fontSize = storedSize;
        c.bold = title.font.bold();
        c.italic = title.font.italic();
        c.tchars = title.tchars;
        c.text = title.text;
        const structedit::TitleSizes sizes = structedit::readTitleSizes(db::connection(db::kMain), m_params.tableIdent,
                                                                        title.column, title.row);
        const int lines = structedit::titleLineCount(sizes.hasHeight ? sizes.height : title.rect.height(), storedSize);
        dlg.setTitle(c, lines, sizes.hasWidth ? num::general(sizes.width) : QString());
    } catch (const std::exception &e) {
        showError(winutil::errorText(e), this);
        return;
    }
    if (execModal(&dlg) != QDialog::Accepted) return;
    const structedit::TitleContent c = dlg.content();
    try {
        const TableShape seen = shownShape();
        structedit::saveTitle(db::connection(db::kMain), m_params.tableIdent, title.column, title.row, c,
                              dlg.lineCount(), dlg.widthText(), &seen);
    } catch (const std::exception &e) {
        showError(winutil::errorText(e), this);
        return;
    }
    // The typed column width and line count change the layout: it is read
    // again, the values and the current cell kept.
    try {
        TableDefinition def = readTableDefinition(db::connection(db::kMain), m_params.formId, m_params.tableNumber,
                                                  screenDensity(this));
        if (def.found && def.error.isEmpty() && def.colcount == colcount && def.rowcount == rowcount) {
            applyLayout(def);
            m_ui.grid->setFocus();
            return;
        }
    } catch (const std::exception &) {
        // The edited title alone is redrawn below.
    }
    title.text = c.text;
    title.tchars = c.tchars;
    title.font = QFont(c.fontName);
    title.font.setPointSize(std::max(1, int(std::lround(c.fontSize * 96.0 / density))));
    title.font.setBold(c.bold);
    title.font.setItalic(c.italic);
    m_ui.grid->updateTitle(titleIndex, title);
    m_ui.grid->setFocus();
}
