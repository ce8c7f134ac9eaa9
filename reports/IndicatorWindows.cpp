#include "reports/IndicatorWindows.h"
#include "widgets/FixedCellsGrid.h"

#include "core/AdminMode.h"
#include "core/CaptionLabel.h"
#include "engine/Caches.h"
#include "core/FormulaDiff.h"
#include "core/FormulaHighlighter.h"
#include "core/ListWindow.h"
#include "engine/NumberFormat.h"
#include "core/ProgressWindow.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "forms/shared/FormListCommon.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Dialogs.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Show.h"
#include "platform/office/WordDocument.h"
#include "widgets/FlowLayout.h"
#include "widgets/WindowLayout.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

using namespace indicators;
using winutil::guarded;

namespace {

const QString kNoSet = QStringLiteral("Выберите набор показателей!");
constexpr int kIdentRole = Qt::UserRole + 1;

qint64 nodeIdent(const QTreeWidgetItem *n) { return n ? n->data(0, kIdentRole).toLongLong() : 0; }

QTreeWidgetItem *makeNode(const QString &name, qint64 ident) {
    auto *n = new QTreeWidgetItem(QStringList{name});
    n->setData(0, kIdentRole, ident);
    return n;
}

// A set's name as a proposed file name: characters file systems refuse become '_'.
QString fileNameOf(const QString &setName) {
    QString name = setName.trimmed();
    for (QChar &c : name)
        if (QStringLiteral("/\\:*?\"<>|").contains(c) || c.unicode() < 32) c = QLatin1Char('_');
    return (name.isEmpty() ? QStringLiteral("_") : name) + QStringLiteral(".stt");
}

QString dataFolderOfYear() { return shared().ConfigPath + shared().yearText() + QStringLiteral("/data"); }

// The grid of an indicator table: no headers, standard cell sizes, one cell
// selected at a time, not editable in place.
TFixedCellsGrid *newIndicatorGrid(QWidget *parent) {
    auto *grid = new TFixedCellsGrid(1, 1, parent);
    grid->horizontalHeader()->setVisible(false);
    grid->verticalHeader()->setVisible(false);
    grid->verticalHeader()->setDefaultSectionSize(kStandardHeight);
    grid->horizontalHeader()->setDefaultSectionSize(kStandardWidth);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    return grid;
}

// A column is at least as wide as the text of its heading (row 0) with the
// cell's margins, so that no heading is cut off; wider stored widths stay.
void fitHeadingRow(QTableWidget *grid) {
    const QFontMetrics fm(grid->font());
    const int margins = 2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + 4;
    for (int c = 0; c < grid->columnCount(); ++c)
        if (const QTableWidgetItem *it = grid->item(0, c))
            grid->setColumnWidth(c, std::max(grid->columnWidth(c), fm.horizontalAdvance(it->text()) + margins));
}

} // namespace

// ---- TMISetup ----------------------------------------------------------------------

TMISetup::TMISetup(const WorkContext &work, QWidget *parent) : QDialog(parent), m_work(work) {
    setObjectName(QStringLiteral("MISetup"));
    setWindowTitle(winutil::appTitle() + QStringLiteral(" Формирование \"дерева\" показателей"));
    // A fixed border and no title-bar buttons: closed with "Выход" or Esc.
    // The size hints tell a window manager too that it cannot be resized.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    // Wide enough for the whole menu of editing mode in administrator mode.
    winutil::fitToScreen(this, QSize(640, 560));
    setFixedSize(size());

    m_ui.menuBar = new QMenuBar(this);
    auto *add = new QMenu(QStringLiteral("Добавить"), this);
    m_ui.addAtLevel = add->addAction(QStringLiteral("На текущий уровень"), this, &TMISetup::addSetAtLevel);
    m_ui.addSublevel = add->addAction(QStringLiteral("Подуровень"), this, &TMISetup::addSubset);
    m_ui.addMenu = m_ui.menuBar->addMenu(add);
    m_ui.remove = m_ui.menuBar->addAction(QStringLiteral("Удалить"), this, &TMISetup::deleteSet);
    m_ui.members = m_ui.menuBar->addAction(QStringLiteral("Состав"), this, &TMISetup::editSetMembers);
    m_ui.indicators = m_ui.menuBar->addAction(QStringLiteral("Показатели"), this, &TMISetup::showIndicators);
    m_ui.exportSets = m_ui.menuBar->addAction(QStringLiteral("Выгрузить"), this, &TMISetup::exportSetFiles);
    m_ui.importSets = m_ui.menuBar->addAction(QStringLiteral("Загрузить"), this, &TMISetup::importSetFiles);
    auto *check = new QMenu(QStringLiteral("Проверить расхождения"), this);
    m_ui.listDiffering = check->addAction(QStringLiteral("Вывести таблицы с расхождениями"), this, &TMISetup::listTablesWithDifferences);
    m_ui.checkTable = check->addAction(QStringLiteral("Проверить таблицу"), this, &TMISetup::checkTableDifferences);
    m_ui.checkMenu = m_ui.menuBar->addMenu(check);
    m_ui.checkMenu->setProperty("Tag", kAdminTag);
    m_ui.exit = m_ui.menuBar->addAction(QStringLiteral("Выход"), this, &TMISetup::exitSetup);
    for (QAction *a : {m_ui.addMenu, m_ui.remove, m_ui.members, m_ui.indicators, m_ui.exportSets, m_ui.importSets}) a->setVisible(false);

    m_ui.tree = new QTreeWidget(this);
    winutil::setupTree(m_ui.tree);
    m_ui.tree->setExpandsOnDoubleClick(false);
    m_ui.tree->installEventFilter(this);
    m_ui.name = new QLineEdit(this);
    m_ui.name->setVisible(false);
    m_ui.saveName = new QPushButton(QStringLiteral("Сохранить"), this);
    m_ui.saveName->setVisible(false);

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(m_ui.menuBar);
    layout->addWidget(m_ui.tree, 1);
    auto *rename = new QHBoxLayout;
    rename->addWidget(m_ui.name, 1);
    rename->addWidget(m_ui.saveName);
    layout->addLayout(rename);

    connect(m_ui.tree, &QTreeWidget::itemDoubleClicked, this, [this] { openCurrentSet(); });
    connect(m_ui.tree, &QTreeWidget::currentItemChanged, this, [this] { takeCurrentSet(); });
    connect(m_ui.name, &QLineEdit::textChanged, this, [this] { showSaveOnEdit(); });
    connect(m_ui.saveName, &QPushButton::clicked, this, &TMISetup::saveSetName);
    RegisterAdminForm(this);
}

// Closing reloads the tree cache so that other windows see the sets as changed.
TMISetup::~TMISetup() {
    try {
        caches::GetTree();
    } catch (const std::exception &e) {
        showError(winutil::errorText(e));
    }
}

void TMISetup::setEditingMode() {
    for (QAction *a : {m_ui.addMenu, m_ui.remove, m_ui.members, m_ui.exportSets, m_ui.importSets}) a->setVisible(true);
    m_ui.indicators->setVisible(false);
    m_ui.name->setVisible(true);
}

void TMISetup::setViewingMode() {
    for (QAction *a : {m_ui.addMenu, m_ui.remove, m_ui.members, m_ui.exportSets, m_ui.importSets}) a->setVisible(false);
    m_ui.indicators->setVisible(true);
    m_ui.name->setVisible(false);
}

void TMISetup::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TMISetup::FormActivate() {
    if (m_filled) return;
    m_filled = true;
    for (const TreeNode &set : shared().Caches.tree) {
        if (set.depend != 0) continue;
        QTreeWidgetItem *n = makeNode(set.part, set.ident);
        m_ui.tree->addTopLevelItem(n);
        buildIndicatorTree(n, set.ident);
    }
    m_ui.tree->expandAll();
}

void TMISetup::buildIndicatorTree(QTreeWidgetItem *node, qint64 ident) {
    const QList<TreeNode> &tree = shared().Caches.tree;
    auto it = std::find_if(tree.cbegin(), tree.cend(), [ident](const TreeNode &t) { return t.depend == ident; });
    for (; it != tree.cend() && it->depend == ident; ++it) {
        const qint64 child = it->ident;
        if (child == ident || child == 0) continue;   // a set cannot be its own child
        QTreeWidgetItem *n = makeNode(it->part, child);
        node->addChild(n);
        int depth = 0;
        for (QTreeWidgetItem *p = node; p; p = p->parent()) {
            if (nodeIdent(p) == child) depth = -1;   // a loop of depend values
            if (depth < 0) break;
        }
        if (depth == 0) buildIndicatorTree(n, child);
    }
}

QTreeWidgetItem *TMISetup::findNode(qint64 ident) const {
    QList<QTreeWidgetItem *> todo;
    for (int i = 0; i < m_ui.tree->topLevelItemCount(); ++i) todo << m_ui.tree->topLevelItem(i);
    while (!todo.isEmpty()) {
        QTreeWidgetItem *n = todo.takeFirst();
        if (nodeIdent(n) == ident) return n;
        for (int i = 0; i < n->childCount(); ++i) todo << n->child(i);
    }
    return nullptr;
}

QTreeWidgetItem *TMISetup::requireNode() {
    QTreeWidgetItem *n = m_ui.tree->currentItem();
    if (!n) showMessage(kNoSet, this);
    return n;
}

void TMISetup::takeCurrentSet() {
    QTreeWidgetItem *n = m_ui.tree->currentItem();
    if (!n) return;
    m_term = nodeIdent(n);
    m_settingName = true;
    m_ui.name->setText(n->text(0));
    m_settingName = false;
    m_ui.saveName->setVisible(false);
}

void TMISetup::showSaveOnEdit() {
    if (!m_settingName && m_ui.name->isVisible()) m_ui.saveName->setVisible(true);
}

void TMISetup::saveSetName() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        n->setText(0, RenameSet(nodeIdent(n), m_ui.name->text()));
        m_ui.saveName->setVisible(false);
    });
}

void TMISetup::addSet(bool below) {
    guarded(this, [&] {
        QTreeWidgetItem *sel = m_ui.tree->currentItem();
        // With nothing selected (an empty tree) the new set is a root set.
        QTreeWidgetItem *parentNode = !sel ? nullptr : below ? sel : sel->parent();
        const qint64 parent = nodeIdent(parentNode);
        const qint64 id = AddSet(kNewSetName, parent);
        QTreeWidgetItem *n = makeNode(kNewSetName, id);
        if (parentNode) {
            parentNode->addChild(n);
            parentNode->setExpanded(true);
        } else {
            m_ui.tree->addTopLevelItem(n);
        }
    });
}

void TMISetup::addSetAtLevel() { addSet(false); }
void TMISetup::addSubset() { addSet(true); }

void TMISetup::deleteSet() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        if (!confirm(QStringLiteral("Вы действительно желаете удалить \"%1\"?").arg(n->text(0)), this)) return;
        DeleteSetTree(nodeIdent(n));
        delete n;
    });
}

void TMISetup::editSetMembers() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        TMIForms w(m_term, this);
        w.setWindowTitle(QStringLiteral("Состав набора показателей - ") + n->text(0));
        execModal(&w);
    });
}

void TMISetup::showIndicators() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        TShowStat w(m_work, m_term, this);
        const QString caption = windowTitle();
        const int dash = caption.indexOf(QStringLiteral(" -"));
        w.setWindowTitle(dash < 0 ? QString() : caption.left(dash));
        w.setHeading(n->text(0));
        execModal(&w);
    });
}

void TMISetup::exportSetFiles() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        const QString folder = dataFolderOfYear();
        QDir().mkpath(folder);
        const QString path = dialogs().saveFile(this, QStringLiteral("Выгрузить"),
                                                folder + QLatin1Char('/') + fileNameOf(n->text(0)), kSetFileFilter);
        if (path.isEmpty()) return;
        const QString file = QFileInfo(path).suffix().isEmpty() ? path + QStringLiteral(".stt") : path;
        // Children in the order this window shows them.
        SaveSetFile(file, nodeIdent(n), [this](qint64 ident) {
            QList<SetNode> out;
            if (QTreeWidgetItem *p = findNode(ident))
                for (int i = 0; i < p->childCount(); ++i)
                    out.append({nodeIdent(p->child(i)), p->child(i)->text(0)});
            return out;
        });
        showMessage(n->text(0) + QStringLiteral(" - выгружено"), this);
    });
}

void TMISetup::importSetFiles() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        // Where "Выгрузить" writes.
        const QString path = dialogs().openFile(this, QStringLiteral("Загрузить"),
                                                transfer::loadDialogStart(dataFolderOfYear(), fileNameOf(n->text(0))),
                                                kSetFileFilter);
        if (path.isEmpty()) return;
        const QList<LoadedSet> made = LoadSetFile(path, nodeIdent(n));
        for (const LoadedSet &s : made) {
            QTreeWidgetItem *parent = s.parent == nodeIdent(n) ? n : findNode(s.parent);
            if (parent) parent->addChild(makeNode(s.name, s.ident));
        }
        n->setExpanded(true);
        showMessage(QStringLiteral("Данные по ") + n->text(0) + QStringLiteral(" загружены из файла"), this);
    });
}

void TMISetup::checkTableDifferences() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (m_term == 0 || !n) {
            showMessage(QStringLiteral("Не выбрана таблица для проверки"), this);
            return;
        }
        const QStringList formulas = SetFormulas(m_term);
        if (formulas.isEmpty()) {
            showMessage(QStringLiteral("Не найдено формул для таблицы"), this);
            return;
        }
        const QStringList refs = ReferenceSet(formulas);
        if (refs.isEmpty()) {
            showMessage(QStringLiteral("Не найдено формул в выражениях"), this);
            return;
        }
        const QStringList found = FindDiscrepancies(refs, PreviousYearComparison(), false);
        if (found.isEmpty()) {
            showMessage(QStringLiteral("Расхождений не найдено"), this);
            return;
        }
        TFormulaDiff w(this);
        w.SetTablesMode(false);
        w.setLines(found);
        w.setWindowTitle(QStringLiteral("Формулы с расхождениями - ") + n->text(0));
        execModal(&w);
    });
}

void TMISetup::listTablesWithDifferences() {
    guarded(this, [&] {
        const QList<TreeRow> rows = ReadTreeRows();
        if (rows.isEmpty()) {
            showMessage(QStringLiteral("Не найдено таблиц в базе данных"), this);
            return;
        }
        const QStringList lines = [&] {
            ProgressRun run(QStringLiteral("Проверка таблиц на расхождения..."), int(rows.size()));
            TProgress &p = run.window();
            const CompareFn compare = PreviousYearComparison();
            QStringList found;
            for (int i = 0; i < rows.size(); ++i) {
                const TreeRow &r = rows[i];
                p.SetPosition(i + 1);
                p.SetDetailText(
                    QStringLiteral("Обработка таблицы: %1 (%2 из %3)").arg(r.name).arg(i + 1).arg(rows.size()));
                p.checkCancelled();
                const QStringList formulas = SetFormulas(r.ident);
                if (formulas.isEmpty()) continue;
                const QStringList refs = ReferenceSet(formulas);
                if (refs.isEmpty()) continue;
                if (!FindDiscrepancies(refs, compare, true).isEmpty())
                    found << BuildTreePath(r.ident, rows) + QStringLiteral(" (ID: %1)").arg(r.ident);
            }
            return found;
        }();
        if (lines.isEmpty()) {
            showMessage(QStringLiteral("Таблиц с расхождениями не найдено"), this);
            return;
        }
        TFormulaDiff w(this);
        w.SetTablesMode(true);
        w.setLines(lines);
        w.setWindowTitle(QStringLiteral("Таблицы с расхождениями (%1)").arg(lines.size()));
        execModal(&w);
    });
}

void TMISetup::exitSetup() { reject(); }

void TMISetup::openCurrentSet() {
    if (m_ui.indicators->isVisible()) showIndicators();
    else if (m_ui.members->isVisible()) editSetMembers();
}

bool TMISetup::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_ui.tree && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openCurrentSet();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- TMIForms ---------------------------------------------------------------------

namespace {

// Paints the editor's cells: the current cell aqua, selected cells in the
// highlight colour, cells whose references changed meaning since the
// previous year light red, then a frame around the current cell.
class IndicatorCellDelegate : public QStyledItemDelegate {
public:
    IndicatorCellDelegate(TMIForms *form) : QStyledItemDelegate(form), m_form(form) {}
    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        const bool current = m_form->grid()->currentIndex() == index;
        const bool selected = option.state & QStyle::State_Selected;
        QColor back = option.palette.color(QPalette::Base);
        if (current) back = QColor(0, 255, 255);
        else if (selected) back = option.palette.color(QPalette::Highlight);
        else if (m_form->isMarked(index.column(), index.row())) back = QColor(255, 240, 240);
        p->fillRect(option.rect, back);
        p->setPen(selected && !current ? option.palette.color(QPalette::HighlightedText)
                                       : option.palette.color(QPalette::WindowText));
        p->drawText(option.rect.adjusted(2, 2, -2, -2), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                    index.data().toString());
        if (current) {
            p->setPen(option.palette.color(QPalette::WindowText));
            p->setBrush(Qt::NoBrush);
            p->drawRect(option.rect.adjusted(0, 0, -1, -1));
        }
    }

private:
    TMIForms *m_form;
};

} // namespace

TMIForms::TMIForms(qint64 term, QWidget *parent) : QDialog(parent), m_term(term) {
    setObjectName(QStringLiteral("MIForms"));
    setWindowTitle(QStringLiteral("Состав набора показателей"));
    winutil::fitToScreen(this, QSize(820, 620));

    addMenus();

    m_ui.caption = new QLabel(this);
    paintCaptionBackground(m_ui.caption);
    m_ui.caption->setMinimumHeight(16);

    m_ui.grid = newIndicatorGrid(this);
    m_ui.grid->setItemDelegate(new IndicatorCellDelegate(this));
    m_ui.grid->installEventFilter(this);

    m_ui.identifiers = new QListWidget(this);
    m_ui.identifiers->installEventFilter(this);
    m_ui.formula = new QPlainTextEdit(this);
    m_ui.formula->setMaximumHeight(70);
    m_ui.formula->installEventFilter(this);
    m_ui.decipher = new QTextEdit(this);
    m_ui.decipher->setReadOnly(true);
    // Four lines of the decipher, whatever the type size, at a fixed place: the
    // previous year's half takes the same height beside it, and nothing
    // around them moves as references are chosen.
    m_ui.decipher->setFixedHeight(4 * m_ui.decipher->fontMetrics().lineSpacing() +
                              2 * int(m_ui.decipher->document()->documentMargin()) + 2 * m_ui.decipher->frameWidth());
    QSizePolicy keepPlace = m_ui.decipher->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_ui.decipher->setSizePolicy(keepPlace);

    addCommandPanel();

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_ui.grid);
    split->addWidget(m_ui.identifiers);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(m_ui.menuBar);
    layout->addWidget(m_ui.caption);
    layout->addWidget(split, 1);
    // Tab walks the cells of the table: how the keyboard leaves it is said.
    auto *keys = new QLabel(QStringLiteral("В таблице Tab переходит к следующей ячейке, Ctrl+Tab — к списку "
                                           "идентификаторов и другим полям окна."),
                            this);
    keys->setObjectName(QStringLiteral("TabHint"));
    keys->setWordWrap(true);
    layout->addWidget(keys);
    layout->addWidget(m_ui.formula);
    layout->addWidget(m_ui.decipher);
    layout->addWidget(m_ui.commands);

    m_highlighter = std::make_unique<TFormulaHighlighter>(m_ui.formula, m_ui.decipher);
    m_computer = std::make_unique<TFormulaHighlighter>(nullptr, nullptr);

    connect(m_ui.grid, &QTableWidget::currentCellChanged, this,
            [this](int row, int column, int, int) { selectCell(row, column); });
    connect(m_ui.grid, &QTableWidget::cellClicked, this,
            [this](int row, int column) { selectCell(row, column); });
    connect(m_ui.identifiers, &QListWidget::itemClicked, this, [this] { takeIdentifier(); });
    connect(m_ui.formula, &QPlainTextEdit::textChanged, this, &TMIForms::RefreshDecipher);
    connect(m_ui.formula, &QPlainTextEdit::cursorPositionChanged, this, &TMIForms::RefreshDecipher);
    // The previous-year tint follows the administrator mode.
    connect(&AdminMode::instance(), &AdminMode::changed, this, [this] {
        for (int c = 1; c < m_ui.grid->columnCount(); ++c)
            for (int r = 1; r < m_ui.grid->rowCount(); ++r) updateMark(c, r);
        m_ui.grid->viewport()->update();
    });
    connect(m_ui.ok, &QPushButton::clicked, this, &TMIForms::applyFormula);
    connect(m_ui.replace, &QPushButton::clicked, this, &TMIForms::replaceInFormulas);
}

// "Добавить", "Удалить", "Размеры" and "Выход".
void TMIForms::addMenus() {
    m_ui.menuBar = new QMenuBar(this);
    auto *add = m_ui.menuBar->addMenu(QStringLiteral("Добавить"));
    m_ui.rowMenu = add->addMenu(QStringLiteral("Строку"));
    m_ui.rowBefore = m_ui.rowMenu->addAction(QStringLiteral("Перед текущей"), this, &TMIForms::insertRowBefore);
    m_ui.rowAtEnd = m_ui.rowMenu->addAction(QStringLiteral("В конец"), this, &TMIForms::appendRow);
    auto *col = add->addMenu(QStringLiteral("Графу"));
    m_ui.columnBefore = col->addAction(QStringLiteral("Перед текущей"), this, &TMIForms::insertColumnBefore);
    m_ui.columnAtEnd = col->addAction(QStringLiteral("В конец"), this, &TMIForms::appendColumn);
    m_ui.addIdentifier = add->addAction(QStringLiteral("Идентификатор"), this, &TMIForms::addIdentifier);
    auto *del = m_ui.menuBar->addMenu(QStringLiteral("Удалить"));
    m_ui.deleteRow = del->addAction(QStringLiteral("Строку"), this, &TMIForms::deleteRow);
    m_ui.deleteColumn = del->addAction(QStringLiteral("Графу"), this, &TMIForms::deleteColumn);
    m_ui.deleteIdentifier = del->addAction(QStringLiteral("Идентификатор"), this, &TMIForms::deleteIdentifier);
    auto *sizes = m_ui.menuBar->addMenu(QStringLiteral("Размеры"));
    m_ui.sizesOn = sizes->addAction(QStringLiteral("Включить"), this, &TMIForms::switchSizes);
    m_ui.sizesOn->setCheckable(true);
    m_ui.saveSizes = sizes->addAction(QStringLiteral("Сохранить"), this, &TMIForms::saveSizes);
    m_ui.standardSizes = sizes->addAction(QStringLiteral("Установить стандартные"), this, &TMIForms::setStandardSizes);
    m_ui.exit = m_ui.menuBar->addAction(QStringLiteral("Выход"), this, &TMIForms::exitEditor);
    connect(m_ui.rowMenu, &QMenu::aboutToShow, this, &TMIForms::applyFormula);
}

// The commands below the formula: "Ok", what to find, what to put, the scope
// and "Заменить".
void TMIForms::addCommandPanel() {
    m_ui.commands = new QWidget(this);
    m_ui.ok = new QPushButton(QStringLiteral("Ok"), m_ui.commands);
    m_ui.ok->setDefault(true);
    m_ui.find = new QLineEdit(m_ui.commands);
    m_ui.replaceWith = new QLineEdit(m_ui.commands);
    m_ui.replace = new QPushButton(QStringLiteral("Заменить"), m_ui.commands);
    m_ui.scopeBox = new QGroupBox(m_ui.commands);
    m_ui.scopes = new QButtonGroup(this);
    auto *radios = new QHBoxLayout(m_ui.scopeBox);
    radios->setContentsMargins(4, 0, 4, 0);
    const QStringList scopes{QStringLiteral("т"), QStringLiteral("г"), QStringLiteral("с"), QStringLiteral("все")};
    for (int i = 0; i < scopes.size(); ++i) {
        auto *b = new QRadioButton(scopes[i], m_ui.scopeBox);
        m_ui.scopes->addButton(b, i);
        radios->addWidget(b);
        if (i == 0) b->setChecked(true);
    }
    // The commands below the formula: blocks that wrap on a narrow screen.
    auto *panel = new FlowLayout(m_ui.commands);
    panel->setContentsMargins(0, 0, 0, 0);
    auto labelled = [this](const QString &caption, QLineEdit *edit) {
        auto *block = new QWidget(m_ui.commands);
        block->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        auto *row = new QHBoxLayout(block);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(new QLabel(caption, block));
        edit->setParent(block);
        edit->setMinimumWidth(120);
        row->addWidget(edit, 1);
        return block;
    };
    panel->addWidget(m_ui.ok);
    panel->addWidget(labelled(QStringLiteral("Найти:"), m_ui.find));
    panel->addWidget(labelled(QStringLiteral("Заменить на:"), m_ui.replaceWith));
    panel->addWidget(m_ui.scopeBox);
    panel->addWidget(m_ui.replace);
    // Tab in reading order: "Ok", what to find, what to put, the scope, "Заменить".
    QList<QWidget *> order{m_ui.ok, m_ui.find, m_ui.replaceWith};
    for (QAbstractButton *b : m_ui.scopes->buttons()) order << b;
    order << m_ui.replace;
    for (int i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

TMIForms::~TMIForms() = default;

void TMIForms::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    FormActivate();
}

QString TMIForms::cellText(int column, int row) const {
    const QTableWidgetItem *it = m_ui.grid->item(row, column);
    return it ? it->text() : QString();
}

void TMIForms::setCellText(int column, int row, const QString &text) {
    QTableWidgetItem *it = m_ui.grid->item(row, column);
    if (!it) {
        it = new QTableWidgetItem;
        m_ui.grid->setItem(row, column, it);
    }
    it->setText(text);
    updateMark(column, row);
}

void TMIForms::FormActivate() {
    if (m_loaded) return;
    m_loaded = true;
    guarded(this, [&] {
        const SetTable t = LoadSet(m_term);
        m_ui.grid->setRowCount(t.rowCount);
        m_ui.grid->setColumnCount(t.columnCount);
        for (int c = 0; c < t.columnCount; ++c) m_ui.grid->setColumnWidth(c, t.widths.value(c, kStandardWidth));
        for (int r = 0; r < t.rowCount; ++r) m_ui.grid->setRowHeight(r, t.heights.value(r, kStandardHeight));
        for (int c = 0; c < t.columnCount; ++c)
            for (int r = 0; r < t.rowCount; ++r)
                if (!t.cell(c, r).isEmpty()) setCellText(c, r, t.cell(c, r));
        fitHeadingRow(m_ui.grid);
        m_ui.identifiers->clear();
        for (int i = 0; i < t.identifiers.size(); ++i) {
            auto *item = new QListWidgetItem(t.identifiers[i], m_ui.identifiers);
            item->setData(Qt::UserRole, t.identifierNumbers.value(i));
        }
    });
}

bool TMIForms::isMarked(int column, int row) const {
    const QTableWidgetItem *it = m_ui.grid->item(row, column);
    return it && it->data(Qt::UserRole + 2).toBool();
}

// A formula cell is marked in administrator mode when one of its references
// means something else in the previous year's database.
void TMIForms::updateMark(int column, int row) {
    QTableWidgetItem *it = m_ui.grid->item(row, column);
    if (!it) return;
    bool marked = false;
    if (IsAdminMode() && m_computer && column > 0 && row > 0 && !it->text().trimmed().isEmpty()) {
        try {
            for (const QString &ref : m_computer->ExtractReferences(it->text())) {
                auto known = m_referenceMarks.constFind(text::upper(ref));
                bool differs;
                if (known != m_referenceMarks.constEnd()) {
                    differs = *known;
                } else {
                    QString current, previous;
                    bool same = true;
                    const bool made = m_computer->CompareWithPreviousYear(ref, current, previous, same);
                    differs = made && !same && !previous.isEmpty() && !previous.contains(QStringLiteral("не найдена")) &&
                              !previous.contains(QStringLiteral("Ошибка"));
                    m_referenceMarks.insert(text::upper(ref), differs);
                }
                if (differs) {
                    marked = true;
                    break;
                }
            }
        } catch (...) {
            // the tint is a hint only
        }
    }
    it->setData(Qt::UserRole + 2, marked);
}

// After a row or column was inserted before it, the current position is the
// new empty row or column (the grid would follow the moved cells). The edit
// field follows too: it must not keep the text of the cell that moved away,
// or the next "Ok" would copy that text into the new cell.
void TMIForms::keepCurrentCell(int row, int column) {
    m_keepingCurrent = true;
    m_ui.grid->setCurrentCell(row, column);
    m_keepingCurrent = false;
    if (m_editTarget == EditTarget::Grid) m_ui.formula->setPlainText(cellText(column, row));
}

void TMIForms::selectCell(int row, int column) {
    if (row < 0 || column < 0 || m_keepingCurrent) return;
    m_editTarget = EditTarget::Grid;
    m_ui.formula->setPlainText(cellText(column, row));
}

void TMIForms::takeIdentifier() {
    m_editTarget = EditTarget::List;
    if (QListWidgetItem *it = m_ui.identifiers->currentItem()) m_ui.formula->setPlainText(it->text());
}

bool TMIForms::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusIn) {
        if (watched == m_ui.grid) {
            m_editTarget = EditTarget::Grid;
            m_ui.identifiers->clearSelection();
            m_ui.identifiers->setCurrentRow(-1);
        } else if (watched == m_ui.identifiers && m_ui.identifiers->count() > 0) {
            m_editTarget = EditTarget::List;
        }
    } else if (watched == m_ui.formula && (event->type() == QEvent::KeyRelease || event->type() == QEvent::MouseButtonRelease)) {
        RefreshDecipher();
    }
    return QDialog::eventFilter(watched, event);
}

void TMIForms::RefreshDecipher() {
    if (!m_highlighter) return;
    try {
        m_highlighter->Update();
    } catch (...) {
        return;
    }
}

void TMIForms::applyFormula() {
    guarded(this, [&] {
        const int c = qMax(0, m_ui.grid->currentColumn()), r = qMax(0, m_ui.grid->currentRow());
        const QString text = PrepareEditText(text::tabsToBlanks(m_ui.formula->toPlainText()), c > 0 && r > 0);
        if (m_editTarget == EditTarget::Grid) {
            // No cell chosen in this window yet: the edit field holds no cell's text.
            if (m_ui.grid->currentRow() < 0 || m_ui.grid->currentColumn() < 0) return;
            StoreGridCell(m_term, c, r, text, m_ui.grid->columnWidth(c), m_ui.grid->rowHeight(r));
            setCellText(c, r, text);
        } else if (m_editTarget == EditTarget::List) {
            QListWidgetItem *it = m_ui.identifiers->currentItem();
            if (!it) return;
            StoreIdentifier(m_term, it->data(Qt::UserRole).toInt(), text);
            it->setText(text);
        }
    });
}

void TMIForms::appendRow() {
    guarded(this, [&] {
        // Stored first: a refused row is not shown.
        const int r = m_ui.grid->rowCount();
        AppendRow(m_term, r, kStandardHeight);
        m_ui.grid->setRowCount(r + 1);
        m_ui.grid->setRowHeight(r, kStandardHeight);
        setCellText(0, r, kNewRow);
    });
}

void TMIForms::appendColumn() {
    guarded(this, [&] {
        const int c = m_ui.grid->columnCount();
        AppendColumn(m_term, c, kStandardWidth);
        m_ui.grid->setColumnCount(c + 1);
        m_ui.grid->setColumnWidth(c, kStandardWidth);
        setCellText(c, 0, kNewColumn);
    });
}

void TMIForms::insertRowBefore() {
    guarded(this, [&] {
        const int r = m_ui.grid->currentRow();
        if (r <= 0) return;
        const int c = m_ui.grid->currentColumn();
        InsertRowBefore(m_term, r);
        m_ui.grid->insertRow(r);
        m_ui.grid->setRowHeight(r, kStandardHeight);
        keepCurrentCell(r, c);
    });
}

void TMIForms::insertColumnBefore() {
    guarded(this, [&] {
        const int c = m_ui.grid->currentColumn();
        if (c <= 0) return;
        const int r = m_ui.grid->currentRow();
        InsertColumnBefore(m_term, c);
        m_ui.grid->insertColumn(c);
        m_ui.grid->setColumnWidth(c, kStandardWidth);
        keepCurrentCell(r, c);
    });
}

void TMIForms::deleteRow() {
    guarded(this, [&] {
        const int r = qMax(0, m_ui.grid->currentRow());
        DeleteRow(m_term, r);
        m_ui.grid->removeRow(r);
    });
}

void TMIForms::deleteColumn() {
    guarded(this, [&] {
        const int c = qMax(0, m_ui.grid->currentColumn());
        DeleteColumn(m_term, c);
        m_ui.grid->removeColumn(c);
    });
}

void TMIForms::addIdentifier() {
    guarded(this, [&] {
        const int number = AddIdentifier(m_term);
        auto *item = new QListWidgetItem(kNewIdentifier, m_ui.identifiers);
        item->setData(Qt::UserRole, number);
    });
}

void TMIForms::deleteIdentifier() {
    guarded(this, [&] {
        QListWidgetItem *it = m_ui.identifiers->currentItem();
        if (!it) return;
        DeleteIdentifier(m_term, it->data(Qt::UserRole).toInt());
        delete it;
    });
}

void TMIForms::switchSizes() {
    // The title row and column become fixed cells: their lines are dragged
    // to size the columns and rows.
    const bool on = m_ui.sizesOn->isChecked();
    m_ui.grid->setFixedCells(on);
    m_ui.sizesOn->setText(on ? QStringLiteral("Выключить") : QStringLiteral("Включить"));
}

void TMIForms::saveSizes() {
    guarded(this, [&] {
        if (cellText(0, 0).isEmpty()) setCellText(0, 0, QStringLiteral(" "));
        QList<int> widths, heights;
        for (int c = 0; c < m_ui.grid->columnCount(); ++c) widths << m_ui.grid->columnWidth(c);
        for (int r = 0; r < m_ui.grid->rowCount(); ++r) heights << m_ui.grid->rowHeight(r);
        SaveSizes(m_term, cellText(0, 0), widths, heights);
    });
}

void TMIForms::setStandardSizes() {
    guarded(this, [&] {
        SetStandardSizes(m_term);
        for (int c = 0; c < m_ui.grid->columnCount(); ++c) m_ui.grid->setColumnWidth(c, kStandardWidth);
        for (int r = 0; r < m_ui.grid->rowCount(); ++r) m_ui.grid->setRowHeight(r, kStandardHeight);
    });
}

void TMIForms::exitEditor() { reject(); }

void TMIForms::reloadFormulaCells() {
    const SetTable t = LoadSet(m_term);
    m_ui.grid->setUpdatesEnabled(false);
    for (int c = 1; c < m_ui.grid->columnCount(); ++c)
        for (int r = 1; r < m_ui.grid->rowCount(); ++r)
            if (m_ui.grid->item(r, c) || !t.cell(c, r).isEmpty()) setCellText(c, r, t.cell(c, r));
    m_ui.grid->setUpdatesEnabled(true);
    m_ui.grid->viewport()->update();
}

void TMIForms::replaceInFormulas() {
    guarded(this, [&] {
        const int count = ReplaceInFormulas(m_term, m_ui.find->text(), m_ui.replaceWith->text(), m_ui.scopes->checkedId(),
                                            m_ui.grid->currentColumn(), m_ui.grid->currentRow(),
                                            m_ui.grid->columnCount() - 1, m_ui.grid->rowCount() - 1);
        reloadFormulaCells();
        showMessage(QStringLiteral("Замен произведено: %1").arg(count), this);
    });
}

// ---- TShowStat ------------------------------------------------------------------

void TShowStat::setHeading(const QString &text) { m_ui.heading->setText(text); }
QString TShowStat::heading() const { return m_ui.heading->text(); }

TShowStat::TShowStat(const WorkContext &work, qint64 term, QWidget *parent)
    : QDialog(parent), m_work(work), m_term(term) {
    setObjectName(QStringLiteral("ShowStat"));
    setWindowTitle(winutil::appTitle() + QStringLiteral(" Показатели"));
    winutil::fitToScreen(this, QSize(760, 520));
    m_ui.menuBar = new QMenuBar(this);
    auto *print = m_ui.menuBar->addMenu(QStringLiteral("Печать"));
    m_ui.toWord = print->addAction(QStringLiteral("В Word"), this, &TShowStat::printToWord);
    m_ui.toExcel = print->addAction(QStringLiteral("В Excel"), this, &TShowStat::printToExcel);
    auto *cut = m_ui.menuBar->addMenu(QStringLiteral("Разрезать"));
    m_ui.breakdownCell = cut->addAction(QStringLiteral("Ячейку"), this, [this] { breakdown(false); });
    m_ui.breakdownRow = cut->addAction(QStringLiteral("Строку"), this, [this] { breakdown(true); });
    m_ui.exit = m_ui.menuBar->addAction(QStringLiteral("Выход"), this, &TShowStat::exitView);

    m_ui.heading = new QLabel(this);
    m_ui.heading->setAlignment(Qt::AlignCenter);
    paintCaptionBackground(m_ui.heading);
    m_ui.grid = newIndicatorGrid(this);
    m_ui.unit = new QLabel(this);
    m_ui.unit->setAlignment(Qt::AlignCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(m_ui.menuBar);
    layout->addWidget(m_ui.heading);
    layout->addWidget(m_ui.grid, 1);
    layout->addWidget(m_ui.unit);
}

void TShowStat::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TShowStat::FormActivate() {
    SplitMode() = false;
    if (!m_gridPending) return;
    m_gridPending = false;
    auto fill = [this](const QList<QStringList> &cells) {
        const int columns = int(cells.size());
        const int rows = columns ? int(cells[0].size()) : 1;
        m_ui.grid->setColumnCount(columns);
        m_ui.grid->setRowCount(rows);
        for (int c = 0; c < columns; ++c)
            for (int r = 0; r < rows; ++r) {
                auto *it = new QTableWidgetItem(cells[c].value(r));
                if (c == 0 || r == 0) {
                    // The title row and column stay fixed: not selectable, drawn as headers.
                    it->setFlags(Qt::ItemIsEnabled);
                    it->setBackground(palette().color(QPalette::Button));
                } else {
                    it->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                }
                m_ui.grid->setItem(r, c, it);
            }
    };
    guarded(this, [&] {
        m_set = EvaluatedSet();
        m_set.table = LoadSet(m_term);
        m_set.values = m_set.table.cells;
        m_set.identifiers = m_set.table.identifiers;
        m_set.work = m_work;
        for (int c = 0; c < m_set.table.columnCount; ++c)
            m_ui.grid->setColumnWidth(c, m_set.table.widths.value(c, kStandardWidth));
        for (int r = 0; r < m_set.table.rowCount; ++r)
            m_ui.grid->setRowHeight(r, m_set.table.heights.value(r, kStandardHeight));
        fill(m_set.table.cells);   // the formulas stay shown when the computation fails
        if (m_work.mode == ReportMode::Types) {
            // Every institution of the types is read: progress and "Отмена".
            ProgressRun run(QStringLiteral("Расчет показателей..."));
            m_set = EvaluateSet(m_work, m_term, &run.window());
        } else {
            m_set = EvaluateSet(m_work, m_term);
        }
        fill(m_set.values);
        fitHeadingRow(m_ui.grid);
        // Filled: the title row and column stay in place while the grid scrolls.
        m_ui.grid->setFixedCells(true);
    });
    if (m_ui.grid->rowCount() > 1 && m_ui.grid->columnCount() > 1) m_ui.grid->setCurrentCell(1, 1);
}

QList<QStringList> TShowStat::gridRows() const {
    QList<QStringList> rows;
    for (int r = 0; r < m_ui.grid->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < m_ui.grid->columnCount(); ++c) {
            const QTableWidgetItem *it = m_ui.grid->item(r, c);
            row << (it ? it->text() : QString());
        }
        rows << row;
    }
    return rows;
}

void TShowStat::breakdown(bool wholeRow) {
    guarded(this, [&] {
        const int row = m_ui.grid->currentRow(), column = m_ui.grid->currentColumn();
        if (row < 1) {
            showMessage(QStringLiteral("Выберите строку показателей!"), this);
            return;
        }
        if (!wholeRow && column < 1) {
            showMessage(QStringLiteral("Выберите графу показателей!"), this);
            return;
        }
        QList<int> columns;
        if (wholeRow)
            for (int c = 1; c < m_ui.grid->columnCount(); ++c) columns << c;
        else
            columns << column;
        const SplitResult res = [&] {
            ProgressRun run(QStringLiteral("Разбивка по подразделениям"));
            return SplitByUnits(m_set, row, columns, [this](const QString &name) { m_ui.unit->setText(name); },
                                run.window());
        }();
        m_breakdownLines = res.lines;
        ShowTextList(m_breakdownLines, res.header);
        TForm1 &f = Form1();
        f.setWindowTitle(windowTitle());
        QString heading = m_ui.heading->text() + QStringLiteral(" - ") + m_set.table.cell(0, row);
        if (!wholeRow) heading += QStringLiteral(" - ") + m_set.table.cell(column, 0);
        f.setHeading(heading);
        // Shown over this window, which is itself modal: a window shown
        // modelessly here could not be reached by the user.
        execModal(&f);
    });
}

QStringList IndicatorDocumentLines(const QString &caption, const QString &heading, const QList<QStringList> &rows) {
    QStringList lines{caption, heading};
    for (const QStringList &row : rows) {
        QStringList cells;
        for (const QString &cell : row)
            cells << RemoveChar(RemoveChar(cell, QLatin1Char('\n')), QLatin1Char('\r'));
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines;
}

void TShowStat::printToWord() {
    guarded(this, [&] {
        office::WordDocument doc =
            office::buildTabTextDocument(IndicatorDocumentLines(windowTitle(), m_ui.heading->text(), gridRows()), 2, true);
        office::show(doc, m_ui.heading->text().isEmpty() ? QStringLiteral("Показатели") : m_ui.heading->text());
    });
}

void TShowStat::printToExcel() {
    guarded(this, [&] {
        office::ExcelWorkbook book = office::ExcelWorkbook::create();
        office::ExcelSheet &sheet = book.sheet(1);
        sheet.setValue(1, 1, windowTitle());
        sheet.setValue(2, 1, m_ui.heading->text());
        const QList<QStringList> rows = gridRows();
        for (int r = 0; r < rows.size(); ++r)
            for (int c = 0; c < rows[r].size(); ++c) {
                // Plain numbers go in as numbers, as the spreadsheet would read typed text.
                double v = 0;
                const QString &t = rows[r][c];
                if (IsNumberText(t) && num::parse(t, v)) sheet.setValue(r + 4, c + 2, v);
                else sheet.setValue(r + 4, c + 2, t);
            }
        office::show(book, m_ui.heading->text().isEmpty() ? QStringLiteral("Показатели") : m_ui.heading->text());
    });
}

void TShowStat::exitView() { reject(); }

// ---- Openers ------------------------------------------------------------------------

void openIndicatorSetup(QWidget *parent, const WorkContext &work) {
    TMISetup w(work, parent);
    w.setEditingMode();
    execModal(&w);
}

void openIndicatorTreeForViewing(QWidget *parent, const QString &caption, const WorkContext &work) {
    TMISetup w(work, parent);
    w.setViewingMode();
    w.setWindowTitle(caption);
    execModal(&w);
}
