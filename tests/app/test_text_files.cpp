// Every reader of a text file that comes from outside the program, each fed the same valid file in the encodings a
// user's editor may save it in. Each must refuse them with the one encoding message and change nothing.
#include "controls/ControlFile.h"
#include "controls/ZenkorImporter.h"
#include "core/SampleConfig.h"
#include "engine/LinksDb.h"
#include "engine/FormStructureFile.h"
#include "engine/SharedState.h"
#include "engine/WorkModes.h"
#include "forms/structure/FormCatalogLogic.h"
#include "forms/shared/FormListLogic.h"
#include "forms/territory/PresenceReport.h"
#include "forms/output/ShortNames.h"
#include "forms/shared/TransferFiles.h"
#include "forms/output/WordOutput.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "reports/IndicatorData.h"
#include "reports/SummationLogic.h"
#include "support/Files.h"
#include "support/ForeignEncodings.h"
#include "support/SourceScan.h"
#include "support/QueryRows.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "updates/UpdateInstaller.h"
#include "updates/UpdateLists.h"
#include "support/Refusal.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <functional>

using namespace sample;

namespace {

struct Variant { const char *name; const char *encoding; std::function<QByteArray(const QString &)> bytes; };

const Variant kVariants[] = {
    {"UTF-8", "UTF-8", [](const QString &t) { return t.toUtf8(); }},
    {"UTF-8 BOM", "UTF-8", [](const QString &t) { return QByteArray("\xEF\xBB\xBF") + t.toUtf8(); }},
    {"UTF-16 LE BOM", "UTF-16", [](const QString &t) { return utf16(t, false, true); }},
    {"UTF-16 BE BOM", "UTF-16", [](const QString &t) { return utf16(t, true, true); }},
    {"UTF-16 LE", "UTF-16", [](const QString &t) { return utf16(t, false, false); }},
    {"UTF-16 BE", "UTF-16", [](const QString &t) { return utf16(t, true, false); }},
    {"cp866", "cp866", [](const QString &t) { return cp866(t); }},
    {"KOI8-R", "KOI8-R", [](const QString &t) { return koi8r(t); }},
};

// Every table of both databases and the files the readers may change.
QString dump(const SampleFixture &fx) {
    QString out;
    for (const QString &name : {QString(db::kMain), QString(db::kData)}) {
        const QSqlDatabase d = db::connection(name);
        for (const QString &table : d.tables()) {
            QStringList rows = queryRows(d, QStringLiteral("select * from \"%1\"").arg(table));
            rows.sort();
            out += table + u'\n' + rows.join(u'\n') + u'\n';
        }
    }
    for (const QString &file : {fx.settingsFile(), paths::updateSettingsFile(), shortnames::filePath()})
        out += file + u'\n' + QString::fromLatin1(fileBytes(file).toHex());
    return out;
}

QSqlDatabase mainDb() { return db::connection(db::kMain); }

void writeBytes(const QString &path, const QByteArray &bytes) { ASSERT_TRUE(cp1251::writeFile(path, bytes)); }

// A reader: writes a valid file for itself, then reads a file; the message
// of a refusal (empty when the file was taken).
struct Reader {
    const char *name;
    const char *ext;
    std::function<void(SampleFixture &, const QString &)> writeValid;
    std::function<QString(SampleFixture &, const QString &)> read;
};

QString boolRefusal(bool ok) { return ok ? QString() : QStringLiteral("refused"); }

const QString kRule = QStringLiteral("\"Ф30\",\"(1000)\",\"СТР1ГР4\",\">=\",\"СТР2ГР4\",\"\",\"Врачи больше всего\"");

QList<Reader> readers() {
    using F = SampleFixture;
    using P = const QString &;
    auto lines = [](const QStringList &l) { return [l](F &, P p) { ASSERT_TRUE(cp1251::writeLines(p, l)); }; };
    auto throws = [](std::function<void(P)> f) { return [f](F &, P p) { return refusal([&] { f(p); }); }; };
    auto answers = [](std::function<bool(P)> f) { return [f](F &, P p) { return boolRefusal(f(p)); }; };
    auto hosp = [](F &, P p) { transfer::SaveHosp(ids::NorthHospital, p); };
    auto importBook = throws([](P p) {
        const QString links = QFileInfo(p).absolutePath() + QStringLiteral("/Links.mdb");
        links::createLinksDatabase(links);
        TControlMatchImporter(db::kMain, nullptr, false, links).ImportControls(p, nullptr);
    });
    auto frsFile = [](F &, P p) { frs::writeFile(p, frs::formLines(mainDb(), ids::FormF30)); };
    return {
        {"значения учреждения (.orw)", "orw", hosp,
         throws([](P p) { transfer::LoadUnitInfo(ids::NorthHospital, p, {}, false); })},
        {"значения формы", "orw", hosp,
         throws([](P p) { transfer::loadForm(ids::NorthHospital, p, ValueTable::Data, ids::FormF30, "Ф30"); })},
        {"значения таблицы", "orw", hosp, throws([](P p) {
             transfer::loadTable(ids::NorthHospital, p, ValueTable::Data, ids::FormF30, "Ф30", ids::TableF30Staff, "(1000)");
         })},
        {"значения группы", "orw", hosp,
         throws([](P p) { transfer::LoadTableFromFile(ids::NorthHospital, p, ids::TableF30Staff); })},
        {"значения отчёта (.rpd)", "rpd", [](F &, P p) { transfer::saveReport(ids::ReportRegion, p); },
         throws([](P p) { transfer::loadReport(ids::ReportRegion, p); })},
        {"справка о наличии", "orw", hosp, [](F &, P p) {
             const QString out = presence::reportByFiles({p}).texts().join(u'\n');
             return out.contains(QStringLiteral("кодировке")) ? out : QString();
         }},
        {"файл контролей", "txt", lines({kRule, kRule}),
         throws([](P p) { controls::LoadControlFile(mainDb(), p, controls::LoadMode::Replace); })},
        {"условия (.cnd)", "txt", [](F &, P p) { formlist::exportConditions(ids::FormF47, "Ф47", p); },
         throws([](P p) { formlist::importConditions(ids::FormF47, "Ф47", p); })},
        {"структура формы (.frs), каталог", "txt", frsFile, throws([](P p) { frs::readFile(p); })},
        {"структура формы (.frs), обновление", "txt", frsFile,
         answers([](P p) { return InstallFormHeader(mainDb(), p, "Ф30"); })},
        {"контроли обновления", "txt", lines({kRule, kRule}),
         answers([](P p) { return InsertControlLines(mainDb(), p); })},
        {"опись обновления", "txt",
         lines({"{\"version\": \"1\", \"description\": \"Обновление форм для больниц\", \"forms\": [{\"formName\": \"Ф30\"}]}"}),
         answers([](P p) { TUpdateManifest m; return LoadManifestFromFile(m, p); })},
        {"показатели (.stt)", "txt", [](F &, P p) { indicators::SaveSetFile(p, ids::SetHealth); },
         throws([](P p) { indicators::LoadSetFile(p, ids::SetStaffing); })},
        {"книга контролей", "txt",
         lines({"0100000101 30000,1000,1,4>=0 Всего врачей", "0100000102 30000,1000,2,4>=0 Всего коек"}), importBook},
        // A book of digits and the "П" of its row ranges: too few letters for a guess, its own notation tells.
        {"книга контролей без слов", "txt",
         lines({"0100000101 30000,1000,1П3,4>=0", "0100000102 30000,1000,2,4>=30000,1000,1 П 2,4"}), importBook},
        {"привязка печати", "txt", [](F &fx, P p) { QFile::copy(fx.yearFolder() + "forms/Ф30.txt", p); },
         [](F &fx, P p) {
             QFile::remove(fx.yearFolder() + "forms/Ф30.txt");
             QFile::copy(p, fx.yearFolder() + "forms/Ф30.txt");
             return refusal([&] {
                 wordout::FillFormDoc(
                     wordout::currentContext(ids::FormF30, "Ф30", ids::NorthHospital, ValueTable::None));
             });
         }},
        {"привязка печати при новом номере таблицы", "txt",
         [](F &fx, P p) { QFile::copy(fx.yearFolder() + "forms/Ф30.txt", p); },
         [](F &fx, P p) {
             QFile::remove(fx.yearFolder() + "forms/Ф30.txt");
             QFile::copy(p, fx.yearFolder() + "forms/Ф30.txt");
             const QString why =
                 refusal([&] { catalog::updateTable(ids::TableF30Staff, "(1000а)", "Штаты", false, 0); });
             if (why.isEmpty()) catalog::updateTable(ids::TableF30Staff, "(1000)", "Штаты", false, 0);
             return why;
         }},
        {"короткие названия", "txt", lines({"Северная больница\tСеверная", "Южная больница\tЮжная"}), [](F &, P p) {
             QFile::remove(shortnames::filePath());
             QFile::copy(p, shortnames::filePath());
             const QString why = refusal([] { shortnames::load(); });
             QFile::remove(shortnames::filePath());
             return why;
         }},
        {"несуммируемые позиции", "txt",
         lines({"Ф30,(1000),4,1-2", "Ф14,(1000),5,1", "Ф30,(2000),4,1", "Ф47,(1000),4,1"}),
         throws([](P p) { merge::ExclList().load(p); })},
        {"файл настроек", "txt", lines({"[Список]", "Образец=папка", "[Текущая]", "Year=2024"}), [](F &, P p) {
             IniFile ini(p);
             if (ini.readError().isEmpty()) return QString();
             EXPECT_FALSE(ini.writeString("Текущая", "Year", "2025"));
             return ini.readError();
         }},
    };
}

} // namespace

TEST(OutsideTextFiles, EveryReaderRefusesOtherEncodingsAndChangesNothing) {
    SampleFixture fx;
    FakeDialogs dialogs;
    fx.reloadCaches();
    for (const Reader &r : readers()) {
        SCOPED_TRACE(r.name);
        const QString name = r.name;
        const QString valid = fx.root() + "valid." + r.ext;
        QFile::remove(valid);
        r.writeValid(fx, valid);
        QStringList lines;
        ASSERT_TRUE(cp1251::readLines(valid, lines));
        const QString text = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
        // Print mappings hold numbers only; every other file is tried with Cyrillic in it.
        if (!name.startsWith("привязка"))
            ASSERT_NE(cp1251::encode(text), text.toUtf8()) << "the valid file must hold Cyrillic";
        for (const Variant &v : kVariants) {
            SCOPED_TRACE(v.name);
            // JSON comes in UTF-8 as well as in code page 1251; the settings
            // file an editor re-saved in UTF-8 is read and written back in 1251.
            if ((name.startsWith("опись") || name.startsWith("файл настроек")) && QString(v.encoding) == "UTF-8")
                continue;
            if (v.bytes(text) == cp1251::encode(text)) continue;   // the same bytes in both
            const QString path = fx.root() + "variant." + r.ext;
            writeBytes(path, v.bytes(text));
            const QString before = dump(fx);
            const QString why = r.read(fx, path);
            const bool eightBit = QString(v.encoding) == "KOI8-R" || QString(v.encoding) == "cp866";
            if (eightBit && name.startsWith("файл настроек")) {
                // The program's own settings: read as 1251 whatever a guess says, never refused on one.
                EXPECT_EQ(why.toStdString(), "");
            } else if (eightBit && cp1251::foreignEncoding(v.bytes(text)).isEmpty() &&
                       name != "книга контролей без слов") {
                // Cyrillic only in one-letter markers ("Ф30" reads "ж30"): too little to tell, so read as 1251,
                // and then its names match no form, table or position.
                EXPECT_TRUE(why.isEmpty() || !why.contains("кодировке")) << why.toStdString();
            } else if (name.startsWith("опись") || name.contains("обновление") || name.startsWith("контроли обновления"))
                EXPECT_FALSE(why.isEmpty());   // the installer logs the reason and answers false
            else {
                EXPECT_TRUE(why.contains("не в кодировке Windows-1251")) << why.toStdString();
                EXPECT_TRUE(why.contains(v.encoding)) << why.toStdString();
            }
            EXPECT_EQ(dump(fx), before);
        }
        // The same file in code page 1251 passes the gate (the print needs a
        // template the sample has not, which is its own message).
        if (name.startsWith("привязка")) EXPECT_FALSE(r.read(fx, valid).contains("кодировке"));
        else EXPECT_EQ(r.read(fx, valid).toStdString(), "");
        QFile::remove(fx.root() + "variant.txt.копия");
        QFile::remove(fx.root() + "variant.txt");
    }
}

// A file that is not there is refused naming it once, with the system's reason (the reader's reason and the caller's
// naming of the file used to give "Не удалось прочитать файл X: Не удалось открыть файл X: файл не найден").
TEST(OutsideTextFiles, AFileThatIsNotThereIsNamedOnceWithItsReason) {
    SampleFixture fx;
    FakeDialogs dialogs;
    fx.reloadCaches();
    for (const Reader &r : readers()) {
        SCOPED_TRACE(r.name);
        const QString missing = fx.root() + QStringLiteral("нет такого файла.") + r.ext;
        const QString before = dump(fx);
        const QString why = r.read(fx, missing);
        EXPECT_LE(why.count(QStringLiteral("нет такого файла")), 1) << why.toStdString();
        EXPECT_LE(why.count(QStringLiteral("файл не найден")), 1) << why.toStdString();
        if (why.contains(QStringLiteral("нет такого файла")))
            EXPECT_TRUE(why.contains(QStringLiteral("файл не найден"))) << why.toStdString();
        EXPECT_EQ(dump(fx), before);
    }
}

// Raw reads of a file: each place that reads bytes itself either checks them with the encoding gate, or reads no text
// (binary tables, archives, network, byte copies). A new raw read, or a new reader of text lines, must be added here
// and to the table above.
TEST(OutsideTextFiles, NoTextFileIsReadPastTheGate) {
    const QMap<QString, int> allowed = {
        // the gate itself
        {"platform/Codepage.cpp", 1},
        // checked with cp1251::encodingProblem / foreignEncoding
        {"forms/shared/TransferFiles.cpp", 2}, {"updates/UpdateLists.cpp", 1},
        // no text: DBF tables, converter output, byte copies
        {"reports/DbfFile.cpp", 1}, {"platform/office/Convert.cpp", 1},
        {"platform/Paths.cpp", 1},
    };
    // Readers of text lines through the gate, each one a row of the table above.
    const QMap<QString, int> gateCalls = {
        {"platform/IniFile.cpp", 1},           {"engine/FormStructureFile.cpp", 1},
        // rule files; the backups, versions, keys, installed keys, added prints, pending mark and rollback plan that the
        // program writes itself
        {"updates/UpdateInstaller.cpp", 8},
        {"forms/structure/StructureEdit.cpp", 1},        // the print mapping file, as the printed form reads it
        {"engine/CatalogRename.cpp", 1},       // the print mapping file, following a new table number
        {"controls/ZenkorTable.cpp", 1},       {"controls/ControlFile.cpp", 1},
        {"reports/SummationLogic.cpp", 1},     {"reports/IndicatorData.cpp", 1},
        {"forms/territory/PresenceReport.cpp", 1},       {"forms/shared/FormListLogic.cpp", 1},
        {"forms/output/WordOutput.cpp", 2},           {"forms/output/ShortNames.cpp", 1},
    };
    const QRegularExpression raw(QStringLiteral(R"(\.readAll\(\)|QTextStream|\.readLine\(|fopen\(|std::ifstream)"));
    const QRegularExpression gate(QStringLiteral(R"(cp1251::readLines\()"));
    QStringList faults;
    const QMap<QString, QString> sources = productSources();
    for (const auto &[rel, source] : sources.asKeyValueRange()) {
        const int raws = int(source.count(raw));
        const int gates = int(source.count(gate));
        if (raws > allowed.value(rel, 0))
            faults << rel + QStringLiteral(": raw read of a file (%1) outside the encoding gate").arg(raws);
        if (gates > gateCalls.value(rel, 0))
            faults << rel + QStringLiteral(": a reader of text lines (%1) missing from the contract table").arg(gates);
    }
    EXPECT_GT(sources.size(), 200);
    EXPECT_TRUE(faults.isEmpty()) << faults.join(u'\n').toStdString();
}

TEST(OutsideTextFiles, EncodingsAreToldApart) {
    const QString russian = QStringLiteral("Сведения о медицинской организации. Число коек на конец года, всего");
    struct Case { QByteArray bytes; const char *encoding; };
    const Case cases[] = {
        {cp1251::encode(russian), ""},
        {cp1251::encode(QStringLiteral("Ф30Т(1000)СТР1ГР4>=Ф30Т(1000)СТР2ГР4 «Итого» № 5")), ""},
        {cp1251::encode(QStringLiteral("Перед текущей; пропущено: 2; Экспорт формул расчёта")), ""},
        {QByteArray("plain ASCII, 0.1 and 10.1"), ""},
        {russian.toUtf8(), "UTF-8"},
        {QByteArray("\xEF\xBB\xBF") + "ASCII", "UTF-8"},
        {utf16(russian, false, false), "UTF-16"},
        {utf16(QStringLiteral("A"), true, true), "UTF-16"},
        {cp866(russian), "DOS (cp866)"},
        {cp866(QStringLiteral("Ф30,Ф30,Ф30,Ф30")), ""},   // reads "”30": a sign, no word to tell by
        {cp866(QStringLiteral("Ф30,Ф30,Ф30,Ф30 Итого")), "DOS (cp866)"},
        {koi8r(russian), "KOI8-R"},
        // Short files: the notation alone, a few words.
        // Cyrillic only in one-letter markers: "Ф30" reads "ж30", a name like any other, so too little to tell.
        {koi8r(QStringLiteral("\"10.1\",\"2024\",\"Ф30\",\"(1000)\",\"3\",\"3\"\r\n").repeated(3) +
               QStringLiteral("\"0.1\",\"2024\",\"Ф14\",\"(1000)\",\"3\",\"3\"")), ""},
        {koi8r(QStringLiteral("Обновление форм для больниц")), "KOI8-R"},
        {cp1251::encode(QStringLiteral("ф30т(1000)стр1гр4>=ф30т[1000]стр2гр4")), ""},
        {cp1251::encode(QStringLiteral("\"Ф30\",\"(1000)\",\"ф30\" мощность 10 кВт")), ""},
    };
    for (const Case &c : cases) EXPECT_EQ(cp1251::foreignEncoding(c.bytes), QString(c.encoding)) << c.bytes.toHex().toStdString();
}

TEST(OutsideTextFiles, SettingsKeepCommentsAndAreNeverWrittenOverWhenUnreadable) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/k.cfg";
    ASSERT_TRUE(cp1251::writeLines(path, {"; настройки программы", "[Список]", "; рабочая база", "Образец=c:\\база",
                                          "", "[Текущая]", "Year=2024"}));
    IniFile ini(path);
    ASSERT_TRUE(ini.writeString("Список", "Вторая", "d:\\вторая"));
    ASSERT_TRUE(ini.writeInteger("Текущая", "Year", 2025));
    ASSERT_TRUE(ini.writeInteger("Новая", "Last", 1));
    ASSERT_TRUE(ini.deleteKey("Список", "Образец"));
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(path, lines));
    EXPECT_EQ(lines, (QStringList{"; настройки программы", "[Список]", "; рабочая база", "Вторая=d:\\вторая", "",
                                  "[Текущая]", "Year=2025", "", "[Новая]", "Last=1"}));

    // UTF-8 is read and written back in code page 1251; UTF-8 with a bad
    // byte and UTF-16 are neither: kept as they are, with a copy beside them.
    writeBytes(path, QStringLiteral("[Текущая]\r\nYear=2024\r\n").toUtf8());
    EXPECT_EQ(IniFile(path).readInteger("Текущая", "Year", 0), 2024);
    for (const QByteArray &bytes : {QByteArray("\xEF\xBB\xBF") + QStringLiteral("[Текущая]\r\nYear=2024\r\n").toUtf8() + "\xFF",
                                    utf16(QStringLiteral("[Текущая]\r\nYear=2024\r\n"), false, true)}) {
        QFile::remove(path + ".копия");
        writeBytes(path, bytes);
        IniFile bad(path);
        EXPECT_FALSE(bad.readError().isEmpty());
        EXPECT_FALSE(bad.writeInteger("Текущая", "Year", 2025));
        EXPECT_TRUE(bad.lastError().contains("не изменён")) << bad.lastError().toStdString();
        EXPECT_EQ(fileBytes(path), bytes);
        EXPECT_EQ(fileBytes(path + ".копия"), bytes);
    }
}

// A text typed into a field that goes into a file either is refused at entry with the character named, or comes back
// the same through export and import (a Tab or a line break of a one-line text as the blank it was saved as).
TEST(TypedTexts, EveryFieldIsRefusedOrSurvivesItsFile) {
    SampleFixture fx;
    FakeDialogs dialogs;
    fx.reloadCaches();
    const QString typed = QStringLiteral("Врачи: #1 \"штаты\"\tвсего\r\nитого");
    const QString oneLine = QStringLiteral("Врачи: #1 \"штаты\" всего итого");
    const QString emoji = QStringLiteral("Койки 😀");
    // store: as the window's save path does, throwing when refused; roundTrip: exports, imports, reads back.
    struct Field { const char *name; std::function<void(const QString &)> store; std::function<QString()> roundTrip; };
    const QString file = fx.root() + "round.trip";
    qint64 set = 0;
    const Field fields[] = {
        {"содержание формы", [](const QString &t) {
             if (const QString fault = catalog::formFieldsFault("Ф30", t); !fault.isEmpty()) throw std::runtime_error(fault.toStdString());
             catalog::updateForm(ids::FormF30, "Ф30", t, false);
         },
         [&] {
             catalog::exportForm(ids::FormF30, file);
             catalog::updateForm(ids::FormF30, "Ф30", "другое", false);
             catalog::importFrs(frs::readFile(file));
             return db::scalar(mainDb(), "select decipher from forms where id=?", {ids::FormF30}).toString();
         }},
        {"содержание таблицы", [](const QString &t) {
             if (const QString fault = catalog::tableFieldsFault("(1000)", t); !fault.isEmpty()) throw std::runtime_error(fault.toStdString());
             catalog::updateTable(ids::TableF30Staff, "(1000)", t, false, 0);
         },
         [&] {
             catalog::exportForm(ids::FormF30, file);
             catalog::updateTable(ids::TableF30Staff, "(1000)", "другое", false, 0);
             catalog::importFrs(frs::readFile(file));
             return db::scalar(mainDb(), "select name from tables where ident=?", {ids::TableF30Staff}).toString();
         }},
        {"набор показателей", [&](const QString &t) {
             const qint64 top = indicators::AddSet("Верх", 0);
             set = indicators::AddSet(t, top);
             indicators::SaveSetFile(file, top);
         },
         [&] {
             const QList<indicators::LoadedSet> made = indicators::LoadSetFile(file, indicators::AddSet("Цель", 0));
             return made.isEmpty() ? QString() : made.first().name;
         }},
        {"заголовок показателей", [&](const QString &t) {
             set = indicators::AddSet("Верх", 0);
             indicators::StoreGridCell(set, 1, 0, t, 64, 20);
             indicators::SaveSetFile(file, set);
         },
         [&] {
             const qint64 target = indicators::AddSet("Цель", 0);
             indicators::LoadSetFile(file, target);
             return indicators::LoadSet(target).cell(1, 0);
         }},
        {"короткое название", [&](const QString &t) { shortnames::save({{QStringLiteral("Северная больница"), t}}); },
         [&] { return shortnames::splitLine(shortnames::load().value(0)).second; }},
    };
    for (const Field &f : fields) {
        SCOPED_TRACE(f.name);
        const QString refused = refusal([&] { f.store(emoji); });
        EXPECT_TRUE(refused.contains("\"😀\" (U+1F600)")) << refused.toStdString();
        const QString why = refusal([&] { f.store(typed); });
        if (!why.isEmpty()) {
            // Refused at entry: the character at fault is named.
            EXPECT_TRUE(why.contains("\"#\"") || why.contains("\":\"") || why.contains(shortnames::kSheetNameRule))
                << why.toStdString();
            continue;
        }
        const QString back = f.roundTrip();
        EXPECT_TRUE(back == oneLine || back == QStringLiteral("Врачи: #1 \"штаты\" всего\r\nитого")) << back.toStdString();
    }
}

// UTF-8 with a damaged byte is refused as such by every kind of reader, never read as code page 1251: the settings
// file (which is then never written over), an update's description, a file of the program's text lines.
TEST(OutsideTextFiles, DamagedUtf8IsNeverReadAs1251) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/k.cfg";
    const QByteArray damaged = QStringLiteral("[Список]\r\nРайон1=/data/Район1\r\n").toUtf8() + "\xC8\r\n";
    writeBytes(path, damaged);
    IniFile ini(path);
    EXPECT_TRUE(ini.readError().contains("UTF-8")) << ini.readError().toStdString();
    EXPECT_FALSE(ini.writeString("Список", "Второй", "/data/2"));
    EXPECT_EQ(fileBytes(path), damaged);
    TUpdateManifest m;
    writeBytes(path, QStringLiteral("{\"version\": \"1\", \"description\": \"Обновление форм\", \"forms\": []}").toUtf8() + "\xFF");
    EXPECT_FALSE(LoadManifestFromFile(m, path));
    QStringList lines;
    QString why;
    writeBytes(path, damaged);
    EXPECT_FALSE(cp1251::readLines(path, lines, &why));
    EXPECT_TRUE(why.contains("UTF-8")) << why.toStdString();
}
