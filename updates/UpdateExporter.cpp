#include "updates/UpdateExporter.h"

#include "engine/FormStructureFile.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/QuotedFields.h"
#include "updates/UpdateSupport.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

namespace {

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
    const QStringList lines = frs::formLines(db, formId);
    frs::writeFile(fileName, lines);
    return !lines.isEmpty();
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
