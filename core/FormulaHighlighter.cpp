#include "core/FormulaHighlighter.h"
#include "engine/CellNumbering.h"
#include "engine/EngineError.h"
#include "engine/FormulaParser.h"
#include "engine/Lookups.h"
#include "engine/Caches.h"
#include "engine/TableShape.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QSqlRecord>
#include <QTextCursor>
#include <QTextEdit>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kArrow = QStringLiteral(" -> ");
const QString kPreviousSeparator = QStringLiteral("--- Расшифровка из прошлого года ---");

// The lines of a list in stored numbering (reference number + offset),
// clipped to low..high; a list naming more lines than that gives its ranges.
void expandList(const QString &segment, qint64 low, qint64 high, int offset, const QString &what, QStringList &lines,
                QString &ranges) {
    const std::optional<notation::NumberItems> items = notation::ReadNumberItems(segment);
    if (!items)
        throw ConversionError(QStringLiteral("Ошибка при обработке диапазона %1 \"%2\"").arg(what, segment) +
                              QStringLiteral(": неполный или некорректный диапазон (например, \"68..\" без конечного "
                                             "значения)"));
    const qint64 most = std::max<qint64>(high - low + 1, 1);
    qint64 count = 0;
    if (!notation::VisitClipped(*items, low, high, [&](qint64) { return ++count <= most; })) {
        ranges = notation::ClippedListText(*items, low, high);
        return;
    }
    notation::VisitClipped(*items, low, high, [&](qint64 v) {
        lines << QString::number(v + offset);
        return true;
    });
}

// A title text as one line: the stored colon code decoded, line breaks as blanks.
QString titleText(const QVariant &v) {
    QString t = text::decodeColon(v.toString());
    t.replace(QLatin1String("\r\n"), QLatin1String(" "));
    t.replace(u'\r', u' ');
    t.replace(u'\n', u' ');
    return t.trimmed();
}

QString joinTitlePath(const QStringList &texts) {
    QStringList path;
    for (const QString &t : texts) {
        if (t.isEmpty()) continue;
        if (!path.isEmpty() && path.last() == t) continue;   // a merged cell met twice
        path.append(t);
    }
    return path.join(kArrow);
}

struct TitleRecord {
    int column, row, sc, sr, ec, er;
    QString txt;
};

QList<TitleRecord> readTitles(const QSqlDatabase &d, qint64 table, const QString &limit, int bound,
                              const QString &order) {
    QSqlQuery q = db::exec(d, QStringLiteral("select \"column\", \"row\", union_sc, union_sr, union_ec, union_er, txt "
                                             "from titles where \"table\"=? and %1 <= ? order by %2")
                                  .arg(limit, order),
                           {table, bound});
    QList<TitleRecord> out;
    while (q.next())
        out.append({q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt(),
                    q.value(4).toInt(), q.value(5).toInt(), titleText(q.value(6))});
    return out;
}

bool fixedOf(const QSqlDatabase &d, qint64 table, int &fixCols, int &fixRows) {
    const std::optional<TableShape> shape = FindTableShape(d, table);
    if (!shape) return false;
    fixCols = shape->fixcols;
    fixRows = shape->fixrows;
    return true;
}

void setBase(QTextEdit *view, const QColor &color) {
    if (!view) return;
    QPalette p = view->palette();
    p.setColor(QPalette::Base, color);
    view->setPalette(p);
}

QColor windowColor(QWidget *w) { return QApplication::palette(w).color(QPalette::Base); }

} // namespace

// ---- Finding references ---------------------------------------------------

QList<ReferenceSpan> ScanReferences(const QString &text) {
    const QString up = notation::Upper(text);
    QList<ReferenceSpan> spans;
    for (const notation::Part &p : notation::FindReferences(up))
        spans.append({int(p.at), int(p.end), SquareTableBrackets(p.in(up).toString())});
    return spans;
}

// ---- Decipher ------------------------------------------------------------

ParsedReference ParseReference(const QString &reference) {
    ParsedReference r;
    const ReferenceParts parts = CutReferenceParts(SquareTableBrackets(reference.trimmed().toUpper()));
    r.formId = parts.hasForm ? GetFormIdByName(parts.form) : -1;
    if (parts.hasTable && r.formId > 0) {
        r.tableId = GetTableIdentByFormId(r.formId, parts.table);
        if (r.tableId > 0) r.geometry = CachedTableShapeByFormId(r.formId, parts.table).value_or(TableShape());
    }
    if (r.tableId >= 1) {
        const TableShape &g = r.geometry;
        if (!parts.rows.trimmed().isEmpty())
            expandList(parts.rows.trimmed(), cells::refRowOfGrid(0), g.dataRows(), cells::storedRowOfRef(0, g.fixrows),
                       QStringLiteral("строк"), r.rows, r.rowRanges);
        if (!parts.columns.trimmed().isEmpty())
            expandList(parts.columns.trimmed(), cells::refColumnOfGrid(0, g.fixcols), g.colcount,
                       cells::storedColumnOfRef(0), QStringLiteral("граф"), r.columns, r.columnRanges);
    }
    return r;
}

QString GetFormCaption(qint64 formId, const QSqlDatabase &database) {
    QSqlQuery q = db::exec(database, QStringLiteral("select formname, decipher from forms where id=?"), {formId});
    if (!q.next()) return QString();
    return q.value(0).toString() + QStringLiteral(" - ") + q.value(1).toString();
}

QString GetTableCaption(qint64 tableId, const QSqlDatabase &database) {
    QSqlQuery q = db::exec(database, QStringLiteral("select tablen, name from tables where ident=?"), {tableId});
    if (!q.next()) return QString();
    return q.value(0).toString() + QStringLiteral(" - ") + q.value(1).toString();
}

namespace {

// The texts of the header cells over one grid line: for a data row, the
// header columns 1..fixed at that row; for a data column, the header rows
// 1..fixed at that column. A cell counts where it starts or where its span
// covers the position.
QString titlePathFrom(const QList<TitleRecord> &titles, int line, int fixed, bool acrossColumns) {
    QStringList texts;
    for (int k = 1; k <= fixed; ++k) {
        const int column = acrossColumns ? k : line;
        const int row = acrossColumns ? line : k;
        for (const TitleRecord &t : titles) {
            const bool at = t.column == column && t.row == row;
            const bool covers = t.sc <= column && column <= t.ec && t.sr <= row && row <= t.er;
            if (at || covers) {
                texts.append(t.txt);
                break;
            }
        }
    }
    return joinTitlePath(texts);
}

QString rowPathFrom(const QList<TitleRecord> &titles, int storedRow, int fixCols) {
    return titlePathFrom(titles, cells::structOfStored(storedRow), fixCols, true);
}

QString columnPathFrom(const QList<TitleRecord> &titles, int storedColumn, int fixRows) {
    return titlePathFrom(titles, cells::structOfStored(storedColumn), fixRows, false);
}

QList<TitleRecord> rowHeaderTitles(const QSqlDatabase &d, qint64 table, int fixCols) {
    if (fixCols <= 0) return {};
    return readTitles(d, table, QStringLiteral("\"column\""), fixCols, QStringLiteral("\"column\", \"row\""));
}

QList<TitleRecord> columnHeaderTitles(const QSqlDatabase &d, qint64 table, int fixRows) {
    if (fixRows <= 0) return {};
    return readTitles(d, table, QStringLiteral("\"row\""), fixRows, QStringLiteral("\"row\", \"column\""));
}

} // namespace

QString BuildDecipher(const QString &reference, const QSqlDatabase *database) {
    if (reference.trimmed().isEmpty()) return QString();
    const ParsedReference p = ParseReference(reference);
    const QSqlDatabase current = db::connection(db::kMain);
    const QSqlDatabase &d = database ? *database : current;

    const int currentFixRows = p.geometry.fixrows;
    int fixRows = currentFixRows;
    int fixCols = p.geometry.fixcols;
    if (database && p.tableId >= 1) fixedOf(d, p.tableId, fixCols, fixRows);

    QString out;
    const QString form = p.formId >= 1 ? GetFormCaption(p.formId, d) : QString();
    if (!form.isEmpty())
        out += QStringLiteral("Форма: ") + form + kCrLf;
    else
        out += QStringLiteral("Форма: не найдена (FormId=%1)").arg(p.formId) + kCrLf;

    const QString table = p.tableId >= 1 ? GetTableCaption(p.tableId, d) : QString();
    if (table.isEmpty()) {
        out += QStringLiteral("Таблица: не найдена (TableId=%1, FormId=%2)").arg(p.tableId).arg(p.formId) + kCrLf;
        return out;
    }
    out += QStringLiteral("Таблица: ") + table + kCrLf;

    // The header titles are read once for all rows and once for all columns.
    const QList<TitleRecord> rowTitles = p.rows.isEmpty() ? QList<TitleRecord>() : rowHeaderTitles(d, p.tableId, fixCols);
    QStringList rowLines;
    for (const QString &item : p.rows) {
        bool ok = false;
        int n = item.trimmed().toInt(&ok);
        if (!ok) continue;
        if (database && fixRows != currentFixRows)
            n = cells::storedRowOfRef(cells::refRowOfStored(n, currentFixRows), fixRows);
        QString line = QStringLiteral("  стр.") + QString::number(cells::refRowOfStored(n, fixRows));
        const QString path = rowPathFrom(rowTitles, n, fixCols);
        if (!path.isEmpty()) line += u' ' + path;
        rowLines.append(line);
    }
    if (!p.rowRanges.isEmpty()) rowLines.append(QStringLiteral("  стр.") + p.rowRanges);
    if (!rowLines.isEmpty()) out += QStringLiteral("Строки:") + kCrLf + rowLines.join(kCrLf) + kCrLf;

    int columnFixCols = 0, columnFixRows = 0;
    QList<TitleRecord> columnTitles;
    if (!p.columns.isEmpty() && fixedOf(d, p.tableId, columnFixCols, columnFixRows))
        columnTitles = columnHeaderTitles(d, p.tableId, columnFixRows);
    QStringList columnLines;
    for (const QString &item : p.columns) {
        bool ok = false;
        const int c = item.trimmed().toInt(&ok);
        if (!ok) continue;
        QString line = QStringLiteral("  гр.") + QString::number(c - 1);
        const QString path = columnPathFrom(columnTitles, c, columnFixRows);
        if (!path.isEmpty()) line += u' ' + path;
        columnLines.append(line);
    }
    if (!p.columnRanges.isEmpty()) columnLines.append(QStringLiteral("  гр.") + p.columnRanges);
    if (!columnLines.isEmpty()) out += QStringLiteral("Графы:") + kCrLf + columnLines.join(kCrLf) + kCrLf;
    return out;
}

int ComparisonYear() {
    int year = shared().Year;
    if (year <= 0) {
        year = IniFile(paths::settingsFile()).readInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"), -1);
        if (year == -1) year = QDate::currentDate().year();
    }
    return year - 1;
}

// ---- Rendering -------------------------------------------------------------

void RenderDecipherInto(QTextEdit *view, const QString &decipher, bool previousView) {
    if (!view) return;
    QString t = decipher;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(u'\r', u'\n');
    while (t.contains(QLatin1String("  "))) t.replace(QLatin1String("  "), QLatin1String(" "));
    while (t.contains(QLatin1String("\n\n"))) t.replace(QLatin1String("\n\n"), QLatin1String("\n"));
    while (t.contains(QLatin1String(" \n")) || t.contains(QLatin1String("\n ")))
        t.replace(QLatin1String(" \n"), QLatin1String("\n")).replace(QLatin1String("\n "), QLatin1String("\n"));
    t = t.trimmed();

    const QColor textColor = view->palette().color(QPalette::Text);
    QTextCharFormat normal;
    normal.setFontWeight(QFont::Normal);
    normal.setForeground(textColor);
    QTextCharFormat section = normal;
    section.setFontWeight(QFont::Bold);
    section.setForeground(previousView ? QColor(128, 0, 0) : QColor(0, 0, 128));
    QTextCharFormat arrow = normal;
    arrow.setFontWeight(QFont::Bold);
    QTextCharFormat separator = normal;
    separator.setFontWeight(QFont::Bold);
    separator.setForeground(QColor(128, 0, 0));

    struct Mark {
        QString text;
        const QTextCharFormat *format;
    };
    QList<Mark> marks = {{QStringLiteral("Форма:"), &section},   {QStringLiteral("Таблица:"), &section},
                         {QStringLiteral("Строки:"), &section},  {QStringLiteral("Графы:"), &section},
                         {kArrow, &arrow}};
    if (!previousView) marks.append({kPreviousSeparator, &separator});

    view->clear();
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    QString run;
    auto flush = [&] {
        if (!run.isEmpty()) cursor.insertText(run, normal);
        run.clear();
    };
    for (int i = 0; i < t.size();) {
        if (t[i] == u'\n') {
            flush();
            cursor.insertText(QStringLiteral("\n"), normal);
            ++i;
            continue;
        }
        const Mark *hit = nullptr;
        for (const Mark &m : marks)
            if (QStringView(t).mid(i).startsWith(m.text)) {
                hit = &m;
                break;
            }
        if (hit) {
            flush();
            cursor.insertText(hit->text, *hit->format);
            i += int(hit->text.size());
        } else {
            run += t[i++];
        }
    }
    flush();
}

// ---- TFormulaHighlighter -----------------------------------------------------

TFormulaHighlighter::TFormulaHighlighter(QWidget *edit, QTextEdit *view) : m_edit(edit), m_view(view) {}

TFormulaHighlighter::~TFormulaHighlighter() {
    m_edit = nullptr;
    m_view = nullptr;
    // The companion view belongs to the view's window, which frees it.
}

QString TFormulaHighlighter::ReferenceAt(const QString &text, int caret) {
    for (const ReferenceSpan &span : ScanReferences(text))
        if (span.start <= caret && caret <= span.end) return span.text;
    return QString();
}

QStringList TFormulaHighlighter::ExtractReferences(const QString &expression) const {
    QStringList out;
    for (const ReferenceSpan &span : ScanReferences(expression))
        if (!span.text.isEmpty()) out.append(span.text);
    return out;
}

QString TFormulaHighlighter::GetDecipher(const QString &reference) const { return BuildDecipher(reference); }

QString TFormulaHighlighter::GetPreviousYearDecipher(const QString &reference, int year,
                                                     const QString &configFolder) const {
    const QString path = paths::withSlash(configFolder) + QString::number(year) + QStringLiteral("/orvmain.mdb");
    if (!QFileInfo(path).isFile()) return QStringLiteral("База данных прошлого года не найдена: ") + path;
    try {
        db::ScopedConnection previous(path, db::OpenMode::ReadOnly, QStringLiteral("dbmain_prev"));
        const QSqlDatabase d = previous.db();
        return BuildDecipher(reference, &d);
    } catch (const std::exception &e) {
        return QStringLiteral("Ошибка при получении расшифровки из предыдущего года: ") + winutil::errorText(e);
    }
}

namespace {

// The previous year's decipher of the reference; true when it matches current.
bool matchesPreviousYear(const TFormulaHighlighter &h, const QString &reference, const QString &current,
                         QString &previous) {
    try {
        previous = h.GetPreviousYearDecipher(reference, ComparisonYear(), shared().ConfigPath);
    } catch (const std::exception &e) {
        previous = QStringLiteral("Ошибка: ") + winutil::errorText(e);
    }
    return TFormulaHighlighter::NormalizeDecipher(current).trimmed()
           == TFormulaHighlighter::NormalizeDecipher(previous).trimmed();
}

} // namespace

bool TFormulaHighlighter::CompareWithPreviousYear(const QString &reference, QString &current, QString &previous,
                                                  bool &same) const {
    same = false;
    if (shared().ConfigPath.isEmpty()) return false;
    bool ok = true;
    try {
        current = GetDecipher(reference);
    } catch (const std::exception &e) {
        current = QStringLiteral("Ошибка: ") + winutil::errorText(e);
        ok = false;
    }
    same = matchesPreviousYear(*this, reference, current, previous);
    return ok;
}

QString TFormulaHighlighter::NormalizeDecipher(const QString &decipher) {
    QString t = decipher;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QStringList lines = t.split(u'\n');
    int from = -1;
    for (int i = 0; i < lines.size() && from < 0; ++i)
        if (lines[i].contains(QStringLiteral("Строки:"))) from = i;
    for (int i = 0; i < lines.size() && from < 0; ++i)
        if (lines[i].contains(QStringLiteral("Графы:"))) from = i;
    if (from < 0) return QString();
    QStringList out;
    for (int i = from; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.contains(QStringLiteral("  стр.")) && line.contains(kArrow)) line = line.left(line.lastIndexOf(kArrow));
        out.append(line);
    }
    return out.join(kCrLf);
}

QTextEdit *TFormulaHighlighter::ensurePreviousYearView() {
    if (m_previousView) return m_previousView;
    if (!m_view) return nullptr;
    QWidget *parent = m_view->parentWidget();
    if (!parent) return nullptr;
    const QString name = m_view->objectName() + QStringLiteral("_PreviousYear");
    if (!m_view->objectName().isEmpty()) {
        if (auto *found = m_view->window()->findChild<QTextEdit *>(name)) {
            m_previousView = found;
            return found;
        }
    }
    auto *pv = new QTextEdit;
    pv->setObjectName(name);
    pv->setReadOnly(true);
    pv->setFrameShape(m_view->frameShape());
    pv->setFrameShadow(m_view->frameShadow());
    pv->setHorizontalScrollBarPolicy(m_view->horizontalScrollBarPolicy());
    pv->setVerticalScrollBarPolicy(m_view->verticalScrollBarPolicy());
    setBase(pv, kDecipherPreviousColor);
    // The two halves are of one height, the view's, so that nothing around
    // them moves when the previous year's half appears.
    pv->setMinimumHeight(m_view->minimumHeight());
    pv->setMaximumHeight(m_view->maximumHeight());
    QSizePolicy policy = pv->sizePolicy();
    policy.setVerticalPolicy(m_view->sizePolicy().verticalPolicy());
    policy.setVerticalStretch(m_view->sizePolicy().verticalStretch());
    pv->setSizePolicy(policy);
    pv->hide();

    QLayout *layout = parent->layout();
    auto *splitter = qobject_cast<QSplitter *>(parent);
    if ((layout && layout->indexOf(m_view) >= 0) || (splitter && splitter->indexOf(m_view) >= 0)) {
        // The view and its companion share one row in the view's place.
        const bool viewHidden = m_view->isHidden();
        auto *box = new QWidget;
        box->setObjectName(name + QStringLiteral("_Box"));
        auto *row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        if (splitter) {
            splitter->replaceWidget(splitter->indexOf(m_view), box);
        } else {
            box->setParent(parent);
            delete layout->replaceWidget(m_view, box);
        }
        row->addWidget(m_view, 1);
        row->addWidget(pv, 1);
        m_view->setVisible(!viewHidden);
        box->show();
        m_madeLayout = true;
    } else {
        pv->setParent(parent);
        m_viewGeometry = m_view->geometry();
        pv->setGeometry(m_viewGeometry);
    }
    m_previousView = pv;
    return pv;
}

void TFormulaHighlighter::showSideBySide(bool on) {
    QTextEdit *pv = m_previousView;
    if (!pv || !m_view) return;
    if (on) {
        if (!m_madeLayout) {
            const QRect g = m_viewGeometry;
            m_view->setGeometry(g.x(), g.y(), g.width() / 2, g.height());
            pv->setGeometry(g.x() + g.width() / 2, g.y(), g.width() - g.width() / 2, g.height());
        }
        pv->show();
    } else {
        pv->hide();
        if (!m_madeLayout) m_view->setGeometry(m_viewGeometry);
    }
}

void TFormulaHighlighter::hideView() {
    if (!m_view) return;
    m_view->clear();
    setBase(m_view, windowColor(m_view));
    m_view->hide();
    showSideBySide(false);
}

void TFormulaHighlighter::ShowDecipher(const QString &reference, const QString &decipher) {
    if (!m_view) return;
    m_view->clear();
    if (m_previousView) m_previousView->clear();

    // The current decipher is the one given; only the previous year's is read here.
    const QString &current = decipher;
    QString previous;
    const bool compared = !shared().ConfigPath.isEmpty();
    const bool same = !compared || matchesPreviousYear(*this, reference, current, previous);
    const bool differ = compared && !same && !previous.contains(QStringLiteral("не найдена"));

    if (differ) {
        setBase(m_view, kDecipherCurrentDiffColor);
        if (QTextEdit *pv = ensurePreviousYearView()) {
            setBase(pv, kDecipherPreviousColor);
            showSideBySide(true);
            RenderDecipherInto(m_view, current, false);
            RenderDecipherInto(pv, previous, true);
        } else {
            RenderDecipherInto(m_view, current + kCrLf + kCrLf + kPreviousSeparator + kCrLf + previous, false);
        }
    } else {
        setBase(m_view, windowColor(m_view));
        showSideBySide(false);
        RenderDecipherInto(m_view, decipher, false);
    }
    m_view->show();
}

void TFormulaHighlighter::ShowError(const QString &message) {
    if (!m_view) return;
    m_view->clear();
    setBase(m_view, kDecipherErrorColor);
    m_view->setPlainText(QStringLiteral("Ошибка: ") + message);
    m_view->show();
    showSideBySide(false);
}

void TFormulaHighlighter::Update() {
    int caret = 0;
    if (auto *line = qobject_cast<QLineEdit *>(m_edit.data()))
        caret = line->hasSelectedText() ? line->selectionStart() : line->cursorPosition();
    else if (auto *plain = qobject_cast<QPlainTextEdit *>(m_edit.data()))
        caret = plain->textCursor().selectionStart();
    else if (auto *rich = qobject_cast<QTextEdit *>(m_edit.data()))
        caret = rich->textCursor().selectionStart();
    UpdateAt(caret);
}

void TFormulaHighlighter::UpdateAt(int caret) {
    if (!m_view || !m_edit) return;
    try {
        QString text;
        if (auto *line = qobject_cast<QLineEdit *>(m_edit.data()))
            text = line->text();
        else if (auto *plain = qobject_cast<QPlainTextEdit *>(m_edit.data()))
            text = plain->toPlainText();
        else if (auto *rich = qobject_cast<QTextEdit *>(m_edit.data()))
            text = rich->toPlainText();
        const QString reference = ReferenceAt(text, caret);
        const QString decipher = reference.isEmpty() ? QString() : GetDecipher(reference);
        if (decipher.isEmpty()) {
            hideView();
            return;
        }
        ShowDecipher(reference, decipher);
    } catch (const std::exception &e) {
        ShowError(winutil::errorText(e));
    } catch (...) {
        ShowError(QStringLiteral("непредвиденная ошибка"));
    }
}
