// The checks every plug-in of a bundle made by `rmhost lv2-bundle` must pass in a lilv host:
// instantiation at several rates, any run length (0 and 1 too), noise and hostile values on every
// input, finite output, no heap operation in run(), and after deactivate/activate the output of a
// fresh instance. Shared by the tests and the kit's CI check of a bundle made outside the tree.
#pragma once

#include <string>
#include <vector>

#include "lv2_host.h"

namespace lv2test {

// The failures found for plug-in `uri` of `world`; empty when it passes.
std::vector<std::string> checkBundlePlugin(World& world, const std::string& uri);

}  // namespace lv2test
