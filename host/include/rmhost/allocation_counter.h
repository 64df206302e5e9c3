// Counts the heap allocations modules make on their audio path. Linking the object library
// rackmill_allocation_counter replaces the program's global operator new and delete; every
// allocation made while onModuleAudioPath() holds is counted, the plug-ins' included.
#pragma once

namespace rmhost {

// Allocations made on a module's audio path since the program started.
long audioPathAllocations();

}  // namespace rmhost
