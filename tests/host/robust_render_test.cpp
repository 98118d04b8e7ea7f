// Renders that must finish or refuse cleanly: hostile rays, endless frame ranges, deep recursion, outputs.
#include <gtest/gtest.h>
