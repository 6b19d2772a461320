// morv3d-import: the child process in which morv3d and morv3dViewer import a model, so that a
// reader that crashes, hangs or claims all memory ends this process only. Started by them with
// a request in its arguments; not a command of its own.
#include "interchange/importhelper.h"

int main(int argc, char** argv) {
    return ImportHelperMain(argc, argv);
}
