#include "controls/ZenkorTable.h"
#include "platform/Errors.h"

#include "controls/ZenkorImporter.h"
#include "controls/ZenkorLinks.h"
#include "engine/FormulaParser.h"
#include "engine/ProgressSink.h"
#include "engine/Schema.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <algorithm>

namespace zenkor {

namespace {

bool isSign(const QString &item) {
    return item.size() == 1 && QStringLiteral("+-*/Xx").contains(item.at(0));
}

// A constant of a side: a number (a decimal comma read as a point) or the
// inner text of an apostrophe-quoted item; false for anything else.
bool constantTerm(const QString &item, QString &out) {
    const QString t = item.trimmed();
    if (t.size() >= 3 && t.startsWith(u'\'') && t.endsWith(u'\'')) {
        out = t.mid(1, t.size() - 2).trimmed();
        return !out.isEmpty();
    }
    QString number = t;
    number.replace(u',', u'.');
    bool ok = false;
    number.toDouble(&ok);
    if (!ok || number.contains(u'e', Qt::CaseInsensitive) || number.startsWith(u'+') || number.startsWith(u'-'))
        return false;
    out = number;
    return true;
}

} // namespace

QString BuildSide(const QStringList &items, const QList<int> &refIndex, const QStringList &converted, bool &lost) {
    enum Kind { Term, Op, Open, Close };
    struct Tok {
        Kind kind;
        QString text;
        bool compound = false;
    };
    lost = true;
    QList<Tok> toks;
    for (int i = 0; i < items.size(); ++i) {
        const QString &item = items.at(i);
        if (refIndex.value(i, -1) >= 0) {
            const QString text = converted.value(refIndex.at(i)).trimmed();
            if (text.isEmpty()) return {};
            toks.append({Term, text, SplitFormulaTerms(text).size() > 1});
        } else if (item == QStringLiteral("(")) {
            toks.append({Open, item});
        } else if (item == QStringLiteral(")")) {
            toks.append({Close, item});
        } else if (isSign(item)) {
            toks.append({Op, item == QStringLiteral("X") || item == QStringLiteral("x") ? QStringLiteral("*") : item});
        } else {
            QString constant;
            if (!constantTerm(item, constant)) return {};
            toks.append({Term, constant});
        }
    }
    // An expression: terms joined by operators, a sign only at the start or
    // after "(", brackets balanced.
    int depth = 0;
    bool expectTerm = true;
    for (int i = 0; i < toks.size(); ++i) {
        const Tok &t = toks.at(i);
        switch (t.kind) {
        case Term:
            if (!expectTerm) return {};
            expectTerm = false;
            break;
        case Open:
            if (!expectTerm) return {};
            ++depth;
            break;
        case Close:
            if (expectTerm || --depth < 0) return {};
            break;
        case Op:
            if (expectTerm) {
                const bool sign = (t.text == QStringLiteral("-") || t.text == QStringLiteral("+")) &&
                                  (i == 0 || toks.at(i - 1).kind == Open);
                if (!sign) return {};
            }
            expectTerm = true;
            break;
        }
    }
    if (toks.isEmpty() || expectTerm || depth != 0) return {};

    auto matching = [&](int open) {
        int d = 0;
        for (int i = open; i < toks.size(); ++i) {
            if (toks.at(i).kind == Open) ++d;
            else if (toks.at(i).kind == Close && --d == 0) return i;
        }
        return -1;
    };
    while (toks.size() > 2 && toks.first().kind == Open && matching(0) == toks.size() - 1) {
        toks.removeFirst();
        toks.removeLast();
    }
    QString out;
    for (int i = 0; i < toks.size(); ++i) {
        const Tok &t = toks.at(i);
        if (t.kind == Open && i + 2 < toks.size() && toks.at(i + 1).kind == Term && toks.at(i + 2).kind == Close) {
            const Tok &inner = toks.at(i + 1);
            out += inner.compound ? QStringLiteral("(") + inner.text + QStringLiteral(")") : inner.text;
            i += 2;
            continue;
        }
        if (t.kind == Term && t.compound && toks.size() > 1)
            out += QStringLiteral("(") + t.text + QStringLiteral(")");
        else
            out += t.text;
    }
    lost = false;
    return out;
}

bool SideListsReadable(const QString &side) {
    QString flat = side;
    flat.replace(u'(', u' ');
    flat.replace(u')', u' ');
    for (const QString &term : SplitFormulaTerms(flat)) {
        if (IsOperatorItem(term)) continue;
        const ReferenceParts parts = CutReferenceParts(text::upper(term));
        QList<notation::NumberSpan> spans;
        if (parts.hasRows && (!notation::ReadNumberSpans(parts.rows, spans) || spans.isEmpty())) return false;
        if (parts.hasColumns && (!notation::ReadNumberSpans(parts.columns, spans) || spans.isEmpty())) return false;
    }
    return true;
}

QString BookEncodingProblem(const QByteArray &bytes, const QString &fileName) {
    if (!cp1251::looksLikeUtf8(bytes)) return {};
    return QStringLiteral("Файл «") + fileName +
           QStringLiteral("» сохранён не в кодировке Windows-1251 (похоже, в UTF-8). Сохраните книгу контролей в "
                          "кодировке Windows-1251 и повторите импорт.");
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
    QString before;    // the side up to and including the list's "["
    QString after;     // from the list's "]" to the end
    QStringList items;
};

SplitList findSplitList(const QString &side) {
    SplitList r;
    const QList<notation::Group> groups = notation::FindGroups(text::upper(side), true);
    for (notation::Line line : {notation::Line::Columns, notation::Line::Rows}) {
        const auto first = std::find_if(groups.begin(), groups.end(), [&](const notation::Group &g) { return g.line == line; });
        if (first == groups.end() || first->close < 0) continue;
        const qsizetype at = first->at, open = first->open, close = first->close;
        const QString list = side.mid(open + 1, close - open - 1);
        if (!(list.contains(u',') || list.contains(u'.')) || list.contains(QStringLiteral(".."))) continue;
        r.ok = true;
        r.keyword = side.mid(at, open - at + 1);
        r.before = side.left(open + 1);
        r.after = side.mid(close);
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

// The side with its list replaced by one item, in place: the item stays in
// the reference the list belonged to.
QString withItem(const SplitList &l, const QString &item) { return l.before + item + l.after; }

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

// Links.mdb and the form ids of the book's codes are read once for a run
// and let go at its end.
struct ImportRunScope {
    TControlMatchImporter &imp;
    explicit ImportRunScope(TControlMatchImporter &i) : imp(i) {
        imp.m_inRun = true;
        imp.m_formIds.clear();
        const QString path = imp.linksFile();
        if (!QFileInfo::exists(path)) return;
        try {
            imp.m_links = std::make_unique<zenkor::LinksIndex>(path);
        } catch (const db::Error &) {
            imp.m_inRun = false;
            throw db::Error(QStringLiteral("Не удалось открыть базу сопоставления кодов «") + path +
                            QStringLiteral("». Импорт не выполнен, прежние импортированные контроли сохранены."));
        }
    }
    ~ImportRunScope() {
        imp.m_links.reset();
        imp.m_formIds.clear();
        imp.m_inRun = false;
    }
};

int TControlMatchImporter::ImportControls(const QString &fileName, ProgressSink *progress) {
    if (Query.isEmpty() || fileName.isEmpty() || !QFileInfo(fileName).isFile()) return 0;

    // The file is read and checked before anything is deleted, and the whole
    // run is one transaction: a run that fails part-way keeps the rules of
    // the last import instead of half a book.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw db::Error(QStringLiteral("Не удалось прочитать файл «") + fileName + QStringLiteral("»: ") +
                        winutil::fileErrorText(file));
    const QString encoding = zenkor::BookEncodingProblem(file.readAll(), fileName);
    file.close();
    if (!encoding.isEmpty()) throw db::Error(encoding);
    QStringList lines;
    QString readError;
    if (!cp1251::readLines(fileName, lines, &readError))
        throw db::Error(QStringLiteral("Не удалось прочитать файл «") + fileName + QStringLiteral("»: ") + readError);

    const QString kept = QStringLiteral(" Прежние импортированные контроли сохранены.");
    try {
        EnsureControlsTable();
    } catch (const db::Error &) {
        throw db::Error(QStringLiteral("Не удалось создать таблицу импортированных контролей в основной базе данных."));
    }
    const QSqlDatabase d = db::connection(Query);
    int total = 0;
    for (const QString &line : lines)
        if (!line.trimmed().isEmpty()) ++total;
    ImportRunScope run(*this);
    int stored = 0;
    db::transaction(d, [&] {
        try {
            db::exec(d, QStringLiteral("delete from zenkor_controls"));
        } catch (const db::Error &) {
            throw db::Error(QStringLiteral("Не удалось удалить прежние импортированные контроли.") + kept);
        }
        if (total > 0) stored = importLines(lines, total, progress);
    });
    return stored;
}

int TControlMatchImporter::importLines(const QStringList &lines, int total, ProgressSink *progress) {
    const QSqlDatabase d = db::connection(Query);

    QStringList unmatchedForms;   // sorted, each code once
    QStringList notConverted;     // identifiers of lines whose meaning would not survive
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
        if (!notConverted.isEmpty()) {
            if (!unmatchedForms.isEmpty()) msg += QStringLiteral("\r\n");
            msg += QStringLiteral("Не преобразованы без искажения смысла (") + QString::number(notConverted.size()) +
                   QStringLiteral("): ") + notConverted.join(QStringLiteral(", "));
        }
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
                progress->checkCancelled();   // the run's transaction keeps the previous rules
            }
            ZenkorControlLine parsed;
            if (!ParseControlLine(line, parsed)) continue;

            QStringList sideItems[2];
            QList<int> sideRefIndex[2];   // per item: index into all references, -1 for no reference
            QList<TZenkorFormula> all;
            for (int s = 0; s < 2; ++s) {
                sideItems[s] = SplitSideIntoReferences(s == 0 ? parsed.left : parsed.right);
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
            // A blank inside a form or table code means the line was not cut
            // where the book meant (a factor written before a reference
            // without its sign, for one).
            if (std::any_of(all.begin(), all.end(), [](const TZenkorFormula &f) {
                    return f.FormCode.contains(u' ') || f.Table.contains(u' ');
                })) {
                ++skipped;
                notConverted << parsed.lineId;
                continue;
            }

            QList<TControlData> records;
            QString formCode, tableNum, projectTable;
            qint64 projectFormId = 0;
            int controlType = 2;
            try {
                controlType = ClassifyControlType(all);
                QString formName;
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
                                d, QStringLiteral("select tablen from tables where form=? and (tablen=? or tablen=?)"),
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
                        // Codes equal but for case stand next to each other in the name order.
                        auto pos = std::lower_bound(unmatchedForms.begin(), unmatchedForms.end(), code, text::nameLess);
                        const bool listed = (pos != unmatchedForms.end() && text::sameNoCase(*pos, code)) ||
                                            (pos != unmatchedForms.begin() && text::sameNoCase(*std::prev(pos), code));
                        if (!listed) unmatchedForms.insert(pos, code);
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
                bool lost = false;
                for (int s = 0; s < 2 && !lost; ++s) expr[s] = zenkor::BuildSide(sideItems[s], sideRefIndex[s], rewritten, lost);

                if (!lost) {
                    records = SplitCycle(expr[0], expr[1], cycleText);
                    if (records.isEmpty()) records << TControlData{expr[0], expr[1], cycleText};
                    for (TControlData &r : records) {
                        for (QString *side : {&r.lft, &r.rght}) {
                            QString t = CompactRowColLists(*side);
                            t = StripFormTablePrefixes(t, controlType);
                            t = DropRepeatedColumnRef(t);
                            t = TableBracketsToParens(t);
                            *side = UnbracketSingleNumbers(t);
                            if (side->isEmpty() || !zenkor::SideListsReadable(*side)) lost = true;
                        }
                    }
                }
                if (lost) {
                    // A rule that would say something else than the book is not stored.
                    ++skipped;
                    notConverted << parsed.lineId;
                    continue;
                }
            } catch (const db::Error &) {
                throw db::Error(QStringLiteral("Импорт контролей прерван на строке ") + QString::number(lineNo) +
                                QStringLiteral(" («") + parsed.lineId +
                                QStringLiteral("»): не удалось прочитать базу сопоставления кодов или справочник "
                                               "форм. Прежние импортированные контроли сохранены."));
            }

            for (const TControlData &r : records) {
                try {
                    db::exec(d,
                             QStringLiteral("insert into zenkor_controls (original_line, zenkor_id, book_number, "
                                            "condition_number, error_type, form_code, table_num, lft, rght, reltion, "
                                            "cycl, commnt, project_formid, project_tble, control_type) "
                                            "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, '', ?, ?, ?)"),
                             {line, parsed.lineId, parsed.bookNumber, parsed.conditionNumber, parsed.errorType,
                              formCode, tableNum, r.lft, r.rght, parsed.relation, r.cycl,
                              controlType == 2 ? qint64(0) : std::max<qint64>(0, projectFormId), projectTable,
                              controlType});
                } catch (const db::Error &) {
                    throw db::Error(QStringLiteral("Импорт контролей прерван на строке ") + QString::number(lineNo) +
                                    QStringLiteral(" («") + parsed.lineId +
                                    QStringLiteral("»): не удалось записать правило в базу данных. Прежние "
                                                   "импортированные контроли сохранены."));
                }
            }
            ++stored;
        }
    } catch (const Cancelled &) {
        throw;
    } catch (...) {
        closingMessage();
        throw;
    }
    closingMessage();
    return stored;
}
