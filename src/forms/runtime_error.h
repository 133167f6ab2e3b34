#pragma once

#include <QString>

#include <exception>

namespace Marlet::Forms {

// A statement of a window's handler that failed. Thrown by controls (the transport
// control's members) and caught by the handler's error policy (error_policy.h) before it
// could leave the handler: it never crosses the event loop.
class RuntimeError final : public std::exception
{
public:
    explicit RuntimeError(QString message)
        : m_message(std::move(message)), m_bytes(m_message.toUtf8())
    {
    }

    // A sentence for the user: what failed and why.
    const QString& message() const { return m_message; }
    const char* what() const noexcept override { return m_bytes.constData(); }

private:
    QString m_message;
    QByteArray m_bytes;
};

} // namespace Marlet::Forms
