// SPDX-License-Identifier: Apache-2.0
// velmora-mesh-import: imports one mesh file and answers on its standard output. The renderer
// starts it for every mesh file, so that assimp's own crashes, hangs and runaway memory end
// this process, not the render.
#include "host/scene/mesh_import.h"

int main(int argc, char **argv) { return host::scene::meshImporterMain(argc, argv); }
