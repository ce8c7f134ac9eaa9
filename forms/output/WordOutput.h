#pragma once
// Printed forms: a Word template of the form (forms/<form>.docx, or an old
// .doc through the converter) filled with the stored values by the form's
// cell-mapping file (forms/<form>.txt), a debug print showing where each form
// cell lands, the report copy with headers, print protocol and protection
// kept under Report/, and the protocol alone.
//
// A mapping line holds eight comma-separated fields:
//   wtn,wsc,wsr,mtn,msc,msr,mec,mer
// document table, its first column and row; the form table's number with one
// extra character on either side ("[(1000)]"); first and last form column and
// row as formulas count them (stored column = m + 1, stored row = n +
// fixrows + 1).
#include "engine/WorkModes.h"
#include "platform/Database.h"
#include "platform/office/WordDocument.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

class ProgressSink;
class QWidget;

namespace wordout {

// What is printed: the form, whose values, from which year folder.
struct PrintContext {
    qint64 formId = 0;
    QString formName;
    qint64 institution = 0;
    ValueTable valueTable = ValueTable::None;   // None reads "data"
    QString yearFolder;   // ends with '/'
    QString yearText;
};
// The form with the values of the institution in the open year.
PrintContext currentContext(qint64 formId, const QString &formName, qint64 institution, ValueTable valueTable);

QString formsFolder(const PrintContext &c);    // yearFolder + "forms/"
QString mappingFile(const PrintContext &c);    // forms/<form>.txt
QString templateFile(const PrintContext &c);   // forms/<form>.doc (or the .docx beside it, whichever is newer)
// Which template printing takes when both forms/<form>.doc and .docx are
// there ("Использован шаблон ..."); empty when there is no choice.
QString templateNote(const PrintContext &c);

struct MappingBlock {
    int wtn = 0, wsc = 0, wsr = 0;
    QString mtn;            // as written
    int msc = 0, msr = 0, mec = 0, mer = 0;
    QString key() const;    // mtn without its outer characters: "(1000)"
};

// A line without one of its commas: the message names the field after which
// the comma is missing.
class MappingFormatError : public db::Error {
public:
    using db::Error::Error;
};

// Splits a mapping line. Throws MappingFormatError for a missing comma and
// db::Error for a field that is no integer.
MappingBlock parseMappingLine(const QString &line);

// The document from the template filled by the mapping file with the values
// of the institution (the context's value table). Cells without a stored
// value keep the template's text. Throws db::Error / office::Error.
office::WordDocument FillFormDoc(const PrintContext &c, ProgressSink *gauge = nullptr);

// The debug print: the border of every mapped rectangle and, inside, the
// cells with an even sum of row and column show "<mtn>(<wtn>) стр:<r> гр:<c>".
// Problems are told through the dialog seam line by line; the user may stop.
// Empty when the mapping file or the template cannot be opened.
struct DebugPrint {
    std::optional<office::WordDocument> document;
    bool stopped = false;
};
DebugPrint DebugFormDoc(const PrintContext &c, QWidget *parent, const std::function<void(const QString &)> &label,
                        ProgressSink *gauge = nullptr);

// The print protocol at the end of the document: "Форма в целом" with the
// form's checksum, then every table of the form (by tablen) with its own.
office::WordTable addProtocolTable(office::WordDocument &doc, ValueTable table, qint64 institution, qint64 formId);

// A blank document with the protocol heading, the institution and the table.
office::WordDocument buildProtocolDocument(const PrintContext &c, const QString &unitName);

// Date, blank and time of the header ("06.12.2026 17:05:00"); the time is
// left out at midnight.
QString printStamp(const QDateTime &when);

// <ConfigPath><year>/Report/<form> <unit> #<id> <year>.docx: one copy per
// form, unit (institution or report, by its id) and year, whatever other
// units are called; characters that file names cannot hold are replaced by
// '_'.
QString reportCopyPath(const PrintContext &c, const QString &unitName);
// An existing copy of the report (the .docx, or an old .doc of the same
// name). A copy named without the mark (written before, while no other unit
// had the name) is taken while no other unit of the kind has the name,
// letter case aside, and is renamed to the marked name when it is.
QString existingReportCopy(const PrintContext &c, const QString &unitName);

// The form checksum written into the copy's protocol (its last table).
// Throws db::Error when the cell holds no number.
quint32 protocolChecksum(const office::WordDocument &copy);
// True when the values of the form changed since the copy was printed.
bool reportCopyChanged(const QString &copyPath, const PrintContext &c);

// Fills, adds the header section, protocol and protection and saves the
// report copy. Returns the file written.
QString makeReportCopy(const PrintContext &c, const QString &unitName, const QString &stamp);

// The protection password of report copies.
QString reportPassword();

} // namespace wordout
