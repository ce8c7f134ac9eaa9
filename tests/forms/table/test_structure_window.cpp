// Structure commands of the table window: the confirmations and refusals a
// user sees, the table shown again after a change, and the title editor.
#include "core/ListWindow.h"
#include "engine/CellNumbering.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "forms/table/StructureEditDialog.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableWindow.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "support/TableWindowSetup.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlQuery>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

class StructureWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fx.reloadCaches();
        table = aimTableWindow(sample::ids::NorthHospital, sample::ids::FormF30, QStringLiteral("Ф30"), QStringLiteral("(1000)"));
    }
    std::unique_ptr<TVTable> show() { return showTableWindow(table); }
    TableWindowParams table;
    int count(const QString &what) {
        return db::scalar(db::connection(db::kMain), QStringLiteral("select %1 from tables where ident=?").arg(what),
                          {sample::ids::TableF30Staff}).toInt();
    }
    int titleIndex(const TVTable &w, int column, int row) {
        const auto &titles = w.grid()->titles();
        for (int i = 0; i < titles.size(); ++i)
            if (titles[i].column == column && titles[i].row == row) return i;
        return -1;
    }

    SampleFixture fx;
    FakeDialogs dialogs;
};

} // namespace

TEST_F(StructureWindowTest, InsertAndDeleteShowTheChangedTable) {
    auto w = show();
    ASSERT_TRUE(w->isLoaded());

    // Typed text of the current cell is saved before the change.
    w->grid()->setCurrentCell(0, 2);
    QTest::keyClick(w->grid(), Qt::Key_Delete, Qt::ControlModifier);
    QTest::keyClicks(w->grid(), "77");
    w->insertRowBefore();
    EXPECT_EQ(count("rowcount"), 9);
    EXPECT_EQ(w->grid()->rowCount(), 6);
    EXPECT_EQ(w->grid()->currentRow(), 0);
    EXPECT_EQ(w->cellDisplayText(0, 3), "77");   // moved down with its row
    EXPECT_EQ(w->cellDisplayText(0, 2), "");
    EXPECT_NE(titleIndex(*w, 1, 6), -1);
    // The control rules naming rows from the new one on are listed.
    ASSERT_FALSE(dialogs.modalTitles.isEmpty());
    EXPECT_TRUE(dialogs.modalTitles.last().endsWith(" - правила и формулы"));
    const ListContents listed = Form1().contents();
    EXPECT_TRUE(listed.heading.contains("строки таблицы (1000) формы Ф30 с номера 3")) << listed.heading.toStdString();
    QStringList where;
    for (const QStringList &r : listed.rows) where << r.value(0);
    // And the line of the print mapping file whose block of rows 1..5 the new row moves.
    EXPECT_EQ(where, (QStringList{"Контроль 1 Ф30 (1000)", "Контроль 3 Ф30 (1000)", "Печать Ф30.txt, строка 1"}));

    w->grid()->setCurrentCell(1, 0);
    w->insertColumnAfter();
    EXPECT_EQ(count("colcount"), 8);
    EXPECT_EQ(w->grid()->columnCount(), 5);
    const CachedTable *cached = shared().Caches.table(sample::ids::TableF30Staff);
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->shape.colcount, 8);

    // Deleting asks first; No changes nothing.
    w->grid()->setCurrentCell(0, 3);
    dialogs.answers = {false};
    w->deleteRow();
    EXPECT_EQ(dialogs.questions.last(), "Вы уверены, что хотите удалить эту строку?");
    EXPECT_EQ(count("rowcount"), 9);
    dialogs.answers = {true};
    w->deleteRow();
    EXPECT_EQ(count("rowcount"), 8);
    EXPECT_EQ(w->grid()->rowCount(), 5);
    dialogs.answers = {true};
    w->deleteColumn();
    EXPECT_EQ(dialogs.questions.last(), "Вы уверены, что хотите удалить этот столбец?");
    EXPECT_EQ(w->grid()->columnCount(), 4);
}

// The list after an insert and a delete reads a calculated cell's terms as the engine does (a term without form and
// table takes them from the term before) and names the print mapping lines whose block the edit moves.
TEST_F(StructureWindowTest, RulesListReadsTermsAsTheEngineAndNamesPrintMappingLines) {
    const QSqlDatabase d = db::connection(db::kMain);
    db::exec(d, "delete from int_control");
    db::exec(d, "delete from conditions");
    const QString cols = "tid, \"row\", \"column\", type, formula, condition, koeff, country, midle, types";
    // On a cell of Ф47: the second term is Ф30 (1000) СТР5ГР4 for the engine.
    db::exec(d, "insert into conditions (" + cols + ") values (?, 0, 0, 1, ?, '', 1, 0, 0, '2')",
             {sample::ids::TableF47Network, "Ф30Т(1000)СТР1ГР4+СТР5ГР4"});
    // Its own row 5: not Ф30's.
    db::exec(d, "insert into conditions (" + cols + ") values (?, 1, 0, 1, ?, '', 1, 0, 0, '2')",
             {sample::ids::TableF47Network, "Ф30Т(2000)СТР1ГР4+СТР5ГР4"});
    // A counter rule: a condition, no formula.
    db::exec(d, "insert into conditions (" + cols + ") values (?, 2, 0, 0, '', ?, 1, 0, 0, '2')",
             {sample::ids::TableF47Network, "Ф30Т(1000)СТР1ГР4>0 AND СТР4ГР5>0"});
    ASSERT_TRUE(cp1251::writeLines(fx.yearFolder() + "forms/Ф30.txt",
                                   {"1,4,4,[(1000)],4,1,7,2", "2,1,1,[(1000)],4,4,5,5", "3,1,1,[(2000)],4,1,5,3",
                                    "4,1,1,[(1000)],4,3,5,бред"}));
    auto listed = [&] {
        QStringList out;
        for (const QStringList &r : Form1().contents().rows) out << r.value(0) + " | " + r.value(1);
        return out;
    };
    auto w = show();
    ASSERT_TRUE(w->isLoaded());
    w->grid()->setCurrentCell(0, 2);   // data row 3
    w->insertRowBefore();
    EXPECT_EQ(listed(), (QStringList{"Расчет Ф47 (1000) СТР1ГР4 | Ф30Т(1000)СТР1ГР4+СТР5ГР4",
                                     "Расчет Ф47 (1000) СТР3ГР4 | условие Ф30Т(1000)СТР1ГР4>0 AND СТР4ГР5>0",
                                     "Печать Ф30.txt, строка 2 | 2,1,1,[(1000)],4,4,5,5",
                                     "Печать Ф30.txt, строка 4 | 4,1,1,[(1000)],4,3,5,бред"}));

    dialogs.answers = {true};
    w->grid()->setCurrentCell(0, 4);   // data row 5
    w->deleteRow();
    EXPECT_EQ(listed(), (QStringList{"Расчет Ф47 (1000) СТР1ГР4 | Ф30Т(1000)СТР1ГР4+СТР5ГР4",
                                     "Печать Ф30.txt, строка 2 | 2,1,1,[(1000)],4,4,5,5",
                                     "Печать Ф30.txt, строка 4 | 4,1,1,[(1000)],4,3,5,бред"}));
}

// Refused before the question is asked.
TEST_F(StructureWindowTest, LastDataRowAndColumnAreRefused) {
    db::exec(db::kMain, "update tables set rowcount=4, colcount=4 where ident=?", {sample::ids::TableF30Staff});
    db::exec(db::kMain, "delete from \"rows\" where \"table\"=? and \"row\">4", {sample::ids::TableF30Staff});
    db::exec(db::kMain, "delete from \"columns\" where \"table\"=? and \"column\">4", {sample::ids::TableF30Staff});
    auto w = show();
    ASSERT_TRUE(w->isLoaded());
    w->deleteRow();
    w->deleteColumn();
    EXPECT_EQ(dialogs.messages, (QStringList{"Нельзя удалить последнюю строку данных",
                                             "Нельзя удалить последний столбец данных"}));
    EXPECT_TRUE(dialogs.questions.isEmpty());
    EXPECT_EQ(count("rowcount"), 4);
}

TEST_F(StructureWindowTest, TitleEditorWritesTheTitleAndRedrawsIt) {
    auto w = show();
    ASSERT_TRUE(w->isLoaded());
    const int index = titleIndex(*w, 1, 4);   // "Врачи - всего", layout "CL00"
    ASSERT_GE(index, 0);
    dialogs.modals.push_back([](QDialog *d) {
        auto *t = static_cast<TTitles *>(d);
        t->textEdit()->setPlainText("Врачи: всего");
        t->horizontalAlignment()->setItemIndex(2);
        t->boldBox()->setChecked(true);
        t->indentBox()->setValue(2);
        t->linesBox()->setValue(2);
        t->widthEdit()->clear();
        return int(QDialog::Accepted);
    });
    emit w->grid()->titleDoubleClicked(index);
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select tchars from titles where \"table\"=1 and \"column\"=1 and \"row\"=4")
                  .toString(), "CR02");
    // Two lines of the chosen size make the row's height.
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select height from \"rows\" where \"table\"=1 and \"row\"=4").toDouble(), 25.5);
    const GridTitle &t = w->grid()->titles().at(index);
    EXPECT_EQ(t.text, "Врачи: всего");
    EXPECT_EQ(t.tchars, "CR02");
    EXPECT_TRUE(t.font.bold());

    // Cancel writes nothing; a bad width is reported and writes nothing.
    dialogs.modals.push_back([](QDialog *d) {
        static_cast<TTitles *>(d)->textEdit()->setPlainText("Отменено");
        return int(QDialog::Rejected);
    });
    emit w->grid()->titleDoubleClicked(index);
    // A bad width is refused by OK with the dialog still open and the typed values kept; corrected, it is written.
    dialogs.modals.push_back([this](QDialog *d) {
        auto *t = static_cast<TTitles *>(d);
        t->textEdit()->setPlainText("Исправлено");
        t->widthEdit()->setText("abc");
        t->okButton()->click();
        EXPECT_EQ(t->result(), 0);
        EXPECT_EQ(dialogs.messages.last(), "Ширина столбца \"abc\" не является числом");
        EXPECT_EQ(t->textEdit()->toPlainText(), "Исправлено");
        EXPECT_EQ(t->widthText(), "abc");
        // A width the table window cannot draw, a negative one, none at all.
        for (const auto &[typed, message] :
             {std::pair{"1e300", "Ширина столбца \"1e300\" должна быть от 1 до 3000"},
              std::pair{"0.5", "Ширина столбца \"0.5\" должна быть от 1 до 3000"},
              std::pair{"-5", "Ширина столбца \"-5\": ширина должна быть положительным числом"},
              std::pair{"0", "Ширина столбца \"0\": ширина должна быть положительным числом"}}) {
            t->widthEdit()->setText(typed);
            t->okButton()->click();
            EXPECT_EQ(t->result(), 0);
            EXPECT_EQ(dialogs.messages.last(), QString::fromUtf8(message));
        }
        t->widthEdit()->setText("10.1");
        // A row higher than the table window draws.
        const int size = t->fontSizeBox()->value(), lines = t->linesBox()->value();
        t->fontSizeBox()->setValue(144);
        t->linesBox()->setValue(99);
        t->okButton()->click();
        EXPECT_EQ(t->result(), 0);
        EXPECT_TRUE(dialogs.messages.last().startsWith("Строк текста 99 размером 144 не поместится"));
        t->fontSizeBox()->setValue(size);
        t->linesBox()->setValue(lines);
        // The font comes from the list.
        for (const char *font : {"", "  ", "Нет такого шрифта"}) {
            t->fontBox()->setCurrentText(QString::fromUtf8(font));
            t->okButton()->click();
            EXPECT_EQ(t->result(), 0);
            EXPECT_TRUE(dialogs.messages.last().startsWith("Выберите шрифт из списка")) << font;
        }
        t->fontBox()->setCurrentText("Arial#2");   // "#" would cut the structure file's line
        t->okButton()->click();
        EXPECT_EQ(t->result(), 0);
        EXPECT_TRUE(dialogs.messages.last().startsWith("Поле \"Шрифт\" содержит символ \"#\""));
        t->fontBox()->setCurrentText("Arial");
        t->okButton()->click();
        return t->result();
    });
    emit w->grid()->titleDoubleClicked(index);
    EXPECT_EQ(text::decodeColon(db::scalar(db::connection(db::kMain), "select txt from titles where \"table\"=1 and \"column\"=1 and \"row\"=4")
                                    .toString()), "Исправлено");
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select width from \"columns\" where \"table\"=1 and \"column\"=1").toDouble(), 10.1);
    EXPECT_EQ(w->grid()->titles().at(index).text, "Исправлено");
    // The open table takes the typed width at once: laid out as the same table opened anew.
    const auto shape = [](const TVTable &t) {
        QStringList out{QString::number(t.grid()->cellRect(0, 0).width())};
        for (const GridTitle &g : t.grid()->titles())
            out << QStringLiteral("%1,%2 %3x%4 %5").arg(g.column).arg(g.row).arg(g.rect.width()).arg(g.rect.height()).arg(g.text);
        return out;
    };
    const QStringList before = shape(*w);
    const auto reopened = show();
    EXPECT_EQ(before, shape(*reopened));
}

// The preview follows what is typed: the text as it will be drawn, as wide as the typed column width.
TEST(TitleEditor, PreviewFollowsTheTypedTitleAndWidth) {
    FakeDialogs dialogs;
    TTitles t;
    structedit::TitleContent c;
    c.text = QStringLiteral("Врачи");
    c.fontName = QStringLiteral("Arial");
    c.fontSize = 10;
    c.tchars = QStringLiteral("CL00");
    t.setTitle(c, 1, QStringLiteral("40"));
    t.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
    const auto image = [&] { return t.previewImage()->pixmap().toImage(); };
    const QImage first = image();
    t.textEdit()->setPlainText(QStringLiteral("Врачи - всего, в том числе"));
    EXPECT_NE(image(), first);
    const QImage typed = image();
    t.boldBox()->setChecked(true);
    EXPECT_NE(image(), typed);
    const int dpi = t.logicalDpiY() > 0 ? t.logicalDpiY() : 96;
    EXPECT_EQ(t.previewImage()->width(), cells::tableWindowPixels(40, dpi));
    t.widthEdit()->setText(QStringLiteral("120"));
    QApplication::processEvents();
    EXPECT_EQ(t.previewImage()->width(), cells::tableWindowPixels(120, dpi));
    t.widthEdit()->setText(QStringLiteral("12a"));   // being typed: stays as it was
    EXPECT_EQ(t.previewImage()->width(), cells::tableWindowPixels(120, dpi));
}

// Tabbing through the font list keeps the title's font as it is written.
TEST(TitleEditor, TabbingThroughTheFontKeepsItsLetters) {
    FakeDialogs dialogs;
    TTitles t;
    structedit::TitleContent c;
    c.text = QStringLiteral("Врачи - всего");
    c.fontName = QStringLiteral("Arial Cyr");
    c.fontSize = 10;
    c.tchars = QStringLiteral("CL00");
    t.setTitle(c, 1, QString());
    t.show();
    QApplication::setActiveWindow(&t);
    t.fontBox()->setFocus();
    QTest::keyClick(t.fontBox(), Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(t.fontBox()->currentText(), QStringLiteral("Arial Cyr"));
    EXPECT_EQ(t.content().fontName, QStringLiteral("Arial Cyr"));
}

// A typed column width lays the open table out again; what it shows and where the user stands stay.
TEST_F(StructureWindowTest, TitleWidthKeepsTheValuesAndTheCurrentCell) {
    auto w = show();
    ASSERT_TRUE(w->isLoaded());
    const auto shown = [](const TVTable &t) {
        QStringList out;
        for (int r = 0; r < t.grid()->rowCount(); ++r)
            for (int c = 0; c < t.grid()->columnCount(); ++c) out << t.cellDisplayText(c, r);
        return out;
    };
    ASSERT_TRUE(w->grid()->setCurrentCell(2, 3));
    const QStringList values = shown(*w);
    ASSERT_TRUE(std::any_of(values.begin(), values.end(), [](const QString &v) { return !v.isEmpty() && v != "0"; }));
    const int widthBefore = w->grid()->cellRect(0, 0).width();
    dialogs.modals.push_back([](QDialog *d) {
        static_cast<TTitles *>(d)->widthEdit()->setText("40");
        return int(QDialog::Accepted);
    });
    emit w->grid()->titleDoubleClicked(titleIndex(*w, 4, 2));   // "штатных", over the first data column
    EXPECT_NE(w->grid()->cellRect(0, 0).width(), widthBefore);
    EXPECT_EQ(shown(*w), values);
    EXPECT_EQ(w->currentColumn(), 2);
    EXPECT_EQ(w->currentRow(), 3);
}
