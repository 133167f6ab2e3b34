#pragma once

#include "forms/handler_context.h"

#include <QString>

#include <functional>

namespace Marlet::Forms {

// The two ways a window's handler treats a failing statement (a RuntimeError, see
// runtime_error.h). Nothing thrown by a statement leaves either of them.

// Every statement runs; a failing one is skipped and the next one runs. Lives for the
// whole handler, which it marks as a resume-next handler (handler_context.h).
class ResumeNext
{
public:
    explicit ResumeNext(const QString& handler = {}) : m_scope(HandlerPolicy::ResumeNext, handler)
    {
    }

    void run(const std::function<void()>& statement) const;
    // Runs `body` when `condition` holds. A condition that fails counts as holding.
    void when(const std::function<bool()>& condition, const std::function<void()>& body) const;

private:
    HandlerScope m_scope;
};

// Runs `statements` until the first failure, which stops the rest and is shown as a
// run-time error of `handler` (runtime_error_report.h). Returns whether all of them ran.
bool runReporting(const QString& handler, const std::function<void()>& statements);

} // namespace Marlet::Forms
