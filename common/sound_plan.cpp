#include "sound_plan.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <string>

namespace fs = std::filesystem;

namespace sound_plan {

namespace {

constexpr const char* kFirstLine = "mivra sound plan 1";
// Shares are written with every digit a double has, so the plan reads back exactly.
constexpr int kDigits = std::numeric_limits<double>::max_digits10;

bool Continues(const Run& run, int64_t own, int32_t otherSlot, int64_t otherFrame, double share) {
    const auto next = [&](int64_t first, int64_t frame) {
        return first < 0 ? frame < 0 : frame == first + run.count;
    };
    if (run.otherSlot != otherSlot || !next(run.own, own) || !next(run.otherFrame, otherFrame))
        return false;
    const double step = run.count == 1 ? share - run.share : run.step;
    return share == run.share + step * double(run.count);
}

bool Sane(const Run& run) {
    return run.count > 0 && run.own >= -1 && run.otherSlot >= -1 && run.otherFrame >= -1 &&
           (run.otherSlot < 0) == (run.otherFrame < 0) && std::isfinite(run.share) &&
           std::isfinite(run.step);
}

} // namespace

fs::path PathFor(const fs::path& output) {
    fs::path plan = output;
    plan += ".sound";
    return plan;
}

void Add(Plan& plan, int64_t own, int32_t otherSlot, int64_t otherFrame, double share) {
    if (otherSlot < 0) {
        otherFrame = -1;
        share = 0;
    }
    if (!plan.empty() && Continues(plan.back(), own, otherSlot, otherFrame, share)) {
        Run& run = plan.back();
        if (run.count == 1) run.step = share - run.share;
        ++run.count;
        return;
    }
    plan.push_back({1, own, otherSlot, otherFrame, share, 0});
}

bool Write(const fs::path& path, const Plan& plan) {
    std::ofstream out(path, std::ios::trunc);
    out.precision(kDigits);
    out << kFirstLine << '\n';
    for (const Run& run : plan)
        out << run.count << ' ' << run.own << ' ' << run.otherSlot << ' ' << run.otherFrame << ' '
            << run.share << ' ' << run.step << '\n';
    out.close();
    return bool(out);
}

std::optional<Plan> Read(const fs::path& path) {
    std::ifstream in(path);
    std::string first;
    if (!std::getline(in, first) || first != kFirstLine) return std::nullopt;
    Plan plan;
    Run run;
    while (in >> run.count >> run.own >> run.otherSlot >> run.otherFrame >> run.share >> run.step) {
        if (!Sane(run)) return std::nullopt;
        plan.push_back(run);
    }
    if (!in.eof()) return std::nullopt;
    return plan;
}

} // namespace sound_plan
