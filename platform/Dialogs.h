#pragma once
// The one seam through which the program asks and tells the user: message
// boxes, Yes/No questions, text input, file and folder choices, modal windows
// and opening a produced document with the desktop's application. Tests
// install a scripted provider, so nothing ever blocks on a dialog.
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;
class QDialog;

enum class MsgKind { Info, Warning, Error };

class DialogProvider {
public:
    virtual ~DialogProvider() = default;
    virtual void message(QWidget *parent, const QString &text, MsgKind kind) = 0;
    // Yes/No confirmation; true for Yes.
    virtual bool question(QWidget *parent, const QString &text, const QString &title) = 0;
    // Yes/No confirmation with No as the default button, for questions whose
    // Yes replaces something; true for Yes.
    virtual bool questionDefaultNo(QWidget *parent, const QString &text, const QString &title) {
        return question(parent, text, title);
    }
    // Yes/No/Cancel: 1 Yes, 0 No, -1 Cancel.
    virtual int questionCancel(QWidget *parent, const QString &text, const QString &title) = 0;
    virtual std::optional<QString> inputText(QWidget *parent, const QString &title, const QString &label,
                                             const QString &initial) = 0;
    // File choices return the empty text when cancelled.
    virtual QString openFile(QWidget *parent, const QString &title, const QString &dir, const QString &filter) = 0;
    virtual QStringList openFiles(QWidget *parent, const QString &title, const QString &dir, const QString &filter) = 0;
    virtual QString saveFile(QWidget *parent, const QString &title, const QString &path, const QString &filter) = 0;
    virtual QString chooseFolder(QWidget *parent, const QString &title, const QString &dir) = 0;
    // Shows a window modally and returns its result (QDialog::Accepted / Rejected).
    virtual int execModal(QDialog *dialog) = 0;
    // Opens a produced document with the desktop's default application.
    virtual bool openDocument(const QString &path) = 0;
};

// The provider in use; by default the real one on Qt's dialogs.
DialogProvider &dialogs();
// Replaces the provider (tests); nullptr restores the real one. Not owned.
void setDialogs(DialogProvider *provider);

// Opens a file with the desktop's default application without waiting for
// it: false when no opener can be started at all; a failure known only
// later (no application for the type, the opener ending with an error, at
// any time) calls failedLater from the event loop.
bool openWithDesktop(const QString &path, std::function<void()> failedLater = {});
// Openers handed a file and not yet finished.
int desktopOpenersRunning();
// What the user is told when a saved document could not be opened.
QString documentNotOpenedText(const QString &path);

// Short forms used throughout the program.
void showMessage(const QString &text, QWidget *parent = nullptr);
void showError(const QString &text, QWidget *parent = nullptr);
void showWarning(const QString &text, QWidget *parent = nullptr);
bool confirm(const QString &text, QWidget *parent = nullptr);
bool confirmDefaultNo(const QString &text, QWidget *parent = nullptr);
int execModal(QDialog *dialog);
