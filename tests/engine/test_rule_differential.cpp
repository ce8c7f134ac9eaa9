// The rule check and the rule run read a rule alike: every text the check
// accepts is run on values and must give exactly the lines an independent
// reading of the generated rule gives, one check per cycle position, both
// sides reduced to numbers. RULE_DIFFERENTIAL_SEED gives another set of texts.
#include "test_engine_db.h"

#include "engine/CatalogGate.h"
#include "engine/Conditions.h"
#include "engine/FormulaParser.h"
#include "engine/Notation.h"
#include "engine/NumberFormat.h"
#include "engine/RuleCheck.h"
#include "engine/RuleEngine.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>
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

// The references of a side that the highlighter and the editors (FindReferences, ParseFormTableRef) read
// otherwise than the run; tables counts the references that name a table.
QStringList misreadReferences(const QString &side, int *tables = nullptr) {
    QStringList out;
    for (const notation::Part &p : notation::FindReferences(notation::Upper(side))) {
        const QString reference = p.in(side).toString();
        const ReferenceParts run = CutReferenceParts(SquareTableBrackets(text::upper(reference)));
        const FormTableRef read = ParseFormTableRef(reference, 0);
        if (!text::sameName(read.form, run.form) || read.table.isEmpty() != !run.hasTable ||
            (run.hasTable && !text::sameName(u'(' + read.number + u')', run.table)))
            out << reference;
        if (tables && run.hasTable) ++*tables;
    }
    return out;
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
        for (const QString &side : {r.leftText, r.rightText}) {
            const QStringList misread = misreadReferences(side, &compared);
            ASSERT_TRUE(misread.isEmpty()) << misread.join(u' ').toStdString();
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

// ---- Names the catalogue accepts, named by rules of every class ----------------------------------

namespace {

// Names as users type them and as they go wrong: signs, digits, brackets, blanks, Cyrillic of both cases, "ё",
// the notation's words, relations and quotes, long runs, the longest names.
class NameGenerator {
public:
    explicit NameGenerator(quint32 seed) : m_random(seed) {}
    QString formName() {
        const int k = pick(20);
        QString n = k == 0 ? QString() : k == 1 ? QStringLiteral("ф") : k == 2 ? piece() : QStringLiteral("Ф");
        for (int i = pick(5); i >= 0; --i) n += piece();
        if (chance(25)) n += QString(60, letter());
        if (chance(25)) n = (n + QString(117, letter())).left(117);
        return n;
    }
    QString tableNumber() {
        QString n;
        for (int i = pick(4); i >= 0; --i) n += piece();
        if (chance(30)) n += QString(40, letter());
        return u'(' + n + u')';
    }

private:
    int pick(int n) { return int(m_random() % quint32(n)); }
    bool chance(int oneIn) { return pick(oneIn) == 0; }
    QChar letter() {
        static const QString letters = QStringLiteral("абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ");
        return letters[pick(int(letters.size()))];
    }
    QString piece() {
        static const QStringList words = {"+", "-", "*", "/", "(", ")", "[", "]", " ", "  ", "<", ">", "=", ";", "\"",
                                          ".", ",", "№", "_", "«", "»", "'", "!", "%", "x", "Z", "СТР", "стр", "Гр",
                                          "ГР", "Ф", "ф", "Т", "т", "Т[", "т(", "ВПТ", "впт", "AND", "or", "Or1",
                                          "ё", "Ё", "..", "1..3"};
        switch (pick(5)) {
        case 0: return QString::number(pick(3000));
        case 1:
        case 2: return words[pick(int(words.size()))];
        default: {
            QString w;
            for (int i = 1 + pick(6); i > 0; --i) w += letter();
            return w;
        }
        }
    }
    std::mt19937 m_random;
};

struct NamedRule {
    int ruleClass;
    QString left, relation, right, cycle;
    QStringList violated;   // cycle texts of the copies that fail (without the default text)
};

// Rules naming form f and its table of number inner in every class, on the values ГР2 = 5, ГР3 = 7 of СТР1 of
// every table (and of Ф12 (1000)): some hold, some fail, with and without a cycle, names in both letter cases.
QList<NamedRule> rulesNaming(const QString &f, const QString &inner) {
    const QString t = QStringLiteral("Т[") + inner + u']', round = QStringLiteral("т(") + inner + u')';
    const QString lf = f.toLower();
    return {
        {0, "СТР1ГР2", "<", "СТР1ГР3", "", {}},
        {0, t + "СТР1ГР2+2", "=", "СТР1ГР3", "", {}},
        {0, f + "СТР1ГР3", "=", "7", "", {}},
        {0, lf + round + "стр1гр2", ">", "СТР1ГР3", "", {""}},
        {0, "СТР1", ">=", "5", "ГР[2..3]", {}},
        {0, "СТР1", "<=", "5", "гр 2..3", {"ГР3"}},
        {1, t + "СТР1ГР3-" + round + "СТР1ГР2", "=", "2", "", {}},
        {1, t + "СТР1ГР2", ">=", t + "СТР1ГР3", "", {""}},
        {1, t + "СТР1", ">", "4", "ГР[2..3]", {}},
        {2, f + t + "СТР1ГР2", "=", "Ф12Т[1000]СТР1ГР2", "", {}},
        {2, lf + round + "стр1гр3", "=", "7", "", {}},
        {2, f + t + "СТР1ГР3", "<", "Ф12Т[1000]СТР1ГР2*(1+0)", "", {""}},
        {2, f + t + "ГР3", "=", "7", "СТР[1]", {}},
        {2, "(" + f + t + "ГР2)/5", "<>", "1", "стр1", {"СТР1"}},
    };
}

} // namespace

// The one definition of a referable name, both ways over a generated corpus: a form name or table number is
// accepted by the catalogue only when rules naming it in every class pass the rule check and run as the check
// read them (each copy that fails is reported with numbers on both sides, each that holds is not), and a
// calculated cell's condition and the highlighter read its references alike. What the gate refuses is refused
// for a reason some reader shows (RefusedNamesAreThoseAReaderMisreads).
TEST(ReferableNames, EveryNameTheCatalogueAcceptsIsNamedByRulesOfEveryClass) {
    EngineDb e;
    const QSqlDatabase main = db::connection(db::kMain);
    constexpr qint64 kHospital = 3;
    const TableShape shape{0, 3, 2, 1, 1, false, 0};   // ГР2..3, СТР1
    const qint64 f12 = gate::addForm(main, "Ф12", "x", false);
    auto fill = [&](qint64 ident) {
        e.putRef(kHospital, ident, 1, 2, 1, 5);
        e.putRef(kHospital, ident, 1, 3, 1, 7);
    };
    fill(gate::addTable(main, f12, "(1000)", "x", shape));
    NameGenerator names(quint32(qEnvironmentVariableIntValue("RULE_DIFFERENTIAL_SEED")) + 4711u);
    struct Scope { QString form, tablen; };
    QList<Scope> scopes;
    int formsTried = 0, tablesTried = 0;
    for (int i = 0; i < 2000; ++i) {
        const QString form = names.formName(), tablen = names.tableNumber();
        ++formsTried;
        ++tablesTried;
        const bool formOk = gate::formNameFault(form.trimmed()).isEmpty() && gate::findForm(main, form) == std::nullopt &&
                            text::entryProblem(form).isEmpty();
        const bool tableOk = gate::tableNumberFault(tablen).isEmpty() && text::entryProblem(tablen).isEmpty();
        if (!formOk && !tableOk) continue;
        // An accepted number goes to an accepted form, or to a new form "Ф<i>"; a form gets "(1)" otherwise.
        const QString ownForm = formOk ? form.trimmed() : QStringLiteral("Фн%1").arg(i);
        const qint64 id = gate::addForm(main, ownForm, "x", false);
        const QString number = tableOk ? tablen : QStringLiteral("(1)");
        fill(gate::addTable(main, id, number, "x", shape));
        scopes.append({ownForm, number});
    }
    e.reload();
    int accepted[2] = {0, 0};
    for (const Scope &s : scopes) {
        accepted[0] += !s.form.startsWith(QStringLiteral("Фн"));
        accepted[1] += s.tablen != QStringLiteral("(1)");
    }
    // Both ways: many of either kind were accepted, and many refused.
    EXPECT_GT(accepted[0], 250);
    EXPECT_GT(accepted[1], 250);
    EXPECT_LT(accepted[0], formsTried / 2);
    EXPECT_LT(accepted[1], tablesTried / 2);

    const rulecheck::RuleChecker checker(main);
    QStringList refused, wrong;
    int checked = 0, copies = 0;
    RuleRunContext context;
    context.institution = kHospital;
    for (const Scope &s : scopes) {
        const QString inner = s.tablen.mid(1, s.tablen.size() - 2);
        const QList<NamedRule> rules = rulesNaming(s.form, inner);
        for (int cls = 0; cls < 3; ++cls) {
            const QString scope = cls == 0 ? notation::RuleScope(s.form, s.tablen) : cls == 1 ? s.form : QString();
            RuleRun run(context);
            QStringList expected;
            for (int k = 0; k < rules.size(); ++k) {
                const NamedRule &r = rules[k];
                if (r.ruleClass != cls) continue;
                const rulecheck::Verdict v = checker.Check({cls == 2 ? QString() : s.form, cls == 0 ? s.tablen : QString(),
                                                            r.left, r.relation, r.right, r.cycle});
                ++checked;
                if (!v) refused << s.form + u' ' + s.tablen + QStringLiteral(": ") + r.left + r.relation + r.right +
                                       QStringLiteral(" -> ") + v.reason;
                run.addRule(k + 1, r.left, r.right, r.relation, QString::number(k + 1), r.cycle);
                for (const QString &c : r.violated) expected << QString::number(k + 1) + u'|' + c + scope;
            }
            run.runControls(scope);
            QStringList got;
            for (const QString &line : run.errors().texts()) {
                const QStringList f = line.split(u'\t');
                // Both sides reduced to numbers.
                static const QRegularExpression numbers(QStringLiteral("^-?\\d+\\.\\d\\d(=|<>|>=|<=|>|<)-?\\d+\\.\\d\\d$"));
                if (!numbers.match(f.value(0)).hasMatch()) wrong << s.form + u' ' + s.tablen + QStringLiteral(": ") + line;
                got << f.value(2) + u'|' + f.value(1);
                ++copies;
            }
            got.sort();
            expected.sort();
            if (got != expected)
                wrong << s.form + u' ' + s.tablen + QStringLiteral(" class %1: run ").arg(cls) + got.join(u' ') +
                             QStringLiteral(" / reading ") + expected.join(u' ');
        }
        // A calculated cell's condition names the table as a rule does.
        ConditionRule cell;
        cell.condition = s.form + QStringLiteral("Т(") + inner + QStringLiteral(")СТР1ГР2=5 AND ") + s.form.toLower() +
                         QStringLiteral("т[") + inner + QStringLiteral("]стр1гр3>6");
        int count = 0;
        if (ApplyCondition(cell, QString::number(kHospital), count) != QString::number(kHospital))
            wrong << s.form + u' ' + s.tablen + QStringLiteral(": condition ") + cell.condition;
        // The highlighter and the editors find the form and table the run finds.
        for (const NamedRule &r : rules)
            for (const QString &side : {r.left, r.right})
                for (const QString &reference : misreadReferences(side)) wrong << QStringLiteral("highlighter: ") + reference;
    }
    EXPECT_GT(checked, 10000);
    EXPECT_GT(copies, 2000);
    EXPECT_TRUE(refused.isEmpty()) << refused.size() << "\n" << refused.mid(0, 20).join(u'\n').toStdString();
    EXPECT_TRUE(wrong.isEmpty()) << wrong.size() << "\n" << wrong.mid(0, 20).join(u'\n').toStdString();
}

// The other way: each kind of name the gate refuses is misread by a reader, shown on a catalogue that holds it (as
// one made before the gate did). Rules: the check refuses them, or the run cannot find the table; conditions drop
// blanks and split at AND, OR and relations; the line shifter of structure edits ends a form's name at ";"; the
// term splitter of the table window's marks takes a quote for the start of a text.
TEST(ReferableNames, RefusedNamesAreThoseAReaderMisreads) {
    EngineDb e;
    const QSqlDatabase main = db::connection(db::kMain);
    constexpr qint64 kHospital = 3;
    const qint64 f12 = e.addForm("Ф12");
    const qint64 t12 = e.addTable(f12, "(1000)", 3, 2, 1, 1);
    e.putRef(kHospital, t12, 1, 2, 1, 5);
    // A rule of each class naming the form and table holds on the values (ГР2 = 5): false when it is refused by
    // the check or fails in the run.
    const auto rulesRead = [&](const QString &form, const QString &tablen) {
        const qint64 ident = e.addTable(e.addForm(form), tablen, 3, 2, 1, 1);
        e.putRef(kHospital, ident, 1, 2, 1, 5);
        e.reload();
        const rulecheck::RuleChecker checker(main);
        const QString inner = tablen.mid(1, tablen.size() - 2), t = "Т[" + inner + "]";
        const QList<rulecheck::RuleText> rules = {{form, tablen, "СТР1ГР2", "=", "5", ""},
                                                  {form, "", t + "СТР1ГР2", "=", "5", ""},
                                                  {"", "", form + t + "СТР1ГР2", "=", "Ф12Т[1000]СТР1ГР2", ""}};
        for (int cls = 0; cls < 3; ++cls) {
            if (!checker.Check(rules[cls])) return false;
            RuleRunContext context;
            context.institution = kHospital;
            RuleRun run(context);
            run.addRule(1, rules[cls].lft, rules[cls].rght, "=", "1", "");
            run.runControls(cls == 0 ? notation::RuleScope(form, tablen) : cls == 1 ? form : QString());
            if (!run.errors().texts().isEmpty()) return false;
        }
        return true;
    };
    // A condition on the table selects the institution (ГР2 = 5).
    const auto conditionReads = [&](const QString &form, const QString &tablen) {
        if (!rulesRead(form, tablen)) return false;
        ConditionRule cell;
        cell.condition = form + "Т" + tablen + "СТР1ГР2=5";
        int count = 0;
        try {
            return ApplyCondition(cell, QString::number(kHospital), count) == QString::number(kHospital);
        } catch (const std::exception &) {
            return false;
        }
    };
    struct Case {
        const char *form, *tablen;
        std::function<bool(const QString &, const QString &)> reads;
    };
    const std::function<bool(const QString &, const QString &)> lineShifter = [](const QString &f, const QString &t) {
        const QList<notation::LineReference> refs = notation::ReadLineReferences(f + "Т" + t + "СТР1ГР2");
        return refs.size() == 1 && text::sameName(refs[0].form, f);
    };
    const std::function<bool(const QString &, const QString &)> termSplitter = [](const QString &f, const QString &t) {
        return SplitFormulaTerms(f + "Т" + t + "СТР1ГР2+Ф12Т[1000]СТР1ГР2").size() == 3;
    };
    const Case cases[] = {
        {"Отчет", "(1)", rulesRead},       {"Ф30-1", "(1)", rulesRead},     {"Ф1+", "(1)", rulesRead},
        {"Ф1*2", "(1)", rulesRead},        {"Ф2/3", "(1)", rulesRead},      {"Ф(4)", "(1)", rulesRead},
        {"Ф[5]", "(1)", lineShifter},        {"ФГРУППА", "(1)", rulesRead},   {"Фстр", "(1)", rulesRead},
        {"Фвпт", "(1)", rulesRead},        {"Ф 6", "(1)", conditionReads},  {"ФOR7", "(1)", conditionReads},
        {"Фand8", "(1)", conditionReads},  {"Ф<9", "(1)", conditionReads},  {"Ф=10", "(1)", conditionReads},
        {"Ф>11", "(1)", conditionReads},   {"Ф;12", "(1)", lineShifter},    {"Ф\"13", "(1)", termSplitter},
        {"Ф14", "(1-2)", rulesRead},       {"Ф15", "(1+2)", rulesRead},     {"Ф16", "(1*2)", rulesRead},
        {"Ф17", "(1/2)", rulesRead},       {"Ф18", "(ВПТ)", rulesRead},     {"Ф19", "(1Ф)", rulesRead},
        {"Ф20", "(стр)", rulesRead},       {"Ф21", "(гр)", rulesRead},      {"Ф22", "(1 2)", conditionReads},
        {"Ф23", "(or)", conditionReads},   {"Ф24", "(AND1)", conditionReads}, {"Ф25", "(1<2)", conditionReads},
        {"Ф26", "(1=2)", conditionReads},  {"Ф27", "(1\")", termSplitter},
    };
    for (const Case &c : cases) {
        const QString form = QString::fromUtf8(c.form), tablen = QString::fromUtf8(c.tablen);
        EXPECT_FALSE(gate::formNameFault(form).isEmpty() && gate::tableNumberFault(tablen).isEmpty()) << c.form << c.tablen;
        EXPECT_FALSE(c.reads(form, tablen)) << c.form << " " << c.tablen << " is read";
    }
    // A rule of a refused name is refused by the check with the reason, not accepted to fail in every run; a rule
    // whose stored name its scope reads back (a sign in its own table's number) is accepted.
    const rulecheck::RuleChecker checker(main);
    const rulecheck::Verdict report = checker.Check({"Отчет", "(1)", "СТР1ГР2", "=", "5", ""});
    EXPECT_TRUE(!report && report.reason.contains("Переименуйте")) << report.reason.toStdString();
    EXPECT_TRUE(checker.Check({"Ф14", "(1-2)", "СТР1ГР2", "=", "5", ""}));
    // The same readers take the names the gate accepts.
    for (const auto &[form, tablen] : QList<QPair<QString, QString>>{{"Ф30а", "(1000а)"}, {"ф№7", "(1.2)"}, {"ФАПФ", "(№3ё)"}}) {
        ASSERT_TRUE(gate::formNameFault(form).isEmpty() && gate::tableNumberFault(tablen).isEmpty()) << form.toStdString();
        EXPECT_TRUE(conditionReads(form, tablen) && lineShifter(form, tablen) && termSplitter(form, tablen)) << form.toStdString();
    }
}

