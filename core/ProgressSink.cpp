#include "core/ProgressSink.h"

Cancelled::Cancelled() : std::runtime_error(message().toStdString()) {}

QString Cancelled::message() { return QStringLiteral("Операция отменена. Данные остались прежними."); }

namespace {
class NullProgress : public ProgressSink {
public:
    void setMax(int) override {}
    void setPosition(int) override {}
    void setStatusText(const QString &) override {}
    void setDetailText(const QString &) override {}
};
} // namespace

ProgressSink &noProgress() {
    static NullProgress p;
    return p;
}
