#pragma once
// Process-wide administrator mode. Windows register with it; it shows or
// hides their administrator-only commands on every switch.
//
// Conventions the mode acts on (set with QObject::setProperty):
//  - a QAction of a menu bar (at any depth), or a widget, whose property
//    "Tag" is 777 is administrator-only: visible only while the mode is on;
//    a menu item also carries a trailing "*" in its caption exactly then;
//  - a QMenuBar named "MainMenuAdmin" or tagged 777 is the window's menu
//    while the mode is on; the window's other menu bars are hidden then.
//  Context (pop-up) menus are not touched.
#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

inline constexpr int kAdminTag = 777;

class AdminMode : public QObject {
    Q_OBJECT
public:
    static AdminMode &instance();
    bool isOn() const { return m_on; }
    // Stores a new state and re-applies it to every registered window in
    // registration order; the same state again does nothing.
    void setOn(bool on);
    // Adds a window (once) and re-applies the state to all registered windows.
    void registerForm(QWidget *window);
    // Registered windows still alive, in registration order.
    QList<QWidget *> forms() const;
    void applyToAll();
signals:
    void changed(bool on);
private:
    AdminMode() = default;
    void unregister(QObject *window);
    bool m_on = false;
    QList<QPointer<QWidget>> m_forms;
};

void RegisterAdminForm(QWidget *window);
bool IsAdminMode();
// Switches the mode off at once, or asks the password and switches it on.
void ToggleAdminMode(QWidget *parent = nullptr);
// The password dialog "Вход в административный режим" (through the dialog
// seam); true only for the right password. A wrong one is told to the user.
bool ShowAdminPasswordPrompt(QWidget *parent = nullptr);
// True when the text is the administrator password (exact, case-sensitive).
bool IsAdminPassword(const QString &text);
// Shows or hides the administrator-only menus, items and widgets of a window.
void ApplyAdminModeToForm(QWidget *window, bool on);
