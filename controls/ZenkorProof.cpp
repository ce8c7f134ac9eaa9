#include "controls/ZenkorProof.h"

#include "engine/Notation.h"
#include "engine/RuleEngine.h"
#include "engine/TableShape.h"
#include "engine/TextUtil.h"

#include <QHash>
#include <QSet>
#include <cmath>
#include <numeric>

namespace zenkor {

namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isSideOp(QChar c) {
    return c == u'+' || c == u'-' || c == u'*' || c == u'/' || c == u'X' || c == u'x';
}

bool fail(QString *reason, const QString &why) {
    if (reason && reason->isEmpty()) *reason = why;
    return false;
}

// Commas from `from` up to the first operator or bracket outside apostrophes.
int commasAhead(const QString &s, int from) {
    int commas = 0;
    bool quoted = false;
    for (int i = from; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == u'\'') quoted = !quoted;
        else if (quoted) continue;
        else if (c == u',') ++commas;
        else if (isSideOp(c) || c == u'(' || c == u')') break;
    }
    return commas;
}

// Next comma outside apostrophes from `from`; -1 when none.
int nextComma(const QString &s, int from) {
    bool quoted = false;
    for (int i = from; i < s.size(); ++i) {
        if (s.at(i) == u'\'') quoted = !quoted;
        else if (!quoted && s.at(i) == u',') return i;
    }
    return -1;
}

// Brackets and signs nested deeper than a book line ever needs are read
// as no expression, before anything walks them one level at a time.
int deepestNesting(const QList<BookLine::Token> &tokens) {
    int depth = 0, deepest = 0, signs = 0;
    for (const BookLine::Token &t : tokens) {
        if (t.kind == BookLine::Token::Open) ++depth;
        else if (t.kind == BookLine::Token::Close) --depth;
        signs = t.kind == BookLine::Token::Op ? signs + 1 : 0;
        deepest = std::max(deepest, depth + signs);
    }
    return deepest;
}

bool readConstant(QString t, double &value) {
    t = t.trimmed();
    t.replace(u',', u'.');
    if (t.isEmpty() || !isDigit(t.at(0)) || !isDigit(t.at(t.size() - 1))) return false;
    int points = 0;
    for (QChar c : t) {
        if (c == u'.') ++points;
        else if (!isDigit(c)) return false;
    }
    if (points > 1) return false;
    bool ok = false;
    value = t.toDouble(&ok);
    return ok;
}

bool readWhole(const QString &text, qint64 &value) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 9) return false;
    for (QChar c : t)
        if (!isDigit(c)) return false;
    value = t.toLongLong();
    return true;
}

// Book numbers of a list piece: items cut at "," and "." (not ".."), each a
// number or a range start..end (either direction).
bool readItems(const QString &piece, bool rows, QList<qint64> &numbers, bool &range) {
    QString t = piece;
    t.replace(u':', QStringLiteral(".."));
    if (rows) t.replace(u'П', QStringLiteral(".."));
    QStringList items;
    QString cur;
    for (int i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c == u'.' && i + 1 < t.size() && t.at(i + 1) == u'.') {
            cur += QStringLiteral("..");
            ++i;
        } else if (c == u'.' || c == u',') {
            items << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    items << cur;
    range = false;
    for (const QString &item : items) {
        const int at = int(item.indexOf(QStringLiteral("..")));
        if (at < 0) {
            qint64 n = 0;
            if (!readWhole(item, n)) return false;
            numbers << n;
            continue;
        }
        qint64 a = 0, b = 0;
        if (!readWhole(item.left(at), a) || !readWhole(item.mid(at + 2), b)) return false;
        if (std::llabs(b - a) > 2000) return false;
        range = range || a != b;
        for (qint64 n = a;; n += (b >= a ? 1 : -1)) {
            numbers << n;
            if (n == b) break;
        }
    }
    return true;
}

double combine(double a, QChar op, double b) {
    if (op == u'+') return a + b;
    if (op == u'-') return a - b;
    if (op == u'*') return a * b;
    return b == 0 ? 0 : a / b;   // as the rule engine divides
}

// Values joined by - / *: products and quotients first.
double applySpecOps(QList<double> values, QList<QChar> ops) {
    for (int i = 0; i < ops.size();) {
        if (ops[i] == u'*' || ops[i] == u'/') {
            values[i] = combine(values[i], ops[i], values[i + 1]);
            values.removeAt(i + 1);
            ops.removeAt(i);
        } else {
            ++i;
        }
    }
    double v = values.value(0);
    for (int i = 0; i < ops.size(); ++i) v = combine(v, ops[i], values[i + 1]);
    return v;
}

// The checks of a line as a sorted list without repeats; values closer than
// the rounding to cents (or, for large products, than the precision of the
// arithmetic) count as equal.
bool near(double a, double b) { return std::fabs(a - b) <= std::max(0.02, 1e-9 * std::fabs(a)); }

QList<QPair<double, double>> checkSet(QList<QPair<double, double>> checks) {
    std::sort(checks.begin(), checks.end());
    QList<QPair<double, double>> out;
    for (const auto &c : checks)
        if (out.isEmpty() || !near(out.last().first, c.first) || !near(out.last().second, c.second)) out << c;
    return out;
}

bool sameChecks(const QList<QPair<double, double>> &a, const QList<QPair<double, double>> &b) {
    const auto x = checkSet(a), y = checkSet(b);
    if (x.size() != y.size()) return false;
    for (int i = 0; i < x.size(); ++i)
        if (!near(x[i].first, y[i].first) || !near(x[i].second, y[i].second)) return false;
    return true;
}

} // namespace

bool BookLine::read(const QString &left, const QString &right, const BookResolver &resolver, QString *reason) {
    m_resolver = &resolver;
    m_refs.clear();
    m_unmapped = false;
    m_checks = 1;
    if (!readSide(left, m_sides[0], reason) || !readSide(right, m_sides[1], reason)) return false;
    // Every list of the line is taken at the same position.
    int length = 0;
    for (const Ref &r : m_refs) {
        bool rowList = false, columnList = false;
        for (int d = 0; d < 2; ++d) {
            for (const Piece &p : (d == 0 ? r.rows : r.columns).pieces) {
                if (p.kind != Piece::List) continue;
                (d == 0 ? rowList : columnList) = true;
                if (length == 0) length = int(p.numbers.size());
                else if (length != p.numbers.size()) return fail(reason, kReasonCross);
            }
        }
        if (rowList && columnList) return fail(reason, kReasonCross);
        if (r.rows.pieces.size() > 1 && r.columns.pieces.size() > 1) return fail(reason, kReasonCross);
    }
    if (length > 0) m_checks = length;
    // The sides must be expressions: evaluate once on zeros.
    QList<QPair<double, double>> probe;
    probe = evaluate([](const QString &, const QString &, int, int) { return 0.0; });
    if (probe.isEmpty()) return fail(reason, kReasonUnreadable);
    return true;
}

bool BookLine::readSide(const QString &sideIn, QList<Token> &out, QString *reason) {
    out.clear();
    const QString s = sideIn.trimmed();
    const int n = int(s.size());
    if (n == 0) return fail(reason, kReasonUnreadable);
    auto lastIsTerm = [&] {
        return !out.isEmpty() && (out.last().kind == Token::Number || out.last().kind == Token::Reference ||
                                  out.last().kind == Token::Close);
    };
    int i = 0;
    while (i < n) {
        const int start = i;
        const QChar c = s.at(i);
        if (c == u' ' || c == u'\t') {
            ++i;
        } else if (c == u'(' || c == u')') {
            out.append({c == u'(' ? Token::Open : Token::Close, 0, -1, c});
            ++i;
        } else if (c == u'+' || c == u'-' || c == u'*' || c == u'/') {
            out.append({Token::Op, 0, -1, c});
            ++i;
        } else if (c == u'X' || c == u'x') {
            if (!lastIsTerm()) return fail(reason, kReasonUnreadable);
            out.append({Token::Op, 0, -1, u'*'});
            ++i;
        } else if (c == u'\'') {
            const int close = int(s.indexOf(u'\'', i + 1));
            if (close < 0) return fail(reason, kReasonQuoted);
            Token t;
            if (!readConstant(s.mid(i + 1, close - i - 1), t.number)) return fail(reason, kReasonQuoted);
            out.append(t);
            i = close + 1;
        } else if (commasAhead(s, i) < 2) {
            // A constant, ending at an operator or bracket.
            int end = i;
            while (end < n && !isSideOp(s.at(end)) && s.at(end) != u'(' && s.at(end) != u')') ++end;
            Token t;
            if (!readConstant(s.mid(i, end - i), t.number)) return fail(reason, kReasonUnreadable);
            out.append(t);
            i = end;
        } else {
            // A reference: form, table, rows up to the third comma, then the
            // columns up to an operator that begins another reference.
            const int c1 = nextComma(s, i), c2 = nextComma(s, c1 + 1), c3 = c2 < 0 ? -1 : nextComma(s, c2 + 1);
            if (c1 < 0 || c2 < 0 || c3 < 0) return fail(reason, kReasonUnreadable);
            const QString rows = s.mid(c2 + 1, c3 - c2 - 1);
            if (rows.contains(u'(') || rows.contains(u')') || rows.contains(u'*'))
                return fail(reason, kReasonUnreadable);
            int j = c3 + 1;
            bool quoted = false;
            for (; j < n; ++j) {
                const QChar ch = s.at(j);
                if (ch == u'\'') {
                    quoted = !quoted;
                    continue;
                }
                if (quoted) continue;
                if (ch == u'*' || ch == u'(' || ch == u')') break;
                if (!isSideOp(ch)) continue;
                int m = j + 1;
                while (m < n && s.at(m) == u' ') ++m;
                if (m >= n || !isDigit(s.at(m)) || commasAhead(s, m) >= 2) break;
            }
            if (!readReference(s.mid(i, c1 - i), s.mid(c1 + 1, c2 - c1 - 1), rows, s.mid(c3 + 1, j - c3 - 1),
                               reason))
                return false;
            Token t;
            t.kind = Token::Reference;
            t.ref = int(m_refs.size()) - 1;
            out.append(t);
            i = j;
        }
        if (i <= start) return fail(reason, kReasonUnreadable);   // every step moves on
    }
    return deepestNesting(out) <= kDeepestNesting || fail(reason, kReasonUnreadable);
}

bool BookLine::readReference(const QString &formIn, const QString &tableIn, const QString &rows,
                             const QString &columns, QString *reason) {
    const QString formCode = formIn.trimmed(), tableCode = tableIn.trimmed();
    if (formCode.isEmpty() || tableCode.isEmpty() || formCode.contains(u' ') || tableCode.contains(u' ') ||
        formCode.contains(u'\'') || tableCode.contains(u'\''))
        return fail(reason, kReasonUnreadable);
    // A table code is letters and digits: a bracket or any other mark in it
    // would be dropped on the way to our table key.
    if (!std::all_of(tableCode.begin(), tableCode.end(), [](QChar c) { return c.isLetterOrNumber(); }))
        return fail(reason, kReasonUnreadable);
    Ref r;
    r.form = text::upper(m_resolver->form(formCode));
    r.table = m_resolver->table(formCode, tableCode);
    if (r.table.isEmpty()) return fail(reason, kReasonUnreadable);
    // A form or table stored under a name the rules cannot read is named by no rule.
    if (const QString why = notation::NamingProblem(r.form, u'(' + r.table + u')', true); !why.isEmpty())
        return fail(reason, kReasonChecker + QStringLiteral(": ") + why);
    if (!readSpec(rows, true, formCode, tableCode, r.rows, reason) ||
        !readSpec(columns, false, formCode, tableCode, r.columns, reason))
        return false;
    m_refs.append(r);
    return true;
}

bool BookLine::readSpec(const QString &textIn, bool rows, const QString &formCode, const QString &tableCode,
                        NumberSpec &out, QString *reason) {
    const QString t = textIn.trimmed();
    if (t.isEmpty()) return fail(reason, kReasonUnreadable);
    if (t.startsWith(u'\'')) {
        // Our own numbers, as written.
        if (t.size() < 3 || !t.endsWith(u'\'')) return fail(reason, kReasonQuoted);
        Piece p;
        bool range = false;
        if (!readItems(t.mid(1, t.size() - 2), false, p.numbers, range)) return fail(reason, kReasonQuoted);
        p.kind = p.numbers.size() > 1 ? Piece::List : Piece::Single;
        out.pieces << p;
        return true;
    }
    if (t.contains(u'\'')) return fail(reason, kReasonQuoted);
    // Pieces between the arithmetic signs.
    QStringList pieces;
    QString cur;
    for (QChar c : t) {
        if (c == u'-' || c == u'/' || c == u'X' || c == u'x') {
            pieces << cur;
            cur.clear();
            out.ops << (c == u'-' || c == u'/' ? c : QChar(u'*'));
        } else {
            cur += c;
        }
    }
    pieces << cur;
    for (const QString &raw : pieces) {
        const QString piece = raw.trimmed();
        if (piece.isEmpty()) return fail(reason, kReasonUnreadable);
        Piece p;
        QList<qint64> book;
        // "П" in rows is a sum of the rows from one number to the other, as
        // "+" is a sum: never a list of checks.
        if (piece.contains(u'+') || (rows && piece.contains(u'П'))) {
            p.kind = Piece::Sum;
            for (const QString &item : piece.split(u'+')) {
                bool range = false;
                QList<qint64> numbers;
                if (item.contains(u',') || (item.contains(u'.') && !item.contains(QStringLiteral(".."))))
                    return fail(reason, kReasonCross);
                if (!readItems(item, rows, numbers, range)) return fail(reason, kReasonBadNumber);
                book << numbers;
            }
        } else {
            // A list beside an arithmetic sign ("4-1,5") has no single
            // meaning: "1,5" may as well be a number with a decimal comma.
            if (!out.ops.isEmpty() && (piece.contains(u',') || (piece.contains(u'.') && !piece.contains(QStringLiteral("..")))))
                return fail(reason, kReasonUnreadable);
            bool range = false;
            if (!readItems(piece, rows, book, range)) return fail(reason, kReasonBadNumber);
            p.kind = book.size() > 1 ? Piece::List : Piece::Single;
        }
        for (qint64 n : book) {
            bool unmapped = false;
            p.numbers << m_resolver->number(formCode, tableCode, rows, n, unmapped);
            m_unmapped = m_unmapped || unmapped;
        }
        out.pieces << p;
    }
    return true;
}

QHash<QString, QPair<int, int>> BookLine::extents() const {
    QHash<QString, QPair<int, int>> out;
    for (const Ref &r : m_refs) {
        QPair<int, int> &e = out[r.form + u'|' + r.table];
        for (const Piece &p : r.columns.pieces)
            for (qint64 n : p.numbers) e.first = std::max<int>(e.first, int(n));
        for (const Piece &p : r.rows.pieces)
            for (qint64 n : p.numbers) e.second = std::max<int>(e.second, int(n));
    }
    return out;
}

QList<QPair<double, double>> BookLine::evaluate(const CellValueFn &value) const {
    QList<QPair<double, double>> out;
    for (int check = 0; check < m_checks; ++check) {
        auto numbersOf = [&](const Piece &p) {
            if (p.kind == Piece::List) return QList<qint64>{p.numbers.value(check)};
            return p.numbers;
        };
        auto cells = [&](const Ref &r, const Piece &rowPiece, const Piece &columnPiece) {
            double sum = 0;
            for (qint64 row : numbersOf(rowPiece))
                for (qint64 column : numbersOf(columnPiece)) sum += value(r.form, r.table, int(column), int(row));
            return std::round(sum * 100.0) / 100.0;
        };
        auto refValue = [&](const Ref &r) {
            QList<double> values;
            if (r.rows.pieces.size() > 1) {
                for (const Piece &p : r.rows.pieces) values << cells(r, p, r.columns.pieces.first());
                return applySpecOps(values, r.rows.ops);
            }
            for (const Piece &p : r.columns.pieces) values << cells(r, r.rows.pieces.first(), p);
            return applySpecOps(values, r.columns.ops);
        };
        // expr := term {(+|-) term}; term := factor {(*|/) factor};
        // factor := [+|-] factor | number | reference | ( expr )
        bool ok = true;
        for (int side = 0; side < 2 && ok; ++side) {
            const QList<Token> &toks = m_sides[side];
            int pos = 0;
            std::function<double()> expr;
            std::function<double()> factor = [&]() -> double {
                if (pos >= toks.size()) {
                    ok = false;
                    return 0;
                }
                const Token &t = toks.at(pos++);
                if (t.kind == Token::Op && (t.op == u'-' || t.op == u'+')) {
                    const double v = factor();
                    return t.op == u'-' ? -v : v;
                }
                if (t.kind == Token::Number) return t.number;
                if (t.kind == Token::Reference) return refValue(m_refs.at(t.ref));
                if (t.kind == Token::Open) {
                    const double v = expr();
                    if (pos >= toks.size() || toks.at(pos).kind != Token::Close) ok = false;
                    ++pos;
                    return v;
                }
                ok = false;
                return 0;
            };
            auto term = [&]() {
                double v = factor();
                while (ok && pos < toks.size() && toks.at(pos).kind == Token::Op &&
                       (toks.at(pos).op == u'*' || toks.at(pos).op == u'/')) {
                    const QChar op = toks.at(pos++).op;
                    v = combine(v, op, factor());
                }
                return v;
            };
            expr = [&]() {
                double v = term();
                while (ok && pos < toks.size() && toks.at(pos).kind == Token::Op &&
                       (toks.at(pos).op == u'+' || toks.at(pos).op == u'-')) {
                    const QChar op = toks.at(pos++).op;
                    v = combine(v, op, term());
                }
                return v;
            };
            const double v = expr();
            if (pos != toks.size()) ok = false;
            if (side == 0) out.append({v, 0});
            else out.last().second = v;
        }
        if (!ok) return {};
    }
    return out;
}

namespace {

// A generated value of a cell: whole, varying from cell to cell, different
// from trial to trial. The trials use small, middle and large values, so that
// neither quotients nor products of several cells hide a change behind the
// rounding of a side to cents.
constexpr int kTrials = 7;
double trialValue(int trial, const QString &form, const QString &table, int column, int row) {
    static const size_t ranges[kTrials] = {9, 97, 9973, 13, 997, 3, 5};
    // FNV-1a: the same values in every run of the program.
    quint64 h = 14695981039346656037ull ^ quint64(trial + 1);
    for (QChar c : form + u'|' + table + u'|' + QString::number(column) + u'|' + QString::number(row)) {
        h ^= c.unicode();
        h *= 1099511628211ull;
    }
    // A final mix, so that cells whose names differ in one character do not
    // get values that differ by a pattern (sums of them could cancel out).
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return double(1 + (h % ranges[trial]));
}

QString bareTable(QString key) {
    for (QChar c : {u'(', u')', u'[', u']'}) key.remove(c);
    return key.trimmed();
}

} // namespace

bool ProveRules(const BookLine &book, const QList<TControlData> &rules, const QString &defaultText) {
    if (rules.isEmpty()) return false;
    const QHash<QString, QPair<int, int>> extents = book.extents();
    for (int trial = 0; trial < kTrials; ++trial) {
        const QList<QPair<double, double>> expected = book.evaluate(
            [&](const QString &f, const QString &t, int c, int r) { return trialValue(trial, f, t, c, r); });
        if (expected.isEmpty()) return false;

        RuleRun run{RuleRunContext()};
        run.setTableSource([&](RuleRun &r, const QString &formName, const QString &tableKey) {
            const QString form = text::upper(formName), table = bareTable(tableKey);
            const auto it = extents.constFind(form + u'|' + table);
            if (it == extents.constEnd()) return false;
            TableShape shape;
            shape.colcount = std::max(1, it->first) + 1;
            shape.rowcount = std::max(1, it->second) + 1;
            ValueMatrix &m = r.createMatrix(shape);
            for (int c = 1; c <= shape.colcount; ++c)
                for (int row = 1; row <= shape.rowcount; ++row) m.set(c + 1, row + 1, trialValue(trial, form, table, c, row));
            return true;
        });
        // Each rule twice, with "=" and with "<>": exactly one of the two is
        // reported for every check, with both sides as numbers. The engine
        // writes a side in cents: each side is scaled by a power of ten that
        // brings its largest value near 1e11, so that a change in a small
        // quotient shows, and a large product keeps its cents exact. Checks
        // are compared at that scale.
        int power[2];
        for (int side = 0; side < 2; ++side) {
            double largest = 0;
            for (const auto &c : expected) largest = std::max(largest, std::fabs(side == 0 ? c.first : c.second));
            power[side] = largest > 0 && std::isfinite(largest)
                              ? std::clamp(int(std::floor(11 - std::log10(largest))), -12, 24)
                              : 6;
        }
        auto scaled = [](const QString &side, int p) {
            const QString factor = QStringLiteral("1") + QString(std::abs(p), u'0');
            return QStringLiteral("(") + side + (p >= 0 ? QStringLiteral(")*") : QStringLiteral(")/")) + factor;
        };
        QList<QPair<double, double>> want;
        for (const auto &c : expected)
            want.append({c.first * std::pow(10.0, power[0]), c.second * std::pow(10.0, power[1])});
        for (int i = 0; i < rules.size(); ++i) {
            const QString l = scaled(rules[i].lft, power[0]), r = scaled(rules[i].rght, power[1]);
            run.addRule(qint64(i) * 2, l, r, QStringLiteral("="), QString(), rules[i].cycl);
            run.addRule(qint64(i) * 2 + 1, l, r, QStringLiteral("<>"), QString(), rules[i].cycl);
        }
        run.runControls(defaultText);
        QList<QPair<double, double>> got;
        const StringList &errors = run.errors();
        for (int e = 0; e < errors.count(); ++e) {
            const QString sides = errors.text(e).section(u'\t', 0, 0);
            const QString rel = errors.object(e) % 2 == 0 ? QStringLiteral("=") : QStringLiteral("<>");
            const int at = int(sides.indexOf(rel, 1));
            if (at < 0) return false;
            bool okL = false, okR = false;
            const double l = sides.left(at).toDouble(&okL), r = sides.mid(at + rel.size()).toDouble(&okR);
            if (!okL || !okR) return false;
            got.append({l, r});
        }
        if (!sameChecks(got, want)) return false;
    }
    return true;
}

} // namespace zenkor
