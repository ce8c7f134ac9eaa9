#include "platform/Errors.h"

// The texts of failures; showing them (with the wait cursor) lives in
// platform/ErrorMessages.cpp, on the window side of the platform.

#include "platform/Codepage.h"

#include <QDir>
#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>
#include <new>

Cancelled::Cancelled() : std::runtime_error(message().toStdString()) {}

QString Cancelled::message() { return QStringLiteral("Операция отменена. Данные остались прежними."); }

namespace winutil {

QString fileErrorText(const QFileDevice &file) {
    const QFileInfo info(file.fileName());
    switch (file.error()) {
    case QFileDevice::OpenError:
        if (!info.dir().exists()) return QStringLiteral("папка не найдена");
        if (!info.exists()) return QStringLiteral("файл не найден или не может быть создан в этой папке");
        if (info.isDir()) return QStringLiteral("под этим именем находится папка");
        return QStringLiteral("нет доступа к файлу, или он занят другой программой");
    case QFileDevice::PermissionsError: return QStringLiteral("нет доступа к файлу");
    case QFileDevice::ResourceError: return QStringLiteral("на диске нет места или недостаточно ресурсов системы");
    case QFileDevice::WriteError: return QStringLiteral("ошибка записи на диск (возможно, на диске нет места)");
    case QFileDevice::ReadError: return QStringLiteral("ошибка чтения с диска");
    case QFileDevice::RenameError:
    case QFileDevice::RemoveError: return QStringLiteral("файл не удается заменить: нет доступа, или он занят");
    case QFileDevice::NoError:
        // A short write sets no error: the disk took only part of the data.
        if (file.isWritable())
            return QStringLiteral("записана только часть данных: на диске нет места (или файл достиг предельного размера)");
        return QStringLiteral("ошибка работы с файлом");
    default: return QStringLiteral("ошибка работы с файлом (код %1)").arg(int(file.error()));
    }
}

QString errorText(const std::exception &e) {
    if (const auto *a = dynamic_cast<const AppError *>(&e)) return a->message();
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return QStringLiteral("Недостаточно памяти для выполнения операции.");
    return QString::fromUtf8(e.what());
}

} // namespace winutil
