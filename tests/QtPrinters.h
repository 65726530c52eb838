#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <ostream>

// Tests write QString literals as u"..."_s.
using namespace Qt::StringLiterals;

// Readable values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}

inline void PrintTo(const QUrl& url, std::ostream* os)
{
    *os << url.toString().toStdString();
}
