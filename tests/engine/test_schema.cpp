// Database layout, the sample configuration and the lookup caches.
#include "support/Fixture.h"

#include "engine/Caches.h"
#include "core/SampleConfig.h"
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"
#include "platform/IniFile.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Schema, CreatingTwiceKeepsRowsAndCountersGiveNewIds) {
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/orvmain.mdb");
    schema::createMainDatabase(file);
    db::ScopedConnection c(file, db::OpenMode::ReadWrite);
    db::exec(c.db(), QStringLiteral("insert into int_control (formid, tble) values (1, '(1000)')"));
    const qint64 first = db::lastInsertId(c.db());
    schema::createMainTables(c.db());   // existing tables and rows are kept
    EXPECT_EQ(db::scalar(c.db(), QStringLiteral("select count(*) from int_control")).toInt(), 1);
    db::exec(c.db(), QStringLiteral("delete from int_control"));
    db::exec(c.db(), QStringLiteral("insert into int_control (formid, tble) values (1, '(1000)')"));
    // A deleted key is not handed out again.
    EXPECT_GT(db::lastInsertId(c.db()), first);
    // Boolean literals work in statements written with true/false.
    db::exec(c.db(), QStringLiteral("insert into reports (report, net) values ('x', true)"));
    EXPECT_EQ(db::scalar(c.db(), QStringLiteral("select count(*) from reports where net=true")).toInt(), 1);
}

TEST(Schema, ReplacingAnExistingFileStartsEmpty) {
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/data0.mdb");
    schema::createValuesDatabase(file);
    {
        db::ScopedConnection c(file, db::OpenMode::ReadWrite);
        db::exec(c.db(), QStringLiteral("insert into data values (1, 2.5, 2024, 1, 5, 5)"));
    }
    schema::createValuesDatabase(file);
    db::ScopedConnection c(file, db::OpenMode::ReadWrite);
    EXPECT_EQ(db::scalar(c.db(), QStringLiteral("select count(*) from data")).toInt(), 0);
}

class SampleTest : public ::testing::Test {
protected:
    SampleFixture fx{true};
    QSqlDatabase m() { return db::connection(db::kMain); }
    QSqlDatabase v() { return db::connection(db::kData); }
    int count(const QSqlDatabase &d, const QString &sql, const QVariantList &p = {}) {
        return db::scalar(d, sql, p).toInt();
    }
};

TEST_F(SampleTest, FoldersFilesAndSettings) {
    EXPECT_TRUE(QFileInfo::exists(fx.programFolder() + QStringLiteral("source/data0.mdb")));
    for (int y : {fx.year(), fx.year() - 1}) {
        const QString f = fx.configFolder() + QString::number(y) + QLatin1Char('/');
        for (const char *name : {"orvmain.mdb", "data0.mdb", "data1.mdb"})
            EXPECT_TRUE(QFileInfo::exists(f + QString::fromUtf8(name))) << y << name;
        EXPECT_TRUE(QFileInfo(f + QStringLiteral("forms")).isDir());
    }
    // One values file per sub-report level.
    for (const QVariant &id : db::column(m(), QStringLiteral("select id from subreps")))
        EXPECT_TRUE(QFileInfo::exists(fx.yearFolder() + QStringLiteral("data%1.mdb").arg(id.toInt())));

    IniFile ini(fx.settingsFile());
    EXPECT_EQ(ini.sectionKeys(QStringLiteral("Конфигурации")), QStringList{SampleFixture::kConfigName});
    EXPECT_EQ(ini.readString(QStringLiteral("Конфигурации"), SampleFixture::kConfigName) + QLatin1Char('/'),
              fx.configFolder());
    EXPECT_EQ(ini.readInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"), 0), fx.year());
    EXPECT_EQ(shared().ConfigPath, fx.configFolder());
    EXPECT_EQ(shared().yearFolder(), fx.yearFolder());

    // Registering a second configuration keeps the first and the year.
    sample::registerConfiguration(fx.settingsFile(), QStringLiteral("Вторая"), fx.root() + QStringLiteral("two/"));
    ini.reload();
    EXPECT_EQ(ini.sectionKeys(QStringLiteral("Конфигурации")).size(), 2);
    EXPECT_EQ(ini.readInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"), 0), fx.year());
}

TEST_F(SampleTest, DefinitionsAreConsistent) {
    EXPECT_EQ(count(m(), QStringLiteral("select count(*) from tables where form not in (select id from forms)")), 0);
    EXPECT_EQ(count(m(), QStringLiteral("select count(*) from administration where dependence<>0 and "
                                        "dependence not in (select id from administration)")), 0);
    EXPECT_EQ(count(m(), QStringLiteral("select count(*) from administration where medicaltype<>-1 and "
                                        "medicaltype not in (select id from medicaltypes)")), 0);
    EXPECT_EQ(count(m(), QStringLiteral("select count(*) from med_type_forms where formsId not in (select id from "
                                        "forms) or medicalsId not in (select id from medicaltypes)")), 0);
    EXPECT_EQ(count(m(), QStringLiteral("select count(*) from conditions where tid not in (select ident from tables)")), 0);

    // Titles, sizes and numbering cells inside their tables.
    QSqlQuery t = db::exec(m(), QStringLiteral("select ident, colcount, rowcount, fixcols, fixrows from tables"));
    int tables = 0;
    while (t.next()) {
        ++tables;
        const int id = t.value(0).toInt(), nc = t.value(1).toInt(), nr = t.value(2).toInt();
        const int fc = t.value(3).toInt(), fr = t.value(4).toInt();
        EXPECT_EQ(count(m(), QStringLiteral("select count(*) from titles where \"table\"=? and (union_sc<1 or "
                                            "union_sr<1 or union_ec>? or union_er>? or union_sc>union_ec or "
                                            "union_sr>union_er or \"column\"<>union_sc or \"row\"<>union_sr)"),
                        {id, nc, nr}), 0) << id;
        // No title lies beyond the header in both directions.
        EXPECT_EQ(count(m(), QStringLiteral("select count(*) from titles where \"table\"=? and \"column\">? and "
                                            "\"row\">?"), {id, fc, fr}), 0) << id;
        EXPECT_EQ(count(m(), QStringLiteral("select count(*) from \"rows\" where \"table\"=?"), {id}), nr);
        EXPECT_EQ(count(m(), QStringLiteral("select count(*) from \"columns\" where \"table\"=?"), {id}), nc);
        // Row numbers 1.. in column fixcols-1, column numbers in row fixrows.
        for (int n = 1; n <= nr - fr; ++n)
            EXPECT_EQ(db::scalar(m(), QStringLiteral("select txt from titles where \"table\"=? and \"column\"=? and "
                                                     "\"row\"=?"), {id, fc - 1, fr + n}).toString(),
                      QString::number(n)) << id;
        for (int c = fc; c <= nc; ++c)
            EXPECT_EQ(db::scalar(m(), QStringLiteral("select txt from titles where \"table\"=? and \"column\"=? and "
                                                     "\"row\"=?"), {id, c, fr}).toString(),
                      QString::number(c)) << id;
        // Stored values within the stored bounds.
        EXPECT_EQ(count(v(), QStringLiteral("select count(*) from data where \"table\"=? and (\"column\"<? or "
                                            "\"column\">? or \"row\"<? or \"row\">? or data=0)"),
                        {id, fc + 2, nc + 1, fr + 2, nr + 1}), 0) << id;
    }
    EXPECT_EQ(tables, 4);
    // Colons of titles are kept as byte 3; rotated titles exist.
    EXPECT_EQ(count(m(), QStringLiteral("select count(*) from titles where txt like '%:%'")), 0);
    EXPECT_GT(count(m(), QStringLiteral("select count(*) from titles where instr(txt, char(3))>0")), 0);
    EXPECT_GT(count(m(), QStringLiteral("select count(*) from titles where substr(tchars,3,1)='1'")), 0);
    EXPECT_EQ(count(v(), QStringLiteral("select count(*) from data where hospital not in (5,6,7,9,10,11,13,15)")), 0);
}

TEST_F(SampleTest, ControlRulesNameExistingFormsAndTables) {
    QSqlQuery q = db::exec(m(), QStringLiteral("select formid, tble, lft, rght, cycl from int_control"));
    int intra = 0, inter = 0, forms = 0;
    while (q.next()) {
        const int formid = q.value(0).toInt();
        const QString tble = q.value(1).toString();
        if (formid == 0) {
            ++forms;
            // References of inter-form rules name their own forms.
            for (const QString &side : {q.value(2).toString(), q.value(3).toString()}) {
                EXPECT_TRUE(side.startsWith(QStringLiteral("Ф"))) << side.toStdString();
                const QString form = side.left(side.indexOf(QStringLiteral("Т[")));
                EXPECT_EQ(count(m(), QStringLiteral("select count(*) from forms where formname=?"), {form}), 1);
            }
            continue;
        }
        EXPECT_EQ(count(m(), QStringLiteral("select count(*) from forms where id=?"), {formid}), 1);
        if (tble.isEmpty()) {
            ++inter;
        } else {
            ++intra;
            EXPECT_EQ(count(m(), QStringLiteral("select count(*) from tables where form=? and tablen=?"),
                            {formid, tble}), 1) << tble.toStdString();
        }
    }
    EXPECT_EQ(intra, 4);
    EXPECT_EQ(inter, 2);
    EXPECT_EQ(forms, 1);
    // Both spellings of "no table" occur.
    EXPECT_EQ(count(m(), QStringLiteral("select count(*) from int_control where tble is null")), 1);
}

TEST_F(SampleTest, ValuesBreakTheDocumentedRules) {
    using namespace sample::ids;
    auto value = [&](int h, int table, int col, int row) {   // reference numbering
        const int fixrows = table == TableF30Staff ? 3 : 2;
        return db::scalar(v(), QStringLiteral("select data from data where hospital=? and year=? and \"table\"=? and "
                                              "\"column\"=? and \"row\"=?"),
                          {h, fx.year(), table, col + 1, row + fixrows + 1}).toDouble();
    };
    for (int h : {int(NorthHospital), int(SouthHospital), int(RegionalHospital), int(FapOzerny)}) {
        for (int c = 4; c <= 7; ++c) {
            const bool holds = value(h, TableF30Staff, c, 1) >= value(h, TableF30Staff, c, 2) + value(h, TableF30Staff, c, 3);
            EXPECT_EQ(holds, !(h == SouthHospital && c == 5)) << h << " ГР" << c;
        }
        EXPECT_EQ(value(h, TableF30Staff, 5, 1) <= value(h, TableF30Staff, 4, 1), h != RegionalHospital) << h;
        EXPECT_EQ(value(h, TableF30Visits, 5, 1) <= value(h, TableF30Visits, 4, 1), h != FapOzerny) << h;
    }
    // The report's sums match its institutions.
    const double sum = db::scalar(v(), QStringLiteral("select sum(data) from data where \"table\"=? and year=? and "
                                                      "\"column\"=5 and \"row\"=4"), {TableF30Visits, fx.year()}).toDouble();
    EXPECT_DOUBLE_EQ(db::scalar(v(), QStringLiteral("select data from repdata where hospital=? and \"table\"=? and "
                                                    "\"column\"=5 and \"row\"=4"), {ReportRegion, TableF30Visits}).toDouble(),
                     sum);
    // The previous year has values of its own year.
    db::ScopedConnection prev(fx.configFolder() + QString::number(fx.year() - 1) + QStringLiteral("/data0.mdb"),
                              db::OpenMode::ReadOnly);
    EXPECT_GT(count(prev.db(), QStringLiteral("select count(*) from data where year=?"), {fx.year() - 1}), 0);
    EXPECT_EQ(count(prev.db(), QStringLiteral("select count(*) from data where year<>?"), {fx.year() - 1}), 0);
}

TEST_F(SampleTest, CachesFollowTheQueries) {
    fx.reloadCaches();
    const SharedState &s = shared();

    ASSERT_EQ(s.FormsList.count(), 3);
    EXPECT_EQ(s.FormsList.text(0), QStringLiteral("Ф30 - Сведения о медицинской организации"));
    EXPECT_EQ(s.FormsList.object(0), sample::ids::FormF30);
    // A network form is in both lists, with its name as stored.
    EXPECT_EQ(s.NetFormsList, QStringList{QStringLiteral("Ф47")});
    EXPECT_TRUE(s.FormsList.text(2).startsWith(QStringLiteral("Ф47 - ")));

    ASSERT_EQ(s.TablesList.count(), 4);
    ASSERT_EQ(s.TablesArray.size(), 4);
    // Ordered by form id, then table number.
    EXPECT_EQ(s.TablesList.text(0), QStringLiteral("Ф30*Т(1000) - Штаты"));
    EXPECT_EQ(s.TablesList.text(1), QStringLiteral("Ф30*Т(2000) - Посещения"));
    EXPECT_EQ(s.TablesList.text(2), QStringLiteral("Ф14*Т(1000) - Состав больных в стационаре"));
    EXPECT_EQ(s.TablesList.text(0).mid(3, 1), QStringLiteral("*"));
    EXPECT_EQ(s.TablesList.text(0).at(4), QChar(0x0422));   // Cyrillic capital Т
    const std::array<int, 9> first = s.TablesArray[0];
    EXPECT_EQ(first[1], sample::ids::TableF30Staff);
    EXPECT_EQ((QList<int>{first[2], first[3], first[4], first[5], first[6], first[7], first[8]}),
              (QList<int>{7, 8, 3, 3, 0, 0, 0}));
    EXPECT_EQ(s.TablesArray[2][6], 1);   // Ф14 holds decimals

    ASSERT_EQ(s.StructCount, 16);
    EXPECT_EQ(s.StructList.size(), 16);
    EXPECT_EQ(s.StructIds.size(), 16);
    EXPECT_EQ(s.StructNodeIndexes.size(), 16);
    EXPECT_EQ(s.StructList.first(), QStringLiteral("Область"));
    EXPECT_EQ(s.StructParents.first(), 0);
    // Ordered by parent, then position among siblings.
    for (int i = 1; i < s.StructCount; ++i) EXPECT_LE(s.StructParents[i - 1], s.StructParents[i]);
    EXPECT_EQ(s.StructList[1], QStringLiteral("Северный район"));

    EXPECT_EQ(s.TreeList, (QStringList{QStringLiteral("Показатели здоровья"), QStringLiteral("Обеспеченность кадрами")}));
    EXPECT_EQ(s.TreeIdents, (QList<qint64>{1, 2}));
    EXPECT_EQ(s.TreeDepends, (QList<qint64>{0, 1}));
}

TEST_F(SampleTest, ReloadReplacesOldEntriesAndUpperCasesFormNames) {
    fx.reloadCaches();
    // A lower-case form name appears upper-cased in both lists' text.
    db::exec(m(), QStringLiteral("update forms set formname='ф30' where id=1"));
    db::exec(m(), QStringLiteral("delete from tables where ident=4"));
    for (const char *name : {"Ёж", "Банан", "абрикос", "Абв", "ель"})
        db::exec(m(), QStringLiteral("insert into tree (part, depend) values (?, 0)"), {QString::fromUtf8(name)});
    caches::reloadAll();
    const SharedState &s = shared();
    EXPECT_EQ(s.FormsList.count(), 3);
    EXPECT_EQ(s.FormsList.text(0), QStringLiteral("Ф30 - Сведения о медицинской организации"));
    EXPECT_EQ(s.TablesList.count(), 3);
    EXPECT_EQ(s.TablesArray.size(), 3);
    EXPECT_EQ(s.TablesList.text(0), QStringLiteral("Ф30*Т(1000) - Штаты"));
    // Depend 0 first, then in Russian alphabetical order without regard to case.
    EXPECT_EQ(s.TreeList, (QStringList{"Абв", "абрикос", "Банан", "ель", "Ёж", "Показатели здоровья",
                                       "Обеспеченность кадрами"}));
}
