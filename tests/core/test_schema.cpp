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

TEST_F(SampleTest, CachesFollowTheQueriesAndReloadReplacesThem) {
    fx.reloadCaches();
    const YearCaches &c = shared().Caches;
    ASSERT_EQ(c.tables.size(), 4);
    EXPECT_TRUE(c.tables[2].shape.floatValues);   // Ф14 holds decimals
    // Units by parent, then position among siblings.
    for (int i = 1; i < c.structure.size(); ++i) EXPECT_LE(c.structure[i - 1].parent, c.structure[i].parent);

    // A lower-case form name is upper-cased; a deleted table is gone; the sets
    // of a parent come in Russian alphabetical order without regard to case.
    db::exec(m(), QStringLiteral("update forms set formname='ф30' where id=1"));
    db::exec(m(), QStringLiteral("delete from tables where ident=4"));
    for (const char *name : {"Ёж", "Банан", "абрикос", "Абв", "ель"})
        db::exec(m(), QStringLiteral("insert into tree (part, depend) values (?, 0)"), {QString::fromUtf8(name)});
    caches::reloadAll();
    EXPECT_EQ(c.forms[0].name, QStringLiteral("Ф30"));
    EXPECT_EQ(c.tables.size(), 3);
    QStringList parts;
    for (const TreeNode &t : c.tree) parts << t.part;
    EXPECT_EQ(parts, (QStringList{"Абв", "абрикос", "Банан", "Ёж", "ель", "Показатели здоровья", "Обеспеченность кадрами"}));
    EXPECT_EQ(c.tree.last().depend, 1);
}
