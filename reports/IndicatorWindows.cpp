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
#include "platform/Dialogs.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Show.h"
#include "platform/office/WordDocument.h"
#include "widgets/FlowLayout.h"

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

    MainMenu1 = new QMenuBar(this);
    auto *add = new QMenu(QStringLiteral("Добавить"), this);
    N5 = add->addAction(QStringLiteral("На текущий уровень"), this, &TMISetup::N5Click);
    N6 = add->addAction(QStringLiteral("Подуровень"), this, &TMISetup::N6Click);
    N1 = MainMenu1->addMenu(add);
    N2 = MainMenu1->addAction(QStringLiteral("Удалить"), this, &TMISetup::N2Click);
    N3 = MainMenu1->addAction(QStringLiteral("Состав"), this, &TMISetup::N3Click);
    N8 = MainMenu1->addAction(QStringLiteral("Показатели"), this, &TMISetup::N8Click);
    N9 = MainMenu1->addAction(QStringLiteral("Выгрузить"), this, &TMISetup::N9Click);
    N10 = MainMenu1->addAction(QStringLiteral("Загрузить"), this, &TMISetup::N10Click);
    auto *check = new QMenu(QStringLiteral("Проверить расхождения"), this);
    N11 = check->addAction(QStringLiteral("Вывести таблицы с расхождениями"), this, &TMISetup::N11Click);
    N12 = check->addAction(QStringLiteral("Проверить таблицу"), this, &TMISetup::N12Click);
    N7 = MainMenu1->addMenu(check);
    N7->setProperty("Tag", kAdminTag);
    N4 = MainMenu1->addAction(QStringLiteral("Выход"), this, &TMISetup::N4Click);
    for (QAction *a : {N1, N2, N3, N8, N9, N10}) a->setVisible(false);

    TreeView1 = new QTreeWidget(this);
    winutil::setupTree(TreeView1);
    TreeView1->setExpandsOnDoubleClick(false);
    TreeView1->installEventFilter(this);
    Edit1 = new QLineEdit(this);
    Edit1->setVisible(false);
    Button1 = new QPushButton(QStringLiteral("Сохранить"), this);
    Button1->setVisible(false);

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(TreeView1, 1);
    auto *rename = new QHBoxLayout;
    rename->addWidget(Edit1, 1);
    rename->addWidget(Button1);
    layout->addLayout(rename);

    connect(TreeView1, &QTreeWidget::itemDoubleClicked, this, [this] { TreeView1DblClick(); });
    connect(TreeView1, &QTreeWidget::currentItemChanged, this, [this] { TreeView1Change(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(Button1, &QPushButton::clicked, this, &TMISetup::Button1Click);
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
    for (QAction *a : {N1, N2, N3, N9, N10}) a->setVisible(true);
    N8->setVisible(false);
    Edit1->setVisible(true);
}

void TMISetup::setViewingMode() {
    for (QAction *a : {N1, N2, N3, N9, N10}) a->setVisible(false);
    N8->setVisible(true);
    Edit1->setVisible(false);
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
        TreeView1->addTopLevelItem(n);
        buildIndicatorTree(n, set.ident);
    }
    TreeView1->expandAll();
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
    for (int i = 0; i < TreeView1->topLevelItemCount(); ++i) todo << TreeView1->topLevelItem(i);
    while (!todo.isEmpty()) {
        QTreeWidgetItem *n = todo.takeFirst();
        if (nodeIdent(n) == ident) return n;
        for (int i = 0; i < n->childCount(); ++i) todo << n->child(i);
    }
    return nullptr;
}

QTreeWidgetItem *TMISetup::requireNode() {
    QTreeWidgetItem *n = TreeView1->currentItem();
    if (!n) showMessage(kNoSet, this);
    return n;
}

void TMISetup::TreeView1Change() {
    QTreeWidgetItem *n = TreeView1->currentItem();
    if (!n) return;
    m_term = nodeIdent(n);
    m_settingName = true;
    Edit1->setText(n->text(0));
    m_settingName = false;
    Button1->setVisible(false);
}

void TMISetup::Edit1Change() {
    if (!m_settingName && Edit1->isVisible()) Button1->setVisible(true);
}

void TMISetup::Button1Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        n->setText(0, RenameSet(nodeIdent(n), Edit1->text()));
        Button1->setVisible(false);
    });
}

void TMISetup::addSet(bool below) {
    guarded(this, [&] {
        QTreeWidgetItem *sel = TreeView1->currentItem();
        // With nothing selected (an empty tree) the new set is a root set.
        QTreeWidgetItem *parentNode = !sel ? nullptr : below ? sel : sel->parent();
        const qint64 parent = nodeIdent(parentNode);
        const qint64 id = AddSet(kNewSetName, parent);
        QTreeWidgetItem *n = makeNode(kNewSetName, id);
        if (parentNode) {
            parentNode->addChild(n);
            parentNode->setExpanded(true);
        } else {
            TreeView1->addTopLevelItem(n);
        }
    });
}

void TMISetup::N5Click() { addSet(false); }
void TMISetup::N6Click() { addSet(true); }

void TMISetup::N2Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        if (!confirm(QStringLiteral("Вы действительно желаете удалить \"%1\"?").arg(n->text(0)), this)) return;
        DeleteSetTree(nodeIdent(n));
        delete n;
    });
}

void TMISetup::N3Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        TMIForms w(m_term, this);
        w.setWindowTitle(QStringLiteral("Состав набора показателей - ") + n->text(0));
        execModal(&w);
    });
}

void TMISetup::N8Click() {
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

void TMISetup::N9Click() {
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

void TMISetup::N10Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = requireNode();
        if (!n) return;
        const QString path = dialogs().openFile(this, QStringLiteral("Загрузить"),
                                                shared().ConfigPath + QStringLiteral("data/") + fileNameOf(n->text(0)),
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

void TMISetup::N12Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
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

void TMISetup::N11Click() {
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

void TMISetup::N4Click() { reject(); }

void TMISetup::TreeView1DblClick() {
    if (N8->isVisible()) N8Click();
    else if (N3->isVisible()) N3Click();
}

bool TMISetup::eventFilter(QObject *watched, QEvent *event) {
    if (watched == TreeView1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            TreeView1DblClick();
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
        const bool current = m_form->StringGrid1->currentIndex() == index;
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

    MainMenu1 = new QMenuBar(this);
    auto *add = MainMenu1->addMenu(QStringLiteral("Добавить"));
    RowMenu = add->addMenu(QStringLiteral("Строку"));
    N10 = RowMenu->addAction(QStringLiteral("Перед текущей"), this, &TMIForms::N10Click);
    N2 = RowMenu->addAction(QStringLiteral("В конец"), this, &TMIForms::N2Click);
    auto *col = add->addMenu(QStringLiteral("Графу"));
    N16 = col->addAction(QStringLiteral("Перед текущей"), this, &TMIForms::N16Click);
    N3 = col->addAction(QStringLiteral("В конец"), this, &TMIForms::N3Click);
    N4 = add->addAction(QStringLiteral("Идентификатор"), this, &TMIForms::N4Click);
    auto *del = MainMenu1->addMenu(QStringLiteral("Удалить"));
    N6 = del->addAction(QStringLiteral("Строку"), this, &TMIForms::N6Click);
    N7 = del->addAction(QStringLiteral("Графу"), this, &TMIForms::N7Click);
    N8 = del->addAction(QStringLiteral("Идентификатор"), this, &TMIForms::N8Click);
    auto *sizes = MainMenu1->addMenu(QStringLiteral("Размеры"));
    N14 = sizes->addAction(QStringLiteral("Включить"), this, &TMIForms::N14Click);
    N14->setCheckable(true);
    N15 = sizes->addAction(QStringLiteral("Сохранить"), this, &TMIForms::N15Click);
    N9 = sizes->addAction(QStringLiteral("Установить стандартные"), this, &TMIForms::N9Click);
    N12 = MainMenu1->addAction(QStringLiteral("Выход"), this, &TMIForms::N12Click);
    connect(RowMenu, &QMenu::aboutToShow, this, &TMIForms::BitBtn1Click);

    Label1 = new QLabel(this);
    paintCaptionBackground(Label1);
    Label1->setMinimumHeight(16);

    StringGrid1 = newIndicatorGrid(this);
    StringGrid1->setItemDelegate(new IndicatorCellDelegate(this));
    StringGrid1->installEventFilter(this);

    ListBox1 = new QListWidget(this);
    ListBox1->installEventFilter(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setMaximumHeight(70);
    Memo1->installEventFilter(this);
    RichEdit1 = new QTextEdit(this);
    RichEdit1->setReadOnly(true);
    // Four lines of the decipher, whatever the type size, at a fixed place: the
    // previous year's half takes the same height beside it, and nothing
    // around them moves as references are chosen.
    RichEdit1->setFixedHeight(4 * RichEdit1->fontMetrics().lineSpacing() +
                              2 * int(RichEdit1->document()->documentMargin()) + 2 * RichEdit1->frameWidth());
    QSizePolicy keepPlace = RichEdit1->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    RichEdit1->setSizePolicy(keepPlace);

    Panel1 = new QWidget(this);
    BitBtn1 = new QPushButton(QStringLiteral("Ok"), Panel1);
    BitBtn1->setDefault(true);
    Edit2 = new QLineEdit(Panel1);
    Edit4 = new QLineEdit(Panel1);
    BitBtn3 = new QPushButton(QStringLiteral("Заменить"), Panel1);
    RadioGroup1 = new QGroupBox(Panel1);
    RadioButtons = new QButtonGroup(this);
    auto *radios = new QHBoxLayout(RadioGroup1);
    radios->setContentsMargins(4, 0, 4, 0);
    const QStringList scopes{QStringLiteral("т"), QStringLiteral("г"), QStringLiteral("с"), QStringLiteral("все")};
    for (int i = 0; i < scopes.size(); ++i) {
        auto *b = new QRadioButton(scopes[i], RadioGroup1);
        RadioButtons->addButton(b, i);
        radios->addWidget(b);
        if (i == 0) b->setChecked(true);
    }
    // The commands below the formula: blocks that wrap on a narrow screen.
    auto *panel = new FlowLayout(Panel1);
    panel->setContentsMargins(0, 0, 0, 0);
    auto labelled = [this](const QString &caption, QLineEdit *edit) {
        auto *block = new QWidget(Panel1);
        block->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        auto *row = new QHBoxLayout(block);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(new QLabel(caption, block));
        edit->setParent(block);
        edit->setMinimumWidth(120);
        row->addWidget(edit, 1);
        return block;
    };
    panel->addWidget(BitBtn1);
    panel->addWidget(labelled(QStringLiteral("Найти:"), Edit2));
    panel->addWidget(labelled(QStringLiteral("Заменить на:"), Edit4));
    panel->addWidget(RadioGroup1);
    panel->addWidget(BitBtn3);
    // Tab in reading order: "Ok", what to find, what to put, the scope, "Заменить".
    QList<QWidget *> order{BitBtn1, Edit2, Edit4};
    for (QAbstractButton *b : RadioButtons->buttons()) order << b;
    order << BitBtn3;
    for (int i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(StringGrid1);
    split->addWidget(ListBox1);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(Label1);
    layout->addWidget(split, 1);
    layout->addWidget(Memo1);
    layout->addWidget(RichEdit1);
    layout->addWidget(Panel1);

    m_highlighter = std::make_unique<TFormulaHighlighter>(Memo1, RichEdit1);
    m_computer = std::make_unique<TFormulaHighlighter>(nullptr, nullptr);

    connect(StringGrid1, &QTableWidget::currentCellChanged, this,
            [this](int row, int column, int, int) { StringGrid1SelectCell(row, column); });
    connect(StringGrid1, &QTableWidget::cellClicked, this,
            [this](int row, int column) { StringGrid1SelectCell(row, column); });
    connect(ListBox1, &QListWidget::itemClicked, this, [this] { ListBox1Click(); });
    connect(Memo1, &QPlainTextEdit::textChanged, this, &TMIForms::RefreshDecipher);
    connect(Memo1, &QPlainTextEdit::cursorPositionChanged, this, &TMIForms::RefreshDecipher);
    // The previous-year tint follows the administrator mode.
    connect(&AdminMode::instance(), &AdminMode::changed, this, [this] {
        for (int c = 1; c < StringGrid1->columnCount(); ++c)
            for (int r = 1; r < StringGrid1->rowCount(); ++r) updateMark(c, r);
        StringGrid1->viewport()->update();
    });
    connect(BitBtn1, &QPushButton::clicked, this, &TMIForms::BitBtn1Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TMIForms::BitBtn3Click);
}

TMIForms::~TMIForms() = default;

void TMIForms::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    FormActivate();
}

QString TMIForms::cellText(int column, int row) const {
    const QTableWidgetItem *it = StringGrid1->item(row, column);
    return it ? it->text() : QString();
}

void TMIForms::setCellText(int column, int row, const QString &text) {
    QTableWidgetItem *it = StringGrid1->item(row, column);
    if (!it) {
        it = new QTableWidgetItem;
        StringGrid1->setItem(row, column, it);
    }
    it->setText(text);
    updateMark(column, row);
}

void TMIForms::FormActivate() {
    if (m_loaded) return;
    m_loaded = true;
    guarded(this, [&] {
        const SetTable t = LoadSet(m_term);
        StringGrid1->setRowCount(t.rowCount);
        StringGrid1->setColumnCount(t.columnCount);
        for (int c = 0; c < t.columnCount; ++c) StringGrid1->setColumnWidth(c, t.widths.value(c, kStandardWidth));
        for (int r = 0; r < t.rowCount; ++r) StringGrid1->setRowHeight(r, t.heights.value(r, kStandardHeight));
        for (int c = 0; c < t.columnCount; ++c)
            for (int r = 0; r < t.rowCount; ++r)
                if (!t.cell(c, r).isEmpty()) setCellText(c, r, t.cell(c, r));
        fitHeadingRow(StringGrid1);
        ListBox1->clear();
        for (int i = 0; i < t.identifiers.size(); ++i) {
            auto *item = new QListWidgetItem(t.identifiers[i], ListBox1);
            item->setData(Qt::UserRole, t.identifierNumbers.value(i));
        }
    });
}

bool TMIForms::isMarked(int column, int row) const {
    const QTableWidgetItem *it = StringGrid1->item(row, column);
    return it && it->data(Qt::UserRole + 2).toBool();
}

// A formula cell is marked in administrator mode when one of its references
// means something else in the previous year's database.
void TMIForms::updateMark(int column, int row) {
    QTableWidgetItem *it = StringGrid1->item(row, column);
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
    StringGrid1->setCurrentCell(row, column);
    m_keepingCurrent = false;
    if (m_editTarget == EditTarget::Grid) Memo1->setPlainText(cellText(column, row));
}

void TMIForms::StringGrid1SelectCell(int row, int column) {
    if (row < 0 || column < 0 || m_keepingCurrent) return;
    m_editTarget = EditTarget::Grid;
    Memo1->setPlainText(cellText(column, row));
}

void TMIForms::ListBox1Click() {
    m_editTarget = EditTarget::List;
    if (QListWidgetItem *it = ListBox1->currentItem()) Memo1->setPlainText(it->text());
}

bool TMIForms::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusIn) {
        if (watched == StringGrid1) {
            m_editTarget = EditTarget::Grid;
            ListBox1->clearSelection();
            ListBox1->setCurrentRow(-1);
        } else if (watched == ListBox1 && ListBox1->count() > 0) {
            m_editTarget = EditTarget::List;
        }
    } else if (watched == Memo1 && (event->type() == QEvent::KeyRelease || event->type() == QEvent::MouseButtonRelease)) {
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

void TMIForms::BitBtn1Click() {
    guarded(this, [&] {
        const int c = qMax(0, StringGrid1->currentColumn()), r = qMax(0, StringGrid1->currentRow());
        const QString text = PrepareEditText(text::tabsToBlanks(Memo1->toPlainText()), c > 0 && r > 0);
        if (m_editTarget == EditTarget::Grid) {
            // No cell chosen in this window yet: the edit field holds no cell's text.
            if (StringGrid1->currentRow() < 0 || StringGrid1->currentColumn() < 0) return;
            StoreGridCell(m_term, c, r, text, StringGrid1->columnWidth(c), StringGrid1->rowHeight(r));
            setCellText(c, r, text);
        } else if (m_editTarget == EditTarget::List) {
            QListWidgetItem *it = ListBox1->currentItem();
            if (!it) return;
            StoreIdentifier(m_term, it->data(Qt::UserRole).toInt(), text);
            it->setText(text);
        }
    });
}

void TMIForms::N2Click() {
    guarded(this, [&] {
        const int r = StringGrid1->rowCount();
        StringGrid1->setRowCount(r + 1);
        StringGrid1->setRowHeight(r, kStandardHeight);
        AppendRow(m_term, r, StringGrid1->rowHeight(r));
        setCellText(0, r, kNewRow);
    });
}

void TMIForms::N3Click() {
    guarded(this, [&] {
        const int c = StringGrid1->columnCount();
        StringGrid1->setColumnCount(c + 1);
        StringGrid1->setColumnWidth(c, kStandardWidth);
        AppendColumn(m_term, c, StringGrid1->columnWidth(c));
        setCellText(c, 0, kNewColumn);
    });
}

void TMIForms::N10Click() {
    guarded(this, [&] {
        const int r = StringGrid1->currentRow();
        if (r <= 0) return;
        const int c = StringGrid1->currentColumn();
        InsertRowBefore(m_term, r);
        StringGrid1->insertRow(r);
        StringGrid1->setRowHeight(r, kStandardHeight);
        keepCurrentCell(r, c);
    });
}

void TMIForms::N16Click() {
    guarded(this, [&] {
        const int c = StringGrid1->currentColumn();
        if (c <= 0) return;
        const int r = StringGrid1->currentRow();
        InsertColumnBefore(m_term, c);
        StringGrid1->insertColumn(c);
        StringGrid1->setColumnWidth(c, kStandardWidth);
        keepCurrentCell(r, c);
    });
}

void TMIForms::N6Click() {
    guarded(this, [&] {
        const int r = qMax(0, StringGrid1->currentRow());
        DeleteRow(m_term, r);
        StringGrid1->removeRow(r);
    });
}

void TMIForms::N7Click() {
    guarded(this, [&] {
        const int c = qMax(0, StringGrid1->currentColumn());
        DeleteColumn(m_term, c);
        StringGrid1->removeColumn(c);
    });
}

void TMIForms::N4Click() {
    guarded(this, [&] {
        const int number = AddIdentifier(m_term);
        auto *item = new QListWidgetItem(kNewIdentifier, ListBox1);
        item->setData(Qt::UserRole, number);
    });
}

void TMIForms::N8Click() {
    guarded(this, [&] {
        QListWidgetItem *it = ListBox1->currentItem();
        if (!it) return;
        DeleteIdentifier(m_term, it->data(Qt::UserRole).toInt());
        delete it;
    });
}

void TMIForms::N14Click() {
    // The title row and column become fixed cells: their lines are dragged
    // to size the columns and rows.
    const bool on = N14->isChecked();
    StringGrid1->setFixedCells(on);
    N14->setText(on ? QStringLiteral("Выключить") : QStringLiteral("Включить"));
}

void TMIForms::N15Click() {
    guarded(this, [&] {
        if (cellText(0, 0).isEmpty()) setCellText(0, 0, QStringLiteral(" "));
        QList<int> widths, heights;
        for (int c = 0; c < StringGrid1->columnCount(); ++c) widths << StringGrid1->columnWidth(c);
        for (int r = 0; r < StringGrid1->rowCount(); ++r) heights << StringGrid1->rowHeight(r);
        SaveSizes(m_term, cellText(0, 0), widths, heights);
    });
}

void TMIForms::N9Click() {
    guarded(this, [&] {
        for (int c = 0; c < StringGrid1->columnCount(); ++c) StringGrid1->setColumnWidth(c, kStandardWidth);
        for (int r = 0; r < StringGrid1->rowCount(); ++r) StringGrid1->setRowHeight(r, kStandardHeight);
        SetStandardSizes(m_term);
    });
}

void TMIForms::N12Click() { reject(); }

void TMIForms::reloadFormulaCells() {
    const SetTable t = LoadSet(m_term);
    StringGrid1->setUpdatesEnabled(false);
    for (int c = 1; c < StringGrid1->columnCount(); ++c)
        for (int r = 1; r < StringGrid1->rowCount(); ++r)
            if (StringGrid1->item(r, c) || !t.cell(c, r).isEmpty()) setCellText(c, r, t.cell(c, r));
    StringGrid1->setUpdatesEnabled(true);
    StringGrid1->viewport()->update();
}

void TMIForms::BitBtn3Click() {
    guarded(this, [&] {
        const int count = ReplaceInFormulas(m_term, Edit2->text(), Edit4->text(), RadioButtons->checkedId(),
                                            StringGrid1->currentColumn(), StringGrid1->currentRow(),
                                            StringGrid1->columnCount() - 1, StringGrid1->rowCount() - 1);
        reloadFormulaCells();
        showMessage(QStringLiteral("Замен произведено: %1").arg(count), this);
    });
}

// ---- TShowStat ------------------------------------------------------------------

void TShowStat::setHeading(const QString &text) { Label1->setText(text); }

TShowStat::TShowStat(const WorkContext &work, qint64 term, QWidget *parent)
    : QDialog(parent), m_work(work), m_term(term) {
    setObjectName(QStringLiteral("ShowStat"));
    setWindowTitle(winutil::appTitle() + QStringLiteral(" Показатели"));
    winutil::fitToScreen(this, QSize(760, 520));
    MainMenu1 = new QMenuBar(this);
    auto *print = MainMenu1->addMenu(QStringLiteral("Печать"));
    Word1 = print->addAction(QStringLiteral("В Word"), this, &TShowStat::N1Click);
    Excel1 = print->addAction(QStringLiteral("В Excel"), this, &TShowStat::Excel1Click);
    auto *cut = MainMenu1->addMenu(QStringLiteral("Разрезать"));
    N4 = cut->addAction(QStringLiteral("Ячейку"), this, [this] { N2Click(false); });
    N5 = cut->addAction(QStringLiteral("Строку"), this, [this] { N2Click(true); });
    N3 = MainMenu1->addAction(QStringLiteral("Выход"), this, &TShowStat::N3Click);

    Label1 = new QLabel(this);
    Label1->setAlignment(Qt::AlignCenter);
    paintCaptionBackground(Label1);
    StringGrid1 = newIndicatorGrid(this);
    Label2 = new QLabel(this);
    Label2->setAlignment(Qt::AlignCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(Label1);
    layout->addWidget(StringGrid1, 1);
    layout->addWidget(Label2);
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
        StringGrid1->setColumnCount(columns);
        StringGrid1->setRowCount(rows);
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
                StringGrid1->setItem(r, c, it);
            }
    };
    guarded(this, [&] {
        m_set = EvaluatedSet();
        m_set.table = LoadSet(m_term);
        m_set.values = m_set.table.cells;
        m_set.identifiers = m_set.table.identifiers;
        m_set.work = m_work;
        for (int c = 0; c < m_set.table.columnCount; ++c)
            StringGrid1->setColumnWidth(c, m_set.table.widths.value(c, kStandardWidth));
        for (int r = 0; r < m_set.table.rowCount; ++r)
            StringGrid1->setRowHeight(r, m_set.table.heights.value(r, kStandardHeight));
        fill(m_set.table.cells);   // the formulas stay shown when the computation fails
        if (m_work.mode == ReportMode::Types) {
            // Every institution of the types is read: progress and "Отмена".
            ProgressRun run(QStringLiteral("Расчет показателей..."));
            m_set = EvaluateSet(m_work, m_term, &run.window());
        } else {
            m_set = EvaluateSet(m_work, m_term);
        }
        fill(m_set.values);
        fitHeadingRow(StringGrid1);
        // Filled: the title row and column stay in place while the grid scrolls.
        StringGrid1->setFixedCells(true);
    });
    if (StringGrid1->rowCount() > 1 && StringGrid1->columnCount() > 1) StringGrid1->setCurrentCell(1, 1);
}

QList<QStringList> TShowStat::gridRows() const {
    QList<QStringList> rows;
    for (int r = 0; r < StringGrid1->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < StringGrid1->columnCount(); ++c) {
            const QTableWidgetItem *it = StringGrid1->item(r, c);
            row << (it ? it->text() : QString());
        }
        rows << row;
    }
    return rows;
}

void TShowStat::N2Click(bool wholeRow) {
    guarded(this, [&] {
        const int row = StringGrid1->currentRow(), column = StringGrid1->currentColumn();
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
            for (int c = 1; c < StringGrid1->columnCount(); ++c) columns << c;
        else
            columns << column;
        const SplitResult res = [&] {
            ProgressRun run(QStringLiteral("Разбивка по подразделениям"));
            return SplitByUnits(m_set, row, columns, [this](const QString &name) { Label2->setText(name); },
                                run.window());
        }();
        SplitLines = res.lines;
        ShowTextList(SplitLines, res.header);
        TForm1 &f = Form1();
        f.setWindowTitle(windowTitle());
        QString heading = Label1->text() + QStringLiteral(" - ") + m_set.table.cell(0, row);
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

void TShowStat::N1Click() {
    guarded(this, [&] {
        office::WordDocument doc =
            office::buildTabTextDocument(IndicatorDocumentLines(windowTitle(), Label1->text(), gridRows()), 2, true);
        office::show(doc, Label1->text().isEmpty() ? QStringLiteral("Показатели") : Label1->text());
    });
}

void TShowStat::Excel1Click() {
    guarded(this, [&] {
        office::ExcelWorkbook book = office::ExcelWorkbook::create();
        office::ExcelSheet &sheet = book.sheet(1);
        sheet.setValue(1, 1, windowTitle());
        sheet.setValue(2, 1, Label1->text());
        const QList<QStringList> rows = gridRows();
        for (int r = 0; r < rows.size(); ++r)
            for (int c = 0; c < rows[r].size(); ++c) {
                // Plain numbers go in as numbers, as the spreadsheet would read typed text.
                double v = 0;
                const QString &t = rows[r][c];
                if (IsNumberText(t) && num::parse(t, v)) sheet.setValue(r + 4, c + 2, v);
                else sheet.setValue(r + 4, c + 2, t);
            }
        office::show(book, Label1->text().isEmpty() ? QStringLiteral("Показатели") : Label1->text());
    });
}

void TShowStat::N3Click() { reject(); }

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
