// Every way a statement reaches the database, through every kind of failure a user meets (a database busy in another
// program, a read-only file, a full disk, a damaged file): the message is Russian, says what to do, and holds neither
// SQLite's English text nor the statement.
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/ChildProcess.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <functional>

namespace {

enum class Kind { Locked, ReadOnly, Full, Damaged };

const char *kindName(Kind k) {
    switch (k) {
    case Kind::Locked: return "locked";
    case Kind::ReadOnly: return "read-only";
    case Kind::Full: return "full";
    case Kind::Damaged: return "damaged";
    }
    return "";
}

// What the user must read for each kind: the cause and what to do.
QStringList expectedWords(Kind k) {
    switch (k) {
    case Kind::Locked: return {"занята другой программой", "повторите операцию"};
    case Kind::ReadOnly: return {"только для чтения", "Снимите защиту"};
    case Kind::Full: return {"нет места", "Освободите место"};
    case Kind::Damaged: return {"поврежден", "резервной копии"};
    }
    return {};
}

void expectWords(const QString &message, const QStringList &words) {
    for (const QString &w : words) EXPECT_TRUE(message.contains(w)) << message.toStdString();
}

void expectRussianWithAdvice(const QString &message, Kind kind, const QString &fileName) {
    expectWords(message, expectedWords(kind));
    QString rest = message;
    rest.remove(fileName);
    rest.remove(" data ");   // the table's own name
    static const QRegularExpression latin("[A-Za-z]");
    EXPECT_FALSE(rest.contains(latin)) << message.toStdString();
}

const char *kValues = "create table data (hospital integer, data double, year integer, \"table\" integer, "
                      "\"column\" integer, \"row\" integer)";

// A values database with enough rows to span many pages.
void makeDatabase(const QString &file) {
    db::ScopedConnection c(file, db::OpenMode::Create, "make");
    db::exec(c.db(), kValues);
    db::transaction(c.db(), [&] {
        db::ValueRowBatch rows(c.db(), db::TableName::checked("data"));
        for (int i = 0; i < 4000; ++i) rows.add(i % 40, i + 0.1, 2024, 1, i % 7, i);
        rows.flush();
    });
}

// Damaged pages in the middle of the file (the header stays intact).
void damage(const QString &file) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const qint64 size = f.size();
    f.seek(4096);
    f.write(QByteArray(int(size - 8192), '\x5A'));
}

// writes: read-only and full disk concern writing paths only.
struct Path { const char *name; bool writes; std::function<void(const QSqlDatabase &)> run; };

void insertMany(const std::function<void(int)> &one) {
    for (int i = 0; i < 20000; ++i) one(i);
}

void insertRow(const QSqlDatabase &d, int i, double value, int year) {
    db::exec(d, "insert into data (hospital, data, year) values (?, ?, ?)", {i, value, year});
}

const Path kPaths[] = {
    {"exec select", false,
     [](const QSqlDatabase &d) { db::scalar(d, "select sum(data) from data where year=?", {2024}); }},
    {"exec insert", true, [](const QSqlDatabase &d) { insertMany([&](int i) { insertRow(d, i, 10.1, 2024); }); }},
    {"transaction", true, [](const QSqlDatabase &d) {
         db::transaction(d, [&] { insertMany([&](int i) { insertRow(d, i, 0.1, 2025); }); });
     }},
    {"readNumbers", false, [](const QSqlDatabase &d) {
         db::readNumbers(d, "select data from data where year=?", {2024}, 1, [](const double *) {});
     }},
    {"readInstitutionRows", false, [](const QSqlDatabase &d) {
         db::readInstitutionRows(d, db::TableName::checked("data"), 3, 2024, "data", 1, [](const double *) {});
     }},
    {"ValueRowInsert", true, [](const QSqlDatabase &d) {
         db::ValueRowInsert rows(d, db::TableName::checked("data"));
         insertMany([&](int i) { rows.add(i, 10.1, 2024, 2, 1, i); });
     }},
    {"ValueRowBatch", true, [](const QSqlDatabase &d) {
         db::ValueRowBatch rows(d, db::TableName::checked("data"), 64);
         insertMany([&](int i) { rows.add(i, 10.1, 2024, 3, 1, i); });
         rows.flush();
     }},
    {"StatementPoll", true, [](const QSqlDatabase &d) {
         db::StatementPoll poll(d, [] { return true; });
         for (int more : {1000, 2000})
             poll.execAside(QString("insert into data select hospital + %1, data, %2, \"table\", \"column\", \"row\" "
                                    "from data").arg(more).arg(2026 + more / 2000));
     }},
};

// Another program holding the database: an exclusive transaction with a change in it.
void holdLock(std::optional<db::ScopedConnection> &holder, const QString &file) {
    holder.emplace(file, db::OpenMode::ReadWrite, "holder");
    db::exec(holder->db(), "begin exclusive");
    db::exec(holder->db(), "delete from data where hospital=0");
}

class DatabaseFailures : public ::testing::TestWithParam<Kind> {};

// Runs a path on a connection prepared for the kind of failure; the message it ends with.
QString failureOf(const Path &path, Kind kind) {
    QTemporaryDir dir;
    const QString file = dir.filePath("data0.mdb");
    makeDatabase(file);
    if (kind == Kind::Damaged) damage(file);
    const QString name = "fail";
    QSqlDatabase d = db::open(name, file, kind == Kind::ReadOnly ? db::OpenMode::ReadOnly : db::OpenMode::ReadWrite);
    std::optional<db::ScopedConnection> holder;
    if (kind == Kind::Locked) {
        db::exec(d, "pragma busy_timeout=0");
        holdLock(holder, file);
    }
    if (kind == Kind::Full)
        db::exec(d, QString("pragma max_page_count=%1").arg(db::scalar(d, "pragma page_count").toInt()));
    QString message;
    try {
        path.run(d);
    } catch (const db::Error &e) {
        message = e.message();
    }
    if (holder) db::exec(holder->db(), "rollback");
    db::close(name);
    return message;
}

} // namespace

TEST_P(DatabaseFailures, EveryPathTellsTheCauseAndWhatToDoInRussian) {
    const Kind kind = GetParam();
    for (const Path &path : kPaths) {
        if (!path.writes && (kind == Kind::ReadOnly || kind == Kind::Full)) continue;
        SCOPED_TRACE(std::string(path.name) + " / " + kindName(kind));
        const QString message = failureOf(path, kind);
        ASSERT_FALSE(message.isEmpty()) << "no failure";
        expectRussianWithAdvice(message, kind, "data0.mdb");
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DatabaseFailures,
                         ::testing::Values(Kind::Locked, Kind::ReadOnly, Kind::Full, Kind::Damaged),
                         [](const auto &info) {
                             std::string n = kindName(info.param);
                             n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                             return n;
                         });

// Opening and copying: a file that is busy or damaged is told alike.
TEST(DatabaseFailures, OpeningAndCopyingTellTheCause) {
    for (const Kind kind : {Kind::Damaged, Kind::Locked}) {
        SCOPED_TRACE(kindName(kind));
        QTemporaryDir dir;
        const QString file = dir.filePath("data0.mdb");
        makeDatabase(file);
        if (kind == Kind::Damaged)
            ASSERT_TRUE(cp1251::writeFile(file, QByteArray(8192, '\x5A')));   // not even the header is left
        std::optional<db::ScopedConnection> holder;
        if (kind == Kind::Locked) holdLock(holder, file);
        const QStringList words =
            kind == Kind::Damaged ? QStringList{"не является базой данных", "резервной копии"} : expectedWords(kind);
        auto refuses = [&](const char *what, const std::function<void()> &f) {
            try {
                f();
                ADD_FAILURE() << what;
            } catch (const db::Error &e) {
                expectWords(e.message(), words);
            }
        };
        refuses("copied", [&] { db::copyDatabase(file, dir.filePath("copy.mdb")); });
        if (kind == Kind::Locked) continue;   // opening waits for the holder (5 s)
        refuses("opened", [&] { db::open("opening", file); });
    }
}

// A disk that fills up while the transaction is committed: the driver passes
// no code with the failed commit; the message still says what happened.
TEST(DatabaseFailures, FullDiskAtCommitIsToldAsSuch) {
    QTemporaryDir dir;
    const QString file = dir.filePath("data0.mdb");
    makeDatabase(file);
    const qint64 size = QFileInfo(file).size();
    const LimitedRun run = runWithFileSizeLimit(size, [&](QString &said) {
        try {
            QSqlDatabase d = db::open("commit", file);
            db::exec(d, "pragma cache_size=-16000");
            db::transaction(d, [&] {
                db::ValueRowBatch rows(d, db::TableName::checked("data"));
                for (int i = 0; i < 3000; ++i) rows.add(i, 10.1, 2030, 1, 1, i);
                rows.flush();
            });
        } catch (const db::Error &e) {
            said = e.message();
            return true;
        }
        return false;
    });
    ASSERT_TRUE(run.result) << run.message.toStdString();
    EXPECT_TRUE(run.message.startsWith("Не удалось сохранить изменения")) << run.message.toStdString();
    EXPECT_TRUE(run.message.contains("нет места") || run.message.contains("ошибка чтения или записи файла"))
        << run.message.toStdString();
    EXPECT_FALSE(run.message.contains("ошибка базы данных")) << run.message.toStdString();
}
