// Start-up, configurations and reporting years.
#include "app/Configuration.h"
#include "app/SmallDialogs.h"
#include "core/ProgressWindow.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/Files.h"
#include "support/FakeDialogs.h"
#include "support/ChildProcess.h"
#include "support/Fixture.h"
#include "updates/UpdateSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QProgressBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kCur = QStringLiteral("Конфигурация");
const QString kList = QStringLiteral("Конфигурации");

// Answers the year choice with the given text.
std::function<int(QDialog *)> chooseYear(const QString &text) {
    return [text](QDialog *d) {
        auto *sby = qobject_cast<TSBY *>(d);
        if (!sby) return int(QDialog::Rejected);
        sby->yearBox()->setCurrentText(text);
        return int(QDialog::Accepted);
    };
}

// Answers the attach or copy dialog with a name and a folder.
std::function<int(QDialog *)> nameFolder(const QString &name, const QString &folder) {
    return [name, folder](QDialog *d) {
        auto *gbp = qobject_cast<TGBP *>(d);
        if (!gbp) return int(QDialog::Rejected);
        gbp->nameEdit()->setText(name);
        gbp->folderEdit()->setText(folder);
        return gbp->okButton()->isEnabled() ? int(QDialog::Accepted) : int(QDialog::Rejected);
    };
}

qint64 count(const QString &file, const QString &sql) {
    db::ScopedConnection c(file, db::OpenMode::ReadOnly);
    return db::scalar(c.db(), sql).toLongLong();
}

const QString kAttachCaption = QStringLiteral("Укажите путь к присоединяемой базе данных и ее название");

} // namespace

class StartUpWithoutSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        paths::setProgramFolder(dir.path() + QStringLiteral("/program"));
        paths::makePath(paths::programFolder());
        sample::createProgramFiles(paths::programFolder());
    }
    void TearDown() override {
        db::close(db::kData);
        db::close(db::kMain);
        paths::setProgramFolder(QString());
        shared().ConfigPath.clear();
        shared().ConfigName.clear();
        shared().Year = 0;
    }
    QTemporaryDir dir;
    FakeDialogs dlg;
};

// No settings, or settings without configurations: the attach dialog; cancelled, the start stops with year 0.
TEST_F(StartUpWithoutSettings, CancelledAttachStopsWithYearZero) {
    for (const bool withSettings : {false, true}) {
        if (withSettings) IniFile(paths::settingsFile()).writeInteger(kCur, QStringLiteral("Year"), 2024);
        dlg.modalTitles.clear();
        Configuration c;
        EXPECT_FALSE(c.startUp());
        EXPECT_EQ(shared().Year, 0);
        EXPECT_EQ(dlg.modalTitles, QStringList{kAttachCaption});
        EXPECT_EQ(QFileInfo::exists(paths::settingsFile()), withSettings);
    }
}

TEST_F(StartUpWithoutSettings, AttachedFolderIsStoredWithoutSlashAndOpened) {
    const int year = QDate::currentDate().year();
    const QString folder = dir.path() + QStringLiteral("/base");
    sample::createConfiguration(folder, year);
    dlg.modals.push_back(nameFolder(QStringLiteral("Район"), folder + QStringLiteral("/")));
    Configuration c;
    ASSERT_TRUE(c.startUp());
    IniFile ini(paths::settingsFile());
    EXPECT_EQ(ini.readString(kList, QStringLiteral("Район")), folder);
    EXPECT_EQ(ini.readInteger(kCur, QStringLiteral("Year"), 0), year);
    EXPECT_EQ(ini.readInteger(kCur, QStringLiteral("Last"), -1), 0);
    EXPECT_EQ(shared().ConfigPath, folder + QStringLiteral("/"));
    EXPECT_EQ(shared().ConfigName, QStringLiteral("Район"));
    EXPECT_TRUE(db::fileOf(db::kMain).endsWith(QStringLiteral("/%1/orvmain.mdb").arg(year)));
}

// A new user's first configurations, named as users name them (digits and brackets after letters, lower case),
// each in a folder of the same name: the settings file written at the first start opens them at the next.
TEST_F(StartUpWithoutSettings, FirstConfigurationsNamedAsUsersNameThemOpenAtTheNextStart) {
    const int year = QDate::currentDate().year();
    const QStringList names = {QStringLiteral("Район1"), QStringLiteral("Архив2023"), QStringLiteral("детей(0-17 лет)"),
                               QStringLiteral("форма1т"), QStringLiteral("мВ")};
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile::remove(paths::settingsFile());
        const QString folder = dir.path() + u'/' + name;
        sample::createConfiguration(folder, year);
        dlg.modals.push_back(nameFolder(name, folder));
        ASSERT_TRUE(Configuration().startUp());
        dlg.modalTitles.clear();
        dlg.messages.clear();
        Configuration next;
        ASSERT_TRUE(next.startUp()) << dlg.messages.join(u'|').toStdString();
        EXPECT_EQ(next.configNames(), QStringList{name});
        EXPECT_EQ(shared().ConfigName, name);
        EXPECT_TRUE(dlg.modalTitles.isEmpty());
        EXPECT_TRUE(dlg.messages.isEmpty()) << dlg.messages.join(u'|').toStdString();
    }
}

class StartUp : public ::testing::Test {
protected:
    void TearDown() override { shared().StartingUp = false; }
    SampleFixture fx;
    FakeDialogs dlg;
};

TEST_F(StartUp, OpensTheLastConfigurationAndYear) {
    Configuration c;
    ASSERT_TRUE(c.startUp());
    EXPECT_EQ(shared().ConfigName, SampleFixture::kConfigName);
    EXPECT_EQ(shared().Year, fx.year());
    EXPECT_EQ(db::fileOf(db::kData), fx.yearFolder() + QStringLiteral("data0.mdb"));
    EXPECT_FALSE(shared().Caches.forms.isEmpty());
    EXPECT_TRUE(dlg.questions.isEmpty());
}

// The stored year has no folder: another year is asked for. Cancelled, not a number, or a year without a folder (never
// opened as an empty year): the start stops with year 0.
TEST_F(StartUp, MissingYearFolderAsksForAnotherYear) {
    const struct {
        int stored;
        QList<bool> answers;   // create the stored year?, carry the levels over?
        QString chosen;
        int opened;
        QString said;
    } cases[] = {
        {2030, {false}, QString(), 0, QString()},
        {2030, {false}, QStringLiteral("двадцать"), 0, QStringLiteral("не является отчетным годом")},
        {2030, {false}, QStringLiteral("2019"), 0, QStringLiteral("Информация за 2019 год не найдена")},
        {2030, {false}, QStringLiteral("2024"), 2024, QString()},
        {2026, {true, false}, QStringLiteral("2024"), 2026, QString()},   // made from the chosen year
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(k.stored).arg(k.chosen).toStdString());
        IniFile(fx.settingsFile()).writeInteger(kCur, QStringLiteral("Year"), k.stored);
        dlg.messages.clear();
        dlg.questions.clear();
        dlg.answers.assign(k.answers.begin(), k.answers.end());
        if (!k.chosen.isEmpty()) dlg.modals.push_back(chooseYear(k.chosen));
        Configuration c;
        EXPECT_EQ(c.startUp(), k.opened != 0);
        EXPECT_EQ(shared().Year, k.opened);
        EXPECT_TRUE(k.said.isEmpty() ? dlg.messages.isEmpty() : dlg.sawMessage(k.said)) << dlg.messages.join(u'|').toStdString();
        EXPECT_EQ(dlg.questions.value(0),
                  QStringLiteral("Информация за %1 год не определена.\n\rСоздать?").arg(k.stored));
        if (k.opened) EXPECT_EQ(IniFile(fx.settingsFile()).readInteger(kCur, QStringLiteral("Year"), 0), k.opened);
        if (k.opened == 2026) EXPECT_EQ(c.levels().list().count(), 1);
    }
    EXPECT_FALSE(QFileInfo::exists(fx.configFolder() + QStringLiteral("2019")));
    EXPECT_TRUE(QFileInfo::exists(fx.configFolder() + QStringLiteral("2026/orvmain.mdb")));
    EXPECT_FALSE(QFileInfo::exists(fx.configFolder() + QStringLiteral("2026/data1.mdb")));
    EXPECT_EQ(count(fx.configFolder() + QStringLiteral("2026/orvmain.mdb"), QStringLiteral("select count(*) from subreps")), 0);
}

TEST_F(StartUp, LastIndexPastTheListLeadsToTheAttachDialog) {
    IniFile(fx.settingsFile()).writeInteger(kCur, QStringLiteral("Last"), 5);
    dlg.modals.push_back(nameFolder(QStringLiteral("Второй"), fx.configFolder()));
    Configuration c;
    ASSERT_TRUE(c.startUp());
    EXPECT_EQ(dlg.modalTitles, QStringList{kAttachCaption});
    EXPECT_EQ(shared().ConfigName, QStringLiteral("Второй"));
    EXPECT_EQ(c.configIndex(), 1);
    EXPECT_EQ(IniFile(fx.settingsFile()).readInteger(kCur, QStringLiteral("Last"), 0), 1);
}

class Years : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(c.startUp());
        dlg.questions.clear();
    }
    QString year(int y) const { return fx.configFolder() + QString::number(y) + QLatin1Char('/'); }
    void expectTheOldYearOnly() {
        EXPECT_EQ(QDir(fx.configFolder()).entryList({QStringLiteral("2025*")}, QDir::AllEntries), QStringList{});
        EXPECT_EQ(shared().Year, 2024);
        EXPECT_EQ(db::fileOf(db::kMain), year(2024) + QStringLiteral("orvmain.mdb"));
    }
    SampleFixture fx;
    FakeDialogs dlg;
    Configuration c;
};

TEST_F(Years, NextYearDeclinedChangesNothing) {
    const QString caption = c.windowCaption();
    dlg.answers = {false};
    EXPECT_FALSE(c.stepYear(+1));
    EXPECT_EQ(dlg.questions, QStringList{QStringLiteral("Вы действительно хотите создать базу данных для 2025 года?")});
    EXPECT_EQ(shared().Year, 2024);
    EXPECT_EQ(c.windowCaption(), caption);
    EXPECT_EQ(db::fileOf(db::kMain), year(2024) + QStringLiteral("orvmain.mdb"));
    EXPECT_FALSE(QFileInfo::exists(year(2025)));
}

TEST_F(Years, NewYearKeepsLevelsWithEmptyValueFiles) {
    dlg.answers = {true, true};
    ASSERT_TRUE(c.stepYear(+1));
    EXPECT_EQ(dlg.questions.last(), QStringLiteral("Переносить в новый год промежуточные отчеты?"));
    EXPECT_EQ(shared().Year, 2025);
    EXPECT_EQ(db::fileOf(db::kMain), year(2025) + QStringLiteral("orvmain.mdb"));
    EXPECT_EQ(count(year(2025) + QStringLiteral("orvmain.mdb"), QStringLiteral("select count(*) from subreps")), 1);
    EXPECT_EQ(count(year(2025) + QStringLiteral("data1.mdb"), QStringLiteral("select count(*) from data")), 0);
    EXPECT_EQ(count(year(2025) + QStringLiteral("data0.mdb"), QStringLiteral("select count(*) from data")), 0);
    EXPECT_GT(count(year(2024) + QStringLiteral("data0.mdb"), QStringLiteral("select count(*) from data")), 0);
    EXPECT_EQ(QDir(year(2025) + QStringLiteral("forms")).entryList(QDir::Files),
              QDir(year(2024) + QStringLiteral("forms")).entryList(QDir::Files));
    EXPECT_EQ(c.levels().list().count(), 2);
    EXPECT_EQ(IniFile(fx.settingsFile()).readInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"), 0), 2025);
}

TEST_F(Years, YearWithoutLevelsAsksNoLevelQuestion) {
    db::exec(db::kMain, QStringLiteral("delete from subreps"));
    dlg.answers = {true};
    ASSERT_TRUE(c.stepYear(-1));
    EXPECT_EQ(dlg.questions.size(), 1);
    EXPECT_EQ(shared().Year, 2023);
}

TEST_F(Years, FailedCopyLeavesNoHalfBuiltYear) {
    QFile::remove(paths::templateValuesFile());
    dlg.answers = {true};
    EXPECT_THROW(c.stepYear(+1), db::Error);
    expectTheOldYearOnly();
}

TEST_F(Years, NewYearCancelledHalfwayLeavesNoYear) {
    // "Отмена" pressed in the progress window once two files are copied.
    const QMetaObject::Connection pressed = QObject::connect(Progress().gauge(), &QProgressBar::valueChanged,
                                                             [](int v) { if (v >= 2) Progress().cancel(); });
    dlg.answers = {true, true};
    EXPECT_THROW(c.stepYear(+1), Cancelled);
    QObject::disconnect(pressed);
    EXPECT_GT(Progress().max(), 3);
    expectTheOldYearOnly();
    EXPECT_FALSE(Progress().isVisible());
}

TEST_F(Years, YearListOffersOnlyCompleteDigitFolders) {
    QDir().mkpath(year(2020) + QStringLiteral("forms"));   // a year left without its databases
    QDir().mkpath(fx.configFolder() + QStringLiteral("2023_old"));
    QDir().mkpath(fx.configFolder() + QStringLiteral("архив"));
    // Databases present but empty: no year either.
    QDir().mkpath(year(2021));
    for (const QString &f : {QStringLiteral("orvmain.mdb"), QStringLiteral("data0.mdb")})
        ASSERT_TRUE(cp1251::writeFile(year(2021) + f, {}));
    // A database that cannot be read as a file (a folder of its name): no year either.
    QDir().mkpath(year(2022) + QStringLiteral("orvmain.mdb"));
    db::copyDatabase(fx.yearFolder() + QStringLiteral("data0.mdb"), year(2022) + QStringLiteral("data0.mdb"));
    EXPECT_EQ(config::MissingYearFiles(year(2022)), QStringList{QStringLiteral("orvmain.mdb")});
    EXPECT_EQ(config::FillYearList(shared().ConfigPath), QStringList{QStringLiteral("2024")});
}

// A year folder whose databases are empty, or that lacks one, is made again; the question names what it lacks and
// where the folder will be kept, the closing message where it was kept. Never moved without a word.
TEST_F(Years, IncompleteYearIsMadeAgainAndSaysWhereTheOldFolderWent) {
    const struct {
        QString emptyFile;     // written empty
        QString missingFile;   // not there
        QString said;
    } cases[] = {
        {QStringLiteral("orvmain.mdb"), QString(), QStringLiteral("нет файла orvmain.mdb (или он пуст, не содержит таблиц или не читается)")},
        {QString(), QStringLiteral("data0.mdb"), QStringLiteral("нет файла data0.mdb (или он пуст, не содержит таблиц или не читается)")},
    };
    int round = 0;
    for (const auto &k : cases) {
        SCOPED_TRACE(k.said.toStdString());
        const int y = 2025 + round++;
        QDir().mkpath(year(y));
        for (const QString f : {QStringLiteral("orvmain.mdb"), QStringLiteral("data0.mdb")}) {
            if (f == k.missingFile) continue;
            if (f == k.emptyFile) ASSERT_TRUE(cp1251::writeFile(year(y) + f, {}));
            else db::copyDatabase(fx.yearFolder() + f, year(y) + f);
        }
        EXPECT_FALSE(config::YearComplete(year(y)));
        dlg.questions.clear();
        dlg.messages.clear();
        dlg.answers = {true, true};
        ASSERT_TRUE(c.stepYear(+1));
        EXPECT_TRUE(config::YearComplete(year(y)));
        const QString aside = fx.configFolder() + QStringLiteral("%1.неполная").arg(y);
        EXPECT_TRUE(QFileInfo::exists(aside + QLatin1Char('/') + (k.emptyFile.isEmpty() ? QStringLiteral("orvmain.mdb") : k.emptyFile)));
        ASSERT_FALSE(dlg.questions.isEmpty());
        EXPECT_TRUE(dlg.questions[0].contains(k.said)) << dlg.questions[0].toStdString();
        EXPECT_TRUE(dlg.questions[0].contains(QStringLiteral("\"%1.неполная\"").arg(y))) << dlg.questions[0].toStdString();
        EXPECT_TRUE(dlg.sawMessage(QStringLiteral("сохранена как ") + QDir::toNativeSeparators(aside)))
            << dlg.messages.join(u'|').toStdString();
        EXPECT_EQ(shared().Year, y);
    }
    // Opening a configuration whose year is incomplete asks the same way.
    QDir().mkpath(year(2030));
    db::copyDatabase(fx.yearFolder() + QStringLiteral("orvmain.mdb"), year(2030) + QStringLiteral("orvmain.mdb"));
    shared().Year = 2030;
    dlg.questions.clear();
    dlg.answers = {true, true};
    dlg.modals.push_back(chooseYear(QStringLiteral("2024")));
    ASSERT_TRUE(c.openConfiguration(0));
    ASSERT_FALSE(dlg.questions.isEmpty());
    EXPECT_TRUE(dlg.questions[0].startsWith(QStringLiteral("Информация за 2030 год не определена.\n\rВ папке ")));
    EXPECT_TRUE(dlg.questions[0].contains(QStringLiteral("нет файла data0.mdb"))) << dlg.questions[0].toStdString();
    EXPECT_TRUE(dlg.sawMessage(QDir::toNativeSeparators(fx.configFolder() + QStringLiteral("2030.неполная"))));
    EXPECT_EQ(shared().Year, 2030);
}

// A run killed while the next year is being made leaves nothing that opens as a year, and the year can be made again.
TEST_F(Years, YearKilledHalfwayIsMadeAgain) {
    struct KillOnLevelQuestion : FakeDialogs {
        bool question(QWidget *p, const QString &text, const QString &title) override {
            if (text.startsWith(QStringLiteral("Переносить"))) _exit(0);   // the databases are copied by now
            return FakeDialogs::question(p, text, title);
        }
    };
    db::close(db::kData);
    db::close(db::kMain);
    const LimitedRun killed = runWithFileSizeLimit(1LL << 40, [&](QString &) {
        KillOnLevelQuestion inChild;
        inChild.answers = {true};
        c.SetYear();
        c.stepYear(+1);
        return false;
    });
    ASSERT_TRUE(killed.result);
    c.SetYear();
    // An older leftover: the year folder itself without its databases.
    QDir().mkpath(year(2025) + QStringLiteral("forms"));
    dlg.answers = {true, true};
    ASSERT_TRUE(c.stepYear(+1));
    EXPECT_TRUE(dlg.questions.first().contains(QStringLiteral("нет файлов orvmain.mdb и data0.mdb (или они пусты, не "
                                                              "содержат таблиц или не читаются)")))
        << dlg.questions.first().toStdString();
    EXPECT_TRUE(dlg.questions.first().endsWith(QStringLiteral("\nВы действительно хотите создать базу данных для 2025 года?")));
    EXPECT_TRUE(config::YearComplete(year(2025)));
    EXPECT_TRUE(QFileInfo::exists(year(2025) + QStringLiteral("data1.mdb")));
    EXPECT_FALSE(QFileInfo::exists(fx.configFolder() + QStringLiteral("2025.new")));
    EXPECT_TRUE(QFileInfo::exists(fx.configFolder() + QStringLiteral("2025.неполная/forms")));   // kept aside
    EXPECT_EQ(shared().Year, 2025);
}

TEST_F(Years, CopyMakesTheOpenYearUnderANewName) {
    const QString target = fx.root() + QStringLiteral("copies/one");
    dlg.modals.push_back(nameFolder(QStringLiteral("Копия 2024"), target));
    dlg.answers = {true};   // create the missing folder
    ASSERT_TRUE(c.copyYearToNewDatabase());
    EXPECT_TRUE(dlg.questions.first().startsWith(QStringLiteral("Папка ") + target + QStringLiteral(" не существует")));
    for (const char *f : {"orvmain.mdb", "data0.mdb", "data1.mdb"})
        EXPECT_TRUE(QFileInfo::exists(target + QStringLiteral("/2024/") + QLatin1String(f))) << f;
    EXPECT_EQ(IniFile(fx.settingsFile()).readString(QStringLiteral("Конфигурации"), QStringLiteral("Копия 2024")),
              target);
    EXPECT_TRUE(c.configNames().contains(QStringLiteral("Копия 2024")));

    // The same target again: its year exists, nothing is overwritten or registered.
    dlg.modals.push_back(nameFolder(QStringLiteral("Ещё"), target));
    EXPECT_FALSE(c.copyYearToNewDatabase());
    EXPECT_TRUE(dlg.sawMessage(QStringLiteral("уже существует")));
    EXPECT_FALSE(IniFile(fx.settingsFile()).valueExists(QStringLiteral("Конфигурации"), QStringLiteral("Ещё")));
    EXPECT_TRUE(QFileInfo::exists(target + QStringLiteral("/2024/orvmain.mdb")));
}

TEST_F(Years, CopyWithoutNameRegistersNothing) {
    dlg.modals.push_back(nameFolder(QString(), fx.root() + QStringLiteral("c2")));
    EXPECT_FALSE(c.copyYearToNewDatabase());
    EXPECT_EQ(IniFile(fx.settingsFile()).sectionKeys(QStringLiteral("Конфигурации")),
              QStringList{SampleFixture::kConfigName});
    EXPECT_THROW(c.CopyConfiguration(fx.root() + QStringLiteral("c3/"), QString()), db::Error);
}

// Names and folders that the settings file could not give back as typed (a key's "=" or ";", a section's "[", a
// character outside its code page; a folder with a blank at an end or a Tab) are refused with the character named and
// not registered; every other name survives a restart as typed.
TEST_F(Years, AttachRefusesNamesAndFoldersTheSettingsFileCannotHold) {
    const struct {
        QString name, folder, said;
    } refused[] = {
        {QStringLiteral("Район=2"), fx.configFolder(), QStringLiteral("\"=\"")},
        {QStringLiteral(";Комментарий"), fx.configFolder(), QStringLiteral("\";\"")},
        {QStringLiteral("[Секция]"), fx.configFolder(), QStringLiteral("\"[\"")},
        {QStringLiteral("Район ∑"), fx.configFolder(), QStringLiteral("\"∑\" (U+2211)")},
        {QStringLiteral("Район"), fx.root() + QStringLiteral("папка "), QStringLiteral("заканчивается пробелом")},
        {QStringLiteral("Район"), fx.root() + QStringLiteral("папка\t2"), QStringLiteral("табуляции")},
        {QStringLiteral("Район"), QStringLiteral(" ") + fx.root() + QStringLiteral("папка"), QStringLiteral("начинается с пробела")},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE((r.name + u' ' + r.folder).toStdString());
        dlg.messages.clear();
        dlg.modals.push_back(nameFolder(r.name, r.folder));
        EXPECT_FALSE(c.attachDatabase());
        ASSERT_EQ(dlg.messages.size(), 1);
        EXPECT_TRUE(dlg.messages[0].contains(r.said)) << dlg.messages[0].toStdString();
        EXPECT_EQ(IniFile(fx.settingsFile()).sectionKeys(kList), QStringList{SampleFixture::kConfigName});
    }
    // A refused name can be corrected in the same window.
    dlg.modals.push_back(nameFolder(QStringLiteral("Район=3"), fx.configFolder()));
    dlg.modals.push_back(nameFolder(QStringLiteral("Район\t\"Северный\" #1"), fx.configFolder()));
    ASSERT_TRUE(c.attachDatabase());
    EXPECT_EQ(IniFile(fx.settingsFile()).sectionKeys(kList),
              (QStringList{SampleFixture::kConfigName, QStringLiteral("Район \"Северный\" #1")}));

    Configuration restarted;
    ASSERT_TRUE(restarted.startUp());
    EXPECT_EQ(restarted.configNames(), (QStringList{SampleFixture::kConfigName, QStringLiteral("Район \"Северный\" #1")}));
    ASSERT_TRUE(restarted.openConfiguration(1));
    EXPECT_EQ(shared().ConfigPath, fx.configFolder());
}

TEST_F(Years, TakenNameIsReplacedOnlyAfterYes) {
    const QString other = fx.root() + QStringLiteral("другая");
    sample::createConfiguration(other, fx.year());
    const QString question = QStringLiteral("Конфигурация \"образец\" уже подключена к папке %1. Заменить?")
                                 .arg(paths::withoutSlash(fx.configFolder()));
    for (const bool yes : {false, true}) {
        dlg.questions.clear();
        dlg.answers = {yes};
        dlg.modals.push_back(nameFolder(QStringLiteral("образец"), other));
        EXPECT_EQ(c.attachDatabase(), yes);
        EXPECT_EQ(dlg.questions, QStringList{question});
        EXPECT_EQ(IniFile(fx.settingsFile()).readString(kList, SampleFixture::kConfigName),
                  yes ? other : paths::withoutSlash(fx.configFolder()));
    }
    EXPECT_EQ(c.configNames(), QStringList{SampleFixture::kConfigName});
}

TEST_F(Years, DamagedMainDatabaseLeavesThePreviousConfigurationOpen) {
    const QString broken = fx.root() + QStringLiteral("broken/");
    QDir().mkpath(broken + QStringLiteral("2024"));
    ASSERT_TRUE(cp1251::writeLines(broken + QStringLiteral("2024/orvmain.mdb"), {QStringLiteral("не база")}));
    db::copyDatabase(fx.yearFolder() + QStringLiteral("data0.mdb"), broken + QStringLiteral("2024/data0.mdb"));
    dlg.modals.push_back(nameFolder(QStringLiteral("Сломанная"), broken));
    ASSERT_TRUE(c.attachDatabase());
    const QString caption = c.windowCaption();
    const int forms = int(shared().Caches.forms.size());
    EXPECT_THROW(c.openConfiguration(1), db::Error);
    EXPECT_EQ(c.windowCaption(), caption);
    EXPECT_EQ(c.configIndex(), 0);
    EXPECT_EQ(shared().ConfigPath, fx.configFolder());
    EXPECT_EQ(db::fileOf(db::kMain), fx.yearFolder() + QStringLiteral("orvmain.mdb"));
    EXPECT_EQ(db::fileOf(db::kData), fx.yearFolder() + QStringLiteral("data0.mdb"));
    EXPECT_EQ(int(shared().Caches.forms.size()), forms);
    EXPECT_EQ(IniFile(fx.settingsFile()).readInteger(kCur, QStringLiteral("Last"), -1), 0);
}

// The last configuration cannot be opened (a damaged main database, a folder that is missing, no folder registered): its
// message, then the choice of the others, or the attach dialog when there is none; the program starts with the one
// chosen. Cancelled, it stops. No year question is asked of a configuration that is not there.
TEST_F(StartUp, FailedLastConfigurationLeadsToAnotherOne) {
    const QString broken = fx.root() + QStringLiteral("broken/");
    QDir().mkpath(broken + QString::number(fx.year()));
    ASSERT_TRUE(cp1251::writeLines(broken + QStringLiteral("%1/orvmain.mdb").arg(fx.year()), {QStringLiteral("не база")}));
    db::copyDatabase(fx.yearFolder() + QStringLiteral("data0.mdb"), broken + QStringLiteral("%1/data0.mdb").arg(fx.year()));
    const QString good = paths::withoutSlash(fx.configFolder());
    const auto pick = [](const QString &name) {
        return [name](QDialog *d) {
            auto *sel = qobject_cast<TSelectConfig *>(d);
            if (!sel) return int(QDialog::Rejected);
            sel->choiceBox()->setCurrentText(name);
            return int(QDialog::Accepted);
        };
    };
    const struct {
        QString folder;
        QString said;
    } failures[] = {
        {paths::withoutSlash(broken), QStringLiteral("orvmain.mdb")},
        {fx.root() + QStringLiteral("нет такой папки"), QStringLiteral("Папка конфигурации \"Сломанная\" не найдена")},
        {QString(), QStringLiteral("не указана папка")},
        {fx.root() + QStringLiteral("пустая"), QStringLiteral("нет ни одного отчетного года")},
    };
    QDir().mkpath(fx.root() + QStringLiteral("пустая/2019"));   // a year folder without its databases
    const struct {
        bool otherRegistered;
        std::function<int(QDialog *)> answer;
        QString opened;
        QString window;
    } cases[] = {
        {true, pick(SampleFixture::kConfigName), SampleFixture::kConfigName, QStringLiteral("Выбор конфигурации")},
        {true, nullptr, QString(), QStringLiteral("Выбор конфигурации")},
        {false, nameFolder(QStringLiteral("Новая"), good), QStringLiteral("Новая"), kAttachCaption},
        {false, nullptr, QString(), kAttachCaption},
    };
    for (const auto &f : failures)
        for (const auto &k : cases) {
            SCOPED_TRACE(f.folder.toStdString() + " " + k.window.toStdString() + " " + k.opened.toStdString());
            {
                IniFile ini(fx.settingsFile());
                ini.eraseSection(kList);
                if (k.otherRegistered) ini.writeString(kList, SampleFixture::kConfigName, good);
                ini.writeString(kList, QStringLiteral("Сломанная"), f.folder);
                ini.writeInteger(kCur, QStringLiteral("Last"), k.otherRegistered ? 1 : 0);
            }
            dlg.messages.clear();
            dlg.questions.clear();
            dlg.modalTitles.clear();
            // The reason is said once: in the choice of configurations, or before the attach dialog.
            QString shownReason;
            dlg.modals.push_back([&, answer = k.answer](QDialog *d) {
                if (auto *sel = qobject_cast<TSelectConfig *>(d)) shownReason = sel->reasonText();
                return answer ? answer(d) : int(QDialog::Rejected);
            });
            Configuration c;
            EXPECT_EQ(c.startUp(), !k.opened.isEmpty());
            if (k.otherRegistered) {
                EXPECT_TRUE(dlg.messages.isEmpty()) << dlg.messages.join(u'|').toStdString();
                EXPECT_TRUE(shownReason.contains(f.said)) << shownReason.toStdString();
            } else {
                ASSERT_EQ(dlg.messages.size(), 1);
                EXPECT_TRUE(dlg.messages[0].contains(f.said)) << dlg.messages[0].toStdString();
            }
            EXPECT_TRUE(dlg.questions.isEmpty()) << dlg.questions.join(u'|').toStdString();
            EXPECT_EQ(dlg.modalTitles, QStringList{k.window});
            EXPECT_EQ(shared().Year, k.opened.isEmpty() ? 0 : fx.year());
            if (k.opened.isEmpty()) continue;
            EXPECT_EQ(shared().ConfigName, k.opened);
            EXPECT_EQ(db::fileOf(db::kMain), fx.yearFolder() + QStringLiteral("orvmain.mdb"));
            // The next start opens the one that opened.
            EXPECT_EQ(IniFile(fx.settingsFile()).readInteger(kCur, QStringLiteral("Last"), -1), c.configIndex());
        }
}

// Chosen in the list while another one is open, a configuration without its folder is said and the open one stays.
TEST_F(Years, MissingConfigurationFolderLeavesTheOpenOneAsItWas) {
    sample::createConfiguration(fx.root() + QStringLiteral("пропавшая"), fx.year());
    dlg.modals.push_back(nameFolder(QStringLiteral("Пропавшая"), fx.root() + QStringLiteral("пропавшая")));
    ASSERT_TRUE(c.attachDatabase());
    ASSERT_TRUE(QDir(fx.root() + QStringLiteral("пропавшая")).removeRecursively());
    const QString caption = c.windowCaption();
    EXPECT_THROW(c.openConfiguration(1), db::Error);
    EXPECT_EQ(c.windowCaption(), caption);
    EXPECT_EQ(c.configIndex(), 0);
    EXPECT_EQ(shared().ConfigPath, fx.configFolder());
    EXPECT_EQ(db::fileOf(db::kMain), fx.yearFolder() + QStringLiteral("orvmain.mdb"));
    EXPECT_TRUE(dlg.questions.isEmpty());
}

TEST(Settings, FileResavedAsUtf8IsReadAndWrittenBackInCodePage1251) {
    SampleFixture fx(true);
    FakeDialogs dlg;
    const QByteArray utf8 = QStringLiteral("[Конфигурация]\nYear=2024\nLast=0\n[Конфигурации]\nОбразец=%1\n")
                                .arg(paths::withoutSlash(fx.configFolder())).toUtf8();
    ASSERT_TRUE(cp1251::writeFile(fx.settingsFile(), "\xEF\xBB\xBF" + utf8));
    Configuration c;
    ASSERT_TRUE(c.startUp());
    EXPECT_EQ(c.configNames(), QStringList{SampleFixture::kConfigName});
    ASSERT_TRUE(c.stepYear(-1));
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(fx.settingsFile(), lines));   // read as code page 1251
    EXPECT_TRUE(lines.contains(QStringLiteral("Образец=") + paths::withoutSlash(fx.configFolder())));
    EXPECT_TRUE(lines.contains(QStringLiteral("Year=2023")));
}

// A settings file that cannot be written (a read-only program folder) is no matter while nothing changes: the start-up
// says nothing. Once something changes (years stepped), it is said once.
TEST(Settings, UnwritableSettingsFileIsSaidOnceAndOnlyWhenSomethingChanges) {
    SampleFixture fx(true);
    {
        FakeDialogs dlg;
        Configuration c;
        ASSERT_TRUE(c.startUp());   // the file now holds the year and configuration opened
    }
    for (const bool change : {false, true}) {
        const LimitedRun run = runWithFileSizeLimit(0, [&](QString &said) {
            FakeDialogs dlg;
            Configuration c;
            const bool ok = c.startUp() && (!change || (c.stepYear(-1) && c.stepYear(+1))) && c.openConfiguration(0);
            said = dlg.messages.join(u'|');
            return ok && dlg.messages.size() == (change ? 1 : 0);
        });
        EXPECT_TRUE(run.result) << change << run.message.toStdString();
        if (change)
            EXPECT_TRUE(run.message.startsWith(QStringLiteral("Не удалось записать файл настроек"))) << run.message.toStdString();
    }
}

// Settings saved by an editor in UTF-16: the start says so, the attach
// dialog's answer is not written over the file, and a copy stands beside it.
TEST_F(StartUpWithoutSettings, UnreadableSettingsAreToldAndNeverWrittenOver) {
    const QString text = QStringLiteral("[Текущая]\r\nYear=2024\r\n");
    QByteArray bytes("\xFF\xFE");
    bytes += QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    ASSERT_TRUE(cp1251::writeFile(paths::settingsFile(), bytes));
    const QString folder = dir.path() + QStringLiteral("/base");
    sample::createConfiguration(folder, QDate::currentDate().year());
    dlg.modals.push_back(nameFolder(QStringLiteral("Район"), folder));
    Configuration c;
    EXPECT_TRUE(c.startUp());   // the attached configuration opens for this run
    EXPECT_EQ(shared().ConfigName, QStringLiteral("Район"));
    EXPECT_EQ(shared().ConfigPath, folder + QStringLiteral("/"));
    ASSERT_EQ(dlg.messages.size(), 2) << dlg.messages.join(u'|').toStdString();
    EXPECT_TRUE(dlg.messages[0].contains(QStringLiteral("UTF-16"))) << dlg.messages[0].toStdString();
    EXPECT_TRUE(dlg.messages[1].contains(QStringLiteral("только на время этой работы"))) << dlg.messages[1].toStdString();
    EXPECT_EQ(fileBytes(paths::settingsFile()), bytes);
    EXPECT_EQ(fileBytes(paths::settingsFile() + QStringLiteral(".копия")), bytes);
}

// The opening of a year finishes what a killed run of the update service left: a rollback whose database write did
// not commit gets its print files back as they were.
TEST_F(Years, OpeningTheYearUndoesTheRenamesOfAKilledRollback) {
    const QString forms = year(2024) + QStringLiteral("forms/");
    EnsureUpdateTables(db::connection(db::kMain));
    db::exec(db::connection(db::kMain), "insert into updates (update_id, year, status) values ('U9', 2024, 'installed')");
    // Killed after its first rename: Ф30.txt set aside, the backup's copy put in.
    ASSERT_TRUE(QDir().mkpath(forms + QStringLiteral(".rollback_old")));
    ASSERT_TRUE(QDir().mkpath(forms + QStringLiteral(".rollback_staging")));
    ASSERT_TRUE(cp1251::writeLines(forms + QStringLiteral(".rollback_staging/.rollback_plan"),
                                   {QStringLiteral("U9"), QStringLiteral("\"Ф30.txt\",\"1\""), QStringLiteral("\"Ф14.doc\",\"0\"")}));
    const QByteArray updated = fileBytes(forms + QStringLiteral("Ф30.txt"));
    ASSERT_TRUE(QFile::rename(forms + QStringLiteral("Ф30.txt"), forms + QStringLiteral(".rollback_old/Ф30.txt")));
    ASSERT_TRUE(cp1251::writeLines(forms + QStringLiteral("Ф30.txt"), {QStringLiteral("из резервной копии")}));
    c.SetYear();
    EXPECT_EQ(fileBytes(forms + QStringLiteral("Ф30.txt")), updated);
    EXPECT_EQ(QDir(forms).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("Ф30.docx"), QStringLiteral("Ф30.txt")}));
}
