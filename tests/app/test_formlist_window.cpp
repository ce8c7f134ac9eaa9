// The forms-tree window: next/previous table, clearing, group table loads, and the whole road from the territory window
// to a typed value and its controls (control runs, recalculation and clearing scopes are tested without the window,
// form loads with the transfer files).
#include "app/Commands.h"
#include "support/TestWork.h"
#include "app/MainWindow.h"
#include "core/ListWindow.h"
#include "core/ProgressWindow.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "forms/territory/AdmForm.h"
#include "forms/tree/FormList.h"
#include "forms/shared/FormListLogic.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableWindow.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/WindowTestBase.h"
#include "widgets/AbcMouseLabel.h"

#include <QMenu>
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QTest>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

double stored(qint64 hosp, int table, int column, int row) {
    return db::scalar(db::connection(db::kData),
                      "select data from data where hospital=? and \"table\"=? and \"column\"=? and \"row\"=?",
                      {hosp, table, column, row}).toDouble();
}

using FormListWindowTest = InputWindowTest;

} // namespace

TEST_F(FormListWindowTest, NextAndPreviousTableSkipFormNodes) {
    testWork().institution = ids::NorthHospital;
    TFormList w(testWork());
    w.setWindowTitle("Северная ЦРБ");
    ASSERT_TRUE(w.Start(ids::TypeHospital));
    QTreeWidgetItem *f30 = w.tree()->topLevelItem(0);
    // Navigation over the tables of every form, skipping form nodes.
    w.tree()->setCurrentItem(f30->child(1));
    const std::optional<TableWindowParams> f14 = w.nextTable(true);
    ASSERT_TRUE(f14);
    EXPECT_EQ(f14->tableIdent, ids::TableF14Patients);
    EXPECT_EQ(f14->formId, ids::FormF14);
    EXPECT_FALSE(w.nextTable(true));     // the last table of the last form
    EXPECT_TRUE(w.currentFormText().startsWith(QStringLiteral("Ф14 - ")));
    ASSERT_TRUE(w.nextTable(false));
    const std::optional<TableWindowParams> staff = w.nextTable(false);
    ASSERT_TRUE(staff);
    EXPECT_EQ(staff->tableIdent, ids::TableF30Staff);
    EXPECT_FALSE(w.nextTable(false));
}

TEST_F(FormListWindowTest, LongFormNamesAndTableNumbersAreKeptWhole) {
    const QSqlDatabase main = db::connection(db::kMain);
    db::exec(main, "update forms set formname=? where id=?", {"Ф14-стационар-2024", ids::FormF14});
    db::exec(main, "update tables set tablen=? where ident=?", {"(1000-дополнение)", ids::TableF14Patients});
    fx.reloadCaches();
    testWork().institution = ids::NorthHospital;
    TFormList w(testWork());
    ASSERT_TRUE(w.Start(ids::TypeHospital));
    QTreeWidgetItem *f14 = treeNodeWithText(w.tree(), "Ф14-стационар-2024");
    ASSERT_TRUE(f14);
    w.tree()->setCurrentItem(f14->child(0));
    QString formName, number;
    dialogs.modals.push_back([&](QDialog *d) {
        if (auto *t = qobject_cast<TVTable *>(d)) {
            formName = t->params().formName;
            number = t->params().tableNumber;
        }
        return int(QDialog::Rejected);
    });
    w.openTable();
    // The tree may show the name in the catalogue's upper case; it is never cut.
    EXPECT_EQ(formName.toUpper(), QStringLiteral("Ф14-СТАЦИОНАР-2024"));
    EXPECT_EQ(number, "(1000-дополнение)");
}

TEST_F(FormListWindowTest, ClearingATableAsksFirst) {
    testWork().institution = ids::SouthHospital;
    TFormList w(testWork());
    w.setWindowTitle("Южная ЦРБ");
    w.Start(ids::TypeHospital);
    QTreeWidgetItem *visits = treeNodeWithText(w.tree(), "(2000)");
    w.tree()->setCurrentItem(visits);
    ASSERT_GT(stored(ids::SouthHospital, ids::TableF30Visits, 5, 4), 0);
    dialogs.answers.push_back(false);
    w.clearTable();
    EXPECT_GT(stored(ids::SouthHospital, ids::TableF30Visits, 5, 4), 0);
    dialogs.answers.push_back(true);
    w.clearTable();
    EXPECT_EQ(stored(ids::SouthHospital, ids::TableF30Visits, 5, 4), 0);
    EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Готово!"));
    EXPECT_TRUE(dialogs.questions.last().contains(QStringLiteral("из таблицы \r\n(2000) - Посещения")));
}

TEST_F(FormListWindowTest, FormLoadReplacesTheSelectedFormOnly) {
    testWork().institution = ids::SouthHospital;
    const auto count = [](int table) {
        return db::scalar(db::connection(db::kData), "select count(*) from data where hospital=? and \"table\"=?",
                          {ids::SouthHospital, table}).toInt();
    };
    const int staff = count(ids::TableF30Staff), visits = count(ids::TableF30Visits);
    const int patients = count(ids::TableF14Patients);
    ASSERT_GT(staff + visits, 0);
    ASSERT_GT(patients, 0);
    const QString file = fx.yearFolder() + "Южная ЦРБ.ORW";   // upper-case extension
    transfer::SaveHosp(ids::SouthHospital, file);
    db::exec(db::connection(db::kData), "delete from data where hospital=?", {ids::SouthHospital});

    TFormList w(testWork());
    w.setWindowTitle("Южная ЦРБ");
    w.Start(ids::TypeHospital);
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0)->child(1));   // a table of Ф30
    dialogs.files.push_back(file);
    w.loadForm();
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Форма Ф30 загружена из ")));
    EXPECT_EQ(count(ids::TableF30Staff), staff);
    EXPECT_EQ(count(ids::TableF30Visits), visits);
    EXPECT_EQ(count(ids::TableF14Patients), 0);
}

// The forms tree of institution types and a territory's sum have no single target: loading a form, clearing and the
// group table load are not offered there, and every load refuses institution 0 or an id that is not an institution.
TEST_F(FormListWindowTest, WindowsOverManyInstitutionsOfferNoSingleTargetCommands) {
    const QString dump = [] {
        return db::scalar(db::connection(db::kData), "select group_concat(hospital || data, ';') from data").toString();
    }();
    const QString file = fx.yearFolder() + "Южная ЦРБ.orw";
    transfer::SaveHosp(ids::SouthHospital, file);
    testWork().mode = ReportMode::Types;
    testWork().institution = ids::SouthHospital;   // left from an earlier window: not the types window's target
    int shown = 0;
    const auto inspect = [&](QDialog *d) {
        auto *w = qobject_cast<TFormList *>(d);
        EXPECT_NE(w, nullptr);
        if (!w) return int(QDialog::Rejected);
        ++shown;
        EXPECT_FALSE(w->loadFormCommand()->isVisible());
        EXPECT_FALSE(w->groupLoadCommand()->isVisible());
        EXPECT_FALSE(w->clearingMenu()->menuAction()->isVisible());
        w->tree()->setCurrentItem(w->tree()->topLevelItem(0));
        dialogs.files.push_back(file);
        w->loadForm();   // a key or a stale handler: still nothing happens
        return int(QDialog::Rejected);
    };
    dialogs.modals.push_back(inspect);
    openFormsTreeForTypes(nullptr, testWork(), QStringLiteral("Больницы"));
    testWork().mode = ReportMode::Input;
    dialogs.modals.push_back(inspect);
    openFormsTreeForSummary(nullptr, testWork(), ids::South, QStringLiteral("Южный район"),
                            QStringLiteral("%1,%2").arg(ids::SouthHospital).arg(ids::SouthPolyclinic));
    EXPECT_EQ(shown, 2);
    for (const qint64 id : {qint64(0), qint64(99999)}) {
        try {
            transfer::loadForm(id, file, ValueTable::Data, ids::FormF30, "Ф30");
            ADD_FAILURE() << id << ": loaded";
        } catch (const db::Error &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("Учреждение не выбрано"))) << e.message().toStdString();
        }
        EXPECT_THROW(transfer::LoadUnitInfo(id, file, QString(), false), db::Error);
        EXPECT_THROW(formlist::clearForm(id, ids::FormF30), db::Error);
    }
    EXPECT_EQ(db::scalar(db::connection(db::kData), "select group_concat(hospital || data, ';') from data").toString(),
              dump);
}

// "Импорт формул расчёта" through the window: a file with no condition of
// the form changes nothing and says why; a good one says what it replaced.
TEST_F(FormListWindowTest, ConditionsImportOfTheWindowChangesNothingForAFileWithoutTheForm) {
    testWork().institution = ids::Region;
    testWork().includeList = "5,6,7,8,9,10,11,12,13,14,15,16";
    testWork().net = true;
    TFormList w(testWork());
    w.Start(-1);
    ASSERT_EQ(w.tree()->topLevelItemCount(), 1);
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));
    const auto conditions = [] {
        return db::scalar(db::connection(db::kMain), "select group_concat(tid || formula || condition, ';') from conditions")
            .toString();
    };
    const QString before = conditions();
    const QString empty = fx.root() + "empty.cnd", other = fx.root() + "other.cnd";
    ASSERT_TRUE(cp1251::writeLines(empty, {}));
    ASSERT_TRUE(cp1251::writeLines(other, {"Ф30\t(1000)\t1\t2\tFalse\t\tx\t3\tTrue\tFalse\t*"}));
    for (const QString &f : {empty, other}) {
        dialogs.files.push_back(f);
        w.importFormulas();
        EXPECT_TRUE(dialogs.messages.last().contains(QStringLiteral("Условия не изменены."))) << dialogs.messages.last().toStdString();
        EXPECT_FALSE(dialogs.sawMessage(QStringLiteral("Условия успешно импортированы")));
        EXPECT_EQ(conditions(), before);
    }
    const QString good = fx.root() + "good.cnd";
    ASSERT_TRUE(cp1251::writeLines(good, {"Ф47\t(1000)\t1\t2\tFalse\t\tусловие\t3\tTrue\tFalse\t2,5"}));
    dialogs.files.push_back(good);
    w.importFormulas();
    EXPECT_EQ(dialogs.messages.last(),
              QStringLiteral("Условия успешно импортированы\nИмпортировано условий: 1 (таблиц: 1)."));
    testWork().net = false;
}

TEST_F(FormListWindowTest, NetworkFormRecalculation) {
    testWork().institution = ids::Region;
    testWork().includeList = "5,6,7,8,9,10,11,12,13,14,15,16";
    testWork().net = true;
    TFormList w(testWork());
    w.setWindowTitle("Область");
    w.offerRecalculation(false);
    w.Start(-1);
    ASSERT_EQ(w.tree()->topLevelItemCount(), 1);
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));
    dialogs.answers = {true, true};     // recalculate, round
    w.recalculateSelectedForm();
    EXPECT_EQ(dialogs.questions.first(), QStringLiteral("Персчитать все таблицы формы \"Ф47\"?"));
    EXPECT_EQ(dialogs.questions.last(), QStringLiteral("Округлять результат?"));
    EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Пересчет формы закончен"));
    EXPECT_DOUBLE_EQ(stored(ids::Region, ids::TableF47Network, 5, 4), 4);
    EXPECT_DOUBLE_EQ(stored(ids::Region, ids::TableF47Network, 6, 4), 52);   // 18902 bed-days / 365

    // A malformed condition met in every cell of the table is told once, after the run.
    db::exec(db::kMain, "update conditions set condition='Ф30Т(1000)СТР1ГР4>0)' where tid=?",
             {ids::TableF47Network});
    dialogs.messages.clear();
    dialogs.answers = {true, false};
    w.recalculateSelectedForm();
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(dialogs.messages[0].contains("Ф47т(1000): Не хватает левой скобки в условии: Ф30Т(1000)СТР1ГР4>0)"))
        << dialogs.messages[0].toStdString();
    EXPECT_EQ(dialogs.messages[0].count("Не хватает левой скобки"), 1);
    EXPECT_EQ(dialogs.messages[1], QStringLiteral("Пересчет формы закончен"));
    testWork().net = false;
}

TEST_F(FormListWindowTest, FromTheMainWindowToATypedValueAndItsControls) {
    // 1. The territory window: the northern hospital's forms.
    dialogs.modals.push_back([&](QDialog *d) {
        auto *adm = qobject_cast<TAdmForm *>(d);
        EXPECT_NE(adm, nullptr);
        adm->show();
        for (QTreeWidgetItem *n : TreeNodesInOrder(adm->tree()))
            if (TreeNodeId(n) == ids::NorthHospital) adm->tree()->setCurrentItem(n);
        adm->openForms();
        return int(QDialog::Rejected);
    });
    // 2. The forms tree: the staff table of Ф30.
    dialogs.modals.push_back([&](QDialog *d) {
        auto *fl = qobject_cast<TFormList *>(d);
        EXPECT_NE(fl, nullptr);
        fl->tree()->setCurrentItem(treeNodeWithText(fl->tree(), "(1000) - Штаты"));
        fl->openTable();
        return int(QDialog::Rejected);
    });
    // 3. The table window: type into СТР2 ГР4, run the controls, go to the next table.
    dialogs.modals.push_back([&](QDialog *d) {
        auto *t = qobject_cast<TVTable *>(d);
        EXPECT_NE(t, nullptr);
        EXPECT_EQ(t->params().tableIdent, ids::TableF30Staff);
        t->show();
        QApplication::processEvents();
        EXPECT_TRUE(t->isLoaded());
        t->grid()->setCurrentCell(0, 1);
        QTest::keyClick(t->grid(), Qt::Key_Delete, Qt::ControlModifier);
        QTest::keyClicks(t->grid(), "400");
        QTest::keyClick(t->grid(), Qt::Key_Return);
        QTest::keyClick(t->grid(), Qt::Key_F3);
        EXPECT_FALSE(t->controlErrors().isEmpty());
        if (!t->controlErrors().isEmpty()) EXPECT_EQ(t->controlErrors().object(0), ids::RuleDoctorsByColumn);
        t->showNextTable();
        EXPECT_EQ(t->params().tableIdent, ids::TableF30Visits);
        EXPECT_EQ(t->tableCaption(), QStringLiteral("(2000) - Посещения"));
        t->hide();
        return int(QDialog::Rejected);
    });
    // The main window's command "Заполнение и контроль отчетных форм".
    const MainCommands saved = mainCommands();
    mainCommands() = MainCommands{};
    mainCommands().input = openAdmFormForInput;
    {
        TMain main;
        ASSERT_TRUE(main.inputCommand()->isEnabled());
        main.enterForms();
    }
    mainCommands() = saved;
    EXPECT_EQ(dialogs.modalTitles.size(), 3);   // the territory, the forms tree, the table
    // СТР2 ГР4: stored column 5, stored row 2 + 3 + 1 = 6.
    EXPECT_DOUBLE_EQ(stored(ids::NorthHospital, ids::TableF30Staff, 5, 6), 400);
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Обнаружены ошибки")));
}

TEST_F(FormListWindowTest, GroupTableLoadListsSkippedInstitutions) {
    testWork().institution = ids::NorthHospital;
    TFormList w(testWork());
    w.setWindowTitle("Северная ЦРБ");
    w.Start(ids::TypeHospital);
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));
    w.loadTableForGroup();                       // a form node: no table to load
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Выберите таблицу")));

    w.tree()->setCurrentItem(treeNodeWithText(w.tree(), "(2000)"));
    const QString known = fx.yearFolder() + "data/южная црб - Годовой - 2024.orw";
    const QString unknown = fx.yearFolder() + "data/Нет такой - Годовой - 2024.orw";
    QDir().mkpath(fx.yearFolder() + "data");
    for (const QString &f : {known, unknown})
        ASSERT_TRUE(cp1251::writeLines(f, {"\"77\",\"2024\",\"Ф30\",\"(2000)\",\"5\",\"4\""}));
    dialogs.fileLists.push_back({unknown, known});
    w.loadTableForGroup();
    EXPECT_DOUBLE_EQ(stored(ids::SouthHospital, ids::TableF30Visits, 5, 4), 77);
    // The run went through the progress window, which offers "Отмена".
    EXPECT_EQ(Progress().statusText(), QStringLiteral("Групповая подгрузка таблицы"));
    EXPECT_EQ(Progress().max(), 2);
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Учреждение Нет такой не найдено.\nВоспользуйтесь режимом "
                                                  "одиночного ввода")));
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Подгрузка информации закончена")));
    ASSERT_EQ(dialogs.modalTitles.size(), 1);
    EXPECT_EQ(Form1().contents().rows, QList<QStringList>{{QStringLiteral("Нет такой")}});

    // "Отмена" pressed once the first file is loaded takes the whole group back.
    ASSERT_TRUE(cp1251::writeLines(known, {"\"55\",\"2024\",\"Ф30\",\"(2000)\",\"5\",\"4\""}));
    const QMetaObject::Connection pressed = QObject::connect(Progress().gauge(), &QProgressBar::valueChanged,
                                                             [](int v) { if (v >= 1) Progress().cancel(); });
    dialogs.fileLists.push_back({known, unknown});
    w.loadTableForGroup();
    QObject::disconnect(pressed);
    EXPECT_DOUBLE_EQ(stored(ids::SouthHospital, ids::TableF30Visits, 5, 4), 77);
    EXPECT_FALSE(Progress().isVisible());

    // A polyclinic has no Ф14: its file is refused, never stored out of sight.
    w.tree()->setCurrentItem(w.tree()->topLevelItem(1)->child(0));   // Ф14 (1000)
    const QString poly = fx.yearFolder() + "data/Южная поликлиника - Годовой - 2024.orw";
    ASSERT_TRUE(cp1251::writeLines(poly, {"\"88\",\"2024\",\"Ф14\",\"(1000)\",\"5\",\"5\""}));
    dialogs.fileLists.push_back({poly});
    w.loadTableForGroup();
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Строки форм, которых нет у типа учреждения, пропущены: 1 (Ф14 (1000))")))
        << dialogs.messages.join("\n").toStdString();
    EXPECT_EQ(db::scalar(db::connection(db::kData), "select count(*) from data where hospital=? and \"table\"=?",
                         {ids::SouthPolyclinic, ids::TableF14Patients}).toInt(), 0);
}
