#pragma once

#include <QString>

#include <expected>

namespace corvel {

// Why an encode ended without a file: a message for the user, or a cancellation.
class EncodeFailure
{
public:
    enum class Kind
    {
        message,
        cancelled
    };

    static EncodeFailure message(QString text)
    {
        return EncodeFailure(Kind::message, std::move(text));
    }
    static EncodeFailure cancelled() { return EncodeFailure(Kind::cancelled, {}); }

    bool isCancelled() const { return m_kind == Kind::cancelled; }
    // What the user sees.
    QString description() const
    {
        return m_kind == Kind::cancelled ? QStringLiteral("Cancelled.") : m_text;
    }

    friend bool operator==(const EncodeFailure&, const EncodeFailure&) = default;

private:
    EncodeFailure(Kind kind, QString text) : m_kind(kind), m_text(std::move(text)) {}

    Kind m_kind;
    QString m_text;
};

// Success carries the path of the finished file.
using EncodeResult = std::expected<QString, EncodeFailure>;

} // namespace corvel
