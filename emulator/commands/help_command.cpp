// tovihost help [COMMAND] and COMMAND --help: each command's own usage, with its
// options and the syntax of the values they take.
#include <cstdio>
#include <cstring>
#include <string>

#include "emulator/commands/commands.h"

namespace tovihost {
namespace {

const char kCommon[] =
    "  --driver PATH       the driver library (default: the one beside tovihost)\n"
    "  --devices FILE|none the simulated device set (default: DIR/devices/NAME.devices for\n"
    "                      DIR/NAME.ini, else DIR/NAME.devices, else none)\n";

const char kValues[] =
    "values: booleans true, false, on, off, 1, 0; reals as decimal (2.5, -1e3) or 0x hexadecimal\n"
    "        (0x5A); the channel's keyword decides which\n";

struct Help {
    const char* command;
    const char* usage;  // the first line, also printed after a usage error
    const char* text;
};

const Help kHelp[] = {
    {"check", "usage: tovihost check [--devices FILE|none] [--log-dir DIR] [--channels FILE.csv] [--strict] PARAMFILE\n",
     "Starts and stops the driver on PARAMFILE as a host does before taking it into service, and\n"
     "reports: the driver's answer (or where the fault it reports sits), the [tovi] settings as the\n"
     "driver takes them, the error log's path and whether it can be written, the device each module\n"
     "binds to, and the modules and channels. It warns, with file and line, of what the driver takes\n"
     "without a word: a section of no module, a section given twice, a [tovi] key the driver does\n"
     "not know, two modules on one device, a file saved as UTF-8, a display without an address.\n"
     "  --strict             warnings make the exit status 1 (for a check in a build pipeline)\n"
     "  --log-dir DIR        where an error log named without a directory goes (default: here)\n"
     "  --channels FILE.csv  write the channel map: channel, module, keyword, port, bit, direction,\n"
     "                       value type, parameter channels, owner\n"},
    {"run", "usage: tovihost run [OPTIONS] PARAMFILE\n",
     "The host's polling loop: every period a read batch of every input channel, then the writes due.\n"
     "  --period MS          polling period (500; 0: as fast as the driver answers)\n"
     "  --cycles N           end after N cycles (default: until Ctrl-C)\n"
     "  --write CH=VALUE     written in the first cycle; repeatable\n"
     "  --write CH=@SRC      SRC's value, written in every cycle whose read of input channel SRC\n"
     "                       was good (a failed read writes nothing)\n"
     "  --fault FAULT        a fault injected before the driver starts (repeatable), in the\n"
     "                       simulator's syntax: FUNCTION status=N [text=\"...\"] [module=NAME|device=N]\n"
     "                       [channel=N] [once|every=N|always]; channel= is the device's channel\n"
     "                       (analogue channel, port, counter, alarm or serial port), not the host's\n"
     "  --csv FILE           every value of every cycle:\n"
     "                       cycle,time_s,channel,module,function,direction,value,status\n"
     "  --trace[=MODULE,...] print the vendor calls as they happen, with the time since the start\n"
     "  --plain              plain lines even on a terminal\n"
     "  --record FILE        record every device call into FILE (the recorder's format)\n"
     "  --timeout MS         how long to wait for the completion callback (5000)\n"
     "  --log-dir DIR        where an error log named without a directory goes\n"
     "exit status 1 when a read or write failed that no --fault asked for\n"},
    {"write", "usage: tovihost write [--devices FILE|none] [--timeout MS] [--log-dir DIR] PARAMFILE CH=VALUE...\n",
     "One write batch end to end, then each channel's status and what its device now holds. A value\n"
     "the device cannot hold as given still goes as the driver sends it, with a warning.\n"
     "  CH=VALUE             real:VALUE or bool:VALUE forces a value type, to try the driver's check\n"
     "  --timeout MS         how long to wait for the completion callback (5000)\n"
     "  --log-dir DIR        where an error log named without a directory goes\n"},
    {"read", "usage: tovihost read [--devices FILE|none] [--fault FAULT] [--timeout MS] [--log-dir DIR] PARAMFILE CH...\n",
     "One read batch of the channels named: each channel's value, or its status and the error line.\n"
     "  --fault FAULT        a fault injected before the driver starts, as for run (repeatable)\n"
     "  --timeout MS         how long to wait for the completion callback (5000)\n"
     "  --log-dir DIR        where an error log named without a directory goes\n"},
    {"replay",
     "usage: tovihost replay [--cycles N] [--period MS] [--write CH=VALUE ...] [--csv FILE] [--timeout MS]\n"
     "                       [--log-dir DIR] [--record FILE] [--plain] [--set] RECORDING... PARAMFILE\n",
     "The host's polling loop with a recording as the device set: every call the driver makes is\n"
     "answered from the recording and compared with it, and the host's writes are derived from the\n"
     "recorded output calls; the run ends when the recording is used up (or after --cycles), and the\n"
     "verdict is the last line. The recording is read as the replay goes. Several files of one run\n"
     "(a rotated set: rec.txt.2 rec.txt.1 rec.txt, in any order) replay as one run; a file that\n"
     "continues a run replays alone from the recorded time it starts at.\n"
     "  --set                each RECORDING names a rotated set by its current file: FILE.N ... FILE.1 FILE\n"
     "  --period MS          polling period (0)\n"
     "  --write CH=VALUE     a host write, added to the derived ones or replacing them for its channel\n"
     "  --plain              no progress line on a terminal: the plain lines of run\n"
     "  --cycles N, --csv, --timeout, --log-dir, --record as for run (tovihost help run)\n"},
    {"inspect", "usage: tovihost inspect [--from TIME] [--to TIME] [--html FILE] [--plain] RECORDING... [PARAMFILE]\n",
     "What a recording holds, read as it goes: the span, calls and threads; per device the calls of\n"
     "each function, failures by status with the device manager's text, the first and last failure\n"
     "with their lines, call durations (median, 95th percentile, maximum); the longest gaps between\n"
     "calls. One RECORDING takes its rotated set along (FILE.N ... FILE.1, FILE); several are read\n"
     "as one run. With PARAMFILE the devices are named by the modules bound to them.\n"
     "  --from TIME, --to TIME  only calls from / up to TIME since the start (90, 90.5, 1:30, 0:01:30)\n"
     "  --html FILE          also a page of charts: per device calls, failures and durations over\n"
     "                       time, with PARAMFILE every channel's values; nothing fetched from anywhere\n"
     "  --plain              no progress line on a terminal\n"},
    {"scenario", "usage: tovihost scenario [--devices FILE|none] [--timeout MS] [--log-dir DIR] [--verbose] FILE...\n",
     "Runs scenario files: every expectation prints FILE:LINE: passed or FAILED, the last line counts\n"
     "them. A malformed file does not run (exit 2).\n"
     "  --verbose            print every statement as it runs\n"
     "statements (one a line, # starts a comment, paths relative to the file):\n"
     "  plant FILE | devices FILE|none | timeout DURATION | start | stop\n"
     "  set CH = SOURCE | set MODULE ai|inport|counter|freq|alarm N = SOURCE\n"
     "      SOURCE: a number, ramp(FROM,TO,PERIOD), sine(MEAN,AMPLITUDE,PERIOD[,PHASE]),\n"
     "      count(START,RATE[,MODULO]), square(LOW,HIGH,PERIOD[,DUTY])\n"
     "  advance DURATION | clock step DURATION | clock real     (500us, 10ms, 2s, 1min)\n"
     "  fault FUNCTION status=N [text=\"...\"] [module=NAME|device=N] [channel=N] [once|every=N|always]\n"
     "        [name=NAME]      (channel= is the device's channel, not the host's)\n"
     "  delay FUNCTION DURATION [module=NAME|device=N]\n"
     "  clear fault NAME | clear faults | clear delays | clear counts | clear trace\n"
     "  read CH... | write CH=VALUE... (real:1.5 or bool:1 forces a type)\n"
     "  request read CH... | request write CH=VALUE... | complete read | complete write\n"
     "  get CH [as real|bool]\n"
     "  expect SUBJECT = VALUE [+- TOLERANCE] | expect SUBJECT ~ \"TEXT\"\n"
     "subjects:\n"
     "  value CH | status CH | finalized read CH | finalized write CH | error-line\n"
     "  log [N|last|count] | message [N|last|count] | init | trace | calls FUNCTION [MODULE]\n"
     "  ao MODULE N [value|writes] | port MODULE P [value|mask|state|writes]\n"
     "  counter MODULE N started|gate|starts|resets|count|overflow\n"
     "  alarm MODULE N configured|low|high|enabled|latch|low-latched|high-latched|configs|enables|resets\n"
     "  display MODULE [value|shown|selection|frame|frames|rejected|checksum|accepted]\n"},
    {"help", "usage: tovihost help [COMMAND]\n",
     "The overview of every command, or COMMAND's own options and the syntax of its values;\n"
     "tovihost COMMAND --help is the same.\n"},
};

const Help* FindHelp(const std::string& command) {
    for (const Help& help : kHelp) {
        if (command == help.command) return &help;
    }
    return nullptr;
}

}  // namespace

const char* CommandUsage(const std::string& command) {
    const Help* help = FindHelp(command);
    return help == nullptr ? "" : help->usage;
}

bool PrintCommandHelp(const std::string& command, std::FILE* out) {
    const Help* help = FindHelp(command);
    if (help == nullptr) return false;
    std::fprintf(out, "%s%s", help->usage, help->text);
    if (command != "scenario" && command != "replay" && command != "help" && command != "inspect") {
        std::fprintf(out, "%s", kCommon);
    }
    if (command == "write" || command == "run") std::fprintf(out, "%s", kValues);
    return true;
}

int HelpCommand(const Options& options) {
    if (options.arguments.empty()) {
        PrintOverview(stdout);
        return 0;
    }
    if (options.arguments.size() > 1) {
        std::fprintf(stderr, "%s", CommandUsage("help"));
        return kExitUsage;
    }
    if (PrintCommandHelp(options.arguments[0], stdout)) return 0;
    std::fprintf(stderr, "tovihost help: no command %s (check, run, write, read, scenario, replay, inspect, help)\n",
                 options.arguments[0].c_str());
    return kExitUsage;
}

}  // namespace tovihost
