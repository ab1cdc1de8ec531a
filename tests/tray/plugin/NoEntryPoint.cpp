// A shared library that is no plug-in: it exports no entry point.
extern "C" __attribute__((visibility("default"))) int quilloTestNotAPlugIn() {
    return 1;
}
