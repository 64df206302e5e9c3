// What the instrument tells a test host about its latest run, as LV2 extension data under
// kInspectUri: the output alone cannot show how many voices were heard.
#pragma once

#include <cstdint>

namespace rmlv2 {

inline constexpr const char* kInspectUri = "https://rackmill.example/lv2/instrument#inspect";

struct InspectInterface {
  // Voices whose sound reached the output during the latest run; -1 for the CV plug-ins.
  int32_t (*voicesHeard)(void* handle);
};

}  // namespace rmlv2
