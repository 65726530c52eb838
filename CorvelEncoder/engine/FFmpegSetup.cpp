#include "CorvelEncoder/engine/FFmpegSetup.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace corvel {

void setUpFFmpeg()
{
    av_log_set_level(AV_LOG_FATAL);
    av_max_alloc(kMaxFFmpegAllocationBytes);
}

} // namespace corvel
