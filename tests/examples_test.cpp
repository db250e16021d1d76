// The kit's two example hosts, built from their sources in this tree and run as a user runs them:
// against the virtual camera, and against the system's WIA service, which has no camera.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "host.h"

namespace {

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST(CaptureExample, ListsTheVirtualCameraAndSavesAPictureAsJpeg) {
    DeleteFileA("capture-c-picture.jpg");
    const fotextest::ProgramRun run = fotextest::RunProgram("capture.exe --virtual");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_TRUE(HasLine(run.out, "device 0")) << run.out;
    EXPECT_TRUE(HasLine(run.out, "  name: Fotex Virtual Camera")) << run.out;
    EXPECT_TRUE(HasLine(run.out, "saved capture-c-picture.jpg")) << run.out;
    std::ifstream picture("capture-c-picture.jpg", std::ios::binary);
    char magic[2] = {};
    picture.read(magic, 2);
    EXPECT_EQ('\xFF', magic[0]);
    EXPECT_EQ('\xD8', magic[1]);
}

TEST(SettingsExample, ShowsEverySettingByNameAndChangesFlashModeAndArtist) {
    const fotextest::ProgramRun run = fotextest::RunProgram("settings.exe --virtual");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ("", run.err);
    const char* lines[] = {"F Number = f/2.8  [f/2.8, f/4, f/5.6, f/8, f/11, f/16]",
                           "Exposure Time = 1/125 s  [1/1000 s, 1/500 s, 1/250 s, 1/125 s, 1/80 s, 1/40 s, 1/20 s, 1/10 s, 1/5 s]",
                           "Battery Status = 80  [read only; 0 to 100, step 1]",
                           "Timer Mode = 0  [bits of 0x3]",
                           "Copyright Info = \"(c) Fotex\"",
                           "Flash Mode: Auto -> Fill",
                           "Artist: \"Fotex\" -> \"Ann Smith\""};
    for (size_t i = 0; i < sizeof lines / sizeof lines[0]; ++i)
        EXPECT_TRUE(HasLine(run.out, lines[i])) << "line " << i << ": " << lines[i] << "\n" << run.out;
}

TEST(Examples, ExitWithOneErrorLineWhenTheServiceHasNoCamera) {
    struct Case {
        const char* command;
        const char* error;
    };
    const Case cases[] = {
        {"capture.exe", "capture: no camera found\n"},
        {"settings.exe", "settings: no camera to open\n"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const fotextest::ProgramRun run = fotextest::RunProgram(cases[i].command);
        EXPECT_EQ(1u, run.exit) << "case " << i << ": " << cases[i].command;
        EXPECT_EQ(cases[i].error, run.err) << "case " << i << ": " << cases[i].command;
    }
}

}  // namespace
