// The same bytes are read as each of the three state files (settings.json, presets.json and
// queue.json). Any bytes must give a value or a DecodeError with a message. A value must write
// back to bytes that read again to the same value, and writing that value once more must give
// the same bytes: what the app saves on quit is what it loads on the next start.

#include "CorvelEncoderCore/AppSettings.h"
#include "CorvelEncoderCore/StateFiles.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace corvel;

template <class T>
void checkFailure(const Decoded<T>& decoded)
{
    if (!decoded && decoded.error().message.isEmpty())
        std::abort();
}

void settings(const QByteArray& bytes)
{
    const Decoded<AppSettings> decoded = decodeSettings(bytes);
    checkFailure(decoded);
    if (!decoded)
        return;
    if (decoded->maxParallel < AppSettings::kMinParallel ||
        decoded->maxParallel > AppSettings::kMaxParallel)
        std::abort();
    const QByteArray written = encodeSettings(*decoded);
    const Decoded<AppSettings> again = decodeSettings(written);
    if (!again || *again != *decoded || encodeSettings(*again) != written)
        std::abort();
}

template <class File, class Record>
void records(const QByteArray& bytes, Decoded<File> (*decode)(const QByteArray&),
             QByteArray (*encode)(const QList<Record>&), QList<Record> File::*list)
{
    const Decoded<File> decoded = decode(bytes);
    checkFailure(decoded);
    if (!decoded)
        return;
    const QByteArray written = encode((*decoded).*list);
    const Decoded<File> again = decode(written);
    // The writer always says version 1, whatever version was read.
    if (!again || again->version != 1 || (*again).*list != (*decoded).*list ||
        encode((*again).*list) != written)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    settings(bytes);
    records(bytes, &decodePresetFile, &encodePresetFile, &PresetFile::presets);
    records(bytes, &decodeQueueFile, &encodeQueueFile, &QueueFile::jobs);
    return 0;
}
