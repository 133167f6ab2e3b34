#pragma once

#include <QString>

namespace Marlet::Forms {

// How the handler that is running treats a failing statement (error_policy.h).
enum class HandlerPolicy {
    None,       // no handler runs: a control acts on its own (a button of its own)
    ResumeNext, // failures are skipped without a message
    Reporting,  // a failure goes to the run-time error report
};

struct HandlerContext
{
    HandlerPolicy policy = HandlerPolicy::None;
    QString handler; // the handler's name, for standard error; may be empty
};

// The innermost handler running on the user-interface thread. A control that takes a
// command and finds out later that it failed asks this when it takes the command, so the
// failure can be handled as that handler would have handled it.
HandlerContext currentHandler();

// Marks a handler as running for its lifetime. Scopes nest (a modal dialog runs other
// handlers inside one) and end in reverse order. User-interface thread only.
class HandlerScope
{
public:
    HandlerScope(HandlerPolicy policy, QString handler = {});
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

private:
    HandlerContext m_outer;
};

} // namespace Marlet::Forms
