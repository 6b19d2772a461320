#include "fileformats/morv3d/scene.h"
#include "render/renderer.h"
