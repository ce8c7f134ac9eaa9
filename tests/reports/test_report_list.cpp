// The report list and the member lists its commands hand on.
#include "engine/SharedState.h"
#include "support/TestWork.h"
#include "platform/Database.h"
#include "forms/tree/FormList.h"
#include "reports/IndicatorWindows.h"
#include "reports/ReportList.h"
#include "reports/ReportLogic.h"
#include "support/WindowTestBase.h"
#include "widgets/SumRepF.h"

#include <QApplication>
#include <QCheckBox>
#include <QStyle>
#include <QMenuBar>
#include <QAction>
#include <QTest>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

QVariant mainValue(const QString &sql, const QVariantList &params = {}) {
    return db::scalar(db::connection(db::kMain), sql, params);
}

int repdataRows(const QSqlDatabase &d, qint64 report) {
    return db::scalar(d, "select count(*) from repdata where hospital=?", {report}).toInt();
}

QStringList rowNames(const TRepList &w) {
    QStringList out;
    for (int i = 0; i < w.list()->topLevelItemCount(); ++i) out.append(w.list()->topLevelItem(i)->text(0));
    return out;
}

// Answers the name dialog with a name and a flag.
std::function<int(QDialog *)> nameDialog(const QString &name, bool net, bool *boxEnabled = nullptr) {
    return [=](QDialog *d) {
        auto *f = qobject_cast<TSumRepF *>(d);
        if (!f) return int(QDialog::Rejected);
        if (boxEnabled) *boxEnabled = f->netReportBox()->isEnabled();
        f->setName(name);
        if (f->netReportBox()->isEnabled()) f->netReportBox()->setChecked(net);
        return int(QDialog::Accepted);
    };
}

struct ReportListTest : SampleTest {
    void SetUp() override {
        SampleTest::SetUp();
        testWork().mode = ReportMode::Svod;
        testWork().net = false;
        testWork().table = ValueTable::RepData;
    }
};

} // namespace

TEST_F(ReportListTest, EmptyListHasNoSelectionAndCommandsSayNoReport) {
    db::exec(db::kMain, "delete from reports");
    TRepList w(testWork());
    EXPECT_EQ(w.currentId(), 0);
    w.deleteReport();
    w.renameReport();
    EXPECT_TRUE(dialogs.questions.isEmpty());
    EXPECT_TRUE(dialogs.sawMessage("Не выбран отчет"));
}

TEST_F(ReportListTest, AddRenameAndDelete) {
    TRepList w(testWork());

    // Cancelled add changes nothing; an added report gets a new id and a row.
    w.addReport();
    EXPECT_EQ(mainValue("select count(*) from reports").toInt(), 4);
    dialogs.modals.push_back(nameDialog("Свод \"Юг\", 2-й", true));
    w.addReport();
    ASSERT_EQ(w.list()->topLevelItemCount(), 5);
    const qint64 id = w.currentId();
    EXPECT_EQ(mainValue("select report from reports where id=?", {id}).toString(), "Свод \"Юг\", 2-й");
    EXPECT_TRUE(mainValue("select net from reports where id=?", {id}).toBool());

    // An empty name is refused.
    dialogs.modals.push_back(nameDialog("   ", false));
    w.addReport();
    EXPECT_TRUE(dialogs.sawMessage("Не указано наименование отчета"));
    EXPECT_EQ(mainValue("select count(*) from reports").toInt(), 5);

    // Renaming keeps id, members, population and values.
    w.list()->setCurrentItem(w.list()->topLevelItem(1));
    const QString include = reports::storedInclude(ids::ReportNorth);
    const int values = repdataRows(db::connection(db::kData), ids::ReportNorth);
    dialogs.modals.push_back(nameDialog("Север", true));
    w.renameReport();
    EXPECT_EQ(w.list()->topLevelItem(1)->text(0), "Север");
    EXPECT_EQ(reports::reportName(ids::ReportNorth), "Север");
    EXPECT_EQ(reports::storedInclude(ids::ReportNorth), include);
    EXPECT_TRUE(reports::readPopulation(ids::ReportNorth, fx.year()).has_value());
    EXPECT_EQ(repdataRows(db::connection(db::kData), ids::ReportNorth), values);

    // Deleting removes the values of every year of this level only.
    db::exec(db::kData, "insert into repdata (hospital,data,year,\"table\",\"column\",\"row\") values (1,7,2023,2,5,4)");
    {
        db::ScopedConnection q1(fx.yearFolder() + "data1.mdb", db::OpenMode::ReadWrite);
        db::exec(q1.db(), "insert into repdata (hospital,data,year,\"table\",\"column\",\"row\") values (1,7,2024,2,5,4)");
    }
    w.list()->setCurrentItem(w.list()->topLevelItem(0));
    dialogs.answers = {false};
    w.deleteReport();
    EXPECT_EQ(dialogs.questions.last(), "Вы действительно желаете удалить Свод по области со всей информацией?");
    EXPECT_GT(repdataRows(db::connection(db::kData), ids::ReportRegion), 0);
    dialogs.answers = {true};
    w.deleteReport();
    EXPECT_FALSE(mainValue("select id from reports where id=1").isValid());
    EXPECT_EQ(repdataRows(db::connection(db::kData), ids::ReportRegion), 0);
    EXPECT_TRUE(reports::readPopulation(ids::ReportRegion, fx.year()).has_value());
    db::ScopedConnection q1(fx.yearFolder() + "data1.mdb", db::OpenMode::ReadOnly);
    EXPECT_EQ(repdataRows(q1.db(), ids::ReportRegion), 1);
}

TEST_F(ReportListTest, NetModeListsOnlyNetworkReportsAndAddsWithTheFlag) {
    testWork().net = true;
    TRepList w(testWork());
    EXPECT_EQ(rowNames(w), QStringList{"Сеть Ф47"});
    bool enabled = true;
    dialogs.modals.push_back(nameDialog("Сеть района", false, &enabled));
    w.addReport();
    EXPECT_FALSE(enabled);
    EXPECT_TRUE(mainValue("select net from reports where report='Сеть района'").toBool());
    EXPECT_EQ(w.list()->currentItem()->text(1), "Ф47");
}

TEST_F(ReportListTest, F7TwiceRestoresTheFlag) {
    TRepList w(testWork());
    w.show();
    w.list()->setFocus();
    QTest::keyClick(w.list(), Qt::Key_F7);
    EXPECT_TRUE(mainValue("select net from reports where id=1").toBool());
    QTest::keyClick(w.list(), Qt::Key_F7);
    EXPECT_TRUE(w.list()->currentItem()->text(1).isEmpty());
    EXPECT_FALSE(mainValue("select net from reports where id=1").toBool());
}

TEST_F(ReportListTest, DropReordersAndOnlySavingStoresTheOrder) {
    TRepList w(testWork());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto drop = [&](int from, QTreeWidgetItem *onto) {
        w.list()->setCurrentItem(w.list()->topLevelItem(from));
        const QPoint at = onto ? w.list()->visualItemRect(onto).center()
                               : QPoint(5, w.list()->viewport()->height() - 3);
        w.list()->dropCurrentAt(at);
    };
    // The last report dropped onto the first goes before it.
    drop(3, w.list()->topLevelItem(0));
    EXPECT_EQ(rowNames(w), (QStringList{"Итоговый свод", "Свод по области", "Свод по Северному району", "Сеть Ф47"}));
    EXPECT_EQ(w.currentId(), ids::ReportComposite);
    EXPECT_TRUE(w.saveOrderCommand()->isVisible());
    // Every command, the one the drag brought up and "Выход" included, is on
    // the menu bar itself, not behind its overflow button.
    QCoreApplication::processEvents();
    for (QAction *a : w.menuBar()->actions())
        if (a->isVisible())
            EXPECT_TRUE(w.menuBar()->rect().contains(w.menuBar()->actionGeometry(a))) << a->text().toStdString();
    // Below the last row: to the end.
    drop(1, nullptr);
    EXPECT_EQ(rowNames(w), (QStringList{"Итоговый свод", "Свод по Северному району", "Сеть Ф47", "Свод по области"}));
    EXPECT_EQ(mainValue("select ind from reports where id=4").toInt(), 3);   // not stored yet
    w.saveOrder();
    EXPECT_FALSE(w.saveOrderCommand()->isVisible());
    EXPECT_EQ(reports::listReports(false).first().id, ids::ReportComposite);
    EXPECT_EQ(mainValue("select ind from reports where id=1").toInt(), 3);
}

TEST_F(ReportListTest, MemberListsDropTheFinalCommaOnly) {
    db::exec(db::kMain, "update reports set include='12,15,20,' where id=1");
    db::exec(db::kMain, "update reports set include=null where id=2");
    db::exec(db::kMain, "update reports set include='12,15' where id=3");
    EXPECT_EQ(reports::memberListFor(ReportMode::Svod, 1, false), "12,15,20");
    EXPECT_EQ(reports::memberListFor(ReportMode::Svod, 2, false), "");
    EXPECT_EQ(reports::memberListFor(ReportMode::Net, 3, false), "12,15");
    // Composite reports read statistics; "Net" is no report mode of the indicators.
    EXPECT_EQ(reports::memberListFor(ReportMode::Terrain, ids::ReportComposite, false), "1,2");
    EXPECT_EQ(reports::memberListFor(ReportMode::Net, ids::ReportComposite, true), "1,2");
    EXPECT_EQ(reports::memberListFor(ReportMode::Single, 1, true), "12,15,20");
    EXPECT_EQ(reports::memberListFor(ReportMode::Terrain, 1, false), "");
    db::exec(db::kMain, "insert into statistics (base, include) values (4, '3')");
    EXPECT_EQ(reports::compositeMemberList(ids::ReportComposite), "3");
}

TEST_F(ReportListTest, ViewAndIndicatorsHandTheReportAndItsMembersOn) {
    struct Seen { QString title, include; ValueTable table; qint64 current; };
    QList<Seen> seen;
    auto record = [&](QDialog *d) {
        WorkContext work;
        if (auto *forms = qobject_cast<TFormList *>(d)) work = forms->work();
        if (auto *sets = qobject_cast<TMISetup *>(d)) work = sets->work();
        seen.append({d->windowTitle(), work.includeList, work.table, work.institution});
        return int(QDialog::Rejected);
    };
    testWork().mode = ReportMode::Terrain;
    TRepList w(testWork());
    w.list()->setCurrentItem(w.list()->topLevelItem(3));   // the composite report
    dialogs.modals = {record, record};
    w.openFormsTree();
    w.showIndicators();
    testWork().mode = ReportMode::Single;   // the command for institutions opens its own list
    TRepList single(testWork());
    single.list()->setCurrentItem(single.list()->topLevelItem(1));
    dialogs.modals = {record};
    single.showIndicators();
    ASSERT_EQ(seen.size(), 3);
    EXPECT_TRUE(seen[0].title.contains("Итоговый свод"));
    EXPECT_EQ(seen[0].include, "1,2");
    EXPECT_EQ(seen[0].table, ValueTable::RepData);
    EXPECT_EQ(seen[0].current, ids::ReportComposite);
    EXPECT_EQ(seen[1].include, "1,2");
    EXPECT_EQ(seen[2].include, "5,6,7,8");
    EXPECT_EQ(seen[2].current, ids::ReportNorth);
}

TEST_F(ReportListTest, MenuItemsOpenTheirWindowsOverTheCurrentReport) {
    testWork().mode = ReportMode::Terrain;
    TRepList w(testWork());
    w.list()->setCurrentItem(w.list()->topLevelItem(1));   // Свод по Северному району
    const QString name = QStringLiteral("Свод по Северному району");
    for (QAction *a : {w.includesCommand(), w.viewCommand(), w.breakdownsCommand(), w.memberReportsCommand(), w.indicatorsCommand(), w.populationCommand(), w.groupRecalcCommand()}) {
        dialogs.modals.push_back([](QDialog *) { return int(QDialog::Rejected); });
        a->trigger();
    }
    EXPECT_EQ(dialogs.modalTitles.size(), 7);
    EXPECT_EQ(dialogs.modalTitles.first(), name);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    // Cancelled dialogs store nothing.
    EXPECT_EQ(reports::storedInclude(ids::ReportNorth), QStringLiteral("5,6,7,8,"));
    EXPECT_EQ(mainValue("select count(*) from statistics where base=?", {ids::ReportNorth}).toInt(), 0);
}

// Resized, the list keeps 5 pixels on each side and below, and its first
// column leaves 45 pixels and a scroll bar of the list free.
TEST_F(ReportListTest, ListFollowsTheWindowWhenResized) {
    TRepList w(testWork());
    w.show();
    for (const QSize size : {QSize(640, 480), QSize(900, 300)}) {
        w.resize(size);
        QApplication::processEvents();
        const QRect list = w.list()->geometry();
        EXPECT_EQ(list.width(), w.width() - 10);
        EXPECT_EQ(list.left(), 5);
        EXPECT_EQ(w.height() - (list.bottom() + 1), 5);
        const int bar = w.list()->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, w.list());
        EXPECT_EQ(w.list()->columnWidth(0), list.width() - 45 - bar);
        EXPECT_TRUE(w.list()->isColumnHidden(1));
    }
    EXPECT_EQ(TRepListView::firstColumnWidth(30, 17), 0);
}
