#include "controls/ZenkorTable.h"
#include "platform/Errors.h"

#include "engine/ImportPolicy.h"

#include "controls/ZenkorImporter.h"
#include "controls/ZenkorLinks.h"
#include "controls/ZenkorProof.h"
#include "controls/ControlRules.h"
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
#include <functional>

namespace zenkor {

namespace {

bool isSign(const QString &item) {
    return item.size() == 1 && QStringLiteral("+-*/Xx").contains(item.at(0));
}

// A constant of a side: a number (a decimal comma read as a point) or the
// inner text of an apostrophe-quoted item; false for anything else.
bool constantTerm(const QString &item, QString &out) {
    const QString t = item.trimmed();
    QString number = t;
    if (t.size() >= 3 && t.startsWith(u'\'') && t.endsWith(u'\'')) number = t.mid(1, t.size() - 2).trimmed();
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
    enum Kind { Term, Op, Open, Close, Sign };
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
    // An expression: terms joined by operators, brackets balanced; a sign
    // may stand wherever a term is expected (the book reads "-a", "a*(-1)",
    // "a*-b" as a sign of the factor that follows).
    int depth = 0, signs = 0;
    bool expectTerm = true;
    for (Tok &t : toks) {
        // Nesting no book line needs is no expression (the walks below go
        // one level at a time).
        signs = t.kind == Op ? signs + 1 : 0;
        if (depth + signs > zenkor::kDeepestNesting) return {};
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
                if (t.text != QStringLiteral("-") && t.text != QStringLiteral("+")) return {};
                t.kind = Sign;
            }
            expectTerm = true;
            break;
        case Sign:
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
    // The last token of the factor that begins at i (a term, a bracketed
    // group, or a signed factor).
    std::function<int(int)> factorEnd = [&](int i) {
        if (toks.at(i).kind == Sign) return factorEnd(i + 1);
        return toks.at(i).kind == Open ? matching(i) : i;
    };
    // Brackets right inside brackets add nothing: "((x))" is "(x)".
    for (int i = 0; i + 1 < toks.size(); ++i) {
        if (toks.at(i).kind != Open || toks.at(i + 1).kind != Open) continue;
        const int close = matching(i);
        if (matching(i + 1) != close - 1) continue;
        toks.remove(close);
        toks.remove(i);
        i = std::max(-1, i - 2);
    }
    while (toks.size() > 2 && toks.first().kind == Open && matching(0) == toks.size() - 1) {
        toks.removeFirst();
        toks.removeLast();
    }
    // A sign is written as a subtraction from 0, which the rule checker and
    // the rule run read alike: at the start of the side or of a bracket
    // "0-" (the sign of the first factor is the sign of the product);
    // elsewhere the signed factor in brackets, "(0-" factor ")". A "+" sign
    // adds nothing.
    QList<int> closeAfter(toks.size(), 0);
    QString out;
    for (int i = 0; i < toks.size(); ++i) {
        const Tok &t = toks.at(i);
        if (t.kind == Sign) {
            if (t.text == QStringLiteral("-")) {
                if (i == 0 || toks.at(i - 1).kind == Open) {
                    out += QStringLiteral("0-");
                } else {
                    out += QStringLiteral("(0-");
                    ++closeAfter[factorEnd(i + 1)];
                }
            }
        } else if (t.kind == Open && i + 2 < toks.size() && toks.at(i + 1).kind == Term &&
                   toks.at(i + 2).kind == Close) {
            const Tok &inner = toks.at(i + 1);
            out += inner.compound ? QStringLiteral("(") + inner.text + QStringLiteral(")") : inner.text;
            out += QString(closeAfter[i + 2], u')');
            i += 2;
            continue;
        } else if (t.kind == Term && t.compound && toks.size() > 1) {
            out += QStringLiteral("(") + t.text + QStringLiteral(")");
        } else {
            out += t.text;
        }
        out += QString(closeAfter[i], u')');
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

QString BookCodePage(const QByteArray &bytes) {
    // "П" as each code page writes it.
    struct Page {
        const char *name;
        QByteArray letter;
        int count = 0;
    };
    Page pages[] = {{"", QByteArray("\xCF")},
                    {"KOI8-R", QByteArray("\xF0")},
                    {"DOS (cp866)", QByteArray("\x8F")},
                    {"UTF-8", QByteArray("\xD0\x9F")}};
    int unexplained = 0;
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    bool quoted = false;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes.at(i);
        if (c == '\n' || c == '\r') quoted = false;
        if (c == '\'') quoted = !quoted;
        if (quoted || !isDigit(c)) continue;
        // A digit: the bytes that are no ASCII up to the next digit, blanks aside.
        qsizetype j = i + 1;
        while (j < n && bytes.at(j) == ' ') ++j;
        const qsizetype from = j;
        while (j < n && (unsigned char)bytes.at(j) >= 0x80) ++j;
        const qsizetype to = j;
        if (to == from) continue;
        while (j < n && bytes.at(j) == ' ') ++j;
        if (j >= n || !isDigit(bytes.at(j))) continue;
        const QByteArray letter = bytes.mid(from, to - from);
        Page *page = std::find_if(std::begin(pages), std::end(pages), [&](const Page &p) { return p.letter == letter; });
        if (page == std::end(pages)) ++unexplained;
        else ++page->count;
        i = j - 1;
    }
    if (pages[0].count > 0) return {};
    const Page *found = nullptr;
    for (const Page &p : pages)
        if (p.count > 0) {
            if (found) return {};
            found = &p;
        }
    if (!found || found->count <= unexplained) return {};
    return QString::fromLatin1(found->name);
}

} // namespace zenkor

namespace {

QString removeParens(QString s) {
    s.remove(u'(');
    s.remove(u')');
    return s;
}

// A keyword list of a side that can be split item by item: where its text
// lies between the brackets, and its items.
struct SplitList {
    qsizetype from = 0, to = 0;   // the list text, without its brackets
    QStringList items;
};

// Every list of a side that can be split, from left to right; a group
// inside another's list is part of that list.
QList<SplitList> findSplitLists(const QString &side) {
    QList<SplitList> out;
    qsizetype next = 0;
    for (const notation::Group &group : notation::FindGroups(text::upper(side), true)) {
        if (group.close < 0 || group.at < next) continue;
        next = group.close + 1;
        const QString list = side.mid(group.open + 1, group.close - group.open - 1);
        if (!(list.contains(u',') || list.contains(u'.'))) continue;
        SplitList r;
        r.from = group.open + 1;
        r.to = group.close;
        if (list.contains(QStringLiteral(".."))) {
            // A list with ranges: one item per number.
            QList<notation::NumberSpan> spans;
            if (!notation::ReadNumberSpans(list, spans) || notation::SpanCount(spans) > 2000) continue;
            for (const notation::NumberSpan &span : spans)
                for (qint64 n = span.first; n <= span.second; ++n) r.items << QString::number(n);
        } else {
            QString remaining = list;
            while (!remaining.isEmpty()) {
                int cut = int(remaining.indexOf(u','));
                if (cut < 0) cut = int(remaining.indexOf(u'.'));
                const QString item = (cut < 0 ? remaining : remaining.left(cut)).trimmed();
                if (!item.isEmpty()) r.items << item;
                remaining = cut < 0 ? QString() : remaining.mid(cut + 1);
            }
        }
        if (!r.items.isEmpty()) out << r;
    }
    return out;
}

// The side with each of its lists replaced by its item at the position, in
// place: every item stays in the reference its list belonged to.
QString atPosition(QString side, const QList<SplitList> &lists, int position) {
    for (auto l = lists.crbegin(); l != lists.crend(); ++l) side.replace(l->from, l->to - l->from, l->items[position]);
    return side;
}

} // namespace

void TControlMatchImporter::EnsureControlsTable() {
    if (Query.isEmpty()) return;
    const QSqlDatabase d = db::connection(Query);
    try {
        db::exec(d, QStringLiteral("select * from zenkor_controls where 1=0"));
    } catch (const db::Error &) {
        // A table that is there but cannot be read (another program holds
        // the database) is no table to create: its error passes on.
        if (db::tableExists(d, QStringLiteral("zenkor_controls"))) throw;
        db::exec(d, schema::zenkorControlsStatement());
    }
}

QList<TControlData> TControlMatchImporter::SplitCycle(const QString &left, const QString &right,
                                                     const QString &cycle) {
    // Every list of the line is taken at the same position, as the book
    // means it: a list shared by several references of a side becomes one
    // rule per position in each of them, a reference without a list stays as
    // it is. Lists of different lengths have no such pairing and are never
    // multiplied out.
    QList<TControlData> out;
    const QList<SplitList> l = findSplitLists(left), r = findSplitLists(right);
    if (l.isEmpty() && r.isEmpty()) return out;
    qsizetype length = -1;
    for (const QList<SplitList> *side : {&l, &r})
        for (const SplitList &list : *side) {
            if (length < 0) length = list.items.size();
            else if (length != list.items.size()) return out;
        }
    // Lists on the left only whose items are all equal: one rule.
    if (r.isEmpty() && std::all_of(l.begin(), l.end(), [](const SplitList &list) {
            return std::all_of(list.items.begin(), list.items.end(),
                               [&](const QString &s) { return s == list.items.first(); });
        }))
        length = 1;
    for (int i = 0; i < length; ++i)
        out << TControlData{atPosition(left, l, i).trimmed(), atPosition(right, r, i).trimmed(), cycle};
    return out;
}

// A main database another program holds is reported after a short wait:
// the connection's waiting time is shortened while the run writes.
struct ShortBusyWait {
    QSqlDatabase d;
    QString old;
    explicit ShortBusyWait(const QSqlDatabase &db_) : d(db_) {
        try {
            old = db::scalar(d, QStringLiteral("pragma busy_timeout")).toString();
            db::exec(d, QStringLiteral("pragma busy_timeout = 1000"));
        } catch (const db::Error &) {
            old.clear();
        }
    }
    ~ShortBusyWait() {
        if (old.isEmpty()) return;
        try {
            db::exec(d, QStringLiteral("pragma busy_timeout = ") + QString::number(old.toInt()));
        } catch (const db::Error &) {
        }
    }
};

// Links.mdb is read for the whole run when it starts: its forms, and each
// table's rows and columns on first use over one connection. A run without
// it changes nothing.
struct ImportRunScope {
    TControlMatchImporter &imp;
    explicit ImportRunScope(TControlMatchImporter &i) : imp(i) {
        const QString path = imp.linksFile();
        const QString kept = QStringLiteral(" Импорт не выполнен, прежние импортированные контроли сохранены.");
        if (!QFileInfo::exists(path))
            throw db::Error(QStringLiteral("Не найдена база сопоставления кодов «") + path + QStringLiteral("».") + kept);
        imp.m_formIds.clear();
        imp.m_runForms.clear();
        try {
            imp.m_links = std::make_unique<zenkor::LinksIndex>(path);
            QSqlQuery q = db::exec(imp.m_links->connection(), QStringLiteral("select mf, nf from forms"));
            while (q.next()) {
                const QString mf = q.value(0).toString().trimmed();
                const QString nf = q.value(1).toString().trimmed();
                if (!mf.isEmpty() && !nf.isEmpty()) imp.m_runForms.setValue(mf, nf);
            }
            imp.MapsLoaded = false;
            imp.LoadLinksMaps();
        } catch (const db::Error &) {
            imp.m_links.reset();
            throw db::Error(QStringLiteral("Не удалось прочитать базу сопоставления кодов «") + path +
                            QStringLiteral("».") + kept);
        }
        imp.m_inRun = true;
    }
    ~ImportRunScope() {
        imp.m_links.reset();
        imp.m_formIds.clear();
        imp.m_runForms.clear();
        imp.m_inRun = false;
    }
};

int TControlMatchImporter::ImportControls(const QString &fileName, ProgressSink *progress) {
    LastListed.clear();
    LastSummary.clear();
    if (Query.isEmpty() || fileName.isEmpty() || !QFileInfo(fileName).isFile()) return 0;

    // The file is read and checked before anything is touched; the earlier
    // import is replaced in one transaction, and only by a book of which at
    // least one line is stored.
    const QString kept = QStringLiteral(" Прежние импортированные контроли сохранены.");
    QStringList lines;
    QString readError;
    if (!cp1251::readLines(fileName, lines, &readError))
        throw db::Error(QStringLiteral("Не удалось прочитать файл «") + fileName + QStringLiteral("»: ") + readError +
                        kept);
    // A book saved in another code page is refused whole: its "П" would
    // arrive as another letter, and the rest of it would replace the rules.
    // (Lines read as 1251 give their bytes back as they were.)
    const QString page = zenkor::BookCodePage(cp1251::encode(lines.join(u'\n')));
    if (!page.isEmpty())
        throw db::Error(QStringLiteral("Не удалось прочитать файл «") + fileName + QStringLiteral("»: ") +
                        cp1251::encodingMessage(page) + kept);

    const QSqlDatabase d = db::connection(Query);
    // A database another program holds: said at once, in plain words.
    ShortBusyWait wait(d);
    try {
        EnsureControlsTable();
    } catch (const db::Error &e) {
        throw db::Error(QStringLiteral("Импорт контролей не начат: основная база данных недоступна: ") + e.reason() +
                        kept);
    }
    int total = 0;
    for (const QString &line : lines)
        if (!line.trimmed().isEmpty()) ++total;
    // The import policy (engine/ImportPolicy): a book that gives not one rule
    // leaves the rules of the last import as they are, and says why.
    importpolicy::ImportCheck check(fileName, QStringLiteral("Ни одна строка книги не преобразована."),
                                    kept.trimmed());
    for (int i = 0; i < total; ++i) check.line();
    if (total == 0) {
        LastSummary = check.refusal();
        return 0;
    }
    QList<PendingRule> pending;
    int stored = 0;
    {
        ImportRunScope run(*this);
        stored = importLines(lines, total, progress, pending);
    }
    for (int i = 0; i < stored; ++i) check.accepted(0);
    if (check.acceptedLines() == 0) {
        LastSummary = check.refusal({LastSummary});
        return 0;
    }
    // A book most of whose lines cannot be read (another code page, a file
    // that is no control book) replaces the earlier import only on the
    // user's word.
    const qsizetype unreadable = std::count_if(LastListed.begin(), LastListed.end(), [](const ZenkorListedLine &l) {
        return l.reason == zenkor::kReasonUnreadable || l.reason == zenkor::kReasonBadNumber ||
               l.reason == zenkor::kReasonQuoted;
    });
    if (unreadable * 2 > total) {
        qint64 earlier = 0;
        try {
            earlier = db::scalar(d, QStringLiteral("select count(*) from zenkor_controls")).toLongLong();
        } catch (const db::Error &e) {
            throw db::Error(QStringLiteral("Импорт контролей не выполнен: основная база данных недоступна: ") +
                            e.reason() + kept);
        }
        if (earlier > 0 &&
            !confirmDefaultNo(QStringLiteral("Из %1 строк книги «%2» не прочитано %3. Заменить ими прежние "
                                             "импортированные контроли (%4)?")
                                  .arg(total)
                                  .arg(fileName)
                                  .arg(unreadable)
                                  .arg(earlier))) {
            LastSummary = QStringLiteral("Импорт отменён: большая часть строк книги не прочитана.") + kept;
            return 0;
        }
    }
    // The book's texts pass the text entry gate like every stored text: a Tab
    // is a blank. An empty text is stored as an empty string, never NULL.
    for (PendingRule &p : pending)
        for (QVariant &v : p.values)
            if (v.typeId() == QMetaType::QString) {
                const QString t = text::entry(v.toString());
                v = t.isEmpty() ? QStringLiteral("") : t;
            }
    try {
        db::transaction(d, [&] {
            db::exec(d, QStringLiteral("delete from zenkor_controls"));
            for (const PendingRule &p : pending) db::exec(d, QStringLiteral(
                "insert into zenkor_controls (original_line, zenkor_id, book_number, condition_number, error_type, "
                "form_code, table_num, lft, rght, reltion, cycl, commnt, project_formid, project_tble, control_type) "
                "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, '', ?, ?, ?)"), p.values);
        });
    } catch (const db::Error &e) {
        throw db::Error(QStringLiteral("Не удалось записать импортированные контроли: ") + e.reason() + kept);
    }
    return stored;
}

// The one place where an imported rule meets the rule checker.
bool TControlMatchImporter::passesRuleChecker(int controlType, qint64 formId, const QString &formName,
                                              const QString &table, const QString &relation,
                                              const TControlData &rule, QString &why) const {
    controls::RuleScope scope;
    scope.ruleClass = controlType;
    scope.formId = controlType == 2 ? -1 : formId;
    scope.formName = formName;
    scope.table = controlType == 0 ? table : QString();
    why.clear();
    return controls::ValidateRule(scope, controls::RuleTexts{rule.lft, relation, rule.rght, rule.cycl, QString()},
                        [&](const QString &m) {
                            if (why.isEmpty()) why = m;
                        });
}

zenkor::BookResolver TControlMatchImporter::bookResolver() {
    zenkor::BookResolver r;
    r.form = [this](const QString &code) {
        QString name;
        const qint64 id = FormCodeToFormId(code, name);
        if (id <= 0) return QStringLiteral("Ф") + code;
        return text::upper(name).startsWith(u'Ф') ? name : QStringLiteral("Ф") + name;
    };
    r.table = [this](const QString &code, const QString &table) {
        QString t = MapTableName(table, code);
        for (QChar c : {u'(', u')', u'[', u']'}) t.remove(c);
        return t;
    };
    r.number = [this](const QString &code, const QString &table, bool rows, qint64 n, bool &unmapped) {
        unmapped = false;
        QString name;
        if (FormCodeToFormId(code, name) < 1 || !m_links) return n;
        QString bare = table;
        for (QChar c : {u'(', u')', u'[', u']'}) bare.remove(c);
        const zenkor::LinksTable &t = m_links->table(NormalizeFormCode(code) + bare);
        const QHash<QString, QString> &map = rows != t.swapped ? t.rows : t.columns;
        // A table Links.mdb does not map (not listed there, or without its
        // rows or columns) keeps the book's numbers, and the line is listed.
        if (map.isEmpty()) {
            unmapped = true;
            return n;
        }
        const auto it = map.constFind(QString::number(n));
        bool ok = false;
        const qint64 v = it == map.constEnd() ? -1 : it->toLongLong(&ok);
        if (!ok || v < 0) {
            unmapped = true;
            return n;
        }
        return v;
    };
    return r;
}

int TControlMatchImporter::importLines(const QStringList &lines, int total, ProgressSink *progress,
                                       QList<PendingRule> &pending) {
    const QSqlDatabase d = db::connection(Query);
    QStringList unmatchedForms;   // sorted, each code once
    if (progress) {
        progress->setMax(total);
        progress->setPosition(0);
    }
    int lineNo = 0, stored = 0;
    const zenkor::BookResolver resolver = bookResolver();
    auto list = [&](int fileLine, const QString &reason, const QString &line) {
        LastListed.append({fileLine, reason, line.trimmed()});
    };

    for (int fileLine = 1; fileLine <= lines.size(); ++fileLine) {
        const QString &line = lines.at(fileLine - 1);
        if (line.trimmed().isEmpty()) continue;
        ++lineNo;
        if (progress) {
            progress->setPosition(lineNo);
            progress->setDetailText(QStringLiteral("Импорт строки ") + QString::number(lineNo) +
                                    QStringLiteral(" из ") + QString::number(total));
            progress->checkCancelled();   // nothing is written before the end of the run
        }
        // A Tab is a blank wherever it stands, around an operator too.
        QString blanked = line;
        blanked.replace(u'\t', u' ');
        ZenkorControlLine parsed;
        if (!ParseControlLine(blanked, parsed)) {
            list(fileLine, zenkor::kReasonUnreadable, line);
            continue;
        }

        try {
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
            if (all.isEmpty()) {
                list(fileLine, zenkor::kReasonUnreadable, line);
                continue;
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
                list(fileLine, zenkor::kReasonForms, line);
                for (const TZenkorFormula &f : all) {
                    const QString code = removeParens(f.FormCode).trimmed();
                    if (code.isEmpty()) continue;
                    auto pos = std::lower_bound(unmatchedForms.begin(), unmatchedForms.end(), code, text::nameLess);
                    const bool listed = (pos != unmatchedForms.end() && text::sameName(*pos, code)) ||
                                        (pos != unmatchedForms.begin() && text::sameName(*std::prev(pos), code));
                    if (!listed) unmatchedForms.insert(pos, code);
                }
                continue;
            }

            // What the book line means, read on its own.
            zenkor::BookLine book;
            QString reason;
            if (!book.read(parsed.left, parsed.right, resolver, &reason)) {
                list(fileLine, reason, line);
                continue;
            }
            if (std::any_of(all.begin(), all.end(), [](const TZenkorFormula &f) {
                    return f.FormCode.contains(u' ') || f.Table.contains(u' ');
                })) {
                list(fileLine, zenkor::kReasonMeaning, line);
                continue;
            }

            QString formCode, tableNum, projectTable, formName;
            qint64 projectFormId = 0;
            const int controlType = ClassifyControlType(all);
            const TZenkorFormula &first = all.first();
            if (controlType == 0 || controlType == 1) {
                formCode = first.FormCode;
                projectFormId = FormCodeToFormId(first.FormCode, formName);
                if (formName.isEmpty()) formName = first.FormCode;
                if (controlType == 0 && !first.Table.isEmpty()) {
                    tableNum = first.Table;
                    projectTable = MapTableName(first.Table, first.FormCode);
                    if (projectFormId > 0) {
                        const QString bare = removeParens(projectTable);
                        const QVariant found = db::scalar(
                            d, QStringLiteral("select tablen from tables where form=? and "
                                              "(upper(trim(tablen))=upper(trim(?)) or "
                                              "upper(trim(tablen))=upper(trim(?)))"),
                            {projectFormId, bare, QStringLiteral("(") + bare + QStringLiteral(")")});
                        if (found.isValid() && !found.isNull()) projectTable = found.toString();
                    }
                }
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
            for (int s = 0; s < 2 && !lost; ++s)
                expr[s] = zenkor::BuildSide(sideItems[s], sideRefIndex[s], rewritten, lost);
            QList<TControlData> records;
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
                        if (side->isEmpty()) lost = true;
                    }
                }
            }
            // The references the rules leave without form (and table) take
            // them from the rule's own form and table, as a control run does.
            QString defaultText;
            if (controlType != 2) {
                defaultText = resolver.form(first.FormCode);
                if (controlType == 0) defaultText += QStringLiteral("Т[") + removeParens(projectTable) + u']';
            }
            if (lost) {
                list(fileLine, zenkor::kReasonMeaning, line);
                continue;
            }
            // The rule checker first: the engine only runs rules it accepts,
            // so the proof is made for the rules that could be stored.
            QString why;
            const QString checkerForm = projectFormId > 0 ? resolver.form(first.FormCode) : QString();
            if (!std::all_of(records.begin(), records.end(), [&](const TControlData &r) {
                    return passesRuleChecker(controlType, projectFormId, checkerForm, projectTable, parsed.relation,
                                             r, why);
                })) {
                list(fileLine, zenkor::kReasonChecker + (why.isEmpty() ? QString() : QStringLiteral(": ") + why),
                     line);
                continue;
            }
            if (!zenkor::ProveRules(book, records, defaultText)) {
                list(fileLine, zenkor::kReasonMeaning, line);
                continue;
            }
            if (book.hasUnmappedNumbers()) list(fileLine, zenkor::kReasonUnmapped, line);
            for (const TControlData &r : records)
                pending.append({QVariantList{line, parsed.lineId, parsed.bookNumber, parsed.conditionNumber,
                                             parsed.errorType, formCode, tableNum, r.lft, r.rght, parsed.relation,
                                             r.cycl,
                                             controlType == 2 ? qint64(0) : std::max<qint64>(0, projectFormId),
                                             projectTable, controlType}});
            ++stored;
        } catch (const db::Error &) {
            throw db::Error(QStringLiteral("Импорт контролей прерван на строке ") + QString::number(fileLine) +
                            QStringLiteral(": не удалось прочитать базу сопоставления кодов или справочник форм. "
                                           "Прежние импортированные контроли сохранены."));
        }
    }
    QStringList summary;
    if (!LastListed.isEmpty())
        summary << QStringLiteral("Строк не импортировано или требуют проверки: ") + QString::number(LastListed.size());
    if (!unmatchedForms.isEmpty())
        summary << QStringLiteral("Формы без сопоставления (") + QString::number(unmatchedForms.size()) +
                       QStringLiteral("): ") + unmatchedForms.join(QStringLiteral(", "));
    LastSummary = summary.join(u'\n');
    return stored;
}

QStringList TControlMatchImporter::ListedLines() const {
    // Grouped by reason, in the order of the reasons' first lines.
    QStringList reasons;
    for (const ZenkorListedLine &l : LastListed)
        if (!reasons.contains(l.reason)) reasons << l.reason;
    QStringList out;
    for (const QString &reason : reasons)
        for (const ZenkorListedLine &l : LastListed)
            if (l.reason == reason) out << reason + u'\t' + QString::number(l.line) + u'\t' + l.text;
    return out;
}
