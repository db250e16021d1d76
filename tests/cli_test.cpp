// The fotex host run as a user runs it, against the virtual camera: its output, errors and exit.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "host.h"

namespace {

using Outcome = fotextest::ProgramRun;

// fotex.exe beside this program, against the virtual camera.
Outcome Fotex(const std::string& args) { return fotextest::RunProgram("fotex.exe --virtual " + args); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(SettingsCommand, SetsAndReadsBackAnIntegerAndAText) {
    const Outcome run = Fotex("--set-config flashmode=3 --get-config flashmode --set-config artist=abc --get-config artist");
    EXPECT_EQ(0u, run.exit);
    EXPECT_EQ("flashmode set to 3\nflashmode = 3\nartist set to abc\nartist = abc\n", run.out);
    EXPECT_EQ("", run.err);
}

TEST(SettingsCommand, RefusesWithOneLineOnStandardError) {
    struct Case {
        std::string args;
        std::string error;
    };
    const Case cases[] = {
        {"--get-config nosuch", "fotex: unknown setting 'nosuch' (see --list-config)\n"},
        {"--set-config nosuch=1", "fotex: unknown setting 'nosuch' (see --list-config)\n"},
        {"--set-config batterystatus=5", "fotex: batterystatus is read only\n"},
        {"--set-config flashmode=abc", "fotex: 'abc' is not a number (flashmode takes a 32-bit integer)\n"},
        {"--set-config fnumber=4294967296", "fotex: '4294967296' is not a number (fnumber takes a 32-bit integer)\n"},
        {"--set-config flashmode=", "fotex: '' is not a number (flashmode takes a 32-bit integer)\n"},
        {"--set-config flashmode=99", "fotex: the camera refused flashmode=99 (status -1)\n"},
        {"--set-config flashmode", "fotex: --set-config needs NAME=VALUE, not 'flashmode'\n"},
        {"--set-config copyright=" + std::string(128, 'c'), "fotex: text for copyright is too long (at most 127 characters)\n"},
        {"--device 1 --get-config panposition",
         "fotex: panposition cannot be read: the camera lacks it or refused the read (status -1)\n"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Outcome run = Fotex(cases[i].args);
        EXPECT_NE(0u, run.exit) << "case " << i << ": " << cases[i].args;
        EXPECT_EQ(cases[i].error, run.err) << "case " << i << ": " << cases[i].args;
        EXPECT_EQ("", run.out) << "case " << i << ": " << cases[i].args;
    }
}

TEST(SettingsCommand, ListsEverySettingWithItsValueOrWhyNot) {
    const Outcome run = Fotex("--device 1 --list-config");
    EXPECT_EQ(0u, run.exit);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(37u, lines.size()) << run.out;
    EXPECT_EQ("exposuremode = 2", lines[0]);
    EXPECT_EQ("panposition: cannot be read: the camera lacks it or refused the read (status -1)", lines[6]);
    EXPECT_EQ("batterystatus = 80 (read only)", lines[11]);
    EXPECT_EQ("focuslength: cannot be read: the camera gave a value that is not an integer (read only)", lines[31]);
    EXPECT_EQ("copyright = (c) Fotex", lines[36]);
}

TEST(SettingsCommand, SummaryEndsWithTheSettings) {
    const Outcome run = Fotex("--summary");
    EXPECT_EQ(0u, run.exit);
    EXPECT_NE(std::string::npos, run.out.find("Settings:\n  exposuremode = 2\n")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("  artist = Fotex\n")) << run.out;
}

}  // namespace
