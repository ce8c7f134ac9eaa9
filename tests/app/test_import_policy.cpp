// Every import that replaces a set from a file, through the call its window makes, run through the same hostile files;
// and a scan of the sources that fails when a new import of that kind bypasses engine/ImportPolicy.
#include "support/SourceScan.h"
#include "support/QueryRows.h"
#include "support/WindowTestBase.h"

#include "controls/ControlFile.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "forms/shared/FormListLogic.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QDirIterator>
#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringConverter>
#include <functional>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

QStringList dump(const QString &db, const QString &sql) { return queryRows(db::connection(db), sql); }

QString valueLine(const QString &value, const QString &form, const QString &tablen, int column, int row) {
    return transfer::formatRecord(value, shared().yearText(), form, tablen, column, row);
}

// One import: the call its window makes (returning the closing message), a valid file for its target, lines of another
// target, a bad line and a line of an unknown table, and what it replaces.
struct Import {
    const char *name, *ext;
    QStringList valid;
    QString otherTarget, badLine;
    bool badLineRefusesFile;
    QString unknownTable;   // a line of Ф30 (9999) or Ф47 (9999)
    std::function<QString(const QString &)> run;
    std::function<QStringList()> state;
    // What lies outside the targets of the valid lines: a load never touches it.
    std::function<QStringList()> others = {};
};

QList<Import> imports() {
    const CachedTable *staff = shared().Caches.table(ids::TableF30Staff);
    const int c = staff->shape.fixcols + 2, r = staff->shape.fixrows + 2;
    const QStringList values{valueLine("10.1", "Ф30", "(1000)", c, r), valueLine("0.1", "Ф30", "(1000)", c + 1, r)};
    const QString otherValues = valueLine("5", "Ф14", "(1000)", 3, 3);
    const QString badValue = valueLine("1,5", "Ф30", "(1000)", c, r + 1);
    const QString unknownValues = valueLine("7", "Ф30", "(9999)", c, r);
    const auto data = [] { return dump(db::kData, "select * from data order by 1,2,3,4,5,6"); };
    const auto otherData = [] {
        return dump(db::kData, QString("select * from data where not (hospital=%1 and \"table\"=%2) "
                                       "order by 1,2,3,4,5,6").arg(ids::NorthHospital).arg(ids::TableF30Staff));
    };
    const auto repdata = [] { return dump(db::kData, "select * from repdata order by 1,2,3,4,5,6"); };
    const auto loaded = [](const QString &done) {
        return [done](const transfer::LoadResult &r) { return transfer::loadedMessage(done, r); };
    };
    const QString cnd = "Ф47\t(1000)\t1\t2\tFalse\t\tусловие\t3\tTrue\tFalse\t2,5";
    const QString rule = "\"Ф30\",\"(1000)\",\"СТР1ГР4\",\"=\",\"0\",\"\",\"Всего\"";
    return {
        {"Подгрузить форму (forms tree)", "orw", values, otherValues, badValue, true, unknownValues,
         [=](const QString &p) {
             return loaded("Форма Ф30 загружена")(
                 transfer::loadForm(ids::NorthHospital, p, ValueTable::Data, ids::FormF30, "Ф30"));
         },
         data, otherData},
        {"Подгрузить таблицу (table window)", "orw", values, otherValues, badValue, true, unknownValues,
         [=](const QString &p) {
             return loaded("Таблица загружена")(transfer::loadTable(ids::NorthHospital, p, ValueTable::Data, ids::FormF30, "Ф30",
                                                                   ids::TableF30Staff, "(1000)"));
         },
         data, otherData},
        {"Групповая подгрузка таблицы (one file)", "orw", values, otherValues, badValue, true, unknownValues,
         [=](const QString &p) {
             return loaded("Подгрузка закончена")(
                 transfer::LoadTableFromFile(ids::NorthHospital, p, ids::TableF30Staff));
         },
         data, otherData},
        {"Подгрузить учреждение (territory)", "orw", values, "", badValue, true, unknownValues, [=](const QString &p) {
             return loaded("Данные загружены")(transfer::LoadUnitInfo(ids::NorthHospital, p, QString(), false));
         },
         // The institution's year is its target: the other institutions stay.
         data, [] {
             return dump(db::kData,
                         QString("select * from data where hospital<>%1 order by 1,2,3,4,5,6").arg(ids::NorthHospital));
         }},
        {"Подгрузить сводный отчет (report list)", "rpd", values, "", badValue, true, unknownValues,
         [=](const QString &p) { return loaded("Данные загружены")(transfer::loadReport(ids::ReportNorth, p)); },
         repdata},
        {"Импорт формул расчёта (.cnd)", "cnd", {cnd}, "Ф30\t(1000)\t1\t2\tFalse\t\tx\t3\tTrue\tFalse\t*",
         "Ф47\t(1000)\t1", true, "Ф47\t(9999)\t1\t2\tFalse\t\tx\t3\tTrue\tFalse\t*",
         [](const QString &p) { return formlist::importConditions(ids::FormF47, "Ф47", p).message; },
         [] { return dump(db::kMain, "select * from conditions order by rowid"); }},
        {"Загрузить контроли (replace)", "txt", {rule}, "", "\"Ф30\",\"(1000)\"", false,
         "\"Ф30\",\"(9999)\",\"СТР1ГР4\",\"=\",\"0\",\"\",\"x\"", [](const QString &p) {
             using namespace controls;
             return LoadControlFile(db::connection(db::kMain), p, LoadMode::Replace).rejects.join(u'\n');
         },
         [] { return dump(db::kMain, "select * from int_control order by rowid"); },
         // The rules of the other forms and those between forms stay.
         [] {
             return dump(db::kMain,
                         QString("select * from int_control where formid<>%1 order by rowid").arg(ids::FormF30));
         }},
    };
}

struct ImportPolicyTest : InputWindowTest {
    QString write(const QString &name, const QByteArray &bytes) {
        const QString path = fx.root() + name;
        EXPECT_TRUE(cp1251::writeFile(path, bytes));
        return path;
    }
    QByteArray cp1251Lines(const QStringList &lines) { return cp1251::encode(lines.join("\r\n") + "\r\n"); }
};

} // namespace

TEST_F(ImportPolicyTest, HostileFilesChangeNothingAndUnknownTablesAreNamed) {
    int index = 0;
    for (Import imp : imports()) {
        SCOPED_TRACE(imp.name);
        // Each entry stores values of its own, so that its success shows.
        imp.valid.replaceInStrings("\"10.1\"", QString("\"%1.1\"").arg(20 + index++));
        const QString before = imp.state().join(u'\n');
        const QStringList othersBefore = imp.others ? imp.others() : QStringList();
        const auto refused = [&](const char *what, const QByteArray &bytes, const QString &says) {
            SCOPED_TRACE(what);
            const QString path = write(QString("%1.%2").arg(what, imp.ext), bytes);
            try {
                imp.run(path);
                ADD_FAILURE() << "was imported";
            } catch (const db::Error &e) {
                EXPECT_TRUE(e.message().contains(says)) << e.message().toStdString();
                EXPECT_LE(e.message().size(), 2000);
            }
            EXPECT_EQ(imp.state().join(u'\n'), before);
        };
        refused("empty", {}, "не изменены");
        if (!imp.otherTarget.isEmpty()) refused("other", cp1251Lines({imp.otherTarget}), "не изменены");
        refused("utf8", (imp.valid.join("\r\n") + "\r\n").toUtf8(), "Windows-1251");
        QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        refused("utf16", QByteArray(utf16(imp.valid.join("\r\n") + "\r\n")), QString());
        refused("unknown only", cp1251Lines({imp.unknownTable}), "не");
        // A huge field is quoted shortly.
        refused("huge field", cp1251Lines({imp.badLine + QString(200000, QChar(u'Ж'))}), QString());

        const QString bad = write(QString("bad.") + imp.ext, cp1251Lines(imp.valid + QStringList{imp.badLine}));
        if (imp.badLineRefusesFile) {
            EXPECT_THROW(imp.run(bad), db::Error);
            EXPECT_EQ(imp.state().join(u'\n'), before);
        }

        // One line of an unknown table among good ones: the good ones are taken, the unknown one named.
        const QString message =
            imp.run(write(QString("mixed.") + imp.ext, cp1251Lines(imp.valid + QStringList{imp.unknownTable})));
        EXPECT_TRUE(message.contains("(9999)")) << message.toStdString();
        EXPECT_NE(imp.state().join(u'\n'), before);
        if (imp.others) {
            EXPECT_FALSE(othersBefore.isEmpty());
            EXPECT_EQ(imp.others(), othersBefore);
        }
    }
}

// An import that reads a file and deletes what it replaces goes through the
// policy; the files listed here do both for another reason.
TEST(ImportPolicyScan, EveryReplacingImportUsesThePolicy) {
    const QMap<QString, QString> allowed{
        {"reports/SummationLogic.cpp", "reads the exclusion list; its deletions belong to the summation"},
        {"reports/IndicatorData.cpp", "set files add new sets; deletions are the editor's"},
        {"updates/UpdateInstaller.cpp", "updates replace program files, not stored sets"},
        {"forms/structure/StructureEdit.cpp", "reads the print mapping file to list its lines; deletions are the edit's"},
        {"app/Configuration.cpp", "reads a byte to probe a year's databases; deletions are the user's commands"},
        {"forms/structure/ImportDocLogic.cpp", "a table's layout from a Word table, checked whole (structureFault) first"},
    };
    QStringList offenders;
    const QMap<QString, QString> sources = productSources({QStringLiteral("*.cpp")});
    for (const auto &[rel, src] : sources.asKeyValueRange()) {
        const bool readsFile = src.contains("cp1251::readLines(") || src.contains("readFile(") ||
                               src.contains("QIODevice::ReadOnly") || src.contains("Document::open(") ||
                               src.contains("Workbook::open(");
        const bool deletes = src.contains("\"delete from", Qt::CaseInsensitive);
        if (readsFile && deletes && !src.contains("importpolicy::") && !allowed.contains(rel)) offenders.append(rel);
    }
    EXPECT_GT(sources.size(), 50);
    EXPECT_TRUE(offenders.isEmpty()) << "imports that replace a set without engine/ImportPolicy: "
                                     << offenders.join(", ").toStdString();
}
