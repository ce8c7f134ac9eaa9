// Administrator mode: password, switching, registered windows and their administrator-only menus, items and widgets.
#include "core/AdminMode.h"
#include "tests/support/FakeDialogs.h"

#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kPassword = QStringLiteral("orvadminka");

std::function<int(QDialog *)> typePassword(const QString &text, int result = QDialog::Accepted) {
    return [text, result](QDialog *d) {
        auto *edit = d->findChild<QLineEdit *>(QStringLiteral("PasswordEdit"));
        EXPECT_TRUE(edit);
        if (!edit) return result;
        edit->setText(text);
        return result;
    };
}

// A window laid out as the registering windows are: a menu bar with an
// administrator-only item in a sub-menu, a plain item and a tagged button.
struct Window {
    std::unique_ptr<QMainWindow> w{new QMainWindow};
    QAction *add = nullptr;
    QAction *plain = nullptr;
    QMenu *edit = nullptr;
    QPushButton *button = nullptr;
    QMenu *popup = nullptr;
    QAction *popupItem = nullptr;
    Window() {
        edit = w->menuBar()->addMenu(QStringLiteral("Правка"));
        add = edit->addAction(QStringLiteral("Добавить"));
        add->setProperty("Tag", 777);
        plain = edit->addAction(QStringLiteral("Сохранить"));
        button = new QPushButton(QStringLiteral("Формулы"), w.get());
        button->setProperty("Tag", 777);
        popup = new QMenu(w.get());
        popupItem = popup->addAction(QStringLiteral("Отладочная"));
        popupItem->setProperty("Tag", 777);
    }
};

class AdminModeTest : public ::testing::Test {
protected:
    void SetUp() override { AdminMode::instance().setOn(false); }
    void TearDown() override { AdminMode::instance().setOn(false); }
    FakeDialogs dialogs;
};

TEST_F(AdminModeTest, PasswordDecidesSwitchingOn) {
    // Cancel: no message, stays off.
    dialogs.modals.push_back(typePassword(kPassword, QDialog::Rejected));
    ToggleAdminMode(nullptr);
    EXPECT_FALSE(IsAdminMode());
    EXPECT_TRUE(dialogs.messages.isEmpty());

    // Wrong and empty passwords: told, stays off.
    dialogs.modals.push_back(typePassword(QStringLiteral("wrongpassw")));
    ToggleAdminMode(nullptr);
    dialogs.modals.push_back(typePassword(QString()));
    ToggleAdminMode(nullptr);
    EXPECT_FALSE(IsAdminMode());
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(dialogs.messages[0], QStringLiteral("Неверный пароль"));

    // Right password: on; the next toggle switches off without asking.
    dialogs.modals.push_back(typePassword(kPassword));
    ToggleAdminMode(nullptr);
    EXPECT_TRUE(IsAdminMode());
    const int asked = dialogs.modalTitles.size();
    ToggleAdminMode(nullptr);
    EXPECT_FALSE(IsAdminMode());
    EXPECT_EQ(dialogs.modalTitles.size(), asked);
}

TEST_F(AdminModeTest, TaggedItemsFollowModeAndKeepOneStar) {
    Window win;
    RegisterAdminForm(win.w.get());
    EXPECT_FALSE(win.add->isVisible());
    EXPECT_TRUE(win.plain->isVisible());
    EXPECT_TRUE(win.button->isHidden());

    AdminMode::instance().setOn(true);
    EXPECT_TRUE(win.add->isVisible());
    EXPECT_FALSE(win.button->isHidden());
    EXPECT_EQ(win.add->text(), QStringLiteral("Добавить*"));
    EXPECT_EQ(win.plain->text(), QStringLiteral("Сохранить"));

    // Re-applications while on (another window registering) leave the mark.
    Window other;
    RegisterAdminForm(other.w.get());
    RegisterAdminForm(other.w.get());
    EXPECT_EQ(win.add->text(), QStringLiteral("Добавить*"));
    EXPECT_EQ(other.add->text(), QStringLiteral("Добавить*"));
    EXPECT_TRUE(other.add->isVisible());

    AdminMode::instance().setOn(false);
    EXPECT_FALSE(win.add->isVisible());
    EXPECT_EQ(win.add->text(), QStringLiteral("Добавить"));
    AdminMode::instance().setOn(true);
    EXPECT_EQ(win.add->text(), QStringLiteral("Добавить*"));

    // Context menus are not touched.
    EXPECT_TRUE(win.popupItem->isVisible());
    EXPECT_EQ(win.popupItem->text(), QStringLiteral("Отладочная"));
}

TEST_F(AdminModeTest, RegistrationIsOnceAndEndsWithTheWindow) {
    const int before = AdminMode::instance().forms().size();
    {
        Window win;
        RegisterAdminForm(win.w.get());
        RegisterAdminForm(win.w.get());
        RegisterAdminForm(nullptr);
        EXPECT_EQ(AdminMode::instance().forms().size(), before + 1);
    }
    EXPECT_EQ(AdminMode::instance().forms().size(), before);
    // Switching after the window is gone must not touch it.
    AdminMode::instance().setOn(true);
    AdminMode::instance().setOn(false);
}

TEST_F(AdminModeTest, AdministratorMenuBarReplacesTheMenuWhileOn) {
    QWidget w;
    auto *normal = new QMenuBar(&w);
    normal->addAction(QStringLiteral("Файл"));
    auto *admin = new QMenuBar(&w);
    admin->setObjectName(QStringLiteral("MainMenuAdmin"));
    auto *tagged = new QMenuBar(&w);
    tagged->setProperty("Tag", 777);
    RegisterAdminForm(&w);
    EXPECT_TRUE(admin->isHidden());
    EXPECT_TRUE(tagged->isHidden());
    EXPECT_FALSE(normal->isHidden());
    AdminMode::instance().setOn(true);
    EXPECT_FALSE(admin->isHidden());
    EXPECT_FALSE(tagged->isHidden());
    EXPECT_TRUE(normal->isHidden());
    AdminMode::instance().setOn(false);
    EXPECT_TRUE(admin->isHidden());
    EXPECT_FALSE(normal->isHidden());
}

} // namespace
