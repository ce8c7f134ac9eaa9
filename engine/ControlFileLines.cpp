#include "engine/ControlFileLines.h"

#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/QuotedFields.h"

#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>

namespace ctlfile {

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

const QString kFormRules = QStringLiteral(
    "formid=? or (formid=0 and ((lft like ? escape '\\') or (rght like ? escape '\\')))");

QVariantList formRuleParams(qint64 formId, const QString &formName) {
    const QString pattern = u'%' + db::likeLiteral(formName) + QStringLiteral("т%");
    return {formId, pattern, pattern};
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
    // The key last: rules alike in table and both sides keep one order.
    QSqlQuery q = db::exec(mainDb,
                           QStringLiteral("select * from int_control where ") + kFormRules +
                               QStringLiteral(" order by tble,lft,rght,\"Код\""),
                           formRuleParams(formId, formName));
    return LineReader(mainDb).linesOf(q);
}

QList<RuleKey> FormRuleKeys(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    QSqlQuery q = db::exec(mainDb,
                           QStringLiteral("select \"Код\", tble is null from int_control where ") + kFormRules +
                               QStringLiteral(" order by tble,lft,rght,\"Код\""),
                           formRuleParams(formId, formName));
    QList<RuleKey> out;
    while (q.next()) out.append({q.value(0).toLongLong(), q.value(1).toBool()});
    return out;
}

int DeleteFormRules(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    QSqlQuery q = db::exec(mainDb, QStringLiteral("delete from int_control where ") + kFormRules,
                           formRuleParams(formId, formName));
    return q.numRowsAffected();
}

int DeleteRulesByKeys(const QSqlDatabase &mainDb, const QList<qint64> &keys) {
    int n = 0;
    for (const qint64 key : keys)
        n += db::exec(mainDb, QStringLiteral("delete from int_control where \"Код\"=?"), {key}).numRowsAffected();
    return n;
}

bool RuleNamesForm(const ControlLine &rule, const QString &formName) {
    const QString mark = text::upper(formName.trimmed() + QStringLiteral("т"));
    return text::upper(rule.lft).contains(mark) || text::upper(rule.rght).contains(mark);
}

int CountFormRules(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    return db::scalar(mainDb, QStringLiteral("select count(*) from int_control where ") + kFormRules,
                      formRuleParams(formId, formName))
        .toInt();
}

void WriteControlFile(const QString &path, const QStringList &lines) {
    QString why;
    if (!cp1251::writeLines(path, lines, &why))
        throw db::Error(QStringLiteral("Не удалось записать файл ") + path +
                        (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
}

} // namespace ctlfile
