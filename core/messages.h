#pragma once
// The product's messages: texts from the program's string table, shown in a
// task-modal box under the caption "Tavrick". Used by the GUI, the job and the
// media layer alike, from the UI thread and the worker thread. No Qt here.

#include <cstdint>

#include "core/user_calls.h"
#include "platform/msgbox.h"
#include "platform/wintypes.h"

using MessageId = std::uint16_t;

inline constexpr MessageId IDS_CAPTION = 103;
inline constexpr MessageId IDS_SOURCE_TOO_LARGE = 104;
inline constexpr MessageId IDS_SOURCE_DIALOG_TITLE = 105;
inline constexpr MessageId IDS_CANNOT_OPEN_SOURCE = 106;
inline constexpr MessageId IDS_NO_VIDEO_STREAM = 107;
inline constexpr MessageId IDS_NO_MOVIE_INFO = 108;
inline constexpr MessageId IDS_CANNOT_CREATE_OUTPUT = 110;
inline constexpr MessageId IDS_ASK_SEGMENTING = 111;
inline constexpr MessageId IDS_CANNOT_CREATE_STREAM = 112;
inline constexpr MessageId IDS_CANNOT_COMPRESS = 113;
inline constexpr MessageId IDS_MEMORY_PROBLEM = 114;
inline constexpr MessageId IDS_UNSUPPORTED_FORMAT = 115;
inline constexpr MessageId IDS_CANNOT_WRITE_AUDIO = 116;
inline constexpr MessageId IDS_DONE = 117;
inline constexpr MessageId IDS_NO_SOURCE = 118;
inline constexpr MessageId IDS_NO_DESTINATION = 119;
inline constexpr MessageId IDS_ASK_OVERWRITE = 120;
inline constexpr MessageId IDS_DESTINATION_DIALOG_TITLE = 121;
inline constexpr MessageId IDS_CANNOT_OPEN_KEY = 122;
inline constexpr MessageId IDS_CANNOT_RENAME_SEGMENT = 123;
inline constexpr MessageId IDS_CANNOT_SAVE_VALUE = 124;

// Buffer sizes of one message box, terminator included.
inline constexpr int captionChars = 256;
inline constexpr int messageChars = 1024;

// Shows text textId under caption captionId with style plus MB_TASKMODAL,
// owned by owner (nullptr: no owner), through user's message box. Returns the
// button pressed (IDOK, IDYES, IDNO).
int ShowMessage(const UserCalls& user, HWND owner, MessageId captionId, MessageId textId, UINT style);

// The file-name part of a path: after its last backslash; without one, after its
// last forward slash; without either, the whole path.
const char* FileNamePart(const char* path);

// Writes text textId into buffer with the file-name part of path in place of its
// "%s" ("%%" gives "%"), cut to bufferSize - 1 characters and terminated.
void FormatFileMessage(MessageId textId, const char* path, char* buffer, int bufferSize);

// ShowMessage for the one text that names a file (IDS_ASK_OVERWRITE).
int ShowFileMessage(const UserCalls& user, HWND owner, MessageId captionId, MessageId textId, const char* path,
                    UINT style);
