// The territory and institution-type windows driven through their handlers.
#include "core/SampleConfig.h"
#include "support/TestWork.h"
#include "engine/Caches.h"
#include "engine/SharedState.h"
#include "core/ListWindow.h"
#include "core/ProgressWindow.h"
#include "core/TreeMarking.h"
#include "forms/territory/AdmForm.h"
#include "forms/shared/AdmFormLogic.h"
#include "forms/tree/FormList.h"
#include "forms/shared/FormListCommon.h"
#include "forms/territory/MedTypes.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "support/WindowTestBase.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QSet>
#include <QSqlQuery>
#include <QTimer>
#include <QFile>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

struct WindowTest : InputWindowTest {
    QVariant adm(const QString &column, qint64 id) {
        return db::scalar(db::connection(db::kMain),
                          QStringLiteral("select %1 from administration where id=?").arg(column), {id});
    }
};

} // namespace

TEST_F(WindowTest, InputModeOpensTheFormsOfAnInstitution) {
    TAdmForm w(TAdmForm::Mode::Input, testWork());
    w.show();
    ASSERT_EQ(TreeNodeId(w.tree()->currentItem()), ids::Region);

    // A double click on the territory opens its first institution.
    QString caption;
    QStringList forms;
    WorkContext opened;
    QString unitName;
    dialogs.modals.push_back([&](QDialog *d) {
        auto *fl = qobject_cast<TFormList *>(d);
        caption = d->windowTitle();
        opened = fl->work();
        unitName = fl->unitName();
        for (int i = 0; i < fl->tree()->topLevelItemCount(); ++i) forms.append(fl->tree()->topLevelItem(i)->text(0));
        return int(QDialog::Rejected);
    });
    w.openForms();
    EXPECT_EQ(opened.institution, ids::NorthHospital);
    EXPECT_EQ(caption, QStringLiteral("Северная ЦРБ"));
    // Documents of the forms tree are named after the node opened.
    EXPECT_EQ(unitName, QStringLiteral("Северная ЦРБ"));
    EXPECT_EQ(forms.size(), 2);   // a hospital reports Ф30 and Ф14

    // "Свод" of a district sums its institutions.
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::North));
    dialogs.modals.push_back([&](QDialog *d) {
        caption = d->windowTitle();
        opened = qobject_cast<TFormList *>(d)->work();
        unitName = qobject_cast<TFormList *>(d)->unitName();
        return int(QDialog::Rejected);
    });
    w.openSummary();
    EXPECT_EQ(caption, QStringLiteral("Северный район - свод"));
    EXPECT_EQ(opened.includeList, "5,6,7,8");
    EXPECT_EQ(opened.institution, ids::North);
    EXPECT_EQ(unitName, QStringLiteral("Северный район"));
    // Opened elsewhere, the stored name.
    EXPECT_EQ(TFormList(opened).unitName(), QStringLiteral("Северный район"));
}

TEST_F(WindowTest, StructureModeAddDeleteAndOrder) {
    TAdmForm w(TAdmForm::Mode::Structure, testWork());
    w.show();
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::North));

    // "Вставить": a new unit under the district.
    dialogs.modals.push_back([](QDialog *d) {
        auto *u = qobject_cast<TUntChar *>(d);
        u->nameEdit()->setText(QStringLiteral("ФАП \"Новый\""));
        u->typeBox()->setCurrentIndex(u->typeBox()->findData(qint64(ids::TypeFap)));
        // A population typed in the new unit's dialog is kept.
        const char *typed[] = {"900", "600", "100", "200"};
        const QList<QLineEdit *> edits = u->populationEdits();
        for (int i = 0; i < 4; ++i) {
            edits[i]->setText(typed[i]);
            edits[i]->setModified(true);
        }
        return int(QDialog::Accepted);
    });
    w.insertUnit();
    QTreeWidgetItem *north = treeNodeWithId(w.tree(), ids::North);
    QTreeWidgetItem *added = north->child(north->childCount() - 1);
    const qint64 id = TreeNodeId(added);
    EXPECT_EQ(adm("unit", id).toString(), QStringLiteral("ФАП \"Новый\""));
    const std::optional<adm::Population> kept = adm::readPopulation(id, fx.year());
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->common + "/" + kept->olds + "/" + kept->teens + "/" + kept->childs, "900/600/100/200");

    // "Корректировать" of the district: "Подсчитать" is offered, sums the
    // units under it and the sum is saved.
    const auto countButton = [](QDialog *d) {
        for (QPushButton *b : d->findChildren<QPushButton *>())
            if (b->text() == QStringLiteral("Подсчитать")) return b;
        return static_cast<QPushButton *>(nullptr);
    };
    const qint64 before = db::scalar(db::connection(db::kMain), "select count(*) from populations1").toLongLong();
    w.tree()->setCurrentItem(north);
    dialogs.modals.push_back([&](QDialog *d) {
        auto *u = qobject_cast<TUntChar *>(d);
        EXPECT_FALSE(countButton(d)->isHidden());
        u->countPopulation();
        return int(QDialog::Accepted);
    });
    w.editUnit();
    const std::optional<adm::Population> summed = adm::readPopulation(ids::North, fx.year());
    ASSERT_TRUE(summed.has_value());
    // The sample's units of the district and the new FAP's 900/600/100/200.
    EXPECT_EQ(summed->common + "/" + summed->olds + "/" + summed->teens + "/" + summed->childs,
              "26900/18800/2700/5400");
    // The district's row is replaced, not added to.
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select count(*) from populations1").toLongLong(), before);
    // An institution has nothing under it to count.
    w.tree()->setCurrentItem(added);
    dialogs.modals.push_back([&](QDialog *d) {
        EXPECT_TRUE(countButton(d)->isHidden());
        return int(QDialog::Rejected);
    });
    w.editUnit();

    // "Удалить" asks first.
    w.tree()->setCurrentItem(added);
    dialogs.answers.push_back(false);
    w.removeUnit();
    EXPECT_TRUE(adm("id", id).isValid());
    dialogs.answers.push_back(true);
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), id));
    w.removeUnit();
    EXPECT_FALSE(adm("id", id).isValid());

    // Structure mode: a move, then leaving the mode stores the order.
    w.orderingAction()->trigger();
    QTreeWidgetItem *fap = treeNodeWithId(w.tree(), ids::FapLesnoy);
    w.tree()->setCurrentItem(fap);
    ASSERT_TRUE(MoveTreeNode(w.tree(), fap, treeNodeWithId(w.tree(), ids::NorthHospital), TreeDropPlace::Indent, adm::moveUnit));
    w.orderingAction()->trigger();
    EXPECT_EQ(adm("ind", ids::FapLesnoy).toInt(), 0);
}

TEST_F(WindowTest, GroupUnloadMirrorsTheTerritoryAndGroupLoadListsUnknownFiles) {
    TAdmForm w(TAdmForm::Mode::Input, testWork());
    w.show();
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::North));
    w.unloadGroup();
    const QString folder = fx.yearFolder() + "data/Северный район/";
    // The FAP without values gets no file, and the closing box says so.
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Выгрузка закончена. Файлов: 3, папка ") +
                                   QDir::toNativeSeparators(paths::withoutSlash(folder)) +
                                   QStringLiteral("\nУчреждений без значений за год (файлы для них не записаны): 1 — "
                                                  "ФАП Лесной.")))
        << dialogs.messages.join(u'|').toStdString();
    const QStringList written = QDir(folder).entryList({"*.orw"}, QDir::Files, QDir::Name);
    EXPECT_EQ(written.size(), 3);
    EXPECT_FALSE(written.join(u'|').contains(QStringLiteral("Лесной")));

    const auto total = [] { return db::scalar(db::connection(db::kData), "select count(*) from data").toInt(); };
    const int before = total();
    db::exec(db::connection(db::kData), "delete from data where hospital in (5,6,7,8)");
    QStringList files;
    for (const QString &f : written) files.append(folder + f);
    QFile::copy(files.first(), folder + "Нет такого - Годовой.orw");
    files.append(folder + "Нет такого - Годовой.orw");
    dialogs.fileLists.push_back(files);
    dialogs.modals.push_back([](QDialog *) { return int(QDialog::Accepted); });
    w.loadGroup();
    EXPECT_EQ(total(), before);
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Учреждение Нет такого не найдено.")));
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Подгрузка информации закончена")));
    EXPECT_EQ(dialogs.modalTitles.size(), 1);   // the list of skipped institutions
    EXPECT_EQ(Form1().contents().rows.size(), 1);

    // The form choice reaches the group load: only the chosen forms are loaded.
    db::exec(db::connection(db::kData), "delete from data where hospital in (5,6,7,8)");
    const auto count = [](int table) {
        return db::scalar(db::connection(db::kData), "select count(*) from data where hospital=? and \"table\"=?",
                          {ids::NorthHospital, table}).toInt();
    };
    dialogs.modals.push_back([](QDialog *d) {
        auto *choice = qobject_cast<TSFLF *>(d);
        EXPECT_NE(choice, nullptr);
        if (!choice) return int(QDialog::Rejected);
        for (int i = 0; i < choice->list()->count(); ++i) {
            QListWidgetItem *item = choice->list()->item(i);
            item->setCheckState(item->text().startsWith(QStringLiteral("Ф30 - ")) ? Qt::Checked : Qt::Unchecked);
        }
        return int(QDialog::Accepted);
    });
    w.chooseLoadForms();
    EXPECT_EQ(w.chosenFormsLabel()->text(), QStringLiteral("Ф30"));
    // The choice belongs to the program, not to this window: the choice of
    // another window opens with it ticked.
    EXPECT_EQ(shared().GroupLoadForms, QStringLiteral("Ф30"));
    {
        TAdmForm other(TAdmForm::Mode::Input, testWork());
        QStringList ticked;
        dialogs.modals.push_back([&](QDialog *d) {
            auto *choice = qobject_cast<TSFLF *>(d);
            if (!choice) return int(QDialog::Rejected);
            for (int i = 0; i < choice->list()->count(); ++i)
                if (choice->list()->item(i)->checkState() == Qt::Checked)
                    ticked << choice->list()->item(i)->text().section(QStringLiteral(" - "), 0, 0);
            return int(QDialog::Rejected);
        });
        other.chooseLoadForms();
        EXPECT_EQ(ticked, QStringList{QStringLiteral("Ф30")});
    }
    dialogs.fileLists.push_back(files);
    dialogs.modals.push_back([](QDialog *) { return int(QDialog::Accepted); });
    w.loadGroup();
    EXPECT_GT(count(ids::TableF30Staff), 0);
    EXPECT_EQ(count(ids::TableF14Patients), 0);
}

// Villages share names: equal names in two districts, in one district and names equal up to letter case each keep a
// file of their own, and the group load puts every file back into its own institution.
TEST_F(WindowTest, GroupUnloadAndLoadKeepEqualNamesApart) {
    const QSqlDatabase data = db::connection(db::kData);
    const QVariantList cell = [&] {
            QSqlQuery q = db::exec(data, "select \"column\", \"row\" from data where hospital=? and \"table\"=? limit 1",
                                   {ids::NorthHospital, ids::TableF30Staff});
            return q.next() ? QVariantList{q.value(0), q.value(1)} : QVariantList{};
        }();
    ASSERT_EQ(cell.size(), 2);
    struct Unit { QString name; qint64 parent; double value; qint64 id = 0; };
    QList<Unit> units{{QStringLiteral("ФАП Ручей"), ids::North, 10.1},
                      {QStringLiteral("ФАП Ручей"), ids::South, 0.1},
                      {QStringLiteral("ФАП Ручей"), ids::South, 7},
                      {QStringLiteral("Амбулатория"), ids::North, 3},
                      {QStringLiteral("АМБУЛАТОРИЯ"), ids::North, 4}};
    for (Unit &u : units) {
        u.id = adm::addUnit(u.parent, {u.name, ids::TypeFap, true});
        db::exec(data, "insert into data (hospital, data, year, \"table\", \"column\", \"row\") values (?,?,?,?,?,?)",
                 {u.id, u.value, shared().Year, ids::TableF30Staff, cell[0], cell[1]});
    }
    caches::reloadAll();
    const auto valueOf = [&](qint64 id) {
        return db::scalar(data, "select data from data where hospital=? and \"table\"=?", {id, ids::TableF30Staff});
    };
    TAdmForm w(TAdmForm::Mode::Input, testWork());
    w.show();
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::Region));
    w.unloadGroup();
    ASSERT_TRUE(dialogs.sawMessage(QStringLiteral("Выгрузка закончена"))) << dialogs.messages.join("\n").toStdString();
    const QString root = fx.yearFolder() + "data/";
    QStringList files;
    for (QDirIterator it(root, {"*.orw"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) files.append(it.next());
    // A unique name keeps its plain file name; names a district shares get the unit's mark.
    EXPECT_TRUE(files.contains(root + QStringLiteral("Область/Северный район/ФАП Ручей - Годовой - 2024.orw")))
        << files.join("\n").toStdString();
    EXPECT_TRUE(files.contains(root + QStringLiteral("Область/Южный район/ФАП Ручей #%1 - Годовой - 2024.orw")
                                          .arg(units[1].id)));
    EXPECT_TRUE(files.contains(root + QStringLiteral("Область/Северный район/АМБУЛАТОРИЯ #%1 - Годовой - 2024.orw")
                                          .arg(units[4].id)));
    QSet<QString> distinct;
    for (const QString &f : files) distinct.insert(f.toUpper());
    EXPECT_EQ(distinct.size(), files.size());   // no two files differ only in letter case

    db::exec(data, "delete from data");
    dialogs.fileLists.push_back(files);
    w.loadGroup();
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Подгрузка информации закончена")));
    for (const Unit &u : units) EXPECT_EQ(valueOf(u.id).toDouble(), u.value) << u.name.toStdString();
    EXPECT_EQ(valueOf(ids::NorthHospital).isValid(), true);

    // Two files of one institution: the whole group is refused before anything is written, and both files are named.
    const QString northFap = root + QStringLiteral("Область/Северный район/ФАП Ручей - Годовой - 2024.orw");
    const QString copy = root + QStringLiteral("Область/Северный район/фап ручей - Годовой.orw");
    ASSERT_TRUE(QFile::copy(northFap, copy));
    db::exec(data, "update data set data=99 where hospital=?", {units[0].id});
    dialogs.fileLists.push_back({northFap, copy});
    w.loadGroup();
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("относятся к одному учреждению")));
    EXPECT_TRUE(dialogs.sawMessage(QDir::toNativeSeparators(copy)));
    EXPECT_EQ(valueOf(units[0].id).toDouble(), 99);
    QFile::remove(copy);

    // Outside the district folders a shared name tells nothing: the file is refused, not guessed.
    const QString flat = fx.yearFolder() + QStringLiteral("ФАП Ручей - Годовой - 2024.orw");
    ASSERT_TRUE(QFile::copy(northFap, flat));
    dialogs.fileLists.push_back({flat});
    w.loadGroup();
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("учреждение не определено однозначно")));
    EXPECT_EQ(valueOf(units[0].id).toDouble(), 99);

    // A file of another level is loaded only when the user says so.
    const QString quarter = root + QStringLiteral("Область/Северный район/ФАП Ручей - 1 квартал - 2024.orw");
    ASSERT_TRUE(QFile::copy(northFap, quarter));
    dialogs.fileLists.push_back({quarter});
    dialogs.answers.push_back(false);
    w.loadGroup();
    ASSERT_FALSE(dialogs.questions.isEmpty());
    EXPECT_TRUE(dialogs.questions.last().contains(QStringLiteral("«Годовой»"))) << dialogs.questions.last().toStdString();
    EXPECT_TRUE(dialogs.questions.last().contains(QStringLiteral("(1 квартал)")));
    EXPECT_EQ(valueOf(units[0].id).toDouble(), 99);
    dialogs.fileLists.push_back({quarter});
    dialogs.answers.push_back(true);
    w.loadGroup();
    EXPECT_EQ(valueOf(units[0].id).toDouble(), 10.1);

    // One institution's load of a file named for another asks first.
    const QString southFap = root + QStringLiteral("Область/Южный район/ФАП Ручей #%1 - Годовой - 2024.orw").arg(units[1].id);
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), units[0].id));
    dialogs.files.push_back(southFap);
    dialogs.answers.push_back(false);
    w.loadInstitution();
    EXPECT_TRUE(dialogs.questions.last().contains(QStringLiteral("указывает на другое учреждение (Область / Южный район / ФАП Ручей)")))
        << dialogs.questions.last().toStdString();
    EXPECT_EQ(valueOf(units[0].id).toDouble(), 10.1);
    dialogs.files.push_back(southFap);
    dialogs.answers.push_back(true);
    w.loadInstitution();
    EXPECT_EQ(valueOf(units[0].id).toDouble(), 0.1);
}

// A file that stands for the institution's year but lacks forms the institution has values in: the load asks first,
// naming them; No changes nothing, Yes loads and the closing box names what was emptied. The group load alike.
TEST_F(WindowTest, InstitutionLoadsNameTheFormsTheyEmpty) {
    const QSqlDatabase data = db::connection(db::kData);
    QStringList others;   // forms of the hospital's values other than Ф30
    for (const QVariant &t : db::column(data, "select distinct \"table\" from data where hospital=?", {ids::NorthHospital}))
        if (const CachedTable *table = shared().Caches.table(t.toLongLong()); table && table->formId != ids::FormF30)
            if (!others.contains(table->formName)) others.append(table->formName);
    ASSERT_FALSE(others.isEmpty());
    const CachedTable *staff = shared().Caches.table(ids::TableF30Staff);
    ASSERT_TRUE(staff);
    const QString file = fx.yearFolder() + QStringLiteral("Северная ЦРБ - Годовой - 2024.orw");
    ASSERT_TRUE(cp1251::writeLines(file, {transfer::formatRecord("0.1", shared().yearText(), staff->formName,
                                                                 staff->tablen, staff->shape.fixcols + 2,
                                                                 staff->shape.fixrows + 2)}));
    const auto rows = [&] {
        return db::scalar(data, "select count(*) from data where hospital=?", {ids::NorthHospital}).toInt();
    };
    const int before = rows();
    TAdmForm w(TAdmForm::Mode::Input, testWork());
    w.show();
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::NorthHospital));
    for (const bool group : {false, true}) {
        SCOPED_TRACE(group);
        dialogs.questions.clear();
        dialogs.messages.clear();
        if (group) dialogs.fileLists.push_back({file});
        else dialogs.files.push_back(file);
        dialogs.answers.push_back(false);
        group ? w.loadGroup() : w.loadInstitution();
        ASSERT_EQ(dialogs.questions.size(), 1);
        EXPECT_TRUE(dialogs.questions[0].contains(QStringLiteral("будут очищены"))) << dialogs.questions[0].toStdString();
        for (const QString &f : others) EXPECT_TRUE(dialogs.questions[0].contains(f)) << f.toStdString();
        EXPECT_FALSE(dialogs.questions[0].contains(QStringLiteral(": Ф30")));
        EXPECT_EQ(rows(), before);
    }
    dialogs.files.push_back(file);
    dialogs.answers.push_back(true);
    w.loadInstitution();
    EXPECT_EQ(rows(), 1);
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Очищены формы, строк которых не было в загруженных данных:\n")))
        << dialogs.messages.join(u'|').toStdString();
    // Nothing left to empty: no question.
    dialogs.questions.clear();
    dialogs.fileLists.push_back({file});
    w.loadGroup();
    EXPECT_TRUE(dialogs.questions.isEmpty()) << dialogs.questions.join(u'|').toStdString();
    EXPECT_EQ(rows(), 1);
}

// The group load reads every file before it asks which forms it would empty: the progress window is up meanwhile,
// and "Отмена" there asks nothing and changes nothing.
TEST_F(WindowTest, GroupLoadReadsItsFilesUnderTheProgressWindow) {
    const QSqlDatabase data = db::connection(db::kData);
    const CachedTable *staff = shared().Caches.table(ids::TableF30Staff);
    ASSERT_TRUE(staff);
    const QString file = fx.yearFolder() + QStringLiteral("Северная ЦРБ - Годовой - 2024.orw");
    ASSERT_TRUE(cp1251::writeLines(file, {transfer::formatRecord("0.1", shared().yearText(), staff->formName,
                                                                 staff->tablen, staff->shape.fixcols + 2,
                                                                 staff->shape.fixrows + 2)}));
    const auto rows = [&] { return db::column(data, "select data from data where hospital=? order by 1", {ids::NorthHospital}); };
    const QVariantList before = rows();
    TAdmForm w(TAdmForm::Mode::Input, testWork());
    w.show();
    bool shownWhileReading = false;
    QTimer press;
    press.setInterval(0);
    QObject::connect(&press, &QTimer::timeout, [&] {
        if (!Progress().isVisible()) return;
        shownWhileReading = true;
        press.stop();
        Progress().cancelButton()->click();
    });
    press.start();
    dialogs.fileLists.push_back({file});
    w.loadGroup();
    press.stop();
    EXPECT_TRUE(shownWhileReading);
    EXPECT_TRUE(dialogs.questions.isEmpty()) << dialogs.questions.join(u'|').toStdString();
    EXPECT_EQ(rows(), before);
    EXPECT_TRUE(dialogs.sawMessage(Cancelled::message())) << dialogs.messages.join(u'|').toStdString();
}

// An institution without values of the year: its unload writes no file (every load would refuse it as empty) and says
// why; one with values writes a file the load reads back.
TEST_F(WindowTest, UnloadOfAnInstitutionWithoutValuesWritesNothing) {
    TAdmForm w(TAdmForm::Mode::Input, testWork());
    w.show();
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::FapLesnoy));
    dialogs.files.push_back(fx.yearFolder() + "лесной.orw");
    w.unloadInstitution();
    EXPECT_TRUE(dialogs.savePaths.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(fx.yearFolder() + "лесной.orw"));
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("нет значений за %1 год: выгружать нечего").arg(shared().Year)))
        << dialogs.messages.join(u'|').toStdString();
    dialogs.files.clear();
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::NorthHospital));
    dialogs.files.push_back(fx.yearFolder() + "северная.orw");
    w.unloadInstitution();
    ASSERT_TRUE(QFileInfo::exists(fx.yearFolder() + "северная.orw"));
    EXPECT_GT(transfer::readFile(fx.yearFolder() + "северная.orw").records.size(), 0);
}

TEST_F(WindowTest, TypeFormsRenameAndOrder) {
    TMTFs w;
    w.show();
    // Ф47 is a network form: not offered.
    EXPECT_EQ(w.formList()->count(), 2);
    QTreeWidgetItem *hospital = treeNodeWithId(w.typeTree(), ids::TypeHospital);
    w.typeTree()->setCurrentItem(hospital);
    w.formList()->item(0)->setCheckState(Qt::Unchecked);
    w.formList()->item(1)->setCheckState(Qt::Unchecked);
    w.saveTypeForms();
    EXPECT_TRUE(medtypes::formsOfType(ids::TypeHospital).isEmpty());
    // A group shows nothing ticked.
    w.typeTree()->setCurrentItem(treeNodeWithId(w.typeTree(), ids::TypeInpatient));
    EXPECT_EQ(w.formList()->item(0)->checkState(), Qt::Unchecked);

    // Renaming writes at once; a blank name is refused and the old one shown.
    hospital->setText(0, QStringLiteral("Больница \"общая\""));
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select type from medicaltypes where id=?", {ids::TypeHospital})
                  .toString(), QStringLiteral("Больница \"общая\""));
    hospital->setText(0, "  ");
    EXPECT_EQ(hospital->text(0), QStringLiteral("Больница \"общая\""));

    // Ordering: only among siblings.
    w.setOrderingMode(true);
    QTreeWidgetItem *dispensary = treeNodeWithId(w.typeTree(), ids::TypeDispensary);
    EXPECT_FALSE(medtypes::moveTypeBefore(w.typeTree(), dispensary, treeNodeWithId(w.typeTree(), ids::TypePolyclinic)));
    EXPECT_TRUE(medtypes::moveTypeBefore(w.typeTree(), dispensary, hospital));
    w.saveTypeOrder();
    EXPECT_FALSE(w.orderingMode());
    const auto ind = [](int id) {
        return db::scalar(db::connection(db::kMain), "select ind from medicaltypes where id=?", {id}).toInt();
    };
    EXPECT_EQ(ind(ids::TypeDispensary), 0);
    EXPECT_EQ(ind(ids::TypeHospital), 1);
}

TEST_F(WindowTest, TypeListMarksBranchesAndBuildsTheInstitutionList) {
    TMTList w(testWork());
    // Nothing marked: the message, and the window opens all the same, over
    // no institution yet.
    w.openBreakdowns();
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Необходимо выбрать тип или группу типов учреждений!")));
    EXPECT_EQ(dialogs.modalTitles, QStringList{QStringLiteral("Типы учреждений")});
    QStringList openedBefore;
    setIndicatorTreeOpener([&](QWidget *, const QString &caption, const WorkContext &work) {
        openedBefore << caption << work.includeList;
    });
    w.showIndicators();
    EXPECT_EQ(openedBefore, (QStringList{QStringLiteral("Типы учреждений"), QString()}));
    dialogs.messages.clear();

    // Marking a group includes the institutions of its leaf types.
    QTreeWidgetItem *inpatient = treeNodeWithId(w.typeTree(), ids::TypeInpatient);
    w.typeTree()->setCurrentItem(inpatient);
    w.switchType(inpatient);
    dialogs.modals.push_back([](QDialog *d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Стационары"));
        EXPECT_EQ(qobject_cast<TFormList *>(d)->tree()->topLevelItemCount(), 2);
        return int(QDialog::Rejected);
    });
    w.openBreakdowns();

    // "Показатели" hands them on, captioned with the selected type.
    QStringList opened, included;
    setIndicatorTreeOpener([&](QWidget *, const QString &caption, const WorkContext &work) {
        opened << caption << ValueTableName(work.table);
        included = work.includeList.split(',');
    });
    w.showIndicators();
    EXPECT_EQ(opened, (QStringList{QStringLiteral("Стационары"), QStringLiteral("data")}));
    included.sort();
    EXPECT_EQ(included, (QStringList{"12", "13", "15", "16", "5", "9"}));

    // Unmarked again: the message, and the window opens over the
    // institutions chosen before.
    w.switchType(inpatient);
    opened.clear();
    included.clear();
    w.showIndicators();
    setIndicatorTreeOpener({});
    EXPECT_TRUE(dialogs.sawMessage(QStringLiteral("Необходимо выбрать тип или группу типов учреждений!")));
    EXPECT_EQ(opened.value(0), QStringLiteral("Стационары"));
    included.sort();
    EXPECT_EQ(included, (QStringList{"12", "13", "15", "16", "5", "9"}));
}

TEST_F(WindowTest, DropPointsOnTheTreeMapToTheThreeDropCases) {
    TAdmForm w(TAdmForm::Mode::Structure, testWork());
    w.resize(600, 500);
    w.show();
    QApplication::processEvents();
    w.tree()->expandAll();
    QApplication::processEvents();
    TAdmTree *tree = w.tree();
    QTreeWidgetItem *south = treeNodeWithId(tree, ids::South);
    QTreeWidgetItem *fap = treeNodeWithId(tree, ids::FapLesnoy);
    QTreeWidgetItem *target = treeNodeWithId(tree, ids::SouthHospital);
    const QRect r = tree->visualItemRect(target);
    QTreeWidgetItem *hit = nullptr;
    EXPECT_EQ(tree->dropPlaceAt(r.center(), &hit), TreeDropPlace::Label);
    EXPECT_EQ(tree->dropPlaceAt(QPoint(r.left() - 3, r.center().y()), &hit), TreeDropPlace::Indent);
    EXPECT_EQ(tree->dropPlaceAt(QPoint(5, tree->viewport()->height() - 2), &hit), TreeDropPlace::Empty);

    // On the indent of a node of another district: moved before it, new parent stored.
    tree->setCurrentItem(fap);
    ASSERT_TRUE(tree->dropCurrentAt(QPoint(r.left() - 3, r.center().y())));
    EXPECT_EQ(fap->parent(), south);
    EXPECT_EQ(south->indexOfChild(fap), south->indexOfChild(target) - 1);
    EXPECT_EQ(adm("dependence", ids::FapLesnoy).toInt(), ids::South);
    w.hide();
}

TEST_F(WindowTest, DeletingAnInstitutionNamesTheReportsItLeaves) {
    TAdmForm w(TAdmForm::Mode::Structure, testWork());
    w.show();
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::FapLesnoy));
    dialogs.answers.push_back(true);
    w.removeUnit();
    EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Подразделение исключено из входящих учреждений отчетов: "
                                                      "Свод по области, Свод по Северному району, Сеть Ф47"));
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select include from reports where id=?", {ids::ReportNorth})
                  .toString(), "5,6,7,");
}
