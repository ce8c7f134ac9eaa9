#include "core/ListWindow.h"

#include "core/CaptionLabel.h"
#include "engine/SharedState.h"
#include "core/SharedWindow.h"
#include "platform/Codepage.h"
#include "platform/Dialogs.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Show.h"
#include "platform/office/WordDocument.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <stdexcept>

namespace {

const QString kDash = QStringLiteral(" - ");
const QString kOutputName = QStringLiteral("Список");

QString oneLine(QString text) {
    text.remove(QLatin1Char('\n'));
    text.remove(QLatin1Char('\r'));
    return text;
}

// A cell text that is a plain number (or a percentage) goes to the sheet as
// a number shown with as many decimals as the list showed, as the
// spreadsheet itself would take it; codes with leading zeros stay texts.
struct SheetValue {
    QVariant value;
    QString format;   // empty: the sheet's own
};

SheetValue sheetValue(const QString &text) {
    static const QRegularExpression number(
        QStringLiteral("^(-?(?:0|[1-9][0-9]{0,14}))(?:\\.([0-9]{1,15}))?(%?)$"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch()) return {text, QString()};
    const int decimals = int(m.captured(2).size());
    QString format = decimals > 0 ? QStringLiteral("0.") + QString(decimals, u'0') : QStringLiteral("0");
    const bool percent = !m.captured(3).isEmpty();
    const double v = QString(text).remove(u'%').toDouble();
    if (percent) return {v / 100.0, format + u'%'};
    return {v, format};
}

} // namespace

QStringList SplitHeadingPieces(const QString &heading) {
    QString rest = oneLine(heading);
    QStringList pieces;
    while (!rest.isEmpty()) {
        const int at = rest.indexOf(kDash);
        if (at < 0) {
            pieces.append(rest);
            break;
        }
        pieces.append(rest.left(at + kDash.size()));
        rest = rest.mid(at + kDash.size());
    }
    return pieces;
}

QStringList SplitHeaderLine(const QString &header) {
    if (header.isEmpty()) return {};
    return header.split(QLatin1Char('\t'));
}

QStringList SplitListLine(const QString &line, int columnCount) {
    const QStringList pieces = line.split(QLatin1Char('\t'));
    QStringList cells;
    cells.append(pieces.value(0));
    for (int k = 1; k < columnCount; ++k) cells.append(pieces.value(k));
    return cells;
}

QStringList DocumentParagraphs(const ListContents &c) {
    return {c.caption, SplitHeadingPieces(c.heading).join(QString())};
}

QStringList DocumentTableLines(const ListContents &c) {
    QStringList lines;
    lines.append(c.columns.join(QLatin1Char('\t')));
    for (const QStringList &row : c.rows) lines.append(row.join(QLatin1Char('\t')));
    return lines;
}

office::WordDocument BuildListDocument(const ListContents &c) {
    QStringList lines = DocumentParagraphs(c);
    for (QString &l : lines) l = oneLine(l);
    for (const QString &l : DocumentTableLines(c)) lines.append(oneLine(l));
    return office::buildTabTextDocument(lines, 2);
}

office::ExcelWorkbook BuildListWorkbook(const ListContents &c) {
    office::ExcelWorkbook book = office::ExcelWorkbook::create();
    office::ExcelSheet &sheet = book.activeSheet();
    // Columns as wide as their texts (the caption and heading lines run
    // across the columns and are not measured).
    QHash<int, int> widths;
    for (const SheetCell &cell : SheetCells(c)) {
        if (cell.text.isEmpty()) continue;
        const SheetValue v = sheetValue(cell.text);
        office::ExcelRange range = sheet.cell(cell.row, cell.column);
        if (!v.format.isEmpty()) range.setNumberFormat(v.format);
        range.setValue(v.value);
        if (cell.row > 2) widths[cell.column] = std::max(widths.value(cell.column), int(cell.text.size()));
    }
    for (auto it = widths.cbegin(); it != widths.cend(); ++it)
        sheet.setColumnWidth(it.key(), std::clamp(it.value() + 2, 8, 100));
    return book;
}

QList<SheetCell> SheetCells(const ListContents &c) {
    QList<SheetCell> cells;
    cells.append({1, 1, c.caption});
    cells.append({2, 1, c.heading});
    for (int i = 0; i < c.columns.size(); ++i) cells.append({3, i + 2, c.columns[i]});
    for (int j = 0; j < c.rows.size(); ++j) {
        const QStringList &row = c.rows[j];
        for (int k = 0; k < row.size(); ++k) cells.append({j + 4, k + 2, row[k]});
    }
    return cells;
}

TForm1::TForm1(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form1"));
    // The application title: year, configuration and level.
    setWindowTitle(shared().AppTitle.isEmpty() ? QApplication::applicationDisplayName() : shared().AppTitle);
    setModal(false);
    resize(557, 402);
    if (QScreen *s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());

    auto *box = new QVBoxLayout(this);
    box->setContentsMargins(5, 0, 5, 5);
    m_ui.menuBar = new QMenuBar(this);
    m_ui.menuBar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu *print = m_ui.menuBar->addMenu(QStringLiteral("Печатать"));
    m_ui.printToWord = print->addAction(QStringLiteral("В Word"));
    m_ui.printToExcel = print->addAction(QStringLiteral("В Excel"));
    m_ui.save = m_ui.menuBar->addAction(QStringLiteral("Сохранить"));
    m_ui.exit = m_ui.menuBar->addAction(QStringLiteral("Выход"));
    box->setMenuBar(m_ui.menuBar);

    m_ui.heading = newCaptionLabel(this);
    m_ui.heading->setObjectName(QStringLiteral("Label1"));
    box->addWidget(m_ui.heading);

    m_ui.list = new QTreeWidget(this);
    m_ui.list->setObjectName(QStringLiteral("ListView1"));
    m_ui.list->setRootIsDecorated(false);
    m_ui.list->setUniformRowHeights(true);
    m_ui.list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ui.list->setColumnCount(1);
    m_ui.list->setHeaderLabels({QString()});
    box->addWidget(m_ui.list, 1);

    m_ui.text = new QPlainTextEdit(this);
    m_ui.text->setObjectName(QStringLiteral("Memo1"));
    m_ui.text->hide();

    connect(m_ui.printToWord, &QAction::triggered, this, &TForm1::printListToWord);
    connect(m_ui.printToExcel, &QAction::triggered, this, &TForm1::printListToExcel);
    connect(m_ui.save, &QAction::triggered, this, &TForm1::saveList);
    connect(m_ui.exit, &QAction::triggered, this, &TForm1::exitList);
    // Esc closes the window through QDialog's own reject().
}

void TForm1::ShowTextList(const QStringList &lines, const QString &header) {
    const QStringList columns = SplitHeaderLine(header);
    m_ui.list->clear();
    m_ui.list->setColumnCount(qMax(1, int(columns.size())));
    m_ui.list->setHeaderLabels(columns.isEmpty() ? QStringList{QString()} : columns);
    m_ui.list->header()->setVisible(!columns.isEmpty());
    QList<QTreeWidgetItem *> items;
    items.reserve(lines.size());
    for (const QString &line : lines) items.append(new QTreeWidgetItem(SplitListLine(line, int(columns.size()))));
    m_ui.list->addTopLevelItems(items);
    for (int i = 0; i < m_ui.list->columnCount(); ++i) m_ui.list->resizeColumnToContents(i);
}

void TForm1::setHeading(const QString &text) { m_ui.heading->setText(text); }
QString TForm1::heading() const { return m_ui.heading->text(); }

ListContents TForm1::contents() const {
    ListContents c;
    c.caption = windowTitle();
    c.heading = m_ui.heading->text();
    const int n = m_ui.list->columnCount();
    QTreeWidgetItem *head = m_ui.list->headerItem();
    // A list left with its single unnamed column counts as a list without columns.
    const bool noColumns = n <= 1 && (!head || head->text(0).isEmpty());
    if (!noColumns)
        for (int i = 0; i < n; ++i) c.columns.append(head ? head->text(i) : QString());
    const int cellCount = qMax(1, int(c.columns.size()));
    for (int j = 0; j < m_ui.list->topLevelItemCount(); ++j) {
        QTreeWidgetItem *item = m_ui.list->topLevelItem(j);
        QStringList row;
        for (int k = 0; k < cellCount; ++k) row.append(item->text(k));
        c.rows.append(row);
    }
    return c;
}

void TForm1::printListToWord() {
    try {
        office::WordDocument doc = BuildListDocument(contents());
        office::show(doc, kOutputName);
    } catch (const std::exception &e) {
        showError(winutil::errorText(e), this);
    }
}

void TForm1::printListToExcel() {
    try {
        office::ExcelWorkbook book = BuildListWorkbook(contents());
        office::show(book, kOutputName);
    } catch (const std::exception &e) {
        showError(winutil::errorText(e), this);
    }
}

QStringList ListTextLines(const ListContents &c) { return DocumentParagraphs(c) + DocumentTableLines(c); }

void TForm1::saveList() {
    const QString path = dialogs().saveFile(this, QStringLiteral("Сохранить список"), QString(),
                                            QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*.*)"));
    if (path.isEmpty()) return;
    QString error;
    if (!cp1251::writeLines(path, ListTextLines(contents()), &error))
        showError(QStringLiteral("Не удалось сохранить список в файл «") + path + QStringLiteral("»: ") + error, this);
}

void TForm1::exitList() { close(); }

TForm1 &Form1() { return SharedWindow<TForm1>::get(); }

void ShowTextList(const QStringList &lines, const QString &header) { Form1().ShowTextList(lines, header); }

void ShowTextList(const StringList &lines, const QString &header) { ShowTextList(lines.texts(), header); }
