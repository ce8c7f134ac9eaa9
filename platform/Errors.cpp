#include "platform/Errors.h"

#include "platform/Dialogs.h"

#include <QCursor>
#include <QGuiApplication>

Cancelled::Cancelled() : std::runtime_error(message().toStdString()) {}

QString Cancelled::message() { return QStringLiteral("Операция отменена. Данные остались прежними."); }

namespace winutil {

QString errorText(const std::exception &e) {
    if (const auto *a = dynamic_cast<const AppError *>(&e)) return a->message();
    return QString::fromUtf8(e.what());
}

void showFailure(const std::exception &e, QWidget *parent) { showError(errorText(e), parent); }

void showCancelled(QWidget *parent) { showMessage(Cancelled::message(), parent); }

WaitCursor::WaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

WaitCursor::~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }

} // namespace winutil
