#include "viewer/document.h"
#include "interchange/gltf.h"
#include "../viewer/document.h"
