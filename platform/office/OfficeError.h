#pragma once
// Failure of the document layer. The message is Russian and ready to show.
#include "platform/Errors.h"
#include <QString>
#include <stdexcept>

namespace office {

class Error : public AppError {
public:
    using AppError::AppError;
};

} // namespace office
