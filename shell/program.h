// The program's names: its window caption (also the title of the installer's
// progress window), and the outside automation-server processes it clears
// away.
#pragma once
#include "platform/version.h"

inline constexpr char kProgramCaption[] = "Vantor " VANTOR_VERSION;
// Null-terminated, as KillProcessTrees takes them.
inline constexpr const char* kServerImageNames[] = {"ATMNSE~1.EXE", "AtmnServer.exe", "QPSTServer.exe", nullptr};
