#include "forms/error_policy.h"

#include "forms/runtime_error.h"
#include "forms/runtime_error_report.h"

#include <exception>
#include <optional>

namespace Marlet::Forms {

namespace {

// Runs `f`; the message of what it threw, if it threw.
std::optional<QString> failureOf(const std::function<void()>& f)
{
    try {
        f();
        return std::nullopt;
    } catch (const RuntimeError& error) {
        return error.message();
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

} // namespace

void ResumeNext::run(const std::function<void()>& statement) const
{
    failureOf(statement);
}

void ResumeNext::when(const std::function<bool()>& condition,
                      const std::function<void()>& body) const
{
    bool holds = true;
    failureOf([&] { holds = condition(); });
    if (holds)
        run(body);
}

bool runReporting(const QString& handler, const std::function<void()>& statements)
{
    std::optional<QString> failure;
    {
        const HandlerScope scope(HandlerPolicy::Reporting, handler);
        failure = failureOf(statements);
    }
    if (failure)
        reportRuntimeError(handler, *failure);
    return !failure;
}

} // namespace Marlet::Forms
