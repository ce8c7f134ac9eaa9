// The catalogue windows driven through their handlers, dialogs scripted.
#include "core/AdminMode.h"
#include "core/SampleConfig.h"
#include "forms/structure/FormCatalog.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/office/Show.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

struct CatalogWindowTest : ::testing::Test {
    SampleFixture fx;
    FakeDialogs dialogs;
    QSqlDatabase mainDb() { return db::connection(db::kMain); }
    qint64 count(const QString &sql, const QVariantList &p = {}) { return db::scalar(mainDb(), sql, p).toLongLong(); }
    QStringList captions(QTreeWidget *list, int column = 0) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(column);
        return out;
    }
    void select(QTreeWidget *list, const QString &caption) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == caption) list->setCurrentItem(list->topLevelItem(i));
    }
};

} // namespace

TEST_F(CatalogWindowTest, ListFilledOnceAndFormsAddedEditedDeleted) {
    TFormL w;
    w.show();
    EXPECT_TRUE(w.isFilled());
    EXPECT_EQ(captions(w.list()), (QStringList{"Ф30", "Ф14", "Ф47"}));
    EXPECT_EQ(captions(w.list(), 2), (QStringList{"Нет", "Нет", "Да"}));
    EXPECT_EQ(w.list()->currentItem()->text(0), QStringLiteral("Ф30"));

    // An empty name is refused; then the form is added.
    dialogs.modals.push_back([&](QDialog *d) {
        auto *c = static_cast<TFChar *>(d);
        c->acceptForm();
        EXPECT_EQ(c->result(), 0);
        c->nameEdit()->setText("Ф12");
        // A "#" would cut the description in a structure file: refused, the dialog stays open with the typed texts.
        c->descriptionEdit()->setText("Сведения #1");
        c->acceptForm();
        EXPECT_EQ(c->result(), 0);
        EXPECT_TRUE(dialogs.messages.last().contains("\"#\""));
        EXPECT_EQ(c->descriptionEdit()->text(), "Сведения #1");
        // A form name is a key: no ":" in it; a description keeps its ":".
        c->nameEdit()->setText("Ф:12");
        c->descriptionEdit()->setText("Сведения: \"о\" заболеваниях");
        c->acceptForm();
        EXPECT_EQ(c->result(), 0);
        EXPECT_TRUE(dialogs.messages.last().contains("\"Форма\" содержит символ \":\""));
        c->nameEdit()->setText("Ф12");
        c->netBox()->setChecked(true);
        c->acceptForm();
        return c->result();
    });
    w.addForm();
    EXPECT_EQ(dialogs.messages.value(0), QStringLiteral("Введите наименование формы!"));
    ASSERT_EQ(w.list()->currentItem()->text(0), QStringLiteral("Ф12"));
    EXPECT_EQ(w.list()->currentItem()->text(2), QStringLiteral("Да"));
    const qint64 id = w.list()->currentItem()->data(0, Qt::UserRole).toLongLong();
    EXPECT_EQ(db::scalar(mainDb(), "select decipher from forms where id=?", {id}).toString(),
              QStringLiteral("Сведения: \"о\" заболеваниях"));

    // Editing starts from the item's texts.
    dialogs.modals.push_back([&](QDialog *d) {
        auto *c = static_cast<TFChar *>(d);
        EXPECT_TRUE(c->netBox()->isChecked());
        c->nameEdit()->setText("Ф12н");
        c->netBox()->setChecked(false);
        return int(QDialog::Accepted);
    });
    w.editForm();
    EXPECT_EQ(w.list()->currentItem()->text(2), QStringLiteral("Нет"));
    EXPECT_EQ(db::scalar(mainDb(), "select formname from forms where id=?", {id}).toString(), QStringLiteral("Ф12н"));

    // Deleting asks first; No keeps the form.
    select(w.list(), "Ф14");
    dialogs.answers = {false, true};
    w.deleteForm();
    EXPECT_EQ(dialogs.questions.last(), QStringLiteral("Вы действительно хотите удалить всю информацию по форме Ф14"));
    EXPECT_EQ(count("select count(*) from forms where id=2"), 1);
    w.deleteForm();
    EXPECT_EQ(count("select count(*) from forms where id=2"), 0);
    EXPECT_EQ(count("select count(*) from tables where form=2"), 0);
    EXPECT_EQ(captions(w.list()), (QStringList{"Ф30", "Ф47", "Ф12н"}));
    EXPECT_EQ(w.list()->currentItem()->text(0), QStringLiteral("Ф30"));
}

TEST_F(CatalogWindowTest, DroppedRowsAreStoredOnlyOnRequest) {
    TFormL w;
    w.show();
    auto *list = w.list();
    EXPECT_FALSE(list->dropRowOn(list->topLevelItem(2), nullptr));   // below the last row
    EXPECT_TRUE(list->dropRowOn(list->topLevelItem(2), list->topLevelItem(0)));
    EXPECT_EQ(captions(list), (QStringList{"Ф47", "Ф30", "Ф14"}));
    EXPECT_EQ(list->currentItem()->text(0), QStringLiteral("Ф47"));
    EXPECT_EQ(list->currentItem()->text(2), QStringLiteral("Да"));
    EXPECT_EQ(count("select ind from forms where id=3"), 3);   // not stored yet
    w.saveOrder();
    EXPECT_EQ(count("select ind from forms where id=3"), 0);
    EXPECT_EQ(count("select ind from forms where id=2"), 2);
}

TEST_F(CatalogWindowTest, ExportAndImportThroughTheMenu) {
    TFormL w;
    w.show();
    const QString path = fx.root() + "ф30";
    dialogs.files.push_back(path);
    w.exportForm();
    EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Готово"));
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(path + ".frs", lines));

    // Without the table (2000) and under another description.
    lines[0] = QStringLiteral("Ф30#Новое описание#Нет");
    lines = lines.mid(0, lines.indexOf(QRegularExpression("^\\(2000\\).*")));
    ASSERT_TRUE(cp1251::writeLines(path + ".frs", lines));
    dialogs.files.push_back(path + ".frs");
    dialogs.answers = {true};
    w.importForm();
    ASSERT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(dialogs.questions[0].contains(QStringLiteral("  - (2000)\r\n")));
    EXPECT_EQ(count("select count(*) from tables where form=1"), 1);
    EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Готово"));
    EXPECT_EQ(w.list()->topLevelItem(0)->text(1), QStringLiteral("Новое описание"));
    // Both dialogs start in the documents folder, not the working folder.
    EXPECT_EQ(dialogs.savePaths, QStringList{office::documentsFolder() + QStringLiteral("Ф30.frs")});
    EXPECT_EQ(dialogs.openFolders, QStringList{office::documentsFolder()});

}

TEST_F(CatalogWindowTest, TablesEditedAndDeleted) {
    TFTabs t(ids::FormF30);
    t.show();
    EXPECT_EQ(captions(t.list()), (QStringList{"(1000)", "(2000)"}));

    t.list()->setCurrentItem(t.list()->topLevelItem(1));
    t.editTable();
    EXPECT_EQ(t.numberEdit()->text(), QStringLiteral("(2000)"));
    t.descriptionEdit()->setText("Посещения \"всего\"");
    t.floatBox()->setChecked(true);
    t.setRadioIndex(1);
    // A number without parentheses would be skipped by the structure reader:
    // refused, the group stays open with the typed values.
    t.numberEdit()->setText("2000");
    t.acceptTable();
    EXPECT_EQ(t.descriptionEdit()->text(), "Посещения \"всего\"");
    EXPECT_EQ(db::scalar(mainDb(), "select tablen from tables where ident=2").toString(), QStringLiteral("(2000)"));
    t.numberEdit()->setText("(2000)");
    t.acceptTable();
    EXPECT_EQ(t.list()->currentItem()->text(1), QStringLiteral("Посещения \"всего\""));
    EXPECT_EQ(t.list()->currentItem()->text(2), QStringLiteral("Да"));
    EXPECT_EQ(count("select scan from tables where ident=2"), 1);
    EXPECT_EQ(count("select floattype from tables where ident=2"), 1);

    // Cancel keeps the stored values.
    t.editTable();
    EXPECT_EQ(t.radioIndex(), 1);
    t.numberEdit()->setText("(9)");
    t.cancelEdit();
    EXPECT_EQ(db::scalar(mainDb(), "select tablen from tables where ident=2").toString(), QStringLiteral("(2000)"));

    dialogs.answers = {true};
    t.deleteTable();
    EXPECT_EQ(dialogs.questions.last(), QStringLiteral("Удалить таблицу (2000)?"));
    EXPECT_EQ(count("select count(*) from tables where ident=2"), 0);
    EXPECT_EQ(db::scalar(db::connection(db::kData), "select count(*) from data where \"table\"=2").toInt(), 0);
    EXPECT_EQ(captions(t.list()), (QStringList{"(1000)"}));
}

TEST_F(CatalogWindowTest, LeavingTheEditingGroupAsksToSave) {
    TFTabs t(ids::FormF30);
    t.show();
    t.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&t));
    t.list()->setCurrentItem(t.list()->topLevelItem(0));
    t.editTable();
    QApplication::processEvents();
    ASSERT_TRUE(t.numberEdit()->hasFocus());
    t.descriptionEdit()->setText("Штаты и должности");
    dialogs.answers = {true};
    t.list()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(dialogs.questions, QStringList{QStringLiteral("Сохранить изменения?")});
    EXPECT_EQ(db::scalar(mainDb(), "select name from tables where ident=1").toString(),
              QStringLiteral("Штаты и должности"));

    // Without a change nothing is asked; the group closes all the same.
    t.editTable();
    QApplication::processEvents();
    t.list()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(dialogs.questions.size(), 1);
}

namespace {
QStringList traced;
void traceHandler(QtMsgType, const QMessageLogContext &context, const QString &text) {
    if (QLatin1String(context.category) == QLatin1String("kelvana.frs")) traced << text;
}
} // namespace

// The import of a structure file traces each statement with its file line;
// the Word import ends with the catalogue's own word.
TEST_F(CatalogWindowTest, ImportTracesItsStatementsAndTheWordImportEndsWithItsWord) {
    TFormL w;
    w.show();
    const QString path = fx.root() + "ф30";
    dialogs.files.push_back(path);
    w.exportForm();
    dialogs.files.push_back(path + ".frs");
    traced.clear();
    const QtMessageHandler old = qInstallMessageHandler(traceHandler);
    w.importForm();
    qInstallMessageHandler(old);
    ASSERT_FALSE(traced.isEmpty());
    EXPECT_TRUE(traced[0].startsWith(QStringLiteral("Импорт: Строка 1, SQL: "))) << traced[0].toStdString();
    EXPECT_TRUE(traced.last().startsWith(QStringLiteral("Импорт: Строка "))) << traced.last().toStdString();

    dialogs.messages.clear();
    dialogs.modals.push_back([](QDialog *) { return int(QDialog::Rejected); });
    w.importFromDoc();
    EXPECT_TRUE(dialogs.messages.isEmpty());
    dialogs.modals.push_back([](QDialog *) { return int(QDialog::Accepted); });
    w.importFromDoc();
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Форма успешно импортирована!")});
}
