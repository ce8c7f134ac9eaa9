#include "engine/RuleEngine.h"
#include "engine/Caches.h"
#include "engine/CellNumbering.h"
#include "engine/TableShape.h"

#include "engine/Lookups.h"
#include "engine/ValueIO.h"
#include "engine/EngineError.h"
#include "engine/ValueMatrix.h"
#include "engine/Conditions.h"
#include "engine/FormulaParser.h"
#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QHash>
#include <QSet>
#include <QStringBuilder>
#include <QSqlQuery>
#include <QSqlRecord>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace {

// ---- Arithmetic -----------------------------------------------------------------

// Recursive descent over number and operator tokens: + - * / with the usual
// precedence, unary minus and parentheses; x/0 gives 0.
struct Token {
    QChar op;                       // 0 for a number
    double value = 0;
};

class TokenArithmetic {
public:
    explicit TokenArithmetic(const QList<Token> &t) : m_t(t) {}
    std::optional<double> run() {
        const double v = expr();
        if (!m_ok || m_pos != m_t.size()) return std::nullopt;
        return v;
    }
private:
    bool take(QChar c) {
        if (m_pos < m_t.size() && m_t[m_pos].op == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    // A sum keeps the precision of its terms (num::Sum): 0.1 + 0.2 - 0.3 is
    // 0, so a divisor that cancels divides by 0 and gives 0.
    double expr() {
        num::Sum sum;
        sum.add(term());
        while (m_ok) {
            if (take(u'+')) sum.add(term());
            else if (take(u'-')) sum.add(-term());
            else break;
        }
        return sum.value();
    }
    double term() {
        double v = unary();
        while (m_ok) {
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
        // Signs and brackets nest; text nested deeper than any real formula
        // is not read, so no text can exhaust the stack.
        struct Level {
            explicit Level(int &d) : depth(++d) {}
            ~Level() { --depth; }
            int &depth;
        } level(m_depth);
        // kMaxNesting brackets are read, as the rule check accepts them; a
        // chain of signs is bounded as well.
        if (m_depth > 4 * kMaxNesting) {
            m_ok = false;
            return 0;
        }
        if (take(u'-')) return -unary();
        if (take(u'+')) return unary();
        if (take(u'(')) {
            if (++m_brackets > kMaxNesting) {
                m_ok = false;
                return 0;
            }
            const double v = expr();
            --m_brackets;
            if (!take(u')')) m_ok = false;
            return v;
        }
        if (m_pos < m_t.size() && m_t[m_pos].op.isNull()) return m_t[m_pos++].value;
        m_ok = false;
        return 0;
    }
    const QList<Token> &m_t;
    qsizetype m_pos = 0;
    int m_depth = 0;
    int m_brackets = 0;
    bool m_ok = true;
};

// Cuts an arithmetic text into tokens; false when it holds anything but
// numbers (digits and one "."), operators, parentheses and blanks.
bool tokenize(const QString &s, QList<Token> &out) {
    out.clear();
    qsizetype i = 0;
    while (i < s.size()) {
        const QChar c = s[i];
        if (c.isSpace()) {
            ++i;
        } else if (c == u'+' || c == u'-' || c == u'*' || c == u'/' || c == u'(' || c == u')') {
            out.append(Token{c, 0});
            ++i;
        } else if ((c >= u'0' && c <= u'9') || c == u'.') {
            const qsizetype start = i;
            int dots = 0, digits = 0;
            while (i < s.size() && ((s[i] >= u'0' && s[i] <= u'9') || s[i] == u'.')) {
                if (s[i] == u'.') ++dots;
                else ++digits;
                ++i;
            }
            bool ok = false;
            const double v = QStringView(s).mid(start, i - start).toDouble(&ok);
            if (!ok || dots > 1 || digits == 0) return false;
            out.append(Token{QChar(), v});
        } else {
            return false;
        }
    }
    return true;
}

std::optional<double> evaluateText(const QString &text) {
    QList<Token> tokens;
    if (!tokenize(text, tokens)) return std::nullopt;
    return TokenArithmetic(tokens).run();
}

bool hasOperator(const QString &t) {
    for (QChar c : t)
        if (c == u'+' || c == u'-' || c == u'*' || c == u'/') return true;
    return false;
}

// ---- References -------------------------------------------------------------------

struct ParsedRef {
    QString form;             // as found in the text ("Ф12"); empty when absent
    QString key;              // "(1000)"; empty when absent
    notation::NumberItems columns;   // reference numbering, item by item
    notation::NumberItems rows;
};

notation::NumberItems itemsOf(const QString &list) {
    std::optional<notation::NumberItems> items = notation::ReadNumberItems(list);
    if (!items) throw ConversionError(QStringLiteral("\"%1\" не является списком целых чисел").arg(list));
    return *items;
}

// A reference (its parts cut from the upper-cased text) completed by the cycle
// text: each part the reference lacks is taken from the cycle text, a part it
// has is its own. Throws ConversionError for a row or column list that is not
// made of integers.
ParsedRef parseReference(const ReferenceParts &own, const QString &cycle) {
    const ReferenceParts more = cycle.isEmpty() ? ReferenceParts() : CutReferenceParts(cycle);
    ParsedRef r;
    r.form = own.hasForm ? own.form : more.form;
    r.key = own.hasTable ? own.table : more.table;
    r.rows = itemsOf(own.hasRows ? own.rows : more.rows);
    r.columns = itemsOf(own.hasColumns ? own.columns : more.columns);
    return r;
}

} // namespace

// ---- Context and rules -----------------------------------------------------------------

RuleRun::RuleRun(RuleRunContext context) : m_context(std::move(context)) {}

void RuleRun::addRule(qint64 key, const QString &left, const QString &right, const QString &relation,
                      const QString &comment, const QString &cycle) {
    m_rules.append(Rule{key, left, right, relation, comment, cycle});
}

void RuleRun::addRules(const QList<Rule> &rules) {
    // The list itself is kept when the run has no rules yet.
    if (m_rules.isEmpty()) m_rules = rules;
    else m_rules.append(rules);
}

void RuleRun::addRule(const QSqlRecord &r) {
    addRule(r.value(QStringLiteral("Код")).toLongLong(), r.value(QStringLiteral("lft")).toString(),
            r.value(QStringLiteral("rght")).toString(), r.value(QStringLiteral("reltion")).toString(),
            r.value(QStringLiteral("commnt")).toString(), r.value(QStringLiteral("cycl")).toString());
}

// ---- Table held ---------------------------------------------------------------------------

ValueMatrix &RuleRun::createMatrix(const TableShape &g) {
    m_fixRows = g.fixrows;
    // From the last header line on, so that the lowest column is the first data column
    // in reference numbering (IsValidMatrixCell).
    m_matrix.create(cells::storedOfStruct(g.fixcols), cells::storedOfStruct(g.colcount),
                    cells::storedOfStruct(g.fixrows), cells::storedOfStruct(g.rowcount));
    return m_matrix;
}

bool RuleRun::readTable(const QString &formName, const QString &tableKey) {
    if (m_tableSource) return m_tableSource(*this, formName, tableKey);
    const qint64 ident = GetTableIdent(formName, tableKey);
    const std::optional<TableShape> shape = CachedTableShape(formName, tableKey);
    if (ident < 0 || !shape) return false;
    const TableShape &g = *shape;
    const QString table = ValueTableName(m_context.valueTable);
    const int colCount = g.colcount, rowCount = g.rowcount;
    createMatrix(g);

    // The rows straight through sqlite (a QVariant per field would cost more
    // than the reading); column and row are whole numbers, rounded as a
    // QVariant would round them.
    QString sql;
    QVariantList params;
    bool add = false;
    if (m_context.reportMode == ReportMode::Types) {
        const QList<qint64> ids = text::parseIdList(m_context.includeList);
        if (ids.isEmpty()) return true;
        sql = QStringLiteral("select \"column\", \"row\", data from %1 where year=? and \"table\"=? "
                             "and hospital in (%2)").arg(table, db::inList(ids));
        params = {shared().Year, ident};
        add = true;
    } else if (m_context.institution != 0) {
        sql = QStringLiteral("select \"column\", \"row\", data from %1 where year=? and \"table\"=? "
                             "and hospital=?").arg(table);
        params = {shared().Year, ident, m_context.institution};
    } else {
        return true;
    }
    const int cLow = cells::storedColumnOfGrid(0, g.fixcols), rLow = cells::storedRowOfGrid(0, g.fixrows);
    db::readNumbers(db::connection(db::kData), sql, params, 3, [&](const double *f) {
        const int c = int(qRound64(f[0])), r = int(qRound64(f[1]));
        if (!(c >= cLow && c <= colCount + 1 && r >= rLow && r <= rowCount + 1)) return;
        if (add) m_matrix.add(c, r, f[2]);
        else m_matrix.set(c, r, f[2]);
    });
    return true;
}

bool RuleRun::loadTable(const QString &form, const QString &key, const TableLabelFn &label) {
    if (!readTable(form, key)) return false;
    setHeld(form, key);
    if (label) label(form + QStringLiteral(" - ") + key);
    return true;
}

void RuleRun::setHeld(const QString &form, const QString &key) {
    m_heldForm = form;
    m_heldTable = key;
}

bool RuleRun::holds(const QString &form, const QString &key) const {
    return holdsTable() && text::sameName(form, m_heldForm) && text::sameName(key, m_heldTable);
}

void RuleRun::release() {
    m_heldForm.clear();
    m_heldTable.clear();
}

bool IsValidMatrixCell(const ValueMatrix &m, int column, int row) {
    if (!m.isCreated()) return false;
    return column >= m.lowColumn() && row >= 1 && column + 1 <= m.highColumn() && row + m.lowRow() <= m.highRow();
}

bool RuleRun::sumCells(const notation::NumberItems &columns, const notation::NumberItems &rows, double &sum,
                       QString &marker) const {
    const bool held = m_matrix.isCreated();
    // The lines of the table held: columns lowColumn .. highColumn - 1, rows
    // 1 .. highRow - lowRow (none without a table).
    const qint64 cLow = held ? m_matrix.lowColumn() : 1, cHigh = held ? m_matrix.highColumn() - 1 : 0;
    const qint64 rLow = 1, rHigh = held ? m_matrix.highRow() - m_matrix.lowRow() : 0;
    num::Sum total;
    struct Settle {
        double &out;
        const num::Sum &total;
        ~Settle() { out = total.value(); }
    } settle{sum, total};
    return notation::VisitClipped(columns, cLow, cHigh, [&](qint64 c) {
        return notation::VisitClipped(rows, rLow, rHigh, [&](qint64 r) {
            if (c < cLow || c > cHigh || r < rLow || r > rHigh) {
                char column[24], row[24];
                const char *columnEnd = std::to_chars(column, column + sizeof column, c).ptr;
                const char *rowEnd = std::to_chars(row, row + sizeof row, r).ptr;
                marker = kOutsideTableMarker % u' ' % m_heldForm % m_heldTable % QStringLiteral(" гр") %
                         QLatin1StringView(column, columnEnd) % QStringLiteral("стр") % QLatin1StringView(row, rowEnd);
                return false;
            }
            total.add(m_matrix.at(cells::storedColumnOfRef(int(c)), cells::storedRowOfRef(int(r), m_fixRows)));
            return true;
        });
    });
}

// ---- Reference evaluation ----------------------------------------------------------------

QString RuleRun::evaluateReference(const QString &reference, const QString &cycle, const TableLabelFn &label) {
    if (IsDigitsText(reference.trimmed()) || reference.contains(kOutsideTableMarker)) return reference;
    const ReferenceParts own = CutReferenceParts(SquareTableBrackets(text::upper(reference)));
    if (!own.any()) return reference;
    const ParsedRef r = parseReference(own, SquareTableBrackets(text::upper(cycle)));
    if (r.form.isEmpty() || r.key.isEmpty()) return reference;
    if (holdsTable()) {
        if (!holds(r.form, r.key)) return reference;
    } else if (!loadTable(r.form, r.key, label)) {
        return reference;
    }
    double sum = 0;
    QString marker;
    return sumCells(r.columns, r.rows, sum, marker) ? num::fixed2(sum) : marker;
}

QString RuleRun::resolveSide(const QString &side, const QString &cycle, const TableLabelFn &label) {
    const QString t = text::upper(side);
    if (t.contains(kOutsideTableMarker)) return side;
    QStringList items = notation::CutSide(SquareTableBrackets(t));
    for (int i = 0; i < items.size(); i += 2) items[i] = evaluateReference(items[i], cycle, label);
    return items.join(QString());
}

// ---- Calculated cells and sums ----------------------------------------------------------

void RuleRun::calcConditions(qint64 tableIdent, const std::function<void(const QString &)> &label,
                             const QString &labelPrefix, const QString &messagePrefix) {
    for (const QString &n :
         CalcTableConditions(m_matrix, tableIdent, m_context.includeList, m_context.roundResult, label, labelPrefix))
        m_messages.append(messagePrefix + n);
}

void RuleRun::sumInstitutions(qint64 formId, const QString &tableKey, ProgressPacer *pacer) {
    SumHospitalsData(m_matrix, m_context.includeList, formId, tableKey, pacer, m_context.memberKind,
                     m_context.institution);
}

void RuleRun::saveTable(qint64 formId, const QString &tableKey) {
    // A run without a chosen table reads and writes the institutions' values.
    const ValueTable table = m_context.valueTable == ValueTable::None ? ValueTable::Data : m_context.valueTable;
    SaveTableData(m_matrix, table, m_context.institution, formId, tableKey);
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

QString EvaluateExpression(const QString &text) {
    if (text.contains(kOutsideTableMarker)) return text;
    if (!hasOperator(text) && !text.contains(u'(')) return text;
    const auto v = evaluateText(text);
    return v ? num::fixed2(*v) : text;
}

// ---- Control run -----------------------------------------------------------------------------
//
// The run works on the rules as parsed once: every side is cut into pieces
// once per rule, each copy (one per cycle number) only adds the parts its
// cycle text gives. Values stay numbers until a violated copy is written out.

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Two-decimal rounding as num::round2 does it, without its text round trip
// in the common case.
double engineRound2(double v) {
    const double x = v * 100.0;
    const double frac = std::fabs(x - std::trunc(x));
    if (std::fabs(v) < 1e12 && std::fabs(frac - 0.5) > 1e-6) return std::round(x) / 100.0;
    return num::round2(v);
}

// The text of a value rounded by engineRound2: as num::fixed2 writes it.
QString engineFixed2(double rounded) {
    if (!(std::fabs(rounded) < 1e12)) return num::fixed2(rounded);
    qint64 cents = std::llround(rounded * 100.0);
    if (cents == 0) return QStringLiteral("0.00");
    const bool negative = cents < 0;
    if (negative) cents = -cents;
    char buf[32];
    int n = 0;
    char digits[24];
    int d = 0;
    qint64 whole = cents / 100;
    const int frac = int(cents % 100);
    do {
        digits[d++] = char('0' + whole % 10);
        whole /= 10;
    } while (whole > 0);
    if (negative) buf[n++] = '-';
    while (d > 0) buf[n++] = digits[--d];
    buf[n++] = '.';
    buf[n++] = char('0' + frac / 10);
    buf[n++] = char('0' + frac % 10);
    return QString::fromLatin1(buf, n);
}

// Value of a piece that is a plain number ("12", "1.50", " 3 "); NaN otherwise.
double pieceNumber(const QString &piece) {
    const QString t = piece.trimmed();
    if (!IsDecimalText(t)) return kNaN;
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? v : kNaN;
}

struct PieceInfo {
    double number = kNaN;           // its value when it is a plain number
    ReferenceParts own;
    bool isReference = false;
    bool complete = false;          // has form, table, rows and columns of its own
    int table = -1;                 // table index when the piece names form and table itself
    std::optional<notation::NumberItems> rows, columns;   // own lists when it has them
};

// A side cut once per rule.
struct SideTemplate {
    QStringList items;              // piece, separator, piece, ...
    QList<PieceInfo> pieces;        // per item
    bool marked = false;            // holds the outside-table marker already
};

// The parts a cycle text gives (one per distinct cycle text).
struct CycleInfo {
    ReferenceParts parts;
    int table = -1;
    std::optional<notation::NumberItems> rows, columns;
};

struct PendingRef {
    int copy = 0;
    int side = 0;
    int item = 0;
    int table = -1;
    notation::NumberItems rows, columns;
    bool resolved = false;
    double value = 0;
    QString marker;                 // outside-table marker when the cell lies outside
};

struct RuleCopy {
    int rule = 0;
    qint64 key = 0;
    QString relation, cycle, comment;
    bool broken = false;            // a row or column list could not be read
    qint64 cycleKey = -1;           // marker and number of the cycle (-1: key by text)
    int cycleKind = 0;              // 1 "ГР", 2 "СТР" when the cycle text is made on demand
    int cycleNumber = 0;
    int refBegin = 0, refEnd = 0;   // its references in the pending list
    int markedInPass[2] = {-1, -1}; // pass in which a side got the outside-table marker
};

} // namespace

// Moved in memory as they are when their lists grow.
Q_DECLARE_TYPEINFO(PieceInfo, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(SideTemplate, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(CycleInfo, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(PendingRef, Q_RELOCATABLE_TYPE);
Q_DECLARE_TYPEINFO(RuleCopy, Q_RELOCATABLE_TYPE);

namespace {

// Tables named during one run, in order of first mention (a run names few).
class TableIndex {
public:
    int get(const QString &form, const QString &key) {
        if (m_last >= 0 && tables[m_last].first == form && tables[m_last].second == key) return m_last;
        for (int i = 0; i < tables.size(); ++i)
            if (tables[i].first == form && tables[i].second == key) return m_last = i;
        tables.append({form, key});
        return m_last = int(tables.size()) - 1;
    }
    QList<QPair<QString, QString>> tables;   // (form, key)
private:
    int m_last = -1;
};

std::optional<notation::NumberItems> integersOrNothing(const QString &list) { return notation::ReadNumberItems(list); }

SideTemplate cutRuleSide(const QString &sideText, TableIndex &tables) {
    SideTemplate t;
    const QString up = text::upper(sideText);
    if (up.contains(kOutsideTableMarker)) {
        t.items = QStringList{up};
        t.marked = true;
    } else {
        t.items = notation::CutSide(SquareTableBrackets(up));
    }
    t.pieces.resize(t.items.size());
    if (t.marked) return t;
    for (int i = 0; i < t.items.size(); i += 2) {
        const QString &piece = t.items[i];
        PieceInfo &p = t.pieces[i];
        p.number = pieceNumber(piece);
        if (IsDigitsText(piece.trimmed())) continue;
        p.own = CutReferenceParts(piece);
        // Text without any part of a reference stays as it is.
        p.isReference = p.own.hasForm || p.own.hasTable || p.own.hasRows || p.own.hasColumns;
        if (!p.isReference) continue;
        if (p.own.hasForm && p.own.hasTable && !p.own.form.isEmpty()) p.table = tables.get(p.own.form, p.own.table);
        if (p.own.hasRows) p.rows = integersOrNothing(p.own.rows);
        if (p.own.hasColumns) p.columns = integersOrNothing(p.own.columns);
        p.complete = p.table >= 0 && p.own.hasRows && p.own.hasColumns;
    }
    return t;
}

// The lines low..high a cycle of the rule can name: those of the tables its
// references name, themselves or through the default text.
using CycleBounds = std::function<std::pair<qint64, qint64>(int rule, notation::Line line)>;

// Expands each loaded rule over its cycle, the cycle clipped to the tables of
// the rule: a number outside them is one copy per item of the list.
QList<RuleCopy> expandRules(const QList<RuleRun::Rule> &rules, const QString &defaultText, const CycleBounds &bounds) {
    QList<RuleCopy> copies;
    for (int i = 0; i < rules.size(); ++i) {
        RuleCopy base;
        base.rule = i;
        base.key = rules[i].key;
        base.relation = rules[i].relation;
        base.comment = rules[i].comment;
        // Blanks around the cycle are no part of it, as for the rule check.
        const QString cycle = rules[i].cycle.trimmed();
        if (cycle.isEmpty()) {
            base.cycle = defaultText;
            base.cycleKey = 0;
            copies.append(base);
            continue;
        }
        const notation::Cycle cycleText = notation::ReadCycle(cycle);
        QList<int> numbers;
        bool bad = !cycleText.found;
        if (!bad) {
            const std::optional<notation::NumberItems> items = notation::ReadNumberItems(cycleText.list());
            if (items) {
                const auto [low, high] = bounds(i, cycleText.line);
                numbers = notation::ClippedIntegers(*items, low, high);
            } else {
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
        const qint64 kind = cycleText.line == notation::Line::Columns ? 1 : 2;
        // The cycle text of each copy is made only when it is needed; a
        // position the list names twice is checked once.
        QSet<int> seen;
        for (int number : numbers) {
            if (seen.contains(number)) continue;
            seen.insert(number);
            RuleCopy c = base;
            c.cycleKind = int(kind);
            c.cycleNumber = number;
            c.cycleKey = number >= 0 ? (kind << 32) | number : -1;
            if (c.cycleKey < 0) c.cycle = notation::Marker(cycleText.line) + QString::number(number) + defaultText;
            copies.append(c);
        }
    }
    return copies;
}

// One control run over its rules, phase by phase: the sides are cut once per
// rule, each rule is expanded over its cycle within the tables it names, the
// references of every copy are completed and then resolved table by table,
// and the copies that do not hold are reported.
class ControlWork {
public:
    ControlWork(const QList<RuleRun::Rule> &rules, const QString &defaultText)
        : m_rules(rules), m_defaultText(defaultText),
          m_defaults(CutReferenceParts(SquareTableBrackets(text::upper(defaultText)))) {}

    void cutSides();
    void expandCycles();
    void completeReferences();
    // Loads the tables the references name, each once, and sums their cells:
    // load(form, key) loads a table for sum(columns, rows, value, marker),
    // release() lets it go.
    template <class Load, class Release, class Sum>
    void resolveReferences(const Load &load, const Release &release, const Sum &sum);
    void reportViolations(StringList &errors) const;

private:
    std::pair<qint64, qint64> cycleBounds(int rule, notation::Line line) const;
    QString cycleText(const RuleCopy &c) const;
    const CycleInfo &cycleOf(const RuleCopy &c);
    // The reference of piece p of copy c; false when it is not read (no
    // table to read it from, or a list that is no list: the copy is broken).
    // cycle is the copy's cycle, found when a reference first needs it.
    bool completeReference(RuleCopy &c, const PieceInfo &p, const CycleInfo *&cycle, PendingRef &r);

    const QList<RuleRun::Rule> &m_rules;
    const QString &m_defaultText;
    const ReferenceParts m_defaults;
    TableIndex m_tables;
    QList<SideTemplate> m_sides[2];
    QList<RuleCopy> m_copies;
    QList<PendingRef> m_refs;
    QList<CycleInfo> m_cycleInfos;
    QHash<qint64, int> m_cycleByKey;
    QHash<QString, int> m_cycleByText;
};

void ControlWork::cutSides() {
    m_sides[0].reserve(m_rules.size());
    m_sides[1].reserve(m_rules.size());
    for (const RuleRun::Rule &rule : m_rules) {
        m_sides[0].append(cutRuleSide(rule.left, m_tables));
        m_sides[1].append(cutRuleSide(rule.right, m_tables));
    }
}

std::pair<qint64, qint64> ControlWork::cycleBounds(int rule, notation::Line line) const {
    qint64 low = 0, high = -1;
    auto take = [&](const QString &form, const QString &key) {
        if (form.isEmpty() || key.isEmpty()) return;
        const std::optional<TableShape> g = CachedTableShape(form, key);
        if (!g) return;
        const qint64 lo = line == notation::Line::Rows ? cells::refRowOfGrid(0) : cells::refColumnOfGrid(0, g->fixcols);
        const qint64 hi = line == notation::Line::Rows ? g->dataRows() : g->colcount;
        if (high < low) {
            low = lo;
            high = hi;
        } else {
            low = std::min(low, lo);
            high = std::max(high, hi);
        }
    };
    for (const auto &side : m_sides) {
        for (const PieceInfo &p : side[rule].pieces) {
            if (!p.isReference) continue;
            take(p.own.hasForm ? p.own.form : m_defaults.form, p.own.hasTable ? p.own.table : m_defaults.table);
        }
    }
    // The rule's own table counts also when no reference names it (a rule
    // of constants): the rule check holds its cycle to it.
    take(m_defaults.form, m_defaults.table);
    // No table known: the lines of the largest table there can be.
    const qint64 largest = line == notation::Line::Rows ? limits::kMaxTableRows : limits::kMaxTableColumns;
    return high < low ? std::pair<qint64, qint64>(1, largest) : std::pair<qint64, qint64>(low, high);
}

void ControlWork::expandCycles() {
    m_copies = expandRules(m_rules, m_defaultText,
                           [this](int rule, notation::Line line) { return cycleBounds(rule, line); });
}

QString ControlWork::cycleText(const RuleCopy &c) const {
    if (c.cycleKind == 0) return c.cycle;
    char number[16];
    const char *end = std::to_chars(number, number + sizeof number, c.cycleNumber).ptr;
    return QString(notation::Marker(c.cycleKind == 1 ? notation::Line::Columns : notation::Line::Rows) %
                   QLatin1StringView(number, end) % m_defaultText);
}

const CycleInfo &ControlWork::cycleOf(const RuleCopy &c) {
    // Copies share few cycle texts (the default text is the same for all).
    int index = c.cycleKey >= 0 ? m_cycleByKey.value(c.cycleKey, -1) : m_cycleByText.value(c.cycle, -1);
    if (index < 0) {
        CycleInfo info;
        info.parts = CutReferenceParts(SquareTableBrackets(text::upper(cycleText(c))));
        if (info.parts.hasForm && info.parts.hasTable && !info.parts.form.isEmpty())
            info.table = m_tables.get(info.parts.form, info.parts.table);
        info.rows = integersOrNothing(info.parts.rows);
        info.columns = integersOrNothing(info.parts.columns);
        index = int(m_cycleInfos.size());
        m_cycleInfos.append(info);
        if (c.cycleKey >= 0) m_cycleByKey.insert(c.cycleKey, index);
        else m_cycleByText.insert(c.cycle, index);
    }
    return m_cycleInfos[index];
}

bool ControlWork::completeReference(RuleCopy &c, const PieceInfo &p, const CycleInfo *&cycle, PendingRef &r) {
    r.table = p.table;
    if (p.complete) {
        if (!p.rows || !p.columns) {
            c.broken = true;
            return false;
        }
        r.rows = *p.rows;
        r.columns = *p.columns;
        return true;
    }
    if (!cycle) cycle = &cycleOf(c);
    const auto &rows = p.own.hasRows ? p.rows : cycle->rows;
    const auto &columns = p.own.hasColumns ? p.columns : cycle->columns;
    if (!rows || !columns) {
        c.broken = true;
        return false;
    }
    r.rows = *rows;
    r.columns = *columns;
    const QString &form = p.own.hasForm ? p.own.form : cycle->parts.form;
    const QString &key = p.own.hasTable ? p.own.table : cycle->parts.table;
    if (form.isEmpty() || key.isEmpty()) return false;
    if (p.table >= 0) r.table = p.table;
    else if (!p.own.hasForm && !p.own.hasTable) r.table = cycle->table;
    else r.table = m_tables.get(form, key);
    return r.table >= 0;
}

void ControlWork::completeReferences() {
    m_refs.reserve(2 * m_copies.size());
    for (int ci = 0; ci < m_copies.size(); ++ci) {
        RuleCopy &c = m_copies[ci];
        c.refBegin = int(m_refs.size());
        const CycleInfo *cycle = nullptr;
        for (int si = 0; si < 2; ++si) {
            const SideTemplate &t = m_sides[si][c.rule];
            if (t.marked) {
                c.markedInPass[si] = -2;
                continue;
            }
            for (int ii = 0; ii < t.items.size(); ii += 2) {
                if (!t.pieces[ii].isReference) continue;
                PendingRef r;
                r.copy = ci;
                r.side = si;
                r.item = ii;
                if (completeReference(c, t.pieces[ii], cycle, r)) m_refs.append(std::move(r));
            }
        }
        c.refEnd = int(m_refs.size());
    }
}

// The first reference still pending names the next table to load (one
// query); then every pending reference to that table is resolved. A side
// that met the outside-table marker in an earlier table is left as it stands.
template <class Load, class Release, class Sum>
void ControlWork::resolveReferences(const Load &load, const Release &release, const Sum &sum) {
    QList<QList<int>> refsOfTable(m_tables.tables.size());
    for (int i = 0; i < m_refs.size(); ++i) refsOfTable[m_refs[i].table].append(i);
    QList<bool> done(m_refs.size(), false);
    QList<bool> tableTried(m_tables.tables.size(), false);
    int pass = 0;
    for (int cursor = 0; cursor < m_refs.size(); ++cursor) {
        if (done[cursor]) continue;
        const PendingRef &first = m_refs[cursor];
        const int ti = first.table;
        if (m_copies[first.copy].markedInPass[first.side] != -1 || tableTried[ti]) {
            done[cursor] = true;
            continue;
        }
        tableTried[ti] = true;
        release();
        ++pass;
        if (!load(m_tables.tables[ti].first, m_tables.tables[ti].second)) {
            for (int i : refsOfTable[ti]) done[i] = true;
            continue;
        }
        for (int i : refsOfTable[ti]) {
            done[i] = true;
            PendingRef &p = m_refs[i];
            int &marked = m_copies[p.copy].markedInPass[p.side];
            if (marked != -1 && marked != pass) continue;
            p.resolved = true;
            double value = 0;
            if (sum(p.columns, p.rows, value, p.marker)) p.value = engineRound2(value);
            else if (marked == -1) marked = pass;
        }
    }
    release();
}

// Texts are made only for the copies that are reported.
void ControlWork::reportViolations(StringList &errors) const {
    QList<Token> tokens;
    for (const RuleCopy &c : m_copies) {
        std::optional<double> value[2];
        int ref = c.refBegin;
        auto refAt = [&](int side, int item) -> const PendingRef * {
            while (ref < c.refEnd &&
                   (m_refs[ref].side < side || (m_refs[ref].side == side && m_refs[ref].item < item)))
                ++ref;
            if (ref < c.refEnd && m_refs[ref].side == side && m_refs[ref].item == item) return &m_refs[ref];
            return nullptr;
        };
        for (int si = 0; si < 2 && !c.broken; ++si) {
            const SideTemplate &t = m_sides[si][c.rule];
            if (t.marked) continue;
            tokens.clear();
            bool numeric = true;
            for (int ii = 0; ii < t.items.size() && numeric; ++ii) {
                if (ii % 2 == 1) {
                    tokens.append(Token{t.items[ii][0], 0});
                    continue;
                }
                const PendingRef *r = refAt(si, ii);
                if (r && r->resolved) {
                    if (!r->marker.isEmpty()) {
                        numeric = false;
                    } else {
                        tokens.append(Token{QChar(), r->value});
                    }
                } else if (!std::isnan(t.pieces[ii].number)) {
                    tokens.append(Token{QChar(), t.pieces[ii].number});
                } else if (!t.items[ii].trimmed().isEmpty()) {
                    numeric = false;
                }
            }
            if (numeric) value[si] = TokenArithmetic(tokens).run();
        }
        // Each side is compared at the two decimals it is printed with.
        for (auto &v : value)
            if (v) v = engineRound2(*v);
        const bool violated = c.broken || !value[0] || !value[1] || !RelationHolds(c.relation, *value[0], *value[1]);
        if (!violated) continue;

        // The sides as they stand: the value each was decided on when it has
        // one (a lone constant too), else the text with what was resolved.
        QString sideText[2];
        ref = c.refBegin;
        for (int si = 0; si < 2; ++si) {
            const SideTemplate &t = m_sides[si][c.rule];
            if (value[si]) {
                sideText[si] = engineFixed2(engineRound2(*value[si]));
                continue;
            }
            QString text;
            for (int ii = 0; ii < t.items.size(); ++ii) {
                const PendingRef *r = ii % 2 == 0 ? refAt(si, ii) : nullptr;
                if (r && r->resolved) text += r->marker.isEmpty() ? engineFixed2(r->value) : r->marker;
                else text += t.items[ii];
            }
            sideText[si] = text;
        }
        errors.add(QString(sideText[0] % c.relation % sideText[1] % u'\t' % cycleText(c) % u'\t' % c.comment), c.key);
    }
}

} // namespace

void RuleRun::runControls(const QString &defaultText, const TableLabelFn &label) {
    // The rules are used up and no table stays held, also when the run fails.
    const QList<Rule> rules = std::exchange(m_rules, {});
    struct HeldGuard {
        RuleRun &run;
        ~HeldGuard() { run.release(); }
    } guard{*this};

    ControlWork work(rules, defaultText);
    work.cutSides();
    work.expandCycles();
    work.completeReferences();
    work.resolveReferences([&](const QString &form, const QString &key) { return loadTable(form, key, label); },
                           [this] { release(); },
                           [this](const notation::NumberItems &columns, const notation::NumberItems &rows,
                                  double &sum, QString &marker) { return sumCells(columns, rows, sum, marker); });
    work.reportViolations(m_errors);
}
