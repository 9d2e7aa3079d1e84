#include "render.h"

#include "avi_io.h"
#include "disk_space.h"
#include "frame_plan.h"
#include "sound_plan.h"

#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace plugin {

namespace {

constexpr const char* kNoCurrentSlot = "現在のスロットがありません";
constexpr const char* kBadFrames = "書き込むフレームがありません";

using State = RenderOutcome::State;

RenderOutcome Failed(std::string text) {
    return {State::Failed, std::move(text)};
}
RenderOutcome Failed(AviError error) {
    return Failed(MessageOf(error).text);
}

bool SameHeader(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER* b) {
    return b && std::memcmp(&a, b, sizeof a) == 0;
}

void RemoveFile(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

// The slot whose stream this is; -1 for none.
int32_t SlotOf(const EditWorkspace& ws, PAVISTREAM stream) {
    for (int32_t slot = 0; stream && slot < ws.slotCount && slot < kMaxSlots; ++slot)
        if (ws.slotStreams[slot] == stream) return slot;
    return -1;
}

// Writes the frames the renderer makes into the scratch file, in order, and says in `plan`
// where every output frame comes from. `made` is how many the file holds.
RenderOutcome WriteScratch(const fs::path& path, const EditWorkspace& ws, Renderer& renderer,
                           const RenderProgress& progress, sound_plan::Plan& sounds,
                           frame_plan::Plan& plan, LONG& made) {
    AviError error = AviError::None;
    StreamRef out = CreateStreamFile(path, ws.streamInfo, error);
    // A scratch file that cannot even be opened is reported as the temporary file it is.
    if (error == AviError::CannotOpenFile) error = AviError::CannotWriteTemp;
    if (!out) return Failed(error);

    const BITMAPINFOHEADER format = renderer.format();
    const int64_t frames = renderer.frameCount();
    std::vector<uint8_t> pixels(format.biSizeImage);
    const LONG bytes = static_cast<LONG>(format.biSizeImage);
    made = 0;
    for (int64_t i = 0; i < frames; ++i) {
        if (progress && !progress(i)) return {State::Cancelled, {}};
        FrameResult result = FrameResult::Passed();
        if (!renderer.passes(i)) result = renderer.render(i, pixels.data());
        if (!result.ok) return Failed(result.error);
        const FrameSound sound = renderer.soundOf(i);
        sound_plan::Add(sounds, sound.own, SlotOf(ws, sound.other), sound.otherFrame,
                        sound.otherShare);
        frame_plan::Add(plan, result.made ? -1 : i);
        if (result.made && !WriteFrame(out.get(), made++, format, pixels.data(), bytes))
            return Failed(AviError::CannotWriteFrame);
    }
    out.reset(); // closes the file
    if (progress && !progress(frames)) return {State::Cancelled, {}};
    // A write that failed only when the file was closed (a full disk) shows here.
    if (made > 0 && !OpenChecked(path, made)) return Failed(AviError::CannotWriteFrame);
    return {State::Rendered, {}};
}

// Frames in another header than the slot's: the slot gets the frame-by-frame copy in its own
// header, made beside it first so that a failed copy leaves the slot's file whole. Without
// made frames the slot needs no file.
RenderOutcome MoveIntoSlotFile(const fs::path& scratch, const EditWorkspace& ws, LONG frames,
                               const BITMAPINFOHEADER& format) {
    if (frames == 0) {
        RemoveFile(TempFilePath(ws, ws.currentSlot));
        return {State::Rendered, {}};
    }
    fs::path source = scratch;
    if (!SameHeader(format, ws.frameFormat)) {
        source = TempFilePath(ws, kScratchFlatten);
        StreamRef written = OpenChecked(scratch, frames);
        AviError error = AviError::CannotWriteTemp;
        if (written) {
            AVISTREAMINFOA info = ws.streamInfo;
            info.dwLength = static_cast<DWORD>(frames);
            written = WriteStreamFile(source, written.get(), frames, info, *ws.frameFormat, error);
        }
        if (!written) return Failed(error);
    }
    std::error_code renamed;
    fs::rename(source, TempFilePath(ws, ws.currentSlot), renamed);
    if (renamed) {
        RemoveFile(source);
        return Failed(AviError::CannotReplaceFile);
    }
    return {State::Rendered, {}};
}

// The frames the renderer may make, and their copy in the slot's header when that differs.
uint64_t RoomForRender(const EditWorkspace& ws, const Renderer& renderer,
                       const BITMAPINFOHEADER& format) {
    int64_t frames = 0;
    for (int64_t i = 0; i < renderer.frameCount(); ++i)
        frames += renderer.passes(i) ? 0 : 1;
    uint64_t frameBytes = format.biSizeImage;
    if (ws.frameFormat && !SameHeader(format, ws.frameFormat))
        frameBytes += ws.frameFormat->biSizeImage;
    return frameBytes * uint64_t(frames);
}

} // namespace

bool ReadFrame(PAVISTREAM stream, int64_t n, uint8_t* buffer, const BITMAPINFOHEADER& format) {
    if (!stream || !buffer || n < 0 || n >= std::numeric_limits<LONG>::max() ||
        format.biSizeImage == 0 || format.biSizeImage > uint32_t(std::numeric_limits<LONG>::max()))
        return false;
    return ::ReadFrame(stream, static_cast<LONG>(n), buffer, static_cast<LONG>(format.biSizeImage));
}

RenderOutcome RenderIntoSlot(EditWorkspace& ws, Renderer& renderer,
                             const RenderProgress& progress) {
    const int slot = ws.currentSlot;
    if (slot < 0 || slot >= kMaxSlots || slot >= ws.slotCount) return Failed(kNoCurrentSlot);
    const int64_t frames = renderer.frameCount();
    const BITMAPINFOHEADER format = renderer.format();
    if (frames <= 0 || frames > std::numeric_limits<LONG>::max() || format.biSizeImage == 0 ||
        format.biSizeImage > uint32_t(std::numeric_limits<LONG>::max()))
        return Failed(kBadFrames);

    const fs::path scratch = TempFilePath(ws, kScratchOutput);
    const fs::path output = TempFilePath(ws, slot);
    sound_plan::Plan sounds;
    frame_plan::Plan plan;
    LONG made = 0;
    RenderOutcome outcome = WriteScratch(scratch, ws, renderer, progress, sounds, plan, made);
    // Without its plan the host would take the file for every frame of the slot.
    const fs::path framePlan = frame_plan::PathFor(output);
    if (outcome.state == State::Rendered && !frame_plan::Write(framePlan, plan))
        outcome = Failed(AviError::CannotWriteTemp);
    if (outcome.state == State::Rendered) outcome = MoveIntoSlotFile(scratch, ws, made, format);
    RemoveFile(scratch);
    if (outcome.state != State::Rendered) RemoveFile(framePlan);
    if (outcome.state == State::Failed)
        outcome.error += DiskFullCause(scratch.parent_path(), RoomForRender(ws, renderer, format));
    if (outcome.state != State::Rendered) return outcome;
    // Without its plan the host keeps the slot's sound as it was.
    const fs::path soundPlan = sound_plan::PathFor(output);
    if (!sound_plan::Write(soundPlan, sounds)) RemoveFile(soundPlan);

    // The host's stream kept the old file; the host reloads the slot.
    if (PAVISTREAM old = ws.slotStreams[slot]) AVIStreamRelease(old);
    ws.slotStreams[slot] = nullptr;
    return outcome;
}

} // namespace plugin
