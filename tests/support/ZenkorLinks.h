#pragma once
// The sample with a Links.mdb that maps the book's codes to its forms: book table 1000 is the program's Ф30 (1000),
// numbered alike; book table 2108 is Ф30 (2000), numbered otherwise; book form 14000 is Ф14.
#include "controls/ZenkorImporter.h"
#include "engine/LinksDb.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

#include <gtest/gtest.h>

// A fresh Links.mdb at path (by default in the sample's year folder), filled by the statements given.
inline QString makeLinksAt(const QString &path, const QStringList &statements) {
    links::createLinksDatabase(path);
    db::ScopedConnection c(path, db::OpenMode::ReadWrite);
    for (const QString &s : statements) db::exec(c.db(), s);
    return path;
}
inline QString makeLinks(const SampleFixture &fx, const QStringList &statements) {
    return makeLinksAt(fx.yearFolder() + QStringLiteral("Links.mdb"), statements);
}

class ZenkorLinksTest : public ::testing::Test {
protected:
    SampleFixture fx;
    FakeDialogs dialogs;
    NameValueList codes;
    QString linksPath;

    void SetUp() override {
        fx.reloadCaches();
        linksPath = makeLinks(fx, {QStringLiteral("insert into forms (nf, mf) values ('Ф30', '30000'), ('Ф14', '14000')"),
                                   QStringLiteral("insert into tables (msk, orv) values ('300001000', 'Ф30(1000)'), "
                                                  "('300002108', 'Ф30(2000)'), ('140001000', 'Ф14(1000)')"),
                                   QStringLiteral("insert into cols values ('30000210801', 4), ('30000210802', 5)")});
        db::ScopedConnection c(linksPath, db::OpenMode::ReadWrite);
        const QSqlDatabase d = c.db();
        for (int n = 1; n <= 7; ++n) {
            const QString code = QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
            if (n <= 5) db::exec(d, "insert into \"rows\" values (?, ?)", {"300001000" + code, n});
            db::exec(d, "insert into cols values (?, ?)", {"300001000" + code.right(2), n});
        }
        for (const auto &[book, ours] : {std::pair{"003", 3}, {"004", 2}, {"005", 1}, {"008", 20}})
            db::exec(d, "insert into \"rows\" values (?, ?)", {QStringLiteral("300002108") + book, ours});
        codes.setValue(QStringLiteral("30000"), QStringLiteral("Ф30"));
        codes.setValue(QStringLiteral("14000"), QStringLiteral("Ф14"));
    }

    QString writeBook(const QStringList &lines) {
        const QString path = fx.root() + QStringLiteral("book.txt");
        EXPECT_TRUE(cp1251::writeLines(path, lines));
        return path;
    }
};
