// The longest form name the catalogue takes still names every file the program writes after it, through the
// checked writer's temporary name: the print mapping a table rename rewrites and the package files of an update.
#include "core/SampleConfig.h"
#include "engine/CatalogGate.h"
#include "forms/structure/FormCatalogLogic.h"
#include "platform/Codepage.h"
#include "support/WindowTestBase.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ids = sample::ids;

TEST_F(InputWindowTest, LongestFormNameTheCatalogueTakesNamesEveryFileWrittenAfterIt) {
    QString name = QStringLiteral("Ф");
    while (gate::formNameFault(name + u'ж').isEmpty()) name += u'ж';
    ASSERT_GT(name.size(), 100);
    catalog::updateForm(ids::FormF30, name, "x", false);
    const QString forms = fx.yearFolder() + "forms/";
    ASSERT_TRUE(QFileInfo::exists(forms + name + ".txt"));
    try {
        catalog::updateTable(ids::TableF30Staff, "(1000а)", "Штаты", false, 0);
    } catch (const std::exception &e) {
        ADD_FAILURE() << e.what();
    }
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(forms + name + ".txt", lines));
    EXPECT_EQ(lines, QStringList{"1,4,4,[(1000а)],4,1,7,5"});
    // The update package's and its backup's longest file named after the form.
    QTemporaryDir dir;
    QString why;
    EXPECT_TRUE(cp1251::writeLines(dir.filePath("controls_" + name + ".orv"), {"x"}, &why)) << why.toStdString();
}
