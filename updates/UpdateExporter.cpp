#include "updates/UpdateExporter.h"

#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/QuotedFields.h"
#include "updates/UpdateSupport.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

namespace {

bool truthy(const QVariant &v) {
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        return s == QLatin1String("true") || s == QLatin1String("да") || (s.toInt() != 0);
    }
    return v.toInt() != 0;
}

QString trueFalse(const QVariant &v) { return truthy(v) ? QStringLiteral("True") : QStringLiteral("False"); }

QString noColon(QString s) { return s.remove(QLatin1Char(':')); }

QString num(const QVariant &v) { return v.isNull() ? QString() : v.toString().replace(QLatin1Char(','), QLatin1Char('.')); }

// Writes the lines; throws when the file cannot be written.
void save(const QString &fileName, const QStringList &lines) {
    QString error;
    if (!cp1251::writeLines(fileName, lines, &error))
        throw db::Error(QStringLiteral("Не удалось записать файл %1: %2").arg(fileName, error));
}

void createEmpty(const QString &fileName) { save(fileName, {}); }

QString controlLine(const QSqlDatabase &db, const QSqlQuery &q) {
    const QSqlRecord r = q.record();
    auto f = [&](const char *name) { return q.value(r.indexOf(QLatin1String(name))).toString(); };
    const qint64 formId = q.value(r.indexOf(QStringLiteral("formid"))).toLongLong();
    const QStringList fields = {formId == 0 ? QString() : ReadFormNameById(db, formId),
                                f("tble"), f("lft"), f("reltion"), f("rght"), f("cycl"), f("commnt")};
    return quoted::join(fields);
}

} // namespace

QString FormTablePattern(const QString &formName) {
    // '%' and '_' in a form name stand for themselves (escaped with '\').
    QString name = formName;
    name.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    name.replace(QLatin1Char('%'), QStringLiteral("\\%"));
    name.replace(QLatin1Char('_'), QStringLiteral("\\_"));
    return QLatin1Char('%') + name + QStringLiteral("т%");
}

QString ReadFormNameById(const QSqlDatabase &db, qint64 formId) {
    return db::scalar(db, QStringLiteral("SELECT formname FROM forms WHERE id=?"), {formId}).toString();
}

bool ExportFormStructure(const QSqlDatabase &db, qint64 formId, const QString &fileName) {
    if (!DatabaseReady(db))
        return false;
    QSqlQuery form = db::exec(db, QStringLiteral("SELECT formname, decipher, net FROM forms WHERE id=?"), {formId});
    if (!form.next()) {
        createEmpty(fileName);
        return false;
    }
    const QString name = noColon(form.value(0).toString());
    const QString decipher = noColon(form.value(1).toString());
    // The form line is read back by splitting at "#": a text holding one, or a
    // line break, would come back as another form.
    for (const QString &text : {name, decipher})
        if (text.contains(QLatin1Char('#')) || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
            throw db::Error(QStringLiteral("Название или описание формы \"%1\" содержит \"#\" или перевод строки "
                                           "и не может быть записано в файл структуры").arg(name));
    QStringList lines;
    lines << QStringList{name, decipher, truthy(form.value(2)) ? QStringLiteral("Да") : QStringLiteral("Нет")}
                 .join(QLatin1Char('#'));
    QSqlQuery tables = db::exec(db,
                                QStringLiteral("SELECT ident, tablen, name, colcount, rowcount, fixcols, fixrows, "
                                               "floattype, scan FROM tables WHERE form=? ORDER BY tablen"),
                                {formId});
    while (tables.next()) {
        const qint64 ident = tables.value(0).toLongLong();
        const QString scan = tables.value(8).toString();
        lines << QStringList{noColon(tables.value(1).toString()), noColon(tables.value(2).toString()),
                             num(tables.value(3)), num(tables.value(4)), num(tables.value(5)), num(tables.value(6)),
                             trueFalse(tables.value(7)), scan.isEmpty() ? QStringLiteral("0") : scan}
                     .join(QLatin1Char('#'));
        QSqlQuery rows = db::exec(db, QStringLiteral("SELECT \"row\", height FROM \"rows\" WHERE \"table\"=?"), {ident});
        while (rows.next())
            lines << QStringLiteral("стр") + num(rows.value(0)) + QLatin1Char('#') + num(rows.value(1));
        QSqlQuery cols =
            db::exec(db, QStringLiteral("SELECT \"column\", width FROM \"columns\" WHERE \"table\"=?"), {ident});
        while (cols.next())
            lines << QStringLiteral("гр") + num(cols.value(0)) + QLatin1Char('#') + num(cols.value(1));
        QSqlQuery titles = db::exec(db,
                                    QStringLiteral("SELECT \"column\", \"row\", union_sc, union_sr, union_ec, union_er, "
                                                   "fontname, fontsize, fontbold, fontitalic, tchars, txt "
                                                   "FROM titles WHERE \"table\"=?"),
                                    {ident});
        while (titles.next()) {
            QString txt = titles.value(11).toString();
            if (txt.isEmpty())
                txt = QStringLiteral(" ");
            txt.replace(QLatin1Char('\r'), QChar(2));
            txt.replace(QLatin1Char('\n'), QChar(1));
            txt.remove(QLatin1Char(':'));
            lines << QStringLiteral("заг") + QStringList{num(titles.value(0)), num(titles.value(1)),
                                                         num(titles.value(2)), num(titles.value(3)),
                                                         num(titles.value(4)), num(titles.value(5)),
                                                         noColon(titles.value(6).toString()), num(titles.value(7)),
                                                         trueFalse(titles.value(8)), trueFalse(titles.value(9)),
                                                         titles.value(10).toString(), txt}
                                                 .join(QLatin1Char('#'));
        }
    }
    save(fileName, lines);
    return true;
}

bool ExportFormControls(const QSqlDatabase &db, qint64 formId, const QString &formName, const QString &fileName) {
    if (!DatabaseReady(db))
        return false;
    createEmpty(fileName);
    const QString pattern = FormTablePattern(formName);
    QSqlQuery q = db::exec(db,
                           QStringLiteral("SELECT * FROM int_control WHERE formid=? "
                                          "OR (formid=0 AND ((lft LIKE ? ESCAPE '\\') OR (rght LIKE ? ESCAPE '\\'))) "
                                          "ORDER BY tble, lft, rght"),
                           {formId, pattern, pattern});
    QStringList lines;
    while (q.next())
        lines << controlLine(db, q);
    save(fileName, lines);
    return true;
}

bool ExportGlobalControls(const QSqlDatabase &db, const QString &fileName) {
    if (!DatabaseReady(db))
        return false;
    createEmpty(fileName);
    QSqlQuery q = db::exec(db, QStringLiteral("SELECT * FROM int_control ORDER BY tble, lft, rght"));
    QStringList lines;
    while (q.next())
        lines << controlLine(db, q);
    save(fileName, lines);
    return true;
}
