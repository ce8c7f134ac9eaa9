#pragma once
// A file's bytes as they are on disk ("<missing>" when it cannot be read), to compare a file before and after.
#include <QByteArray>
#include <QFile>
#include <QString>

inline QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
