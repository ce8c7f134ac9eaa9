// Table structure taken from a Word table with merged header cells.
#include "engine/NumberFormat.h"
#include "core/AdminMode.h"
#include "core/SampleConfig.h"
#include "forms/structure/FormCatalog.h"
#include "forms/structure/FormCatalogLogic.h"
#include "forms/structure/ImportDoc.h"
#include "forms/structure/ImportDocLogic.h"
#include "core/ListWindow.h"
#include "platform/Database.h"
#include "platform/office/Convert.h"
#include "support/FakeDialogs.h"
#include "tests/platform/test_office_template.h"
#include "support/Fixture.h"

#include <QLineEdit>
#include <QFile>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace importdoc;
namespace ids = sample::ids;

namespace {

QString cell(const QString &text, const QString &props = {}) {
    QString p;
    for (const QString &para : text.split('\r'))
        p += "<w:p><w:r><w:t xml:space=\"preserve\">" + para.toHtmlEscaped() + "</w:t></w:r></w:p>";
    return "<w:tc>" + (props.isEmpty() ? QString() : "<w:tcPr>" + props + "</w:tcPr>") + p + "</w:tc>";
}
QString span(int n) { return QStringLiteral("<w:gridSpan w:val=\"%1\"/>").arg(n); }
const QString kRestart = QStringLiteral("<w:vMerge w:val=\"restart\"/>");
const QString kContinue = QStringLiteral("<w:vMerge/>");

QString table(int cols, const QList<QStringList> &rows) {
    QString t = "<w:tbl><w:tblGrid>";
    for (int i = 0; i < cols; ++i) t += "<w:gridCol w:w=\"1200\"/>";
    t += "</w:tblGrid>";
    for (const QStringList &r : rows) t += "<w:tr>" + r.join(QString()) + "</w:tr>";
    return t + "</w:tbl><w:p/>";
}

const QString kLong = QStringLiteral("Больницы всего, число");   // 21 characters
const QString kTwenty = QStringLiteral("Больницы всего число");  // 20 characters

// Table 1 (4 x 5): "Наименование" over two rows, "Врачи" and "Средний персонал" over two columns each, a blank cell,
// numbering, one data row. Table 2 (4 x 3): two leading columns and "Прочие". Table 3: two rows. Table 4 (3 x 5): a
// title of two paragraphs over two sub-headers, and at the right edge a title merged over two columns and two rows.
QStringList sampleTables() {
    const QString t1 = table(5, {{cell("Наименование", kRestart), cell("Врачи", span(2)),
                                  cell("Средний \"персонал\"", span(2))},
                                 {cell("", kContinue), cell("всего"), cell("  "), cell("всего"), cell("из них\rженщин")},
                                 {cell("1"), cell("2"), cell("3"), cell("4"), cell("5")},
                                 {cell(kLong), cell(kTwenty), cell(""), cell(""), cell("")}});
    const QString t2 = table(3, {{cell("А", kRestart), cell("Б", kRestart), cell("Прочие")},
                                 {cell("", kContinue), cell("", kContinue), cell("всего")},
                                 {cell("1"), cell("2"), cell("6")},
                                 {cell("x"), cell("y"), cell("")}});
    const QString t3 = table(2, {{cell("a"), cell("b")}, {cell("c"), cell("d")}});
    const QString t4 = table(5, {{cell("Наименование", kRestart), cell("Число\rдолжностей", span(2)),
                                  cell("Итого", span(2) + kRestart)},
                                 {cell("", kContinue), cell("штатных"), cell("занятых"), cell("", span(2) + kContinue)},
                                 {cell("1"), cell("2"), cell("3"), cell("4"), cell("5")}});
    return {t1, t2, t3, t4};
}

QString writeDocx(const QString &path, const QStringList &tables = sampleTables()) {
    return writeDocxTemplate(path,
                             ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document xmlns:w=\"http://schemas."
                              "openxmlformats.org/wordprocessingml/2006/main\"><w:body><w:p/>" +
                              tables.join(QString()) + "</w:body></w:document>").toUtf8(), false);
}

struct Expect { int r, c; QString text; int ec, er; };

void checkCell(const DocStructure &s, const Expect &e) {
    SCOPED_TRACE(QStringLiteral("cell %1,%2").arg(e.r).arg(e.c).toStdString());
    const DocCell &d = s.at(e.r, e.c);
    ASSERT_TRUE(d.filled);
    EXPECT_EQ(d.text.toStdString(), e.text.toStdString());
    EXPECT_EQ(d.startRow, e.r);
    EXPECT_EQ(d.startColumn, e.c);
    EXPECT_EQ(d.endColumn, e.ec);
    EXPECT_EQ(d.endRow, e.er);
}

struct ImportDocTest : ::testing::Test {
    SampleFixture fx;
    FakeDialogs dialogs;
    QString doc;
    void SetUp() override { doc = writeDocx(fx.root() + "форма.docx"); }
    QSqlDatabase mainDb() { return db::connection(db::kMain); }
    qint64 count(const QString &sql, const QVariantList &p = {}) { return db::scalar(mainDb(), sql, p).toLongLong(); }
};

} // namespace

TEST_F(ImportDocTest, MergedHeaderCellsGiveSpans) {
    const DocStructure s = ExtractDocTableStructure(doc, 1);
    ASSERT_EQ(s.rows, 4);
    ASSERT_EQ(s.cols, 5);
    checkCell(s, {1, 1, "Наименование", 1, 2});   // merged down: the position below is empty
    checkCell(s, {1, 2, "Врачи", 3, 1});          // merged across: ends before the next cell
    EXPECT_FALSE(s.at(1, 3).filled);
    EXPECT_FALSE(s.at(2, 1).filled);
    checkCell(s, {1, 4, "Средний \"персонал\"", 5, 1});   // last column spans to the edge
    checkCell(s, {2, 2, "всего", 2, 2});   // the blank cell to its right still stops it
    checkCell(s, {2, 3, "", 3, 2});
    checkCell(s, {2, 5, "из них\nженщин", 5, 2});   // paragraphs stay lines of the title
    checkCell(s, {4, 1, kLong, 1, 4});

    // Spans are the document's own: a sub-header beside a title merged down does not reach into it.
    const DocStructure t = ExtractDocTableStructure(doc, 4);
    ASSERT_EQ(t.cols, 5);
    checkCell(t, {1, 1, "Наименование", 1, 2});
    checkCell(t, {1, 2, "Число\nдолжностей", 3, 1});
    checkCell(t, {1, 4, "Итого", 5, 2});
    checkCell(t, {2, 2, "штатных", 2, 2});
    checkCell(t, {2, 3, "занятых", 3, 2});
    for (auto [r, c] : {std::pair{1, 3}, {1, 5}, {2, 1}, {2, 4}, {2, 5}}) EXPECT_FALSE(t.at(r, c).filled);

    // Stored and read back as the table's titles.
    UpdateTableStructure(ids::TableF30Visits, t, 1, 2);
    QStringList stored;
    QSqlQuery q = db::exec(mainDb(), "select \"row\", \"column\", union_sc, union_sr, union_ec, union_er, txt from "
                                     "titles where \"table\"=2 and \"row\"<=2 order by \"row\", \"column\"");
    while (q.next())
        stored << QStringLiteral("%1,%2 %3,%4-%5,%6 %7").arg(q.value(0).toInt())
                      .arg(q.value(1).toInt()).arg(q.value(2).toInt()).arg(q.value(3).toInt()).arg(q.value(4).toInt())
                      .arg(q.value(5).toInt()).arg(q.value(6).toString());
    EXPECT_EQ(stored, (QStringList{"1,1 1,1-1,2 Наименование", "1,2 2,1-3,1 Число\nдолжностей", "1,4 4,1-5,2 Итого",
                                   "2,2 2,2-2,2 штатных", "2,3 3,2-3,2 занятых"}));
}

// A table nested in a cell gives its text to the cell; the older horizontal
// merge (w:hMerge) spans like gridSpan instead of leaving an empty neighbour.
TEST_F(ImportDocTest, NestedTablesAndOlderHorizontalMerges) {
    const QString nested = table(2, {{cell("внутри 1"), cell("внутри 2")}, {cell("внутри 3"), cell("")}});
    const QString withNested = "<w:tc><w:p><w:r><w:t>Перед</w:t></w:r></w:p>" +
                               nested.left(nested.size() - QStringLiteral("<w:p/>").size()) +
                               "<w:p><w:r><w:t>После</w:t></w:r></w:p></w:tc>";
    const QString hStart = QStringLiteral("<w:hMerge w:val=\"restart\"/>");
    const QString hGoOn = QStringLiteral("<w:hMerge/>");
    const QString t = table(4, {{cell("Наименование"), cell("Врачи", hStart), cell("", hGoOn), cell("Прочие")},
                                {cell("а"), withNested, cell("б"), cell("в")}});
    const DocStructure s = ExtractDocTableStructure(writeDocx(fx.root() + "вложенная.docx", {t}), 1);
    ASSERT_EQ(s.cols, 4);
    checkCell(s, {1, 2, "Врачи", 3, 1});
    EXPECT_FALSE(s.at(1, 3).filled);
    checkCell(s, {1, 4, "Прочие", 4, 1});
    checkCell(s, {2, 2, "Перед\nвнутри 1\nвнутри 2\nвнутри 3\nПосле", 2, 2});
    checkCell(s, {2, 3, "б", 3, 2});
}

TEST_F(ImportDocTest, AbsurdSizesAndFixedLinesAreRefusedBeforeAnythingIsStored) {
    // A cell spanning a hundred million columns is named; no grid is made.
    const QString huge = writeDocx(fx.root() + "огромная.docx",
                                   {table(2, {{cell("a"), cell("b", span(100000000))}, {cell("c"), cell("d")}})});
    try {
        ExtractDocTableStructure(huge, 1);
        ADD_FAILURE() << "accepted";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("(строка 1, столбец 2)"))) << e.message().toStdString();
    }

    // Fixed rows or columns beyond the table leave no data area: refused, the stored structure stays.
    const QString before =
        db::scalar(mainDb(), "select group_concat(txt, '|') from titles where \"table\"=2").toString();
    const DocStructure s = ExtractDocTableStructure(doc, 1);   // 4 x 5
    EXPECT_THROW(UpdateTableStructure(ids::TableF30Visits, s, 6, 1), Error);
    EXPECT_THROW(UpdateTableStructure(ids::TableF30Visits, s, 1, 5), Error);
    EXPECT_EQ(db::scalar(mainDb(), "select group_concat(txt, '|') from titles where \"table\"=2").toString(), before);
    EXPECT_EQ(count("select colcount from tables where ident=2"), 5);
    EXPECT_TRUE(structureFault(s, 5, 4).isEmpty());   // a header-only table is fine
}

TEST_F(ImportDocTest, ExtractionFailuresAreTold) {
    auto failure = [&](const QString &path, int n) {
        try {
            ExtractDocTableStructure(path, n);
        } catch (const Error &e) {
            return e.message();
        }
        return QStringLiteral("no error");
    };
    EXPECT_EQ(failure(fx.root() + "нет.docx", 1), "Файл не найден: " + fx.root() + "нет.docx");
    EXPECT_EQ(failure(doc, 5), QStringLiteral("В документе нет таблицы с номером 5"));
    EXPECT_TRUE(failure(doc, 0).startsWith(QStringLiteral("Ошибка при извлечении структуры таблицы: ")));
    if (office::converterPath().isEmpty()) {
        QFile f(fx.root() + "old.doc");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 not really a document");
        f.close();
        EXPECT_TRUE(failure(fx.root() + "old.doc", 1).startsWith(QStringLiteral("Ошибка при извлечении структуры таблицы: ")));
    }
}

TEST_F(ImportDocTest, SecondTableJoinedOnTheRight) {
    DocStructure s = ExtractDocTableStructure(doc, 1);
    const DocStructure s2 = ExtractDocTableStructure(doc, 2);
    ASSERT_TRUE(joinRight(s, s2, 2));
    ASSERT_EQ(s.cols, 6);
    checkCell(s, {1, 4, "Средний \"персонал\"", 5, 1});   // the first table's edge stays
    checkCell(s, {1, 6, "Прочие", 6, 1});
    checkCell(s, {3, 6, "6", 6, 3});
    // A table of another height is refused and changes nothing.
    const DocStructure s3 = ExtractDocTableStructure(doc, 3);
    EXPECT_FALSE(joinRight(s, s3, 2));
    EXPECT_EQ(s.cols, 6);
    // Joined to itself: its first fixcols columns are left out.
    DocStructure self = ExtractDocTableStructure(doc, 1);
    ASSERT_TRUE(joinRight(self, ExtractDocTableStructure(doc, 1), 1));
    EXPECT_EQ(self.cols, 9);
    checkCell(self, {1, 6, "Врачи", 7, 1});
    EXPECT_FALSE(self.at(1, 7).filled);
    EXPECT_FALSE(self.at(4, 6).text.isEmpty());
}

TEST_F(ImportDocTest, StructureWrittenIntoTheTable) {
    const DocStructure s = ExtractDocTableStructure(doc, 1);
    db::exec(mainDb(), "insert into conditions (tid, \"row\", \"column\", formula) values (2, 0, 0, 'x')");
    UpdateTableStructure(ids::TableF30Visits, s, 1, 3);
    QSqlQuery t = db::exec(mainDb(), "select colcount, rowcount, fixcols, fixrows from tables where ident=2");
    ASSERT_TRUE(t.next());
    EXPECT_EQ(t.value(0).toInt(), 5);
    EXPECT_EQ(t.value(1).toInt(), 4);
    EXPECT_EQ(t.value(2).toInt(), 1);
    EXPECT_EQ(t.value(3).toInt(), 3);
    EXPECT_EQ(count("select count(*) from \"columns\" where \"table\"=2 and width=100"), 5);
    EXPECT_EQ(count("select count(*) from \"rows\" where \"table\"=2 and height=20"), 4);
    EXPECT_EQ(count("select count(*) from conditions where tid=2"), 1);
    // One title per non-empty cell: 3 + 3 + 5 + 2.
    EXPECT_EQ(count("select count(*) from titles where \"table\"=2"), 13);
    auto title = [&](int r, int c, const QString &col) {
        return db::scalar(mainDb(),
                          QStringLiteral("select %1 from titles where \"table\"=2 and \"row\"=? and \"column\"=?").arg(col),
                          {r, c});
    };
    EXPECT_EQ(title(1, 1, "union_er").toInt(), 2);
    EXPECT_EQ(title(1, 4, "txt").toString(), QStringLiteral("Средний \"персонал\""));
    EXPECT_FALSE(title(2, 3, "txt").isValid());   // the blank cell
}

TEST_F(ImportDocTest, ColonInACellSurvivesTheStructureFile) {
    DocStructure s;
    s.resize(2, 2);
    s.at(1, 1) = {true, QStringLiteral("Всего: врачей"), 1, 1, 2, 2};
    UpdateTableStructure(ids::TableF30Visits, s, 1, 1);
    const QString stored = db::scalar(mainDb(), "select txt from titles where \"table\"=2").toString();
    EXPECT_EQ(stored, QStringLiteral("Всего\x03 врачей"));
    // Written out and read back, the colon is still there.
    const QStringList lines = frs::formLines(mainDb(), ids::FormF30);
    EXPECT_TRUE(lines.join(u'\n').contains(QStringLiteral("Всего\x03 врачей")));
}

TEST_F(ImportDocTest, UnknownTableChangesNothing) {
    const qint64 titles = count("select count(*) from titles");
    const DocStructure s = ExtractDocTableStructure(doc, 1);
    EXPECT_THROW(UpdateTableStructure(999, s, 1, 1), Error);
    EXPECT_EQ(count("select count(*) from titles"), titles);
    EXPECT_EQ(count("select count(*) from \"rows\" where \"table\"=999"), 0);
}

TEST_F(ImportDocTest, WindowChecksItsFieldsAndImports) {
    TImportDocForm w;
    w.importStructure();
    EXPECT_EQ(dialogs.messages.value(0), QStringLiteral("Выберите файл для анализа!"));
    w.fileEdit()->setText(doc);
    w.tableIdentEdit()->setText(" ");
    w.importStructure();
    EXPECT_EQ(dialogs.messages.value(1), QStringLiteral("Введите номер таблицы в БД!"));
    w.tableIdentEdit()->setText("2");
    w.fixedColumnsEdit()->setText("два");
    w.importStructure();
    EXPECT_EQ(dialogs.messages.value(2), QStringLiteral("Поля с номерами должны содержать только числа!"));
    w.fixedColumnsEdit()->setText("2");
    w.tableIdentEdit()->setText("999");
    w.importStructure();
    EXPECT_EQ(dialogs.messages.value(3), QStringLiteral("Таблица 999 не найдена!"));

    // A second table of another height: told, and the first is imported alone.
    dialogs.messages.clear();
    w.tableIdentEdit()->setText(" 2 ");
    w.docTableEdit()->setText("1");
    w.joinedTableEdit()->setText("3");
    w.importStructure();
    // The titles go to the list window; one closing box.
    ASSERT_EQ(dialogs.messages.size(), 2) << dialogs.messages.join("\n").toStdString();
    EXPECT_EQ(dialogs.messages[0], QStringLiteral("Вторая таблица не импортирована, тк в таблицах разное количество строк"));
    EXPECT_EQ(dialogs.modalTitles.last(), QStringLiteral("Структура таблицы"));
    EXPECT_GT(Form1().list()->topLevelItemCount(), 0);
    EXPECT_TRUE(Form1().heading().startsWith("Размер таблицы: " + num::counted(count("select rowcount from tables "
                                                                                       "where ident=2"),
                                                                                 "строка", "строки", "строк") +
                                             ", 5 столбцов."))
        << Form1().heading().toStdString();
    EXPECT_EQ(dialogs.messages[1], "Анализ структуры таблицы выполнен успешно!\r\nФайл: " + doc +
                                       "\r\nНомер таблицы в БД: 2\r\nНомер таблицы в документе: 1"
                                       "\r\nФиксированные столбцы: 2\r\nФиксированные строки: 3");
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(count("select colcount from tables where ident=2"), 5);
}

TEST_F(ImportDocTest, ManualLineBreaksAndTabsOfACellAreLinesAndBlanks) {
    const QString raw = "<w:tc><w:p><w:r><w:t>Число</w:t><w:br/><w:t>коек</w:t><w:cr/><w:t>на</w:t><w:tab/>"
                        "<w:t>конец</w:t></w:r></w:p></w:tc>";
    const QString path = writeDocx(fx.root() + "breaks.docx", {table(2, {{raw, cell("б")}, {cell("1"), cell("2")}})});
    const DocStructure s = ExtractDocTableStructure(path, 1);
    checkCell(s, {1, 1, "Число\nкоек\nна конец", 1, 1});
}
