// Compiled as a source of one layer would be, with one header of the layer
// above it: the build of that layer must not find the header, the build of
// the layer above must.
#include TOLVANE_PROBE_HEADER

int TolvaneLayerProbe() { return 0; }
