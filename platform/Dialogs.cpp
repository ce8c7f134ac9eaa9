#include "platform/Dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace {

QString appTitle() {
    const QString t = QApplication::applicationDisplayName();
    return t.isEmpty() ? QStringLiteral("Kelvana") : t;
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
        QMessageBox box(QMessageBox::Question, title.isEmpty() ? QStringLiteral("Подтверждение") : title, text,
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setButtonText(QMessageBox::Yes, QStringLiteral("Да"));
        box.setButtonText(QMessageBox::No, QStringLiteral("Нет"));
        return box.exec() == QMessageBox::Yes;
    }
    bool questionDefaultNo(QWidget *parent, const QString &text, const QString &title) override {
        QMessageBox box(QMessageBox::Question, title.isEmpty() ? QStringLiteral("Подтверждение") : title, text,
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setButtonText(QMessageBox::Yes, QStringLiteral("Да"));
        box.setButtonText(QMessageBox::No, QStringLiteral("Нет"));
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
    int questionCancel(QWidget *parent, const QString &text, const QString &title) override {
        QMessageBox box(QMessageBox::Question, title.isEmpty() ? QStringLiteral("Подтверждение") : title, text,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
        box.setButtonText(QMessageBox::Yes, QStringLiteral("Да"));
        box.setButtonText(QMessageBox::No, QStringLiteral("Нет"));
        box.setButtonText(QMessageBox::Cancel, QStringLiteral("Отмена"));
        const int r = box.exec();
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
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
};

QtDialogs g_qtDialogs;
DialogProvider *g_provider = nullptr;

} // namespace

DialogProvider &dialogs() { return g_provider ? *g_provider : static_cast<DialogProvider &>(g_qtDialogs); }
void setDialogs(DialogProvider *provider) { g_provider = provider; }

void showMessage(const QString &text, QWidget *parent) { dialogs().message(parent, text, MsgKind::Info); }
void showError(const QString &text, QWidget *parent) { dialogs().message(parent, text, MsgKind::Error); }
void showWarning(const QString &text, QWidget *parent) { dialogs().message(parent, text, MsgKind::Warning); }
bool confirm(const QString &text, QWidget *parent) { return dialogs().question(parent, text, QString()); }
bool confirmDefaultNo(const QString &text, QWidget *parent) {
    return dialogs().questionDefaultNo(parent, text, QString());
}
int execModal(QDialog *dialog) { return dialogs().execModal(dialog); }
