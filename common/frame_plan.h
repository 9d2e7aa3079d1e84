// Where each frame of a render comes from, written beside the render's output in a small text
// file: the output holds only the frames the render made, and the host builds the slot's new
// stream from this plan, the slot's own frames and that file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace frame_plan {

// `count` output frames in a row: the current slot's frames from `source` on, or with source
// -1 the output file's next `count` frames.
struct Run {
    int64_t count = 0;
    int64_t source = -1;
    bool operator==(const Run&) const = default;
};
using Plan = std::vector<Run>;

// The plan's file beside a render's output file.
std::filesystem::path PathFor(const std::filesystem::path& output);

// Adds the next output frame: the current slot's frame `source`, or -1 for a made frame.
void Add(Plan& plan, int64_t source);

// Frames the plan takes from the output file, and frames in all.
int64_t MadeFrames(const Plan& plan);
int64_t Frames(const Plan& plan);

bool Write(const std::filesystem::path& path, const Plan& plan);
// Nothing when there is no plan or it is damaged.
std::optional<Plan> Read(const std::filesystem::path& path);

} // namespace frame_plan
