// The session's Undo and Redo on a 100,000-frame stream, each against its goal:
// - Undo, then Redo, of a Stream Reverse of 10,000 frames: each under 10 ms (medians of
//   alternating runs, bench/timing.h);
// - the heap the undo history holds after 1,000 cut/paste steps (each Cut and each Paste is one
//   step): under 20 MB;
// - the crash journal's cost: cut/paste pairs per second with it against without it, at least
//   0.8. Wall time here, not CPU time: what the journal may cost is waiting for the disk.
// The input (16x16 24-bit frames) is written into a fresh folder that becomes the working
// directory, since the session keeps its temporary files in temp/ below it.
#include "avi_fixtures.h"
#include "session.h"

#include "timing.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 16;
constexpr int kBitCount = 24;
constexpr LONG kFrames = 100000;

constexpr int32_t kReverseStart = 45000;
constexpr int32_t kReverseEnd = 55000;
constexpr int kUndoRedoRounds = 20;
constexpr double kStepGoalMs = 10;

constexpr int kEditSteps = 1000;
constexpr LONG kLongestCut = 100;
constexpr double kHistoryGoalMB = 20;
constexpr int kCheckedFrames = 100; // frames compared after undoing every step

// Enough pairs that the journal is written afresh a few times (every 1,000 edits).
constexpr int kJournalPairs = 2000;
constexpr double kJournalGoal = 0.8;

// One session with the input open as its only slot, ended with its temporary files on leaving.
class OpenSession {
  public:
    explicit OpenSession(const std::string& input)
        : ok(session::Start().done && session::OpenVideo(input.c_str()).done) {}
    ~OpenSession() { session::End(); }
    OpenSession(const OpenSession&) = delete;
    OpenSession& operator=(const OpenSession&) = delete;

    const bool ok;
};

fixtures::Frame FrameOf(LONG n) {
    return fixtures::PatternFrame(kWidth, kHeight, kBitCount, int(n));
}

bool Shows(const uint8_t* buffer, const fixtures::Frame& expected) {
    return buffer && std::equal(expected.begin(), expected.end(), buffer);
}

// Heap bytes in use: small blocks from the arenas and large mapped ones.
size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// A side that undoes or redoes one step and checks the range start shows `expected`.
bench::Side StepSide(const char* name, Outcome (*step)(), const fixtures::Frame& expected) {
    return {name, [step, &expected] {
                return step().done && Shows(workspace.startFrameBuffer, expected);
            }};
}

void PrintMilliseconds(const bench::Side& side, const std::string& what) {
    const bench::Summary cpu = bench::Summarize(side.cpu), wall = bench::Summarize(side.wall);
    std::printf("  %-46s %7.3f ms CPU (%.3f .. %.3f), %7.3f wall, %zu runs\n", side.name.c_str(),
                cpu.median * 1e3, cpu.low * 1e3, cpu.high * 1e3, wall.median * 1e3,
                side.cpu.size());
    char spread[64], goal[32];
    std::snprintf(spread, sizeof spread, "%.2f..%.2f", cpu.low * 1e3, cpu.high * 1e3);
    std::snprintf(goal, sizeof goal, "< %g", kStepGoalMs);
    bench::PrintGoal("undo", what, cpu.median * 1e3, spread, goal, cpu.median * 1e3 < kStepGoalMs);
}

bool MeasureUndoRedo(const std::string& input) {
    const OpenSession slot(input);
    session::SetRange(kReverseStart, kReverseEnd);
    if (!slot.ok || !session::Reverse().done) {
        std::fprintf(stderr, "could not open the input and reverse its range\n");
        return false;
    }
    // The range start shows its own frame in the original order, the range end's when reversed.
    const fixtures::Frame original = FrameOf(kReverseStart), reversed = FrameOf(kReverseEnd);
    std::vector<bench::Side> sides{StepSide("Undo of the reverse", session::Undo, original),
                                   StepSide("Redo of the reverse", session::Redo, reversed)};
    if (!bench::Interleave(sides, kUndoRedoRounds)) return false;
    const std::string what = " of a 10,000-frame reverse (100,000 frames), ms";
    PrintMilliseconds(sides[0], "Undo" + what);
    PrintMilliseconds(sides[1], "Redo" + what);
    return true;
}

// Undoes every edit step and compares frames spread over the stream with the input's.
bool UndoesToInput() {
    for (int step = 0; step < kEditSteps; ++step)
        if (!session::Undo().done) return false;
    fixtures::Frame frame(FrameOf(0).size());
    for (LONG n = 0; n < kFrames; n += kFrames / kCheckedFrames) {
        session::ReadFrame(workspace.currentStream, n, frame.data());
        if (frame != FrameOf(n)) return false;
    }
    return true;
}

// `pairs` random cut/paste pairs on the open slot, the same ones for the same seed.
bool CutPastePairs(int pairs, unsigned seed) {
    std::mt19937 random(seed);
    auto pick = [&random](LONG low, LONG high) {
        return std::uniform_int_distribution<LONG>(low, high)(random);
    };
    for (int pair = 0; pair < pairs; ++pair) {
        const LONG length = pick(1, kLongestCut);
        const LONG from = pick(0, kFrames - length);
        session::SetRange(from, from + length);
        if (!session::Cut().done) return false;
        const LONG to = pick(0, kFrames - length);
        session::SetRange(to, to + 1);
        if (!session::Paste().done) return false;
    }
    return true;
}

bool MeasureHistory(const std::string& input) {
    const OpenSession slot(input);
    if (!slot.ok) {
        std::fprintf(stderr, "could not open the input\n");
        return false;
    }
    const size_t before = HeapInUse();
    if (!CutPastePairs(kEditSteps / 2, 1)) return false;
    const size_t after = HeapInUse();
    if (!UndoesToInput()) {
        std::fprintf(stderr, "undoing the cut/paste steps did not bring the input back\n");
        return false;
    }
    const double growth = double(after) - double(before);
    std::printf("  heap in use: %zu bytes before, %zu after the steps, %.0f bytes per step\n",
                before, after, growth / kEditSteps);
    char goal[32];
    std::snprintf(goal, sizeof goal, "< %g", kHistoryGoalMB);
    bench::PrintGoal("undo", "undo history after 1,000 cut/paste steps, MB", growth / 1e6,
                     "one run", goal, growth / 1e6 < kHistoryGoalMB);
    return true;
}

// Times the pairs alone, in a session of their own started with or without the journal:
// starting and opening are not what a user repeats. Rounds alternate between the two.
bool TimePairs(const std::string& input, bool journal, bench::Side& side) {
    const bool ready =
        session::Start({.journal = journal}).done && session::OpenVideo(input.c_str()).done;
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    const bool ok = ready && CutPastePairs(kJournalPairs, 2);
    side.cpu.push_back(CpuSeconds() - cpu);
    side.wall.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    session::End();
    return ok;
}

bool MeasureJournal(const std::string& input) {
    std::vector<bench::Side> sides{{"cut/paste pairs with the journal", {}},
                                   {"cut/paste pairs without it", {}}};
    for (int round = 0; round <= bench::kPairs; ++round) {
        for (size_t i = 0; i < sides.size(); ++i)
            if (!TimePairs(input, i == 0, sides[i])) return false;
        if (round > 0) continue;
        // The first round loads everything into memory alike; it is not counted.
        for (bench::Side& side : sides) {
            side.cpu.clear();
            side.wall.clear();
        }
    }
    for (const bench::Side& side : sides)
        bench::PrintRate(side, kJournalPairs, "pairs/s");
    std::vector<double> ratios;
    for (size_t i = 0; i < sides[0].wall.size(); ++i)
        ratios.push_back(sides[1].wall[i] / sides[0].wall[i]);
    const bench::Summary r = bench::Summarize(ratios);
    const double ratio =
        bench::Summarize(sides[1].wall).median / bench::Summarize(sides[0].wall).median;
    char spread[64], goal[32];
    std::snprintf(spread, sizeof spread, "%.2f..%.2f", r.low, r.high);
    std::snprintf(goal, sizeof goal, ">= %.2g", kJournalGoal);
    bench::PrintGoal("undo", "journal: cut/paste pairs per second with it against without (wall)",
                     ratio, spread, goal, ratio >= kJournalGoal);
    return true;
}

// One function per goal line.
using Measurement = bool (*)(const std::string& input);
constexpr Measurement kMeasurements[] = {MeasureUndoRedo, MeasureHistory, MeasureJournal};

} // namespace

int main() {
    const fixtures::ScratchDir folder;
    std::filesystem::current_path(folder.Path());
    const std::string input = folder.File("input.avi");
    if (!fixtures::WriteTinyAvi(input, kWidth, kHeight, kBitCount, kFrames)) {
        std::fprintf(stderr, "could not write %s\n", input.c_str());
        return 1;
    }
    bool ok = true;
    for (Measurement measure : kMeasurements)
        ok = measure(input) && ok;
    return ok ? 0 : 1;
}
