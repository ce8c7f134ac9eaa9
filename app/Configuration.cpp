#include "app/Configuration.h"

#include "app/SmallDialogs.h"
#include "core/Caches.h"
#include "core/Common.h"
#include "core/SharedState.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
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
        if (IsDecimalText(name)) out.append(name);
    return out;
}

} // namespace config

namespace {

int calendarYear() { return QDate::currentDate().year(); }

bool dirExists(const QString &path) { return QFileInfo(path).isDir(); }

// Copies every file of one folder into another (replacing); throws on the first failure.
void copyFolderFiles(const QString &from, const QString &to) {
    const QDir src(from);
    if (!src.exists()) return;
    for (const QString &name : src.entryList(QDir::Files, QDir::Name)) {
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

bool Configuration::startUp() {
    SharedState &s = shared();
    const int thisYear = calendarYear();
    {
        IniFile probe(settingsPath());
        if (!probe.exists()) {
            s.Year = 0;
            N24Click();
            IniFile created(settingsPath());
            if (!created.exists()) return false;
            created.writeInteger(config::kSectionCurrent, QStringLiteral("Year"), thisYear);
            created.writeInteger(config::kSectionCurrent, QStringLiteral("Last"), 0);
        }
    }
    IniFile ini(settingsPath());
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
        N24Click();
        if (m_configNames.isEmpty()) {
            s.Year = 0;
            return false;
        }
        last = int(m_configNames.size()) > before ? int(m_configNames.size()) - 1 : 0;
    }

    s.StartingUp = true;
    bool ok = false;
    try {
        ok = openConfiguration(last);
    } catch (const std::exception &) {
        s.StartingUp = false;
        throw;
    }
    s.StartingUp = false;
    if (!ok && s.Year != 0 && s.ConfigName.isEmpty()) s.Year = 0;
    return ok && s.Year != 0;
}

bool Configuration::openConfiguration(int index) {
    SharedState &s = shared();
    if (index < 0 || index >= m_configNames.size()) return false;
    const QString name = m_configNames[index];
    IniFile ini(settingsPath());
    const QString folder = ini.readString(config::kSectionList, name);
    const QString previousPath = s.ConfigPath;
    const int previousYear = s.Year;
    auto stop = [&] {
        if (s.StartingUp) s.Year = 0;
        else s.Year = previousYear;
        s.ConfigPath = previousPath;
        return false;
    };
    if (folder.trimmed().isEmpty()) {
        showError(QStringLiteral("Для базы данных \"%1\" не указана папка").arg(name), m_parent);
        return stop();
    }
    s.ConfigPath = paths::withSlash(folder);

    if (!dirExists(s.ConfigPath + s.yearText())) {
        const QString question = QStringLiteral("Информация за ") + s.yearText() +
                                 QStringLiteral(" год не определена.\n\rСоздать?");
        const bool create = confirm(question, m_parent);
        const std::optional<int> chosen = ChooseYear(QStringLiteral("Выберите отчетный год"));
        if (!chosen) return stop();
        if (create) {
            try {
                CreateYearDatabase(*chosen, s.Year);
            } catch (const db::Error &e) {
                showError(e.message(), m_parent);
                return stop();
            }
        } else {
            if (!dirExists(s.ConfigPath + QString::number(*chosen))) {
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
    SetYear();
    ini.reload();
    ini.writeInteger(config::kSectionCurrent, QStringLiteral("Last"), s.LastConfigIndex);
    ini.writeInteger(config::kSectionCurrent, QStringLiteral("Year"), s.Year);
    return true;
}

void Configuration::SetYear() {
    SharedState &s = shared();
    const QString folder = s.yearFolder();
    db::open(db::kMain, folder + QStringLiteral("orvmain.mdb"), db::OpenMode::ReadWrite);
    db::open(db::kData, folder + QStringLiteral("data0.mdb"), db::OpenMode::ReadWrite);
    caches::reloadAll();
    m_levels.reload();
    IniFile ini(settingsPath());
    ini.writeInteger(config::kSectionCurrent, QStringLiteral("Year"), s.Year);
}

bool Configuration::stepYear(int delta) {
    SharedState &s = shared();
    const int from = s.Year;
    const int to = from + delta;
    if (!dirExists(s.ConfigPath + QString::number(to))) {
        const QString question = QStringLiteral("Вы действительно хотите создать базу данных для ") +
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

void Configuration::CreateYearDatabase(int from, int to) {
    SharedState &s = shared();
    if (!dirExists(s.ConfigPath))
        throw db::Error(QStringLiteral("Папка конфигурации %1 не найдена").arg(paths::withoutSlash(s.ConfigPath)));
    const QString src = s.ConfigPath + QString::number(from) + QLatin1Char('/');
    const QString dst = s.ConfigPath + QString::number(to) + QLatin1Char('/');
    if (dirExists(dst))
        throw db::Error(QStringLiteral("Папка %1 уже существует").arg(paths::withoutSlash(dst)));
    makeFolder(dst);
    try {
        db::copyDatabase(src + QStringLiteral("orvmain.mdb"), dst + QStringLiteral("orvmain.mdb"));
        db::copyDatabase(paths::templateValuesFile(), dst + QStringLiteral("data0.mdb"));
        makeFolder(dst + QStringLiteral("forms"));
        copyFolderFiles(src + QStringLiteral("forms/"), dst + QStringLiteral("forms/"));

        db::ScopedConnection nm(dst + QStringLiteral("orvmain.mdb"), db::OpenMode::ReadWrite, QStringLiteral("newyear"));
        const qint64 levels = db::scalar(nm.db(), QStringLiteral("select count(*) from subreps")).toLongLong();
        if (levels > 0) {
            if (confirm(QStringLiteral("Переносить в новый год промежуточные отчеты?"), m_parent)) {
                for (const QVariant &id : db::column(nm.db(), QStringLiteral("select id from subreps")))
                    db::copyDatabase(paths::templateValuesFile(),
                                     dst + QStringLiteral("data%1.mdb").arg(id.toLongLong()));
            } else {
                db::exec(nm.db(), QStringLiteral("delete from subreps"));
            }
        }
    } catch (...) {
        QDir(dst).removeRecursively();
        throw;
    }
}

std::optional<int> Configuration::ChooseYear(const QString &caption) {
    auto dlg = std::make_unique<TSBY>(m_parent);
    dlg->setWindowTitle(caption);
    dlg->ComboBox1->addItems(config::FillYearList(shared().ConfigPath));
    if (execModal(dlg.get()) != QDialog::Accepted) return std::nullopt;
    const QString text = dlg->ComboBox1->currentText().trimmed();
    bool ok = false;
    const int year = text.toInt(&ok);
    if (!ok || year <= 0) {
        showError(QStringLiteral("\"%1\" не является отчетным годом").arg(text), m_parent);
        return std::nullopt;
    }
    return year;
}

bool Configuration::N24Click() {
    auto dlg = std::make_unique<TGBP>(QString(), m_parent);
    dlg->setWindowTitle(QStringLiteral("Укажите путь к присоединяемой базе данных и ее название"));
    dlg->Edit2->setEnabled(false);
    if (execModal(dlg.get()) != QDialog::Accepted) return false;
    const QString name = dlg->Edit1->text().trimmed();
    const QString folder = paths::withoutSlash(dlg->Edit2->text().trimmed());
    if (name.isEmpty() || folder.isEmpty()) return false;
    IniFile ini(settingsPath());
    if (!ini.writeString(config::kSectionList, name, folder)) {
        showError(QStringLiteral("Не удалось записать файл настроек %1: %2").arg(settingsPath(), ini.lastError()),
                  m_parent);
        return false;
    }
    if (!m_configNames.contains(name)) {
        m_configNames.append(name);
        shared().ConfigNameList.add(name);
    }
    return true;
}

bool Configuration::N22Click() {
    auto dlg = std::make_unique<TGBP>(QString(), m_parent);
    dlg->setWindowTitle(QStringLiteral("Укажите расположение новой базы даных"));
    if (execModal(dlg.get()) != QDialog::Accepted) return false;
    const QString name = dlg->Edit1->text().trimmed();
    const QString target = paths::withoutSlash(dlg->Edit2->text().trimmed());
    if (name.isEmpty() || target.isEmpty()) return false;
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

void Configuration::CopyConfiguration(const QString &target, const QString &name) {
    SharedState &s = shared();
    if (name.trimmed().isEmpty()) throw db::Error(QStringLiteral("Не указано название базы данных"));
    const QString src = s.yearFolder();
    const QString dst = paths::withSlash(target) + s.yearText() + QLatin1Char('/');
    if (dirExists(dst))
        throw db::Error(QStringLiteral("Папка %1 уже существует").arg(paths::withoutSlash(dst)));
    makeFolder(dst);
    try {
        db::copyDatabase(src + QStringLiteral("orvmain.mdb"), dst + QStringLiteral("orvmain.mdb"));
        const QDir srcDir(src);
        for (const QString &f : srcDir.entryList({QStringLiteral("data*.mdb")}, QDir::Files, QDir::Name))
            db::copyDatabase(src + f, dst + f);
        makeFolder(dst + QStringLiteral("forms"));
        copyFolderFiles(src + QStringLiteral("forms/"), dst + QStringLiteral("forms/"));
        IniFile ini(settingsPath());
        if (!ini.writeString(config::kSectionList, name, paths::withoutSlash(target)))
            throw db::Error(QStringLiteral("Не удалось записать файл настроек %1: %2").arg(settingsPath(), ini.lastError()));
    } catch (...) {
        QDir(dst).removeRecursively();
        throw;
    }
    if (!m_configNames.contains(name)) {
        m_configNames.append(name);
        shared().ConfigNameList.add(name);
    }
}
