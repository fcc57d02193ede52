// Included ahead of every source of the project (-include, see
// CMakeLists.txt). The library's headers declare its std::basic_string
// members as compiled once, in its own objects, and the linker takes such an
// object whole: every function in it has unwind data, and the unwind data is
// always kept. For std::wstring that is 20 KB of members PatchLauncher.exe
// never calls. With the setting below each source compiles the members it
// calls instead, and nothing else. -1 is the library's own value for this
// (the one _GLIBCXX_ASSERTIONS sets): no compiled-once declarations for
// basic_string, everything else as usual. Every source takes it, so that no
// program finds a string member only in an object it would not link else.
#pragma once

#include <bits/c++config.h>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
