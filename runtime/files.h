// The numbered file table (1 to 99) and file-system helpers. Every file
// operation first sets the I/O result to 0; numbers outside 1..99 raise
// error 210 and do nothing. Program-thread only.
#pragma once
#include <cstdint>
#include <string>

namespace rt {

// Stores the name in the slot (mode "*" for a non-empty name).
void fileAssign(int number, const std::string& name);
// Opens the assigned file as a text stream: I/O result 2 when it cannot be
// opened, 102 for a slot without a name.
void fileOpenRead(int number);
// The next line (at most 32767 characters) without its line end; "" and
// I/O result 104 when the slot is not open or the stream failed.
std::string fileReadLine(int number);
// True at the end of the stream, known as soon as the last line was read;
// true with I/O result 104 when the slot is not open or the stream failed.
bool fileEof(int number);
void fileClose(int number);
// Moves the assigned file (MoveFileA); the slot then names the new file. On
// failure the I/O result is the Windows error code.
void fileRename(int number, const std::string& newName);
// Deletes the assigned file; on failure the I/O result is the Windows error code.
void fileErase(int number);
int ioResult();

// Size of the named file, all 64 bits; -1 missing, -2 a directory, both
// with warning 209 and I/O result 103.
std::int64_t fileSize(const std::string& name);

} // namespace rt
