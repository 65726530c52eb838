#pragma once

#include "CorvelEncoderCore/Records.h"

#include <QColor>
#include <QString>

#include <optional>

// What the status column of a queue row shows, decided from the job alone.
namespace corvel::JobRowTexts {

QString statusTitle(JobStatus status);
QColor statusColor(JobStatus status);
// Encoding, paused and completed jobs show a progress bar with percent and detail texts.
bool showsProgress(const EncodingJob& job);
// The bar's fill, 0...1; a completed job is full whatever its stored progress.
double barFraction(const EncodingJob& job);
QColor barColor(JobStatus status);
// "100%" when completed, "Starting" at 0 or below, else the rounded percentage.
QString percentText(const EncodingJob& job);
// "Paused", "In Folder", the time left, or while that is unknown "Software" or "Hardware".
QString detailText(const EncodingJob& job);
// How many times realtime an encode runs ("2.4\u00D7"), derived from the time left and the
// source's duration; absent when either is unknown.
std::optional<QString> speedText(const EncodingJob& job);
// "Software encoder" or "Hardware encoder" once the encode chose one.
std::optional<QString> encoderText(const EncodingJob& job);
// The name of the file the row stands for: the movie written (or being written) when the
// job has one, which may differ from the pattern's when the name was taken; else the
// pattern's preview.
QString outputName(const EncodingJob& job);
// The error a failed job shows in place of the bar.
std::optional<QString> failureText(const EncodingJob& job);
// A completed job offers a button that reveals its output.
bool offersReveal(const EncodingJob& job);

} // namespace corvel::JobRowTexts
