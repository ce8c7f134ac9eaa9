#include "platform/Background.h"
#include "platform/Codepage.h"
#include "platform/QuotedFields.h"
#include "platform/Database.h"
#include "platform/Errors.h"
#include "platform/Http.h"
#include "platform/office/OfficeError.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

#include "support/Files.h"
#include "support/FakeDialogs.h"
#include "support/ChildProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Cyrillic and control bytes go one byte each and come back; a character the code page cannot hold is named.
TEST(Codepage, RoundTripAndTheFirstCharacterThatCannotBeHeld) {
    const QString s = QStringLiteral("Отчетный год ЁёЪъ №1 \x01\x02\x03 abc");
    const QByteArray b = cp1251::encode(s);
    EXPECT_EQ(b.size(), s.size());
    EXPECT_EQ(cp1251::decode(b), s);
    EXPECT_EQ(cp1251::firstUnencodable(QStringLiteral("Район №2 «Ёлки» – €")), 0u);
    EXPECT_EQ(cp1251::firstUnencodable(QStringLiteral("Район ∑ 2")), 0x2211u);
    EXPECT_EQ(cp1251::firstUnencodable(QStringLiteral("Ząb")), 0x0105u);
    EXPECT_EQ(cp1251::firstUnencodable(QStringLiteral("Район 😀")), 0x1F600u);
}

// Every character that cannot be held is named once, in order, as it stands: a byte-order mark inside a text
// (it used to be dropped and looked for again for ever), a lone half of a surrogate pair, a pair as one character.
TEST(Codepage, UnencodableCharactersAreNamedAsTheyStand) {
    const QChar high(0xD83D), low(0xDE00);
    const QString text = QStringLiteral("Ф\uFEFF30 ") + high + QStringLiteral("х") + low + QStringLiteral("😀∑\uFEFF∑") + high;
    EXPECT_EQ(cp1251::unencodable(text), (QList<char32_t>{0xFEFF, 0xD83D, 0xDE00, 0x1F600, 0x2211}));
    EXPECT_EQ(cp1251::firstUnencodable(QStringLiteral("а") + low), 0xDE00u);
    EXPECT_TRUE(cp1251::unencodable(QStringLiteral("Район №2 «Ёлки» – €\x01\r\n")).isEmpty());
}

// Work run beside the caller gives back its result or what it threw, also in
// a child forked after the pool had threads (they did not come along).
TEST(Background, ResultOrFailureComesBackAlsoInAForkedChild) {
    const auto work = [] {
        std::future<int> sum = background::run([] { return 10 + 20; });
        std::future<void> failed = background::run([] { throw db::Error(QStringLiteral("Не удалось записать файл")); });
        if (sum.get() != 30) return false;
        try {
            failed.get();
        } catch (const db::Error &e) {
            return e.message() == QStringLiteral("Не удалось записать файл");
        }
        return false;
    };
    EXPECT_TRUE(work());
    const ChildEnd child = runInChild([&] { _exit(work() ? 0 : 1); }, -1, 20);
    EXPECT_FALSE(child.killed);
    EXPECT_EQ(child.code, 0);
}

TEST(IniFile, KeepsOrderAndCyrillicNames) {
    QTemporaryDir dir;
    const QString f = dir.filePath("Kelvana.cfg");
    {
        IniFile ini(f);
        ini.writeString(QStringLiteral("Конфигурации"), QStringLiteral("Область"), QStringLiteral("/data/obl"));
        ini.writeString(QStringLiteral("Конфигурации"), QStringLiteral("Архив"), QStringLiteral("/data/arh"));
        ini.writeString(QStringLiteral("Конфигурации"), QStringLiteral("Город"), QStringLiteral("/data/g"));
        ini.writeInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"), 2026);
        ini.writeInteger(QStringLiteral("Конфигурация"), QStringLiteral("Last"), 2);
    }
    IniFile again(f);
    EXPECT_EQ(again.sectionKeys(QStringLiteral("конфигурации")),
              QStringList({QStringLiteral("Область"), QStringLiteral("Архив"), QStringLiteral("Город")}));
    EXPECT_EQ(again.readInteger(QStringLiteral("Конфигурация"), QStringLiteral("year"), 0), 2026);
    EXPECT_EQ(again.readString(QStringLiteral("Конфигурации"), QStringLiteral("АРХИВ")), QStringLiteral("/data/arh"));
    // Overwriting keeps the position.
    again.writeString(QStringLiteral("Конфигурации"), QStringLiteral("Область"), QStringLiteral("/x"));
    IniFile third(f);
    EXPECT_EQ(third.sectionKeys(QStringLiteral("Конфигурации")).first(), QStringLiteral("Область"));
    EXPECT_TRUE(fileBytes(f).contains("\r\n"));
}

// A disk that fills up in mid-write: every writer of a text file reports it
// and leaves the previous file exactly as it was, with no leftovers.
TEST(TextFileWriter, FailedWriteKeepsPreviousFileAndSaysWhy) {
    const QStringList big(2000, QStringLiteral("Строка с данными, которая не поместится на диск"));
    struct Case {
        const char *name;
        std::function<bool(const QString &, QString &)> write;
    };
    const QList<Case> cases = {
        {"writeLines", [&](const QString &f, QString &e) { return cp1251::writeLines(f, big, &e); }},
        {"appendLines", [&](const QString &f, QString &e) { return cp1251::appendLines(f, big, &e); }},
        {"IniFile", [&](const QString &f, QString &e) {
             IniFile ini(f);
             const bool ok = ini.writeString(QStringLiteral("Конфигурации"), QStringLiteral("Район"), big.join(u' '));
             e = ini.lastError();
             // A failed save leaves the memory as the file is.
             return ok || ini.valueExists(QStringLiteral("Конфигурации"), QStringLiteral("Район"));
         }},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        const QString f = dir.filePath("Kelvana.cfg");
        ASSERT_TRUE(cp1251::writeLines(f, {QStringLiteral("[Конфигурации]"), QStringLiteral("Область=/data/obl")}));
        const QByteArray before = fileBytes(f);
        const LimitedRun run = runWithFileSizeLimit(4096, [&](QString &msg) { return c.write(f, msg); });
        EXPECT_TRUE(run.finished) << c.name;
        EXPECT_FALSE(run.result) << c.name;
        EXPECT_EQ(run.message, QStringLiteral("превышен допустимый размер файла")) << c.name;
        EXPECT_EQ(fileBytes(f), before) << c.name;
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Kelvana.cfg"}) << c.name;
    }
    // Without the limit the same writes succeed.
    QTemporaryDir dir;
    QString error;
    EXPECT_TRUE(cp1251::writeLines(dir.filePath("a.txt"), big, &error)) << error.toStdString();
    EXPECT_TRUE(cp1251::appendLines(dir.filePath("a.txt"), big, &error)) << error.toStdString();
    EXPECT_EQ(fileBytes(dir.filePath("a.txt")).size(), 2 * 2000 * (47 + 2));
}

// A name past the file system's 255 bytes is said in Russian, not as a system code.
TEST(TextFileWriter, NameTooLongIsSaidInRussian) {
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(cp1251::writeLines(dir.filePath(QString(128, QChar(0x0416)) + ".orw"), {"1"}, &error));
    EXPECT_EQ(error, QStringLiteral("имя файла слишком длинное"));
}

class DatabaseTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString file;
    void SetUp() override {
        file = dir.filePath("t.mdb");
        db::open("t_conn", file, db::OpenMode::Create);
        db::exec("t_conn", "create table units (id integer primary key autoincrement, unit text, \"row\" integer)");
    }
    void TearDown() override { db::close("t_conn"); }
};

TEST_F(DatabaseTest, CyrillicCaseInsensitiveMatching) {
    auto d = db::connection("t_conn");
    db::exec(d, "insert into units (unit, \"row\") values (?, ?)", {QStringLiteral("Городская Больница №1"), 1});
    db::exec(d, "insert into units (unit, \"row\") values (?, ?)", {QStringLiteral("ЦРБ"), 2});
    EXPECT_EQ(db::scalar(d, "select count(*) from units where unit like ?", {QStringLiteral("%больница%")}).toInt(), 1);
    EXPECT_EQ(db::scalar(d, "select count(*) from units where upper(unit)=upper(?)", {QStringLiteral("црб")}).toInt(), 1);
    EXPECT_EQ(db::scalar(d, "select count(*) from units where unit=? collate UNOCASE", {QStringLiteral("цРб")}).toInt(), 1);
    EXPECT_EQ(db::scalar(d, "select count(*) from units where unit like ?", {QStringLiteral("Ц_Б")}).toInt(), 1);
}

// The texts read straight through sqlite are those QSqlQuery reads: Cyrillic
// of both cases and other scripts, NULL apart from an empty text, numbers
// written as sqlite writes them, a zero character kept.
TEST_F(DatabaseTest, TextsReadStraightAreThoseOfAQuery) {
    auto d = db::connection("t_conn");
    db::exec(d, "create table t (k integer, a text, b)");
    const QVariantList values = {QStringLiteral("Ф12Т[1000]СТР1ГР3 >= ф12т(1000)стр[2..5]"), QString(""), QVariant(),
                                 0.1, qint64(-7), QStringLiteral("Ёлка ёлка 漢字 €"),
                                 QString::fromUtf16(u"a\0b", 3), 10.1 + 20.2 - 30.3};
    for (int i = 0; i < values.size(); ++i) db::exec(d, "insert into t values (?, ?, ?)", {i, values[i], values[i]});
    QStringList straight, query;
    QList<qint64> keys;
    db::readRows(d, "select k, a, b from t order by k", {}, [&](const db::ReadRow &f) {
        keys.append(f.integer(0));
        for (int c = 0; c < 3; ++c) straight.append(f.text(c).isNull() ? QStringLiteral("<null>") : f.text(c));
    });
    EXPECT_EQ(keys, (QList<qint64>{0, 1, 2, 3, 4, 5, 6, 7}));
    QSqlQuery q = db::exec(d, "select k, a, b from t order by k");
    while (q.next())
        for (int c = 0; c < 3; ++c)
            query.append(q.value(c).isNull() ? QStringLiteral("<null>") : q.value(c).toString());
    ASSERT_EQ(straight.size(), 3 * values.size());
    // A query gives numbers as numbers: they are compared as sqlite writes them.
    for (int i = 0; i < values.size(); ++i)
        if (values[i].typeId() == QMetaType::Double) query[3 * i + 1] = query[3 * i + 2] = straight[3 * i + 1];
    EXPECT_EQ(straight, query);
    EXPECT_EQ(straight[3 * 1 + 1], QString(""));
    EXPECT_EQ(straight[3 * 2 + 1], QStringLiteral("<null>"));
    EXPECT_EQ(straight[3 * 3 + 1], QStringLiteral("0.1"));
    EXPECT_EQ(straight[3 * 6 + 1].size(), 3);
}

// Yes/no columns as stored by this program (0/1) and by older writers ("True", "Да", -1): every reader takes them
// alike. Before, the calculated cell editor read "2" and "да" as no while the engine ran them as yes.
TEST(Database, StoredYesNoReadsAlikeEverywhere) {
    const QList<std::pair<QVariant, bool>> cases = {
        {QVariant(), false}, {QVariant(QMetaType(QMetaType::QString)), false}, {QString(), false},
        {0, false}, {1, true}, {-1, true}, {2, true}, {QStringLiteral(" True "), true},
        {QStringLiteral("FALSE"), false}, {QStringLiteral("yes"), true}, {QStringLiteral("No"), false},
        {QStringLiteral("Да"), true}, {QStringLiteral("НЕТ"), false}, {QStringLiteral("0.0"), false},
        {QStringLiteral("abc"), false}};
    for (const auto &[value, yes] : cases) EXPECT_EQ(db::storedYes(value), yes) << value.toString().toStdString();
}

TEST_F(DatabaseTest, TransactionRollsBackOnError) {
    auto d = db::connection("t_conn");
    EXPECT_THROW(db::transaction(d, [&] {
        db::exec(d, "insert into units (unit) values (?)", {"x"});
        db::exec(d, "insert into nosuchtable values (1)");
    }), db::Error);
    EXPECT_EQ(db::scalar(d, "select count(*) from units").toInt(), 0);
}

TEST_F(DatabaseTest, CopyAndAttach) {
    auto d = db::connection("t_conn");
    db::exec(d, "insert into units (unit) values (?)", {QStringLiteral("Копия")});
    const QString copy = dir.filePath("copy.mdb");
    db::copyDatabase(file, copy);
    db::ScopedConnection c(copy, db::OpenMode::ReadOnly);
    EXPECT_EQ(db::scalar(c.db(), "select unit from units").toString(), QStringLiteral("Копия"));
    EXPECT_THROW(db::exec(c.db(), "insert into units (unit) values ('z')"), db::Error);  // read-only
    db::attach(d, copy, "other");
    EXPECT_EQ(db::scalar(d, "select count(*) from other.units").toInt(), 1);
    db::detach(d, "other");
}

// Rows batched several to a statement all arrive, with their values as
// given, whether they filled a statement or waited for flush().
TEST_F(DatabaseTest, ValueRowBatchWritesEveryRow) {
    auto d = db::connection("t_conn");
    db::exec(d, "create table data (hospital integer, data double, year integer, \"table\" integer, "
                "\"column\" integer, \"row\" integer)");
    {
        db::ValueRowBatch batch(d, db::TableName::checked("data"), 3);
        for (int i = 0; i < 7; ++i) batch.add(10 + i, 0.1 * i + 10.1, 2024, 5, 3 + i, 4);
        EXPECT_EQ(db::scalar(d, "select count(*) from data").toInt(), 6);   // two full statements
        batch.flush();
    }
    QSqlQuery q = db::exec(d, "select hospital, data, year, \"table\", \"column\", \"row\" from data order by rowid");
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(q.next());
        EXPECT_EQ(q.value(0).toInt(), 10 + i);
        EXPECT_EQ(q.value(1).toDouble(), 0.1 * i + 10.1);
        EXPECT_EQ(q.value(4).toInt(), 3 + i);
    }
    EXPECT_FALSE(q.next());
}

// The value-row readers and writers take a table name checked once: plain
// names and an attached file's table, quoted; anything else is refused
// before a statement is made.
TEST_F(DatabaseTest, ValueRowTablesAreCheckedNames) {
    EXPECT_EQ(db::TableName::checked("data").sql(), "\"data\"");
    EXPECT_EQ(db::TableName::checked("repdata").sql(), "\"repdata\"");
    EXPECT_EQ(db::TableName::checked("src0.data").sql(), "\"src0\".\"data\"");
    EXPECT_EQ(db::TableName::checked("_t1").sql(), "\"_t1\"");
    for (const QString &bad : {QString(), QStringLiteral("data; drop table units"), QStringLiteral("da ta"),
                               QStringLiteral(" data"), QStringLiteral("\"data\""), QStringLiteral("данные"),
                               QStringLiteral("dataё"), QStringLiteral("1data"), QStringLiteral("a.b.c"),
                               QStringLiteral("data."), QStringLiteral(".data"), QStringLiteral("data#"),
                               QStringLiteral("data\t"), QStringLiteral("data\n"), QStringLiteral("data:x"),
                               QStringLiteral("data=1"), QString(5000, u'x') + u'-'})
        EXPECT_THROW(db::TableName::checked(bad), db::Error) << bad.left(40).toStdString();
    // A refused name says so in Russian, shown as written.
    try {
        db::TableName::checked("da ta");
        ADD_FAILURE();
    } catch (const db::Error &e) {
        EXPECT_EQ(e.message(), "Недопустимое имя таблицы значений: \"da ta\".");
    }
    // The quoted name reaches the statements: an attached file's table is read.
    auto d = db::connection("t_conn");
    db::exec(d, "create table data (hospital integer, data double, year integer, \"table\" integer, "
                "\"column\" integer, \"row\" integer)");
    {
        db::ValueRowBatch batch(d, db::TableName::checked("main.data"), 2);
        for (int i = 0; i < 3; ++i) batch.add(7, i + 1.5, 2024, 5, 3, i);
        batch.flush();
    }
    double sum = 0;
    db::readInstitutionRows(d, db::TableName::checked("main.data"), 7, 2024, "data", 1,
                            [&](const double *f) { sum += f[0]; });
    EXPECT_EQ(sum, 1.5 + 2.5 + 3.5);
}

// An institution's rows come whole and in the order they lie, whether they
// lie together, among a few of others, or scattered among many (the index
// takes over), and whatever year or institution lies between.
TEST_F(DatabaseTest, InstitutionRowsComeWholeInTheirOrder) {
    auto d = db::connection("t_conn");
    db::exec(d, "create table data (hospital integer, data double, year integer, \"table\" integer, "
                "\"column\" integer, \"row\" integer)");
    db::exec(d, "create index data_hospital on data (hospital, year)");
    db::exec(d, "begin");
    db::ValueRowInsert rows(d, db::TableName::checked("data"));
    int k = 0;
    const auto add = [&](qint64 h, int year) {
        ++k;
        rows.add(h, 0.1 * k, year, 1, k, 1);
    };
    for (int i = 0; i < 5; ++i) add(1, 2024);                        // together
    for (int i = 0; i < 40; ++i) add(2, i % 2 ? 2024 : 2025), add(3, 2024);   // among a few
    for (int i = 0; i < 3000; ++i) add(i % 500 ? 5 : 4, 2024);      // scattered among many
    for (int i = 0; i < 3; ++i) add(1, 2024), add(2, 2024);
    db::exec(d, "commit");
    for (const qint64 h : {1, 2, 3, 4, 5, 6}) {
        QList<double> got, want;
        db::readInstitutionRows(d, db::TableName::checked("data"), h, 2024, "data, \"column\"", 2, [&](const double *f) {
            got.append(f[0]);
            EXPECT_EQ(f[0], 0.1 * f[1]);
        });
        QSqlQuery q = db::exec(d, "select data from data where hospital=? and year=2024 order by rowid", {h});
        while (q.next()) want.append(q.value(0).toDouble());
        EXPECT_EQ(got, want) << h;
    }
}

// A statement run aside lets the caller's thread poll meanwhile; "stop" interrupts it and it changes nothing.
TEST_F(DatabaseTest, StatementRunAsideIsPolledAndStops) {
    auto d = db::connection("t_conn");
    const QString longStatement =
        "create table big as with recursive c(x) as (select 1 union all select x + 1 from c where x < 20000000) "
        "select x from c";
    int polls = 0;
    {
        // "Stop" on the third poll: the statement is interrupted, and the
        // caller's thread goes on being polled until it has ended.
        db::StatementPoll poll(d, [&] { return ++polls < 3; });
        EXPECT_THROW(poll.execAside(longStatement), Cancelled);
    }
    EXPECT_GE(polls, 3);
    EXPECT_FALSE(db::tableExists(d, "big"));
    db::StatementPoll poll(d, [] { return true; });
    poll.execAside("create table small (x integer)");
    EXPECT_TRUE(db::tableExists(d, "small"));
}

// Failed statements reach the user as a Russian sentence naming what failed
// and why, without the statement or SQLite's English text.
TEST_F(DatabaseTest, FailuresAreToldInRussianWithoutTheStatement) {
    auto d = db::connection("t_conn");
    db::exec(d, "create unique index units_unit on units (unit)");
    db::exec(d, "insert into units (unit) values (?)", {QStringLiteral("ЦРБ")});
    const QString filler(4000, QChar(u'Ж'));
    struct Case { const char *sql; QVariantList params; QString expected; };
    const Case cases[] = {
        {"insert into units (unit) values (?)", {QStringLiteral("ЦРБ")},
         "Не удалось записать данные в таблицу units (t.mdb): такая запись уже есть или значение недопустимо."},
        {"select x from nosuch where id=?", {1}, "в базе данных нет таблицы nosuch"},
        {"update units set nosuch=? where id=1", {1}, "в таблице нет поля nosuch"},
        // The file may not grow: as when the disk is full.
        {"insert into units (unit) values (?)", {filler},
         "Не удалось записать данные в таблицу units (t.mdb): на диске нет места"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sql);
        if (QString(c.expected).contains(QStringLiteral("нет места"))) {
            const int pages = db::scalar(d, "pragma page_count").toInt();
            db::exec(d, QStringLiteral("pragma max_page_count=%1").arg(pages));
        }
        try {
            for (int i = 0; i < 50; ++i)   // until the file is full
                db::exec(d, QString::fromLatin1(c.sql), c.expected.contains(QStringLiteral("нет места"))
                             ? QVariantList{filler + QString::number(i)} : c.params);
            ADD_FAILURE() << "no error";
        } catch (const db::Error &e) {
            EXPECT_TRUE(e.message().contains(c.expected)) << e.message().toStdString();
            EXPECT_FALSE(e.message().contains(QString::fromLatin1(c.sql).left(12))) << e.message().toStdString();
            EXPECT_FALSE(e.message().contains(QStringLiteral("SQL"))) << e.message().toStdString();
        }
    }
}

TEST(Database, MissingFileIsReportedInRussian) {
    QTemporaryDir dir;
    try {
        db::open("missing", dir.filePath("none.mdb"));
        FAIL();
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("не найден")));
    }
    EXPECT_FALSE(db::isOpen("missing"));
}

// Quotes, commas and empty fields survive a round trip; lines of writers that did not double the quotes still read.
TEST(QuotedFields, RoundTripAndLinesOfOtherWriters) {
    const QList<QStringList> cases = {
        {QStringLiteral("Ф30"), QStringLiteral("(1000)"), QStringLiteral("СТР1ГР4")},
        {QString(), QString(), QString()},
        {QStringLiteral("\""), QStringLiteral("\",\""), QStringLiteral("a\"")},
        {QStringLiteral("Сведения \"о\" штатах"), QStringLiteral(",\""), QStringLiteral("\"\"")},
    };
    QStringList f;
    for (const QStringList &c : cases) {
        ASSERT_TRUE(quoted::split(quoted::join(c), f)) << quoted::join(c).toStdString();
        EXPECT_EQ(f, c) << quoted::join(c).toStdString();
    }
    ASSERT_TRUE(quoted::split(QStringLiteral("\"Ф30\",\"Сведения \"о\" штатах\",\"x\"  "), f));
    EXPECT_EQ(f, (QStringList{QStringLiteral("Ф30"), QStringLiteral("Сведения \"о\" штатах"), QStringLiteral("x")}));
    EXPECT_FALSE(quoted::split(QStringLiteral("Ф30,x"), f));
    EXPECT_FALSE(quoted::split(QStringLiteral("\""), f));
}

// A handler's failure of any kind becomes one error message with the exact
// Russian text, and a wait cursor taken inside the handler is given back.
TEST(GuardedHandler, EveryFailureShowsItsTextAndRestoresTheCursor) {
    const QString text = QStringLiteral("Нет файла «Ф30 #=\tё» (строка 10.1)");
    const std::function<void()> throws[] = {
        [&] { throw db::Error(text); },
        [&] { throw office::Error(text); },
        [&] { throw HttpError(text); },
        [&] { throw std::runtime_error(text.toStdString()); },
    };
    for (const auto &fail : throws) {
        FakeDialogs fake;
        winutil::guarded(nullptr, [&] {
            const winutil::WaitCursor wait;
            fail();
        });
        EXPECT_EQ(fake.messages, QStringList{text});
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}

// Memory running out anywhere is told in Russian, not as the library's text.
TEST(GuardedHandler, MemoryRunningOutIsToldInRussian) {
    const QString text = winutil::errorText(std::bad_alloc());
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(text.contains(QRegularExpression("[A-Za-z]"))) << text.toStdString();
}

// A commit that fails (the disk fills up as the pages go to the file) rolls
// back, and the connection works on at once: reads, and writes that fit.
TEST_F(DatabaseTest, FailedCommitLeavesTheConnectionWorking) {
    auto d = db::connection("t_conn");
    for (int i = 0; i < 20; ++i) db::exec(d, "insert into units (unit) values (?)", {QStringLiteral("Старая %1").arg(i)});
    const qint64 size = QFileInfo(file).size();
    const LimitedRun run = runWithFileSizeLimit(size + 4096, [&](QString &message) {
        QSqlDatabase c = db::connection("t_conn");
        // A reader left open by a window, as the value lists keep them.
        QSqlQuery open = db::exec(c, "select unit from units");
        open.next();
        try {
            db::transaction(c, [&] {
                for (int i = 0; i < 400; ++i)
                    db::exec(c, "insert into units (unit) values (?)", {QString(400, QChar(u'ж'))});
            });
            message = "commit passed";
            return false;
        } catch (const db::Error &e) {
            message = e.message();
        }
        try {
            if (db::scalar(c, "select count(*) from units").toInt() != 20) { message += " | lost rows"; return false; }
            db::transaction(c, [&] { db::exec(c, "update units set unit=? where id=1", {QStringLiteral("Новая")}); });
            if (db::scalar(c, "select unit from units where id=1").toString() != QStringLiteral("Новая")) {
                message += " | no update";
                return false;
            }
        } catch (const db::Error &e) {
            message += " | after: " + e.message();
            return false;
        }
        return true;
    });
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.result) << run.message.toStdString();
    EXPECT_TRUE(run.message.contains(QStringLiteral("Не удалось сохранить"))) << run.message.toStdString();
}

// A commit refused by a deferred check leaves the transaction open: it is
// rolled back, and the next transaction of the connection starts and commits.
TEST_F(DatabaseTest, CommitRefusedByADeferredCheckIsRolledBack) {
    auto d = db::connection("t_conn");
    db::exec(d, "pragma foreign_keys=on");
    db::exec(d, "create table child (unit integer references units(id) deferrable initially deferred)");
    QSqlQuery open = db::exec(d, "select unit from units");   // a reader left open
    EXPECT_THROW(db::transaction(d, [&] { db::exec(d, "insert into child (unit) values (99)"); }), db::Error);
    EXPECT_EQ(db::scalar(d, "select count(*) from child").toInt(), 0);
    db::transaction(d, [&] { db::exec(d, "insert into units (unit) values (?)", {QStringLiteral("Ёлка")}); });
    EXPECT_EQ(db::scalar(d, "select count(*) from units").toInt(), 1);
}

// Why a file failed, in Russian, for each way a user meets it.
TEST(FileErrorText, EachFailureIsToldInRussian) {
    QTemporaryDir dir;
    const struct {
        QString path;
        QIODevice::OpenMode mode;
        QString said;
    } cases[] = {
        {dir.filePath("нет.txt"), QIODevice::ReadOnly, QStringLiteral("файл не найден")},
        {dir.filePath("нет/файл.txt"), QIODevice::WriteOnly, QStringLiteral("папка не найдена")},
        {dir.path(), QIODevice::ReadOnly, QStringLiteral("находится папка")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        QFile f(c.path);
        EXPECT_FALSE(f.open(c.mode));
        const QString text = winutil::fileErrorText(f);
        EXPECT_TRUE(text.contains(c.said)) << text.toStdString();
        EXPECT_FALSE(text.contains(QRegularExpression("[A-Za-z]"))) << text.toStdString();
    }
    // A disk that fills up while the file is written.
    const QString full = dir.filePath("полный.txt");
    const LimitedRun run = runWithFileSizeLimit(10, [&](QString &said) {
        QFile f(full);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
        if (f.write(QByteArray(100, 'x')) == 100) return false;
        said = winutil::fileErrorText(f);
        return true;
    });
    ASSERT_TRUE(run.result) << run.message.toStdString();
    EXPECT_TRUE(run.message.contains(QStringLiteral("нет места"))) << run.message.toStdString();
}

// "Отмена" seen while a short statement writes: the statement ends (an
// interrupted write would take the whole transaction back inside its step,
// where nothing paints), the job stops after it, and the rollback changes
// nothing; a write still running after a moment is interrupted.
TEST_F(DatabaseTest, StopLetsAShortWriteEndAndInterruptsALongOne) {
    auto d = db::connection("t_conn");
    bool stop = false;
    db::StatementPoll poll(d, [&] { return !stop; });
    EXPECT_THROW(db::transaction(d, [&] {
        db::exec(d, "insert into units (unit) select 'Ёж' || x from (with recursive c(x) as (select 1 union all "
                    "select x + 1 from c where x < 3000) select x from c)");
        stop = true;
        db::exec(d, "insert into units (unit) select unit from units");
        EXPECT_EQ(db::scalar(d, "select count(*) from units").toInt(), 6000);
        throw Cancelled();
    }), Cancelled);
    EXPECT_EQ(db::scalar(d, "select count(*) from units").toInt(), 0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(db::transaction(d, [&] {
        db::exec(d, "insert into units (unit) select 'x' from (with recursive c(x) as (select 1 union all "
                    "select x + 1 from c where x < 100000000) select x from c)");
    }), db::Error);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(db::scalar(d, "select count(*) from units").toInt(), 0);
}

// A commit that waits for a file another connection reads runs aside: the caller's thread is polled meanwhile, and
// "stop" ends the wait at once (not after the five seconds of the busy timeout), rolls back and changes nothing.
TEST_F(DatabaseTest, CommitWaitingForALockedFileIsPolledAndStops) {
    auto d = db::connection("t_conn");
    db::ScopedConnection reader(file, db::OpenMode::ReadOnly);
    db::exec(reader.db(), "begin");
    ASSERT_EQ(db::scalar(reader.db(), "select count(*) from units").toInt(), 0);   // holds the file for reading
    int polls = 0;
    QElapsedTimer clock;
    {
        db::StatementPoll poll(d, [&] {
            ++polls;
            return clock.elapsed() < 200;
        });
        clock.start();
        EXPECT_THROW(db::transaction(d, [&] { db::exec(d, "insert into units (unit) values (?)", {"x"}); }), Cancelled);
    }
    EXPECT_LT(clock.elapsed(), 700);
    EXPECT_GE(polls, 5);
    db::exec(reader.db(), "commit");
    EXPECT_EQ(db::scalar(d, "select count(*) from units").toInt(), 0);
    // The connection takes the next transaction, aside or not.
    {
        db::StatementPoll poll(d, [] { return true; });
        db::transaction(d, [&] { db::exec(d, "insert into units (unit) values (?)", {QStringLiteral("Ёж")}); });
    }
    db::transaction(d, [&] { db::exec(d, "insert into units (unit) values (?)", {QStringLiteral("ёж")}); });
    EXPECT_EQ(db::scalar(d, "select count(*) from units").toInt(), 2);
}
