// Frames a save copies as they are stored in the files they come from, instead of encoding
// them again: no loss and no encoder's time.
#pragma once

#include "avifile.h"

#include <vector>

namespace avi {

struct Compressor;
class VideoSource;

// Where a frame of the saved stream is copied from; a null source: the frame is encoded.
struct StoredFrame {
    VideoSource* source = nullptr;
    LONG frame = 0;
    // Stored packets read at this frame: 1 for a frame that stands alone, a group's length at
    // the group's first frame, 0 for its other frames (their packets were read with it).
    LONG packets = 0;
    // Of a frame encoded: the file it is read from unchanged (at `frame`), whose decoded
    // pictures are in the encoder's pixel format; null for frames read as the stream gives them.
    VideoSource* decodedFrom = nullptr;
};

// For each frame of stream saved with the compressor, the stored chunk it copies. A frame is
// copied when it is read unchanged from a file stored in the compressor's codec at the same
// size, and its chunk decodes on its own. Motion JPEG frames stand alone and mix with encoded
// ones; other codecs may set up their frames in the stream's header (FFV1, HuffYUV, Ut Video)
// and copy only when every frame comes from files of one header. H.264 and MPEG-4 Part 2
// frames are copied in whole groups of pictures, read in the source's order, and mix with
// encoded runs.
std::vector<StoredFrame> PlanStoredFrames(PAVISTREAM stream, const Compressor& compressor);

LONG CopiedFrames(const std::vector<StoredFrame>& plan);

// Pictures a decoder holds back to reorder the copied frames; frames encoded between them must
// hold back as many.
int ReorderOf(const std::vector<StoredFrame>& plan);

// Whether a codec's copied packets carry what they need in-band (H.264's parameter sets,
// MPEG-4 Part 2's video object layer), rather than in the stream's header.
bool CopiesInBand(const Compressor& compressor);

} // namespace avi
