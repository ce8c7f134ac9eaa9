#include "controls/ZenkorTable.h"

#include "controls/ZenkorImporter.h"
#include "core/ProgressSink.h"
#include "core/Schema.h"
#include "core/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <algorithm>

namespace zenkor {

QString UnwrapSide(const QString &side, bool leftSide) {
    QString s = side.trimmed();
    static const QStringList kLeftPatterns = {QStringLiteral(")+"), QStringLiteral(")-("), QStringLiteral(")*("),
                                              QStringLiteral(")/("), QStringLiteral("-("), QStringLiteral("+("),
                                              QStringLiteral("*("), QStringLiteral("/(")};
    static const QStringList kRightPatterns = {QStringLiteral(")+"), QStringLiteral(")-("), QStringLiteral(")*("),
                                               QStringLiteral(")/(")};
    const QStringList &patterns = leftSide ? kLeftPatterns : kRightPatterns;
    for (const QString &p : patterns) {
        if (s.contains(p)) {
            s.remove(u'(');
            s.remove(u')');
            return s;
        }
    }
    if (s.size() >= 2 && s.startsWith(u'(') && s.endsWith(u')')) {
        int depth = 1;
        for (int i = 1; i < s.size() - 1; ++i) {
            if (s.at(i) == u'(') ++depth;
            else if (s.at(i) == u')') --depth;
            if (depth == 0) return s;   // the first "(" closes before the end
        }
        return s.mid(1, s.size() - 2);
    }
    return s;
}

QString JoinSideTerms(const QStringList &terms, const QStringList &sourceItems, const QString &sideText) {
    QString out;
    for (int i = 0; i < terms.size(); ++i) {
        if (i > 0) {
            QChar op = u'+';
            const QString &prev = sourceItems.at(i - 1);
            const int at = prev.isEmpty() ? -1 : int(sideText.indexOf(prev));
            if (at >= 0) {
                int j = at + int(prev.size());
                while (j < sideText.size() && sideText.at(j) == u' ') ++j;
                if (j < sideText.size() && QStringLiteral("*+-/Xx").contains(sideText.at(j))) op = sideText.at(j);
                // The book's "X" is a product; the program's rules write "*".
                if (op == u'X' || op == u'x') op = u'*';
            }
            out += op;
        }
        out += terms.at(i);
    }
    return out;
}

} // namespace zenkor

namespace {

QString removeParens(QString s) {
    s.remove(u'(');
    s.remove(u')');
    return s;
}

// The first keyword list of a side that can be split item by item.
struct SplitList {
    bool ok = false;
    QString keyword;   // "ГР[" or "СТР[" as written in the side
    QString rest;
    QStringList items;
};

SplitList findSplitList(const QString &side) {
    SplitList r;
    const QString up = text::upper(side);
    for (const QString &kw : {QStringLiteral("ГР["), QStringLiteral("СТР[")}) {
        const int at = int(up.indexOf(kw));
        if (at < 0) continue;
        const int open = at + int(kw.size()) - 1;
        int depth = 0, close = -1;
        for (int i = open; i < up.size(); ++i) {
            if (up.at(i) == u'[') ++depth;
            else if (up.at(i) == u']' && --depth == 0) {
                close = i;
                break;
            }
        }
        if (close < 0) continue;
        const QString list = side.mid(open + 1, close - open - 1);
        if (!(list.contains(u',') || list.contains(u'.')) || list.contains(QStringLiteral(".."))) continue;
        r.ok = true;
        r.keyword = side.mid(at, kw.size());
        QString rest = side.left(at) + side.mid(close + 1);
        while (rest.contains(QStringLiteral("  "))) rest.replace(QStringLiteral("  "), QStringLiteral(" "));
        r.rest = rest.trimmed();
        QString remaining = list;
        while (!remaining.isEmpty()) {
            int cut = int(remaining.indexOf(u','));
            if (cut < 0) cut = int(remaining.indexOf(u'.'));
            const QString item = (cut < 0 ? remaining : remaining.left(cut)).trimmed();
            if (!item.isEmpty()) r.items << item;
            remaining = cut < 0 ? QString() : remaining.mid(cut + 1);
        }
        return r;
    }
    return r;
}

QString withItem(const SplitList &l, const QString &item) {
    const QString ref = l.keyword + item + u']';
    return l.rest.isEmpty() ? ref : l.rest + u' ' + ref;
}

} // namespace

void TControlMatchImporter::EnsureControlsTable() {
    if (Query.isEmpty()) return;
    const QSqlDatabase d = db::connection(Query);
    try {
        db::exec(d, QStringLiteral("select * from zenkor_controls where 1=0"));
    } catch (const db::Error &) {
        db::exec(d, schema::zenkorControlsStatement());
    }
}

QList<TControlData> TControlMatchImporter::SplitCycle(const QString &left, const QString &right,
                                                     const QString &cycle) {
    QList<TControlData> out;
    const SplitList l = findSplitList(left);
    const SplitList r = findSplitList(right);
    if (!l.ok && !r.ok) return out;
    QStringList leftItems = l.ok ? l.items : QStringList{QString()};
    if (l.ok && leftItems.size() > 1 &&
        std::all_of(leftItems.begin(), leftItems.end(), [&](const QString &s) { return s == leftItems.first(); }))
        leftItems = {leftItems.first()};
    const QStringList rightItems = r.ok ? r.items : QStringList{QString()};
    for (const QString &li : leftItems) {
        for (const QString &ri : rightItems) {
            TControlData d;
            d.lft = (l.ok ? withItem(l, li) : left).trimmed();
            d.rght = (r.ok ? withItem(r, ri) : right).trimmed();
            d.cycl = cycle;
            out << d;
        }
    }
    return out;
}

int TControlMatchImporter::ImportControls(const QString &fileName, ProgressSink *progress) {
    if (Query.isEmpty() || fileName.isEmpty() || !QFileInfo(fileName).isFile()) return 0;
    EnsureControlsTable();
    const QSqlDatabase d = db::connection(Query);

    // The file is read before anything is deleted, and the whole run is one
    // transaction: a run that fails part-way keeps the rules of the last
    // import instead of half a book.
    QStringList lines;
    QString readError;
    if (!cp1251::readLines(fileName, lines, &readError))
        throw db::Error(QStringLiteral("Ошибка чтения файла ") + fileName + QStringLiteral(": ") + readError);
    int total = 0;
    for (const QString &line : lines)
        if (!line.trimmed().isEmpty()) ++total;
    int stored = 0;
    db::transaction(d, [&] {
        db::exec(d, QStringLiteral("delete from zenkor_controls"));
        if (total > 0) stored = importLines(lines, total, progress);
    });
    return stored;
}

int TControlMatchImporter::importLines(const QStringList &lines, int total, ProgressSink *progress) {
    const QSqlDatabase d = db::connection(Query);

    QStringList unmatchedForms;   // sorted, each code once
    if (progress) {
        progress->setMax(total);
        progress->setPosition(0);
    }
    int lineNo = 0, stored = 0, skipped = 0;

    auto closingMessage = [&] {
        if (skipped <= 0) return;
        QString msg = QStringLiteral("Пропущено контролей: ") + QString::number(skipped) + QStringLiteral("\r\n");
        if (!unmatchedForms.isEmpty())
            msg += QStringLiteral("Формы без сопоставления (") + QString::number(unmatchedForms.size()) +
                   QStringLiteral("): ") + unmatchedForms.join(QStringLiteral(", "));
        showMessage(msg);
    };

    try {
        for (const QString &line : lines) {
            if (line.trimmed().isEmpty()) continue;
            ++lineNo;
            if (progress) {
                progress->setPosition(lineNo);
                progress->setDetailText(QStringLiteral("Импорт строки ") + QString::number(lineNo) +
                                        QStringLiteral(" из ") + QString::number(total));
            }
            ZenkorControlLine parsed;
            if (!ParseControlLine(line, parsed)) continue;

            const QString sides[2] = {zenkor::UnwrapSide(parsed.left, true), zenkor::UnwrapSide(parsed.right, false)};
            QStringList sideItems[2];
            QList<int> sideRefIndex[2];   // per item: index into all references, -1 for no reference
            QList<TZenkorFormula> all;
            for (int s = 0; s < 2; ++s) {
                sideItems[s] = SplitSideIntoReferences(sides[s]);
                for (const QString &item : sideItems[s]) {
                    TZenkorFormula f;
                    if (SplitReference(item, f)) {
                        sideRefIndex[s] << int(all.size());
                        all << f;
                    } else {
                        sideRefIndex[s] << -1;
                    }
                }
            }
            if (all.isEmpty()) continue;

            const int controlType = ClassifyControlType(all);
            QString formCode, tableNum, formName, projectTable;
            qint64 projectFormId = 0;
            const TZenkorFormula &first = all.first();
            if (controlType == 0 || controlType == 1) {
                formCode = first.FormCode;
                projectFormId = FormCodeToFormId(first.FormCode, formName);
                if (formName.isEmpty()) formName = first.FormCode;
                if (controlType == 0 && !first.Table.isEmpty()) {
                    tableNum = first.Table;
                    projectTable = MapTableName(first.Table, first.FormCode);
                    if (projectFormId > 0) {
                        // The table as the form spells it, with or without its parentheses.
                        const QString bare = removeParens(projectTable);
                        const QVariant found = db::scalar(
                            d,
                            QStringLiteral("select tablen from tables where form=? and (tablen=? or tablen=?)"),
                            {projectFormId, bare, QStringLiteral("(") + bare + QStringLiteral(")")});
                        if (found.isValid() && !found.isNull()) projectTable = found.toString();
                    }
                }
            }

            bool anyKnownForm = false;
            for (const TZenkorFormula &f : all) {
                QString unused;
                if (!f.FormCode.isEmpty() && FormCodeToFormId(f.FormCode, unused) > 0) {
                    anyKnownForm = true;
                    break;
                }
            }
            if (!anyKnownForm) {
                ++skipped;
                for (const TZenkorFormula &f : all) {
                    const QString code = removeParens(f.FormCode).trimmed();
                    if (code.isEmpty()) continue;
                    auto pos = std::lower_bound(unmatchedForms.begin(), unmatchedForms.end(), code,
                                                [](const QString &a, const QString &b) {
                                                    return a.compare(b, Qt::CaseInsensitive) < 0;
                                                });
                    if (pos == unmatchedForms.end() || pos->compare(code, Qt::CaseInsensitive) != 0)
                        unmatchedForms.insert(pos, code);
                }
                continue;
            }

            const QStringList converted = ConvertAllReferences(all, projectFormId, formName, projectTable);
            QString cycleText, cycleKind;
            QStringList rewritten;
            if (!ExtractCommonCycle(converted, cycleText, cycleKind, rewritten)) {
                rewritten = converted;
                cycleText.clear();
            }

            QString expr[2];
            for (int s = 0; s < 2; ++s) {
                QStringList terms, sources;
                for (int i = 0; i < sideItems[s].size(); ++i) {
                    const QString &item = sideItems[s].at(i);
                    const int ref = sideRefIndex[s].at(i);
                    QString term;
                    if (ref >= 0) {
                        term = rewritten.value(ref);
                    } else {
                        const QString t = item.trimmed();
                        if (t.size() >= 3 && t.startsWith(u'\'') && t.endsWith(u'\''))
                            term = t.mid(1, t.size() - 2);
                        else
                            continue;
                    }
                    if (terms.contains(term)) continue;
                    terms << term;
                    sources << item.trimmed();
                }
                // Operators are looked up in the side as it was unwrapped, the
                // text the items were cut from: "(a)-(b)" reads a-b there.
                expr[s] = zenkor::JoinSideTerms(terms, sources, sides[s]);
            }

            QList<TControlData> records = SplitCycle(expr[0], expr[1], cycleText);
            if (records.isEmpty()) records << TControlData{expr[0], expr[1], cycleText};

            for (TControlData &r : records) {
                for (QString *side : {&r.lft, &r.rght}) {
                    QString t = CompactRowColLists(*side);
                    t = StripFormTablePrefixes(t, controlType);
                    t = DropRepeatedColumnRef(t);
                    t = TableBracketsToParens(t);
                    *side = UnbracketSingleNumbers(t);
                }
                db::exec(d,
                         QStringLiteral("insert into zenkor_controls (original_line, zenkor_id, book_number, "
                                        "condition_number, error_type, form_code, table_num, lft, rght, reltion, "
                                        "cycl, commnt, project_formid, project_tble, control_type) "
                                        "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, '', ?, ?, ?)"),
                         {line, parsed.lineId, parsed.bookNumber, parsed.conditionNumber, parsed.errorType,
                          formCode, tableNum, r.lft, r.rght, parsed.relation, r.cycl,
                          controlType == 2 ? qint64(0) : std::max<qint64>(0, projectFormId), projectTable, controlType});
            }
            ++stored;
        }
    } catch (...) {
        closingMessage();
        throw;
    }
    closingMessage();
    return stored;
}
