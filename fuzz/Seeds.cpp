// Writes the seeds of every fuzz target into <folder>/<target>/: the files
// the program itself writes from the sample configuration, through the
// writers the users' files come from (value transfer files, structure files,
// rule files, conditions files, update packages and manifests, workbooks,
// documents, the settings file). Inputs no writer of the program makes (the
// external control book, the server's list of updates and its HTTP replies)
// are kept in fuzz/corpus/<target>/ instead.
#include "fuzz/Fuzz.h"

#include "controls/ControlFile.h"
#include "core/SampleConfig.h"
#include "engine/ControlFileLines.h"
#include "engine/TableShape.h"
#include "forms/output/WordOutput.h"
#include "forms/shared/FormListLogic.h"
#include "forms/shared/TransferFiles.h"
#include "forms/structure/FormCatalogLogic.h"
#include "forms/table/TableExcel.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Package.h"
#include "platform/office/WordDocument.h"
#include "updates/UpdateGenerator.h"
#include "updates/UpdateSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

QString root;

QString target(const QString &name) {
    const QString folder = root + name + QLatin1Char('/');
    QDir().mkpath(folder);
    return folder;
}

void copyInto(const QString &file, const QString &targetName, const QString &as = {}) {
    const QString to = target(targetName) + (as.isEmpty() ? QFileInfo(file).fileName() : as);
    QFile::remove(to);
    if (!QFile::copy(file, to)) fuzz::fail("seed not copied", file + QStringLiteral(" -> ") + to);
}

void textSeed(const QString &targetName, const QString &name, const QStringList &lines) {
    QString why;
    if (!cp1251::writeLines(target(targetName) + name, lines, &why)) fuzz::fail("seed not written", why);
}

void seeds() {
    const fuzz::Sample &s = fuzz::sample();
    const QSqlDatabase mainDb = db::connection(db::kMain), dataDb = db::connection(db::kData);

    // Value transfer files of institutions and of a report.
    for (int id : {sample::ids::NorthHospital, sample::ids::SouthHospital, sample::ids::FapOzerny,
                   sample::ids::RegionalHospital}) {
        const QString file = target("transfer") + QStringLiteral("unit%1.orw").arg(id);
        transfer::writeValues(dataDb, ValueTable::Data, id, s.year, file);
    }
    transfer::saveReport(sample::ids::ReportRegion, target("transfer") + QStringLiteral("report.rpd"));

    // Structure files.
    for (int form : {sample::ids::FormF30, sample::ids::FormF14, sample::ids::FormF47})
        catalog::exportForm(form, target("frs") + QStringLiteral("form%1.frs").arg(form));

    // Rule files: all rules, each form's, and one line each for the rule check.
    const QStringList rules = ctlfile::ControlFileLinesAll(mainDb);
    ctlfile::WriteControlFile(target("controlfile") + QStringLiteral("all.orv"), rules);
    ctlfile::WriteControlFile(target("controlfile") + QStringLiteral("f30.orv"),
                              ctlfile::ControlFileLinesForForm(mainDb, sample::ids::FormF30, QStringLiteral("Ф30")));
    for (int i = 0; i < rules.size(); ++i) textSeed("rules", QStringLiteral("rule%1.orv").arg(i + 1), {rules[i]});
    textSeed("rules", QStringLiteral("all.orv"), rules);

    // Conditions of calculated cells.
    formlist::exportConditions(sample::ids::FormF47, QStringLiteral("Ф47"), target("conditions") + QStringLiteral("f47.cnd"));

    // An update package of two forms with everything, and its manifest.
    const QString work = fuzz::emptyFolder(QStringLiteral("package"));
    QList<FormPackageOptions> options;
    for (const QString &form : {QStringLiteral("Ф30"), QStringLiteral("Ф14")}) {
        FormPackageOptions o;
        o.formName = form;
        o.includeStructure = o.includeControls = o.includePrintFiles = true;
        o.formVersion = o.controlsVersion = QStringLiteral("1.0");
        options << o;
    }
    QString why;
    const QString package = GenerateUpdatePackage(mainDb, {QStringLiteral("Ф30"), QStringLiteral("Ф14")}, options, {},
                                                  QStringLiteral("replace"), QStringLiteral("1.0"), work,
                                                  QStringLiteral("Обновление форм \"Ф30\" и Ф14"), s.year,
                                                  QStringLiteral("1.2"), &why);
    if (package.isEmpty()) fuzz::fail("no update package", why);
    copyInto(package, "zip", QStringLiteral("update.zip"));
    const QString unpacked = fuzz::emptyFolder(QStringLiteral("unpacked"));
    if (!ExtractZipArchive(package, unpacked, {}, 0, &why)) fuzz::fail("the package does not unpack", why);
    copyInto(unpacked + QStringLiteral("update_manifest.json"), "updates");
    SaveManifestJson(BuildManifestJson(QStringLiteral("2.0"), s.year, QStringLiteral("Правила \\ и \"кавычки\""),
                                       QStringLiteral("append"), QString(), {}, {}),
                     target("updates") + QStringLiteral("empty.json"));

    // Workbooks: a table as the table window writes it, into a new book and beside a sheet of another book.
    // The office targets take the parts of a file; the archive targets the file.
    const QString office = fuzz::emptyFolder(QStringLiteral("office"));
    auto officeSeed = [&](const QString &file, const QString &targetName) {
        const QString name = QFileInfo(file).fileName();
        QFile f(target(targetName) + name);
        if (!f.open(QIODevice::WriteOnly) || f.write(fuzz::partsOf(file)) < 0) fuzz::fail("seed not written", name);
        copyInto(file, "zip");
    };
    tableexcel::SheetSource src;
    src.tableIdent = sample::ids::TableF30Staff;
    src.formName = QStringLiteral("Ф30");
    src.tableNumber = QStringLiteral("(1000)");
    src.caption = QStringLiteral("Штаты: Северная ЦРБ, 2024");
    src.institution = sample::ids::NorthHospital;
    src.year = s.year;
    office::ExcelWorkbook book = office::ExcelWorkbook::create();
    tableexcel::WriteTableSheet(book.sheet(1), src);
    book.saveAs(office + QStringLiteral("table.xlsx"));
    officeSeed(office + QStringLiteral("table.xlsx"), "xlsx");
    src.tableIdent = sample::ids::TableF14Patients;
    src.formName = QStringLiteral("Ф14");
    src.floatValues = true;
    tableexcel::WriteTableSheet(book.addSheet(), src);
    book.saveAs(office + QStringLiteral("two.xlsx"));
    officeSeed(office + QStringLiteral("two.xlsx"), "xlsx");

    // Documents: the sample's print template, a printed form, a list.
    QFile::copy(s.yearFolder + QStringLiteral("forms/Ф30.docx"), office + QStringLiteral("template.docx"));
    officeSeed(office + QStringLiteral("template.docx"), "docx");
    const wordout::PrintContext print =
        wordout::currentContext(sample::ids::FormF30, QStringLiteral("Ф30"), sample::ids::NorthHospital, ValueTable::Data);
    wordout::FillFormDoc(print).saveAs(office + QStringLiteral("printed.docx"));
    officeSeed(office + QStringLiteral("printed.docx"), "docx");
    office::buildTabTextDocument({QStringLiteral("Список"), QStringLiteral("Учреждение\tЗначение"),
                                  QStringLiteral("Северная ЦРБ\t10.50")},
                                 1)
        .saveAs(office + QStringLiteral("list.docx"));
    officeSeed(office + QStringLiteral("list.docx"), "docx");

    // The settings file as the program keeps it, and after a few writes.
    copyInto(paths::settingsFile(), "settings", QStringLiteral("registered.cfg"));
    const QString settings = target("settings") + QStringLiteral("written.cfg");
    QFile::remove(settings);
    IniFile ini(settings);
    ini.writeString(QStringLiteral("Конфигурации"), QStringLiteral("Образец"), s.configFolder);
    ini.writeString(QStringLiteral("Конфигурации"), QStringLiteral("Архив 2023"), QStringLiteral("/data/Архив"));
    ini.writeInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"), s.year);
    ini.writeString(QStringLiteral("Настройки"), QStringLiteral("UpdateServerURL"), QStringLiteral("http://example.org/u"));

    // Every text file above is a seed of the reader of text files.
    for (const QString &t : {QStringLiteral("transfer"), QStringLiteral("frs"), QStringLiteral("controlfile"),
                             QStringLiteral("conditions"), QStringLiteral("settings")})
        for (const QFileInfo &f : QDir(root + t).entryInfoList(QDir::Files)) copyInto(f.filePath(), "textfile", t + u'-' + f.fileName());
    copyInto(s.yearFolder + QStringLiteral("forms/Ф30.txt"), "textfile", QStringLiteral("mapping.txt"));
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
        return 2;
    }
    fuzz::init();
    root = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + QLatin1Char('/');
    QDir(root).removeRecursively();
    try {
        seeds();
    } catch (const AppError &e) {
        fuzz::fail("the seeds could not be written", e.message());
    }
    std::printf("seeds written to %s\n", qPrintable(root));
    return 0;
}
