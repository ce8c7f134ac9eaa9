#include "core/AdminMode.h"

#include <QWidget>

AdminMode &AdminMode::instance() {
    static AdminMode mode;
    return mode;
}

void AdminMode::setOn(bool on) {
    if (m_on == on) return;
    m_on = on;
    emit changed(on);
}

void RegisterAdminForm(QWidget *) {}
bool IsAdminMode() { return AdminMode::instance().isOn(); }
void ToggleAdminMode(QWidget *) { AdminMode::instance().setOn(!IsAdminMode()); }
