// The info window ("Über..."): a modeless window with the program's name,
// version, a picture, a read-only information text and two web links. It
// lives on the configuration window's event loop: opened from there, and
// handed every further event while it is open. Program thread only.
#pragma once
#include <cstdint>
#include "runtime/windows.h"

namespace app {

// Web pages of the project opened by the two link buttons.
extern const char* const kProjectPageUrl;
extern const char* const kDownloadPageUrl;

bool infoWindowOpen();
// Builds and shows the window; `boldFont` is the configuration window's bold
// font. Does nothing while the window is open.
void openInfoWindow(rt::Handle owner, std::int32_t boldFont);
// Reacts to the last event: closes on "OK" or on Escape while the info window
// has the focus, opens a link's page on a link click.
void handleInfoWindowEvent();
// True while the keyboard focus (current or recorded by the last wait) is in
// the info window or one of its controls.
bool infoWindowHasFocus();

} // namespace app
