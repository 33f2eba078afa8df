// Help texts of the configuration window: one box per "?" button.
#pragma once

namespace app {

constexpr int kHelpCount = 16;

// Text of help box k (1 to 16), CR LF line breaks, code page 1252; "" for
// any other k.
const char* helpText(int k);

} // namespace app
