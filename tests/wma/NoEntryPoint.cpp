// Stands in for a WmAudSDK.so that lacks the writer's entry point.
extern "C" __attribute__((visibility("default"))) int WMAudioVersion() {
    return 1;
}
