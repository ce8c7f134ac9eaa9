#pragma once
// The message a call throws, or an empty text when it goes through.
#include <QString>
#include <exception>

template <class F>
QString refusal(F &&f) {
    try {
        f();
        return {};
    } catch (const std::exception &e) {
        return QString::fromStdString(e.what());
    }
}
