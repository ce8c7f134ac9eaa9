#include "platform/Errors.h"

#include "platform/Dialogs.h"

#include <QCursor>
#include <QGuiApplication>

namespace winutil {

QString errorText(const std::exception &e) {
    if (const auto *a = dynamic_cast<const AppError *>(&e)) return a->message();
    return QString::fromUtf8(e.what());
}

void showFailure(const std::exception &e, QWidget *parent) { showError(errorText(e), parent); }

WaitCursor::WaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

WaitCursor::~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }

} // namespace winutil
