// The shell's headers for the wizard. shlobj.h declares the shell's scripting interface Folder, which
// collides with the page of that name in SetupState.h, so it is renamed on the way in; the rename makes
// the compiler take its COM declarations for ours and warn about their destructors.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#define Folder ShellFolderInterface
#include <shlobj.h>
#undef Folder
#pragma GCC diagnostic pop
