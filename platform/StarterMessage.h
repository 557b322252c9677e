// What a program that ends at once (a registration switch that failed) has
// to tell the person who started it.
#pragma once

#include <string>

namespace platform {

// Writes `text` on the program's standard error. On Windows a program with
// windows has a standard error only where its starter redirected it; where
// it has none, the text goes to the console it was started from, or where
// there is none either (started from Explorer), into an error box with
// `caption`.
void TellStarter(const std::string& text, const std::string& caption);

}  // namespace platform
