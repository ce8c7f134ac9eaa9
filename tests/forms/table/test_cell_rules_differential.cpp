// The recalculation of a table and the breakdown of one of its calculated cells read the cell's rules alike: over
// generated rules (cell rules, row and column rules crossed by either scan, conditions of atoms joined by AND and OR
// with brackets, some unbalanced, types, rural flags, divisors, averages, formulas with constants, "*" and
// references that leave out their form and table), every cell the breakdown lists institutions for holds the number
// of them (a counter) or the sum of their shares with the constants, divisor and average put back (a sum); a cell it
// lists nobody for holds nothing new or the value of nobody. CELL_RULES_SEED gives another set of rules.
#include "engine/Caches.h"
#include "engine/CellNumbering.h"
#include "engine/Conditions.h"
#include "engine/TextUtil.h"
#include "engine/ValueMatrix.h"
#include "forms/table/Breakdown.h"
#include "platform/Database.h"
#include "support/FakeDialogs.h"
#include "support/TestWork.h"
#include "support/YearBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr double kUntouched = -777;   // what the matrix holds before the run
constexpr int kGrid = 3;              // data rows and columns of the calculated table

struct Formula {
    QString text;
    double constants = 0;       // the signed sum of its number terms
    bool wholeConstant = false;
    double constantValue = 0;
};

class Generator {
public:
    explicit Generator(quint32 seed) : m_rng(seed) {}

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }
    template <typename T>
    T any(std::initializer_list<T> items) {
        return *(items.begin() + pick(int(items.size())));
    }

    // Ф1 (1): ГР2..5, СТР1..3; Ф2 (7): ГР2..3, СТР1..2 (either letter case, either bracket).
    QString formTable(bool &second) {
        second = chance(0.25);
        if (second) return any({QStringLiteral("Ф2Т(7)"), QStringLiteral("ф2т[7]")});
        return any({QStringLiteral("Ф1Т(1)"), QStringLiteral("Ф1Т[1]"), QStringLiteral("ф1т(1)")});
    }
    QString list(int low, int high) {
        const int a = low + pick(high - low + 1), b = low + pick(high - low + 1);
        switch (pick(4)) {
        case 0: return QString::number(a);
        case 1: return QStringLiteral("%1..%2").arg(std::min(a, b)).arg(std::max(a, b));
        case 2: return QStringLiteral("[%1,%2]").arg(a).arg(b);
        default: return QStringLiteral("%1,%2").arg(a).arg(high + 2);   // a line outside the table
        }
    }
    QString rows(bool second) { return QStringLiteral("СТР") + list(1, second ? 2 : 3); }
    QString columns(bool second) { return QStringLiteral("ГР") + list(2, second ? 3 : 5); }
    QString fullRef() {
        bool second = false;
        const QString t = formTable(second);
        return t + rows(second) + columns(second);
    }

    QString atom() {
        const QString prefix = any({QString(), QString(), QStringLiteral("0<"), QStringLiteral("1>=")});
        const QString relation = any({QString(), QStringLiteral(">0"), QStringLiteral("=0"), QStringLiteral("<2"),
                                      QStringLiteral(">=0.1"), QStringLiteral("<>1")});
        return prefix + fullRef() + relation;
    }
    QString condition() {
        if (chance(0.35)) return {};
        auto word = [&] { return any({QStringLiteral(" AND "), QStringLiteral(" OR "), QStringLiteral(" and\r\n")}); };
        QString c = atom();
        const int more = pick(3);
        for (int i = 0; i < more; ++i) c += word() + atom();
        if (more > 0 && chance(0.3)) c = u'(' + c + u')' + word() + atom();
        if (chance(0.08)) c += u')';   // unbalanced: selects nobody
        return c;
    }
    QString types() {
        return any({QStringLiteral("*"), QStringLiteral("*"), QStringLiteral("1"), QStringLiteral("1,2"),
                    QStringLiteral("2,3,"), QStringLiteral("3")});
    }

    // A value rule's formula: a leading term (given, or a full reference), then references (some without their
    // form and table), numbers and "*" parts joined by "+" and "-".
    Formula formula(const QString &lead) {
        Formula f;
        if (lead.isEmpty() && chance(0.1)) {
            f.wholeConstant = true;
            f.constantValue = any({12.5, 3.0, 0.1});
            f.text = QString::number(f.constantValue);
            return f;
        }
        f.text = lead.isEmpty() ? fullRef() : lead;
        const int more = pick(3);
        for (int i = 0; i < more; ++i) {
            const bool minus = chance(0.4);
            f.text += minus ? u'-' : u'+';
            switch (pick(3)) {
            case 0: f.text += fullRef(); break;
            case 1: f.text += any({QStringLiteral("СТР2ГР3"), QStringLiteral("ГР4"), QStringLiteral("СТР1")}); break;
            default: {
                const double v = any({5.0, 0.5, 0.1});
                f.text += QString::number(v);
                f.constants += minus ? -v : v;
            }
            }
        }
        return f;
    }

    double value() { return any({0.0, 0.1, 0.2, 0.7, 1.0, 2.5, 3.0, -0.3, -1.0, 10.0}); }

private:
    std::mt19937 m_rng;
};

// What the generator put into one rule record; the formula as the cell's value rule reads it.
struct RuleRecord {
    bool present = false;
    bool sum = false;
    Formula formula;
    double koeff = 1;
    bool midle = false;
};

class CellRulesDifferential : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 8; ++i)
            units << year.addUnit(QStringLiteral("Учреждение %1").arg(i), 0, 1 + i % 3, i % 3 == 1 || i == 6, 8 - i);
        const qint64 f1 = year.addForm(QStringLiteral("Ф1"), QStringLiteral("Первая"));
        const qint64 f2 = year.addForm(QStringLiteral("Ф2"), QStringLiteral("Вторая"));
        const qint64 f47 = year.addForm(QStringLiteral("Ф47"), QStringLiteral("Сеть"));
        sources = {year.addTable(f1, QStringLiteral("(1)"), QStringLiteral("Т"), 5, 4, 1, 1, 0),
                   year.addTable(f2, QStringLiteral("(7)"), QStringLiteral("Т"), 3, 3, 1, 1, 0)};
        target = year.addTable(f47, QStringLiteral("(1)"), QStringLiteral("Т"), kGrid + 1, kGrid + 1, 1, 1, 0);
        formId = f47;
        caches::GetForms();
        caches::GetTables();
    }

    void addRule(int row, int column, bool sum, const QString &formula, const QString &condition, double koeff,
                 bool rural, bool midle, const QString &types) {
        db::exec(db::kMain, QStringLiteral("insert into conditions values (?, ?, ?, ?, ?, ?, ?, ?, '', '', ?, ?)"),
                 {target, row, column, sum, formula, condition, koeff, rural, midle, types});
    }

    // One generated set of values and rules; the records by (row, column), -1 for a line rule.
    QHash<QPair<int, int>, RuleRecord> generate(Generator &g, int scan) {
        db::exec(db::kMain, QStringLiteral("delete from conditions"));
        db::exec(db::kMain, QStringLiteral("update tables set scan=? where ident=?"), {scan, target});
        db::transaction(year.dataDb(), [&] {
            db::exec(db::kData, QStringLiteral("delete from data"));
            for (qint64 unit : units)
                for (int t = 0; t < 2; ++t)
                    for (int column = 2; column <= (t == 0 ? 5 : 3); ++column)
                        for (int row = 1; row <= (t == 0 ? 3 : 2); ++row)
                            if (g.chance(0.6))
                                year.put(unit, sources[t], cells::storedColumnOfRef(column),
                                         cells::storedRowOfRef(row, 1), g.value(), YearOptions{}.year);
        });

        QHash<QPair<int, int>, RuleRecord> records;
        auto record = [&](int row, int column, const QString &lead) {
            RuleRecord r;
            r.present = true;
            r.sum = g.chance(0.7);
            r.formula = g.formula(lead);
            r.koeff = g.any({1.0, 2.0, 0.5, 4.0});
            r.midle = g.chance(0.25);
            addRule(row, column, r.sum, r.formula.text, g.condition(), r.koeff, g.chance(0.3), r.midle, g.types());
            records.insert({row, column}, r);
        };
        db::transaction(year.mainDb(), [&] {
            for (int row = 0; row < kGrid; ++row)
                for (int column = 0; column < kGrid; ++column)
                    if (g.chance(0.25)) record(row, column, {});
            // Line rules: the outer one's formula is a reference of its line, which the inner one's "*" takes.
            const bool outerColumns = scan == 1;
            for (int line = 0; line < kGrid; ++line) {
                if (g.chance(0.7)) {   // outer
                    const QString formula =
                        QStringLiteral("Ф1Т(1)") + (outerColumns ? QStringLiteral("ГР%1").arg(line + 2)
                                                                 : QStringLiteral("СТР%1").arg(line + 1));
                    addRule(outerColumns ? -1 : line, outerColumns ? line : -1, g.chance(0.5), formula, g.condition(),
                            g.any({1.0, 3.0}), g.chance(0.3), g.chance(0.5), g.types());
                    records.insert({outerColumns ? -1 : line, outerColumns ? line : -1}, RuleRecord{.present = true});
                }
                if (g.chance(0.7)) {   // inner
                    const QString star = u'*' + (outerColumns ? QStringLiteral("СТР%1").arg(line + 1)
                                                              : QStringLiteral("ГР%1").arg(line + 2));
                    record(outerColumns ? line : -1, outerColumns ? -1 : line, g.chance(0.7) ? star : QString());
                }
            }
        });
        return records;
    }

    // The value of a cell rebuilt from the breakdown's lines and what the breakdown leaves out.
    static double rebuilt(const RuleRecord &rule, int count, double shares) {
        if (!rule.sum) return count;
        if (rule.formula.wholeConstant) return rule.formula.constantValue;
        double v = (shares + rule.formula.constants) / rule.koeff;
        if (rule.midle) v = count == 0 ? 0 : v / count;
        return v;
    }

    YearBuilder year;
    FakeDialogs dialogs;
    QList<qint64> units;
    QList<qint64> sources;
    qint64 target = 0, formId = 0;
};

} // namespace

TEST_F(CellRulesDifferential, TheRunAndTheBreakdownReadEveryCellAlike) {
    Generator g(quint32(qEnvironmentVariableIntValue("CELL_RULES_SEED")) + 20260301u);
    const QString include = text::joinIdList(units.mid(1));   // one institution left out
    int listed = 0, sums = 0, crossings = 0;
    for (int round = 0; round < 60; ++round) {
        const int scan = round % 2;
        const QHash<QPair<int, int>, RuleRecord> records = generate(g, scan);

        ValueMatrix matrix;
        matrix.create(0, kGrid + 3, 0, kGrid + 3);
        for (int c = 0; c < kGrid; ++c)
            for (int r = 0; r < kGrid; ++r)
                matrix.set(cells::storedColumnOfGrid(c, 1), cells::storedRowOfGrid(r, 1), kUntouched);
        ASSERT_NO_THROW(CalcTableConditions(matrix, target, include, false)) << "round " << round;

        WorkContext work;
        work.net = true;
        work.mode = ReportMode::Net;
        work.includeList = include;
        for (int row = 0; row < kGrid; ++row)
            for (int column = 0; column < kGrid; ++column) {
                SCOPED_TRACE(QStringLiteral("round %1, row %2, column %3").arg(round).arg(row).arg(column).toStdString());
                // The value rule of the cell: its own, or the inner line rule where both line rules are there.
                const QPair<int, int> own{row, column};
                const QPair<int, int> rowRule{row, -1}, columnRule{-1, column};
                const QPair<int, int> inner = scan == 1 ? rowRule : columnRule;
                const bool crossing = !records.contains(own) && records.contains(rowRule) && records.contains(columnRule);
                const RuleRecord rule = records.contains(own) ? records.value(own)
                                        : crossing            ? records.value(inner)
                                                              : RuleRecord{};

                const breakdown::Result r = breakdown::Build({.kind = breakdown::Kind::Cell, .row = row,
                                                              .column = column, .gridColumns = kGrid,
                                                              .gridRows = kGrid, .fixcols = 1, .fixrows = 1,
                                                              .floatValues = true, .tableIdent = target,
                                                              .formId = formId, .tableNumber = QStringLiteral("(1)"),
                                                              .shown = &matrix, .work = work});
                const int count = r.lines.count() - 1;   // the total line last
                double shares = 0;
                for (int i = 0; i < count; ++i) shares += r.lines.text(i).section(u'\t', 1, 1).toDouble();
                const double value = matrix.at(cells::storedColumnOfGrid(column, 1), cells::storedRowOfGrid(row, 1));
                if (!rule.present) {
                    EXPECT_EQ(count, 0);
                    EXPECT_EQ(value, kUntouched);
                    continue;
                }
                const double expected = rebuilt(rule, count, shares);
                if (count > 0) {
                    EXPECT_NEAR(value, expected, 1e-9 * std::max(1.0, std::abs(expected)));
                    ++listed;
                    sums += rule.sum;
                    crossings += crossing;
                } else {
                    EXPECT_TRUE(value == kUntouched || std::abs(value - expected) < 1e-9)
                        << value << " for " << expected;
                }
            }
    }
    // The generated rules reach every kind of cell.
    EXPECT_GT(listed, 100);
    EXPECT_GT(sums, 50);
    EXPECT_GT(crossings, 30);
}
