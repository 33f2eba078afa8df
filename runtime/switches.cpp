// The named switches: start values, set by name with the old value returned,
// the error level, and the program's own switch procedures.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <windows.h>
#include "runtime/errors.h"
#include "runtime/params.h"
#include "runtime/process.h"

namespace rt {

void appendLogHeader(const std::string& file);  // errors.cpp

namespace {

// Integer switches are read from both threads (the window procedures read
// "truecolor", "messagemode", "autopaint"), hence atomics.
enum IntSwitch {
    SwMessageMode, SwPdc, SwTrueColor, SwAutoPaint, SwDebugMode, SwOnError, SwDecimals,
    SwNumWidth, SwStrWidth, SwFileMode, SwRegex, SwCharset, IntSwitchCount
};
std::atomic<int> g_int[IntSwitchCount] = {1, 0, 0, 2, 0, 0, 6, 0, 0, 2, 0, 0};
std::atomic<int> g_errorLevel{1};

std::mutex g_mutex;  // the string switches, the stored settings, the procedures
std::string g_logFile;
std::string g_listDelimiter = "|";
std::map<std::string, Value> g_stored;  // settings of facilities not built here
std::map<std::string, std::function<void(const Value&)>> g_procs;

enum class Kind { ErrorLevel, FastMode, RandSeed, Int, LogFile, ListDel, Stored };
struct SwitchEntry {
    const char* name;
    Kind kind;
    int index;
};
// In the order the names are matched.
constexpr SwitchEntry kSwitches[] = {
    {"errorlevel", Kind::ErrorLevel, 0}, {"fastmode", Kind::FastMode, 0},
    {"messagemode", Kind::Int, SwMessageMode}, {"randseed", Kind::RandSeed, 0},
    {"pdc", Kind::Int, SwPdc}, {"truecolor", Kind::Int, SwTrueColor},
    {"autopaint", Kind::Int, SwAutoPaint}, {"debugmode", Kind::Int, SwDebugMode},
    {"onerror", Kind::Int, SwOnError}, {"decimals", Kind::Int, SwDecimals},
    {"numwidth", Kind::Int, SwNumWidth}, {"strwidth", Kind::Int, SwStrWidth},
    {"filemode", Kind::Int, SwFileMode}, {"logfile", Kind::LogFile, 0},
    {"listdel", Kind::ListDel, 0}, {"regex", Kind::Int, SwRegex},
    {"charset", Kind::Int, SwCharset}, {"sqlwidth", Kind::Stored, 0},
    {"sqlcolwidth", Kind::Stored, 0}, {"sqldbc", Kind::Stored, 0},
    {"dbmemowidth", Kind::Stored, 0}, {"sqldel", Kind::Stored, 0},
    {"sqlnull", Kind::Stored, 0}, {"sqlfile", Kind::Stored, 0},
    {"printres", Kind::Stored, 0}, {"ogldepth", Kind::Stored, 0},
};

std::string lowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

const SwitchEntry* findSwitch(const std::string& name)
{
    const std::string key = lowerAscii(name);
    for (const SwitchEntry& e : kSwitches)
        if (key == e.name) return &e;
    return nullptr;
}

Value emptyValue()
{
    return Value(std::string());
}

Value currentValue(const SwitchEntry& e)
{
    switch (e.kind) {
    case Kind::ErrorLevel: return Value(g_errorLevel.load());
    case Kind::FastMode: return Value(fastMode() ? 1 : 0);
    case Kind::RandSeed: return Value(0);
    case Kind::Int: return Value(g_int[e.index].load());
    case Kind::LogFile: {
        std::lock_guard lock(g_mutex);
        return Value(g_logFile);
    }
    case Kind::ListDel: {
        std::lock_guard lock(g_mutex);
        return Value(g_listDelimiter);
    }
    case Kind::Stored: {
        std::lock_guard lock(g_mutex);
        const auto it = g_stored.find(e.name);
        return it == g_stored.end() ? Value(0) : it->second;
    }
    }
    return emptyValue();
}

} // namespace

int errorLevel()
{
    return g_errorLevel.load();
}

void setErrorLevel(int level)
{
    if (level == -2 && !fastMode())
        setSwitch("fastmode", Value(1));
    else if (level == g_errorLevel.load() && fastMode())
        setSwitch("fastmode", Value(0));
    else
        g_errorLevel.store(level);
}

Value setSwitch(const std::string& name, const Value& value)
{
    const SwitchEntry* e = findSwitch(name);
    if (!e) {
        std::function<void(const Value&)> proc;
        {
            std::lock_guard lock(g_mutex);
            const auto it = g_procs.find(lowerAscii(name));
            if (it != g_procs.end()) proc = it->second;
        }
        if (!proc) {
            raiseError(262, name);
            return emptyValue();
        }
        ParamFrame frame({value});
        proc(value);
        return emptyValue();
    }
    Value old = currentValue(*e);
    switch (e->kind) {
    case Kind::ErrorLevel: setErrorLevel(value.i); break;
    case Kind::FastMode:
        if ((value.i != 0) != fastMode()) setFastMode(value.i != 0);
        break;
    case Kind::RandSeed: std::srand(static_cast<unsigned>(value.i)); break;
    case Kind::Int: g_int[e->index].store(value.i); break;
    case Kind::LogFile:
        {
            std::lock_guard lock(g_mutex);
            g_logFile = value.s;
        }
        appendLogHeader(value.s);
        break;
    case Kind::ListDel: {
        std::lock_guard lock(g_mutex);
        g_listDelimiter = value.s;
        break;
    }
    case Kind::Stored: {
        std::lock_guard lock(g_mutex);
        g_stored[e->name] = value;
        break;
    }
    }
    return old;
}

Value switchValue(const std::string& name)
{
    const SwitchEntry* e = findSwitch(name);
    return e ? currentValue(*e) : emptyValue();
}

void registerSwitchProc(const std::string& name, std::function<void(const Value&)> proc)
{
    std::lock_guard lock(g_mutex);
    g_procs[lowerAscii(name)] = std::move(proc);
}

bool trueColor() { return g_int[SwTrueColor].load() != 0; }
int messageMode() { return g_int[SwMessageMode].load(); }
int autoPaint() { return g_int[SwAutoPaint].load(); }
int decimals() { return g_int[SwDecimals].load(); }
int numWidth() { return g_int[SwNumWidth].load(); }
bool regexMode() { return g_int[SwRegex].load() != 0; }
bool onErrorSwitch() { return g_int[SwOnError].load() != 0; }

std::string listDelimiter()
{
    std::lock_guard lock(g_mutex);
    return g_listDelimiter;
}

std::string logFile()
{
    std::lock_guard lock(g_mutex);
    return g_logFile;
}

int fontCharset()
{
    switch (const int v = g_int[SwCharset].load()) {
    case 0: return ANSI_CHARSET;
    case 1: return OEM_CHARSET;
    case 2: return SYMBOL_CHARSET;
    case -1: return DEFAULT_CHARSET;
    default: return v;
    }
}

} // namespace rt
