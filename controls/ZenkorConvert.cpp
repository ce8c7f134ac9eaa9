// Conversion of control-book references and expressions into our rule
// notation: table and number mapping through Links.mdb, classification of a
// rule, the common cycle, the final tidying of a side and list compaction.
#include "controls/ZenkorImporter.h"
#include "controls/ZenkorLinks.h"

#include "engine/Lookups.h"
#include "engine/FormulaParser.h"
#include "engine/LinksDb.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>
#include <algorithm>

namespace {

const QString kRowKey = QStringLiteral("СТР");
const QString kColKey = QStringLiteral("ГР");
const QString kDots = QStringLiteral("..");

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool isOperatorChar(QChar c) { return c == u'+' || c == u'-' || c == u'/' || c == u'X' || c == u'x'; }

bool isArithmeticChar(QChar c) { return c == u'-' || c == u'/' || c == u'X' || c == u'x'; }

bool hasArithmetic(const QString &s) {
    return std::any_of(s.begin(), s.end(), isArithmeticChar);
}

QString stripBrackets(QString s) {
    s.remove(u'(');
    s.remove(u')');
    s.remove(u'[');
    s.remove(u']');
    return s;
}

QString withoutLeadingZeros(const QString &s) {
    int i = 0;
    while (i < s.size() && s.at(i) == u'0') ++i;
    const QString rest = s.mid(i);
    return rest.isEmpty() ? QStringLiteral("0") : rest;
}

// ":" -> "..", then a "." that is not part of ".." -> ",".
QString externalListToCommas(const QString &numbers) {
    QString s = numbers;
    s.replace(QLatin1Char(':'), kDots);
    QString out;
    for (int i = 0; i < s.size(); ++i) {
        if (s.at(i) == u'.') {
            if (i + 1 < s.size() && s.at(i + 1) == u'.') {
                out += kDots;
                ++i;
            } else {
                out += u',';
            }
        } else {
            out += s.at(i);
        }
    }
    return out;
}

// Pieces and operators of a text cut at - / X x; empty pieces are dropped,
// X and x become "*".
struct Token {
    bool op;
    QString text;
};

QString mapNumberList(const QString &numbers, bool rows, const QHash<QString, QString> &map, bool ordered = false);

QList<Token> cutArithmetic(const QString &s) {
    QList<Token> out;
    QString piece;
    auto flush = [&] {
        const QString p = piece.trimmed();
        if (!p.isEmpty()) out.append({false, p});
        piece.clear();
    };
    for (QChar c : s) {
        if (isArithmeticChar(c)) {
            flush();
            out.append({true, (c == u'X' || c == u'x') ? QStringLiteral("*") : QString(c)});
        } else {
            piece += c;
        }
    }
    flush();
    return out;
}

bool quotedList(const QString &numbers, QString &inner) {
    const QString t = numbers.trimmed();
    if (t.size() >= 3 && t.startsWith(u'\'') && t.endsWith(u'\'')) {
        inner = t.mid(1, t.size() - 2);
        return true;
    }
    return false;
}

// A reference's row (column) list as the core cuts the reference, its
// numbers in their order ("1,2,3" and "1..3" alike; "2,1" is another list:
// its positions pair otherwise); empty when it has none or the list is not
// whole numbers and upward ranges (a sum "1+2", "3П5", "5..3" name no list
// here).
QString lineList(const QString &term, bool columns) {
    const ReferenceParts parts = CutReferenceParts(text::upper(term));
    if (!(columns ? parts.hasColumns : parts.hasRows)) return {};
    QList<notation::NumberSpan> spans;
    if (!notation::ReadNumberSpans(columns ? parts.columns : parts.rows, spans) || spans.isEmpty()) return {};
    return notation::WriteNumberSpans(spans);
}

// The canonical form of a list lineList gave.
QString canonicalList(const QString &list) {
    QList<notation::NumberSpan> spans;
    if (!notation::ReadNumberSpans(list, spans)) return list;
    return notation::WriteNumberSpans(notation::CanonicalSpans(spans));
}

// Count of the numbers of a canonical list.
qint64 spanCount(const QString &list) {
    QList<notation::NumberSpan> spans;
    if (!notation::ReadNumberSpans(list, spans)) return 0;
    return notation::SpanCount(spans);
}

bool isWholeNumber(const QString &s, int &value) {
    const QString t = s.trimmed();
    if (t.isEmpty() || !std::all_of(t.begin(), t.end(), isDigit)) return false;
    bool ok = false;
    value = t.toInt(&ok);
    return ok;
}

void collapseBlanks(QString &s) {
    while (s.contains(QLatin1String("  "))) s.replace(QLatin1String("  "), QLatin1String(" "));
}

} // namespace

// ---- Links.mdb maps ----------------------------------------------------------

void TControlMatchImporter::LoadLinksMaps() {
    if (MapsLoaded) return;
    LinksFormMap.clear();
    LinksTableMap.clear();
    const QString path = linksFile();
    if (!QFileInfo::exists(path)) {
        MapsLoaded = true;
        return;
    }
    auto conn = links::openLinks(path);
    {
        QSqlQuery q = db::exec(conn->db(), QStringLiteral("select nf, mf from forms"));
        while (q.next()) {
            const QString nf = q.value(0).toString().trimmed();
            const QString mf = q.value(1).toString().trimmed();
            if (!nf.isEmpty() && !mf.isEmpty()) LinksFormMap.setValue(nf, mf);
        }
    }
    {
        QSqlQuery q = db::exec(conn->db(), QStringLiteral("select msk, orv from tables"));
        while (q.next()) {
            const QString msk = q.value(0).toString().trimmed();
            const QString orv = q.value(1).toString().trimmed();
            if (!msk.isEmpty() && !orv.isEmpty()) LinksTableMap.setValue(msk, orv);
        }
    }
    MapsLoaded = true;
}

qint64 TControlMatchImporter::FormCodeToFormId(const QString &formCode, QString &formName) const {
    formName.clear();
    if ((!FormCodeMap || FormCodeMap->isEmpty()) && !(m_inRun && !m_runForms.isEmpty())) return 0;
    if (m_inRun) {
        const auto it = m_formIds.constFind(formCode);
        if (it != m_formIds.constEnd()) {
            formName = it->second;
            return it->first;
        }
    }
    // During a run the forms of Links.mdb as read at its start come first.
    QString name;
    if (m_inRun) {
        name = m_runForms.value(NormalizeFormCode(formCode));
        if (name.isEmpty()) name = m_runForms.value(formCode.trimmed());
    }
    if (name.isEmpty() && FormCodeMap) name = FormCodeMap->value(NormalizeFormCode(formCode));
    if (name.isEmpty() && FormCodeMap) name = FormCodeMap->value(formCode.trimmed());
    qint64 id = 0;
    if (!name.isEmpty()) {
        formName = name;
        if (Query.isEmpty() || Query == db::kMain) {
            id = GetFormIdByName(name);
        } else {
            const QVariant v = db::scalar(
                db::connection(Query), QStringLiteral("select id from forms where "
                                                      "upper(trim(formname))=upper(trim(?)) order by id"),
                {name});
            id = (v.isValid() && !v.isNull()) ? v.toLongLong() : -1;
        }
    }
    if (m_inRun) m_formIds.insert(formCode, {id, formName});
    return id;
}

QString TControlMatchImporter::MapTableName(const QString &tableCode, const QString &formCode) {
    if (tableCode.isEmpty()) return QString();
    LoadLinksMaps();
    const QString value = LinksTableMap.value(NormalizeFormCode(formCode) + tableCode);
    const int open = value.indexOf(u'(');
    if (open >= 0) return value.mid(open);
    return QLatin1Char('(') + tableCode + QLatin1Char(')');
}

// ---- one reference -----------------------------------------------------------

void TControlMatchImporter::ConvertZenkorReference(const TZenkorFormula &formula, const QString &formName,
                                                   const QString &tableOverride, qint64 formId,
                                                   QString &result) {
    QString rows = formula.Rows;
    QString cols = formula.Cols;
    QString inner;
    const bool colsVerbatim = quotedList(cols, inner);
    if (colsVerbatim) cols = inner;
    const bool rowsVerbatim = quotedList(rows, inner);
    if (rowsVerbatim) rows = inner;

    result.clear();
    QString knownName;
    const qint64 knownId = FormCodeToFormId(formula.FormCode, knownName);
    if (formId == 0 || formName.isEmpty()) formId = knownId;

    const QString tableSource = tableOverride.isEmpty() ? formula.Table : tableOverride;
    const QString bareTable = stripBrackets(MapTableName(tableSource, formula.FormCode));

    // A quoted list holds our own numbers: written as they are, in brackets.
    auto verbatim = [](const QString &key, const QString &t) {
        return key + QLatin1Char('[') + externalListToCommas(t.trimmed()) + QLatin1Char(']');
    };
    auto rowPart = [&](const QString &t) {
        return rowsVerbatim ? verbatim(kRowKey, t)
                            : ConvertNumberSpec(t, true, formula.FormCode, formId, bareTable, kRowKey, formula.Table);
    };
    auto columnPart = [&](const QString &t) {
        if (t.isEmpty()) return QString();
        return colsVerbatim ? verbatim(kColKey, t)
                            : ConvertNumberSpec(t, false, formula.FormCode, formId, bareTable, kColKey,
                                                formula.Table);
    };
    const QString colPart = columnPart(cols);

    // A form the program knows is written by its own name, as the program's
    // rules write it, so that the rule can be matched, filtered, exported
    // and described; an unknown one keeps the book's code.
    QString head = QStringLiteral("Ф") + formula.FormCode;
    if (knownId > 0) head = text::upper(knownName).startsWith(u'Ф') ? knownName : QStringLiteral("Ф") + knownName;
    if (!bareTable.isEmpty()) head += QStringLiteral("Т[") + bareTable + QLatin1Char(']');

    if (!rows.isEmpty() && !rowsVerbatim && hasArithmetic(rows)) {
        for (const Token &t : cutArithmetic(rows))
            result += t.op ? t.text : head + rowPart(t.text) + colPart;
        return;
    }
    // Column arithmetic: every term keeps the reference's rows.
    if (!cols.isEmpty() && !colsVerbatim && hasArithmetic(cols)) {
        const QString rowText = rows.isEmpty() ? QString() : rowPart(rows);
        for (const Token &t : cutArithmetic(cols))
            result += t.op ? t.text : head + rowText + columnPart(t.text);
        return;
    }
    result = head + (rows.isEmpty() ? QString() : rowPart(rows)) + colPart;
}

QString TControlMatchImporter::ConvertNumberSpec(const QString &numbersIn, bool isRows, const QString &formCode,
                                                 qint64 formId, const QString &bareTable, const QString &prefix,
                                                 const QString &tableCode) {
    const QString numbers = numbersIn.trimmed();
    if (numbers.isEmpty()) return QString();

    // ordered: a list of checks, whose numbers keep the book's order (its
    // positions pair with the other lists of the line).
    auto renumber = [&](const QString &x, bool &done, bool ordered = false) {
        done = formId >= 1 && !bareTable.isEmpty() && !x.isEmpty();
        if (!done) {
            // Not renumbered: the book's own numbers, ranges spelt out.
            static const QHash<QString, QString> none;
            return mapNumberList(x, isRows, none, ordered);
        }
        QString y = ordered ? convertNumbers(x, formCode, formId, tableCode, isRows, true)
                    : isRows ? ConvertZenkorRowNumbers(x, formCode, formId, tableCode)
                             : ConvertZenkorColNumbers(x, formCode, formId, tableCode);
        if (!ordered) y = ExpandRangeList(y);
        y.replace(QLatin1Char(':'), kDots);
        return y;
    };
    auto wrap = [&](QString x) {
        const int at = x.indexOf(kDots);
        if (at > 0 && at + 2 < x.size()) {
            const QString l = x.left(at), r = x.mid(at + 2);
            if (!l.trimmed().isEmpty() && !r.trimmed().isEmpty()) x = l.trimmed() + kDots + r.trimmed();
        }
        return prefix + QLatin1Char('[') + x + QLatin1Char(']');
    };
    // "П" in rows is a sum as "+" is (the rows from one number to the other
    // added), never a list that could become the cycle.
    auto isSumList = [&](const QString &s) { return s.contains(u'+') || (isRows && s.contains(u'П')); };
    auto sumForm = [&](const QString &s) {
        QString body;
        QString piece;
        auto flush = [&] {
            const QString p = piece.trimmed();
            piece.clear();
            if (p.isEmpty()) return;
            bool done = false;
            const QString mapped = renumber(p, done);
            // The numbers of a piece, each mapped on its own, stay a sum until
            // the lists are compacted: "," is written "+" and ".." "П", so that
            // neither the cycle nor the split of lists takes them for a list.
            QList<notation::NumberSpan> spans;
            if (!notation::ReadNumberSpans(mapped, spans) || spans.isEmpty()) {
                body += mapped;
                return;
            }
            QString sum = mapped;
            sum.replace(u',', u'+');
            sum.replace(kDots, QStringLiteral("П"));
            body += sum;
        };
        for (QChar c : s) {
            if (c == u'+') {
                flush();
                if (!body.isEmpty()) body += QStringLiteral("+");
            } else {
                piece += c;
            }
        }
        flush();
        // A separator with nothing after it adds nothing.
        while (!body.isEmpty() && body.endsWith(u'+')) body.chop(1);
        if (body.isEmpty()) return QString();
        return prefix + QLatin1Char('[') + body + QLatin1Char(']');
    };

    if (hasArithmetic(numbers)) {
        QString out;
        for (const Token &t : cutArithmetic(numbers)) {
            if (t.op) {
                out += t.text;
                continue;
            }
            if (isSumList(t.text)) {
                out += sumForm(t.text);
                continue;
            }
            bool done = false;
            const QString x = renumber(t.text, done);
            if (!x.contains(u',')) {
                out += wrap(x);
            } else {
                for (const QString &item : x.split(u','))
                    if (!item.trimmed().isEmpty()) out += wrap(item.trimmed());
            }
        }
        return out;
    }
    if (isSumList(numbers)) return sumForm(numbers);

    bool done = false;
    QString x = renumber(numbers, done, true);
    if (!done) x.replace(QLatin1Char(':'), kDots);
    if (x.contains(kDots)) return wrap(x);
    if (!x.contains(u',')) return prefix + QLatin1Char('[') + x + QLatin1Char(']');
    QStringList items;
    for (const QString &raw : x.split(u',')) {
        QString item = raw.trimmed();
        item.replace(QLatin1Char(':'), kDots);
        const int at = item.indexOf(kDots);
        if (at > 0 && at + 2 < item.size())
            item = item.left(at).trimmed() + kDots + item.mid(at + 2).trimmed();
        items << item;
    }
    return prefix + QLatin1Char('[') + items.join(u',') + QLatin1Char(']');
}

// ---- renumbering -------------------------------------------------------------

namespace {

qint64 wholeNumber(const QString &digits) {
    bool ok = false;
    const qint64 v = digits.size() <= 12 ? digits.toLongLong(&ok) : 0;
    return ok ? v : -1;
}

} // namespace

zenkor::LinksTable zenkor::readLinksTable(const QSqlDatabase &linksDb, const QString &key) {
    const QVariantList range = links::prefixParams(key);
    LinksTable t;
    const QVariant inv = db::scalar(
        linksDb,
        QStringLiteral("select inv from tables where ") + links::prefixCondition(QStringLiteral("msk")) +
            QStringLiteral(" order by rowid limit 1"),
        range);
    t.swapped = db::storedYes(inv);
    auto read = [&](const QString &sql, QHash<QString, QString> &map) {
        QSqlQuery q = db::exec(linksDb, sql, range);
        while (q.next()) {
            const QString code = q.value(0).toString().trimmed();
            const QString number = q.value(1).isNull() ? QString() : q.value(1).toString().trimmed();
            if (code.size() <= key.size() || !code.startsWith(key) || number.isEmpty()) continue;
            map.insert(withoutLeadingZeros(code.mid(key.size())), number);
        }
    };
    read(QStringLiteral("select mskrow, orvrow from \"rows\" where ") + links::prefixCondition(QStringLiteral("mskrow")) +
             QStringLiteral(" order by rowid"),
         t.rows);
    read(QStringLiteral("select mskcol, orvcol from cols where ") + links::prefixCondition(QStringLiteral("mskcol")) +
             QStringLiteral(" order by rowid"),
         t.columns);
    return t;
}

zenkor::LinksIndex::LinksIndex(const QString &path) : m_conn(links::openLinks(path)) {}

const zenkor::LinksTable &zenkor::LinksIndex::table(const QString &key) {
    auto it = m_tables.find(key);
    if (it == m_tables.end()) it = m_tables.insert(key, readLinksTable(m_conn->db(), key));
    return *it;
}

namespace {

QString mapNumberList(const QString &numbers, bool rows, const QHash<QString, QString> &map, bool ordered) {
    // Every book number is mapped on its own, ranges number by number (in
    // either direction); a number the map does not know stays as written.
    // Numbers only come back as the canonical list of the results, or, when
    // ordered, in the book's order (a list whose positions pair with another
    // list's keeps them); a part that is no number or range leaves the whole
    // text as written.
    QString list = externalListToCommas(numbers);
    if (rows) list.replace(u'П', kDots);
    QList<notation::NumberSpan> spans;
    auto add = [&](const QString &digits) {
        const auto it = map.constFind(withoutLeadingZeros(digits));
        const qint64 v = wholeNumber(it == map.constEnd() ? digits : *it);
        if (v < 0) return false;
        spans.append({int(v), int(v)});
        return true;
    };
    auto isNumber = [](const QString &t) { return !t.isEmpty() && std::all_of(t.begin(), t.end(), isDigit); };
    for (const QString &raw : list.split(u',')) {
        const QString part = raw.trimmed();
        if (part.isEmpty()) continue;
        const int at = int(part.indexOf(kDots));
        if (at < 0) {
            if (!isNumber(part) || !add(part)) return numbers;
            continue;
        }
        const QString from = part.left(at).trimmed(), to = part.mid(at + 2).trimmed();
        if (!isNumber(from) || !isNumber(to)) return numbers;
        const qint64 first = wholeNumber(from), last = wholeNumber(to);
        if (first < 0 || last < 0 || std::llabs(last - first) > 2000) return numbers;
        for (qint64 n = first;; n += last >= first ? 1 : -1) {
            if (!add(QString::number(n))) return numbers;
            if (n == last) break;
        }
    }
    if (spans.isEmpty()) return numbers;
    return notation::WriteNumberSpans(ordered ? spans : notation::CanonicalSpans(spans));
}


} // namespace

QString TControlMatchImporter::convertNumbers(const QString &numbers, const QString &formCode, qint64 formId,
                                              const QString &tableCode, bool rows, bool ordered) {
    static const QHash<QString, QString> none;
    if (formId == 0 || tableCode.isEmpty()) return mapNumberList(numbers, rows, none, ordered);
    if (formCode.trimmed().isEmpty()) return numbers;

    const QString key = NormalizeFormCode(formCode) + stripBrackets(tableCode);
    zenkor::LinksTable own;
    const zenkor::LinksTable *table = nullptr;
    if (m_links) {
        table = &m_links->table(key);
    } else if (m_inRun) {
        return numbers;   // no Links.mdb for this run
    } else {
        const QString path = linksFile();
        if (!QFileInfo::exists(path)) return numbers;
        own = zenkor::readLinksTable(links::openLinks(path)->db(), key);
        table = &own;
    }
    const QHash<QString, QString> &map = rows != table->swapped ? table->rows : table->columns;

    return mapNumberList(numbers, rows, map, ordered);
}

QString TControlMatchImporter::ConvertZenkorRowNumbers(const QString &numbers, const QString &formCode, qint64 formId,
                                                       const QString &tableCode) {
    return convertNumbers(numbers, formCode, formId, tableCode, true);
}

QString TControlMatchImporter::ConvertZenkorColNumbers(const QString &numbers, const QString &formCode, qint64 formId,
                                                       const QString &tableCode) {
    return convertNumbers(numbers, formCode, formId, tableCode, false);
}

QString TControlMatchImporter::ExpandRangeList(const QString &list) {
    if (list.isEmpty()) return list;
    // Items that are no whole number or upward range are dropped here.
    QList<notation::NumberSpan> spans;
    for (const QString &raw : list.split(u',')) {
        QList<notation::NumberSpan> item;
        if (notation::ReadNumberSpans(raw, item)) spans += item;
    }
    if (spans.isEmpty()) return list;
    return notation::WriteNumberSpans(notation::CanonicalSpans(spans));
}


// ---- sides and references ------------------------------------------------------

QStringList TControlMatchImporter::SplitSideIntoReferences(const QString &side) {
    const QString s = side.trimmed();
    const int n = int(s.size());
    QStringList out;
    auto lastIsTerm = [&] {
        if (out.isEmpty()) return false;
        const QString &l = out.last();
        return l == QStringLiteral(")") || !(l.size() == 1 && (isOperatorChar(l[0]) || l[0] == u'*' || l[0] == u'('));
    };
    // Whether the operator at i ends the reference before it: a reference (at
    // least three commas ahead), a bracket, a quoted factor or a sign follows.
    auto endsReference = [&](int i) {
        if (s.at(i) == u'*') return true;
        int j = i + 1;
        while (j < n && s.at(j) == u' ') ++j;
        // A bracket, a quoted factor or a sign of the next factor ("a - -b").
        if (j < n && (s.at(j) == u'(' || s.at(j) == u'\'' || s.at(j) == u'-' || s.at(j) == u'+')) return true;
        if (j >= n || !isDigit(s.at(j))) return false;
        int ahead = 0;
        bool q = false;
        for (int k = j; k < n; ++k) {
            const QChar ch = s.at(k);
            if (ch == u'\'') {
                q = !q;
                continue;
            }
            if (q) continue;
            if (ch == u',') ++ahead;
            else if (isOperatorChar(ch) || ch == u'*' || ch == u'(' || ch == u')') break;
        }
        // Form, table and rows before the next operator: another reference
        // (its rows may hold arithmetic of their own). Anything shorter
        // belongs to this reference's columns ("4-6", "4/2", "4+5").
        return ahead >= 2;
    };
    int i = 0;
    while (i < n) {
        const QChar c = s.at(i);
        if (c == u' ') {
            ++i;
            continue;
        }
        const bool sign = c == u'+' || c == u'-' || c == u'*' || c == u'/';
        const bool product = (c == u'X' || c == u'x') && lastIsTerm();
        if (c == u'(' || c == u')' || sign || product) {
            out << QString(c);
            ++i;
            continue;
        }
        // One term: a reference of four comma-separated parts (a "-" or "/"
        // inside its row or column part stays in it) or a constant.
        QString token;
        bool quoted = false;
        int commas = 0;
        for (; i < n; ++i) {
            const QChar ch = s.at(i);
            if (ch == u'\'') {
                quoted = !quoted;
                token += ch;
                if (!quoted && commas == 0) {
                    ++i;
                    break;   // a quoted constant ends with its apostrophe
                }
                continue;
            }
            if (quoted) {
                token += ch;
                continue;
            }
            if (ch == u'(' || ch == u')') break;
            if (ch == u',') ++commas;
            if (isOperatorChar(ch) || ch == u'*') {
                if (commas < 2) break;   // a constant ("0,5") ends at an operator
                if (commas >= 3 && endsReference(i)) break;
            }
            token += ch;
        }
        const QString t = token.trimmed();
        if (!t.isEmpty()) out << t;
        else if (token.isEmpty() && i < n && s.at(i) == c) out << QString(s.at(i++));   // a sign no term precedes
    }
    return out;
}

bool TControlMatchImporter::SplitReference(const QString &reference, TZenkorFormula &out) {
    out = TZenkorFormula();
    out.SourceText = reference;
    const QString t = reference.trimmed();
    const int c1 = t.indexOf(u',');
    const int c2 = c1 < 0 ? -1 : t.indexOf(u',', c1 + 1);
    const int c3 = c2 < 0 ? -1 : t.indexOf(u',', c2 + 1);
    if (c3 < 0) return false;
    out.FormCode = t.left(c1).trimmed();
    out.Table = t.mid(c1 + 1, c2 - c1 - 1).trimmed();
    out.Rows = t.mid(c2 + 1, c3 - c2 - 1).trimmed();
    out.Cols = t.mid(c3 + 1).trimmed();
    return true;
}

int TControlMatchImporter::ClassifyControlType(const QList<TZenkorFormula> &references) {
    bool found = false, sameForm = true, sameTable = true;
    QString form, table;
    for (const TZenkorFormula &r : references) {
        if (r.FormCode.isEmpty() || r.Table.isEmpty()) continue;
        if (!found) {
            found = true;
            form = r.FormCode;
            table = r.Table;
            continue;
        }
        if (r.FormCode != form) sameForm = false;
        if (r.Table != table) sameTable = false;
    }
    if (!found) return 2;
    if (sameForm && sameTable) return 0;
    if (sameForm) return 1;
    return 2;
}

QStringList TControlMatchImporter::ConvertAllReferences(const QList<TZenkorFormula> &references, qint64 formId,
                                                        const QString &formName, const QString &tableOverride) {
    QStringList out;
    for (const TZenkorFormula &r : references) {
        QString converted;
        ConvertZenkorReference(r, formName, tableOverride, formId, converted);
        out << converted;
    }
    return out;
}

// ---- common cycle --------------------------------------------------------------

namespace {

// Removes every keyword list (keyword found ignoring letter case): "[" up to
// the first "]" after it, or an unbracketed run of digits, "." and ","; a
// group without "]" ends the removal.
QString removeGroups(QString s, const QString &keyword) {
    int from = 0;
    while (true) {
        const int p = text::upper(s).indexOf(keyword, from);
        if (p < 0) break;
        int end = p + int(keyword.size());
        if (end < s.size() && s.at(end) == u'[') {
            const int close = s.indexOf(u']', end);
            if (close < 0) break;
            end = close + 1;
        } else if (end < s.size() && isDigit(s.at(end))) {
            while (end < s.size() && (isDigit(s.at(end)) || s.at(end) == u'.' || s.at(end) == u',')) ++end;
        } else {
            from = end;
            continue;
        }
        s.remove(p, end - p);
        from = p;
    }
    return s;
}

} // namespace

bool TControlMatchImporter::ExtractCommonCycle(const QStringList &references, QString &cycleText,
                                               QString &cycleKind, QStringList &rewritten) {
    cycleText.clear();
    cycleKind.clear();
    rewritten.clear();

    // A list becomes the cycle only when every reference of the line carries
    // it: a reference with rows (columns) of its own beside a row (column)
    // cycle is a rule the checker refuses and the run could not read. Lists
    // that stay in their references are split position by position later.
    bool colsAgree = true, rowsAgree = true;
    QString commonCols, commonRows;
    qint64 colCount = 0, rowCount = 0;
    auto agree = [](const QString &list, QString &common, qint64 &count, bool &agreeing) {
        if (list.isEmpty()) {
            agreeing = false;
        } else if (common.isEmpty()) {
            common = list;
            count = spanCount(common);
        } else if (common != list) {
            agreeing = false;
        }
    };
    for (const QString &item : references)
        for (const QString &term : SplitFormulaTerms(item)) {
            if (IsOperatorItem(term)) continue;
            agree(lineList(term, false), commonRows, rowCount, rowsAgree);
            agree(lineList(term, true), commonCols, colCount, colsAgree);
        }

    bool columns;
    if (colsAgree && colCount >= 2 && colCount >= rowCount) columns = true;
    else if (rowsAgree && rowCount >= 2 && rowCount > colCount) columns = false;
    else return false;

    const QString keyword = columns ? kColKey : kRowKey;
    // Every reference names the same numbers at each position: the order of
    // the checks does not matter.
    const QString common = canonicalList(columns ? commonCols : commonRows);
    cycleKind = keyword;
    cycleText = keyword + QLatin1Char('[') + common + QLatin1Char(']');

    for (const QString &item : references) {
        QString out;
        for (const QString &term : SplitFormulaTerms(item)) {
            if (IsOperatorItem(term)) {
                if (!out.isEmpty()) out += term;
                continue;
            }
            // Every term carries the common list: it leaves them all.
            const QString stripped = removeGroups(term, keyword).trimmed();
            if (!stripped.isEmpty()) out += stripped;
        }
        collapseBlanks(out);
        out = out.trimmed();
        out.replace(QStringLiteral("] "), QStringLiteral("]"));
        out.replace(QStringLiteral("] ГР"), QStringLiteral("]ГР"));
        out.replace(QStringLiteral("] СТР"), QStringLiteral("]СТР"));
        rewritten << out;
    }
    return true;
}

// ---- tidying a side ------------------------------------------------------------

QString TControlMatchImporter::StripFormTablePrefixes(const QString &side, int controlType) {
    if (controlType == 2 || side.trimmed().isEmpty()) return side;
    static const QString stops = QStringLiteral(" Т*+-/<=>");
    QString s = side;
    auto dropForm = [&] {
        const int p = s.indexOf(u'Ф');
        int end = p + 1;
        while (end < s.size() && !stops.contains(s.at(end))) ++end;
        s.remove(p, end - p);
        s = s.trimmed();
    };
    if (controlType == 0) {
        while (s.contains(u'Ф') || s.contains(QStringLiteral("Т[")) || s.contains(QStringLiteral("Т("))) {
            if (s.contains(u'Ф')) dropForm();
            int t = s.indexOf(QStringLiteral("Т["));
            if (t < 0) t = s.indexOf(QStringLiteral("Т("));
            if (t >= 0) {
                const int close = notation::MatchingBracket(s, t + 1, true);
                s.remove(t, (close < 0 ? s.size() : close + 1) - t);
                s = s.trimmed();
            }
        }
    } else {
        while (s.contains(u'Ф')) dropForm();
    }
    collapseBlanks(s);
    return s.trimmed();
}

QString TControlMatchImporter::DropRepeatedColumnRef(const QString &side) {
    if (side.trimmed().isEmpty()) return side;
    QString s = side.trimmed();
    const QString open = QStringLiteral("ГР[");
    int from = 0;
    while (true) {
        const int p = s.indexOf(open, from);
        if (p < 0) break;
        const int close = notation::MatchingBracket(s, p + 2, false);
        if (close < 0) break;
        const QString group = s.mid(p, close - p + 1);
        while (QStringView(s).mid(close + 1).startsWith(group)) s.remove(close + 1, group.size());
        from = close + 1;
    }
    return s;
}

QString TControlMatchImporter::TableBracketsToParens(const QString &side) {
    QString s = side;
    int from = 0;
    while (true) {
        const int p = text::upper(s).indexOf(QStringLiteral("Т["), from);
        if (p < 0) break;
        const int close = notation::MatchingBracket(s, p + 1, false);
        if (close >= 0) {
            s[p + 1] = u'(';
            s[close] = u')';
        }
        from = p + 2;
    }
    return s;
}

QString TControlMatchImporter::UnbracketSingleNumbers(const QString &side) {
    if (side.size() < 4) return side;
    QString s = side;
    // Groups inside a list that keeps its brackets are left as they are.
    QList<qsizetype> brackets;
    qsizetype next = 0;
    for (const notation::Group &g : notation::FindGroups(text::upper(s), true)) {
        if (g.at < next || g.close < 0) continue;
        const QStringView inner = QStringView(s).mid(g.open + 1, g.close - g.open - 1);
        if (!inner.contains(u',') && !inner.contains(u'.')) brackets << g.close << g.open;
        else next = g.close + 1;
    }
    std::sort(brackets.begin(), brackets.end(), std::greater<>());
    for (qsizetype at : brackets) s.remove(at, 1);
    return s;
}

// ---- list compaction -----------------------------------------------------------

QString TControlMatchImporter::CompactRowColLists(const QString &side) {
    // 1. list notation inside every row and column group; a group inside
    // another's list is part of that list
    QString s = side;
    QList<notation::Group> groups;
    qsizetype next = 0;
    for (const notation::Group &g : notation::FindGroups(text::upper(s), false)) {
        if (g.at < next || g.close < 0) continue;
        groups.append(g);
        next = g.close + 1;
    }
    for (auto g = groups.crbegin(); g != groups.crend(); ++g) {
        const qsizetype start = g->open + 1;
        QString list = s.mid(start, g->close - start);
        for (int i = int(list.size()) - 1; i >= 0; --i) {
            if (list.at(i) == u'П') list.replace(i, 1, kDots);
            else if (list.at(i) == u'+') list[i] = u',';
        }
        s.replace(start, g->close - start, list);
    }
    if (!s.contains(u'+')) return s;

    // 2. sums of references that differ only in one column number: only
    // plain references added to the side ("+" before them, or the first
    // term, and "+", "-" or the end after them) are taken together, each
    // number once, so the sum keeps its meaning.
    const QStringList items = SplitFormulaTerms(s);
    int operands = 0;
    for (const QString &item : items)
        if (!IsOperatorItem(item)) ++operands;
    if (operands < 2) return s;

    struct Parsed {
        bool groupable = false;
        QString prefix;
        int number = 0;
    };
    auto parse = [&](int i) {
        Parsed p;
        const QString &term = items.at(i);
        const QString before = i == 0 ? QStringLiteral("+") : items.at(i - 1).trimmed();
        const QString after = i + 1 < items.size() ? items.at(i + 1).trimmed() : QStringLiteral("+");
        if (IsOperatorItem(term) || before != QStringLiteral("+") || (after != u'+' && after != u'-')) return p;
        QString plain = text::upper(term);
        plain.remove(QStringLiteral("Т("));   // a table written Т(n) is no bracket
        if (plain.contains(u'(') || term.startsWith(u'-') || term.startsWith(u'+')) return p;
        const auto group = notation::FirstGroup(text::upper(term), notation::Line::Columns, false);
        if (!group || group->close < 0) return p;
        const qsizetype g = group->at, close = group->close;
        const QString list = term.mid(group->open + 1, close - group->open - 1);
        if (list.contains(kDots) || !isWholeNumber(list, p.number) || !term.mid(close + 1).trimmed().isEmpty())
            return p;
        p.groupable = true;
        p.prefix = term.left(g).trimmed();
        return p;
    };

    QStringList out;          // terms and operators, trimmed
    QList<bool> taken(items.size(), false);
    for (int i = 0; i < items.size(); ++i) {
        if (taken[i]) continue;
        const QString item = items.at(i).trimmed();
        const Parsed head = parse(i);
        if (!head.groupable) {
            out << item;
            continue;
        }
        QList<notation::NumberSpan> numbers{{head.number, head.number}};
        for (int j = i + 1; j < items.size(); ++j) {
            if (taken[j]) continue;
            const Parsed other = parse(j);
            if (!other.groupable || other.prefix != head.prefix) continue;
            if (std::any_of(numbers.begin(), numbers.end(), [&](const auto &n) { return n.first == other.number; }))
                continue;   // a repeated term stays a term of its own
            numbers.append({other.number, other.number});
            taken[j] = true;
            taken[j - 1] = true;   // its "+"
        }
        if (numbers.size() == 1) {
            out << item;
            continue;
        }
        out << head.prefix + QStringLiteral("ГР[") + notation::WriteNumberSpans(notation::CanonicalSpans(numbers)) +
                   QLatin1Char(']');
    }
    return out.join(QString());
}
