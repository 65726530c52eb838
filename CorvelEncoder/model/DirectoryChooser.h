#pragma once

#include <QString>

#include <functional>

class QObject;

namespace corvel {

class DesktopServices;

// Asks the user for one folder, which may be made on the spot; `chosen` runs with its path
// when the user confirms, unless `context` is gone by then.
void chooseDirectory(DesktopServices& desktop, QObject* context, const QString& title,
                     const QString& message, std::function<void(const QString& path)> chosen);

} // namespace corvel
