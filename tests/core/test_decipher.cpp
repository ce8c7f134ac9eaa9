// Formula reference decipher: finding references, the decipher against the open main database, the comparison with the
// previous year's database and the views that show it.
#include "platform/Codepage.h"
#include "core/FormulaDiff.h"
#include "core/FormulaHighlighter.h"
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "support/YearBuilder.h"

#include <QPlainTextEdit>
#include <QDir>
#include <QLineEdit>
#include <QApplication>
#include <QTextEdit>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// ---- Finding references ---------------------------------------------------

QStringList refs(const QString &text) { return TFormulaHighlighter(nullptr, nullptr).ExtractReferences(text); }

TEST(DecipherScan, ReferenceEndsAtRelationsOperatorsAndWords) {
    EXPECT_EQ(refs(QStringLiteral("Ф12Т(3)СТР[1..2]ГР4 >= 0")), QStringList{QStringLiteral("Ф12Т[3]СТР[1..2]ГР4")});
    EXPECT_EQ(refs(QStringLiteral("Ф1Т[1]СТР5 AND X")), QStringList{QStringLiteral("Ф1Т[1]СТР5")});
    EXPECT_EQ(refs(QStringLiteral("Ф1Т[1]СТР5ANDX")), QStringList{QStringLiteral("Ф1Т[1]СТР5ANDX")});
    EXPECT_EQ(refs(QStringLiteral("Ф1Т[1]СТР1ГР3+Ф1Т[1]СТР2ГР3-(-ф2т(5)стр1гр1)*2")),
              (QStringList{QStringLiteral("Ф1Т[1]СТР1ГР3"), QStringLiteral("Ф1Т[1]СТР2ГР3"),
                           QStringLiteral("Ф2Т[5]СТР1ГР1")}));
    // Inside a table bracket nothing but its ")" ends the bracket; a sign after "[" stays.
    EXPECT_EQ(refs(QStringLiteral("Ф1Т (1+2)СТР[-1]/3")), QStringList{QStringLiteral("Ф1Т (1+2)СТР[-1]")});
    EXPECT_EQ(refs(QStringLiteral("Ф1Т[1]ГР4<>Ф1Т[1]ГР5=Ф2ГР1<Ф3 OR Ф4")),
              (QStringList{QStringLiteral("Ф1Т[1]ГР4"), QStringLiteral("Ф1Т[1]ГР5"), QStringLiteral("Ф2ГР1"),
                           QStringLiteral("Ф3"), QStringLiteral("Ф4")}));
    EXPECT_TRUE(refs(QStringLiteral("СТР1 + 5")).isEmpty());
    EXPECT_TRUE(refs(QString()).isEmpty());
}

TEST(DecipherScan, CaretPicksTheReferenceAroundIt) {
    const QString text = QStringLiteral(" Ф12Т(3)СТР[1..2]ГР4 >= Ф1Т[1]ГР2");
    EXPECT_TRUE(TFormulaHighlighter::ReferenceAt(text, 0).isEmpty());
    EXPECT_EQ(TFormulaHighlighter::ReferenceAt(text, 1), QStringLiteral("Ф12Т[3]СТР[1..2]ГР4"));
    EXPECT_EQ(TFormulaHighlighter::ReferenceAt(text, 20), QStringLiteral("Ф12Т[3]СТР[1..2]ГР4"));
    EXPECT_TRUE(TFormulaHighlighter::ReferenceAt(text, 21).isEmpty());
    EXPECT_EQ(TFormulaHighlighter::ReferenceAt(text, int(text.size())), QStringLiteral("Ф1Т[1]ГР2"));
}

// ---- Against databases ------------------------------------------------------

// A configuration year with one form "Ф12" and its table "(3)" (fixcols 2,
// fixrows 2), optionally a changed copy for the year before.
class DecipherDb : public ::testing::Test {
protected:
    static constexpr int kYear = 2024;

    void SetUp() override {
        fill(year.mainDb(), {});
        TableShape staff;
        staff.ident = 1, staff.colcount = 6, staff.rowcount = 6, staff.fixcols = 2, staff.fixrows = 2;
        shared().Caches.forms = {{1, QStringLiteral("Ф12"), QStringLiteral("Сведения о кадрах")}};
        shared().Caches.tables = {{1, QStringLiteral("Ф12"), QStringLiteral("(3)"), QStringLiteral("Штаты"), staff}};
    }

    QString dir() const { return year.dir.path(); }
    QString yearFile(int y) const { return dir() + QStringLiteral("/%1/orvmain.mdb").arg(y); }

    // Another year's main database: the common content, then the changes.
    void makeYear(int y, const QStringList &changes) {
        QDir().mkpath(dir() + QStringLiteral("/%1").arg(y));
        schema::createMainDatabase(yearFile(y));
        db::ScopedConnection c(yearFile(y), db::OpenMode::ReadWrite);
        fill(c.db(), changes);
    }
    void fill(const QSqlDatabase &d, const QStringList &changes) {
        db::exec(d, QStringLiteral("insert into forms (id, formname, decipher, ind) values (1, 'Ф12', "
                                   "'Сведения о кадрах', 1)"));
        db::exec(d, QStringLiteral("insert into tables (ident, form, tablen, name, colcount, rowcount, fixcols, "
                                   "fixrows) values (1, 1, '(3)', 'Штаты', 6, 6, 2, 2)"));
        auto title = [&](int col, int row, int ec, int er, const QString &txt) {
            db::exec(d, QStringLiteral("insert into titles (\"table\", \"column\", \"row\", union_sc, union_sr, "
                                       "union_ec, union_er, txt) values (1, ?, ?, ?, ?, ?, ?, ?)"),
                     {col, row, col, row, ec, er, txt});
        };
        title(1, 1, 2, 2, QStringLiteral("Наименование"));
        title(1, 3, 1, 4, QStringLiteral("Врачи"));
        title(2, 3, 2, 3, QStringLiteral("всего"));
        title(2, 4, 2, 4, QStringLiteral("из них\r\nженщин"));
        title(1, 5, 1, 5, QStringLiteral("Средний персонал"));
        title(2, 5, 2, 5, QStringLiteral(" "));
        title(1, 6, 1, 6, QStringLiteral("Прочие"));
        title(2, 6, 2, 6, QStringLiteral("Прочие"));
        title(3, 1, 4, 1, QStringLiteral("Должности"));
        title(3, 2, 3, 2, QStringLiteral("штатные"));
        title(4, 2, 4, 2, QStringLiteral("занятые"));
        title(5, 1, 5, 2, QStringLiteral("Итого\x03 лиц"));
        for (const QString &sql : changes) db::exec(d, sql);
    }

    YearBuilder year{YearOptions{kYear, true, false}};
    TFormulaHighlighter h{nullptr, nullptr};
};

TEST_F(DecipherDb, RowsAndColumnsWithTheirTitlePaths) {
    EXPECT_EQ(h.GetDecipher(QStringLiteral("Ф12Т(3)СТР[1..2]ГР4")),
              QStringLiteral("Форма: Ф12 - Сведения о кадрах\r\nТаблица: (3) - Штаты\r\nСтроки:\r\n"
                             "  стр.1 Врачи -> всего\r\n  стр.2 Врачи -> из них женщин\r\n"
                             "Графы:\r\n  гр.4 Должности -> занятые\r\n"));
    // Empty and repeated texts are left out; the colon code is shown as ":".
    EXPECT_EQ(h.GetDecipher(QStringLiteral("ф12т[3]стр3,4гр5")),
              QStringLiteral("Форма: Ф12 - Сведения о кадрах\r\nТаблица: (3) - Штаты\r\nСтроки:\r\n"
                             "  стр.3 Средний персонал\r\n  стр.4 Прочие\r\nГрафы:\r\n  гр.5 Итого: лиц\r\n"));
    // Beyond the titles: numbers only.
    EXPECT_EQ(h.GetDecipher(QStringLiteral("Ф12Т[3]ГР9")),
              QStringLiteral("Форма: Ф12 - Сведения о кадрах\r\nТаблица: (3) - Штаты\r\nГрафы:\r\n  гр.9\r\n"));
    EXPECT_TRUE(h.GetDecipher(QStringLiteral("  ")).isEmpty());
}

TEST_F(DecipherDb, UnknownFormOrTableStillDeciphers) {
    EXPECT_EQ(h.GetDecipher(QStringLiteral("Ф99Т[3]СТР1")),
              QStringLiteral("Форма: не найдена (FormId=-1)\r\nТаблица: не найдена (TableId=0, FormId=-1)\r\n"));
    EXPECT_EQ(h.GetDecipher(QStringLiteral("Ф12Т[7]СТР1")),
              QStringLiteral("Форма: Ф12 - Сведения о кадрах\r\nТаблица: не найдена (TableId=-1, FormId=1)\r\n"));
}

TEST_F(DecipherDb, IncompleteRangesAreExplained) {
    try {
        h.GetDecipher(QStringLiteral("Ф12Т[3]СТР68..ГР4"));
        FAIL() << "no error";
    } catch (const std::exception &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("Ошибка при обработке диапазона строк \"68..\": неполный или некорректный "
                                 "диапазон (например, \"68..\" без конечного значения)"));
    }
    try {
        h.GetDecipher(QStringLiteral("Ф12Т[3]СТР1ГР[4..]"));
        FAIL() << "no error";
    } catch (const std::exception &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(QStringLiteral("Ошибка при обработке диапазона граф \"4..\"")));
    }
}

TEST_F(DecipherDb, PreviousYearComparison) {
    const QString ref = QStringLiteral("Ф12Т(3)СТР1ГР4");
    QString current, previous;
    bool same = true;

    // No previous year: compared, told where it was looked for, no difference shown.
    ASSERT_TRUE(h.CompareWithPreviousYear(ref, current, previous, same));
    EXPECT_TRUE(current.contains(QStringLiteral("Врачи -> всего")));
    EXPECT_EQ(previous, QStringLiteral("База данных прошлого года не найдена: ") + yearFile(kYear - 1));

    // Only the form line differs: the same.
    makeYear(kYear - 1, {QStringLiteral("update forms set decipher='Кадры'")});
    ASSERT_TRUE(h.CompareWithPreviousYear(ref, current, previous, same));
    EXPECT_TRUE(previous.contains(QStringLiteral("Ф12 - Кадры")));
    EXPECT_TRUE(same);

    // A renamed column differs.
    makeYear(kYear - 1, {QStringLiteral("update titles set txt='вакантные' where txt='занятые'")});
    ASSERT_TRUE(h.CompareWithPreviousYear(ref, current, previous, same));
    EXPECT_FALSE(same);
    EXPECT_TRUE(previous.contains(QStringLiteral("Должности -> вакантные")));

    // One more header row last year: the same data row sits one row lower there.
    makeYear(kYear - 1, {QStringLiteral("update tables set fixrows=3, rowcount=7"),
                         QStringLiteral("update titles set \"row\"=\"row\"+1, union_sr=union_sr+1, "
                                        "union_er=union_er+1 where \"column\"<=2 and \"row\">2")});
    ASSERT_TRUE(h.CompareWithPreviousYear(ref, current, previous, same));
    EXPECT_TRUE(previous.contains(QStringLiteral("  стр.1 Врачи -> всего"))) << previous.toStdString();
    EXPECT_TRUE(same);

    // The previous file is opened read-only and left unchanged; a broken one is reported.
    QFile::remove(yearFile(kYear - 1));
    ASSERT_TRUE(cp1251::writeFile(yearFile(kYear - 1), "not a database at all, just text"));
    ASSERT_TRUE(h.CompareWithPreviousYear(ref, current, previous, same));
    EXPECT_TRUE(previous.startsWith(QStringLiteral("Ошибка при получении расшифровки из предыдущего года: ")));

    // No configuration open: nothing is compared.
    shared().ConfigPath.clear();
    EXPECT_FALSE(h.CompareWithPreviousYear(ref, current, previous, same));
}

TEST_F(DecipherDb, ViewShowsDecipherErrorsAndSideBySide) {
    QWidget window;
    auto *box = new QVBoxLayout(&window);
    auto *edit = new QLineEdit(&window);
    auto *view = new QTextEdit(&window);
    view->setObjectName(QStringLiteral("RichEdit1"));
    view->setFixedHeight(60);   // as the windows size it
    box->addWidget(edit);
    box->addWidget(view);
    box->addStretch(1);
    window.resize(600, 400);
    window.show();
    TFormulaHighlighter hl(edit, view);
    const QColor windowColour = view->palette().color(QPalette::Base);

    edit->setText(QStringLiteral("Ф12Т(3)СТР1ГР4 >= 0"));
    hl.UpdateAt(3);
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(view->toPlainText().contains(QStringLiteral("Таблица: (3) - Штаты")));
    EXPECT_EQ(view->palette().color(QPalette::Base), windowColour);
    EXPECT_TRUE(!hl.PreviousYearView() || hl.PreviousYearView()->isHidden());

    // Caret on the blank after the reference: nothing to show.
    hl.UpdateAt(16);
    EXPECT_FALSE(view->isVisible());

    // A difference with last year: both views side by side.
    makeYear(kYear - 1, {QStringLiteral("update titles set txt='вакантные' where txt='занятые'")});
    hl.UpdateAt(0);
    ASSERT_NE(hl.PreviousYearView(), nullptr);
    EXPECT_TRUE(hl.PreviousYearView()->isVisible());
    EXPECT_TRUE(hl.PreviousYearView()->toPlainText().contains(QStringLiteral("вакантные")));
    EXPECT_EQ(view->palette().color(QPalette::Base), kDecipherCurrentDiffColor);
    EXPECT_TRUE(view->isVisible());
    // Two halves of one height in the view's place: nothing moves.
    QApplication::processEvents();
    EXPECT_EQ(hl.PreviousYearView()->height(), view->height());
    EXPECT_EQ(view->height(), 60);
    EXPECT_LE(qAbs(hl.PreviousYearView()->width() - view->width()), 1);

    // An error is shown in the view itself.
    edit->setText(QStringLiteral("Ф12Т(3)СТР5..ГР4"));
    hl.UpdateAt(2);
    EXPECT_TRUE(view->toPlainText().startsWith(QStringLiteral("Ошибка: Ошибка при обработке диапазона строк")));
    EXPECT_EQ(view->palette().color(QPalette::Base), kDecipherErrorColor);
    EXPECT_FALSE(hl.PreviousYearView()->isVisible());
}

TEST_F(DecipherDb, DiscrepancyWindowDeciphersFormulasOnly) {
    TFormulaDiff &w = FormulaDiff();
    w.show();
    w.SetTablesMode(false);
    w.listEdit()->setPlainText(QStringLiteral("Ф12Т(3)СТР1ГР4"));
    EXPECT_TRUE(w.decipherView()->toPlainText().contains(QStringLiteral("Врачи -> всего")));
    w.SetTablesMode(true);
    w.decipherView()->clear();
    w.listEdit()->setPlainText(QStringLiteral("Ф12Т(3)СТР2ГР4"));
    EXPECT_TRUE(w.decipherView()->toPlainText().isEmpty());
    w.SetTablesMode(false);
    w.hide();
}

} // namespace
