#pragma once
// Process-wide administrator mode. Windows register with it; it shows or
// hides their administrator-only commands on every switch.
#include <QObject>

class QWidget;

class AdminMode : public QObject {
    Q_OBJECT
public:
    static AdminMode &instance();
    bool isOn() const { return m_on; }
    void setOn(bool on);
signals:
    void changed(bool on);
private:
    bool m_on = false;
};

void RegisterAdminForm(QWidget *window);
bool IsAdminMode();
// Switches the mode off at once, or asks the password and switches it on.
void ToggleAdminMode(QWidget *parent);
