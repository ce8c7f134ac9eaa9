// A window that keeps its state public, leaves its creation and showing to
// its opener and names a command after a click; beside it what may stay
// public: plain data, constants, accessors, nested types.
#include <QDialog>
#include <QSqlDatabase>
#include <functional>

class QLineEdit;
class QPushButton;

// Plain data: its fields are what it is.
struct PackageChoice {
    QString formName;
    bool structure = false;
};

class TOpenWindow : public QDialog {
    Q_OBJECT
public:
    explicit TOpenWindow(QWidget *parent = nullptr,
                         int year = 0);
    static constexpr int kDeleteResult = 3;
    enum class Kind { Forms, Rules };
    QSqlDatabase Database;
    int Year = 0, Month = 0;
    std::function<void(int, const QString &)> Progress;
    QLineEdit *edit() const { return m_ui.edit; }
    bool ready() const {
        return Year > 0 && m_shown;
    }
    void FormShow();
    struct Totals {
        int rows = 0;
    };
    struct {
        int count = 0;
    } Counts;

public slots:
    void FormCreate();
    void ButtonImportClick();

protected:
    void FormActivate();

private:
    bool m_shown = false;
    struct Widgets {
        QLineEdit *edit = nullptr;
        QPushButton *import = nullptr;
    };
    Widgets m_ui;
};

// A widget without Q_OBJECT, its base named on the next line.
struct TPlainWidget
    : QWidget {
    QString caption;
};
