// The one translation unit that compiles tinygltf. Images are never decoded or encoded by it
// (see the definitions in CMakeLists.txt): the export hands it finished PNG and JPEG files.
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
