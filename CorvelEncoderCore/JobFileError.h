#pragma once

#include <QString>

namespace corvel {

// Why a job file or an enqueue link could not be read. The description is shown to the user
// unchanged.
class JobFileError
{
public:
    enum class Kind
    {
        message,
        unreadable,
        notAJob
    };

    static JobFileError message(QString text)
    {
        return JobFileError(Kind::message, std::move(text));
    }
    static JobFileError unreadable() { return JobFileError(Kind::unreadable, {}); }
    static JobFileError notAJob() { return JobFileError(Kind::notAJob, {}); }

    Kind kind() const { return m_kind; }
    QString description() const;

    friend bool operator==(const JobFileError&, const JobFileError&) = default;

private:
    JobFileError(Kind kind, QString text) : m_kind(kind), m_text(std::move(text)) {}

    Kind m_kind;
    QString m_text; // only for Kind::message
};

// Why a parsed job could not be turned into settings. The description is shown to the user
// unchanged.
class JobBuildError
{
public:
    enum class Kind
    {
        unknownPreset,
        emptySource
    };

    // `text` is the preset exactly as the file or link gave it.
    static JobBuildError unknownPreset(QString text)
    {
        return JobBuildError(Kind::unknownPreset, std::move(text));
    }
    static JobBuildError emptySource() { return JobBuildError(Kind::emptySource, {}); }

    Kind kind() const { return m_kind; }
    QString description() const;

    friend bool operator==(const JobBuildError&, const JobBuildError&) = default;

private:
    JobBuildError(Kind kind, QString text) : m_kind(kind), m_text(std::move(text)) {}

    Kind m_kind;
    QString m_text; // only for Kind::unknownPreset
};

} // namespace corvel
