#pragma once
// The progress window of long runs: a status line, a detail line and a gauge.
// Modeless; every setter lets the pending window events run so that the
// window repaints during the run.
#include "engine/ProgressSink.h"

#include <QDialog>

class QLabel;
class QProgressBar;

class TProgress : public QDialog, public ProgressSink {
    Q_OBJECT
public:
    explicit TProgress(QWidget *parent = nullptr);

    void SetMax(int max);
    void SetPosition(int position);
    void SetStatusText(const QString &text);
    void SetDetailText(const QString &text);

    int max() const;
    int position() const;
    QString statusText() const;
    QString detailText() const;

    // ProgressSink
    void setMax(int max) override { SetMax(max); }
    void setPosition(int position) override { SetPosition(position); }
    void setStatusText(const QString &text) override { SetStatusText(text); }
    void setDetailText(const QString &text) override { SetDetailText(text); }

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QProgressBar *Gauge1 = nullptr;

private:
    int m_max = 100;
};

// The shared progress window, created on first use (without a parent) and
// kept until the application ends; hidden between runs.
TProgress &Progress();
// True once the shared window exists (callers test it before showing steps).
bool ProgressExists();
