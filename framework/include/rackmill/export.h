// How a module library marks its two exports. ELF builds hide everything else by visibility and a
// version script; the PE linker ignores visibility, and a dllexport mark ends its default of
// exporting every symbol, so only the marked functions land in the export table.
#pragma once

#ifdef _WIN32
#define RM_EXPORT extern "C" __declspec(dllexport)
#else
#define RM_EXPORT extern "C" __attribute__((visibility("default")))
#endif
