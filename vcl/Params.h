// The program's parameters: the words of its command line after its name.
#pragma once

#include <string>

namespace vcl {

// How many parameters the program was started with.
int ParamCount();
// Parameter `index`, counted from 1; 0 gives the program file's full path.
// An index out of range gives an empty text.
std::string ParamStr(int index);

}  // namespace vcl
