#include "core/run_result.h"

MessageId ResultMessageId(RunResult result) {
    switch (ResultCode(result)) {
        case 1: return IDS_CANNOT_OPEN_SOURCE;
        case 2: return IDS_NO_VIDEO_STREAM;
        case 3: return IDS_NO_MOVIE_INFO;
        case 4: return IDS_UNSUPPORTED_FORMAT;
        case 5: return IDS_CANNOT_CREATE_OUTPUT;
        case 7: return IDS_CANNOT_CREATE_STREAM;
        case 8: return IDS_CANNOT_COMPRESS;
        case 9: return IDS_MEMORY_PROBLEM;
        case 10: return IDS_SOURCE_TOO_LARGE;
        case 11: return IDS_CANNOT_WRITE_AUDIO;
        case 12: return IDS_CANNOT_RENAME_SEGMENT;
        default: return 0;  // 0 success, 6 the user's own decision, 255 shown by the store
    }
}
