#pragma once
// TProgress: progress of a long run, with cancelling.
// The progress window of long runs: a status line, a detail line, a gauge and
// "Отмена". Modeless; the setters let the pending window events run (a few
// times a second at most, so that a gauge moved often costs the run nothing)
// so that the window repaints and "Отмена" answers during the run.
#include "engine/ProgressSink.h"

#include <QDialog>
#include <QElapsedTimer>

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

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QProgressBar *Gauge1 = nullptr;
    QPushButton *CancelButton = nullptr;

protected:
    void reject() override { cancel(); }
    void showEvent(QShowEvent *event) override;

private:
    void letEventsRun(bool now = false);

    int m_max = 100;
    bool m_cancelled = false;
    QElapsedTimer m_sinceEvents;
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
    explicit ProgressRun(const QString &status, int max = 0);
    ~ProgressRun();
    ProgressRun(const ProgressRun &) = delete;
    ProgressRun &operator=(const ProgressRun &) = delete;
    TProgress &window() { return m_window; }

private:
    TProgress &m_window;
    bool m_outer;
};
