// Loads like a module but offers none of the entry points the program looks for.
extern "C" __attribute__((visibility("default"))) int QuilletNotAModule() {
    return 0;
}
