#include "updates/UpdateInstaller.h"

#include "engine/TextUtil.h"
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
#include <QSet>
#include <QThread>
#include <algorithm>
#include <filesystem>
#include <optional>

namespace {

QString lastComponent(QString path) {
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Renames a file over another; false with the system's reason when it fails.
bool renameOver(const QString &from, const QString &to, QString *why) {
    std::error_code ec;
    std::filesystem::rename(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString(), ec);
    if (ec && why)
        *why = cp1251::systemReason(ec.value());
    return !ec;
}

// A file held open by another program may be free a moment later.
bool renameOverRetried(const QString &from, const QString &to, QString *why) {
    for (int attempt = 0;; ++attempt) {
        if (renameOver(from, to, why))
            return true;
        if (attempt == 2)
            return false;
        QThread::msleep(150);
    }
}

// Print files of one installation are copied into a staging folder beside
// their destination while the database changes are made, and put in place
// only after the commit: a run that stops before the commit leaves the
// print files as they were.
class PrintStage {
public:
    enum Start { Fresh, Keep };
    // Fresh clears what a stopped run left (see FinishInterruptedInstall).
    explicit PrintStage(const QString &formsFolder, const QString &name = QStringLiteral(".update_staging/"),
                        Start start = Fresh)
        : m_forms(formsFolder), m_stage(formsFolder + name) {
        if (start == Fresh)
            QDir(m_stage).removeRecursively();
    }
    ~PrintStage() { QDir(m_stage).removeRecursively(); }
    const QString &folder() const { return m_stage; }
    // Marks the staged files as those of the update: written in the
    // installation's transaction, before its commit. Throws db::Error.
    void markFor(const QString &updateId) const {
        if (!QDir(m_stage).exists())
            return;   // nothing staged
        QString why;
        if (!cp1251::writeLines(m_stage + kPendingMark, {updateId}, &why))
            throw db::Error(QStringLiteral("Не удалось подготовить печатные файлы: ") + why);
    }
    // The update whose staged files these are (empty when unmarked).
    QString markedFor() const {
        QStringList lines;
        return cp1251::readLines(m_stage + kPendingMark, lines) ? lines.value(0) : QString();
    }
    // Moves every staged file over its destination, each tried again a few
    // times; the files that could not be put in place, with the reason.
    QStringList putInPlace() const {
        QStringList failed;
        for (const QString &name : QDir(m_stage).entryList(QDir::Files, QDir::Name)) {
            if (name == kPendingMark)
                continue;
            QString why;
            if (renameOverRetried(m_stage + name, m_forms + name, &why)) {
                LogInfo(QStringLiteral("Скопирован печатный файл: ") + name);
            } else {
                LogError(QStringLiteral("Не удалось заменить печатный файл: ") + m_forms + name + QStringLiteral(": ") + why);
                failed << m_forms + name + QStringLiteral(" (") + why + QLatin1Char(')');
            }
        }
        return failed;
    }
    static inline const QString kPendingMark = QStringLiteral(".update_id");
private:
    QString m_forms, m_stage;
};

// Print files replaced and removed all together or not at all: the new
// files are prepared beside their folder first (where a full disk shows),
// then swapped in by renames that are undone when one of them fails.
class PrintSwap {
public:
    explicit PrintSwap(const QString &formsFolder)
        : m_forms(formsFolder), m_stage(formsFolder, QStringLiteral(".rollback_staging/")),
          m_old(formsFolder + QStringLiteral(".rollback_old/")) {
        QDir(m_old).removeRecursively();
    }
    ~PrintSwap() { QDir(m_old).removeRecursively(); }
    // Prepares a copy of from to replace the file name of the folder.
    bool replace(const QString &from, const QString &name, QString *why) {
        ForceDirectoryPath(m_stage.folder());
        QString reason;
        if (!paths::copyFileOver(from, m_stage.folder() + name, &reason)) {
            *why = QStringLiteral("Не удалось подготовить печатный файл ") + m_forms + name + QStringLiteral(": ") + reason;
            return false;
        }
        m_steps.append({name, true});
        return true;
    }
    void remove(const QString &name) { m_steps.append({name, false}); }
    // Puts every prepared change in place; on failure everything is as before.
    bool apply(QString *why) {
        ForceDirectoryPath(m_old);
        for (const Step &s : m_steps) {
            const QString target = m_forms + s.name;
            QString reason;
            const bool had = QFileInfo::exists(target);
            if (had && !renameOver(target, m_old + s.name, &reason)) {
                *why = QStringLiteral("Не удалось заменить печатный файл ") + target + QStringLiteral(": ") + reason;
                undo();
                return false;
            }
            m_done.append({s.name, had});
            if (s.put && !renameOver(m_stage.folder() + s.name, target, &reason)) {
                *why = QStringLiteral("Не удалось заменить печатный файл ") + target + QStringLiteral(": ") + reason;
                undo();
                return false;
            }
        }
        return true;
    }
    // Brings back what apply changed.
    void undo() {
        for (qsizetype i = m_done.size() - 1; i >= 0; --i) {
            const QString target = m_forms + m_done[i].name;
            if (QFileInfo::exists(target))
                QFile::remove(target);
            if (m_done[i].had)
                renameOver(m_old + m_done[i].name, target, nullptr);
        }
        m_done.clear();
    }
private:
    struct Step {
        QString name;
        bool put;   // a new file goes in (else the file is removed)
    };
    QString m_forms;
    PrintStage m_stage;
    QString m_old;
    struct Done {
        QString name;
        bool had;   // the file was there before
    };
    QList<Step> m_steps;
    QList<Done> m_done;
};

const QString kVersionsBackup = QStringLiteral("form_versions_backup.txt");
// Print files the update added to the forms folder, one name a line.
const QString kAddedPrints = QStringLiteral("added_print_files.txt");

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

// The keys kept beside a backup's rule file: one line a rule, in the file's
// order, with its key and "1" when its table was null.
QString keysFileOf(const QString &controlFile) {
    return controlFile.left(controlFile.size() - 4) + QStringLiteral(".keys");
}

void writeRuleKeys(const QString &file, const QList<ctlfile::RuleKey> &keys) {
    QStringList lines;
    for (const ctlfile::RuleKey &k : keys)
        lines << quoted::join({QString::number(k.key), k.nullTable ? QStringLiteral("1") : QStringLiteral("0")});
    QString why;
    if (!cp1251::writeLines(file, lines, &why))
        throw db::Error(QStringLiteral("Не удалось сохранить резервную копию: ") + why);
}

// The keys of a backup's rules; empty when the backup keeps none (made
// before keys were kept) or they do not match its rule lines, and the rules
// then come back under new keys.
QList<ctlfile::RuleKey> readRuleKeys(const QString &file, qsizetype ruleCount) {
    QStringList lines;
    if (!QFileInfo::exists(file) || !cp1251::readLines(file, lines))
        return {};
    QList<ctlfile::RuleKey> keys;
    for (const QString &line : lines) {
        if (line.isEmpty())
            continue;
        QStringList f;
        bool ok = false;
        const qint64 key = quoted::split(line, f) && f.size() == 2 ? f[0].toLongLong(&ok) : 0;
        if (!ok || key <= 0) {
            LogWarning(QStringLiteral("Ключи контролей резервной копии не читаются: ") + file);
            return {};
        }
        keys.append({key, f[1] == QLatin1String("1")});
    }
    if (keys.size() != ruleCount) {
        LogWarning(QStringLiteral("Ключи контролей резервной копии не совпадают с её правилами: ") + file);
        return {};
    }
    return keys;
}

// Each rule is checked against the forms and tables of the database; a
// refused rule is not stored and is written to the log with its reason.
// With keys (a backup put back) each rule gets its key and table as before;
// without, a rule without a table gets null (a package) or "" (a backup).
void insertRules(const QSqlDatabase &db, const QList<ControlLine> &rules, const QList<ctlfile::RuleKey> &keys,
                 bool nullTable) {
    const rulecheck::RuleChecker checker(db);
    for (qsizetype i = 0; i < rules.size(); ++i) {
        const ControlLine &r = rules[i];
        qint64 key = i < keys.size() ? keys[i].key : 0;
        const rulecheck::Verdict v = rulecheck::InsertCheckedRule(
            db, checker, {r.formName, r.table, r.lft, r.reltion, r.rght, r.cycl}, r.commnt, &key,
            i < keys.size() ? keys[i].nullTable : nullTable);
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
    insertRules(db, rules, {}, true);
    return true;
}

namespace {

// The rules of the form replaced by those of the file; keysFile names the
// keys a backup keeps (empty for a package).
bool putFormControls(const QSqlDatabase &db, const QString &formName, const QString &controlFile, qint64 formId,
                     const QString &keysFile) {
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
        // A package changes only the forms it names: a rule of another form,
        // or one between forms that names none of this form's tables, is
        // one that the form's backup and its rollback would not cover.
        for (const ControlLine &r : rules)
            if (!r.formName.isEmpty() && !text::sameName(r.formName, formName)) {
                LogError(QStringLiteral("Файл контролей формы %1 содержит правило формы %2").arg(formName, r.formName));
                return false;
            }
        const QList<ctlfile::RuleKey> keys = keysFile.isEmpty() ? QList<ctlfile::RuleKey>{}
                                                                : readRuleKeys(keysFile, rules.size());
        const bool own = inTransaction(db, [&] {
            DeleteFormControls(db, formName, formId);
            insertRules(db, rules, keys, keysFile.isEmpty());
            return ctlfile::CountFormRules(db, formId, formName) == rules.size();
        });
        if (!own) {
            LogError(QStringLiteral("Файл контролей формы %1 содержит правила, не относящиеся к ней").arg(formName));
            return false;
        }
        LogInfo(QStringLiteral("Контроли формы установлены: ") + formName);
        return true;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при установке контролей формы: ") + winutil::errorText(e));
        return false;
    }
}

} // namespace

bool InstallFormControls(const QSqlDatabase &db, const QString &formName, const QString &controlFile, qint64 formId) {
    return putFormControls(db, formName, controlFile, formId, {});
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

bool ExtractUpdatePackage(const QString &archive, const QString &unpackedFolder, QString *why) {
    QString scratch;
    QString &reason = why ? *why : scratch;
    const QString manifestName = QStringLiteral("update_manifest.json");
    if (!ExtractZipArchive(archive, unpackedFolder, [&](const QString &n) { return n == manifestName; },
                           kMaxManifestBytes, &reason))
        return false;
    const QString manifest = IncludeTrailingPathSlash(unpackedFolder) + manifestName;
    TUpdateManifest m;
    if (!QFileInfo::exists(manifest))
        return true;   // the caller says that the manifest is missing
    if (!LoadManifestFromFile(m, manifest)) {
        reason = QStringLiteral("Манифест пакета обновления поврежден или неполон.");
        return false;
    }
    // Only what the manifest names: each form's structure and rule file and
    // its print files.
    QSet<QString> wanted;
    for (const FormUpdateEntry &e : m.forms) {
        if (!IsSafeFileName(e.formName))
            continue;
        const QString folder = e.formName + QLatin1Char('/');
        if (!e.formFile.isEmpty())
            wanted.insert(folder + lastComponent(e.formFile));
        if (!e.controlsFile.isEmpty())
            wanted.insert(folder + lastComponent(e.controlsFile));
        for (const QString &item : e.printFiles)
            wanted.insert(folder + QStringLiteral("Forms/") + lastComponent(item));
    }
    return ExtractZipArchive(archive, unpackedFolder, [&](const QString &n) { return wanted.contains(n); },
                             kMaxUnpackedBytes, &reason);
}

namespace {

// The print files an entry puts into the forms folder: the form's own
// template and cell mapping that the package holds.
QStringList entryPrintFiles(const FormUpdateEntry &e, const QString &formFolder) {
    QStringList out;
    for (const QString &item : e.printFiles) {
        const QString name = lastComponent(item);
        for (const char *ext : {".doc", ".txt"})
            if (name.compare(e.formName + QLatin1String(ext), Qt::CaseInsensitive) == 0
                && QFileInfo::exists(formFolder + QStringLiteral("Forms/") + name) && !out.contains(name))
                out << name;
    }
    return out;
}

// Backups of everything the entries replace, made before anything changes:
// the versions, each existing form's structure line and rules, its print
// files, and the names of the print files the update adds (the rollback
// removes those). Throws db::Error when a part cannot be written.
void makeBackup(const QSqlDatabase &db, const TUpdateManifest &m, const QString &unpacked, const QString &backup,
                const QString &yearFolder) {
    QStringList names;
    for (const FormUpdateEntry &e : m.forms)
        if (IsSafeFileName(e.formName))
            names << e.formName;
    ForceDirectoryPath(backup);
    backupVersions(db, names, backup + kVersionsBackup);
    QStringList added;
    for (const FormUpdateEntry &e : m.forms) {
        if (!IsSafeFileName(e.formName))
            continue;
        for (const QString &name : entryPrintFiles(e, unpacked + e.formName + QLatin1Char('/')))
            if (!QFileInfo::exists(yearFolder + QStringLiteral("forms/") + name))
                added << name;
        const qint64 id = ReadFormIdByName(db, e.formName);
        if (id < 0)
            continue;
        if (!e.formFile.isEmpty()) {
            ForceDirectoryPath(backup + QStringLiteral("forms_backup"));
            ExportFormStructure(db, id, backup + QStringLiteral("forms_backup/") + e.formName + QStringLiteral(".frs"));
        }
        if (!e.controlsFile.isEmpty()) {
            // The rules with their keys: a rollback puts each back under
            // the key the editor and the rule upload know it by.
            ForceDirectoryPath(backup + QStringLiteral("controls_backup"));
            const QString file = backup + QStringLiteral("controls_backup/controls_") + e.formName + QStringLiteral(".orv");
            const QList<ctlfile::RuleKey> keys = ctlfile::FormRuleKeys(db, id, e.formName);
            QList<qint64> ids;
            for (const ctlfile::RuleKey &k : keys)
                ids << k.key;
            ctlfile::WriteControlFile(file, ctlfile::ControlFileLinesForKeys(db, ids));
            writeRuleKeys(keysFileOf(file), keys);
        }
        if (!e.printFiles.isEmpty()) {
            const QString dest = backup + QStringLiteral("print_files_backup/") + e.formName + QLatin1Char('/');
            ForceDirectoryPath(dest);
            for (const char *ext : {".doc", ".txt"}) {
                const QString file = e.formName + QLatin1String(ext);
                const QString from = yearFolder + QStringLiteral("forms/") + file;
                QString why;
                if (QFileInfo(from).isFile() && !paths::copyFileOver(from, dest + file, &why))
                    throw db::Error(QStringLiteral("Не удалось сохранить резервную копию файла ") + from
                                    + QStringLiteral(": ") + why);
            }
        }
    }
    QString why;
    if (!cp1251::writeLines(backup + kAddedPrints, added, &why))
        throw db::Error(QStringLiteral("Не удалось сохранить резервную копию: ") + why);
}

} // namespace

QStringList FinishInterruptedInstall(const QSqlDatabase &db) {
    if (!DatabaseReady(db))
        return {};
    const QString forms = DatabaseFolder(db) + QStringLiteral("forms/");
    if (!QDir(forms + QStringLiteral(".update_staging")).exists())
        return {};
    const PrintStage probe(forms, QStringLiteral(".update_staging/"), PrintStage::Keep);
    const QString id = probe.markedFor();
    EnsureUpdateTables(db);
    // Marked in the transaction of its installation: when the update is
    // recorded, that transaction committed and its print files follow it.
    if (id.isEmpty()
        || !db::scalar(db, QStringLiteral("SELECT count(*) FROM updates WHERE update_id=? AND status='installed'"), {id})
                .toInt())
        return {};
    LogWarning(QStringLiteral("Печатные файлы прерванной установки обновления ставятся на место: ") + id);
    return probe.putInPlace();
}

int InstallUpdateComponents(const QSqlDatabase &db, const QString &unpackedFolder, const QString &manifestFile,
                            const QString &updateId, int year, const QString &backupFolder,
                            const InstallCommitHook &beforeCommit, InstallReport *report) {
    InstallReport scratch;
    InstallReport &out = report ? *report : scratch;
    out = {};
    if (!QFileInfo::exists(manifestFile)) {
        LogError(QStringLiteral("Манифест не найден: ") + manifestFile);
        out.reason = QStringLiteral("В пакете обновления нет манифеста.");
        return InstallNone;
    }
    TUpdateManifest m;
    if (!LoadManifestFromFile(m, manifestFile)) {
        LogError(QStringLiteral("Ошибка при загрузке манифеста"));
        out.reason = QStringLiteral("Манифест пакета обновления поврежден или неполон.");
        return InstallNone;
    }
    if (!ValidateManifest(m)) {
        LogError(QStringLiteral("Манифест не прошел валидацию"));
        out.reason = QStringLiteral("Манифест пакета обновления не прошел проверку.");
        return InstallNone;
    }
    EnsureUpdateTables(db);
    const QString yearFolder = DatabaseFolder(db);
    const QString backup = IncludeTrailingPathSlash(backupFolder);
    const QString unpacked = IncludeTrailingPathSlash(unpackedFolder);

    makeBackup(db, m, unpacked, backup, yearFolder);

    // The database changes of every entry in one transaction, the print files
    // staged meanwhile: the update is installed as one or not at all.
    FinishInterruptedInstall(db);
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
            else
                out.reason = QStringLiteral("Форма %1 пакета обновления не может быть установлена; подробности в журнале обновлений.")
                                 .arg(e.formName);
        }
        if (installed != m.forms.size())
            return false;
        if (beforeCommit)
            beforeCommit();
        stage.markFor(updateId);
        return true;
    });
    Q_UNUSED(year);
    if (!committed) {
        LogWarning(QStringLiteral("Изменения обновления %1 отменены: установлены не все формы").arg(updateId));
        if (out.reason.isEmpty())
            out.reason = QStringLiteral("Недопустимое имя формы в манифесте пакета обновления.");
        return InstallNone;
    }
    out.committed = true;
    // The database holds the update: now the print files follow it.
    out.notReplaced = stage.putInPlace();
    return out.notReplaced.isEmpty() ? InstallAll : InstallSome;
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
        const bool ok = putFormControls(db, formName, controlFile, formId, keysFileOf(controlFile));
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

QStringList UpdateFormsOfBackup(const QString &backupFolder) {
    const QString backup = IncludeTrailingPathSlash(backupFolder);
    QStringList out, lines;
    if (cp1251::readLines(backup + kVersionsBackup, lines)) {
        for (const QString &line : lines) {
            QStringList f;
            if (quoted::split(line, f) && !f.isEmpty())
                out << f[0];
        }
        return out;
    }
    // A backup made before the versions were kept: the forms it holds.
    for (const QString &e : QDir(backup + QStringLiteral("forms_backup")).entryList({QStringLiteral("*.frs")}, QDir::Files))
        out << e.chopped(4);
    for (const QString &e : QDir(backup + QStringLiteral("controls_backup")).entryList({QStringLiteral("controls_*.orv")}, QDir::Files))
        out << e.mid(9, e.size() - 13);
    out << QDir(backup + QStringLiteral("print_files_backup")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    out.removeDuplicates();
    return out;
}

bool RollbackUpdateFromBackup(const QSqlDatabase &db, const QString &backupFolder, const QString &updateId,
                              const InstallCommitHook &beforeCommit, QString *why) {
    QString scratch;
    QString &reason = why ? *why : scratch;
    reason.clear();
    const QString backup = IncludeTrailingPathSlash(backupFolder);
    if (!QDir(backupFolder).exists()) {
        LogError(QStringLiteral("Резервная копия не найдена: ") + backupFolder);
        reason = QStringLiteral("Резервная копия обновления не найдена: ") + backupFolder;
        return false;
    }
    bool applied = false;
    std::optional<PrintSwap> prints;
    try {
        LogInfo(QStringLiteral("Начат откат обновления: ") + updateId);
        // The print files first: their copies are prepared beside the forms
        // folder before anything changes, so a full disk stops the rollback
        // here with everything as it was.
        prints.emplace(DatabaseFolder(db) + QStringLiteral("forms/"));
        const QDir printBackup(backup + QStringLiteral("print_files_backup"));
        QStringList restored;
        for (const QString &form : printBackup.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            for (const char *ext : {".doc", ".txt"}) {
                const QString name = form + QLatin1String(ext);
                const QString from = printBackup.filePath(form + QLatin1Char('/') + name);
                if (!QFileInfo::exists(from))
                    continue;
                if (!prints->replace(from, name, &reason)) {
                    LogError(reason);
                    return false;
                }
                restored << name;
            }
        QStringList added;
        if (QFileInfo::exists(backup + kAddedPrints) && !cp1251::readLines(backup + kAddedPrints, added)) {
            reason = QStringLiteral("Резервная копия не читается: ") + backup + kAddedPrints;
            LogError(reason);
            return false;
        }
        for (const QString &name : added)
            if (IsSafeFileName(name) && !restored.contains(name, Qt::CaseInsensitive))
                prints->remove(name);

        // Restored whole or not at all: one part that cannot be put back
        // leaves the database and the print files as the update made them.
        const bool done = inTransaction(db, [&] {
            const QDir forms(backup + QStringLiteral("forms_backup"));
            for (const QString &entry : forms.entryList({QStringLiteral("*.frs")}, QDir::Files, QDir::Name)) {
                const QString name = entry.left(entry.size() - 4);
                const qint64 id = ReadFormIdByName(db, name);
                if (id >= 0 && !RestoreFormFromBackup(db, name, forms.filePath(entry), id)) {
                    reason = QStringLiteral("Резервная копия формы %1 не может быть восстановлена.").arg(name);
                    return false;
                }
            }
            const QDir controls(backup + QStringLiteral("controls_backup"));
            for (const QString &entry : controls.entryList({QStringLiteral("controls_*.orv")}, QDir::Files, QDir::Name)) {
                const QString name = entry.mid(9, entry.size() - 13);
                const qint64 id = ReadFormIdByName(db, name);
                if (id >= 0 && !RestoreControlsFromBackup(db, name, controls.filePath(entry), id)) {
                    reason = QStringLiteral("Резервная копия контролей формы %1 не может быть восстановлена.").arg(name);
                    return false;
                }
            }
            if (!restoreVersions(db, backup + kVersionsBackup)) {
                reason = QStringLiteral("Резервная копия версий форм не читается: ") + backup + kVersionsBackup;
                LogError(reason);
                return false;
            }
            if (beforeCommit)
                beforeCommit();
            // Last before the commit: a failed swap is undone with the database.
            applied = prints->apply(&reason);
            if (!applied)
                LogError(reason);
            return applied;
        });
        if (!done) {
            LogError(QStringLiteral("Откат обновления не выполнен: ") + updateId);
            return false;
        }
        LogInfo(QStringLiteral("Откат обновления завершен: ") + updateId);
        return true;
    } catch (const std::exception &e) {
        if (applied && prints)
            prints->undo();
        reason = winutil::errorText(e);
        LogError(QStringLiteral("Исключение при откате обновления: ") + reason);
        return false;
    }
}
