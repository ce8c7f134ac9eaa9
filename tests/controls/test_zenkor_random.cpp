// Random control books through the whole import, against a model of the book lines of its own: the generator knows what
// each line it writes means, and every rule stored for the line, run by the rule engine on random values, must give the
// same checks. Four Links.mdb: numbers shifted, permuted, partly mapped, and an empty file.
//
// Both sides of the gate: every line the book notation gives one meaning is stored (lists shared by some references
// beside others with rows or columns of their own, sums beside lists, signs, nested brackets, every relation), and
// every line the generator wrote with a fault of a known kind is listed with the reason of that kind.
//
// ZENKOR_RANDOM_LINES sets the number of lines per book (default 300), ZENKOR_RANDOM_SEED another book.
#include "controls/ZenkorImporter.h"
#include "controls/ZenkorProof.h"
#include "engine/LinksDb.h"
#include "engine/RuleEngine.h"
#include "engine/TableShape.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

#include <QRandomGenerator>
#include <QSet>
#include <QSqlQuery>
#include <cmath>
#include <gtest/gtest.h>
#include <functional>
#include <map>

namespace {

// One book table: its book code, our table, and the book numbers with the
// numbers they stand for (a number missing from the map stays as it is).
struct BookTable {
    QString code, table;                    // book code "1000", our table number "1000"
    QList<int> rows, columns;               // book numbers the generator uses
    std::map<int, int> rowMap, columnMap;   // what Links.mdb says
    int row(int n) const { return rowMap.count(n) ? rowMap.at(n) : n; }
    int column(int n) const { return columnMap.count(n) ? columnMap.at(n) : n; }
};

struct Variant { const char *name; QList<BookTable> tables; bool formsInLinks = true; };

QList<Variant> variants() {
    auto table = [](QString code, QString ours, QList<int> rows, QList<int> cols, QList<int> rowTo, QList<int> colTo) {
        BookTable t{code, ours, rows, cols, {}, {}};
        for (int i = 0; i < rowTo.size(); ++i) t.rowMap[rows[i]] = rowTo[i];
        for (int i = 0; i < colTo.size(); ++i) t.columnMap[cols[i]] = colTo[i];
        return t;
    };
    return {
        {"shifted",
         {table("1000", "1000", {11, 12, 13, 14, 15}, {1, 2, 3, 4}, {1, 2, 3, 4, 5}, {4, 5, 6, 7}),
          table("2108", "2000", {21, 22, 23}, {1, 2}, {1, 2, 3}, {4, 5})}},
        {"permuted",
         {table("1000", "1000", {1, 2, 3, 4, 5}, {1, 2, 3, 4}, {3, 5, 1, 4, 2}, {6, 4, 7, 5}),
          table("2108", "2000", {1, 2, 3}, {1, 2}, {2, 3, 1}, {5, 4})}},
        {"partial", {table("1000", "1000", {1, 2, 3, 4, 5}, {4, 5, 6, 7}, {2, 1}, {5, 4})}},
        {"empty", {table("1000", "1000", {1, 2, 3, 4, 5}, {4, 5, 6, 7}, {}, {})}, false},
    };
}

double cellValue(int trial, const QString &table, int column, int row) {
    // Whole values, distinct enough, different per trial.
    static const quint64 ranges[] = {7, 89, 997};
    quint64 x = quint64(trial) << 48 ^ quint64(table.toInt()) << 32 ^ quint64(column) << 16 ^ quint64(row);
    x += 0x9e3779b97f4a7c15ull;   // splitmix64
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    x ^= x >> 31;
    return double(x % ranges[trial % 3] + 1);
}

// ---- the generator and its model of a line ---------------------------------------

struct NumberSpec {
    enum Kind { Single, Sum, List, Arith } kind = Single;
    QList<int> numbers;    // book numbers (Arith: the two operands)
    QChar op;              // Arith: - / *
};

struct Node {
    enum Kind { Ref, Const, Group } kind = Const;
    bool negative = false; // written with a sign: "-x"
    double value = 0;      // Const
    int table = 0;         // Ref
    NumberSpec rows, columns;
    QList<Node> items;     // Group: operands
    QList<QChar> ops;      // Group: between operands (+ - * /)
};

class Generator {
public:
    Generator(const Variant &v, quint32 seed) : m_v(v), m_rng(seed) {}

    int pick(int n) { return int(m_rng.bounded(n)); }

    // A list of `length` book numbers from the domain, written as a range or an enumeration.
    QString list(const QList<int> &domain, int length, bool rows, bool columns, QList<int> &numbers) {
        const int start = pick(int(domain.size()) - length + 1);
        numbers = domain.mid(start, length);
        const bool consecutive = numbers.last() - numbers.first() == length - 1;
        const int style = pick(4);
        if (consecutive && style == 0) return QString::number(numbers.first()) + u':' + QString::number(numbers.last());
        if (consecutive && style == 1) return QString::number(numbers.first()) + ".." + QString::number(numbers.last());
        if (consecutive && style == 3 && pick(2) == 0) {   // descending
            std::reverse(numbers.begin(), numbers.end());
            return QString::number(numbers.first()) + (rows ? ":" : "..") + QString::number(numbers.last());
        }
        QStringList parts;
        for (int n : numbers) parts << QString::number(n);
        return parts.join(columns && pick(2) == 0 ? u',' : u'.');
    }

    QString numberText(const QList<int> &domain, bool rows, bool allowList, NumberSpec &s) {
        const int kind = pick(10);
        if (allowList && m_length > 1 && kind < 3 && domain.size() >= m_length) {
            s.kind = NumberSpec::List;
            return list(domain, m_length, rows, !rows, s.numbers);
        }
        if (kind < 5 && domain.size() >= 2) {
            s.kind = NumberSpec::Sum;
            const int a = domain[pick(int(domain.size()))], b = domain[pick(int(domain.size()))];
            if (rows && pick(3) == 0) {
                // "aПb": the rows from a to b summed, in either direction.
                s.numbers.clear();
                for (int n = std::min(a, b); n <= std::max(a, b); ++n) s.numbers << n;
                return QString::number(a) + u'П' + QString::number(b);
            }
            s.numbers = {a, b};
            return QString::number(a) + u'+' + QString::number(b);
        }
        if (!rows && kind < 6 && domain.size() >= 2) {
            s.kind = NumberSpec::Arith;
            const int a = domain[pick(int(domain.size()))], b = domain[pick(int(domain.size()))];
            s.numbers = {a, b};
            const int o = pick(3);
            s.op = o == 0 ? u'-' : o == 1 ? u'/' : u'*';
            return QString::number(a) + (o == 0 ? " - " : o == 1 ? "/" : " X ") + QString::number(b);
        }
        s.kind = NumberSpec::Single;
        s.numbers = {domain[pick(int(domain.size()))]};
        return QString::number(s.numbers.first());
    }

    QString ref(Node &n) {
        n.kind = Node::Ref;
        n.table = pick(int(m_v.tables.size()));
        const BookTable &t = m_v.tables[n.table];
        const bool rowList = pick(2) == 0;
        const QString rows = numberText(t.rows, true, rowList, n.rows);
        const QString cols = numberText(t.columns, false, n.rows.kind != NumberSpec::List, n.columns);
        return "30000," + t.code + u',' + rows + u',' + cols;
    }

    QString constant(Node &n) {
        n.kind = Node::Const;
        switch (pick(3)) {
        case 0: n.value = 1 + pick(9); return QString::number(int(n.value));
        case 1: n.value = 0.5; return "0,5";
        default: n.value = 2.5; return pick(2) ? "2.5" : "'2,5'";
        }
    }

    // operand (op operand)*, brackets two deep; a constant right after a reference only behind "*"; now and then an
    // operand with a sign ("-a", "a*-b", "a - -(b+c)").
    QString group(Node &g, int depth) {
        g.kind = Node::Group;
        const int count = 1 + pick(3);
        QString text;
        bool lastRef = false;
        for (int i = 0; i < count; ++i) {
            Node item;
            QString itemText;
            const int what = pick(10);
            QChar op = QStringLiteral("+-*/X")[pick(5)];
            if (what < 6 || (i == 0 && count == 1)) itemText = ref(item);
            else if (what < 8 || depth > 1) itemText = constant(item);
            else itemText = u'(' + group(item, depth + 1) + u')';
            if (pick(8) == 0) {
                item.negative = true;
                itemText = (pick(2) ? "-" : "- ") + itemText;
            }
            if (i > 0) {
                if (item.kind == Node::Const && lastRef) op = u'*';
                g.ops << (op == u'X' ? QChar(u'*') : op);
                text += op == u'X' ? QString(" X ") : pick(3) == 0 ? QString(" ") + op + u' ' : QString(op);
            }
            text += itemText;
            lastRef = item.kind == Node::Ref;
            g.items << item;
        }
        return text;
    }

    // A line: relation and both sides; every list of the line has m_length numbers. withReference: a line without
    // any reference is written again.
    QString line(Node sides[2], QString &relation, bool withReference = false) {
        for (;;) {
            sides[0] = sides[1] = Node();
            m_length = pick(3) == 0 ? 2 + pick(2) : 1;
            static const QStringList relations = {">=", "<=", "<>", ">", "<", "="};
            relation = relations[pick(6)];
            const QString left = group(sides[0], 0);
            const QString right = pick(4) == 0 ? QString::number(pick(5)) : group(sides[1], 0);
            if (right.size() == 1) sides[1] = Node{Node::Const, false, double(right.toInt())};
            if (!withReference || hasReference(sides[0]) || hasReference(sides[1])) return left + relation + right;
        }
    }

    static bool hasReference(const Node &n) {
        return n.kind == Node::Ref || std::any_of(n.items.begin(), n.items.end(), hasReference);
    }

    // Whether a book number of the line is one Links.mdb does not map (the line is stored and listed for checking).
    bool unmapped(const Node &n) const {
        if (n.kind == Node::Group) return std::any_of(n.items.begin(), n.items.end(), [&](const Node &i) { return unmapped(i); });
        if (n.kind != Node::Ref) return false;
        const BookTable &t = m_v.tables[n.table];
        if (!m_v.formsInLinks) return true;
        auto missing = [](const QList<int> &numbers, const std::map<int, int> &map) {
            return std::any_of(numbers.begin(), numbers.end(), [&](int x) { return !map.count(x); });
        };
        return missing(n.rows.numbers, t.rowMap) || missing(n.columns.numbers, t.columnMap);
    }

    // A line with one fault of a known kind, and the reason its kind is listed with.
    QString faultyLine(QString &reason) {
        const BookTable &t = m_v.tables[0];
        const QString head = "30000," + t.code + u',';
        const QString row = QString::number(t.rows[0]), row2 = QString::number(t.rows[1]);
        const QString col = QString::number(t.columns[0]), col2 = QString::number(t.columns[1]);
        const QString plain = head + row + u',' + col;
        switch (pick(9)) {
        case 0: reason = zenkor::kReasonBadNumber; return head + row + "О," + col + ">=" + plain;   // Cyrillic О
        case 1: reason = zenkor::kReasonBadNumber; return plain + "<=" + head + row + u',' + col + "a";
        case 2: reason = zenkor::kReasonCross; return head + row + u'.' + row2 + u',' + col + u'.' + col2 + ">=0";
        case 3:
            reason = zenkor::kReasonCross;
            return head + row + u'.' + row2 + u',' + col + '=' + head + QString::number(t.rows[0]) + u'.' + row2 + u'.' +
                   QString::number(t.rows[2]) + u',' + col2;
        case 4: reason = zenkor::kReasonForms; return "77000,1000,1,4>=77000,1000,2,4";
        case 5: reason = zenkor::kReasonUnreadable; return plain + (pick(2) ? ">=x" : " 5");
        case 6: reason = zenkor::kReasonUnreadable; return QString::number(1 + pick(9)) + "+2.5>=1";   // no reference
        case 7: reason = zenkor::kReasonQuoted; return plain + ">='итого'";
        default: reason = zenkor::kReasonChecker; return head + "40," + col + ">=0";   // no such row
        }
    }

    // The checks of a line on a trial's values: one per list position.
    QList<QPair<double, double>> checks(const Node sides[2], int trial) const {
        QList<QPair<double, double>> out;
        for (int i = 0; i < m_length; ++i) out.append({eval(sides[0], trial, i), eval(sides[1], trial, i)});
        return out;
    }

    int length() const { return m_length; }
    void setLength(int length) { m_length = length; }

private:
    static double apply(double a, QChar op, double b) {
        if (op == u'+') return a + b;
        if (op == u'-') return a - b;
        if (op == u'*') return a * b;
        return b == 0 ? 0 : a / b;
    }
    static double chain(QList<double> v, QList<QChar> ops) {
        for (int i = 0; i < ops.size();) {
            if (ops[i] == u'*' || ops[i] == u'/') {
                v[i] = apply(v[i], ops[i], v[i + 1]);
                v.removeAt(i + 1);
                ops.removeAt(i);
            } else {
                ++i;
            }
        }
        double x = v[0];
        for (int i = 0; i < ops.size(); ++i) x = apply(x, ops[i], v[i + 1]);
        return x;
    }
    QList<int> numbers(const NumberSpec &s, int position) const {
        return s.kind == NumberSpec::List ? QList<int>{s.numbers[position]} : s.numbers;
    }
    double cells(const BookTable &t, const QList<int> &rows, const QList<int> &cols, int trial) const {
        double sum = 0;
        for (int r : rows)
            for (int c : cols) sum += cellValue(trial, t.table, t.column(c), t.row(r));
        return sum;
    }
    double eval(const Node &n, int trial, int position) const {
        const double v = value(n, trial, position);
        return n.negative ? -v : v;
    }
    double value(const Node &n, int trial, int position) const {
        if (n.kind == Node::Const) return n.value;
        if (n.kind == Node::Ref) {
            const BookTable &t = m_v.tables[n.table];
            const QList<int> rows = numbers(n.rows, position);
            if (n.columns.kind == NumberSpec::Arith)
                return apply(cells(t, rows, {n.columns.numbers[0]}, trial), n.columns.op,
                             cells(t, rows, {n.columns.numbers[1]}, trial));
            return cells(t, rows, numbers(n.columns, position), trial);
        }
        QList<double> values;
        for (const Node &item : n.items) values << eval(item, trial, position);
        return chain(values, n.ops);
    }

    const Variant &m_v;
    QRandomGenerator m_rng;
    int m_length = 1;
};

// Exact values against the engine's, which are rounded to cents. The engine runs each side scaled by a million: what it
// shows in cents is exact to 1e-8.
bool near(double exact, double engine) { return std::fabs(exact - engine) <= 2e-8 + 1e-9 * std::fabs(exact); }

QList<QPair<double, double>> distinct(QList<QPair<double, double>> checks) {
    std::sort(checks.begin(), checks.end());
    QList<QPair<double, double>> out;
    for (const auto &c : checks)
        if (out.isEmpty() || std::fabs(out.last().first - c.first) > 1e-12 * (1 + std::fabs(c.first)) ||
            std::fabs(out.last().second - c.second) > 1e-12 * (1 + std::fabs(c.second)))
            out << c;
    return out;
}

bool sameChecks(QList<QPair<double, double>> exact, const QList<QPair<double, double>> &engine) {
    // At the engine's precision (cents of the scaled side), so that checks
    // that only differ below it count as one on both sides.
    auto atEngine = [](double x) { return std::fabs(x) < 1e6 ? std::round(x * 1e8) / 1e8 : x; };
    for (auto &c : exact) c = {atEngine(c.first), atEngine(c.second)};
    const auto a = distinct(exact), b = distinct(engine);
    if (a.size() != b.size()) return false;
    for (int i = 0; i < a.size(); ++i)
        if (!near(a[i].first, b[i].first) || !near(a[i].second, b[i].second)) return false;
    return true;
}

// The checks of stored rules on a trial's values, as the rule engine runs them.
QList<QPair<double, double>> engineChecks(const QList<QStringList> &rules, const QString &defaultText, int trial,
                                         bool &numeric) {
    RuleRun run{RuleRunContext()};
    run.setTableSource([&](RuleRun &r, const QString &, const QString &key) {
        QString table = key;
        for (QChar c : {u'(', u')', u'[', u']'}) table.remove(c);
        TableShape shape;
        shape.colcount = 12, shape.rowcount = 30;
        ValueMatrix &m = r.createMatrix(shape);
        for (int c = 1; c <= shape.colcount; ++c)
            for (int row = 1; row <= shape.rowcount; ++row) m.set(c + 1, row + 1, cellValue(trial, table, c, row));
        return true;
    });
    for (int i = 0; i < rules.size(); ++i) {
        const QString l = "(" + rules[i][0] + ")*1000000", r = "(" + rules[i][1] + ")*1000000";
        run.addRule(2 * i, l, r, "=", QString(), rules[i][2]);
        run.addRule(2 * i + 1, l, r, "<>", QString(), rules[i][2]);
    }
    run.runControls(defaultText);
    QList<QPair<double, double>> out;
    numeric = true;
    for (int e = 0; e < run.errors().count(); ++e) {
        const QString sides = run.errors().text(e).section(u'\t', 0, 0);
        const QString rel = run.errors().object(e) % 2 == 0 ? "=" : "<>";
        const int at = int(sides.indexOf(rel, 1));
        bool a = false, b = false;
        const double l = sides.left(at).toDouble(&a), r = sides.mid(at + rel.size()).toDouble(&b);
        if (at < 0 || !a || !b) numeric = false;
        out.append({l / 1e6, r / 1e6});
    }
    return out;
}

class ZenkorRandomBooks : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(ZenkorRandomBooks, EveryStoredRuleMeansItsBookLine) {
    const Variant v = variants()[GetParam()];
    SampleFixture fx;
    fx.reloadCaches();
    FakeDialogs dialogs;
    const QString linksPath = fx.yearFolder() + "Links.mdb";
    links::createLinksDatabase(linksPath);
    {
        db::ScopedConnection c(linksPath, db::OpenMode::ReadWrite);
        const QSqlDatabase d = c.db();
        if (v.formsInLinks) db::exec(d, "insert into forms (nf, mf) values ('Ф30', '30000')");
        for (const BookTable &t : v.tables) {
            if (!v.formsInLinks) break;   // the empty file
            db::exec(d, "insert into tables (msk, orv) values (?, ?)", {"30000" + t.code, "Ф30(" + t.table + ")"});
            for (const auto &[book, ours] : t.rowMap)
                db::exec(d, "insert into \"rows\" values (?, ?)", {"30000" + t.code + QString::number(book).rightJustified(3, u'0'), ours});
            for (const auto &[book, ours] : t.columnMap)
                db::exec(d, "insert into cols values (?, ?)", {"30000" + t.code + QString::number(book).rightJustified(2, u'0'), ours});
        }
    }
    NameValueList codes;
    codes.setValue("30000", "Ф30");
    const int asked = qEnvironmentVariableIntValue("ZENKOR_RANDOM_LINES"), count = asked > 0 ? asked : 300;
    Generator gen(v, quint32(qEnvironmentVariableIntValue("ZENKOR_RANDOM_SEED")) + 20260 + GetParam());
    QStringList lines;
    QList<std::array<Node, 2>> meaning;
    QStringList expected;   // per line: the reason it is listed with, or empty when it is stored
    QList<bool> toCheck;    // per line: stored with a number Links.mdb does not map
    // What the book holds of each kind the import must store.
    QMap<QString, int> kinds;
    std::function<int(const Node &)> depth = [&](const Node &n) {
        int d = 0;
        for (const Node &i : n.items) d = std::max(d, depth(i) + (i.kind == Node::Group ? 1 : 0));
        return d;
    };
    std::function<void(const Node &, QList<const Node *> &)> refsOf = [&](const Node &n, QList<const Node *> &out) {
        if (n.kind == Node::Ref) out << &n;
        for (const Node &i : n.items) refsOf(i, out);
    };
    std::function<bool(const Node &)> signed_ = [&](const Node &n) {
        return n.negative || std::any_of(n.items.begin(), n.items.end(), signed_);
    };
    for (int i = 0; i < count; ++i) {
        Node sides[2];
        QString relation, reason, expr;
        if (gen.pick(8) == 0) {
            expr = gen.faultyLine(reason);
            ++kinds["fault: " + reason];
        } else {
            expr = gen.line(sides, relation, true);
            QList<const Node *> refs;
            refsOf(sides[0], refs);
            refsOf(sides[1], refs);
            const auto withList = [](const Node *r) {
                return r->rows.kind == NumberSpec::List || r->columns.kind == NumberSpec::List;
            };
            const bool someList = std::any_of(refs.begin(), refs.end(), withList);
            if (someList && !std::all_of(refs.begin(), refs.end(), withList)) ++kinds["a list beside references without it"];
            if (someList && std::any_of(refs.begin(), refs.end(), [](const Node *r) {
                    return r->rows.kind == NumberSpec::Sum || r->columns.kind == NumberSpec::Sum;
                }))
                ++kinds["a list beside a sum"];
            if (signed_(sides[0]) || signed_(sides[1])) ++kinds["a sign"];
            if (std::max(depth(sides[0]), depth(sides[1])) >= 2) ++kinds["brackets in brackets"];
            ++kinds["relation " + relation];
        }
        lines << QString("01%1 0").arg(i + 1, 6, 10, QLatin1Char('0')) + expr;
        meaning.append({sides[0], sides[1]});
        meaning.last()[0].value = gen.length();   // the generator's list length belongs to the line
        expected << reason;
        toCheck << (reason.isEmpty() && (gen.unmapped(sides[0]) || gen.unmapped(sides[1])));
    }
    if (count >= 300) {
        for (const char *kind : {"a list beside references without it", "a list beside a sum", "a sign",
                                 "brackets in brackets", "relation >=", "relation <=", "relation <>", "relation >",
                                 "relation <", "relation ="})
            EXPECT_GT(kinds.value(kind), 0) << kind;
        EXPECT_GE(kinds.size(), 16) << "every kind of fault";
    }
    const QString book = fx.root() + "book.txt";
    ASSERT_TRUE(cp1251::writeLines(book, lines));

    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    const int stored = imp.ImportControls(book, nullptr);

    // Every line the notation gives one meaning is stored, and listed only when a number of it is to check; every
    // faulty line is listed once, with the reason of its fault.
    QHash<int, QList<QStringList>> rules;   // line number -> rules
    QHash<int, QString> defaults;
    QSqlQuery q = db::exec(db::kMain, "select zenkor_id, lft, rght, cycl, control_type, project_tble from zenkor_controls");
    while (q.next()) {
        const int line = q.value(0).toString().mid(2, 6).toInt();
        rules[line].append({q.value(1).toString(), q.value(2).toString(), q.value(3).toString()});
        const int type = q.value(4).toInt();
        defaults[line] = type == 2 ? QString() : type == 1 ? QString("Ф30") : "Ф30Т" + q.value(5).toString();
    }
    EXPECT_EQ(rules.size(), stored);
    QHash<QString, int> reasons;
    QHash<int, QStringList> listed;   // line number -> reasons (the part before ":")
    for (const ZenkorListedLine &l : imp.LastListed) {
        EXPECT_EQ(l.text, lines[l.line - 1].trimmed());
        const QString reason = l.reason.section(u':', 0, 0);
        ++reasons[reason];
        listed[l.line] << reason;
    }
    for (int line = 1; line <= count; ++line) {
        const QString &reason = expected[line - 1];
        const QStringList got = listed.value(line);
        const std::string text = lines[line - 1].toStdString();
        if (reason.isEmpty()) {
            EXPECT_TRUE(rules.contains(line)) << "not stored: " << text << " (" << got.join(", ").toStdString() << ")";
            EXPECT_EQ(got, toCheck[line - 1] ? QStringList{zenkor::kReasonUnmapped} : QStringList()) << text;
        } else {
            EXPECT_FALSE(rules.contains(line)) << "stored: " << text;
            EXPECT_EQ(got, QStringList{reason}) << text;
        }
    }

    // Every stored line means what the generator wrote.
    int wrong = 0;
    for (auto it = rules.constBegin(); it != rules.constEnd(); ++it) {
        const auto &m = meaning[it.key() - 1];
        Node sides[2] = {m[0], m[1]};
        for (int trial = 0; trial < 3; ++trial) {
            bool numeric = true;
            const auto got = engineChecks(it.value(), defaults[it.key()], trial, numeric);
            Generator g(v, 0);
            g.setLength(int(m[0].value));   // the line's list length
            if (!numeric || !sameChecks(g.checks(sides, trial), got)) {
                ++wrong;
                QStringList stored;
                for (const QStringList &r : it.value()) stored << r.join(" | ");
                ADD_FAILURE() << "line " << it.key() << ": " << lines[it.key() - 1].toStdString() << "\n  stored: "
                              << stored.join("; ").toStdString() << " [" << defaults[it.key()].toStdString() << "]";
                break;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    QStringList summary;
    for (auto it = reasons.constBegin(); it != reasons.constEnd(); ++it)
        summary << it.key() + ": " + QString::number(it.value());
    std::sort(summary.begin(), summary.end());
    printf("[ %s ] lines %d, stored %d, with another meaning %d; listed: %s\n", v.name, count, stored, wrong,
           qPrintable(summary.join("; ")));
}

INSTANTIATE_TEST_SUITE_P(Links, ZenkorRandomBooks, ::testing::Values(0, 1, 2, 3));
