#pragma once
// The product's own sources for the scans that keep every path of a kind
// behind its gate: relative path ("forms/table/TableWindow.cpp") -> text.
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>
#include <QStringList>

inline QString sourceRoot() { return QStringLiteral(KELVANA_SOURCE_DIR) + u'/'; }

inline QString sourceText(const QString &relative) {
    QFile f(sourceRoot() + relative);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

inline QMap<QString, QString> productSources(const QStringList &patterns = {QStringLiteral("*.cpp"),
                                                                            QStringLiteral("*.h")}) {
    QMap<QString, QString> out;
    const QString root = sourceRoot();
    for (const char *folder : {"platform", "engine", "core", "widgets", "forms", "controls", "reports", "updates", "app"})
        for (QDirIterator it(root + QLatin1String(folder), patterns, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next();
            out.insert(path.mid(root.size()), sourceText(path.mid(root.size())));
        }
    return out;
}
