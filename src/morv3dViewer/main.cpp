#include "morv3dViewer.h"

int main(int argc, char** argv) {
    CMorv3dViewerApp app;
    return app.Run(argc, argv);
}
