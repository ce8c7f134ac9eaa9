#pragma once
// The failure of an engine step, with its Russian message.
#include "platform/Errors.h"

class EngineError : public AppError {
public:
    using AppError::AppError;
};

// A text that should be a number and is not (a list item, a form id, ...).
class ConversionError : public EngineError {
public:
    using EngineError::EngineError;
};
