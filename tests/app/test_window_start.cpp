// Windows fill themselves: made and shown, with nothing else called, each shows what it is for, so that an opener
// cannot show one empty by forgetting a step. Where the filling fails, the opener says why and shows no window.
#include "core/SampleConfig.h"
#include "forms/output/ShortNames.h"
#include "forms/structure/FormCatalog.h"
#include "forms/table/CalcRuleEditor.h"
#include "forms/territory/AdmForm.h"
#include "forms/territory/MedTypes.h"
#include "platform/Database.h"
#include "reports/GroupRecalc.h"
#include "reports/IndicatorWindows.h"
#include "reports/Members.h"
#include "reports/Population.h"
#include "reports/ReportList.h"
#include "reports/Summation.h"
#include "support/WindowTestBase.h"
#include "updates/UpdateGenerator.h"
#include "updates/UpdateSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <functional>
#include <memory>

namespace ids = sample::ids;

namespace {

struct StartingWindow {
    const char *name;
    std::function<QDialog *()> make;
    std::function<bool(QDialog *)> filled;
};

template <typename W>
W *as(QDialog *d) {
    return static_cast<W *>(d);
}

QList<StartingWindow> startingWindows() {
    const WorkContext types{ReportMode::Types, ValueTable::Data, false, 0, QStringLiteral("5,9")};
    return {
        {"сводные отчеты", [] { return new TRepList(testWork()); },
         [](QDialog *d) { return as<TRepList>(d)->list()->topLevelItemCount() > 0 && as<TRepList>(d)->currentId() > 0; }},
        {"групповой пересчет", [] { return new TForm7; },
         [](QDialog *d) { return as<TForm7>(d)->reportList()->count() == 4; }},
        {"суммирование подотчетов", [] { return new TFMerge; },
         [](QDialog *d) {
             return as<TFMerge>(d)->sourceList()->count() > 0 && as<TFMerge>(d)->receiverList()->count() > 0 &&
                    as<TFMerge>(d)->institutionTree()->topLevelItemCount() > 0;
         }},
        {"состав разрезов", [] { return new TRepCont(ids::ReportComposite, "Итоговый свод"); },
         [](QDialog *d) { return as<TRepCont>(d)->reportList()->count() == 3; }},
        {"население отчета", [] { return new TPopform(ids::ReportNorth, "Свод по Северному району"); },
         [](QDialog *d) { return as<TPopform>(d)->recordExists() && !as<TPopform>(d)->totalEdit()->text().isEmpty(); }},
        {"правило расчета", [] { return new TNTChar; },
         [](QDialog *d) { return as<TNTChar>(d)->typeTree()->topLevelItemCount() > 0; }},
        {"короткие названия", [] { return new TForm5; },
         [](QDialog *d) { return !as<TForm5>(d)->grid()->item(0, 0)->text().isEmpty(); }},
        {"таблицы формы", [] { return new TFTabs(ids::FormF30); },
         [](QDialog *d) { return as<TFTabs>(d)->list()->topLevelItemCount() == 2; }},
        {"перечень форм", [] { return new TFormL; },
         [](QDialog *d) { return as<TFormL>(d)->list()->topLevelItemCount() == 3; }},
        {"территория", [] { return new TAdmForm(TAdmForm::Mode::Input, testWork()); },
         [](QDialog *d) { return as<TAdmForm>(d)->tree()->currentItem() != nullptr; }},
        {"формы типов учреждений", [] { return new TMTFs; },
         [](QDialog *d) {
             return as<TMTFs>(d)->typeTree()->topLevelItemCount() > 0 && as<TMTFs>(d)->formList()->count() > 0;
         }},
        {"дерево показателей", [] { return new TMISetup(WorkContext{}); },
         [](QDialog *d) { return as<TMISetup>(d)->tree()->topLevelItemCount() > 0; }},
        {"показатели набора", [] { return new TMIForms(ids::SetStaffing); },
         [](QDialog *d) { return as<TMIForms>(d)->grid()->rowCount() > 1; }},
        {"просмотр показателей", [=] { return new TShowStat(types, ids::SetStaffing); },
         [](QDialog *d) { return as<TShowStat>(d)->grid()->rowCount() == 3; }},
        {"генератор обновлений", [] { return new TUpdateGeneratorForm(db::connection(db::kMain), 2024); },
         [](QDialog *d) {
             return as<TUpdateGeneratorForm>(d)->formList()->count() == 3 &&
                    as<TUpdateGeneratorForm>(d)->yearBox()->currentText() == "2024";
         }},
    };
}

using WindowStart = SampleTest;

TEST_F(WindowStart, EveryWindowMadeAndShownIsFilled) {
    for (const StartingWindow &w : startingWindows()) {
        SCOPED_TRACE(w.name);
        std::unique_ptr<QDialog> d(w.make());
        d->show();
        EXPECT_TRUE(w.filled(d.get()));
        d.reset();
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    }
    CloseUpdateLogger();
}

// A list that cannot be read opens no window: the opener says why instead.
TEST_F(WindowStart, AListThatCannotBeReadOpensNoWindow) {
    testWork().mode = ReportMode::Svod;
    const QList<std::pair<const char *, std::function<void()>>> openers{
        {"сводные отчеты", [] { openReportListSvod(nullptr, testWork()); }},
        {"групповой пересчет", [] { openGroupRecalc(nullptr); }},
    };
    db::exec(db::kMain, "drop table reports");
    for (const auto &[name, open] : openers) {
        SCOPED_TRACE(name);
        dialogs.messages.clear();
        open();
        EXPECT_TRUE(dialogs.modalTitles.isEmpty()) << dialogs.modalTitles.join('\n').toStdString();
        EXPECT_EQ(dialogs.messages.size(), 1);
    }
    db::exec(db::kMain, "drop table subreps");
    dialogs.messages.clear();
    openSubReportSummation(nullptr);
    EXPECT_TRUE(dialogs.modalTitles.isEmpty());
    EXPECT_EQ(dialogs.messages.size(), 1);
}

} // namespace
