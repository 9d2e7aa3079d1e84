// Interleaved timing for the ratios against a baseline, and the goal lines `bench/run` collects.
// One machine shared with other work slows single runs unevenly, so each side runs several times
// in turn with the others (ours, theirs, ours, theirs ...) and the medians are compared. Ratios
// are of CPU seconds (this process and the commands it ran, user and system, so writing into the
// page cache counts): while others build on the machine, wall time mostly measures the wait for a
// core. Wall time is printed beside them.
#pragma once

#include "cpu_clock.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

constexpr int kPairs = 5;

struct Summary {
    double median = 0, low = 0, high = 0; // low .. high: the fastest and the slowest run
};

// Runs a shell command (ffmpeg, cp); false and the command on stderr when it failed.
inline bool Command(const std::string& command) {
    if (std::system(command.c_str()) == 0) return true;
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    return false;
}

inline Summary Summarize(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) return {};
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

// One side of a comparison: does its work once and says whether it succeeded.
struct Side {
    Side(std::string name, std::function<bool()> run)
        : name(std::move(name)), run(std::move(run)) {}
    std::string name;
    std::function<bool()> run;
    std::vector<double> cpu, wall; // seconds, one per round
};

// Runs every side once untimed (it loads the programs and the input into memory alike), then
// `rounds` rounds of every side in turn. Each run starts with no writes of earlier runs pending,
// so no run pays for another's write-back. False when any run failed.
inline bool Interleave(std::vector<Side>& sides, int rounds = kPairs) {
    for (Side& side : sides) {
        side.cpu.clear();
        side.wall.clear();
        ::sync();
        if (!side.run()) {
            std::fprintf(stderr, "%s failed\n", side.name.c_str());
            return false;
        }
    }
    for (int round = 0; round < rounds; ++round)
        for (Side& side : sides) {
            ::sync();
            const auto start = std::chrono::steady_clock::now();
            const double cpu = CpuSeconds();
            if (!side.run()) {
                std::fprintf(stderr, "%s failed\n", side.name.c_str());
                return false;
            }
            side.cpu.push_back(CpuSeconds() - cpu);
            side.wall.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    return true;
}

// "name  median rate (slowest .. fastest) CPU, median wall" of `units` frames per run.
inline void PrintRate(const Side& side, double units, const char* unit = "fps") {
    auto rates = [units](const std::vector<double>& seconds) {
        std::vector<double> r;
        for (double s : seconds)
            r.push_back(units / s);
        return Summarize(r);
    };
    const Summary cpu = rates(side.cpu), wall = rates(side.wall);
    std::printf("  %-46s %7.1f %s CPU (%.1f .. %.1f), %7.1f wall, %zu runs\n", side.name.c_str(),
                cpu.median, unit, cpu.low, cpu.high, wall.median, side.cpu.size());
}

// The line `bench/run` gathers into its table:
// goal | benchmark | what | value | spread | goal | met
inline void PrintGoal(const std::string& benchmark, const std::string& what, double value,
                      const std::string& spread, const std::string& goal, bool met) {
    std::printf("goal | %s | %s | %.2f | %s | %s | %s\n", benchmark.c_str(), what.c_str(), value,
                spread.c_str(), goal.c_str(), met ? "met" : "NOT MET");
}

// How many times faster `ours` is than `theirs`: the ratio of the median CPU times, with the range
// of the ratios of the rounds as its spread. The goal is a lower bound.
inline void PrintSpeedGoal(const std::string& benchmark, const std::string& what, const Side& ours,
                           const Side& theirs, double atLeast) {
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.cpu.size() && i < theirs.cpu.size(); ++i)
        ratios.push_back(theirs.cpu[i] / ours.cpu[i]);
    const Summary r = Summarize(ratios);
    const double ratio = Summarize(theirs.cpu).median / Summarize(ours.cpu).median;
    std::printf("  %s: CPU %.2f, wall %.2f\n", what.c_str(), ratio,
                Summarize(theirs.wall).median / Summarize(ours.wall).median);
    char spread[64], goal[32];
    std::snprintf(spread, sizeof spread, "%.2f..%.2f", r.low, r.high);
    std::snprintf(goal, sizeof goal, ">= %.2g", atLeast);
    PrintGoal(benchmark, what, ratio, spread, goal, ratio >= atLeast);
}

} // namespace bench
