// Work survives a killed editor: a child process edits, renders and saves, is killed with
// SIGKILL at random moments, and the next session restores what it had done.
#include "invert_effect.h"
#include "session.h"

#include "../common/tiny_avi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

uint64_t Hash(uint64_t hash, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash;
}

// A stream's frames as one number, with its rate.
struct StreamLook {
    LONG length = 0;
    uint64_t frames = 0;
    DWORD rate = 0, scale = 0;
    bool operator==(const StreamLook&) const = default;
};

StreamLook LookOf(PAVISTREAM stream) {
    StreamLook look{AVIStreamLength(stream), 0xCBF29CE484222325ull};
    if (look.length <= 0) return look;
    BITMAPINFOHEADER format{};
    LONG size = sizeof format;
    AVIStreamReadFormat(stream, 0, &format, &size);
    std::vector<uint8_t> frame(format.biSizeImage);
    for (LONG n = 0; n < look.length; ++n) {
        AVIStreamRead(stream, n, 1, frame.data(), LONG(frame.size()), nullptr, nullptr);
        look.frames = Hash(look.frames, frame.data(), frame.size());
    }
    AVISTREAMINFOA info{};
    AVIStreamInfoA(stream, &info, sizeof info);
    look.rate = info.dwRate;
    look.scale = info.dwScale;
    return look;
}

// A slot's sound as one number: its samples and their rate.
uint64_t SoundOf(int slot) {
    const session::SlotSound sound = session::SoundOf(slot);
    if (!sound.stream) return 0;
    const LONG length = AVIStreamLength(sound.stream);
    std::vector<uint8_t> samples(size_t(length) * sound.format.nBlockAlign);
    LONG bytes = 0, read = 0;
    if (length > 0 && (AVIStreamRead(sound.stream, 0, length, samples.data(), LONG(samples.size()),
                                     &bytes, &read) != AVIERR_OK ||
                       read != length))
        return 1; // unreadable
    return Hash(Hash(0xCBF29CE484222325ull, samples.data(), samples.size()), &sound.format,
                sizeof sound.format);
}

struct SlotLook {
    StreamLook stream;
    uint64_t sound = 0;
    std::string name;
    bool unsaved = false;
    bool operator==(const SlotLook&) const = default;
};

// Everything a restore must bring back.
struct Look {
    std::vector<SlotLook> slots;
    StreamLook clipboard;
    int current = 0;
    int32_t start = 0, end = 0;
    bool operator==(const Look&) const = default;
};
void PrintTo(const StreamLook& look, std::ostream* out) {
    *out << look.length << " frames " << look.frames << " at " << look.rate << "/" << look.scale;
}
void PrintTo(const SlotLook& look, std::ostream* out) {
    *out << look.name << ": " << testing::PrintToString(look.stream) << " sound " << look.sound
         << (look.unsaved ? " unsaved" : "");
}
void PrintTo(const Look& look, std::ostream* out) {
    *out << testing::PrintToString(look.slots) << " clipboard "
         << testing::PrintToString(look.clipboard) << " current " << look.current << " range "
         << look.start << ".." << look.end;
}

Look Now() {
    Look look;
    for (int i = 0; i < workspace.slotCount; ++i)
        look.slots.push_back({LookOf(i == workspace.currentSlot ? workspace.currentStream
                                                                : workspace.slotStreams[i]),
                              SoundOf(i), workspace.slotNames[i], session::HasUnsavedChanges(i)});
    look.clipboard = LookOf(clipboardStream);
    look.current = workspace.currentSlot;
    look.start = workspace.rangeStart;
    look.end = workspace.rangeEnd;
    return look;
}

AVICOMPRESSOPTIONS FullFrames() {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    return options;
}

// The work the child does, one change after another; every one is expected to succeed.
std::vector<std::function<bool()>> Script(const fs::path& folder) {
    const auto range = [](int32_t start, int32_t end, Outcome (*change)()) {
        return [=] {
            session::SetRange(start, end);
            return change().done;
        };
    };
    const auto saveAs = [folder](const char* name) {
        return [folder, name] {
            AVICOMPRESSOPTIONS options = FullFrames();
            return session::Save(folder / name, options, nullptr).done;
        };
    };
    const auto save = saveAs("saved.avi");
    return {
        [folder] { return session::OpenVideo((folder / "a.avi").c_str()).done; },
        range(5, 15, session::Cut),
        range(20, 21, session::Paste),
        [] { return invert_effect::Apply().done; },
        range(2, 30, session::Reverse),
        [folder] { return session::OpenVideo((folder / "b.avi").c_str()).done; },
        range(0, 6, session::Copy),
        [] { return session::SwitchSlot(0).done; },
        range(3, 4, session::Paste),
        save,
        [] { return session::SetRate(12).done; },
        [] { return session::SwitchSlot(1).done; },
        [] { return invert_effect::Apply().done; },
        [] { return session::Undo().done; },
        [] { return session::Redo().done; },
        range(1, 9, session::Cut),
        [] { return session::CloseSlot(0).done; },
        [] { return session::Undo().done; },
        range(0, 2, session::Paste),
        [] { return invert_effect::Apply().done; },
        save,
        range(10, 12, session::Reverse),
        // A slot saved over the file it was opened from still shows what it showed.
        [folder] { return session::OpenVideo((folder / "a.avi").c_str()).done; },
        range(0, 10, session::Cut),
        saveAs("a.avi"),
    };
}

class Recovery : public testing::Test {
  protected:
    void SetUp() override {
        previous = fs::current_path();
        folder = fs::temp_directory_path() / ("mivra-recovery-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::current_path(folder);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(folder);
        fs::remove(folder.parent_path() / (folder.filename().string() + "-a.avi"));
    }

    // The files the script opens, as they are before it runs (it saves over one of them): one
    // with sound, one without.
    void WriteInputs() const {
        // Frames large enough that renders and saves take a good part of the script's time.
        const tiny_avi::Video video{.width = 320, .height = 240, .frames = 40};
        // ffmpeg need not write the same file twice: the file with sound is made once and copied.
        const fs::path withSound = folder.parent_path() / (folder.filename().string() + "-a.avi");
        if (!fs::exists(withSound))
            EXPECT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=s=320x240:r=25 -f "
                                   "lavfi -i sine=f=440:r=48000 -frames:v 40 -t 1.6 -c:v rawvideo "
                                   "-pix_fmt bgr24 -c:a pcm_s16le " +
                                   withSound.string())
                                      .c_str()),
                      0);
        fs::copy_file(withSound, folder / "a.avi", fs::copy_options::overwrite_existing);
        EXPECT_TRUE(tiny_avi::WriteVideo((folder / "b.avi").string(), video));
    }

    // The looks after each change of the script, with the empty session first.
    std::vector<Look> Expected() {
        std::vector<Look> looks;
        WriteInputs();
        EXPECT_TRUE(session::Start().done);
        looks.push_back(Now());
        for (const auto& change : Script(folder)) {
            EXPECT_TRUE(change());
            looks.push_back(Now());
        }
        session::End();
        return looks;
    }

    // A child running the script that writes the number of each change it finished to `report`
    // and then waits to be killed. With `stopAfter`, it ends right after that many changes,
    // leaving everything behind as a crash would.
    pid_t StartChild(int report, size_t stopAfter = SIZE_MAX) {
        const pid_t child = ::fork();
        if (child != 0) return child;
        WriteInputs();
        session::Start();
        int done = 0;
        for (const auto& change : Script(folder)) {
            if (!change()) ::_exit(2);
            ++done;
            if (report >= 0 && ::write(report, &done, sizeof done) != sizeof done) ::_exit(3);
            if (size_t(done) == stopAfter) ::_exit(0);
        }
        for (;;)
            ::pause();
    }

    // The look of the session restored from the one folder a gone instance left.
    static std::optional<Look> Restored() {
        const std::vector<fs::path> found = session::RecoverableWork();
        if (found.size() != 1) return std::nullopt;
        const Outcome restored = session::Recover(found.front());
        EXPECT_TRUE(restored.done) << restored.message;
        EXPECT_FALSE(fs::exists(found.front()));
        return Now();
    }

    fs::path previous, folder;
};

// The number of the last change a killed child reported.
int LastReported(int report) {
    int last = 0, value = 0;
    while (::read(report, &value, sizeof value) == sizeof value)
        last = value;
    return last;
}

TEST_F(Recovery, EveryChangeIsRestoredExactly) {
    const std::vector<Look> looks = Expected();
    for (size_t changes = 1; changes < looks.size(); ++changes) {
        const pid_t child = StartChild(-1, changes);
        ::waitpid(child, nullptr, 0);
        ASSERT_TRUE(session::Start().done);
        const std::optional<Look> restored = Restored();
        EXPECT_EQ(restored, looks[changes]) << "after change " << changes;
        session::End();
    }
}

TEST_F(Recovery, RestoresTheLastCompletedChangeWhereverTheEditorWasKilled) {
    const auto begun = std::chrono::steady_clock::now();
    const std::vector<Look> looks = Expected();
    const auto scriptTime = std::chrono::steady_clock::now() - begun;

    // Each round kills the child at a random moment of another change, renders and saves too.
    const size_t changes = looks.size() - 1;
    const auto perChange =
        std::chrono::duration_cast<std::chrono::microseconds>(scriptTime).count() /
        int64_t(changes);
    std::mt19937 random(1234);
    std::uniform_int_distribution<int64_t> moment(0, 2 * perChange);
    constexpr int kKills = 30;
    for (int round = 0; round < kKills; ++round) {
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const pid_t child = StartChild(pipe[1]);
        ::close(pipe[1]);
        const int before = round % int(changes);
        int reported = 0;
        while (reported<before&& ::read(pipe[0], &reported, sizeof reported)> 0) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: " << status;
        reported = std::max(reported, LastReported(pipe[0]));
        ::close(pipe[0]);

        ASSERT_TRUE(session::Start().done);
        const std::vector<fs::path> found = session::RecoverableWork();
        if (found.empty()) {
            // Killed before its first change was done: there is nothing to restore.
            EXPECT_LE(reported, 1) << "round " << round;
        } else {
            ASSERT_EQ(found.size(), 1u);
            const Outcome restored = session::Recover(found.front());
            EXPECT_TRUE(restored.done) << "round " << round << ": " << restored.message;
            // The change being made when the kill came may have reached the journal already.
            const Look now = Now();
            const bool asReported = now == looks[size_t(reported)];
            const bool oneFurther =
                size_t(reported) + 1 < looks.size() && now == looks[size_t(reported) + 1];
            EXPECT_TRUE(asReported || oneFurther)
                << "round " << round << ", last reported change " << reported << "\n"
                << testing::PrintToString(now);
            EXPECT_FALSE(fs::exists(found.front()));
        }
        session::End();
        EXPECT_TRUE(session::RecoverableWork().empty());
    }
}

// A restore that cannot be done whole is not done at all, and the work stays to be offered again.
TEST_F(Recovery, AWorkThatCannotBeRestoredWholeIsLeftAsItWas) {
    const std::vector<Look> looks = Expected();
    constexpr size_t kChanges = 8; // both files open, a render of the first, the second current
    ::waitpid(StartChild(-1, kChanges), nullptr, 0);
    const fs::path moved = folder / "moved.avi";
    fs::rename(folder / "b.avi", moved);

    ASSERT_TRUE(session::Start().done);
    const std::vector<fs::path> found = session::RecoverableWork();
    ASSERT_EQ(found.size(), 1u);
    const auto filesIn = [](const fs::path& dir) {
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<fs::path> left = filesIn(found.front());
    const Outcome failed = session::Recover(found.front());
    EXPECT_FALSE(failed.done);
    EXPECT_EQ(failed.message, "前回の作業を復元できませんでした");
    EXPECT_EQ(workspace.slotCount, 0);
    EXPECT_EQ(AVIStreamLength(clipboardStream), 0);
    EXPECT_EQ(filesIn(found.front()), left);
    const std::vector<fs::path> own = filesIn(fs::path(workspace.tempDir));
    EXPECT_EQ(std::count_if(own.begin(), own.end(),
                            [](const fs::path& name) { return name.extension() == ".avi"; }),
              0)
        << "links made for the failed restore stay behind";
    session::End();

    fs::rename(moved, folder / "b.avi");
    ASSERT_TRUE(session::Start().done);
    EXPECT_EQ(Restored(), looks[kChanges]);
    session::End();
}

TEST_F(Recovery, ARunningInstanceKeepsItsFilesAndAGoneOneIsOfferedThenCleaned) {
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = StartChild(pipe[1]);
    ::close(pipe[1]);
    const size_t changes = Script(folder).size();
    int value = 0;
    for (size_t i = 0; i < changes; ++i)
        ASSERT_EQ(::read(pipe[0], &value, sizeof value), ssize_t(sizeof value));
    ::close(pipe[0]);
    const auto childFiles = [&] {
        size_t files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(folder / "temp"))
            files += entry.is_regular_file();
        return files;
    };
    const size_t before = childFiles();

    ASSERT_TRUE(session::Start().done);
    EXPECT_TRUE(session::RecoverableWork().empty()) << "a running instance's work is its own";
    session::End();
    EXPECT_EQ(childFiles(), before);

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(session::Start().done);
    const std::vector<fs::path> found = session::RecoverableWork();
    ASSERT_EQ(found.size(), 1u);
    session::DiscardWork(found.front());
    EXPECT_FALSE(fs::exists(found.front()));
    session::End();
    EXPECT_EQ(childFiles(), 0u);
}

} // namespace
