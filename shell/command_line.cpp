#include "shell/command_line.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace quelvane {

const char kUsage[] =
    "Usage: quelvane [-C DIR]... [--batch | -n] [-b] [--backup[=CONTROL]] [-S SUFFIX]\n"
    "                [--wait[=SECONDS]] [-v | -q]\n"
    "       quelvane --help | --version\n"
    "\n"
    "Patches verdata.mul with the records of patchdata.mul, both in the current\n"
    "directory: entries of either file with a FileId above 33 are left out, the\n"
    "target's earlier duplicate keys are dropped, each patch entry replaces the\n"
    "target entry with its key or goes in at its sorted place, and the result\n"
    "replaces verdata.mul in one atomic step. patchdata.mul is only read. One run\n"
    "at a time works on a file.\n"
    "\n"
    "Keys in the patch: where the target holds a key that the patch holds twice,\n"
    "the first of them in patchdata.mul takes its place; two entries of a new key\n"
    "both go in, the later one first. A new key goes in among the entries of its\n"
    "FileId, in front of the first one (in file order) with a greater BlockId,\n"
    "else behind the last; with none of its FileId, in front of the first entry\n"
    "with a greater FileId, else at the end. So an unsorted target stays as it is\n"
    "and new keys go where those rules put them.\n"
    "\n"
    "verdata.mul.new, beside the target, is this program's own: the new content\n"
    "is written there. One left by an earlier run that was cut off is removed,\n"
    "and named on standard error when it is.\n"
    "\n"
    "A run whose result is verdata.mul already writes nothing and says so; -n\n"
    "then says \"patchdata.mul is already in verdata.mul\".\n"
    "\n"
    "-b, -S, --wait, -v and -q need --batch or -n; the window keeps no backup.\n"
    "\n"
    "Without --batch or -n it shows the window as text. At a terminal, Enter\n"
    "presses Go!, Escape or Ctrl-D closes, and each message waits for Enter;\n"
    "keys typed during a run are not shown and answer nothing. Otherwise each\n"
    "line of standard input is one press of Go!, and its end closes.\n"
    "\n"
    "  -C, --directory=DIR  work in DIR instead of the current directory; given\n"
    "                       again, each DIR is taken relative to the one before\n"
    "                       (as make -C and git -C do)\n"
    "      --batch          patch once, for scripts: no window, no keys read, no\n"
    "                       pause; one summary line of what was done on standard\n"
    "                       output\n"
    "  -n, --dry-run        load, prune, merge, lay out and check the limits as\n"
    "                       --batch does, and print what would be done (the\n"
    "                       counts even when the result would be refused);\n"
    "                       nothing is written, the target is only read, and\n"
    "                       what would stop the write is said on standard error\n"
    "  -b, --backup[=CONTROL]  keep the old verdata.mul beside it, named as GNU\n"
    "                       cp names backups: CONTROL (else $VERSION_CONTROL,\n"
    "                       else existing) is none or off; simple or never\n"
    "                       (verdata.mul.orig, replaced); numbered or t\n"
    "                       (verdata.mul.~N~, never replaced); existing or nil\n"
    "                       (numbered if numbered ones are there, else simple).\n"
    "                       A second name of the old file, or a copy where the\n"
    "                       file system has none\n"
    "  -S, --suffix=SUFFIX  the simple backup's suffix (else\n"
    "                       $SIMPLE_BACKUP_SUFFIX, else .orig); asks for a\n"
    "                       backup\n"
    "      --wait[=SECONDS]  wait for another run on the same file to end, as\n"
    "                       long as it takes or up to SECONDS, instead of\n"
    "                       refusing at once\n"
    "  -v, --verbose, --list  before the summary, one line per change, fields\n"
    "                       parted by tabs: left-out, dropped-duplicate,\n"
    "                       replaced, added or superseded; the file; FileId;\n"
    "                       BlockId; the length before and after (- for none);\n"
    "                       written out whole before the new file is\n"
    "  -q, --quiet          no summary, no progress line: only errors, and the\n"
    "                       removal of a stale verdata.mul.new, are said\n"
    "  -h, --help           this text\n"
    "      --version        the version\n"
    "\n"
    "Once a run has lasted a second and standard error is a terminal, a line\n"
    "there shows how far the write, then the flush to disk, has come.\n"
    "\n"
    "Exit status:\n"
    "  0    the window closed (messages such as \"Error opening Verdata.mul\"\n"
    "       included); --batch or -n: done. A signal that comes once verdata.mul\n"
    "       has been replaced ends the run at once, as done\n"
    "  1    refused, verdata.mul as it was: a file that cannot be opened or is\n"
    "       not a regular file, another run working on the same file, damaged\n"
    "       input, a result over the format's limits, a write that cannot be\n"
    "       made or put in place, a list that cannot be written, a dry run that\n"
    "       finds the target could not be written; DIR cannot be entered;\n"
    "       output cannot be written by a run that patched nothing\n"
    "  2    wrong usage\n"
    "  3    verdata.mul holds the result, but a step after the rename failed:\n"
    "       flushing its directory to disk (a power cut might yet undo it), or\n"
    "       writing the summary or \"Done.\" (a full disk, a reader gone)\n"
    "  128+N  ended by signal N before the replace (any that can be caught):\n"
    "       verdata.mul as it was, no temporary file left\n"
    "  else the number of the runtime error that ended the run: 100 a file\n"
    "       shorter than its index or blocks claim, 101 a short write, 203 out\n"
    "       of memory, 217 anything else, or the system's own error code (28\n"
    "       a full disk, 27 past the file size limit, 22 a negative offset);\n"
    "       verdata.mul is then as it was\n"
    "\n"
    "See quelvane(1).\n";

namespace {

constexpr char kDefaultBackupSuffix[] = ".orig";

// What is wrong with a backup suffix, or empty: the backup goes beside the target, under a name
// that is neither the target's nor one of the program's own (every name ending in ".new" is
// one: the temporary file, and a backup's while it is made).
std::string SuffixProblem(const std::string& suffix, const char* from) {
    const std::string given = std::string(" (") + from + ")";
    if (suffix.empty())
        return "the backup suffix cannot be empty" + given;
    if (suffix.find('/') != std::string::npos)
        return "the backup suffix " + Quoted(suffix) +
               " cannot contain '/': the backup goes beside verdata.mul" + given;
    if (suffix.ends_with(".new") || suffix.ends_with(".new~"))
        return "the backup suffix " + Quoted(suffix) +
               " cannot end in '.new': such names are this program's temporary files" + given;
    return "";
}

// A control word, or the usage message for one that is none; `from` names where it came from.
std::string ControlProblem(const char* word, const char* from, BackupControl* control) {
    if (const auto named = BackupControlNamed(word); named.has_value()) {
        *control = *named;
        return "";
    }
    const bool suffixLike = std::string_view("._-~+").find(word[0]) != std::string_view::npos;
    return "invalid argument " + Quoted(word) + " for " + Quoted(from) +
           (suffixLike ? std::string(" (did you mean --suffix=") + word + "?)" : "") +
           "\nValid arguments are: " + std::string(kBackupControlWords);
}

constexpr double kLongestWaitSeconds = 1e9;

// "--wait=SECONDS": decimal digits with an optional fraction ("5", "0.5", ".5"), nothing
// around them, in milliseconds; -2 when it is none of these, -3 when it is above the limit.
std::int64_t WaitFor(const char* text) {
    if (text == nullptr)
        return -1;
    const std::string_view given(text);
    const std::size_t point = given.find('.');
    const auto digits = [](std::string_view part) {
        return part.find_first_not_of("0123456789") == std::string_view::npos;
    };
    const std::string_view whole = given.substr(0, point),
                           fraction =
                               point == std::string_view::npos ? "" : given.substr(point + 1);
    if (!digits(whole) || !digits(fraction) || (whole.empty() && fraction.empty()))
        return -2;
    const double seconds = std::strtod(text, nullptr);
    if (seconds > kLongestWaitSeconds)
        return -3;
    return static_cast<std::int64_t>(std::ceil(seconds * 1000));
}

}  // namespace

int ParseArguments(int argc, char** argv, Arguments& arguments) {
    enum { kBatch = 256, kVersion, kWait, kBackup };
    static const option kOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {"directory", required_argument, nullptr, 'C'},
        {"batch", no_argument, nullptr, kBatch},
        {"dry-run", no_argument, nullptr, 'n'},
        {"backup", optional_argument, nullptr, kBackup},
        {"suffix", required_argument, nullptr, 'S'},
        {"wait", optional_argument, nullptr, kWait},
        {"verbose", no_argument, nullptr, 'v'},
        {"list", no_argument, nullptr, 'v'},
        {"quiet", no_argument, nullptr, 'q'},
        {nullptr, 0, nullptr, 0},
    };
    bool waits = false, backs = false;
    const char* control = nullptr;  // --backup's word; none: VERSION_CONTROL's, else "existing"
    const char* suffix = nullptr;
    const auto wrong = [](const std::string& message) {
        if (!message.empty())
            std::fprintf(stderr, "quelvane: %s\n", message.c_str());
        std::fputs("Try 'quelvane --help' for more information.\n", stderr);
        return 2;
    };
    argv[0] = const_cast<char*>("quelvane");  // how getopt_long's messages name the program
    ::opterr = 1;
    for (int code; (code = ::getopt_long(argc, argv, "hC:nbS:vq", kOptions, nullptr)) != -1;) {
        switch (code) {
            case 'h':
                arguments.Help = true;
                break;
            case kVersion:
                arguments.Version = true;
                break;
            case 'C':
                arguments.Directories.push_back(::optarg);
                break;
            case kBatch:
                arguments.Batch = true;
                break;
            case 'n':
                arguments.DryRun = true;
                break;
            case 'b':
                backs = true;
                break;
            case kBackup:
                backs = true;
                control = ::optarg != nullptr ? ::optarg : control;
                break;
            case 'S':  // as with GNU cp: a suffix asks for a backup
                backs = true;
                suffix = ::optarg;
                break;
            case kWait:
                waits = true;
                arguments.WaitMilliseconds = WaitFor(::optarg);
                if (arguments.WaitMilliseconds == -2) {
                    return wrong("invalid time to wait " + Quoted(::optarg) +
                                 ": a number of seconds is expected");
                }
                if (arguments.WaitMilliseconds == -3) {
                    return wrong("invalid time to wait " + Quoted(::optarg) +
                                 ": at most 1000000000 seconds");
                }
                break;
            case 'v':
                arguments.Verbose = true;
                break;
            case 'q':
                arguments.Quiet = true;
                break;
            default:
                return wrong("");  // getopt_long has said what is wrong
        }
    }
    if (backs) {
        // As GNU tools read them: the word given, else $VERSION_CONTROL; the suffix given, else
        // $SIMPLE_BACKUP_SUFFIX, else ".orig".
        const char* const fromEnvironment = std::getenv("VERSION_CONTROL");
        const char* const word = control != nullptr           ? control
                                 : fromEnvironment != nullptr ? fromEnvironment
                                                              : "";
        if (const std::string problem =
                ControlProblem(word, control != nullptr ? "--backup" : "$VERSION_CONTROL",
                               &arguments.Backup.Control);
            !problem.empty()) {
            return wrong(problem);
        }
        const char* const simple = std::getenv("SIMPLE_BACKUP_SUFFIX");
        const bool fromSimple = suffix == nullptr && simple != nullptr && *simple != '\0';
        arguments.Backup.Suffix = suffix != nullptr ? suffix
                                  : fromSimple      ? simple
                                                    : kDefaultBackupSuffix;
        if (const std::string problem =
                SuffixProblem(arguments.Backup.Suffix, suffix != nullptr ? "--suffix"
                                                       : fromSimple      ? "$SIMPLE_BACKUP_SUFFIX"
                                                                         : "the default");
            !problem.empty()) {
            return wrong(problem);
        }
    }
    if (arguments.Batch && arguments.DryRun)
        return wrong("--batch and --dry-run cannot be used together");
    if (arguments.Verbose && arguments.Quiet)
        return wrong("--quiet and --verbose cannot be used together");
    // The window as text keeps no backup and waits for nobody, as the window does.
    const bool once = arguments.Batch || arguments.DryRun;
    for (const auto& [given, name] : {std::pair{backs, "--backup"},
                                      {waits, "--wait"},
                                      {arguments.Verbose, "--verbose"},
                                      {arguments.Quiet, "--quiet"}}) {
        if (given && !once)
            return wrong(std::string(name) + " needs --batch or --dry-run");
    }
    if (::optind < argc) {
        struct stat status {};
        const char* const extra = argv[::optind];
        const bool directory = ::stat(extra, &status) == 0 && S_ISDIR(status.st_mode);
        // "--wait 5": the option's value goes after "=", as with every optional value.
        const bool afterWait = waits && arguments.WaitMilliseconds == -1 && WaitFor(extra) >= 0 &&
                               std::string_view(argv[::optind - 1]).rfind("--w", 0) == 0;
        // "-b .bak": a suffix goes with -S.
        const std::string_view before = argv[::optind - 1];
        const bool afterBackup =
            backs && control == nullptr && (before == "-b" || before.rfind("--b", 0) == 0);
        const std::string hint =
            directory     ? " (to work in that directory: -C " + Quoted(extra) + ")"
            : afterWait   ? " (to wait that long: --wait=" + std::string(extra) + ")"
            : afterBackup ? " (a backup suffix goes with -S: -S " + Quoted(extra) + ")"
                          : "";
        return wrong("unexpected argument " + Quoted(extra) + hint);
    }
    return -1;
}

std::string Quoted(std::string_view text) {
    bool plain = true;
    for (const char c : text)
        plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
    std::string quoted = plain ? "'" : "$'";
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (plain) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        } else if (c == '\\' || c == '\'') {
            quoted += {'\\', c};
        } else if (code < 0x20 || code == 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", code);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

namespace {
int firstOutputError = 0;
}  // namespace

void PutOut(std::string_view text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && firstOutputError == 0)
        firstOutputError = errno != 0 ? errno : EIO;
}

int FlushOutput() {
    errno = 0;
    if (std::fflush(stdout) != 0 && firstOutputError == 0)
        firstOutputError = errno != 0 ? errno : EIO;
    if (std::ferror(stdout) != 0 && firstOutputError == 0)
        firstOutputError = EIO;
    return firstOutputError;
}

int FinishOutput(int status, bool patched) {
    if (const int error = FlushOutput(); error != 0) {
        std::fprintf(stderr, "quelvane: write error: %s%s\n", std::strerror(error),
                     patched ? " (verdata.mul holds the result all the same)" : "");
        return patched ? kExitReplacedUnconfirmed : 1;
    }
    return status;
}

}  // namespace quelvane
