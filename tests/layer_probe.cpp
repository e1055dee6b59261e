// Compiled against one layer's library with the header of a layer it must not see: the build
// of this file has to fail at that include.
#include PROBE_HEADER
