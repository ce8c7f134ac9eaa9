#include "forms/output/ExcelOutput.h"

#include "engine/Lookups.h"
#include "engine/ProgressSink.h"
#include "engine/SharedState.h"
#include "engine/SummaryMembers.h"
#include "engine/TextUtil.h"
#include "forms/shared/FormListLogic.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QDir>
#include <QHash>
#include <QFile>
#include <QTemporaryDir>
#include <QSqlQuery>
#include <cmath>
#include <filesystem>

namespace excelout {

int SheetColumnWidth(double points) { return int(std::nearbyint((points - 3.75) / 5.25)); }

namespace {

void formatTitle(office::ExcelRange &r, const QSqlQuery &q) {
    const QString font = q.value(QStringLiteral("fontname")).toString();
    if (!font.isEmpty()) r.setFontName(font);
    const int size = q.value(QStringLiteral("fontsize")).toInt();
    if (size > 0) r.setFontSize(size);
    if (db::storedYes(q.value(QStringLiteral("fontbold")))) r.setBold(true);
    if (db::storedYes(q.value(QStringLiteral("fontitalic")))) r.setItalic(true);
    const QString t = q.value(QStringLiteral("tchars")).toString();
    const QChar c1 = t.size() > 0 ? t[0] : QChar(), c2 = t.size() > 1 ? t[1] : QChar(),
                c3 = t.size() > 2 ? t[2] : QChar(), c4 = t.size() > 3 ? t[3] : QChar();
    if (c1 == u'T') r.setVerticalAlignment(office::VAlign::Top);
    else if (c1 == u'C') r.setVerticalAlignment(office::VAlign::Center);
    else if (c1 == u'B') r.setVerticalAlignment(office::VAlign::Bottom);
    else if (c1 == u'J') r.setVerticalAlignment(office::VAlign::Justify);
    if (c2 == u'L') r.setHorizontalAlignment(office::HAlign::Left);
    else if (c2 == u'C') r.setHorizontalAlignment(office::HAlign::Center);
    else if (c2 == u'R') r.setHorizontalAlignment(office::HAlign::Right);
    else if (c2 == u'J') r.setHorizontalAlignment(office::HAlign::Justify);
    if (c3 == u'1') r.setOrientation(90);
    // Anything but a digit in the fourth place leaves the indent alone.
    if (c4 >= u'0' && c4 <= u'9') r.setIndentLevel(c4.unicode() - u'0');
}

// The members of a report are institutions, whose values are in "Data",
// or (in "Terrain" mode) reports, whose values are in "RepData": the value
// table follows the members, whatever table the window has open.
ValueTable memberValues(MemberKind kind) { return kind == MemberKind::Reports ? ValueTable::RepData : ValueTable::Data; }

} // namespace

void BuildExcelSheet(office::ExcelSheet &sheet, const TableNode &table, qint64 h, const QString &caption,
                     ValueTable values) {
    const QSqlDatabase main = db::connection(db::kMain);
    sheet.setValue(1, 1, caption + QStringLiteral(" - ") + table.text);

    QSqlQuery q = db::exec(main, QStringLiteral("select \"column\", width from \"columns\" where \"table\"=?"),
                           {table.ident});
    while (q.next()) {
        const int column = q.value(0).toInt() + 1;
        if (column >= 1) sheet.setColumnWidth(column, std::max(0, SheetColumnWidth(q.value(1).toDouble())));
    }
    q = db::exec(main, QStringLiteral("select \"row\", height from \"rows\" where \"table\"=?"), {table.ident});
    while (q.next()) {
        const int row = q.value(0).toInt() + 1;
        if (row >= 1) sheet.setRowHeight(row, std::max(0.0, q.value(1).toDouble()));
    }

    q = db::exec(main, QStringLiteral("select * from titles where \"table\"=? order by \"column\", \"row\""),
                 {table.ident});
    while (q.next()) {
        const int row = q.value(QStringLiteral("row")).toInt() + 1;
        const int column = q.value(QStringLiteral("column")).toInt() + 1;
        if (row < 1 || column < 1) continue;
        office::ExcelRange cell = sheet.cell(row, column);
        cell.setNumberFormat(QStringLiteral("@"));
        cell.setWrapText(true);
        cell.setValue(text::decodeLineBreaks(text::decodeColon(q.value(QStringLiteral("txt")).toString())));
        const int sc = q.value(QStringLiteral("union_sc")).toInt(), ec = q.value(QStringLiteral("union_ec")).toInt();
        const int sr = q.value(QStringLiteral("union_sr")).toInt(), er = q.value(QStringLiteral("union_er")).toInt();
        if ((sc != ec || sr != er) && er + 1 >= row && ec + 1 >= column) {
            office::ExcelRange span = sheet.range(row, column, er + 1, ec + 1);
            try {
                span.merge();
                cell = span;
            } catch (const office::Error &) {
                // A span crossing one already merged stays a single cell.
            }
        }
        formatTitle(cell, q);
    }

    q = db::exec(db::connection(db::kData),
                 QStringLiteral("select \"row\", \"column\", data from ") + ValueTableName(values) +
                     QStringLiteral(" where hospital=? and \"table\"=?"),
                 {h, table.ident});
    while (q.next()) {
        const int row = q.value(0).toInt(), column = q.value(1).toInt();
        if (row >= 1 && column >= 1) sheet.setValue(row, column, q.value(2).toDouble());
    }

    const office::RangeRef used = sheet.usedRange();
    sheet.range(2, 2, std::max(2, used.lastRow), std::max(2, used.lastColumn)).setAllBorders();
}

office::ExcelWorkbook ExportFormToExcel(qint64 h, const FormNode &form, const QString &caption, ValueTable values,
                                        const LabelFn &label) {
    office::ExcelWorkbook book = office::ExcelWorkbook::create();
    office::ExcelSheet *previous = nullptr;
    for (const TableNode &t : form.tables) {
        office::ExcelSheet &sheet = previous ? book.addSheetAfter(*previous) : book.addSheet();
        previous = &sheet;
        const QString tablen = formlist::tableNumberOfText(t.text);
        sheet.trySetName(office::fittedSheetName(tablen));
        if (label) label(caption + QStringLiteral(" - ") + tablen);
        BuildExcelSheet(sheet, t, h, caption, values);
    }
    return book;
}

QStringList exportFormPerMember(const QString &folder, const FormNode &form, const QString &includeList,
                                MemberKind kind, const LabelFn &label, ProgressSink &progress,
                                const ReplaceFn &confirmReplace) {
    const QString formName = formlist::formNameOfText(form.text);
    QDir().mkpath(folder);
    const QList<MemberName> members = MemberNames(ResolveMembers(kind, includeList));
    progress.setMax(int(members.size()));
    progress.setPosition(0);
    ProgressPacer pacer(progress);
    // The books are written aside and put in place at the end: "Отмена" leaves
    // the folder as it was.
    QTemporaryDir aside(QDir(folder).filePath(QStringLiteral(".excel-XXXXXX")));
    if (!aside.isValid()) throw AppError(QStringLiteral("Нет доступа к папке ") + QDir::toNativeSeparators(folder));
    // One book per member, named as the group unload names its files: a long
    // name is shortened (the name with its temporary suffixes fits a file
    // name, a long form name with it) and equal names get the member's mark,
    // so no book replaces another.
    QList<QPair<QString, qint64>> named;
    for (const MemberName &m : members)
        if (!m.name.isEmpty()) named.append({m.name, m.id});
    const QStringList stems = transfer::siblingStems(named);
    QHash<qint64, QString> fileOf;
    for (int i = 0; i < named.size(); ++i)
        fileOf.insert(named[i].second,
                      transfer::fittedFileName(formName + QStringLiteral(" - ") + stems[i], QStringLiteral(".xlsx")));
    QStringList names;
    for (const MemberName &m : members) {
        const qint64 id = m.id;
        const QString name = m.name;
        if (!name.isEmpty()) {
            office::ExcelWorkbook book =
                ExportFormToExcel(id, form, name + QStringLiteral(" - ") + formName, memberValues(kind),
                                  [&](const QString &t) {
                    if (label) label(t);
                    progress.setDetailText(t);
                    progress.checkCancelled();
                });
            const QString file = fileOf.value(id);
            book.saveAs(aside.filePath(file));
            names.append(file);
        }
        pacer.step();
    }
    // Books of the same names are replaced only when the user agrees.
    QStringList existing;
    for (const QString &file : names)
        if (QFileInfo::exists(QDir(folder).filePath(file))) existing.append(file);
    if (!existing.isEmpty() && confirmReplace && !confirmReplace(existing)) throw Cancelled();
    // Each book is renamed over the old one: a failure leaves the old book.
    QStringList written;
    for (const QString &file : names) {
        const QString target = QDir(folder).filePath(file);
        std::error_code ec;
        std::filesystem::rename(QFile::encodeName(aside.filePath(file)).toStdString(),
                                QFile::encodeName(target).toStdString(), ec);
        if (ec)
            throw AppError(QStringLiteral("Не удалось записать файл ") + QDir::toNativeSeparators(target) +
                           QStringLiteral(": ") + cp1251::systemReason(ec.value()) +
                           (written.isEmpty() ? QString()
                                              : QStringLiteral(". Записаны: ") + QString::number(written.size()) +
                                                    QStringLiteral(" из ") + QString::number(names.size())));
        written.append(target);
    }
    return written;
}

office::ExcelWorkbook exportTablePerMember(const TableNode &table, const QString &formName,
                                           const QString &includeList, MemberKind kind,
                                           const std::function<QString(const QString &)> &shortName,
                                           const LabelFn &label, ProgressSink &progress) {
    office::ExcelWorkbook book = office::ExcelWorkbook::create();
    const QList<MemberName> members = MemberNames(ResolveMembers(kind, includeList));
    progress.setMax(int(members.size()));
    progress.setPosition(0);
    ProgressPacer pacer(progress);
    for (const MemberName &m : members) {
        const qint64 id = m.id;
        const QString name = m.name;
        if (!name.isEmpty()) {
            office::ExcelSheet &sheet = book.addSheet();
            if (label) label(name);
            progress.setDetailText(name);
            QString sheetName = name.size() > 30 && shortName ? shortName(name) : name;
            // A sheet name another member shares gets the member's mark.
            if (m.marked != name) sheetName = sheetName.left(30 - int(m.marked.size() - name.size())) +
                                              m.marked.mid(name.size());
            // A short name holding what a sheet name cannot is mended here,
            // where the sheet is made; the list keeps it as typed.
            sheet.trySetName(office::fittedSheetName(sheetName));
            BuildExcelSheet(sheet, table, id, name + QStringLiteral(" - ") + formName, memberValues(kind));
        }
        pacer.step();
    }
    return book;
}

} // namespace excelout
