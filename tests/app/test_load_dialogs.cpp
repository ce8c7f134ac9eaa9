// Every dialog that loads a transfer file starts in the folder the unloads write into, also before anything was
// unloaded there, and proposes a name that cannot lead it into another folder.
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "forms/shared/TransferFiles.h"
#include "forms/table/TableWindow.h"
#include "forms/territory/AdmForm.h"
#include "forms/tree/FormList.h"
#include "reports/ReportList.h"
#include "support/SourceScan.h"
#include "support/TableWindowSetup.h"
#include "support/WindowTestBase.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <functional>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

struct LoadDialog {
    const char *name;
    std::function<QString()> folder;   // where the dialog must start
    std::function<void()> run;         // the command, cancelled in its dialog
};

struct LoadDialogsTest : InputWindowTest {
    QString yearData() const { return shared().yearFolder() + "data/"; }

    QList<LoadDialog> dialogsOfLoads() {
        const auto adm = [this](const std::function<void(TAdmForm &)> &command) {
            return [this, command] {
                TAdmForm w(TAdmForm::Mode::Input, testWork());
                w.show();
                w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::NorthHospital));
                command(w);
            };
        };
        const auto tree = [this](bool tableNode, const std::function<void(TFormList &)> &command) {
            return [this, tableNode, command] {
                testWork().institution = ids::NorthHospital;
                TFormList w(testWork());
                w.setWindowTitle("Ввод: Северная ЦРБ");
                ASSERT_TRUE(w.Start(ids::TypeHospital));
                QTreeWidgetItem *form = w.tree()->topLevelItem(0);
                w.tree()->setCurrentItem(tableNode ? form->child(0) : form);
                command(w);
            };
        };
        return {
            {"территория: одно учреждение", [this] { return yearData(); },
             adm([](TAdmForm &w) { w.loadInstitution(); })},
            {"территория: группа", [this] { return yearData(); }, adm([](TAdmForm &w) { w.loadGroup(); })},
            {"территория: справка по входным файлам", [this] { return yearData(); },
             adm([](TAdmForm &w) { w.reportByFiles(); })},
            {"дерево форм: подгрузить форму", [this] { return yearData(); },
             tree(false, [](TFormList &w) { w.loadForm(); })},
            {"дерево форм: групповая подгрузка таблицы", [this] { return yearData(); },
             tree(true, [](TFormList &w) { w.loadTableForGroup(); })},
            {"таблица: из файла передачи", [this] { return yearData(); },
             [] {
                 auto w = showTableWindow(aimTableWindow(ids::NorthHospital, ids::FormF30, "Ф30", "(1000)",
                                                         ids::TableF30Staff));
                 w->setWindowTitle("Ввод: Северная ЦРБ");
                 w->loadFromFileCommand()->trigger();
             }},
            {"сводные отчеты: подгрузить", [] { return shared().ConfigPath + "data/"; },
             [this] {
                 TRepList w(testWork());
                 w.list()->setCurrentItem(w.list()->topLevelItem(0));
                 w.loadReportFile();
             }},
        };
    }
};

} // namespace

TEST_F(LoadDialogsTest, EveryLoadStartsInTheFolderTheUnloadsWriteInto) {
    // An institution whose name holds "/" would lead a name proposed as it is into a folder that is not there.
    db::exec(db::kMain, "update administration set unit='ГБУЗ г/о Северная ЦРБ' where id=?", {ids::NorthHospital});
    fx.reloadCaches();
    for (const LoadDialog &d : dialogsOfLoads()) {
        SCOPED_TRACE(d.name);
        const QString folder = d.folder();
        QDir(folder).removeRecursively();
        dialogs.openFolders.clear();
        d.run();
        ASSERT_EQ(dialogs.openFolders.size(), 1) << dialogs.messages.join('\n').toStdString();
        const QString start = dialogs.openFolders[0];
        EXPECT_TRUE(QFileInfo(folder).isDir());
        EXPECT_TRUE(start.startsWith(folder)) << start.toStdString();
        EXPECT_FALSE(start.mid(folder.size()).contains(u'/')) << start.toStdString();
    }
}

// The one institution's load proposes the file its unload wrote.
TEST_F(LoadDialogsTest, OneInstitutionsLoadProposesTheFileItsUnloadWrote) {
    TAdmForm w(TAdmForm::Mode::Input, testWork());
    w.show();
    w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::NorthHospital));
    dialogs.files.push_back(QString());
    w.unloadInstitution();
    ASSERT_EQ(dialogs.savePaths.size(), 1);
    const QString unloaded = dialogs.savePaths[0];
    dialogs.files.push_back(unloaded);
    w.unloadInstitution();
    ASSERT_TRUE(QFileInfo::exists(unloaded));
    w.loadInstitution();
    EXPECT_EQ(dialogs.openFolders, QStringList{unloaded});
}

// Every dialog that loads from a "data" folder or offers transfer files (*.orw, *.orv, *.rpd, *.rps) starts where
// loadDialogStart says.
TEST(LoadDialogsScan, EveryTransferFileDialogStartsThroughTheOneHelper) {
    const QRegularExpression call(QStringLiteral(R"(dialogs\(\)\.open(File|Files)\(([^;]*);)"));
    const QRegularExpression loadKind(QStringLiteral(R"(data|\*\.(orw|orv|rpd|rps))"));
    QStringList offenders;
    int seen = 0;
    for (const auto &[path, text] : productSources({"*.cpp"}).asKeyValueRange())
        for (auto it = call.globalMatch(text); it.hasNext();) {
            const QString c = it.next().captured(2);
            if (!c.contains(loadKind)) continue;
            ++seen;
            if (!c.contains(QStringLiteral("loadDialogStart("))) offenders << path;
        }
    EXPECT_GE(seen, 7);
    EXPECT_TRUE(offenders.isEmpty()) << offenders.join('\n').toStdString();
}
