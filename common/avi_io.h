// File-level video I/O between AVI files and the workspace's streams.
//
// Frame conventions shared by every reader and writer: one frame is frameFormat->biSizeImage
// bytes; frame n is read with AVIStreamRead(stream, n, n + 1, buffer, biSizeImage, 0, 0);
// frame i is written as AVIStreamSetFormat(out, i, frameFormat, 40) followed by an
// AVIStreamWrite of one uncompressed key frame.
#pragma once

#include "ui/ui.h"
#include "workspace.h"

// Frame n of stream into buffer (bytes long); false when the stream cannot deliver it.
bool ReadFrame(PAVISTREAM stream, LONG n, void* buffer, LONG bytes);
// Frame i of out: its format, then its pixels as one uncompressed key frame.
bool WriteFrame(PAVISTREAM out, LONG i, BITMAPINFOHEADER header, void* buffer, LONG bytes);

// A new editable stream holding what stream holds (an empty one for null); null on failure.
PAVISTREAM CloneOf(PAVISTREAM stream);

// Copies `frames` frames from `in` to `out`, each as an uncompressed key frame of frameFormat,
// through one buffer of one frame. False when a frame cannot be read or written.
bool CopyFrames(PAVISTREAM in, PAVISTREAM out, DWORD frames, const EditWorkspace& ws);

// Opens the file named in openPath. On success (1) aviStream holds its first video stream
// (the caller wraps it in an uncompressing view and releases it), streamInfo its information,
// and the 40 bytes at frameFormat the header of the frames as that view delivers them; the
// AVI library stays initialised. On failure (0) the reason was shown in a message box owned by
// `owner` and nothing stays open.
int OpenAviSource(HWND owner, EditWorkspace& ws);

// Rewrites temporary file d as a frame-by-frame copy of temporary file s, taking
// streamInfo.dwLength frames and writing each as an uncompressed key frame with frameFormat.
// Returns 1 with tempPath unchanged, or 0 after a message box; tempPath then names file d or s.
int CopyTempAvi(HWND owner, int s, int d, EditWorkspace& ws);

// Rebuilds the current slot and the working stream from temporary file n (or, with n == -1,
// the file tempPath names), re-reads streamInfo and the frames at rangeStart and rangeEnd.
// Expects the slot's previous stream to have been released by whoever rewrote the file.
// When the file cannot be read or holds no frames, the working stream is kept as it was and
// the slot gets a clone of it, so neither handle is ever left dangling or null. Returns 1.
int ReloadSlotFromTemp(EditWorkspace& ws, int n);
