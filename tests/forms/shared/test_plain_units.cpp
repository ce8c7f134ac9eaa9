// The territory's work on plain units, with no tree widget: the order, a moved unit's parent, a group unload of a unit
// among namesakes.
#include "test_adm_fixture.h"

#include "forms/shared/AdmFormLogic.h"
#include "forms/shared/TransferFiles.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

int storedOrder(const admtest::YearFixture &fx, qint64 id) {
    return db::scalar(fx.mainDb(), "select ind from administration where id=?", {id}).toInt();
}

qint64 storedParent(const admtest::YearFixture &fx, qint64 id) {
    return db::scalar(fx.mainDb(), "select dependence from administration where id=?", {id}).toLongLong();
}

} // namespace

// Every level gets the positions of its list; a unit deleted behind the window, however deep, refuses the whole
// order and names the unit, and a move onto a deleted parent stores nothing.
TEST(PlainUnits, OrderAndParentsAreStoredOrNotAtAll) {
    admtest::YearFixture fx;
    const QList<UnitNode> order{{"Город", fx.city, {{"Больница", fx.hospital, {}}}},
                                {"Район", fx.region, {{"Поликлиника №1", fx.poly, {}}, {"ЦРБ", fx.crb, {}}}}};
    adm::saveOrder(order);
    EXPECT_EQ(storedOrder(fx, fx.city), 0);
    EXPECT_EQ(storedOrder(fx, fx.region), 1);
    EXPECT_EQ(storedOrder(fx, fx.poly), 0);
    EXPECT_EQ(storedOrder(fx, fx.crb), 1);

    QList<UnitNode> gone = order;
    std::swap(gone[0], gone[1]);
    gone[0].children.append({QStringLiteral("ФАП \"Лесной\""), 9999, {}});
    try {
        adm::saveOrder(gone);
        ADD_FAILURE() << "an order with a deleted unit was stored";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("\"ФАП \"Лесной\"\" удалено в другом окне")))
            << e.message().toStdString();
    }
    EXPECT_EQ(storedOrder(fx, fx.city), 0);
    EXPECT_EQ(storedOrder(fx, fx.region), 1);

    EXPECT_THROW(adm::moveUnit(fx.crb, 9999), db::Error);
    EXPECT_EQ(storedParent(fx, fx.crb), fx.region);
    adm::moveUnit(fx.crb, 0);
    EXPECT_EQ(storedParent(fx, fx.crb), 0);
}

// A top-level district whose name another top-level unit shares without regard to case: its folder carries the
// mark that tells the two apart, as the stem of either says.
TEST(PlainUnits, GroupUnloadOfAUnitAmongNamesakes) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 0.1);
    const qint64 namesake = fx.unit(QStringLiteral("РАЙОН"), 0, -1, 2);
    const UnitBranch branch{{{QStringLiteral("Район"), fx.region, {{"ЦРБ", fx.crb, {}}, {"Поликлиника №1", fx.poly, {}}}},
                             {QStringLiteral("РАЙОН"), namesake, {}}},
                            0};
    const QString stem = transfer::unitStemOfNode(branch);
    EXPECT_EQ(stem, QStringLiteral("Район #%1").arg(fx.region));
    EXPECT_EQ(transfer::unitStemOfNode(UnitBranch{branch.siblings, 1}), QStringLiteral("РАЙОН #%1").arg(namesake));

    const QString data = fx.yearFolder + "data";
    const transfer::TreeWriteResult r = transfer::SaveHospTree(branch, data, QStringLiteral("Годовой"), 2026);
    EXPECT_EQ(r.files, 1);
    EXPECT_EQ(r.withoutValues, QStringList{QStringLiteral("Поликлиника №1")});
    EXPECT_EQ(r.writtenFiles, QStringList{data + "/" + stem + "/ЦРБ - Годовой - 2026.orw"});
    EXPECT_TRUE(QFileInfo::exists(r.writtenFiles.value(0)));

    // A branch that names no unit writes nothing.
    EXPECT_EQ(transfer::SaveHospTree(UnitBranch{branch.siblings, 2}, data, QStringLiteral("Годовой"), 2026).files, 0);
    EXPECT_EQ(transfer::SaveHospTree(UnitBranch{}, data, QStringLiteral("Годовой"), 2026).files, 0);
}
