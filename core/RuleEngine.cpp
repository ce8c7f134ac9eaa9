#include "core/RuleEngine.h"

#include "core/Common.h"
#include "core/FormulaParser.h"
#include "core/NumberFormat.h"
#include "core/SharedState.h"
#include "core/TextUtil.h"
#include "platform/Database.h"

#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <optional>

namespace {

const QString kF = QStringLiteral("Ф");
const QString kTb = QStringLiteral("Т[");
const QString kRow = QStringLiteral("СТР");
const QString kCol = QStringLiteral("ГР");

// ---- Arithmetic -----------------------------------------------------------------

// Recursive descent over numbers, + - * /, unary minus and parentheses.
// Any other character, or a malformed text, makes the whole text no number.
class Arithmetic {
public:
    explicit Arithmetic(const QString &t) : s(t) {}

    std::optional<double> run() {
        pos = 0;
        ok = true;
        const double v = expr();
        skipBlanks();
        if (!ok || pos != s.size()) return std::nullopt;
        return v;
    }

private:
    void skipBlanks() {
        while (pos < s.size() && s[pos].isSpace()) ++pos;
    }
    bool take(QChar c) {
        skipBlanks();
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    double expr() {
        double v = term();
        while (ok) {
            if (take(u'+')) v += term();
            else if (take(u'-')) v -= term();
            else break;
        }
        return v;
    }
    double term() {
        double v = unary();
        while (ok) {
            if (take(u'*')) {
                v *= unary();
            } else if (take(u'/')) {
                const double d = unary();
                v = d == 0 ? 0.0 : v / d;
            } else {
                break;
            }
        }
        return v;
    }
    double unary() {
        if (take(u'-')) return -unary();
        if (take(u'+')) return unary();
        return primary();
    }
    double primary() {
        if (take(u'(')) {
            const double v = expr();
            if (!take(u')')) ok = false;
            return v;
        }
        skipBlanks();
        const qsizetype start = pos;
        int dots = 0;
        while (pos < s.size() && (s[pos].isDigit() || s[pos] == u'.')) {
            if (s[pos] == u'.') ++dots;
            ++pos;
        }
        const QStringView number = QStringView(s).mid(start, pos - start);
        bool good = false;
        const double v = number.toDouble(&good);
        if (number.isEmpty() || dots > 1 || !good) {
            ok = false;
            return 0;
        }
        return v;
    }

    const QString &s;
    qsizetype pos = 0;
    bool ok = true;
};

bool hasOperator(const QString &t) {
    for (QChar c : t)
        if (c == u'+' || c == u'-' || c == u'*' || c == u'/') return true;
    return false;
}

// ---- References -------------------------------------------------------------------

struct ParsedRef {
    QString form;             // as found in the text ("Ф12"); empty when absent
    QString key;              // "(1000)"; empty when absent
    QList<int> columns;       // reference numbering
    QList<int> rows;
};

QList<int> toIntegers(const QString &list) {
    QList<int> out;
    if (list.isEmpty()) return out;
    const QString expanded = ParseNumberList(list);
    if (expanded.isEmpty()) return out;
    for (const QString &item : expanded.split(u',')) {
        bool ok = false;
        const int v = item.trimmed().toInt(&ok);
        if (!ok) throw ConversionError(QStringLiteral("\"%1\" не является целым числом").arg(item));
        out.append(v);
    }
    return out;
}

QString stripBrackets(const QString &part) {
    if (part.startsWith(u'[')) return part.mid(1, part.size() - 2);
    return part;
}

// The parts of one text cut at its first "Ф", "Т[", "СТР" and "ГР"; each
// part runs to the next of these markers.
struct RawParts {
    bool hasForm = false, hasTable = false, hasRows = false, hasColumns = false;
    QString form, table, rows, columns;
};

RawParts cutParts(const QString &s) {
    const int pF = int(s.indexOf(kF));
    const int pT = int(s.indexOf(kTb));
    const int pR = int(s.indexOf(kRow));
    const int pG = int(s.indexOf(kCol));
    auto endOf = [&](int from) {
        int end = int(s.size());
        for (int p : {pF, pT, pR, pG})
            if (p > from && p < end) end = p;
        return end;
    };
    RawParts r;
    if (pF >= 0) {
        r.hasForm = true;
        r.form = s.mid(pF, endOf(pF) - pF).trimmed();
    }
    if (pT >= 0) {
        r.hasTable = true;
        QString t = s.mid(pT + 2, endOf(pT) - pT - 2).trimmed();
        if (t.endsWith(u']')) t.chop(1);
        r.table = u'(' + t + u')';
    }
    if (pR >= 0) {
        r.hasRows = true;
        r.rows = stripBrackets(s.mid(pR + 3, endOf(pR) - pR - 3).trimmed());
    }
    if (pG >= 0) {
        r.hasColumns = true;
        r.columns = stripBrackets(s.mid(pG + 2, endOf(pG) - pG - 2).trimmed());
    }
    return r;
}

// A reference (upper case) completed by the cycle text: each part the
// reference lacks is taken from the cycle text, a part it has is its own.
// Throws ConversionError for a row or column list that is not made of integers.
ParsedRef parseReference(const QString &reference, const QString &cycle) {
    const RawParts own = cutParts(reference);
    const RawParts more = cycle.isEmpty() ? RawParts() : cutParts(cycle);
    ParsedRef r;
    r.form = own.hasForm ? own.form : more.form;
    r.key = own.hasTable ? own.table : more.table;
    r.rows = toIntegers(own.hasRows ? own.rows : more.rows);
    r.columns = toIntegers(own.hasColumns ? own.columns : more.columns);
    return r;
}

// "Т(" becomes "Т[" and the first ")" after it "]".
QString squareTableBrackets(QString t) {
    const QString open = QStringLiteral("Т(");
    int p = int(t.indexOf(open));
    while (p >= 0) {
        t[p + 1] = u'[';
        const int close = int(t.indexOf(u')', p + 2));
        if (close >= 0) t[close] = u']';
        p = int(t.indexOf(open, p + 2));
    }
    return t;
}

QString outsideMarker(int column, int row) {
    return kOutsideTableMarker + u' ' + shared().CurrentFormKey + shared().CurrentTableKey + QStringLiteral(" гр")
           + QString::number(column) + QStringLiteral("стр") + QString::number(row);
}

// Sum of the referenced cells of the table held, or the outside-table marker.
QString sumHeldTable(const ParsedRef &r) {
    const ValueMatrix &m = shared().DataMatrix;
    const int rowShift = shared().FixRowsMinusOne + 2;
    double sum = 0;
    for (int c : r.columns) {
        for (int row : r.rows) {
            if (!IsValidMatrixCell(m, c, row)) return outsideMarker(c, row);
            sum += m.at(c + 1, row + rowShift);
        }
    }
    return num::fixed2(sum);
}

// Loads the table for CurrentInstitution and makes it the one held.
bool loadTable(const QString &form, const QString &key, const TableLabelFn &label) {
    if (!ReadTableMatrix(shared().CurrentInstitution, form, key)) return false;
    shared().CurrentFormKey = form;
    shared().CurrentTableKey = key;
    if (label) label(form + QStringLiteral(" - ") + key);
    return true;
}

bool isSeparator(QChar c) {
    return c == u'(' || c == u')' || c == u'*' || c == u'+' || c == u'-' || c == u'/';
}

// Pieces of a side with the separators between them: piece, sep, piece, ...
// (always an odd count; separators are single characters).
QStringList cutSide(const QString &t) {
    QStringList items;
    QString piece;
    for (QChar c : t) {
        if (isSeparator(c)) {
            items.append(piece);
            items.append(QString(c));
            piece.clear();
        } else {
            piece += c;
        }
    }
    items.append(piece);
    return items;
}

} // namespace

// ---- Rule lists ---------------------------------------------------------------------

void AddControlRule(qint64 key, const QString &left, const QString &right, const QString &relation,
                    const QString &comment, const QString &cycle) {
    SharedState &s = shared();
    s.RuleLeftList.add(left, key);
    s.RuleRightList.add(right);
    s.RuleRelationList.add(relation);
    s.RuleCommentList.add(comment);
    s.RuleCycleList.add(cycle);
}

void AddControlRule(const QSqlRecord &r) {
    AddControlRule(r.value(QStringLiteral("Код")).toLongLong(), r.value(QStringLiteral("lft")).toString(),
                   r.value(QStringLiteral("rght")).toString(), r.value(QStringLiteral("reltion")).toString(),
                   r.value(QStringLiteral("commnt")).toString(), r.value(QStringLiteral("cycl")).toString());
}

void ClearControlRules() {
    SharedState &s = shared();
    s.RuleLeftList.clear();
    s.RuleRightList.clear();
    s.RuleRelationList.clear();
    s.RuleCommentList.clear();
    s.RuleCycleList.clear();
}

// ---- Table matrix ---------------------------------------------------------------------

bool ReadTableMatrix(qint64 institution, const QString &formName, const QString &tableKey) {
    const qint64 ident = GetTableIdent(formName, tableKey);
    TableGeometry g;
    if (ident < 0 || !GetTableGeometry(formName, tableKey, g)) return false;
    SharedState &s = shared();
    const int colCount = g.colCountPlus1 - 1, rowCount = g.rowCountPlus1 - 1;
    s.FixRowsMinusOne = g.fixRows - 1;
    s.DataMatrix.create(g.fixCols + 1, colCount + 1, g.fixRows + 1, rowCount + 1);

    const QString table = ValueTableName();
    std::optional<QSqlQuery> q;
    bool add = false;
    if (s.ReportMode == QLatin1String("Types")) {
        const QList<qint64> ids = text::parseIdList(s.IncludeList);
        if (ids.isEmpty()) return true;
        q = db::exec(db::kData,
                     QStringLiteral("select \"column\", \"row\", data from %1 where year=? and \"table\"=? "
                                    "and hospital in (%2)").arg(table, db::inList(ids)),
                     {s.Year, ident});
        add = true;
    } else if (institution != 0) {
        q = db::exec(db::kData,
                     QStringLiteral("select \"column\", \"row\", data from %1 where year=? and \"table\"=? "
                                    "and hospital=?").arg(table),
                     {s.Year, ident, institution});
    } else {
        return true;
    }
    while (q->next()) {
        const int c = q->value(0).toInt(), r = q->value(1).toInt();
        if (!(c > g.fixCols + 1 && c <= colCount + 1 && r > g.fixRows + 1 && r <= rowCount + 1)) continue;
        const double v = q->value(2).toDouble();
        if (add) s.DataMatrix.add(c, r, v);
        else s.DataMatrix.set(c, r, v);
    }
    return true;
}

bool IsValidMatrixCell(const ValueMatrix &m, int column, int row) {
    if (!m.isCreated()) return false;
    return column >= m.lowColumn() && row >= 1 && column + 1 <= m.highColumn() && row + m.lowRow() <= m.highRow();
}

// ---- Reference evaluation ----------------------------------------------------------------

QString EvaluateReference(const QString &reference, const QString &cycle, const TableLabelFn &label) {
    if (IsDigitsText(reference) || reference.contains(kOutsideTableMarker)) return reference;
    const ParsedRef r = parseReference(squareTableBrackets(text::upper(reference)),
                                        squareTableBrackets(text::upper(cycle)));
    SharedState &s = shared();
    if (r.form.isEmpty() || r.key.isEmpty()) return reference;
    if (!s.CurrentFormKey.isEmpty()) {
        if (r.form != s.CurrentFormKey || r.key != s.CurrentTableKey) return reference;
    } else if (!loadTable(r.form, r.key, label)) {
        return reference;
    }
    return sumHeldTable(r);
}

void ResolveRuleSide(StringList &list, int index, const TableLabelFn &label) {
    const QString t = text::upper(list.text(index));
    if (t.contains(kOutsideTableMarker)) return;
    const QString cycle = index < shared().RuleCycleList.count() ? shared().RuleCycleList.text(index) : QString();
    QStringList items = cutSide(squareTableBrackets(t));
    for (int i = 0; i < items.size(); i += 2) items[i] = EvaluateReference(items[i], cycle, label);
    list.setText(index, items.join(QString()));
}

// ---- Arithmetic on texts ------------------------------------------------------------------

bool IsNumberText(const QString &text) {
    QStringView v(text);
    if (v.startsWith(u'-')) v = v.mid(1);
    if (v.isEmpty()) return false;
    int digits = 0, dots = 0;
    for (QChar c : v) {
        if (c.isDigit() && c.unicode() < 128) ++digits;
        else if (c == u'.') ++dots;
        else return false;
    }
    return digits > 0 && dots <= 1;
}

QString EvaluateFlatExpression(const QString &text) {
    if (!hasOperator(text)) return text;
    const auto v = Arithmetic(text).run();
    return v ? num::fixed2(*v) : text;
}

QString EvaluateExpression(const QString &text) {
    if (text.contains(kOutsideTableMarker)) return text;
    if (!hasOperator(text) && !text.contains(u'(')) return text;
    const auto v = Arithmetic(text).run();
    return v ? num::fixed2(*v) : text;
}

bool RelationHolds(const QString &relation, double l, double r) {
    const QString rel = relation.left(3).trimmed();
    if (rel == QLatin1String("=")) return l == r;
    if (rel == QLatin1String("<>")) return l != r;
    if (rel == QLatin1String(">")) return l > r;
    if (rel == QLatin1String(">=")) return l >= r;
    if (rel == QLatin1String("<")) return l < r;
    if (rel == QLatin1String("<=")) return l <= r;
    return true;
}

// ---- Control run -----------------------------------------------------------------------------

namespace {

struct Side {
    QStringList items;        // piece, separator, piece, ...
    int markedInPass = -1;    // pass in which the side got the outside-table marker
};

struct RuleCopy {
    qint64 key = 0;
    Side sides[2];
    QString left, right;      // texts as they stand
    QString relation, cycle, comment;
    bool broken = false;      // a row or column list could not be read
};

struct PendingRef {
    int copy;
    int side;
    int item;
    int table;                // index into the table list
    ParsedRef ref;
};

// Expands each loaded rule over its cycle.
QList<RuleCopy> expandRules(const QString &defaultText) {
    const SharedState &s = shared();
    QList<RuleCopy> copies;
    for (int i = 0; i < s.RuleLeftList.count(); ++i) {
        RuleCopy base;
        base.key = s.RuleLeftList.object(i);
        base.left = s.RuleLeftList.text(i);
        base.right = i < s.RuleRightList.count() ? s.RuleRightList.text(i) : QString();
        base.relation = i < s.RuleRelationList.count() ? s.RuleRelationList.text(i) : QString();
        base.comment = i < s.RuleCommentList.count() ? s.RuleCommentList.text(i) : QString();
        const QString cycle = i < s.RuleCycleList.count() ? s.RuleCycleList.text(i) : QString();
        if (cycle.isEmpty()) {
            base.cycle = defaultText;
            copies.append(base);
            continue;
        }
        const QString up = text::upper(cycle);
        QString marker, rest;
        if (up.startsWith(kCol)) {
            marker = kCol;
            rest = cycle.mid(2);
        } else if (up.startsWith(kRow)) {
            marker = kRow;
            rest = cycle.mid(3);
        }
        if (rest.startsWith(u'[')) rest = rest.mid(1, rest.size() - 2);
        QString numbers;
        bool bad = marker.isEmpty();
        if (!bad) {
            try {
                numbers = ParseNumberList(rest);
            } catch (const ConversionError &) {
                bad = true;
            }
        }
        if (bad) {
            // An unreadable cycle: the rule is reported once as it stands.
            base.cycle = cycle + defaultText;
            base.broken = true;
            copies.append(base);
            continue;
        }
        if (numbers.isEmpty()) continue;
        for (const QString &n : numbers.split(u',')) {
            RuleCopy c = base;
            c.cycle = marker + n + defaultText;
            copies.append(c);
        }
    }
    return copies;
}

} // namespace

void RunTableControls(const QString &defaultText, const TableLabelFn &label) {
    SharedState &s = shared();
    struct ListsGuard {
        ~ListsGuard() {
            ClearControlRules();
            shared().CurrentFormKey.clear();
            shared().CurrentTableKey.clear();
        }
    } guard;

    QList<RuleCopy> copies = expandRules(defaultText);

    // Cut every side into pieces once and find the table each reference needs.
    QList<PendingRef> refs;
    QList<QPair<QString, QString>> tables;       // (form, key) in order of first need
    QHash<QString, int> tableIndex;
    QHash<QString, ParsedRef> parseCache;        // piece + cycle -> parsed reference
    QHash<QString, bool> brokenCache;
    for (int ci = 0; ci < copies.size(); ++ci) {
        RuleCopy &c = copies[ci];
        const QString cycleUp = squareTableBrackets(text::upper(c.cycle));
        for (int si = 0; si < 2; ++si) {
            const QString t = text::upper(si == 0 ? c.left : c.right);
            Side &side = c.sides[si];
            if (t.contains(kOutsideTableMarker)) {
                side.items = QStringList{t};
                side.markedInPass = -2;
                continue;
            }
            side.items = cutSide(squareTableBrackets(t));
            for (int ii = 0; ii < side.items.size(); ii += 2) {
                const QString &piece = side.items[ii];
                if (IsDigitsText(piece)) continue;
                const QString whole = piece + u'\x1f' + cycleUp;
                ParsedRef r;
                auto hit = parseCache.constFind(whole);
                if (hit != parseCache.constEnd()) {
                    r = *hit;
                } else if (brokenCache.contains(whole)) {
                    c.broken = true;
                    continue;
                } else {
                    try {
                        r = parseReference(piece, cycleUp);
                    } catch (const ConversionError &) {
                        brokenCache.insert(whole, true);
                        c.broken = true;
                        continue;
                    }
                    parseCache.insert(whole, r);
                }
                if (r.form.isEmpty() || r.key.isEmpty()) continue;
                const QString tk = r.form + u'\x1f' + r.key;
                int ti = tableIndex.value(tk, -1);
                if (ti < 0) {
                    ti = int(tables.size());
                    tables.append({r.form, r.key});
                    tableIndex.insert(tk, ti);
                }
                refs.append(PendingRef{ci, si, ii, ti, r});
            }
        }
    }

    // Resolution: the first reference still pending names the next table to
    // load (one query); then every pending reference to that table is
    // resolved. A side that met the outside-table marker in an earlier table
    // is left as it stands.
    QList<QList<int>> refsOfTable(tables.size());
    for (int i = 0; i < refs.size(); ++i) refsOfTable[refs[i].table].append(i);
    QList<bool> done(refs.size(), false);
    QList<bool> tableTried(tables.size(), false);
    int pass = 0;
    for (int cursor = 0; cursor < refs.size(); ++cursor) {
        if (done[cursor]) continue;
        const PendingRef &first = refs[cursor];
        if (copies[first.copy].sides[first.side].markedInPass != -1) {
            done[cursor] = true;
            continue;
        }
        const int ti = first.table;
        if (tableTried[ti]) {
            done[cursor] = true;
            continue;
        }
        tableTried[ti] = true;
        s.CurrentFormKey.clear();
        s.CurrentTableKey.clear();
        ++pass;
        if (!loadTable(tables[ti].first, tables[ti].second, label)) {
            for (int i : refsOfTable[ti]) done[i] = true;
            continue;
        }
        for (int i : refsOfTable[ti]) {
            done[i] = true;
            const PendingRef &p = refs[i];
            Side &side = copies[p.copy].sides[p.side];
            if (side.markedInPass != -1 && side.markedInPass != pass) continue;
            const QString v = sumHeldTable(p.ref);
            side.items[p.item] = v;
            if (v.startsWith(kOutsideTableMarker) && side.markedInPass == -1) side.markedInPass = pass;
        }
    }
    s.CurrentFormKey.clear();
    s.CurrentTableKey.clear();

    // Comparison.
    for (RuleCopy &c : copies) {
        c.left = c.sides[0].items.join(QString());
        c.right = c.sides[1].items.join(QString());
        bool violated = c.broken;
        if (!violated) {
            c.left = EvaluateExpression(c.left);
            c.right = EvaluateExpression(c.right);
            if (!IsNumberText(c.left) || !IsNumberText(c.right)) violated = true;
            else violated = !RelationHolds(c.relation, c.left.toDouble(), c.right.toDouble());
        }
        if (violated)
            s.ControlErrors.add(c.left + c.relation + c.right + u'\t' + c.cycle + u'\t' + c.comment, c.key);
    }
}
