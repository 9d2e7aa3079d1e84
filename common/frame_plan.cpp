#include "frame_plan.h"

#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace frame_plan {

namespace {

constexpr const char* kFirstLine = "mivra frame plan 1";

} // namespace

fs::path PathFor(const fs::path& output) {
    fs::path plan = output;
    plan += ".frames";
    return plan;
}

void Add(Plan& plan, int64_t source) {
    if (source < 0) source = -1;
    if (!plan.empty()) {
        Run& last = plan.back();
        const bool continues = source < 0 ? last.source < 0 : source == last.source + last.count;
        if (continues) {
            ++last.count;
            return;
        }
    }
    plan.push_back({1, source});
}

int64_t MadeFrames(const Plan& plan) {
    int64_t frames = 0;
    for (const Run& run : plan)
        if (run.source < 0) frames += run.count;
    return frames;
}

int64_t Frames(const Plan& plan) {
    int64_t frames = 0;
    for (const Run& run : plan)
        frames += run.count;
    return frames;
}

bool Write(const fs::path& path, const Plan& plan) {
    std::ofstream out(path, std::ios::trunc);
    out << kFirstLine << '\n';
    for (const Run& run : plan)
        out << run.count << ' ' << run.source << '\n';
    out.close();
    return bool(out);
}

std::optional<Plan> Read(const fs::path& path) {
    std::ifstream in(path);
    std::string first;
    if (!std::getline(in, first) || first != kFirstLine) return std::nullopt;
    Plan plan;
    Run run;
    while (in >> run.count >> run.source) {
        if (run.count <= 0 || run.source < -1) return std::nullopt;
        plan.push_back(run);
    }
    if (!in.eof()) return std::nullopt;
    return plan;
}

} // namespace frame_plan
