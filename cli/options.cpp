// The command line: long options with "--opt VALUE" or "--opt=VALUE", short ones as gphoto2
// has them ("-f FOLDER", "-fFOLDER", "-qa"). Options that shape an action apply to the actions after
// them; an action with none before it takes the first one after it, so both
// "--filename x --capture-image-and-download" and gphoto2's order work.
#include "options.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "fotexsim_api.h"
#include "text.h"

namespace fotexcli {

namespace {

// Optional: a value only in the --opt=VALUE form, so a following option is never taken for it.
enum class Takes { Nothing, Value, Optional };
using Runner = int (*)(Session&, const Action&);
using Checker = std::string (*)(const Action&);

enum class Kind {
    Action,    // something to do, in command-line order
    Shaping,   // shapes the actions around it (field)
    Virtual,   // --virtual
    VirtualFolder,  // --virtual-folder DIR
    VirtualShutter, // --virtual-shutter N
    VirtualItem,    // --virtual-item NAME[:EXT]
    VirtualInterrupt,  // --virtual-interrupt N
    VirtualFlood,   // --virtual-flood N
    VirtualFault,   // --virtual-cut-transfer N, --virtual-fail-delete N, --virtual-short-transfer N
    Device,    // --device N
    CameraFolder,  // -f FOLDER
    Camera,    // --camera NAME
    New,       // --new
    Interval,  // -I SECONDS
    Frames,    // -F N
    Hook,      // --hook-script FILE
    FileNumber,  // --filenumber N
    Stdout,    // --stdout
    VirtualRate,  // --virtual-rate N
    VirtualEvents,  // --virtual-events MODE[:N]
    VirtualShutterEvery,  // --virtual-shutter-every MS
    Poll,      // --poll SECONDS
    VirtualCondition,  // --virtual-busy-after-shot MS, --virtual-held, --virtual-asleep, --virtual-unplug-after N
    Debug,     // --debug, --debug-logfile FILE
    Recurse,   // -R, --no-recurse
    Quiet,     // -q
    Parsable,  // --parsable
    Help,      // -h, --help, --usage
};

struct Option {
    const char* name;
    char shortName;
    Kind kind;
    Takes takes;
    const char* value;   // the value's name in --help
    unsigned fields;     // Action: the Shape fields it reads; Shaping: the one it sets
    Runner run;
    Checker check;
    const char* help;    // "\n" starts a new line of help
    const char* section = nullptr;  // a heading in --help before this row
};

const Option kOptions[] = {
    {"help", 'h', Kind::Help, Takes::Nothing, nullptr, 0, nullptr, nullptr, "show this text (also --usage, and fotex alone)",
     "Common options"},
    {"usage", 0, Kind::Help, Takes::Nothing, nullptr, 0, nullptr, nullptr, nullptr},
    {"version", 'v', Kind::Action, Takes::Nothing, nullptr, 0, Version, nullptr, "show the library's version"},
    {"quiet", 'q', Kind::Quiet, Takes::Nothing, nullptr, 0, nullptr, nullptr, "print results only: no progress lines, no notes"},
    {"parsable", 0, Kind::Parsable, Takes::Nothing, nullptr, 0, nullptr, nullptr,
     "one record a line, fields separated by tabs, each line ending in\nLF alone (--auto-detect, --list-files, --num-files, --list-config,\n"
     "--storage-info, --wait-event); implies --quiet"},
    {"virtual", 0, Kind::Virtual, Takes::Nothing, nullptr, 0, nullptr, nullptr, "register the virtual camera in this process first"},
    {"virtual-folder", 0, Kind::VirtualFolder, Takes::Value, "DIR", 0, nullptr, nullptr,
     "also a virtual camera whose files are the pictures and videos\nunder DIR (its subfolders are camera folders); it is device 2, the\ndefault without --virtual"},
    {"virtual-shutter", 0, Kind::VirtualShutter, Takes::Value, "N", 0, nullptr, nullptr,
     "press the virtual camera's own button N times while fotex waits\nfor events (--wait-event, --capture-tethered)"},
    {"virtual-item", 0, Kind::VirtualItem, Takes::Value, "NAME[:EXT]", 0, nullptr, nullptr,
     "the virtual camera's button takes a picture named NAME, with the\nextension EXT if given (%XX: any byte, as %3A for ':'); at once,\n"
     "or with --virtual-shutter as its first presses"},
    {"virtual-interrupt", 0, Kind::VirtualInterrupt, Takes::Value, "N", 0, nullptr, nullptr,
     "act as if Ctrl-C were pressed once N files are saved"},
    {"virtual-flood", 0, Kind::VirtualFlood, Takes::Value, "N", 0, nullptr, nullptr,
     "once fotex waits for events, the other virtual camera takes N\npictures, then this one one (after --virtual-item), all at once:\nmore than the event queue holds, so events are lost"},
    {"virtual-cut-transfer", 0, Kind::VirtualFault, Takes::Value, "N", 0, nullptr, nullptr,
     "the virtual cameras' Nth transfer fails half-way: the disk is full"},
    {"virtual-short-transfer", 0, Kind::VirtualFault, Takes::Value, "N", 0, nullptr, nullptr,
     "the virtual cameras' Nth transfer writes half the file and reports\nsuccess, as a faulty service"},
    {"virtual-fail-delete", 0, Kind::VirtualFault, Takes::Value, "N", 0, nullptr, nullptr,
     "the virtual cameras' Nth deletion of a file fails"},
    {"virtual-events", 0, Kind::VirtualEvents, Takes::Value, "MODE", 0, nullptr, nullptr,
     "how the virtual camera sends its item events: all (default), none,\nlost:PERCENT, twice, late:MS, or deleted-first (each picture is\n"
     "first an item deleted before its event comes)"},
    {"virtual-shutter-every", 0, Kind::VirtualShutterEvery, Takes::Value, "MS", 0, nullptr, nullptr,
     "the --virtual-shutter presses come MS milliseconds apart by the\nclock, also while fotex saves a picture"},
    {"virtual-rate", 0, Kind::VirtualRate, Takes::Value, "N", 0, nullptr, nullptr,
     "the virtual camera transfers N bytes a second, so that progress\nand Ctrl-C can be seen"},
    {"virtual-busy-after-shot", 0, Kind::VirtualCondition, Takes::Value, "MS", 0, nullptr, nullptr,
     "the virtual camera is busy for MS milliseconds after each picture"},
    {"virtual-held", 0, Kind::VirtualCondition, Takes::Nothing, nullptr, 0, nullptr, nullptr,
     "another program holds the virtual camera: it answers busy"},
    {"virtual-asleep", 0, Kind::VirtualCondition, Takes::Nothing, nullptr, 0, nullptr, nullptr,
     "the virtual camera is asleep: it answers offline"},
    {"virtual-unplug-after", 0, Kind::VirtualCondition, Takes::Value, "N", 0, nullptr, nullptr,
     "the virtual camera is unplugged after N bytes of its next transfer,\nand plugged in again a moment later"},
    {"debug", 0, Kind::Debug, Takes::Nothing, nullptr, 0, nullptr, nullptr, "the library's trace lines on standard error"},
    {"debug-logfile", 0, Kind::Debug, Takes::Value, "FILE", 0, nullptr, nullptr, "the library's trace lines into FILE"},
    {"device", 0, Kind::Device, Takes::Value, "N", 0, nullptr, nullptr, "the device to use, by its index in --auto-detect (default 0)"},
    {"camera", 0, Kind::Camera, Takes::Value, "NAME", 0, nullptr, nullptr, "the device to use, by its name or identifier (any case)"},

    {"auto-detect", 0, Kind::Action, Takes::Nothing, nullptr, 0, AutoDetect, nullptr, "list the image-acquisition devices", "Camera"},
    {"summary", 0, Kind::Action, Takes::Nothing, nullptr, 0, Summary, nullptr, "show the device's identity and settings"},
    {"abilities", 'a', Kind::Action, Takes::Nothing, nullptr, 0, Abilities, nullptr, "show which commands the camera offers"},
    {"storage-info", 0, Kind::Action, Takes::Nothing, nullptr, 0, StorageInfo, nullptr, "show how many pictures were taken and how many fit"},

    {"folder", 'f', Kind::CameraFolder, Takes::Value, "FOLDER", 0, nullptr, nullptr,
     "the camera folder to list and download from (/DCIM/100TEST, as\n--list-folders shows; default /). Files go where --filename says",
     "Files on the camera"},
    {"recurse", 'R', Kind::Recurse, Takes::Nothing, nullptr, 0, nullptr, nullptr, "with the folder's subfolders (default)"},
    {"no-recurse", 0, Kind::Recurse, Takes::Nothing, nullptr, 0, nullptr, nullptr, "the folder's own files only"},
    {"list-folders", 'l', Kind::Action, Takes::Nothing, nullptr, 0, ListFolders, nullptr, "list the camera's folders"},
    {"list-files", 'L', Kind::Action, Takes::Nothing, nullptr, 0, ListFiles, nullptr,
     "list the files: number, name, size, type, time"},
    {"num-files", 'n', Kind::Action, Takes::Nothing, nullptr, 0, NumFiles, nullptr, "show how many files there are"},
    {"show-info", 0, Kind::Action, Takes::Value, "N", 0, ShowInfo, CheckShowInfo,
     "show file N's name, folder, size, time, type and format"},
    {"get-file", 'p', Kind::Action, Takes::Value, "RANGE", kFilename | kFormat | kKeep | kExisting, GetFile, CheckFiles,
     "save the files of these numbers (3, or 1-3,7) under --filename\n(default %f.%C: the camera's names), in the camera's own format\n"
     "unless --format"},
    {"stdout", 0, Kind::Stdout, Takes::Nothing, nullptr, 0, nullptr, nullptr,
     "--get-file writes the files' bytes to standard output, and nothing\nelse goes there"},
    {"get-thumbnail", 't', Kind::Action, Takes::Value, "RANGE", kFilename | kExisting, GetThumbnail, CheckFiles,
     "save their thumbnails as BMP files (default thumb_%f.bmp)"},
    {"get-all-thumbnails", 'T', Kind::Action, Takes::Nothing, nullptr, kFilename | kExisting, GetAllThumbnails, CheckGetAllFiles,
     "save every file's thumbnail (default thumb_%f.bmp)"},
    {"new", 0, Kind::New, Takes::Nothing, nullptr, 0, nullptr, nullptr,
     "with -p, -P, -t, -T: only files not saved before by --new, as the\nrecord .fotex-saved in the target folder says (it is made there)"},
    {"delete-file", 'd', Kind::Action, Takes::Value, "RANGE", 0, DeleteFiles, CheckFiles, "delete the files of these numbers from the camera"},

    {"capture-image", 0, Kind::Action, Takes::Nothing, nullptr, 0, CaptureImage, nullptr,
     "take a picture and leave it on the camera", "Pictures"},
    {"capture-image-and-download", 0, Kind::Action, Takes::Nothing, nullptr, kFilename | kFormat | kKeep | kExisting,
     CaptureAndDownload, CheckCapture, "take a picture and save it as --filename"},
    {"get-all-files", 'P', Kind::Action, Takes::Nothing, nullptr, kFilename | kPrefix | kFormat | kKeep | kExisting,
     GetAllFiles, CheckGetAllFiles,
     "save every picture and video of the camera folder --folder, each\nin its own format (unless --format) and each failure named, the\n"
     "rest still saved, under --filename (default %f.%C: the camera's\nnames, in the current folder) with the file rules; with --prefix,\n"
     "fotex 1.3's names instead"},
    {"interval", 'I', Kind::Interval, Takes::Value, "SECONDS", 0, nullptr, nullptr,
     "repeat --capture-image and --capture-image-and-download every\nSECONDS, until --frames pictures or Ctrl-C"},
    {"frames", 'F', Kind::Frames, Takes::Value, "N", 0, nullptr, nullptr, "the number of pictures --interval takes"},
    {"hook-script", 0, Kind::Hook, Takes::Value, "FILE", 0, nullptr, nullptr,
     "run FILE after each file saved, with ACTION=download and ARGUMENT\nthe file's path in its environment; ACTION=init and start before\n"
     "the first action (a script failing at init stops fotex), stop\nafter the last"},
    {"delete-all-files", 'D', Kind::Action, Takes::Nothing, nullptr, 0, DeleteAllFiles, nullptr, "delete every picture and video on the camera"},
    {"dialog", 0, Kind::Action, Takes::Nothing, nullptr, kExisting, Dialog, nullptr,
     "acquire a picture through the system dialog; it always saves C:\\kalto.jpg"},

    {"filename", 0, Kind::Shaping, Takes::Value, "PATTERN", kFilename, nullptr, nullptr,
     "file name, with the folder it goes in (made with its parents when\nmissing): out\\%f.%C (captures: capt%04n); the format's extension\n"
     "is added unless the name ends in it; patterns below",
     "Options for saving pictures: each applies to the actions after it;\n"
     "given after actions without one of their own, to those"},
    {"format", 0, Kind::Shaping, Takes::Value, "F", kFormat, nullptr, nullptr, "a format code or extension (captures: jpg; files: their own)"},
    {"prefix", 0, Kind::Shaping, Takes::Value, "P", kPrefix, nullptr, nullptr,
     "--get-all-files names files as fotex 1.3 did: P<number>.EXT (images\nand videos numbered apart, from 0; names in use getting ~1, ~2, ...)"},
    {"force-overwrite", 0, Kind::Shaping, Takes::Nothing, nullptr, kExisting, nullptr, nullptr,
     "replace a file of the same name (by default fotex refuses), but\n"
     "never one this run saved, under any of its names"},
    {"skip-existing", 0, Kind::Shaping, Takes::Nothing, nullptr, kExisting, nullptr, nullptr,
     "leave a file of the same name alone and go on with the next when\n"
     "it is the same picture (its size and time); another file of that\n"
     "name, or one this run saved, is refused, not left"},
    {"filenumber", 0, Kind::FileNumber, Takes::Value, "N", 0, nullptr, nullptr, "what %n is for the first file (default 1)"},
    {"keep", 0, Kind::Shaping, Takes::Nothing, nullptr, kKeep, nullptr, nullptr, "keep saved pictures on the camera (default)"},
    {"no-keep", 0, Kind::Shaping, Takes::Nothing, nullptr, kKeep, nullptr, nullptr, "delete each picture from the camera once saved"},

    {"wait-event", 0, Kind::Action, Takes::Optional, "COUNT|Ns", 0, WaitEvent, CheckUntil,
     "print each camera event on a line: kind, device, item; until COUNT\nevents, N seconds (Ns, Nms) or Ctrl-C", "Camera events"},
    {"capture-tethered", 0, Kind::Action, Takes::Optional, "COUNT|Ns", kFilename | kFormat | kKeep | kExisting,
     CaptureTethered, CheckUntil,
     "save each new picture the camera takes (default %f.%C), with the\nfile rules, until COUNT pictures, N seconds or Ctrl-C; each once,\n"
     "found by listing the camera when an event or --poll wakes fotex"},
    {"wait-event-and-download", 0, Kind::Action, Takes::Optional, "COUNT|Ns", kFilename | kFormat | kKeep | kExisting,
     CaptureTethered, CheckUntil, "the same as --capture-tethered (gphoto2's name)"},
    {"poll", 0, Kind::Poll, Takes::Value, "SECONDS", 0, nullptr, nullptr,
     "while tethered, list the camera every SECONDS without an event too\n(default 2; 0: only when an event comes)"},

    {"list-config", 0, Kind::Action, Takes::Nothing, nullptr, 0, ListConfig, nullptr, "list every camera setting with its value",
     "Camera settings"},
    {"get-config", 0, Kind::Action, Takes::Value, "NAME", 0, GetConfig, CheckGetConfig, "show one setting (names as --list-config shows them)"},
    {"set-config", 0, Kind::Action, Takes::Value, "NAME=VALUE", 0, SetConfig, CheckSetConfig, "change one setting"},
    {"set-config-value", 0, Kind::Action, Takes::Value, "NAME=VALUE", 0, SetConfig, CheckSetConfig, "the same"},
    {"set-config-index", 0, Kind::Action, Takes::Value, "NAME=I", 0, SetConfigIndex, CheckSetConfigIndex,
     "change one setting to its choice I, as --get-config numbers them"},
    {"list-all-config", 0, Kind::Action, Takes::Nothing, nullptr, 0, ListAllConfig, nullptr,
     "show every setting as --get-config does, each after its path"},
};

const char kUsageTail[] =
    "\n"
    "File-name patterns (--filename):\n"
    "  %n  the picture's number, from 1 or --filenumber (%04n: four digits, zero-filled);\n"
    "      for files on the camera, the number --list-files shows (gphoto2 counts the\n"
    "      files saved in the run instead: fotex's number stays the file's, so that\n"
    "      --skip-existing finds it again)\n"
    "  %f  the camera's file name without extension (files on the camera), made safe:\n"
    "      characters Windows refuses become _, and a device name (CON, NUL.txt, ...) or a\n"
    "      name ending in a dot or blank gets a _; a path outside --folder is refused\n"
    "  %:  the camera's file name with its extension, made safe alike\n"
    "  %F  the camera folder (DCIM\\100CANON for /DCIM/100CANON), each part made safe:\n"
    "      --filename '%F/%f.%C' keeps folders that share names apart\n"
    "  %C  the extension; when there is none, a dot just before %C goes too\n"
    "  the file's time (captures: now), as gphoto2 names its fields:\n"
    "  %Y %y  year (2026, 26)      %m %b %B  month (12, Dec, December)\n"
    "  %d %j  day (09), of the year (343)      %a %A  weekday (Wed, Wednesday)\n"
    "  %H %k  hour 00-23 (%k: blank-padded)   %I %l %p  hour 01-12, AM or PM\n"
    "  %M %S  minute, second      %s  seconds since 1970\n"
    "  %%  a percent sign\n"
    "\n"
    "Values of settings: whole numbers are decimal, with an optional sign; blanks around them\n"
    "are ignored and leading zeros change nothing (010 is ten); 0x... and other forms are\n"
    "refused. Text is sent as given, in the system code page, at most 127 characters.\n"
    "\n"
    "Output: results on standard output; errors, notes and the library's own trace lines on\n"
    "standard error. Text is UTF-8. A file is never replaced without --force-overwrite,\n"
    "and a file this run saved never by another one.\n"
    "\n"
    "Exit status: 0 everything asked was done; 1 something failed (each failure is named on\n"
    "standard error); 2 the command line is wrong (nothing was done).\n";

std::string Usage() {
    std::string text = "Usage: fotex [OPTION...]\n";
    for (const Option& o : kOptions) {
        if (!o.help) continue;
        if (o.section) text += std::string("\n") + o.section + "\n";
        std::string left = "  ";
        left += o.shortName ? std::string("-") + o.shortName + ", " : std::string("    ");
        left += std::string("--") + o.name;
        if (o.value) left += o.takes == Takes::Optional ? std::string("[=") + o.value + "]" : std::string("=") + o.value;
        const size_t column = 34;
        left += left.size() < column ? std::string(column - left.size(), ' ') : std::string("\n") + std::string(column, ' ');
        std::string help = o.help;
        for (size_t p; (p = help.find('\n')) != std::string::npos;) {
            text += left + help.substr(0, p) + "\n";
            left = std::string(column, ' ');
            help = help.substr(p + 1);
        }
        text += left + help + "\n";
    }
    text += "\nFormats: " + FormatNames() + ", or a code of fotex.h\n";
    return text + kUsageTail;
}

const Option* FindLong(const std::string& name) {
    for (const Option& o : kOptions)
        if (name == o.name) return &o;
    return nullptr;
}

const Option* FindShort(char c) {
    for (const Option& o : kOptions)
        if (o.shortName == c) return &o;
    return nullptr;
}

// Keeps %n within an int for any file number.
constexpr int kMaxFileNumber = 1000000000;

std::string Spelling(const Option& o) { return std::string("--") + o.name; }

// A shaping option as given: where it stands among the actions, and what it sets.
struct Given {
    size_t before;  // the number of actions before it
    const Option* option;
    std::string value;
    bool used = false;
};

// Sets the field of `shape` that `given` sets; "" or a usage error.
std::string Apply(const Given& given, Shape& shape) {
    const std::string name = given.option->name;
    if (name == "filename") {
        if (given.value.empty()) return "--filename needs a name";
        shape.filename = given.value;
    } else if (name == "format") {
        if (!ParseFormat(given.value, shape.format))
            return "unknown format '" + given.value + "' (formats: " + FormatNames() + ", or a code of fotex.h)";
    } else if (name == "prefix") {
        shape.prefix = given.value;
    } else if (name == "force-overwrite") {
        shape.existing = Existing::Replace;
    } else if (name == "skip-existing") {
        shape.existing = Existing::Skip;
    } else if (name == "keep" || name == "no-keep") {
        shape.keep = name == "keep";
    }
    return "";
}

// Gives each action the shaping options in force at its place; reports one that shapes nothing.
int Resolve(std::vector<Given>& given, Options& options) {
    std::vector<Action>& actions = options.actions;
    auto shapes = [&](size_t a, unsigned field) { return (FindLong(actions[a].verb)->fields & field) != 0; };
    // Which option each action takes, field by field, in command-line order.
    std::vector<std::vector<const Given*>> chosen(actions.size(), std::vector<const Given*>(kExisting + 1, nullptr));
    for (unsigned field = 1; field <= kExisting; field <<= 1) {
        Given* current = nullptr;  // in force for the actions that follow
        for (size_t a = 0; a <= actions.size(); ++a) {
            for (Given& g : given) {
                if (g.option->fields != field || g.before != a) continue;
                // After actions without one of their own: theirs (gphoto2's order).
                bool bound = false;
                for (size_t k = a; k-- > 0 && !chosen[k][field];)
                    if (shapes(k, field)) chosen[k][field] = &g, bound = g.used = true;
                if (bound) continue;
                if (current) current->used = true;  // overridden before any action took it
                current = &g;
            }
            if (a < actions.size() && shapes(a, field) && current) {
                chosen[a][field] = current;
                current->used = true;
            }
        }
    }
    for (size_t a = 0; a < actions.size(); ++a) {
        const Option* verb = FindLong(actions[a].verb);
        for (unsigned field = 1; field <= kExisting; field <<= 1) {
            if (!chosen[a][field]) continue;
            actions[a].shape.given |= field;
            const std::string error = Apply(*chosen[a][field], actions[a].shape);
            if (!error.empty()) return UsageError(error);
        }
        if (verb->check) {
            const std::string error = verb->check(actions[a]);
            if (!error.empty()) return UsageError(error);
        }
    }
    for (const Given& g : given) {
        if (g.used) continue;
        std::string users;
        for (const Option& o : kOptions)
            if (o.kind == Kind::Action && (o.fields & g.option->fields)) users += (users.empty() ? "" : ", ") + Spelling(o);
        return UsageError(Spelling(*g.option) + (g.value.empty() ? "" : " " + g.value) +
                          " shapes none of the actions given (it is for " + users + ")");
    }
    return -1;
}

// "%41" is "A"; false for a % not followed by two hexadecimal digits.
bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const std::string hex = text.substr(i + 1, 2);
        if (hex.size() != 2 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
        out += static_cast<char>(std::strtol(hex.c_str(), nullptr, 16));
        i += 2;
    }
    return true;
}

bool ParseVirtualItem(const std::string& text, Options::VirtualItem& item) {
    const size_t colon = text.find(':');
    item.hasExtension = colon != std::string::npos;
    return Unescape(text.substr(0, colon), item.name) &&
           (!item.hasExtension || Unescape(text.substr(colon + 1), item.extension));
}

}  // namespace

int ParseCommandLine(const std::vector<std::string>& args, Options& options) {
    if (args.empty()) {
        std::fputs(Usage().c_str(), stdout);
        return kDone;
    }
    std::vector<Given> given;
    bool deviceGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // The options in this argument, each with its value if it has one inline.
        std::vector<std::pair<const Option*, std::string>> found;
        std::vector<bool> inlineValue;
        if (arg.compare(0, 2, "--") == 0 && arg.size() > 2) {
            const size_t eq = arg.find('=');
            const Option* o = FindLong(arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
            if (!o) return UsageError("unknown option " + arg.substr(0, eq) + " (see --help)");
            if (eq != std::string::npos && o->takes == Takes::Nothing) return UsageError(Spelling(*o) + " takes no value");
            found.push_back({o, eq == std::string::npos ? "" : arg.substr(eq + 1)});
            inlineValue.push_back(eq != std::string::npos);
        } else if (arg.size() > 1 && arg[0] == '-') {
            for (size_t c = 1; c < arg.size(); ++c) {
                const Option* o = FindShort(arg[c]);
                if (!o) return UsageError(std::string("unknown option -") + arg[c] + " (see --help)");
                const bool rest = o->takes != Takes::Nothing && c + 1 < arg.size();
                found.push_back({o, rest ? arg.substr(c + 1) : ""});
                inlineValue.push_back(rest);
                if (rest) break;
            }
        } else {
            return UsageError("unexpected argument '" + arg + "' (options start with -- ; see --help)");
        }
        for (size_t k = 0; k < found.size(); ++k) {
            const Option& o = *found[k].first;
            std::string value = found[k].second;
            if (o.takes == Takes::Value && !inlineValue[k]) {
                if (i + 1 >= args.size()) return UsageError(Spelling(o) + " needs " + o.value);
                value = args[++i];
            }
            switch (o.kind) {
                case Kind::Help: std::fputs(Usage().c_str(), stdout); return kDone;
                case Kind::Virtual: options.virtualCamera = true; break;
                case Kind::VirtualShutter:
                    if (!ParseDecimal(value, options.virtualShutter) || options.virtualShutter < 0)
                        return UsageError("--virtual-shutter takes a number of presses, not '" + value + "'");
                    break;
                case Kind::VirtualFolder:
                    if (value.empty()) return UsageError("--virtual-folder needs a folder");
                    options.virtualFolder = value;
                    break;
                case Kind::VirtualItem: {
                    Options::VirtualItem item;
                    if (!ParseVirtualItem(value, item))
                        return UsageError("--virtual-item takes NAME or NAME:EXT with %XX for any byte, not '" + value + "'");
                    options.virtualItems.push_back(item);
                    break;
                }
                case Kind::VirtualInterrupt:
                    if (!ParseDecimal(value, options.virtualInterrupt) || options.virtualInterrupt < 1)
                        return UsageError("--virtual-interrupt takes a number of files, not '" + value + "'");
                    break;
                case Kind::VirtualFlood:
                    if (!ParseDecimal(value, options.virtualFlood) || options.virtualFlood < 1)
                        return UsageError("--virtual-flood takes a number of presses, not '" + value + "'");
                    break;
                case Kind::VirtualFault: {
                    int nth = 0;
                    if (!ParseDecimal(value, nth) || nth < 1) return UsageError(Spelling(o) + " takes a number from 1, not '" + value + "'");
                    const std::string name = o.name;
                    (name == "virtual-cut-transfer" ? options.virtualCut
                                                    : name == "virtual-short-transfer" ? options.virtualShort : options.virtualFailDelete) = nth;
                    break;
                }
                case Kind::CameraFolder:
                    if (value.empty() || (value[0] != '/' && value[0] != '\\'))
                        return UsageError("--folder takes a camera folder from /, as --list-folders shows it (/DCIM/100TEST), "
                                          "not '" + value + "'; to save into a folder here, give it in --filename: "
                                          "--filename \"" + value + "\\%f.%C\"");
                    options.cameraFolder = CameraFolderName(value);
                    break;
                case Kind::VirtualCondition: {
                    const std::string name = o.name;
                    int amount = 1;
                    if (o.takes == Takes::Value && (!ParseDecimal(value, amount) || amount < 0))
                        return UsageError(Spelling(o) + " takes a number, not '" + value + "'");
                    const int condition = name == "virtual-busy-after-shot" ? FOTEXSIM_BUSY_AFTER_SHOT
                                          : name == "virtual-held"           ? FOTEXSIM_HELD
                                          : name == "virtual-asleep"         ? FOTEXSIM_ASLEEP
                                                                             : FOTEXSIM_UNPLUG_AFTER;
                    options.virtualConditions.push_back({condition, amount});
                    break;
                }
                case Kind::Debug:
                    options.debug = true;
                    if (o.takes == Takes::Value) {
                        if (value.empty()) return UsageError("--debug-logfile needs a file");
                        options.debugLogfile = value;
                    }
                    break;
                case Kind::Recurse: options.recurse = o.shortName == 'R'; break;
                case Kind::Quiet: options.quiet = true; break;
                case Kind::Parsable: options.parsable = true; break;
                case Kind::Device:
                    deviceGiven = true;
                    if (!ParseDecimal(value, options.device) || options.device < 0)
                        return UsageError("--device takes a device index as --auto-detect lists them (0, 1, ...), not '" + value + "'");
                    break;
                case Kind::Camera:
                    if (Trim(value).empty()) return UsageError("--camera needs a name");
                    options.camera = Trim(value);
                    break;
                case Kind::New: options.onlyNew = true; break;
                case Kind::Interval:
                    if (!ParseDecimal(value, options.interval) || options.interval < 0 || options.interval > 86400)
                        return UsageError("--interval takes seconds from 0 to 86400, not '" + value + "'");
                    options.intervalGiven = true;
                    break;
                case Kind::Frames:
                    if (!ParseDecimal(value, options.frames) || options.frames < 1)
                        return UsageError("--frames takes a number of pictures from 1, not '" + value + "'");
                    break;
                case Kind::Stdout: options.toStdout = true; break;
                case Kind::VirtualRate:
                    if (!ParseDecimal(value, options.virtualRate) || options.virtualRate < 1)
                        return UsageError("--virtual-rate takes bytes a second from 1, not '" + value + "'");
                    break;
                case Kind::VirtualEvents: {
                    static const char* const kModes[] = {"all", "none", "lost", "twice", "late", "deleted-first"};
                    const size_t colon = value.find(':');
                    const std::string mode = value.substr(0, colon);
                    int m = 0;
                    while (m < 6 && mode != kModes[m]) ++m;
                    const bool valued = m == 2 || m == 4;
                    int n = 0;
                    if (m == 6 || valued != (colon != std::string::npos) ||
                        (valued && (!ParseDecimal(value.substr(colon + 1), n) || n < (m == 2 ? 1 : 0) || n > (m == 2 ? 100 : 600000))))
                        return UsageError("--virtual-events takes all, none, lost:PERCENT (1 to 100), twice, late:MS (0 to 600000) or "
                                          "deleted-first, not '" + value + "'");
                    options.virtualEvents = m;
                    options.virtualEventsValue = n;
                    break;
                }
                case Kind::VirtualShutterEvery:
                    if (!ParseDecimal(value, options.virtualShutterEvery) || options.virtualShutterEvery < 1)
                        return UsageError("--virtual-shutter-every takes milliseconds from 1, not '" + value + "'");
                    break;
                case Kind::Poll:
                    if (!ParseDecimal(value, options.poll) || options.poll < 0 || options.poll > 86400)
                        return UsageError("--poll takes seconds from 0 to 86400, not '" + value + "'");
                    break;
                case Kind::FileNumber:
                    if (!ParseDecimal(value, options.fileNumber) || options.fileNumber < 0 || options.fileNumber > kMaxFileNumber)
                        return UsageError("--filenumber takes a number from 0 to " + std::to_string(kMaxFileNumber) + ", not '" + value + "'");
                    break;
                case Kind::Hook:
                    if (value.empty()) return UsageError("--hook-script needs a file");
                    options.hook = value;
                    break;
                case Kind::Shaping:
                    // --skip-existing and --force-overwrite for the same actions contradict each other.
                    for (const Given& g : given)
                        if (g.before == options.actions.size() && g.option->fields == kExisting && o.fields == kExisting &&
                            g.option != &o)
                            return UsageError(Spelling(*g.option) + " and " + Spelling(o) + " contradict each other: give one");
                    given.push_back({options.actions.size(), &o, value});
                    break;
                case Kind::Action: options.actions.push_back({o.name, value, Shape{}}); break;
            }
        }
    }
    if (options.actions.empty()) return UsageError("nothing to do: give an action such as --auto-detect (see --help)");
    if (!options.virtualItems.empty() && !options.virtualCamera) return UsageError("--virtual-item needs --virtual");
    if (deviceGiven && !options.camera.empty()) return UsageError("--device and --camera both choose the device: give one");
    if (options.frames && !options.intervalGiven) return UsageError("--frames goes with --interval");
    if (options.virtualCut && options.virtualShort)
        return UsageError("--virtual-cut-transfer and --virtual-short-transfer: the virtual camera takes one fault of a transfer");
    // Standard output then holds one file's bytes: nothing else may go there, and nothing is saved.
    if (options.toStdout && (options.actions.size() != 1 || options.actions[0].verb != "get-file"))
        return UsageError("--stdout goes with one --get-file N and no other action");
    // FotexSim.dll lists its folder cameras after its two default ones.
    constexpr int kFirstFolderCamera = 2;
    if (!deviceGiven && !options.virtualCamera && !options.virtualFolder.empty()) options.device = kFirstFolderCamera;
    return Resolve(given, options);
}

int RunAction(Session& session, const Action& action) {
    const Option* o = FindLong(action.verb);
    if (!o || !o->run) return Fail("unknown action " + action.verb);
    const Options& options = session.options();
    if (!options.intervalGiven || (action.verb != "capture-image" && action.verb != "capture-image-and-download"))
        return o->run(session, action);
    // A time-lapse: a picture every --interval seconds, each due from the start of the one before.
    for (int frame = 1;; ++frame) {
        const DWORD start = GetTickCount();
        const int status = o->run(session, action);
        if (status != kDone || frame == options.frames) return status;
        while (!Interrupted() && GetTickCount() - start < static_cast<DWORD>(options.interval) * 1000) Sleep(20);
        if (Interrupted())
            return options.frames ? Fail("interrupted: " + std::to_string(options.frames - frame) + " of " +
                                         std::to_string(options.frames) + " pictures not taken")
                                  : kDone;
    }
}

}  // namespace fotexcli
