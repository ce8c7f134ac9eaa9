// Database layout, the sample configuration and the lookup caches.
#include "support/Fixture.h"

#include "engine/Caches.h"
#include "core/SampleConfig.h"
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

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
};

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
    const std::array<int, 9> first = s.TablesArray[0];
    EXPECT_EQ(first[1], sample::ids::TableF30Staff);
    EXPECT_EQ((QList<int>{first[2], first[3], first[4], first[5], first[6], first[7], first[8]}),
              (QList<int>{7, 8, 3, 3, 0, 0, 0}));
    EXPECT_EQ(s.TablesArray[2][6], 1);   // Ф14 holds decimals

    ASSERT_EQ(s.StructCount, 16);
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
