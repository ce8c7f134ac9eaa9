#include "controls/ContrForm.h"
#include "engine/TextUtil.h"

#include "controls/Cld.h"
#include "controls/ControlFile.h"
#include "controls/ControlUpload.h"
#include "core/AdminMode.h"
#include "engine/Lookups.h"
#include "engine/Notation.h"
#include "core/FormulaDiff.h"
#include "core/FormulaHighlighter.h"
#include "core/ProgressWindow.h"
#include "engine/SharedState.h"
#include "forms/table/ControlHighlight.h"
#include "forms/shared/FormListCommon.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/office/Show.h"
#include "platform/office/WordDocument.h"
#include "widgets/FlowLayout.h"
#include "widgets/WindowLayout.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QStyledItemDelegate>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

using namespace controls;

namespace {

const QStringList kClassCaptions = {QStringLiteral("Внутритабличные"), QStringLiteral("Межтабличные"),
                                    QStringLiteral("Межформенные")};
const QStringList kFilterCaptions = {QStringLiteral("Все"), QStringLiteral("Форма"), QStringLiteral("Таблица")};
const QStringList kReplaceCaptions = {QStringLiteral("Везде"), QStringLiteral("Слева"), QStringLiteral("Справа"),
                                      QStringLiteral("Цикл"), QStringLiteral("Комментарий")};
const QColor kFlaggedSelected(0xFF, 0xE0, 0xE0);   // $E0E0FF
const QColor kFlagged(0xFF, 0xF0, 0xF0);           // $F0F0FF
const QColor kErrorView(0xFF, 0xE0, 0xE0);

QSqlDatabase mainDb() { return db::connection(db::kMain); }

QGroupBox *radioGroup(QWidget *parent, const QString &title, const QStringList &items, QButtonGroup *&group,
                      bool horizontal) {
    auto *box = new QGroupBox(title, parent);
    // A row of options wraps where the window is narrow.
    QLayout *l = horizontal ? static_cast<QLayout *>(new FlowLayout(box)) : new QVBoxLayout(box);
    l->setContentsMargins(6, 2, 6, 2);
    group = new QButtonGroup(box);
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items[i], box);
        group->addButton(b, i);
        l->addWidget(b);
    }
    return box;
}

// Draws the rules list: rules that differ from last year are tinted.
class RuleListDelegate : public QStyledItemDelegate {
public:
    RuleListDelegate(TContrls *owner) : QStyledItemDelegate(owner), m_owner(owner) {}
    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        try {
            const int row = index.row();
            const bool flagged = m_owner->differsFromLastYear(row);
            const bool selected = option.state & QStyle::State_Selected;
            QColor back = option.palette.color(QPalette::Base);
            QColor fore = option.palette.color(QPalette::Text);
            if (selected && flagged) {
                back = kFlaggedSelected;
                fore = Qt::black;
            } else if (selected) {
                back = option.palette.color(QPalette::Highlight);
                fore = option.palette.color(QPalette::HighlightedText);
            } else if (flagged) {
                back = kFlagged;
                fore = Qt::black;
            }
            p->fillRect(option.rect, back);
            p->setPen(fore);
            p->drawText(option.rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                        index.data(Qt::DisplayRole).toString());
        } catch (...) {
        }
    }

private:
    TContrls *m_owner;
};

// The new label of a list line whose comment changed. The lines of a cell's
// rules carry the kind of rule ("[Межтабличный] ...") before the comment;
// that mark stays.
QString relabel(const QString &oldText, const QString &comment, bool cellView) {
    if (cellView && oldText.startsWith(u'[')) {
        const qsizetype end = oldText.indexOf(QStringLiteral("] "));
        if (end > 0) return oldText.left(end + 2) + comment;
    }
    return comment;
}

} // namespace

// ---- Creation ------------------------------------------------------------------

TContrls::TContrls(QWidget *parent, const WorkContext &work) : QDialog(parent), m_work(work) {
    setObjectName(QStringLiteral("Contrls"));
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    buildUi();
    winutil::guarded(this, [&] { fillForms(); });
    if (m_ui.forms->count() > 0) {
        choose(m_ui.forms, 0);
        winutil::guarded(this, [&] { takeChosenForm(); });
    }
    setWindowTitle(winutil::appTitle() + u' ' + QStringLiteral("Формирование контролей"));
    Highlighter = std::make_unique<TFormulaHighlighter>(m_ui.left, m_ui.decipher);
    m_ui.leftTimer = new QTimer(this);
    m_ui.rightTimer = new QTimer(this);
    for (QTimer *t : {m_ui.leftTimer, m_ui.rightTimer}) {
        t->setSingleShot(true);
        t->setInterval(200);
    }
    connect(m_ui.leftTimer, &QTimer::timeout, this, &TContrls::LeftTimerTick);
    connect(m_ui.rightTimer, &QTimer::timeout, this, &TContrls::RightTimerTick);
    connect(m_ui.left, &QPlainTextEdit::textChanged, m_ui.leftTimer, qOverload<>(&QTimer::start));
    connect(m_ui.right, &QPlainTextEdit::textChanged, m_ui.rightTimer, qOverload<>(&QTimer::start));
    connect(m_ui.cycle, &QPlainTextEdit::textChanged, this, &TContrls::HideDecipher);
    // Administrator-only commands follow the mode.
    m_ui.lastYearCheck->setProperty("Tag", kAdminTag);
    m_ui.findDiffering->setProperty("Tag", kAdminTag);
    m_ui.lastYearCheck->setVisible(IsAdminMode());
    m_ui.findDiffering->setVisible(IsAdminMode());
    RegisterAdminForm(this);
}

TContrls::~TContrls() {
    // The highlighters go before the edits they bind.
    Highlighter.reset();
}

void TContrls::buildUi() {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    setFont(f);
    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(6, 6, 6, 6);
    top->setSpacing(4);

    addChoiceRow(top);
    addRuleEditor(top);
    addReplaceRow(top);
    addFileRow(top);
    for (QPushButton *b : findChildren<QPushButton *>()) b->setAutoDefault(false);
    connectCommands();
    winutil::fitToScreen(this, QSize(1100, 720));
}

void TContrls::addChoiceRow(QVBoxLayout *top) {
    // Choice of class, filter, form and table: blocks that wrap on a narrow screen.
    auto *choice = new FlowLayout;
    m_ui.classBox = radioGroup(this, QStringLiteral("Вид контроля"), kClassCaptions, m_ui.classes, true);
    m_ui.filterBox = radioGroup(this, QStringLiteral("Отбор"), kFilterCaptions, m_ui.filters, true);
    m_ui.classes->button(0)->setChecked(true);
    m_ui.filters->button(0)->setChecked(true);
    m_ui.forms = new QComboBox(this);
    m_ui.tables = new QComboBox(this);
    for (QComboBox *c : {m_ui.forms, m_ui.tables}) {
        c->setMinimumWidth(160);
        c->setMinimumContentsLength(30);
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    }
    m_ui.lockTable = new QCheckBox(QStringLiteral("Зафиксировать"), this);
    m_ui.lastYearCheck = new QCheckBox(QStringLiteral("Проверять список на изменения с прошлым годом"), this);
    m_ui.findDiffering = new QPushButton(QStringLiteral("Поиск всех таблиц с расхождениями"), this);
    choice->addWidget(m_ui.classBox);
    choice->addWidget(m_ui.filterBox);
    auto *lists = new QWidget(this);
    lists->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *listsLayout = new QGridLayout(lists);
    listsLayout->setContentsMargins(0, 0, 0, 0);
    m_formLabel = new QLabel(QStringLiteral("Форма:"), lists);
    m_tableLabel = new QLabel(QStringLiteral("Таблица:"), lists);
    listsLayout->addWidget(m_formLabel, 0, 0);
    listsLayout->addWidget(m_ui.forms, 0, 1);
    listsLayout->addWidget(m_tableLabel, 1, 0);
    listsLayout->addWidget(m_ui.tables, 1, 1);
    listsLayout->setColumnStretch(1, 1);
    choice->addWidget(lists);
    choice->addWidget(m_ui.lockTable);
    choice->addWidget(m_ui.lastYearCheck);
    choice->addWidget(m_ui.findDiffering);
    top->addLayout(choice);

}

// The rules list, the rule's sides, relation, cycle and comment, and the commands on the rule.
void TContrls::addRuleEditor(QVBoxLayout *top) {
    // Rules list on the left, the rule on the right.
    auto *middle = new QHBoxLayout;
    m_ui.rules = new QListWidget(this);
    m_ui.rules->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_ui.rules->setUniformItemSizes(true);
    m_ui.rules->setItemDelegate(new RuleListDelegate(this));
    m_ui.rules->setMinimumWidth(120);
    middle->addWidget(m_ui.rules, 2);

    auto *rule = new QVBoxLayout;
    m_ui.left = new QPlainTextEdit(this);
    m_ui.right = new QPlainTextEdit(this);
    m_ui.cycle = new QPlainTextEdit(this);
    for (QPlainTextEdit *m : {m_ui.left, m_ui.right}) m->setMinimumHeight(2 * m->fontMetrics().lineSpacing() + 8);
    m_ui.cycle->setFixedHeight(2 * m_ui.cycle->fontMetrics().lineSpacing() + 8);
    m_ui.relationBox = radioGroup(this, QStringLiteral("Условие"), kRelations, m_ui.relations, true);
    m_ui.comment = new QLineEdit(this);
    rule->addWidget(new QLabel(QStringLiteral("Левая часть:"), this));
    rule->addWidget(m_ui.left, 1);
    rule->addWidget(m_ui.relationBox);
    rule->addWidget(new QLabel(QStringLiteral("Правая часть:"), this));
    rule->addWidget(m_ui.right, 1);
    rule->addWidget(new QLabel(QStringLiteral("Цикл:"), this));
    rule->addWidget(m_ui.cycle);
    rule->addWidget(new QLabel(QStringLiteral("Комментарий:"), this));
    rule->addWidget(m_ui.comment);
    // Tab in reading order: the left side, the relation, the right side, the cycle, the comment.
    QList<QWidget *> order{m_ui.left};
    for (QAbstractButton *b : m_ui.relations->buttons()) order << b;
    order << m_ui.right << m_ui.cycle << m_ui.comment;
    for (int i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    auto *edit = new FlowLayout;
    m_ui.add = new QPushButton(QStringLiteral("Добавить"), this);
    m_ui.save = new QPushButton(QStringLiteral("Сохранить"), this);
    m_ui.remove = new QPushButton(QStringLiteral("Удалить"), this);
    m_ui.build = new QPushButton(QStringLiteral("Сформировать"), this);
    m_ui.copy = new QPushButton(QStringLiteral("Копировать"), this);
    m_ui.paste = new QPushButton(QStringLiteral("Вставить"), this);
    for (QPushButton *b : {m_ui.add, m_ui.save, m_ui.remove, m_ui.build, m_ui.copy, m_ui.paste}) edit->addWidget(b);
    // The builder button keeps the focus in the memo it inserts into.
    m_ui.build->setFocusPolicy(Qt::NoFocus);
    m_ui.build->setEnabled(false);
    rule->addLayout(edit);
    m_ui.decipher = new QTextEdit(this);
    m_ui.decipher->setReadOnly(true);
    m_ui.decipher->setMinimumHeight(90);
    m_ui.decipher->setVisible(false);
    // The decipher comes and goes with the focus: its room stays, so that the
    // fields above it never move under the mouse.
    QSizePolicy room = m_ui.decipher->sizePolicy();
    room.setRetainSizeWhenHidden(true);
    m_ui.decipher->setSizePolicy(room);
    rule->addWidget(m_ui.decipher, 1);
    middle->addLayout(rule, 3);
    top->addLayout(middle, 1);

}

void TContrls::addReplaceRow(QVBoxLayout *top) {
    // Replacement in the selected rules.
    auto *replace = new QGroupBox(QStringLiteral("<= Замена в выделенных "), this);
    auto *rl = new FlowLayout(replace);
    rl->setContentsMargins(6, 2, 6, 2);
    m_ui.replaceScopeBox = radioGroup(replace, QString(), kReplaceCaptions, m_ui.replaceScopes, true);
    m_ui.replaceScopes->button(0)->setChecked(true);
    m_ui.find = new QLineEdit(replace);
    m_ui.replaceWith = new QLineEdit(replace);
    m_ui.replace = new QPushButton(QStringLiteral("Заменить"), replace);
    auto *fields = new QWidget(replace);
    fields->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *fl = new QHBoxLayout(fields);
    fl->setContentsMargins(0, 0, 0, 0);
    fl->addWidget(m_ui.find, 1);
    fl->addWidget(new QLabel(QStringLiteral("меняем на:"), fields));
    fl->addWidget(m_ui.replaceWith, 1);
    fl->addWidget(m_ui.replace);
    rl->addWidget(m_ui.replaceScopeBox);
    rl->addWidget(fields);
    top->addWidget(replace);

}

void TContrls::addFileRow(QVBoxLayout *top) {
    // Files, printing and bulk deletion: one row that wraps, "Выход" at its right end.
    auto *files = new FlowLayout;
    m_ui.exportAll = new QPushButton(QStringLiteral("Выгрузить"), this);
    m_ui.exportList = new QPushButton(QStringLiteral("Выгрузить список"), this);
    m_ui.exportForm = new QPushButton(QStringLiteral("Выгрузить ВСЕ контроли по форме"), this);
    m_ui.deleteForm = new QPushButton(QStringLiteral("Удалить ВСЕ контроли по форме"), this);
    m_ui.clearList = new QPushButton(QStringLiteral("Очистить список"), this);
    m_ui.print = new QPushButton(QStringLiteral("Печать"), this);
    m_ui.load = new QPushButton(QStringLiteral("Загрузить"), this);
    m_ui.exit = new QPushButton(QStringLiteral("Выход"), this);
    for (QPushButton *b : {m_ui.exportAll, m_ui.exportList, m_ui.exportForm, m_ui.deleteForm, m_ui.clearList, m_ui.print, m_ui.load}) files->addWidget(b);
    files->addRightAligned(m_ui.exit);
    top->addLayout(files);

}

// The buttons, lists and choices to their commands; the sides and lists report the focus.
void TContrls::connectCommands() {
    auto on = [this](QPushButton *b, void (TContrls::*slot)()) {
        connect(b, &QPushButton::clicked, this, [this, slot] { winutil::guarded(this, [&] { (this->*slot)(); }); });
    };
    on(m_ui.save, &TContrls::saveRule);
    on(m_ui.build, &TContrls::buildExpression);
    on(m_ui.copy, &TContrls::copyRule);
    on(m_ui.paste, &TContrls::pasteRule);
    on(m_ui.add, &TContrls::addRule);
    on(m_ui.remove, &TContrls::deleteRules);
    on(m_ui.print, &TContrls::printList);
    on(m_ui.clearList, &TContrls::clearList);
    on(m_ui.exportList, &TContrls::exportList);
    on(m_ui.exportForm, &TContrls::exportFormRules);
    on(m_ui.deleteForm, &TContrls::deleteFormRules);
    on(m_ui.findDiffering, &TContrls::findTablesWithDifferences);
    on(m_ui.replace, &TContrls::replaceInSelected);
    on(m_ui.exportAll, &TContrls::exportAllRules);
    on(m_ui.load, &TContrls::loadRuleFile);
    connect(m_ui.exit, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui.forms, qOverload<int>(&QComboBox::activated), this,
            [this] { winutil::guarded(this, [&] { takeChosenForm(); }); });
    connect(m_ui.tables, qOverload<int>(&QComboBox::activated), this,
            [this] { winutil::guarded(this, [&] { takeChosenTable(); }); });
    connect(m_ui.classes, &QButtonGroup::idClicked, this,
            [this] { winutil::guarded(this, [&] { takeRuleClass(); }); });
    connect(m_ui.filters, &QButtonGroup::idClicked, this,
            [this] { winutil::guarded(this, [&] { takeFilter(); }); });
    connect(m_ui.rules, &QListWidget::itemClicked, this, [this] { winutil::guarded(this, [&] { showCurrentRule(); }); });
    connect(m_ui.rules, &QListWidget::currentRowChanged, this, [this](int) {
        if (!m_filling && m_ui.rules->hasFocus()) winutil::guarded(this, [&] { showCurrentRule(); });
    });

    for (QPlainTextEdit *m : {m_ui.left, m_ui.right, m_ui.cycle}) {
        m->installEventFilter(this);
        m->viewport()->installEventFilter(this);
    }
    for (QWidget *w : std::initializer_list<QWidget *>{m_ui.forms, m_ui.tables, m_ui.rules, m_ui.comment})
        w->installEventFilter(this);
    for (QAbstractButton *b : m_ui.classes->buttons()) b->installEventFilter(this);
    for (QAbstractButton *b : m_ui.relations->buttons()) b->installEventFilter(this);
}

void TContrls::fillForms() {
    m_filling = true;
    m_ui.forms->clear();
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from forms order by ind"));
    while (q.next())
        m_ui.forms->addItem(q.value(QStringLiteral("formname")).toString() + QStringLiteral(" - ") +
                               q.value(QStringLiteral("decipher")).toString(),
                           q.value(QStringLiteral("id")).toLongLong());
    m_ui.forms->setCurrentIndex(-1);
    m_filling = false;
}

bool TContrls::choose(QComboBox *box, int index) {
    m_filling = true;
    box->setCurrentIndex(index);
    m_filling = false;
    return index >= 0;
}

// ---- Choice ----------------------------------------------------------------------

int TContrls::ruleClass() const { return std::max(0, m_ui.classes->checkedId()); }
int TContrls::ruleFilter() const { return std::max(0, m_ui.filters->checkedId()); }
int TContrls::relationIndex() const { return m_ui.relations->checkedId(); }

qint64 TContrls::itemKey(int row) const {
    const QListWidgetItem *i = m_ui.rules->item(row);
    return i ? i->data(Qt::UserRole).toLongLong() : 0;
}

QList<int> TContrls::selectedRows() const {
    QList<int> rows;
    for (int i = 0; i < m_ui.rules->count(); ++i)
        if (m_ui.rules->item(i)->isSelected()) rows.append(i);
    return rows;
}

RuleScope TContrls::scope() const {
    return RuleScope{ruleClass(), ruleFilter(), EditorFormId, EditorFormName, EditorTable};
}

void TContrls::takeChosenForm() {
    if (TableLocked || m_ui.forms->currentIndex() < 0) return;
    const QString text = m_ui.forms->currentText();
    const qsizetype dash = text.indexOf(QStringLiteral(" - "));
    EditorFormName = dash < 0 ? text : text.left(dash);
    EditorFormId = m_ui.forms->currentData().toLongLong();
    m_filling = true;
    m_ui.tables->clear();
    EditorTable.clear();
    try {
        QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from tables where form=? order by tablen"),
                               {EditorFormId});
        while (q.next())
            m_ui.tables->addItem(q.value(QStringLiteral("tablen")).toString() + QStringLiteral(" - ") +
                               q.value(QStringLiteral("name")).toString());
    } catch (...) {
        m_filling = false;
        throw;
    }
    m_filling = false;
    if (m_ui.tables->count() > 0) {
        choose(m_ui.tables, 0);
        takeChosenTable();
    } else {
        GetControlsList();
    }
    if (ruleClass() == InterTable) GetControlsList();
    HideDecipher();
}

void TContrls::takeChosenTable() {
    if (TableLocked || m_ui.tables->currentIndex() < 0) return;
    const QString text = m_ui.tables->currentText();
    const qsizetype dash = text.indexOf(QStringLiteral(" - "));
    EditorTable = dash < 0 ? text : text.left(dash);
    GetControlsList();
    HideDecipher();
}

void TContrls::takeRuleClass() {
    if (TableLocked) return;
    GetControlsList();
    HideDecipher();
}

void TContrls::takeFilter() {
    if (TableLocked) return;
    GetControlsList();
}

// ---- The list --------------------------------------------------------------------

void TContrls::GetControlsList() {
    const QListWidgetItem *current = m_ui.rules->currentItem();
    if (current && current->text() == kNewRuleText) return;
    if (m_ui.lockTable->isChecked()) return;
    QList<RuleItem> items;
    try {
        items = ListRules(mainDb(), scope());
    } catch (const AppError &e) {
        const QString m = e.message();
        showError(m.startsWith(QStringLiteral("Ошибка: поле commnt"))
                      ? m
                      : QStringLiteral("Ошибка при загрузке списка контролей: ") + m,
                  this);
        return;
    }
    m_filling = true;
    m_ui.rules->clear();
    PreviousYearFlags.clear();
    for (const RuleItem &i : items) {
        auto *item = new QListWidgetItem(i.text, m_ui.rules);
        item->setData(Qt::UserRole, i.key);
        PreviousYearFlags.append(0);
    }
    m_filling = false;
    // "Отмена" stops the marking only: the list stays, without the remaining marks.
    bool markingStopped = false;
    if (m_ui.lastYearCheck->isChecked() && !items.isEmpty()) {
        try {
            ProgressRun run(QStringLiteral("Проверка расхождений с прошлым годом..."), int(items.size()));
            ProgressPacer pacer(run.window());
            for (int i = 0; i < items.size(); ++i) {
                pacer.step();
                const std::optional<RuleRecord> r = ReadRule(mainDb(), items[i].key);
                if (r && CheckControlAgainstPreviousYear(r->key, r->texts.lft, r->texts.rght, r->texts.reltion,
                                                         r->texts.cycl))
                    PreviousYearFlags[i] = 1;
            }
        } catch (const Cancelled &) {
            markingStopped = true;
        }
    }
    if (items.isEmpty()) {
        clearEditors();
        m_ui.save->setEnabled(false);
        m_ui.add->setEnabled(true);
        return;
    }
    m_ui.save->setEnabled(true);
    m_filling = true;
    m_ui.rules->setCurrentRow(0);
    m_filling = false;
    showCurrentRule();
    if (markingStopped) winutil::showCancelled(this);
}

void TContrls::setRules(const QList<CellRule> &rules) {
    m_filling = true;
    m_ui.rules->clear();
    PreviousYearFlags.clear();
    for (const CellRule &r : rules) {
        auto *item = new QListWidgetItem(r.text, m_ui.rules);
        item->setData(Qt::UserRole, r.key);
        PreviousYearFlags.append(0);
    }
    m_filling = false;
    m_ui.save->setEnabled(!rules.isEmpty());
    if (rules.isEmpty()) {
        clearEditors();
        return;
    }
    m_filling = true;
    m_ui.rules->setCurrentRow(0);
    m_filling = false;
    showCurrentRule();
}

void TContrls::clearEditors() {
    m_ui.left->clear();
    m_ui.right->clear();
    m_ui.cycle->clear();
    m_ui.comment->clear();
    setRelation(-1);
}

void TContrls::setRelation(int index) {
    m_ui.relations->setExclusive(false);
    for (QAbstractButton *b : m_ui.relations->buttons()) b->setChecked(m_ui.relations->id(b) == index);
    m_ui.relations->setExclusive(true);
}

void TContrls::showCurrentRule() {
    if (selectedRows().size() >= 2) return;
    const QListWidgetItem *item = m_ui.rules->currentItem();
    if (!item) return;
    if (item->text() == kNewRuleText && item->data(Qt::UserRole).toLongLong() == 0) {
        clearEditors();
        return;
    }
    showRule(item->data(Qt::UserRole).toLongLong());
}

void TContrls::showRule(qint64 key) {
    const std::optional<RuleRecord> r = ReadRule(mainDb(), key);
    if (!r) {
        clearEditors();
        return;
    }
    m_ui.left->setPlainText(r->texts.lft);
    m_ui.right->setPlainText(r->texts.rght);
    m_ui.cycle->setPlainText(r->texts.cycl);
    m_ui.comment->setText(r->texts.commnt);
    setRelation(RelationIndex(r->texts.reltion));
    if (TableLocked) {
        // The rules of a cell are of every kind: each is checked as its own kind.
        const int cls = r->formId == 0 ? InterForm : (r->table.isEmpty() ? InterTable : IntraTable);
        m_ui.classes->button(cls)->setChecked(true);
    }
    m_ui.save->setEnabled(true);
}

// ---- Editing --------------------------------------------------------------------

void TContrls::addRule() {
    if (selectedRows().size() >= 2) {
        showMessage(QStringLiteral("Нельзя добавить при множественном выборе! Снимите выделение."), this);
        return;
    }
    auto *item = new QListWidgetItem(kNewRuleText, m_ui.rules);
    item->setData(Qt::UserRole, qint64(0));
    PreviousYearFlags.append(0);
    m_filling = true;
    m_ui.rules->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    m_filling = false;
    clearEditors();
    m_ui.save->setEnabled(true);
}

void TContrls::saveRule() {
    const QList<int> before = selectedRows();
    if (before.size() >= 2) {
        showMessage(QStringLiteral("Нельзя сохранить при множественном выборе! Выберите одну запись."), this);
        return;
    }
    const int rel = relationIndex();
    if (rel < 0) {
        showMessage(QStringLiteral("Не задано условие!"), this);
        return;
    }
    // Line breaks and Tabs in the sides and the cycle are blanks (the
    // storing gate makes them so on every path); the comment is one line.
    // What is stored is what the control files carry.
    using text::Field;
    const RuleTexts t{text::entryLayout(m_ui.left->toPlainText(), Field::Formula).trimmed(), kRelations[rel],
                      text::entryLayout(m_ui.right->toPlainText(), Field::Formula).trimmed(),
                      text::entryLayout(m_ui.cycle->toPlainText(), Field::Formula).trimmed(),
                      text::entryLayout(m_ui.comment->text(), Field::OneLine)};
    QListWidgetItem *item = m_ui.rules->currentItem();
    if (item && !item->isSelected() && !before.isEmpty()) item = m_ui.rules->item(before.first());
    qint64 oldKey = item ? item->data(Qt::UserRole).toLongLong() : 0;
    // A listed rule deleted since the list was built (while the list is
    // fixed, or by another window) has no row to rewrite: it is stored only
    // as a new rule of the chosen form, table and class, when the user says so.
    if (oldKey != 0 && !ReadRule(mainDb(), oldKey)) {
        if (!confirm(QStringLiteral("Контроль \"%1\" уже удален из базы, изменения в нем сохранить нельзя.\r\n"
                                    "Сохранить введенный контроль как новый?")
                         .arg(item->text()),
                     this))
            return;
        oldKey = 0;
    }
    // A listed rule is checked, stored and uploaded in its own scope (its
    // form, table and class), whatever the window shows now.
    const RuleScope s = ScopeOfSave(mainDb(), scope(), oldKey);
    // A rule of a form needs the form (and an intra-table rule its table):
    // without them it would be stored under no form and never listed again.
    if (s.ruleClass != InterForm && s.formId < 0) {
        showMessage(QStringLiteral("Не выбрана форма!"), this);
        return;
    }
    if (s.ruleClass == IntraTable && s.table.isEmpty()) {
        showMessage(QStringLiteral("Не выбрана таблица!"), this);
        return;
    }
    int focus = 0;
    if (!ValidateRule(s, t, [this](const QString &m) { showMessage(m, this); }, &focus)) {
        QWidget *target = focus == 1 ? static_cast<QWidget *>(m_ui.left)
                                     : focus == 2 ? static_cast<QWidget *>(m_ui.right)
                                                  : focus == 3 ? static_cast<QWidget *>(m_ui.cycle)
                                                  : focus == 4 ? static_cast<QWidget *>(m_ui.comment) : nullptr;
        if (target) target->setFocus();
        return;
    }
    const qint64 key = SaveRule(mainDb(), s, oldKey, t);
    if (!item) {
        item = new QListWidgetItem(m_ui.rules);
        PreviousYearFlags.append(0);
    }
    item->setData(Qt::UserRole, key);
    item->setText(relabel(item->text(), t.commnt, TableLocked && oldKey != 0));

    UploadRule u;
    u.formId = s.ruleClass == InterForm ? 0 : s.formId;
    u.table = s.ruleClass == IntraTable ? s.table : QString();
    u.lft = t.lft;
    u.reltion = t.reltion;
    u.rght = t.rght;
    u.cycl = t.cycl;
    u.commnt = t.commnt;
    u.year = UploadYear();
    u.key = key;
    UploadControl(u);

    m_filling = true;
    m_ui.rules->clearSelection();
    for (int r : before)
        if (QListWidgetItem *i = m_ui.rules->item(r)) i->setSelected(true);
    m_filling = false;
}

void TContrls::deleteRules() {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty()) {
        showMessage(QStringLiteral("Не выбрано ни одной записи для удаления!"), this);
        return;
    }
    QList<qint64> keys;
    for (int i = int(rows.size()) - 1; i >= 0; --i) keys.append(itemKey(rows[i]));
    const int deleted = DeleteRules(mainDb(), keys);
    m_filling = true;
    for (int i = int(rows.size()) - 1; i >= 0; --i) {
        delete m_ui.rules->takeItem(rows[i]);
        if (rows[i] < PreviousYearFlags.size()) PreviousYearFlags.removeAt(rows[i]);
    }
    m_filling = false;
    if (deleted > 0) showMessage(QStringLiteral("Удалено записей: ") + QString::number(deleted), this);
    if (m_ui.rules->count() == 0) clearEditors();
}

void TContrls::copyRule() {
    m_copy = {m_ui.left->toPlainText(), m_ui.right->toPlainText(), m_ui.cycle->toPlainText(), m_ui.comment->text(), relationIndex()};
}

void TContrls::pasteRule() {
    m_ui.left->setPlainText(m_copy.lft);
    m_ui.right->setPlainText(m_copy.rght);
    m_ui.cycle->setPlainText(m_copy.cycl);
    m_ui.comment->setText(m_copy.commnt);
    setRelation(m_copy.relation);
}

void TContrls::buildExpression() {
    QPlainTextEdit *memo = m_memo;
    if (!memo) return;
    // Between tables the reference names the table, between forms the form
    // too: one stored under a name the rules cannot read is not inserted.
    if (ruleClass() != IntraTable) {
        const QString form = ruleClass() == InterForm ? EditorFormName : QString();
        if (const QString why = notation::NamingProblem(form, EditorTable, true); !why.isEmpty()) {
            showMessage(QStringLiteral("Ссылку на таблицу %1 нельзя вставить в контроль: %2. Переименуйте %3 в "
                                       "каталоге форм.")
                            .arg(notation::RuleScope(form, EditorTable), why,
                                 notation::FormNameProblem(form).isEmpty() || form.isEmpty() ? QStringLiteral("таблицу")
                                                                                             : QStringLiteral("форму")),
                        this);
            return;
        }
    }
    TableWindowParams table;
    table.formId = EditorFormId;
    table.formName = EditorFormName;
    table.tableNumber = EditorTable;
    table.tableIdent = GetTableIdentByFormId(EditorFormId, EditorTable);
    // The builder is always the template view, whatever mode the window
    // under the editor works in; that window keeps its own context.
    WorkContext work = m_work;
    work.institution = 0;
    work.net = false;
    if (work.mode == ReportMode::Types) work.mode = ReportMode::Input;
    auto *view = new TVTable(table, work, this);
    view->setWindowTitle(QStringLiteral("Формирование выражения"));
    view->setCaptions(m_ui.forms->currentText(), m_ui.tables->currentText());
    view->useAsExpressionBuilder();
    QString text;
    try {
        execModal(view);
        text = view->markedReference();
    } catch (...) {
        delete view;
        throw;
    }
    delete view;
    if (text.isEmpty()) return;
    if (ruleClass() != IntraTable) text = QStringLiteral("т") + EditorTable + text;
    if (ruleClass() == InterForm) text = EditorFormName + text;
    memo->insertPlainText(text);   // replaces the selection at the caret
    memo->setFocus();
}

// ---- Focus -------------------------------------------------------------------------

void TContrls::enterSide(QPlainTextEdit *memo) {
    m_memo = memo;
    m_ui.build->setEnabled(true);
}

void TContrls::leaveSides() {
    m_memo = nullptr;
    m_ui.build->setEnabled(false);
}

bool TContrls::eventFilter(QObject *watched, QEvent *event) {
    QPlainTextEdit *memo = nullptr;
    for (QPlainTextEdit *m : {m_ui.left, m_ui.right, m_ui.cycle})
        if (watched == m || watched == m->viewport()) memo = m;
    switch (event->type()) {
    case QEvent::FocusIn:
        if (memo) enterSide(memo);
        else leaveSides();
        break;
    case QEvent::FocusOut:
        if (memo) {
            const auto reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) m_memo = nullptr;   // the side is left
        }
        break;
    case QEvent::KeyRelease:
        if (memo == m_ui.left) m_ui.leftTimer->start();
        else if (memo == m_ui.right) m_ui.rightTimer->start();
        break;
    case QEvent::MouseButtonRelease:
        if (memo == m_ui.left) ShowSideDecipher(m_ui.left, 1);
        else if (memo == m_ui.right) ShowSideDecipher(m_ui.right, 2);
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- Decipher -------------------------------------------------------------------

void TContrls::HideDecipher() {
    if (!m_ui.decipher) return;
    if (Highlighter) Highlighter->Hide();   // its previous-year pane as well
    m_ui.decipher->clear();
    QPalette p = m_ui.decipher->palette();
    p.setColor(QPalette::Base, palette().color(QPalette::Window));
    m_ui.decipher->setPalette(p);
    m_ui.decipher->setVisible(false);
}

QString TContrls::ExpandEditorSide(const QString &text) const {
    return ExpandRuleSide(text, ruleClass(), m_ui.cycle->toPlainText(), EditorTable, EditorFormName);
}

void TContrls::LeftTimerTick() {
    m_ui.leftTimer->stop();
    ShowSideDecipher(m_ui.left, 1);
}

void TContrls::RightTimerTick() {
    m_ui.rightTimer->stop();
    ShowSideDecipher(m_ui.right, 2);
}

void TContrls::ShowSideDecipher(QPlainTextEdit *memo, int /*side*/) {
    if (!m_ui.decipher || !memo) return;
    try {
        HideDecipher();
        m_ui.decipher->setVisible(true);
        const QString text = memo->toPlainText();
        const QString e = ExpandEditorSide(text);
        const int caret = memo->textCursor().selectionStart();
        if (e == text || e.isEmpty()) {
            if (Highlighter) {
                Highlighter->SetEdit(memo);
                Highlighter->UpdateAt(caret);
            }
        } else if (Highlighter) {
            QPlainTextEdit temp(this);
            temp.setVisible(false);
            temp.setPlainText(e);
            Highlighter->SetEdit(&temp);
            try {
                Highlighter->UpdateAt(CarryCaret(caret, int(text.size()), int(e.size())));
                Highlighter->SetEdit(memo);
            } catch (const std::exception &ex) {
                Highlighter->SetEdit(memo);
                m_ui.decipher->setPlainText(QStringLiteral("Ошибка: ") + winutil::errorText(ex));
                QPalette p = m_ui.decipher->palette();
                p.setColor(QPalette::Base, kErrorView);
                m_ui.decipher->setPalette(p);
            }
        }
        if (!m_ui.decipher->isVisible()) {
            m_ui.decipher->clear();
            QPalette p = m_ui.decipher->palette();
            p.setColor(QPalette::Base, palette().color(QPalette::Window));
            m_ui.decipher->setPalette(p);
            m_ui.decipher->setVisible(true);
        }
    } catch (...) {
        // the view keeps what it shows
    }
}

// ---- Lock -------------------------------------------------------------------------

void TContrls::SetTableLocked(bool locked) {
    TableLocked = locked;
    m_ui.forms->setVisible(!locked);
    m_ui.tables->setVisible(!locked);
    // The hidden choice is still named, so the user sees whose rules these are.
    m_formLabel->setText(QStringLiteral("Форма:") + (locked ? u' ' + m_ui.forms->currentText() : QString()));
    m_tableLabel->setText(QStringLiteral("Таблица:") + (locked ? u' ' + m_ui.tables->currentText() : QString()));
    m_ui.classBox->setEnabled(!locked);
    m_ui.filterBox->setEnabled(!locked);
}

// ---- Replacement and search -----------------------------------------------------

void TContrls::replaceInSelected() {
    if (m_ui.find->text().isEmpty()) {
        showMessage(QStringLiteral("Не задан текст для поиска!"), this);
        m_ui.find->setFocus();
        return;
    }
    if (m_ui.rules->count() == 0) {
        showMessage(QStringLiteral("Список контролей пуст!"), this);
        return;
    }
    const QList<int> rows = selectedRows();
    if (rows.isEmpty()) {
        showMessage(QStringLiteral("Не выбрано ни одной записи для замены!"), this);
        return;
    }
    QList<qint64> keys;
    for (int r : rows)
        if (itemKey(r) != 0 && m_ui.rules->item(r)->text() != kNewRuleText) keys.append(itemKey(r));
    int changed = 0;
    QStringList refused;
    const QHash<qint64, QString> comments = ReplaceInRules(mainDb(), keys, std::max(0, m_ui.replaceScopes->checkedId()),
                                                           m_ui.find->text(), m_ui.replaceWith->text(), &changed, &refused);
    for (int r : rows)
        if (comments.contains(itemKey(r)))
            m_ui.rules->item(r)->setText(relabel(m_ui.rules->item(r)->text(), comments.value(itemKey(r)), TableLocked));
    if (changed > 0) m_ui.rules->viewport()->update();
    if (!refused.isEmpty())
        showMessage(QStringLiteral("Не изменены контроли, которые после замены не прошли бы проверку:\r\n") +
                        refused.join(QStringLiteral("\r\n")),
                    this);
}

void TContrls::findTablesWithDifferences() {
    TFormulaDiff &diff = FormulaDiff();
    diff.SetTablesMode(true);
    diff.setLines({});
    QStringList lines;
    {
        ProgressRun run(QStringLiteral("Поиск расхождений в контролях..."));
        lines = SearchAllRuleDiscrepancies(mainDb(), &run.window());
    }
    diff.setLines(lines);
    // The window is shared with the other deciphers: its own title comes back.
    const QString title = diff.windowTitle();
    diff.setWindowTitle(QStringLiteral("Расхождения контролей с прошлым годом"));
    try {
        execModal(&diff);
    } catch (...) {
        diff.setWindowTitle(title);
        throw;
    }
    diff.setWindowTitle(title);
}

// ---- Files and printing ------------------------------------------------------------

void TContrls::exportLines(const QString &title, const QString &proposedName, const std::function<QStringList()> &lines) {
    QString path = dialogs().saveFile(this, title, shared().ConfigPath + proposedName, kControlFileFilter);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".orv");
    WriteControlFile(path, lines());
    showMessage(QStringLiteral("Контроли выгружены в файл ") + path, this);
}

void TContrls::exportAllRules() {
    exportLines(QStringLiteral("Выгрузка контролей"), QStringLiteral("controls.orv"),
                [] { return ControlFileLinesAll(mainDb()); });
}

void TContrls::exportList() {
    QList<qint64> keys;
    for (int i = 0; i < m_ui.rules->count(); ++i) keys.append(itemKey(i));
    exportLines(QStringLiteral("Выгрузка списка контролей"), QStringLiteral("controls.orv"),
                [keys] { return ControlFileLinesForKeys(mainDb(), keys); });
}

void TContrls::exportFormRules() {
    if (EditorFormId < 0) return;
    const qint64 id = EditorFormId;
    const QString name = EditorFormName;
    exportLines(QStringLiteral("Укажите папку и имя файла для сохранения ВСЕХ контролей по ") + name,
                QStringLiteral("controls_") + name + QStringLiteral(".orv"),
                [id, name] { return ControlFileLinesForForm(mainDb(), id, name); });
}

void TContrls::deleteFormRules() {
    if (EditorFormId < 0) return;
    if (confirm(QStringLiteral("Вы действительно хотите удалить ВСЕ контроли по ") + EditorFormName +
                    QStringLiteral("?\r\n(внутритабличные, межтабличные, межформенные)"),
                this))
        DeleteFormRules(mainDb(), EditorFormId, EditorFormName);
    m_filling = true;
    m_ui.rules->setCurrentRow(-1);
    m_filling = false;
    GetControlsList();
}

void TContrls::clearList() {
    const int n = m_ui.rules->count();
    if (!confirm(QStringLiteral("Вы уверены, что хотите удалить ") + QString::number(n) + QStringLiteral(" контролей?"),
                 this))
        return;
    QList<qint64> keys;
    for (int i = 0; i < n; ++i) keys.append(itemKey(i));
    DeleteRules(mainDb(), keys);
    m_ui.rules->clear();
    PreviousYearFlags.clear();
    clearEditors();
}

void TContrls::printList() {
    const int cls = ruleClass();
    const int filter = ruleFilter();
    QList<qint64> keys;
    for (int i = 0; i < m_ui.rules->count(); ++i) keys.append(itemKey(i));
    const QStringList lines = RulePrintLines(
        mainDb(),
        {m_ui.forms->currentText(), m_ui.tables->currentText(), kClassCaptions[cls] + QStringLiteral(" - ") + kFilterCaptions[filter]},
        keys);
    office::WordDocument doc = office::buildTabTextDocument(lines, 3);
    office::show(doc, QStringLiteral("Контроли"));
}

void TContrls::loadRuleFile() {
    TCld loader(this);
    execModal(&loader);
    m_filling = true;
    m_ui.rules->setCurrentRow(-1);
    m_filling = false;
    GetControlsList();
}

// ---- Openers -------------------------------------------------------------------------

void openControlsEditor(QWidget *parent, const WorkContext &work) {
    winutil::guarded(parent, [&] {
        TContrls w(parent, work);
        execModal(&w);
    });
}

void TContrls::chooseTable(qint64 formId, const QString &tableNumber) {
    for (int i = 0; i < m_ui.forms->count(); ++i)
        if (m_ui.forms->itemData(i).toLongLong() == formId) {
            m_ui.forms->setCurrentIndex(i);
            break;
        }
    m_ui.classes->button(IntraTable)->setChecked(true);
    takeChosenForm();
    for (int i = 0; i < m_ui.tables->count(); ++i)
        if (m_ui.tables->itemText(i).startsWith(tableNumber + QStringLiteral(" - "))) {
            m_ui.tables->setCurrentIndex(i);
            break;
        }
    takeChosenTable();
}

void openCellControls(TVTable &table, const QList<CellRule> &rules) {
    TContrls w(&table, table.work());
    w.chooseTable(table.params().formId, table.params().tableNumber);
    w.SetTableLocked(true);
    w.setRules(rules);
    execModal(&w);
    w.SetTableLocked(false);
}

void installControlsTableExtension() {
    setCellControlsOpener([](TVTable &table, const QList<CellRule> &rules) {
        winutil::guarded(&table, [&] { openCellControls(table, rules); });
    });
}
