// AVI file and editable-stream services with the Windows names, records and argument lists,
// implemented on FFmpeg. Handles are pointers to reference-counted objects shared by the host
// and every plug-in module, which is why this is one shared library.
#pragma once

#include "wintypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct AviFile* PAVIFILE;
typedef struct AviStream* PAVISTREAM;

#define AVIERR_OK 0
#define AVIERR_MEMORY ((HRESULT)0x80044067)    // the frames are too large to hold
#define AVIERR_BADFORMAT ((HRESULT)0x80044066) // the stream is there but cannot be read
#define AVIERR_NODATA ((HRESULT)0x8004406F)    // the file has no stream of that type
#define AVIERR_ERROR ((HRESULT)0x80044074)
#define AVIERR_NOCOMPRESSOR ((HRESULT)0x80044071) // no compressor of that handler opens here
#define AVIERR_USERABORT ((HRESULT)0x800440C6)    // the progress callback asked to stop

#define OF_READ 0x0000
#define OF_WRITE 0x0001
#define OF_SHARE_DENY_NONE 0x0040
#define OF_CREATE 0x1000

#define mmioFOURCC(a, b, c, d)                                                                     \
    ((DWORD)(uint8_t)(a) | ((DWORD)(uint8_t)(b) << 8) | ((DWORD)(uint8_t)(c) << 16) |              \
     ((DWORD)(uint8_t)(d) << 24))
#define streamtypeVIDEO mmioFOURCC('v', 'i', 'd', 's')
#define streamtypeAUDIO mmioFOURCC('a', 'u', 'd', 's')

// Audio codecs by their wave format tags: what an audio stream delivers (always PCM), and what
// AVISaveVA writes (the audio options' fccHandler).
#define WAVE_FORMAT_PCM 0x0001
#define WAVE_FORMAT_MPEGLAYER3 0x0055
#define WAVE_FORMAT_AAC 0x00FF
// The audio options' fccHandler that leaves the audio stream out of the saved file.
#define AUDIO_LEAVE_OUT mmioFOURCC('n', 'o', 'n', 'e')

#define AVIIF_KEYFRAME 0x10
#define AVICOMPRESSF_DATARATE 0x02
#define AVICOMPRESSF_KEYFRAMES 0x04
#define AVICOMPRESSF_VALID 0x08
// Every frame is encoded: none is copied as it is stored in the file it comes from.
#define AVICOMPRESSF_ENCODE_ALL 0x10000
#define ICMF_CHOOSE_KEYFRAME 0x0001
#define ICMF_CHOOSE_DATARATE 0x0002
#define ICMF_CHOOSE_PREVIEW 0x0004

#define ICQUALITY_HIGH 10000
#define ICQUALITY_DEFAULT ((DWORD)-1)

#define BI_RGB 0

#pragma pack(push, 1)
typedef struct {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

typedef struct {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
} AVISTREAMINFOA;

typedef struct {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER;

typedef struct {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX;
#pragma pack(pop)

typedef struct {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwKeyFrameEvery;
    DWORD dwQuality;
    DWORD dwBytesPerSecond;
    DWORD dwFlags;
    void* lpFormat;
    DWORD cbFormat;
    void* lpParms;
    DWORD cbParms;
    DWORD dwInterleaveEvery;
} AVICOMPRESSOPTIONS;

// Called with the percentage written so far; a non-zero answer stops the save.
typedef LONG (*AVISAVECALLBACK)(int percent);

#ifdef __cplusplus
static_assert(sizeof(RECT) == 16);
static_assert(sizeof(AVISTREAMINFOA) == 140);
static_assert(offsetof(AVISTREAMINFOA, dwScale) == 20);
static_assert(offsetof(AVISTREAMINFOA, dwRate) == 24);
static_assert(offsetof(AVISTREAMINFOA, dwLength) == 32);
static_assert(offsetof(AVISTREAMINFOA, rcFrame) == 52);
static_assert(offsetof(AVISTREAMINFOA, szName) == 76);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(sizeof(WAVEFORMATEX) == 18);
#endif

// Audio streams. AVIStreamOpenFromFileA and AVIFileGetStream with streamtypeAUDIO open the
// first audio stream of any file the media layer reads (AVIERR_NODATA when there is none,
// AVIERR_BADFORMAT when it cannot be decoded). Every audio stream delivers 16-bit signed PCM,
// channels interleaved, at the stored rate and channel count; a sample is one value for every
// channel (nBlockAlign bytes). Its information: fccType streamtypeAUDIO, dwScale nBlockAlign,
// dwRate nAvgBytesPerSec, dwSampleSize nBlockAlign, dwLength in samples; AVIStreamReadFormat
// gives the WAVEFORMATEX. AVIStreamRead reads up to `samples` samples from `start` (fewer at
// the end; a null buffer only tells the bytes needed). Editable streams work on audio in
// samples, and paste only audio of an equal format. A file created with AVIFileOpenA may hold
// one PCM audio stream (AVIFileCreateStreamA with streamtypeAUDIO, AVIStreamSetFormat with
// the WAVEFORMATEX, AVIStreamWrite of whole samples).

PLATFORM_API HRESULT AVIFileInit(void);
PLATFORM_API HRESULT AVIFileExit(void);
PLATFORM_API HRESULT AVIFileOpenA(PAVIFILE* file, const char* path, unsigned mode, void* handler);
PLATFORM_API LONG AVIFileRelease(PAVIFILE file);
PLATFORM_API HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD type, LONG index);
PLATFORM_API HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, AVISTREAMINFOA* info);
PLATFORM_API HRESULT AVIStreamOpenFromFileA(PAVISTREAM* stream, const char* path, DWORD type,
                                            LONG index, unsigned mode, void* handler);
PLATFORM_API HRESULT AVIStreamInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, LONG size);
PLATFORM_API HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG pos, void* format, LONG* size);
PLATFORM_API HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer,
                                   LONG bufferSize, LONG* bytes, LONG* samplesRead);
PLATFORM_API HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG pos, void* format, LONG size);
PLATFORM_API HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, void* buffer,
                                    LONG size, DWORD flags, LONG* samplesWritten,
                                    LONG* bytesWritten);
PLATFORM_API LONG AVIStreamLength(PAVISTREAM stream);
PLATFORM_API LONG AVIStreamRelease(PAVISTREAM stream);
// One more reference on stream; returns the references it now has.
PLATFORM_API LONG AVIStreamAddRef(PAVISTREAM stream);
PLATFORM_API HRESULT AVIMakeCompressedStream(PAVISTREAM* out, PAVISTREAM source,
                                             AVICOMPRESSOPTIONS* options, void* handler);
PLATFORM_API HRESULT CreateEditableStream(PAVISTREAM* result, PAVISTREAM source);
PLATFORM_API HRESULT EditStreamCut(PAVISTREAM stream, LONG* start, LONG* length,
                                   PAVISTREAM* result);
PLATFORM_API HRESULT EditStreamCopy(PAVISTREAM stream, LONG* start, LONG* length,
                                    PAVISTREAM* result);
PLATFORM_API HRESULT EditStreamPaste(PAVISTREAM stream, LONG* position, LONG* length,
                                     PAVISTREAM source, LONG sourceStart, LONG sourceLength);
PLATFORM_API HRESULT EditStreamSetInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, LONG size);

// A run of consecutive frames of a stream that an editable stream is made of.
typedef struct {
    PAVISTREAM source; // borrowed: valid while the editable stream holds it
    LONG first;
    LONG count;
} EDITSTREAMPIECE;
// The pieces of an editable stream in frame order: up to `capacity` of them are written to
// pieces. Returns how many there are (more than capacity when they did not all fit), or -1 when
// stream is not editable.
PLATFORM_API LONG EditStreamGetPieces(PAVISTREAM stream, EDITSTREAMPIECE* pieces, LONG capacity);

// Samples [start, start + samples) of an audio stream converted to the rate and channel count
// of `target` (16-bit PCM) and written as a new AVI file of one audio stream at path; *written
// gets the samples written. A conversion that fails removes the file again.
PLATFORM_API HRESULT AVIConvertAudioToFileA(const char* path, PAVISTREAM source, LONG start,
                                            LONG samples, const WAVEFORMATEX* target,
                                            LONG* written);
// As AVIConvertAudioToFileA, but the samples are made to last exactly targetSamples samples of
// target's rate: they play faster or slower, and their pitch changes with it.
PLATFORM_API HRESULT AVIStretchAudioToFileA(const char* path, PAVISTREAM source, LONG start,
                                            LONG samples, const WAVEFORMATEX* target,
                                            LONG targetSamples, LONG* written);

// Writes a video stream, and an audio stream after it when streamCount is 2, to a new AVI file
// at path. The video is compressed as options[0] says (fccHandler "DIB " or 0 keeps the frames
// uncompressed); the audio as options[1]'s fccHandler says (a WAVE_FORMAT_ tag; 0 is PCM;
// AUDIO_LEAVE_OUT writes no audio), at dwBytesPerSecond for compressed audio (0: the encoder's
// default), interleaved with the frames. A save that fails or is stopped after it created the
// file removes it again.
PLATFORM_API HRESULT AVISaveVA(const char* path, void* handler, AVISAVECALLBACK progress,
                               int streamCount, PAVISTREAM* streams, AVICOMPRESSOPTIONS** options);

#ifdef __cplusplus
}
#endif
