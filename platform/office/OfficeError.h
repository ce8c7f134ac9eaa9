#pragma once
// Failure of the document layer. The message is Russian and ready to show.
#include <QString>
#include <stdexcept>

namespace office {

class Error : public std::runtime_error {
public:
    explicit Error(const QString &message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString &message() const { return message_; }

private:
    QString message_;
};

} // namespace office
