// Form structure files (engine/FormStructureFile) through the import of the
// catalogue and its gate (forms/structure/FormCatalogLogic, engine/CatalogGate),
// into the sample. Oracles: a file the import takes is exported again with
// the form, every table of the file and its rows, columns and titles as the
// file had them (as every stored text, with a Tab as a blank); that export reads back and imports to itself; nothing else
// of the catalogue changes.
#include "fuzz/Fuzz.h"

#include "engine/CatalogGate.h"
#include "engine/FormStructureFile.h"
#include "engine/TextUtil.h"
#include "forms/structure/FormCatalogLogic.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <algorithm>

namespace {

QString rowCols(QList<frs::RowCol> list) {
    std::sort(list.begin(), list.end(), [](const frs::RowCol &a, const frs::RowCol &b) {
        return a.number != b.number ? a.number < b.number : a.size < b.size;
    });
    QStringList out;
    for (const frs::RowCol &r : list) out << QStringLiteral("%1=%2").arg(r.number).arg(r.size, 0, 'g', 15);
    return out.join(u' ');
}

// The file writes an empty title text as one blank, which reads back so.
QString titleText(const QString &txt) { return txt.isEmpty() ? QStringLiteral(" ") : txt; }

QString titles(const QList<frs::Title> &list, bool asStored) {
    QStringList out;
    for (const frs::Title &t : list)
        out << QStringList{QString::number(t.column), QString::number(t.row), QString::number(t.sc),
                           QString::number(t.sr), QString::number(t.ec), QString::number(t.er), t.fontname,
                           QString::number(t.fontsize), QString::number(t.bold), QString::number(t.italic), t.tchars,
                           titleText(asStored ? t.txt : text::entry(t.txt, text::Field::MultiLine))}
                   .join(u'|');
    out.sort();
    return out.join(u'\n');
}

QString table(const frs::Table &t, bool asStored) {
    return QStringList{asStored ? t.name : text::entry(t.name), QString::number(t.colcount), QString::number(t.rowcount), QString::number(t.fixcols),
                       QString::number(t.fixrows), QString::number(t.floattype), QString::number(t.scan),
                       rowCols(t.rows), rowCols(t.columns), titles(t.titles, asStored)}
        .join(QStringLiteral("\n"));
}

// Everything of the catalogue but the form imported.
QString catalogueBesides(qint64 formId) {
    QStringList out;
    const QSqlDatabase d = db::connection(db::kMain);
    QSqlQuery f = db::exec(d, QStringLiteral("select id, formname, decipher, net, ind from forms where id<>? order by id"),
                           {formId});
    while (f.next())
        for (int i = 0; i < 5; ++i) out << f.value(i).toString();
    QSqlQuery t = db::exec(d,
                           QStringLiteral("select ident, form, tablen, name, colcount, rowcount, fixcols, fixrows "
                                          "from tables where form<>? order by ident"),
                           {formId});
    while (t.next())
        for (int i = 0; i < 8; ++i) out << t.value(i).toString();
    for (const char *what : {"titles", "\"rows\"", "\"columns\""})
        out << db::scalar(d, QStringLiteral("select count(*) from %1 where \"table\" not in "
                                            "(select ident from tables where form=?)")
                                 .arg(QString::fromLatin1(what)),
                          {formId})
                   .toString();
    return out.join(u'|');
}

} // namespace

void fuzz::input(const QByteArray &input) {
    fuzz::sample();
    const QString path = fuzz::writeInput(input, QStringLiteral("input.frs"));
    frs::Form read;
    if (!fuzz::answers("reading a structure file", [&] { read = frs::readFile(path); })) return;
    fuzz::rolledBack("the import of a structure file", [&] {
        const std::optional<gate::FoundForm> existing = gate::findForm(db::connection(db::kMain), read.formname);
        const QString before = catalogueBesides(existing ? existing->id : -1);
        const catalog::ImportResult r = catalog::importFrs(read);
        fuzz::check(r.newForm == !existing && (!existing || existing->id == r.formId),
                    "the import finds the form of that name", read.formname);
        fuzz::check(catalogueBesides(r.formId) == before, "an import changes no other form");
        const QStringList lines = frs::formLines(db::connection(db::kMain), r.formId);
        for (int i = 0; i < lines.size(); ++i)
            fuzz::check(frs::lineFault(lines[i], i == 0).isEmpty(), "the export writes lines that read back", lines[i]);
        const frs::Form back = frs::parse(lines);
        fuzz::check(text::sameName(back.formname, read.formname) && back.decipher == text::entry(read.decipher) &&
                        back.net == read.net,
                    "the form's line comes back",
                    read.formname + u'#' + read.decipher + u'#' + QString::number(read.net) + QStringLiteral("\n  back: ") +
                        back.formname + u'#' + back.decipher + u'#' + QString::number(back.net));
        for (const frs::Table &t : read.tables) {
            const auto it = std::find_if(back.tables.begin(), back.tables.end(),
                                         [&](const frs::Table &b) { return text::sameName(b.tablen, t.tablen); });
            fuzz::check(it != back.tables.end(), "every table of the file comes back", t.tablen);
            fuzz::check(table(*it, true) == table(t, false), "a table comes back as the file had it",
                        t.tablen + QStringLiteral("\n") + table(t, false) + QStringLiteral("\n  back:\n") +
                            table(*it, true));
        }
        // The export imports to itself.
        catalog::importFrs(back);
        fuzz::check(frs::formLines(db::connection(db::kMain), r.formId) == lines, "the export imports to itself");
    }, true);
    return;
}
