#include "fileformats/morv/container.h"
#include "engine/utils/picking.h"
#include "viewer/document.h"
