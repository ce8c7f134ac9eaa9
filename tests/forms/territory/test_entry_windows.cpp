// The dialogs check what was typed with the text entry gate before they close: the refusal names the field and the
// character, the dialog stays open with the text in it. A rename in a tree that the gate refuses says so and shows the
// stored name again; nothing ends the program.
#include "forms/territory/AdmForm.h"
#include "forms/table/CalcRuleEditor.h"
#include "forms/structure/FormCatalog.h"
#include "forms/territory/MedTypes.h"
#include "forms/territory/MedTypesLogic.h"
#include "forms/table/StructureEditDialog.h"
#include "platform/Database.h"
#include "widgets/SumRepF.h"
#include "support/WindowTestBase.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace ids = sample::ids;

using EntryWindows = SampleTest;

TEST_F(EntryWindows, TypeRenamedWithACharacterOutside1251IsRefusedAndTheProgramGoesOn) {
    TMTFs w;
    w.show();
    QTreeWidgetItem *hospital = treeNodeWithId(w.typeTree(), ids::TypeHospital);
    const QString before = hospital->text(0);
    const std::pair<QString, QString> typedAndNamed[] = {{QStringLiteral("Больница α"), QStringLiteral("\"α\"")},
                                                         {QStringLiteral("Больница \u2212 1"), QStringLiteral("U+2212")}};
    for (const auto &[typed, named] : typedAndNamed) {
        dialogs.messages.clear();
        hospital->setText(0, typed);
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_TRUE(dialogs.messages[0].contains(named)) << dialogs.messages[0].toStdString();
        EXPECT_EQ(hospital->text(0), before);
        EXPECT_EQ(medtypes::typeName(ids::TypeHospital), before);
    }
}

TEST_F(EntryWindows, DialogsRefuseBeforeTheyCloseAndKeepWhatWasTyped) {
    {
        TUntChar unit;
        unit.nameEdit()->setText(QStringLiteral("ФАП α"));
        unit.accept();
        EXPECT_NE(unit.result(), int(QDialog::Accepted));
        EXPECT_EQ(unit.nameEdit()->text(), QStringLiteral("ФАП α"));
    }
    {
        TFChar form(nullptr, 0);
        form.nameEdit()->setText(QStringLiteral("Ф99"));
        form.descriptionEdit()->setText(QStringLiteral("Площадь, м²"));
        form.okButton()->click();
        EXPECT_NE(form.result(), int(QDialog::Accepted));
        EXPECT_EQ(form.descriptionEdit()->text(), QStringLiteral("Площадь, м²"));
    }
    {
        TTitles title;
        title.fontBox()->setCurrentIndex(0);
        title.textEdit()->setPlainText(QStringLiteral("Число ≥ 1"));
        title.okButton()->click();
        EXPECT_NE(title.result(), int(QDialog::Accepted));
        EXPECT_EQ(title.textEdit()->toPlainText(), QStringLiteral("Число ≥ 1"));
    }
    {
        TNTChar rule;
        rule.divisorEdit()->setText(QStringLiteral("-"));
        rule.okButton()->click();
        EXPECT_NE(rule.result(), int(QDialog::Accepted));
        EXPECT_EQ(rule.divisorEdit()->text(), QStringLiteral("-"));
    }
    ASSERT_EQ(dialogs.messages.size(), 4) << dialogs.messages.join(u'\n').toStdString();
    EXPECT_TRUE(dialogs.messages[0].contains("Наименование подразделения") && dialogs.messages[0].contains("\"α\""));
    EXPECT_TRUE(dialogs.messages[1].contains("Содержание") && dialogs.messages[1].contains("\"²\""));
    EXPECT_TRUE(dialogs.messages[2].contains("Текст заголовка") && dialogs.messages[2].contains("\"≥\""));
    EXPECT_TRUE(dialogs.messages[3].contains("Делитель \"-\""));
}

TEST_F(EntryWindows, ReportNameDialogRefusesBeforeItCloses) {
    TSumRepF dlg;
    dlg.setName(QStringLiteral("Свод 😀"));
    dlg.okButton()->click();
    EXPECT_NE(dlg.result(), int(QDialog::Accepted));
    EXPECT_EQ(dlg.name(), QStringLiteral("Свод 😀"));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Наименование") && dialogs.messages[0].contains("U+1F600"))
        << dialogs.messages[0].toStdString();
}
