// The fotex command-line host: gphoto2-style options over Fotex.dll's exports.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fotex.h"

namespace fotexcli {

// Exit statuses: everything asked was done, something failed, the command line is wrong.
constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// What happens when a file to be written exists already.
enum class Existing { Refuse, Replace, Skip };

// The fields of a Shape, as bits: which options shape which action.
enum ShapeField : unsigned {
    kFilename = 1u << 0,
    kPrefix = 1u << 1,
    kFormat = 1u << 2,
    kKeep = 1u << 3,
    kExisting = 1u << 4,
};

// The options that shape one action, as in force at its place on the command line.
struct Shape {
    std::string filename;  // pattern; empty: the action's own default
    std::string folder = ".";  // where names are taken from: a pattern names any folder below it
    std::string prefix = "img";
    int format = FOTEX_FORMAT_JPEG;
    bool keep = true;
    Existing existing = Existing::Refuse;
    unsigned given = 0;  // the ShapeField bits set on the command line, the rest are defaults
};

// One thing asked for, in command-line order.
struct Action {
    std::string verb;      // the long option without dashes: "capture-image-and-download"
    std::string argument;  // its value, when it takes one
    Shape shape;
};

struct Options {
    bool virtualCamera = false;
    std::string virtualFolder;  // --virtual-folder: a camera of the pictures in this folder
    int virtualShutter = 0;     // --virtual-shutter: presses of the virtual camera's button while waiting
    // --virtual-item: names (UTF-8) of pictures the virtual camera's button takes, each with its
    // file name extension when one was given.
    struct VirtualItem {
        std::string name, extension;
        bool hasExtension = false;
    };
    std::vector<VirtualItem> virtualItems;
    int device = 0;
    // -f: the camera folder ("/DCIM/100TEST") whose files are listed, numbered and saved, with
    // its subfolders unless --no-recurse.
    std::string cameraFolder = "/";
    bool recurse = true;
    std::string camera;     // --camera: the device by its name or identifier
    bool onlyNew = false;   // --new: files the target folder's record does not list
    int interval = 0, frames = 0;  // -I, -F: captures repeated; 0 frames: until Ctrl-C
    bool intervalGiven = false;
    std::string hook;       // --hook-script
    bool toStdout = false;  // --stdout: the files' bytes on standard output, nothing else
    int virtualRate = 0;    // --virtual-rate: the virtual camera's bytes a second (0: at once)
    // --virtual-interrupt: Ctrl-C as if pressed during the transfer of this number (0: never).
    int virtualInterrupt = 0;
    // --virtual-flood: once fotex waits for events, the other virtual camera takes this many
    // pictures and this one one, all delivered at once: events are lost.
    int virtualFlood = 0;
    // --virtual-cut-transfer, --virtual-fail-delete: the virtual cameras' transfer or deletion
    // of this number fails (0: none).
    int virtualCut = 0, virtualFailDelete = 0;
    // --virtual-events: how the virtual camera sends its item events (FOTEXSIM_EVENTS_*) and the
    // mode's value (percent lost, milliseconds late).
    int virtualEvents = 0, virtualEventsValue = 0;
    // --virtual-shutter-every: the --virtual-shutter presses come this many milliseconds apart
    // (0: one between two waits).
    int virtualShutterEvery = 0;
    int poll = 2;  // --poll: seconds between two looks at the camera without an event (0: events only)
    int fileNumber = 1;     // --filenumber: what %n is for the first file
    // --virtual-short-transfer: the virtual cameras' transfer of this number writes half its data
    // and reports success, as a faulty service (0: none).
    int virtualShort = 0;
    // --virtual-busy-after-shot, --virtual-held, --virtual-asleep, --virtual-unplug-after: the
    // virtual camera's conditions (FotexSimSetCondition's numbers) with their values.
    struct VirtualCondition {
        int condition, value;
    };
    std::vector<VirtualCondition> virtualConditions;
    bool debug = false;         // --debug, --debug-logfile: the library's trace lines
    std::string debugLogfile;   // empty: standard error
    bool quiet = false;     // results only, no progress lines or notes
    bool parsable = false;  // tab-separated records; implies quiet
    std::vector<Action> actions;
};

// The library's trace. Fotex.dll prints on msvcrt's stdout, which this program shares: while
// the library is called, descriptor 1 points at a scratch file, and what it printed is passed on
// to stderr afterwards, so stdout holds results only.
class Trace {
public:
    Trace();
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;
    void Begin();
    // Points descriptor 1 back at stdout, copies the lines to stderr and returns them.
    std::string End();

private:
    int scratch_ = -1;
    int saved_ = -1;
};

// Text: the program works in UTF-8; Windows and the library's output are UTF-16; the library's
// input is ANSI (the system code page).
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// UTF-16LE bytes from the library (maybe unterminated) as UTF-8. `full` tells whether the text
// filled the buffer, so it may have been cut.
std::string FromUtf16(const void* bytes, size_t maxBytes = FOTEX_TEXT_BYTES, bool* full = nullptr);
// The text in the system code page; false when the code page cannot write all of it.
bool ToAnsi(const std::string& utf8, std::string& ansi);
// "0x80070005": an HRESULT or status as the library's trace writes it.
std::string Hex(long code);
// Characters (code points) in UTF-8 text, for column widths.
size_t Columns(const std::string& utf8);

// Output. Results go to stdout; progress lines (suppressed by --quiet) to stdout too; notes and
// errors to stderr.
void Print(const std::string& line);
// Lines on standard output and standard error end in LF alone, not msvcrt's CR LF; a console
// still gets CR LF.
void LinesEndInLineFeeds();
int Fail(const std::string& message);  // "fotex: message" on stderr; returns kFailed
int UsageError(const std::string& message);  // the same; returns kUsage
// The same for one item of several: returns false, and the action goes on with the next.
bool FailItem(const std::string& message);

// Ctrl-C (and Ctrl-Break): once caught, the process no longer ends on it; each long action
// stops at its next step, names what it did not do and fails. Interrupt() is the same press.
void CatchInterrupts();
void Interrupt();
bool Interrupted();

// An open device, and the context every action gets.
class Session {
public:
    Session(const Options& options, Trace& trace) : options_(options), trace_(trace) {}
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Lists the devices anew (count()); reports and returns false on failure.
    bool List();
    // Lists the devices and opens the chosen one; reports and returns false on failure.
    bool Open();
    FOTEX_DEVICE device() const { return device_; }
    int count() const { return count_; }
    int index() const { return index_ >= 0 ? index_ : options_.device; }
    const Options& options() const { return options_; }
    bool quiet() const { return options_.quiet || options_.parsable || options_.toStdout; }
    // A progress line on stdout, unless quiet.
    void Progress(const std::string& line) const;
    // A note on stderr, unless quiet.
    void Note(const std::string& line) const;

    // Calls into the library with its trace sent to stderr; traced() has what it printed.
    template <class F>
    auto Call(F call) -> decltype(call()) {
        trace_.Begin();
        struct End {
            Session& s;
            ~End() { s.traced_ = s.trace_.End(); }
        } end{*this};
        return call();
    }
    const std::string& traced() const { return traced_; }

    int captures = 0;  // pictures taken so far, for %n
    // Images and videos --get-all-files has numbered so far, for its names without a pattern.
    int imagesNumbered = 0, videosNumbered = 0;
    // The files this run has written (files.h's PathKey): none is replaced by another file of the
    // same name, whatever --force-overwrite says, so no picture of the run is lost to another.
    std::set<std::wstring> written;
    // A file of the camera is saved as `path`: remembered (Remember), and --hook-script told.
    void Saved(const std::string& path);
    // Runs --hook-script, if any, with ACTION and ARGUMENT in its environment, and waits for it;
    // false when it could not run or ended with a status other than 0 (noted).
    bool Hook(const char* action, const std::string& argument = "");
    // Transfers begun, for --virtual-interrupt; whether Ctrl-C cancelled one.
    int transfers = 0;
    bool cancelled = false;
    // Folders made for the save under way: removed again if it fails and they stay empty.
    std::vector<std::string> madeFolders;
    std::set<std::wstring> records;  // --new's records this run wrote to (PathKey)
    // The library's latest list: its length, and its items' file names in capitals with their
    // camera folders, read when first needed or before a save deletes one.
    int listed = 0;
    std::vector<std::pair<std::wstring, std::string>> cameraNames;
    std::function<void()> pressShutter;  // the virtual camera's own button, when there is one
    std::function<void()> flood;         // --virtual-flood's pictures
    // --virtual-shutter-every: presses the button for each press due by the clock; called while
    // fotex waits and while it saves.
    std::function<void()> pressDue;

private:
    int Find(const std::string& name);
    const Options& options_;
    Trace& trace_;
    std::string traced_;
    FOTEX_DEVICE device_ = 0;
    int count_ = -1;
    int index_ = -1;  // the device --camera names, once found
};

}  // namespace fotexcli
