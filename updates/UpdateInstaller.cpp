#include "updates/UpdateInstaller.h"

#include "engine/CatalogGate.h"
#include "engine/RuleCheck.h"
#include "engine/ControlFileLines.h"
#include "engine/EngineError.h"
#include "engine/FormStructureFile.h"
#include "platform/Errors.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "platform/QuotedFields.h"
#include "updates/UpdateExporter.h"
#include "updates/UpdateLists.h"
#include "updates/UpdateSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <algorithm>
#include <filesystem>
#include <optional>

namespace {

QString lastComponent(QString path) {
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Print files of one installation are copied into a staging folder beside
// their destination while the database changes are made, and put in place
// only after the commit: a run that stops before the commit leaves the
// print files as they were.
class PrintStage {
public:
    explicit PrintStage(const QString &formsFolder)
        : m_forms(formsFolder), m_stage(formsFolder + QStringLiteral(".update_staging/")) {
        QDir(m_stage).removeRecursively();   // left by a run that was stopped
    }
    ~PrintStage() { QDir(m_stage).removeRecursively(); }
    const QString &folder() const { return m_stage; }
    // Moves every staged file over its destination; false when one could not be.
    bool putInPlace() const {
        bool ok = true;
        for (const QString &name : QDir(m_stage).entryList(QDir::Files, QDir::Name)) {
            std::error_code ec;
            std::filesystem::rename(QFile::encodeName(m_stage + name).toStdString(),
                                    QFile::encodeName(m_forms + name).toStdString(), ec);
            if (ec) {
                LogError(QStringLiteral("Не удалось заменить печатный файл: ") + m_forms + name);
                ok = false;
            } else {
                LogInfo(QStringLiteral("Скопирован печатный файл: ") + name);
            }
        }
        return ok;
    }
private:
    QString m_forms, m_stage;
};

const QString kVersionsBackup = QStringLiteral("form_versions_backup.txt");

// Installed versions of the forms before the installation, one line each:
// form name, "1" with its form and rules versions, or "0" when it had none.
void backupVersions(const QSqlDatabase &db, const QStringList &forms, const QString &file) {
    QStringList lines;
    for (const QString &form : forms) {
        QSqlQuery q = db::exec(db,
                               QStringLiteral("SELECT form_version, controls_version FROM installed_form_versions "
                                              "WHERE form_name=?"),
                               {form});
        lines << (q.next() ? quoted::join({form, QStringLiteral("1"), q.value(0).toString(), q.value(1).toString()})
                           : quoted::join({form, QStringLiteral("0"), QString(), QString()}));
    }
    QString error;
    if (!cp1251::writeLines(file, lines, &error))
        throw db::Error(QStringLiteral("Не удалось сохранить резервную копию версий форм: ") + error);
}

// Puts the versions of the backup back; false when the backup is unreadable.
bool restoreVersions(const QSqlDatabase &db, const QString &file) {
    if (!QFileInfo::exists(file))
        return true;   // a backup made before versions were kept
    QStringList lines;
    if (!cp1251::readLines(file, lines))
        return false;
    for (const QString &line : lines) {
        QStringList f;
        if (line.isEmpty())
            continue;
        if (!quoted::split(line, f) || f.size() != 4)
            return false;
        db::exec(db, QStringLiteral("DELETE FROM installed_form_versions WHERE form_name=?"), {f[0]});
        if (f[1] == QLatin1String("1"))
            db::exec(db,
                     QStringLiteral("INSERT INTO installed_form_versions (form_name, form_version, controls_version, "
                                    "last_update_date) VALUES (?, ?, ?, ?)"),
                     {f[0], f[2], f[3], QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
    }
    return true;
}

using ctlfile::ControlLine;

// Every rule line of a control file. False when the file cannot be read or
// a non-blank line is not a line of seven quoted fields: such a file is not
// installed at all.
bool readRuleLines(const QString &fileName, QList<ControlLine> &rules) {
    QStringList lines;
    if (!cp1251::readLines(fileName, lines))
        return false;
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        std::optional<ControlLine> r = ctlfile::ParseControlLine(line);
        if (!r) {
            LogError(QStringLiteral("Строка файла контролей не читается: ") + line);
            return false;
        }
        r->formName = r->formName.trimmed();
        r->lft = r->lft.trimmed();
        r->rght = r->rght.trimmed();
        r->cycl = r->cycl.trimmed();
        rules.append(*r);
    }
    return true;
}

// The form id of every rule (0 for a rule between forms, whose form name is
// empty). False when a form name is not in the database: such a rule cannot
// be stored under its form, and a rule between forms it is not, so the file
// is not installed at all.
bool resolveFormIds(const QSqlDatabase &db, const QList<ControlLine> &rules, QList<qint64> &formIds) {
    formIds.clear();
    for (const ControlLine &r : rules) {
        const qint64 id = r.formName.isEmpty() ? 0 : ReadFormIdByName(db, r.formName);
        if (id < 0) {
            LogError(QStringLiteral("Строка файла контролей относится к форме, которой нет в базе: ")
                     + ctlfile::FormatControlLine(r));
            return false;
        }
        formIds.append(id);
    }
    return true;
}

// Each rule is checked against the forms and tables of the database; a
// refused rule is not stored and is written to the log with its reason.
void insertRules(const QSqlDatabase &db, const QList<ControlLine> &rules, const QList<qint64> &) {
    const rulecheck::RuleChecker checker(db);
    for (const ControlLine &r : rules) {
        const rulecheck::Verdict v = rulecheck::InsertCheckedRule(
            db, checker, {r.formName, r.table, r.lft, r.reltion, r.rght, r.cycl}, r.commnt, nullptr, true);
        if (!v)
            LogError(QStringLiteral("Контроль не установлен: ") + v.reason + QStringLiteral(". Строка: ")
                     + ctlfile::FormatControlLine(r));
    }
}

// Runs work in one transaction; commits only when it returns true.
bool inTransaction(const QSqlDatabase &db, const std::function<bool()> &work) {
    struct Declined {};
    try {
        db::transaction(db, [&] {
            if (!work())
                throw Declined{};
        });
        return true;
    } catch (const Declined &) {
        return false;
    }
}

} // namespace

bool IsSafeFileName(const QString &name) {
    if (name.trimmed().isEmpty() || name == QStringLiteral(".") || name == QStringLiteral(".."))
        return false;
    for (const QChar c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 32)
            return false;
    return true;
}

qint64 ReadFormIdByName(const QSqlDatabase &db, const QString &formName) {
    // Letter case ignored, as the gate finds the form the header goes to:
    // the backup is made of the form the installation changes.
    const std::optional<gate::FoundForm> f = gate::findForm(db, formName);
    return f ? f->id : -1;
}

std::optional<FormHeaderLine> ParseFormHeaderLine(const QString &line) {
    // Only a line that the structure file writer would write again exactly
    // is taken: a "#" too many, or a flag other than "Да"/"Нет", means the
    // fields cannot be told apart. The fields are read by the structure
    // file's own reader, which turns byte 3 back into ":".
    const QString flag = line.section(QLatin1Char('#'), 2);
    if (flag != QStringLiteral("Да") && flag != QStringLiteral("Нет"))
        return std::nullopt;
    frs::Form form;
    try {
        form = frs::parse({line});
    } catch (const EngineError &) {
        return std::nullopt;
    }
    if (form.formname.trimmed().isEmpty())
        return std::nullopt;
    return FormHeaderLine{form.formname, form.decipher, form.net};
}

bool InstallFormHeader(const QSqlDatabase &db, const QString &structureFile, const QString &expectedName) {
    if (!QFileInfo::exists(structureFile))
        return false;
    QStringList lines;
    try {
        lines = frs::readLines(structureFile);
    } catch (const EngineError &e) {
        LogError(e.message());
        return false;
    }
    if (lines.isEmpty())
        return false;
    const std::optional<FormHeaderLine> h = ParseFormHeaderLine(lines.first());
    if (!h) {
        LogError(QStringLiteral("Строка формы в файле структуры не читается однозначно: ") + lines.first());
        return false;
    }
    // The backup and the rollback are made for the named form: a file of
    // another form would change a form that nothing puts back.
    if (!expectedName.isEmpty() && h->name != expectedName) {
        LogError(QStringLiteral("Файл структуры описывает другую форму: ") + h->name);
        return false;
    }
    // Through the catalogue gate: a form stored under another letter case
    // is updated and keeps its name, a name it refuses installs nothing.
    gate::putForm(db, h->name, h->decipher, h->net);
    return true;
}

bool InstallFormStructure(const QSqlDatabase &db, const QString &formName, const QString &structureFile, qint64) {
    try {
        LogInfo(QStringLiteral("Установка структуры формы: ") + formName);
        const bool ok = InstallFormHeader(db, structureFile, formName);
        if (ok)
            LogInfo(QStringLiteral("Структура формы установлена: ") + formName);
        else
            LogError(QStringLiteral("Ошибка при установке структуры формы: ") + formName);
        return ok;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при установке структуры формы: ") + winutil::errorText(e));
        return false;
    }
}

void DeleteFormControls(const QSqlDatabase &db, const QString &formName, qint64 formId) {
    ctlfile::DeleteFormRules(db, formId, formName);
}

bool InsertControlLines(const QSqlDatabase &db, const QString &controlFile) {
    QList<ControlLine> rules;
    QList<qint64> formIds;
    if (!QFileInfo::exists(controlFile) || !readRuleLines(controlFile, rules) || !resolveFormIds(db, rules, formIds))
        return false;
    insertRules(db, rules, formIds);
    return true;
}

bool InstallFormControls(const QSqlDatabase &db, const QString &formName, const QString &controlFile, qint64 formId) {
    try {
        LogInfo(QStringLiteral("Установка контролей формы: ") + formName);
        // The file is read whole before any rule is deleted: a missing or
        // unreadable file, or one naming a form not installed here, leaves
        // the rules as they are.
        QList<ControlLine> rules;
        QList<qint64> formIds;
        if (!QFileInfo::exists(controlFile) || !readRuleLines(controlFile, rules)
            || !resolveFormIds(db, rules, formIds)) {
            LogError(QStringLiteral("Ошибка при установке контролей формы: ") + formName);
            return false;
        }
        DeleteFormControls(db, formName, formId);
        insertRules(db, rules, formIds);
        LogInfo(QStringLiteral("Контроли формы установлены: ") + formName);
        return true;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при установке контролей формы: ") + winutil::errorText(e));
        return false;
    }
}

bool CopyPrintFiles(const QString &sourceFolder, const QString &destFolder, const QStringList &items,
                    const QString &formName) {
    ForceDirectoryPath(destFolder);
    bool ok = true;
    for (const QString &item : items) {
        const QString name = lastComponent(item);
        if (name.isEmpty())
            continue;
        // Only the form's own template and cell mapping: the rollback puts
        // back nothing else, so another file replaced here would be lost.
        if (!formName.isEmpty() && name.compare(formName + QStringLiteral(".doc"), Qt::CaseInsensitive) != 0
            && name.compare(formName + QStringLiteral(".txt"), Qt::CaseInsensitive) != 0) {
            LogWarning(QStringLiteral("Пропущен чужой печатный файл: ") + name);
            continue;
        }
        const QString from = IncludeTrailingPathSlash(sourceFolder) + name;
        if (!QFileInfo::exists(from))
            continue;
        if (paths::copyFileOver(from, IncludeTrailingPathSlash(destFolder) + name)) {
            LogInfo(QStringLiteral("Скопирован печатный файл: ") + name);
        } else {
            LogError(QStringLiteral("Не удалось скопировать печатный файл: ") + name);
            ok = false;
        }
    }
    return ok;
}

int InstallUpdateComponents(const QSqlDatabase &db, const QString &unpackedFolder, const QString &manifestFile,
                            const QString &updateId, int year, const QString &backupFolder,
                            const InstallCommitHook &beforeCommit) {
    if (!QFileInfo::exists(manifestFile)) {
        LogError(QStringLiteral("Манифест не найден: ") + manifestFile);
        return InstallNone;
    }
    TUpdateManifest m;
    if (!LoadManifestFromFile(m, manifestFile)) {
        LogError(QStringLiteral("Ошибка при загрузке манифеста"));
        return InstallNone;
    }
    if (!ValidateManifest(m)) {
        LogError(QStringLiteral("Манифест не прошел валидацию"));
        return InstallNone;
    }
    EnsureUpdateTables(db);
    const QString yearFolder = DatabaseFolder(db);
    const QString backup = IncludeTrailingPathSlash(backupFolder);
    const QString unpacked = IncludeTrailingPathSlash(unpackedFolder);

    // Backups of everything the entries replace, before anything changes.
    QStringList names;
    for (const FormUpdateEntry &e : m.forms)
        if (IsSafeFileName(e.formName))
            names << e.formName;
    ForceDirectoryPath(backup);
    backupVersions(db, names, backup + kVersionsBackup);
    for (const FormUpdateEntry &e : m.forms) {
        if (!IsSafeFileName(e.formName))
            continue;
        const qint64 id = ReadFormIdByName(db, e.formName);
        if (id < 0)
            continue;
        if (!e.formFile.isEmpty()) {
            ForceDirectoryPath(backup + QStringLiteral("forms_backup"));
            ExportFormStructure(db, id, backup + QStringLiteral("forms_backup/") + e.formName + QStringLiteral(".frs"));
        }
        if (!e.controlsFile.isEmpty()) {
            ForceDirectoryPath(backup + QStringLiteral("controls_backup"));
            ExportFormControls(db, id, e.formName,
                               backup + QStringLiteral("controls_backup/controls_") + e.formName + QStringLiteral(".orv"));
        }
        if (!e.printFiles.isEmpty()) {
            const QString dest = backup + QStringLiteral("print_files_backup/") + e.formName + QLatin1Char('/');
            ForceDirectoryPath(dest);
            for (const char *ext : {".doc", ".txt"}) {
                const QString file = e.formName + QLatin1String(ext);
                const QString from = yearFolder + QStringLiteral("forms/") + file;
                if (QFileInfo::exists(from) && !paths::copyFileOver(from, dest + file))
                    throw db::Error(QStringLiteral("Не удалось сохранить резервную копию файла: ") + from);
            }
        }
    }

    PrintStage stage(yearFolder + QStringLiteral("forms/"));
    int installed = 0;
    const bool committed = inTransaction(db, [&] {
        for (const FormUpdateEntry &e : m.forms) {
            // The name makes folder and file names: one that leaves them fails the entry.
            if (!IsSafeFileName(e.formName)) {
                LogError(QStringLiteral("Недопустимое имя формы в манифесте: ") + e.formName);
                continue;
            }
            const qint64 id = ReadFormIdByName(db, e.formName);
            const QString formFolder = unpacked + e.formName + QLatin1Char('/');
            bool ok = true;
            if (!e.formFile.isEmpty()) {
                ok = InstallFormStructure(db, e.formName, formFolder + lastComponent(e.formFile), id);
                if (ok && !e.formVersion.isEmpty())
                    SetInstalledFormVersion(db, e.formName, e.formVersion);
            }
            if (ok && !e.controlsFile.isEmpty()) {
                ok = InstallFormControls(db, e.formName, formFolder + lastComponent(e.controlsFile),
                                         ReadFormIdByName(db, e.formName));
                if (ok && !e.controlsVersion.isEmpty())
                    SetInstalledControlsVersion(db, e.formName, e.controlsVersion);
            }
            if (ok && !e.printFiles.isEmpty())
                ok = CopyPrintFiles(formFolder + QStringLiteral("Forms"), stage.folder(), e.printFiles, e.formName);
            if (ok)
                ++installed;
        }
        if (installed != m.forms.size())
            return false;
        if (beforeCommit)
            beforeCommit();
        return true;
    });
    if (!committed) {
        LogWarning(QStringLiteral("Изменения обновления %1 отменены: установлены не все формы").arg(updateId));
        return installed < 1 ? InstallNone : InstallSome;
    }
    Q_UNUSED(year);
    // The database holds the update: now the print files follow it.
    return stage.putInPlace() ? InstallAll : InstallSome;
}

bool RestoreFormFromBackup(const QSqlDatabase &db, const QString &formName, const QString &structureFile,
                           qint64 formId) {
    if (!QFileInfo::exists(structureFile)) {
        LogWarning(QStringLiteral("Резервная копия формы не найдена: ") + structureFile);
        return false;
    }
    try {
        LogInfo(QStringLiteral("Восстановление формы из резервной копии: ") + formName);
        const bool ok = InstallFormStructure(db, formName, structureFile, formId);
        if (ok)
            LogInfo(QStringLiteral("Форма восстановлена: ") + formName);
        else
            LogError(QStringLiteral("Ошибка при восстановлении формы: ") + formName);
        return ok;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при восстановлении формы: ") + winutil::errorText(e));
        return false;
    }
}

bool RestoreControlsFromBackup(const QSqlDatabase &db, const QString &formName, const QString &controlFile,
                               qint64 formId) {
    if (!QFileInfo::exists(controlFile)) {
        LogWarning(QStringLiteral("Резервная копия контролей не найдена: ") + controlFile);
        return false;
    }
    try {
        LogInfo(QStringLiteral("Восстановление контролей из резервной копии: ") + formName);
        const bool ok = InstallFormControls(db, formName, controlFile, formId);
        if (ok)
            LogInfo(QStringLiteral("Контроли восстановлены: ") + formName);
        else
            LogError(QStringLiteral("Ошибка при восстановлении контролей: ") + formName);
        return ok;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при восстановлении контролей: ") + winutil::errorText(e));
        return false;
    }
}

bool RestorePrintFiles(const QString &printBackupFolder, const QString &destFolder, const QString &formName) {
    const QString folder = IncludeTrailingPathSlash(printBackupFolder) + formName;
    if (!QDir(folder).exists()) {
        LogWarning(QStringLiteral("Резервная копия печатных файлов не найдена: ") + folder);
        return true;
    }
    ForceDirectoryPath(destFolder);
    bool ok = true;
    for (const char *ext : {".doc", ".txt"}) {
        const QString file = formName + QLatin1String(ext);
        const QString from = folder + QLatin1Char('/') + file;
        if (!QFileInfo::exists(from))
            continue;
        if (paths::copyFileOver(from, IncludeTrailingPathSlash(destFolder) + file)) {
            LogInfo(QStringLiteral("Восстановлен печатный файл: ") + file);
        } else {
            LogError(QStringLiteral("Не удалось восстановить печатный файл: ") + file);
            ok = false;
        }
    }
    return ok;
}

bool RollbackUpdateFromBackup(const QSqlDatabase &db, const QString &backupFolder, const QString &updateId,
                              const InstallCommitHook &beforeCommit) {
    const QString backup = IncludeTrailingPathSlash(backupFolder);
    if (!QDir(backupFolder).exists()) {
        LogError(QStringLiteral("Резервная копия не найдена: ") + backupFolder);
        return false;
    }
    try {
        LogInfo(QStringLiteral("Начат откат обновления: ") + updateId);
        // Restored whole or not at all: one part that cannot be put back
        // leaves the database as the update made it.
        const bool restored = inTransaction(db, [&] {
            const QDir forms(backup + QStringLiteral("forms_backup"));
            for (const QString &entry : forms.entryList({QStringLiteral("*.frs")}, QDir::Files, QDir::Name)) {
                const QString name = entry.left(entry.size() - 4);
                const qint64 id = ReadFormIdByName(db, name);
                if (id >= 0 && !RestoreFormFromBackup(db, name, forms.filePath(entry), id))
                    return false;
            }
            const QDir controls(backup + QStringLiteral("controls_backup"));
            for (const QString &entry : controls.entryList({QStringLiteral("controls_*.orv")}, QDir::Files, QDir::Name)) {
                const QString name = entry.mid(9, entry.size() - 13);
                const qint64 id = ReadFormIdByName(db, name);
                if (id >= 0 && !RestoreControlsFromBackup(db, name, controls.filePath(entry), id))
                    return false;
            }
            if (!restoreVersions(db, backup + kVersionsBackup)) {
                LogError(QStringLiteral("Резервная копия версий форм не читается: ") + backup + kVersionsBackup);
                return false;
            }
            if (beforeCommit)
                beforeCommit();
            return true;
        });
        if (!restored) {
            LogError(QStringLiteral("Откат обновления не выполнен: ") + updateId);
            return false;
        }
        const QDir prints(backup + QStringLiteral("print_files_backup"));
        if (prints.exists()) {
            const QString dest = DatabaseFolder(db) + QStringLiteral("forms/");
            bool printsOk = true;
            for (const QString &sub : prints.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                printsOk = RestorePrintFiles(prints.path(), dest, sub) && printsOk;
            if (!printsOk) {
                LogError(QStringLiteral("Печатные файлы обновления восстановлены не все: ") + updateId);
                return false;
            }
        }
        LogInfo(QStringLiteral("Откат обновления завершен: ") + updateId);
        return true;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при откате обновления: ") + winutil::errorText(e));
        return false;
    }
}
