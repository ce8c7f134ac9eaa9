// The external control book (controls/Zenkor*) imported into the sample with
// a code map that renumbers rows and columns. Oracles: the import fails with
// nothing else than a Russian message; every rule it stores passes the rule
// check and, run on the sample's values, reports lines whose sides are
// numbers; a book of which no line is stored leaves the earlier import.
#include "fuzz/Fuzz.h"

#include "controls/ZenkorImporter.h"
#include "core/SampleConfig.h"
#include "engine/LinksDb.h"
#include "engine/Notation.h"
#include "engine/RuleCheck.h"
#include "engine/RuleEngine.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// Links.mdb: form 30000 is Ф30; book table 1000 is (1000) with rows 11-15 and
// columns 1-4 for rows 1-5 and columns 4-7; book table 2108 is (2000) with
// rows 21-23 and columns 1-2 for rows 1-3 and columns 4-5.
const QString &linksFile() {
    static QString path;
    if (!path.isEmpty()) return path;
    path = fuzz::sample().yearFolder + QStringLiteral("Links.mdb");
    links::createLinksDatabase(path);
    db::ScopedConnection c(path, db::OpenMode::ReadWrite);
    const QSqlDatabase d = c.db();
    db::exec(d, QStringLiteral("insert into forms (nf, mf) values ('Ф30', '30000')"));
    const struct {
        QString code, table;
        int firstRow, rows, firstColumn, columns;
    } tables[] = {{QStringLiteral("1000"), QStringLiteral("Ф30(1000)"), 11, 5, 4, 4},
                  {QStringLiteral("2108"), QStringLiteral("Ф30(2000)"), 21, 3, 4, 2}};
    for (const auto &t : tables) {
        const QString msk = QStringLiteral("30000") + t.code;
        db::exec(d, QStringLiteral("insert into tables (msk, orv) values (?, ?)"), {msk, t.table});
        for (int i = 0; i < t.rows; ++i)
            db::exec(d, QStringLiteral("insert into \"rows\" values (?, ?)"),
                     {msk + QString::number(t.firstRow + i).rightJustified(3, u'0'), i + 1});
        for (int i = 0; i < t.columns; ++i)
            db::exec(d, QStringLiteral("insert into cols values (?, ?)"),
                     {msk + QString::number(i + 1).rightJustified(2, u'0'), t.firstColumn + i});
    }
    return path;
}

QStringList importedRows() {
    QStringList out;
    QSqlQuery q = db::exec(db::connection(db::kMain), QStringLiteral("select * from zenkor_controls order by rowid"));
    while (q.next()) {
        QStringList f;
        for (int i = 0; i < q.record().count(); ++i) f << q.value(i).toString();
        out << f.join(u'|');
    }
    return out;
}

} // namespace

void fuzz::input(const QByteArray &input) {
    const QString links = linksFile();
    const QString path = fuzz::writeInput(input, QStringLiteral("book.txt"));
    fuzz::rolledBack("the import of a control book", [&] {
        NameValueList codes;
        codes.setValue(QStringLiteral("30000"), QStringLiteral("Ф30"));
        TControlMatchImporter importer(db::kMain, &codes, false, links);
        importer.EnsureControlsTable();
        // An earlier import that a book storing nothing must leave.
        db::exec(db::connection(db::kMain), QStringLiteral("delete from zenkor_controls"));
        db::exec(db::connection(db::kMain),
                 QStringLiteral("insert into zenkor_controls (original_line, zenkor_id, lft, rght, reltion, cycl, "
                                "commnt, project_formid, project_tble, control_type) "
                                "values ('earlier', '010000010000', 'СТР1ГР4', '0', '>=', '', '', 1, '(1000)', 0)"));
        const QStringList earlier = importedRows();
        const int stored = importer.ImportControls(path, nullptr);
        if (stored == 0) {
            fuzz::check(importedRows() == earlier, "a book that stores nothing leaves the earlier import");
            return;
        }
        const QSqlDatabase mainDb = db::connection(db::kMain);
        const rulecheck::RuleChecker checker(mainDb);
        RuleRunContext context;
        context.institution = sample::ids::SouthHospital;
        context.valueTable = ValueTable::Data;
        QSqlQuery q = db::exec(mainDb, QStringLiteral("select z.lft, z.reltion, z.rght, z.cycl, z.control_type, "
                                                      "z.project_tble, f.formname from zenkor_controls z "
                                                      "left join forms f on f.id = z.project_formid"));
        qint64 key = 0;
        while (q.next()) {
            const QString lft = q.value(0).toString(), rel = q.value(1).toString(), rght = q.value(2).toString(),
                          cycl = q.value(3).toString(), table = q.value(5).toString(), form = q.value(6).toString();
            const int type = q.value(4).toInt();
            const rulecheck::Verdict v = checker.Check(
                {type == 2 ? QString() : form, type == 0 ? table : QString(), lft, rel, rght, cycl});
            fuzz::check(v.ok, "a rule the import stores passes the rule check",
                        lft + u' ' + rel + u' ' + rght + QStringLiteral(" / ") + cycl + QStringLiteral(": ") + v.reason);
            RuleRun run(context);
            run.addRule(++key, lft, rght, rel, QString(), cycl);
            run.runControls(notation::RuleScope(type == 2 ? QString() : form, type == 0 ? table : QString()));
            for (int i = 0; i < run.errors().count(); ++i)
                fuzz::check(fuzz::sidesAreNumbers(run.errors().text(i), rel),
                            "an imported rule is run with both sides reduced to numbers", run.errors().text(i));
        }
    });
    return;
}
