// The numbered file table and the file-size query.
#include "runtime/files.h"

#include <array>
#include <cstdio>
#include <windows.h>
#include "runtime/errors.h"
#include "runtime/handles.h"

namespace rt {

namespace {

constexpr int kMaxLine = 32767;

struct FileSlot {
    std::string name;
    OwnedStream stream;
    char mode = 0;  // '*' assigned, 'R' open for reading
};

std::array<FileSlot, 100> g_slots;
int g_ioResult = 0;

// The slot of a valid number; error 210 and nullptr otherwise.
FileSlot* slot(int number)
{
    g_ioResult = 0;
    if (number < 1 || number > 99) {
        raiseError(210);
        return nullptr;
    }
    return &g_slots[static_cast<std::size_t>(number)];
}

bool readable(const FileSlot& f)
{
    return f.stream && !std::ferror(f.stream.get());
}

// Peeks one character so that the end of the file is known before the
// program asks for another line.
void lookAhead(std::FILE* stream)
{
    const int c = std::getc(stream);
    if (c != EOF) std::ungetc(c, stream);
}

void closeStream(FileSlot& f)
{
    f.stream.close();  // read only: nothing can be lost in closing
    f.mode = f.name.empty() ? 0 : '*';
}

} // namespace

void fileAssign(int number, const std::string& name)
{
    FileSlot* f = slot(number);
    if (!f) return;
    closeStream(*f);
    f->name = name;
    f->mode = name.empty() ? 0 : '*';
}

void fileOpenRead(int number)
{
    FileSlot* f = slot(number);
    if (!f) return;
    closeStream(*f);
    if (f->name.empty()) {
        g_ioResult = 102;
        return;
    }
    f->stream = OwnedStream(std::fopen(f->name.c_str(), "rt"));
    if (!f->stream) {
        g_ioResult = 2;
        return;
    }
    lookAhead(f->stream.get());
    if (std::ferror(f->stream.get())) {
        closeStream(*f);
        g_ioResult = 2;
        return;
    }
    f->mode = 'R';
}

std::string fileReadLine(int number)
{
    FileSlot* f = slot(number);
    if (!f) return {};
    if (!readable(*f)) {
        g_ioResult = 104;
        return {};
    }
    std::string line;
    int c;
    while (line.size() < static_cast<std::size_t>(kMaxLine) && (c = std::getc(f->stream.get())) != EOF) {
        line += static_cast<char>(c);
        if (c == '\n') break;
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lookAhead(f->stream.get());
    return line;
}

bool fileEof(int number)
{
    FileSlot* f = slot(number);
    if (!f) return true;
    if (!readable(*f)) {
        g_ioResult = 104;
        return true;
    }
    return std::feof(f->stream.get()) != 0;
}

void fileClose(int number)
{
    if (FileSlot* f = slot(number)) closeStream(*f);
}

void fileRename(int number, const std::string& newName)
{
    FileSlot* f = slot(number);
    if (!f) return;
    if (!MoveFileA(f->name.c_str(), newName.c_str())) {
        g_ioResult = static_cast<int>(GetLastError());
        return;
    }
    f->name = newName;
}

void fileErase(int number)
{
    FileSlot* f = slot(number);
    if (!f) return;
    if (!DeleteFileA(f->name.c_str())) g_ioResult = static_cast<int>(GetLastError());
}

int ioResult()
{
    return g_ioResult;
}

std::int64_t fileSize(const std::string& name)
{
    g_ioResult = 0;
    WIN32_FIND_DATAA data;
    std::int64_t result;
    if (!OwnedFindHandle(FindFirstFileA(name.c_str(), &data))) {
        result = -1;
    } else {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return (std::int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        result = -2;
    }
    g_ioResult = 103;
    raiseWarning(209, name);
    return result;
}

} // namespace rt
