#include "platform/office/Convert.h"

#include "platform/office/OfficeError.h"
#include "platform/office/Package.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

namespace office {

namespace {

QTemporaryDir &workDir() {
    static std::unique_ptr<QTemporaryDir> dir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kelvana-office-XXXXXX"));
    return *dir;
}

QString formatName(const QString &ext) {
    return ext == QLatin1String("docx") ? QStringLiteral("документа Word (.docx)")
                                        : QStringLiteral("книги Excel (.xlsx)");
}

} // namespace

QString converterPath() {
    QString p = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (p.isEmpty()) p = QStandardPaths::findExecutable(QStringLiteral("libreoffice"));
    return p;
}

QString convertFile(const QString &path, const QString &targetExt, const QString &outDir, int timeoutMs) {
    const QString exe = converterPath();
    if (exe.isEmpty())
        throw Error(QStringLiteral("Не найдена программа для преобразования файла ") + path +
                    QStringLiteral(". Сохраните файл в формате .") + targetExt + QStringLiteral("."));
    QDir().mkpath(outDir);
    // A profile of our own keeps the conversion independent of an office
    // window the user may have open.
    QTemporaryDir &work = workDir();
    const QString profile = work.path() + QStringLiteral("/profile");
    QProcess proc;
    proc.setProgram(exe);
    proc.setArguments({QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
                       QStringLiteral("--headless"), QStringLiteral("--norestore"),
                       QStringLiteral("--convert-to"), targetExt, QStringLiteral("--outdir"), outDir,
                       QFileInfo(path).absoluteFilePath()});
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.start();
    const bool finished = proc.waitForStarted(30000) && proc.waitForFinished(timeoutMs);
    if (!finished) {
        proc.kill();
        proc.waitForFinished(5000);
        throw Error(QStringLiteral("Не удалось преобразовать файл ") + path +
                    QStringLiteral(": программа преобразования не ответила."));
    }
    const QString produced =
        QDir(outDir).filePath(QFileInfo(path).completeBaseName() + QLatin1Char('.') + targetExt);
    if (proc.exitCode() != 0 || !QFileInfo::exists(produced))
        throw Error(QStringLiteral("Не удалось преобразовать файл ") + path + QStringLiteral(" в формат .") +
                    targetExt + QStringLiteral(": ") + QString::fromLocal8Bit(proc.readAll()).trimmed());
    return produced;
}

QString newerTemplate(const QString &path, const QString &targetExt, QString *note) {
    if (note) note->clear();
    const FileKind kind = sniffFile(path);
    if (kind == FileKind::OpenXml) return path;
    const QFileInfo info(path);
    const QString sibling = info.absolutePath() + u'/' + info.completeBaseName() + u'.' + targetExt;
    const QFileInfo other(sibling);
    if (other.absoluteFilePath() == info.absoluteFilePath() || sniffFile(sibling) != FileKind::OpenXml) return path;
    if (kind == FileKind::Missing) return sibling;
    // Both are there: the one changed last is the template.
    const bool oldIsNewer = info.lastModified() > other.lastModified();
    const QString taken = oldIsNewer ? path : sibling, left = oldIsNewer ? sibling : path;
    if (note)
        *note = QStringLiteral("Использован шаблон %1: он изменен позже, чем %2.")
                    .arg(QFileInfo(taken).fileName(), QFileInfo(left).fileName());
    return taken;
}

QString openXmlVersion(const QString &path, const QString &targetExt, Neighbour neighbour) {
    // A chosen file is read as chosen: a file of the same name beside it may
    // be another book altogether ("book.xlsx" beside "book.xls").
    if (neighbour == Neighbour::SavedAnew) {
        const QString taken = newerTemplate(path, targetExt);
        if (taken != path) return taken;
    }
    const FileKind kind = sniffFile(path);
    switch (kind) {
    case FileKind::Missing:
        throw Error(QStringLiteral("Файл не найден: ") + path);
    case FileKind::OpenXml:
        return path;
    case FileKind::Other:
        throw Error(QStringLiteral("Файл ") + path + QStringLiteral(" не является файлом ") +
                    formatName(targetExt) + QStringLiteral("."));
    case FileKind::LegacyBinary:
        break;
    }
    if (converterPath().isEmpty())
        throw Error(QStringLiteral("Файл ") + path + QStringLiteral(" сохранен в старом формате, а программа ") +
                    QStringLiteral("для его преобразования не установлена. Сохраните файл в формате ") +
                    formatName(targetExt) + QStringLiteral(" и повторите действие."));
    // A template printed again and again is converted once while it stays unchanged.
    struct Converted {
        QDateTime modified;
        qint64 size;
        QString file;
    };
    static QHash<QString, Converted> cache;
    const QFileInfo info(path);
    const QString key = info.absoluteFilePath() + u'|' + targetExt;
    const auto it = cache.constFind(key);
    if (it != cache.constEnd() && it->modified == info.lastModified() && it->size == info.size() &&
        QFileInfo::exists(it->file))
        return it->file;
    static int counter = 0;
    const QString out = workDir().path() + QStringLiteral("/conv") + QString::number(++counter);
    const QString file = convertFile(path, targetExt, out);
    cache.insert(key, {info.lastModified(), info.size(), file});
    return file;
}

} // namespace office
