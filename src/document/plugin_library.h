#pragma once
// The program's loadable modules: parts that need large libraries (the video
// decoder, the PDF writer) live in modules of their own, opened on first use,
// so that a start of the programs maps only the libraries every run needs.
//
// A module NAME is the file vexel-NAME.so in the modules folder, which is
// found relative to the program or the library that holds this code (the
// build tree has the installed layout), so an installed copy moved to
// another root still finds its own modules. A module, once opened, stays
// loaded until the process ends.

#include <string>

namespace vexel {

// The address of `symbol` in module `module`, or null with the reason
// (naming the module's file) in `error`. Safe to call from any thread.
void* pluginSymbol(const char* module, const char* symbol, std::string& error);

// pluginSymbol as a pointer to a function of type F.
template <class F>
F* pluginFunction(const char* module, const char* symbol, std::string& error) {
    return reinterpret_cast<F*>(pluginSymbol(module, symbol, error));
}

}  // namespace vexel
