#include "forms/runtime_error_report.h"

#include <marlet/version.h>

#include <QDebug>
#include <QMessageBox>

#include <utility>

namespace Marlet::Forms {

namespace {

RuntimeErrorReportHandler& installedHandler()
{
    static RuntimeErrorReportHandler handler;
    return handler;
}

} // namespace

void reportRuntimeError(const QString& where, const QString& message)
{
    qWarning().noquote() << (where.isEmpty()
                                 ? QStringLiteral("Run-time error: %1").arg(message)
                                 : QStringLiteral("Run-time error in %1: %2").arg(where, message));
    if (const RuntimeErrorReportHandler handler = installedHandler()) {
        handler(where, message);
        return;
    }
    QMessageBox::critical(nullptr, QString::fromLatin1(Version::productName), message);
}

RuntimeErrorReportHandler setRuntimeErrorReportHandler(RuntimeErrorReportHandler handler)
{
    return std::exchange(installedHandler(), std::move(handler));
}

} // namespace Marlet::Forms
