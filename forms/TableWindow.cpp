#include "forms/TableWindow.h"

#include "engine/TableValues.h"

#include "core/AdminMode.h"
#include "engine/CatalogGate.h"
#include "engine/CellNumbering.h"
#include "engine/Common.h"
#include "engine/Conditions.h"
#include "core/ListWindow.h"
#include "engine/ProgressSink.h"
#include "core/ProgressWindow.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "engine/NumberFormat.h"
#include "platform/Errors.h"
#include "forms/AdmFormLogic.h"
#include "forms/FormNavigator.h"
#include "forms/StructureEdit.h"
#include "forms/StructureEditDialog.h"
#include "forms/TableGrid.h"
#include "forms/TableLayout.h"
#include "forms/TableWindowData.h"
#include "forms/TransferFiles.h"
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

TVTable::TVTable(const TableWindowParams &params, const WorkContext &work, QWidget *parent)
    : QDialog(parent), m_params(params), m_work(work) {
    setObjectName(QStringLiteral("VTable"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    setFont(f);
    setWindowTitle(QApplication::applicationName() + u' ');

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(4, 0, 4, 4);
    top->setSpacing(2);
    MainMenu1 = new QMenuBar(this);
    winutil::compactMenuBar(MainMenu1);
    top->setMenuBar(MainMenu1);

    Label4 = new QLabel(this);
    Label3 = new QLabel(this);
    Label2 = new QLabel(this);
    Label1 = new QLabel(this);
    for (QLabel *l : {Label3, Label2, Label1}) l->setAlignment(Qt::AlignCenter);
    QFont bold = f;
    bold.setBold(true);
    Label3->setFont(bold);
    Label2->setFont(bold);
    Label1->setWordWrap(true);
    Gauge1 = new QProgressBar(this);
    Gauge1->setVisible(false);
    auto *head = new QHBoxLayout;
    head->addWidget(Label4);
    head->addStretch(1);
    head->addWidget(Gauge1);
    top->addLayout(head);
    top->addWidget(Label3);
    top->addWidget(Label2);
    top->addWidget(Label1);

    StringGrid1 = new TableGrid(this);
    StringGrid1->setFont(f);
    top->addWidget(StringGrid1, 1);
    StringGrid1->cellPainter = [this](QPainter &p, const QRect &r, int c, int row) { drawCell(p, r, c, row); };
    StringGrid1->selectCell = [this](int c, int r) { return StringGrid1SelectCell(c, r); };
    StringGrid1->installEventFilter(this);
    connect(StringGrid1, &TableGrid::cellDoubleClicked, this, [this](int, int) { markOrOpenCell(); });
    connect(StringGrid1, &TableGrid::currentCellChanged, this, [this](int, int) { setPositionLabel(); });
    connect(StringGrid1, &TableGrid::titleDoubleClicked, this, &TVTable::editTitle);

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
    N11->setVisible(m_work.mode != ReportMode::Input);
    N14->setVisible(m_work.mode == ReportMode::Svod || m_work.net);
    if (m_work.net) {
        ShowFormulaCells = true;
        N52->setChecked(true);
        N34->setVisible(false);
    }
    N35->setVisible(m_work.mode == ReportMode::Input || m_work.mode == ReportMode::Svod);
    const auto registered = extensions();
    for (const auto &extend : registered) extend.second(*this);

    // By institution types, and over a territory's institutions, the cells
    // are sums over many institutions: they are shown, not typed into,
    // cleared or loaded (as the forms tree of the same window hides them).
    if (isSumView()) {
        N5->setVisible(false);
        N35->setVisible(false);
        for (QAction *a : {N5, N46, Excel2}) a->setEnabled(false);
    }
}

TVTable::~TVTable() = default;

void TVTable::buildMenu() {
    auto menu = [this](const QString &caption, bool admin = false) {
        QMenu *m = MainMenu1->addMenu(caption);
        if (admin) m->menuAction()->setProperty("Tag", kAdminTag);
        return m;
    };
    N1 = MainMenu1->addAction(QStringLiteral("Пред. таблица"));
    N1->setToolTip(QStringLiteral("Перейти к предыдущей таблице - Shift+Tab"));
    N2 = MainMenu1->addAction(QStringLiteral("След. таблица"));
    N2->setToolTip(QStringLiteral("Перейти к следующей таблице - Tab"));
    N3 = MainMenu1->addAction(QStringLiteral("Контроль"));
    N3->setToolTip(QStringLiteral("Контроль таблицы - F3"));
    N3->setShortcut(Qt::Key_F3);
    addAction(N3);

    QMenu *light = menu(QStringLiteral("Подсветка"));
    N51 = light->menuAction();
    N52 = item(light, QStringLiteral("Формулы"), true);
    N53 = item(light, QStringLiteral("Контроли"));
    N52->setCheckable(true);
    N53->setCheckable(true);

    N5 = MainMenu1->addAction(QStringLiteral("Очистить"));
    N5->setToolTip(QStringLiteral("\"Обнуление\" таблицы"));

    m_errorsMenu = menu(QStringLiteral("Ошибки"));
    N6 = m_errorsMenu->menuAction();
    N7 = item(m_errorsMenu, QStringLiteral("Список"));
    N12 = item(m_errorsMenu, QStringLiteral("Корректировка"));
    N12->setCheckable(true);
    N6->setVisible(false);

    QMenu *group = menu(QStringLiteral("Группировать"), true);
    N8 = group->menuAction();
    N8->setVisible(false);
    N9 = item(group, QStringLiteral("По столбцам"));
    N10 = item(group, QStringLiteral("По строкам"));
    N9->setCheckable(true);
    N10->setCheckable(true);
    N10->setChecked(true);

    QMenu *cut = menu(QStringLiteral("Разрезать"), true);
    N11 = cut->menuAction();
    N33 = item(cut, QStringLiteral("Ячейку"));
    N34 = item(cut, QStringLiteral("Строку"));
    N42 = item(cut, QStringLiteral("Графу"));

    N14 = MainMenu1->addAction(QStringLiteral("Пересчитать таблицу"));
    N14->setVisible(false);

    QMenu *setup = menu(QStringLiteral("Настройка"));
    N18 = setup->menuAction();
    N18->setVisible(false);
    N15 = item(setup, QStringLiteral("Строка"));
    N16 = item(setup, QStringLiteral("Столбец"));
    N32 = item(setup, QStringLiteral("Ячейка"));

    QMenu *load = menu(QStringLiteral("Подгрузить таблицу"));
    N35 = load->menuAction();
    N35->setVisible(false);
    N46 = item(load, QStringLiteral("Подгрузить из файла передачи"));
    Excel2 = item(load, QStringLiteral("Подгрузить из Excel"));

    QMenu *decimals = menu(QStringLiteral("Нецелые"));
    N36 = decimals->menuAction();
    N36->setVisible(false);
    N37 = item(decimals, QStringLiteral("Да"));
    N38 = item(decimals, QStringLiteral("Нет"));
    N37->setCheckable(true);
    N38->setCheckable(true);

    QMenu *excel = menu(QStringLiteral("В Excel"));
    Excel1 = excel->menuAction();
    N39 = item(excel, QStringLiteral("В открытую книгу"));
    N40 = item(excel, QStringLiteral("В новую книгу"));
    N41 = item(excel, QStringLiteral("В существующий файл"));

    QMenu *sum = menu(QStringLiteral("Контрольная сумма"), true);
    N43 = sum->menuAction();
    N43->setVisible(false);
    N44 = item(sum, QStringLiteral("по графе"));
    N45 = item(sum, QStringLiteral("по строке"));

    QMenu *add = menu(QStringLiteral("Добавить"), true);
    N13 = add->menuAction();
    N13->setVisible(false);
    QMenu *addRow = add->addMenu(QStringLiteral("Строку"));
    QMenu *rowTitles = addRow->addMenu(QStringLiteral("заголовков"));
    N21 = rowTitles->menuAction();
    N21->setVisible(false);
    QMenu *rowData = addRow->addMenu(QStringLiteral("данных"));
    N28 = rowData->addAction(QStringLiteral("перед текущей"));
    N29 = rowData->addAction(QStringLiteral("после текущей"));
    QMenu *addColumn = add->addMenu(QStringLiteral("Графу"));
    QMenu *columnTitles = addColumn->addMenu(QStringLiteral("заголовков"));
    N23 = columnTitles->menuAction();
    N23->setVisible(false);
    QMenu *columnData = addColumn->addMenu(QStringLiteral("данных"));
    N24 = columnData->addAction(QStringLiteral("перед текущей"));
    N25 = columnData->addAction(QStringLiteral("после текущей"));
    QMenu *del = menu(QStringLiteral("Удалить"), true);
    N47 = del->menuAction();
    N48 = item(del, QStringLiteral("Строку"));
    N49 = item(del, QStringLiteral("Столбец"));

    N4 = MainMenu1->addAction(QStringLiteral("Выход"));

    // Commands of the breakdown, the rule editor, Excel and structure editing
    // are connected by their own windows; they do nothing until then.
    for (QAction *a : {N33, N34, N42, N15, N16, N32, Excel2, N39, N40, N41}) a->setEnabled(false);

    connect(N1, &QAction::triggered, this, &TVTable::showPreviousTable);
    connect(N2, &QAction::triggered, this, &TVTable::showNextTable);
    connect(N3, &QAction::triggered, this, &TVTable::controlTable);
    connect(N4, &QAction::triggered, this, &TVTable::exitTable);
    connect(N5, &QAction::triggered, this, &TVTable::clearTable);
    connect(N7, &QAction::triggered, this, &TVTable::showErrorList);
    connect(N12, &QAction::triggered, this, &TVTable::switchCorrectionMode);
    connect(N9, &QAction::triggered, this, &TVTable::groupByColumns);
    connect(N10, &QAction::triggered, this, &TVTable::groupByRows);
    connect(N14, &QAction::triggered, this, &TVTable::recalculateTable);
    connect(N46, &QAction::triggered, this, &TVTable::loadTableFromFile);
    connect(N37, &QAction::triggered, this, &TVTable::showDecimals);
    connect(N38, &QAction::triggered, this, &TVTable::hideDecimals);
    connect(N44, &QAction::triggered, this, &TVTable::checksumColumn);
    connect(N45, &QAction::triggered, this, &TVTable::checksumRow);
    connect(N52, &QAction::triggered, this, &TVTable::highlightFormulas);
    connect(N53, &QAction::triggered, this, &TVTable::highlightControls);
    connect(N28, &QAction::triggered, this, &TVTable::insertRowBefore);
    connect(N29, &QAction::triggered, this, &TVTable::insertRowAfter);
    connect(N24, &QAction::triggered, this, &TVTable::insertColumnBefore);
    connect(N25, &QAction::triggered, this, &TVTable::insertColumnAfter);
    connect(N48, &QAction::triggered, this, &TVTable::deleteRow);
    connect(N49, &QAction::triggered, this, &TVTable::deleteColumn);
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
    if (!m_work.net && m_work.includeList.isEmpty()) N11->setEnabled(false);
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

bool TVTable::TableShow() {
    TableLoading = true;
    m_loaded = false;
    StringGrid1->setVisible(false);
    StringGrid1->clearAll();
    m_marks.clear();
    m_templateMarks.clear();
    try {
        const int density = logicalDpiY() > 0 ? logicalDpiY() : 96;
        TableDefinition def = readTableDefinition(db::connection(db::kMain), m_params.formId, m_params.tableNumber, density);
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
        N37->setChecked(def.floattype);
        N38->setChecked(!def.floattype);
        N15->setText(scan != 0 ? QStringLiteral("Графа") : QStringLiteral("Строка"));
        N16->setText(scan != 0 ? QStringLiteral("Строка") : QStringLiteral("Графа"));
        if (!def.error.isEmpty()) {
            TableLoading = false;
            showMessage(def.error, this);
            closeLater();
            return false;
        }
        const int cornerW = layout::sizeBefore(def.columnPixels, fixcols);
        const int cornerH = layout::sizeBefore(def.rowPixels, fixrows);
        StringGrid1->setSizes(def.columnPixels.mid(fixcols), def.rowPixels.mid(fixrows), cornerW, cornerH);
        StringGrid1->setTitles(std::move(def.titles));

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

        StringGrid1->resetCurrentCell(0, 0);
        HighLight(cells::structColumnOfGrid(0, fixcols), cells::structRowOfGrid(0, fixrows), kHighlight);
        StringGrid1->setVisible(true);
        resetCurrentText();
        TableLoading = false;
        m_loaded = true;
        StringGrid1->setFocus();
        N6->setVisible(false);
        StringGrid1->viewport()->update();
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
    m_edit.reset(tableedit::displayText(cellValue(StringGrid1->currentColumn(), StringGrid1->currentRow()),
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
    Label4->setText(QStringLiteral("Строка %1, Графа %2")
                        .arg(cells::refRowOfGrid(StringGrid1->currentRow()))
                        .arg(cells::refColumnOfGrid(StringGrid1->currentColumn(), fixcols)));
}

void TVTable::HighLight(int column, int row, const QColor &color) { StringGrid1->highlightHeaders(column, row, color); }

void TVTable::drawCell(QPainter &p, const QRect &rect, int column, int row) {
    if (TableLoading || !m_table.matrix().isCreated()) {
        p.fillRect(rect, kWhite);
        return;
    }
    const QString key = MakeCellKey(row, column);
    const bool focused = column == StringGrid1->currentColumn() && row == StringGrid1->currentRow();
    const int mark = m_marks.value(key, 0);
    QColor background = kWhite;
    if (ShowFormulaCells) background = FormulaCellColor(&FormulaCellFlags, key);
    if (ShowControlCells) background = GetControlCellColor(&ControlCounts, key);
    if (m_templateMarks.contains(key)) background = kTemplateMark;
    if (focused) background = kHighlight;
    p.fillRect(rect, background);
    if (isTemplateView()) return;

    const QString text = focused ? m_edit.editText : cellDisplayText(column, row);
    QFont f = StringGrid1->font();
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
    if (focused && StringGrid1->hasFocus() && !isSumView()) {
        p.setPen(Qt::black);
        p.drawLine(x + w + 1, y + 1, x + w + 1, y + fm.height() - 1);
    }
    p.restore();
}

bool TVTable::StringGrid1SelectCell(int column, int row) {
    if (TableLoading) return true;
    if (!PutData()) return false;
    HighLight(cells::structColumnOfGrid(StringGrid1->currentColumn(), fixcols),
              cells::structRowOfGrid(StringGrid1->currentRow(), fixrows), kWhite);
    m_edit.reset(tableedit::displayText(cellValue(column, row), FloatDisplay));
    HighLight(cells::structColumnOfGrid(column, fixcols), cells::structRowOfGrid(row, fixrows), kHighlight);
    return true;
}

bool TVTable::PutData() {
    ValueMatrix &shown = m_table.matrix();
    if (!shown.isCreated() || !m_loaded) return true;
    const int c = StringGrid1->currentColumn(), r = StringGrid1->currentRow();
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
        StringGrid1->updateCell(c, r);
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
    StringGrid1->updateCell(c, r);
    return true;
}

// ---- Keys -------------------------------------------------------------------

bool TVTable::eventFilter(QObject *watched, QEvent *event) {
    if (watched == StringGrid1 && event->type() == QEvent::KeyPress)
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
        if (alt && key == Qt::Key_Right) return run(N2, &TVTable::showNextTable, this);
        if (alt && key == Qt::Key_Left) return run(N1, &TVTable::showPreviousTable, this);
        if (key == Qt::Key_Tab && !ctrl) return run(N2, &TVTable::showNextTable, this);
        if (key == Qt::Key_Backtab) return run(N1, &TVTable::showPreviousTable, this);
        if (ctrl && key == Qt::Key_E) {
            if (m_edit.undo()) StringGrid1->viewport()->update();
            return true;
        }
        if (ctrl && (key == Qt::Key_Delete || (key == Qt::Key_Period && (mods & Qt::KeypadModifier)) ||
                     (key == Qt::Key_Comma && (mods & Qt::KeypadModifier)))) {
            if (isSumView()) return true;
            m_edit.clear();
            StringGrid1->updateCell(StringGrid1->currentColumn(), StringGrid1->currentRow());
            return true;
        }
        switch (key) {
        case Qt::Key_F3: return run(N3, &TVTable::controlTable, this);
        case Qt::Key_F4:
            showMessage(QString::number(TableDataChecksum(m_work.table, m_work.institution, m_params.tableIdent)), this);
            return true;
        case Qt::Key_F8: N43->setVisible(!N43->isVisible()); return true;
        case Qt::Key_F9:
            FloatDisplay = !FloatDisplay;
            FloatTable = !FloatTable;
            reformatCurrentText();
            StringGrid1->viewport()->update();
            return true;
        case Qt::Key_F5:
        case Qt::Key_F6:
        case Qt::Key_F7:
            if (m_work.net) {
                QAction *a = key == Qt::Key_F5 ? N15 : key == Qt::Key_F6 ? N16 : N32;
                if (a->isEnabled()) a->trigger();
            }
            return true;
        case Qt::Key_F11:
            if (m_work.net) N18->setVisible(!N18->isVisible());
            return true;
        case Qt::Key_F12: N13->setVisible(!N13->isVisible()); return true;
        case Qt::Key_Escape:
            reject();
            return true;
        case Qt::Key_Space: {
            const auto m = tableedit::spaceMove(StringGrid1->currentColumn(), StringGrid1->currentRow(),
                                                StringGrid1->columnCount(), StringGrid1->rowCount());
            StringGrid1->setCurrentCell(m.column, m.row);
            return true;
        }
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            const auto m = tableedit::enterMove(StringGrid1->currentColumn(), StringGrid1->currentRow(),
                                                StringGrid1->columnCount(), StringGrid1->rowCount());
            StringGrid1->setCurrentCell(m.column, m.row);
            return true;
        }
        default: break;
        }
        if (ctrl || alt) return false;
        const QString t = e->text();
        if (key == Qt::Key_Backspace || (!t.isEmpty() && t[0].isPrint())) {
            if (!m_loaded || isTemplateView() || isSumView()) return true;
            const QChar ch = key == Qt::Key_Backspace ? QChar(u'\b') : t[0];
            if (m_edit.typeChar(ch, FloatTable))
                StringGrid1->updateCell(StringGrid1->currentColumn(), StringGrid1->currentRow());
            else if (m_edit.refused)
                QApplication::beep();
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
        showMessage(QStringLiteral("Ошибка при выходе из таблицы: %1").arg(QString::fromUtf8(e.what())), this);
    }
    m_closing = true;
    QDialog::reject();
}

// ---- Next and previous ------------------------------------------------------

void TVTable::showPreviousTable() {
    if (N12->isChecked()) stepError(false);
    else stepTable(false);
}

void TVTable::showNextTable() {
    if (N12->isChecked()) stepError(true);
    else stepTable(true);
}

void TVTable::stepTable(bool forward) {
    FormNavigator *nav = currentFormNavigator();
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
    Label3->setText(nav->currentFormText());
    Label2->setText(nav->currentTableText());
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
        StringGrid1->viewport()->update();
    } catch (const AppError &e) {
        showError(e.message(), this);
    }
}

void TVTable::recalculateTable() {
    try {
        SummaryMembers members;
        if (!m_work.net) members = RequireMembers(m_work.members, m_work.includeList, m_work.institution);
        m_table.matrix().fill(0.0);
        StringGrid1->viewport()->update();
        if (m_work.net) {
            RuleRunContext context(m_work);
            context.roundResult = confirm(QStringLiteral("Округлять результат?"), this);
            RuleRun run(context);
            run.matrix() = m_table.matrix();
            run.calcConditions(m_params.tableIdent, [this](const QString &t) {
                Label1->setText(t);
                Label1->repaint();
            });
            run.saveTable(m_params.formId, m_params.tableNumber);
            m_table.matrix() = run.matrix();
            Label1->clear();
            if (!run.messages().isEmpty()) showError(UnreadableConditionsMessage(run.messages()), this);
        } else {
            Gauge1->setValue(0);
            Gauge1->setVisible(true);
            GaugeSink sink(Gauge1);
            ProgressPacer pacer(sink);
            m_table.sumInstitutions(m_params.formId, m_params.tableNumber, &pacer);
            m_table.saveTable(m_params.formId, m_params.tableNumber);
            Gauge1->setVisible(false);
        }
        StringGrid1->viewport()->update();
        const QString note = members.unresolvedNote();
        showMessage(QStringLiteral("Готово!") + (note.isEmpty() ? QString() : QStringLiteral("\r\n") + note), this);
        resetCurrentText();
    } catch (const NoMembersError &e) {
        showWarning(e.message(), this);
    } catch (const std::exception &e) {
        Gauge1->setVisible(false);
        const QString why = winutil::errorText(e);
        showError(why, this);
        // Show what is stored, not a half-made sum.
        try { readValues(); } catch (const std::exception &) {}
        resetCurrentText();
        StringGrid1->viewport()->update();
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
                                            folder + defaultName, filter);
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
                                                               valueTableSql(m_work.table), m_params.formId,
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
        showError(QString::fromUtf8(e.what()), this);
    }
    StringGrid1->resetCurrentCell(0, 0);
    resetCurrentText();
    TableLoading = false;
    setPositionLabel();
    StringGrid1->viewport()->update();
}

void TVTable::setFloat(bool on) {
    FloatDisplay = FloatTable = on;
    N37->setChecked(on);
    N38->setChecked(!on);
    try {
        gate::setTableFloat(db::connection(db::kMain), m_params.tableIdent, on);
    } catch (const AppError &e) {
        showError(e.message(), this);
    }
    reformatCurrentText();
    StringGrid1->viewport()->update();
}

// ---- What other windows need -------------------------------------------------

void TVTable::setCaptions(const QString &form, const QString &table) {
    Label3->setText(form);
    Label2->setText(table);
}
QString TVTable::formCaption() const { return Label3->text(); }
QString TVTable::tableCaption() const { return Label2->text(); }
QString TVTable::markedReference() const { return Label1->text(); }
bool TVTable::showsDecimals() const { return N37->isChecked(); }
int TVTable::currentRow() const { return StringGrid1->currentRow(); }
int TVTable::currentColumn() const { return StringGrid1->currentColumn(); }
int TVTable::gridRowCount() const { return StringGrid1->rowCount(); }
int TVTable::gridColumnCount() const { return StringGrid1->columnCount(); }
const QList<GridTitle> &TVTable::gridTitles() const { return StringGrid1->titles(); }
void TVTable::focusGrid() { StringGrid1->setFocus(); }
void TVTable::setBreakdownVisible(bool visible) { N11->setVisible(visible); }

void TVTable::useAsExpressionBuilder() {
    N8->setVisible(true);
    for (QAction *a : {N1, N2, N3, N5}) a->setVisible(false);
}

void TVTable::connectCommand(Command command, const std::function<void()> &handler) {
    QAction *a = nullptr;
    switch (command) {
    case Command::BreakdownCell: a = N33; break;
    case Command::BreakdownRow: a = N34; break;
    case Command::BreakdownColumn: a = N42; break;
    case Command::RuleOuterLine: a = N15; break;
    case Command::RuleInnerLine: a = N16; break;
    case Command::RuleCell: a = N32; break;
    case Command::ExcelToOpenBook: a = N39; break;
    case Command::ExcelToNewBook: a = N40; break;
    case Command::ExcelToFile: a = N41; break;
    case Command::LoadFromExcel: a = Excel2; break;
    }
    connect(a, &QAction::triggered, this, handler);
    a->setEnabled(true);
}

void TVTable::showDecimals() { setFloat(true); }
void TVTable::hideDecimals() { setFloat(false); }

void TVTable::checksumColumn() {
    QList<double> values;
    for (int r = 0; r < StringGrid1->rowCount(); ++r) values.append(cellValue(StringGrid1->currentColumn(), r));
    showMessage(QString::number(tableedit::valuesChecksum(values)), this);
}

void TVTable::checksumRow() {
    QList<double> values;
    for (int c = 0; c < StringGrid1->columnCount(); ++c) values.append(cellValue(c, StringGrid1->currentRow()));
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
                                 cells::refRowOfGrid(StringGrid1->currentRow()),
                                 cells::refColumnOfGrid(StringGrid1->currentColumn(), fixcols));
            cellControlsOpener()(*this, rules);
        } catch (const std::exception &e) {
            const QString why = winutil::errorText(e);
            showError(QStringLiteral("Ошибка при открытии контролей ячейки: ") + why, this);
        }
        return;
    }
    if (m_work.mode == ReportMode::Types || m_work.net) return;
    const QString key = MakeCellKey(StringGrid1->currentRow(), StringGrid1->currentColumn());
    if (!m_templateMarks.remove(key)) m_templateMarks.insert(key);
    StringGrid1->viewport()->update();
    BuildMarkedReferenceText();
}

void TVTable::groupByColumns() {
    N10->setChecked(!N9->isChecked());
    BuildMarkedReferenceText();
}

void TVTable::groupByRows() {
    N9->setChecked(!N10->isChecked());
    BuildMarkedReferenceText();
}

void TVTable::BuildMarkedReferenceText() {
    QList<layout::CellPos> marks;
    for (const QString &key : std::as_const(m_templateMarks)) {
        const QStringList p = key.split(u',');
        marks.append(layout::CellPos{p.value(1).toInt(), p.value(0).toInt()});
    }
    Label1->setText(layout::markedReferenceText(marks, fixcols, N10->isChecked()));
}

// ---- Controls ---------------------------------------------------------------

void TVTable::ClearCellMarks() {
    m_marks.clear();
    StringGrid1->viewport()->update();
    Label1->clear();
}

void TVTable::endCorrectionMode() {
    N12->setChecked(false);
    N1->setText(QStringLiteral("Пред. таблица"));
    N2->setText(QStringLiteral("След. таблица"));
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
        N6->setVisible(false);
        RuleRun run{RuleRunContext(m_work)};
        if (N12->isChecked()) endCorrectionMode();
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
        StringGrid1->viewport()->update();
        if (m_controlErrors.count() > 0) {
            showMessage(QStringLiteral("Обнаружены ошибки - %1").arg(m_controlErrors.count()), this);
            N6->setVisible(true);
        } else {
            showMessage(QStringLiteral("Ошибок контроля нет"), this);
        }
    } catch (const std::exception &e) {
        const QString why = dynamic_cast<const db::Error *>(&e) ? static_cast<const db::Error &>(e).message()
                            : dynamic_cast<const ConversionError *>(&e) ? static_cast<const ConversionError &>(e).message()
                                                                         : QString::fromUtf8(e.what());
        showError(why, this);
        StringGrid1->viewport()->update();
    }
}

void TVTable::switchCorrectionMode() {
    // The action has already switched its tick.
    PutData();
    CurrentErrorIndex = 0;
    if (!N12->isChecked()) {
        endCorrectionMode();
        return;
    }
    N1->setText(QStringLiteral("Пред. ошибка"));
    N2->setText(QStringLiteral("След. ошибка"));
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
    StringGrid1->viewport()->update();
    Label1->setText(line);
}

void TVTable::showErrorList() {
    PutData();
    TForm1 &list = Form1();
    list.setWindowTitle(windowTitle() + QStringLiteral(" - ошибки контроля: ") + m_params.formName + u'т' + m_params.tableNumber);
    ShowTextList(m_controlErrors, QStringLiteral("Цифры\tТек.\tКонтроль"));
    execModal(&list);
    StringGrid1->setFocus();
}

void TVTable::highlightFormulas() {
    ShowFormulaCells = !ShowFormulaCells;
    N52->setChecked(ShowFormulaCells);
    try {
        if (ShowFormulaCells) {
            ShowControlCells = false;
            N53->setChecked(false);
            ControlCounts.clear();
            if (m_params.tableIdent > 0)
                MarkFormulaCells(db::connection(db::kMain), m_params.tableIdent, colcount, rowcount, FormulaCellFlags);
        } else {
            FormulaCellFlags.clear();
        }
    } catch (const AppError &e) {
        showError(e.message(), this);
    }
    StringGrid1->viewport()->update();
}

void TVTable::highlightControls() {
    ShowControlCells = !ShowControlCells;
    N53->setChecked(ShowControlCells);
    try {
        if (ShowControlCells) {
            ShowFormulaCells = false;
            N52->setChecked(false);
            FormulaCellFlags.clear();
            loadControlHighlight();
        } else {
            ControlCounts.clear();
        }
    } catch (const std::exception &e) {
        const QString why = winutil::errorText(e);
        showError(why, this);
    }
    StringGrid1->viewport()->update();
}

// ---- Structure ---------------------------------------------------------------

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
    StringGrid1->resetCurrentCell(0, 0);
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

static int screenDensity(const QWidget *w) { return w->logicalDpiY() > 0 ? w->logicalDpiY() : 96; }

void TVTable::insertRowBefore() {
    if (!m_loaded || !PutData()) return;
    const int g = StringGrid1->currentRow(), h = structedit::defaultRowHeight(screenDensity(this));
    changeStructure(true, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::insertDataRow(d, m_params.tableIdent, g, structedit::Place::Before, h, files);
    });
}

void TVTable::insertRowAfter() {
    if (!m_loaded || !PutData()) return;
    const int g = StringGrid1->currentRow(), h = structedit::defaultRowHeight(screenDensity(this));
    changeStructure(true, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::insertDataRow(d, m_params.tableIdent, g, structedit::Place::After, h, files);
    });
}

void TVTable::insertColumnBefore() {
    if (!m_loaded || !PutData()) return;
    const int k = StringGrid1->currentColumn(), w = structedit::defaultColumnWidth(screenDensity(this));
    changeStructure(false, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::insertDataColumn(d, m_params.tableIdent, k, structedit::Place::Before, w, files);
    });
}

void TVTable::insertColumnAfter() {
    if (!m_loaded || !PutData()) return;
    const int k = StringGrid1->currentColumn(), w = structedit::defaultColumnWidth(screenDensity(this));
    changeStructure(false, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::insertDataColumn(d, m_params.tableIdent, k, structedit::Place::After, w, files);
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
    const int g = StringGrid1->currentRow();
    changeStructure(true, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::deleteDataRow(d, m_params.tableIdent, g, files);
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
    const int k = StringGrid1->currentColumn();
    changeStructure(false, [&](const QSqlDatabase &d, const QStringList &files) {
        return structedit::deleteDataColumn(d, m_params.tableIdent, k, files);
    });
}

void TVTable::editTitle(int titleIndex) {
    if (!m_loaded || titleIndex < 0 || titleIndex >= StringGrid1->titles().size()) return;
    GridTitle title = StringGrid1->titles().at(titleIndex);
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
        structedit::saveTitle(db::connection(db::kMain), m_params.tableIdent, title.column, title.row, c,
                              dlg.lineCount(), dlg.widthText());
    } catch (const std::exception &e) {
        showError(winutil::errorText(e), this);
        return;
    }
    // Only the edited title changes; the layout stays until the table is
    // shown again.
    title.text = c.text;
    title.tchars = c.tchars;
    title.font = QFont(c.fontName);
    title.font.setPointSize(std::max(1, int(std::lround(c.fontSize * 96.0 / density))));
    title.font.setBold(c.bold);
    title.font.setItalic(c.italic);
    StringGrid1->updateTitle(titleIndex, title);
    StringGrid1->setFocus();
}
