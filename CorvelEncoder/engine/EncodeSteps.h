#pragma once

#include <QString>

namespace corvel {

// Where an encode failed. The user's message is made from it in one place (userMessage), so
// FFmpeg's internal texts ("Operation not permitted" from a decoder) never reach the user.
enum class Stage
{
    none,       // the step's text is already the user's message
    readSource, // demuxing
    readVideo,  // decoding or filtering
    readAudio,
    writeVideo, // the encoders
    writeAudio,
    writeFile, // the muxer and the file system
};

// How one step of an encode ended.
struct Step
{
    enum class Kind
    {
        ok,
        failed,
        cancelled
    };
    Kind kind = Kind::ok;
    QString text;
    Stage stage = Stage::none;
    int code = 0; // AVERROR of the failing call; 0 when there is none

    static Step ok() { return {}; }
    static Step failed(QString text) { return {Kind::failed, std::move(text)}; }
    static Step failed(Stage stage, int code = 0) { return {Kind::failed, {}, stage, code}; }
    static Step cancelled() { return {Kind::cancelled, {}}; }
    bool isOk() const { return kind == Kind::ok; }
};

// What the user reads for a failed step.
QString userMessage(const Step& step);
// The user's message for a failure writing the file.
QString writeError(int averror);

} // namespace corvel
