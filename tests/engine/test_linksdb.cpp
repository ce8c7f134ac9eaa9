#include "engine/LinksDb.h"
#include "engine/SharedState.h"
#include "platform/Paths.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Opening is read-only and a missing file is named; completing an existing
// file keeps its rows; a code prefix matches "_" as itself.
TEST(LinksDb, OpenCompleteAndMatchPrefixes) {
    QTemporaryDir dir;
    const QString path = dir.filePath(links::kFileName);
    try {
        links::openLinks(path);
        FAIL() << "missing file opened";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().contains(path));
    }
    links::createLinksDatabase(path);
    {
        db::ScopedConnection c(path, db::OpenMode::ReadWrite);
        db::exec(c.db(), "insert into \"rows\" (mskrow, orvrow) values (?, ?)", {"030001000001", 5});
        for (const char *code : {"030001000", "03000_100", "031001000", "03000"})
            db::exec(c.db(), "insert into tables (msk, orv) values (?, 'x')", {QString(code)});
    }
    links::createLinksDatabase(path);
    auto c = links::openLinks(path);
    EXPECT_EQ(db::scalar(c->db(), "select orvrow from \"rows\"").toInt(), 5);
    EXPECT_THROW(db::exec(c->db(), "insert into raz (a1) values ('1')"), db::Error);
    const QVariantList hit = db::column(c->db(),
        "select msk from tables where " + links::prefixCondition("msk") + " order by msk",
        links::prefixParams("03000_"));
    EXPECT_EQ(hit, (QVariantList{"03000_100"}));
    EXPECT_EQ(db::column(c->db(), "select msk from tables where " + links::prefixCondition("msk"),
                         links::prefixParams("0300")).size(), 3);
}

TEST(LinksDb, FileIsLookedForInYearFolderThenProgramFolder) {
    QTemporaryDir dir;
    const QString saved = paths::programFolder();
    const SharedState before = shared();
    paths::setProgramFolder(dir.filePath("prog"));
    QDir(dir.path()).mkpath("cfg/2024");
    shared().ConfigPath = dir.filePath("cfg") + "/";
    shared().Year = 2024;

    EXPECT_EQ(links::findLinksFile(), dir.filePath("prog/Links.mdb"));
    links::createLinksDatabase(dir.filePath("cfg/2024/Links.mdb"));
    EXPECT_EQ(links::findLinksFile(), dir.filePath("cfg/2024/Links.mdb"));

    paths::setProgramFolder(saved);
    shared().ConfigPath = before.ConfigPath;
    shared().Year = before.Year;
}

} // namespace
