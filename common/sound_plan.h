// Whose sound goes with each frame a render made, written beside the render's output in a small
// text file: plug-ins make frames only, and the host builds the slot's new sound from this.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace sound_plan {

// `count` output frames in a row: the current slot's frames from `own` on (-1: none), mixed with
// slot `otherSlot`'s frames from `otherFrame` on (-1: none), which have `share` of the first
// frame's sound (0 .. 1), changing by `step` from frame to frame.
struct Run {
    int64_t count = 0;
    int64_t own = -1;
    int32_t otherSlot = -1;
    int64_t otherFrame = -1;
    double share = 0;
    double step = 0;
    bool operator==(const Run&) const = default;
};
using Plan = std::vector<Run>;

// The plan's file beside a render's output file.
std::filesystem::path PathFor(const std::filesystem::path& output);

// Adds the next output frame, extending the last run where the frame continues it.
void Add(Plan& plan, int64_t own, int32_t otherSlot, int64_t otherFrame, double share);

bool Write(const std::filesystem::path& path, const Plan& plan);
// Nothing when there is no plan or it is damaged.
std::optional<Plan> Read(const std::filesystem::path& path);

} // namespace sound_plan
