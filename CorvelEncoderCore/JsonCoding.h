#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>

#include <expected>

namespace corvel {

// Why a stored record could not be read.
struct DecodeError
{
    QString message;
};

template <class T>
using Decoded = std::expected<T, DecodeError>;

// Stored dates are seconds since 2001-01-01T00:00:00Z, with a fractional part.
double secondsSinceReferenceDate(const QDateTime& date);
QDateTime dateFromReferenceSeconds(double seconds);

QJsonObject toJson(const FrameRateMode& mode);
QJsonObject toJson(const PixelSize& size);
QJsonObject toJson(const SourceInfo& info);
QJsonObject toJson(const PresetBody& body);
QJsonObject toJson(const JobSettings& settings);
QJsonObject toJson(const SavedPreset& preset);
// Optional fields without a value are left out.
QJsonObject toJson(const EncodingJob& job);

// Strict reading: a missing or null required key, a wrong JSON type, an unknown enumeration
// string or a bad UUID fails the whole value. Unknown extra keys are ignored.
template <class T>
Decoded<T> fromJson(const QJsonValue& value);
template <>
Decoded<FrameRateMode> fromJson<FrameRateMode>(const QJsonValue& value);
template <>
Decoded<PixelSize> fromJson<PixelSize>(const QJsonValue& value);
template <>
Decoded<SourceInfo> fromJson<SourceInfo>(const QJsonValue& value);
template <>
Decoded<PresetBody> fromJson<PresetBody>(const QJsonValue& value);
template <>
Decoded<JobSettings> fromJson<JobSettings>(const QJsonValue& value);
template <>
Decoded<SavedPreset> fromJson<SavedPreset>(const QJsonValue& value);
template <>
Decoded<EncodingJob> fromJson<EncodingJob>(const QJsonValue& value);

} // namespace corvel
