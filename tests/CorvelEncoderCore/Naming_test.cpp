#include "CorvelEncoderCore/Naming.h"

#include <QRegularExpression>
#include <QSet>

#include "../QtPrinters.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

NameContext context(const char* name)
{
    return {QString::fromUtf8(name), u"ProRes 422 HQ"_s, u"ProRes422HQ"_s, u"1920x1080"_s,
            u"2026-03-07"_s};
}

TEST(Naming, SanitizeFilename)
{
    const std::pair<QString, QString> rows[] = {
        {u"a/b:c"_qs, u"a-b-c"_qs},
        {u"Scene 1 -- take *2*"_qs, u"Scene 1 - take -2-"_qs},
        {u"..hidden.."_qs, u"hidden"_qs},
        {u"???"_qs, u"Untitled"_qs},
        {u"   "_qs, u"Untitled"_qs},
        {u"-"_qs, u"Untitled"_qs},
        {u"line\nbreak\ttab"_qs, u"line-break-tab"_qs},
        {u"zero\u200Bwidth"_qs, u"zero-width"_qs}, // a format character (Cf)
        {u"back\\slash|pipe\"q<a>%"_qs, u"back-slash-pipe-q-a-"_qs},
        {u". spaced ."_qs, u" spaced "_qs}, // whitespace uncovered by the period trim stays
        {u"  padded  "_qs, u"padded"_qs},
        {u"Scène 😀"_qs, u"Scène 😀"_qs},
        {QString(200, u'a'), QString(120, u'a')},
        {QString(117, u'a') + u" - tail"_qs, QString(117, u'a')},
        {QString(119, u'.') + u"ab"_qs, u"ab"_qs},
        // Cut at 120 user-perceived characters and 180 bytes, never inside one: an accented
        // "e" is 3 bytes, an emoji 4 (61 of them would make a name no file system takes).
        {u"e\u0301"_s.repeated(130), u"e\u0301"_s.repeated(60)},
        {u"😀"_s.repeated(61), u"😀"_s.repeated(45)},
        {QString(119, u'b') + u"-"_qs, QString(119, u'b') + u"-"_qs}};
    for (const auto& [in, out] : rows) {
        SCOPED_TRACE(in.toStdString());
        EXPECT_EQ(sanitizeFilename(in), out);
    }
}

TEST(Naming, RenderName)
{
    EXPECT_EQ(renderName(u"   ", context("clip")), u"clip");
    EXPECT_EQ(renderName(u"{name}", context("report.final")), u"report.final");
    EXPECT_EQ(renderName(u"{Name} {time}", context("clip")), u"{Name} {time}");
    // Tokens inside an earlier substituted value are replaced too.
    EXPECT_EQ(renderName(u"{name}", context("my{date}clip")), u"my2026-03-07clip");
    EXPECT_EQ(renderName(u"{preset}/{name}", context("a:b")), u"ProRes 422 HQ-a-b");
}

TEST(Naming, DateStampUsesTheGivenZone)
{
    const QDateTime instant(QDate(2026, 3, 7), QTime(23, 30), Qt::UTC);
    EXPECT_EQ(dateStamp(instant, QTimeZone::utc()), u"2026-03-07");
    EXPECT_EQ(dateStamp(instant, QTimeZone(3600)), u"2026-03-08");
    EXPECT_EQ(dateStamp(instant, QTimeZone(-12 * 3600)), u"2026-03-07");
}

TEST(Naming, UniqueFileURL)
{
    QSet<QString> existing;
    QStringList asked;
    auto exists = [&](const QString& path) {
        asked << path;
        return existing.contains(path);
    };

    EXPECT_EQ(uniqueFileURL(u"/out"_qs, u""_qs, u"mov", exists), u"/out/Untitled.mov");
    EXPECT_EQ(uniqueFileURL(u"/out/"_qs, u"clip"_qs, u".mov.", exists), u"/out/clip.mov");

    existing = {u"/out/clip.mov"_qs, u"/out/clip-2.mov"_qs};
    EXPECT_EQ(uniqueFileURL(u"/out"_qs, u"clip"_qs, u"mov", exists), u"/out/clip-3.mov");

    // When every numbered name is taken, a UUID name is returned without asking again.
    asked.clear();
    const QString last = uniqueFileURL(u"/out"_qs, u"clip"_qs, u"mov",
                                       [&](const QString& p) { return exists(p) || true; });
    EXPECT_EQ(asked.size(), 9999);
    EXPECT_EQ(asked.last(), u"/out/clip-9999.mov");
    const QRegularExpression uuidName(
        u"^/out/clip-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.mov$"_s);
    EXPECT_TRUE(uuidName.match(last).hasMatch()) << last.toStdString();
}

TEST(Naming, IsVideoFilePath)
{
    const std::pair<const char*, bool> rows[] = {
        {"CLIP.MOV", true},       {"/x/a.M2TS", true}, {"a.mxf", true},      {"a.3g2", true},
        {"a.mkv", true},          {"a.webm", true},    {"/x/a.TS", true},    {"noextension", false},
        {"/dir.mov/file", false}, {"/x/.mov", true},   {"a.mov.txt", false}, {"", false}};
    for (const auto& [path, video] : rows) {
        SCOPED_TRACE(path);
        EXPECT_EQ(isVideoFilePath(QString::fromUtf8(path)), video);
    }
}

TEST(Naming, SenderDisplayName)
{
    const std::pair<std::optional<QString>, std::optional<QString>> rows[] = {
        {std::nullopt, std::nullopt},
        {u"   "_qs, std::nullopt},
        {u" Brisk Pro "_qs, u"Corvel Brisk"_qs},
        {u"studio.corvel.BRISK"_qs, u"Corvel Brisk"_qs},
        {u"CorvelBrisk"_qs, u"Corvel Brisk"_qs},
        {u"\n Web Cutter\t"_qs, u"Web Cutter"_qs}};
    for (const auto& [sender, expected] : rows) {
        SCOPED_TRACE(sender.value_or(u"<none>"_qs).toStdString());
        EXPECT_EQ(senderDisplayName(sender), expected);
    }
}

} // namespace
} // namespace corvel
