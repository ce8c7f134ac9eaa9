// The territory tree: building it, leaf lists, units with population, moves, order, deletion and group loads.
#include "test_adm_fixture.h"

#include "engine/ProgressSink.h"
#include "core/TreeMarking.h"
#include "forms/shared/AdmFormLogic.h"
#include "engine/Caches.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace adm;

namespace {

QTreeWidgetItem *find(QTreeWidget &tree, qint64 id) {
    for (QTreeWidgetItem *n : TreeNodesInOrder(&tree))
        if (TreeNodeId(n) == id) return n;
    return nullptr;
}

QStringList shape(QTreeWidget &tree) {
    QStringList out;
    for (QTreeWidgetItem *n : TreeNodesInOrder(&tree)) {
        int depth = 0;
        for (auto *p = n->parent(); p; p = p->parent()) ++depth;
        out.append(QString(depth, QLatin1Char('.')) + n->text(0));
    }
    return out;
}

qint64 storedParent(qint64 id) {
    return db::scalar(db::connection(db::kMain), "select dependence from administration where id=?", {id}).toLongLong();
}

} // namespace

TEST(AdmTree, BuildMarksAndLeafLists) {
    admtest::YearFixture fx;
    QTreeWidget tree;
    FillAdminTree(&tree, 0);
    EXPECT_EQ(shape(tree), (QStringList{"Район", ".ЦРБ", ".Поликлиника №1", "Город", ".Больница"}));
    EXPECT_EQ(TreeNodeAbsoluteIndex(find(tree, fx.hospital)), 4);
    for (const StructNode &unit : shared().Caches.structure)
        if (unit.id == fx.poly) EXPECT_EQ(unit.treeIndex, 2);
    EXPECT_EQ(TreeLeafIds(find(tree, fx.region)), (QList<qint64>{fx.crb, fx.poly}));
    EXPECT_EQ(TreeLeafIds(find(tree, fx.crb)), QList<qint64>{fx.crb});

    // Marking a leaf marks its ancestors; unmarking the last marked child clears them.
    QTreeWidgetItem *crb = find(tree, fx.crb), *poly = find(tree, fx.poly), *region = find(tree, fx.region);
    CheckTreeBranch(crb);
    EXPECT_TRUE(IsTreeNodeMarked(region));
    CheckTreeBranch(poly);
    UncheckTreeBranch(crb);
    EXPECT_TRUE(IsTreeNodeMarked(region));
    UncheckTreeBranch(poly);
    EXPECT_FALSE(IsTreeNodeMarked(region));
    CheckTreeBranch(region);
    EXPECT_TRUE(IsTreeNodeMarked(crb) && IsTreeNodeMarked(poly));
}

TEST(AdmTree, UnitsAndPopulations) {
    admtest::YearFixture fx;
    const qint64 id = addUnit(fx.region, UnitInfo{QStringLiteral("ФАП \"Лесной\" д'Ор"), -1, true});
    UnitInfo u = readUnit(id);
    EXPECT_EQ(u.name, QStringLiteral("ФАП \"Лесной\" д'Ор"));   // quotes of both kinds survive
    EXPECT_EQ(u.medicalType, -1);
    EXPECT_TRUE(u.country);
    EXPECT_EQ(db::scalar(fx.mainDb(), "select ind from administration where id=?", {id}).toInt(), 9999);
    EXPECT_EQ(childIds(fx.region), (QList<qint64>{fx.crb, fx.poly, id}));

    EXPECT_FALSE(readPopulation(fx.crb, 2026).has_value());
    saveUnit(fx.crb, UnitInfo{"ЦРБ-2", fx.typeHosp, false}, Population{"100", "70", "10", "20"}, 2026);
    saveUnit(fx.poly, UnitInfo{"Поликлиника №1", fx.typePoly, false}, Population{"50", "30", "5", "15"}, 2026);
    saveUnit(fx.crb, UnitInfo{"ЦРБ-2", fx.typeHosp, false}, Population{"110", "70", "10", "30"}, 2026);   // update
    EXPECT_EQ(db::scalar(fx.mainDb(), "select count(*) from populations1 where unit=?", {fx.crb}).toInt(), 1);
    const Population sum = sumPopulation(childIds(fx.region), 2026);
    EXPECT_EQ(sum.common, "160");
    EXPECT_EQ(sum.childs, "45");
    EXPECT_TRUE(sumPopulation({fx.hospital}, 2026).common.isEmpty());

    // A blank or wrong population field saves nothing at all.
    for (const Population &bad : {Population{"1", "", "1", "1"}, Population{"1", "2", "x", "1"},
                                  Population{"123456789", "1", "1", "1"}}) {
        try {
            saveUnit(fx.crb, UnitInfo{"Другое имя", -1, true}, bad, 2026);
            ADD_FAILURE() << "saved";
        } catch (const db::Error &e) {
            EXPECT_FALSE(e.message().isEmpty());
        }
    }
    EXPECT_EQ(readUnit(fx.crb).name, "ЦРБ-2");
    EXPECT_EQ(readPopulation(fx.crb, 2026)->common, "110");
    EXPECT_THROW(addUnit(0, UnitInfo{"  ", -1, false}), db::Error);
    // A line break or NUL cannot travel in a file name or a line of a file.
    for (const QString &name : {QStringLiteral("ЦРБ\nфилиал"), QStringLiteral("ЦРБ\r"), QStringLiteral("Ц") + QChar(0)}) {
        EXPECT_THROW(addUnit(0, UnitInfo{name, -1, false}), db::Error);
        EXPECT_THROW(saveUnit(fx.crb, UnitInfo{name, -1, false}, std::nullopt, 2026), db::Error);
    }
    EXPECT_EQ(readUnit(fx.crb).name, "ЦРБ-2");
}

TEST(AdmTree, DropCasesAndOrder) {
    admtest::YearFixture fx;
    QTreeWidget tree;
    FillAdminTree(&tree, 0);
    QTreeWidgetItem *region = find(tree, fx.region), *crb = find(tree, fx.crb), *city = find(tree, fx.city),
                    *hospital = find(tree, fx.hospital), *poly = find(tree, fx.poly);

    // Onto a label: last child of that node, parent stored.
    EXPECT_TRUE(MoveTreeNode(&tree, crb, city, TreeDropPlace::Label, moveUnit));
    EXPECT_EQ(shape(tree), (QStringList{"Район", ".Поликлиника №1", "Город", ".Больница", ".ЦРБ"}));
    EXPECT_EQ(storedParent(fx.crb), fx.city);
    // Onto an indent of a node of another parent: before it, new parent stored too.
    EXPECT_TRUE(MoveTreeNode(&tree, poly, hospital, TreeDropPlace::Indent, moveUnit));
    EXPECT_EQ(shape(tree), (QStringList{"Район", "Город", ".Поликлиника №1", ".Больница", ".ЦРБ"}));
    EXPECT_EQ(storedParent(fx.poly), fx.city);
    // Onto empty space: end of the top level, parent 0.
    EXPECT_TRUE(MoveTreeNode(&tree, hospital, nullptr, TreeDropPlace::Empty, moveUnit));
    EXPECT_EQ(storedParent(fx.hospital), 0);
    // Onto itself or its own descendant: refused, nothing changes.
    const QStringList before = shape(tree);
    EXPECT_FALSE(MoveTreeNode(&tree, city, crb, TreeDropPlace::Label, moveUnit));
    EXPECT_FALSE(MoveTreeNode(&tree, city, city, TreeDropPlace::Indent, moveUnit));
    EXPECT_EQ(shape(tree), before);
    EXPECT_EQ(storedParent(fx.city), 0);

    saveOrder(TreeUnitNodes(&tree));
    caches::GetStruct();
    QTreeWidget again;
    FillAdminTree(&again, 0);
    EXPECT_EQ(shape(again), shape(tree));
    EXPECT_EQ(db::scalar(fx.mainDb(), "select ind from administration where id=?", {fx.crb}).toInt(), 1);
    Q_UNUSED(region);
}

TEST(AdmTree, DeleteRemovesTheValuesOfTheYear) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    fx.value(fx.crb, fx.t30a, 3, 4, 1, 2025);
    fx.value(fx.poly, fx.t30a, 3, 4, 1);
    saveUnit(fx.crb, readUnit(fx.crb), Population{"1", "1", "0", "0"}, 2026);
    EXPECT_THROW(deleteUnit(fx.region, 2026), db::Error);   // has children
    deleteUnit(fx.crb, 2026);
    EXPECT_EQ(fx.values().size(), 2);
    EXPECT_FALSE(fx.values().contains(QStringLiteral("%1|%2|3|4=1@2026").arg(fx.crb).arg(fx.t30a)));
    EXPECT_EQ(medicalTypeOf(fx.crb), -1);
    EXPECT_TRUE(readPopulation(fx.crb, 2026).has_value());
}

// The question before a group load names, per institution, the forms its file
// would empty, read as the load reads it: files of no institution and files
// the load refuses are left out; nothing is written.
TEST(AdmTree, GroupLoadQuestionNamesWhatEachFileEmpties) {
    admtest::YearFixture fx;
    const auto line = [](const char *v, const char *form) {
        return transfer::formatRecord(v, "2026", QString::fromUtf8(form), "(1000)", 3, 4);
    };
    fx.value(fx.crb, fx.t12, 3, 3, 0.1);
    fx.value(fx.hospital, fx.t12, 3, 3, -0.3);
    fx.value(fx.hospital, fx.t30a, 3, 4, 0.2);
    fx.value(fx.poly, fx.t12, 3, 3, 10.1);
    const QString a = fx.dir.path() + "/ЦРБ - Годовой - 2026.orw";
    const QString b = fx.dir.path() + "/Неизвестная - Годовой - 2026.orw";
    const QString c = fx.dir.path() + "/Больница - Годовой - 2026.orw";
    const QString broken = fx.dir.path() + "/Поликлиника №1 - Годовой - 2026.orw";
    ASSERT_TRUE(cp1251::writeLines(a, {line("1", "Ф30")}));
    ASSERT_TRUE(cp1251::writeLines(b, {line("2", "Ф30")}));
    ASSERT_TRUE(cp1251::writeLines(c, {line("3", "ф30")}));
    ASSERT_TRUE(cp1251::writeLines(broken, {line("4", "Ф30"), "\"1\",\"2026\""}));
    const auto before = fx.values();
    QList<int> seen;
    const QList<transfer::Emptied> emptied =
        formsEmptiedByUnitFiles({a, b, broken, c}, QString(), false, [&](int i, const QString &) { seen.append(i); });
    EXPECT_EQ(seen, (QList<int>{0, 1, 2, 3}));
    ASSERT_EQ(emptied.size(), 2);
    EXPECT_EQ(emptied[0].target, QStringLiteral("Район / ЦРБ"));
    EXPECT_EQ(emptied[0].forms, QStringList{QStringLiteral("Ф12")});
    EXPECT_EQ(emptied[1].target, QStringLiteral("Город / Больница"));
    EXPECT_EQ(emptied[1].forms, QStringList{QStringLiteral("Ф12")});
    EXPECT_EQ(fx.values(), before);
    // Only the chosen form cleared: nothing else is emptied.
    EXPECT_TRUE(formsEmptiedByUnitFiles({a, c}, QStringLiteral("Ф30"), true).isEmpty());
    // "Отмена" between the files: the reads ahead of it end, nothing is written.
    EXPECT_THROW(formsEmptiedByUnitFiles({a, b, broken, c}, QString(), false,
                                         [&](int i, const QString &) {
                                             if (i == 1) throw Cancelled();
                                         }),
                 Cancelled);
    EXPECT_EQ(fx.values(), before);

    // The load takes what the question found for each institution instead
    // of looking again, and says it in its closing note.
    EmptiedOfUnit ofUnit;
    const QList<transfer::Emptied> asked = formsEmptiedByUnitFiles({a, b, broken, c}, QString(), false, {}, &ofUnit);
    EXPECT_EQ(ofUnit.size(), 2);
    EXPECT_EQ(ofUnit.value(fx.crb), QStringList{QStringLiteral("Ф12")});
    EXPECT_EQ(ofUnit.value(fx.hospital), QStringList{QStringLiteral("Ф12")});
    const GroupLoadResult loaded = loadUnitFiles({a, b, broken, c}, QString(), false, {}, {}, &ofUnit);
    EXPECT_EQ(loaded.loaded, 2);
    ASSERT_EQ(loaded.emptied.size(), asked.size());
    for (qsizetype i = 0; i < asked.size(); ++i) {
        EXPECT_EQ(loaded.emptied[i].target, asked[i].target);
        EXPECT_EQ(loaded.emptied[i].forms, asked[i].forms);
    }
    const auto after = fx.values();
    EXPECT_TRUE(after.contains(QStringLiteral("%1|%2|3|4=1@2026").arg(fx.crb).arg(fx.t30a)));
    EXPECT_TRUE(after.contains(QStringLiteral("%1|%2|3|3=10.1@2026").arg(fx.poly).arg(fx.t12)));
    EXPECT_FALSE(after.contains(QStringLiteral("%1|%2|3|3=0.1@2026").arg(fx.crb).arg(fx.t12)));
    EXPECT_FALSE(after.contains(QStringLiteral("%1|%2|3|3=-0.3@2026").arg(fx.hospital).arg(fx.t12)));
    // What it is given is what it says, by institution: nothing is looked up again.
    const EmptiedOfUnit given{{fx.crb, {QStringLiteral("Ф99")}}};
    const GroupLoadResult again = loadUnitFiles({a, c}, QString(), false, {}, {}, &given);
    ASSERT_EQ(again.emptied.size(), 1);
    EXPECT_EQ(again.emptied[0].target, QStringLiteral("Район / ЦРБ"));
    EXPECT_EQ(again.emptied[0].forms, QStringList{QStringLiteral("Ф99")});
    EXPECT_EQ(fx.values(), after);
}

TEST(AdmTree, GroupLoadListsUnknownUnitsAndGoesOn) {
    admtest::YearFixture fx;
    const auto line = [](const char *v) { return transfer::formatRecord(v, "2026", "Ф30", "(1000)", 3, 4); };
    const QString a = fx.dir.path() + "/ЦРБ - Годовой - 2026.orw";
    const QString b = fx.dir.path() + "/Неизвестная - Годовой - 2026.orw";
    const QString c = fx.dir.path() + "/Больница - Годовой - 2026.orw";
    const QString broken = fx.dir.path() + "/Поликлиника №1 - Годовой - 2026.orw";
    ASSERT_TRUE(cp1251::writeLines(a, {line("1")}));
    ASSERT_TRUE(cp1251::writeLines(b, {line("2")}));
    ASSERT_TRUE(cp1251::writeLines(c, {line("3")}));
    ASSERT_TRUE(cp1251::writeLines(broken, {"\"1\",\"2026\""}));
    QStringList seen;
    const GroupLoadResult r = loadUnitFiles({a, b, broken, c}, QString(), false,
                                            [&](int, const QString &n) { seen.append(n); });
    EXPECT_EQ(r.loaded, 2);
    EXPECT_EQ(r.missingUnits, QStringList{QStringLiteral("Неизвестная")});
    ASSERT_EQ(r.failures.size(), 1);
    EXPECT_TRUE(r.failures[0].contains(QStringLiteral("поврежден")));
    EXPECT_EQ(fx.values().size(), 2);
    EXPECT_EQ(seen.first(), QStringLiteral("ЦРБ"));

    // "Отмена" before the third file: the two loaded before it go back too.
    const auto before = fx.values();
    ASSERT_TRUE(cp1251::writeLines(a, {line("10.1")}));
    EXPECT_THROW(loadUnitFiles({a, c, b}, QString(), false, [&](int i, const QString &) {
                                   if (i == 2) throw Cancelled();
                               }), Cancelled);
    EXPECT_EQ(fx.values(), before);
    // "Отмена" answered after the last file: the group is not committed, and
    // nothing of it stays.
    EXPECT_THROW(loadUnitFiles({a, c, b}, QString(), false, [&](int i, const QString &) {
                                   if (i == 3) throw Cancelled();
                               }), Cancelled);
    EXPECT_EQ(fx.values(), before);
    // "Отмена" while a file is written, and a write the database refuses
    // halfway through a file: the files written before go back too.
    ASSERT_TRUE(cp1251::writeLines(c, {line("3"), transfer::formatRecord("666", "2026", "Ф30", "(1000)", 4, 4)}));
    EXPECT_THROW(loadUnitFiles({a, c}, QString(), false, {},
                               [&](int done, int total) {
                                   if (total == 2 && done == total) throw Cancelled();   // the second file
                               }), Cancelled);
    EXPECT_EQ(fx.values(), before);
    db::exec(fx.dataDb(), "create trigger refuse before insert on data when new.data = 666 "
                          "begin select raise(abort, 'refused'); end");
    try {
        loadUnitFiles({a, c}, QString(), false);
        ADD_FAILURE() << "a failed write was taken for a load";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("данные не изменены"))) << e.message().toStdString();
    }
    EXPECT_EQ(fx.values(), before);
}

TEST(AdmTree, FormChoiceForGroupLoads) {
    admtest::YearFixture fx;
    // Order of the cached forms: Ф30, ф12, Ф47.
    EXPECT_EQ(formChoiceTicks(QStringLiteral("ф12,Ф47")), (QList<bool>{false, true, true}));
    EXPECT_EQ(formChoiceResult({true, true, false}, false), QStringLiteral("Ф30,Ф12"));
    EXPECT_EQ(formChoiceResult({true, true, false}, true), QString());

    // A form whose name holds a comma is chosen and loaded whole.
    const qint64 f12 = fx.form(QStringLiteral("Ф1,2"), QStringLiteral("С запятой"), 4, false);
    const qint64 t = fx.table(f12, QStringLiteral("(1000)"), QStringLiteral("Т"), 5, 5, 1, 1);
    fx.assign(fx.typeHosp, f12);
    caches::reloadAll();
    EXPECT_EQ(formChoiceTicks(QStringLiteral("Ф30,ф1,2")), (QList<bool>{true, false, false, true}));
    EXPECT_EQ(formChoiceResult({false, false, false, true}, false), QStringLiteral("Ф1,2"));
    const QString file = fx.dir.path() + "/ЦРБ.orw";
    ASSERT_TRUE(cp1251::writeLines(file, {transfer::formatRecord("10.1", "2026", "Ф1,2", "(1000)", 3, 3),
                                          transfer::formatRecord("5", "2026", "Ф30", "(1000)", 3, 4)}));
    EXPECT_EQ(transfer::LoadUnitInfo(fx.crb, file, QStringLiteral("Ф1,2"), true).inserted, 1);
    EXPECT_EQ(fx.values(), QStringList{QStringLiteral("%1|%2|3|3=10.1@2026").arg(fx.crb).arg(t)});
}

TEST(AdmTree, DeleteTakesTheUnitOutOfEveryReportInOneTransaction) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    const QSqlDatabase m = fx.mainDb();
    const auto include = [&](qint64 report) {
        return db::scalar(m, "select include from reports where id=?", {report}).toString();
    };
    for (const auto &[id, name, list] :
         {std::tuple{71, "Свод А", QStringLiteral("%1,%2,").arg(fx.crb).arg(fx.poly)},
          {72, "Свод \"Б\"", QStringLiteral("%1,").arg(fx.crb)}, {73, "Свод В", QStringLiteral("%1,").arg(fx.poly)},
          {74, "Свод Г", QStringLiteral("1%1,").arg(fx.crb)}})
        db::exec(m, "insert into reports (id, report, include, net) values (?, ?, ?, 0)", {id, name, list});
    // A failure in the main database keeps the values, the unit and every list.
    db::exec(m, "create trigger refuse before delete on administration begin select raise(abort, 'нет'); end");
    EXPECT_THROW(deleteUnit(fx.crb, 2026), db::Error);
    EXPECT_EQ(fx.values().size(), 1);
    EXPECT_EQ(include(72), QStringLiteral("%1,").arg(fx.crb));
    EXPECT_NE(medicalTypeOf(fx.crb), -1);
    db::exec(m, "drop trigger refuse");

    EXPECT_EQ(deleteUnit(fx.crb, 2026), (QStringList{"Свод А", "Свод \"Б\""}));
    EXPECT_EQ(include(71), QStringLiteral("%1,").arg(fx.poly));
    EXPECT_EQ(include(72), QString());
    EXPECT_EQ(include(73), QStringLiteral("%1,").arg(fx.poly));
    EXPECT_EQ(include(74), QStringLiteral("1%1,").arg(fx.crb));   // another id that begins alike
    EXPECT_TRUE(fx.values().isEmpty());
}
