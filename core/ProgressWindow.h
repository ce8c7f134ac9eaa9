#pragma once
// TProgress: progress of a long run, with cancelling.
// The progress window of long runs: a status line, a detail line, a gauge and
// "Отмена". Modeless; the setters let the pending window events run (a few
// times a second at most, so that a gauge moved often costs the run nothing)
// so that the window repaints and "Отмена" answers during the run.
#include "engine/ProgressSink.h"
#include "platform/Database.h"

#include <QDialog>
#include <QElapsedTimer>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

class TProgress : public QDialog, public ProgressSink {
    Q_OBJECT
public:
    explicit TProgress(QWidget *parent = nullptr);
    // Shown, it stays above the window that is active (the modal one on top
    // when there is one); hidden, it belongs to no window again.
    void setVisible(bool visible) override;

    void SetMax(int max);
    void SetPosition(int position);
    void SetStatusText(const QString &text);
    void SetDetailText(const QString &text);

    int max() const;
    int position() const;
    QString statusText() const;

    // ProgressSink
    void setMax(int max) override { SetMax(max); }
    void setPosition(int position) override { SetPosition(position); }
    void setStatusText(const QString &text) override { SetStatusText(text); }
    void setDetailText(const QString &text) override { SetDetailText(text); }
    bool cancelled() const override { return m_cancelled; }

    // "Отмена" pressed (Esc too): the run stops at its next step.
    void cancel();

    // What tests reach of the widgets.
    QProgressBar *gauge() const { return m_ui.gauge; }
    QLabel *detailLabel() const { return m_ui.detail; }
    QPushButton *cancelButton() const { return m_ui.cancel; }   // "Отмена"

protected:
    void reject() override { cancel(); }
    void showEvent(QShowEvent *event) override;

private:
    friend class ProgressRun;
    void letEventsRun(bool now = false);
    // The gauge emptied to max steps and the texts of a run that starts; the
    // run lets the events run once it is shown.
    void begin(int max, const QString &status);

    int m_max = 100;
    bool m_cancelled = false;
    QElapsedTimer m_sinceEvents;
    struct Widgets {
        QLabel *status = nullptr;   // what runs
        QLabel *detail = nullptr;   // the step it is at
        QProgressBar *gauge = nullptr;
        QPushButton *cancel = nullptr;   // "Отмена"
    };
    Widgets m_ui;
};

// The shared progress window, created on first use (without a parent) and
// kept until the application ends; hidden between runs.
TProgress &Progress();
// True once the shared window exists (callers test it before showing steps).
bool ProgressExists();

// One run in the shared progress window: shows it with the status text and an
// empty gauge, keeps the other windows from taking input while the run lasts
// (only "Отмена" answers) and shows the wait cursor; hides the window at the
// end. A run inside a run shares the outer one's window.
class ProgressRun {
public:
    // caption: the window's caption for this run (its usual one when empty).
    explicit ProgressRun(const QString &status, int max = 0, const QString &caption = QString());
    ~ProgressRun();
    ProgressRun(const ProgressRun &) = delete;
    ProgressRun &operator=(const ProgressRun &) = delete;
    TProgress &window() { return m_window; }

    // Runs a step that cannot stop halfway (saving a file) on a thread of its
    // own while the window goes on painting; "Отмена" waits for its end.
    // Rethrows what the step threw. The step must touch no window.
    void runWhilePainting(const QString &status, const std::function<void()> &step);

private:
    TProgress &m_window;
    bool m_outer;
    QString m_savedCaption;
};

// While it lives, the statements of a connection, and the commit and
// rollback of its transactions, keep the progress window painting and
// answering "Отмена" a few times a second (db::StatementPoll): a job whose
// single statements or commit last long does not freeze its window. A
// statement stopped on "Отмена" fails as a database error: run() turns that
// failure into Cancelled.
class PolledConnection {
public:
    PolledConnection(TProgress &window, const QSqlDatabase &db);
    ~PolledConnection();
    PolledConnection(const PolledConnection &) = delete;
    PolledConnection &operator=(const PolledConnection &) = delete;

    template <typename F>
    auto run(F &&work) -> decltype(work()) {
        try {
            return work();
        } catch (const Cancelled &) {
            throw;
        } catch (const std::exception &) {
            if (m_stopped) throw Cancelled();
            throw;
        }
    }

private:
    TProgress &m_window;
    QElapsedTimer m_paced;
    bool m_stopped = false;
    std::unique_ptr<db::StatementPoll> m_poll;
};

