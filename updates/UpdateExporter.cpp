#include "updates/UpdateExporter.h"

#include "engine/ControlFileLines.h"
#include "engine/FormStructureFile.h"
#include "platform/Database.h"
#include "updates/UpdateSupport.h"

#include <QStringList>

QString ReadFormNameById(const QSqlDatabase &db, qint64 formId) {
    if (!DatabaseReady(db))
        return {};
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
    ctlfile::WriteControlFile(fileName, ctlfile::ControlFileLinesForForm(db, formId, formName));
    return true;
}

bool ExportGlobalControls(const QSqlDatabase &db, const QString &fileName) {
    if (!DatabaseReady(db))
        return false;
    ctlfile::WriteControlFile(fileName, ctlfile::ControlFileLinesAllByTable(db));
    return true;
}
