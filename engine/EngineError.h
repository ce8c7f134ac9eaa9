#pragma once
// The failure of an engine step, with its Russian message.
#include "platform/Errors.h"

class EngineError : public AppError {
public:
    using AppError::AppError;
};
