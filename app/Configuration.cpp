#include "app/Configuration.h"

#include "app/SmallDialogs.h"
#include "core/ProgressWindow.h"
#include "engine/Caches.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "updates/UpdateInstaller.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLabel>
#include <QSqlQuery>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace config {

QString windowCaption(const QString &configName, int year) {
    return QStringLiteral("Система формирования и контроля статистических отчетных форм - ") + configName +
           QStringLiteral(" - ") + QString::number(year) + QStringLiteral(" г.");
}

QStringList FillYearList(const QString &configPath) {
    QStringList out;
    if (configPath.isEmpty()) return out;
    const QDir dir(configPath);
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (IsDecimalText(name) && YearComplete(paths::withSlash(configPath) + name + QLatin1Char('/')))
            out.append(name);
    return out;
}

QStringList MissingYearFiles(const QString &yearFolder) {
    const QString f = paths::withSlash(yearFolder);
    // An empty or unreadable file is no database: such a year was never
    // finished and is made again like a folder without its files.
    const auto present = [](const QString &file) {
        const QFileInfo fi(file);
        if (!fi.isFile() || fi.size() == 0) return false;
        QFile probe(file);
        if (!probe.open(QIODevice::ReadOnly)) return false;
        const QByteArray head = probe.read(108);
        if (head.isEmpty()) return false;
        // A database without a single table (its first page a leaf of the
        // schema holding no row) is as good as an empty file. Read from the
        // header, so that a file another program holds locked is not waited for.
        const bool sqlite = head.size() == 108 && head.startsWith(QByteArrayView("SQLite format 3\0", 16));
        return !(sqlite && uchar(head[100]) == 0x0D && head[103] == 0 && head[104] == 0);
    };
    QStringList missing;
    for (const QString name : {QStringLiteral("orvmain.mdb"), QStringLiteral("data0.mdb")})
        if (!present(f + name)) missing.append(name);
    return missing;
}

bool YearComplete(const QString &yearFolder) { return MissingYearFiles(yearFolder).isEmpty(); }

QString IncompleteYearText(const QString &yearFolder) {
    const QString folder = paths::withoutSlash(yearFolder);
    if (!QFileInfo(folder).isDir()) return QString();
    const QStringList missing = MissingYearFiles(folder);
    if (missing.isEmpty()) return QString();
    return QStringLiteral("В папке %1 нет %2.\nПапка будет сохранена под именем \"%3\", а год создан заново.")
        .arg(QDir::toNativeSeparators(folder),
             missing.size() == 1
                 ? QStringLiteral("файла %1 (или он пуст, не содержит таблиц или не читается)").arg(missing[0])
                 : QStringLiteral("файлов %1 (или они пусты, не содержат таблиц или не читаются)")
                       .arg(missing.join(QStringLiteral(" и "))),
             QFileInfo(folder).fileName() + QStringLiteral(".неполная"));
}

bool isReportingYear(int year) { return year >= kFirstYear && year <= kLastYear; }

QString attachProblem(const QString &folder) {
    const QString shown = QDir::toNativeSeparators(paths::withoutSlash(folder));
    if (!QFileInfo(folder).isDir()) return QStringLiteral("Папка %1 не найдена.").arg(shown);
    if (!FillYearList(paths::withSlash(folder)).isEmpty()) return QString();
    return QStringLiteral("В папке %1 нет ни одного отчетного года. Папка конфигурации должна содержать папки годов "
                          "(например, %2) с файлами orvmain.mdb и data0.mdb. Выберите другую папку.")
        .arg(shown)
        .arg(QDate::currentDate().year());
}

QString registrationProblem(const QString &name, const QString &folder) {
    if (const QString why = IniFile::keyProblem(name); !why.isEmpty())
        return QStringLiteral("Название конфигурации \"%1\" не может быть сохранено в файле настроек. %2").arg(name, why);
    // A blank at either end or a Tab would be lost or changed on the way
    // through the settings file, and another folder would be registered.
    if (folder.contains(u'\t'))
        return QStringLiteral("Имя папки \"%1\" содержит знак табуляции. Уберите его из имени папки.")
            .arg(QString(folder).replace(u'\t', QStringLiteral("<Tab>")));
    if (!folder.isEmpty() && folder.back().isSpace())
        return QStringLiteral("Имя папки \"%1\" заканчивается пробелом. Уберите пробел или выберите другую папку.")
            .arg(folder);
    if (!folder.isEmpty() && folder.front().isSpace())
        return QStringLiteral("Имя папки \"%1\" начинается с пробела. Уберите пробел или выберите другую папку.")
            .arg(folder);
    if (const QString why = IniFile::valueProblem(folder); !why.isEmpty())
        return QStringLiteral("Папка %1 не может быть сохранена в файле настроек. %2").arg(folder, why);
    return QString();
}

} // namespace config

namespace {

int calendarYear() { return QDate::currentDate().year(); }

bool dirExists(const QString &path) { return QFileInfo(path).isDir(); }

// Copies every file of one folder into another (replacing); throws on the first failure.
// Copies the files of folder `from` into `to`; `before` is told each name first.
void copyFolderFiles(const QString &from, const QString &to,
                     const std::function<void(const QString &)> &before = {}) {
    const QDir src(from);
    if (!src.exists()) return;
    for (const QString &name : src.entryList(QDir::Files, QDir::Name)) {
        if (before) before(name);
        if (!paths::copyFileOver(from + name, to + name))
            throw db::Error(QStringLiteral("Не удалось скопировать файл %1 в папку %2").arg(from + name, to));
    }
}

// Makes one folder; on failure the system's reason, in Russian.
bool makeOneFolder(const QString &folder, QString *why) {
    errno = 0;
    if (::mkdir(QFile::encodeName(paths::withoutSlash(folder)).constData(), 0777) == 0) return true;
    *why = cp1251::systemReason(errno);
    return false;
}

void makeFolder(const QString &folder) {
    QString why;
    if (!makeOneFolder(folder, &why))
        throw db::Error(QStringLiteral("Не удалось создать папку %1: %2").arg(paths::withoutSlash(folder), why));
}

bool renameFolder(const QString &from, const QString &to, QString *why) {
    errno = 0;
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) return true;
    *why = cp1251::systemReason(errno);
    return false;
}

} // namespace

QString Configuration::settingsPath() const { return paths::settingsFile(); }

QString Configuration::currentConfigName() const {
    return m_configIndex >= 0 && m_configIndex < m_configNames.size() ? m_configNames[m_configIndex] : QString();
}

QString Configuration::applicationTitle() const {
    return shared().yearText() + QStringLiteral(" - ") + currentConfigName() + QStringLiteral(" - ") +
           m_levels.currentName() + QStringLiteral(":");
}

QString Configuration::windowCaption() const {
    if (shared().Year == 0 || shared().ConfigName.isEmpty()) return config::kInitialCaption;
    return config::windowCaption(shared().ConfigName, shared().Year);
}

void Configuration::reloadYearFolders() { m_yearFolders = config::FillYearList(shared().ConfigPath); }

void Configuration::remember(const QString &key, int value) {
    IniFile ini(settingsPath());
    // Nothing to save when the file holds the value already (a program
    // folder that cannot be written is then no matter).
    if (ini.valueExists(config::kSectionCurrent, key) &&
        ini.readString(config::kSectionCurrent, key) == QString::number(value))
        return;
    if (ini.writeInteger(config::kSectionCurrent, key, value) || m_settingsWarned) return;
    m_settingsWarned = true;
    showWarning(QStringLiteral("Не удалось записать файл настроек %1: %2.\nРаботать можно и дальше, но выбранные "
                               "конфигурация и год не запомнены: при следующем запуске программа откроет те, что "
                               "были открыты раньше.")
                    .arg(QDir::toNativeSeparators(settingsPath()), ini.lastError()),
                m_parent);
}

bool Configuration::startUp() {
    SharedState &s = shared();
    const int thisYear = calendarYear();
    IniFile ini(settingsPath());
    const bool fresh = !ini.exists();
    if (!ini.readError().isEmpty() && !m_settingsWarned) {
        m_settingsWarned = true;
        showWarning(QStringLiteral("Файл настроек %1 не прочитан: %2\nПрограмма не будет изменять этот файл.")
                        .arg(QDir::toNativeSeparators(settingsPath()), ini.readError()),
                    m_parent);
    } else if (!ini.readWarning().isEmpty()) {
        showWarning(QStringLiteral("Файл настроек %1: %2").arg(QDir::toNativeSeparators(settingsPath()), ini.readWarning()),
                    m_parent);
    }
    m_configNames = ini.sectionKeys(config::kSectionList);
    s.ConfigNameList.clear();
    for (const QString &n : m_configNames) s.ConfigNameList.add(n);
    // A stored year that is no year (0, -1, a text) counts as none stored.
    s.Year = ini.readInteger(config::kSectionCurrent, QStringLiteral("Year"), thisYear);
    if (!config::isReportingYear(s.Year)) s.Year = thisYear;
    s.LastConfigIndex = -1;
    int last = ini.readInteger(config::kSectionCurrent, QStringLiteral("Last"), 0);

    // No settings file, a file without configurations, or one pointing past
    // the list: the user names a configuration instead of opening an empty path.
    if (last < 0 || last >= m_configNames.size()) {
        const int before = int(m_configNames.size());
        attachDatabase();
        if (m_configNames.isEmpty()) {
            s.Year = 0;
            return false;
        }
        last = int(m_configNames.size()) > before ? int(m_configNames.size()) - 1 : 0;
        if (fresh && IniFile(settingsPath()).exists()) {
            remember(QStringLiteral("Year"), thisYear);
            remember(QStringLiteral("Last"), 0);
        }
    }

    // A configuration that cannot be opened does not lock the user out. A
    // year whose databases do not open: after its message, the choice of the
    // configuration's other years. A configuration that does not open at all:
    // the choice of another one (its message in that window), or the attach
    // dialog when there is no other.
    const int storedYear = s.Year;
    int year = storedYear;
    QList<int> failed;
    QMap<int, QList<int>> failedYears;   // configuration -> its years that did not open
    bool ok = false;
    for (;;) {
        s.StartingUp = true;
        s.Year = year;
        QString reason;
        try {
            ok = openConfiguration(last);
        } catch (const AppError &e) {
            reason = e.message();
        } catch (const std::exception &) {
            s.StartingUp = false;
            throw;
        }
        s.StartingUp = false;
        if (reason.isEmpty()) break;
        if (m_failedYear != 0) {
            failedYears[last].append(m_failedYear);
            QStringList years = config::FillYearList(folderOf(m_configNames[last]));
            for (int y : failedYears[last]) years.removeAll(QString::number(y));
            if (!years.isEmpty()) {
                showError(reason, m_parent);
                const std::optional<int> chosen = ChooseYear(QStringLiteral("Выберите отчетный год"), years);
                if (!chosen) {
                    ok = false;
                    break;
                }
                year = *chosen;
                continue;
            }
        }
        failed.append(last);
        const std::optional<int> next = chooseOtherConfiguration(failed, reason);
        if (!next) {
            ok = false;
            break;
        }
        last = *next;
        year = storedYear;
    }
    if (!ok || s.ConfigName.isEmpty()) s.Year = 0;
    return ok && s.Year != 0;
}

std::optional<int> Configuration::chooseOtherConfiguration(const QList<int> &failed, const QString &reason) {
    QList<int> others;
    QStringList names;
    for (int i = 0; i < m_configNames.size(); ++i)
        if (!failed.contains(i)) {
            others.append(i);
            names.append(m_configNames[i]);
        }
    if (others.isEmpty()) {
        showError(reason, m_parent);
        QString attached;
        if (!attachDatabase(&attached)) return std::nullopt;
        for (int i = 0; i < m_configNames.size(); ++i)
            if (text::sameNoCase(m_configNames[i], attached)) return i;
        return std::nullopt;
    }
    const QString failedName = m_configNames.value(failed.last());
    auto dlg = std::make_unique<TSelectConfig>(
        QStringLiteral("Конфигурация \"%1\" не открыта:\n%2\n\nВыберите другую конфигурацию.").arg(failedName, reason),
        names, m_parent);
    if (execModal(dlg.get()) != QDialog::Accepted) return std::nullopt;
    const int chosen = dlg->chosenIndex();
    if (chosen < 0 || chosen >= others.size()) return std::nullopt;
    return others[chosen];
}

bool Configuration::openConfiguration(int index) {
    SharedState &s = shared();
    m_failedYear = 0;
    if (index < 0 || index >= m_configNames.size()) return false;
    const QString name = m_configNames[index];
    const QString folder = folderOf(name);
    const QString previousPath = s.ConfigPath;
    const QString previousName = s.ConfigName;
    const int previousYear = s.Year;
    const int previousLast = s.LastConfigIndex;
    const int previousIndex = m_configIndex;
    auto stop = [&] {
        if (s.StartingUp) s.Year = 0;
        else s.Year = previousYear;
        s.ConfigPath = previousPath;
        return false;
    };
    // A configuration without its folder cannot be opened at all: said as an
    // error, so that the start-up offers the other configurations.
    if (folder.trimmed().isEmpty())
        throw db::Error(QStringLiteral("Для конфигурации \"%1\" в файле настроек %2 не указана папка.")
                            .arg(name, QDir::toNativeSeparators(settingsPath())));
    if (!dirExists(folder))
        throw db::Error(QStringLiteral("Папка конфигурации \"%1\" не найдена: %2.\nПроверьте, доступен ли диск или "
                                       "сетевая папка, или присоедините конфигурацию заново.")
                            .arg(name, QDir::toNativeSeparators(paths::withoutSlash(folder))));
    // Without a single year there is nothing to choose or to make a year from.
    if (!config::YearComplete(paths::withSlash(folder) + s.yearText()) &&
        config::FillYearList(paths::withSlash(folder)).isEmpty())
        throw db::Error(QStringLiteral("В папке конфигурации \"%1\" (%2) нет ни одного отчетного года (папки года "
                                       "с файлами orvmain.mdb и data0.mdb).")
                            .arg(name, QDir::toNativeSeparators(paths::withoutSlash(folder))));
    s.ConfigPath = paths::withSlash(folder);

    if (!config::YearComplete(s.ConfigPath + s.yearText())) {
        const QString incomplete = config::IncompleteYearText(s.ConfigPath + s.yearText());
        const QString question = QStringLiteral("Информация за ") + s.yearText() + QStringLiteral(" год не определена.\n\r") +
                                 (incomplete.isEmpty() ? QString() : incomplete + QLatin1Char('\n')) +
                                 QStringLiteral("Создать?");
        bool create = confirm(question, m_parent);
        // Until a year that opens is chosen, or the choice is cancelled.
        for (;;) {
            const std::optional<int> chosen = ChooseYear(QStringLiteral("Выберите отчетный год"));
            if (!chosen) return stop();
            const bool chosenComplete = config::YearComplete(s.ConfigPath + QString::number(*chosen));
            if (create && chosenComplete) {
                try {
                    CreateYearDatabase(*chosen, s.Year);
                    break;
                } catch (const db::Error &e) {
                    // The year chosen to make it from opens instead.
                    showError(e.message() + QStringLiteral("\nОткрывается %1 год.").arg(*chosen), m_parent);
                } catch (const Cancelled &) {
                    winutil::showCancelled(m_parent);
                }
                s.Year = *chosen;
                break;
            }
            if (chosenComplete) {
                s.Year = *chosen;
                break;
            }
            showError(QStringLiteral("Информация за %1 год не найдена в папке %2. Выберите год из списка.")
                          .arg(*chosen)
                          .arg(QDir::toNativeSeparators(paths::withoutSlash(s.ConfigPath))),
                      m_parent);
        }
    }

    s.ConfigName = name;
    s.LastConfigIndex = index;
    m_configIndex = index;
    reloadYearFolders();
    try {
        try {
            SetYear();
        } catch (const AppError &e) {
            // Said with the configuration, the year and its folder: the
            // database's own message names only the file.
            m_failedYear = s.Year;
            throw db::Error(QStringLiteral("Не удалось открыть %1 год конфигурации \"%2\" (папка %3).\n%4")
                                .arg(s.yearText(), name, QDir::toNativeSeparators(paths::withoutSlash(s.yearFolder())),
                                     e.message()));
        }
    } catch (const AppError &) {
        // A damaged database: back to the configuration that was open, all of
        // it (connections, caches, levels, lists), as a failed year change does.
        s.ConfigName = previousName;
        s.ConfigPath = previousPath;
        s.Year = s.StartingUp ? 0 : previousYear;
        s.LastConfigIndex = previousLast;
        m_configIndex = previousIndex;
        reloadYearFolders();
        bool restored = false;
        if (!previousName.isEmpty() && s.Year != 0) {
            try {
                SetYear();
                restored = true;
            } catch (const AppError &) {
            }
        }
        if (!restored) {
            db::close(db::kData);
            db::close(db::kMain);
        }
        throw;
    }
    remember(QStringLiteral("Last"), s.LastConfigIndex);
    return true;
}

void Configuration::SetYear() {
    SharedState &s = shared();
    const QString folder = s.yearFolder();
    db::open(db::kMain, folder + QStringLiteral("orvmain.mdb"), db::OpenMode::ReadWrite);
    db::open(db::kData, folder + QStringLiteral("data0.mdb"), db::OpenMode::ReadWrite);
    // An update or a rollback stopped by a kill is finished or undone first.
    FinishInterruptedUpdates(db::connection(db::kMain));
    caches::reloadAll();
    m_levels.reload();
    remember(QStringLiteral("Year"), s.Year);
}

bool Configuration::stepYear(int delta) {
    SharedState &s = shared();
    const int from = s.Year;
    const int to = from + delta;
    if (!config::YearComplete(s.ConfigPath + QString::number(to))) {
        const QString incomplete = config::IncompleteYearText(s.ConfigPath + QString::number(to));
        const QString question = (incomplete.isEmpty() ? QString() : incomplete + QLatin1Char('\n')) +
                                 QStringLiteral("Вы действительно хотите создать базу данных для ") +
                                 QString::number(to) + QStringLiteral(" года?");
        if (!confirm(question, m_parent)) return false;
        CreateYearDatabase(from, to);
        reloadYearFolders();
    }
    s.Year = to;
    try {
        SetYear();
    } catch (const db::Error &) {
        // Back to the year that was open, so the connections stay usable.
        s.Year = from;
        try {
            SetYear();
        } catch (const db::Error &) {
        }
        throw;
    }
    return true;
}

QString Configuration::buildYearFolder(const QString &dst, const std::function<void(const QString &)> &build) {
    const QString final = paths::withoutSlash(dst);
    const QString shown = QDir::toNativeSeparators(final);
    if (config::YearComplete(dst)) throw db::Error(QStringLiteral("Папка %1 уже существует").arg(shown));
    // A year is made under a name that is no year, so a run killed halfway
    // leaves nothing that looks like one; a leftover of such a run is cleared.
    // Messages name the folder the year is made in, never that working name.
    const QString work = final + QStringLiteral(".new/");
    const auto failed = [&](const QString &why) {
        return db::Error(QStringLiteral("Не удалось создать папку года %1: %2").arg(shown, why));
    };
    if (dirExists(work) && !QDir(work).removeRecursively())
        throw failed(QStringLiteral("не удаляются файлы, оставшиеся от прерванного создания года"));
    QString why;
    if (!makeOneFolder(work, &why)) throw failed(why);
    try {
        try {
            build(work);
        } catch (const db::Error &e) {
            QString text = e.message();
            text.replace(QDir::toNativeSeparators(paths::withoutSlash(work)), shown);
            text.replace(paths::withoutSlash(work), final);
            throw db::Error(text);
        }
        // A folder of the year without its databases gives way to the complete
        // one; it is kept under another name, since what else it holds is unknown.
        QString aside;
        if (dirExists(final)) {
            aside = final + QStringLiteral(".неполная");
            for (int n = 2; dirExists(aside); ++n) aside = final + QStringLiteral(".неполная%1").arg(n);
            if (!renameFolder(final, aside, &why))
                throw db::Error(QStringLiteral("Не удалось переименовать папку %1 в %2: %3")
                                    .arg(shown, QDir::toNativeSeparators(aside), why));
        }
        if (!renameFolder(paths::withoutSlash(work), final, &why)) {
            if (!aside.isEmpty()) QDir().rename(aside, final);   // the user's folder back in its place
            throw failed(why);
        }
        return aside;
    } catch (...) {
        QDir(work).removeRecursively();
        throw;
    }
}

void Configuration::CreateYearDatabase(int from, int to) {
    SharedState &s = shared();
    if (!dirExists(s.ConfigPath))
        throw db::Error(QStringLiteral("Папка конфигурации %1 не найдена").arg(paths::withoutSlash(s.ConfigPath)));
    const QString src = s.ConfigPath + QString::number(from) + QLatin1Char('/');
    // The question comes before the run, so that the run goes on by itself.
    QList<qint64> levels;
    bool carryLevels = false;
    {
        db::ScopedConnection old(src + QStringLiteral("orvmain.mdb"), db::OpenMode::ReadOnly,
                                 QStringLiteral("oldyear"));
        for (const QVariant &id : db::column(old.db(), QStringLiteral("select id from subreps")))
            levels.append(id.toLongLong());
    }
    if (!levels.isEmpty())
        carryLevels = confirm(QStringLiteral("Переносить в новый год промежуточные отчеты?"), m_parent);

    ProgressRun run(QStringLiteral("Создание базы данных за %1 год").arg(to));
    TProgress &progress = run.window();
    const QStringList formFiles = QDir(src + QStringLiteral("forms/")).entryList(QDir::Files, QDir::Name);
    progress.setMax(2 + int(formFiles.size()) + (carryLevels ? int(levels.size()) : 0));
    int done = 0;
    // "Отмена" between the files: the year is built under a temporary name,
    // which is removed, so no year is left.
    const auto shown = [&](const QString &name) {
        progress.setPosition(done++);
        progress.setDetailText(name);
        progress.checkCancelled();
    };
    const auto copy = [&](const QString &from, const QString &to) {
        shown(QFileInfo(to).fileName());
        db::copyDatabase(from, to);
    };
    const QString aside = buildYearFolder(s.ConfigPath + QString::number(to) + QLatin1Char('/'), [&](const QString &dst) {
        copy(src + QStringLiteral("orvmain.mdb"), dst + QStringLiteral("orvmain.mdb"));
        copy(paths::templateValuesFile(), dst + QStringLiteral("data0.mdb"));
        makeFolder(dst + QStringLiteral("forms"));
        copyFolderFiles(src + QStringLiteral("forms/"), dst + QStringLiteral("forms/"), shown);
        if (levels.isEmpty()) return;
        if (carryLevels) {
            for (qint64 id : levels) copy(paths::templateValuesFile(), dst + QStringLiteral("data%1.mdb").arg(id));
        } else {
            db::ScopedConnection nm(dst + QStringLiteral("orvmain.mdb"), db::OpenMode::ReadWrite,
                                    QStringLiteral("newyear"));
            db::exec(nm.db(), QStringLiteral("delete from subreps"));
        }
    });
    if (!aside.isEmpty())
        showMessage(QStringLiteral("База данных за %1 год создана. Прежняя неполная папка года сохранена как %2.")
                        .arg(to)
                        .arg(QDir::toNativeSeparators(aside)),
                    m_parent);
}

std::optional<int> Configuration::ChooseYear(const QString &caption, const std::optional<QStringList> &years) {
    // A text that is no year is said, and the choice shown again.
    for (;;) {
        auto dlg = std::make_unique<TSBY>(m_parent);
        dlg->setWindowTitle(caption);
        dlg->setPrompt(caption);
        dlg->setYears(years ? *years : config::FillYearList(shared().ConfigPath));
        if (execModal(dlg.get()) != QDialog::Accepted) return std::nullopt;
        const QString text = dlg->year();
        bool ok = false;
        const int year = text.toInt(&ok);
        if (ok && config::isReportingYear(year)) return year;
        showError(QStringLiteral("\"%1\" не является отчетным годом: укажите год четырьмя цифрами, например %2.")
                      .arg(text)
                      .arg(calendarYear()),
                  m_parent);
    }
}

bool Configuration::askRegistration(TGBP *dlg, QString &name, QString &folder, bool needsYear) {
    for (;;) {
        if (execModal(dlg) != QDialog::Accepted) return false;
        name = text::tabsToBlanks(dlg->name()).trimmed();
        folder = paths::withoutSlash(dlg->folder());
        if (name.isEmpty() || folder.trimmed().isEmpty()) return false;
        QString problem = config::registrationProblem(name, folder);
        if (problem.isEmpty() && needsYear) problem = config::attachProblem(folder);
        if (problem.isEmpty()) break;
        showError(problem, m_parent);
    }
    const IniFile ini(settingsPath());
    if (!ini.valueExists(config::kSectionList, name)) return true;
    const QString taken = ini.readString(config::kSectionList, name);
    if (paths::withSlash(taken) == paths::withSlash(folder)) return true;
    return confirmDefaultNo(QStringLiteral("Конфигурация \"%1\" уже подключена к папке %2. Заменить?")
                                .arg(name, QDir::toNativeSeparators(taken)),
                            m_parent);
}

QString Configuration::folderOf(const QString &name) const {
    for (auto it = m_unsavedFolders.cbegin(); it != m_unsavedFolders.cend(); ++it)
        if (text::sameNoCase(it.key(), name)) return it.value();
    return IniFile(settingsPath()).readString(config::kSectionList, name);
}

bool Configuration::attachDatabase(QString *attached) {
    auto dlg = std::make_unique<TGBP>(QString(), m_parent);
    dlg->setWindowTitle(QStringLiteral("Укажите путь к присоединяемой базе данных и ее название"));
    dlg->lockFolder();
    QString name, folder;
    if (!askRegistration(dlg.get(), name, folder, true)) return false;
    IniFile ini(settingsPath());
    // A settings file the program cannot read is never written over, and one
    // that cannot be written is no reason to stop: the configuration opens
    // all the same, until the program ends.
    const auto forThisRun = [&](const QString &why) {
        m_unsavedFolders.insert(name, folder);
        m_settingsWarned = true;
        showWarning(QStringLiteral("%1\nКонфигурация \"%2\" открывается только на время этой работы: при следующем "
                                   "запуске программы ее нужно будет присоединить снова.")
                        .arg(why, name),
                    m_parent);
    };
    if (!ini.readError().isEmpty()) {
        forThisRun(QStringLiteral("Файл настроек %1 не прочитан, поэтому в него ничего не записывается.")
                       .arg(QDir::toNativeSeparators(settingsPath())));
    } else if (!ini.writeString(config::kSectionList, name, folder)) {
        forThisRun(QStringLiteral("Не удалось записать файл настроек %1: %2.")
                       .arg(QDir::toNativeSeparators(settingsPath()), ini.lastError()));
    }
    addName(name);
    if (attached) *attached = name;
    return true;
}

bool Configuration::copyYearToNewDatabase() {
    auto dlg = std::make_unique<TGBP>(QString(), m_parent);
    dlg->setWindowTitle(QStringLiteral("Укажите расположение новой базы даных"));
    QString name, target;
    if (!askRegistration(dlg.get(), name, target)) return false;
    if (!dirExists(target)) {
        const QString question = QStringLiteral("Папка ") + target + QStringLiteral(" не существует\n\rСоздать?");
        if (!confirm(question, m_parent)) return false;
        if (!paths::makePath(target)) {
            showError(QStringLiteral("Не удалось создать папку %1").arg(target), m_parent);
            return false;
        }
    }
    try {
        CopyConfiguration(target + QLatin1Char('/'), name);
    } catch (const db::Error &e) {
        showError(e.message(), m_parent);
        return false;
    }
    return true;
}

void Configuration::addName(const QString &name) {
    for (const QString &n : m_configNames)
        if (text::sameNoCase(n, name)) return;   // the settings file compares names without case
    m_configNames.append(name);
    shared().ConfigNameList.add(name);
}

void Configuration::CopyConfiguration(const QString &target, const QString &name) {
    SharedState &s = shared();
    if (name.trimmed().isEmpty()) throw db::Error(QStringLiteral("Не указано название базы данных"));
    if (const QString problem = config::registrationProblem(name, paths::withoutSlash(target)); !problem.isEmpty())
        throw db::Error(problem);
    const QString src = s.yearFolder();
    const QString dst = paths::withSlash(target) + s.yearText() + QLatin1Char('/');
    if (dirExists(dst))
        throw db::Error(QStringLiteral("Папка %1 уже существует").arg(paths::withoutSlash(dst)));
    buildYearFolder(dst, [&](const QString &work) {
        db::copyDatabase(src + QStringLiteral("orvmain.mdb"), work + QStringLiteral("orvmain.mdb"));
        const QDir srcDir(src);
        for (const QString &f : srcDir.entryList({QStringLiteral("data*.mdb")}, QDir::Files, QDir::Name))
            db::copyDatabase(src + f, work + f);
        makeFolder(work + QStringLiteral("forms"));
        copyFolderFiles(src + QStringLiteral("forms/"), work + QStringLiteral("forms/"));
    });
    IniFile ini(settingsPath());
    if (!ini.writeString(config::kSectionList, name, paths::withoutSlash(target))) {
        QDir(dst).removeRecursively();
        throw db::Error(QStringLiteral("Не удалось записать файл настроек %1: %2").arg(settingsPath(), ini.lastError()));
    }
    addName(name);
}
