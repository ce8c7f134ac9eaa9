// "Отмена" pressed while a job's single statement runs long, or while its commit waits: the progress window goes on
// answering, the job stops within half a second and the data is as before.
#include "core/ProgressWindow.h"
#include "platform/Database.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <thread>
#include <gtest/gtest.h>

namespace {

struct PolledConnectionTest : ::testing::Test {
    QTemporaryDir dir;
    QString file;
    void SetUp() override {
        file = dir.filePath("values.mdb");
        db::open("polled", file, db::OpenMode::Create);
        db::exec("polled", "create table data (hospital integer, data double)");
        db::exec("polled", "insert into data values (1, 10.1)");
    }
    void TearDown() override { db::close("polled"); }
    int rows() { return db::scalar(db::connection("polled"), "select count(*) from data").toInt(); }
};

// Presses "Отмена" after 150 ms (the timer runs in the window's event passes)
// and returns how long the job went on after it.
double stoppedAfterCancel(const std::function<void()> &job) {
    ProgressRun run(QStringLiteral("Работа"));
    QElapsedTimer sinceCancel;
    QTimer::singleShot(150, [&] {
        run.window().cancelButton()->click();
        sinceCancel.start();
    });
    PolledConnection polled(run.window(), db::connection("polled"));
    EXPECT_THROW(polled.run(job), Cancelled);
    EXPECT_TRUE(sinceCancel.isValid());
    return sinceCancel.isValid() ? double(sinceCancel.elapsed()) / 1000 : 99;
}

} // namespace

TEST_F(PolledConnectionTest, LongStatementStopsWithinHalfASecond) {
    const QSqlDatabase d = db::connection("polled");
    const double after = stoppedAfterCancel([&] {
        db::transaction(d, [&] {
            db::exec(d, "insert into data select x, 0.1 from (with recursive c(x) as (select 1 union all select x + 1 "
                        "from c where x < 50000000) select x from c)");
        });
    });
    EXPECT_LT(after, 0.5);
    EXPECT_EQ(rows(), 1);
}

TEST_F(PolledConnectionTest, CommitWaitingForAReaderStopsWithinHalfASecond) {
    const QSqlDatabase d = db::connection("polled");
    db::ScopedConnection reader(file, db::OpenMode::ReadOnly);
    db::exec(reader.db(), "begin");
    ASSERT_EQ(db::scalar(reader.db(), "select count(*) from data").toInt(), 1);   // holds the file
    const double after = stoppedAfterCancel([&] {
        db::transaction(d, [&] { db::exec(d, "insert into data values (2, 0.2)"); });
    });
    EXPECT_LT(after, 0.5);
    db::exec(reader.db(), "commit");
    EXPECT_EQ(rows(), 1);
    db::transaction(d, [&] { db::exec(d, "insert into data values (3, -0.3)"); });   // the connection works on
    EXPECT_EQ(rows(), 2);
}

// A step that cannot stop halfway (saving a large workbook) runs while the
// window goes on painting: the events of the window's thread keep running
// every few hundredths of a second, and what the step throws comes back.
TEST(ProgressRunTest, StepRunsWhileTheWindowPaints) {
    ProgressRun run(QStringLiteral("Вывод в Excel"));
    int beats = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] { ++beats; });
    beat.start(10);
    QElapsedTimer clock;
    clock.start();
    bool saved = false;
    run.runWhilePainting(QStringLiteral("Сохранение книги Excel"), [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        saved = true;
    });
    EXPECT_TRUE(saved);
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_GE(beats, 8);
    EXPECT_EQ(run.window().statusText(), QStringLiteral("Сохранение книги Excel"));
    EXPECT_THROW(run.runWhilePainting(QStringLiteral("Сохранение"), [] { throw db::Error(QStringLiteral("диск полон")); }),
                 db::Error);
}
