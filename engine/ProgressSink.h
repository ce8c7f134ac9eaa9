#pragma once
// Where long runs report their progress: the progress window in the program,
// nothing (or a recorder) in tests. Each call lets pending window events run.
//
// A run that can last more than a second looks at cancelled() between its
// steps (checkCancelled throws Cancelled); the run's transaction rolls back
// on the way out, so a cancelled run leaves the data as before.
#include "platform/Errors.h"

#include <QElapsedTimer>
#include <QString>

#include <stdexcept>

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setMax(int max) = 0;
    virtual void setPosition(int position) = 0;
    virtual void setStatusText(const QString &text) = 0;
    virtual void setDetailText(const QString &text) = 0;
    // True once the user asked to stop the run.
    virtual bool cancelled() const { return false; }
    // Stops the run with Cancelled when the user asked for it.
    void checkCancelled() const {
        if (cancelled()) throw Cancelled();
    }
};

// A sink that does nothing.
ProgressSink &noProgress();

// Progress of a tight loop by time instead of by row: tick() costs a counter
// test; every few hundred rows it looks at the clock and, a few times a
// second, moves the gauge (which lets the window paint) and stops the run
// on "Отмена".
class ProgressPacer {
public:
    explicit ProgressPacer(ProgressSink &sink, int intervalMs = 80) : m_sink(sink), m_interval(intervalMs) {
        m_clock.start();
    }
    // One row done; the gauge stays at the current step's position.
    void tick() {
        if ((++m_count & 255) == 0 && m_clock.elapsed() >= m_interval) report(m_position);
    }
    // Moves the gauge now (at a step's end) and stops on "Отмена".
    void report(int position) {
        m_position = position;
        m_clock.restart();
        m_sink.setPosition(position);
        m_sink.checkCancelled();
    }
    // One step (a table, a file) done.
    void step() { report(m_position + 1); }
    ProgressSink &sink() { return m_sink; }

private:
    ProgressSink &m_sink;
    int m_interval;
    int m_position = 0;
    unsigned m_count = 0;
    QElapsedTimer m_clock;
};
