#pragma once

#include <QString>

#include <functional>

namespace Marlet::Forms {

// Shows the run-time error report: a critical message box, titled with the program's
// name, that says what failed (`message`, a sentence for the user). `where` (the handler,
// or empty) goes to standard error with the message, not into the box. Returns when the
// user has read it; the program goes on.
void reportRuntimeError(const QString& where, const QString& message);

using RuntimeErrorReportHandler = std::function<void(const QString& where, const QString& message)>;

// Sends later reports to `handler` instead of a message box (an empty handler restores
// the box). Returns the handler it replaces. GUI thread only.
RuntimeErrorReportHandler setRuntimeErrorReportHandler(RuntimeErrorReportHandler handler);

} // namespace Marlet::Forms
