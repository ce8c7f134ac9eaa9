#include "platform/Errors.h"

#include "platform/Dialogs.h"

#include <QApplication>

namespace winutil {

QString errorText(const std::exception &e) {
    if (const auto *a = dynamic_cast<const AppError *>(&e)) return a->message();
    return QString::fromUtf8(e.what());
}

void showFailure(const std::exception &e, QWidget *parent) { showError(errorText(e), parent); }

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

} // namespace winutil
