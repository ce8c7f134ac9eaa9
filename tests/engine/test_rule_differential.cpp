// The rule check and the rule run read a rule alike: every text the check
// accepts is run on values and must give exactly the lines an independent
// reading of the generated rule gives, one check per cycle position, both
// sides reduced to numbers. RULE_DIFFERENTIAL_SEED gives another set of texts.
#include "test_engine_db.h"

#include "engine/FormulaParser.h"
#include "engine/NumberFormat.h"
#include "engine/RuleCheck.h"
#include "engine/RuleEngine.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QHash>
#include <QMap>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

namespace {

// Ф12 (1000): ГР3..6, СТР1..4; Ф12 (2000): ГР1..4, СТР1..3; Ф14 (1): ГР2..3, СТР1..2.
struct TableInfo {
    QString form, key;   // "Ф12", "1000"
    int colLow, colHigh, rowCount, fixRows;
    qint64 ident = 0;
};

using Values = QHash<QString, double>;   // "table|column|row" -> value
QString cellKey(int table, int column, int row) { return QStringLiteral("%1|%2|%3").arg(table).arg(column).arg(row); }

enum class Line { None, Rows, Columns };

struct Operand {
    bool constant = false;
    double value = 0;
    QString constantText;
    int table = 0;
    QList<QPair<int, int>> rows, columns;   // items as written (a..b)
};

// An expression: operands and operators in precedence levels, as written.
struct Node {
    enum Kind { Leaf, Sum, Product, Bracket } kind = Leaf;
    Operand operand;
    QList<std::shared_ptr<Node>> items;   // Sum / Product: operands; Bracket: one
    QList<QChar> ops;                     // between items
};
using NodeP = std::shared_ptr<Node>;

struct Rule {
    int ruleClass = 0;               // 0 own table, 1 between tables, 2 between forms
    NodeP left, right;
    QString relation;
    Line line = Line::None;
    QList<QPair<int, int>> cycle;    // items as written
    QString leftText, rightText, cycleText;
};

class Generator {
public:
    explicit Generator(const QList<TableInfo> &tables, quint32 seed) : m_tables(tables), m_random(seed) {}

    Rule rule() {
        Rule r;
        r.ruleClass = pick(3);
        r.relation = QStringList{"=", "<>", ">", ">=", "<", "<="}[pick(6)];
        m_used.clear();
        m_class = r.ruleClass;
        // The cycle line is chosen first: references then leave it out.
        r.line = pick(3) == 0 ? Line::None : pick(2) ? Line::Rows : Line::Columns;
        m_line = r.line;
        r.left = expression(0);
        r.right = chance(4) ? r.left : expression(0);   // the same side again, written otherwise
        if (r.ruleClass == 0) m_used.insert(0);
        if (r.line != Line::None) {
            int low = 1, high = 1 << 20;
            for (int t : std::as_const(m_used)) {
                const TableInfo &g = m_tables[t];
                low = std::max(low, r.line == Line::Rows ? 1 : g.colLow);
                high = std::min(high, r.line == Line::Rows ? g.rowCount : g.colHigh);
            }
            if (m_used.isEmpty() || low > high) {
                r.line = Line::None;   // no position every table has: the references carry their own line
                m_line = Line::None;
                r.left = expression(0);
                r.right = expression(0);
            } else {
                r.cycle = items(low, high);
            }
        }
        r.leftText = render(r.left);
        r.rightText = render(r.right);
        if (r.line != Line::None) {
            const QString marker = r.line == Line::Rows ? caseOf(QStringLiteral("СТР")) : caseOf(QStringLiteral("ГР"));
            r.cycleText = blanks() + marker + blanks() + list(r.cycle) + blanks();
        } else if (chance(10)) {
            r.cycleText = QStringLiteral("   ");   // blanks only: no cycle
        }
        // Now and then a character that is blank or no part of the notation:
        // the check refuses it or the run reads it as the check does.
        if (chance(6)) {
            static const QList<QChar> hostile = {u' ', u' ', u'\t', u'\n', u'#', u':', u'=', u'ё', u'Ё', u'x', u'Z', u';', u'"',
                                                 QChar(0x20AC), u'_', u'!'};
            QString *texts[3] = {&r.leftText, &r.rightText, &r.cycleText};
            QString &t = *texts[pick(3)];
            t.insert(pick(int(t.size()) + 1), hostile[pick(int(hostile.size()))]);
        }
        return r;
    }

private:
    int pick(int n) { return int(m_random() % quint32(n)); }
    bool chance(int oneIn) { return pick(oneIn) == 0; }
    QString blanks() {
        const int k = pick(10);
        return k < 6 ? QString() : k < 9 ? QStringLiteral(" ") : QStringLiteral("  ");
    }
    QString caseOf(const QString &marker) {
        switch (pick(3)) {
        case 0: return marker;
        case 1: return marker.toLower();
        default: return marker.left(1) + marker.mid(1).toLower();
        }
    }

    QList<QPair<int, int>> items(int low, int high) {
        QList<QPair<int, int>> out;
        const int n = 1 + pick(3);
        for (int i = 0; i < n; ++i) {
            const int a = low + pick(high - low + 1);
            const int b = chance(3) ? a + pick(high - a + 1) : a;
            out.append({a, b});
        }
        return out;
    }
    QString list(const QList<QPair<int, int>> &items) {
        QStringList parts;
        for (const auto &[a, b] : items)
            parts << blanks() + QString::number(a) + (a == b && chance(2) ? QString() : blanks() + ".." + blanks() + QString::number(b)) + blanks();
        const QString inner = parts.join(u',');
        // Without brackets only where nothing but the list follows the marker.
        return chance(4) ? inner : u'[' + inner + u']';
    }

    NodeP leaf() {
        auto n = std::make_shared<Node>();
        Operand &o = n->operand;
        if (chance(4)) {
            o.constant = true;
            const int k = pick(6);
            o.value = k == 0 ? 2.5 : k == 1 ? 0.5 : pick(21);
            o.constantText = k == 0 ? QStringLiteral("2.5") : k == 1 ? (chance(2) ? QStringLiteral(".5") : QStringLiteral("0.50"))
                                                                  : QString::number(o.value) + (chance(5) ? QStringLiteral(".") : QString());
            return n;
        }
        o.table = pick(m_tables.size());
        m_used.insert(o.table);
        const TableInfo &g = m_tables[o.table];
        if (m_line != Line::Rows) o.rows = items(1, g.rowCount);
        if (m_line != Line::Columns) o.columns = items(g.colLow, g.colHigh);
        return n;
    }

    NodeP expression(int depth) {
        auto sum = std::make_shared<Node>();
        sum->kind = Node::Sum;
        const int terms = 1 + pick(depth == 0 ? 3 : 2);
        for (int i = 0; i < terms; ++i) {
            if (i) sum->ops << QString("+-")[pick(2)];
            auto product = std::make_shared<Node>();
            product->kind = Node::Product;
            const int factors = 1 + (chance(3) ? 1 : 0);
            for (int j = 0; j < factors; ++j) {
                if (j) product->ops << QString("*/")[pick(2)];
                if (depth < 2 && chance(6)) {
                    auto bracket = std::make_shared<Node>();
                    bracket->kind = Node::Bracket;
                    bracket->items << expression(depth + 1);
                    product->items << bracket;
                } else {
                    product->items << leaf();
                }
            }
            sum->items << product;
        }
        return sum;
    }

    QString reference(const Operand &o) {
        const TableInfo &g = m_tables[o.table];
        const bool own = o.table == 0;
        // Form and table as far as the rule's class lets them be left out.
        const bool ruleForm = g.form == QStringLiteral("Ф12");
        const bool needForm = m_class == 2 || !ruleForm;
        const bool needTable = m_class != 0 || !own || !ruleForm;
        QStringList parts;
        if (needForm || chance(3)) parts << caseOf(QStringLiteral("Ф")) + g.form.mid(1) + blanks();
        if (needTable || needForm || chance(3)) {
            const QString key = blanks() + g.key + blanks();
            parts << caseOf(QStringLiteral("Т")) + (chance(3) ? u'(' + key + u')' : u'[' + key + u']') + blanks();
        }
        if (!o.rows.isEmpty()) parts << caseOf(QStringLiteral("СТР")) + blanks() + list(o.rows) + blanks();
        if (!o.columns.isEmpty()) parts << caseOf(QStringLiteral("ГР")) + blanks() + list(o.columns) + blanks();
        // A list without brackets runs to the next marker: any order reads alike.
        if (chance(5)) std::shuffle(parts.begin(), parts.end(), m_random);
        return parts.join(QString());
    }

    QString render(const NodeP &n) {
        switch (n->kind) {
        case Node::Leaf: return blanks() + (n->operand.constant ? n->operand.constantText : reference(n->operand)) + blanks();
        case Node::Bracket: return blanks() + u'(' + render(n->items[0]) + u')' + blanks();
        default: {
            QString out = render(n->items[0]);
            for (int i = 1; i < n->items.size(); ++i) out += n->ops[i - 1] + render(n->items[i]);
            return out;
        }
        }
    }

    const QList<TableInfo> &m_tables;
    std::mt19937 m_random;
    QSet<int> m_used;
    int m_class = 0;
    Line m_line = Line::None;
};

// The generated rule read without the program's notation: each reference
// sums its cells (items as written), the cycle position standing in for
// its line; + - * / with the usual precedence, x/0 giving 0.
double evaluate(const NodeP &n, const Values &v, Line line, int position) {
    switch (n->kind) {
    case Node::Leaf: {
        const Operand &o = n->operand;
        if (o.constant) return o.value;
        const QList<QPair<int, int>> rows = line == Line::Rows ? QList<QPair<int, int>>{{position, position}} : o.rows;
        const QList<QPair<int, int>> columns =
            line == Line::Columns ? QList<QPair<int, int>>{{position, position}} : o.columns;
        double sum = 0;
        for (const auto &[ca, cb] : columns)
            for (int c = ca; c <= cb; ++c)
                for (const auto &[ra, rb] : rows)
                    for (int r = ra; r <= rb; ++r) sum += v.value(cellKey(o.table, c, r));
        return num::round2(sum);
    }
    case Node::Bracket: return evaluate(n->items[0], v, line, position);
    case Node::Product: {
        double x = evaluate(n->items[0], v, line, position);
        for (int i = 1; i < n->items.size(); ++i) {
            const double y = evaluate(n->items[i], v, line, position);
            x = n->ops[i - 1] == u'*' ? x * y : y == 0 ? 0.0 : x / y;
        }
        return x;
    }
    case Node::Sum: {
        double x = evaluate(n->items[0], v, line, position);
        for (int i = 1; i < n->items.size(); ++i) {
            const double y = evaluate(n->items[i], v, line, position);
            x = n->ops[i - 1] == u'+' ? x + y : x - y;
        }
        return x;
    }
    }
    return 0;
}

bool holds(const QString &relation, double l, double r) {
    if (relation == "=") return l == r;
    if (relation == "<>") return l != r;
    if (relation == ">") return l > r;
    if (relation == ">=") return l >= r;
    if (relation == "<") return l < r;
    return l <= r;
}

class RuleDifferential : public ::testing::Test {
protected:
    void SetUp() override {
        const qint64 f12 = e.addForm("Ф12"), f14 = e.addForm("Ф14");
        tables = {{"Ф12", "1000", 3, 6, 4, 1}, {"Ф12", "2000", 1, 4, 3, 0}, {"Ф14", "1", 2, 3, 2, 1}};
        tables[0].ident = e.addTable(f12, "(1000)", 6, 5, 2, 1);
        tables[1].ident = e.addTable(f12, "(2000)", 4, 3, 0, 0);
        tables[2].ident = e.addTable(f14, "(1)", 3, 3, 1, 1);
        e.reload();
    }
    // Random values of every data cell: whole numbers, halves and quarters, zeros.
    Values values(quint32 seed) {
        std::mt19937 random(seed);
        Values v;
        db::exec(db::kData, "delete from data");
        for (int t = 0; t < tables.size(); ++t)
            for (int c = tables[t].colLow; c <= tables[t].colHigh; ++c)
                for (int r = 1; r <= tables[t].rowCount; ++r) {
                    const int k = int(random() % 8);
                    const double value = k == 0 ? 0.0 : (int(random() % 41) - 20) * (k == 1 ? 0.25 : k == 2 ? 0.5 : 1.0);
                    v.insert(cellKey(t, c, r), value);
                    if (value != 0) e.putRef(kHospital, tables[t].ident, tables[t].fixRows, c, r, value);
                }
        return v;
    }
    static constexpr qint64 kHospital = 7;
    EngineDb e;
    QList<TableInfo> tables;
};

} // namespace

TEST_F(RuleDifferential, EveryAcceptedTextGivesTheLinesOfItsReading) {
    // RULE_DIFFERENTIAL_SEED gives another set of texts.
    Generator generator(tables, quint32(qEnvironmentVariableIntValue("RULE_DIFFERENTIAL_SEED")) + 20261207u);
    const rulecheck::RuleChecker checker(db::connection(db::kMain));
    QList<Rule> accepted;
    int generated = 0;
    const QString defaults[3] = {"Ф12Т[1000]", "Ф12", ""};
    while (accepted.size() < 10000 && generated < 40000) {
        ++generated;
        const Rule r = generator.rule();
        const rulecheck::RuleText text{r.ruleClass == 2 ? QString() : QStringLiteral("Ф12"),
                                       r.ruleClass == 0 ? QStringLiteral("(1000)") : QString(), r.leftText, r.relation,
                                       r.rightText, r.cycleText};
        if (checker.Check(text)) accepted << r;
    }
    ASSERT_EQ(accepted.size(), 10000) << "of " << generated << " generated";
    EXPECT_LT(generated, 20000);   // most texts are meant to be readable
    // The editors and the highlighter (ParseFormTableRef) find the form and
    // table of every reference the check accepted as the run finds them.
    int compared = 0;
    for (const Rule &r : accepted)
        for (const QString &side : {r.leftText, r.rightText})
            for (const notation::Part &p : notation::FindReferences(notation::Upper(side))) {
                const QString reference = p.in(side).toString();
                const ReferenceParts run = CutReferenceParts(SquareTableBrackets(text::upper(reference)));
                const FormTableRef read = ParseFormTableRef(reference, 0);
                ASSERT_TRUE(text::sameName(read.form, run.form)) << reference.toStdString();
                ASSERT_EQ(read.table.isEmpty(), !run.hasTable) << reference.toStdString();
                if (run.hasTable) {
                    ASSERT_TRUE(text::sameName(u'(' + read.number + u')', run.table)) << reference.toStdString();
                    ++compared;
                }
            }
    EXPECT_GT(compared, 10000);
    int violations = 0, holding = 0;
    for (quint32 seed : {1u, 2u}) {
        const Values v = values(seed);
        for (int cls = 0; cls < 3; ++cls) {
            RuleRunContext context;
            context.institution = kHospital;
            RuleRun run(context);
            QStringList expected;
            for (int i = 0; i < accepted.size(); ++i) {
                const Rule &r = accepted[i];
                if (r.ruleClass != cls) continue;
                run.addRule(i + 1, r.leftText, r.rightText, r.relation, QString::number(i + 1), r.cycleText);
                QList<int> positions;
                QSet<int> seen;
                for (const auto &[a, b] : r.cycle)
                    for (int p = a; p <= b; ++p)
                        if (!seen.contains(p)) {
                            seen.insert(p);
                            positions << p;
                        }
                if (r.line == Line::None) positions = {0};
                for (int p : positions) {
                    const double l = num::round2(evaluate(r.left, v, r.line, p));
                    const double rt = num::round2(evaluate(r.right, v, r.line, p));
                    if (holds(r.relation, l, rt)) {
                        ++holding;
                        continue;
                    }
                    ++violations;
                    const QString cycle = r.line == Line::None ? defaults[cls]
                                          : (r.line == Line::Rows ? "СТР" : "ГР") + QString::number(p) + defaults[cls];
                    expected << num::fixed2(l) + r.relation + num::fixed2(rt) + u'\t' + cycle + u'\t' + QString::number(i + 1);
                }
            }
            run.runControls(defaults[cls]);
            QStringList got = run.errors().texts();
            got.sort();
            expected.sort();
            if (got != expected) {
                // The first rule that differs, with its texts.
                QMap<QString, QStringList> byRule[2];
                for (const QString &line : got) byRule[0][line.section(u'\t', 2)] << line;
                for (const QString &line : expected) byRule[1][line.section(u'\t', 2)] << line;
                for (int i = 0; i < accepted.size(); ++i) {
                    const QString id = QString::number(i + 1);
                    if (byRule[0].value(id) == byRule[1].value(id)) continue;
                    const Rule &r = accepted[i];
                    ADD_FAILURE() << "class " << cls << ": [" << r.leftText.toStdString() << "] " << r.relation.toStdString()
                                  << " [" << r.rightText.toStdString() << "] cycle [" << r.cycleText.toStdString()
                                  << "]\n run: " << byRule[0].value(id).join(" | ").toStdString()
                                  << "\n reading: " << byRule[1].value(id).join(" | ").toStdString();
                    break;
                }
            }
        }
    }
    // Both kinds of outcome were met many times.
    EXPECT_GT(violations, 5000);
    EXPECT_GT(holding, 5000);
}

// The texts the check accepted and the run could not read: each is now read
// as the check reads it, and the cycle is stored in its one spelling.
TEST_F(RuleDifferential, BlanksReadAlikeAndCyclesAreStoredCanonical) {
    values(3);
    db::exec(db::kData, "delete from data");
    for (int c = 3; c <= 6; ++c) e.putRef(kHospital, tables[0].ident, 1, c, 1, 168);
    for (int c = 3; c <= 6; ++c) e.putRef(kHospital, tables[0].ident, 1, c, 2, 66);
    e.putRef(kHospital, tables[1].ident, 0, 1, 1, 5);
    struct Case { QString left, right, cycle; };
    const QList<Case> cases = {
        {"СТР1", "СТР2+49", "ГР [3..6]"},
        {"СТР1", "СТР2+49", " гр  [ 3..6 ] "},
        {"СТР1ГР3", "СТР2ГР3+49", "   "},
        {"Т[2000 ]СТР1ГР1", "5", ""},
        {"Ф12Т[ 2000 ]СТР1ГР1", "Т( 2000 )СТР1ГР1", ""},
        {"СТР1", "Т[ 1000 ]СТР2+49", "ГР3..4"},
    };
    const rulecheck::RuleChecker checker(db::connection(db::kMain));
    RuleRunContext context;
    context.institution = kHospital;
    RuleRun run(context);
    for (int i = 0; i < cases.size(); ++i) {
        EXPECT_TRUE(checker.Check({"Ф12", "(1000)", cases[i].left, ">=", cases[i].right, cases[i].cycle}))
            << cases[i].cycle.toStdString();
        run.addRule(i + 1, cases[i].left, cases[i].right, ">=", QString::number(i + 1), cases[i].cycle);
    }
    run.runControls("Ф12Т[1000]");
    EXPECT_TRUE(run.errors().texts().isEmpty()) << run.errors().texts().join(" | ").toStdString();

    // The cycle is stored in its one spelling; the sides as typed.
    qint64 key = 0;
    ASSERT_TRUE(rulecheck::InsertCheckedRule(db::connection(db::kMain), checker,
                                             {"Ф12", "(1000)", "СТР1", ">=", "СТР2+49", " гр  [ 3..6 ] "}, "к", &key));
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select cycl from int_control where \"Код\"=?", {key}).toString(), "ГР[3..6]");
    ASSERT_TRUE(rulecheck::UpdateCheckedRule(db::connection(db::kMain), checker, key,
                                             {"Ф12", "(1000)", "ГР3", ">=", "ГР4-1000", "стр 1,2"}, "к"));
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select cycl from int_control where \"Код\"=?", {key}).toString(), "СТР[1,2]");
    ASSERT_TRUE(rulecheck::UpdateCheckedRule(db::connection(db::kMain), checker, key,
                                             {"Ф12", "(1000)", "СТР1ГР3", ">=", "СТР2ГР3+49", "   "}, "к"));
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select cycl from int_control where \"Код\"=?", {key}).toString(), "");
}
