// A shared library that is no module library: it lacks the two exports of the host interface,
// so that `rmhost check` and `rmhost info` can be shown one.
extern "C" __attribute__((visibility("default"))) int notAModule() {
  return 0;
}
