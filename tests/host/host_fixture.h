// A host started in a fresh working folder with temp/, AVI files made in code, and file dialogs
// and message boxes answered through the scripting seam.
#pragma once

#include "host.h"
#include "panels.h"

#include "../common/tiny_avi.h"
#include "dialog.h"
#include "ui/ui_script.h"

#include <QMainWindow>
#include <QSlider>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <unistd.h>

class HostFixture : public testing::Test {
protected:
    void SetUp() override {
        previous = std::filesystem::current_path();
        folder = std::filesystem::temp_directory_path() /
                 ("mivra-host-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "temp");
        std::filesystem::current_path(folder);
        ui_script::Begin();
    }
    void TearDown() override {
        DestroyMainWindow();
        ui_script::End();
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
    }

    std::filesystem::path temp() const { return folder / "temp"; }

    // Writes an uncompressed AVI below the working folder; every byte of frame i is
    // tiny_avi::FrameByte(i).
    std::string MakeAvi(const std::string& name, int width, int height, int frames,
                        int bitCount = 24) {
        const std::string path = (folder / name).string();
        tiny_avi::Video video;
        video.width = width;
        video.height = height;
        video.frames = frames;
        video.bitCount = WORD(bitCount);
        EXPECT_TRUE(tiny_avi::WriteVideo(path, video));
        return path;
    }

    // File Open with the dialog answered by path.
    void Open(const std::string& path) {
        ui_script::QueueFileAnswer(path, 1);
        DispatchCommand(kCmdFileOpen);
    }

    static QSlider* Slider(int id) { return static_cast<QSlider*>(EditorPanel()->control(id)); }

    // A user's drag of a slider to a position.
    static void Drag(int id, int position) { Slider(id)->setValue(position); }

    std::filesystem::path previous;
    std::filesystem::path folder;
};
