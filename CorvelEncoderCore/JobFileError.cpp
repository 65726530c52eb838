#include "CorvelEncoderCore/JobFileError.h"

namespace corvel {

QString JobFileError::description() const
{
    switch (m_kind) {
    case Kind::message:
        return m_text;
    case Kind::unreadable:
        return QStringLiteral("The job file could not be read as JSON.");
    case Kind::notAJob:
        return QStringLiteral("This JSON file is not a Corvel Encoder job.");
    }
    return m_text;
}

QString JobBuildError::description() const
{
    switch (m_kind) {
    case Kind::unknownPreset:
        return QStringLiteral("Unknown preset \"") + m_text + QStringLiteral("\".");
    case Kind::emptySource:
        return QStringLiteral("A job is missing a source path.");
    }
    return {};
}

} // namespace corvel
