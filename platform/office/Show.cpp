#include "platform/office/Show.h"

#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/WordDocument.h"

#include <QDir>
#include <QFileInfo>

namespace office {

namespace {
YearFolderSource &yearFolderSource() {
    static YearFolderSource source;
    return source;
}
} // namespace

void setYearFolderSource(const YearFolderSource &source) { yearFolderSource() = source; }

QString documentsFolder() {
    QString folder;
    const QString year = yearFolderSource() ? yearFolderSource()() : QString();
    if (!year.isEmpty() && QFileInfo(QDir::cleanPath(year + QStringLiteral("/.."))).isDir())
        folder = year + QStringLiteral("documents/");
    else
        folder = paths::withSlash(QDir::tempPath()) + QStringLiteral("kelvana-documents/");
    QDir().mkpath(folder);
    return folder;
}

QString freeFileName(const QString &folder, const QString &suggestedName, const QString &extension) {
    QString base = suggestedName.trimmed();
    for (QChar &c : base)
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c)) c = u'_';
    if (base.isEmpty()) base = QStringLiteral("Документ");
    if (base.size() > 150) base.truncate(150);
    const QString dir = paths::withSlash(folder);
    QString name = dir + base + u'.' + extension;
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = dir + base + QStringLiteral(" (%1).").arg(n) + extension;
    return name;
}

namespace {
QStringList &shownList() {
    static QStringList list;
    return list;
}

// Hands the saved file to the desktop; when no program takes it the user is
// told where the document lies instead of seeing nothing happen.
void openOrTell(const QString &file) {
    if (dialogs().openDocument(file)) return;
    showWarning(QStringLiteral("Не удалось открыть документ: программа для файлов этого типа не найдена "
                               "или завершилась с ошибкой.\nДокумент сохранен в файле ") +
                QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()));
}

QString targetFolder(const QString &folder) {
    if (folder.isEmpty()) return documentsFolder();
    QDir().mkpath(folder);
    return paths::withSlash(folder);
}
} // namespace

QString show(WordDocument &doc, const QString &suggestedName, const QString &folder) {
    const QString file = freeFileName(targetFolder(folder), suggestedName, QStringLiteral("docx"));
    doc.saveAs(file);
    openOrTell(file);
    return file;
}

QString saveShown(ExcelWorkbook &book, const QString &suggestedName, const QString &folder) {
    const QString file = freeFileName(targetFolder(folder), suggestedName, QStringLiteral("xlsx"));
    book.saveAs(file);
    shownList().append(file);
    return file;
}

QString show(ExcelWorkbook &book, const QString &suggestedName, const QString &folder) {
    const QString file = saveShown(book, suggestedName, folder);
    openOrTell(file);
    return file;
}

void showFile(const QString &path) { openOrTell(path); }

QStringList shownWorkbooks() {
    QStringList out;
    for (const QString &f : shownList())
        if (QFileInfo::exists(f) && !out.contains(f)) out.append(f);
    return out;
}

} // namespace office
