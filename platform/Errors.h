#pragma once
// The program's failures and the helpers that turn them into messages: one
// base class for every error that carries a Russian text ready to show, the
// text of any failure, a handler that shows a failure instead of leaving the
// event loop, and the wait cursor of a long operation.
// AppError, Cancelled and errorText are plain code (platform/Errors.cpp);
// showFailure, showCancelled, guarded and WaitCursor show something and are
// for windows only (platform/ErrorMessages.cpp): the engine does not link them.
#include <QString>
#include <exception>
#include <stdexcept>

class QFileDevice;
class QWidget;

// A failure whose message is ready to show to the user.
class AppError : public std::runtime_error {
public:
    explicit AppError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const { return m_message; }
private:
    QString m_message;
};

// The user pressed "Отмена": the run stopped and changed nothing.
class Cancelled : public std::runtime_error {
public:
    Cancelled();
    static QString message();
};

namespace winutil {

// Why a file could not be opened, read or written, in Russian (Qt's own
// text is English), from the file's error and what the disk shows now.
QString fileErrorText(const QFileDevice &file);

// The Russian text of a failure (an AppError or any other exception).
QString errorText(const std::exception &e);

// Shows the text of a failure as an error message (through the dialog seam).
void showFailure(const std::exception &e, QWidget *parent);

// Shows that a run stopped on "Отмена" changed nothing (through the dialog seam).
void showCancelled(QWidget *parent);

// Runs a handler; a failure becomes an error message instead of leaving the
// event loop, a run stopped by "Отмена" a message that nothing changed.
template <typename F>
void guarded(QWidget *w, F &&work) {
    try {
        work();
    } catch (const Cancelled &) {
        showCancelled(w);
    } catch (const std::exception &e) {
        showFailure(e, w);
    }
}

// The wait cursor while the object lives, restored however the scope is left.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace winutil
