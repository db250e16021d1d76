// The fotex host run as a user runs it, against the virtual camera: its output, errors and exit.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "get_config_before.h"
#include "host.h"

namespace {

using Outcome = fotextest::ProgramRun;

// fotex.exe beside this program; `args` is UTF-8.
Outcome Launch(const std::string& args) { return fotextest::RunProgram("fotex.exe " + args); }

// The same with the virtual camera registered.
Outcome Fotex(const std::string& args) { return Launch("--virtual " + args); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// Wide, so that names the code page cannot write go too.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName, path = folder + L"\\" + name;
            if (name == L"." || name == L"..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
            else DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

void RemoveTree(const std::string& folder) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, folder.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, folder.c_str(), -1, &wide[0], n);
    wide.pop_back();
    RemoveTree(wide);
}

// A fresh empty folder for one test's files, in the test's working directory.
std::string Scratch(const std::string& name) {
    const std::string folder = "cli_files\\" + name;
    RemoveTree(folder);
    CreateDirectoryA("cli_files", nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream s;
    s << file.rdbuf();
    return s.str();
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool IsJpeg(const std::string& path) { return Contents(path).compare(0, 2, "\xFF\xD8") == 0; }

bool Exists(const std::string& utf8) {
    wchar_t path[MAX_PATH];
    return MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, path, MAX_PATH) > 0 &&
           GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// A command line and the one text it must print (on stdout or stderr, as the test says).
struct Case {
    const char* args;
    const char* text;
};

// What fotex's own parser and tables decide alone (spellings of options, refusals with no number
// near a word's width, no call into Fotex.dll, no code page) is the same source on both machines:
// checked in full on x86_64 only, as in the emulated i686 machine each process start takes seconds.
constexpr bool kEverySpelling = sizeof(void*) == 8;

// Runs fotex with the virtual camera and checks the whole outcome.
void ExpectRun(const std::string& args, DWORD exit, const std::string& out, const std::string& err) {
    const Outcome run = Fotex(args);
    EXPECT_EQ(exit, run.exit) << args;
    EXPECT_EQ(out, run.out) << args;
    EXPECT_EQ(err, run.err) << args;
}

// The lines fotex prints on stdout for a command line that must succeed.
std::vector<std::string> OutputLines(const std::string& args) {
    const Outcome run = Fotex(args);
    EXPECT_EQ(0u, run.exit) << args << "\n" << run.err;
    return Lines(run.out);
}

// ---- The command line ----------------------------------------------------------------------

TEST(CommandLine, EveryWayOfAskingForHelpPrintsTheWholeUsage) {
    const Outcome help = Launch("--help");
    EXPECT_EQ(0u, help.exit);
    EXPECT_TRUE(Contains(help.out, "--set-config") && Contains(help.out, "--capture-image-and-download")) << help.out;
    EXPECT_TRUE(Contains(help.out, "Exit status: 0 everything asked was done; 1 something failed")) << help.out;
    // The options that decide over existing files say what they never do, and %f what it is made.
    for (const char* part : {"never one this run saved, under any of its names", "same picture (its size and time)",
                             "one this run saved, is refused, not left",
                             "(files on the camera), made safe:", "a dot just before %C goes too"})
        EXPECT_TRUE(Contains(help.out, part)) << part;
    if (!kEverySpelling) return;
    for (const char* args : {"", "-h", "--usage", "--virtual --help --auto-detect"}) {
        const Outcome run = Launch(args);
        EXPECT_EQ(0u, run.exit) << args;
        EXPECT_EQ(help.out, run.out) << args;
        EXPECT_EQ("", run.err) << args;
    }
}

TEST(CommandLine, MistakesExitTwoWithOneLineAndDoNothing) {
    struct Case {
        std::string args, error;
    };
    // What fotex's own parser and tables refuse alone (see kEverySpelling).
    const Case parsed[] = {
        {"--nosuch", "unknown option --nosuch (see --help)"},
        {"-x", "unknown option -x (see --help)"},
        {"auto-detect", "unexpected argument 'auto-detect' (options start with -- ; see --help)"},
        {"--auto-detect=1", "--auto-detect takes no value"},
        {"--get-config", "--get-config needs NAME"},
        {"--filename \"\" --capture-image-and-download", "--filename needs a name"},
        {"--filename a%q --capture-image-and-download", "--filename 'a%q': unknown field %q (see --help)"},
        {"--filename %f --capture-image-and-download", "--filename '%f': %f (the camera's file name) has no value here"},
        {"--filename %21n --capture-image-and-download", "--filename '%21n': a field is at most 20 characters wide"},
        {"--format xyz --capture-image-and-download", "unknown format 'xyz' (formats: bmp emf wmf jpg jpeg png gif tiff tif exif pcd fpix ico ciff pict jp2 jpx raw avi mpg, or a code of fotex.h)"},
        {"--dialog --filename x", "--filename x shapes none of the actions given (it is for --get-file, --get-thumbnail, --get-all-thumbnails, --capture-image-and-download, --get-all-files, --capture-tethered, --wait-event-and-download)"},
        {"--filename a --filename b", "--filename b shapes none of the actions given (it is for --get-file, --get-thumbnail, "
         "--get-all-thumbnails, --capture-image-and-download, --get-all-files, --capture-tethered, --wait-event-and-download)"},
        {"--summary --get-config nosuch", "unknown setting 'nosuch' (see --list-config)"},
        {"--set-config nosuch=1", "unknown setting 'nosuch' (see --list-config)"},
        {"--set-config flashmode", "--set-config needs NAME=VALUE, not 'flashmode'"},
        {"--set-config batterystatus=5", "batterystatus is read only"},
        {"--set-config exposurecomp=", "'' is not a decimal number (exposurecomp takes a whole number from -2147483648 to 2147483647)"},
        {"--wait-event=abc", "--wait-event takes a count (5), seconds (10s) or milliseconds (500ms), not 'abc'"},
        {"--wait-event=0", "--wait-event takes a count (5), seconds (10s) or milliseconds (500ms), not '0'"},
        {"--capture-tethered=5x", "--capture-tethered takes a count (5), seconds (10s) or milliseconds (500ms), not '5x'"},
        {"--virtual-shutter -1 --wait-event", "--virtual-shutter takes a number of presses, not '-1'"},
        {"--get-file x", "--get-file takes file numbers as --list-files shows them (3, or 1-3,7), not 'x'"},
        {"-p 0", "--get-file takes file numbers as --list-files shows them (3, or 1-3,7), not '0'"},
        {"-d 3-1", "--delete-file takes file numbers as --list-files shows them (3, or 1-3,7), not '3-1'"},
        {"-t 1,", "--get-thumbnail takes file numbers as --list-files shows them (3, or 1-3,7), not '1,'"},
        {"-P --filename a --prefix b", "--get-all-files takes --filename or --prefix, not both"},
        {"-P --prefix a --skip-existing",
         "--get-all-files --prefix takes neither --force-overwrite nor --skip-existing: each file gets a numbered name no "
         "file holds, and none is replaced"},
        {"--virtual-folder \"\" -L", "--virtual-folder needs a folder"},
        {"--virtual-item a%zz -L", "--virtual-item takes NAME or NAME:EXT with %XX for any byte, not 'a%zz'"},
        {"--virtual-item a:b% -L", "--virtual-item takes NAME or NAME:EXT with %XX for any byte, not 'a:b%'"},
    };
    // Numbers at the limits of a word, texts that go through Fotex.dll's names of values or its
    // text buffer, and the system code page: on every machine.
    std::vector<Case> cases = {
        {"--device 99999999999 --summary", "--device takes a device index as --auto-detect lists them (0, 1, ...), not '99999999999'"},
        {"--device -1 --summary", "--device takes a device index as --auto-detect lists them (0, 1, ...), not '-1'"},
        {"--filename %4294967297n --capture-image-and-download", "--filename '%4294967297n': a field is at most 20 characters wide"},
        {"--set-config flashmode=abc", "'abc' is neither a decimal number nor a value of flashmode (Auto, Off, Fill, Red-eye auto, Red-eye fill, External sync)"},
        {"--set-config exposurecomp=abc", "'abc' is not a decimal number (exposurecomp takes a whole number from -2147483648 to 2147483647)"},
        {"--set-config fnumber=0x230", "'0x230' is neither a decimal number nor a value of fnumber (f/2.8 and the like)"},
        {"--set-config exposurecomp=4294967296", "'4294967296' is not a decimal number (exposurecomp takes a whole number from -2147483648 to 2147483647)"},
        {"--set-config flashmode=1-2", "'1-2' is neither a decimal number nor a value of flashmode (Auto, Off, Fill, Red-eye auto, Red-eye fill, External sync)"},
        {"--set-config fnumber=f/x", "'f/x' is neither a decimal number nor a value of fnumber (f/2.8 and the like)"},
        {"--set-config copyright=" + std::string(128, 'c'), "text for copyright is too long (at most 127 characters)"},
        {"--set-config artist=\xD0\x96", "'\xD0\x96' cannot be sent: Fotex.dll takes text in the system code page (" +
                                              std::to_string(GetACP()) + "), which cannot write all of it"},
    };
    if (kEverySpelling) cases.insert(cases.end(), std::begin(parsed), std::end(parsed));
    const std::string never = Scratch("mistakes") + "\\never";
    for (size_t i = 0; i < cases.size(); ++i) {
        // A capture first: a command line with a mistake does none of it.
        const Outcome run = Fotex("--capture-image-and-download --filename " + never + " " + cases[i].args);
        EXPECT_EQ(2u, run.exit) << "case " << i << ": " << cases[i].args;
        EXPECT_EQ("fotex: " + cases[i].error + "\n", run.err) << "case " << i << ": " << cases[i].args;
        EXPECT_EQ("", run.out) << "case " << i << ": " << cases[i].args;
        EXPECT_FALSE(Exists(never + ".jpg")) << "case " << i;
    }
    const Outcome idle = Launch("--virtual -q");
    EXPECT_EQ(2u, idle.exit);
    EXPECT_EQ("fotex: nothing to do: give an action such as --auto-detect (see --help)\n", idle.err);
}

TEST(CommandLine, ValuesComeInEveryGphoto2Spelling) {
    const std::string folder = Scratch("spelling");
    const char* lines[] = {"--get-config flashmode", "--get-config=flashmode", "-q --get-config flashmode",
                           "--parsable --get-config flashmode"};
    const size_t count = kEverySpelling ? 4 : 1;
    for (size_t i = 0; i < count; ++i) {
        const Outcome run = Fotex(lines[i]);
        EXPECT_EQ(0u, run.exit) << lines[i];
        EXPECT_TRUE(Contains(run.out, "Current: Auto\n")) << lines[i] << "\n" << run.out;
    }
    const std::string spellings[] = {"-P --filename " + folder + "\\a\\%f", "-Pf/ --filename " + folder + "\\b\\%f",
                                     "-qPRf/DCIM --filename " + folder + "\\c\\%f",
                                     "--folder=/DCIM --get-all-files --filename=" + folder + "\\d\\%f"};
    const char* subs[] = {"a", "b", "c", "d"};
    for (size_t i = 0; i < count; ++i) {
        const Outcome run = Fotex(spellings[i]);
        EXPECT_EQ(0u, run.exit) << spellings[i] << "\n" << run.err;
        EXPECT_TRUE(Exists(folder + "\\" + subs[i] + "\\IMG_0001.jpg")) << subs[i];
    }
}

// ---- What goes where ----------------------------------------------------------------------

TEST(Streams, TheLibrarysTraceGoesToStandardErrorBeforeTheToolsOwnLine) {
    // Without --virtual the tool meets Wine's own service, which fails the enumeration.
    const Outcome run = Launch("--auto-detect");
    EXPECT_EQ(1u, run.exit);
    EXPECT_EQ("", run.out);
    EXPECT_EQ("Error calling IEnumWIA_DEV_INFO::Reset(): HRESULT: 0x80004001\n"
              "fotex: cannot list the devices: the image-acquisition service failed (status -1)\n",
              run.err);
}

TEST(Streams, QuietLeavesResultsOnly) {
    const std::string folder = Scratch("quiet");
    const Outcome run = Fotex("-q --capture-image-and-download --filename " + folder + "\\q --get-config flashmode");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ("Label: Flash Mode\nReadonly: 0\nType: MENU\nCurrent: Auto\nChoice: 0 Auto\nChoice: 1 Off\nChoice: 2 Fill\n"
              "Choice: 3 Red-eye auto\nChoice: 4 Red-eye fill\nChoice: 5 External sync\nEND\n",
              run.out);
    EXPECT_TRUE(IsJpeg(folder + "\\q.jpg"));
}

TEST(Streams, ParsableRecordsAreTabSeparated) {
    struct Case {
        const char* args;
        std::vector<std::string> lines;  // the first lines
    };
    const Case cases[] = {
        {"--auto-detect",
         {"0\tFotex Virtual Camera\tFotex virtual digital camera\t{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000",
          "1\tFotex Pocket Camera\tFotex virtual camera without pictures\t{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0001"}},
        {"--storage-info", {"taken\t3", "remaining\t497"}},
        {"--device 1 --list-config", {"exposuremode\trw\tvalue\t2", "exposurecomp\trw\tvalue\t0"}},
    };
    for (const Case& c : cases) {
        const Outcome run = Fotex(std::string("--parsable ") + c.args);
        EXPECT_EQ(0u, run.exit) << c.args;
        const std::vector<std::string> lines = Lines(run.out);
        ASSERT_GE(lines.size(), c.lines.size()) << c.args;
        for (size_t i = 0; i < c.lines.size(); ++i) EXPECT_EQ(c.lines[i], lines[i]) << c.args;
        EXPECT_EQ("", run.err) << c.args;
    }
    const std::vector<std::string> config = OutputLines("--parsable --device 1 --list-config");
    ASSERT_EQ(37u, config.size());
    EXPECT_EQ("panposition\trw\terror\tthe camera lacks it or refused the read (status -1)", config[6]);
    EXPECT_EQ("batterystatus\tro\tvalue\t80", config[11]);
}

// ---- Devices ------------------------------------------------------------------------------

TEST(Devices, AutoDetectColumnsFitTheLongestText) {
    const std::vector<std::string> lines = OutputLines("--auto-detect");
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("Index Name                  Description                            Identifier", lines[0]);
    EXPECT_EQ("1     Fotex Pocket Camera   Fotex virtual camera without pictures  {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0001",
              lines[3]);
}

TEST(Devices, EachReportAnswersInItsOwnLayout) {
    // The version names the machine the DLL was built for, which differs between the two builds.
    const std::string version = sizeof(void*) == 8 ? "Fotex 1.3 (file version 1.3.0.0, x64)\n"
                                                   : "Fotex 1.3 (file version 1.3.0.0, x86)\n";
    const Case cases[] = {
        {"--version", version.c_str()},
        {"-v", version.c_str()},
        {"--storage-info", "Storage:\n  Pictures taken:      3\n  Pictures remaining:  497\n"},
        {"--abilities",
         "Abilities for camera             : Fotex Virtual Camera\n"
         "Capture choices                  : Image\n"
         "Delete all files                 : yes\n"
         "Other device commands            : 1 (not offered by fotex)\n"},
    };
    for (const Case& c : cases) ExpectRun(c.args, 0, c.text, "");
}

TEST(Devices, AMissingDeviceIsNamedWithTheCountListed) {
    ExpectRun("--device 5 --summary", 1, "", "fotex: no device 5 (2 listed, from 0)\n");
}

TEST(Devices, DeleteAllFilesLeavesNothingToDownload) {
    const std::string folder = Scratch("deleteall");
    ExpectRun("-D -n -P --filename " + folder + "\\%f", 0,
              "Deleted all files on the camera\nNumber of files in folder '/': 0\n0 of 0 files saved, 0 skipped, 0 failed\n", "");
}

// ---- Settings -----------------------------------------------------------------------------

TEST(SettingsCommand, SetsAndReadsBackAnIntegerAndATextInGphoto2Layout) {
    const Outcome run = Fotex("--set-config exposurecomp=3 --get-config exposurecomp --set-config artist=abc --get-config artist");
    EXPECT_EQ(0u, run.exit);
    EXPECT_EQ("exposurecomp set to 3\nLabel: Exposure Compensation\nReadonly: 0\nType: TEXT\nCurrent: 3\nEND\n"
              "artist set to abc\nLabel: Artist\nReadonly: 0\nType: TEXT\nCurrent: abc\nEND\n",
              run.out);
    EXPECT_EQ("", run.err);
    EXPECT_TRUE(Contains(Fotex("--get-config batterystatus").out, "Label: Battery Status\nReadonly: 1\n"));
}

TEST(SettingsCommand, WholeNumbersAreDecimalWithBlanksIgnoredOnBothSides) {
    const struct {
        const char* value;
        const char* read;
    } cases[] = {{"010", "10"}, {"\" 5\"", "5"}, {"+7", "7"}, {"\"5 \"", "5"}, {"-3", "-3"}, {"\"\t12\t\"", "12"}};
    // One run sets and reads back each in turn, each value unlike the one before: a process start
    // is seconds in the emulated machine.
    std::string args, out;
    for (const auto& c : cases) {
        args += std::string(" --set-config exposurecomp=") + c.value + " --get-config exposurecomp";
        out += std::string("exposurecomp set to ") + c.read + "\nLabel: Exposure Compensation\nReadonly: 0\nType: TEXT\nCurrent: " +
               c.read + "\nEND\n";
    }
    ExpectRun(args, 0, out, "");
}

TEST(SettingsCommand, TextIsUtf8InTheEchoAndTheRead) {
    const std::string name = "J\xC3\xB6rg M\xC3\xBCller";
    const Outcome run = Fotex("--set-config \"artist=" + name + "\" --get-config artist");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ("artist set to " + name + "\nLabel: Artist\nReadonly: 0\nType: TEXT\nCurrent: " + name + "\nEND\n", run.out);
}

TEST(SettingsCommand, ATextThatFillsTheLibrarysBufferIsNoted) {
    const Outcome run = Fotex("-q --set-config copyright=" + std::string(70, 'c') + " --get-config copyright");
    EXPECT_EQ(0u, run.exit);
    EXPECT_TRUE(Contains(run.out, "Current: " + std::string(64, 'c') + "\n")) << run.out;
    EXPECT_EQ("", run.err);  // quiet
    const Outcome noted = Fotex("--set-config copyright=" + std::string(70, 'c') + " --get-config copyright");
    EXPECT_EQ("fotex: note: copyright fills the library's buffer (64 characters): the camera's text may be longer\n", noted.err);
}

TEST(SettingsCommand, TheCameraRefusingExitsOne) {
    const Case cases[] = {
        {"--device 1 --set-config panposition=5", "fotex: the camera refused panposition=5 (status -1)\n"},
        {"--device 1 --get-config panposition",
         "fotex: panposition cannot be read: the camera lacks it or refused the read (status -1)\n"},
    };
    for (const Case& c : cases) ExpectRun(c.args, 1, "", c.text);
}

TEST(SettingsCommand, ListsEverySettingWithItsValueOrWhyNot) {
    const std::vector<std::string> lines = OutputLines("--device 1 --list-config");
    ASSERT_EQ(37u, lines.size());
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

// ---- Pictures -----------------------------------------------------------------------------

TEST(Capture, SavesUnderTheFilenameWithTheExtensionAddedAndMakesItsFolder) {
    const std::string folder = Scratch("capture");
    struct Case {
        std::string args, file;
    };
    const Case cases[] = {
        {"--filename " + folder + "\\new\\shot", folder + "\\new\\shot.jpg"},
        {"--filename " + folder + "\\b.jpg", folder + "\\b.jpg"},
        {"--format png --filename " + folder + "\\c", folder + "\\c.png"},
        {"--filename " + folder + "\\%n-%C-%%", folder + "\\1-jpg-%.jpg"},
        {"--filename " + folder + "\\J\xC3\xB6rg", folder + "\\J\xC3\xB6rg.jpg"},
    };
    for (const Case& c : cases) {
        const Outcome run = Fotex("--capture-image-and-download " + c.args);
        EXPECT_EQ(0u, run.exit) << c.args << "\n" << run.err;
        EXPECT_EQ("Saving file as " + c.file + "\n", run.out) << c.args;
        EXPECT_TRUE(Exists(c.file)) << c.file;
    }
    EXPECT_TRUE(IsJpeg(folder + "\\new\\shot.jpg"));
}

TEST(Capture, TimeFieldsAreTheSavingTime) {
    const std::string folder = Scratch("time");
    SYSTEMTIME now;
    GetLocalTime(&now);
    const Outcome run = Fotex("-q --capture-image-and-download --filename " + folder + "\\%Y-%m-%d_%H%M%S");
    EXPECT_EQ(0u, run.exit) << run.err;
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA((folder + "\\*.jpg").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    FindClose(find);
    const std::string name = data.cFileName;
    ASSERT_EQ(std::string("YYYY-MM-DD_HHMMSS.jpg").size(), name.size()) << name;
    char date[16];
    snprintf(date, sizeof date, "%04d-%02d-%02d_", now.wYear, now.wMonth, now.wDay);
    EXPECT_EQ(date, name.substr(0, 11));
}

TEST(Capture, SeveralCapturesEachGetTheirOwnFilename) {
    const std::string folder = Scratch("several");
    struct Case {
        std::string args;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"--filename " + folder + "\\a --capture-image-and-download --filename " + folder + "\\b --capture-image-and-download",
         {folder + "\\a.jpg", folder + "\\b.jpg"}},
        {"--capture-image-and-download --filename " + folder + "\\after", {folder + "\\after.jpg"}},
        {"--capture-image-and-download --filename " + folder + "\\c --capture-image-and-download --filename " + folder + "\\d",
         {folder + "\\c.jpg", folder + "\\d.jpg"}},
        {"--filename " + folder + "\\n%n --capture-image-and-download --capture-image-and-download",
         {folder + "\\n1.jpg", folder + "\\n2.jpg"}},
    };
    for (const Case& c : cases) {
        const Outcome run = Fotex(c.args);
        EXPECT_EQ(0u, run.exit) << c.args << "\n" << run.err;
        std::string saved;
        for (const std::string& f : c.files) {
            saved += "Saving file as " + f + "\n";
            EXPECT_TRUE(IsJpeg(f)) << f;
        }
        EXPECT_EQ(saved, run.out) << c.args;
    }
}

TEST(Capture, NeverReplacesAFileUnlessAskedAndChecksBeforeTakingThePicture) {
    const std::string folder = Scratch("existing");
    const std::string file = folder + "\\old.jpg";
    struct Case {
        const char* rule;
        DWORD exit;
        const char* out;
        bool replaced;
    };
    const Case cases[] = {
        {"", 1, "", false},
        {"--skip-existing", 0, "Skipping existing file ", false},
        {"--force-overwrite", 0, "Saving file as ", true},
    };
    for (const Case& c : cases) {
        Write(file, "mine");
        const Outcome run = Fotex(std::string(c.rule) + " --capture-image-and-download --filename " + file + " --storage-info");
        EXPECT_EQ(c.exit, run.exit) << c.rule;
        EXPECT_EQ(c.replaced, IsJpeg(file)) << c.rule;
        EXPECT_EQ(!c.replaced, Contents(file) == "mine") << c.rule;
        if (c.exit == 0) {
            EXPECT_TRUE(Contains(run.out, c.out + file + "\n")) << run.out;
            // The storage counter tells whether a picture was taken.
            EXPECT_TRUE(Contains(run.out, c.replaced ? "Pictures taken:      4" : "Pictures taken:      3")) << run.out;
        } else {
            EXPECT_EQ("fotex: " + file + " exists (--force-overwrite replaces it, --skip-existing leaves it); no picture taken\n",
                      run.err);
        }
    }
    // A folder in the way is never replaced: before, the library's failure was reported as saved.
    CreateDirectoryA((folder + "\\X.jpg").c_str(), nullptr);
    for (const char* rule : {"", "--force-overwrite"})
        ExpectRun(std::string(rule) + " --capture-image-and-download --filename " + folder + "\\X", 1, "",
                  "fotex: " + folder + "\\X.jpg is a folder; no picture taken\n");
}

TEST(Capture, NamesLongerThanTheOldTransferLimitAreSaved) {
    const std::string folder = Scratch("long");
    for (size_t length : {127u, 128u, 220u}) {
        const std::string name = folder + "\\" + std::string(length - folder.size() - 5, 'n');  // with ".jpg"
        const Outcome run = Fotex("-q --capture-image-and-download --filename " + name);
        EXPECT_EQ(0u, run.exit) << length << ": " << run.err;
        EXPECT_TRUE(IsJpeg(name + ".jpg")) << length;
    }
}

TEST(Capture, NoKeepDeletesEachSavedPictureFromTheCamera) {
    const std::string folder = Scratch("nokeep");
    const struct {
        const char* keep;
        const char* camera;
        const char* files;
    } cases[] = {{"--keep", "a", "5 files saved"}, {"--no-keep", "b", "4 files saved"}};
    for (const auto& c : cases) {
        const Outcome run = Fotex(std::string(c.keep) + " --capture-image-and-download --filename " + folder + "\\" + c.camera +
                                  " --keep --filename " + folder + "\\" + c.camera + "\\%f -P");
        EXPECT_EQ(0u, run.exit) << c.keep << run.err;
        EXPECT_TRUE(Contains(run.out, c.files)) << c.keep << "\n" << run.out;
    }
}

TEST(Capture, CaptureImageLeavesThePictureOnTheCamera) {
    const Outcome run = Fotex("--capture-image --storage-info");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ("New picture taken; it stays on the camera\nStorage:\n  Pictures taken:      4\n  Pictures remaining:  496\n", run.out);
}

TEST(Download, GetAllFilesMakesNestedFoldersAndNamesEachFile) {
    const std::string folder = Scratch("all") + "\\x\\y";
    const Outcome run = Fotex("--get-all-files --prefix " + folder + "\\img");
    EXPECT_EQ(0u, run.exit) << run.err;
    // Images and videos are numbered apart, the video saved in its own format.
    const std::string expected[] = {"img       0.jpg", "img       1.jpg", "img       2.jpg", "img       0.avi"};
    std::string out;
    for (const std::string& name : expected) {
        out += "Saving file as " + folder + "\\" + name + "\n";
        EXPECT_TRUE(Exists(folder + "\\" + name)) << name;
    }
    EXPECT_EQ(out + "4 of 4 files saved, 0 skipped, 0 failed\n", run.out);
    EXPECT_EQ("RIFF", Contents(folder + "\\img       0.avi").substr(0, 4));
    // --no-keep deletes each item once it is saved.
    const Outcome moved = Fotex("--no-keep --prefix " + folder + "\\moved\\img -f /DCIM -P -n");
    EXPECT_EQ(0u, moved.exit) << moved.err;
    EXPECT_TRUE(Contains(moved.out, "Saving file as " + folder + "\\moved\\img       0.avi\nDeleting MOV_0001.avi from the camera\n"
                                    "4 of 4 files saved, 0 skipped, 0 failed\nNumber of files in folder '/DCIM': 0\n"))
        << moved.out;
}

TEST(Download, GetAllFilesFailsWhenItCannotSaveEverything) {
    const std::string folder = Scratch("allfail");
    Write(folder + "\\file", "x");
    const Outcome file = Fotex("--get-all-files --prefix " + folder + "\\file\\img");
    EXPECT_EQ(1u, file.exit);
    EXPECT_EQ("0 of 4 files saved, 0 skipped, 4 failed\n", file.out);
    EXPECT_TRUE(Contains(file.err, folder + "\\file is a file, not a folder\n")) << file.err;
    // Each file goes through a transfer of its own: a name longer than the old whole-device
    // transfer took is saved, and a format the video refuses fails it alone, named.
    const std::string prefix(127 - folder.size() - 1 - 8 - 4 + 1, 'p');
    const Outcome run = Fotex("--get-all-files --format png --prefix " + folder + "\\" + prefix);
    EXPECT_EQ(1u, run.exit);
    std::string out;
    for (const char* number : {"0", "1", "2"}) {
        const std::string name = folder + "\\" + prefix + "       " + number + ".png";
        out += "Saving file as " + name + "\n";
        EXPECT_EQ("\x89PNG", Contents(name).substr(0, 4)) << name;
    }
    EXPECT_EQ(out + "3 of 4 files saved, 0 skipped, 1 failed\n", run.out);
    // The video's number is the first image's: its name steps aside.
    const std::string named = "fotex: could not save #4 MOV_0001.avi as " + folder + "\\" + prefix + "       0~1.png: ";
    EXPECT_EQ(named, run.err.substr(0, named.size())) << run.err;
    EXPECT_TRUE(Contains(run.err, "(0x80070032)\n")) << run.err;
    EXPECT_FALSE(Exists(folder + "\\" + prefix + "       0~1.png"));
    // A file in the way of the second picture: it steps aside, the file stays, the rest follow.
    const std::string other = folder + "\\b";
    CreateDirectoryA(other.c_str(), nullptr);
    Write(other + "\\img       1.jpg", "mine");
    const Outcome aside = Fotex("--get-all-files --prefix " + other + "\\img");
    EXPECT_EQ(0u, aside.exit) << aside.err;
    EXPECT_TRUE(Contains(aside.out, "Saving file as " + other + "\\img       1~1.jpg\nSaving file as " + other + "\\img       2.jpg\n"))
        << aside.out;
    EXPECT_EQ("mine", Contents(other + "\\img       1.jpg"));
    EXPECT_TRUE(IsJpeg(other + "\\img       1~1.jpg"));
}

TEST(Download, GetAllFilesNamesARefusedFormatAndSavesThePicturesAfterIt) {
    const std::string folder = Scratch("refused"), pics = folder + "\\pics", out = folder + "\\out";
    ASSERT_EQ(0u, Fotex("-q --format jpg --filename " + pics + "\\a --capture-image-and-download --format png --filename " + pics +
                        "\\b --capture-image-and-download --format jpg --filename " + pics + "\\c --capture-image-and-download")
                      .exit);
    const auto same = [](const std::string& a, const std::string& b) { return Contents(a) == Contents(b) && Exists(b); };
    // The folder camera gives each file in its own format only: b.png refuses JPEG.
    const Outcome refused = Launch("--virtual-folder " + pics + " --format jpg -P --prefix " + out + "\\img");
    EXPECT_EQ(1u, refused.exit);
    EXPECT_EQ("Saving file as " + out + "\\img       0.jpg\nSaving file as " + out + "\\img       2.jpg\n"
              "2 of 3 files saved, 0 skipped, 1 failed\n",
              refused.out);
    const std::string named = "fotex: could not save #2 b.png as " + out + "\\img       1.jpg: ";
    EXPECT_EQ(named, refused.err.substr(0, named.size())) << refused.err;
    EXPECT_TRUE(Contains(refused.err, "(0x80070032)\n")) << refused.err;
    EXPECT_EQ(1u, Lines(refused.err).size()) << refused.err;
    EXPECT_TRUE(same(pics + "\\c.jpg", out + "\\img       2.jpg"));
    EXPECT_FALSE(Exists(out + "\\img       1.jpg"));
    // Each in its own format; names in use step aside, and what was there stays.
    const Outcome own = Launch("--virtual-folder " + pics + " -P --prefix " + out + "\\img");
    EXPECT_EQ(0u, own.exit) << own.err;
    EXPECT_EQ("Saving file as " + out + "\\img       0~1.jpg\nSaving file as " + out + "\\img       1.png\nSaving file as " + out +
                  "\\img       2~1.jpg\n3 of 3 files saved, 0 skipped, 0 failed\n",
              own.out);
    EXPECT_TRUE(same(pics + "\\b.png", out + "\\img       1.png"));
    EXPECT_TRUE(same(pics + "\\c.jpg", out + "\\img       2.jpg"));
    EXPECT_TRUE(same(pics + "\\c.jpg", out + "\\img       2~1.jpg"));
}

TEST(Dialog, SavesTheSystemDialogsPictureUnderTheFileRules) {
    const char* kalto = "C:\\kalto.jpg";
    DeleteFileA(kalto);
    const Outcome first = Fotex("--dialog");
    EXPECT_EQ(0u, first.exit) << first.err;
    EXPECT_EQ("Saving file as C:\\kalto.jpg\n", first.out);
    EXPECT_TRUE(IsJpeg(kalto));
    Write(kalto, "mine");
    const Outcome refused = Fotex("--dialog");
    EXPECT_EQ(1u, refused.exit);
    EXPECT_EQ("fotex: C:\\kalto.jpg exists (--force-overwrite replaces it, --skip-existing leaves it); the dialog was not shown\n",
              refused.err);
    EXPECT_EQ("mine", Contents(kalto));
    EXPECT_EQ(0u, Fotex("--dialog --skip-existing").exit);
    EXPECT_EQ("mine", Contents(kalto));
    EXPECT_EQ(0u, Fotex("--dialog --force-overwrite").exit);
    EXPECT_TRUE(IsJpeg(kalto));
    DeleteFileA(kalto);
}

// ---- Files on the camera ------------------------------------------------------------------

// A --list-files line for the virtual camera's file `which` (0 to 3) listed as `number`.
std::string Row(int number, int which) {
    const char* const files[] = {"IMG_0001.jpg                rd     3 KB image/jpeg 2026-12-01T09:00:00",
                                 "IMG_0002.jpg                rd     3 KB image/jpeg 2026-12-01T09:00:01",
                                 "IMG_0003.jpg                rd     3 KB image/jpeg 2026-12-01T09:00:02",
                                 "MOV_0001.avi                rd     3 KB video/x-msvideo 2026-12-01T09:00:03"};
    std::string line = "#" + std::to_string(number);
    return line + std::string(7 - line.size(), ' ') + files[which] + "\n";
}

TEST(Files, ListFilesInGphoto2sLayoutAndAsRecords) {
    ExpectRun("--list-files", 0,
              "There are 4 files in folder '/DCIM'.\n" + Row(1, 0) + Row(2, 1) + Row(3, 2) + Row(4, 3), "");
    ExpectRun("--parsable -f /DCIM -L -n", 0,
              "1\tIMG_0001.jpg\t2157\timage\t2026-12-01T09:00:00\t0000\\Root\\DCIM\\IMG_0001\n"
              "2\tIMG_0002.jpg\t2297\timage\t2026-12-01T09:00:01\t0000\\Root\\DCIM\\IMG_0002\n"
              "3\tIMG_0003.jpg\t2516\timage\t2026-12-01T09:00:02\t0000\\Root\\DCIM\\IMG_0003\n"
              "4\tMOV_0001.avi\t2562\tvideo\t2026-12-01T09:00:03\t0000\\Root\\DCIM\\MOV_0001\n4\n",
              "");
    ExpectRun("--device 1 -L -n", 0, "There is no file in folder '/'.\nNumber of files in folder '/': 0\n", "");
}

TEST(Files, GetFileSavesTheNumbersGivenAndNamesEachMissingOne) {
    const std::string folder = Scratch("getfile");
    struct Case {
        std::string args;
        DWORD exit;
        std::vector<std::string> saved;
        std::string err;
    };
    const Case cases[] = {
        {"-p 1-2,4 --filename " + folder + "\\a\\%f", 0, {"a\\IMG_0001.jpg", "a\\IMG_0002.jpg", "a\\MOV_0001.avi"}, ""},
        {"--get-file=3 --filename " + folder + "\\b\\%n-%f-%Y", 0, {"b\\3-IMG_0003-2026.jpg"}, ""},
        {"-p 2,9 --filename " + folder + "\\c\\%f", 1, {"c\\IMG_0002.jpg"}, "fotex: file 9 is not on the camera (4 listed, from 1)\n"},
        {"-p 4-9 --filename " + folder + "\\d\\%f", 1, {"d\\MOV_0001.avi"}, "fotex: files 5-9 are not on the camera (4 listed, from 1)\n"},
        {"--format bmp -p 1 --filename " + folder + "\\e\\%f", 0, {"e\\IMG_0001.bmp"}, ""},
    };
    for (const Case& c : cases) {
        const Outcome run = Fotex(c.args);
        EXPECT_EQ(c.exit, run.exit) << c.args;
        std::string out;
        for (const std::string& f : c.saved) {
            out += "Saving file as " + folder + "\\" + f + "\n";
            EXPECT_TRUE(Exists(folder + "\\" + f)) << f;
        }
        EXPECT_EQ(out, run.out) << c.args;
        EXPECT_EQ(c.err, run.err) << c.args;
    }
    EXPECT_TRUE(IsJpeg(folder + "\\a\\IMG_0001.jpg"));
    EXPECT_EQ("BM", Contents(folder + "\\e\\IMG_0001.bmp").substr(0, 2));
}

TEST(Files, SavingFilesFollowsTheFileRulesAndNamesEachRefusal) {
    const std::string folder = Scratch("rules");
    Write(folder + "\\IMG_0001.jpg", "mine");
    Write(folder + "\\thumb_IMG_0001.bmp", "mine");
    struct Case {
        std::string args;
        DWORD exit;
        std::string out, err;
        bool replaced;
    };
    const Case cases[] = {
        {"-p 1-2 --filename " + folder + "\\%f", 1, "Saving file as " + folder + "\\IMG_0002.jpg\n",
         "fotex: could not save #1 IMG_0001.jpg: " + folder + "\\IMG_0001.jpg exists and holds another picture "
         "(--force-overwrite replaces it)\n", false},
        // The picture this run saved before is left; another file of its name is no copy of it.
        {"--skip-existing -p 1-2 --filename " + folder + "\\%f", 1, "Skipping existing file " + folder + "\\IMG_0002.jpg\n",
         "fotex: could not save #1 IMG_0001.jpg: " + folder + "\\IMG_0001.jpg exists and holds another picture "
         "(--force-overwrite replaces it)\n", false},
        {"-p 2 --filename " + folder + "\\%f", 1, "", "fotex: could not save #2 IMG_0002.jpg: " + folder + "\\IMG_0002.jpg exists "
         "(--force-overwrite replaces it, --skip-existing leaves it)\n", false},
        {"-t 1 --filename " + folder + "\\thumb_%f", 1, "", "fotex: could not save #1 IMG_0001.jpg: " + folder + "\\thumb_IMG_0001.bmp exists "
         "(--force-overwrite replaces it, --skip-existing leaves it)\n", false},
        {"--force-overwrite --filename " + folder + "\\%f -p 1 --filename " + folder + "\\thumb_%f -t 1", 0,
         "Saving file as " + folder + "\\IMG_0001.jpg\nSaving file as " + folder + "\\thumb_IMG_0001.bmp\n", "", true},
    };
    for (const Case& c : cases) {
        ExpectRun(c.args, c.exit, c.out, c.err);
        EXPECT_EQ(c.replaced, IsJpeg(folder + "\\IMG_0001.jpg")) << c.args;
    }
    EXPECT_EQ("BM", Contents(folder + "\\thumb_IMG_0001.bmp").substr(0, 2));
}

TEST(Files, DeleteFileRemovesTheNumbersGiven) {
    ExpectRun("-d 1,3 -L", 0,
              "Deleted #1 IMG_0001.jpg from the camera\nDeleted #3 IMG_0003.jpg from the camera\n"
              "There are 2 files in folder '/DCIM'.\n" + Row(1, 1) + Row(2, 3), "");
}

TEST(Files, GetAllFilesWithAPatternKeepsTheCamerasNames) {
    const std::string folder = Scratch("pattern");
    const std::string names[] = {"1_IMG_0001.jpg", "2_IMG_0002.jpg", "3_IMG_0003.jpg", "4_MOV_0001.avi"};
    std::string saved, skipped;
    for (const std::string& n : names) {
        saved += "Saving file as " + folder + "\\deep\\" + n + "\n";
        skipped += "Skipping existing file " + folder + "\\deep\\" + n + "\n";
    }
    ExpectRun("-P --filename " + folder + "\\deep\\%n_%f", 0, saved + "4 of 4 files saved, 0 skipped, 0 failed\n", "");
    ExpectRun("-P --filename " + folder + "\\deep\\%n_%f --skip-existing", 0, skipped + "0 of 4 files saved, 4 skipped, 0 failed\n", "");
    const Outcome refused = Fotex("-P --filename " + folder + "\\deep\\%n_%f");
    EXPECT_EQ(1u, refused.exit);
    EXPECT_EQ(4u, Lines(refused.err).size()) << refused.err;
    EXPECT_EQ("0 of 4 files saved, 0 skipped, 4 failed\n", refused.out);
}

TEST(Files, AFolderOfPicturesServesAsACamera) {
    const std::string folder = Scratch("folder");
    ASSERT_EQ(0u, Fotex("-q --filename " + folder + "\\pics\\a --capture-image-and-download --filename " + folder +
                        "\\pics\\sub\\b --capture-image-and-download").exit);
    const Outcome list = Launch("--virtual-folder " + folder + "\\pics --parsable -L");
    EXPECT_EQ(0u, list.exit) << list.err;
    const std::vector<std::string> lines = Lines(list.out);
    ASSERT_EQ(2u, lines.size()) << list.out;
    EXPECT_EQ("1\ta.jpg\t", lines[0].substr(0, 8));
    EXPECT_EQ("2\tb.jpg\t", lines[1].substr(0, 8));
    const std::vector<std::string> layout = Lines(Launch("--virtual-folder " + folder + "\\pics -L").out);
    ASSERT_EQ(4u, layout.size());
    EXPECT_EQ("There is 1 file in folder '/'.", layout[0]);
    EXPECT_EQ("There is 1 file in folder '/sub'.", layout[2]);
    const Outcome get = Launch("--virtual-folder " + folder + "\\pics --filename " + folder + "\\out\\%f -p 1-2 --filename " + folder + "\\out\\thumb_%f -t 2");
    EXPECT_EQ(0u, get.exit) << get.err;
    EXPECT_EQ(Contents(folder + "\\pics\\a.jpg"), Contents(folder + "\\out\\a.jpg"));
    EXPECT_EQ(Contents(folder + "\\pics\\sub\\b.jpg"), Contents(folder + "\\out\\b.jpg"));
    EXPECT_EQ("BM", Contents(folder + "\\out\\thumb_b.bmp").substr(0, 2));
    const Outcome missing = Launch("--virtual-folder " + folder + "\\nosuch -L");
    EXPECT_EQ(1u, missing.exit);
    const std::string start = "fotex: cannot make a camera of the folder " + folder + "\\nosuch: ";
    EXPECT_EQ(start, missing.err.substr(0, start.size()));
    EXPECT_TRUE(Contains(missing.err, "(0x80070002)\n")) << missing.err;
}

// ---- Setting choices and camera events ----------------------------------------------------

TEST(Choices, GetConfigShowsWhatTheCameraTakesInGphoto2sLayout) {
    struct Case {
        const char* name;
        std::string out;
    };
    const Case cases[] = {
        {"fnumber", "Label: F Number\nReadonly: 0\nType: MENU\nCurrent: f/2.8\nChoice: 0 f/2.8\nChoice: 1 f/4\n"
                    "Choice: 2 f/5.6\nChoice: 3 f/8\nChoice: 4 f/11\nChoice: 5 f/16\nEND\n"},
        {"panposition", "Label: Pan Position\nReadonly: 0\nType: RANGE\nCurrent: 0\nBottom: -180\nTop: 180\nStep: 1\nEND\n"},
        {"batterystatus", "Label: Battery Status\nReadonly: 1\nType: RANGE\nCurrent: 80\nBottom: 0\nTop: 100\nStep: 1\nEND\n"},
        {"timermode", "Label: Timer Mode\nReadonly: 0\nType: MENU\nCurrent: 0\nChoice: 0 0\nChoice: 1 1\nChoice: 2 2\n"
                      "Choice: 3 3\nEND\n"},
        {"whitebalance", "Label: White Balance\nReadonly: 0\nType: MENU\nCurrent: Auto\nChoice: 0 Manual\nChoice: 1 Auto\n"
                         "Choice: 2 One-push auto\nChoice: 3 Daylight\nChoice: 4 Fluorescent\nChoice: 5 Tungsten\n"
                         "Choice: 6 Flash\nEND\n"},
        {"artist", "Label: Artist\nReadonly: 0\nType: TEXT\nCurrent: Fotex\nEND\n"},
    };
    // One run reads them all, each answer in turn.
    std::string args, out;
    for (const Case& c : cases) {
        args += std::string(" --get-config ") + c.name;
        out += c.out;
    }
    ExpectRun(args, 0, out, "");
}

// Every setting of both virtual cameras reads as it did before the names of values moved into the
// library (device 1 stops at its first failure, so the three it cannot show are left out there).
TEST(Choices, GetConfigOutputIsUnchangedForEverySetting) {
    const std::vector<std::string> names = Words(
        "exposuremode exposurecomp exposuretime fnumber flashmode focusmode panposition tiltposition timermode "
        "timervalue powermode batterystatus thumbwidth thumbheight pictwidth pictheight comprsetting "
        "timelapseinterval timelapsenumber burstinterval burstnumber effectmode digitalzoom sharpness contrast "
        "captmode captdelay exposindex exposmetmode focusmetmode focusdist focuslength rgbgain whitebalance "
        "uploadurl artist copyright");
    std::string all, readable;
    for (const std::string& name : names) {
        all += " --get-config " + name;
        if (name != "panposition" && name != "tiltposition" && name != "focuslength") readable += " --get-config " + name;
    }
    ASSERT_EQ(37u, names.size());
    ExpectRun("--device 0" + all, 0, kGetConfigDevice0, "");
    ExpectRun("--device 1" + readable, 0, kGetConfigDevice1, "");
}

TEST(Choices, SetConfigTakesNamesAndRefusesWhatTheCameraDoesNotTake) {
    ExpectRun("--set-config flashmode=fill --set-config fnumber=F/5.6 --set-config whitebalance=2 --list-config", 0,
              "flashmode set to 3 (Fill)\nfnumber set to 560 (f/5.6)\nwhitebalance set to 2 (Auto)\n" +
                  Fotex("--set-config flashmode=3 --set-config fnumber=560 -q --list-config").out,
              "");
    const Case cases[] = {
        {"--set-config fnumber=10",
         "fotex: fnumber cannot be 10 (f/0.1): the camera takes f/2.8 (280), f/4 (400), f/5.6 (560), f/8 (800), f/11 (1100), "
         "f/16 (1600)\n"},
        {"--set-config panposition=181", "fotex: panposition cannot be 181: the camera takes from -180 to 180 in steps of 1\n"},
        {"--set-config panposition=-181", "fotex: panposition cannot be -181: the camera takes from -180 to 180 in steps of 1\n"},
        {"--set-config thumbwidth=100", "fotex: thumbwidth cannot be 100: the camera takes from 80 to 320 in steps of 80\n"},
        {"--set-config timermode=4", "fotex: timermode cannot be 4: the camera takes the bits of 0x00000003 only\n"},
    };
    for (const Case& c : cases) ExpectRun(c.args, 1, "", c.text);
}

// F-numbers written as a user may type them, which --set-config has always taken: extra zeros,
// a trailing point, an exponent.
TEST(Choices, SetConfigTakesFNumbersInEveryDecimalFormItTookBefore) {
    ExpectRun("--set-config fnumber=f/5.600 --set-config fnumber=f/8. --set-config fnumber=f/4.0e0", 0,
              "fnumber set to 560 (f/5.6)\nfnumber set to 800 (f/8)\nfnumber set to 400 (f/4)\n", "");
}

TEST(Events, WaitEventPrintsEachEventOnALine) {
    const std::string created = "ITEM_CREATED 0000\\Root\\DCIM\\IMG_000";
    const std::string device = " on {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000\n";
    ExpectRun("--virtual-shutter 2 --wait-event=2", 0, created + "4" + device + created + "5" + device, "");
    ExpectRun("--virtual-shutter 1 --parsable --wait-event=300ms", 0,
              "ITEM_CREATED\t{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000\t0000\\Root\\DCIM\\IMG_0004\n", "");
    ExpectRun("--wait-event=100ms", 0, "", "");
    // Wine's own service has no events.
    const Outcome wine = Launch("--wait-event=1");
    EXPECT_EQ(1u, wine.exit);
    EXPECT_EQ("fotex: cannot wait for camera events: E_NOTIMPL: the service does not offer this (0x80004001)\n", wine.err);
}

TEST(Events, CaptureTetheredSavesEachNewPictureUnderTheFileRules) {
    const std::string folder = Scratch("tethered");
    const std::string saved = "Saving file as " + folder + "\\IMG_0004.jpg\nSaving file as " + folder + "\\IMG_0005.jpg\n";
    ExpectRun("--virtual-shutter 2 --capture-tethered=2 --filename " + folder + "\\%f", 0, saved, "");
    EXPECT_TRUE(IsJpeg(folder + "\\IMG_0004.jpg"));
    Write(folder + "\\IMG_0004.jpg", "mine");
    DeleteFileA((folder + "\\IMG_0005.jpg").c_str());
    ExpectRun("--virtual-shutter 2 --capture-tethered=2 --filename " + folder + "\\%f", 1, "Saving file as " + folder + "\\IMG_0005.jpg\n",
              "fotex: could not save 0000\\Root\\DCIM\\IMG_0004: " + folder + "\\IMG_0004.jpg exists (--force-overwrite "
              "replaces it, --skip-existing leaves it)\n");
    EXPECT_EQ("mine", Contents(folder + "\\IMG_0004.jpg"));
    // A new picture is never the file of its name that was there: --skip-existing refuses it.
    ExpectRun("--virtual-shutter 1 --capture-tethered=1 --skip-existing --filename " + folder + "\\%f", 1, "",
              "fotex: could not save 0000\\Root\\DCIM\\IMG_0004: " + folder + "\\IMG_0004.jpg exists and holds another picture "
              "(--force-overwrite replaces it)\n");
    EXPECT_EQ("mine", Contents(folder + "\\IMG_0004.jpg"));
    // %F is the camera folder, as in -P.
    ExpectRun("--virtual-shutter 1 --capture-tethered=1 --filename " + folder + "\\%F\\t%n-%f --format bmp --skip-existing", 0,
              "Saving file as " + folder + "\\DCIM\\t1-IMG_0004.bmp\n", "");
    EXPECT_EQ("BM", Contents(folder + "\\DCIM\\t1-IMG_0004.bmp").substr(0, 2));
}


// ---- Names from the camera ----------------------------------------------------------------

// What a device may call its pictures, as --virtual-item takes them: NAME or NAME:EXT, %XX a byte.
// They come after the camera's own four, as #5 to #19.
const std::vector<std::string>& HostileItems() {
    static const std::vector<std::string> items = {
        "..\\..\\evil", "C%3Aevil", "a/b", "x%3Astream", "CON", "nul.txt", "name.", "name ", "", std::string(300, 'n'),
        "run:bat\\..", "dot:.", "ctl%01%7C%3F%2A%3C%3E%22", "long:abcdefghijklmnopqrstuvwxyz", "ads:jpg%3Aevil"};
    return items;
}

std::string HostileCamera() {
    std::string args;
    for (const std::string& item : HostileItems()) args += " --virtual-item \"" + item + "\"";
    return args;
}

// What -p saves each of them as (the 300 characters are more than the file system takes).
const std::set<std::string>& SafeNames() {
    static const std::set<std::string> names = {
        ".._.._evil.jpg", "C_evil.jpg", "a_b.jpg", "x_stream.jpg", "CON_.jpg", "nul_.txt.jpg", "name._.jpg", "name _.jpg",
        "_.jpg", "run.bat_._.jpg", "dot._.jpg", "ctl_______.jpg", "long.abcdefghijklmnop", "ads.jpg_evil"};
    return names;
}

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.pop_back();
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    std::string text(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], static_cast<int>(text.size()), nullptr, nullptr);
    text.pop_back();
    return text;
}

// Every file under `folder`, by its path from there.
void FilesUnder(const std::string& folder, const std::string& relative, std::set<std::string>& files) {
    WIN32_FIND_DATAW data;
    const std::wstring pattern = Wide(folder + relative + "*");
    const HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = Utf8(data.cFileName);
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) FilesUnder(folder, relative + name + "\\", files);
        else files.insert(relative + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

std::set<std::string> FilesUnder(const std::string& folder) {
    std::set<std::string> files;
    FilesUnder(folder + "\\", "", files);
    return files;
}

// The files a drive-relative name ("C:evil") or a climb out of the test's folder would make.
std::set<std::string> Strays() {
    std::set<std::string> found;
    for (const char* root : {"C:\\", "cli_files\\", ".\\", "..\\"}) {
        WIN32_FIND_DATAA data;
        const HANDLE find = FindFirstFileA((std::string(root) + "*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            const std::string f = data.cFileName;
            if (Contains(f, "evil") || Contains(f, "stream")) found.insert(root + f);
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    return found;
}

TEST(CameraNames, EveryVerbThatSavesKeepsHostileNamesInsideTheFolder) {
    const std::string scratch = Scratch("hostile");
    const std::set<std::string> before = Strays();
    struct Case {
        std::string args;
        std::set<std::string> files;  // in the target folder; empty: only that they stay inside
    };
    std::set<std::string> thumbnails;
    for (const std::string& name : SafeNames()) {
        const size_t dot = name.rfind('.');
        thumbnails.insert("thumb_" + name.substr(0, dot) + ".bmp");
    }
    std::set<std::string> all = SafeNames();
    all.insert({"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "MOV_0001.avi"});
    const Case cases[] = {
        {"-p 5-19", SafeNames()},
        {"-P", all},
        {"--no-keep -P", all},
        {"-t 5-19", thumbnails},
        {"--virtual-shutter 15 --capture-tethered=15", {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string folder = scratch + "\\" + std::to_string(++n), target = folder + "\\in\\deep";
        const std::string pattern = c.args[1] == 't' ? "thumb_%f" : "%f";
        const Outcome run = Fotex(c.args + " --filename " + target + "\\" + pattern + HostileCamera());
        // The 300 characters are refused, and so is anything the file system will not take.
        EXPECT_EQ(1u, run.exit) << c.args << "\n" << run.out << run.err;
        const std::set<std::string> files = FilesUnder(folder);
        for (const std::string& f : files) EXPECT_EQ("in\\deep\\", f.substr(0, 8)) << c.args << ": " << f;
        if (!c.files.empty()) {
            std::set<std::string> expected;
            for (const std::string& f : c.files) expected.insert("in\\deep\\" + f);
            EXPECT_EQ(expected, files) << c.args;
        }
        EXPECT_TRUE(Contains(run.err, std::string(300, 'n'))) << c.args << "\n" << run.err;
    }
    // The tethered pictures are saved under the leaf of the event's name, made safe alike.
    const std::set<std::string> tethered = FilesUnder(scratch + "\\5\\in\\deep");
    for (const char* name : {"C_evil.jpg", "a_b.jpg", "x_stream.jpg", "CON_.jpg", "nul_.txt.jpg", "name._.jpg", "name _.jpg", "_.jpg"})
        EXPECT_EQ(1u, tethered.count(name)) << name;
    // With fotex 1.3's numbered names nothing of the camera's goes into a path.
    const Outcome library = Fotex("-P --prefix " + scratch + "\\6\\in\\img" + HostileCamera());
    EXPECT_EQ(0u, library.exit) << library.err;
    for (const std::string& f : FilesUnder(scratch + "\\6")) EXPECT_EQ("in\\img", f.substr(0, 6)) << f;
    EXPECT_EQ(before, Strays());
}

TEST(CameraNames, WithoutAFolderTheCurrentOneHoldsEveryFile) {
    const std::string scratch = Scratch("hostilehere");
    const std::string target = scratch + "\\in\\deep";
    CreateDirectoryA((scratch + "\\in").c_str(), nullptr);
    CreateDirectoryA(target.c_str(), nullptr);
    const std::set<std::string> before = Strays();
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(target.c_str()));
    const Outcome run = Fotex("-p 5-19" + HostileCamera());
    const Outcome tethered = Fotex("--filename t%f --virtual-shutter 15 --capture-tethered=15" + HostileCamera());
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(1u, run.exit) << run.err;
    EXPECT_EQ(1u, tethered.exit) << tethered.err;
    std::set<std::string> expected;
    for (const std::string& f : SafeNames()) expected.insert("in\\deep\\" + f);
    const std::set<std::string> files = FilesUnder(scratch);
    for (const std::string& f : files) {
        EXPECT_EQ("in\\deep\\", f.substr(0, 8)) << f;
        if (f.substr(0, 9) != "in\\deep\\t") {
            EXPECT_EQ(1u, expected.count(f)) << f;
        }
    }
    for (const std::string& f : expected) EXPECT_EQ(1u, files.count(f)) << f;
    EXPECT_TRUE(files.count("in\\deep\\tC_evil.jpg"));
    EXPECT_EQ(before, Strays());
}

TEST(CameraNames, APatternThatClimbsOutOfTheFolderIsRefusedAndNamed) {
    const std::string scratch = Scratch("climb");
    const std::string target = scratch + "\\in";
    ExpectRun("-p 1-2 --filename " + target + "\\%f\\..\\..\\x%n", 1, "",
              "fotex: could not save #1 IMG_0001.jpg: " + target + "\\IMG_0001\\..\\..\\x1.jpg lies outside " + target +
                  "\nfotex: could not save #2 IMG_0002.jpg: " + target + "\\IMG_0002\\..\\..\\x2.jpg lies outside " + target + "\n");
    // Without an extension a trailing dot would be dropped, and the file saved under another name.
    ExpectRun("-p 1 --format 20 --filename " + target + "\\%f.", 1, "",
              "fotex: could not save #1 IMG_0001.jpg: " + target + "\\IMG_0001. is not a name the file system keeps as written\n");
    EXPECT_TRUE(FilesUnder(scratch).empty());
    // A folder the pattern names before its fields is the user's choice.
    const Outcome up = Fotex("-p 1 --filename " + target + "\\..\\up\\%f");
    EXPECT_EQ(0u, up.exit) << up.err;
    EXPECT_TRUE(IsJpeg(scratch + "\\up\\IMG_0001.jpg"));
}

TEST(CameraNames, ADeviceNameEndingInADotIsSavedUnderAnOrdinaryName) {
    // "CON." and "aux ." end in a dot: the added '_' alone leaves "CON._", still the console.
    const std::string target = Scratch("devicedot") + "\\in";
    const Outcome run = Fotex("--virtual-item CON.:jpg --virtual-item \"aux .:jpg\" --virtual-item COM1.:jpg -p 5-7 --filename " + target + "\\%f");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(3u, FilesUnder(target).size()) << run.out;
}
TEST(CameraNames, TheDefaultPatternWithAFormatWithoutExtensionSaves) {
    // %f.%C is fotex's own pattern: an empty %C must not leave it a name ending in a dot.
    const std::string target = Scratch("noextension") + "\\in";
    const Outcome run = Fotex("-p 1 --format 20 --filename " + target + "\\%f.%C");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ(1u, FilesUnder(target).size()) << run.out << run.err;
}
TEST(CameraNames, AFolderEndingInASeparatorOrADriveIsJoinedWithoutAnotherSeparator) {
    const std::string scratch = Scratch("joins");
    for (const char* tail : {"\\", "/"}) {
        const std::string folder = scratch + "\\" + (tail[0] == '/' ? "slash" : "back") + tail;
        const Outcome run = Fotex("-p 1 --filename " + folder + "%f");
        EXPECT_EQ(0u, run.exit) << tail << "\n" << run.err;
        EXPECT_EQ("Saving file as " + folder + "IMG_0001.jpg\n", run.out) << tail;
        EXPECT_TRUE(IsJpeg(folder + "IMG_0001.jpg")) << tail;
    }
    // "X:" is the drive's current folder, the one fotex runs in, not its root.
    char here[MAX_PATH] = {};
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, here));
    const std::string drive = std::string(here, 2), name = "JoinedOnTheDrive.jpg";
    DeleteFileA(name.c_str());
    const Outcome run = Fotex("--virtual-item JoinedOnTheDrive:jpg -p 5 --filename " + drive + "%f");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ("Saving file as " + drive + name + "\n", run.out);
    EXPECT_TRUE(IsJpeg(name));
    DeleteFileA(name.c_str());
}

// ---- One run, many files ------------------------------------------------------------------

// A folder camera with IMG_0001.jpg in two camera folders, each a different picture.
std::string TwoOfAName(const std::string& scratch) {
    const std::string pics = scratch + "\\pics";
    EXPECT_EQ(0u, Fotex("-q --filename " + pics + "\\100A\\IMG_0001 --capture-image-and-download --filename " + pics +
                        "\\101A\\IMG_0001 --capture-image-and-download").exit);
    EXPECT_NE(Contents(pics + "\\100A\\IMG_0001.jpg"), Contents(pics + "\\101A\\IMG_0001.jpg"));
    return pics;
}

TEST(OneRun, ANameThisRunWroteIsNeverReplaced) {
    const std::string scratch = Scratch("onerun");
    const std::string pics = TwoOfAName(scratch);
    // The folder the camera lists first is the one whose file is saved.
    const std::vector<std::string> listed = Lines(Launch("--virtual-folder " + pics + " --parsable -L").out);
    ASSERT_EQ(2u, listed.size());
    const std::string first = Contents(pics + (Contains(listed[0], "100A") ? "\\100A" : "\\101A") + "\\IMG_0001.jpg");
    struct Case {
        std::string args, out, err;
    };
    // The two are in two camera folders: the hint names %F.
    const std::string taken = "fotex: could not save #2 IMG_0001.jpg: " + scratch + "\\%s\\IMG_0001.jpg was saved by this run "
                              "already, from another file of the same name; --filename '%F/%f.%C' keeps each camera folder's files apart\n";
    auto in = [&](const std::string& folder, std::string text) {
        for (size_t at; (at = text.find("%s")) != std::string::npos;) text.replace(at, 2, folder);
        return text;
    };
    const Case cases[] = {
        {"-P --filename " + scratch + "\\a\\%f.%C --force-overwrite --no-keep",
         in("a", "Saving file as " + scratch + "\\%s\\IMG_0001.jpg\nDeleting IMG_0001.jpg from the camera\n"
                 "1 of 2 files saved, 0 skipped, 1 failed\n"), in("a", taken)},
        {"-p 1-2 --force-overwrite --filename " + scratch + "\\b\\%f", in("b", "Saving file as " + scratch + "\\%s\\IMG_0001.jpg\n"), in("b", taken)},
        {"-p 1-2 --skip-existing --filename " + scratch + "\\c\\%f", in("c", "Saving file as " + scratch + "\\%s\\IMG_0001.jpg\n"), in("c", taken)},
        {"-p 1 -p 2 --force-overwrite --filename " + scratch + "\\d\\%f", in("d", "Saving file as " + scratch + "\\%s\\IMG_0001.jpg\n"), in("d", taken)},
    };
    for (const Case& c : cases) {
        const Outcome run = Launch("--virtual-folder " + pics + " " + c.args);
        EXPECT_EQ(1u, run.exit) << c.args;
        EXPECT_EQ(c.out, run.out) << c.args;
        EXPECT_EQ(c.err, run.err) << c.args;
    }
    for (const char* folder : {"a", "b", "c", "d"}) EXPECT_EQ(first, Contents(scratch + "\\" + folder + "\\IMG_0001.jpg")) << folder;
    // A file that was there before the run is still replaced when asked.
    CreateDirectoryA((scratch + "\\e").c_str(), nullptr);
    Write(scratch + "\\e\\IMG_0001.jpg", "mine");
    const Outcome replaced = Launch("--virtual-folder " + pics + " -p 1-2 --force-overwrite --filename " + scratch + "\\e\\%f");
    EXPECT_EQ(1u, replaced.exit);
    EXPECT_EQ(first, Contents(scratch + "\\e\\IMG_0001.jpg"));
}


TEST(OneRun, AShortNameOfAFileThisRunWroteIsTakenToo) {
    // A camera may name a picture as the file system's 8.3 alias of one saved just before.
    const std::string scratch = Scratch("shortname");
    const std::string probe = scratch + "\\probe\\LongPictureName.jpg";
    CreateDirectoryA((scratch + "\\probe").c_str(), nullptr);
    Write(probe, "probe");
    wchar_t alias[MAX_PATH] = {};
    GetShortPathNameW(Wide(probe).c_str(), alias, MAX_PATH);
    const std::string leaf = Utf8(alias).substr(Utf8(alias).rfind('\\') + 1);
    if (leaf == "LongPictureName.jpg") GTEST_SKIP() << "no 8.3 names on this volume";
    const std::string item = leaf.substr(0, leaf.rfind('.')) + ":" + leaf.substr(leaf.rfind('.') + 1);
    ASSERT_EQ(0u, Fotex("--virtual-item LongPictureName:jpg -p 5 --filename " + scratch + "\\ref\\%f").exit);
    const std::string first = Contents(scratch + "\\ref\\LongPictureName.jpg");
    for (const char* rule : {"--force-overwrite", "--skip-existing"}) {
        const std::string target = scratch + "\\" + (rule[2] == 'f' ? "f" : "s");
        const Outcome run = Fotex("--virtual-item LongPictureName:jpg --virtual-item " + item + " -p 5-6 " + rule + " --filename " + target + "\\%f");
        EXPECT_EQ(1u, run.exit) << rule << "\n" << run.out << run.err;
        EXPECT_TRUE(Contains(run.err, leaf)) << rule << "\n" << run.err;
        EXPECT_EQ(first, Contents(target + "\\LongPictureName.jpg")) << rule << ": the first picture was replaced";
    }
}

TEST(OneRun, ACaptureOrTheDialogNeverReplacesWhatThisRunSaved) {
    const std::string folder = Scratch("onerun2");
    ExpectRun("--force-overwrite --filename " + folder + "\\same --capture-image-and-download --capture-image-and-download --storage-info",
              1, "Saving file as " + folder + "\\same.jpg\n",
              "fotex: " + folder + "\\same.jpg was saved by this run already, from another file of the same name; no picture taken\n");
    DeleteFileA("C:\\kalto.jpg");
    ExpectRun("--dialog --dialog --force-overwrite", 1, "Saving file as C:\\kalto.jpg\n",
              "fotex: C:\\kalto.jpg was saved by this run already; the dialog was not shown\n");
    DeleteFileA("C:\\kalto.jpg");
}

}  // namespace

// ---- Nothing lost or mislabelled -------------------------------------------------------------

// The names of the files in a folder, sorted.
std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

TEST(Interrupt, CtrlCStopsEveryDownloadNamesWhatWasNotSavedAndExitsOne) {
    const std::string folder = Scratch("ctrlc");
    const Outcome all = Fotex("--virtual-interrupt 3 -P --filename " + folder + "\\all\\%f");
    EXPECT_EQ(1u, all.exit);
    EXPECT_EQ("fotex: interrupted: 2 files not saved: #3 IMG_0003.jpg, #4 MOV_0001.avi\n", all.err);
    EXPECT_TRUE(Contains(all.out, "2 of 4 files saved, 0 skipped, 0 failed\n")) << all.out;
    EXPECT_EQ((std::set<std::string>{"IMG_0001.jpg", "IMG_0002.jpg"}), FilesIn(folder + "\\all"));
    const Outcome some = Fotex("--virtual-interrupt 2 -p 2-4 --filename " + folder + "\\some\\%f");
    EXPECT_EQ(1u, some.exit);
    EXPECT_EQ("fotex: interrupted: 2 files not saved: #3 IMG_0003.jpg, #4 MOV_0001.avi\n", some.err);
    EXPECT_EQ((std::set<std::string>{"IMG_0002.jpg"}), FilesIn(folder + "\\some"));
}

TEST(Interrupt, DeleteFileChecksEveryNumberBeforeDeletingAny) {
    ExpectRun("-d 99,3 -n", 1, "", "fotex: file 99 is not on the camera (4 listed, from 1)\nfotex: nothing deleted\n");
    ExpectRun("-d 3,5 -n", 1, "", "fotex: file 5 is not on the camera (4 listed, from 1)\nfotex: nothing deleted\n");
}

TEST(Tethered, LostEventsAreMadeUpByListingTheCamera) {
    const std::string folder = Scratch("lost");
    // The other camera's 1100 pictures fill the queue: the event of the one taken here is lost.
    const Outcome run = Fotex("--virtual-item lost1 --virtual-flood 1030 --capture-tethered=1 --filename " + folder + "\\%f");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_TRUE(IsJpeg(folder + "\\lost1.jpg")) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "camera events were lost")) << run.err;
}

TEST(Tethered, APictureTakingTheNameOfOneSavedAndDeletedIsNotIgnored) {
    const std::string folder = Scratch("samename");
    const Outcome run =
        Fotex("--virtual-item A --virtual-item A --virtual-shutter 2 --capture-tethered=3s --no-keep --filename " + folder + "\\%f");
    EXPECT_TRUE(IsJpeg(folder + "\\A.jpg")) << run.err;
    // The second A would take the file this run wrote: refused and named, never passed over.
    EXPECT_EQ(1u, run.exit) << run.out << run.err;
    EXPECT_TRUE(Contains(run.err, "A.jpg")) << run.err;
}

// A hundred presses, five a second, in each way a camera may send its events: every picture is
// saved once, byte for byte as the camera holds it (-P saves the camera's copies afterwards), and
// none that was there before. Slowed transfers make presses fall while a picture is saved.
TEST(Tethered, EveryPictureIsSavedOnceInEachEventMode) {
    const struct {
        const char* mode;
        const char* folder;
    } modes[] = {{"all", "all"},     {"none", "none"},         {"lost:30", "lost"},
                 {"twice", "twice"}, {"late:700", "late"}, {"deleted-first", "deleted"}};
    // The six runs at once: each takes twenty seconds of presses. The emulated i686 machine, whose
    // programs have 600 s each, runs fewer (FOTEX_TETHER_PRESSES).
    char knob[16] = "";
    const DWORD knobLength = GetEnvironmentVariableA("FOTEX_TETHER_PRESSES", knob, sizeof knob);
    const size_t presses = knobLength > 0 && knobLength < sizeof knob && std::atoi(knob) > 0 ? std::atoi(knob) : 100;
    const std::string pressed = std::to_string(presses);
    Outcome runs[std::size(modes)];
    std::vector<std::thread> threads;
    for (size_t i = 0; i < std::size(modes); ++i) {
        const std::string folder = Scratch(std::string("modes-") + modes[i].folder);
        const std::string args = std::string("--virtual-events ") + modes[i].mode +
                                 " --virtual-shutter " + pressed + " --virtual-shutter-every 200 --virtual-rate 60000 --poll 1 "
                                 "--capture-tethered=" + pressed + " --filename " + folder + "\\t\\%f.%C -P --filename " + folder + "\\c\\%f.%C";
        threads.emplace_back([&runs, i, args] { runs[i] = Fotex(args); });
    }
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < std::size(modes); ++i) {
        const auto& m = modes[i];
        const Outcome& run = runs[i];
        const std::string folder = std::string("cli_files\\modes-") + m.folder;
        EXPECT_EQ(0u, run.exit) << m.mode << "\n" << run.err;
        const std::set<std::string> tethered = FilesUnder(folder + "\\t"), camera = FilesUnder(folder + "\\c");
        EXPECT_EQ(presses, tethered.size()) << m.mode;
        size_t announced = 0;
        for (const std::string& line : Lines(run.out)) announced += Contains(line, "Saving file as " + folder + "\\t\\");
        EXPECT_EQ(presses, announced) << m.mode << ": each picture saved once";
        for (const char* before : {"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "MOV_0001.avi"})
            EXPECT_EQ(0u, tethered.count(before)) << m.mode << ": " << before << " was on the camera before";
        for (const std::string& name : tethered) {
            ASSERT_EQ(1u, camera.count(name)) << m.mode << ": " << name << " is not on the camera";
            EXPECT_EQ(Contents(folder + "\\c\\" + name), Contents(folder + "\\t\\" + name)) << m.mode << ": " << name;
        }
        EXPECT_EQ(camera.size(), tethered.size() + 4) << m.mode << ": every picture taken was saved";
    }
}

// A picture deleted once saved frees its name; the camera's next picture of that name is new.
TEST(Tethered, APictureOfANameSavedAndDeletedBeforeIsSavedToo) {
    const std::string folder = Scratch("reused");
    const Outcome run = Fotex("--virtual-item A --virtual-item A --virtual-shutter 2 --virtual-shutter-every 1500 --poll 0 --no-keep "
                              "--filename " + folder + "\\%n-%f --wait-event-and-download=2");
    EXPECT_EQ(0u, run.exit) << run.out << run.err;
    EXPECT_TRUE(IsJpeg(folder + "\\1-A.jpg")) << run.err;
    EXPECT_TRUE(IsJpeg(folder + "\\2-A.jpg")) << run.err;
}

TEST(Transfers, StandardOutputHoldsTheFileAloneWhateverElseIsAsked) {
    const std::string folder = Scratch("stdoutalone");
    Write(folder + "\\h.bat", "@echo HOOK %ACTION%\r\n");
    const Outcome run = Fotex("--hook-script " + folder + "\\h.bat --get-file 1 --stdout");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ(0u, run.out.compare(0, 2, "\xFF\xD8")) << run.out.substr(0, 40);
    ExpectRun("--get-file 1 --stdout -L", 2, "", "fotex: --stdout goes with one --get-file N and no other action\n");
    ExpectRun("-P --stdout", 2, "", "fotex: --stdout goes with one --get-file N and no other action\n");
}

TEST(Faults, OnlyTheCamerasDeleteFailingSaysTheFileIsSavedAndThePictureStays) {
    const std::string folder = Scratch("nodelete");
    const Outcome run = Fotex("--virtual-fail-delete 1 --no-keep -p 1 --filename " + folder + "\\%f -n");
    EXPECT_EQ(1u, run.exit);
    EXPECT_TRUE(IsJpeg(folder + "\\IMG_0001.jpg"));
    EXPECT_TRUE(Contains(run.err, "fotex: #1 IMG_0001.jpg is saved as " + folder + "\\IMG_0001.jpg, but the camera could not delete it: "))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "; the picture stays on the camera\n")) << run.err;
}

TEST(Faults, ATransferCutHalfWayLeavesNoFileAndTheRestAreSaved) {
    const std::string folder = Scratch("cut");
    // 0x80070070: the disk is full.
    const Outcome run = Fotex("--virtual-cut-transfer 2 -P --filename " + folder + "\\%f");
    EXPECT_EQ(1u, run.exit);
    EXPECT_TRUE(Contains(run.err, "could not save #2 IMG_0002.jpg as " + folder + "\\IMG_0002.jpg: ")) << run.err;
    EXPECT_TRUE(Contains(run.err, "(0x80070070)")) << run.err;
    EXPECT_TRUE(Contains(run.out, "3 of 4 files saved, 0 skipped, 1 failed\n")) << run.out;
    EXPECT_EQ((std::set<std::string>{"IMG_0001.jpg", "IMG_0003.jpg", "MOV_0001.avi"}), FilesIn(folder));
}

TEST(AllFiles, GetAllFilesSavesUnderTheCamerasNamesAndSkipsWhatIsThere) {
    const std::string folder = Scratch("allnames");
    std::string saved, skipped;
    for (const char* name : {"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "MOV_0001.avi"}) {
        saved += "Saving file as " + folder + "\\" + name + "\n";
        skipped += "Skipping existing file " + folder + "\\" + name + "\n";
    }
    ExpectRun("-P --filename " + folder + "\\%f", 0, saved + "4 of 4 files saved, 0 skipped, 0 failed\n", "");
    EXPECT_EQ("RIFF", Contents(folder + "\\MOV_0001.avi").substr(0, 4));
    ExpectRun("-P --skip-existing --filename " + folder + "\\%f", 0, skipped + "0 of 4 files saved, 4 skipped, 0 failed\n", "");
    // fotex 1.3's numbered names are asked for by their prefix.
    ExpectRun("-P --prefix " + folder + "\\old\\img -q", 0, "", "");
    EXPECT_TRUE(IsJpeg(folder + "\\old\\img       2.jpg"));
}

TEST(AllFiles, ContradictionsAndRefusedDownloadsLeaveNothingBehind) {
    ExpectRun("-p 1 --skip-existing --force-overwrite", 2, "",
              "fotex: --skip-existing and --force-overwrite contradict each other: give one\n");
    const std::string folder = Scratch("nofolder");
    // The video refuses PNG: its folder is not made.
    const Outcome run = Fotex("--format png -p 4 --filename " + folder + "\\made\\%f");
    EXPECT_EQ(1u, run.exit);
    EXPECT_FALSE(Exists(folder + "\\made"));
}

TEST(Folders, FolderIsTheCameraFolderWithItsSubfoldersUnlessNoRecurse) {
    const std::string scratch = Scratch("camfolders"), pics = scratch + "\\pics";
    ASSERT_EQ(0u, Fotex("-q --filename " + pics + "\\top --capture-image-and-download --filename " + pics +
                        "\\DCIM\\100A\\a --capture-image-and-download --filename " + pics + "\\DCIM\\101B\\b --capture-image-and-download")
                      .exit);
    CreateDirectoryA((pics + "\\EMPTY").c_str(), nullptr);
    const std::string camera = "--virtual-folder " + pics + " ";
    EXPECT_EQ("There is 1 folder in folder '/'.\n - DCIM\nThere are 2 folders in folder '/DCIM'.\n - 100A\n - 101B\n"
              "There are no folders in folder '/DCIM/100A'.\nThere are no folders in folder '/DCIM/101B'.\n",
              Launch(camera + "-l").out);
    // As gphoto2, -n counts the folder's own files.
    EXPECT_EQ("Number of files in folder '/DCIM': 0\n", Launch(camera + "-f /DCIM -n").out);
    EXPECT_EQ("Number of files in folder '/DCIM/100A': 1\n", Launch(camera + "-f /DCIM/100A --no-recurse -n").out);
    EXPECT_EQ("Number of files in folder '/': 1\n", Launch(camera + "-n").out);
    EXPECT_EQ("There is no file in folder '/EMPTY'.\n", Launch(camera + "-f /EMPTY -L").out);
    // -L, -p and -d number the folder's files alike.
    const std::vector<std::string> listed = Lines(Launch(camera + "-f \\dcim\\101B\\ -L").out);
    ASSERT_EQ(2u, listed.size());
    EXPECT_EQ("There is 1 file in folder '/DCIM/101B'.", listed[0]);
    EXPECT_EQ("#1     b.jpg", listed[1].substr(0, 12));
    const Outcome get = Launch(camera + "-f /DCIM/101B -p 1 --filename " + scratch + "\\out\\%f");
    EXPECT_EQ(0u, get.exit) << get.err;
    EXPECT_EQ(Contents(pics + "\\DCIM\\101B\\b.jpg"), Contents(scratch + "\\out\\b.jpg"));
}

TEST(Folders, AFolderThatIsNoCameraFolderIsRefusedShowingTheNewForm) {
    const Outcome local = Fotex("-P -f out");
    EXPECT_EQ(2u, local.exit);
    EXPECT_TRUE(Contains(local.err, "to save into a folder here, give it in --filename: --filename \"out\\%f.%C\"")) << local.err;
    const Outcome none = Fotex("-P -f /nosuch");
    EXPECT_EQ(1u, none.exit);
    EXPECT_TRUE(Contains(none.err, "there is no folder /nosuch on the camera (see --list-folders)")) << none.err;
    EXPECT_EQ("", none.out);
}

// ---- Output for scripts ----------------------------------------------------------------------

// The bytes fotex writes when its standard output (and, given a file, its standard error) is a
// file, as they are.
std::pair<std::string, std::string> RawStreams(const std::string& args, const std::string& outName, const std::string& errName = "") {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE out = CreateFileA(outName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    const HANDLE err = errName.empty() ? GetStdHandle(STD_ERROR_HANDLE)
                                       : CreateFileA(errName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = out;
    start.hStdError = err;
    std::wstring command = Wide("fotex.exe --virtual " + args);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    if (!errName.empty()) CloseHandle(err);
    return {Contents(outName), errName.empty() ? std::string() : Contents(errName)};
}

std::string RawOutput(const std::string& args, const std::string& file) { return RawStreams(args, file).first; }

TEST(Scripts, ParsableLinesEndInALineFeedAloneAndNamesAreUtf8) {
    const std::string folder = Scratch("raw");
    const std::string records = RawOutput("--virtual-item \xC3\x9C" "ber\xE2\x82\xAC:jpg --parsable -f /DCIM -L -n", folder + "\\out.txt");
    EXPECT_EQ(std::string::npos, records.find('\r')) << records;
    EXPECT_TRUE(Contains(records, "\n5\t\xC3\x9C" "ber\xE2\x82\xAC.jpg\t")) << records;
    EXPECT_TRUE(Contains(records, "\n5\n")) << records;
}

TEST(Folders, TheFolderCameraListsEveryPictureVideoAndRawFile) {
    const std::string pics = Scratch("rawfiles");
    const char* const names[] = {"a.nef", "b.mp4", "c.heic", "d.mov", "e.cr2", "f.arw", "g.dng", "h.txt"};
    for (const char* name : names) Write(pics + "\\" + name, std::string("bytes of ") + name);
    const std::vector<std::string> lines = Lines(Launch("--virtual-folder " + pics + " -L").out);
    ASSERT_EQ(8u, lines.size());
    const char* const types[] = {"image/x-nikon-nef", "video/mp4", "image/heic", "video/quicktime", "image/x-canon-cr2",
                                 "image/x-sony-arw", "image/x-adobe-dng"};
    for (size_t i = 0; i < 7; ++i) EXPECT_TRUE(Contains(lines[i + 1], names[i]) && Contains(lines[i + 1], types[i])) << lines[i + 1];
}

// ---- gphoto2's other verbs -------------------------------------------------------------------

TEST(MoreVerbs, CameraChoosesTheDeviceByNameOrIdentifier) {
    for (const char* name : {"\"fotex pocket camera\"", "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0001"})
        EXPECT_TRUE(Contains(Fotex(std::string("--camera ") + name + " --summary").out, "Device:      1 of 2\n")) << name;
    ExpectRun("--camera nosuch --summary", 1, "", "fotex: no camera named 'nosuch' (see --auto-detect)\n");
    ExpectRun("--camera x --device 1 --summary", 2, "", "fotex: --device and --camera both choose the device: give one\n");
}

TEST(MoreVerbs, GetAllThumbnailsAndNewSaveOnlyWhatIsNotThereYet) {
    const std::string folder = Scratch("newfiles");
    const Outcome thumbs = Fotex("-T --filename " + folder + "\\t\\thumb_%f");
    EXPECT_TRUE(Contains(thumbs.out, " of 4 thumbnails saved, 0 skipped, ")) << thumbs.out;
    EXPECT_EQ("BM", Contents(folder + "\\t\\thumb_IMG_0001.bmp").substr(0, 2));
    const std::string record = folder + "\\n\\.fotex-saved";
    const Outcome first = Fotex("--new -P --filename " + folder + "\\n\\%f");
    EXPECT_EQ(0u, first.exit) << first.err;
    EXPECT_TRUE(Contains(first.out, "4 of 4 files saved, 0 skipped, 0 failed\n")) << first.out;
    EXPECT_EQ("fotex: note: --new records the files it saves in " + record + "\n", first.err);
    // Gone from the folder, still in the record: not saved again.
    DeleteFileA((folder + "\\n\\IMG_0001.jpg").c_str());
    const Outcome again = Fotex("--virtual-item fresh:jpg --new -P --filename " + folder + "\\n\\%f");
    EXPECT_EQ(0u, again.exit) << again.err;
    EXPECT_TRUE(Contains(again.out, "Skipping #1 IMG_0001.jpg: saved before, as " + record + " says\n")) << again.out;
    EXPECT_TRUE(Contains(again.out, "Saving file as " + folder + "\\n\\fresh.jpg\n1 of 5 files saved, 4 skipped, 0 failed\n")) << again.out;
    EXPECT_FALSE(Exists(folder + "\\n\\IMG_0001.jpg"));
}

TEST(MoreVerbs, SetConfigByIndexAndListAllConfigInGphoto2sLayout) {
    const std::vector<std::string> choices = OutputLines("--get-config flashmode");
    std::string second;
    for (const std::string& line : choices)
        if (line.compare(0, 9, "Choice: 1") == 0) second = line.substr(10);
    ASSERT_FALSE(second.empty());
    EXPECT_TRUE(Contains(Fotex("--set-config-index flashmode=1 --get-config flashmode").out, "Current: " + second + "\n"));
    ExpectRun("--set-config-index flashmode=99", 1, "", "fotex: flashmode has no choice 99 (" + std::to_string(choices.size() - 5) +
              " choices, from 0; see --get-config flashmode)\n");
    EXPECT_TRUE(Contains(Fotex("--set-config-value flashmode=fill --get-config flashmode").out, "Current: Fill\n"));
    const Outcome all = Fotex("--list-all-config");
    EXPECT_EQ(0u, all.exit);
    EXPECT_TRUE(Contains(all.out, "/main/settings/flashmode\nLabel: Flash Mode\n")) << all.out;
    EXPECT_TRUE(Contains(all.out, "/main/settings/artist\nLabel: ")) << all.out;
}

TEST(MoreVerbs, IntervalTakesItsFramesAndTheHookScriptHearsEachFile) {
    const std::string folder = Scratch("timelapse");
    Write(folder + "\\hook.bat", "@echo %ACTION% %ARGUMENT%>>" + folder + "\\hook.log\r\n");
    const Outcome run = Fotex("-I 0 -F 3 --filename " + folder + "\\tl%n --capture-image-and-download --hook-script " + folder + "\\hook.bat");
    EXPECT_EQ(0u, run.exit) << run.err;
    for (const char* n : {"1", "2", "3"}) EXPECT_TRUE(IsJpeg(folder + "\\tl" + n + ".jpg")) << n;
    const std::string log = Contents(folder + "\\hook.log");
    EXPECT_TRUE(Contains(log, "download " + folder + "\\tl1.jpg")) << log;
    EXPECT_TRUE(Contains(log, "download " + folder + "\\tl3.jpg")) << log;
    EXPECT_EQ(0u, log.find("init")) << log;
    EXPECT_TRUE(Contains(log, "stop")) << log;
    ExpectRun("-F 2 --capture-image", 2, "", "fotex: --frames goes with --interval\n");
}

// ---- Transfers: the camera's own format, progress, cancel, standard output --------------------

TEST(Transfers, FilesAreSavedInTheCamerasOwnFormatUnlessFormatIsGiven) {
    const std::string scratch = Scratch("ownformat"), pics = scratch + "\\pics";
    CreateDirectoryA(pics.c_str(), nullptr);
    const char* const names[] = {"a.nef", "b.mp4", "c.heic", "d.mov"};
    for (const char* name : names) Write(pics + "\\" + name, std::string("bytes of ") + name);
    const Outcome run = Launch("--virtual-folder " + pics + " -P --filename " + scratch + "\\out\\%f");
    EXPECT_EQ(0u, run.exit) << run.err;
    for (const char* name : names) EXPECT_EQ(std::string("bytes of ") + name, Contents(scratch + "\\out\\" + name)) << name;
    const Outcome refused = Launch("--virtual-folder " + pics + " --format jpg -p 1 --filename " + scratch + "\\jpg\\%f");
    EXPECT_EQ(1u, refused.exit);
    EXPECT_TRUE(Contains(refused.err, "(0x80070032)")) << refused.err;
    const Outcome info = Launch("--virtual-folder " + pics + " --show-info 1");
    EXPECT_TRUE(Contains(info.out, "  Format:      the camera's own, which has no FOTEX_FORMAT code\n")) << info.out;
}

TEST(Transfers, ShowInfoReadsTheItemsOwnHandle) {
    ExpectRun("--show-info 4", 0,
              "Information on file 'MOV_0001.avi' (folder '/DCIM'):\nFile:\n  Name:        'MOV_0001.avi'\n"
              "  Mime type:   'video/x-msvideo'\n  Size:        2562 byte(s)\n  Time:        2026-12-01T09:00:03\n"
              "  Type:        video\n  Format:      avi (FOTEX_FORMAT code 128)\n",
              "");
    ExpectRun("--show-info 9", 1, "", "fotex: file 9 is not on the camera (4 listed, from 1)\n");
}

TEST(Transfers, StdoutCarriesTheFilesBytesAlone) {
    const std::string folder = Scratch("stdout");
    ASSERT_EQ(0u, Fotex("-p 2 --filename " + folder + "\\%f").exit);
    EXPECT_EQ(Contents(folder + "\\IMG_0002.jpg"), RawOutput("--stdout -p 2", folder + "\\out.bin"));
}

TEST(Transfers, CtrlCCancelsTheTransferInFlightAndLeavesNoFile) {
    const std::string folder = Scratch("cancel");
    // A slowed transfer: the bar would show on a console, never in a redirected stderr.
    const Outcome run = Fotex("--virtual-rate 4000 --virtual-interrupt 3 --no-keep -P --filename " + folder + "\\%f");
    EXPECT_EQ(1u, run.exit);
    EXPECT_EQ("fotex: interrupted: 2 files not saved: #3 IMG_0003.jpg, #4 MOV_0001.avi\n", run.err);
    EXPECT_EQ((std::set<std::string>{"IMG_0001.jpg", "IMG_0002.jpg"}), FilesIn(folder));
    const Outcome tethered = Fotex("--virtual-rate 4000 --virtual-interrupt 1 --virtual-shutter 1 --capture-tethered=1 --filename " + folder +
                                   "\\t\\%f");
    EXPECT_EQ(1u, tethered.exit);
    EXPECT_TRUE(Contains(tethered.err, "interrupted: 0000\\Root\\DCIM\\IMG_0004 not saved; it stays on the camera")) << tethered.err;
    EXPECT_TRUE(FilesIn(folder + "\\t").empty());
}

// ---- No picture lost to a short write or a shared name ---------------------------------------

// `name` in `folder` in the long form, which takes names Windows reserves (CON.jpg) as written.
std::wstring LongPath(const std::string& folder, const std::string& name) {
    wchar_t full[MAX_PATH * 2];
    GetFullPathNameW(Wide(folder).c_str(), MAX_PATH * 2, full, nullptr);
    return L"\\\\?\\" + std::wstring(full) + L"\\" + Wide(name);
}

void WriteLong(const std::string& folder, const std::string& name, const std::string& bytes) {
    const HANDLE file = CreateFileW(LongPath(folder, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadLong(const std::string& folder, const std::string& name) {
    const HANDLE file = CreateFileW(LongPath(folder, name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return bytes;
}

TEST(Faults, AShortWriteTheServiceCallsSuccessIsNoSaveAndTheCameraKeepsThePicture) {
    const std::string folder = Scratch("short");
    const Outcome run = Fotex("--virtual-short-transfer 1 --no-keep -P --filename " + folder + "\\%f");
    EXPECT_EQ(1u, run.exit);
    EXPECT_TRUE(Contains(run.err, "could not save #1 IMG_0001.jpg as " + folder + "\\IMG_0001.jpg: ")) << run.err;
    EXPECT_TRUE(Contains(run.err, "(0x8007012B)")) << run.err;  // ERROR_PARTIAL_COPY
    EXPECT_FALSE(Contains(run.out, "Deleting IMG_0001.jpg")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Deleting IMG_0002.jpg from the camera\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "3 of 4 files saved, 0 skipped, 1 failed\n")) << run.out;
    EXPECT_EQ((std::set<std::string>{"IMG_0002.jpg", "IMG_0003.jpg", "MOV_0001.avi"}), FilesIn(folder));
    // A cut file left by something else is no copy of the picture: --skip-existing does not take it.
    const std::string whole = Contents(folder + "\\IMG_0002.jpg");
    Write(folder + "\\IMG_0001.jpg", whole.substr(0, whole.size() / 2));
    ExpectRun("--skip-existing -p 1-2 --filename " + folder + "\\%f", 1, "Skipping existing file " + folder + "\\IMG_0002.jpg\n",
              "fotex: could not save #1 IMG_0001.jpg: " + folder + "\\IMG_0001.jpg exists and holds another picture "
              "(--force-overwrite replaces it)\n");
}

// The card: two DCIM folders sharing names, RAW+JPEG pairs, videos and non-ASCII names. A real
// card's 314 files on x86_64; in the emulated i686 machine, where each file's save costs tens of
// times more and a shard has ten minutes, 32 of the same kinds: what the test checks (names
// shared across folders, %F, the skip rule) does not depend on the count, which only costs time.
struct CardShape {
    int pairs, shared, ownPairs, videos, umlaut, kanji, accent;
};
constexpr CardShape kCard = sizeof(void*) == 8 ? CardShape{60, 25, 50, 10, 5, 2, 17} : CardShape{5, 2, 4, 2, 2, 1, 3};

std::vector<std::string> MakeCard(const std::string& card) {
    std::vector<std::string> files;
    char name[64];
    auto add = [&](const std::string& folder, const std::string& leaf, const std::string& extra) {
        files.push_back(folder + "\\" + leaf);
        WriteLong(card + "\\" + folder, leaf, "bytes of " + folder + "/" + leaf + extra);
    };
    for (const char* folder : {"DCIM", "DCIM\\100CANON", "DCIM\\101CANON"}) CreateDirectoryW(Wide(card + "\\" + folder).c_str(), nullptr);
    for (int i = 1; i <= kCard.pairs; ++i)
        for (const char* ext : {"JPG", "CR2"}) {
            std::snprintf(name, sizeof name, "IMG_%04d.%s", i, ext);
            add("DCIM\\100CANON", name, "");
            // The second folder's files of the same names are other pictures, of other sizes.
            if (i <= kCard.shared) add("DCIM\\101CANON", name, ", taken later");
        }
    for (int i = 101; i < 101 + kCard.ownPairs; ++i)
        for (const char* ext : {"JPG", "CR2"}) {
            std::snprintf(name, sizeof name, "IMG_%04d.%s", i, ext);
            add("DCIM\\101CANON", name, "");
        }
    for (int i = 1; i <= kCard.videos; ++i) {
        std::snprintf(name, sizeof name, "MVI_%04d.MOV", 60 + i);
        add("DCIM\\100CANON", name, "");
        std::snprintf(name, sizeof name, "MVI_%04d.MP4", 150 + i);
        add("DCIM\\101CANON", name, "");
    }
    for (int i = 1; i <= kCard.umlaut; ++i) add("DCIM\\100CANON", "\xC3\x9Crlaub_0" + std::to_string(i) + ".JPG", "");
    for (int i = 1; i <= kCard.kanji; ++i) add("DCIM\\100CANON", "\xE6\x9D\xB1\xE4\xBA\xAC_0" + std::to_string(i) + ".MP4", "");
    for (int i = 1; i <= kCard.accent; ++i) add("DCIM\\101CANON", "\xC3\x89t\xC3\xA9_" + std::to_string(100 + i) + ".JPG", "");
    return files;
}

TEST(AllFiles, ACardWhoseFoldersShareNamesIsSavedWholeByTheCameraFolder) {
    const std::string scratch = Scratch("card"), card = scratch + "\\card";
    CreateDirectoryA(card.c_str(), nullptr);
    const std::vector<std::string> files = MakeCard(card);
    const size_t all = files.size(), shared = 2 * kCard.shared, apart = all - shared;
    ASSERT_EQ(sizeof(void*) == 8 ? 314u : 32u, all);
    const std::string total = " of " + std::to_string(all) + " files saved, ";
    const std::string camera = "--virtual-folder " + card + " -q -P ";
    // Into one folder: the second folder's files of the first's names are refused, each time.
    for (int run = 0; run < 2; ++run) {
        const Outcome flat = Launch("--virtual-folder " + card + " -P --skip-existing --filename " + scratch + "\\flat\\%f.%C");
        EXPECT_EQ(1u, flat.exit) << run;
        const std::string counts = run == 0 ? std::to_string(apart) + total + "0 skipped, " : "0" + total + std::to_string(apart) + " skipped, ";
        EXPECT_TRUE(Contains(flat.out, counts + std::to_string(shared) + " failed\n"))
            << run << "\n" << flat.out.substr(flat.out.size() > 200 ? flat.out.size() - 200 : 0);
        EXPECT_EQ(shared, Lines(flat.err).size()) << run;
        EXPECT_TRUE(Contains(flat.err, " IMG_0001.JPG: " + scratch + "\\flat\\IMG_0001.JPG ")) << flat.err;
        EXPECT_TRUE(Contains(flat.err, "; --filename '%F/%f.%C' keeps each camera folder's files apart\n")) << flat.err;
        EXPECT_FALSE(Contains(flat.err, "--force-overwrite")) << flat.err;
    }
    // By the camera folder, gphoto2's way: every file, and the second time none again.
    const Outcome first = Launch(camera + "--filename " + scratch + "\\tree\\%F/%f.%C");
    EXPECT_EQ(0u, first.exit) << first.err;
    const std::set<std::string> saved = FilesUnder(scratch + "\\tree");
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), saved);
    for (const std::string& file : files)
        EXPECT_EQ(ReadLong(card, file), ReadLong(scratch + "\\tree", file)) << file;
    const Outcome again = Launch("--virtual-folder " + card + " -P --skip-existing --filename " + scratch + "\\tree\\%F/%f.%C");
    EXPECT_EQ(0u, again.exit) << again.err;
    EXPECT_TRUE(Contains(again.out, "\n0" + total + std::to_string(all) + " skipped, 0 failed\n")) << again.out.substr(again.out.size() - 100);
}

TEST(Scripts, TheHookHearsStartAndTheRealPathAndAFailureAtInitStopsFotex) {
    const std::string folder = Scratch("hookstart");
    // cmd writes its log in the system code page: the script logs ARGUMENT's last four characters.
    const std::string log = folder + "\\hook.log";
    Write(folder + "\\hook.bat", "@echo %ACTION%>>" + log + "\r\n@if \"%ACTION%\"==\"download\" echo %ARGUMENT:~-4%>>" + log +
                                     "\r\n@if \"%ACTION%\"==\"init\" if exist " + folder + "\\fail exit /b 3\r\n");
    // A name the file system cuts on the way (Wine: a Unix name at 255 bytes) is named as saved.
    std::string longName;
    for (int i = 0; i < 100; ++i) longName += "\xE6\x9D\xB1";
    const Outcome run = Fotex("--virtual-item " + longName + ":jpg -p 5 --filename " + folder + "\\%f --hook-script " + folder + "\\hook.bat");
    EXPECT_EQ(0u, run.exit) << run.err;
    ASSERT_EQ(0u, run.out.find("Saving file as ")) << run.out;
    const std::string saved = run.out.substr(15, run.out.size() - 16);
    EXPECT_TRUE(Exists(saved)) << saved;
    const std::string heard = Contents(log);
    EXPECT_EQ(0u, heard.find("init\r\nstart\r\ndownload\r\n")) << heard;
    EXPECT_EQ(heard.size() - 8, heard.find("\r\nstop\r\n")) << heard;
    // The name the file got (cut, without extension, under Wine) is the one the script hears.
    EXPECT_EQ(saved.compare(saved.size() - 4, 4, ".jpg") == 0, Contains(heard, "\r\n.jpg\r\n")) << saved << "\n" << heard;
    // As gphoto2: a script failing at init stops everything.
    Write(folder + "\\fail", "");
    DeleteFileA(log.c_str());
    const Outcome failed = Fotex("-p 1 --filename " + folder + "\\%f --hook-script " + folder + "\\hook.bat");
    EXPECT_EQ(1u, failed.exit);
    EXPECT_TRUE(Contains(failed.err, "fotex: the hook script failed at init: nothing done\n")) << failed.err;
    EXPECT_FALSE(Exists(folder + "\\IMG_0001.jpg"));
    EXPECT_EQ("init\r\n", Contents(log));
}

TEST(Folders, NamesWindowsReservesAreTransferredAndAFileIsNoFolder) {
    const std::string scratch = Scratch("reserved"), pics = scratch + "\\pics";
    CreateDirectoryA(pics.c_str(), nullptr);
    const char* const names[] = {"CON.JPG", "aux.mp4", "trail .jpg"};
    for (const char* name : names) WriteLong(pics, name, std::string("bytes of ") + name);
    const Outcome run = Launch("--virtual-folder " + pics + " -P --filename " + scratch + "\\out\\%f");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_EQ((std::set<std::string>{"CON_.JPG", "aux_.mp4", "trail _.jpg"}), FilesUnder(scratch + "\\out")) << run.out;
    EXPECT_EQ("bytes of CON.JPG", ReadLong(scratch + "\\out", "CON_.JPG"));
    // The folder in the other spellings Windows takes: forward slashes, a device path.
    char full[MAX_PATH];
    ASSERT_NE(0u, GetFullPathNameA(pics.c_str(), MAX_PATH, full, nullptr));
    std::string slashed = pics + "/";
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    for (const std::string& spelling : {slashed, "\\\\.\\" + std::string(full)}) {
        const Outcome other = Launch("--virtual-folder " + spelling + " -P --filename " + scratch + "\\other\\%f");
        EXPECT_EQ(0u, other.exit) << spelling << "\n" << other.err;
        EXPECT_EQ("bytes of CON.JPG", ReadLong(scratch + "\\other", "CON_.JPG")) << spelling;
        RemoveTree(scratch + "\\other");
    }
    // gphoto2: "Directory not found" for a file.
    const Outcome file = Fotex("-P -f /DCIM/IMG_0001");
    EXPECT_EQ(1u, file.exit);
    EXPECT_TRUE(Contains(file.err, "fotex: there is no folder /DCIM/IMG_0001 on the camera: it is a file (see --list-folders)")) << file.err;
    EXPECT_EQ("", file.out);
}

TEST(Scripts, Gphoto2sHabitsForLinesCountsSettingsAndFields) {
    const std::string folder = Scratch("habits");
    // Lines end in LF alone, results and errors alike.
    const auto streams = RawStreams("-L -n -p 1,9 --filename " + folder + "\\%f", folder + "\\out.txt", folder + "\\err.txt");
    EXPECT_TRUE(Contains(streams.first, "There are 4 files in folder '/DCIM'.\n#1 ")) << streams.first;
    EXPECT_TRUE(Contains(streams.first, "Number of files in folder '/': 0\nSaving file as ")) << streams.first;
    EXPECT_EQ("fotex: file 9 is not on the camera (4 listed, from 1)\n", streams.second);
    EXPECT_EQ(std::string::npos, (streams.first + streams.second).find('\r'));
    // A setting by its path as --list-all-config prints it, or by its name.
    EXPECT_TRUE(Contains(Fotex("--set-config /main/settings/flashmode=fill --get-config /main/settings/flashmode").out, "Current: Fill\n"));
    // gphoto2's fields: the camera folder, the whole name, the date's; %n from --filenumber.
    const Outcome fields = Fotex("--filenumber 10 -p 3 --filename " + folder + "\\%n-%y%b%a%j-%I%p-%F-%:");
    EXPECT_EQ(0u, fields.exit) << fields.err;
    EXPECT_EQ("Saving file as " + folder + "\\12-26DecTue335-09AM-DCIM-IMG_0003.jpg\n", fields.out);
    const Outcome help = Launch("--help");
    EXPECT_TRUE(Contains(help.out, "save every picture and video of the camera folder --folder")) << help.out;
}

TEST(MoreVerbs, NewRecordsEverySavedPictureAndARecordNotWrittenLosesNoCount) {
    const std::string folder = Scratch("newgaps");
    // Saved but not deleted: recorded all the same.
    const Outcome kept = Fotex("--new --virtual-fail-delete 1 --no-keep -p 1-2 --filename " + folder + "\\a\\%f");
    EXPECT_EQ(1u, kept.exit);
    EXPECT_EQ(2u, Lines(Contents(folder + "\\a\\.fotex-saved")).size());
    // A record that cannot be written: the pictures are saved and counted so, and each is named.
    CreateDirectoryA((folder + "\\b").c_str(), nullptr);
    CreateDirectoryA((folder + "\\b\\.fotex-saved").c_str(), nullptr);
    const Outcome unrecorded = Fotex("--new -P --filename " + folder + "\\b\\%f");
    EXPECT_EQ(1u, unrecorded.exit);
    EXPECT_TRUE(Contains(unrecorded.out, "4 of 4 files saved, 0 skipped, 0 failed\n")) << unrecorded.out;
    EXPECT_TRUE(Contains(unrecorded.err, "fotex: #1 IMG_0001.jpg is saved as " + folder + "\\b\\IMG_0001.jpg, but could not be recorded in " +
                                             folder + "\\b\\.fotex-saved: a later --new saves it again\n")) << unrecorded.err;
}

// ---- A camera's conditions ----------------------------------------------------------------

// Unplugged part-way through the second file and back with a new root: the files listed anew
// are walked again, and --skip-existing saves exactly those not saved yet.
TEST(Conditions, DownloadGoesOnAfterTheCameraCameBack) {
    const std::string whole = Scratch("conditions-whole");
    ASSERT_EQ(0u, Fotex("-P --filename " + whole + "\\%f.%C").exit);
    const size_t first = Contents(whole + "\\IMG_0001.jpg").size();
    ASSERT_GT(first, 0u);
    const std::string folder = Scratch("conditions");
    const Outcome run = Fotex("--virtual-unplug-after " + std::to_string(first + 10) + " -P --skip-existing --filename " +
                              folder + "\\%f.%C");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("fotex: the camera went away; waiting for it")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("fotex: the camera is back; going on")) << run.err;
    for (const char* name : {"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "MOV_0001.avi"})
        EXPECT_EQ(Contents(whole + "\\" + name), Contents(folder + "\\" + name)) << name << "\n" << run.out;
    const std::vector<std::string> lines = Lines(run.out);
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
                  return l.find("Skipping existing file") != std::string::npos;
              })) << "the one file saved before the cut\n" << run.out;
    EXPECT_TRUE(Contains(run.out, "4 of 4 files saved, 0 skipped, 0 failed")) << "saved by this run\n" << run.out;
}

TEST(Conditions, DebugSendsTheLibrarysLinesToStandardErrorOrAFile) {
    const Outcome run = Fotex("--virtual-busy-after-shot 100 --debug --capture-image --capture-image");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("fotex: debug: The camera is busy; trying again in 20 ms: HRESULT: 0x80210006"))
        << run.err;
    const std::string folder = Scratch("debuglog");
    const std::string log = folder + "\\debug.log";
    const Outcome logged = Fotex("--virtual-held --debug-logfile " + log + " --storage-info");  // one device call: one busy wait
    EXPECT_NE(std::string::npos, Contents(log).find("fotex: debug: The camera stayed busy: HRESULT: 0x80210006"))
        << Contents(log) << logged.err;
}

// ---- A camera as Windows' PTP layer shows it -------------------------------------------------

// A RAW+JPEG camera's card of 200 pairs in two DCIM folders, shown flat: each pair is two files
// of one name, which the listing, the download, the name patterns, --skip-existing and --new
// take as two. Small files: the count is what is tested. In the emulated i686 machine, where
// each file's save costs tens of times more, 12 pairs: the checks do not depend on the count.
constexpr int kPtpPairs = sizeof(void*) == 8 ? 200 : 12;

TEST(AllFiles, APtpCardOf200RawAndJpegPairsDownloadsTo400FilesOfTheCamerasBytes) {
    const std::string scratch = Scratch("ptpcard"), card = scratch + "\\card";
    for (const char* folder : {"", "\\DCIM", "\\DCIM\\100CANON", "\\DCIM\\101CANON"}) CreateDirectoryA((card + folder).c_str(), nullptr);
    std::vector<std::string> names, sources;
    char name[32];
    for (int i = 1; i <= kPtpPairs; ++i)
        for (const char* ext : {"CR2", "JPG"}) {
            std::snprintf(name, sizeof name, "IMG_%04d.%s", i, ext);
            names.push_back(name);
            sources.push_back(card + (i <= kPtpPairs / 2 ? "\\DCIM\\100CANON\\" : "\\DCIM\\101CANON\\") + name);
            Write(sources.back(), std::string("bytes of ") + name + (ext[0] == 'C' ? " as the sensor saw them" : ""));
        }
    const std::string camera = "--virtual-folder " + card + " --virtual-ptp ";
    const std::vector<std::string> listed = Lines(Launch(camera + "-L").out);
    const size_t files = names.size(), last = files - 1;
    ASSERT_EQ(files + 1, listed.size());
    EXPECT_EQ("There are " + std::to_string(files) + " files in folder '/'.", listed[0]);
    for (size_t i : {size_t{0}, size_t{1}, last - 1, last})
        EXPECT_TRUE(Contains(listed[i + 1], "#" + std::to_string(i + 1) + " ") && Contains(listed[i + 1], " " + names[i] + " "))
            << listed[i + 1];
    const Outcome all = Launch(camera + "-q -P --filename " + scratch + "\\out\\%f.%C");
    EXPECT_EQ(0u, all.exit) << all.err;
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), FilesUnder(scratch + "\\out"));
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(Contents(sources[i]), Contents(scratch + "\\out\\" + names[i])) << names[i];
    // Both halves of a pair are the same picture as their own file, so both are left (a few
    // pairs: in the emulated i686 machine each file costs tens of times more).
    const Outcome again = Launch(camera + "-p 1-6," + std::to_string(files - 5) + "-" + std::to_string(files) +
                                 " --skip-existing --filename " + scratch + "\\out\\%f.%C");
    EXPECT_EQ(0u, again.exit) << again.err;
    for (size_t i : {size_t{0}, size_t{1}, last - 1, last})
        EXPECT_TRUE(Contains(again.out, "Skipping existing file " + scratch + "\\out\\" + names[i] + "\n")) << again.out;
    EXPECT_EQ(12u, Lines(again.out).size()) << again.out;
    // A pattern without %C still gets each half's own extension; --new records each half.
    const Outcome some = Launch(camera + "--new -p 1-2 --filename " + scratch + "\\new\\%f");
    EXPECT_EQ(0u, some.exit) << some.err;
    EXPECT_EQ((std::set<std::string>{".fotex-saved", "IMG_0001.CR2", "IMG_0001.JPG"}), FilesIn(scratch + "\\new"));
    const Outcome more = Launch(camera + "--new -p 1-4 --filename " + scratch + "\\new\\%f");
    EXPECT_EQ(0u, more.exit) << more.err;
    for (const char* skipped : {"#1 IMG_0001.CR2", "#2 IMG_0001.JPG"})
        EXPECT_TRUE(Contains(more.out, std::string("Skipping ") + skipped + ": saved before")) << more.out;
    EXPECT_EQ((std::set<std::string>{".fotex-saved", "IMG_0001.CR2", "IMG_0001.JPG", "IMG_0002.CR2", "IMG_0002.JPG"}),
              FilesIn(scratch + "\\new"));
}

TEST(Folders, VirtualPtpMakesTheBuiltInCameraShootPairsAndNeedsAVirtualCamera) {
    const std::vector<std::string> lines = Lines(Fotex("--virtual-ptp -L").out);
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("There are 7 files in folder '/'.", lines[0]);
    const char* const names[] = {"IMG_0001.nef", "IMG_0001.jpg", "IMG_0002.nef", "IMG_0002.jpg", "IMG_0003.nef", "IMG_0003.jpg", "MOV_0001.avi"};
    for (size_t i = 0; i < 7; ++i) EXPECT_TRUE(Contains(lines[i + 1], std::string(" ") + names[i] + " ")) << lines[i + 1];
    // The camera's own button takes a pair too, and a nameless picture is named by its number.
    const std::vector<std::string> shot = Lines(Fotex("--virtual-ptp --virtual-item :jpg -L").out);
    ASSERT_EQ(10u, shot.size());
    EXPECT_TRUE(Contains(shot[8], " Image8.nef ")) << shot[8];
    EXPECT_TRUE(Contains(shot[9], " Image8.jpg ")) << shot[9];
    // The halves' thumbnails share thumb_%f.bmp: the second is refused with the pattern that
    // keeps them apart, which saves both.
    const std::string thumbs = Scratch("ptpthumbs");
    const Outcome shared = Fotex("--virtual-ptp -t 1-2 --filename " + thumbs + "\\thumb_%f.bmp");
    EXPECT_EQ(1u, shared.exit);
    EXPECT_EQ("fotex: could not save #2 IMG_0001.jpg: " + thumbs + "\\thumb_IMG_0001.bmp was saved by this run already, "
              "from another file of the same name; --filename 'thumb_%:.bmp' keeps the halves of a pair apart\n",
              shared.err);
    const Outcome apart = Fotex("--virtual-ptp -t 1-2 --filename " + thumbs + "\\thumb_%:.bmp");
    EXPECT_EQ(0u, apart.exit) << apart.err;
    EXPECT_EQ((std::set<std::string>{"thumb_IMG_0001.bmp", "thumb_IMG_0001.nef.bmp", "thumb_IMG_0001.jpg.bmp"}), FilesIn(thumbs));
    const Outcome alone = Launch("--virtual-ptp -L");
    EXPECT_EQ(2u, alone.exit);
    EXPECT_EQ("fotex: --virtual-ptp needs --virtual or --virtual-folder\n", alone.err);
}

// Two new pictures in one look, the camera pulled out during the first and back with a new root:
// both are saved, and nothing the camera held before.
TEST(Conditions, TetheredCaptureSavesTheRestOfALookAfterTheCameraCameBack) {
    const std::string folder = Scratch("conditions-tethered");
    const Outcome run = Fotex("--virtual-events none --poll 1 --virtual-shutter 2 --capture-tethered=2 --virtual-unplug-after 100 "
                              "--filename " + folder + "\\%f");
    EXPECT_EQ(0u, run.exit) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("fotex: the camera is back; going on")) << run.err;
    EXPECT_TRUE(IsJpeg(folder + "\\IMG_0004.jpg")) << run.out;
    EXPECT_TRUE(IsJpeg(folder + "\\IMG_0005.jpg")) << run.out;
    for (const char* before : {"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "MOV_0001.avi"})
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\" + before).c_str())) << before << "\n" << run.out;
}
