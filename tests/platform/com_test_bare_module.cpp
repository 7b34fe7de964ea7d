// A shared library without any component entry point, for the failure paths
// of instance creation and regsvr.
extern "C" __attribute__((visibility("default"))) int BareModuleFunction() { return 42; }
