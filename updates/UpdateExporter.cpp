#include "updates/UpdateExporter.h"

#include "engine/ControlFileLines.h"
#include "engine/FormStructureFile.h"
#include "updates/UpdateSupport.h"

#include <QStringList>

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
    ctlfile::WriteControlFile(fileName, ctlfile::ControlFileLinesAll(db));
    return true;
}
