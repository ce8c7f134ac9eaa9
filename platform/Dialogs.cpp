#include "platform/Dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
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
    bool openDocument(const QString &path) override {
        return openWithDesktop(path, [path] { showWarning(documentNotOpenedText(path)); });
    }
};

QtDialogs g_qtDialogs;

int g_openersRunning = 0;
DialogProvider *g_provider = nullptr;

} // namespace

DialogProvider &dialogs() { return g_provider ? *g_provider : static_cast<DialogProvider &>(g_qtDialogs); }
void setDialogs(DialogProvider *provider) { g_provider = provider; }

QString documentNotOpenedText(const QString &path) {
    return QStringLiteral("Не удалось открыть документ: программа для файлов этого типа не найдена "
                          "или завершилась с ошибкой.\nДокумент сохранен в файле ") +
           QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

int desktopOpenersRunning() { return g_openersRunning; }

bool openWithDesktop(const QString &path, std::function<void()> failedLater) {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
#else
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) return false;
    // Nothing is waited for: the desktop is asked which application takes the
    // type, then the opener runs; either answer comes through the event loop.
    // The processes are not owned, so that leaving the program does not end
    // an application the opener runs in its place.
    ++g_openersRunning;
    auto failed = [failedLater] {
        if (failedLater) failedLater();
    };
    auto *query = new QProcess;
    QObject::connect(query, &QProcess::errorOccurred, query, [query](QProcess::ProcessError e) {
        // Without xdg-mime the opener decides alone.
        if (e == QProcess::FailedToStart) emit query->finished(-1, QProcess::CrashExit);
    });
    QObject::connect(query, &QProcess::finished, query, [query, path, failed](int code, QProcess::ExitStatus st) {
        query->deleteLater();
        const bool asked = st == QProcess::NormalExit && code == 0;
        if (asked && query->readAllStandardOutput().trimmed().isEmpty()) {
            --g_openersRunning;
            failed();
            return;
        }
        auto *opener = new QProcess;
        opener->setStandardOutputFile(QProcess::nullDevice());
        opener->setStandardErrorFile(QProcess::nullDevice());
        QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, failed](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart) return;
            opener->deleteLater();
            --g_openersRunning;
            failed();
        });
        QObject::connect(opener, &QProcess::finished, opener, [opener, failed](int c, QProcess::ExitStatus s) {
            opener->deleteLater();
            --g_openersRunning;
            if (s != QProcess::NormalExit || c != 0) failed();
        });
        opener->start(QStringLiteral("xdg-open"), {path});
    });
    query->start(QStringLiteral("xdg-mime"),
                 {QStringLiteral("query"), QStringLiteral("default"), QMimeDatabase().mimeTypeForFile(path).name()});
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
