#include "platform/Paths.h"
#include "platform/Codepage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace paths {
namespace {
QString g_override;
}

QString withSlash(const QString &folder) {
    QString f = folder;
    f.replace(u'\\', u'/');
    while (f.size() > 1 && f.endsWith(u'/')) f.chop(1);
    if (f.isEmpty()) return f;
    return f + u'/';
}

QString withoutSlash(const QString &folder) {
    QString f = folder;
    f.replace(u'\\', u'/');
    while (f.size() > 1 && f.endsWith(u'/')) f.chop(1);
    return f;
}

QString programFolder() {
    if (!g_override.isEmpty()) return g_override;
    const QString env = qEnvironmentVariable("KELVANA_HOME");
    if (!env.isEmpty()) return withSlash(QDir(env).absolutePath());
    return withSlash(QCoreApplication::applicationDirPath());
}

void setProgramFolder(const QString &folder) {
    g_override = folder.isEmpty() ? QString() : withSlash(QDir(folder).absolutePath());
}

// The program's own file name: the settings files are named after it. When
// the program folder is pointed elsewhere (tests, installed copies) the
// product name stands in for it.
static QString programName() {
    if (g_override.isEmpty() && qEnvironmentVariableIsEmpty("KELVANA_HOME") && QCoreApplication::instance()) {
        const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        if (!name.isEmpty()) return name;
    }
    return QStringLiteral("Kelvana");
}

QString settingsFile() { return programFolder() + programName() + QStringLiteral(".cfg"); }
QString updateSettingsFile() { return programFolder() + programName() + QStringLiteral(".ini"); }
QString templateValuesFile() { return programFolder() + QStringLiteral("source/data0.mdb"); }

bool makePath(const QString &folder) { return QDir().mkpath(folder); }

bool copyFileOver(const QString &from, const QString &to, QString *error) {
    // Through the checked writer: a copy that fails keeps the file it was to replace.
    QFile in(from);
    if (!QFileInfo(from).isFile() || !in.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("файл не читается: ") + from;
        return false;
    }
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        if (error) *error = QStringLiteral("файл не читается: ") + from;
        return false;
    }
    // The copy keeps the file's modification time, as the system's copy
    // does: the print takes the template changed last of the two kinds.
    return cp1251::writeFile(to, bytes, error, QFileInfo(from).lastModified());
}

} // namespace paths
