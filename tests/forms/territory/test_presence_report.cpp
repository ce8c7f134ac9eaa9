// Data presence reports: fill percentages per table from the values database and from transfer files, the 150-character
// form lines, and the territory window's "Справка" commands.
#include "core/ListWindow.h"
#include "support/TestWork.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "forms/territory/AdmForm.h"
#include "forms/territory/PresenceReport.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/WindowTestBase.h"

#include <QGroupBox>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

struct PresenceTest : SampleTest {

    StringList lines;
    QStringList errors() const { return lines.texts(); }
    void writeFile(const QString &path, const QStringList &lines) { ASSERT_TRUE(cp1251::writeLines(path, lines)); }
    void dropValue(qint64 hosp, int table, int column, int row) {
        db::exec(db::connection(db::kData),
                 "delete from data where hospital=? and \"table\"=? and \"column\"=? and \"row\"=?",
                 {hosp, table, column, row});
    }
};

} // namespace

TEST_F(PresenceTest, PercentagesRoundHalvesToEven) {
    EXPECT_EQ(presence::fillPercent(1, 8, 1, 0, 0), 12);   // 12.5 to the even neighbour
    EXPECT_EQ(presence::fillPercent(3, 8, 1, 0, 0), 38);   // 37.5
    EXPECT_EQ(presence::fillPercent(1, 3, 3, 3, 3), 0);    // a table without data cells
}

TEST_F(PresenceTest, DatabaseReportOverASubtree) {
    // Southern hospital loses one of the 20 cells of Ф30 (1000).
    dropValue(ids::SouthHospital, ids::TableF30Staff, 5, 5);
    const QList<presence::UnitNode> nodes{{"Южный район", ids::South, false},
                                          {"Южная ЦРБ", ids::SouthHospital, true},
                                          {"Южная участковая больница", ids::SouthRuralHospital, true},
                                          {"Южная поликлиника", ids::SouthPolyclinic, true}};
    QStringList labels;
    lines = presence::reportByDatabase(nodes, [&](const QString &t) { labels << t; });
    EXPECT_EQ(errors(), (QStringList{"Южный район", "Южная ЦРБ", "Ф30\t(1000) - 95%, (2000) - 100%",
                                     "Ф14\t(1000) - 100%", "Южная участковая больница", "Южная поликлиника",
                                     "Ф30\t(1000) - 100%, (2000) - 100%"}));
    EXPECT_EQ(labels, (QStringList{"Южная ЦРБ", "Южная участковая больница", "Южная поликлиника"}));
}

TEST_F(PresenceTest, LongFormLinesContinueWithTheFormName) {
    YearCaches &c = shared().Caches;
    c.clear();
    c.forms = {{1, "ФБ", "большая"}, {2, "ФП", "пустая"}};
    TableShape shape;
    shape.colcount = shape.rowcount = 5, shape.fixcols = shape.fixrows = 1;
    shape.ident = 100;
    c.tables.append({2, "ФП", "(1)", "пусто", shape});
    presence::TableCounts counts;
    for (int i = 0; i < 20; ++i) {
        shape.ident = i + 1;
        c.tables.append({1, "ФБ", QStringLiteral("(%1)").arg(1000 + i), "т", shape});
        if (i % 3 != 2) counts[shape.ident] = 16;
    }
    const QStringList lines = presence::formLines(counts);
    ASSERT_GE(lines.size(), 2);
    QStringList items;
    for (const QString &l : lines) {
        EXPECT_LE(l.size(), 150) << l.toStdString();
        ASSERT_TRUE(l.startsWith("ФБ\t(")) << l.toStdString();
        EXPECT_FALSE(l.endsWith(", "));
        items += l.mid(3).split(", ");
    }
    // Every table with values once, in order; the empty form gives nothing.
    ASSERT_EQ(items.size(), 14);
    EXPECT_EQ(items[0], "(1000) - 100%");
    EXPECT_EQ(items[2], "(1003) - 100%");
    // A line is closed only when the next item would pass 150 characters.
    EXPECT_GT(lines[0].size() + 2 + items[lines[0].count(", ") + 1].size(), 150);
}

TEST_F(PresenceTest, FileReportCountsValuesOfTheYear) {
    const QString dir = fx.root();
    const QString y = QString::number(fx.year());
    const auto rec = [](const QString &year, const QString &form, const QString &tablen, int c, int r) {
        return transfer::formatRecord("5", year, form, tablen, c, r);
    };
    // By name: 3 of 6 cells of Ф30 (2000), one cell of another year, unknown tables ("(20" is no key of "(2000)").
    writeFile(dir + "Северная ЦРБ - Ф30.orw", {rec(y, "Ф30", "(2000)", 5, 4), rec(y, "Ф30", "(2000)", 6, 4),
                                                rec(y, "Ф30", "(2000)", 5, 5), rec("2001", "Ф30", "(1000)", 5, 5),
                                                rec(y, "Ф30", "(9000)", 5, 5), rec(y, "Ф30", "(20", 6, 5), "мусор"});
    // By id: Ф14 (1000), one of 12 cells.
    writeFile(dir + "Южная ЦРБ.orv", {rec(y, QString::number(ids::FormF14), "(1000)", 5, 4)});
    // Another year only.
    writeFile(dir + "Старый.orw", {rec("2001", "Ф30", "(2000)", 5, 4)});
    QList<int> steps;
    lines = presence::reportByFiles({dir + "Северная ЦРБ - Ф30.orw", dir + "Южная ЦРБ.orv", dir + "Старый.orw"}, {},
                            [&](int i) { steps << i; });
    EXPECT_EQ(errors(), (QStringList{"Северная ЦРБ", "Ф30\t(2000) - 50%", "Южная ЦРБ", "Ф14\t(1000) - 8%", "Старый"}));
    EXPECT_EQ(steps, (QList<int>{1, 2, 3}));
}

TEST_F(PresenceTest, TerritoryWindowShowsTheList) {
    TAdmForm adm(TAdmForm::Mode::Input, testWork());
    adm.show();
    ASSERT_TRUE(adm.databaseReportAction()->isEnabled());
    QTreeWidgetItem *north = nullptr;
    for (QTreeWidgetItem *n : TreeNodesInOrder(adm.tree()))
        if (n->text(0) == "Северный район") north = n;
    ASSERT_TRUE(north);
    adm.tree()->setCurrentItem(north);
    QStringList shown;
    dialogs.modals.push_back([&](QDialog *) {
        for (const QStringList &row : Form1().contents().rows) shown << row.join('|');
        return int(QDialog::Accepted);
    });
    adm.databaseReportAction()->trigger();
    EXPECT_EQ(dialogs.modalTitles, QStringList{"Справка о наличии информации в ЛПУ"});
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown[0], "Северный район|");
    EXPECT_EQ(shown.last(), "ФАП Лесной|");   // no values: only its name
    EXPECT_FALSE(adm.progressBox()->isVisible());

    // No file chosen: nothing.
    adm.filesReportAction()->trigger();
    EXPECT_EQ(dialogs.modalTitles.size(), 1);
}
