// Memory areas: zeroed byte buffers of the program (Windows structures, file
// contents), with their sizes recorded by address.
#pragma once
#include <cstdint>

namespace rt {

// Resizes an area (nullptr: a new one) to n zero bytes, keeping the old
// contents up to the smaller size; returns the new address. n <= 0 releases
// the area and returns nullptr. When the memory cannot be had, error 240 is
// raised and the old area is returned unchanged.
void* memResize(void* area, std::int32_t n);
// Recorded size of an area; -1 for an address that is not an area.
std::int32_t memSize(const void* area);

} // namespace rt
