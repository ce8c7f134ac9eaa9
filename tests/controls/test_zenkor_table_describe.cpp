#include "controls/ZenkorDescribe.h"
#include "controls/ZenkorImporter.h"
#include "core/ProgressWindow.h"
#include "platform/Database.h"
#include "support/CancellingProgress.h"
#include "support/Fixture.h"

#include <gtest/gtest.h>

namespace {

qint64 addImported(qint64 formId, const QVariant &table, const QString &lft, const QString &rel, const QString &rght,
                   const QString &cycl) {
    db::exec(db::kMain,
             QStringLiteral("insert into zenkor_controls (project_formid, project_tble, lft, rght, reltion, cycl, "
                            "commnt, control_type) values (?, ?, ?, ?, ?, ?, '', 0)"),
             {formId, table, lft, rght, rel, cycl});
    return db::lastInsertId(db::connection(db::kMain));
}

QString commentOf(qint64 id) {
    return db::scalar(db::connection(db::kMain), QStringLiteral("select commnt from zenkor_controls where id=?"), {id})
        .toString();
}

} // namespace

TEST(ZenkorDescribe, RenumbersOnlyWholeNumbersTheMapKnows) {
    NameValueList map;
    map.setValue(QStringLiteral("2"), QStringLiteral("02"));
    EXPECT_EQ(zenkor::RenumberRowRefs(QStringLiteral("стр[2]ГР[2]+СТР[1..2]+СТР[2]"), &map),
              QStringLiteral("стр[02]ГР[2]+СТР[1..2]+СТР[02]"));
    EXPECT_EQ(zenkor::RenumberColumnRefs(QStringLiteral("СТР[2]ГР[2]"), &map), QStringLiteral("СТР[2]ГР[02]"));
    EXPECT_EQ(zenkor::RenumberRowRefs(QStringLiteral("СТР[2"), &map), QStringLiteral("СТР[2"));
    EXPECT_EQ(zenkor::RenumberRowRefs(QStringLiteral("СТР[2]"), nullptr), QStringLiteral("СТР[2]"));
}

// A group's list is read as the notation reads it: blanks and leading zeros
// are a number, so is a range of one number, a sign or a trailing comma makes
// it no one number, and a group inside another one's list is part of that list.
TEST(ZenkorDescribe, RenumbersListsAsTheNotationReadsThem) {
    NameValueList map;
    map.setValue(QStringLiteral("2"), QStringLiteral("02"));
    const QPair<QString, QString> rows[] = {
        {"стр[ 2 ]+Стр[002]", "стр[02]+Стр[02]"},
        {"СТР[+2]+СТР[2,]+СТР[2..2]+СТР[1..2]", "СТР[+2]+СТР[2,]+СТР[02]+СТР[1..2]"},
        {"СТР[99999999999999999999]+СТР[-2]", "СТР[99999999999999999999]+СТР[-2]"},
        {"СТР[СТР[2]]СТР[2]", "СТР[СТР[2]]СТР[02]"},
        {"ßстр[2]", "ßстр[02]"},
    };
    for (const auto &[side, renumbered] : rows)
        EXPECT_EQ(zenkor::RenumberRowRefs(side, &map), renumbered) << side.toStdString();
    EXPECT_EQ(zenkor::RenumberColumnRefs(QStringLiteral("СТР[ГР[2]]гр[2]"), &map), QStringLiteral("СТР[ГР[02]]гр[02]"));
}

TEST(ZenkorDescribe, FillsDescriptionsOfImportedRules) {
    SampleFixture fx;
    fx.reloadCaches();
    const int f30 = sample::ids::FormF30;
    const qint64 allRows = addImported(f30, QStringLiteral("(1000)"), QStringLiteral("СТР[1]"), QStringLiteral(">="),
                                       QStringLiteral("СТР[2]+СТР[3]"), QStringLiteral("СТР[1..5]"));
    const qint64 someRows = addImported(f30, QStringLiteral("1000"), QStringLiteral("ГР[4]"), QStringLiteral("<="),
                                        QStringLiteral("ГР[5]"), QStringLiteral("СТР[1,3]"));
    const qint64 someCols = addImported(f30, QStringLiteral("(1000)"), QStringLiteral("СТР[1]"), QStringLiteral(">"),
                                        QStringLiteral("СТР[2]"), QStringLiteral("ГР[2..4]"));
    // Ф30 (1000): body rows 1..5, body columns 4..7 (three header columns).
    const qint64 allCols = addImported(f30, QStringLiteral("(1000)"), QStringLiteral("СТР[1]"), QStringLiteral(">"),
                                       QStringLiteral("СТР[2]"), QStringLiteral("ГР[4..5,6..7]"));
    const qint64 headerCols = addImported(f30, QStringLiteral("(1000)"), QStringLiteral("СТР[1]"), QStringLiteral(">"),
                                          QStringLiteral("СТР[2]"), QStringLiteral("ГР[1..4]"));
    const qint64 laterRows = addImported(f30, QStringLiteral("(1000)"), QStringLiteral("ГР[4]"), QStringLiteral(">"),
                                         QStringLiteral("ГР[5]"), QStringLiteral("СТР[11..15]"));
    // Table found from the references; a quote survives.
    const qint64 found = addImported(0, QString(), QStringLiteral("Ф30Т[1000]СТР[1]ГР[4]"), QStringLiteral("="),
                                     QStringLiteral("Ф30Т[1000]СТР[2]ГР[4]+\"к\""), QString());
    const qint64 unknown = addImported(0, QVariant(), QStringLiteral("Ф5Т[1]СТР[2]ГР[3]"), QStringLiteral("="),
                                       QStringLiteral("Ф5Т[1]СТР[3]ГР[3]"), QString());
    const qint64 described = addImported(f30, QStringLiteral("(1000)"), QStringLiteral("СТР[1]"),
                                         QStringLiteral("="), QStringLiteral("СТР[1]"), QString());
    db::exec(db::kMain, QStringLiteral("update zenkor_controls set commnt='свой' where id=?"), {described});

    TControlMatchImporter imp(db::kMain, nullptr, false, QString());
    CancellingProgress cancelling(3);   // "Отмена" halfway: no description is written
    EXPECT_THROW(imp.UpdateControlDescriptions(&cancelling), Cancelled);
    EXPECT_TRUE(commentOf(allRows).isEmpty());
    EXPECT_EQ(commentOf(described), QStringLiteral("свой"));
    TProgress progress;
    EXPECT_EQ(imp.UpdateControlDescriptions(&progress), 7);
    EXPECT_EQ(progress.position(), 8);   // the passed-over rule counts too

    EXPECT_EQ(commentOf(allRows), QStringLiteral("стр(1) >= стр(2)+стр(3) по всем строкам"));
    EXPECT_EQ(commentOf(someRows), QStringLiteral("гр(4) <= гр(5) по стр[1+3]"));
    EXPECT_EQ(commentOf(someCols), QStringLiteral("стр(1) > стр(2) по гр[2..4]"));
    EXPECT_EQ(commentOf(allCols), QStringLiteral("стр(1) > стр(2) по всем графам"));
    EXPECT_EQ(commentOf(headerCols), QStringLiteral("стр(1) > стр(2) по гр[1..4]"));
    EXPECT_EQ(commentOf(laterRows), QStringLiteral("гр(4) > гр(5) по стр[11+..+15]"));
    EXPECT_EQ(commentOf(found), QStringLiteral("ф30т(1000)стр(1)гр(4) = ф30т(1000)стр(2)гр(4)+\"к\""));
    EXPECT_TRUE(commentOf(unknown).isEmpty());
    EXPECT_EQ(commentOf(described), QStringLiteral("свой"));

    // A second fill finds nothing new.
    EXPECT_EQ(imp.UpdateControlDescriptions(nullptr), 0);
    EXPECT_TRUE(commentOf(unknown).isEmpty());
}
