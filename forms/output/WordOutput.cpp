#include "engine/TextUtil.h"
#include "engine/Caches.h"
#include "engine/CellNumbering.h"
#include "engine/TableShape.h"
#include "forms/output/WordOutput.h"

#include "engine/Lookups.h"
#include "engine/Checksums.h"
#include "engine/NumberFormat.h"
#include "engine/ProgressSink.h"
#include "engine/SharedState.h"
#include "engine/SummaryMembers.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "platform/office/Convert.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSqlQuery>

namespace wordout {

namespace {

const QString kLineBreak = QStringLiteral("\n\r");

int toInt(const QString &field) {
    bool ok = false;
    const int v = field.trimmed().toInt(&ok);
    if (!ok) throw db::Error(QStringLiteral("\"") + field + QStringLiteral("\" не является целым числом"));
    return v;
}

QStringList readMapping(const QString &path) {
    QStringList lines;
    QString error;
    if (!cp1251::readLines(path, lines, &error))
        throw db::Error(QStringLiteral("Не удалось открыть файл %1: %2").arg(QDir::toNativeSeparators(path), error));
    return lines;
}

int fixRowsOf(const PrintContext &c, const QString &key) {
    const std::optional<TableShape> g = CachedTableShapeByFormId(c.formId, key);
    if (!g) throw db::Error(QStringLiteral("В форме ") + c.formName + QStringLiteral(" нет таблицы ") + key);
    return g->fixrows;
}

void gaugeStart(ProgressSink *g, int max) {
    if (!g) return;
    g->setMax(max);
    g->setPosition(0);
}

} // namespace

PrintContext currentContext(qint64 formId, const QString &formName, qint64 institution, ValueTable valueTable) {
    const SharedState &s = shared();
    PrintContext c;
    c.formId = formId;
    c.formName = formName;
    c.institution = institution;
    c.valueTable = valueTable;
    c.yearFolder = s.yearFolder();
    c.yearText = s.yearText();
    return c;
}

QString formsFolder(const PrintContext &c) { return c.yearFolder + QStringLiteral("forms/"); }
QString mappingFile(const PrintContext &c) { return formsFolder(c) + c.formName + QStringLiteral(".txt"); }
QString templateFile(const PrintContext &c) { return formsFolder(c) + c.formName + QStringLiteral(".doc"); }
QString templateNote(const PrintContext &c) {
    QString note;
    office::newerTemplate(templateFile(c), QStringLiteral("docx"), &note);
    return note;
}

QString MappingBlock::key() const { return mtn.size() >= 2 ? mtn.mid(1, mtn.size() - 2) : QString(); }

MappingBlock parseMappingLine(const QString &line) {
    static const char *const names[] = {"wsc", "wsr", "mtn", "msc", "msr", "mec"};
    QStringList f;
    int from = 0;
    for (int i = 0; i < 7; ++i) {
        const int comma = int(line.indexOf(QLatin1Char(','), from));
        if (comma < 0) {
            if (i == 0)
                throw MappingFormatError(QStringLiteral("Ошибка: некорректный формат строки в файле: ") + line);
            throw MappingFormatError(QStringLiteral("Ошибка: некорректный формат строки (") +
                                     QLatin1String(names[i - 1]) + QStringLiteral(") в файле"));
        }
        f.append(line.mid(from, comma - from));
        from = comma + 1;
    }
    f.append(line.mid(from));
    MappingBlock b;
    b.wtn = toInt(f[0]);
    b.wsc = toInt(f[1]);
    b.wsr = toInt(f[2]);
    b.mtn = f[3];   // whole: a longer table number is still that table's
    b.msc = toInt(f[4]);
    b.msr = toInt(f[5]);
    b.mec = toInt(f[6]);
    b.mer = toInt(f[7]);
    return b;
}

office::WordDocument FillFormDoc(const PrintContext &c, ProgressSink *gauge) {
    const QStringList lines = readMapping(mappingFile(c));
    office::WordDocument doc = office::WordDocument::fromTemplate(templateFile(c));
    const QSqlDatabase values = db::connection(db::kData);
    const QString valueTable = ValueTableName(c.valueTable);
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty()) continue;
        const MappingBlock b = parseMappingLine(line);
        const QString key = b.key();
        const int fixRows = fixRowsOf(c, key);
        office::WordTable table = doc.table(b.wtn);
        const qint64 ident = GetTableIdentByFormId(c.formId, key);
        const int firstRow = cells::storedRowOfRef(b.msr, fixRows), firstColumn = cells::storedColumnOfRef(b.msc);
        QSqlQuery q = db::exec(values,
                               QStringLiteral("select data, \"row\", \"column\" from ") + valueTable +
                                   QStringLiteral(" where year=? and hospital=? and \"table\"=?"
                                                  " and \"row\">=? and \"row\"<=? and \"column\">=? and \"column\"<=?"
                                                  " order by \"row\", \"column\""),
                               {c.yearText.toInt(), c.institution, ident, firstRow, cells::storedRowOfRef(b.mer, fixRows),
                                firstColumn, cells::storedColumnOfRef(b.mec)});
        QList<std::tuple<int, int, double>> records;
        while (q.next()) records.append({q.value(1).toInt(), q.value(2).toInt(), q.value(0).toDouble()});
        gaugeStart(gauge, int(records.size()));
        int prevRow = -1, prevColumn = -1, done = 0;
        for (const auto &[row, column, value] : records) {
            if (row != prevRow || column != prevColumn)
                table.setCellText(row - firstRow + b.wsr, column - firstColumn + b.wsc, num::general(value));
            prevRow = row;
            prevColumn = column;
            if (gauge) gauge->setPosition(++done);
        }
    }
    return doc;
}

DebugPrint DebugFormDoc(const PrintContext &c, QWidget *parent, const std::function<void(const QString &)> &label,
                        ProgressSink *gauge) {
    DebugPrint out;
    const QString mapping = mappingFile(c);
    QStringList lines;
    if (QString why; !cp1251::readLines(mapping, lines, &why)) {
        showError(QStringLiteral("Ошибка: не удалось открыть файл ") + mapping + QStringLiteral(": ") + why, parent);
        return out;
    }
    try {
        out.document = office::WordDocument::fromTemplate(templateFile(c));
    } catch (const std::exception &) {
        showError(QStringLiteral("Ошибка: не удалось создать документ Word"), parent);
        return out;
    }
    office::WordDocument &doc = *out.document;
    gaugeStart(gauge, int(lines.size()));
    int done = 0;
    const auto askGoOn = [&](const QString &text) {
        if (!dialogs().question(parent, text + QStringLiteral("\r\n\r\nПродолжить обработку?"), QString()))
            out.stopped = true;
    };
    for (const QString &line : lines) {
        if (out.stopped) break;
        if (line.trimmed().isEmpty()) continue;
        try {
            MappingBlock b;
            try {
                b = parseMappingLine(line);
            } catch (const MappingFormatError &e) {
                showError(e.message(), parent);
                continue;
            }
            bool found = false;
            try {
                found = CachedTableShapeByFormId(c.formId, b.key()).has_value();
            } catch (const std::exception &) {
                found = false;
            }
            if (!found) {
                showError(QStringLiteral("Ошибка: не удалось получить размер таблицы ") + b.mtn, parent);
                continue;
            }
            if (label) label(QStringLiteral("Обработка таблицы: ") + b.mtn);
            try {
                office::WordTable table = doc.table(b.wtn);
                for (int r = b.msr; r <= b.mer && !out.stopped; ++r) {
                    for (int col = b.msc; col <= b.mec && !out.stopped; ++col) {
                        const bool border = r == b.msr || r == b.mer || col == b.msc || col == b.mec;
                        if (!border && (r + col) % 2 != 0) continue;
                        const int wordRow = b.wsr - b.msr + r, wordColumn = b.wsc - b.msc + col;
                        try {
                            table.setCellText(wordRow, wordColumn,
                                              b.mtn + QStringLiteral("(") + QString::number(b.wtn) +
                                                  QStringLiteral(")") + QStringLiteral(" стр:") +
                                                  QString::number(r) + QStringLiteral(" гр:") + QString::number(col));
                        } catch (const std::exception &e) {
                            askGoOn(QStringLiteral("Ошибка при заполнении ячейки (таблица ") + QString::number(b.wtn) +
                                    QStringLiteral(", строка ") + QString::number(wordRow) +
                                    QStringLiteral(", столбец ") + QString::number(wordColumn) +
                                    QStringLiteral("): ") + winutil::errorText(e));
                        }
                    }
                }
            } catch (const std::exception &e) {
                showError(QStringLiteral("Ошибка при заполнении таблицы ") + b.mtn + QStringLiteral(": ") +
                              winutil::errorText(e),
                          parent);
                continue;
            }
            if (!out.stopped && gauge) gauge->setPosition(++done);
        } catch (const std::exception &e) {
            askGoOn(QStringLiteral("Ошибка при обработке строки файла: ") + winutil::errorText(e));
        }
    }
    if (out.stopped) {
        showMessage(QStringLiteral("Обработка прервана пользователем"), parent);
        if (label) label(QStringLiteral("Обработка прервана"));
    }
    return out;
}

office::WordTable addProtocolTable(office::WordDocument &doc, ValueTable table, qint64 institution, qint64 formId) {
    office::WordTable t = doc.addTable(1, 2);
    t.setCellText(1, 1, QStringLiteral("Форма в целом"));
    t.setCellText(1, 2, QString::number(FormDataChecksum(table, institution, formId)));
    QSqlQuery q = db::exec(db::connection(db::kMain),
                           QStringLiteral("select tablen, ident from tables where form = ? order by tablen"), {formId});
    int k = 1;
    while (q.next()) {
        t.addRow();
        ++k;
        t.setCellText(k, 1, q.value(0).toString());
        t.setCellText(k, 2, QString::number(TableDataChecksum(table, institution, q.value(1).toLongLong())));
    }
    return t;
}

office::WordDocument buildProtocolDocument(const PrintContext &c, const QString &unitName) {
    office::WordDocument doc = office::WordDocument::createBlank();
    doc.insertBefore(QStringLiteral("Протокол печати ") + c.formName + kLineBreak);
    doc.insertAfter(QStringLiteral("Учреждение - ") + unitName + kLineBreak);
    addProtocolTable(doc, c.valueTable, c.institution, c.formId);
    return doc;
}

QString printStamp(const QDateTime &when) {
    QString stamp = text::shortDate(when.date());
    if (when.time() != QTime(0, 0)) stamp += QLatin1Char(' ') + text::longTime(when.time());
    return stamp;
}

namespace {

MemberKind unitKind(const PrintContext &c) {
    return c.valueTable == ValueTable::RepData ? MemberKind::Reports : MemberKind::Institutions;
}

QString reportFolder(const PrintContext &c) { return c.yearFolder + QStringLiteral("Report/"); }

QString copyName(const PrintContext &c, const QString &unit) {
    return transfer::fittedFileName(c.formName + QLatin1Char(' ') + unit + QLatin1Char(' ') + c.yearText,
                                    QStringLiteral(".docx"));
}

// The .docx, or an old .doc of the same name.
QString existingDocOrDocx(const QString &docx) {
    if (QFileInfo::exists(docx)) return docx;
    const QString doc = docx.left(docx.size() - 1);
    return QFileInfo::exists(doc) ? doc : QString();
}

} // namespace

QString reportCopyPath(const PrintContext &c, const QString &unitName) {
    return reportFolder(c) + copyName(c, unitName + QStringLiteral(" #") + QString::number(c.institution));
}

QString existingReportCopy(const PrintContext &c, const QString &unitName) {
    // Copies named with the unit's mark: every copy written now, and those
    // written before while another unit shared the name.
    if (const QString marked = existingDocOrDocx(reportCopyPath(c, unitName)); !marked.isEmpty()) return marked;
    // A copy named without the mark was written while no other unit had the
    // name. It is this unit's only while that still holds; then it takes the
    // mark, so that a namesake added later neither loses it nor finds it.
    const QString plain = existingDocOrDocx(reportFolder(c) + copyName(c, unitName));
    if (plain.isEmpty() || MarkedUnitName(unitKind(c), c.institution, unitName) != unitName) return QString();
    const QString markedDocx = reportCopyPath(c, unitName);
    const QString marked = plain.endsWith(QStringLiteral(".docx")) ? markedDocx : markedDocx.chopped(1);
    return QFile::rename(plain, marked) ? marked : plain;
}

quint32 protocolChecksum(const office::WordDocument &copy) {
    const int n = copy.tableCount();
    if (n < 1) throw db::Error(QStringLiteral("В отчетной копии формы нет протокола печати"));
    const QString text = copy.table(n).cellText(1, 2).trimmed();
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok)
        throw db::Error(QStringLiteral("Контрольная сумма \"") + text +
                        QStringLiteral("\" в протоколе печати не является числом"));
    return quint32(quint64(value) & 0xFFFFFFFFu);
}

bool reportCopyChanged(const QString &copyPath, const PrintContext &c) {
    const office::WordDocument copy = office::WordDocument::open(copyPath);
    return protocolChecksum(copy) != FormDataChecksum(c.valueTable, c.institution, c.formId);
}

QString reportPassword() { return QStringLiteral("Formaprotek"); }

QString makeReportCopy(const PrintContext &c, const QString &unitName, const QString &stamp) {
    const QString title = c.formName + QLatin1Char(' ') + unitName + QLatin1Char(' ') + c.yearText;
    office::WordDocument doc = FillFormDoc(c);
    doc.addSectionNewPage();
    const QString header = title + QLatin1Char(' ') + stamp;
    for (int i = 1; i <= doc.sectionCount(); ++i) {
        office::WordSection s = doc.section(i);
        s.setHeaderText(office::HeaderKind::Primary, header);
        s.setHeaderAlignment(office::HeaderKind::Primary, office::ParaAlign::Left);
        s.setHeaderFontSize(office::HeaderKind::Primary, 10);
        s.addPageNumbers(office::HeaderKind::Primary, office::ParaAlign::Right, true);
        s.setHeaderText(office::HeaderKind::FirstPage, header);
        s.setHeaderText(office::HeaderKind::EvenPages, header);
        s.setHeaderDistance(15);
    }
    office::WordSection last = doc.section(doc.sectionCount());
    last.setNormalStyle();
    last.setOrientation(office::Orientation::Portrait);
    last.insertBefore(QStringLiteral("Протокол печати ") + c.formName + kLineBreak);
    last.insertAfter(QStringLiteral("Внимание! Данный протокол является неотъемлемой частью печатной формы при ее "
                                    "сдаче вышестоящей организации!") +
                     kLineBreak);
    last.insertAfter(QStringLiteral("Учреждение - ") + unitName + kLineBreak);
    addProtocolTable(doc, c.valueTable, c.institution, c.formId);
    doc.protectReadOnly(reportPassword());
    const QString path = reportCopyPath(c, unitName);
    QDir().mkpath(QFileInfo(path).absolutePath());
    doc.saveAs(path);
    return path;
}

} // namespace wordout
