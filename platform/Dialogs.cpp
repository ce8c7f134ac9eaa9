#include "platform/Dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

namespace {

QString appTitle() {
    const QString t = QApplication::applicationDisplayName();
    return t.isEmpty() ? QStringLiteral("Kelvana") : t;
}

// Russian captions on the standard buttons of a question.
QMessageBox::StandardButton askRussian(QWidget *parent, const QString &title, const QString &text,
                                       QMessageBox::StandardButtons buttons,
                                       QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) {
    QMessageBox box(QMessageBox::Question, title.isEmpty() ? QStringLiteral("Подтверждение") : title, text,
                    buttons, parent);
    const std::pair<QMessageBox::StandardButton, QString> captions[] = {
        {QMessageBox::Yes, QStringLiteral("Да")},
        {QMessageBox::No, QStringLiteral("Нет")},
        {QMessageBox::Cancel, QStringLiteral("Отмена")}};
    for (const auto &[which, caption] : captions)
        if (QAbstractButton *b = box.button(which)) b->setText(caption);
    if (defaultButton != QMessageBox::NoButton) {
        box.setDefaultButton(defaultButton);
        box.setEscapeButton(defaultButton);
    }
    return QMessageBox::StandardButton(box.exec());
}

class QtDialogs : public DialogProvider {
public:
    void message(QWidget *parent, const QString &text, MsgKind kind) override {
        QMessageBox box(kind == MsgKind::Error     ? QMessageBox::Critical
                        : kind == MsgKind::Warning ? QMessageBox::Warning
                                                   : QMessageBox::Information,
                        appTitle(), text, QMessageBox::Ok, parent);
        box.exec();
    }
    bool question(QWidget *parent, const QString &text, const QString &title) override {
        return askRussian(parent, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    }
    bool questionDefaultNo(QWidget *parent, const QString &text, const QString &title) override {
        return askRussian(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
               QMessageBox::Yes;
    }
    int questionCancel(QWidget *parent, const QString &text, const QString &title) override {
        const auto r = askRussian(parent, title, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        return r == QMessageBox::Yes ? 1 : r == QMessageBox::No ? 0 : -1;
    }
    std::optional<QString> inputText(QWidget *parent, const QString &title, const QString &label,
                                     const QString &initial) override {
        bool ok = false;
        const QString s = QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, &ok);
        if (!ok) return std::nullopt;
        return s;
    }
    QString openFile(QWidget *parent, const QString &title, const QString &dir, const QString &filter) override {
        return QFileDialog::getOpenFileName(parent, title, dir, filter);
    }
    QStringList openFiles(QWidget *parent, const QString &title, const QString &dir, const QString &filter) override {
        return QFileDialog::getOpenFileNames(parent, title, dir, filter);
    }
    QString saveFile(QWidget *parent, const QString &title, const QString &path, const QString &filter) override {
        return QFileDialog::getSaveFileName(parent, title, path, filter);
    }
    QString chooseFolder(QWidget *parent, const QString &title, const QString &dir) override {
        return QFileDialog::getExistingDirectory(parent, title, dir);
    }
    int execModal(QDialog *dialog) override { return dialog->exec(); }
    bool openDocument(const QString &path) override { return openWithDesktop(path); }
};

QtDialogs g_qtDialogs;

#if !defined(Q_OS_WIN) && !defined(Q_OS_MACOS)
// How long the opener may take to hand the file over. An opener still
// running after it has started the application in its own place.
constexpr int kOpenerWaitMs = 5000;

// False when the desktop names no application for the file's type; true
// when it names one or cannot be asked (the opener then decides).
bool hasDefaultApplication(const QString &path) {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QMimeDatabase().mimeTypeForFile(path).name()});
    if (!query.waitForStarted(kOpenerWaitMs) || !query.waitForFinished(kOpenerWaitMs)) {
        query.kill();
        query.waitForFinished(1000);
        return true;
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) return true;
    return !query.readAllStandardOutput().trimmed().isEmpty();
}
#endif
DialogProvider *g_provider = nullptr;

} // namespace

DialogProvider &dialogs() { return g_provider ? *g_provider : static_cast<DialogProvider &>(g_qtDialogs); }
void setDialogs(DialogProvider *provider) { g_provider = provider; }

bool openWithDesktop(const QString &path) {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
#else
    if (!hasDefaultApplication(path)) return false;
    auto *opener = new QProcess;
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    opener->start(QStringLiteral("xdg-open"), {path});
    if (!opener->waitForStarted(kOpenerWaitMs)) {
        delete opener;
        return false;
    }
    if (opener->waitForFinished(kOpenerWaitMs)) {
        const bool ok = opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
        delete opener;
        return ok;
    }
    // The application runs in the opener's place: it is left running (not
    // owned, so that leaving the program does not end it).
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    return true;
#endif
}

void showMessage(const QString &text, QWidget *parent) { dialogs().message(parent, text, MsgKind::Info); }
void showError(const QString &text, QWidget *parent) { dialogs().message(parent, text, MsgKind::Error); }
void showWarning(const QString &text, QWidget *parent) { dialogs().message(parent, text, MsgKind::Warning); }
bool confirm(const QString &text, QWidget *parent) { return dialogs().question(parent, text, QString()); }
bool confirmDefaultNo(const QString &text, QWidget *parent) {
    return dialogs().questionDefaultNo(parent, text, QString());
}
int execModal(QDialog *dialog) { return dialogs().execModal(dialog); }
