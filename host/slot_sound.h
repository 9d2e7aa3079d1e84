// A slot's sound and the edits on it. The sound follows the frames: frame k lasts the samples
// [F(k), F(k + 1)) with F(k) = floor(k * perFrameNum / perFrameDen), the samples one frame lasted
// in the file the sound came from. An edit of frames a .. b moves the samples [F(a), F(b + 1)):
// whole samples, none lost or doubled. Where a frame does not last a whole number of samples,
// the sound after a splice may start up to one sample away from F, one sample per splice at most.
#pragma once

#include "avi_ref.h"

#include "sound_plan.h"

#include <cstdint>
#include <string>
#include <vector>

class SlotSources;

namespace sound {

struct Track {
    StreamRef stream; // an editable stream of 16-bit PCM samples; null: no sound
    WAVEFORMATEX format{};
    int64_t perFrameNum = 0; // samples per frame = perFrameNum / perFrameDen
    int64_t perFrameDen = 1;

    bool Present() const { return bool(stream); }
    int64_t Samples() const;
    // The first sample of frame's sound, F(frame), but no further than the end of the sound.
    int64_t FirstSample(int64_t frame) const;
    // A copy that later edits of this track leave alone; false when it cannot be made.
    bool CloneInto(Track& copy) const;
};

// Why a file's sound did not open.
enum class Opened { Sound, NoSound, Unreadable };

// The sound of the file at path, for its frames at video's rate.
Opened OpenTrack(const std::string& path, const AVISTREAMINFOA& video, Track& track,
                 StreamRef& file);

// The sound of frames [first, first + count): removed from track when `remove`.
bool Take(Track& track, int64_t first, int64_t count, bool remove, Track& taken);

// Inserts, at frame `position` of a slot of `frames` frames at video's rate, the sound of
// `count` frames: `material`'s sound, converted to the track's format when it differs, or
// silence when material has none. A track without sound gets silence for its own frames first.
// New files are written in files' folder and kept there.
bool Insert(Track& track, const AVISTREAMINFOA& video, int64_t frames, int64_t position,
            const Track& material, int64_t count, SlotSources& files);

// Plays frames first .. last backwards: their samples in reverse order.
bool Reverse(Track& track, int64_t first, int64_t last, SlotSources& files);

// The sound of the frames a render made, as its plan says: `own` is the rendered slot's sound
// before the render, slots[i] slot i's sound. Mixed frames add the two sounds by their shares;
// another slot's sound of another format is converted to the result's first.
bool FromPlan(const sound_plan::Plan& plan, const Track& own,
              const std::vector<const Track*>& slots, Track& result, SlotSources& files);

// The format that keeps the track in step with frames at video's rate: its samples, at the rate
// that makes every frame last its own samples (the stored rate while the frame rate is the
// file's own).
WAVEFORMATEX PlayingFormat(const Track& track, const AVISTREAMINFOA& video);

} // namespace sound
