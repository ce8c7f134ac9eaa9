#include "platform/office/Show.h"

#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/OfficeError.h"
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
    // The name with a counter and the writer's temporary suffix (".XXXXXX")
    // is still a file name of at most 255 bytes; a Cyrillic letter takes two.
    constexpr qsizetype kFileNameBytes = 255, kWriterSuffixBytes = 7;
    const qsizetype room = kFileNameBytes - kWriterSuffixBytes - (QStringLiteral(" (9999).") + extension).toUtf8().size();
    while (base.toUtf8().size() > room) base.chop(base.back().isLowSurrogate() ? 2 : 1);
    base = base.trimmed();
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
    showWarning(documentNotOpenedText(file));
}

QString targetFolder(const QString &folder) {
    if (folder.isEmpty()) return documentsFolder();
    QDir().mkpath(folder);
    return paths::withSlash(folder);
}

// Saves through save into a free name of the folder. When that fails (a
// folder that cannot be written, a full disk), the user is told why and may
// choose another folder; declining gives the error to the caller.
QString saveInFolder(const QString &folder, const QString &suggestedName, const QString &extension,
                     const std::function<void(const QString &)> &save) {
    QString dir = targetFolder(folder);
    for (;;) {
        const QString file = freeFileName(dir, suggestedName, extension);
        try {
            save(file);
            return file;
        } catch (const Error &e) {
            if (!dialogs().question(nullptr,
                                    e.message() + QStringLiteral("\n\nДокумент не сохранен в папке ") +
                                        QDir::toNativeSeparators(dir) + QStringLiteral(". Выбрать другую папку?"),
                                    QStringLiteral("Документ не сохранен")))
                throw;
            const QString other = dialogs().chooseFolder(nullptr, QStringLiteral("Папка для документов"), dir);
            if (other.isEmpty()) throw;
            dir = paths::withSlash(other);
        }
    }
}
} // namespace

QString saveShown(WordDocument &doc, const QString &suggestedName, const QString &folder) {
    return saveInFolder(folder, suggestedName, QStringLiteral("docx"), [&](const QString &f) { doc.saveAs(f); });
}

QString show(WordDocument &doc, const QString &suggestedName, const QString &folder) {
    const QString file = saveShown(doc, suggestedName, folder);
    openOrTell(file);
    return file;
}

QString saveShown(ExcelWorkbook &book, const QString &suggestedName, const QString &folder) {
    const QString file = saveInFolder(folder, suggestedName, QStringLiteral("xlsx"),
                                      [&](const QString &f) { book.saveAs(f); });
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
