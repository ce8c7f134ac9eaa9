// From the main window to a report's table and its recalculation.
#include "app/Commands.h"
#include "app/MainWindow.h"
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "forms/tree/FormList.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "reports/ReportList.h"
#include "support/WindowTestBase.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

struct ReportRoadTest : SampleTest {
    MainCommands saved;
    void SetUp() override {
        SampleTest::SetUp();
        saved = mainCommands();
        mainCommands() = MainCommands{};
        mainCommands().summaryReports = openReportListSvod;
        mainCommands().form47 = openReportListNet;
        mainCommands().indicatorsByTerritory = openReportListTerrain;
    }
    void TearDown() override {
        mainCommands() = saved;
        SampleTest::TearDown();
    }

    // The report list: selects the report and opens its forms tree.
    void openReport(qint64 report, QString *listTitle) {
        dialogs.modals.push_back([=](QDialog *d) {
            auto *w = qobject_cast<TRepList *>(d);
            EXPECT_NE(w, nullptr);
            if (!w) return int(QDialog::Rejected);
            *listTitle = w->windowTitle();
            for (int i = 0; i < w->list()->topLevelItemCount(); ++i)
                if (w->list()->topLevelItem(i)->data(0, Qt::UserRole).toLongLong() == report)
                    w->list()->setCurrentItem(w->list()->topLevelItem(i));
            EXPECT_EQ(w->currentId(), report);
            w->viewCommand()->trigger();
            return int(QDialog::Rejected);
        });
    }

    // The table window: the value of grid cell (0, 0).
    void readTable(double *value) {
        dialogs.modals.push_back([=](QDialog *d) {
            auto *t = qobject_cast<TVTable *>(d);
            EXPECT_NE(t, nullptr);
            if (!t) return int(QDialog::Rejected);
            t->show();
            QApplication::processEvents();
            EXPECT_TRUE(t->isLoaded());
            *value = t->cellValue(0, 0);
            t->hide();
            return int(QDialog::Rejected);
        });
    }
};

} // namespace

TEST_F(ReportRoadTest, SummaryReportShowsTheSumsAndRecalculatesThem) {
    // Ф30 (2000) СТР1 ГР4 holds 100 * 10 * id for 5, 6, 7, 9, 10, 11, 13, 15.
    const double sum = 1000.0 * (5 + 6 + 7 + 9 + 10 + 11 + 13 + 15);
    QString listTitle;
    double before = 0, after = 0;
    openReport(ids::ReportRegion, &listTitle);
    dialogs.modals.push_back([&](QDialog *d) {
        auto *fl = qobject_cast<TFormList *>(d);
        EXPECT_NE(fl, nullptr);
        if (!fl) return int(QDialog::Rejected);
        fl->tree()->setCurrentItem(treeNodeWithText(fl->tree(), "(2000)"));
        readTable(&before);
        fl->openTable();
        // An institution's value changes; the whole report is recalculated.
        db::exec(db::kData, "update data set data=data+7 where hospital=? and \"table\"=? and \"column\"=5 and "
                            "\"row\"=4",
                 {ids::NorthHospital, ids::TableF30Visits});
        dialogs.answers.push_back(true);
        fl->recalculateReport();
        readTable(&after);
        fl->openTable();
        return int(QDialog::Rejected);
    });
    {
        TMain main;
        main.openSummaryReports();
    }
    EXPECT_TRUE(listTitle.endsWith(QStringLiteral("Формирование и просмотр сводных отчетов")));
    EXPECT_DOUBLE_EQ(before, sum);
    EXPECT_DOUBLE_EQ(after, sum + 7);   // read anew from the report's stored values
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Пересчет отчета закончен")));
}

TEST_F(ReportRoadTest, NetworkReportIsRecalculatedByItsCalculatedCells) {
    // The report's stored values go; the form's recalculation rebuilds them.
    db::exec(db::kData, "delete from repdata where hospital=?", {ids::ReportNetwork});
    QString listTitle;
    double shown = -1;
    bool netDuringRun = false;
    openReport(ids::ReportNetwork, &listTitle);
    dialogs.modals.push_back([&](QDialog *d) {
        auto *fl = qobject_cast<TFormList *>(d);
        EXPECT_NE(fl, nullptr);
        if (!fl) return int(QDialog::Rejected);
        netDuringRun = fl->work().net;
        EXPECT_EQ(fl->tree()->topLevelItemCount(), 1);   // the network form only
        fl->tree()->setCurrentItem(fl->tree()->topLevelItem(0));
        dialogs.answers.push_back(true);    // recalculate the form
        dialogs.answers.push_back(false);   // do not round
        fl->recalculateSelectedForm();
        fl->tree()->setCurrentItem(treeNodeWithText(fl->tree(), "(1000)"));
        readTable(&shown);
        fl->openTable();
        return int(QDialog::Rejected);
    });
    {
        TMain main;
        main.openForm47();
    }
    EXPECT_TRUE(listTitle.endsWith(QStringLiteral(" Ф47")));
    EXPECT_TRUE(netDuringRun);
    EXPECT_DOUBLE_EQ(shown, 4);   // СТР1 ГР4: the counter of hospitals (5, 9, 12, 13)
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Пересчет формы закончен")));
}

TEST_F(ReportRoadTest, CompositeReportBreakdownSumsItsMemberReports) {
    // "Разрезы" of the composite report over reports 1 and 2: the member reports' stored sums, not the values of
    // the institutions (territories here) that happen to have the ids 1 and 2.
    db::exec(db::kData, "insert into data values (1, 1.5, 2024, ?, 5, 4)", {ids::TableF30Visits});
    db::exec(db::kData, "insert into repdata values (?, 0.1, 2024, ?, 5, 4)", {ids::ReportNorth, ids::TableF30Visits});
    const double region = 1000.0 * (5 + 6 + 7 + 9 + 10 + 11 + 13 + 15);
    QString listTitle;
    MemberKind members = MemberKind::Institutions;
    dialogs.modals.push_back([&](QDialog *d) {
        auto *w = qobject_cast<TRepList *>(d);
        EXPECT_NE(w, nullptr);
        if (!w) return int(QDialog::Rejected);
        for (int i = 0; i < w->list()->topLevelItemCount(); ++i)
            if (w->list()->topLevelItem(i)->data(0, Qt::UserRole).toLongLong() == ids::ReportComposite)
                w->list()->setCurrentItem(w->list()->topLevelItem(i));
        w->breakdownsCommand()->trigger();
        return int(QDialog::Rejected);
    });
    dialogs.modals.push_back([&](QDialog *d) {
        auto *fl = qobject_cast<TFormList *>(d);
        EXPECT_NE(fl, nullptr);
        if (!fl) return int(QDialog::Rejected);
        members = fl->work().members;
        dialogs.answers.push_back(true);
        fl->recalculateReport();
        return int(QDialog::Rejected);
    });
    {
        TMain main;
        main.indicatorsByTerritory();
    }
    EXPECT_EQ(members, MemberKind::Reports);
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Пересчет отчета закончен"))) << dialogs.messages.join('|').toStdString();
    EXPECT_DOUBLE_EQ(db::scalar(db::connection(db::kData), "select data from repdata where hospital=? and "
                                "\"table\"=? and \"column\"=5 and \"row\"=4 and year=2024",
                                {ids::ReportComposite, ids::TableF30Visits}).toDouble(),
                     region + 0.1);
}
