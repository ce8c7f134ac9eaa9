#include "updates/UpdateInstaller.h"

#include "engine/TextUtil.h"
#include "engine/CatalogGate.h"
#include "forms/structure/FormCatalogLogic.h"
#include "engine/RuleCheck.h"
#include "engine/ControlFileLines.h"
#include "engine/EngineError.h"
#include "engine/FormStructureFile.h"
#include "platform/Errors.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "platform/office/Convert.h"
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

// The print files of a form: its Word template (either kind) and its cell mapping.
const char *const kPrintExts[] = {".doc", ".docx", ".txt"};

// The name a form is stored under (a manifest may name it in another letter
// case); the name itself when no form has it.
QString storedFormName(const QSqlDatabase &db, const QString &name) {
    const std::optional<gate::FoundForm> f = gate::findForm(db, name);
    return f ? f->formname : name;
}

std::function<void(const char *)> &stepObserver() {
    static std::function<void(const char *)> observer;
    return observer;
}

void rollbackStep(const char *step) {
    if (stepObserver())
        stepObserver()(step);
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
    // A file of the forms folder to remove with the moves (a template of the
    // other kind, which the print would take before the new one).
    void removeAfter(const QString &name) {
        if (!m_removals.contains(name))
            m_removals << name;
    }
    // Marks the staged files as those of the update, with the files to
    // remove: written in the installation's transaction, before its commit.
    // Throws db::Error.
    void markFor(const QString &updateId) const {
        if (!QDir(m_stage).exists())
            return;   // nothing staged
        QString why;
        if (!cp1251::writeLines(m_stage + kPendingMark, QStringList{updateId} + m_removals, &why))
            throw db::Error(QStringLiteral("Не удалось подготовить печатные файлы: ") + why);
    }
    // The mark: the update whose staged files these are, then the files to
    // remove (empty when unmarked).
    QStringList mark() const {
        QStringList lines;
        return cp1251::readLines(m_stage + kPendingMark, lines) ? lines : QStringList();
    }
    // Moves every staged file over its destination, each tried again a few
    // times, then removes the marked files; the files that could not be put
    // in place or removed, with the reason.
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
        for (const QString &name : mark().mid(1)) {
            if (!IsSafeFileName(name) || !QFileInfo::exists(m_forms + name))
                continue;
            if (QFile::remove(m_forms + name)) {
                LogInfo(QStringLiteral("Удален прежний шаблон: ") + name);
            } else {
                LogError(QStringLiteral("Не удалось удалить прежний шаблон: ") + m_forms + name);
                failed << m_forms + name + QStringLiteral(" (не удалось удалить)");
            }
        }
        return failed;
    }
    static inline const QString kPendingMark = QStringLiteral(".update_id");
private:
    QString m_forms, m_stage;
    QStringList m_removals;
};

// Print files replaced and removed all together or not at all, also across
// a kill: the new files are prepared beside their folder first (where a full
// disk shows), the plan of the swap is written there, then the renames are
// made, each replaced file kept aside until the database committed. A run
// stopped before its commit is undone from the plan at the next start, one
// stopped after it is only cleared (FinishInterruptedRollback).
class PrintSwap {
public:
    static inline const QString kStage = QStringLiteral(".rollback_staging/");
    static inline const QString kOld = QStringLiteral(".rollback_old/");
    static inline const QString kPlan = QStringLiteral(".rollback_plan");

    explicit PrintSwap(const QString &formsFolder) : m_forms(formsFolder) { clear(); }
    ~PrintSwap() {
        if (m_clearAtEnd)
            clear();
    }
    // Prepares a copy of from to replace the file name of the folder.
    bool replace(const QString &from, const QString &name, QString *why) {
        ForceDirectoryPath(stage());
        QString reason;
        if (!paths::copyFileOver(from, stage() + name, &reason)) {
            *why = QStringLiteral("Не удалось подготовить печатный файл ") + m_forms + name + QStringLiteral(": ") + reason;
            return false;
        }
        m_steps.append({name, true});
        return true;
    }
    void remove(const QString &name) { m_steps.append({name, false}); }
    // Writes the plan, then puts every prepared change in place; on failure
    // everything is as before. Throws db::Error when the plan cannot be written.
    bool apply(const QString &updateId, QString *why) {
        QStringList plan{updateId};
        for (const Step &s : m_steps)
            plan << quoted::join({s.name, s.put ? QStringLiteral("1") : QStringLiteral("0")});
        ForceDirectoryPath(stage());
        QString reason;
        if (!cp1251::writeLines(stage() + kPlan, plan, &reason))
            throw db::Error(QStringLiteral("Не удалось подготовить печатные файлы: ") + reason);
        m_planned = true;
        rollbackStep("planned");
        ForceDirectoryPath(old());
        for (const Step &s : m_steps) {
            const QString target = m_forms + s.name;
            if (QFileInfo::exists(target) && !renameOver(target, old() + s.name, &reason)) {
                *why = QStringLiteral("Не удалось заменить печатный файл ") + target + QStringLiteral(": ") + reason;
                undo();
                return false;
            }
            rollbackStep("set aside");
            if (s.put && !renameOver(stage() + s.name, target, &reason)) {
                *why = QStringLiteral("Не удалось заменить печатный файл ") + target + QStringLiteral(": ") + reason;
                undo();
                return false;
            }
            rollbackStep("put");
        }
        return true;
    }
    // Brings back what apply changed, by its plan.
    void undo() {
        if (m_planned)
            undoPlan(m_forms);
        m_planned = false;
    }
    // The database committed: the swap stays; logged, then cleared.
    void keep() {
        for (const Step &s : m_steps)
            LogInfo((s.put ? QStringLiteral("Восстановлен печатный файл: ")
                           : QStringLiteral("Удален печатный файл, добавленный обновлением: "))
                    + s.name);
        m_planned = false;
    }
    // Keeps the files of a run that died (for the tests of a kill).
    void leaveForNextStart() { m_clearAtEnd = false; }

    // The plan left in the folder: the update's id, then one line a step.
    static QStringList plan(const QString &forms) {
        QStringList lines;
        return cp1251::readLines(forms + kStage + kPlan, lines) ? lines : QStringList();
    }
    // The update of a plan left in the folder; empty when there is none.
    static QString plannedUpdate(const QString &forms) { return plan(forms).value(0); }
    // Undoes the renames of the plan left in the folder.
    static void undoPlan(const QString &forms) {
        const QStringList plan = PrintSwap::plan(forms);
        for (qsizetype i = plan.size() - 1; i >= 1; --i) {
            QStringList f;
            if (!quoted::split(plan[i], f) || f.size() != 2 || !IsSafeFileName(f[0]))
                continue;
            const QString target = forms + f[0];
            if (QFileInfo::exists(forms + kOld + f[0])) {
                renameOver(forms + kOld + f[0], target, nullptr);
            } else if (f[1] == QLatin1String("1") && !QFileInfo::exists(forms + kStage + f[0])) {
                QFile::remove(target);   // put where there was none
            }
        }
    }
    static void clearFolders(const QString &forms) {
        QDir(forms + kStage).removeRecursively();
        QDir(forms + kOld).removeRecursively();
    }

private:
    struct Step {
        QString name;
        bool put;   // a new file goes in (else the file is removed)
    };
    QString stage() const { return m_forms + kStage; }
    QString old() const { return m_forms + kOld; }
    void clear() { clearFolders(m_forms); }
    QString m_forms;
    QList<Step> m_steps;
    bool m_planned = false;
    bool m_clearAtEnd = true;
};

const QString kVersionsBackup = QStringLiteral("form_versions_backup.txt");
// Print files the update added to the forms folder, one name a line.
const QString kAddedPrints = QStringLiteral("added_print_files.txt");

// Installed versions of the forms before the installation, one line each:
// form name, "1" with its form and rules versions and the date of its last
// update ("0" in its place when it had none), or "0" when it had no row.
void backupVersions(const QSqlDatabase &db, const QStringList &forms, const QString &file) {
    QStringList lines;
    for (const QString &form : forms) {
        QSqlQuery q = db::exec(db,
                               QStringLiteral("SELECT form_version, controls_version, last_update_date FROM "
                                              "installed_form_versions WHERE form_name=?"),
                               {form});
        if (!q.next()) {
            lines << quoted::join({form, QStringLiteral("0"), QString(), QString()});
            continue;
        }
        const QVariant date = q.value(2);
        lines << quoted::join({form, QStringLiteral("1"), q.value(0).toString(), q.value(1).toString(),
                               date.isNull() ? QStringLiteral("0") : QStringLiteral("1") + date.toString()});
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
        if (!quoted::split(line, f) || f.size() < 4 || f.size() > 5)
            return false;
        db::exec(db, QStringLiteral("DELETE FROM installed_form_versions WHERE form_name=?"), {f[0]});
        // The date as it was; a backup made before dates were kept has none.
        const QString date = f.value(4);
        if (f[1] == QLatin1String("1"))
            db::exec(db,
                     QStringLiteral("INSERT INTO installed_form_versions (form_name, form_version, controls_version, "
                                    "last_update_date) VALUES (?, ?, ?, ?)"),
                     {f[0], f[2], f[3],
                      date.startsWith(QLatin1Char('1')) ? QVariant(date.mid(1)) : QVariant(QMetaType(QMetaType::QString))});
    }
    return true;
}

using ctlfile::ControlLine;

// Every rule line of a control file. False when the file cannot be read or
// a non-blank line is not a line of seven quoted fields: such a file is not
// installed at all.
bool readRuleLines(const QString &fileName, QList<ControlLine> &rules) {
    QStringList lines;
    QString why;
    if (!cp1251::readLines(fileName, lines, &why)) {
        // The reason (another encoding, no access) is what the user needs.
        LogError(QStringLiteral("Файл контролей не читается: ") + fileName + QStringLiteral(": ") + why);
        return false;
    }
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

// Each rule of a package is checked against the forms and tables of the
// database; a refused rule is not stored and is written to the log with its
// reason. Returns how many were refused.
int insertRules(const QSqlDatabase &db, const QList<ControlLine> &rules) {
    const rulecheck::RuleChecker checker(db);
    int refused = 0;
    for (const ControlLine &r : rules) {
        const rulecheck::Verdict v = rulecheck::InsertCheckedRule(
            db, checker, {r.formName, r.table, r.lft, r.reltion, r.rght, r.cycl}, r.commnt, nullptr, true);
        if (!v) {
            ++refused;
            LogError(QStringLiteral("Контроль не установлен: ") + v.reason + QStringLiteral(". Строка: ")
                     + ctlfile::FormatControlLine(r));
        }
    }
    return refused;
}

// The rules of a backup put back as they were stored, under their keys when
// the backup keeps them (without, a rule without a table gets ""). A rule
// the check refuses today is put back all the same and named in unchecked.
// A rule between forms that an earlier file of the same backup put back
// (it belongs to two of its forms) is not put back twice.
void restoreRules(const QSqlDatabase &db, const QList<ControlLine> &rules, const QList<ctlfile::RuleKey> &keys,
                  QSet<QString> &betweenForms, QStringList &unchecked) {
    const rulecheck::RuleChecker checker(db);
    for (qsizetype i = 0; i < rules.size(); ++i) {
        const ControlLine &r = rules[i];
        const QString line = ctlfile::FormatControlLine(r);
        if (r.formName.isEmpty()) {
            // Told by its key, or by its text where a backup's keys do not read.
            const QString byKey = i < keys.size() ? QStringLiteral("k") + QString::number(keys[i].key) : QString();
            const QString byText = QStringLiteral("t") + line;
            if (betweenForms.contains(byText) || (!byKey.isEmpty() && betweenForms.contains(byKey)))
                continue;
            betweenForms.insert(byText);
            if (!byKey.isEmpty())
                betweenForms.insert(byKey);
        }
        qint64 key = i < keys.size() ? keys[i].key : 0;
        const rulecheck::Restored done = rulecheck::RestoreRule(
            db, checker, {r.formName, r.table, r.lft, r.reltion, r.rght, r.cycl}, r.commnt, &key,
            i < keys.size() && keys[i].nullTable);
        if (!done.stored) {
            LogError(QStringLiteral("Контроль не восстановлен: ") + done.verdict.reason + QStringLiteral(". Строка: ") + line);
            throw db::Error(QStringLiteral("Контроль резервной копии не может быть восстановлен: ") + line);
        }
        if (!done.verdict) {
            LogWarning(QStringLiteral("Восстановлен контроль, который не проходит проверку: ") + done.verdict.reason
                       + QStringLiteral(". Строка: ") + line);
            unchecked << line + QStringLiteral(" (") + done.verdict.reason + QLatin1Char(')');
        }
    }
}

// Keys of rules, one a line.
const QString kInstalledRuleKeys = QStringLiteral("installed_rule_keys.txt");

bool readKeyList(const QString &file, QList<qint64> &keys) {
    QStringList lines;
    if (!QFileInfo::exists(file) || !cp1251::readLines(file, lines))
        return false;
    for (const QString &line : lines) {
        bool ok = false;
        const qint64 k = line.trimmed().toLongLong(&ok);
        if (ok && k > 0)
            keys << k;
    }
    return true;
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
    // The flag may also be written "True" or "False", by its meaning.
    const QString flag = line.section(QLatin1Char('#'), 2);
    bool net = false;
    if (flag == QStringLiteral("Да") || flag == QStringLiteral("True"))
        net = true;
    else if (flag != QStringLiteral("Нет") && flag != QStringLiteral("False"))
        return std::nullopt;
    frs::Form form;
    try {
        form = frs::parse({line.section(QLatin1Char('#'), 0, 1) + QLatin1Char('#') + (net ? QStringLiteral("Да")
                                                                                         : QStringLiteral("Нет"))});
    } catch (const EngineError &) {
        return std::nullopt;
    }
    if (form.formname.trimmed().isEmpty())
        return std::nullopt;
    return FormHeaderLine{form.formname, form.decipher, net};
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
    if (!expectedName.isEmpty() && !gate::sameName(h->name, expectedName)) {
        LogError(QStringLiteral("Файл структуры описывает другую форму: ") + h->name);
        return false;
    }
    // Through the catalogue gate: a form stored under another letter case
    // is updated and keeps its name, a name it refuses installs nothing.
    gate::putForm(db, h->name, h->decipher, h->net);
    return true;
}

namespace {

// A form not in the database yet, installed whole: its form line, its tables
// with their rows, columns and titles, as the catalogue imports a structure file.
bool installNewForm(const QSqlDatabase &db, const QString &structureFile, const QString &expectedName) {
    if (!QFileInfo::exists(structureFile))
        return false;
    QStringList lines;
    frs::Form form;
    try {
        lines = frs::readLines(structureFile);
        const std::optional<FormHeaderLine> h = lines.isEmpty() ? std::nullopt : ParseFormHeaderLine(lines.first());
        if (!h) {
            LogError(QStringLiteral("Строка формы в файле структуры не читается однозначно: ") + lines.value(0));
            return false;
        }
        form = frs::parse(lines, [](const QString &warning) { LogWarning(warning); });
        form.net = h->net;
    } catch (const EngineError &e) {
        LogError(e.message());
        return false;
    }
    if (!expectedName.isEmpty() && !gate::sameName(form.formname, expectedName)) {
        LogError(QStringLiteral("Файл структуры описывает другую форму: ") + form.formname);
        return false;
    }
    catalog::importFrs(db, form);
    return true;
}

} // namespace

bool InstallFormStructure(const QSqlDatabase &db, const QString &formName, const QString &structureFile, qint64 formId) {
    try {
        LogInfo(QStringLiteral("Установка структуры формы: ") + formName);
        // A form already here gets its form line only: its tables hold the
        // user's values.
        const bool ok = formId < 0 ? installNewForm(db, structureFile, formName)
                                   : InstallFormHeader(db, structureFile, formName);
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
    insertRules(db, rules);
    return true;
}

namespace {

// The rules of the form replaced by those of a package's file.
bool putFormControls(const QSqlDatabase &db, const QString &formName, const QString &controlFile, qint64 formId) {
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
            if (!r.formName.isEmpty() && !gate::sameName(r.formName, formName)) {
                LogError(QStringLiteral("Файл контролей формы %1 содержит правило формы %2").arg(formName, r.formName));
                return false;
            }
        const QString stored = storedFormName(db, formName);
        int refused = 0;
        const bool own = inTransaction(db, [&] {
            DeleteFormControls(db, stored, formId);
            refused = insertRules(db, rules);
            return refused == 0 && ctlfile::CountFormRules(db, formId, stored) == rules.size();
        });
        if (refused > 0) {
            LogError(QStringLiteral("Контроли формы %1 не установлены: правил, не прошедших проверку, — %2. "
                                    "Контроли формы остались прежними")
                         .arg(formName)
                         .arg(refused));
            return false;
        }
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

// The rules of a backup's file put back (see restoreRules).
bool restoreFormControls(const QSqlDatabase &db, const QString &formName, const QString &controlFile,
                         QSet<QString> &betweenForms, QStringList &unchecked) {
    if (!QFileInfo::exists(controlFile)) {
        LogWarning(QStringLiteral("Резервная копия контролей не найдена: ") + controlFile);
        return false;
    }
    try {
        LogInfo(QStringLiteral("Восстановление контролей из резервной копии: ") + formName);
        QList<ControlLine> rules;
        if (!readRuleLines(controlFile, rules)) {
            LogError(QStringLiteral("Ошибка при восстановлении контролей: ") + formName);
            return false;
        }
        const QList<ctlfile::RuleKey> keys = readRuleKeys(keysFileOf(controlFile), rules.size());
        db::transaction(db, [&] { restoreRules(db, rules, keys, betweenForms, unchecked); });
        LogInfo(QStringLiteral("Контроли восстановлены: ") + formName);
        return true;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при восстановлении контролей: ") + winutil::errorText(e));
        return false;
    }
}

} // namespace

bool InstallFormControls(const QSqlDatabase &db, const QString &formName, const QString &controlFile, qint64 formId) {
    return putFormControls(db, formName, controlFile, formId);
}

namespace {

// The extension of a print file of the form ("" when the name is not one).
QString printExtension(const QString &name, const QString &formName) {
    for (const char *ext : kPrintExts)
        if (gate::sameName(name, formName + QLatin1String(ext)))
            return QLatin1String(ext);
    return {};
}

} // namespace

bool CopyPrintFiles(const QString &sourceFolder, const QString &destFolder, const QStringList &items,
                    const QString &formName, const QString &targetName) {
    ForceDirectoryPath(destFolder);
    bool ok = true;
    for (const QString &item : items) {
        const QString name = lastComponent(item);
        if (name.isEmpty())
            continue;
        // Only the form's own template and cell mapping: the rollback puts
        // back nothing else, so another file replaced here would be lost.
        const QString ext = formName.isEmpty() ? QString() : printExtension(name, formName);
        if (!formName.isEmpty() && ext.isEmpty()) {
            LogWarning(QStringLiteral("Пропущен чужой печатный файл: ") + name);
            continue;
        }
        const QString from = IncludeTrailingPathSlash(sourceFolder) + name;
        if (!QFileInfo::exists(from))
            continue;
        // Under the name of the form as stored: "ф30.txt" of a package is Ф30's.
        const QString to = targetName.isEmpty() || ext.isEmpty() ? name : targetName + ext;
        // Logged when it is put in place (PrintStage::putInPlace), once.
        if (!paths::copyFileOver(from, IncludeTrailingPathSlash(destFolder) + to)) {
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
    if (!LoadManifestFromFile(m, manifest, &reason))
        return false;
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
                             office::kMaxUnpackedBytes, &reason);
}

namespace {

// The name the entry's form has in the database after the installation:
// the stored name of a form already here, else the name of the structure
// file's form line, else the manifest's.
QString entryTargetName(const QSqlDatabase &db, const FormUpdateEntry &e, const QString &formFolder) {
    if (const std::optional<gate::FoundForm> f = gate::findForm(db, e.formName))
        return f->formname;
    if (!e.formFile.isEmpty()) {
        try {
            const QStringList lines = frs::readLines(formFolder + lastComponent(e.formFile));
            if (const std::optional<FormHeaderLine> h = ParseFormHeaderLine(lines.value(0)))
                if (gate::sameName(h->name, e.formName))
                    return h->name.trimmed();
        } catch (const EngineError &) {
        }
    }
    return e.formName;
}

// The print files an entry puts into the forms folder, under the form's name
// as stored: the form's own templates and cell mapping that the package holds.
QStringList entryPrintFiles(const FormUpdateEntry &e, const QString &formFolder, const QString &target) {
    QStringList out;
    for (const QString &item : e.printFiles) {
        const QString name = lastComponent(item);
        const QString ext = printExtension(name, e.formName);
        if (!ext.isEmpty() && QFileInfo::exists(formFolder + QStringLiteral("Forms/") + name)
            && !out.contains(target + ext))
            out << target + ext;
    }
    return out;
}

// Backups of everything the entries replace, made before anything changes:
// the versions, each existing form's structure line and rules (with their
// keys), its print files, and the names of the print files the update adds
// (the rollback removes those). Files are named by the form as stored.
// Throws db::Error when a part cannot be written.
void makeBackup(const QSqlDatabase &db, const TUpdateManifest &m, const QString &unpacked, const QString &backup,
                const QString &yearFolder) {
    QStringList names;
    for (const FormUpdateEntry &e : m.forms)
        if (IsSafeFileName(e.formName))
            names << entryTargetName(db, e, unpacked + e.formName + QLatin1Char('/'));
    ForceDirectoryPath(backup);
    backupVersions(db, names, backup + kVersionsBackup);
    QStringList added;
    for (const FormUpdateEntry &e : m.forms) {
        if (!IsSafeFileName(e.formName))
            continue;
        const QString formFolder = unpacked + e.formName + QLatin1Char('/');
        const QString name = entryTargetName(db, e, formFolder);
        const qint64 id = ReadFormIdByName(db, e.formName);
        // A form the update creates stays at its rollback, and so do its
        // print files: without them it could not be printed.
        if (id < 0)
            continue;
        for (const QString &file : entryPrintFiles(e, formFolder, name))
            if (!QFileInfo::exists(yearFolder + QStringLiteral("forms/") + file))
                added << file;
        if (!e.formFile.isEmpty()) {
            ForceDirectoryPath(backup + QStringLiteral("forms_backup"));
            ExportFormStructure(db, id, backup + QStringLiteral("forms_backup/") + name + QStringLiteral(".frs"));
        }
        if (!e.controlsFile.isEmpty()) {
            // The rules with their keys: a rollback puts each back under
            // the key the editor and the rule upload know it by.
            ForceDirectoryPath(backup + QStringLiteral("controls_backup"));
            const QString file = backup + QStringLiteral("controls_backup/controls_") + name + QStringLiteral(".orv");
            const QList<ctlfile::RuleKey> keys = ctlfile::FormRuleKeys(db, id, name);
            QList<qint64> ids;
            for (const ctlfile::RuleKey &k : keys)
                ids << k.key;
            ctlfile::WriteControlFile(file, ctlfile::ControlFileLinesForKeys(db, ids));
            writeRuleKeys(keysFileOf(file), keys);
        }
        if (!e.printFiles.isEmpty()) {
            const QString dest = backup + QStringLiteral("print_files_backup/") + name + QLatin1Char('/');
            ForceDirectoryPath(dest);
            for (const char *ext : kPrintExts) {
                const QString file = name + QLatin1String(ext);
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

// The keys of the rules an installation put in, kept beside its backup in
// the installation's transaction: the rules of each form that was here
// before (and so has a backup) whose rules the update replaced. A form the
// update created keeps its rules at a rollback, as it keeps its line.
void recordInstalledRules(const QSqlDatabase &db, const TUpdateManifest &m, const QList<bool> &existed,
                          const QString &backup) {
    QStringList lines;
    QSet<qint64> seen;
    for (qsizetype i = 0; i < m.forms.size(); ++i) {
        const FormUpdateEntry &e = m.forms[i];
        if (!existed.value(i) || e.controlsFile.isEmpty())
            continue;
        const std::optional<gate::FoundForm> f = gate::findForm(db, e.formName);
        if (!f)
            continue;
        for (const ctlfile::RuleKey &k : ctlfile::FormRuleKeys(db, f->id, f->formname))
            if (!seen.contains(k.key)) {
                seen.insert(k.key);
                lines << QString::number(k.key);
            }
    }
    QString why;
    if (!cp1251::writeLines(backup + kInstalledRuleKeys, lines, &why))
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
    const QString id = probe.mark().value(0);
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
    if (!LoadManifestFromFile(m, manifestFile, &out.reason)) {
        LogError(QStringLiteral("Ошибка при загрузке манифеста"));
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
    QStringList bothKinds;   // forms whose package holds a template of each kind
    int installed = 0;
    QList<bool> existed;
    for (const FormUpdateEntry &e : m.forms)
        existed << (IsSafeFileName(e.formName) && ReadFormIdByName(db, e.formName) >= 0);
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
                    SetInstalledFormVersion(db, storedFormName(db, e.formName), e.formVersion);
            }
            // From here on the form is named as stored.
            const QString name = storedFormName(db, e.formName);
            if (ok && !e.controlsFile.isEmpty()) {
                ok = InstallFormControls(db, name, formFolder + lastComponent(e.controlsFile),
                                         ReadFormIdByName(db, e.formName));
                if (ok && !e.controlsVersion.isEmpty())
                    SetInstalledControlsVersion(db, name, e.controlsVersion);
            }
            if (ok && !e.printFiles.isEmpty()) {
                ok = CopyPrintFiles(formFolder + QStringLiteral("Forms"), stage.folder(), e.printFiles, e.formName,
                                    name);
                // A template of one kind replaces the form's template of the
                // other kind too: the print would take that one first.
                const bool doc = QFileInfo::exists(stage.folder() + name + QStringLiteral(".doc"));
                const bool docx = QFileInfo::exists(stage.folder() + name + QStringLiteral(".docx"));
                if (doc != docx)
                    stage.removeAfter(name + (doc ? QStringLiteral(".docx") : QStringLiteral(".doc")));
                else if (doc && !bothKinds.contains(name))
                    bothKinds << name;
            }
            if (ok)
                ++installed;
            else
                out.reason = QStringLiteral("Форма %1 пакета обновления не может быть установлена; подробности в журнале обновлений.")
                                 .arg(e.formName);
        }
        if (installed != m.forms.size())
            return false;
        recordInstalledRules(db, m, existed, backup);
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
    // Both kinds keep the dates they had at the publisher's, so the print
    // takes the one the publisher changed last, as it did there (equal dates:
    // the .docx). Which one it is goes to the log.
    for (const QString &name : bothKinds) {
        const QString forms = yearFolder + QStringLiteral("forms/");
        const QString taken = office::newerTemplate(forms + name + QStringLiteral(".doc"), QStringLiteral("docx"));
        LogInfo(QStringLiteral("Пакет содержит шаблоны формы %1 обоих видов; печать возьмет %2")
                    .arg(name, QFileInfo(taken).fileName()));
    }
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
    // The form's whole rule set replaced by the backup's.
    QSet<QString> betweenForms;
    QStringList unchecked;
    try {
        return inTransaction(db, [&] {
            DeleteFormControls(db, storedFormName(db, formName), formId);
            return restoreFormControls(db, formName, controlFile, betweenForms, unchecked);
        });
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при восстановлении контролей: ") + winutil::errorText(e));
        return false;
    }
}

namespace {

QString ruleText(const ControlLine &r) { return r.lft + QLatin1Char(' ') + r.reltion + QLatin1Char(' ') + r.rght; }

// The rule lines of a backup's control file (none when unreadable).
QList<ControlLine> backupRules(const QString &file) {
    QList<ControlLine> rules;
    if (!readRuleLines(file, rules))
        rules.clear();
    return rules;
}

} // namespace

UpdateTouched TouchedByUpdate(const QSqlDatabase &db, const QString &backupFolder) {
    const QString backup = IncludeTrailingPathSlash(backupFolder);
    UpdateTouched t;
    t.forms = UpdateFormsOfBackup(backupFolder);
    const QDir controls(backup + QStringLiteral("controls_backup"));
    for (const QString &entry : controls.entryList({QStringLiteral("controls_*.orv")}, QDir::Files, QDir::Name)) {
        t.ruleForms << entry.mid(9, entry.size() - 13);
        const QString file = controls.filePath(entry);
        const QList<ControlLine> rules = backupRules(file);
        const QList<ctlfile::RuleKey> keys = readRuleKeys(keysFileOf(file), rules.size());
        for (qsizetype i = 0; i < rules.size(); ++i) {
            const qint64 key = i < keys.size() ? keys[i].key : 0;
            if (key > 0)
                t.ruleKeys.insert(key);
            if (rules[i].formName.isEmpty())
                t.betweenForms.append({key, rules[i]});
        }
    }
    // The rules it put in, as they are now; a backup made before those were
    // kept counts the rules of its forms as they are now.
    QList<qint64> inserted;
    if (!readKeyList(backup + kInstalledRuleKeys, inserted) && DatabaseReady(db))
        for (const QString &form : t.ruleForms)
            if (const std::optional<gate::FoundForm> f = gate::findForm(db, form))
                for (const ctlfile::RuleKey &k : ctlfile::FormRuleKeys(db, f->id, f->formname))
                    inserted << k.key;
    for (const qint64 key : inserted) {
        t.ruleKeys.insert(key);
        if (!DatabaseReady(db))
            continue;
        const QStringList line = ctlfile::ControlFileLinesForKeys(db, {key});
        if (const std::optional<ControlLine> r = ctlfile::ParseControlLine(line.value(0)); r && r->formName.isEmpty())
            t.betweenForms.append({key, *r});
    }
    return t;
}

QString SharedChange(const UpdateTouched &earlier, const UpdateTouched &later) {
    for (const QString &a : earlier.forms)
        for (const QString &b : later.forms)
            if (gate::sameName(a, b))
                return QStringLiteral("Форму ") + a;
    const auto rule = [](const ControlLine &r) { return QStringLiteral("Контроль между формами ") + ruleText(r); };
    for (const auto &[key, r] : earlier.betweenForms)
        if (key > 0 && later.ruleKeys.contains(key))
            return rule(r);
    for (const auto &[key, r] : later.betweenForms)
        if (key > 0 && earlier.ruleKeys.contains(key))
            return rule(r);
    // A rule between forms of one that names a form whose rules the other replaced.
    for (const auto &[key, r] : earlier.betweenForms)
        for (const QString &form : later.ruleForms)
            if (ctlfile::RuleNamesForm(r, form))
                return rule(r);
    for (const auto &[key, r] : later.betweenForms)
        for (const QString &form : earlier.ruleForms)
            if (ctlfile::RuleNamesForm(r, form))
                return rule(r);
    return {};
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

QStringList FinishInterruptedRollback(const QSqlDatabase &db) {
    if (!DatabaseReady(db))
        return {};
    const QString forms = DatabaseFolder(db) + QStringLiteral("forms/");
    if (!QDir(forms + PrintSwap::kStage).exists() && !QDir(forms + PrintSwap::kOld).exists())
        return {};
    const QString id = PrintSwap::plannedUpdate(forms);
    if (!id.isEmpty()) {
        EnsureUpdateTables(db);
        // The mark of the rollback is written in its transaction: an update
        // still installed means that transaction did not commit.
        const bool committed =
            !db::scalar(db, QStringLiteral("SELECT count(*) FROM updates WHERE update_id=? AND status='installed'"), {id})
                 .toInt();
        if (committed) {
            LogWarning(QStringLiteral("Откат обновления был прерван после записи в базу; печатные файлы оставлены восстановленными: ") + id);
        } else {
            LogWarning(QStringLiteral("Откат обновления был прерван; печатные файлы возвращены как были: ") + id);
            PrintSwap::undoPlan(forms);
        }
    }
    PrintSwap::clearFolders(forms);
    return {};
}

void FinishInterruptedUpdates(const QSqlDatabase &db) {
    try {
        FinishInterruptedInstall(db);
        FinishInterruptedRollback(db);
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Не удалось завершить прерванное обновление: ") + winutil::errorText(e));
    }
}

void SetRollbackStepObserver(const std::function<void(const char *step)> &observer) { stepObserver() = observer; }

namespace {

// The first form the backup holds (its structure, rules or print files) that
// the catalogue no longer has: the form existed when the update was
// installed, so it was renamed or deleted since.
QString formGoneSinceBackup(const QSqlDatabase &db, const QString &backup) {
    QStringList names;
    for (const QString &e : QDir(backup + QStringLiteral("forms_backup")).entryList({QStringLiteral("*.frs")}, QDir::Files, QDir::Name))
        names << e.left(e.size() - 4);
    for (const QString &e :
         QDir(backup + QStringLiteral("controls_backup")).entryList({QStringLiteral("controls_*.orv")}, QDir::Files, QDir::Name))
        names << e.mid(9, e.size() - 13);
    names << QDir(backup + QStringLiteral("print_files_backup")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names)
        if (!gate::findForm(db, name))
            return name;
    return {};
}

} // namespace

bool RollbackUpdateFromBackup(const QSqlDatabase &db, const QString &backupFolder, const QString &updateId,
                              const InstallCommitHook &beforeCommit, QString *why, QStringList *uncheckedRules) {
    QString scratch;
    QString &reason = why ? *why : scratch;
    reason.clear();
    QStringList uncheckedScratch;
    QStringList &unchecked = uncheckedRules ? *uncheckedRules : uncheckedScratch;
    unchecked.clear();
    const QString backup = IncludeTrailingPathSlash(backupFolder);
    if (!QDir(backupFolder).exists()) {
        LogError(QStringLiteral("Резервная копия не найдена: ") + backupFolder);
        reason = QStringLiteral("Резервная копия обновления не найдена: ") + backupFolder;
        return false;
    }
    FinishInterruptedRollback(db);
    // What the update changed in a form that is gone cannot be brought back
    // to it; the rules and print files of its backup would land on nothing.
    if (const QString gone = formGoneSinceBackup(db, backup); !gone.isEmpty()) {
        reason = QStringLiteral("Формы %1 нет в перечне форм: после установки обновления она переименована или "
                                "удалена. Откат не выполнен.")
                     .arg(gone);
        LogError(reason);
        return false;
    }
    bool applied = false;
    std::optional<PrintSwap> prints;
    try {
        // The print files first: their copies are prepared beside the forms
        // folder before anything changes, so a full disk stops the rollback
        // here with everything as it was.
        prints.emplace(DatabaseFolder(db) + QStringLiteral("forms/"));
        const QDir printBackup(backup + QStringLiteral("print_files_backup"));
        QStringList restored;
        for (const QString &form : printBackup.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            // Named as the form is stored (a backup may name it in another case).
            const QString target = storedFormName(db, form);
            for (const char *ext : kPrintExts) {
                const QString from = printBackup.filePath(form + QLatin1Char('/') + form + QLatin1String(ext));
                if (!QFileInfo::exists(from))
                    continue;
                const QString name = target + QLatin1String(ext);
                if (!prints->replace(from, name, &reason)) {
                    LogError(reason);
                    return false;
                }
                restored << name;
            }
        }
        QStringList added;
        if (QFileInfo::exists(backup + kAddedPrints) && !cp1251::readLines(backup + kAddedPrints, added)) {
            reason = QStringLiteral("Резервная копия не читается: ") + backup + kAddedPrints;
            LogError(reason);
            return false;
        }
        for (const QString &name : added)
            if (IsSafeFileName(name)
                && std::none_of(restored.begin(), restored.end(),
                                [&](const QString &r) { return gate::sameName(r, name); }))
                prints->remove(name);
        rollbackStep("prepared");

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
            // The rules: each form's whole rule set (its own rules and those
            // between forms that name its tables) becomes the backup's again,
            // each rule under its key. What the user changed in that set since
            // the install (a file loaded with "Замещение", a rule deleted and
            // typed again) goes with the update: taking out only the rules the
            // update put in would leave such rules beside the backup's.
            const QDir controls(backup + QStringLiteral("controls_backup"));
            const QStringList files = controls.entryList({QStringLiteral("controls_*.orv")}, QDir::Files, QDir::Name);
            for (const QString &entry : files) {
                const QString name = entry.mid(9, entry.size() - 13);
                if (const std::optional<gate::FoundForm> f = gate::findForm(db, name))
                    DeleteFormControls(db, f->formname, f->id);
            }
            QSet<QString> betweenForms;
            for (const QString &entry : files) {
                const QString name = entry.mid(9, entry.size() - 13);
                if (ReadFormIdByName(db, name) >= 0
                    && !restoreFormControls(db, name, controls.filePath(entry), betweenForms, unchecked)) {
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
            applied = prints->apply(updateId, &reason);
            if (!applied)
                LogError(reason);
            else
                rollbackStep("applied");
            return applied;
        });
        if (!done) {
            LogError(QStringLiteral("Откат обновления не выполнен: ") + updateId);
            return false;
        }
        rollbackStep("committed");
        prints->keep();
        return true;
    } catch (const std::exception &e) {
        if (applied && prints)
            prints->undo();
        reason = winutil::errorText(e);
        LogError(QStringLiteral("Исключение при откате обновления: ") + reason);
        return false;
    }
}
