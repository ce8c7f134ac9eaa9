#include "updates/UpdateInstaller.h"

#include "forms/FormListCommon.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "updates/UpdateExporter.h"
#include "updates/UpdateLists.h"
#include "updates/UpdateSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>

namespace {

QString lastComponent(QString path) {
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Print files an installation replaced or created, to put them back.
class FileJournal {
public:
    void remember(const QString &path) {
        if (m_saved.contains(path))
            return;
        QFile f(path);
        if (f.exists() && f.open(QIODevice::ReadOnly))
            m_saved.insert(path, f.readAll());
        else
            m_saved.insert(path, std::nullopt);
    }
    void restore() {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
            if (!it.value()) {
                QFile::remove(it.key());
                continue;
            }
            cp1251::writeFile(it.key(), *it.value());
        }
        m_saved.clear();
    }
private:
    QHash<QString, std::optional<QByteArray>> m_saved;
};

FileJournal *g_journal = nullptr;   // set while an installation runs

bool copyOne(const QString &from, const QString &to) {
    if (g_journal)
        g_journal->remember(to);
    return paths::copyFileOver(from, to);
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
    const QVariant v = db::scalar(db, QStringLiteral("SELECT id FROM forms WHERE formname=?"), {formName});
    return v.isValid() && !v.isNull() ? v.toLongLong() : -1;
}

bool InstallFormHeader(const QSqlDatabase &db, const QString &structureFile) {
    if (!QFileInfo::exists(structureFile))
        return false;
    QStringList lines;
    if (!cp1251::readLines(structureFile, lines) || lines.isEmpty())
        return false;
    const QString first = lines.first();
    const int h1 = first.indexOf(QLatin1Char('#'));
    const QString name = h1 < 0 ? first : first.left(h1);
    const QString rest = h1 < 0 ? QString() : first.mid(h1 + 1);
    const int h2 = rest.indexOf(QLatin1Char('#'));
    const QString decipher = h2 < 0 ? QString() : rest.left(h2);
    const QString netText = h2 < 0 ? rest : rest.mid(h2 + 1);
    const bool net = netText != QStringLiteral("Нет");
    const qint64 id = ReadFormIdByName(db, name);
    if (id < 0)
        db::exec(db, QStringLiteral("INSERT INTO forms (formname, decipher, net) VALUES (?, ?, ?)"), {name, decipher, net});
    else
        db::exec(db, QStringLiteral("UPDATE forms SET formname=?, decipher=?, net=? WHERE id=?"),
                 {name, decipher, net, id});
    return true;
}

bool InstallFormStructure(const QSqlDatabase &db, const QString &formName, const QString &structureFile, qint64) {
    try {
        LogInfo(QStringLiteral("Установка структуры формы: ") + formName);
        const bool ok = InstallFormHeader(db, structureFile);
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
    const QString pattern = FormTablePattern(formName);
    db::exec(db,
             QStringLiteral("DELETE FROM int_control WHERE formid=? "
                            "OR (formid=0 AND ((lft LIKE ? ESCAPE '\\') OR (rght LIKE ? ESCAPE '\\')))"),
             {formId, pattern, pattern});
}

bool InsertControlLines(const QSqlDatabase &db, const QString &controlFile) {
    if (!QFileInfo::exists(controlFile))
        return false;
    QStringList lines;
    if (!cp1251::readLines(controlFile, lines))
        return false;
    const QString sep = QStringLiteral("\",\"");
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1Char('"')) || !line.contains(sep))
            continue;
        QStringList f;
        QString rest = line;
        for (int k = 0; k < 6; ++k) {
            const int at = rest.indexOf(sep);
            if (at < 0)
                break;
            f << rest.mid(1, at - 1);
            rest = rest.mid(at + 2);
        }
        if (f.size() < 6)
            continue;
        const QString formName = f[0].trimmed();
        const QString tble = f[1], lft = f[2].trimmed(), reltion = f[3], rght = f[4].trimmed(), cycl = f[5].trimmed();
        const QString commnt = rest.mid(1, rest.size() - 2);
        try {
            const qint64 formId = formName.isEmpty() ? 0 : std::max<qint64>(ReadFormIdByName(db, formName), 0);
            db::exec(db,
                     QStringLiteral("INSERT INTO int_control (formid, tble, lft, rght, reltion, cycl, commnt) "
                                    "VALUES (?, ?, ?, ?, ?, ?, ?)"),
                     {formId, tble.isEmpty() ? QVariant() : QVariant(tble), lft, rght, reltion, cycl, commnt});
        } catch (const std::exception &e) {
            LogError(QStringLiteral("Ошибка при загрузке контроля: ") + line + QStringLiteral(" - ") + winutil::errorText(e));
        }
    }
    return true;
}

bool InstallFormControls(const QSqlDatabase &db, const QString &formName, const QString &controlFile, qint64 formId) {
    try {
        LogInfo(QStringLiteral("Установка контролей формы: ") + formName);
        // A missing file leaves the rules as they are.
        if (!QFileInfo::exists(controlFile)) {
            LogError(QStringLiteral("Ошибка при установке контролей формы: ") + formName);
            return false;
        }
        DeleteFormControls(db, formName, formId);
        const bool ok = InsertControlLines(db, controlFile);
        if (ok)
            LogInfo(QStringLiteral("Контроли формы установлены: ") + formName);
        else
            LogError(QStringLiteral("Ошибка при установке контролей формы: ") + formName);
        return ok;
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
        if (copyOne(from, IncludeTrailingPathSlash(destFolder) + name)) {
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

    FileJournal journal;
    g_journal = &journal;
    int installed = 0;
    bool committed = false;
    try {
        committed = inTransaction(db, [&] {
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
                    ok = CopyPrintFiles(formFolder + QStringLiteral("Forms"), yearFolder + QStringLiteral("forms/"),
                                        e.printFiles, e.formName);
                if (ok)
                    ++installed;
            }
            if (installed != m.forms.size())
                return false;
            if (beforeCommit)
                beforeCommit();
            return true;
        });
    } catch (...) {
        g_journal = nullptr;
        journal.restore();
        throw;
    }
    g_journal = nullptr;
    if (!committed) {
        journal.restore();
        LogWarning(QStringLiteral("Изменения обновления %1 отменены: установлены не все формы").arg(updateId));
        return installed < 1 ? InstallNone : InstallSome;
    }
    Q_UNUSED(year);
    return InstallAll;
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
    for (const char *ext : {".doc", ".txt"}) {
        const QString file = formName + QLatin1String(ext);
        const QString from = folder + QLatin1Char('/') + file;
        if (!QFileInfo::exists(from))
            continue;
        if (paths::copyFileOver(from, IncludeTrailingPathSlash(destFolder) + file))
            LogInfo(QStringLiteral("Восстановлен печатный файл: ") + file);
        else
            LogError(QStringLiteral("Не удалось восстановить печатный файл: ") + file);
    }
    return true;
}

bool RollbackUpdateFromBackup(const QSqlDatabase &db, const QString &backupFolder, const QString &updateId) {
    const QString backup = IncludeTrailingPathSlash(backupFolder);
    if (!QDir(backupFolder).exists()) {
        LogError(QStringLiteral("Резервная копия не найдена: ") + backupFolder);
        return false;
    }
    try {
        LogInfo(QStringLiteral("Начат откат обновления: ") + updateId);
        inTransaction(db, [&] {
            const QDir forms(backup + QStringLiteral("forms_backup"));
            for (const QString &entry : forms.entryList({QStringLiteral("*.frs")}, QDir::Files, QDir::Name)) {
                const QString name = entry.left(entry.size() - 4);
                const qint64 id = ReadFormIdByName(db, name);
                if (id >= 0)
                    RestoreFormFromBackup(db, name, forms.filePath(entry), id);
            }
            const QDir controls(backup + QStringLiteral("controls_backup"));
            for (const QString &entry : controls.entryList({QStringLiteral("controls_*.orv")}, QDir::Files, QDir::Name)) {
                const QString name = entry.mid(9, entry.size() - 13);
                const qint64 id = ReadFormIdByName(db, name);
                if (id >= 0)
                    RestoreControlsFromBackup(db, name, controls.filePath(entry), id);
            }
            return true;
        });
        const QDir prints(backup + QStringLiteral("print_files_backup"));
        if (prints.exists()) {
            const QString dest = DatabaseFolder(db) + QStringLiteral("forms/");
            for (const QString &sub : prints.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                RestorePrintFiles(prints.path(), dest, sub);
        }
        LogInfo(QStringLiteral("Откат обновления завершен: ") + updateId);
        return true;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при откате обновления: ") + winutil::errorText(e));
        return false;
    }
}
