// Every writer of a text file and its reader, run over the corpus of names and texts users give: the writer's file
// passes the encoding gate of its reader and reads back equal. Names a field cannot hold (":" or "#" in a form name,
// brackets inside a table number) are refused where they are typed and are left out for that field only.
#include "engine/CatalogGate.h"
#include "engine/ControlFileLines.h"
#include "engine/FormStructureFile.h"
#include "engine/TextUtil.h"
#include "forms/structure/FormCatalogLogic.h"
#include "forms/shared/FormListLogic.h"
#include "forms/output/ExcelOutput.h"
#include "forms/output/ShortNames.h"
#include "forms/output/WordOutput.h"
#include "platform/office/ExcelWorkbook.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "reports/DbfFile.h"
#include "reports/IndicatorData.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "support/NameCorpus.h"
#include "updates/UpdateInstaller.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace sample;

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

// The corpus once, and the list of what came back different, named.
struct Mismatches {
    QStringList items;
    void expect(const QString &what, const QString &written, const QString &read) {
        if (written != read) items << what + QStringLiteral(": \"") + written + QStringLiteral("\" -> \"") + read + u'"';
    }
    std::string report() const { return (QString::number(items.size()) + u'\n' + items.mid(0, 20).join(u'\n')).toStdString(); }
};

bool storableFormName(const QString &n) { return gate::formNameFault(n.trimmed()).isEmpty() && n == n.trimmed(); }

} // namespace

class RoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        fx.reloadCaches();
        // A thousand small commits: what the round trip checks does not need them on the disk.
        db::exec(mainDb(), "pragma synchronous=off");
        corpus = nameCorpus();
        ASSERT_GE(corpus.size(), 1000);
        // The files that name forms carry the names the catalogue takes too: long runs of one letter, its longest.
        formNames = corpus + catalogueNames();
        formNames.removeDuplicates();
    }
    SampleFixture fx;
    FakeDialogs dialogs;
    QStringList corpus, formNames;
    Mismatches bad;
};

// The settings file: each configuration name with a folder of the same name, alone in the file as a new user's
// first one, and all of them in one file.
TEST_F(RoundTrip, SettingsFile) {
    const QString path = fx.root() + "k.cfg";
    // Keys are told apart without regard to letter case.
    QStringList names, upper;
    for (const QString &n : corpus)
        if (IniFile::keyProblem(n).isEmpty() && !upper.contains(n.toUpper())) names << n, upper << n.toUpper();
    ASSERT_GE(names.size(), 1000);
    {
        IniFile ini(path);
        for (const QString &n : names) ASSERT_TRUE(ini.writeString(QStringLiteral("Конфигурации"), n, "/data/" + n));
    }
    IniFile back(path);
    ASSERT_EQ(back.readError(), QString());
    EXPECT_EQ(back.sectionKeys(QStringLiteral("Конфигурации")), names);
    for (const QString &n : names) bad.expect("все", "/data/" + n, back.readString(QStringLiteral("Конфигурации"), n));
    for (const QString &n : names.mid(0, 100)) {
        QFile::remove(path);
        ASSERT_TRUE(IniFile(path).writeString(QStringLiteral("Конфигурации"), n, "/data/" + n));
        const IniFile one(path);
        bad.expect(one.readError(), n, one.sectionKeys(QStringLiteral("Конфигурации")).value(0));
    }
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// Value files of every kind: the form name (or id) and the table number of each line, each name alone in a file.
TEST_F(RoundTrip, ValueFiles) {
    for (const QString ext : {QStringLiteral("orw"), QStringLiteral("rpd"), QStringLiteral("orv"), QStringLiteral("rps")}) {
        // Files by id (.orv, .rps) carry the form's id, files by name its name.
        const bool byId = ext == QStringLiteral("orv") || ext == QStringLiteral("rps");
        const QString path = fx.root() + "values." + ext;
        QStringList all;
        for (const QString &n : formNames) {
            // A table number is the text in brackets: "(раздел2)" as it is, any other name put in them.
            const QString inner = n.startsWith(u'(') && n.endsWith(u')') ? n.mid(1, n.size() - 2) : n;
            if (n.contains(u'"') || inner.contains(u'(') || inner.contains(u')')) continue;
            const QString tablen = "(" + inner + ")";
            const QString form = byId ? QStringLiteral("1") : n;
            const QString line = transfer::formatRecord("0.1", "2024", form, tablen, 3, 4);
            all << line;
            // Each name alone in a file by name; the files by id differ only in the form field.
            if (byId && all.size() % 10 != 0) continue;
            ASSERT_TRUE(cp1251::writeLines(path, {line}));
            try {
                const transfer::ParsedFile f = transfer::readFile(path);
                bad.expect(ext, form, f.records.value(0).form);
                bad.expect(ext, tablen, f.records.value(0).tablen);
            } catch (const std::exception &e) {
                bad.items << n + ": " + QString::fromUtf8(e.what());
            }
        }
        ASSERT_GE(all.size(), 1000);
        ASSERT_TRUE(cp1251::writeLines(path, all));
        const transfer::ParsedFile whole = transfer::readFile(path);
        ASSERT_EQ(whole.records.size(), all.size());
        for (int i = 0; i < all.size(); ++i)
            bad.expect(ext, all[i], transfer::formatRecord("0.1", "2024", whole.records[i].form, whole.records[i].tablen, 3, 4));
    }
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// Control files: form name, sides, cycle and comment, each rule alone in a file and all in one.
TEST_F(RoundTrip, ControlFiles) {
    const QString path = fx.root() + "controls.orv";
    QStringList all;
    for (const QString &n : formNames) {
        const ctlfile::ControlLine l{n, "(1000)", n + "стр1гр4", ">=", "стр2гр4", "", n};
        all << ctlfile::FormatControlLine(l);
        ctlfile::WriteControlFile(path, {all.last()});
        QStringList lines;
        QString why;
        if (!cp1251::readLines(path, lines, &why)) {
            bad.items << n + ": " + why;
            continue;
        }
        const std::optional<ctlfile::ControlLine> r = ctlfile::ParseControlLine(lines.value(0));
        bad.expect("форма", n, r ? r->formName : QString());
        bad.expect("левая часть", l.lft, r ? r->lft : QString());
        bad.expect("комментарий", n, r ? r->commnt : QString());
    }
    ctlfile::WriteControlFile(path, all);
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(path, lines));
    EXPECT_EQ(lines.size(), all.size());
    // Rules of a form the catalogue holds, with the corpus as comments, through the update installer.
    QStringList rules;
    for (const QString &n : corpus)
        rules << ctlfile::FormatControlLine({"Ф30", "(1000)", "СТР1ГР4", ">=", "СТР2ГР4", "", n});
    ctlfile::WriteControlFile(path, rules);
    db::exec(mainDb(), "delete from int_control");
    ASSERT_TRUE(InsertControlLines(mainDb(), path));
    QStringList comments;
    QSqlQuery q = db::exec(mainDb(), "select commnt from int_control order by \"Код\"");
    while (q.next()) comments << q.value(0).toString();
    ASSERT_EQ(comments.size(), corpus.size());
    for (int i = 0; i < corpus.size(); ++i) bad.expect("контроль обновления", corpus[i], comments[i]);
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// Form structure files (.frs), through the catalogue's export and the reader of its import and of update packages.
TEST_F(RoundTrip, FormStructureFiles) {
    const QString path = fx.root() + "form.frs";
    int tried = 0;
    for (const QString &n : catalogueNames()) {
        if (!storableFormName(n) || !gate::formIdentityFault(mainDb(), n, ids::FormF30).isEmpty()) continue;
        // The table number holds the name after its "Ф".
        const QString tablen = "(" + n.mid(1) + ")";
        if (!gate::tableIdentityFault(mainDb(), ids::FormF30, tablen, ids::TableF30Staff).isEmpty()) continue;
        ++tried;
        catalog::updateForm(ids::FormF30, n, n, false);
        catalog::updateTable(ids::TableF30Staff, tablen, n, false, 0);
        catalog::exportForm(ids::FormF30, path);
        try {
            const frs::Form f = frs::readFile(path);
            bad.expect("форма", n, f.formname);
            bad.expect("содержание", n, f.decipher);
            frs::Table table;
            for (const frs::Table &t : f.tables)
                if (t.name == n) table = t;
            bad.expect("таблица", tablen, table.tablen);
        } catch (const std::exception &e) {
            bad.items << n + ": " + QString::fromUtf8(e.what());
        }
        // The update installer reads the same file.
        if (tried % 50 == 0) EXPECT_TRUE(InstallFormHeader(mainDb(), path, n)) << n.toStdString();
    }
    EXPECT_GE(tried, 1000);
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// Conditions files (.cnd): formula and condition of every calculated cell.
TEST_F(RoundTrip, ConditionsFiles) {
    const QString path = fx.root() + "form.cnd";
    const QSqlDatabase d = mainDb();
    db::exec(d, "delete from conditions");
    for (int i = 0; i < corpus.size(); ++i)
        db::exec(d,
                 "insert into conditions (tid, \"row\", \"column\", type, formula, condition, koeff, country, midle, "
                 "types) values (?, ?, 1, 0, ?, ?, 1, 0, 0, '')",
                 {ids::TableF47Network, i + 1, corpus[i], corpus[i]});
    formlist::exportConditions(ids::FormF47, "Ф47", path);
    db::exec(d, "delete from conditions");
    formlist::importConditions(ids::FormF47, "Ф47", path);
    QSqlQuery q = db::exec(d, "select formula, condition from conditions where tid=? order by \"row\"", {ids::TableF47Network});
    int i = 0;
    for (; q.next(); ++i) {
        bad.expect("формула", corpus.value(i), q.value(0).toString());
        bad.expect("условие", corpus.value(i), q.value(1).toString());
    }
    EXPECT_EQ(i, corpus.size());
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// Conditions files (.cnd): line breaks, Tabs and control characters in every text field (a formula stored with a line
// break by an older copy, say) never split a line; each field reads back as the gate stores it (a formula's line
// breaks and Tabs as blanks, a condition's Tabs as blanks, the types whole).
TEST_F(RoundTrip, ConditionsFilesCarryLineBreaksAndControlsInEveryField) {
    const QString path = fx.root() + "controls.cnd";
    const QSqlDatabase d = mainDb();
    QString controls;
    for (char16_t c = 1; c < 0x20; ++c) controls += QChar(c);
    controls += QChar(0x7F);
    const QStringList texts = {"СТР1ГР4\r\n+СТР2ГР4", "СТР1ГР4\n+\rСТР2ГР4", "a\tb", controls, "\x03I\x03", "\x01\x02",
                               "Т[1000]СТР1ГР4 #\"a\":=1", "\r\n", "ё\x03"};
    db::exec(d, "delete from conditions");
    for (int i = 0; i < texts.size(); ++i)
        db::exec(d,
                 "insert into conditions (tid, \"row\", \"column\", type, formula, condition, koeff, country, midle, "
                 "types) values (?, ?, 1, 0, ?, ?, 1, 0, 0, ?)",
                 {ids::TableF47Network, i + 1, texts[i], texts[i], texts[i]});
    EXPECT_EQ(formlist::exportConditions(ids::FormF47, "Ф47", path), texts.size());
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(path, lines));
    EXPECT_EQ(lines.size(), texts.size());   // one line per condition, as the export counts them
    db::exec(d, "delete from conditions");
    EXPECT_EQ(formlist::importConditions(ids::FormF47, "Ф47", path).imported, texts.size());
    QSqlQuery q = db::exec(d, "select formula, condition, types from conditions where tid=? order by \"row\"",
                           {ids::TableF47Network});
    int i = 0;
    for (; q.next(); ++i) {
        bad.expect("формула", text::entryLayout(texts.value(i), text::Field::Formula), q.value(0).toString());
        bad.expect("условие", text::entryLayout(texts.value(i), text::Field::MultiLine), q.value(1).toString());
        bad.expect("типы", texts.value(i), q.value(2).toString());
    }
    EXPECT_EQ(i, texts.size());
    // A file of the older form (a condition's line breaks as bytes 1 and 2, no other escape) reads as before.
    ASSERT_TRUE(cp1251::writeLines(path, {"Ф47\t(1000)\t1\t1\tFalse\tСТР1ГР1\tа\x01" "б\x02\t1\tFalse\tFalse\t*"}));
    formlist::importConditions(ids::FormF47, "Ф47", path);
    EXPECT_EQ(db::scalar(d, "select condition from conditions where tid=?", {ids::TableF47Network}).toString(), "а\nб\r");
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// Indicator set files (.stt): the names of the sets, each set alone in a file and all in one.
TEST_F(RoundTrip, IndicatorSetFiles) {
    const QString path = fx.root() + "set.stt";
    const qint64 top = indicators::AddSet("Верх", 0);
    for (const QString &n : corpus) indicators::AddSet(n, top);
    indicators::SaveSetFile(path, top);
    const QList<indicators::LoadedSet> made = indicators::LoadSetFile(path, indicators::AddSet("Цель", 0));
    QStringList names;
    for (const indicators::LoadedSet &s : made) names << s.name;
    names.sort();
    QStringList sorted = corpus;
    sorted.sort();
    for (int i = 0; i < sorted.size(); ++i) bad.expect("набор", sorted[i], names.value(i));
    for (const QString &n : corpus.mid(0, 100)) {
        const qint64 one = indicators::AddSet("Один", 0);
        indicators::StoreGridCell(one, 1, 0, n, 64, 20);
        indicators::SaveSetFile(path, one);
        const qint64 target = indicators::AddSet("Цель", 0);
        try {
            indicators::LoadSetFile(path, target);
            bad.expect("заголовок", n, indicators::LoadSet(target).cell(1, 0));
        } catch (const std::exception &e) {
            bad.items << n + ": " + QString::fromUtf8(e.what());
        }
    }
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// Short names: full name and short name, each institution alone in the file and all in one; short names a sheet
// cannot hold as they are ("[1]", "a/b", ":") are kept too.
TEST_F(RoundTrip, ShortNames) {
    QList<shortnames::Row> rows;
    for (const QString &n : corpus) rows.append({n, n.left(30).trimmed()});
    for (const QString unfit : {"ЦРБ [1]", "ЦРБ: север", "ЦРБ*", "ЦРБ?", "г/о", "ЦРБ\\2", "'ЦРБ'", "[]:*?/\\"})
        rows.append({"Больница " + unfit, unfit});
    ASSERT_GE(rows.size(), 1000);
    shortnames::save(rows);
    const QStringList lines = shortnames::load();
    ASSERT_EQ(lines.size(), rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        bad.expect("полное", rows[i].first, shortnames::splitLine(lines[i]).first);
        bad.expect("короткое", rows[i].second, shortnames::splitLine(lines[i]).second);
    }
    for (const shortnames::Row &r : rows.mid(0, 150)) {
        shortnames::save({r});
        try {
            bad.expect("одно", r.second, shortnames::LookupShortName(r.first, shortnames::load()));
        } catch (const std::exception &e) {
            bad.items << r.first + ": " + QString::fromUtf8(e.what());
        }
    }
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// The sheets of the table per member take the short names, sheet-unfit ones mended, never left with the program's
// own sheet names.
TEST_F(RoundTrip, ShortNamesNameTheirSheets) {
    const QString longName = QString(40, u'Д');
    QList<shortnames::Row> rows;
    QList<qint64> members;
    const QStringList unfit = {"ЦРБ [1]", "ЦРБ: север", "г/о *?", "ЦРБ\\2", "'ЦРБ'"};
    for (int i = 0; i < unfit.size(); ++i) {
        const QString full = longName + QString::number(i);
        db::exec(mainDb(), "insert into administration (unit, dependence, medicaltype) values (?, 2, 2)", {full});
        members << db::lastInsertId(mainDb());
        rows.append({full, unfit[i]});
    }
    shortnames::save(rows);
    const QStringList list = shortnames::load();
    QStringList memberList;
    for (qint64 id : members) memberList << QString::number(id);
    office::ExcelWorkbook book = excelout::exportTablePerMember(
        {ids::TableF30Staff, "(1000) - Штаты"}, "Ф30", memberList.join(u','), MemberKind::Institutions,
        [&](const QString &name) { return shortnames::GetShortName(name, list); });
    for (const QString &u : unfit)
        if (!book.findSheet(office::fittedSheetName(u))) bad.items << u + ": нет листа " + office::fittedSheetName(u);
    EXPECT_TRUE(dialogs.modalTitles.isEmpty());   // no short name was asked for
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// DBF tables: the texts of a character field.
TEST_F(RoundTrip, DbfTexts) {
    const QString path = fx.root() + "t.dbf";
    dbf::Writer w(path, {dbf::charField("NAME", 254)});
    w.open();
    QStringList written;
    for (const QString &n : corpus) {
        written << n.left(254);
        w.append({written.last()});
    }
    w.commit();
    const dbf::Table t = dbf::read(path);
    // Character fields are padded with blanks: the reader takes them off the end.
    static const QRegularExpression trailing(QStringLiteral(" +$"));
    for (int i = 0; i < written.size(); ++i)
        bad.expect("NAME", QString(written[i]).remove(trailing), t.value(i, "NAME").toString());
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}

// Report copies: one per form, unit and year, found again whatever other units are called today. A namesake that
// appears (another institution renamed to the name, in another letter case) neither takes the copy nor hides it,
// and when it goes again it finds none.
TEST_F(RoundTrip, ReportCopiesAcrossRenames) {
    db::exec(mainDb(), "insert into administration (unit, dependence, medicaltype) values ('Другая', 2, 2)");
    const qint64 other = db::lastInsertId(mainDb());
    const auto rename = [&](qint64 id, const QString &name) {
        db::exec(mainDb(), "update administration set unit=? where id=?", {name, id});
    };
    const auto context = [&](qint64 id) {
        wordout::PrintContext c;
        c.formId = ids::FormF30;
        c.formName = "Ф30";
        c.institution = id;
        c.yearFolder = fx.yearFolder();
        c.yearText = QString::number(fx.year());
        return c;
    };
    int tried = 0;
    for (qsizetype i = 0; i < corpus.size(); i += 25) {
        const QString n = corpus[i];
        if (!gate::formNameFormatFault(n.trimmed()).isEmpty() || n != n.trimmed()) continue;
        ++tried;
        rename(ids::NorthHospital, n);
        rename(other, QStringLiteral("Другая"));
        const QString made = wordout::makeReportCopy(context(ids::NorthHospital), n, "06.12.2026 10:00:00");
        bad.expect("своя копия", made, wordout::existingReportCopy(context(ids::NorthHospital), n));
        rename(other, n.toUpper() == n ? n.toLower() : n.toUpper());
        bad.expect("при тезке", made, wordout::existingReportCopy(context(ids::NorthHospital), n));
        bad.expect("у тезки", QString(), wordout::existingReportCopy(context(other), n));
        rename(other, n);
        bad.expect("тезка ушел", QString(), wordout::existingReportCopy(context(other), n));
        rename(other, QStringLiteral("Другая"));
        bad.expect("без тезки", made, wordout::existingReportCopy(context(ids::NorthHospital), n));
        QFile::remove(made);
    }
    EXPECT_GE(tried, 30);
    EXPECT_TRUE(bad.items.isEmpty()) << bad.report();
}
