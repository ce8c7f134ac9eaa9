// Sub-report levels: create, switch, delete.
#include "app/Configuration.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "widgets/SumRepF.h"

#include <QFileInfo>
#include <gtest/gtest.h>

class Levels : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(c.startUp()); }
    QString file(qint64 id) const { return fx.yearFolder() + QStringLiteral("data%1.mdb").arg(id); }
    qint64 rows(const QString &sql) { return db::scalar(db::connection(db::kMain), sql).toLongLong(); }
    SampleFixture fx;
    FakeDialogs dlg;
    Configuration c;
    SubReports &levels() { return c.levels(); }
};

TEST_F(Levels, CreatingAddsRowFileAndItemWithoutSwitching) {
    dlg.modals.push_back([&](QDialog *d) {
        auto *f = qobject_cast<TSumRepF *>(d);
        f->setName(QStringLiteral("Квартал \"2\"; drop table subreps"));
        return int(QDialog::Accepted);
    });
    ASSERT_TRUE(levels().createLevel(nullptr));
    const qint64 id = levels().list().object(2);
    EXPECT_EQ(levels().list().text(2), QStringLiteral("Квартал \"2\"; drop table subreps"));
    EXPECT_EQ(rows(QStringLiteral("select count(*) from subreps")), 2);
    EXPECT_TRUE(QFileInfo::exists(file(id)));
    EXPECT_EQ(levels().currentIndex(), 0);
    EXPECT_EQ(db::fileOf(db::kData), file(0));
}

TEST_F(Levels, LevelFileThatCannotBeMadeLeavesNoRow) {
    QFile::remove(paths::templateValuesFile());
    EXPECT_THROW(levels().create(QStringLiteral("Полугодие")), db::Error);
    EXPECT_EQ(rows(QStringLiteral("select count(*) from subreps")), 1);
    EXPECT_EQ(levels().list().count(), 2);
    EXPECT_THROW(levels().create(QStringLiteral("  ")), db::Error);
}

TEST_F(Levels, SwitchingRepointsTheValuesConnection) {
    levels().switchTo(1);
    EXPECT_EQ(db::fileOf(db::kData), file(1));
    EXPECT_TRUE(levels().canDeleteCurrent());
    EXPECT_EQ(shared().SubReportId, 1);
    EXPECT_EQ(c.applicationTitle(), QStringLiteral("2024 - Образец - 1 квартал:"));
    levels().switchTo(0);
    EXPECT_EQ(db::fileOf(db::kData), file(0));
    EXPECT_FALSE(levels().canDeleteCurrent());
}

TEST_F(Levels, MissingLevelFileKeepsThePreviousLevelOpen) {
    const qint64 id = levels().create(QStringLiteral("Полугодие"));
    db::close(db::kData);
    QFile::remove(file(id));
    db::open(db::kData, file(0));
    EXPECT_THROW(levels().switchTo(2), db::Error);
    EXPECT_EQ(db::fileOf(db::kData), file(0));
    EXPECT_EQ(levels().currentIndex(), 0);
}

// A level another copy of the program deleted since the list was read takes no values: the switch says so, the
// values connection stays where it was and the level leaves the list.
TEST_F(Levels, ALevelDeletedByAnotherCopyIsNotOpened) {
    const qint64 id = levels().create(QStringLiteral("Полугодие"));
    db::exec(db::connection(db::kMain), "delete from subreps where id=?", {id});
    try {
        levels().switchTo(2);
        ADD_FAILURE() << "switched";
    } catch (const db::Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Уровень отчета \"Полугодие\" удален другой копией программы."));
    }
    EXPECT_EQ(db::fileOf(db::kData), file(0));
    EXPECT_EQ(levels().currentIndex(), 0);
    EXPECT_EQ(levels().list().texts(), (QStringList{QStringLiteral("Годовой"), QStringLiteral("1 квартал")}));
}

TEST_F(Levels, DeletingTheOnlyLevelReturnsToTheAnnualLevel) {
    levels().switchTo(1);
    EXPECT_FALSE(levels().deleteCurrentLevel(nullptr));   // answered No
    EXPECT_EQ(dlg.questions, QStringList{QStringLiteral("Вы действительно желаете удалить \"1 квартал\"?")});
    EXPECT_TRUE(QFileInfo::exists(file(1)));
    dlg.answers = {true};
    ASSERT_TRUE(levels().deleteCurrentLevel(nullptr));
    EXPECT_FALSE(QFileInfo::exists(file(1)));
    EXPECT_EQ(rows(QStringLiteral("select count(*) from subreps")), 0);
    EXPECT_EQ(levels().list().texts(), QStringList{QStringLiteral("Годовой")});
    EXPECT_EQ(db::fileOf(db::kData), file(0));
    EXPECT_FALSE(levels().canDeleteCurrent());
    // The annual level itself is never deleted.
    dlg.answers = {true};
    EXPECT_FALSE(levels().deleteCurrentLevel(nullptr));
}

TEST_F(Levels, OpeningAConfigurationReturnsToTheAnnualLevel) {
    levels().switchTo(1);
    ASSERT_TRUE(c.openConfiguration(0));
    EXPECT_EQ(levels().currentIndex(), 0);
    EXPECT_EQ(db::fileOf(db::kData), file(0));
}
