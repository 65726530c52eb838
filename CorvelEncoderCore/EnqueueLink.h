#pragma once

#include "CorvelEncoderCore/JobFile.h"

#include <QUrl>

#include <functional>

namespace corvel {

// Reads the job file at an absolute path: its bytes, or nothing when it cannot be read.
using JobFileLoader = std::function<std::optional<QByteArray>(const QString& path)>;

// A "corvelencoder://enqueue?..." link as the jobs it asks for: either the job file its
// `path` names (loaded with `load`), or its `source` clips sharing the link's settings.
// Query names are matched ignoring case; "+" stays "+". Runs on any thread.
JobFileResult parseEnqueueURL(const QUrl& url, const JobFileLoader& load = readJobFileBytes);

} // namespace corvel
