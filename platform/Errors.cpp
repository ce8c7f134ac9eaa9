#include "platform/Errors.h"

// The texts of failures; showing them (with the wait cursor) lives in
// platform/ErrorMessages.cpp, on the window side of the platform.

Cancelled::Cancelled() : std::runtime_error(message().toStdString()) {}

QString Cancelled::message() { return QStringLiteral("Операция отменена. Данные остались прежними."); }

namespace winutil {

QString errorText(const std::exception &e) {
    if (const auto *a = dynamic_cast<const AppError *>(&e)) return a->message();
    return QString::fromUtf8(e.what());
}

} // namespace winutil
