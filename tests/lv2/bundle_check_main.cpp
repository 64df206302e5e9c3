// Runs the checks of bundle_checks.h on every plug-in of one bundle:
//   lv2_bundle_check BUNDLE.lv2
// Exit code 0 when all pass, 1 with the failures on stderr, 2 for a wrong call.
#include <iostream>

#include "bundle_checks.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: lv2_bundle_check BUNDLE.lv2\n";
    return 2;
  }
  lv2test::World world(argv[1]);
  const LilvPlugins* plugins = lilv_world_get_all_plugins(world.lilv());
  int checked = 0;
  int failed = 0;
  LILV_FOREACH(plugins, it, plugins) {
    const std::string uri = lilv_node_as_uri(lilv_plugin_get_uri(lilv_plugins_get(plugins, it)));
    for (const std::string& failure : lv2test::checkBundlePlugin(world, uri)) {
      std::cerr << "lv2_bundle_check: " << failure << '\n';
      ++failed;
    }
    ++checked;
  }
  if (checked == 0) {
    std::cerr << "lv2_bundle_check: no plug-in in " << argv[1] << '\n';
    return 1;
  }
  std::cout << checked << " plug-in(s) checked, " << failed << " failure(s)\n";
  return failed == 0 ? 0 : 1;
}
