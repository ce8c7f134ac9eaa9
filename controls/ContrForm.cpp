#include "controls/ContrForm.h"
#include "engine/TextUtil.h"

#include "controls/Cld.h"
#include "controls/ControlFile.h"
#include "controls/ControlUpload.h"
#include "core/AdminMode.h"
#include "engine/Lookups.h"
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
            const bool flagged = row >= 0 && row < m_owner->PreviousYearFlags.size() && m_owner->PreviousYearFlags[row] == 1;
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
    if (ComboBox1->count() > 0) {
        choose(ComboBox1, 0);
        winutil::guarded(this, [&] { ComboBox1Click(); });
    }
    setWindowTitle(winutil::appTitle() + u' ' + QStringLiteral("Формирование контролей"));
    Highlighter = std::make_unique<TFormulaHighlighter>(Memo1, RichEdit1);
    TimerLeft = new QTimer(this);
    TimerRight = new QTimer(this);
    for (QTimer *t : {TimerLeft, TimerRight}) {
        t->setSingleShot(true);
        t->setInterval(200);
    }
    connect(TimerLeft, &QTimer::timeout, this, &TContrls::LeftTimerTick);
    connect(TimerRight, &QTimer::timeout, this, &TContrls::RightTimerTick);
    connect(Memo1, &QPlainTextEdit::textChanged, TimerLeft, qOverload<>(&QTimer::start));
    connect(Memo2, &QPlainTextEdit::textChanged, TimerRight, qOverload<>(&QTimer::start));
    connect(Memo3, &QPlainTextEdit::textChanged, this, &TContrls::HideDecipher);
    // Administrator-only commands follow the mode.
    CheckBox2->setProperty("Tag", kAdminTag);
    Button12->setProperty("Tag", kAdminTag);
    CheckBox2->setVisible(IsAdminMode());
    Button12->setVisible(IsAdminMode());
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

    // Choice of class, filter, form and table: blocks that wrap on a narrow screen.
    auto *choice = new FlowLayout;
    RadioGroup1 = radioGroup(this, QStringLiteral("Вид контроля"), kClassCaptions, RadioGroup1Buttons, true);
    RadioGroup3 = radioGroup(this, QStringLiteral("Отбор"), kFilterCaptions, RadioGroup3Buttons, true);
    RadioGroup1Buttons->button(0)->setChecked(true);
    RadioGroup3Buttons->button(0)->setChecked(true);
    ComboBox1 = new QComboBox(this);
    ComboBox2 = new QComboBox(this);
    for (QComboBox *c : {ComboBox1, ComboBox2}) {
        c->setMinimumWidth(160);
        c->setMinimumContentsLength(30);
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    }
    CheckBox1 = new QCheckBox(QStringLiteral("Зафиксировать"), this);
    CheckBox2 = new QCheckBox(QStringLiteral("Проверять список на изменения с прошлым годом"), this);
    Button12 = new QPushButton(QStringLiteral("Поиск всех таблиц с расхождениями"), this);
    choice->addWidget(RadioGroup1);
    choice->addWidget(RadioGroup3);
    auto *lists = new QWidget(this);
    lists->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *listsLayout = new QGridLayout(lists);
    listsLayout->setContentsMargins(0, 0, 0, 0);
    m_formLabel = new QLabel(QStringLiteral("Форма:"), lists);
    m_tableLabel = new QLabel(QStringLiteral("Таблица:"), lists);
    listsLayout->addWidget(m_formLabel, 0, 0);
    listsLayout->addWidget(ComboBox1, 0, 1);
    listsLayout->addWidget(m_tableLabel, 1, 0);
    listsLayout->addWidget(ComboBox2, 1, 1);
    listsLayout->setColumnStretch(1, 1);
    choice->addWidget(lists);
    choice->addWidget(CheckBox1);
    choice->addWidget(CheckBox2);
    choice->addWidget(Button12);
    top->addLayout(choice);

    // Rules list on the left, the rule on the right.
    auto *middle = new QHBoxLayout;
    ListBox1 = new QListWidget(this);
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new RuleListDelegate(this));
    ListBox1->setMinimumWidth(120);
    middle->addWidget(ListBox1, 2);

    auto *rule = new QVBoxLayout;
    Memo1 = new QPlainTextEdit(this);
    Memo2 = new QPlainTextEdit(this);
    Memo3 = new QPlainTextEdit(this);
    for (QPlainTextEdit *m : {Memo1, Memo2}) m->setMinimumHeight(2 * m->fontMetrics().lineSpacing() + 8);
    Memo3->setFixedHeight(2 * Memo3->fontMetrics().lineSpacing() + 8);
    RadioGroup2 = radioGroup(this, QStringLiteral("Условие"), kRelations, RadioGroup2Buttons, true);
    Edit4 = new QLineEdit(this);
    rule->addWidget(new QLabel(QStringLiteral("Левая часть:"), this));
    rule->addWidget(Memo1, 1);
    rule->addWidget(RadioGroup2);
    rule->addWidget(new QLabel(QStringLiteral("Правая часть:"), this));
    rule->addWidget(Memo2, 1);
    rule->addWidget(new QLabel(QStringLiteral("Цикл:"), this));
    rule->addWidget(Memo3);
    rule->addWidget(new QLabel(QStringLiteral("Комментарий:"), this));
    rule->addWidget(Edit4);
    // Tab in reading order: the left side, the relation, the right side, the cycle, the comment.
    QList<QWidget *> order{Memo1};
    for (QAbstractButton *b : RadioGroup2Buttons->buttons()) order << b;
    order << Memo2 << Memo3 << Edit4;
    for (int i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    auto *edit = new FlowLayout;
    Button5 = new QPushButton(QStringLiteral("Добавить"), this);
    Button1 = new QPushButton(QStringLiteral("Сохранить"), this);
    Button6 = new QPushButton(QStringLiteral("Удалить"), this);
    Button2 = new QPushButton(QStringLiteral("Сформировать"), this);
    Button3 = new QPushButton(QStringLiteral("Копировать"), this);
    Button4 = new QPushButton(QStringLiteral("Вставить"), this);
    for (QPushButton *b : {Button5, Button1, Button6, Button2, Button3, Button4}) edit->addWidget(b);
    // The builder button keeps the focus in the memo it inserts into.
    Button2->setFocusPolicy(Qt::NoFocus);
    Button2->setEnabled(false);
    rule->addLayout(edit);
    RichEdit1 = new QTextEdit(this);
    RichEdit1->setReadOnly(true);
    RichEdit1->setMinimumHeight(90);
    RichEdit1->setVisible(false);
    rule->addWidget(RichEdit1, 1);
    middle->addLayout(rule, 3);
    top->addLayout(middle, 1);

    // Replacement in the selected rules.
    auto *replace = new QGroupBox(QStringLiteral("<= Замена в выделенных "), this);
    auto *rl = new FlowLayout(replace);
    rl->setContentsMargins(6, 2, 6, 2);
    RadioGroup4 = radioGroup(replace, QString(), kReplaceCaptions, RadioGroup4Buttons, true);
    RadioGroup4Buttons->button(0)->setChecked(true);
    Edit1 = new QLineEdit(replace);
    Edit2 = new QLineEdit(replace);
    Button13 = new QPushButton(QStringLiteral("Заменить"), replace);
    auto *fields = new QWidget(replace);
    fields->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *fl = new QHBoxLayout(fields);
    fl->setContentsMargins(0, 0, 0, 0);
    fl->addWidget(Edit1, 1);
    fl->addWidget(new QLabel(QStringLiteral("меняем на:"), fields));
    fl->addWidget(Edit2, 1);
    fl->addWidget(Button13);
    rl->addWidget(RadioGroup4);
    rl->addWidget(fields);
    top->addWidget(replace);

    // Files, printing and bulk deletion: one row that wraps, "Выход" at its right end.
    auto *files = new FlowLayout;
    BitBtn1 = new QPushButton(QStringLiteral("Выгрузить"), this);
    Button9 = new QPushButton(QStringLiteral("Выгрузить список"), this);
    Button10 = new QPushButton(QStringLiteral("Выгрузить ВСЕ контроли по форме"), this);
    Button11 = new QPushButton(QStringLiteral("Удалить ВСЕ контроли по форме"), this);
    Button8 = new QPushButton(QStringLiteral("Очистить список"), this);
    Button7 = new QPushButton(QStringLiteral("Печать"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Загрузить"), this);
    BitBtn3 = new QPushButton(QStringLiteral("Выход"), this);
    for (QPushButton *b : {BitBtn1, Button9, Button10, Button11, Button8, Button7, BitBtn2}) files->addWidget(b);
    files->addRightAligned(BitBtn3);
    top->addLayout(files);
    for (QPushButton *b : findChildren<QPushButton *>()) b->setAutoDefault(false);

    auto on = [this](QPushButton *b, void (TContrls::*slot)()) {
        connect(b, &QPushButton::clicked, this, [this, slot] { winutil::guarded(this, [&] { (this->*slot)(); }); });
    };
    on(Button1, &TContrls::Button1Click);
    on(Button2, &TContrls::Button2Click);
    on(Button3, &TContrls::Button3Click);
    on(Button4, &TContrls::Button4Click);
    on(Button5, &TContrls::Button5Click);
    on(Button6, &TContrls::Button6Click);
    on(Button7, &TContrls::Button7Click);
    on(Button8, &TContrls::Button8Click);
    on(Button9, &TContrls::Button9Click);
    on(Button10, &TContrls::Button10Click);
    on(Button11, &TContrls::Button11Click);
    on(Button12, &TContrls::Button12Click);
    on(Button13, &TContrls::Button13Click);
    on(BitBtn1, &TContrls::BitBtn1Click);
    on(BitBtn2, &TContrls::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &QDialog::reject);
    connect(ComboBox1, qOverload<int>(&QComboBox::activated), this,
            [this] { winutil::guarded(this, [&] { ComboBox1Click(); }); });
    connect(ComboBox2, qOverload<int>(&QComboBox::activated), this,
            [this] { winutil::guarded(this, [&] { ComboBox2Click(); }); });
    connect(RadioGroup1Buttons, &QButtonGroup::idClicked, this,
            [this] { winutil::guarded(this, [&] { RadioGroup1Click(); }); });
    connect(RadioGroup3Buttons, &QButtonGroup::idClicked, this,
            [this] { winutil::guarded(this, [&] { RadioGroup3Click(); }); });
    connect(ListBox1, &QListWidget::itemClicked, this, [this] { winutil::guarded(this, [&] { ListBox1Click(); }); });
    connect(ListBox1, &QListWidget::currentRowChanged, this, [this](int) {
        if (!m_filling && ListBox1->hasFocus()) winutil::guarded(this, [&] { ListBox1Click(); });
    });

    for (QPlainTextEdit *m : {Memo1, Memo2, Memo3}) {
        m->installEventFilter(this);
        m->viewport()->installEventFilter(this);
    }
    for (QWidget *w : std::initializer_list<QWidget *>{ComboBox1, ComboBox2, ListBox1, Edit4})
        w->installEventFilter(this);
    for (QAbstractButton *b : RadioGroup1Buttons->buttons()) b->installEventFilter(this);
    for (QAbstractButton *b : RadioGroup2Buttons->buttons()) b->installEventFilter(this);
    winutil::fitToScreen(this, QSize(1100, 720));
}

void TContrls::fillForms() {
    m_filling = true;
    ComboBox1->clear();
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from forms order by ind"));
    while (q.next())
        ComboBox1->addItem(q.value(QStringLiteral("formname")).toString() + QStringLiteral(" - ") +
                               q.value(QStringLiteral("decipher")).toString(),
                           q.value(QStringLiteral("id")).toLongLong());
    ComboBox1->setCurrentIndex(-1);
    m_filling = false;
}

bool TContrls::choose(QComboBox *box, int index) {
    m_filling = true;
    box->setCurrentIndex(index);
    m_filling = false;
    return index >= 0;
}

// ---- Choice ----------------------------------------------------------------------

int TContrls::ruleClass() const { return std::max(0, RadioGroup1Buttons->checkedId()); }
int TContrls::ruleFilter() const { return std::max(0, RadioGroup3Buttons->checkedId()); }
int TContrls::relationIndex() const { return RadioGroup2Buttons->checkedId(); }

qint64 TContrls::itemKey(int row) const {
    const QListWidgetItem *i = ListBox1->item(row);
    return i ? i->data(Qt::UserRole).toLongLong() : 0;
}

QList<int> TContrls::selectedRows() const {
    QList<int> rows;
    for (int i = 0; i < ListBox1->count(); ++i)
        if (ListBox1->item(i)->isSelected()) rows.append(i);
    return rows;
}

RuleScope TContrls::scope() const {
    return RuleScope{ruleClass(), ruleFilter(), EditorFormId, EditorFormName, EditorTable};
}

void TContrls::ComboBox1Click() {
    if (TableLocked || ComboBox1->currentIndex() < 0) return;
    const QString text = ComboBox1->currentText();
    const qsizetype dash = text.indexOf(QStringLiteral(" - "));
    EditorFormName = dash < 0 ? text : text.left(dash);
    EditorFormId = ComboBox1->currentData().toLongLong();
    m_filling = true;
    ComboBox2->clear();
    EditorTable.clear();
    try {
        QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from tables where form=? order by tablen"),
                               {EditorFormId});
        while (q.next())
            ComboBox2->addItem(q.value(QStringLiteral("tablen")).toString() + QStringLiteral(" - ") +
                               q.value(QStringLiteral("name")).toString());
    } catch (...) {
        m_filling = false;
        throw;
    }
    m_filling = false;
    if (ComboBox2->count() > 0) {
        choose(ComboBox2, 0);
        ComboBox2Click();
    } else {
        GetControlsList();
    }
    if (ruleClass() == InterTable) GetControlsList();
    HideDecipher();
}

void TContrls::ComboBox2Click() {
    if (TableLocked || ComboBox2->currentIndex() < 0) return;
    const QString text = ComboBox2->currentText();
    const qsizetype dash = text.indexOf(QStringLiteral(" - "));
    EditorTable = dash < 0 ? text : text.left(dash);
    GetControlsList();
    HideDecipher();
}

void TContrls::RadioGroup1Click() {
    if (TableLocked) return;
    GetControlsList();
    HideDecipher();
}

void TContrls::RadioGroup3Click() {
    if (TableLocked) return;
    GetControlsList();
}

// ---- The list --------------------------------------------------------------------

void TContrls::GetControlsList() {
    const QListWidgetItem *current = ListBox1->currentItem();
    if (current && current->text() == kNewRuleText) return;
    if (CheckBox1->isChecked()) return;
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
    ListBox1->clear();
    PreviousYearFlags.clear();
    for (const RuleItem &i : items) {
        auto *item = new QListWidgetItem(i.text, ListBox1);
        item->setData(Qt::UserRole, i.key);
        PreviousYearFlags.append(0);
    }
    m_filling = false;
    // "Отмена" stops the marking only: the list stays, without the remaining marks.
    bool markingStopped = false;
    if (CheckBox2->isChecked() && !items.isEmpty()) {
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
        Button1->setEnabled(false);
        Button5->setEnabled(true);
        return;
    }
    Button1->setEnabled(true);
    m_filling = true;
    ListBox1->setCurrentRow(0);
    m_filling = false;
    ListBox1Click();
    if (markingStopped) winutil::showCancelled(this);
}

void TContrls::setRules(const QList<CellRule> &rules) {
    m_filling = true;
    ListBox1->clear();
    PreviousYearFlags.clear();
    for (const CellRule &r : rules) {
        auto *item = new QListWidgetItem(r.text, ListBox1);
        item->setData(Qt::UserRole, r.key);
        PreviousYearFlags.append(0);
    }
    m_filling = false;
    Button1->setEnabled(!rules.isEmpty());
    if (rules.isEmpty()) {
        clearEditors();
        return;
    }
    m_filling = true;
    ListBox1->setCurrentRow(0);
    m_filling = false;
    ListBox1Click();
}

void TContrls::clearEditors() {
    Memo1->clear();
    Memo2->clear();
    Memo3->clear();
    Edit4->clear();
    setRelation(-1);
}

void TContrls::setRelation(int index) {
    RadioGroup2Buttons->setExclusive(false);
    for (QAbstractButton *b : RadioGroup2Buttons->buttons()) b->setChecked(RadioGroup2Buttons->id(b) == index);
    RadioGroup2Buttons->setExclusive(true);
}

void TContrls::ListBox1Click() {
    if (selectedRows().size() >= 2) return;
    const QListWidgetItem *item = ListBox1->currentItem();
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
    Memo1->setPlainText(r->texts.lft);
    Memo2->setPlainText(r->texts.rght);
    Memo3->setPlainText(r->texts.cycl);
    Edit4->setText(r->texts.commnt);
    setRelation(RelationIndex(r->texts.reltion));
    if (TableLocked) {
        // The rules of a cell are of every kind: each is checked as its own kind.
        const int cls = r->formId == 0 ? InterForm : (r->table.isEmpty() ? InterTable : IntraTable);
        RadioGroup1Buttons->button(cls)->setChecked(true);
    }
    Button1->setEnabled(true);
}

// ---- Editing --------------------------------------------------------------------

void TContrls::Button5Click() {
    if (selectedRows().size() >= 2) {
        showMessage(QStringLiteral("Нельзя добавить при множественном выборе! Снимите выделение."), this);
        return;
    }
    auto *item = new QListWidgetItem(kNewRuleText, ListBox1);
    item->setData(Qt::UserRole, qint64(0));
    PreviousYearFlags.append(0);
    m_filling = true;
    ListBox1->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    m_filling = false;
    clearEditors();
    Button1->setEnabled(true);
}

void TContrls::Button1Click() {
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
    const RuleTexts t{text::entryLayout(Memo1->toPlainText(), Field::Formula).trimmed(), kRelations[rel],
                      text::entryLayout(Memo2->toPlainText(), Field::Formula).trimmed(),
                      text::entryLayout(Memo3->toPlainText(), Field::Formula).trimmed(),
                      text::entryLayout(Edit4->text(), Field::OneLine)};
    QListWidgetItem *item = ListBox1->currentItem();
    if (item && !item->isSelected() && !before.isEmpty()) item = ListBox1->item(before.first());
    const qint64 oldKey = item ? item->data(Qt::UserRole).toLongLong() : 0;
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
        QWidget *target = focus == 1 ? static_cast<QWidget *>(Memo1)
                                     : focus == 2 ? static_cast<QWidget *>(Memo2)
                                                  : focus == 3 ? static_cast<QWidget *>(Memo3)
                                                  : focus == 4 ? static_cast<QWidget *>(Edit4) : nullptr;
        if (target) target->setFocus();
        return;
    }
    const qint64 key = SaveRule(mainDb(), s, oldKey, t);
    if (!item) {
        item = new QListWidgetItem(ListBox1);
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
    ListBox1->clearSelection();
    for (int r : before)
        if (QListWidgetItem *i = ListBox1->item(r)) i->setSelected(true);
    m_filling = false;
}

void TContrls::Button6Click() {
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
        delete ListBox1->takeItem(rows[i]);
        if (rows[i] < PreviousYearFlags.size()) PreviousYearFlags.removeAt(rows[i]);
    }
    m_filling = false;
    if (deleted > 0) showMessage(QStringLiteral("Удалено записей: ") + QString::number(deleted), this);
    if (ListBox1->count() == 0) clearEditors();
}

void TContrls::Button3Click() {
    m_copy = {Memo1->toPlainText(), Memo2->toPlainText(), Memo3->toPlainText(), Edit4->text(), relationIndex()};
}

void TContrls::Button4Click() {
    Memo1->setPlainText(m_copy.lft);
    Memo2->setPlainText(m_copy.rght);
    Memo3->setPlainText(m_copy.cycl);
    Edit4->setText(m_copy.commnt);
    setRelation(m_copy.relation);
}

void TContrls::Button2Click() {
    QPlainTextEdit *memo = m_memo;
    if (!memo) return;
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
    view->setCaptions(ComboBox1->currentText(), ComboBox2->currentText());
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

void TContrls::Edit1Enter(QPlainTextEdit *memo) {
    m_memo = memo;
    Button2->setEnabled(true);
}

void TContrls::Edit3Enter() {
    m_memo = nullptr;
    Button2->setEnabled(false);
}

bool TContrls::eventFilter(QObject *watched, QEvent *event) {
    QPlainTextEdit *memo = nullptr;
    for (QPlainTextEdit *m : {Memo1, Memo2, Memo3})
        if (watched == m || watched == m->viewport()) memo = m;
    switch (event->type()) {
    case QEvent::FocusIn:
        if (memo) Edit1Enter(memo);
        else Edit3Enter();
        break;
    case QEvent::FocusOut:
        if (memo) {
            const auto reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) m_memo = nullptr;   // Memo1Exit
        }
        break;
    case QEvent::KeyRelease:
        if (memo == Memo1) TimerLeft->start();
        else if (memo == Memo2) TimerRight->start();
        break;
    case QEvent::MouseButtonRelease:
        if (memo == Memo1) ShowSideDecipher(Memo1, 1);
        else if (memo == Memo2) ShowSideDecipher(Memo2, 2);
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- Decipher -------------------------------------------------------------------

void TContrls::HideDecipher() {
    if (!RichEdit1) return;
    if (Highlighter) Highlighter->Hide();   // its previous-year pane as well
    RichEdit1->clear();
    QPalette p = RichEdit1->palette();
    p.setColor(QPalette::Base, palette().color(QPalette::Window));
    RichEdit1->setPalette(p);
    RichEdit1->setVisible(false);
}

QString TContrls::ExpandEditorSide(const QString &text) const {
    return ExpandRuleSide(text, ruleClass(), Memo3->toPlainText(), EditorTable, EditorFormName);
}

void TContrls::LeftTimerTick() {
    TimerLeft->stop();
    ShowSideDecipher(Memo1, 1);
}

void TContrls::RightTimerTick() {
    TimerRight->stop();
    ShowSideDecipher(Memo2, 2);
}

void TContrls::ShowSideDecipher(QPlainTextEdit *memo, int /*side*/) {
    if (!RichEdit1 || !memo) return;
    try {
        HideDecipher();
        RichEdit1->setVisible(true);
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
                RichEdit1->setPlainText(QStringLiteral("Ошибка: ") + winutil::errorText(ex));
                QPalette p = RichEdit1->palette();
                p.setColor(QPalette::Base, kErrorView);
                RichEdit1->setPalette(p);
            }
        }
        if (!RichEdit1->isVisible()) {
            RichEdit1->clear();
            QPalette p = RichEdit1->palette();
            p.setColor(QPalette::Base, palette().color(QPalette::Window));
            RichEdit1->setPalette(p);
            RichEdit1->setVisible(true);
        }
    } catch (...) {
        // the view keeps what it shows
    }
}

// ---- Lock -------------------------------------------------------------------------

void TContrls::SetTableLocked(bool locked) {
    TableLocked = locked;
    ComboBox1->setVisible(!locked);
    ComboBox2->setVisible(!locked);
    // The hidden choice is still named, so the user sees whose rules these are.
    m_formLabel->setText(QStringLiteral("Форма:") + (locked ? u' ' + ComboBox1->currentText() : QString()));
    m_tableLabel->setText(QStringLiteral("Таблица:") + (locked ? u' ' + ComboBox2->currentText() : QString()));
    RadioGroup1->setEnabled(!locked);
    RadioGroup3->setEnabled(!locked);
}

// ---- Replacement and search -----------------------------------------------------

void TContrls::Button13Click() {
    if (Edit1->text().isEmpty()) {
        showMessage(QStringLiteral("Не задан текст для поиска!"), this);
        Edit1->setFocus();
        return;
    }
    if (ListBox1->count() == 0) {
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
        if (itemKey(r) != 0 && ListBox1->item(r)->text() != kNewRuleText) keys.append(itemKey(r));
    int changed = 0;
    QStringList refused;
    const QHash<qint64, QString> comments = ReplaceInRules(mainDb(), keys, std::max(0, RadioGroup4Buttons->checkedId()),
                                                           Edit1->text(), Edit2->text(), &changed, &refused);
    for (int r : rows)
        if (comments.contains(itemKey(r)))
            ListBox1->item(r)->setText(relabel(ListBox1->item(r)->text(), comments.value(itemKey(r)), TableLocked));
    if (changed > 0) ListBox1->viewport()->update();
    if (!refused.isEmpty())
        showMessage(QStringLiteral("Не изменены контроли, которые после замены не прошли бы проверку:\r\n") +
                        refused.join(QStringLiteral("\r\n")),
                    this);
}

void TContrls::Button12Click() {
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

void TContrls::BitBtn1Click() {
    exportLines(QStringLiteral("Выгрузка контролей"), QStringLiteral("controls.orv"),
                [] { return ControlFileLinesAll(mainDb()); });
}

void TContrls::Button9Click() {
    QList<qint64> keys;
    for (int i = 0; i < ListBox1->count(); ++i) keys.append(itemKey(i));
    exportLines(QStringLiteral("Выгрузка списка контролей"), QStringLiteral("controls.orv"),
                [keys] { return ControlFileLinesForKeys(mainDb(), keys); });
}

void TContrls::Button10Click() {
    if (EditorFormId < 0) return;
    const qint64 id = EditorFormId;
    const QString name = EditorFormName;
    exportLines(QStringLiteral("Укажите папку и имя файла для сохранения ВСЕХ контролей по ") + name,
                QStringLiteral("controls_") + name + QStringLiteral(".orv"),
                [id, name] { return ControlFileLinesForForm(mainDb(), id, name); });
}

void TContrls::Button11Click() {
    if (EditorFormId < 0) return;
    if (confirm(QStringLiteral("Вы действительно хотите удалить ВСЕ контроли по ") + EditorFormName +
                    QStringLiteral("?\r\n(внутритабличные, межтабличные, межформенные)"),
                this))
        DeleteFormRules(mainDb(), EditorFormId, EditorFormName);
    m_filling = true;
    ListBox1->setCurrentRow(-1);
    m_filling = false;
    GetControlsList();
}

void TContrls::Button8Click() {
    const int n = ListBox1->count();
    if (!confirm(QStringLiteral("Вы уверены, что хотите удалить ") + QString::number(n) + QStringLiteral(" контролей?"),
                 this))
        return;
    QList<qint64> keys;
    for (int i = 0; i < n; ++i) keys.append(itemKey(i));
    DeleteRules(mainDb(), keys);
    ListBox1->clear();
    PreviousYearFlags.clear();
    clearEditors();
}

void TContrls::Button7Click() {
    const int cls = ruleClass();
    const int filter = ruleFilter();
    QList<qint64> keys;
    for (int i = 0; i < ListBox1->count(); ++i) keys.append(itemKey(i));
    const QStringList lines = RulePrintLines(
        mainDb(),
        {ComboBox1->currentText(), ComboBox2->currentText(), kClassCaptions[cls] + QStringLiteral(" - ") + kFilterCaptions[filter]},
        keys);
    office::WordDocument doc = office::buildTabTextDocument(lines, 3);
    office::show(doc, QStringLiteral("Контроли"));
}

void TContrls::BitBtn2Click() {
    TCld loader(this);
    execModal(&loader);
    m_filling = true;
    ListBox1->setCurrentRow(-1);
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
    for (int i = 0; i < ComboBox1->count(); ++i)
        if (ComboBox1->itemData(i).toLongLong() == formId) {
            ComboBox1->setCurrentIndex(i);
            break;
        }
    RadioGroup1Buttons->button(IntraTable)->setChecked(true);
    ComboBox1Click();
    for (int i = 0; i < ComboBox2->count(); ++i)
        if (ComboBox2->itemText(i).startsWith(tableNumber + QStringLiteral(" - "))) {
            ComboBox2->setCurrentIndex(i);
            break;
        }
    ComboBox2Click();
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
