#include "forms/table/CalcRuleEditor.h"
#include "engine/CellNumbering.h"

#include "core/CaptionLabel.h"
#include "engine/Conditions.h"
#include "core/FormulaHighlighter.h"
#include "engine/TextUtil.h"
#include "core/TreeMarking.h"
#include "engine/TableShape.h"
#include "forms/shared/FormListCommon.h"
#include "platform/Errors.h"
#include "widgets/WindowLayout.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "widgets/AbcCheckBox.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace calcrule {

namespace {

QString koeffText(const QVariant &v) { return ConditionDivisorText(ConditionDivisor(v)); }

// The rule found by the where text; nothing when there is none.
std::optional<QSqlRecord> readRecord(qint64 tid, int row, int column) {
    QSqlQuery q = db::exec(db::kMain,
                           QStringLiteral("select * from conditions where tid=? and \"row\"=? and \"column\"=?"),
                           {tid, row, column});
    if (!q.next()) return std::nullopt;
    return q.record();
}

RuleFields fieldsOf(const QSqlRecord &r) {
    RuleFields f;
    f.sum = db::storedYes(r.value(QStringLiteral("type")));
    f.formula = r.value(QStringLiteral("formula")).toString();
    f.condition = r.value(QStringLiteral("condition")).toString();
    f.koeff = koeffText(r.value(QStringLiteral("koeff")));
    f.country = db::storedYes(r.value(QStringLiteral("country")));
    f.midle = db::storedYes(r.value(QStringLiteral("midle")));
    f.types = NormalizeTypes(r.value(QStringLiteral("types")).toString());
    return f;
}

const QString kFormulaField = QStringLiteral("Формула");
const QString kConditionField = QStringLiteral("Условие");

QString divisorProblem(const QString &text) {
    double k = 1;
    if (ReadConditionDivisor(text, k)) return {};
    return QStringLiteral("Делитель \"%1\" не сохранен: нужно число от -%2 до %2, не равное нулю")
        .arg(text.trimmed(), ConditionDivisorText(kMaxDivisor));
}

// The divisor to store; a text that is no divisor is refused, nothing stored.
double koeffValue(const QString &text) {
    if (const QString why = divisorProblem(text); !why.isEmpty()) throw db::Error(why);
    double k = 1;
    ReadConditionDivisor(text, k);
    return k;
}

} // namespace

QString fieldsProblem(const RuleFields &f, RuleField *where) {
    const std::pair<QString, RuleField> problems[] = {
        {text::entryProblem(f.formula, kFormulaField), RuleField::Formula},
        {text::entryProblem(f.condition, kConditionField), RuleField::Condition},
        {divisorProblem(f.koeff), RuleField::Divisor}};
    for (const auto &[why, field] : problems)
        if (!why.isEmpty()) {
            if (where) *where = field;
            return why;
        }
    if (where) *where = RuleField::None;
    return {};
}

std::optional<RuleFields> ReadCalcRule(qint64 tid, const RulePlace &place) {
    const auto rec = readRecord(tid, place.storedRow(), place.storedColumn());
    if (!rec) return std::nullopt;
    return fieldsOf(*rec);
}

void SaveCalcRule(qint64 tid, const RulePlace &place, const RuleFields &f, bool exists) {
    const QString types = NormalizeTypes(f.types);
    const double koeff = koeffValue(f.koeff);
    const QString formula = text::entry(f.formula, text::Field::Formula, kFormulaField);
    const QString condition = text::entry(f.condition, text::Field::MultiLine, kConditionField);
    const QSqlDatabase d = db::connection(db::kMain);
    db::transaction(d, [&] {
        if (exists) {
            db::exec(d,
                     QStringLiteral("update conditions set formula=?, condition=?, type=?, koeff=?, midle=?, "
                                    "types=?, country=? where tid=? and \"row\"=? and \"column\"=?"),
                     {formula, condition, f.sum, koeff, f.midle, types, f.country, tid,
                      place.storedRow(), place.storedColumn()});
        } else {
            db::exec(d,
                     QStringLiteral("insert into conditions (tid, \"row\", \"column\", type, formula, condition, "
                                    "koeff, country, lft, rght, midle, types) values (?,?,?,?,?,?,?,?,?,?,?,?)"),
                     {tid, place.storedRow(), place.storedColumn(), f.sum, formula, condition,
                      koeff, f.country, QString(""), QString(""), f.midle, types});
        }
    });
}

void DeleteCalcRule(qint64 tid, const RulePlace &place) {
    db::exec(db::kMain, QStringLiteral("delete from conditions where tid=? and \"row\"=? and \"column\"=?"),
             {tid, place.storedRow(), place.storedColumn()});
}

RuleFields InheritLineRules(qint64 tid, int scan, int row, int column) {
    // Outer rule: rows for scan 0, columns otherwise; the inner one the other.
    const auto outerRec = scan == 0 ? readRecord(tid, row, -1) : readRecord(tid, -1, column);
    const auto innerRec = scan == 1 ? readRecord(tid, row, -1) : readRecord(tid, -1, column);
    const RuleFields outer = outerRec ? fieldsOf(*outerRec) : RuleFields{};
    const RuleFields inner = innerRec ? fieldsOf(*innerRec) : RuleFields{};

    RuleFields f;
    f.types = outer.types;
    f.koeff = outer.koeff;
    f.midle = outer.midle;
    f.sum = inner.sum;
    if (!outer.condition.isEmpty() && !inner.condition.isEmpty())
        f.condition = u'(' + outer.condition + QStringLiteral(") and\n\r(") + inner.condition + u')';
    else if (!inner.condition.isEmpty())
        f.condition = inner.condition;
    else
        f.condition = outer.condition;
    f.formula = inner.formula;
    f.formula.replace(u'*', outer.formula);
    f.country = outer.country || inner.country;
    return f;
}

int TableScan(qint64 tid) {
    return FindTableShape(db::connection(db::kMain), tid).value_or(TableShape()).scan;
}

QString RuleCaption(const RulePlace &place) {
    const char *what = place.kind == RuleKind::Cell  ? "ячейки"
                       : place.kind == RuleKind::Row ? "строки"
                                                      : "столбца";
    return QStringLiteral("Правила для %1 (Row: %2 Col: %3)")
        .arg(QString::fromUtf8(what))
        .arg(place.row)
        .arg(place.column);
}

QString CoveringTitles(const QList<GridTitle> &titles, GridTitle::Band band, int number) {
    QString out;
    for (const GridTitle &t : titles)
        if (t.band == band && t.spanStart <= number && t.spanEnd >= number) out += t.text + u':';
    return out;
}

QString DescribeRulePlace(const QList<GridTitle> &titles, const RulePlace &place, int fixcols, int fixrows) {
    const QString rows = CoveringTitles(titles, GridTitle::RowHeader, cells::structRowOfGrid(place.row, fixrows));
    const QString cols =
        CoveringTitles(titles, GridTitle::ColumnHeader, cells::structColumnOfGrid(place.column, fixcols));
    switch (place.kind) {
    case RuleKind::Cell: return rows + u'\n' + cols;
    case RuleKind::Row: return rows;
    case RuleKind::Column: return cols;
    }
    return {};
}

RuleKind LineRuleKind(int scan, bool outerItem) {
    const bool outerIsRow = scan == 0;
    return outerItem == outerIsRow ? RuleKind::Row : RuleKind::Column;
}

} // namespace calcrule

using namespace calcrule;

// ---- Dialog -------------------------------------------------------------------

TNTChar::TNTChar(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("NTChar"));
    setWindowTitle(QStringLiteral("Правила"));
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    setFont(f);
    winutil::fitToScreen(this, QSize(730, 696));

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(6, 6, 6, 6);
    top->setSpacing(4);

    Label1 = newCaptionLabel(this);
    Label1->setMinimumHeight(36);
    top->addWidget(Label1);

    abcCheckBox1 = new TabcCheckBox(QStringLiteral("Выбрать всех"), this);
    top->addWidget(abcCheckBox1);

    TreeView1 = new QTreeWidget(this);
    winutil::setupTree(TreeView1);
    top->addWidget(TreeView1, 3);

    GroupBox1 = new QGroupBox(this);
    auto *g = new QGridLayout(GroupBox1);
    RadioGroup1 = new QGroupBox(GroupBox1);
    auto *rl = new QHBoxLayout(RadioGroup1);
    RadioCounter = new QRadioButton(QStringLiteral("Счетчик"), RadioGroup1);
    RadioSum = new QRadioButton(QStringLiteral("Сумма"), RadioGroup1);
    auto *radios = new QButtonGroup(this);
    radios->addButton(RadioCounter, 0);
    radios->addButton(RadioSum, 1);
    RadioCounter->setChecked(true);
    rl->addWidget(RadioCounter);
    rl->addWidget(RadioSum);
    rl->addStretch(1);
    g->addWidget(RadioGroup1, 0, 0, 1, 4);

    Label5 = new QLabel(QStringLiteral("Формула"), GroupBox1);
    Edit1 = new QLineEdit(GroupBox1);
    g->addWidget(Label5, 1, 0);
    g->addWidget(Edit1, 1, 1, 1, 3);

    CheckBox2 = new QCheckBox(QStringLiteral("Среднее"), GroupBox1);
    CheckBox1 = new QCheckBox(QStringLiteral("Сельская местность"), GroupBox1);
    Label4 = new QLabel(QStringLiteral("Коэффициент"), GroupBox1);
    Edit3 = new QLineEdit(QStringLiteral("1"), GroupBox1);
    Edit3->setMaxLength(9);
    // A stored negative or fractional divisor is shown and kept as it is.
    Edit3->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]*([.,][0-9]*)?")), Edit3));
    Edit3->setMaximumWidth(120);
    g->addWidget(CheckBox2, 2, 0);
    g->addWidget(CheckBox1, 2, 1);
    g->addWidget(Label4, 2, 2, Qt::AlignRight);
    g->addWidget(Edit3, 2, 3);

    Memo1 = new QPlainTextEdit(GroupBox1);
    Memo1->setPlaceholderText(QStringLiteral("Условие"));
    g->addWidget(Memo1, 3, 0, 1, 4);
    g->setColumnStretch(1, 1);
    top->addWidget(GroupBox1, 2);

    Label2 = new QTextEdit(this);
    Label2->setReadOnly(true);
    QPalette info = Label2->palette();
    info.setColor(QPalette::Base, QColor(255, 255, 225));
    Label2->setPalette(info);
    Label2->setVisible(false);
    top->addWidget(Label2, 2);

    GroupBox2 = new QGroupBox(this);
    auto *bl = new QHBoxLayout(GroupBox2);
    BitBtn1 = new QPushButton(QStringLiteral("Ok"), GroupBox2);
    BitBtn3 = new QPushButton(QStringLiteral("Удалить"), GroupBox2);
    BitBtn2 = new QPushButton(QStringLiteral("Отказ"), GroupBox2);
    CheckListBox1 = new QListWidget(GroupBox2);
    CheckListBox1->setVisible(false);
    BitBtn1->setDefault(true);
    bl->addStretch(1);
    bl->addWidget(BitBtn1);
    bl->addWidget(BitBtn3);
    bl->addWidget(BitBtn2);
    bl->addStretch(1);
    top->addWidget(GroupBox2);

    m_light = std::make_unique<TFormulaHighlighter>(Edit1, Label2);

    connect(BitBtn1, &QPushButton::clicked, this, &TNTChar::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn3, &QPushButton::clicked, this, [this] { done(kDeleteResult); });
    connect(radios, &QButtonGroup::idClicked, this, [this](int) { RadioGroup1Click(); });
    connect(CheckBox1, &QCheckBox::clicked, this, [this] { Sets(); });
    connect(CheckBox2, &QCheckBox::clicked, this, [this] { Sets(); });
    connect(abcCheckBox1, &QCheckBox::clicked, this, &TNTChar::abcCheckBox1Click);
    connect(TreeView1, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *node, int) { TreeView1DblClick(node); });
    connect(Edit3, &QLineEdit::textChanged, this, &TNTChar::Edit3Change);
    connect(Edit1, &QLineEdit::textChanged, this, [this] { explainAtCaret(Edit1); });
    connect(Edit1, &QLineEdit::cursorPositionChanged, this, [this] { explainAtCaret(Edit1); });
    connect(Memo1, &QPlainTextEdit::textChanged, this, [this] { explainAtCaret(Memo1); });
    connect(Memo1, &QPlainTextEdit::cursorPositionChanged, this, [this] { explainAtCaret(Memo1); });
    // The caret going to the other field takes the explanation along.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now == Edit1 || now == Memo1) explainAtCaret(now);
    });
}

void TNTChar::explainAtCaret(QWidget *field) {
    if (!m_light) return;
    m_light->SetEdit(field);
    try {
        m_light->Update();
    } catch (const std::exception &) {
        // A half-typed reference explains nothing yet.
        m_light->Hide();
    }
}

TNTChar::~TNTChar() = default;

void TNTChar::setFields(const RuleFields &f) {
    m_types = f.types;
    Edit1->setText(f.formula);
    Memo1->setPlainText(f.condition);
    (f.sum ? RadioSum : RadioCounter)->setChecked(true);
    Edit3->setText(f.koeff.isEmpty() ? QStringLiteral("1") : f.koeff);
    CheckBox1->setChecked(f.country);
    CheckBox2->setChecked(f.midle);
    CheckBox2->setVisible(f.sum && !OuterKind);
}

RuleFields TNTChar::fields() const {
    RuleFields f;
    f.sum = RadioSum->isChecked();
    f.formula = Edit1->text();
    f.condition = Memo1->toPlainText();
    f.koeff = Edit3->text();
    f.country = CheckBox1->isChecked();
    f.midle = CheckBox2->isChecked();
    f.types = m_types;
    return f;
}

void TNTChar::fillTypes(QTreeWidgetItem *parent, qint64 parentId, int depth) {
    if (depth > 64) return;   // a type that is its own ancestor
    QSqlQuery q = db::exec(db::kMain, QStringLiteral("select id, type from medicaltypes where parent=? order by ind, id"),
                           {parentId});
    QList<QPair<qint64, QString>> rows;
    while (q.next()) rows.append({q.value(0).toLongLong(), q.value(1).toString()});
    for (const auto &r : rows) {
        auto *node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
        node->setText(0, r.second);
        node->setData(0, kNodeIdRole, r.first);
        fillTypes(node, r.first, depth + 1);
    }
}

void TNTChar::FormActivate() {
    if (OuterKind) {
        RadioGroup1->setVisible(false);
        CheckBox2->setVisible(false);
        Label4->setVisible(false);
        Edit3->setVisible(false);
    }
    m_filling = true;
    TreeView1->clear();
    fillTypes(nullptr, 0, 0);
    TreeView1->expandAll();
    abcCheckBox1->setChecked(m_types == QLatin1String("*"));
    m_filling = false;
    Sets();
}

void TNTChar::Sets() {
    const QList<QTreeWidgetItem *> nodes = TreeNodesInOrder(TreeView1);
    if (m_types == QLatin1String("*")) {
        for (QTreeWidgetItem *n : nodes) SetTreeNodeBold(n);
    } else if (!m_types.isEmpty()) {
        const QList<qint64> chosen = text::parseIdList(m_types);
        m_types.clear();
        for (QTreeWidgetItem *n : nodes) {
            if (!chosen.contains(TreeNodeId(n))) continue;
            for (QTreeWidgetItem *p = n; p; p = p->parent()) SetTreeNodeBold(p);
        }
    }
    CheckBox2->setVisible(RadioSum->isChecked() && !OuterKind);
}

void TNTChar::RadioGroup1Click() { Sets(); }

void TNTChar::abcCheckBox1Click() {
    const bool all = abcCheckBox1->isChecked();
    for (QTreeWidgetItem *n : TreeNodesInOrder(TreeView1)) {
        if (all) SetTreeNodeBold(n);
        else ClearTreeNodeBold(n);
    }
    m_types = all ? QStringLiteral("*") : QString();
    TreeView1->viewport()->update();
}

void TNTChar::TreeView1DblClick(QTreeWidgetItem *node) {
    if (!node) return;
    if (m_types == QLatin1String("*")) m_types.clear();
    if (abcCheckBox1->isChecked()) {
        const QSignalBlocker block(abcCheckBox1);
        abcCheckBox1->setChecked(false);
    }
    if (IsTreeNodeBold(node)) UncheckTreeBranch(node);
    else CheckTreeBranch(node);
    TreeView1->viewport()->update();
}

void TNTChar::BitBtn1Click() {
    RuleField where = RuleField::None;
    if (const QString why = fieldsProblem(fields(), &where); !why.isEmpty()) {
        showMessage(why, this);
        QWidget *field = where == RuleField::Formula ? static_cast<QWidget *>(Edit1)
                         : where == RuleField::Condition ? static_cast<QWidget *>(Memo1)
                                                         : static_cast<QWidget *>(Edit3);
        field->setFocus();
        return;
    }
    if (m_types != QLatin1String("*")) {
        QStringList ids;
        for (QTreeWidgetItem *n : TreeNodesInOrder(TreeView1))
            if (n->childCount() == 0 && IsTreeNodeBold(n)) ids << QString::number(TreeNodeId(n));
        m_types = ids.join(u',');
        if (m_types.isEmpty()) {
            showMessage(QStringLiteral("Необходимо выбрать хотя бы один тип учреждений!"), this);
            return;
        }
    }
    accept();
}

void TNTChar::Edit3Change() {
    const QString t = Edit3->text().trimmed();
    // A sign or a decimal point being typed stays.
    if (t == u"-" || t.endsWith(u'.') || t.endsWith(u',')) return;
    double k = 1;
    QString plain = t;
    plain.replace(u',', u'.');
    if (t.isEmpty() || !ReadConditionDivisor(t, k) || plain.toDouble() == 0) {
        const QSignalBlocker block(Edit3);
        Edit3->setText(QStringLiteral("1"));
        Edit3->selectAll();
    }
}

void TNTChar::InheritLineRules() {
    if (!CellRule) return;
    winutil::guarded(this, [&] {
        const RuleFields f = calcrule::InheritLineRules(TableIdent, Scan, Place.row, Place.column);
        setFields(f);
        for (int i = 0; i < CheckListBox1->count(); ++i) CheckListBox1->item(i)->setCheckState(Qt::Unchecked);
        for (QTreeWidgetItem *n : TreeNodesInOrder(TreeView1)) ClearTreeNodeBold(n);
        {
            const QSignalBlocker block(abcCheckBox1);
            abcCheckBox1->setChecked(m_types == QLatin1String("*"));
        }
        Sets();
    });
}

void TNTChar::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_F8) {
        InheritLineRules();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- Opening from the table window --------------------------------------------

void openCalcRule(TVTable &table, RuleCommand command) {
    winutil::guarded(&table, [&] {
        const qint64 tid = table.params().tableIdent;
        const int scan = TableScan(tid);
        RulePlace place;
        place.row = table.currentRow();
        place.column = table.currentColumn();
        const bool cell = command == RuleCommand::Cell;
        const bool outer = command == RuleCommand::OuterLine;
        place.kind = cell ? RuleKind::Cell : LineRuleKind(scan, outer);

        TNTChar dlg(&table);
        dlg.setWindowTitle(RuleCaption(place));
        dlg.Label1->setText(table.tableCaption() + u'\n' +
                            DescribeRulePlace(table.gridTitles(), place, table.fixCols(), table.fixRows()));
        dlg.TableIdent = tid;
        dlg.Scan = scan;
        dlg.Place = place;
        dlg.OuterKind = !cell && outer;
        dlg.CellRule = cell;
        const std::optional<RuleFields> existing = ReadCalcRule(tid, place);
        dlg.setFields(existing.value_or(RuleFields{}));
        dlg.BitBtn3->setVisible(existing.has_value());
        dlg.FormActivate();

        const int result = execModal(&dlg);
        if (result == QDialog::Accepted) {
            SaveCalcRule(tid, place, dlg.fields(), existing.has_value());
        } else if (result == TNTChar::kDeleteResult && existing) {
            if (confirm(QStringLiteral("Удалить формулу?"), &table)) DeleteCalcRule(tid, place);
        }
    });
    table.focusGrid();
}

void installCalcRuleTableExtension() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    registerTableWindowExtension([](TVTable &w) {
        using C = TVTable::Command;
        w.connectCommand(C::RuleOuterLine, [&w] { openCalcRule(w, RuleCommand::OuterLine); });
        w.connectCommand(C::RuleInnerLine, [&w] { openCalcRule(w, RuleCommand::InnerLine); });
        w.connectCommand(C::RuleCell, [&w] { openCalcRule(w, RuleCommand::Cell); });
    });
}
