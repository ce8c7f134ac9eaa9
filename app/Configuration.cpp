#include "app/Configuration.h"

#include "app/SmallDialogs.h"
#include "core/ProgressWindow.h"
#include "engine/Caches.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
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
#include <memory>

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
        return probe.open(QIODevice::ReadOnly) && probe.read(1).size() == 1;
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
                 ? QStringLiteral("файла %1 (или он пуст или не читается)").arg(missing[0])
                 : QStringLiteral("файлов %1 (или они пусты или не читаются)").arg(missing.join(QStringLiteral(" и "))),
             QFileInfo(folder).fileName() + QStringLiteral(".неполная"));
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

void makeFolder(const QString &folder) {
    if (!QDir().mkdir(paths::withoutSlash(folder)))
        throw db::Error(QStringLiteral("Не удалось создать папку %1").arg(paths::withoutSlash(folder)));
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
    showWarning(QStringLiteral("Не удалось записать файл настроек %1: %2.\nВыбранные конфигурация и год не будут "
                               "сохранены до следующего запуска программы.")
                    .arg(QDir::toNativeSeparators(settingsPath()), ini.lastError()),
                m_parent);
}

bool Configuration::startUp() {
    SharedState &s = shared();
    const int thisYear = calendarYear();
    {
        IniFile probe(settingsPath());
        if (!probe.exists()) {
            s.Year = 0;
            attachDatabase();
            if (!IniFile(settingsPath()).exists()) return false;
            remember(QStringLiteral("Year"), thisYear);
            remember(QStringLiteral("Last"), 0);
        }
    }
    IniFile ini(settingsPath());
    if (!ini.readError().isEmpty() && !m_settingsWarned) {
        m_settingsWarned = true;
        showWarning(QStringLiteral("Файл настроек %1 не прочитан: %2\nПрограмма не будет изменять этот файл.")
                        .arg(QDir::toNativeSeparators(settingsPath()), ini.readError()),
                    m_parent);
    }
    m_configNames = ini.sectionKeys(config::kSectionList);
    s.ConfigNameList.clear();
    for (const QString &n : m_configNames) s.ConfigNameList.add(n);
    s.Year = ini.readInteger(config::kSectionCurrent, QStringLiteral("Year"), thisYear);
    s.LastConfigIndex = -1;
    int last = ini.readInteger(config::kSectionCurrent, QStringLiteral("Last"), 0);

    // A settings file without configurations, or pointing past the list:
    // let the user name a configuration instead of opening an empty path.
    if (last < 0 || last >= m_configNames.size()) {
        const int before = int(m_configNames.size());
        attachDatabase();
        if (m_configNames.isEmpty()) {
            s.Year = 0;
            return false;
        }
        last = int(m_configNames.size()) > before ? int(m_configNames.size()) - 1 : 0;
    }

    // A configuration that cannot be opened (a damaged database) does not
    // lock the user out: after its message another one is chosen, or one is
    // attached when there is no other.
    const int storedYear = s.Year;
    QList<int> failed;
    bool ok = false;
    for (;;) {
        s.StartingUp = true;
        s.Year = storedYear;
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
        showError(reason, m_parent);
        failed.append(last);
        const std::optional<int> next = chooseOtherConfiguration(failed, reason);
        if (!next) {
            ok = false;
            s.Year = 0;
            break;
        }
        last = *next;
    }
    if (!ok && s.Year != 0 && s.ConfigName.isEmpty()) s.Year = 0;
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
        const bool create = confirm(question, m_parent);
        const std::optional<int> chosen = ChooseYear(QStringLiteral("Выберите отчетный год"));
        if (!chosen) return stop();
        if (create) {
            try {
                CreateYearDatabase(*chosen, s.Year);
            } catch (const db::Error &e) {
                showError(e.message(), m_parent);
                return stop();
            } catch (const Cancelled &) {
                winutil::showCancelled(m_parent);
                return stop();
            }
        } else {
            if (!config::YearComplete(s.ConfigPath + QString::number(*chosen))) {
                showError(QStringLiteral("Информация за ") + QString::number(*chosen) +
                              QStringLiteral(" год не найдена в папке ") + paths::withoutSlash(s.ConfigPath),
                          m_parent);
                return stop();
            }
            s.Year = *chosen;
        }
    }

    s.ConfigName = name;
    s.LastConfigIndex = index;
    m_configIndex = index;
    reloadYearFolders();
    try {
        SetYear();
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
    if (config::YearComplete(dst)) throw db::Error(QStringLiteral("Папка %1 уже существует").arg(final));
    // A year is made under a name that is no year, so a run killed halfway
    // leaves nothing that looks like one; a leftover of such a run is cleared.
    const QString work = final + QStringLiteral(".new/");
    if (dirExists(work) && !QDir(work).removeRecursively())
        throw db::Error(QStringLiteral("Не удалось удалить папку %1").arg(paths::withoutSlash(work)));
    makeFolder(work);
    try {
        build(work);
        // A folder of the year without its databases gives way to the complete
        // one; it is kept under another name, since what else it holds is unknown.
        QString aside;
        if (dirExists(final)) {
            aside = final + QStringLiteral(".неполная");
            for (int n = 2; dirExists(aside); ++n) aside = final + QStringLiteral(".неполная%1").arg(n);
            if (!QDir().rename(final, aside))
                throw db::Error(QStringLiteral("Не удалось переименовать папку %1 в %2").arg(final, aside));
        }
        if (!QDir().rename(paths::withoutSlash(work), final)) {
            if (!aside.isEmpty()) QDir().rename(aside, final);   // the user's folder back in its place
            throw db::Error(QStringLiteral("Не удалось переименовать папку %1 в %2").arg(paths::withoutSlash(work), final));
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

std::optional<int> Configuration::ChooseYear(const QString &caption) {
    auto dlg = std::make_unique<TSBY>(m_parent);
    dlg->setWindowTitle(caption);
    dlg->setYears(config::FillYearList(shared().ConfigPath));
    if (execModal(dlg.get()) != QDialog::Accepted) return std::nullopt;
    const QString text = dlg->year();
    bool ok = false;
    const int year = text.toInt(&ok);
    if (!ok || year <= 0) {
        showError(QStringLiteral("\"%1\" не является отчетным годом").arg(text), m_parent);
        return std::nullopt;
    }
    return year;
}

bool Configuration::askRegistration(TGBP *dlg, QString &name, QString &folder) {
    for (;;) {
        if (execModal(dlg) != QDialog::Accepted) return false;
        name = text::tabsToBlanks(dlg->name()).trimmed();
        folder = paths::withoutSlash(dlg->folder());
        if (name.isEmpty() || folder.trimmed().isEmpty()) return false;
        const QString problem = config::registrationProblem(name, folder);
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
    if (!askRegistration(dlg.get(), name, folder)) return false;
    IniFile ini(settingsPath());
    if (!ini.readError().isEmpty()) {
        // A settings file the program cannot read is never written over; the
        // configuration still opens, until the program ends.
        m_unsavedFolders.insert(name, folder);
        showMessage(QStringLiteral("Файл настроек %1 не прочитан, поэтому конфигурация \"%2\" не будет записана в "
                                   "него и доступна только до завершения работы программы.")
                        .arg(QDir::toNativeSeparators(settingsPath()), name),
                    m_parent);
        addName(name);
        if (attached) *attached = name;
        return true;
    }
    if (!ini.writeString(config::kSectionList, name, folder)) {
        showError(QStringLiteral("Не удалось записать файл настроек %1: %2").arg(settingsPath(), ini.lastError()),
                  m_parent);
        return false;
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
