// The numbered file table (1 to 99) and file-system helpers. Every file
// operation first sets the I/O result to 0; numbers outside 1..99 raise
// error 210.
#pragma once
#include <cstdint>
#include <string>

namespace rt {

void fileAssign(int number, const std::string& name);
void fileOpenRead(int number);
std::string fileReadLine(int number);
bool fileEof(int number);
void fileClose(int number);
void fileRename(int number, const std::string& newName);
void fileErase(int number);
int ioResult();

// Size of the named file (low 32 bits); -1 missing, -2 a directory, both with
// warning 209 and I/O result 103.
std::int32_t fileSize(const std::string& name);

} // namespace rt
