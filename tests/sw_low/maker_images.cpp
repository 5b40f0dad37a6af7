// The shipped images as a maker's images would come: the same frames without the
// stand-in mark. Linked into a test, these take the place of the library's own,
// so that the update itself can be driven against the simulated board.
#define fpgaConfigStandIn fpgaConfigStandInLeftOut
#include "vkxo2_1200dat.cpp"
#include "vkxo2_640dat.cpp"
