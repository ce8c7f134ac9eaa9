// Word documents (platform/office/WordDocument), given as their parts
// (fuzz/Fuzz.h), as the program reads them: the Word import of a table's
// structure (forms/structure/ImportDocLogic) and a print template filled
// with the sample's values (forms/output/WordOutput). Oracles: a document opened and saved opens
// again with the same text, tables and cells; a table's structure keeps its
// cells inside its grid; failures are Russian messages.
#include "fuzz/Fuzz.h"

#include "core/SampleConfig.h"
#include "forms/output/WordOutput.h"
#include "forms/structure/ImportDocLogic.h"
#include "platform/office/WordDocument.h"

#include <QDir>
#include <QFile>

namespace {

QStringList documentText(const office::WordDocument &doc) {
    QStringList out{doc.text(), doc.paragraphs().join(u'\r')};
    out << QString::number(doc.sectionCount());
    for (int i = 1; i <= doc.tableCount(); ++i) {
        const office::WordTable t = doc.table(i);
        out << QStringLiteral("table %1: %2 x %3").arg(i).arg(t.rowCount()).arg(t.columnCount());
        for (const office::GridCell &c : t.gridCells())
            out << QStringLiteral("%1,%2 %3x%4 %5").arg(c.row).arg(c.column).arg(c.rowSpan).arg(c.colSpan).arg(c.text);
    }
    return out;
}

} // namespace

void fuzz::input(const QByteArray &in) {
    const fuzz::Sample &s = fuzz::sample();
    const QString path = fuzz::writePackage(in, QStringLiteral("input.docx"));
    if (path.isEmpty()) return;

    // The Word import: the structure of the first two tables.
    for (int n : {1, 2})
        fuzz::answers("the Word import", [&] {
            const importdoc::DocStructure st = importdoc::ExtractDocTableStructure(path, n);
            fuzz::check(st.cells.size() == qsizetype(st.rows) * st.cols, "a structure has a cell per grid position");
            for (const importdoc::DocCell &c : st.cells)
                if (c.filled)
                    fuzz::check(c.startColumn >= 1 && c.startRow >= 1 && c.startColumn <= c.endColumn &&
                                    c.startRow <= c.endRow && c.endColumn <= st.cols && c.endRow <= st.rows,
                                "a cell of a structure lies inside its grid",
                                QStringLiteral("%1,%2-%3,%4 of %5 x %6").arg(c.startColumn).arg(c.startRow)
                                    .arg(c.endColumn).arg(c.endRow).arg(st.cols).arg(st.rows));
        });

    // The print template of Ф30 filled with a hospital's values.
    const QString year = fuzz::emptyFolder(QStringLiteral("printyear"));
    QDir().mkpath(year + QStringLiteral("forms"));
    QFile::copy(path, year + QStringLiteral("forms/Ф30.docx"));
    QFile::copy(s.yearFolder + QStringLiteral("forms/Ф30.txt"), year + QStringLiteral("forms/Ф30.txt"));
    wordout::PrintContext print =
        wordout::currentContext(sample::ids::FormF30, QStringLiteral("Ф30"), sample::ids::NorthHospital, ValueTable::Data);
    print.yearFolder = year;
    fuzz::answers("printing through a template", [&] { wordout::FillFormDoc(print); });

    // Opened, saved and opened again.
    std::optional<office::WordDocument> doc;
    if (!fuzz::answers("opening a document", [&] { doc.emplace(office::WordDocument::open(path)); })) return;
    const QStringList first = documentText(*doc);
    const QString saved = fuzz::scratch() + QStringLiteral("saved.docx");
    if (!fuzz::answers("saving a document opened", [&] { doc->saveAs(saved); })) return;
    std::optional<office::WordDocument> back;
    fuzz::check(fuzz::answers("opening a document saved", [&] { back.emplace(office::WordDocument::open(saved)); }),
                "a document saved opens again");
    const QStringList again = documentText(*back);
    fuzz::check(again == first, "a document saved opens with what it held",
                first.join(u'\n').left(2000) + QStringLiteral("\n  again:\n") + again.join(u'\n').left(2000));
    return;
}
