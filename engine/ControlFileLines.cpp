#include "engine/ControlFileLines.h"

#include "engine/FormulaParser.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/QuotedFields.h"

#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>

namespace ctlfile {

QList<ReferenceParts> SideReferences(const QString &side) {
    const QStringList pieces = notation::CutSide(SquareTableBrackets(text::upper(side)));
    QList<ReferenceParts> out;
    for (qsizetype i = 0; i < pieces.size(); i += 2) out.append(CutReferenceParts(pieces[i]));
    return out;
}

bool SideNamesTable(const QString &side, const QString &formName, const QString &table) {
    for (const ReferenceParts &parts : SideReferences(side)) {
        if (!parts.hasTable || (!table.isEmpty() && !text::sameName(parts.table, table))) continue;
        if (formName.isEmpty() || (parts.hasForm && text::sameName(parts.form, formName))) return true;
    }
    return false;
}

namespace {

// Rule lines of the rows of a "select * from int_control" query.
class LineReader {
public:
    explicit LineReader(const QSqlDatabase &db) : m_db(db) {}

    QString lineOf(const QSqlQuery &q) {
        const QSqlRecord r = q.record();
        const auto f = [&](const char *name) { return q.value(r.indexOf(QLatin1String(name))).toString(); };
        return FormatControlLine({formName(q.value(r.indexOf(QStringLiteral("formid"))).toLongLong()), f("tble"),
                                  f("lft"), f("reltion"), f("rght"), f("cycl"), f("commnt")});
    }

    QStringList linesOf(QSqlQuery &q) {
        QStringList out;
        while (q.next()) out.append(lineOf(q));
        return out;
    }

private:
    QString formName(qint64 formId) {
        if (formId == 0) return {};
        auto it = m_names.constFind(formId);
        if (it == m_names.cend())
            it = m_names.insert(formId, db::scalar(m_db, QStringLiteral("select formname from forms where id=?"),
                                                   {formId}).toString());
        return *it;
    }

    QSqlDatabase m_db;
    QHash<qint64, QString> m_names;
};

bool sideNamesForm(const QString &side, const QString &formName) { return SideNamesTable(side, formName, QString()); }

// The form's own rules and the rules between forms that name it, in the
// order of the exports: by table, left and right side, then by key (rules
// alike in all three keep one order). The look-up narrows the rules between
// forms to those holding the name; the notation decides.
struct FormRule {
    qint64 key;
    bool nullTable;
};
QList<FormRule> formRules(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    const QString pattern = u'%' + db::likeLiteral(formName.trimmed()) + u'%';
    QSqlQuery q = db::exec(mainDb,
                           QStringLiteral("select \"Код\", formid, tble is null, coalesce(lft, ''), coalesce(rght, '') "
                                          "from int_control where formid=? or (formid=0 and ((lft like ? escape '\\') "
                                          "or (rght like ? escape '\\'))) order by tble,lft,rght,\"Код\""),
                           {formId, pattern, pattern});
    QList<FormRule> out;
    while (q.next())
        if (q.value(1).toLongLong() == formId || sideNamesForm(q.value(3).toString(), formName) ||
            sideNamesForm(q.value(4).toString(), formName))
            out.append({q.value(0).toLongLong(), q.value(2).toBool()});
    return out;
}

} // namespace

std::optional<ControlLine> ParseControlLine(const QString &raw) {
    QStringList f;
    if (!quoted::split(raw, f) || f.size() != 7) return std::nullopt;
    return ControlLine{f[0], f[1], f[2], f[3], f[4], f[5], f[6]};
}

QString FormatControlLine(const ControlLine &l) {
    return quoted::join({l.formName, l.table, l.lft, l.reltion, l.rght, l.cycl, l.commnt});
}

QStringList ControlFileLinesForKeys(const QSqlDatabase &mainDb, const QList<qint64> &keys) {
    LineReader reader(mainDb);
    QStringList out;
    for (qint64 key : keys) {
        QSqlQuery q = db::exec(mainDb, QStringLiteral("select * from int_control where \"Код\"=?"), {key});
        if (q.next()) out.append(reader.lineOf(q));
    }
    return out;
}

QStringList ControlFileLinesAll(const QSqlDatabase &mainDb) {
    QSqlQuery q = db::exec(mainDb, QStringLiteral("select * from int_control order by \"Код\""));
    return LineReader(mainDb).linesOf(q);
}

QStringList ControlFileLinesAllByTable(const QSqlDatabase &mainDb) {
    QSqlQuery q = db::exec(mainDb, QStringLiteral("select * from int_control order by tble,lft,rght,\"Код\""));
    return LineReader(mainDb).linesOf(q);
}

QStringList ControlFileLinesForForm(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    QList<qint64> keys;
    for (const FormRule &r : formRules(mainDb, formId, formName)) keys.append(r.key);
    return ControlFileLinesForKeys(mainDb, keys);
}

QList<RuleKey> FormRuleKeys(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    QList<RuleKey> out;
    for (const FormRule &r : formRules(mainDb, formId, formName)) out.append({r.key, r.nullTable});
    return out;
}

int DeleteFormRules(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    QList<qint64> keys;
    for (const FormRule &r : formRules(mainDb, formId, formName)) keys.append(r.key);
    return DeleteRulesByKeys(mainDb, keys);
}

int DeleteRulesByKeys(const QSqlDatabase &mainDb, const QList<qint64> &keys) {
    int n = 0;
    for (const qint64 key : keys)
        n += db::exec(mainDb, QStringLiteral("delete from int_control where \"Код\"=?"), {key}).numRowsAffected();
    return n;
}

bool RuleNamesForm(const ControlLine &rule, const QString &formName) {
    return sideNamesForm(rule.lft, formName) || sideNamesForm(rule.rght, formName);
}

int CountFormRules(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    return int(formRules(mainDb, formId, formName).size());
}

void WriteControlFile(const QString &path, const QStringList &lines) {
    QString why;
    if (!cp1251::writeLines(path, lines, &why))
        throw db::Error(QStringLiteral("Не удалось записать файл ") + path +
                        (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
}

} // namespace ctlfile
