// The slot-file service: the files behind the slots and the frames in them. Every writer of a
// temporary file (the session, the plug-in framework, bitmap import) goes through here.
//
// Frame conventions: one frame is the format's biSizeImage bytes; frame n is read with
// AVIStreamRead(stream, n, n + 1, ...); frame i is written as its 40-byte header followed by one
// uncompressed key frame.
//
// Failures travel as AviError values; MessageOf turns one into the text and caption the user is
// shown. Nothing here shows anything.
#pragma once

#include "avi_ref.h"
#include "workspace.h"

#include <filesystem>

enum class AviError {
    None,
    CannotOpenFile,     // the file cannot be opened (or created)
    CannotOpenStream,   // it has no video stream that can be read
    FrameTooLarge,      // its frames are larger than the services hold
    CannotGetInfo,      // the stream's information cannot be read
    NoFrames,           // the stream holds no frame
    CannotGetFormat,    // the frames' header cannot be read
    CannotCreateStream, // a stream cannot be created in a new file
    CannotWriteTemp,    // a temporary file cannot be written whole
    CannotWriteFrame,   // a frame cannot be written into a new file
    CannotReplaceFile,  // a slot's temporary file cannot be replaced
};

// What the user is told: "Error" for a failure, "Check" for a file the editor refuses.
struct ErrorMessage {
    const char* text;
    const char* caption;
};
ErrorMessage MessageOf(AviError error);

// Temporary file n (0..99) in the workspace's temporary folder: "<tempDir>NN.avi".
std::filesystem::path TempFilePath(const EditWorkspace& ws, int n);
// Removes temporary file n; a missing file is not an error.
void RemoveTempFile(const EditWorkspace& ws, int n);

// Frame n of stream into buffer (bytes long); false when the stream cannot deliver it.
bool ReadFrame(PAVISTREAM stream, LONG n, void* buffer, LONG bytes);
// Frame i of out: its format, then its pixels as one uncompressed key frame.
bool WriteFrame(PAVISTREAM out, LONG i, BITMAPINFOHEADER header, void* buffer, LONG bytes);

// A new editable stream holding what stream holds (an empty one for null); null on failure.
StreamRef CloneOf(PAVISTREAM stream);

// Copies `frames` frames from `in` to `out`, each as an uncompressed key frame of `format`,
// through one buffer of one frame. False when a frame cannot be read or written.
bool CopyFrames(PAVISTREAM in, PAVISTREAM out, LONG frames, const BITMAPINFOHEADER& format);

// A new file at path holding one video stream described by info, ready for WriteFrame. An old
// file there is removed first rather than overwritten: streams still reading it keep its frames.
StreamRef CreateStreamFile(const std::filesystem::path& path, AVISTREAMINFOA info, AviError& error);

// The video stream of the file at path when it holds exactly `frames` frames (any number above
// 0 when frames is -1); null otherwise. Reading back what a writer finished shows a write that
// failed only when the file was closed (a full disk).
StreamRef OpenChecked(const std::filesystem::path& path, LONG frames = -1);

// A file the user chose, as the view that delivers uncompressed frames sees it.
struct SourceVideo {
    StreamRef stream;          // the file's first video stream (keeps the file open)
    AVISTREAMINFOA info{};     // its information
    BITMAPINFOHEADER format{}; // the header of the frames as the uncompressing view delivers them
};
AviError OpenAviSource(const char* path, SourceVideo& video);

// Writes `frames` frames of `in` into a new file at path (stream information info, every frame
// an uncompressed key frame of format) and opens it for reading. The file is removed again when
// it was not written whole.
StreamRef WriteStreamFile(const std::filesystem::path& path, PAVISTREAM in, LONG frames,
                          AVISTREAMINFOA info, const BITMAPINFOHEADER& format, AviError& error);

// Makes the frames of file (a stream opened on a finished file) the current slot's: the slot
// gets a fresh clone, the working stream another, streamInfo and the frames at rangeStart and
// rangeEnd are read again. The slot's previous streams are released. When file is null or holds
// no frames, the slot keeps what it had (the slot entry gets a clone of the working stream if it
// had none) and the error is returned.
AviError ReplaceSlotFile(EditWorkspace& ws, PAVISTREAM file);
