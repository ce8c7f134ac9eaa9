#include "core/AdminMode.h"

#include "platform/Dialogs.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QToolBar>
#include <QWidget>

namespace {

// SHA-256 of the administrator password; the password itself is not kept.
constexpr char kPasswordHash[] = "7bf0349e0cdef36d407c8bec58385b56bd86ec55c98b715f1f68554bafb166b7";

// Marks a caption we starred, so that re-applying never stacks or drops marks.
const char *const kStarredProperty = "adminStarred";

bool isAdminTagged(const QObject *o) {
    const QVariant tag = o->property("Tag");
    return tag.isValid() && tag.toInt() == kAdminTag;
}

bool isAdminMenuBar(const QMenuBar *bar) {
    return bar->objectName() == QLatin1String("MainMenuAdmin") || isAdminTagged(bar);
}

void setStar(QAction *action, bool on) {
    const bool starred = action->property(kStarredProperty).toBool();
    QString text = action->text();
    if (on && !starred) {
        action->setText(text + QLatin1Char('*'));
        action->setProperty(kStarredProperty, true);
    } else if (!on && starred) {
        if (text.endsWith(QLatin1Char('*'))) text.chop(1);
        action->setText(text);
        action->setProperty(kStarredProperty, false);
    }
}

void applyToAction(QAction *action, bool on, QList<QAction *> &seen) {
    if (seen.contains(action)) return;
    seen.append(action);
    if (isAdminTagged(action)) {
        action->setVisible(on);
        setStar(action, on);
    }
    if (QMenu *sub = action->menu())
        for (QAction *child : sub->actions()) applyToAction(child, on, seen);
}

// The password edit masks every typed character with "*".
class StarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter) return int(u'*');
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

AdminMode &AdminMode::instance() {
    static AdminMode mode;
    return mode;
}

void AdminMode::setOn(bool on) {
    if (m_on == on) return;
    m_on = on;
    applyToAll();
    emit changed(on);
}

void AdminMode::registerForm(QWidget *window) {
    if (window && !forms().contains(window)) {
        m_forms.append(QPointer<QWidget>(window));
        connect(window, &QObject::destroyed, this, &AdminMode::unregister);
    }
    applyToAll();
}

QList<QWidget *> AdminMode::forms() const {
    QList<QWidget *> result;
    for (const QPointer<QWidget> &w : m_forms)
        if (w) result.append(w.data());
    return result;
}

void AdminMode::applyToAll() {
    for (QWidget *w : forms()) ApplyAdminModeToForm(w, m_on);
}

void AdminMode::unregister(QObject *window) {
    for (int i = m_forms.size() - 1; i >= 0; --i)
        if (!m_forms[i] || m_forms[i].data() == window) m_forms.removeAt(i);
}

void RegisterAdminForm(QWidget *window) { AdminMode::instance().registerForm(window); }

bool IsAdminMode() { return AdminMode::instance().isOn(); }

void ToggleAdminMode(QWidget *parent) {
    AdminMode &mode = AdminMode::instance();
    if (mode.isOn()) {
        mode.setOn(false);
        return;
    }
    if (ShowAdminPasswordPrompt(parent)) mode.setOn(true);
}

bool IsAdminPassword(const QString &text) {
    const QByteArray hash = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex();
    return !text.isEmpty() && hash == QByteArray(kPasswordHash);
}

bool ShowAdminPasswordPrompt(QWidget *parent) {
    StarPasswordStyle starStyle;   // outlives the dialog and its edit
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("AdminPasswordDialog"));
    dialog.setWindowTitle(QStringLiteral("Вход в административный режим"));
    dialog.setFixedSize(350, 200);
    auto *label = new QLabel(QStringLiteral("Введите пароль для входа в административный режим:"), &dialog);
    // Two lines: the text is wider than the dialog in most fonts.
    label->setWordWrap(true);
    label->setGeometry(20, 14, 310, 34);
    auto *edit = new QLineEdit(&dialog);
    edit->setObjectName(QStringLiteral("PasswordEdit"));
    edit->setStyle(&starStyle);
    edit->setEchoMode(QLineEdit::Password);
    edit->setGeometry(20, 50, 310, 24);
    auto *ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setGeometry(150, 100, 75, 25);
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Отмена"), &dialog);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    cancel->setGeometry(240, 100, 75, 25);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

    if (execModal(&dialog) != QDialog::Accepted) return false;
    if (IsAdminPassword(edit->text())) return true;
    showError(QStringLiteral("Неверный пароль"), parent);
    return false;
}

void ApplyAdminModeToForm(QWidget *window, bool on) {
    if (!window) return;
    // Only the window's own parts: child windows (dialogs) register on their own.
    const QWidget *home = window->window();
    QList<QMenuBar *> bars;
    for (QMenuBar *bar : window->findChildren<QMenuBar *>())
        if (bar->window() == home) bars.append(bar);
    bool hasAdminBar = false;
    for (QMenuBar *bar : bars)
        if (isAdminMenuBar(bar)) hasAdminBar = true;

    QList<QAction *> seen;
    for (QMenuBar *bar : bars) {
        if (isAdminMenuBar(bar)) {
            bar->setVisible(on);
        } else {
            if (hasAdminBar) bar->setVisible(!on);
            for (QAction *item : bar->actions()) applyToAction(item, on, seen);
        }
    }
    // Tool bar buttons follow the same rule as menu items, without the mark.
    for (QToolBar *tb : window->findChildren<QToolBar *>()) {
        if (tb->window() != home) continue;
        for (QAction *a : tb->actions())
            if (!seen.contains(a) && isAdminTagged(a)) a->setVisible(on);
    }
    // Plain widgets (buttons, labels, panels) tagged as administrator-only.
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (qobject_cast<QMenuBar *>(w) || qobject_cast<QMenu *>(w)) continue;
        if (w->isWindow() || w->window() != home) continue;
        if (isAdminTagged(w)) w->setVisible(on);
    }
}
