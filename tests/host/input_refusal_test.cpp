// Refusals of bad input files: scene text, meshes and the files behind them.
#include <gtest/gtest.h>
