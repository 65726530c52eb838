#include "CorvelEncoder/engine/EncodeSteps.h"

#include "CorvelEncoder/engine/FFmpegHandles.h"

namespace corvel {

namespace {

// The system's reason, for the few failures a user can act on (a full disk, a permission);
// any other code is FFmpeg's own and says nothing to the user.
QString systemReason(int averror)
{
    switch (averror) {
    case AVERROR(EIO):
    case AVERROR(ENOSPC):
    case AVERROR(EDQUOT):
    case AVERROR(EFBIG):
    case AVERROR(EACCES):
    case AVERROR(EROFS):
    case AVERROR(ENOENT):
    case AVERROR(ENOMEM):
    case AVERROR(EPERM): // file systems that refuse how the file gets its name
    case AVERROR(EOPNOTSUPP):
    case AVERROR(ENAMETOOLONG):
    case AVERROR(ENOTDIR):
    case AVERROR(ESTALE):   // a network share that went away
    case AVERROR(ENOTCONN): // a FUSE file system that went away
        return u' ' + ff::errorText(averror);
    default:
        return {};
    }
}

} // namespace

QString userMessage(const Step& step)
{
    switch (step.stage) {
    case Stage::none:
        return step.text;
    case Stage::readSource:
        return QStringLiteral("Could not read the source.") + systemReason(step.code);
    case Stage::readVideo:
        return QStringLiteral("Reading video failed.") + systemReason(step.code);
    case Stage::readAudio:
        return QStringLiteral("Reading audio failed.") + systemReason(step.code);
    case Stage::writeVideo:
        return QStringLiteral("Writing a video frame failed.") + systemReason(step.code);
    case Stage::writeAudio:
        return QStringLiteral("Writing audio failed.") + systemReason(step.code);
    case Stage::writeFile:
        return QStringLiteral("Could not write the output file.") + systemReason(step.code);
    }
    return step.text;
}

QString writeError(int averror)
{
    return userMessage(Step::failed(Stage::writeFile, averror));
}

} // namespace corvel
