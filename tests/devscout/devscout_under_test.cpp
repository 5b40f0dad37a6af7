// devscout itself, with its entry point renamed so that a test can call it in-process
// against the simulated board.
#define main devscoutMain
#include "../../devscout/devscout.cpp"
