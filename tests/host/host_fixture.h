// A host started in a fresh working folder with temp/ and empty settings, AVI files made in code,
// and file dialogs and message boxes answered through the scripting seam.
#pragma once

#include "clipboard_checker.h"
#include "host.h"
#include "main_window.h"
#include "panels.h"

#include "../common/tiny_avi.h"
#include "dialog.h"
#include "ui/ui_script.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

class HostFixture : public testing::Test {
  protected:
    void SetUp() override {
        previous = std::filesystem::current_path();
        folder =
            std::filesystem::temp_directory_path() / ("mivra-host-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "temp");
        std::filesystem::current_path(folder);
        // The user's own settings (the recent files) stay untouched: each test starts empty.
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString((folder / "settings").string()));
        QSettings("mivra", "mivra").clear();
        ui_script::Begin();
        // A destroyed main window asks the application to quit, which would make every later
        // modal loop return at once; running the application's loop to its end clears that.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    void TearDown() override {
        DestroyMainWindow();
        UseAppFolders({});
        ui_script::End();
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
    }

    // Where every instance keeps its folder.
    std::filesystem::path tempBase() const { return folder / "temp"; }
    // The running instance's folder of temporary files; tempBase() while none runs.
    std::filesystem::path temp() const {
        if (!workspace.tempDir[0]) return tempBase();
        return std::filesystem::path(workspace.tempDir).parent_path();
    }

    static void Touch(const std::filesystem::path& path) { std::ofstream(path) << "x"; }

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

    // Closes the host so that the next case of a test starts it afresh. The closed main window
    // asked the application to quit, which would end the next modal loop at once; running the
    // application's loop to its end uses that request up.
    static void CloseHost() {
        DestroyMainWindow();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }

    // A file's bytes; empty when there is no such file.
    static std::string FileBytes(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // The first byte of each frame of a stream of the workspace's format.
    static std::vector<int> FirstBytes(PAVISTREAM stream) {
        std::vector<int> bytes;
        std::vector<uint8_t> frame(workspace.frameFormat->biSizeImage);
        for (LONG n = 0; n < AVIStreamLength(stream); ++n) {
            frame[0] = 0;
            AVIStreamRead(stream, n, 1, frame.data(), LONG(frame.size()), nullptr, nullptr);
            bytes.push_back(frame[0]);
        }
        return bytes;
    }

    static QSlider* Slider(int id) { return static_cast<QSlider*>(EditorPanel()->control(id)); }

    // A user's drag of a slider to a position.
    static void Drag(int id, int position) { Slider(id)->setValue(position); }

    // The enabled key-table actions of the main window, as key text -> command id.
    static std::map<std::string, int> LiveKeys() {
        std::map<std::string, int> keys;
        for (QAction* action : MainWindow()->actions())
            if (action->isEnabled() && !action->shortcut().isEmpty())
                keys[action->shortcut().toString().toStdString()] = action->data().toInt();
        return keys;
    }

    std::filesystem::path previous;
    std::filesystem::path folder;
};

// Writes an AVI through the platform's writer whose frames are colour gradients that move with
// the frame number, for pictures a person can look at.
inline bool WriteGradientAvi(const std::string& path, int width, int height, int frames,
                             int bitCount) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE, nullptr))
        return false;
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    info.rcFrame = {0, 0, width, height};
    PAVISTREAM stream = nullptr;
    const bool created = AVIFileCreateStreamA(file, &stream, &info) == AVIERR_OK;
    AVIFileRelease(file);
    if (!created) return false;
    const int row = (width * bitCount / 8 + 3) & ~3;
    BITMAPINFOHEADER format{40, width, height, 1, WORD(bitCount), BI_RGB, DWORD(row * height),
                            0,  0,     0,      0};
    std::vector<uint8_t> pixels(format.biSizeImage);
    bool ok = true;
    for (int n = 0; n < frames && ok; ++n) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int r = (x * 255 / width + n * 8) & 255, g = y * 255 / height, b = 255 - r;
                uint8_t* p = &pixels[y * row + x * bitCount / 8];
                if (bitCount == 24) {
                    p[0] = uint8_t(b), p[1] = uint8_t(g), p[2] = uint8_t(r);
                } else {
                    const int word = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                    p[0] = uint8_t(word), p[1] = uint8_t(word >> 8);
                }
            }
        ok = AVIStreamSetFormat(stream, n, &format, sizeof format) == AVIERR_OK &&
             AVIStreamWrite(stream, n, 1, pixels.data(), LONG(pixels.size()), AVIIF_KEYFRAME,
                            nullptr, nullptr) == AVIERR_OK;
    }
    AVIStreamRelease(stream);
    return ok;
}
