#include "cli.h"
#include "viewer/document.h"
#include "morv3dViewer/MainFrm.h"
