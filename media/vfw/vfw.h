// Our AVI file services, under the platform's call names. The records keep the
// platform's 32-bit little-endian layouts byte for byte, because they are copied
// into files and into the destination's headers as they are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/compressoptions.h"
#include "platform/mmsystem.h"

// ---- Result codes ---------------------------------------------------------

// A status of 0 is success. Failures are the platform's AVIERR values
// (severity error, facility ITF, 0x4000 + number), so they read as negative.
using AVIRESULT = int32_t;

constexpr AVIRESULT MakeAviError(uint32_t number) { return static_cast<AVIRESULT>(0x80044000u + number); }

constexpr AVIRESULT AVIERR_OK = 0;
constexpr AVIRESULT AVIERR_UNSUPPORTED = MakeAviError(101);
constexpr AVIRESULT AVIERR_BADFORMAT = MakeAviError(102);
constexpr AVIRESULT AVIERR_MEMORY = MakeAviError(103);
constexpr AVIRESULT AVIERR_INTERNAL = MakeAviError(104);
constexpr AVIRESULT AVIERR_BADFLAGS = MakeAviError(105);
constexpr AVIRESULT AVIERR_BADPARAM = MakeAviError(106);
constexpr AVIRESULT AVIERR_BADSIZE = MakeAviError(107);
constexpr AVIRESULT AVIERR_BADHANDLE = MakeAviError(108);
constexpr AVIRESULT AVIERR_FILEREAD = MakeAviError(109);
constexpr AVIRESULT AVIERR_FILEWRITE = MakeAviError(110);
constexpr AVIRESULT AVIERR_FILEOPEN = MakeAviError(111);
constexpr AVIRESULT AVIERR_COMPRESSOR = MakeAviError(112);
constexpr AVIRESULT AVIERR_NOCOMPRESSOR = MakeAviError(113);
constexpr AVIRESULT AVIERR_READONLY = MakeAviError(114);
constexpr AVIRESULT AVIERR_NODATA = MakeAviError(115);
constexpr AVIRESULT AVIERR_BUFFERTOOSMALL = MakeAviError(116);
constexpr AVIRESULT AVIERR_CANTCOMPRESS = MakeAviError(117);
constexpr AVIRESULT AVIERR_USERABORT = MakeAviError(198);
constexpr AVIRESULT AVIERR_ERROR = MakeAviError(199);

// ---- Codes and flags --------------------------------------------------------

// Open modes (the platform's OpenFile flags).
constexpr uint32_t OF_READ = 0x0000;
constexpr uint32_t OF_WRITE = 0x0001;
constexpr uint32_t OF_READWRITE = 0x0002;
constexpr uint32_t OF_SHARE_DENY_WRITE = 0x0020;
constexpr uint32_t OF_CREATE = 0x1000;

constexpr uint32_t BI_RGB = 0;
constexpr uint16_t WAVE_FORMAT_PCM = 1;

constexpr uint32_t AVIIF_LIST = 0x00000001;
constexpr uint32_t AVIIF_KEYFRAME = 0x00000010;

constexpr uint32_t AVIFILEINFO_HASINDEX = 0x00000010;
constexpr uint32_t AVIFILEINFO_MUSTUSEINDEX = 0x00000020;
constexpr uint32_t AVIFILEINFO_ISINTERLEAVED = 0x00000100;
constexpr uint32_t AVIFILEINFO_WASCAPTUREFILE = 0x00010000;
constexpr uint32_t AVIFILEINFO_COPYRIGHTED = 0x00020000;

constexpr uint32_t AVIFILECAPS_CANREAD = 0x00000001;
constexpr uint32_t AVIFILECAPS_CANWRITE = 0x00000002;
constexpr uint32_t AVIFILECAPS_ALLKEYFRAMES = 0x00000010;
constexpr uint32_t AVIFILECAPS_NOCOMPRESSION = 0x00000020;

// AVIStreamRead: as many samples as are convenient (the rest of one chunk).
constexpr int32_t AVISTREAMREAD_CONVENIENT = -1;

// ---- Records -----------------------------------------------------------------

struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;  // positive: rows bottom-up; negative: top-down
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)

struct AVIFILEINFOA {
    uint32_t dwMaxBytesPerSec;
    uint32_t dwFlags;
    uint32_t dwCaps;
    uint32_t dwStreams;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwWidth;
    uint32_t dwHeight;
    uint32_t dwScale;
    uint32_t dwRate;
    uint32_t dwLength;
    uint32_t dwEditCount;
    char szFileType[64];
};

struct AVISTREAMINFOA {
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwFlags;
    uint32_t dwCaps;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwScale;
    uint32_t dwRate;
    uint32_t dwStart;
    uint32_t dwLength;
    uint32_t dwInitialFrames;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;
    RECT rcFrame;
    uint32_t dwEditCount;
    uint32_t dwFormatChangeCount;
    char szName[64];
};

static_assert(sizeof(RECT) == 16);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(offsetof(BITMAPINFOHEADER, biClrUsed) == 32);
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12);
static_assert(offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);
static_assert(sizeof(AVIFILEINFOA) == 108);
static_assert(offsetof(AVIFILEINFOA, dwWidth) == 20);
static_assert(offsetof(AVIFILEINFOA, dwHeight) == 24);
static_assert(offsetof(AVIFILEINFOA, szFileType) == 44);
static_assert(sizeof(AVISTREAMINFOA) == 140);
static_assert(offsetof(AVISTREAMINFOA, wPriority) == 16);
static_assert(offsetof(AVISTREAMINFOA, dwScale) == 20);
static_assert(offsetof(AVISTREAMINFOA, dwRate) == 24);
static_assert(offsetof(AVISTREAMINFOA, dwStart) == 28);
static_assert(offsetof(AVISTREAMINFOA, dwLength) == 32);
static_assert(offsetof(AVISTREAMINFOA, dwSuggestedBufferSize) == 40);
static_assert(offsetof(AVISTREAMINFOA, dwSampleSize) == 48);
static_assert(offsetof(AVISTREAMINFOA, rcFrame) == 52);
static_assert(offsetof(AVISTREAMINFOA, szName) == 76);

// ---- References ----------------------------------------------------------------

// Opaque references; the records behind them live in media/vfw/avifile.h and
// are shared by the reader and the writer.
struct AviFile;
struct AviStream;
struct AviGetFrame;
using PAVIFILE = AviFile*;
using PAVISTREAM = AviStream*;
using PGETFRAME = AviGetFrame*;

// ---- Calls ---------------------------------------------------------------------

// Counted: every AVIFileInit is matched by one AVIFileExit. Open references stay
// usable whatever the count; AVIFileExit on a count of 0 does nothing.
void AVIFileInit();
void AVIFileExit();
// The current count, so callers can check that their opens and closes balance.
int32_t AVIFileInitCount();

// Opens an AVI file for reading (OF_READ or OF_SHARE_DENY_WRITE; any other
// sharing flag is accepted and has no effect). The handler argument is ignored;
// the file's content decides, whatever its extension.
AVIRESULT AVIFileOpenA(PAVIFILE* ppfile, const char* szFile, uint32_t uMode, const void* lpHandler);
// Index lParam among the streams of type fccType (0: among all streams).
// Takes a reference on the file until the stream is released.
AVIRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, uint32_t fccType, int32_t lParam);
AVIRESULT AVIFileInfoA(PAVIFILE pfile, AVIFILEINFOA* pfi, int32_t lSize);
AVIRESULT AVIStreamInfoA(PAVISTREAM pavi, AVISTREAMINFOA* psi, int32_t lSize);
// With lpFormat null, *lpcbFormat receives the stored size. Otherwise copies at
// most *lpcbFormat bytes, zeroes the rest of the caller's buffer, sets
// *lpcbFormat to the stored size, and fails when the stored format is longer.
AVIRESULT AVIStreamReadFormat(PAVISTREAM pavi, int32_t lPos, void* lpFormat, int32_t* lpcbFormat);

// lpbiWanted: null, or a 24-bit BI_RGB header (its width and height give the
// frame size; a negative height asks for top-down rows). Null result: no decoder
// for the stream, or no conversion to 24-bit.
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM pavi, const BITMAPINFOHEADER* lpbiWanted);
// A packed DIB (BITMAPINFOHEADER, then biSizeImage bytes of rows padded to 4),
// valid until the next call on the same getter; null when the frame at lPos
// can't be decoded or lPos lies outside the stream.
void* AVIStreamGetFrame(PGETFRAME pg, int32_t lPos);
AVIRESULT AVIStreamGetFrameClose(PGETFRAME pg);

// Positions and counts are in samples (dwSampleSize bytes each; one chunk each
// when the stream has no fixed sample size). With lpBuffer null, reports the
// bytes the read would need.
AVIRESULT AVIStreamRead(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, void* lpBuffer, int32_t cbBuffer,
                        int32_t* plBytes, int32_t* plSamples);

// Releases return the remaining reference count, which callers don't rely on.
uint32_t AVIStreamRelease(PAVISTREAM pavi);
uint32_t AVIFileRelease(PAVIFILE pfile);

// ---- Writing ---------------------------------------------------------------------

// AVISaveOptions: what the options dialog offers besides the compressor.
constexpr uint32_t ICMF_CHOOSE_KEYFRAME = 0x0001;
constexpr uint32_t ICMF_CHOOSE_DATARATE = 0x0002;
constexpr uint32_t ICMF_CHOOSE_PREVIEW = 0x0004;
constexpr uint32_t ICMF_CHOOSE_ALLCOMPRESSORS = 0x0008;

constexpr uint32_t ICQUALITY_DEFAULT = 0xFFFFFFFFu;

// AVIFileOpenA with OF_CREATE creates (or empties) the file and takes an
// exclusive lock on it; a file another reference holds, for reading or for
// writing, is refused with AVIERR_FILEOPEN and left as it was.
// A new stream of a file opened with OF_CREATE, described by psi as it will be
// stored; streams can't be added once data has been written.
AVIRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi);
// A stream that compresses the frames written to it into psSource with the
// compressor the options name ("DIB " or 0: frames are stored as they come).
// The handler class argument is ignored.
AVIRESULT AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource, const AVICOMPRESSOPTIONS* lpOptions,
                                  const void* pclsidHandler);
// On a compressing stream: the uncompressed frame format (a BITMAPINFOHEADER);
// AVIERR_BADFORMAT when the compressor refuses it. On a plain stream: the
// format stored in 'strf'. Only position 0, and only before the first write.
AVIRESULT AVIStreamSetFormat(PAVISTREAM pavi, int32_t lPos, const void* lpFormat, int32_t cbFormat);
// Appends lSamples samples at lStart (the stream's length, or -1 for "at the
// end"). *plBytesWritten is how much the file grew: chunk header, data,
// padding, index entry, and on the first write the headers before the data.
AVIRESULT AVIStreamWrite(PAVISTREAM pavi, int32_t lStart, int32_t lSamples, const void* lpBuffer, int32_t cbBuffer,
                         uint32_t dwFlags, int32_t* plSampWritten, int32_t* plBytesWritten);

// Not the platform's: what a front end can tell a user about a file being
// written. Whether it still has a name in a folder (false once it was
// deleted while being written, or for a handle that isn't a writing file).
bool AviFileStillLinked(PAVIFILE pfile);
// Whether frames or sound of a file being read were found by a scan of its
// chunks beyond what its sizes and index say: a recording never finished,
// or cut off.
bool AviFileRecoveredByScan(PAVIFILE pfile);
// Writes the index and the final headers now rather than at the last
// release; the file then takes no more data. AVIERR_FILEWRITE when they (or
// an earlier write) didn't reach the file, AviFileFailure saying why.
AVIRESULT AviFileComplete(PAVIFILE pfile);
// Why the file's last write, format or compressor failed, in words ("No
// space left on device", an encoder's refusal); empty when nothing failed.
const char* AviFileFailure(PAVIFILE pfile);

// Shows the compression options for nStreams streams through presenter
// (media/vfw/saveoptions.h) and edits the records in place. Non-zero when the
// user confirmed, zero when cancelled. Without a presenter the records stand
// as they are, confirmed.
struct AviOptionsPresenter;
int32_t AVISaveOptions(void* hwnd, uint32_t uiFlags, int32_t nStreams, PAVISTREAM* ppavi,
                       AVICOMPRESSOPTIONS** plpOptions, const AviOptionsPresenter* presenter = nullptr);
// Releases what AVISaveOptions attached to the records and clears their
// format and parameter slots.
AVIRESULT AVISaveOptionsFree(int32_t nStreams, AVICOMPRESSOPTIONS** plpOptions);
