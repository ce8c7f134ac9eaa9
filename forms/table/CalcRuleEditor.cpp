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
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace calcrule {

namespace {

RuleFields fieldsOf(const ConditionRule &r) {
    RuleFields f;
    f.sum = r.type;
    f.formula = r.formula;
    f.condition = r.condition;
    f.koeff = ConditionDivisorText(r.koeff);
    f.country = r.country;
    f.midle = r.midle;
    f.types = NormalizeTypes(r.types);
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
    const std::optional<ConditionRule> rule = ReadConditionRule(tid, place.storedRow(), place.storedColumn());
    if (!rule) return std::nullopt;
    return fieldsOf(*rule);
}

void SaveCalcRule(qint64 tid, const RulePlace &place, const RuleFields &f) {
    const QString types = NormalizeTypes(f.types);
    const double koeff = koeffValue(f.koeff);
    const QString formula = text::entry(f.formula, text::Field::Formula, kFormulaField);
    const QString condition = text::entry(f.condition, text::Field::MultiLine, kConditionField);
    const QSqlDatabase d = db::connection(db::kMain);
    db::transaction(d, [&] {
        // The rule of the place as the dialog leaves it, whatever became of it
        // while the dialog was open: rewritten when it is there, stored anew
        // when it was deleted or never was. A table deleted behind the window
        // takes no rules.
        db::requireRow(d, QStringLiteral("select 1 from tables where ident=?"), {tid},
                       QStringLiteral("Таблица удалена из перечня форм, пока было открыто окно. Правило не сохранено."));
        db::updateOrInsert(d,
                           QStringLiteral("update conditions set formula=?, condition=?, type=?, koeff=?, midle=?, "
                                          "types=?, country=? where tid=? and \"row\"=? and \"column\"=?"),
                           {formula, condition, f.sum, koeff, f.midle, types, f.country, tid, place.storedRow(),
                            place.storedColumn()},
                           QStringLiteral("insert into conditions (tid, \"row\", \"column\", type, formula, condition, "
                                          "koeff, country, lft, rght, midle, types) values (?,?,?,?,?,?,?,?,?,?,?,?)"),
                           {tid, place.storedRow(), place.storedColumn(), f.sum, formula, condition, koeff, f.country,
                            QString(""), QString(""), f.midle, types});
    });
}

void DeleteCalcRule(qint64 tid, const RulePlace &place) {
    db::exec(db::kMain, QStringLiteral("delete from conditions where tid=? and \"row\"=? and \"column\"=?"),
             {tid, place.storedRow(), place.storedColumn()});
}

RuleFields InheritLineRules(qint64 tid, int scan, int row, int column) {
    const LineRules lines = ReadLineRules(tid, scan, row, column);
    const RuleFields outer = lines.outer ? fieldsOf(*lines.outer) : RuleFields{};
    const RuleFields inner = lines.inner ? fieldsOf(*lines.inner) : RuleFields{};

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
    f.formula = ConditionFormulaWithOuter(inner.formula, outer.formula);
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

TNTChar::TNTChar(QWidget *parent) : TNTChar(parent, Opening{}) {}

TNTChar::TNTChar(QWidget *parent, const Opening &opening) : QDialog(parent), m_opening(opening) {
    setObjectName(QStringLiteral("NTChar"));
    setWindowTitle(QStringLiteral("Правила"));
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    setFont(f);
    winutil::fitToScreen(this, QSize(730, 696));

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(6, 6, 6, 6);
    top->setSpacing(4);

    m_ui.place = newCaptionLabel(this);
    m_ui.place->setMinimumHeight(36);
    top->addWidget(m_ui.place);

    m_ui.allTypes = new TabcCheckBox(QStringLiteral("Выбрать всех"), this);
    top->addWidget(m_ui.allTypes);

    m_ui.types = new QTreeWidget(this);
    winutil::setupTree(m_ui.types);
    top->addWidget(m_ui.types, 3);

    m_ui.ruleGroup = new QGroupBox(this);
    auto *g = new QGridLayout(m_ui.ruleGroup);
    m_ui.kindGroup = new QGroupBox(m_ui.ruleGroup);
    auto *rl = new QHBoxLayout(m_ui.kindGroup);
    m_ui.counter = new QRadioButton(QStringLiteral("Счетчик"), m_ui.kindGroup);
    m_ui.sum = new QRadioButton(QStringLiteral("Сумма"), m_ui.kindGroup);
    auto *radios = new QButtonGroup(this);
    radios->addButton(m_ui.counter, 0);
    radios->addButton(m_ui.sum, 1);
    m_ui.counter->setChecked(true);
    rl->addWidget(m_ui.counter);
    rl->addWidget(m_ui.sum);
    rl->addStretch(1);
    g->addWidget(m_ui.kindGroup, 0, 0, 1, 4);

    m_ui.formulaLabel = new QLabel(QStringLiteral("Формула"), m_ui.ruleGroup);
    m_ui.formula = new QLineEdit(m_ui.ruleGroup);
    g->addWidget(m_ui.formulaLabel, 1, 0);
    g->addWidget(m_ui.formula, 1, 1, 1, 3);

    m_ui.average = new QCheckBox(QStringLiteral("Среднее"), m_ui.ruleGroup);
    m_ui.rural = new QCheckBox(QStringLiteral("Сельская местность"), m_ui.ruleGroup);
    m_ui.divisorLabel = new QLabel(QStringLiteral("Коэффициент"), m_ui.ruleGroup);
    m_ui.divisor = new QLineEdit(QStringLiteral("1"), m_ui.ruleGroup);
    m_ui.divisor->setMaxLength(9);
    // A stored negative or fractional divisor is shown and kept as it is.
    m_ui.divisor->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]*([.,][0-9]*)?")), m_ui.divisor));
    m_ui.divisor->setMaximumWidth(120);
    // "Среднее" shows only for a sum: its room is kept while it is hidden, so
    // that choosing "Сумма" moves nothing.
    QSizePolicy keep = m_ui.average->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_ui.average->setSizePolicy(keep);
    g->addWidget(m_ui.average, 2, 0);
    g->addWidget(m_ui.rural, 2, 1);
    g->addWidget(m_ui.divisorLabel, 2, 2, Qt::AlignRight);
    g->addWidget(m_ui.divisor, 2, 3);

    m_ui.condition = new QPlainTextEdit(m_ui.ruleGroup);
    m_ui.condition->setPlaceholderText(QStringLiteral("Условие"));
    g->addWidget(m_ui.condition, 3, 0, 1, 4);
    g->setColumnStretch(1, 1);
    top->addWidget(m_ui.ruleGroup, 2);

    m_ui.explanation = new QTextEdit(this);
    m_ui.explanation->setReadOnly(true);
    QPalette info = m_ui.explanation->palette();
    info.setColor(QPalette::Base, QColor(255, 255, 225));
    m_ui.explanation->setPalette(info);
    m_ui.explanation->setVisible(false);
    // The explanation comes and goes with the caret: its room stays, and the
    // fields above it stay where they are.
    QSizePolicy room = m_ui.explanation->sizePolicy();
    room.setRetainSizeWhenHidden(true);
    m_ui.explanation->setSizePolicy(room);
    top->addWidget(m_ui.explanation, 2);

    m_ui.buttonGroup = new QGroupBox(this);
    auto *bl = new QHBoxLayout(m_ui.buttonGroup);
    m_ui.ok = new QPushButton(QStringLiteral("Ok"), m_ui.buttonGroup);
    m_ui.remove = new QPushButton(QStringLiteral("Удалить"), m_ui.buttonGroup);
    m_ui.cancel = new QPushButton(QStringLiteral("Отказ"), m_ui.buttonGroup);
    m_ui.typeChecks = new QListWidget(m_ui.buttonGroup);
    m_ui.typeChecks->setVisible(false);
    m_ui.ok->setDefault(true);
    bl->addStretch(1);
    bl->addWidget(m_ui.ok);
    bl->addWidget(m_ui.remove);
    bl->addWidget(m_ui.cancel);
    bl->addStretch(1);
    top->addWidget(m_ui.buttonGroup);

    m_light = std::make_unique<TFormulaHighlighter>(m_ui.formula, m_ui.explanation);

    connect(m_ui.ok, &QPushButton::clicked, this, &TNTChar::acceptRule);
    connect(m_ui.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui.remove, &QPushButton::clicked, this, [this] { done(kDeleteResult); });
    connect(radios, &QButtonGroup::idClicked, this, [this](int) { kindChosen(); });
    connect(m_ui.rural, &QCheckBox::clicked, this, [this] { Sets(); });
    connect(m_ui.average, &QCheckBox::clicked, this, [this] { Sets(); });
    connect(m_ui.allTypes, &QCheckBox::clicked, this, &TNTChar::chooseAllTypes);
    connect(m_ui.types, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *node, int) { switchType(node); });
    connect(m_ui.divisor, &QLineEdit::textChanged, this, &TNTChar::divisorChanged);
    connect(m_ui.formula, &QLineEdit::textChanged, this, [this] { explainAtCaret(m_ui.formula); });
    connect(m_ui.formula, &QLineEdit::cursorPositionChanged, this, [this] { explainAtCaret(m_ui.formula); });
    connect(m_ui.condition, &QPlainTextEdit::textChanged, this, [this] { explainAtCaret(m_ui.condition); });
    connect(m_ui.condition, &QPlainTextEdit::cursorPositionChanged, this, [this] { explainAtCaret(m_ui.condition); });
    // The caret going to the other field takes the explanation along.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now == m_ui.formula || now == m_ui.condition) explainAtCaret(now);
    });

    setFields(m_opening.fields);
    if (m_opening.outerKind) {
        m_ui.kindGroup->setVisible(false);
        QSizePolicy gone = m_ui.average->sizePolicy();
        gone.setRetainSizeWhenHidden(false);   // never shown in this window
        m_ui.average->setSizePolicy(gone);
        m_ui.average->setVisible(false);
        m_ui.divisorLabel->setVisible(false);
        m_ui.divisor->setVisible(false);
    }
    showTypes();
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

void TNTChar::setPlaceText(const QString &text) { m_ui.place->setText(text); }

void TNTChar::setDeletable(bool on) { m_ui.remove->setVisible(on); }

QCheckBox *TNTChar::allTypesBox() const { return m_ui.allTypes; }

void TNTChar::setFields(const RuleFields &f) {
    m_types = f.types;
    m_ui.formula->setText(f.formula);
    m_ui.condition->setPlainText(f.condition);
    (f.sum ? m_ui.sum : m_ui.counter)->setChecked(true);
    m_ui.divisor->setText(f.koeff.isEmpty() ? QStringLiteral("1") : f.koeff);
    m_ui.rural->setChecked(f.country);
    m_ui.average->setChecked(f.midle);
    m_ui.average->setVisible(f.sum && !m_opening.outerKind);
}

RuleFields TNTChar::fields() const {
    RuleFields f;
    f.sum = m_ui.sum->isChecked();
    f.formula = m_ui.formula->text();
    f.condition = m_ui.condition->toPlainText();
    f.koeff = m_ui.divisor->text();
    f.country = m_ui.rural->isChecked();
    f.midle = m_ui.average->isChecked();
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
        auto *node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_ui.types);
        node->setText(0, r.second);
        node->setData(0, kNodeIdRole, r.first);
        fillTypes(node, r.first, depth + 1);
    }
}

void TNTChar::showTypes() {
    m_filling = true;
    m_ui.types->clear();
    fillTypes(nullptr, 0, 0);
    m_ui.types->expandAll();
    m_ui.allTypes->setChecked(m_types == QLatin1String("*"));
    m_filling = false;
    Sets();
}

void TNTChar::Sets() {
    const QList<QTreeWidgetItem *> nodes = TreeNodesInOrder(m_ui.types);
    if (m_types == QLatin1String("*")) {
        for (QTreeWidgetItem *n : nodes) MarkTreeNode(n);
    } else if (!m_types.isEmpty()) {
        const QList<qint64> chosen = text::parseIdList(m_types);
        m_types.clear();
        for (QTreeWidgetItem *n : nodes) {
            if (!chosen.contains(TreeNodeId(n))) continue;
            for (QTreeWidgetItem *p = n; p; p = p->parent()) MarkTreeNode(p);
        }
    }
    m_ui.average->setVisible(m_ui.sum->isChecked() && !m_opening.outerKind);
}

void TNTChar::kindChosen() { Sets(); }

void TNTChar::chooseAllTypes() {
    const bool all = m_ui.allTypes->isChecked();
    for (QTreeWidgetItem *n : TreeNodesInOrder(m_ui.types)) {
        if (all) MarkTreeNode(n);
        else UnmarkTreeNode(n);
    }
    m_types = all ? QStringLiteral("*") : QString();
    m_ui.types->viewport()->update();
}

void TNTChar::switchType(QTreeWidgetItem *node) {
    if (!node) return;
    if (m_types == QLatin1String("*")) m_types.clear();
    if (m_ui.allTypes->isChecked()) {
        const QSignalBlocker block(m_ui.allTypes);
        m_ui.allTypes->setChecked(false);
    }
    if (IsTreeNodeMarked(node)) UncheckTreeBranch(node);
    else CheckTreeBranch(node);
    m_ui.types->viewport()->update();
}

void TNTChar::acceptRule() {
    RuleField where = RuleField::None;
    if (const QString why = fieldsProblem(fields(), &where); !why.isEmpty()) {
        showMessage(why, this);
        QWidget *field = where == RuleField::Formula ? static_cast<QWidget *>(m_ui.formula)
                         : where == RuleField::Condition ? static_cast<QWidget *>(m_ui.condition)
                                                         : static_cast<QWidget *>(m_ui.divisor);
        field->setFocus();
        return;
    }
    if (m_types != QLatin1String("*")) {
        m_types = text::joinIdList(MarkedLeafIds(m_ui.types));
        if (m_types.isEmpty()) {
            showMessage(QStringLiteral("Необходимо выбрать хотя бы один тип учреждений!"), this);
            return;
        }
    }
    accept();
}

void TNTChar::divisorChanged() {
    const QString t = m_ui.divisor->text().trimmed();
    // A sign or a decimal point being typed stays.
    if (t == u"-" || t.endsWith(u'.') || t.endsWith(u',')) return;
    double k = 1;
    QString plain = t;
    plain.replace(u',', u'.');
    if (t.isEmpty() || !ReadConditionDivisor(t, k) || plain.toDouble() == 0) {
        const QSignalBlocker block(m_ui.divisor);
        m_ui.divisor->setText(QStringLiteral("1"));
        m_ui.divisor->selectAll();
    }
}

void TNTChar::InheritLineRules() {
    if (!m_opening.cellRule) return;
    winutil::guarded(this, [&] {
        const RuleFields f = calcrule::InheritLineRules(m_opening.tableIdent, m_opening.scan, m_opening.place.row, m_opening.place.column);
        setFields(f);
        for (int i = 0; i < m_ui.typeChecks->count(); ++i) m_ui.typeChecks->item(i)->setCheckState(Qt::Unchecked);
        for (QTreeWidgetItem *n : TreeNodesInOrder(m_ui.types)) UnmarkTreeNode(n);
        {
            const QSignalBlocker block(m_ui.allTypes);
            m_ui.allTypes->setChecked(m_types == QLatin1String("*"));
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

        const std::optional<RuleFields> existing = ReadCalcRule(tid, place);
        TNTChar dlg(&table, {tid, scan, place, !cell && outer, cell, existing.value_or(RuleFields{})});
        dlg.setWindowTitle(RuleCaption(place));
        dlg.setPlaceText(table.tableCaption() + u'\n' +
                         DescribeRulePlace(table.gridTitles(), place, table.fixCols(), table.fixRows()));
        dlg.setDeletable(existing.has_value());

        const int result = execModal(&dlg);
        if (result == QDialog::Accepted) {
            SaveCalcRule(tid, place, dlg.fields());
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
