// The window side of platform/Errors.h: failures shown through the dialog
// seam and the wait cursor. The engine links without this file.
#include "platform/Errors.h"

#include "platform/Dialogs.h"

#include <QCursor>
#include <QGuiApplication>

namespace winutil {

void showFailure(const std::exception &e, QWidget *parent) { showError(errorText(e), parent); }

void showCancelled(QWidget *parent) { showMessage(Cancelled::message(), parent); }

WaitCursor::WaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

WaitCursor::~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }

} // namespace winutil
