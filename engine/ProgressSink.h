#pragma once
// Where long runs report their progress: the progress window in the program,
// nothing (or a recorder) in tests. Each call lets pending window events run.
#include <QString>

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setMax(int max) = 0;
    virtual void setPosition(int position) = 0;
    virtual void setStatusText(const QString &text) = 0;
    virtual void setDetailText(const QString &text) = 0;
};

// A sink that does nothing.
ProgressSink &noProgress();
